// The eleven image properties of one camera (brightness, contrast, ...), each
// with a slider, its value and an "Auto" box. Every move is applied to the
// running camera at once; OK stores the values in the camera's settings
// section, Cancel puts back what the camera had when the dialog opened.
#pragma once

#include <wx/dialog.h>

#include <array>
#include <string>

#include "capture/video_capability.h"

class wxCheckBox;
class wxSlider;
class wxStaticText;
class wxTextCtrl;

namespace qmr {

class CameraFrame;

class VideoPropertyDialog : public wxDialog {
 public:
  static constexpr int kFirstSliderId = 7107;
  static constexpr int kIdDefault = 7118;

  explicit VideoPropertyDialog(CameraFrame& camera);

  // The settings key of a property: its name in upper case (BRIGHTNESS).
  static std::string SettingsKey(int property);

  // The dialog's operations, also used by tests.
  void MoveSlider(int property, int value);
  void SetAuto(int property, bool on);
  void RestoreDefaults();
  void Confirm();
  void CancelChanges();

  bool RowEnabled(int property) const { return rows_[property].enabled; }
  int SliderValue(int property) const;
  bool AutoEnabled(int property) const;
  bool AutoChecked(int property) const;
  wxString ValueText(int property) const;
  bool Changed() const { return changed_; }

 private:
  struct Row {
    bool enabled = false;
    long openingValue = 0;
    long openingFlags = 0;
    long defaultValue = 0;
    long capabilityFlags = 0;
    wxStaticText* label = nullptr;
    wxSlider* slider = nullptr;
    wxTextCtrl* value = nullptr;
    wxCheckBox* autoBox = nullptr;
  };

  void Fill();
  void ShowValue(int property, long value);
  void OnSlider(wxCommandEvent& event);
  void OnDefault(wxCommandEvent& event);
  void OnOk(wxCommandEvent& event);
  void OnCancel(wxCommandEvent& event);

  CameraFrame& camera_;
  std::array<Row, kVideoPropertyCount> rows_;
  bool changed_ = false;
};

}  // namespace qmr
