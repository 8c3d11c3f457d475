// Uploads one local file to an FTP server in active mode, binary, over one
// reused connection: Connect (log in), SetDirectory, Upload. Each step is
// written to the log.
#pragma once

#include <atomic>
#include <memory>
#include <string>

namespace qmr {

class FtpClient {
 public:
  static constexpr int kDefaultPort = 21;

  FtpClient();
  virtual ~FtpClient();
  FtpClient(const FtpClient&) = delete;
  FtpClient& operator=(const FtpClient&) = delete;

  // server may carry a port as "host:port" (21 otherwise). Logs in; on
  // failure logs the server's last response, when there was one.
  bool Connect(const std::string& server, const std::string& user, const std::string& password);
  // Changes the remote directory (relative to the current one, or absolute
  // when it starts with "/"). False when not connected or refused.
  bool SetDirectory(const std::string& directory);
  // Stores the local file under remoteName in the current remote directory.
  // True only when every byte was written.
  bool Upload(const std::string& localPath, const std::string& remoteName);

  // A flag that, once set, aborts a transfer in progress (besides StopFlag).
  void SetCancelFlag(const std::atomic<bool>* cancel) { cancel_ = cancel; }
  // Limits for waiting on the server (seconds); for tests.
  void SetTimeouts(int connectSeconds, int idleSeconds);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  const std::atomic<bool>* cancel_ = nullptr;
};

}  // namespace qmr
