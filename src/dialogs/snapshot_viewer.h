// A modal viewer for one still picture of a camera: flip, mirror, rotate and
// save it in one of five image formats.
#pragma once

#include <wx/dialog.h>
#include <wx/image.h>

#include <string>

#include "base/process.h"

class wxStaticBitmap;

namespace qmr {

class AppContext;

class SnapshotViewer : public wxDialog {
 public:
  // The image is the picture top-down in RGB; captureTime is when the camera
  // took it (shown in the caption).
  SnapshotViewer(wxWindow* parent, AppContext& context, const wxImage& image,
                 const SystemTime& captureTime);

  // The picture operations behind the buttons.
  void Flip();
  void Mirror();
  void Rotate90();
  // Rotates by degrees about the top-left corner without interpolation.
  void RotateBy(int degrees);
  // Writes the picture as type typeIndex (0 JPEG, 1 BMP, 2 PCX, 3 PNG, 4 TIFF)
  // under chosenName with the type's extension. Returns the name written, or
  // an empty string when writing failed (the user was told).
  std::string SaveAs(const std::string& chosenName, int typeIndex);

  const wxImage& Image() const { return image_; }

  // The name a chosen file is written under: the part after the last dot of
  // the file name is replaced by the type's extension; a name without a dot
  // gets the extension appended.
  static std::string NameForType(const std::string& chosenName, int typeIndex);

  // Values shared by every viewer for the whole run.
  static int LastAngle();
  static std::string LastFolder();
  static int LastTypeIndex();

 private:
  void OnFlip(wxCommandEvent&);
  void OnMirror(wxCommandEvent&);
  void OnRotate90(wxCommandEvent&);
  void OnRotateAny(wxCommandEvent&);
  void OnSaveAs(wxCommandEvent&);
  void OnCancel(wxCommandEvent&);
  // Shows the new image and grows or shrinks the dialog by the change of
  // the shown picture's size (the picture never grows past the screen).
  void ShowImage(const wxImage& newImage);
  // The largest picture that fits on the viewer's screen, and the picture
  // as shown (scaled down to that when larger).
  wxSize MaxPictureSize();
  wxBitmap ShownBitmap(const wxImage& image);

  AppContext& context_;
  wxImage image_;
  wxStaticBitmap* picture_ = nullptr;
};

}  // namespace qmr
