// The SMTP login of the mail account: user name and password. OK writes the
// keys that changed (the password scrambled in the file, in clear in memory)
// and saves the settings file at once, whatever the dialog that opened it
// does afterwards.
#pragma once

#include <wx/dialog.h>

class wxTextCtrl;

namespace qmr {

class AppContext;

class SmtpAuthDialog : public wxDialog {
 public:
  enum Id {
    kIdOk = 5100,
    kIdCancel = 5101,
  };

  SmtpAuthDialog(wxWindow* parent, AppContext& context);

  // The confirm step of OK without closing: writes what changed and saves
  // the settings file. Returns the number of keys written.
  int Apply();

 private:
  void OnOk(wxCommandEvent& event);
  void OnCancel(wxCommandEvent& event);

  AppContext& context_;
  wxTextCtrl* user_ = nullptr;
  wxTextCtrl* password_ = nullptr;
};

}  // namespace qmr
