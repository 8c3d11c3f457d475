#include "dialogs/video_format_dialog.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/colordlg.h>
#include <wx/dcmemory.h>
#include <wx/sizer.h>
#include <wx/spinctrl.h>
#include <wx/stattext.h>

#include <algorithm>
#include <cstdio>

#include "base/app_context.h"
#include "camera/camera_frame.h"
#include "capture/camera_entry.h"
#include "capture/capture_device.h"
#include "config/ini_file.h"
#include "dialogs/dialog_support.h"

namespace qmr {

namespace {

wxColour ToColour(const Rgb& c) { return wxColour(c.red, c.green, c.blue); }
Rgb ToRgb(const wxColour& c) { return Rgb{c.Red(), c.Green(), c.Blue()}; }

}  // namespace

VideoFormatDialog::VideoFormatDialog(CameraFrame& camera)
    : wxDialog(&camera, wxID_ANY, "Video format"), camera_(camera) {
  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(new wxStaticText(this, wxID_ANY, "Pixiel format: 24 bit per pixiel, RGB format"), 0,
           wxALL, 6);

  auto* grid = new wxFlexGridSizer(2, wxSize(6, 6));
  grid->Add(new wxStaticText(this, wxID_ANY, "Image size: "), 0, wxALIGN_CENTER_VERTICAL);
  sizeChoice_ = new wxChoice(this, wxID_ANY);
  grid->Add(sizeChoice_, 1, wxEXPAND);
  grid->Add(new wxStaticText(this, wxID_ANY, "Device driver sample rate(frames per second): "), 0,
            wxALIGN_CENTER_VERTICAL);
  rateSpin_ = new wxSpinCtrl(this, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                             wxSP_ARROW_KEYS, 0, 100, 0);
  grid->Add(rateSpin_, 1, wxEXPAND);
  top->Add(grid, 0, wxALL | wxEXPAND, 6);

  stampBox_ = new wxCheckBox(this, wxID_ANY, "Show time stamp on the preview window");
  top->Add(stampBox_, 0, wxALL, 6);
  auto* colourRow = new wxBoxSizer(wxHORIZONTAL);
  colourRow->Add(new wxStaticText(this, wxID_ANY, "Choose the display color of the time stamp"), 0,
                 wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
  colourButton_ = new wxButton(this, kIdColour, wxEmptyString, wxDefaultPosition, wxSize(48, -1));
  colourRow->Add(colourButton_, 0);
  top->Add(colourRow, 0, wxALL, 6);

  AddDefaultOkCancelRow(this, top, kIdDefault);
  SetSizerAndFit(top);

  Fill();

  sizeChoice_->Bind(wxEVT_CHOICE, &VideoFormatDialog::OnChoice, this);
  rateSpin_->Bind(wxEVT_SPINCTRL, &VideoFormatDialog::OnSpin, this);
  stampBox_->Bind(wxEVT_CHECKBOX, &VideoFormatDialog::OnCheck, this);
  Bind(wxEVT_BUTTON, &VideoFormatDialog::OnColour, this, kIdColour);
  Bind(wxEVT_BUTTON, &VideoFormatDialog::OnDefault, this, kIdDefault);
  Bind(wxEVT_BUTTON, &VideoFormatDialog::OnOk, this, wxID_OK);
  Bind(wxEVT_BUTTON, &VideoFormatDialog::OnCancel, this, wxID_CANCEL);
}

void VideoFormatDialog::Fill() {
  ready_ = false;
  CaptureDevice& device = *camera_.Device();
  PreviewRenderer& preview = device.Preview();
  openingShowStamp_ = preview.ShowTimeStamp();
  stampBox_->SetValue(openingShowStamp_);
  openingColour_ = preview.TextColour();
  ShowColour(ToColour(openingColour_));
  changed_ = false;

  // The current format is read even without a size list, so that OK never
  // stores a size the camera was not using.
  int rate = 0;
  if (device.GetFormat(working_, rate)) {
    rateSpin_->SetValue(rate);
    openingFormat_ = working_;
    openingRate_ = rate;
    haveOpeningFormat_ = true;
  }
  int count = 0, size = 0;
  if (device.GetCapabilityCount(count, size)) {
    for (int i = 0; i < count; ++i) {
      VideoCapability capability;
      if (!device.GetCapability(i, capability)) continue;
      SizeEntry entry{capability.inputWidth, capability.inputHeight, capability.maxFrameRate,
                      capability.minFrameRate};
      char label[48];
      std::snprintf(label, sizeof label, "%d X % d", entry.width, entry.height);
      sizes_.push_back(entry);
      sizeChoice_->Append(label);
      if (haveOpeningFormat_ && entry.width == working_.width && entry.height == working_.height) {
        SetRateRange(entry);
        sizeChoice_->SetSelection(static_cast<int>(sizes_.size()) - 1);
      }
    }
  }
  ready_ = true;
}

int VideoFormatDialog::SelectedSize() const { return sizeChoice_->GetSelection(); }
wxString VideoFormatDialog::SizeLabel(int index) const { return sizeChoice_->GetString(index); }
int VideoFormatDialog::FrameRate() const { return rateSpin_->GetValue(); }
int VideoFormatDialog::FrameRateMin() const { return rateSpin_->GetMin(); }
int VideoFormatDialog::FrameRateMax() const { return rateSpin_->GetMax(); }

void VideoFormatDialog::SetRateRange(const SizeEntry& entry) {
  rateSpin_->SetRange(entry.minRate, std::max(entry.minRate, entry.maxRate));
}

void VideoFormatDialog::ShowColour(const wxColour& colour) {
  colour_ = colour;
  wxBitmap face(32, 14);
  {
    wxMemoryDC dc(face);
    dc.SetBackground(wxBrush(colour));
    dc.Clear();
  }
  colourButton_->SetBitmap(face);
}

bool VideoFormatDialog::ApplyFormat(int rate) {
  CaptureDevice& device = *camera_.Device();
  const bool wasRunning = device.IsRunning();
  device.Stop();
  const bool set = device.SetFormat(&working_, rate);
  if (wasRunning) device.Start();
  camera_.SyncTitle();
  return set;
}

void VideoFormatDialog::ChooseSize(int index) {
  if (index < 0 || index >= static_cast<int>(sizes_.size())) return;
  if (sizeChoice_->GetSelection() != index) sizeChoice_->SetSelection(index);
  const SizeEntry& entry = sizes_[index];
  working_.width = entry.width;
  working_.height = entry.height;
  working_.sizeImage = static_cast<std::uint32_t>(entry.width) * entry.height * 3;
  // The rate moves into what the new size allows before the format is set.
  const int rate =
      std::clamp(rateSpin_->GetValue(), entry.minRate, std::max(entry.minRate, entry.maxRate));
  SetRateRange(entry);
  rateSpin_->SetValue(rate);
  ApplyFormat(rate);
  changed_ = true;
}

void VideoFormatDialog::ChangeFrameRate(int rate) {
  if (!ready_) return;
  if (rateSpin_->GetValue() != rate) rateSpin_->SetValue(rate);
  const int index = sizeChoice_->GetSelection();
  if (index == wxNOT_FOUND || index >= static_cast<int>(sizes_.size())) return;
  const SizeEntry& entry = sizes_[index];
  working_.width = entry.width;
  working_.height = entry.height;
  working_.sizeImage = static_cast<std::uint32_t>(entry.width) * entry.height * 3;
  ApplyFormat(rateSpin_->GetValue());
  changed_ = true;
}

void VideoFormatDialog::ShowTimeStamp(bool on) {
  stampBox_->SetValue(on);
  camera_.Device()->Preview().SetShowTimeStamp(on);
  changed_ = true;
}

void VideoFormatDialog::ChooseColour(const wxColour& colour) {
  ShowColour(colour);
  camera_.Device()->Preview().SetTextColour(ToRgb(colour));
  changed_ = true;
}

void VideoFormatDialog::SelectMatching(int width, int height) {
  for (size_t i = 0; i < sizes_.size(); ++i) {
    if (sizes_[i].width == width && sizes_[i].height == height) {
      sizeChoice_->SetSelection(static_cast<int>(i));
      SetRateRange(sizes_[i]);
      return;
    }
  }
}

void VideoFormatDialog::RestoreDefaultFormat() {
  CaptureDevice& device = *camera_.Device();
  const bool wasRunning = device.IsRunning();
  device.Stop();
  // The source's own default size and rate (rate 0), not the spin's value.
  const bool set = device.SetFormat(nullptr, 0);
  if (wasRunning) device.Start();
  camera_.SyncTitle();
  if (!set) return;
  changed_ = true;
  BitmapInfoHeader header;
  int rate = 0;
  if (!device.GetFormat(header, rate)) return;
  // OK must store the format now in use, not the one chosen before.
  working_ = header;
  SelectMatching(header.width, header.height);
  if (rate != rateSpin_->GetValue()) rateSpin_->SetValue(rate);
}

void VideoFormatDialog::Confirm() {
  if (changed_) {
    IniFile& ini = camera_.Context().SettingsFile();
    const std::string& section = camera_.Entry().name;
    ini.SetInt(section, "PREVIEW_TIME", stampBox_->GetValue() ? 1 : 0);
    ini.SetTriple(section, "TIME_COLOR", colour_.Red(), colour_.Green(), colour_.Blue());
    if (working_.width > 0 && working_.height != 0 && rateSpin_->GetValue() > 0) {
      ini.SetInt(section, "IMAGE_WIDTH", working_.width);
      ini.SetInt(section, "IMAGE_HEIGHT", working_.height);
      ini.SetInt(section, "FRAME_RATE", rateSpin_->GetValue());
    }
    ini.Save();
  }
}

void VideoFormatDialog::CancelChanges() {
  if (!changed_) return;
  PreviewRenderer& preview = camera_.Device()->Preview();
  preview.SetShowTimeStamp(openingShowStamp_);
  preview.SetTextColour(openingColour_);
  if (haveOpeningFormat_) {
    working_ = openingFormat_;
    // Restarting the device would end a running recording: only a format or
    // rate that really changed is put back.
    BitmapInfoHeader current;
    int rate = 0;
    const bool same = camera_.Device()->GetFormat(current, rate) &&
                      current.width == openingFormat_.width &&
                      current.height == openingFormat_.height && rate == openingRate_;
    if (!same) ApplyFormat(openingRate_);
  }
  changed_ = false;
}

void VideoFormatDialog::OnChoice(wxCommandEvent&) { ChooseSize(sizeChoice_->GetSelection()); }

void VideoFormatDialog::OnSpin(wxCommandEvent&) { ChangeFrameRate(rateSpin_->GetValue()); }

void VideoFormatDialog::OnCheck(wxCommandEvent&) { ShowTimeStamp(stampBox_->GetValue()); }

void VideoFormatDialog::OnColour(wxCommandEvent&) {
  wxColourData data;
  data.SetColour(colour_);
  wxColourDialog dialog(this, &data);
  if (dialog.ShowModal() == wxID_OK) ChooseColour(dialog.GetColourData().GetColour());
}

void VideoFormatDialog::OnDefault(wxCommandEvent&) { RestoreDefaultFormat(); }

void VideoFormatDialog::OnOk(wxCommandEvent&) {
  Confirm();
  EndModal(wxID_OK);
}

void VideoFormatDialog::OnCancel(wxCommandEvent&) {
  CancelChanges();
  EndModal(wxID_CANCEL);
}

}  // namespace qmr
