// A small TCP client: connects with a time-out, then sends and receives
// bytes, in clear or, after StartTls, encrypted. Every wait (connect, TLS
// handshake, send, receive) has a time limit and ends early on the stop
// request or the client's cancel flag. The mail sender is built on it.
// Connection successes and failures are written to the log file.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace qmr {

// Splits "host:port" into its parts. Text without a port (or with a port that
// is not a number from 1 to 65535) leaves port unchanged and gives the whole
// trimmed text as host. False when the host part is empty.
bool SplitHostPort(const std::string& text, std::string& host, int& port);

class TlsChannel;

class SocketClient {
 public:
  using Deadline = std::chrono::steady_clock::time_point;

  SocketClient();
  virtual ~SocketClient();
  SocketClient(const SocketClient&) = delete;
  SocketClient& operator=(const SocketClient&) = delete;

  // Resolves host (a dotted IPv4 address is used as it is, anything else is
  // looked up by name) and connects within timeoutSeconds. Logs the outcome.
  bool Connect(const std::string& host, std::uint32_t port, std::uint32_t timeoutSeconds);
  // Encrypts the connection from here on: the TLS handshake must end within
  // the receive time-out. With verify the server's certificate must be
  // trusted and name the host given to Connect. Logs the outcome; on failure
  // the connection is closed.
  bool StartTls(bool verify);
  bool IsEncrypted() const;
  // Sends the whole buffer (continuing partial sends) under the send lock.
  // Returns the bytes sent, or -1 on error, with no socket or no data.
  std::int32_t Send(const void* data, std::int32_t length);
  // One receive of up to capacity bytes (the buffer is zeroed first). Returns
  // the byte count, 0 when the peer closed, negative on error, time-out,
  // cancellation or when no socket is open.
  std::int32_t Receive(void* buffer, std::int32_t capacity);
  // The same, giving up at deadline rather than after the receive time-out.
  std::int32_t ReceiveBefore(void* buffer, std::int32_t capacity, Deadline deadline);
  // Shuts the connection down and closes the socket, if one is open.
  void Close();

  // How long one Receive, one blocked Send or the TLS handshake may wait;
  // 60 s by default.
  void SetReceiveTimeout(int seconds) { receiveTimeoutSeconds_ = seconds; }
  // A flag that, once set, makes a waiting Receive give up early (besides
  // the process-wide StopFlag). May be null.
  void SetCancelFlag(const std::atomic<bool>* cancel) { cancel_ = cancel; }

  const std::string& Host() const { return host_; }
  std::uint32_t Port() const { return port_; }
  bool IsOpen() const { return socket_ >= 0; }
  // The receive time-out from now.
  Deadline ReceiveDeadline() const;

 protected:
  std::string host_;

 private:
  std::uint32_t port_ = 0;
  int socket_ = -1;
  std::uint32_t connectTimeout_ = 0;
  int receiveTimeoutSeconds_ = 60;
  const std::atomic<bool>* cancel_ = nullptr;
  std::mutex sendLock_;
  std::unique_ptr<TlsChannel> tls_;  // set while the connection is encrypted

  // Waits until fd is ready for events (POLLIN or POLLOUT), in short slices
  // that look at the stop request and the cancel flag. False on time-out,
  // stop, cancellation or error.
  bool WaitReady(int fd, short events, Deadline deadline) const;
};

}  // namespace qmr
