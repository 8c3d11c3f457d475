#include "dialogs/internet_accounts_dialog.h"

#include <wx/bmpbuttn.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <atomic>
#include <initializer_list>
#include <mutex>
#include <string>

#include "app/resource_images.h"
#include "base/app_context.h"
#include "base/process.h"
#include "config/ini_file.h"
#include "delivery/account_check.h"
#include "delivery/dialup_connection.h"
#include "delivery/smtp_client.h"
#include "delivery/socket_client.h"
#include "dialogs/dialog_support.h"
#include "dialogs/mqtt_panel.h"
#include "dialogs/smtp_auth_dialog.h"

namespace qmr {

namespace {

constexpr int kFieldWidth = 240;
constexpr int kAuthButtonSize = 24;

// The port typed by the user, or 0 when the field holds no valid port.
int PortValue(const wxTextCtrl* field) {
  const std::string text = TrimmedText(field);
  if (text.empty() || text.size() > 5) return 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
  }
  const int port = std::stoi(text);
  return port >= 1 && port <= 65535 ? port : 0;
}

wxChoice* NewChoice(wxWindow* parent, const char* name, std::initializer_list<const char*> items,
                    int value) {
  wxArrayString texts;
  for (const char* item : items) texts.Add(item);
  auto* choice = new wxChoice(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, texts, 0,
                              wxDefaultValidator, name);
  choice->SetSelection(value >= 0 && value < static_cast<int>(texts.size()) ? value : 0);
  return choice;
}

wxCheckBox* NewCheckBox(wxWindow* parent, const char* name, const wxString& label, bool value) {
  auto* box = new wxCheckBox(parent, wxID_ANY, label, wxDefaultPosition, wxDefaultSize, 0,
                             wxDefaultValidator, name);
  box->SetValue(value);
  return box;
}

}  // namespace

// One test on its worker thread, shared by the dialog and the worker so that
// either may be the last to let it go. The worker reports to the dialog only
// while the dialog has not let go of it.
struct InternetAccountsDialog::AccountTest {
  std::mutex lock;
  InternetAccountsDialog* dialog = nullptr;  // under lock; cleared by StopTest
  bool mail = true;
  Settings settings;
  std::atomic<bool> cancel{false};
  ThreadHandle handle{0};
  AccountCheckResult result;
};

