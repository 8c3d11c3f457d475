// The internet accounts dialog and its SMTP login dialog: exact labels, the
// dial-up entries of the peers folder in ascending order, trimmed values,
// passwords never in clear in the file, a vanished entry cleared by OK, only
// changed keys written, the security and mode choices, and the two test
// buttons against real servers.
#include "dialogs/internet_accounts_dialog.h"

#include <sys/stat.h>
#include <wx/app.h>
#include <wx/bmpbuttn.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <functional>
#include <set>
#include <string>

#include "../delivery/delivery_test_support.h"
#include "config/password_scrambler.h"
#include "dialog_test_support.h"
#include "dialogs/smtp_auth_dialog.h"

namespace qmr {
namespace {

using testing::Click;
using testing::Control;
using testing::DialogContext;
using testing::FileValue;
using testing::ReadWhole;
using testing::TempFolder;
using testing::WriteWhole;

void CollectLabels(wxWindow* window, std::multiset<std::string>& labels) {
  for (wxWindow* child : window->GetChildren()) {
    if (auto* text = dynamic_cast<wxStaticText*>(child)) {
      labels.insert(std::string(text->GetLabel().utf8_str()));
    }
    CollectLabels(child, labels);
  }
}

std::string Unscrambled(const std::string& stored) {
  std::string clear;
  PasswordScrambler::Unscramble(stored, clear);
  return clear;
}

class AccountsDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetApplicationFolder(folder_.Path());
    ASSERT_EQ(mkdir(peers_.c_str(), 0700), 0);
    for (const char* name : {"zeta", "alpha", "beta", "alpha~"}) {
      WriteWhole(peers_ + "/" + name, "user someone\n");
    }
    ini_ = folder_.File("qmr.ini");
    std::string stored;
    ASSERT_TRUE(PasswordScrambler::Scramble("old ftp secret", stored));
    WriteWhole(ini_, "[FOLDER]\nAVIDIR=" + folder_.Path() +
                         "\n[INTERNET]\nDIALUP=beta\n"
                         "MAILTO=a@example.org\nFTPPASSWD=" +
                         stored + "\n");
    ASSERT_TRUE(context_.SettingsFile().Load(ini_));
    context_.Settings().Update([](Settings& s) {
      s.dialup = "beta";
      s.mailTo = "a@example.org";
      s.ftpPasswd = "old ftp secret";
      s.hangup = true;
      s.mailAuth = true;
    });
  }

  TempFolder folder_;
  std::string peers_ = folder_.File("peers");
  DialogContext context_{peers_};
  std::string ini_;
};

TEST_F(AccountsDialogTest, ShowsLabelsEntriesAndSettings) {
  InternetAccountsDialog dialog(nullptr, context_);
  EXPECT_EQ(dialog.GetTitle(), "Internet account settings");
  EXPECT_TRUE(dialog.HasFlag(wxRESIZE_BORDER));
  std::multiset<std::string> labels;
  CollectLabels(&dialog, labels);
  for (const char* label : {"Choose the connection to dial up if no internet \nconnection "
                            "avaliable when motion is detected",
                            "Mail to:    ", "Mail from:  ", "SMTP server:", "FTP server: ",
                            "User name:  ", "Password:   ", "Remote Dir.:"}) {
    EXPECT_EQ(labels.count(label), 1u) << '"' << label << '"';
  }
  for (int id : {5100, 5101, 7106, 7107, 7108}) EXPECT_NE(dialog.FindWindow(id), nullptr) << id;
  // The login button's picture has the size the layout is made for.
  auto* login = dynamic_cast<wxBitmapButton*>(dialog.FindWindow(7106));
  ASSERT_NE(login, nullptr);
  EXPECT_EQ(login->GetBitmap().GetSize(), wxSize(24, 24));

  auto* choice = Control<wxChoice>(&dialog, "DIALUP");
  ASSERT_EQ(choice->GetCount(), 3u);
  EXPECT_EQ(choice->GetString(0), "alpha");
  EXPECT_EQ(choice->GetString(1), "beta");
  EXPECT_EQ(choice->GetString(2), "zeta");
  EXPECT_EQ(choice->GetStringSelection(), "beta");
  EXPECT_EQ(Control<wxCheckBox>(&dialog, "HANGUP")->GetLabel(), "Hangup after transfer");
  EXPECT_EQ(Control<wxCheckBox>(&dialog, "MAILAUTH")->GetLabel(), "Server need authentication");
  EXPECT_EQ(Control<wxTextCtrl>(&dialog, "MAILTO")->GetValue(), "a@example.org");
  auto* password = Control<wxTextCtrl>(&dialog, "FTPPASSWD");
  EXPECT_TRUE(password->HasFlag(wxTE_PASSWORD));
  EXPECT_EQ(password->GetValue(), "old ftp secret");

  SmtpAuthDialog auth(nullptr, context_);
  EXPECT_EQ(auth.GetTitle(), "Account");
  labels.clear();
  CollectLabels(&auth, labels);
  EXPECT_EQ(labels.count("User name:"), 1u);
  EXPECT_EQ(labels.count("Password: "), 1u);
  EXPECT_TRUE(Control<wxTextCtrl>(&auth, "AUTHPASSWD")->HasFlag(wxTE_PASSWORD));
}

