#include "dialogs/video_property_dialog.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/font.h>
#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <cstdio>

#include "base/app_context.h"
#include "camera/camera_frame.h"
#include "capture/camera_entry.h"
#include "capture/capture_device.h"
#include "config/ini_file.h"
#include "dialogs/dialog_support.h"

namespace qmr {

std::string VideoPropertyDialog::SettingsKey(int property) {
  std::string key = kPropertyNames[property];
  for (char& c : key) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return key;
}

VideoPropertyDialog::VideoPropertyDialog(CameraFrame& camera)
    : wxDialog(&camera, wxID_ANY, "Video property"), camera_(camera) {
  auto* top = new wxBoxSizer(wxVERTICAL);
  auto* grid = new wxFlexGridSizer(4, wxSize(8, 4));
  // The names are padded to one width; a fixed-pitch font keeps the sliders in line.
  const wxFont labelFont(wxFontInfo().Family(wxFONTFAMILY_TELETYPE));
  for (int i = 0; i < kVideoPropertyCount; ++i) {
    Row& row = rows_[i];
    char name[64];
    std::snprintf(name, sizeof name, "%-*s", 23, kPropertyNames[i]);
    row.label = new wxStaticText(this, wxID_ANY, name);
    row.label->SetFont(labelFont);
    row.slider = new wxSlider(this, kFirstSliderId + i, 0, 0, 100, wxDefaultPosition,
                              wxSize(100, -1), wxSL_HORIZONTAL);
    row.value = new wxTextCtrl(this, wxID_ANY, wxEmptyString, wxDefaultPosition, wxSize(60, -1),
                               wxTE_READONLY | wxTE_CENTRE);
    row.autoBox = new wxCheckBox(this, wxID_ANY, "Auto");
    grid->Add(row.label, 0, wxALIGN_CENTER_VERTICAL);
    grid->Add(row.slider, 0, wxALIGN_CENTER_VERTICAL);
    grid->Add(row.value, 0, wxALIGN_CENTER_VERTICAL);
    grid->Add(row.autoBox, 0, wxALIGN_CENTER_VERTICAL);
  }
  top->Add(grid, 0, wxALL, 8);
  AddDefaultOkCancelRow(this, top, kIdDefault);
  SetSizerAndFit(top);

  Fill();

  Bind(wxEVT_SLIDER, &VideoPropertyDialog::OnSlider, this, kFirstSliderId,
       kFirstSliderId + kVideoPropertyCount - 1);
  Bind(wxEVT_BUTTON, &VideoPropertyDialog::OnDefault, this, kIdDefault);
  Bind(wxEVT_BUTTON, &VideoPropertyDialog::OnOk, this, wxID_OK);
  Bind(wxEVT_BUTTON, &VideoPropertyDialog::OnCancel, this, wxID_CANCEL);
}

void VideoPropertyDialog::Fill() {
  CaptureDevice& device = *camera_.Device();
  for (int i = 0; i < kVideoPropertyCount; ++i) {
    Row& row = rows_[i];
    long minimum = 0, maximum = 0, step = 0, defaultValue = 0, flags = 0;
    long value = 0, valueFlags = 0;
    // A property whose value cannot be read is left alone like one the
    // camera lacks: Cancel would have nothing to put back and OK nothing
    // true to store.
    if (!device.GetPropertyRange(i, minimum, maximum, step, defaultValue, flags) ||
        !device.GetProperty(i, value, valueFlags)) {
      row.enabled = false;
      row.label->Disable();
      row.slider->Disable();
      row.autoBox->Disable();
      continue;
    }
    row.enabled = true;
    row.slider->SetRange(static_cast<int>(minimum), static_cast<int>(maximum));
    row.defaultValue = defaultValue;
    row.capabilityFlags = flags;
    // "Auto" can only be chosen when the camera can do both.
    row.autoBox->Enable(flags == (kPropertyFlagAuto | kPropertyFlagManual));
    row.slider->SetValue(static_cast<int>(value));
    row.openingValue = value;
    row.openingFlags = valueFlags;
    ShowValue(i, value);
    // Only the automatic flag means "Auto": a manual property is not automatic.
    row.autoBox->SetValue((valueFlags & kPropertyFlagAuto) != 0);
  }
  changed_ = false;
}

void VideoPropertyDialog::ShowValue(int property, long value) {
  rows_[property].value->ChangeValue(wxString::Format("%d", static_cast<int>(value)));
}

int VideoPropertyDialog::SliderValue(int property) const {
  return rows_[property].slider->GetValue();
}
bool VideoPropertyDialog::AutoEnabled(int property) const {
  return rows_[property].autoBox->IsEnabled();
}
bool VideoPropertyDialog::AutoChecked(int property) const {
  return rows_[property].autoBox->GetValue();
}
wxString VideoPropertyDialog::ValueText(int property) const {
  return rows_[property].value->GetValue();
}

void VideoPropertyDialog::MoveSlider(int property, int value) {
  if (property < 0 || property >= kVideoPropertyCount || !rows_[property].enabled) return;
  Row& row = rows_[property];
  if (row.slider->GetValue() != value) row.slider->SetValue(value);
  const int now = row.slider->GetValue();  // the slider keeps it in range
  ShowValue(property, now);
  camera_.Device()->SetProperty(property, now, row.autoBox->GetValue() ? kPropertyFlagAuto : 0);
  changed_ = true;
}

void VideoPropertyDialog::SetAuto(int property, bool on) {
  if (rows_[property].autoBox->IsEnabled()) rows_[property].autoBox->SetValue(on);
}

void VideoPropertyDialog::RestoreDefaults() {
  CaptureDevice& device = *camera_.Device();
  for (int i = 0; i < kVideoPropertyCount; ++i) {
    Row& row = rows_[i];
    if (!row.enabled) continue;
    // The camera's default state: automatic where the camera can be.
    const long flags = (row.capabilityFlags & kPropertyFlagAuto) ? kPropertyFlagAuto : 0;
    device.SetProperty(i, row.defaultValue, flags);
    row.slider->SetValue(static_cast<int>(row.defaultValue));
    ShowValue(i, row.defaultValue);
    row.autoBox->SetValue(flags != 0);
  }
  changed_ = true;
}

void VideoPropertyDialog::Confirm() {
  if (!changed_) return;
  IniFile& ini = camera_.Context().SettingsFile();
  const std::string& section = camera_.Entry().name;
  for (int i = 0; i < kVideoPropertyCount; ++i) {
    if (rows_[i].enabled) ini.SetInt(section, SettingsKey(i), rows_[i].slider->GetValue());
  }
  ini.Save();
}

void VideoPropertyDialog::CancelChanges() {
  if (!changed_) return;
  CaptureDevice& device = *camera_.Device();
  for (int i = 0; i < kVideoPropertyCount; ++i) {
    if (rows_[i].enabled) device.SetProperty(i, rows_[i].openingValue, rows_[i].openingFlags);
  }
  changed_ = false;
}

void VideoPropertyDialog::OnSlider(wxCommandEvent& event) {
  const int property = event.GetId() - kFirstSliderId;
  MoveSlider(property, rows_[property].slider->GetValue());
}

void VideoPropertyDialog::OnDefault(wxCommandEvent&) { RestoreDefaults(); }

void VideoPropertyDialog::OnOk(wxCommandEvent&) {
  Confirm();
  EndModal(wxID_OK);
}

void VideoPropertyDialog::OnCancel(wxCommandEvent&) {
  CancelChanges();
  EndModal(wxID_CANCEL);
}

}  // namespace qmr
