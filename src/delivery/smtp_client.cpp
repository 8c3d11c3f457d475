#include "delivery/smtp_client.h"

#include "config/base64_codec.h"
#include "base/log_file.h"
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

}  // namespace

void SmtpClient::SetAccount(const std::string& server, const std::string& user,
                            const std::string& password) {
  int port = static_cast<int>(kDefaultPort);
  SplitHostPort(server, server_, port);
  serverPort_ = static_cast<std::uint32_t>(port);
  host_ = server_;
  user_ = user;
  password_ = password;
}

bool SmtpClient::SendCommand(const std::string& command, bool hideInLog) {
  LogFile::Write(hideInLog ? std::string("Snd:(credentials hidden)\r\n") : "Snd:" + command);
  return Send(command.data(), static_cast<std::int32_t>(command.size())) > 0;
}

bool SmtpClient::ReadOneReply(std::string& reply) {
  // A reply is complete at the first line whose code is not followed by "-".
  // Lines are scanned as they arrive; what follows the reply stays pending
  // for the next read. The kept text is bounded.
  reply.clear();
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
    const std::int32_t n = Receive(buffer, sizeof(buffer));
    if (n < 1) return false;
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

bool SmtpClient::SendData(const MailMessage& message) {
  // Lines that start with "." get a second one so that the server does not
  // take them for the end of the text.
  const ByteBuffer& text = message.Composed();
  std::string piece;
  piece.reserve(kPieceSize + 1);
  bool lineStart = true;
  for (std::int32_t i = 0; i < text.Length(); ++i) {
    const char c = static_cast<char>(text.Data()[i]);
    if (lineStart && c == '.') piece += '.';
    piece += c;
    lineStart = c == '\n';
    if (static_cast<std::int32_t>(piece.size()) >= kPieceSize) {
      if (Send(piece.data(), static_cast<std::int32_t>(piece.size())) < 1) return false;
      piece.clear();
    }
  }
  if (!piece.empty() && Send(piece.data(), static_cast<std::int32_t>(piece.size())) < 1) {
    return false;
  }
  return true;
}

bool SmtpClient::SendMail(const MailMessage& message, bool useAuthentication) {
  pending_.clear();
  lastReply_.clear();
  if (!Connect(server_, serverPort_, kConnectTimeoutSeconds)) return false;
  if (!ReadReply("220")) return false;
  if (!SendCommand("EHLO qmr\r\n")) return false;
  if (!ReadReply("250")) {
    if (!IsOpen() || !SendCommand("HELO qmr\r\n") || !ReadReply("250")) return false;
  }
  if (useAuthentication) {
    if (!SendCommand("AUTH LOGIN\r\n")) return false;
    bool prompted = false;
    for (int i = 0; i < 5 && !prompted; ++i) {
      std::string reply;
      if (!ReadOneReply(reply)) return false;
      LogFile::Write("Rcv:" + reply);
      prompted = lastCode_ == "334";
    }
    if (!prompted) return false;
    if (!SendCommand(EncodeCredential(user_) + "\r\n", true) || !ReadReply("334")) return false;
    if (!SendCommand(EncodeCredential(password_) + "\r\n", true) || !ReadReply("235")) {
      return false;
    }
  }
  if (!SendCommand("MAIL FROM:<" + message.sender + ">\r\n") || !ReadReply("250")) return false;
  for (const auto& [address, recipient] : message.Recipients()) {
    if (!SendCommand("RCPT TO:<" + address + ">\r\n") || !ReadReply("250")) return false;
  }
  if (!SendCommand("DATA\r\n") || !ReadReply("354")) return false;
  if (!SendData(message)) return false;
  if (!SendCommand("\r\n.\r\n") || !ReadReply("250")) return false;
  if (!SendCommand("QUIT\r\n") || !ReadReply("221")) return false;
  return true;
}

}  // namespace qmr