// Typed values with surrounding blanks are stored trimmed, in memory and in
// the file; the password is scrambled in the file and reads back in clear
// through the settings loader. A second OK without edits writes nothing.
TEST_F(AccountsDialogTest, StoresTrimmedValuesAndScrambledPassword) {
  {
    InternetAccountsDialog dialog(nullptr, context_);
    Control<wxTextCtrl>(&dialog, "MAILTO")->SetValue("  to@example.org ");
    Control<wxTextCtrl>(&dialog, "MAILFROM")->SetValue(" from@example.org");
    Control<wxTextCtrl>(&dialog, "MAILSERVER")->SetValue("smtp.example.org  ");
    Control<wxTextCtrl>(&dialog, "FTPSERVER")->SetValue(" ftp.example.org ");
    Control<wxTextCtrl>(&dialog, "FTPUSER")->SetValue("  uploader ");
    Control<wxTextCtrl>(&dialog, "FTPPASSWD")->SetValue("  new ftp secret  ");
    Control<wxTextCtrl>(&dialog, "FTPDIR")->SetValue(" /incoming ");
    Control<wxCheckBox>(&dialog, "HANGUP")->SetValue(false);
    Control<wxChoice>(&dialog, "DIALUP")->SetSelection(2);
    Click(dialog, InternetAccountsDialog::kIdOk);
    EXPECT_EQ(dialog.GetReturnCode(), wxID_OK);
  }
  const Settings s = context_.Settings().Get();
  EXPECT_EQ(s.mailTo, "to@example.org");
  EXPECT_EQ(s.mailFrom, "from@example.org");
  EXPECT_EQ(s.mailServer, "smtp.example.org");
  EXPECT_EQ(s.ftpServer, "ftp.example.org");
  EXPECT_EQ(s.ftpUser, "uploader");
  EXPECT_EQ(s.ftpPasswd, "new ftp secret");
  EXPECT_EQ(s.ftpDir, "/incoming");
  EXPECT_FALSE(s.hangup);
  EXPECT_EQ(s.dialup, "zeta");

  const std::string file = ReadWhole(ini_);
  EXPECT_EQ(file.find("secret"), std::string::npos) << file;
  EXPECT_EQ(FileValue(ini_, "INTERNET", "MAILTO"), "to@example.org");
  EXPECT_EQ(FileValue(ini_, "INTERNET", "FTPDIR"), "/incoming");
  EXPECT_EQ(FileValue(ini_, "INTERNET", "HANGUP"), "0");
  EXPECT_EQ(Unscrambled(FileValue(ini_, "INTERNET", "FTPPASSWD")), "new ftp secret");

  IniFile reread;
  Settings loaded;
  LoadSettings(reread, loaded);
  EXPECT_EQ(loaded.ftpPasswd, "new ftp secret");
  EXPECT_EQ(loaded.ftpUser, "uploader");
  EXPECT_EQ(loaded.dialup, "zeta");

  InternetAccountsDialog again(nullptr, context_);
  EXPECT_EQ(again.Apply(), 0);
  EXPECT_EQ(ReadWhole(ini_), file);
}

