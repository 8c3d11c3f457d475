// Sends one composed MailMessage to the mail server: greeting, EHLO (HELO as
// fallback), optional AUTH LOGIN, MAIL, RCPT, DATA, QUIT. Every command and
// reply is written to the log (credentials hidden).
#pragma once

#include <cstdint>
#include <string>

#include "delivery/socket_client.h"

namespace qmr {

class MailMessage;

class SmtpClient : public SocketClient {
 public:
  static constexpr std::uint32_t kDefaultPort = 25;
  static constexpr std::uint32_t kConnectTimeoutSeconds = 8;
  // A reply larger than this is cut off (the rest is read and dropped).
  static constexpr std::size_t kReplyLimit = 8192;

  ~SmtpClient() override = default;

  // server may carry a port as "host:port" (25 otherwise). User and
  // password arrive in clear.
  void SetAccount(const std::string& server, const std::string& user, const std::string& password);
  // The whole dialogue; true only when the server acknowledged QUIT.
  bool SendMail(const MailMessage& message, bool useAuthentication);
  // The last reply read from the server ("" when none came).
  const std::string& LastReply() const { return lastReply_; }

 private:
  bool SendCommand(const std::string& command, bool hideInLog = false);
  // Reads one whole reply (all lines of a multi-line reply) and tells whether
  // its code is the expected one. Logs "Rcv:" with the reply.
  bool ReadReply(const char* expectedCode);
  bool ReadOneReply(std::string& reply);
  bool SendData(const MailMessage& message);

  std::string server_;
  std::uint32_t serverPort_ = kDefaultPort;
  std::string user_;
  std::string password_;
  std::string pending_;   // bytes received but not yet consumed as a reply
  std::string lastReply_;
  std::string lastCode_;  // code of the last line of the last reply
};

}  // namespace qmr
