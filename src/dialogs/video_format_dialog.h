// The capture format of one camera (picture size and frame rate) and the look
// of its time stamp. Changes are applied to the running camera at once; OK
// stores them in the camera's settings section, Cancel puts back the format
// and time stamp the camera had when the dialog opened.
#pragma once

#include <wx/colour.h>
#include <wx/dialog.h>

#include <vector>

#include "config/settings.h"
#include "recording/bitmap_info.h"

class wxButton;
class wxCheckBox;
class wxChoice;
class wxSpinCtrl;

namespace qmr {

class CameraFrame;

class VideoFormatDialog : public wxDialog {
 public:
  static constexpr int kIdDefault = 7118;
  static constexpr int kIdColour = 7119;

  explicit VideoFormatDialog(CameraFrame& camera);

  // One listed picture size with the frame rates the camera offers for it.
  struct SizeEntry {
    int width = 0;
    int height = 0;
    int maxRate = 0;
    int minRate = 0;
  };

  // The dialog's operations, also used by tests.
  void ChooseSize(int index);
  void ChangeFrameRate(int rate);
  void ShowTimeStamp(bool on);
  void ChooseColour(const wxColour& colour);
  void RestoreDefaultFormat();
  void Confirm();
  void CancelChanges();

  const std::vector<SizeEntry>& Sizes() const { return sizes_; }
  int SelectedSize() const;
  wxString SizeLabel(int index) const;
  int FrameRate() const;
  int FrameRateMin() const;
  int FrameRateMax() const;
  bool Changed() const { return changed_; }

 private:
  void Fill();
  void SelectMatching(int width, int height);
  // A size's frame rates become the spin field's range (a camera reporting
  // its limits the wrong way round gets an empty range, not a reversed one).
  void SetRateRange(const SizeEntry& entry);
  // Stops the device, sets the working format at rate and starts it again.
  bool ApplyFormat(int rate);
  void ShowColour(const wxColour& colour);
  void OnChoice(wxCommandEvent& event);
  void OnSpin(wxCommandEvent& event);
  void OnCheck(wxCommandEvent& event);
  void OnColour(wxCommandEvent& event);
  void OnDefault(wxCommandEvent& event);
  void OnOk(wxCommandEvent& event);
  void OnCancel(wxCommandEvent& event);

  CameraFrame& camera_;
  wxChoice* sizeChoice_ = nullptr;
  wxSpinCtrl* rateSpin_ = nullptr;
  wxCheckBox* stampBox_ = nullptr;
  wxButton* colourButton_ = nullptr;
  wxColour colour_;

  bool changed_ = false;
  bool ready_ = false;
  BitmapInfoHeader working_;
  bool haveOpeningFormat_ = false;
  BitmapInfoHeader openingFormat_;
  int openingRate_ = 0;
  bool openingShowStamp_ = true;
  Rgb openingColour_{255, 0, 0};
  std::vector<SizeEntry> sizes_;
};

}  // namespace qmr
