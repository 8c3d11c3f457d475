// TLS over one connected, non-blocking socket, with OpenSSL. The channel
// never waits itself: every call returns at once and says whether the socket
// must become readable or writable first, so the owner keeps its own time
// limits and stop checks around the handshake and every read and write.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace qmr {

class TlsChannel {
 public:
  // What a call needs before it can go on, or how it ended.
  enum class Status { kDone, kWantRead, kWantWrite, kClosed, kFailed };

  TlsChannel();
  ~TlsChannel();
  TlsChannel(const TlsChannel&) = delete;
  TlsChannel& operator=(const TlsChannel&) = delete;

  // Prepares a client session on fd. With verify, the server's certificate
  // must chain to the system's trust store (or the file named by
  // SSL_CERT_FILE) and name serverName (a host name or an IP address).
  // False (with Error()) when OpenSSL cannot set the session up.
  bool Begin(int fd, const std::string& serverName, bool verify);
  // One step of the handshake.
  Status Handshake();
  // One read or write of up to length bytes; count receives the bytes moved.
  Status Read(void* buffer, int length, int& count);
  Status Write(const void* data, int length, int& count);
  // Bytes already decrypted and waiting in the session.
  bool HasPending() const;
  // Sends the closing alert (one attempt, no waiting) and drops the session.
  void End();

  // Why the last call failed, in words (certificate problems included).
  const std::string& Error() const { return error_; }
  // "TLSv1.3 TLS_AES_256_GCM_SHA384" once the handshake is done.
  std::string Description() const;

 private:
  Status Classify(int result);

  struct Session;
  std::unique_ptr<Session> session_;
  std::string error_;
};

}  // namespace qmr