// The server's port has its own field; the security and mode choices and
// the certificate boxes are stored under their keys. An old file without
// them shows the plain defaults and OK leaves it without them.
TEST_F(AccountsDialogTest, SecurityPortAndModeChoices) {
  {
    InternetAccountsDialog dialog(nullptr, context_);
    EXPECT_EQ(Control<wxChoice>(&dialog, "MAILSECURITY")->GetSelection(), 0);
    EXPECT_EQ(Control<wxChoice>(&dialog, "FTPMODE")->GetSelection(), 0);
    EXPECT_EQ(Control<wxChoice>(&dialog, "FTPSECURITY")->GetSelection(), 0);
    EXPECT_TRUE(Control<wxCheckBox>(&dialog, "MAILVERIFY")->GetValue());
    EXPECT_EQ(dialog.Apply(), 0);
    for (const char* key : {"MAILSECURITY", "MAILVERIFY", "FTPMODE", "FTPSECURITY", "FTPVERIFY"}) {
      EXPECT_EQ(FileValue(ini_, "INTERNET", key), "<absent>") << key;
    }

    Control<wxTextCtrl>(&dialog, "MAILSERVER")->SetValue(" smtp.example.org ");
    Control<wxTextCtrl>(&dialog, "MAILPORT")->SetValue(" 587 ");
    Control<wxChoice>(&dialog, "MAILSECURITY")->SetSelection(1);
    Control<wxCheckBox>(&dialog, "MAILVERIFY")->SetValue(false);
    Control<wxChoice>(&dialog, "FTPMODE")->SetSelection(2);
    Control<wxChoice>(&dialog, "FTPSECURITY")->SetSelection(1);
    Click(dialog, InternetAccountsDialog::kIdOk);
  }
  const Settings s = context_.Settings().Get();
  EXPECT_EQ(s.mailServer, "smtp.example.org:587");
  EXPECT_EQ(s.mailSecurity, 1);
  EXPECT_FALSE(s.mailVerify);
  EXPECT_EQ(s.ftpMode, 2);
  EXPECT_EQ(s.ftpSecurity, 1);
  EXPECT_EQ(FileValue(ini_, "INTERNET", "MAILSERVER"), "smtp.example.org:587");
  EXPECT_EQ(FileValue(ini_, "INTERNET", "MAILSECURITY"), "1");
  EXPECT_EQ(FileValue(ini_, "INTERNET", "MAILVERIFY"), "0");
  EXPECT_EQ(FileValue(ini_, "INTERNET", "FTPMODE"), "2");
  EXPECT_EQ(FileValue(ini_, "INTERNET", "FTPSECURITY"), "1");

  // Shown again: the port in its field, and nothing changes on OK. A port
  // that is not a number is left out.
  InternetAccountsDialog again(nullptr, context_);
  EXPECT_EQ(Control<wxTextCtrl>(&again, "MAILSERVER")->GetValue(), "smtp.example.org");
  EXPECT_EQ(Control<wxTextCtrl>(&again, "MAILPORT")->GetValue(), "587");
  EXPECT_EQ(again.Apply(), 0);
  Control<wxTextCtrl>(&again, "MAILPORT")->SetValue("x25");
  EXPECT_EQ(again.Edited().mailServer, "smtp.example.org");
}

TEST_F(AccountsDialogTest, VanishedDialupEntryIsClearedByOk) {
  std::remove((peers_ + "/beta").c_str());
  InternetAccountsDialog dialog(nullptr, context_);
  auto* choice = Control<wxChoice>(&dialog, "DIALUP");
  EXPECT_EQ(choice->GetCount(), 2u);
  EXPECT_EQ(choice->GetSelection(), wxNOT_FOUND);
  Click(dialog, InternetAccountsDialog::kIdOk);
  EXPECT_EQ(context_.Settings().Get().dialup, "");
  EXPECT_EQ(FileValue(ini_, "INTERNET", "DIALUP"), "");
}

