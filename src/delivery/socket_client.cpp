#include "delivery/socket_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/log_file.h"
#include "base/process.h"
#include "delivery/tls_channel.h"

namespace qmr {

bool SplitHostPort(const std::string& text, std::string& host, int& port) {
  host = TrimSpaces(text);
  const std::size_t colon = host.rfind(':');
  if (colon != std::string::npos && host.find(':') == colon) {
    const std::string digits = host.substr(colon + 1);
    bool numeric = !digits.empty() && digits.size() <= 5;
    for (char c : digits) numeric = numeric && c >= '0' && c <= '9';
    if (numeric) {
      const int value = std::stoi(digits);
      if (value >= 1 && value <= 65535) {
        port = value;
        host = TrimSpaces(host.substr(0, colon));
      }
    }
  }
  return !host.empty();
}

SocketClient::SocketClient() = default;

SocketClient::~SocketClient() { Close(); }

namespace {

bool SetBlocking(int fd, bool blocking) {
  const int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0) return false;
  const int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  return fcntl(fd, F_SETFL, wanted) == 0;
}

}  // namespace

SocketClient::Deadline SocketClient::ReceiveDeadline() const {
  const int seconds = receiveTimeoutSeconds_ > 0 ? receiveTimeoutSeconds_ : 60;
  return std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
}

bool SocketClient::WaitReady(int fd, short events, Deadline deadline) const {
  using namespace std::chrono;
  for (;;) {
    if (fd < 0) return false;
    // A cancel flag, when set up, decides alone (a quit lets the mail in
    // hand finish); otherwise a stop request ends the wait.
    if (cancel_ != nullptr ? cancel_->load() : StopFlag.load() != 0) return false;
    const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, events, 0};
    const int ready = poll(&p, 1, static_cast<int>(left < 200 ? left : 200));
    if (ready < 0 && errno != EINTR) return false;
    // An error or hang-up is "ready" too: the next call reports it.
    if (ready > 0) return true;
  }
}

bool SocketClient::Connect(const std::string& host, std::uint32_t port,
                           std::uint32_t timeoutSeconds) {
  connectTimeout_ = timeoutSeconds;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* answer = nullptr;
    if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &answer) != 0 ||
        answer == nullptr) {
      if (answer) freeaddrinfo(answer);
      LogFile::Writef("DNS failed to locate host %s\n", host.c_str());
      return false;
    }
    address.sin_addr = reinterpret_cast<sockaddr_in*>(answer->ai_addr)->sin_addr;
    freeaddrinfo(answer);
  }
  host_ = host;
  port_ = port;
  Close();

  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    LogFile::Write("failed to open new socket\n");
    return false;
  }
  linger off{};
  off.l_onoff = 0;
  if (setsockopt(fd, SOL_SOCKET, SO_LINGER, &off, sizeof(off)) != 0) {
    LogFile::Write("failed to close sock linger\n");
  }

  // The socket stays non-blocking for good: every later wait is a poll with
  // a limit, so that neither a silent server nor a stalled handshake can
  // hold the thread.
  bool connected = false;
  if (SetBlocking(fd, false)) {
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
      connected = true;
    } else if (errno == EINPROGRESS) {
      const Deadline deadline =
          std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
      if (WaitReady(fd, POLLOUT, deadline)) {
        int pending = -1;
        socklen_t size = sizeof(pending);
        connected = getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &size) == 0 && pending == 0;
      }
    }
  }
  if (!connected) {
    shutdown(fd, SHUT_RDWR);
    close(fd);
    LogFile::Writef("Failed to connect server at %s:%d\n", host_.c_str(), static_cast<int>(port_));
    return false;
  }
  socket_ = fd;
  LogFile::Writef("Server %s:%d connected\n", host_.c_str(), static_cast<int>(port_));
  return true;
}

