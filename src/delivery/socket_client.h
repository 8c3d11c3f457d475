// A small blocking TCP client: connects with a time-out, then sends and
// receives plain bytes. The mail sender is built on it. Connection successes
// and failures are written to the log file.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace qmr {

// Splits "host:port" into its parts. Text without a port (or with a port that
// is not a number from 1 to 65535) leaves port unchanged and gives the whole
// trimmed text as host. False when the host part is empty.
bool SplitHostPort(const std::string& text, std::string& host, int& port);

class SocketClient {
 public:
  SocketClient() = default;
  virtual ~SocketClient();
  SocketClient(const SocketClient&) = delete;
  SocketClient& operator=(const SocketClient&) = delete;

  // Resolves host (a dotted IPv4 address is used as it is, anything else is
  // looked up by name) and connects within timeoutSeconds. Afterwards the
  // socket blocks. Logs the outcome.
  bool Connect(const std::string& host, std::uint32_t port, std::uint32_t timeoutSeconds);
  // Sends the whole buffer (continuing partial sends) under the send lock.
  // Returns the bytes sent, or -1 on error, with no socket or no data.
  std::int32_t Send(const void* data, std::int32_t length);
  // One receive of up to capacity bytes (the buffer is zeroed first). Returns
  // the byte count, 0 when the peer closed, negative on error, time-out,
  // cancellation or when no socket is open.
  std::int32_t Receive(void* buffer, std::int32_t capacity);
  // Shuts the connection down and closes the socket, if one is open.
  void Close();

  // How long one Receive (or one blocked Send) may wait; 60 s by default.
  void SetReceiveTimeout(int seconds) { receiveTimeoutSeconds_ = seconds; }
  // A flag that, once set, makes a waiting Receive give up early (besides
  // the process-wide StopFlag). May be null.
  void SetCancelFlag(const std::atomic<bool>* cancel) { cancel_ = cancel; }

  const std::string& Host() const { return host_; }
  std::uint32_t Port() const { return port_; }
  bool IsOpen() const { return socket_ >= 0; }

 protected:
  std::string host_;

 private:
  std::uint32_t port_ = 0;
  int socket_ = -1;
  std::uint32_t connectTimeout_ = 0;
  int receiveTimeoutSeconds_ = 60;
  const std::atomic<bool>* cancel_ = nullptr;
  std::mutex sendLock_;
};

}  // namespace qmr
