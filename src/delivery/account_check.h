// The checks behind the accounts dialog's "Send test mail" and "Test FTP"
// buttons: one short mail, or one small file uploaded and deleted again,
// with the values given (which need not be saved yet). They run on a worker
// thread, log like real deliveries, and end early when cancel is set.
#pragma once

#include <atomic>
#include <string>

#include "config/settings.h"

namespace qmr {

struct AccountCheckResult {
  bool ok = false;
  // For the user: what happened, with the server's last reply on failure.
  std::string message;
};

// Sends a short mail from MAILFROM to every MAILTO address through
// MAILSERVER with the mail security, verification and login settings.
AccountCheckResult SendTestMail(const Settings& settings, const std::atomic<bool>* cancel,
                                int receiveTimeoutSeconds = 60);

// Uploads a small file into FTPDIR on FTPSERVER with the FTP mode, security
// and login settings, then deletes it there.
AccountCheckResult TestFtpUpload(const Settings& settings, const std::atomic<bool>* cancel);

}  // namespace qmr
