#include "dialogs/snapshot_viewer.h"

#include <wx/display.h>

#include <wx/button.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/msgdlg.h>
#include <wx/numdlg.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include <cstdio>
#include <mutex>

#include "base/app_context.h"
#include "config/settings.h"

namespace qmr {

namespace {

constexpr int kIdSaveAs = 7120;
constexpr int kIdFlip = 7121;
constexpr int kIdMirror = 7122;
constexpr int kIdRotate90 = 7123;
constexpr int kIdRotateAny = 7124;

constexpr double kRadiansPerDegree = 0.01745329251988889;

struct FileType {
  wxBitmapType type;
  const char* extension;
};
constexpr FileType kFileTypes[] = {
    {wxBITMAP_TYPE_JPEG, "jpg"}, {wxBITMAP_TYPE_BMP, "bmp"},  {wxBITMAP_TYPE_PCX, "pcx"},
    {wxBITMAP_TYPE_PNG, "png"},  {wxBITMAP_TYPE_TIFF, "tif"},
};
constexpr int kFileTypeCount = 5;

// Kept for the whole run and shared by every viewer (user-interface thread only).
int lastAngle = 45;
std::string lastFolder;
int lastTypeIndex = 0;

int ClampTypeIndex(int index) { return index < 0 || index >= kFileTypeCount ? 0 : index; }

}  // namespace

SnapshotViewer::SnapshotViewer(wxWindow* parent, AppContext& context, const wxImage& image,
                               const SystemTime& captureTime)
    : wxDialog(parent, wxID_ANY, "Snapshot"), context_(context), image_(image) {
  auto* top = new wxBoxSizer(wxVERTICAL);
  picture_ = new wxStaticBitmap(this, wxID_ANY, ShownBitmap(image_));
  top->Add(picture_, 0, wxALL, 4);

  char caption[80];
  std::snprintf(caption, sizeof caption, "Picture taken on %04d-%02d-%02d %02d:%02d:%02d:%03d",
                captureTime.year, captureTime.month, captureTime.day, captureTime.hour,
                captureTime.minute, captureTime.second, captureTime.milliseconds);
  top->Add(new wxStaticText(this, wxID_ANY, caption), 0, wxLEFT | wxRIGHT, 4);

  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  buttons->Add(new wxButton(this, kIdFlip, "Flip"), 0, wxALL, 2);
  buttons->Add(new wxButton(this, kIdMirror, "Mirror"), 0, wxALL, 2);
  buttons->Add(new wxButton(this, kIdRotate90, "Rotate 90"), 0, wxALL, 2);
  buttons->Add(new wxButton(this, kIdRotateAny, "Rotate any"), 0, wxALL, 2);
  buttons->Add(new wxButton(this, kIdSaveAs, "Save as.."), 0, wxALL, 2);
  buttons->Add(new wxButton(this, wxID_CANCEL, "Cancel"), 0, wxALL, 2);
  top->Add(buttons, 0, wxALL, 2);

  // No size hints: the dialog follows the picture's size changes exactly,
  // also below the width of the button row.
  SetSizer(top);
  top->Fit(this);

  Bind(wxEVT_BUTTON, &SnapshotViewer::OnFlip, this, kIdFlip);
  Bind(wxEVT_BUTTON, &SnapshotViewer::OnMirror, this, kIdMirror);
  Bind(wxEVT_BUTTON, &SnapshotViewer::OnRotate90, this, kIdRotate90);
  Bind(wxEVT_BUTTON, &SnapshotViewer::OnRotateAny, this, kIdRotateAny);
  Bind(wxEVT_BUTTON, &SnapshotViewer::OnSaveAs, this, kIdSaveAs);
  Bind(wxEVT_BUTTON, &SnapshotViewer::OnCancel, this, wxID_CANCEL);
}

int SnapshotViewer::LastAngle() { return lastAngle; }
std::string SnapshotViewer::LastFolder() { return lastFolder; }
int SnapshotViewer::LastTypeIndex() { return lastTypeIndex; }

wxSize SnapshotViewer::MaxPictureSize() {
  // The screen's work area less room for the caption, the button row and
  // the window's frame.
  const int index = wxDisplay::GetFromWindow(this);
  const wxRect area = wxDisplay(index == wxNOT_FOUND ? 0u : static_cast<unsigned>(index))
                          .GetClientArea();
  return wxSize(std::max(160, area.GetWidth() - 40), std::max(120, area.GetHeight() - 140));
}

wxBitmap SnapshotViewer::ShownBitmap(const wxImage& image) {
  // The picture is shown scaled down when it would not fit on the screen;
  // what is saved is always the whole picture.
  const wxSize limit = MaxPictureSize();
  const int w = image.GetWidth(), h = image.GetHeight();
  if (w <= limit.GetWidth() && h <= limit.GetHeight()) return wxBitmap(image);
  const double scale = std::min(static_cast<double>(limit.GetWidth()) / w,
                                static_cast<double>(limit.GetHeight()) / h);
  return wxBitmap(image.Scale(std::max(1, static_cast<int>(w * scale)),
                              std::max(1, static_cast<int>(h * scale)), wxIMAGE_QUALITY_HIGH));
}

void SnapshotViewer::ShowImage(const wxImage& newImage) {
  const wxSize oldShown = picture_->GetBitmap().GetSize();
  image_ = newImage;
  const wxBitmap shown = ShownBitmap(image_);
  const wxSize delta = shown.GetSize() - oldShown;
  picture_->SetBitmap(shown);
  picture_->SetMinSize(shown.GetSize());
  if (delta != wxSize(0, 0)) SetSize(GetSize() + delta);
  Layout();
  Refresh();
}

void SnapshotViewer::Flip() { ShowImage(image_.Mirror(false)); }

void SnapshotViewer::Mirror() { ShowImage(image_.Mirror(true)); }

void SnapshotViewer::Rotate90() { ShowImage(image_.Rotate90(true)); }

void SnapshotViewer::RotateBy(int degrees) {
  if (degrees == 0) return;  // wxImage::Rotate would still re-sample the picture
  ShowImage(image_.Rotate(degrees * kRadiansPerDegree, wxPoint(0, 0), false));
}

std::string SnapshotViewer::NameForType(const std::string& chosenName, int typeIndex) {
  const char* extension = kFileTypes[ClampTypeIndex(typeIndex)].extension;
  // Only a dot in the file's own name counts: a dot in a folder name must not
  // cut the path short.
  const size_t slash = chosenName.rfind('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = chosenName.rfind('.');
  if (dot == std::string::npos || dot < nameStart) return chosenName + "." + extension;
  return chosenName.substr(0, dot + 1) + extension;
}

std::string SnapshotViewer::SaveAs(const std::string& chosenName, int typeIndex) {
  const std::string name = NameForType(chosenName, typeIndex);
  bool written;
  {
    wxLogNull quiet;  // the failure is reported below, not by the library's log box
    written = image_.SaveFile(wxString::FromUTF8(name), kFileTypes[ClampTypeIndex(typeIndex)].type);
  }
  if (!written) {
    context_.ShowError("Failed to save file " + name);
    return std::string();
  }
  return name;
}

void SnapshotViewer::OnFlip(wxCommandEvent&) { Flip(); }
void SnapshotViewer::OnMirror(wxCommandEvent&) { Mirror(); }
void SnapshotViewer::OnRotate90(wxCommandEvent&) { Rotate90(); }

void SnapshotViewer::OnRotateAny(wxCommandEvent&) {
  if (lastAngle < 1) lastAngle = 45;
  lastAngle = static_cast<int>(wxGetNumberFromUser(
      "Please input the angle to rotate, the rotation center\n is at the upleft corner.",
      "in angle degree", "Rotate any angle", lastAngle, 0, 360, this));
  if (lastAngle < 0) return;
  RotateBy(lastAngle);
}

void SnapshotViewer::OnSaveAs(wxCommandEvent&) {
  std::string folder = lastFolder;
  if (folder.empty()) folder = context_.Settings().Get().picDir;
  wxFileDialog dialog(this, "Save image as", wxString::FromUTF8(folder), "snapshot",
                      "Jpeg(*.jpg)|*.jpg|BMP(*.bmp)|*.bmp|PCX(*.pcx)|*.pcx|Png(*.png)|*.png|"
                      "Tiff(*.tif)|*.tif",
                      wxFD_SAVE | wxFD_OVERWRITE_PROMPT | wxFD_CHANGE_DIR);
  dialog.SetFilterIndex(lastTypeIndex);
  if (dialog.ShowModal() != wxID_OK) return;
  lastFolder = dialog.GetDirectory().utf8_string();
  lastTypeIndex = ClampTypeIndex(dialog.GetFilterIndex());
  const std::string chosen = dialog.GetPath().utf8_string();
  const std::string name = NameForType(chosen, lastTypeIndex);
  // The dialog asked about the chosen name only; a different existing file
  // is not replaced without asking.
  if (name != chosen && wxFileName::FileExists(wxString::FromUTF8(name)) &&
      wxMessageBox(wxString::FromUTF8(name) + " already exists.\nDo you want to replace it?",
                   "Save image as", wxYES_NO | wxICON_QUESTION, this) != wxYES) {
    return;
  }
  SaveAs(chosen, lastTypeIndex);
}

void SnapshotViewer::OnCancel(wxCommandEvent&) { EndModal(wxID_CANCEL); }

}  // namespace qmr
