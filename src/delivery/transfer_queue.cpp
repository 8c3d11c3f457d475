#include "delivery/transfer_queue.h"

#include <cstdio>

#include "base/app_context.h"
#include "config/settings.h"
#include "delivery/dialup_connection.h"
#include "delivery/ftp_client.h"
#include "base/log_file.h"
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
  quit_.store(false);
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
  return WaitForThreadEnd(handle_, timeoutMs, "transfer");
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

void TransferQueue::ThreadMain(void* self) { static_cast<TransferQueue*>(self)->Run(); }

void TransferQueue::Run() {
  while (StopFlag.load() == 0 && !quit_.load()) {
    std::optional<TransferJob> job = queue_.Wait();
    if (!job || quit_.load()) break;
    switch (job->kind) {
      case TransferJob::kSendMail:
        SendMail(*job);
        break;
      case TransferJob::kUploadFile:
        UploadFile(*job);
        break;
      case TransferJob::kTick:
        Tick();
        break;
    }
    handled_.fetch_add(1);
  }
  DialupConnection& dialup = context_->Dialup();
  if (dialup.IsDialled()) dialup.HangUp();
  // Jobs still queued are dropped; later posts are refused.
  running_.store(false);
  queue_.Close();
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

void TransferQueue::SendMail(TransferJob& job) {
  if (!ConnectionStep()) return;
  const Settings settings = context_->Settings().Get();
  {
    SmtpClient client;
    client.SetReceiveTimeout(receiveTimeoutSeconds_);
    client.SetCancelFlag(&quit_);
    client.SetAccount(settings.mailServer, settings.authUser, settings.authPasswd);
    client.SetSecurity(settings.mailSecurity, settings.mailVerify);
    client.SendMail(*job.mail, settings.mailAuth);
  }
  if (context_->Dialup().IsDialled() && settings.hangup) idleCount_ = 0;
}

void TransferQueue::UploadFile(TransferJob& job) {
  if (!ConnectionStep()) return;
  const Settings settings = context_->Settings().Get();
  LogFile::Write("Prepare to FTP file " + job.localPath);
  {
    FtpClient client;
    client.SetCancelFlag(&quit_);
    client.SetOptions(settings.ftpMode, settings.ftpSecurity, settings.ftpVerify);
    if (!client.Connect(settings.ftpServer, settings.ftpUser, settings.ftpPasswd)) {
      LogFile::Write("Failed to connect FTP server.");
    } else {
      LogFile::Write("FTP server connected");
      if (!settings.ftpDir.empty()) {
        const bool changed = client.SetDirectory(settings.ftpDir);
        LogFile::Write(std::string("FTP switching remote directory ") +
                       (changed ? "succeeded." : "failed."));
      }
      const bool sent = client.Upload(job.localPath, job.remoteName);
      LogFile::Write(std::string("FTP transfer ") + (sent ? "OK." : "failed"));
    }
  }
  // The file was handed over with the job: it goes whatever happened above.
  std::remove(job.localPath.c_str());
  if (context_->Dialup().IsDialled() && settings.hangup) idleCount_ = 0;
}

void TransferQueue::Tick() {
  if (!context_->Dialup().IsDialled() || !context_->Settings().Get().hangup) return;
  ++idleCount_;
  if (idleCount_ > kIdleTicks) context_->Dialup().HangUp();
}

}  // namespace qmr