InternetAccountsDialog::InternetAccountsDialog(wxWindow* parent, AppContext& context)
    : wxDialog(parent, wxID_ANY, "Internet account settings", wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      context_(context) {
  const Settings s = context_.Settings().Get();
  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(BuildConnectionGroup(s), 0, wxEXPAND | wxALL, 8);
  // The two accounts side by side, so the dialog fits a low screen.
  auto* accounts = new wxBoxSizer(wxHORIZONTAL);
  accounts->Add(BuildMailGroup(s), 1, wxEXPAND | wxRIGHT, 8);
  accounts->Add(BuildFtpGroup(s), 1, wxEXPAND);
  top->Add(accounts, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 8);
  mqtt_ = new MqttPanel(this, context_);
  top->Add(mqtt_, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 8);
  AddOkCancelRow(this, top, kIdOk, kIdCancel, wxLEFT | wxRIGHT | wxBOTTOM);
  SetSizerAndFit(top);
  CentreOnScreen();

  Bind(wxEVT_BUTTON, &InternetAccountsDialog::OnAuthentication, this, kIdAuthentication);
  Bind(wxEVT_BUTTON, &InternetAccountsDialog::OnOk, this, kIdOk);
  Bind(wxEVT_BUTTON, &InternetAccountsDialog::OnCancel, this, kIdCancel);
  Bind(wxEVT_BUTTON, &InternetAccountsDialog::OnTest, this, kIdTestMail);
  Bind(wxEVT_BUTTON, &InternetAccountsDialog::OnTest, this, kIdTestFtp);
  Bind(wxEVT_CLOSE_WINDOW, &InternetAccountsDialog::OnClose, this);
  mailSecurity_->Bind(wxEVT_CHOICE, &InternetAccountsDialog::OnMailSecurity, this);
}

InternetAccountsDialog::~InternetAccountsDialog() { StopTest(); }

wxSizer* InternetAccountsDialog::BuildConnectionGroup(const Settings& s) {
  // The dial-up entries in ascending name order; the stored entry is
  // selected only while it still exists.
  auto* connection = new wxStaticBoxSizer(wxHORIZONTAL, this, "Internet connection");
  wxWindow* box = connection->GetStaticBox();
  connection->Add(
      new wxStaticBitmap(box, wxID_ANY, LoadToolBitmap("tool_accounts", GetBackgroundColour())), 0,
      wxALL, 6);
  auto* column = new wxBoxSizer(wxVERTICAL);
  column->Add(new wxStaticText(box, wxID_ANY,
                               "Choose the connection to dial up if no internet \n"
                               "connection avaliable when motion is detected"),
              0, wxBOTTOM, 6);
  dialup_ = new wxChoice(box, wxID_ANY, wxDefaultPosition, wxDefaultSize, 0, nullptr, 0,
                         wxDefaultValidator, "DIALUP");
  DialupConnection& dialup = context_.Dialup();
  dialup.RefreshEntries();
  for (const auto& [name, entry] : dialup.Entries()) {
    dialupNames_.push_back(name);
    const int index = dialup_->Append(wxString::FromUTF8(name));
    if (name == s.dialup) dialup_->SetSelection(index);
  }
  column->Add(dialup_, 0, wxEXPAND | wxBOTTOM, 6);
  hangup_ = NewCheckBox(box, "HANGUP", "Hangup after transfer", s.hangup);
  column->Add(hangup_);
  connection->Add(column, 1, wxEXPAND | wxALL, 6);
  return connection;
}

wxSizer* InternetAccountsDialog::BuildMailGroup(const Settings& s) {
  auto* mail = new wxStaticBoxSizer(wxVERTICAL, this, "Email account");
  wxWindow* box = mail->GetStaticBox();
  wxFlexGridSizer* grid = NewFieldGrid(2, 6);
  mailTo_ = AddLabelledField(box, grid, "Mail to:    ", "MAILTO", s.mailTo, kFieldWidth);
  mailFrom_ = AddLabelledField(box, grid, "Mail from:  ", "MAILFROM", s.mailFrom, kFieldWidth);
  // The server field holds the host; its port has a field of its own and,
  // left empty, follows the security choice.
  std::string host;
  int port = 0;
  SplitHostPort(s.mailServer, host, port);
  if (port == 0) host = s.mailServer;
  mailServer_ = AddLabelledField(box, grid, "SMTP server:", "MAILSERVER", host, kFieldWidth);

  grid->Add(new wxStaticText(box, wxID_ANY, "Security:"), 0, wxALIGN_CENTER_VERTICAL);
  auto* securityRow = new wxBoxSizer(wxHORIZONTAL);
  mailSecurity_ = NewChoice(box, "MAILSECURITY", {"None", "STARTTLS", "SSL/TLS"}, s.mailSecurity);
  securityRow->Add(mailSecurity_, 1, wxALIGN_CENTER_VERTICAL);
  securityRow->Add(new wxStaticText(box, wxID_ANY, "Port:"), 0,
                   wxALIGN_CENTER_VERTICAL | wxLEFT | wxRIGHT, 8);
  mailPort_ = new wxTextCtrl(box, wxID_ANY, port > 0 ? wxString::Format("%d", port) : wxString(),
                             wxDefaultPosition, wxSize(GetTextExtent("999999").x + 24, -1), 0,
                             wxDefaultValidator, "MAILPORT");
  mailPort_->SetHint(wxString::Format("%u", SmtpClient::DefaultPort(s.mailSecurity)));
  securityRow->Add(mailPort_, 0, wxALIGN_CENTER_VERTICAL);
  grid->Add(securityRow, 1, wxEXPAND);
  mail->Add(grid, 0, wxEXPAND | wxALL, 6);

  auto* authRow = new wxBoxSizer(wxHORIZONTAL);
  mailAuth_ = NewCheckBox(box, "MAILAUTH", "Server need authentication", s.mailAuth);
  authRow->Add(mailAuth_, 0, wxALIGN_CENTER_VERTICAL);
  // The login picture is drawn at 32 x 32; the button shows it at 24 x 24.
  wxImage picture = LoadToolBitmap("tool_accounts", GetBackgroundColour()).ConvertToImage();
  if (picture.IsOk()) picture.Rescale(kAuthButtonSize, kAuthButtonSize, wxIMAGE_QUALITY_HIGH);
  authRow->Add(new wxBitmapButton(box, kIdAuthentication, wxBitmap(picture)), 0,
               wxALIGN_CENTER_VERTICAL | wxLEFT, 8);
  mail->Add(authRow, 0, wxLEFT | wxRIGHT | wxBOTTOM, 6);
  mailVerify_ =
      NewCheckBox(box, "MAILVERIFY", "Check the server's certificate (TLS)", s.mailVerify);
  mail->Add(mailVerify_, 0, wxLEFT | wxRIGHT | wxBOTTOM, 6);
  mail->Add(BuildTestRow(box, kIdTestMail, "Send test mail", mailStatus_, "MAILTESTSTATUS"), 0,
            wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 6);
  testMail_ = static_cast<wxButton*>(box->FindWindow(kIdTestMail));
  return mail;
}

wxSizer* InternetAccountsDialog::BuildFtpGroup(const Settings& s) {
  auto* ftp = new wxStaticBoxSizer(wxVERTICAL, this, "FTP account");
  wxWindow* box = ftp->GetStaticBox();
  wxFlexGridSizer* grid = NewFieldGrid(2, 6);
  ftpServer_ = AddLabelledField(box, grid, "FTP server: ", "FTPSERVER", s.ftpServer, kFieldWidth);
  ftpUser_ = AddLabelledField(box, grid, "User name:  ", "FTPUSER", s.ftpUser, kFieldWidth);
  ftpPasswd_ = AddLabelledField(box, grid, "Password:   ", "FTPPASSWD", s.ftpPasswd, kFieldWidth,
                                wxTE_PASSWORD);
  ftpDir_ = AddLabelledField(box, grid, "Remote Dir.:", "FTPDIR", s.ftpDir, kFieldWidth);
  grid->Add(new wxStaticText(box, wxID_ANY, "Mode:"), 0, wxALIGN_CENTER_VERTICAL);
  ftpMode_ = NewChoice(box, "FTPMODE", {"Passive (active if refused)", "Active", "Passive only"},
                       s.ftpMode);
  grid->Add(ftpMode_, 1, wxEXPAND);
  grid->Add(new wxStaticText(box, wxID_ANY, "Security:"), 0, wxALIGN_CENTER_VERTICAL);
  ftpSecurity_ =
      NewChoice(box, "FTPSECURITY", {"None", "Explicit TLS (AUTH TLS)", "Implicit TLS (FTPS)"},
                s.ftpSecurity);
  grid->Add(ftpSecurity_, 1, wxEXPAND);
  ftp->Add(grid, 0, wxEXPAND | wxALL, 6);
  ftpVerify_ = NewCheckBox(box, "FTPVERIFY", "Check the server's certificate (TLS)", s.ftpVerify);
  ftp->Add(ftpVerify_, 0, wxLEFT | wxRIGHT | wxBOTTOM, 6);
  ftp->Add(BuildTestRow(box, kIdTestFtp, "Test FTP", ftpStatus_, "FTPTESTSTATUS"), 0,
           wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 6);
  testFtp_ = static_cast<wxButton*>(box->FindWindow(kIdTestFtp));
  return ftp;
}

wxBoxSizer* InternetAccountsDialog::BuildTestRow(wxWindow* parent, int id, const wxString& label,
                                                 wxStaticText*& status, const char* statusName) {
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  auto* button = new wxButton(parent, id, label);
  // Wide enough for either label it shows.
  const wxSize fit = button->GetBestSize();
  const wxSize cancel = GetTextExtent("Cancel test");
  button->SetMinSize(wxSize(std::max(fit.x, cancel.x + 32), -1));
  row->Add(button, 0, wxALIGN_CENTER_VERTICAL);
  status = new wxStaticText(parent, wxID_ANY, wxString(), wxDefaultPosition, wxDefaultSize,
                            wxST_ELLIPSIZE_END, statusName);
  row->Add(status, 1, wxALIGN_CENTER_VERTICAL | wxLEFT, 8);
  return row;
}

Settings InternetAccountsDialog::Edited() const {
  Settings s = context_.Settings().Get();
  const int selected = dialup_->GetSelection();
  const bool listed = selected >= 0 && selected < static_cast<int>(dialupNames_.size());
  s.dialup = listed ? TrimSpaces(dialupNames_[selected]) : std::string();
  s.hangup = hangup_->GetValue();
  s.mailServer = TrimmedText(mailServer_);
  // A port typed into the server field as well wins over the port field.
  std::string host;
  int typedPort = 0;
  SplitHostPort(s.mailServer, host, typedPort);
  const int port = PortValue(mailPort_);
  if (port > 0 && typedPort == 0 && !s.mailServer.empty()) {
    s.mailServer += ":" + std::to_string(port);
  }
  s.mailFrom = TrimmedText(mailFrom_);
  s.mailTo = TrimmedText(mailTo_);
  s.mailAuth = mailAuth_->GetValue();
  s.mailSecurity = mailSecurity_->GetSelection() < 0 ? 0 : mailSecurity_->GetSelection();
  s.mailVerify = mailVerify_->GetValue();
  s.ftpServer = TrimmedText(ftpServer_);
  s.ftpUser = TrimmedText(ftpUser_);
  s.ftpDir = TrimmedText(ftpDir_);
  s.ftpPasswd = TrimmedText(ftpPasswd_);
  s.ftpMode = ftpMode_->GetSelection() < 0 ? 0 : ftpMode_->GetSelection();
  s.ftpSecurity = ftpSecurity_->GetSelection() < 0 ? 0 : ftpSecurity_->GetSelection();
  s.ftpVerify = ftpVerify_->GetValue();
  return s;
}

int InternetAccountsDialog::Apply() {
  // Only this dialog's keys are taken over: the login dialog it opened has
  // stored its own two already. Nothing selected (no entries, or the stored
  // one is gone) clears the entry, which turns dialling off.
  const Settings s = Edited();
  SettingsWriter writer(context_, keys::kInternet);
  writer.Put("DIALUP", &Settings::dialup, s.dialup);
  writer.Put("HANGUP", &Settings::hangup, s.hangup);
  writer.Put("MAILSERVER", &Settings::mailServer, s.mailServer);
  writer.Put("MAILFROM", &Settings::mailFrom, s.mailFrom);
  writer.Put("MAILTO", &Settings::mailTo, s.mailTo);
  writer.Put("MAILAUTH", &Settings::mailAuth, s.mailAuth);
  writer.Put("FTPSERVER", &Settings::ftpServer, s.ftpServer);
  writer.Put("FTPUSER", &Settings::ftpUser, s.ftpUser);
  writer.Put("FTPDIR", &Settings::ftpDir, s.ftpDir);
  writer.PutPassword("FTPPASSWD", &Settings::ftpPasswd, s.ftpPasswd);
  writer.Put("MAILSECURITY", &Settings::mailSecurity, s.mailSecurity);
  writer.Put("MAILVERIFY", &Settings::mailVerify, s.mailVerify);
  writer.Put("FTPMODE", &Settings::ftpMode, s.ftpMode);
  writer.Put("FTPSECURITY", &Settings::ftpSecurity, s.ftpSecurity);
  writer.Put("FTPVERIFY", &Settings::ftpVerify, s.ftpVerify);
  return writer.Commit() + mqtt_->Apply();
}

void InternetAccountsDialog::OnMailSecurity(wxCommandEvent&) {
  const int security = mailSecurity_->GetSelection();
  mailPort_->SetHint(wxString::Format("%u", SmtpClient::DefaultPort(security)));
}

void InternetAccountsDialog::OnTest(wxCommandEvent& event) {
  if (test_) {
    // The running test's button reads "Cancel test".
    test_->cancel.store(true);
    (test_->mail ? mailStatus_ : ftpStatus_)->SetLabel("Cancelling...");
    return;
  }
  auto test = std::make_shared<AccountTest>();
  test->dialog = this;
  test->mail = event.GetId() == kIdTestMail;
  test->settings = Edited();
  wxButton* button = test->mail ? testMail_ : testFtp_;
  wxStaticText* status = test->mail ? mailStatus_ : ftpStatus_;
  // The worker receives its own reference and drops it when done.
  auto* reference = new std::shared_ptr<AccountTest>(test);
  if (!StartThread(&InternetAccountsDialog::RunTest, reference, test->handle)) {
    delete reference;
    status->SetLabel("The test could not be started.");
    return;
  }
  test_ = std::move(test);
  button->SetLabel("Cancel test");
  (test_->mail ? testFtp_ : testMail_)->Disable();
  status->SetLabel(test_->mail ? "Sending a test mail..." : "Uploading a test file...");
}

void InternetAccountsDialog::RunTest(void* job) {
  const std::unique_ptr<std::shared_ptr<AccountTest>> reference(
      static_cast<std::shared_ptr<AccountTest>*>(job));
  AccountTest& test = **reference;
  test.result = test.mail ? SendTestMail(test.settings, &test.cancel)
                          : TestFtpUpload(test.settings, &test.cancel);
  // Queued for the user-interface thread. A dialog that has let go of the
  // test is not called; pending calls of a dialog go with it.
  std::lock_guard<std::mutex> lock(test.lock);
  if (InternetAccountsDialog* dialog = test.dialog) {
    const AccountTest* done = &test;
    dialog->CallAfter([dialog, done] { dialog->OnTestDone(done); });
  }
}

void InternetAccountsDialog::OnTestDone(const AccountTest* done) {
  // Only the test in hand: a stopped test has been let go already.
  if (!test_ || test_.get() != done) return;
  const std::shared_ptr<AccountTest> test = std::move(test_);
  const bool mail = test->mail;
  (mail ? testMail_ : testFtp_)->SetLabel(mail ? "Send test mail" : "Test FTP");
  (mail ? testFtp_ : testMail_)->Enable();
  // A short word beside the button; the whole result goes into the box.
  const bool cancelled = test->cancel.load();
  wxString summary = cancelled ? "Cancelled." : "Failed.";
  if (test->result.ok) summary = mail ? "Test mail sent." : "FTP account works.";
  (mail ? mailStatus_ : ftpStatus_)->SetLabel(summary);
  context_.PostMessageBox(test->result.message, mail ? "Send test mail" : "Test FTP",
                          kMsgOk | (test->result.ok ? kMsgIconInformation : kMsgIconError));
}

void InternetAccountsDialog::StopTest() {
  if (!test_) return;
  {
    std::lock_guard<std::mutex> lock(test_->lock);
    test_->dialog = nullptr;
  }
  test_->cancel.store(true);
  // Every wait of the test looks at the cancel flag; only a name lookup
  // cannot be cut short, and the worker then finishes on its own.
  WaitForThreadEnd(test_->handle, 10000, "account test");
  test_.reset();
}

void InternetAccountsDialog::OnAuthentication(wxCommandEvent&) {
  SmtpAuthDialog dialog(this, context_);
  dialog.ShowModal();
}

void InternetAccountsDialog::OnOk(wxCommandEvent&) {
  StopTest();
  Apply();
  FinishDialog(this, wxID_OK);
}

void InternetAccountsDialog::OnCancel(wxCommandEvent&) {
  StopTest();
  FinishDialog(this, wxID_CANCEL);
}

void InternetAccountsDialog::OnClose(wxCloseEvent& event) {
  StopTest();
  event.Skip();
}

}  // namespace qmr
