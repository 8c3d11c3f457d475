// Sends one composed MailMessage to the mail server: greeting, EHLO (HELO as
// fallback), optional TLS (STARTTLS or TLS from the start), optional AUTH
// PLAIN or LOGIN, MAIL, RCPT, DATA, QUIT. Every command and reply is written
// to the log (credentials hidden).
#pragma once

#include <cstdint>
#include <string>

#include "delivery/socket_client.h"

namespace qmr {

class MailMessage;

class SmtpClient : public SocketClient {
 public:
  // How the connection is protected (the MAILSECURITY setting).
  enum Security : int {
    kSecurityNone = 0,      // plain text, port 25
    kSecurityStartTls = 1,  // STARTTLS after EHLO, port 587
    kSecurityTls = 2,       // TLS from the first byte, port 465
  };

  static constexpr std::uint32_t kDefaultPort = 25;
  static constexpr std::uint32_t kConnectTimeoutSeconds = 8;
  // A reply larger than this is cut off (the rest is read and dropped).
  static constexpr std::size_t kReplyLimit = 8192;

  ~SmtpClient() override = default;

  // The port used when the server text names none.
  static std::uint32_t DefaultPort(int security);

  // server may carry a port as "host:port" (otherwise the default port of
  // the security mode). User and password arrive in clear.
  void SetAccount(const std::string& server, const std::string& user, const std::string& password);
  // security: one of Security (other values count as none). verify: check
  // the server's certificate and host name.
  void SetSecurity(int security, bool verify);
  // The whole dialogue; true only when the server acknowledged QUIT.
  bool SendMail(const MailMessage& message, bool useAuthentication);
  // The last reply read from the server (without its final line end), or
  // the reason the dialogue stopped before a reply could be read.
  const std::string& LastReply() const { return lastReply_; }

 private:
  bool SendCommand(const std::string& command, const char* logText = nullptr);
  // Reads one whole reply (all lines of a multi-line reply) and tells whether
  // its code is the expected one. Logs "Rcv:" with the reply.
  bool ReadReply(const char* expectedCode);
  bool ReadOneReply(std::string& reply);
  // EHLO, or HELO when EHLO is refused; keeps the EHLO reply.
  bool Greet();
  bool Encrypt();
  // Whether the last EHLO reply lists the extension (and, for AUTH, the
  // mechanism).
  bool Offers(const std::string& extension, const std::string& mechanism = std::string()) const;
  bool Authenticate();
  // Reads the reply to one authentication step: 1 when it has the expected
  // code, 0 for another reply, -1 when the step ends the dialogue (no reply,
  // or a 4xx or 5xx, logged as "Authentication failed: <reply>").
  int AuthReply(const char* expectedCode);
  bool SendData(const MailMessage& message);

  std::string server_;
  std::uint32_t serverPort_ = 0;  // 0: the security mode's default
  int security_ = kSecurityNone;
  bool verify_ = true;
  std::string user_;
  std::string password_;
  std::string pending_;    // bytes received but not yet consumed as a reply
  std::string lastCode_;   // code of the last line of the last reply
  std::string lastReply_;  // see LastReply
  std::string ehloReply_;  // the extensions the server listed
};

}  // namespace qmr
