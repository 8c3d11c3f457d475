#include "delivery/tls_channel.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <ctime>

namespace qmr {

namespace {

struct CtxDeleter {
  void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
struct SslDeleter {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};

bool IsIpAddress(const std::string& text) {
  unsigned char bytes[16];
  return inet_pton(AF_INET, text.c_str(), bytes) == 1 ||
         inet_pton(AF_INET6, text.c_str(), bytes) == 1;
}

// The oldest queued OpenSSL error in words, and the queue cleared.
std::string TakeOpenSslError() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return std::string();
  char text[256];
  ERR_error_string_n(code, text, sizeof(text));
  return text;
}

// A write to a socket the peer has closed raises SIGPIPE, which would end the
// program. The signal is held back for this thread during the write and any
// raised one is taken off again.
class SigpipeGuard {
 public:
  SigpipeGuard() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigpending(&before_);
    blocked_ = pthread_sigmask(SIG_BLOCK, &pipe, &old_) == 0;
  }
  ~SigpipeGuard() {
    if (!blocked_) return;
    sigset_t pending;
    sigpending(&pending);
    if (sigismember(&pending, SIGPIPE) && !sigismember(&before_, SIGPIPE)) {
      sigset_t pipe;
      sigemptyset(&pipe);
      sigaddset(&pipe, SIGPIPE);
      const timespec zero{0, 0};
      sigtimedwait(&pipe, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  SigpipeGuard(const SigpipeGuard&) = delete;
  SigpipeGuard& operator=(const SigpipeGuard&) = delete;

 private:
  sigset_t old_;
  sigset_t before_;
  bool blocked_ = false;
};

}  // namespace

struct TlsChannel::Session {
  std::unique_ptr<SSL_CTX, CtxDeleter> ctx;
  std::unique_ptr<SSL, SslDeleter> ssl;
};

TlsChannel::TlsChannel() = default;

TlsChannel::~TlsChannel() { End(); }

bool TlsChannel::Begin(int fd, const std::string& serverName, bool verify) {
  End();
  error_.clear();
  ERR_clear_error();
  auto session = std::make_unique<Session>();
  session->ctx.reset(SSL_CTX_new(TLS_client_method()));
  if (!session->ctx) {
    error_ = "cannot create a TLS context: " + TakeOpenSslError();
    return false;
  }
  SSL_CTX* ctx = session->ctx.get();
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  // Partial writes let a write go on after the socket was full.
  SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  if (verify) {
    if (SSL_CTX_set_default_verify_paths(ctx) != 1) {
      error_ = "cannot read the system's trusted certificates: " + TakeOpenSslError();
      return false;
    }
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  } else {
    SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
  }
  session->ssl.reset(SSL_new(ctx));
  if (!session->ssl) {
    error_ = "cannot create a TLS session: " + TakeOpenSslError();
    return false;
  }
  SSL* ssl = session->ssl.get();
  const bool ip = IsIpAddress(serverName);
  if (!ip && !serverName.empty()) SSL_set_tlsext_host_name(ssl, serverName.c_str());
  if (verify) {
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    const int named = ip ? X509_VERIFY_PARAM_set1_ip_asc(param, serverName.c_str())
                         : X509_VERIFY_PARAM_set1_host(param, serverName.c_str(), 0);
    if (named != 1) {
      error_ = "cannot check the name " + serverName;
      return false;
    }
  }
  if (SSL_set_fd(ssl, fd) != 1) {
    error_ = "cannot attach the socket: " + TakeOpenSslError();
    return false;
  }
  SSL_set_connect_state(ssl);
  session_ = std::move(session);
  return true;
}

TlsChannel::Status TlsChannel::Classify(int result) {
  SSL* ssl = session_->ssl.get();
  const int error = SSL_get_error(ssl, result);
  switch (error) {
    case SSL_ERROR_WANT_READ:
      return Status::kWantRead;
    case SSL_ERROR_WANT_WRITE:
      return Status::kWantWrite;
    case SSL_ERROR_ZERO_RETURN:
      return Status::kClosed;
    case SSL_ERROR_SYSCALL:
      if (errno == EINTR) return Status::kWantRead;
      error_ = ERR_peek_error() != 0 ? TakeOpenSslError()
                                     : std::string("the connection was closed by the server");
      return Status::kFailed;
    default: {
      const long verified = SSL_get_verify_result(ssl);
      if (verified != X509_V_OK) {
        error_ = std::string("certificate refused: ") + X509_verify_cert_error_string(verified);
        ERR_clear_error();
      } else {
        error_ = TakeOpenSslError();
        if (error_.empty()) error_ = "TLS error " + std::to_string(error);
      }
      return Status::kFailed;
    }
  }
}

TlsChannel::Status TlsChannel::Handshake() {
  if (!session_) return Status::kFailed;
  ERR_clear_error();
  SigpipeGuard guard;
  const int result = SSL_do_handshake(session_->ssl.get());
  if (result == 1) return Status::kDone;
  const Status status = Classify(result);
  // The server hanging up in the middle of the handshake is a failure.
  if (status == Status::kClosed) {
    error_ = "the server closed the connection during the handshake";
    return Status::kFailed;
  }
  return status;
}

TlsChannel::Status TlsChannel::Read(void* buffer, int length, int& count) {
  count = 0;
  if (!session_) return Status::kFailed;
  ERR_clear_error();
  const int result = SSL_read(session_->ssl.get(), buffer, length);
  if (result > 0) {
    count = result;
    return Status::kDone;
  }
  return Classify(result);
}

TlsChannel::Status TlsChannel::Write(const void* data, int length, int& count) {
  count = 0;
  if (!session_) return Status::kFailed;
  ERR_clear_error();
  SigpipeGuard guard;
  const int result = SSL_write(session_->ssl.get(), data, length);
  if (result > 0) {
    count = result;
    return Status::kDone;
  }
  return Classify(result);
}

bool TlsChannel::HasPending() const { return session_ && SSL_pending(session_->ssl.get()) > 0; }

void TlsChannel::End() {
  if (!session_) return;
  {
    SigpipeGuard guard;
    SSL_shutdown(session_->ssl.get());
  }
  ERR_clear_error();
  session_.reset();
}

std::string TlsChannel::Description() const {
  if (!session_) return std::string();
  SSL* ssl = session_->ssl.get();
  const char* cipher = SSL_get_cipher_name(ssl);
  return std::string(SSL_get_version(ssl)) + " " + (cipher ? cipher : "");
}

}  // namespace qmr
