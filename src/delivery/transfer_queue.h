// The transfer thread and its job queue: composed mails to send and local
// files to upload, handled one at a time in arrival order on one background
// thread, dialling the configured dial-up entry when there is no internet
// connection and hanging a line it dialled up again when it has been idle.
// A job that fails, and every job still queued at quit, goes to the spool
// (TransferSpool) and is tried again at the next start and after growing
// pauses, in order, for up to a day.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/message_queue.h"
#include "base/process.h"
#include "delivery/transfer_spool.h"

namespace qmr {

class AppContext;
class MailMessage;

struct TransferJob {
  enum Kind : int {
    kSendMail = 1227,
    kUploadFile = 1228,
    kTick = 1954,
  };
  Kind kind = kTick;
  std::unique_ptr<MailMessage> mail;  // kSendMail
  std::string localPath;              // kUploadFile
  std::string remoteName;             // kUploadFile
};

class TransferQueue {
 public:
  // Ticks without a job after which a dialled line is hung up (the 17th),
  // and at least this long after the last job ended: ticks queued behind a
  // long job come in a burst and must not hang up at once.
  static constexpr int kIdleTicks = 16;
  // How long a quit lets the job in hand go on before cancelling it.
  static constexpr int kQuitGraceMs = 30000;
  // Pauses before the 1st, 2nd, 3rd and every later retry, and the age at
  // which a spooled job is given up (kept in the spool, no longer tried).
  static constexpr int kRetrySeconds[] = {60, 300, 900, 3600};
  static constexpr int kGiveUpSeconds = 86400;
  static constexpr std::uint32_t kIdleHangUpMs = 8500;

  TransferQueue();
  virtual ~TransferQueue();
  TransferQueue(const TransferQueue&) = delete;
  TransferQueue& operator=(const TransferQueue&) = delete;

  // Starts the transfer thread with the application's settings and dial-up
  // line. False when it runs already or could not be started.
  bool Start(AppContext& context);
  // Asks the thread to end after the job in hand; queued jobs go to the
  // spool.
  void PostQuit();
  // Waits for the thread to end, at most timeoutMs; after kQuitGraceMs of
  // it the job in hand is cancelled (its file kept in the spool). True when
  // the thread has ended (or never ran).
  bool WaitForEnd(int timeoutMs);
  bool IsRunning() const { return running_.load(); }

  // Posting never blocks. False when no transfer thread runs: the message is
  // then destroyed and the file left in place.
  bool PostMailJob(std::unique_ptr<MailMessage> message);
  bool PostUploadJob(const std::string& localPath, const std::string& remoteName);
  bool PostTick();

  // The spool, for a job that cannot be posted (no transfer thread): kept
  // for the next start. False when it could not be kept.
  bool SpoolUpload(const std::string& localPath, const std::string& remoteName);
  bool SpoolMail(const MailMessage& message);
  // Where the spool is ("ApplicationFolder/spool" unless set; before Start).
  void SetSpoolFolder(const std::string& folder) { spool_.SetFolder(folder); }
  std::string SpoolFolder() const { return spool_.Folder(); }
  // For tests: the pauses between retries (seconds, the last repeats) and
  // the give-up age; and the clock.
  void SetQuitGrace(int ms) { quitGraceMs_ = ms; }
  void SetRetryPolicy(std::vector<int> pauses, int giveUpSeconds) {
    retryPauses_ = std::move(pauses);
    giveUpSeconds_ = giveUpSeconds;
  }

  // For tests, before Start: the internet-connection test (default: a
  // default route on an interface that is up) and the receive time-out of
  // the mail dialogue.
  void SetInternetCheck(std::function<bool()> check) { internetCheck_ = std::move(check); }
  void SetReceiveTimeout(int seconds) { receiveTimeoutSeconds_ = seconds; }
  // Messages handled so far (jobs and ticks), for tests that wait for them.
  std::uint64_t HandledCount() const { return handled_.load(); }

 private:
  static void ThreadMain(void* self);
  void Run();
  bool ConnectionStep();
  bool SendMail(const MailMessage& mail);
  bool UploadFile(const std::string& localPath, const std::string& remoteName);
  void Tick();
  // Keeps a job for later (attempts failed tries so far).
  void Spool(TransferJob& job, int attempts);
  // Tries the spooled jobs that are due, oldest first, stopping at the first
  // that is not due or fails again.
  void RetrySpooled(bool all);
  std::time_t PauseAfter(int attempts) const;

  MessageQueue<TransferJob> queue_;
  ThreadHandle handle_{0};
  std::atomic<bool> running_{false};
  std::atomic<bool> quit_{false};
  std::atomic<bool> cancel_{false};  // the job in hand gives up
  std::atomic<std::uint64_t> handled_{0};
  AppContext* context_ = nullptr;
  std::function<bool()> internetCheck_;
  int receiveTimeoutSeconds_ = 60;
  int idleCount_ = 0;  // transfer thread only
  TransferSpool spool_;
  std::vector<int> retryPauses_{kRetrySeconds, kRetrySeconds + 4};
  int giveUpSeconds_ = kGiveUpSeconds;
  int quitGraceMs_ = kQuitGraceMs;
  std::uint32_t lastJobEndMs_ = 0;  // transfer thread only
  std::uint32_t idleHangUpMs_ = kIdleHangUpMs;

 public:
  // Tests shorten the idle time before a hang-up; set before Start.
  void SetIdleHangUpMs(std::uint32_t ms) { idleHangUpMs_ = ms; }
};

}  // namespace qmr
