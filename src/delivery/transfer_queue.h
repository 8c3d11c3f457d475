// The transfer thread and its job queue: composed mails to send and local
// files to upload, handled one at a time in arrival order on one background
// thread, dialling the configured dial-up entry when there is no internet
// connection and hanging a line it dialled up again when it has been idle.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/message_queue.h"
#include "base/process.h"

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
  static constexpr std::uint32_t kIdleHangUpMs = 8500;

  TransferQueue();
  virtual ~TransferQueue();
  TransferQueue(const TransferQueue&) = delete;
  TransferQueue& operator=(const TransferQueue&) = delete;

  // Starts the transfer thread with the application's settings and dial-up
  // line. False when it runs already or could not be started.
  bool Start(AppContext& context);
  // Asks the thread to end after the job in hand (queued jobs are dropped).
  void PostQuit();
  // Waits for the thread to end, at most timeoutMs; true when it has ended
  // (or never ran).
  bool WaitForEnd(int timeoutMs);
  bool IsRunning() const { return running_.load(); }

  // Posting never blocks. False when no transfer thread runs: the message is
  // then destroyed and the file left in place.
  bool PostMailJob(std::unique_ptr<MailMessage> message);
  bool PostUploadJob(const std::string& localPath, const std::string& remoteName);
  bool PostTick();

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
  void SendMail(TransferJob& job);
  void UploadFile(TransferJob& job);
  void Tick();

  MessageQueue<TransferJob> queue_;
  ThreadHandle handle_{0};
  std::atomic<bool> running_{false};
  std::atomic<bool> quit_{false};
  std::atomic<std::uint64_t> handled_{0};
  AppContext* context_ = nullptr;
  std::function<bool()> internetCheck_;
  int receiveTimeoutSeconds_ = 60;
  int idleCount_ = 0;  // transfer thread only
  std::uint32_t lastJobEndMs_ = 0;  // transfer thread only
  std::uint32_t idleHangUpMs_ = kIdleHangUpMs;

 public:
  // Tests shorten the idle time before a hang-up; set before Start.
  void SetIdleHangUpMs(std::uint32_t ms) { idleHangUpMs_ = ms; }
};

}  // namespace qmr