// The login dialog opened from the picture button saves on its own OK
// (trimmed user, scrambled password), even when the accounts dialog is then
// cancelled; clearing the password later stores an empty value.
TEST_F(AccountsDialogTest, LoginDialogSavesOnItsOwnOk) {
  InternetAccountsDialog dialog(nullptr, context_);
  Control<wxTextCtrl>(&dialog, "MAILTO")->SetValue("discarded@example.org");
  bool sawLogin = false;
  dialog.CallAfter([&] {
    dialog.CallAfter([&] {
      for (wxWindow* window : wxTopLevelWindows) {
        auto* login = dynamic_cast<SmtpAuthDialog*>(window);
        if (login == nullptr || !login->IsModal()) continue;
        sawLogin = true;
        Control<wxTextCtrl>(login, "AUTHUSER")->SetValue(" mailer ");
        Control<wxTextCtrl>(login, "AUTHPASSWD")->SetValue(" smtp secret ");
        Click(*login, SmtpAuthDialog::kIdOk);
      }
    });
    Click(dialog, InternetAccountsDialog::kIdAuthentication);
    Click(dialog, InternetAccountsDialog::kIdCancel);
  });
  EXPECT_EQ(dialog.ShowModal(), wxID_CANCEL);
  EXPECT_TRUE(sawLogin);

  Settings s = context_.Settings().Get();
  EXPECT_EQ(s.authUser, "mailer");
  EXPECT_EQ(s.authPasswd, "smtp secret");
  EXPECT_EQ(s.mailTo, "a@example.org");
  EXPECT_EQ(FileValue(ini_, "INTERNET", "AUTHUSER"), "mailer");
  EXPECT_EQ(FileValue(ini_, "INTERNET", "MAILTO"), "a@example.org");
  EXPECT_EQ(ReadWhole(ini_).find("secret"), std::string::npos);
  EXPECT_EQ(Unscrambled(FileValue(ini_, "INTERNET", "AUTHPASSWD")), "smtp secret");

  SmtpAuthDialog login(nullptr, context_);
  EXPECT_EQ(Control<wxTextCtrl>(&login, "AUTHPASSWD")->GetValue(), "smtp secret");
  Control<wxTextCtrl>(&login, "AUTHPASSWD")->SetValue("   ");
  Click(login, SmtpAuthDialog::kIdOk);
  EXPECT_EQ(context_.Settings().Get().authPasswd, "");
  EXPECT_EQ(FileValue(ini_, "INTERNET", "AUTHPASSWD"), "");
}

// Lets the dialog's worker report back until cond holds (at most limitMs).
bool PumpUntil(const std::function<bool()>& cond, int limitMs = 30000) {
  for (int waited = 0; waited < limitMs && !cond(); waited += 20) {
    wxTheApp->ProcessPendingEvents();
    wxTheApp->Yield(true);
    SleepMs(20);
  }
  return cond();
}

