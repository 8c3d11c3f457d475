// One e-mail: sender, recipients, subject, plain-text body and file
// attachments, composed into a MIME multipart text with Base64 attachments.
#pragma once

#include <map>
#include <string>

#include "base/byte_buffer.h"

namespace qmr {

struct MailRecipient {
  std::string address;      // trimmed, lower-cased
  std::string displayName;  // trimmed part before the first "@"
};

struct MailAttachment {
  // The file's bytes; after the first Compose its Base64 text followed by
  // one zero byte.
  ByteBuffer content;
  std::string fileName;  // part of the lower-cased path after the last "/"
  std::string path;      // lower-cased path
  bool encoded = false;
};

class MailMessage {
 public:
  static constexpr const char* kBoundary = "=====QMR_Mailer_Boundary_=====";

  virtual ~MailMessage() = default;

  // Set directly by the builder.
  std::string sender;
  std::string subject;
  std::string body;  // used unchanged, no line-ending conversion

  // One address ("name@host"), trimmed and lower-cased. False when empty,
  // malformed or already present. Several addresses separated by commas or
  // semicolons are added one by one; true when at least one was new and
  // well-formed.
  bool AddRecipient(const std::string& address);
  // Reads the whole file into memory now (it may be deleted afterwards).
  // False when the path is empty or already present, or the file cannot be
  // read or is empty.
  bool AddAttachment(const std::string& path);
  // Builds the text (with the current date). False without sender or
  // recipient. An attachment that cannot be encoded is left out.
  bool Compose();

  const ByteBuffer& Composed() const { return composed_; }
  // A message composed earlier and kept on disk: its sender, recipients and
  // composed text. False without sender, recipient or text.
  bool Restore(const std::string& from, const std::string& recipients, const std::string& text);
  const std::string& RecipientList() const { return recipientList_; }
  const std::map<std::string, MailRecipient>& Recipients() const { return recipients_; }
  const std::map<std::string, MailAttachment>& Attachments() const { return attachments_; }

 private:
  bool AddOneRecipient(const std::string& address);

  std::string recipientList_;
  std::map<std::string, MailRecipient> recipients_;    // by address
  std::map<std::string, MailAttachment> attachments_;  // by lower-cased path
  ByteBuffer composed_;
};

}  // namespace qmr
