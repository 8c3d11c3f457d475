// What the cameras do when motion is detected and when it stops. OK writes
// only the keys whose value changed and saves the settings file; the motion
// actions read the new values from their next check on.
#pragma once

#include <wx/dialog.h>

#include <array>

class wxCheckBox;
class wxSpinCtrl;

namespace qmr {

class AppContext;

class MotionTriggerDialog : public wxDialog {
 public:
  enum Id {
    kIdBrowseProgram = 7104,
    kIdBrowseSound = 7105,
    kIdOk = 5100,
    kIdCancel = 5101,
  };

  MotionTriggerDialog(wxWindow* parent, AppContext& context);

  // The confirm step of OK without closing: writes what changed and saves
  // the settings file. Returns the number of keys written.
  int Apply();

 private:
  // The flags in the order they are written.
  enum Flag {
    kSavAvi,
    kSavPic,
    kFtpAvi,
    kFtpPic,
    kMailAvi,
    kMailPic,
    kAlarm,
    kExec,
    kHiSpeed,
    kFlagCount
  };

  void OnBrowse(wxCommandEvent& event);
  void OnOk(wxCommandEvent& event);
  void OnCancel(wxCommandEvent& event);

  AppContext& context_;
  std::array<wxCheckBox*, kFlagCount> flags_{};
  wxSpinCtrl* duration_ = nullptr;
  wxSpinCtrl* lightSwitch_ = nullptr;  // LIGHTSWITCH
  wxSpinCtrl* preCapture_ = nullptr;  // PRECAPTURE
};

}  // namespace qmr
