#include "delivery/smtp_client.h"

#include "base/log_file.h"
#include "base/process.h"
#include "config/base64_codec.h"
#include "delivery/mail_message.h"

namespace qmr {

namespace {

constexpr std::int32_t kPieceSize = 2048;

// Base64 text of a credential; empty when it cannot be encoded (an empty one).
std::string EncodeCredential(const std::string& text) {
  if (text.empty()) return std::string();
  Base64Codec codec;
  if (!codec.Encode(text.data(), static_cast<std::int32_t>(text.size()))) return std::string();
  const ByteBuffer& out = codec.Output();
  std::string encoded;
  for (std::int32_t i = 0; i < out.Length() && out.Data()[i] != 0; ++i) {
    encoded += static_cast<char>(out.Data()[i]);
  }
  return encoded;
}

std::string WithoutLineEnd(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace

std::uint32_t SmtpClient::DefaultPort(int security) {
  switch (security) {
    case kSecurityStartTls:
      return 587;
    case kSecurityTls:
      return 465;
    default:
      return kDefaultPort;
  }
}

void SmtpClient::SetAccount(const std::string& server, const std::string& user,
                            const std::string& password) {
  int port = 0;
  SplitHostPort(server, server_, port);
  serverPort_ = static_cast<std::uint32_t>(port);
  host_ = server_;
  user_ = user;
  password_ = password;
}

void SmtpClient::SetSecurity(int security, bool verify) {
  security_ = security == kSecurityStartTls || security == kSecurityTls ? security : kSecurityNone;
  verify_ = verify;
}

bool SmtpClient::SendCommand(const std::string& command, const char* logText) {
  LogFile::Write(logText != nullptr ? std::string(logText) : "Snd:" + command);
  if (Send(command.data(), static_cast<std::int32_t>(command.size())) > 0) return true;
  lastReply_ = "The connection to the mail server was lost.";
  return false;
}

bool SmtpClient::ReadOneReply(std::string& reply) {
  // A reply is complete at the first line whose code is not followed by "-".
  // Lines are scanned as they arrive; what follows the reply stays pending
  // for the next read. The kept text is bounded, and the whole reply must
  // arrive within the receive time-out: a server dribbling one byte at a time
  // cannot hold the thread longer.
  reply.clear();
  const Deadline deadline = ReceiveDeadline();
  std::string head;  // the first four bytes of the current line
  std::size_t used = 0;
  std::size_t total = 0;  // a server that never ends its reply is given up on
  for (;;) {
    while (used < pending_.size()) {
      const char c = pending_[used++];
      if (reply.size() < kReplyLimit) reply += c;
      if (c == '\n') {
        const bool last = head.size() < 4 || head[3] != '-';
        if (last) {
          pending_.erase(0, used);
          lastCode_ = head.substr(0, 3);
          lastReply_ = WithoutLineEnd(reply);
          return true;
        }
        head.clear();
      } else if (head.size() < 4) {
        head += c;
      }
    }
    pending_.clear();
    used = 0;
    char buffer[4096];
    const std::int32_t n = ReceiveBefore(buffer, sizeof(buffer), deadline);
    if (n < 1) {
      lastReply_ = n == 0 ? "The mail server closed the connection."
                          : "No complete answer from the mail server in time.";
      if (!reply.empty()) LogFile::Write("Rcv(incomplete):" + reply);
      return false;
    }
    total += static_cast<std::size_t>(n);
    if (total > 64 * kReplyLimit) return false;
    pending_.append(buffer, static_cast<std::size_t>(n));
  }
}

bool SmtpClient::ReadReply(const char* expectedCode) {
  std::string reply;
  if (!ReadOneReply(reply)) return false;
  LogFile::Write("Rcv:" + reply);
  lastReply_ = reply;
  return lastCode_ == expectedCode;
}

bool SmtpClient::Greet() {
  ehloReply_.clear();
  if (!SendCommand("EHLO qmr\r\n")) return false;
  if (ReadReply("250")) {
    ehloReply_ = lastReply_;
    return true;
  }
  return IsOpen() && SendCommand("HELO qmr\r\n") && ReadReply("250");
}

bool SmtpClient::Offers(const std::string& extension, const std::string& mechanism) const {
  // Each line is "250-WORD params" or "250 WORD params"; the first line is
  // the server's name. "AUTH=" is an old spelling of "AUTH ".
  std::size_t start = 0;
  bool first = true;
  while (start < ehloReply_.size()) {
    std::size_t end = ehloReply_.find('\n', start);
    if (end == std::string::npos) end = ehloReply_.size();
    std::string line = WithoutLineEnd(ehloReply_.substr(start, end - start));
    start = end + 1;
    if (first || line.size() < 5) {
      first = false;
      continue;
    }
    std::string words = LowerAscii(line.substr(4));
    for (char& c : words) {
      if (c == '=' || c == '\t') c = ' ';
    }
    words = " " + words + " ";
    if (words.find(" " + LowerAscii(extension) + " ") != 0) continue;
    if (mechanism.empty()) return true;
    if (words.find(" " + LowerAscii(mechanism) + " ") != std::string::npos) return true;
  }
  return false;
}

bool SmtpClient::Encrypt() {
  if (!verify_) {
    LogFile::Write("The mail server's certificate is not checked (MAILVERIFY=0).");
  }
  if (StartTls(verify_)) return true;
  lastReply_ = "The secure connection to the mail server failed (see the log).";
  return false;
}

int SmtpClient::AuthReply(const char* expectedCode) {
  std::string reply;
  if (!ReadOneReply(reply)) return -1;
  LogFile::Write("Rcv:" + reply);
  if (lastCode_ == expectedCode) return 1;
  if (!lastCode_.empty() && (lastCode_[0] == '4' || lastCode_[0] == '5')) {
    LogFile::Write("Authentication failed: " + lastReply_);
    return -1;
  }
  return 0;
}

bool SmtpClient::Authenticate() {
  // PLAIN sends both credentials in one command; LOGIN (the long-standing
  // choice) asks for them one by one.
  if (Offers("AUTH", "PLAIN")) {
    std::string token;
    token += '\0';
    token += user_;
    token += '\0';
    token += password_;
    if (!SendCommand("AUTH PLAIN " + EncodeCredential(token) + "\r\n",
                     "Snd:AUTH PLAIN (credentials hidden)\r\n")) {
      return false;
    }
    return AuthReply("235") == 1;
  }
  if (!SendCommand("AUTH LOGIN\r\n")) return false;
  // Some servers answer with other replies before the prompt.
  int prompted = 0;
  for (int i = 0; i < 5 && prompted == 0; ++i) prompted = AuthReply("334");
  if (prompted != 1) return false;
  if (!SendCommand(EncodeCredential(user_) + "\r\n", "Snd:(credentials hidden)\r\n") ||
      AuthReply("334") != 1) {
    return false;
  }
  return SendCommand(EncodeCredential(password_) + "\r\n", "Snd:(credentials hidden)\r\n") &&
         AuthReply("235") == 1;
}

bool SmtpClient::SendData(const MailMessage& message) {
  // The mail standard allows line breaks only as CR LF: a bare LF or CR
  // becomes CR LF. Lines that start with "." get a second one so that the
  // server does not take them for the end of the text.
  const ByteBuffer& text = message.Composed();
  std::string piece;
  piece.reserve(kPieceSize + 4);
  bool lineStart = true;
  char previous = 0;
  auto flush = [&] {
    const bool ok = Send(piece.data(), static_cast<std::int32_t>(piece.size())) > 0;
    piece.clear();
    return ok;
  };
  for (std::int32_t i = 0; i < text.Length(); ++i) {
    const char c = static_cast<char>(text.Data()[i]);
    if (previous == '\r' && c != '\n') {
      piece += '\n';
      lineStart = true;
    }
    if (c == '\n' && previous != '\r') piece += '\r';
    if (lineStart && c == '.') piece += '.';
    piece += c;
    lineStart = c == '\n';
    previous = c;
    if (static_cast<std::int32_t>(piece.size()) >= kPieceSize && !flush()) return false;
  }
  if (previous == '\r') piece += '\n';
  return piece.empty() || flush();
}

bool SmtpClient::SendMail(const MailMessage& message, bool useAuthentication) {
  pending_.clear();
  lastReply_.clear();
  const std::uint32_t port = serverPort_ != 0 ? serverPort_ : DefaultPort(security_);
  if (!Connect(server_, port, kConnectTimeoutSeconds)) {
    lastReply_ = "Cannot connect to the mail server " + server_ + ":" + std::to_string(port) + ".";
    return false;
  }
  if (security_ == kSecurityTls && !Encrypt()) return false;
  if (!ReadReply("220")) return false;
  if (!Greet()) return false;
  if (security_ == kSecurityStartTls) {
    // Nothing but EHLO goes out in clear: no STARTTLS, no mail.
    if (!Offers("STARTTLS")) {
      lastReply_ = "The mail server does not offer STARTTLS.";
      LogFile::Write(
          "The mail server does not offer STARTTLS; the mail is not sent (MAILSECURITY=1).");
      return false;
    }
    if (!SendCommand("STARTTLS\r\n") || !ReadReply("220")) return false;
    // Anything the server sent in clear after its answer is dropped, not
    // taken for a reply inside the secure connection.
    pending_.clear();
    if (!Encrypt()) return false;
    if (!Greet()) return false;
  }
  if (useAuthentication && !Authenticate()) return false;
  if (!SendCommand("MAIL FROM:<" + message.sender + ">\r\n") || !ReadReply("250")) return false;
  for (const auto& [address, recipient] : message.Recipients()) {
    if (!SendCommand("RCPT TO:<" + address + ">\r\n") || !ReadReply("250")) return false;
  }
  if (!SendCommand("DATA\r\n") || !ReadReply("354")) return false;
  if (!SendData(message)) {
    lastReply_ = "The connection to the mail server was lost.";
    return false;
  }
  if (!SendCommand("\r\n.\r\n") || !ReadReply("250")) return false;
  if (!SendCommand("QUIT\r\n") || !ReadReply("221")) return false;
  return true;
}

}  // namespace qmr