// The test buttons try the values shown (unsaved) on a worker thread: a mail
// over STARTTLS with AUTH to two addresses, a file uploaded over explicit
// FTPS in passive mode and deleted again; the dialog keeps working meanwhile
// and a test against a server that never answers can be cancelled.
TEST_F(AccountsDialogTest, TestButtonsAgainstRealServers) {
  testing::TestCertificate cert(folder_.Path());
  ASSERT_TRUE(cert.Made());
  setenv("SSL_CERT_FILE", cert.cert.c_str(), 1);
  const std::string inbox = folder_.File("inbox");
  const std::string root = folder_.File("root");
  ASSERT_EQ(mkdir(inbox.c_str(), 0700), 0);
  ASSERT_EQ(mkdir(root.c_str(), 0700), 0);
  testing::Peer smtp(folder_.Path(), {"smtp", inbox, "cam", "pa ss", "--starttls", cert.cert,
                                      cert.key, "--require-tls"});
  testing::Peer ftp(folder_.Path(),
                    {"ftp", root, "cam", "pw", "--refuse", "PORT", "--tls", cert.cert, cert.key});
  testing::Peer mute(folder_.Path(), {"fake", "mute", folder_.File("mute.txt")});
  ASSERT_GT(smtp.Port(), 0);
  ASSERT_GT(ftp.Port(), 0);
  ASSERT_GT(mute.Port(), 0);
  context_.Settings().Update([](Settings& s) {
    s.authUser = "cam";
    s.authPasswd = "pa ss";
  });

  InternetAccountsDialog dialog(nullptr, context_);
  dialog.Show();
  Control<wxTextCtrl>(&dialog, "MAILTO")->SetValue("x@example.org; y@example.org");
  Control<wxTextCtrl>(&dialog, "MAILFROM")->SetValue("cam@example.org");
  Control<wxTextCtrl>(&dialog, "MAILSERVER")->SetValue("localhost");
  Control<wxTextCtrl>(&dialog, "MAILPORT")->SetValue(std::to_string(smtp.Port()));
  Control<wxChoice>(&dialog, "MAILSECURITY")->SetSelection(1);
  auto* mailButton =
      dynamic_cast<wxButton*>(dialog.FindWindow(InternetAccountsDialog::kIdTestMail));
  auto* ftpButton = dynamic_cast<wxButton*>(dialog.FindWindow(InternetAccountsDialog::kIdTestFtp));
  ASSERT_NE(mailButton, nullptr);
  ASSERT_NE(ftpButton, nullptr);

  Click(dialog, InternetAccountsDialog::kIdTestMail);
  EXPECT_TRUE(dialog.TestRunning());
  EXPECT_EQ(mailButton->GetLabel(), "Cancel test");
  EXPECT_FALSE(ftpButton->IsEnabled());
  ASSERT_TRUE(PumpUntil([&] { return !dialog.TestRunning(); }));
  ASSERT_EQ(context_.messages.size(), 1u);
  EXPECT_NE(context_.messages[0].find("accepted by the mail server for 2 recipient(s)"),
            std::string::npos)
      << context_.messages[0];
  EXPECT_EQ(Control<wxStaticText>(&dialog, "MAILTESTSTATUS")->GetLabel(), "Test mail sent.");
  EXPECT_EQ(mailButton->GetLabel(), "Send test mail");
  EXPECT_TRUE(ftpButton->IsEnabled());
  EXPECT_EQ(ReadWhole(inbox + "/msg0.env"), "cam@example.org\nx@example.org,y@example.org\nTrue\n");
  EXPECT_EQ(FileValue(ini_, "INTERNET", "MAILFROM"), "<absent>");  // nothing saved

  Control<wxTextCtrl>(&dialog, "FTPSERVER")->SetValue("localhost:" + std::to_string(ftp.Port()));
  Control<wxTextCtrl>(&dialog, "FTPUSER")->SetValue("cam");
  Control<wxTextCtrl>(&dialog, "FTPPASSWD")->SetValue("pw");
  Control<wxChoice>(&dialog, "FTPSECURITY")->SetSelection(1);
  Control<wxChoice>(&dialog, "FTPMODE")->SetSelection(2);
  Click(dialog, InternetAccountsDialog::kIdTestFtp);
  ASSERT_TRUE(PumpUntil([&] { return !dialog.TestRunning(); }));
  ASSERT_EQ(context_.messages.size(), 2u);
  EXPECT_EQ(context_.messages[1],
            "The FTP account works: a test file was uploaded and deleted again.");
  EXPECT_EQ(testing::Capture("ls -A " + root), "");

  // A server that never answers the TLS handshake: the user cancels.
  Control<wxTextCtrl>(&dialog, "MAILSERVER")->SetValue("127.0.0.1");
  Control<wxTextCtrl>(&dialog, "MAILPORT")->SetValue(std::to_string(mute.Port()));
  Control<wxChoice>(&dialog, "MAILSECURITY")->SetSelection(2);
  Click(dialog, InternetAccountsDialog::kIdTestMail);
  PumpUntil([] { return false; }, 300);
  EXPECT_TRUE(dialog.TestRunning());
  Click(dialog, InternetAccountsDialog::kIdTestMail);
  ASSERT_TRUE(PumpUntil([&] { return !dialog.TestRunning(); }, 5000));
  ASSERT_EQ(context_.messages.size(), 3u);
  EXPECT_EQ(context_.messages[2], "The test mail was cancelled.");
  EXPECT_EQ(Control<wxStaticText>(&dialog, "MAILTESTSTATUS")->GetLabel(), "Cancelled.");

  // Closing the dialog during a test ends the test first.
  Click(dialog, InternetAccountsDialog::kIdTestMail);
  EXPECT_TRUE(dialog.TestRunning());
  Click(dialog, InternetAccountsDialog::kIdCancel);
  EXPECT_FALSE(dialog.TestRunning());
  unsetenv("SSL_CERT_FILE");
}

}  // namespace
}  // namespace qmr
