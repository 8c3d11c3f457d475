// The internet accounts dialog and its SMTP login dialog: exact labels, the
// dial-up entries of the peers folder in ascending order, trimmed values,
// passwords never in clear in the file, a vanished entry cleared by OK, and
// only changed keys written.
#include "dialogs/internet_accounts_dialog.h"

#include <sys/stat.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <functional>
#include <set>
#include <string>

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
  for (int id : {5100, 5101, 7106}) EXPECT_NE(dialog.FindWindow(id), nullptr) << id;

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

}  // namespace
}  // namespace qmr
