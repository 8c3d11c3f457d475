// Everything delivery needs: the dial-up entry to dial when there is no
// internet connection, whether to hang up afterwards, the mail account (with
// its security and port) and the FTP account (with its data connection mode
// and security). OK writes the keys that changed (the FTP password scrambled
// in the file, in clear in memory) and saves the settings file. "Send test
// mail" and "Test FTP" try the values shown, saved or not, on a worker
// thread; pressing the button again cancels the test.
#pragma once

#include <wx/dialog.h>

#include <memory>
#include <string>
#include <vector>

#include "config/settings.h"

class wxBoxSizer;
class wxButton;
class wxCheckBox;
class wxChoice;
class wxStaticText;
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
    kIdTestMail = 7107,
    kIdTestFtp = 7108,
  };

  InternetAccountsDialog(wxWindow* parent, AppContext& context);
  ~InternetAccountsDialog() override;

  // The confirm step of OK without closing: writes what changed and saves
  // the settings file. Returns the number of keys written.
  int Apply();

  // The settings as the dialog's controls show them (the login of the mail
  // account comes from the settings, where its own dialog stores it).
  Settings Edited() const;

  // Whether a test runs on its worker thread.
  bool TestRunning() const { return test_ != nullptr; }

 private:
  struct AccountTest;

  // One group each, top to bottom; each returns the group's sizer.
  wxSizer* BuildConnectionGroup(const Settings& s);
  wxSizer* BuildMailGroup(const Settings& s);
  wxSizer* BuildFtpGroup(const Settings& s);
  // A test button with its result line beside it.
  wxBoxSizer* BuildTestRow(wxWindow* parent, int id, const wxString& label, wxStaticText*& status,
                           const char* statusName);

  void OnAuthentication(wxCommandEvent& event);
  void OnOk(wxCommandEvent& event);
  void OnCancel(wxCommandEvent& event);
  void OnClose(wxCloseEvent& event);
  void OnMailSecurity(wxCommandEvent& event);
  void OnTest(wxCommandEvent& event);
  // On the user-interface thread once the worker has its result.
  void OnTestDone(const AccountTest* done);
  // Cancels a running test and waits for its thread.
  void StopTest();
  static void RunTest(void* job);

  AppContext& context_;
  wxChoice* dialup_ = nullptr;
  // The entry names as the line lists them, by choice position: the names
  // are file names and need not survive a round trip through wxString.
  std::vector<std::string> dialupNames_;
  wxCheckBox* hangup_ = nullptr;
  wxTextCtrl* mailTo_ = nullptr;
  wxTextCtrl* mailFrom_ = nullptr;
  wxTextCtrl* mailServer_ = nullptr;
  wxChoice* mailSecurity_ = nullptr;
  wxTextCtrl* mailPort_ = nullptr;
  wxCheckBox* mailAuth_ = nullptr;
  wxCheckBox* mailVerify_ = nullptr;
  wxButton* testMail_ = nullptr;
  wxStaticText* mailStatus_ = nullptr;
  wxTextCtrl* ftpServer_ = nullptr;
  wxTextCtrl* ftpUser_ = nullptr;
  wxTextCtrl* ftpPasswd_ = nullptr;
  wxTextCtrl* ftpDir_ = nullptr;
  wxChoice* ftpMode_ = nullptr;
  wxChoice* ftpSecurity_ = nullptr;
  wxCheckBox* ftpVerify_ = nullptr;
  wxButton* testFtp_ = nullptr;
  wxStaticText* ftpStatus_ = nullptr;
  std::shared_ptr<AccountTest> test_;
  MqttPanel* mqtt_ = nullptr;  // the MQTT group
};

}  // namespace qmr
