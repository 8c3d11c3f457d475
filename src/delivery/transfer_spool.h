// Mails and uploads that could not be delivered yet, kept on disk so that no
// event is lost: a folder (normally "spool" in the home folder) with one
// numbered job file per job ("0000000001.job", a few "key=value" lines) and
// its data beside it ("0000000001.data": the archive to upload or the
// composed mail). Numbers give the order. A job given up after a day keeps
// its files, with the job file renamed to ".failed". Thread-safe.
#pragma once

#include <ctime>
#include <mutex>
#include <string>
#include <vector>

namespace qmr {

class MailMessage;

struct SpoolJob {
  enum class Kind { kMail, kUpload };
  Kind kind = Kind::kUpload;
  std::string jobPath;
  std::string dataPath;
  std::string remoteName;  // upload
  std::string sender;      // mail
  std::string recipients;  // mail, comma-separated
  int attempts = 0;        // failed tries so far
  std::time_t first = 0;   // first failure or spooling
  std::time_t next = 0;    // not tried again before this
};

class TransferSpool {
 public:
  explicit TransferSpool(std::string folder = std::string());

  void SetFolder(const std::string& folder);
  std::string Folder() const;

  // Moves the file into the spool (its own copy there; the original goes).
  // False, file left in place, when it cannot be kept.
  bool AddUpload(const std::string& localPath, const std::string& remoteName, int attempts,
                 std::time_t first, std::time_t next);
  bool AddMail(const MailMessage& mail, int attempts, std::time_t first, std::time_t next);

  // Jobs still to be delivered, in order.
  std::vector<SpoolJob> Pending() const;
  // Rewrites the job's counters.
  bool Update(const SpoolJob& job);
  // Delivered: both files go.
  void Remove(const SpoolJob& job);
  // Kept, but no longer tried.
  void GiveUp(const SpoolJob& job);

 private:
  std::string NextBaseLocked() const;
  bool WriteJobLocked(const SpoolJob& job) const;

  mutable std::mutex mutex_;
  std::string folder_;
};

}  // namespace qmr
