// Uploads one local file to an FTP server, binary, over one reused
// connection: Connect (log in), SetDirectory, Upload. The data connection is
// passive, active, or passive with a fall-back to active; the control and
// data connections may be protected by TLS (explicit AUTH TLS or implicit
// FTPS). No proxy is ever used. Each step is written to the log.
#pragma once

#include <atomic>
#include <memory>
#include <string>

namespace qmr {

class FtpClient {
 public:
  static constexpr int kDefaultPort = 21;
  static constexpr int kImplicitTlsPort = 990;

  // The data connection (the FTPMODE setting).
  enum Mode : int { kPassiveThenActive = 0, kActive = 1, kPassive = 2 };
  // Protection (the FTPSECURITY setting).
  enum Security : int { kSecurityNone = 0, kSecurityExplicitTls = 1, kSecurityImplicitTls = 2 };

  FtpClient();
  virtual ~FtpClient();
  FtpClient(const FtpClient&) = delete;
  FtpClient& operator=(const FtpClient&) = delete;

  // Before Connect: data connection mode, TLS, and whether the server's
  // certificate and name are checked (against the system's trust store, or
  // the file named by SSL_CERT_FILE). Other values count as the defaults.
  void SetOptions(int mode, int security, bool verify);

  // server may carry a port as "host:port" (21, or 990 for implicit FTPS,
  // otherwise). Logs in; on
  // failure logs the server's last response, when there was one.
  bool Connect(const std::string& server, const std::string& user, const std::string& password);
  // Changes the remote directory (relative to the current one, or absolute
  // when it starts with "/"). False when not connected or refused.
  bool SetDirectory(const std::string& directory);
  // Stores the local file under remoteName in the current remote directory.
  // True only when every byte was written.
  bool Upload(const std::string& localPath, const std::string& remoteName);
  // Deletes a file of the current remote directory.
  bool Delete(const std::string& remoteName);

  // The server's last response line (or curl's reason when there was none).
  std::string LastResponse() const;

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