bool SocketClient::StartTls(bool verify) {
  if (socket_ < 0 || tls_) return false;
  auto channel = std::make_unique<TlsChannel>();
  bool done = channel->Begin(socket_, host_, verify);
  const Deadline deadline = ReceiveDeadline();
  bool timedOut = false;
  while (done) {
    const TlsChannel::Status status = channel->Handshake();
    if (status == TlsChannel::Status::kDone) break;
    if (status != TlsChannel::Status::kWantRead && status != TlsChannel::Status::kWantWrite) {
      done = false;
      break;
    }
    if (!WaitReady(socket_, status == TlsChannel::Status::kWantRead ? POLLIN : POLLOUT, deadline)) {
      done = false;
      timedOut = true;
    }
  }
  if (!done) {
    std::string reason = channel->Error();
    if (timedOut) {
      const bool stopped = cancel_ != nullptr ? cancel_->load() : StopFlag.load() != 0;
      reason = stopped ? "stopped" : "no answer in time";
    }
    LogFile::Writef("TLS handshake with %s:%d failed: %s\n", host_.c_str(), static_cast<int>(port_),
                    reason.c_str());
    Close();
    return false;
  }
  LogFile::Writef("TLS established with %s:%d (%s)\n", host_.c_str(), static_cast<int>(port_),
                  channel->Description().c_str());
  tls_ = std::move(channel);
  return true;
}

bool SocketClient::IsEncrypted() const { return tls_ != nullptr; }

std::int32_t SocketClient::Send(const void* data, std::int32_t length) {
  if (data == nullptr || length < 1 || socket_ < 0) return -1;
  std::lock_guard<std::mutex> lock(sendLock_);
  const char* bytes = static_cast<const char*>(data);
  std::int32_t sent = 0;
  // The limit restarts whenever some bytes got through.
  Deadline deadline = ReceiveDeadline();
  while (sent < length) {
    short waitFor = POLLOUT;
    int moved = 0;
    if (tls_) {
      const TlsChannel::Status status = tls_->Write(bytes + sent, length - sent, moved);
      if (status == TlsChannel::Status::kWantRead)
        waitFor = POLLIN;
      else if (status != TlsChannel::Status::kDone && status != TlsChannel::Status::kWantWrite)
        return sent > 0 ? sent : -1;
    } else {
      const ssize_t n =
          send(socket_, bytes + sent, static_cast<size_t>(length - sent), MSG_NOSIGNAL);
      if (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
        return sent > 0 ? sent : -1;
      }
      if (n == 0) return sent > 0 ? sent : -1;
      moved = n > 0 ? static_cast<int>(n) : 0;
    }
    if (moved > 0) {
      sent += moved;
      deadline = ReceiveDeadline();
      continue;
    }
    if (!WaitReady(socket_, waitFor, deadline)) return sent > 0 ? sent : -1;
  }
  return sent;
}

std::int32_t SocketClient::Receive(void* buffer, std::int32_t capacity) {
  return ReceiveBefore(buffer, capacity, ReceiveDeadline());
}

std::int32_t SocketClient::ReceiveBefore(void* buffer, std::int32_t capacity, Deadline deadline) {
  if (buffer == nullptr || capacity < 1 || socket_ < 0) return -1;
  std::memset(buffer, 0, static_cast<size_t>(capacity));
  for (;;) {
    short waitFor = POLLIN;
    if (tls_) {
      int count = 0;
      const TlsChannel::Status status = tls_->Read(buffer, capacity, count);
      if (status == TlsChannel::Status::kDone) return count;
      if (status == TlsChannel::Status::kClosed) return 0;
      if (status == TlsChannel::Status::kWantWrite)
        waitFor = POLLOUT;
      else if (status != TlsChannel::Status::kWantRead)
        return -1;
    } else {
      const ssize_t n = recv(socket_, buffer, static_cast<size_t>(capacity), 0);
      if (n >= 0) return static_cast<std::int32_t>(n);
      if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    }
    // Wait in short slices so that a stop request or a cancellation is seen
    // while a silent server keeps us waiting.
    if (!WaitReady(socket_, waitFor, deadline)) return -1;
  }
}

void SocketClient::Close() {
  if (socket_ < 0) return;
  if (tls_) {
    tls_->End();
    tls_.reset();
  }
  const int fd = socket_;
  socket_ = -1;
  shutdown(fd, SHUT_RDWR);
  close(fd);
}

}  // namespace qmr
