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

#include "base/process.h"
#include "base/log_file.h"

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

SocketClient::~SocketClient() { Close(); }

namespace {

bool SetBlocking(int fd, bool blocking) {
  const int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0) return false;
  const int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  return fcntl(fd, F_SETFL, wanted) == 0;
}

}  // namespace

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

  bool connected = false;
  if (SetBlocking(fd, false)) {
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
      connected = true;
    } else if (errno == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      const std::int64_t limitMs = static_cast<std::int64_t>(timeoutSeconds) * 1000;
      const int waitMs = limitMs > 0x7fffffff ? 0x7fffffff : static_cast<int>(limitMs);
      int ready;
      do {
        ready = poll(&p, 1, waitMs);
      } while (ready < 0 && errno == EINTR);
      if (ready == 1) {
        int pending = -1;
        socklen_t size = sizeof(pending);
        connected = getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &size) == 0 && pending == 0;
      }
    }
  }
  if (!connected || !SetBlocking(fd, true)) {
    shutdown(fd, SHUT_RDWR);
    close(fd);
    LogFile::Writef("Failed to connect server at %s:%d\n", host_.c_str(), static_cast<int>(port_));
    return false;
  }
  // A blocked send must not hold the thread for ever either.
  timeval limit{};
  limit.tv_sec = receiveTimeoutSeconds_ > 0 ? receiveTimeoutSeconds_ : 60;
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
  socket_ = fd;
  LogFile::Writef("Server %s:%d connected\n", host_.c_str(), static_cast<int>(port_));
  return true;
}

std::int32_t SocketClient::Send(const void* data, std::int32_t length) {
  if (data == nullptr || length < 1 || socket_ < 0) return -1;
  std::lock_guard<std::mutex> lock(sendLock_);
  const char* bytes = static_cast<const char*>(data);
  std::int32_t sent = 0;
  while (sent < length) {
    const ssize_t n = send(socket_, bytes + sent, static_cast<size_t>(length - sent), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return sent > 0 ? sent : -1;
    sent += static_cast<std::int32_t>(n);
  }
  return sent;
}

std::int32_t SocketClient::Receive(void* buffer, std::int32_t capacity) {
  if (buffer == nullptr || capacity < 1 || socket_ < 0) return -1;
  std::memset(buffer, 0, static_cast<size_t>(capacity));
  // Wait in short slices so that a stop request or a cancellation is seen
  // while a silent server keeps us waiting.
  const std::uint32_t start = TickCount();
  const std::uint32_t limitMs = static_cast<std::uint32_t>(receiveTimeoutSeconds_) * 1000u;
  for (;;) {
    // A cancel flag, when set up, decides alone (a quit lets the mail in
    // hand finish); otherwise a stop request ends the wait.
    if (cancel_ != nullptr ? cancel_->load() : StopFlag.load() != 0) return -1;
    const std::uint32_t elapsed = TickCount() - start;
    if (elapsed >= limitMs) return -1;
    const std::uint32_t slice = limitMs - elapsed < 200 ? limitMs - elapsed : 200;
    pollfd p{socket_, POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(slice));
    if (ready < 0 && errno != EINTR) return -1;
    if (ready > 0) break;
  }
  ssize_t n;
  do {
    n = recv(socket_, buffer, static_cast<size_t>(capacity), 0);
  } while (n < 0 && errno == EINTR);
  return static_cast<std::int32_t>(n);
}

void SocketClient::Close() {
  if (socket_ < 0) return;
  const int fd = socket_;
  socket_ = -1;
  shutdown(fd, SHUT_RDWR);
  close(fd);
}

}  // namespace qmr
