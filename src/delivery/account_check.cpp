#include "delivery/account_check.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "base/log_file.h"
#include "base/process.h"
#include "delivery/ftp_client.h"
#include "delivery/mail_message.h"
#include "delivery/smtp_client.h"

namespace qmr {

namespace {

bool Cancelled(const std::atomic<bool>* cancel) { return cancel != nullptr && cancel->load(); }

std::string OrNone(const std::string& text) {
  return text.empty() ? std::string("(no answer)") : text;
}

}  // namespace

AccountCheckResult SendTestMail(const Settings& settings, const std::atomic<bool>* cancel,
                                int receiveTimeoutSeconds) {
  AccountCheckResult result;
  if (TrimSpaces(settings.mailServer).empty()) {
    result.message = "Please enter the SMTP server.";
    return result;
  }
  MailMessage mail;
  mail.sender = TrimSpaces(settings.mailFrom);
  mail.subject = "Quelmar Video Capture test mail";
  mail.body =
      "This is a test mail sent from the internet account settings of Quelmar Video Capture.\n"
      "Mails about motion will arrive the same way.";
  if (!mail.AddRecipient(settings.mailTo) || !mail.Compose()) {
    result.message =
        "Please enter a sender address (Mail from) and at least one address to "
        "mail to (Mail to).";
    return result;
  }
  LogFile::Write("Sending a test mail to " + mail.RecipientList());
  SmtpClient client;
  client.SetReceiveTimeout(receiveTimeoutSeconds);
  client.SetCancelFlag(cancel);
  client.SetAccount(settings.mailServer, settings.authUser, settings.authPasswd);
  client.SetSecurity(settings.mailSecurity, settings.mailVerify);
  result.ok = client.SendMail(mail, settings.mailAuth);
  if (result.ok) {
    result.message = "The test mail was accepted by the mail server for " +
                     std::to_string(mail.Recipients().size()) + " recipient(s).";
  } else if (Cancelled(cancel)) {
    result.message = "The test mail was cancelled.";
  } else {
    result.message = "The test mail was not sent.\n\nLast answer: " + OrNone(client.LastReply());
  }
  return result;
}

AccountCheckResult TestFtpUpload(const Settings& settings, const std::atomic<bool>* cancel) {
  AccountCheckResult result;
  if (TrimSpaces(settings.ftpServer).empty()) {
    result.message = "Please enter the FTP server.";
    return result;
  }
  // A small local file, removed again whatever happens.
  char path[] = "/tmp/qmr-ftp-test-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) {
    result.message = "Cannot write the test file.";
    return result;
  }
  static const char kText[] = "Quelmar Video Capture FTP test file\n";
  const bool written =
      write(fd, kText, sizeof(kText) - 1) == static_cast<ssize_t>(sizeof(kText) - 1);
  close(fd);
  const std::string remoteName =
      "qmr-test-" + std::to_string(getpid()) + "-" + std::to_string(TickCount()) + ".txt";

  FtpClient client;
  client.SetCancelFlag(cancel);
  client.SetOptions(settings.ftpMode, settings.ftpSecurity, settings.ftpVerify);
  LogFile::Write("Testing the FTP account with " + remoteName);
  if (!written) {
    result.message = "Cannot write the test file.";
  } else if (!client.Connect(settings.ftpServer, settings.ftpUser, settings.ftpPasswd)) {
    result.message =
        "Cannot log in to the FTP server.\n\nLast answer: " + OrNone(client.LastResponse());
  } else if (!settings.ftpDir.empty() && !client.SetDirectory(settings.ftpDir)) {
    result.message = "The remote folder " + settings.ftpDir +
                     " cannot be opened.\n\nLast answer: " + OrNone(client.LastResponse());
  } else if (!client.Upload(path, remoteName)) {
    result.message =
        "The test file could not be uploaded.\n\nLast answer: " + OrNone(client.LastResponse());
  } else if (!client.Delete(remoteName)) {
    result.ok = true;
    result.message = "The test file " + remoteName +
                     " was uploaded, but it could not be deleted again.\n\nLast answer: " +
                     OrNone(client.LastResponse());
  } else {
    result.ok = true;
    result.message = "The FTP account works: a test file was uploaded and deleted again.";
  }
  if (!result.ok && Cancelled(cancel)) result.message = "The FTP test was cancelled.";
  std::remove(path);
  return result;
}

}  // namespace qmr
