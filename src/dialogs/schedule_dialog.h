// A camera's weekly record schedule: the days on which it starts, the start
// and stop times of day, and whether the period records or only detects.
// OK stores the schedule in the camera's entry (read by the scheduler thread)
// and in the camera's settings section, then saves the settings file.
#pragma once

#include <wx/dialog.h>

#include <array>
#include <functional>
#include <string>

class wxCheckBox;
class wxTimePickerCtrl;

namespace qmr {

class AppContext;
class CameraEntry;

class ScheduleDialog : public wxDialog {
 public:
  enum Id {
    kIdTrigger = 6111,  // opens the motion trigger settings
    kIdOk = 5100,
    kIdCancel = 5101,
  };

  ScheduleDialog(wxWindow* parent, AppContext& context, CameraEntry& entry);

  // Shows a refusal to the user; a message box by default. Tests replace it
  // so that nothing modal blocks them.
  void SetMessageHook(std::function<void(const std::string& text)> hook) {
    messageHook_ = std::move(hook);
  }

  // The confirm step of OK without closing: false (and nothing stored) when
  // the stop time lies before the start time.
  bool Apply();

  static constexpr const char* kStopBeforeStart = "The time to stop must after the time to start!";

 private:
  void OnTrigger(wxCommandEvent& event);
  void OnOk(wxCommandEvent& event);
  void OnCancel(wxCommandEvent& event);

  AppContext& context_;
  CameraEntry& entry_;
  std::array<wxCheckBox*, 7> days_{};
  wxCheckBox* detect_ = nullptr;
  wxTimePickerCtrl* start_ = nullptr;
  wxTimePickerCtrl* stop_ = nullptr;
  std::function<void(const std::string&)> messageHook_;
};

}  // namespace qmr
