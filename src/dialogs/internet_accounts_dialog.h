// Everything delivery needs: the dial-up entry to dial when there is no
// internet connection, whether to hang up afterwards, the mail account and
// the FTP account. OK writes the keys that changed (the FTP password
// scrambled in the file, in clear in memory) and saves the settings file.
#pragma once

#include <wx/dialog.h>

#include <string>
#include <vector>

class wxCheckBox;
class wxChoice;
class wxTextCtrl;

namespace qmr {

class AppContext;
class MqttPanel;

class InternetAccountsDialog : public wxDialog {
 public:
  enum Id {
    kIdOk = 5100,
    kIdCancel = 5101,
    kIdAuthentication = 7106,  // opens the SMTP login dialog
  };

  InternetAccountsDialog(wxWindow* parent, AppContext& context);

  // The confirm step of OK without closing: writes what changed and saves
  // the settings file. Returns the number of keys written.
  int Apply();

 private:
  void OnAuthentication(wxCommandEvent& event);
  void OnOk(wxCommandEvent& event);
  void OnCancel(wxCommandEvent& event);

  AppContext& context_;
  wxChoice* dialup_ = nullptr;
  // The entry names as the line lists them, by choice position: the names
  // are file names and need not survive a round trip through wxString.
  std::vector<std::string> dialupNames_;
  wxCheckBox* hangup_ = nullptr;
  wxTextCtrl* mailTo_ = nullptr;
  wxTextCtrl* mailFrom_ = nullptr;
  wxTextCtrl* mailServer_ = nullptr;
  wxCheckBox* mailAuth_ = nullptr;
  wxTextCtrl* ftpServer_ = nullptr;
  wxTextCtrl* ftpUser_ = nullptr;
  wxTextCtrl* ftpPasswd_ = nullptr;
  wxTextCtrl* ftpDir_ = nullptr;
  MqttPanel* mqtt_ = nullptr;  // the MQTT group
};

}  // namespace qmr
