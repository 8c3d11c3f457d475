#include "delivery/transfer_queue.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "base/app_context.h"
#include "base/log_file.h"
#include "config/settings.h"
#include "delivery/dialup_connection.h"
#include "delivery/ftp_client.h"
#include "delivery/mail_message.h"
#include "delivery/smtp_client.h"
#include "platform/internet_check.h"

namespace qmr {

TransferQueue::TransferQueue() = default;

TransferQueue::~TransferQueue() {
  // The thread uses this object: it must be gone before the object is.
  if (running_.load() || handle_.load() != 0) {
    PostQuit();
    WaitForEnd(120000);
  }
}

bool TransferQueue::Start(AppContext& context) {
  if (running_.load() || handle_.load() != 0) return false;
  context_ = &context;
  idleCount_ = 0;
  lastJobEndMs_ = TickCount();
  quit_.store(false);
  cancel_.store(false);
  if (spool_.Folder().empty()) spool_.SetFolder(ApplicationFolder() + "/spool");
  queue_.Reset();
  // Posting is possible as soon as Start returns.
  running_.store(true);
  if (!StartThread(&TransferQueue::ThreadMain, this, handle_)) {
    running_.store(false);
    queue_.Close();
    return false;
  }
  return true;
}

void TransferQueue::PostQuit() {
  quit_.store(true);
  queue_.PostQuit();
}

bool TransferQueue::WaitForEnd(int timeoutMs) {
  // The job in hand may finish within the grace period; after it, it is
  // cancelled and its file goes to the spool.
  const int grace = timeoutMs < quitGraceMs_ ? timeoutMs : quitGraceMs_;
  if (WaitForThreadEnd(handle_, grace, "transfer")) return true;
  cancel_.store(true);
  return WaitForThreadEnd(handle_, timeoutMs - grace, "transfer");
}

bool TransferQueue::PostMailJob(std::unique_ptr<MailMessage> message) {
  if (!running_.load() || !message) return false;
  TransferJob job;
  job.kind = TransferJob::kSendMail;
  job.mail = std::move(message);
  return queue_.Post(std::move(job));
}

bool TransferQueue::PostUploadJob(const std::string& localPath, const std::string& remoteName) {
  if (!running_.load()) return false;
  TransferJob job;
  job.kind = TransferJob::kUploadFile;
  job.localPath = localPath;
  job.remoteName = remoteName;
  return queue_.Post(std::move(job));
}

bool TransferQueue::PostTick() {
  if (!running_.load()) return false;
  TransferJob job;
  job.kind = TransferJob::kTick;
  return queue_.Post(std::move(job));
}

bool TransferQueue::SpoolUpload(const std::string& localPath, const std::string& remoteName) {
  if (spool_.Folder().empty()) spool_.SetFolder(ApplicationFolder() + "/spool");
  const std::time_t now = std::time(nullptr);
  if (!spool_.AddUpload(localPath, remoteName, 0, now, now)) {
    LogFile::Write("The upload of " + localPath + " could not be kept in the spool " +
                   spool_.Folder());
    return false;
  }
  LogFile::Write("The upload of " + localPath + " waits in the spool " + spool_.Folder());
  return true;
}

bool TransferQueue::SpoolMail(const MailMessage& message) {
  if (spool_.Folder().empty()) spool_.SetFolder(ApplicationFolder() + "/spool");
  const std::time_t now = std::time(nullptr);
  if (!spool_.AddMail(message, 0, now, now)) {
    LogFile::Write("The mail could not be kept in the spool " + spool_.Folder());
    return false;
  }
  LogFile::Write("The mail waits in the spool " + spool_.Folder());
  return true;
}

void TransferQueue::ThreadMain(void* self) { static_cast<TransferQueue*>(self)->Run(); }

void TransferQueue::Run() {
  // What waited in the spool is tried first, in order.
  RetrySpooled(true);
  while (StopFlag.load() == 0 && !quit_.load()) {
    std::optional<TransferJob> job = queue_.Wait();
    if (!job) break;
    if (quit_.load() || StopFlag.load() != 0) {
      // Not started: kept for the next start.
      Spool(*job, 0);
      break;
    }
    switch (job->kind) {
      case TransferJob::kSendMail:
      case TransferJob::kUploadFile: {
        // Behind spooled jobs a new one waits its turn, so the order holds.
        if (!spool_.Pending().empty()) {
          Spool(*job, 0);
          RetrySpooled(false);
          break;
        }
        const bool sent = job->kind == TransferJob::kSendMail
                              ? SendMail(*job->mail)
                              : UploadFile(job->localPath, job->remoteName);
        if (sent) {
          if (job->kind == TransferJob::kUploadFile) std::remove(job->localPath.c_str());
        } else {
          Spool(*job, 1);
        }
        break;
      }
      case TransferJob::kTick:
        Tick();
        RetrySpooled(false);
        break;
    }
    if (job->kind != TransferJob::kTick) lastJobEndMs_ = TickCount();
    handled_.fetch_add(1);
  }
  DialupConnection& dialup = context_->Dialup();
  if (dialup.IsDialled()) dialup.HangUp();
  // Later posts are refused; what is still queued waits in the spool.
  running_.store(false);
  for (TransferJob& left : queue_.CloseAndTake()) Spool(left, 0);
}

std::time_t TransferQueue::PauseAfter(int attempts) const {
  if (retryPauses_.empty() || attempts <= 0) return 0;
  const std::size_t i =
      std::min<std::size_t>(static_cast<std::size_t>(attempts) - 1, retryPauses_.size() - 1);
  return retryPauses_[i];
}

void TransferQueue::Spool(TransferJob& job, int attempts) {
  const std::time_t now = std::time(nullptr);
  const std::time_t next = now + PauseAfter(attempts);
  if (job.kind == TransferJob::kUploadFile) {
    if (!spool_.AddUpload(job.localPath, job.remoteName, attempts, now, next)) {
      LogFile::Write("The upload of " + job.localPath + " could not be kept in the spool " +
                     spool_.Folder() + "; the file stays where it is");
    }
  } else if (job.kind == TransferJob::kSendMail && job.mail) {
    if (!spool_.AddMail(*job.mail, attempts, now, next)) {
      LogFile::Write("The mail to " + job.mail->RecipientList() +
                     " could not be kept in the spool " + spool_.Folder());
    }
  }
}

void TransferQueue::RetrySpooled(bool all) {
  for (SpoolJob& job : spool_.Pending()) {
    if (quit_.load() || StopFlag.load() != 0) return;
    const std::time_t now = std::time(nullptr);
    if (job.attempts > 0 && now - job.first >= giveUpSeconds_) {
      spool_.GiveUp(job);
      LogFile::Write("Delivery given up after " + std::to_string(job.attempts) +
                     " tries; the file stays in the spool: " + job.dataPath);
      continue;
    }
    // At start every job is due once; later only at its time, and the ones
    // behind it wait.
    if (!all && job.next > now) return;
    bool sent = false;
    if (job.kind == SpoolJob::Kind::kUpload) {
      sent = UploadFile(job.dataPath, job.remoteName);
    } else {
      std::ifstream in(job.dataPath, std::ios::binary);
      const std::string text((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
      MailMessage mail;
      if (mail.Restore(job.sender, job.recipients, text)) sent = SendMail(mail);
    }
    if (sent) {
      LogFile::Write("Delivered from the spool: " + job.dataPath);
      spool_.Remove(job);
      continue;
    }
    if (cancel_.load()) return;  // cut short by the quit: not a failed try
    ++job.attempts;
    if (job.attempts == 1) job.first = now;
    job.next = now + PauseAfter(job.attempts);
    spool_.Update(job);
    return;
  }
}
bool TransferQueue::ConnectionStep() {
  const bool online = internetCheck_ ? internetCheck_() : HasInternetConnection();
  if (online) return true;
  const std::string entry = context_->Settings().Get().dialup;
  if (entry.empty()) {
    LogFile::Write("No internet connection is avaliable to send mail.");
    return false;
  }
  DialupConnection& dialup = context_->Dialup();
  if (!dialup.Dial(entry)) {
    dialup.HangUp();
    LogFile::Write("Failed to connect to internet via " + entry);
    return false;
  }
  return true;
}

bool TransferQueue::SendMail(const MailMessage& mail) {
  std::string to;
  for (const auto& [address, recipient] : mail.Recipients())
    to += (to.empty() ? "" : ", ") + address;
  if (!ConnectionStep()) {
    LogFile::Write("Mail to " + to + " failed: no internet connection");
    return false;
  }
  const Settings settings = context_->Settings().Get();
  bool sent = false;
  {
    SmtpClient client;
    client.SetReceiveTimeout(receiveTimeoutSeconds_);
    client.SetCancelFlag(&cancel_);
    client.SetAccount(settings.mailServer, settings.authUser, settings.authPasswd);
    client.SetSecurity(settings.mailSecurity, settings.mailVerify);
    sent = client.SendMail(mail, settings.mailAuth);
    if (!sent) {
      std::string reply = client.LastReply();
      while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r')) reply.pop_back();
      LogFile::Write("Mail to " + to + " failed: " +
                     (cancel_.load()  ? std::string("cancelled at quit")
                      : reply.empty() ? "no reply from " + settings.mailServer
                                      : reply));
    }
  }
  if (context_->Dialup().IsDialled() && settings.hangup) idleCount_ = 0;
  return sent;
}

bool TransferQueue::UploadFile(const std::string& localPath, const std::string& remoteName) {
  if (!ConnectionStep()) {
    LogFile::Write("Upload of " + localPath + " failed: no internet connection");
    return false;
  }
  const Settings settings = context_->Settings().Get();
  LogFile::Write("Prepare to FTP file " + localPath);
  bool sent = false;
  {
    FtpClient client;
    client.SetCancelFlag(&cancel_);
    client.SetOptions(settings.ftpMode, settings.ftpSecurity, settings.ftpVerify);
    if (!client.Connect(settings.ftpServer, settings.ftpUser, settings.ftpPasswd)) {
      LogFile::Write("Failed to connect FTP server.");
      LogFile::Write("Upload of " + localPath + " to " + settings.ftpServer +
                     " failed: no connection");
    } else {
      LogFile::Write("FTP server connected");
      if (!settings.ftpDir.empty()) {
        const bool changed = client.SetDirectory(settings.ftpDir);
        LogFile::Write(std::string("FTP switching remote directory ") +
                       (changed ? "succeeded." : "failed."));
      }
      sent = client.Upload(localPath, remoteName);
      LogFile::Write(std::string("FTP transfer ") + (sent ? "OK." : "failed"));
      if (!sent) {
        LogFile::Write("Upload of " + localPath + " to " + settings.ftpServer + " failed: " +
                       (cancel_.load() ? "cancelled at quit" : "the transfer did not complete"));
      }
    }
  }
  if (context_->Dialup().IsDialled() && settings.hangup) idleCount_ = 0;
  return sent;
}

void TransferQueue::Tick() {
  if (!context_->Dialup().IsDialled() || !context_->Settings().Get().hangup) return;
  ++idleCount_;
  const auto idleMs = static_cast<std::uint32_t>(TickCount() - lastJobEndMs_);
  if (idleCount_ > kIdleTicks && idleMs >= idleHangUpMs_) context_->Dialup().HangUp();
}

}  // namespace qmr
