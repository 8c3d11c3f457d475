// "Program startup settings": what the program does when it starts (open
// every camera, detect motion, arrange the camera panes, iconise the window).
#pragma once

#include <wx/dialog.h>

class wxCheckBox;

namespace qmr {

class AppContext;

class StartupDialog : public wxDialog {
 public:
  StartupDialog(wxWindow* parent, AppContext& context);

  // Writes the changed flags into the settings and the settings file and
  // saves it. Returns the number of keys written (the OK button's work).
  int Apply();

  wxCheckBox* OpenAllBox() { return openAll_; }
  wxCheckBox* DetectBox() { return detect_; }
  wxCheckBox* MaxViewBox() { return maxView_; }
  wxCheckBox* MinMainBox() { return minMain_; }

 private:
  void OnOk(wxCommandEvent& event);

  AppContext& context_;
  wxCheckBox* openAll_ = nullptr;
  wxCheckBox* detect_ = nullptr;
  wxCheckBox* maxView_ = nullptr;
  wxCheckBox* minMain_ = nullptr;
};

}  // namespace qmr
