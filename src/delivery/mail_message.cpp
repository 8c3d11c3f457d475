#include "delivery/mail_message.h"

#include <time.h>

#include <cstdio>

#include "base/process.h"
#include "config/base64_codec.h"

namespace qmr {

bool MailMessage::AddRecipient(const std::string& address) {
  // A list ("a@x.org, b@y.org; c@z.org") adds each of its addresses.
  if (address.find_first_of(",;") != std::string::npos) {
    bool added = false;
    std::size_t start = 0;
    while (start <= address.size()) {
      std::size_t end = address.find_first_of(",;", start);
      if (end == std::string::npos) end = address.size();
      added = AddOneRecipient(address.substr(start, end - start)) || added;
      start = end + 1;
    }
    return added;
  }
  return AddOneRecipient(address);
}

bool MailMessage::AddOneRecipient(const std::string& address) {
  const std::string clean = LowerAscii(TrimSpaces(address));
  if (clean.empty() || recipients_.count(clean) != 0) return false;
  const std::size_t at = clean.find('@');
  if (at == std::string::npos) return false;
  const std::string name = TrimSpaces(clean.substr(0, at));
  const std::string domain = TrimSpaces(clean.substr(at + 1));
  if (name.empty() || domain.empty()) return false;
  recipients_[clean] = MailRecipient{clean, name};
  return true;
}

bool MailMessage::AddAttachment(const std::string& path) {
  const std::string clean = LowerAscii(TrimSpaces(path));
  if (clean.empty() || attachments_.count(clean) != 0) return false;
  // The file is opened under the path as given: only the name in the mail is
  // lower-cased, the file system is case-sensitive.
  FILE* file = std::fopen(TrimSpaces(path).c_str(), "rb");
  if (file == nullptr) return false;
  MailAttachment attachment;
  bool ok = std::fseek(file, 0, SEEK_END) == 0;
  const long size = ok ? std::ftell(file) : -1;
  ok = ok && size > 0 && size < 0x7fffffffL && std::fseek(file, 0, SEEK_SET) == 0;
  if (ok) ok = attachment.content.Allocate(static_cast<std::int32_t>(size), false);
  if (ok) {
    ok = std::fread(attachment.content.Data(), 1, static_cast<size_t>(size), file) ==
             static_cast<size_t>(size) &&
         attachment.content.SetLength(static_cast<std::int32_t>(size));
  }
  std::fclose(file);
  if (!ok) return false;
  const std::size_t slash = clean.rfind('/');
  attachment.fileName = slash == std::string::npos ? clean : clean.substr(slash + 1);
  attachment.path = clean;
  attachments_[clean] = std::move(attachment);
  return true;
}

namespace {

constexpr std::int32_t kBase64LineLength = 76;

void Add(ByteBuffer& text, const std::string& piece, bool& ok) {
  if (ok && !piece.empty())
    ok = text.Append(piece.data(), static_cast<std::int32_t>(piece.size())) >= 0;
}

std::string AsctimeNow() {
  time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  // The asctime layout without its line feed, in English whatever the locale.
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[64];
  std::snprintf(text, sizeof(text), "%s %s %2d %02d:%02d:%02d %d", kDays[local.tm_wday % 7],
                kMonths[local.tm_mon % 12], local.tm_mday, local.tm_hour, local.tm_min,
                local.tm_sec, local.tm_year + 1900);
  return text;
}

}  // namespace

bool MailMessage::Compose() {
  if (sender.empty() || recipients_.empty()) return false;
  ByteBuffer text;
  bool ok = true;
  Add(text, "From: " + sender + "\r\n", ok);
  recipientList_.clear();
  for (const auto& [address, recipient] : recipients_) {
    if (!recipientList_.empty()) recipientList_ += ';';
    recipientList_ += recipient.displayName + "<" + recipient.address + ">";
  }
  Add(text, "To:" + recipientList_ + "\r\n", ok);
  Add(text, "Subject: " + subject + "\r\n", ok);
  Add(text, "Date: " + AsctimeNow() + " \r\n", ok);
  const std::string boundary = kBoundary;
  Add(text, "X-mailer: Quelmar Video Capture 2.0\r\n", ok);
  Add(text, "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"", ok);
  Add(text, boundary, ok);
  Add(text, "\"\r\n", ok);
  Add(text, "\r\nThis is a multi-part message in MIME format.\r\n\r\n", ok);
  Add(text,
      "--" + boundary + "\r\nContent-Type: text/plain" +
          "\r\nContent-Transfer-Encoding: 7bit\r\n\r\n",
      ok);
  Add(text, body, ok);
  for (auto& [key, attachment] : attachments_) {
    if (!ok) break;
    if (!attachment.encoded) {
      Base64Codec codec;
      if (!codec.Encode(attachment.content.Data(), attachment.content.Length())) continue;
      const ByteBuffer& out = codec.Output();
      std::int32_t length = 0;
      while (length < out.Length() && out.Data()[length] != 0) ++length;
      ByteBuffer encoded;
      const char zero = 0;
      if (encoded.Append(out.Data(), length) < 0 || encoded.Append(&zero, 1) < 0) continue;
      attachment.content = std::move(encoded);
      attachment.encoded = true;
    }
    Add(text,
        "\r\n\r\n--" + boundary + "\r\nContent-Type: application/octet-stream; name=\"" +
            attachment.fileName + "\"\r\n" + "Content-Transfer-Encoding: base64\r\n" +
            "Content-Disposition: attachment; filename=\"" + attachment.fileName + "\"\r\n\r\n",
        ok);
    // The content ends in its zero byte, which is not part of the text. Mail
    // servers refuse lines longer than 1,000 bytes, so the Base64 text goes
    // out in lines of 76 characters.
    const std::int32_t length = attachment.content.Length() - 1;
    for (std::int32_t at = 0; ok && at < length; at += kBase64LineLength) {
      if (at > 0) Add(text, "\r\n", ok);
      const std::int32_t count = length - at < kBase64LineLength ? length - at : kBase64LineLength;
      if (ok) ok = text.Append(attachment.content.Data() + at, count) >= 0;
    }
  }
  Add(text, "\r\n\r\n--" + boundary + "--", ok);
  if (!ok) return false;
  composed_ = std::move(text);
  return true;
}

bool MailMessage::Restore(const std::string& from, const std::string& recipients,
                          const std::string& text) {
  sender = from;
  std::size_t start = 0;
  while (start <= recipients.size()) {
    std::size_t comma = recipients.find(',', start);
    if (comma == std::string::npos) comma = recipients.size();
    AddRecipient(recipients.substr(start, comma - start));
    start = comma + 1;
  }
  if (sender.empty() || recipients_.empty() || text.empty()) return false;
  return composed_.CopyFrom(text.data(), static_cast<std::int32_t>(text.size()));
}

}  // namespace qmr
