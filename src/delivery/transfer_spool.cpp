#include "delivery/transfer_spool.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/log_file.h"
#include "config/settings.h"
#include "delivery/mail_message.h"

namespace qmr {

namespace {

constexpr const char* kJobSuffix = ".job";

bool HasSuffix(const std::string& name, const std::string& suffix) {
  return name.size() > suffix.size() &&
         name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Writes text to path through a temporary file and a rename, so a job file
// is always whole.
bool WriteWholeFile(const std::string& path, const std::string& text) {
  const std::string temp = path + ".tmp";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  const bool ok = ::fsync(fd) == 0 && ::close(fd) == 0 && done == text.size();
  if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace

TransferSpool::TransferSpool(std::string folder) : folder_(std::move(folder)) {}

void TransferSpool::SetFolder(const std::string& folder) {
  std::lock_guard<std::mutex> lock(mutex_);
  folder_ = folder;
}

std::string TransferSpool::Folder() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return folder_;
}

std::string TransferSpool::NextBaseLocked() const {
  long highest = 0;
  if (DIR* dir = ::opendir(folder_.c_str())) {
    while (dirent* entry = ::readdir(dir)) {
      const long n = std::strtol(entry->d_name, nullptr, 10);
      highest = std::max(highest, n);
    }
    ::closedir(dir);
  }
  char name[32];
  std::snprintf(name, sizeof name, "%010ld", highest + 1);
  return folder_ + "/" + name;
}

bool TransferSpool::WriteJobLocked(const SpoolJob& job) const {
  std::ostringstream text;
  text << "kind=" << (job.kind == SpoolJob::Kind::kMail ? "mail" : "upload") << "\n"
       << "remote=" << job.remoteName << "\n"
       << "sender=" << job.sender << "\n"
       << "recipients=" << job.recipients << "\n"
       << "attempts=" << job.attempts << "\n"
       << "first=" << static_cast<long long>(job.first) << "\n"
       << "next=" << static_cast<long long>(job.next) << "\n";
  return WriteWholeFile(job.jobPath, text.str());
}

bool TransferSpool::AddUpload(const std::string& localPath, const std::string& remoteName,
                              int attempts, std::time_t first, std::time_t next) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (folder_.empty() || !CreateFolderPath(folder_)) return false;
  const std::string base = NextBaseLocked();
  SpoolJob job;
  job.kind = SpoolJob::Kind::kUpload;
  job.jobPath = base + kJobSuffix;
  job.dataPath = base + ".data";
  job.remoteName = remoteName;
  job.attempts = attempts;
  job.first = first;
  job.next = next;
  std::error_code ec;
  if (std::rename(localPath.c_str(), job.dataPath.c_str()) != 0) {
    // Another disk: copy, and the original goes only once the copy is whole.
    std::filesystem::copy_file(localPath, job.dataPath,
                               std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) {
      std::remove(job.dataPath.c_str());
      return false;
    }
    std::remove(localPath.c_str());
  }
  if (!WriteJobLocked(job)) {
    // The archive goes back where it was rather than stay unlisted.
    if (std::rename(job.dataPath.c_str(), localPath.c_str()) != 0) {
      LogFile::Write("The spool could not list " + job.dataPath);
    }
    return false;
  }
  return true;
}

bool TransferSpool::AddMail(const MailMessage& mail, int attempts, std::time_t first,
                            std::time_t next) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (folder_.empty() || !CreateFolderPath(folder_)) return false;
  const std::string base = NextBaseLocked();
  SpoolJob job;
  job.kind = SpoolJob::Kind::kMail;
  job.jobPath = base + kJobSuffix;
  job.dataPath = base + ".data";
  job.sender = mail.sender;
  for (const auto& [address, recipient] : mail.Recipients()) {
    if (!job.recipients.empty()) job.recipients += ",";
    job.recipients += address;
  }
  job.attempts = attempts;
  job.first = first;
  job.next = next;
  const ByteBuffer& text = mail.Composed();
  if (!WriteWholeFile(job.dataPath,
                      std::string(reinterpret_cast<const char*>(text.Data()),
                                  static_cast<std::size_t>(std::max(text.Length(), 0))))) {
    return false;
  }
  if (!WriteJobLocked(job)) {
    std::remove(job.dataPath.c_str());
    return false;
  }
  return true;
}

std::vector<SpoolJob> TransferSpool::Pending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder_.c_str())) {
    while (dirent* entry = ::readdir(dir)) {
      if (HasSuffix(entry->d_name, kJobSuffix)) names.push_back(entry->d_name);
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());
  std::vector<SpoolJob> jobs;
  for (const std::string& name : names) {
    SpoolJob job;
    job.jobPath = folder_ + "/" + name;
    job.dataPath = job.jobPath.substr(0, job.jobPath.size() - 4) + ".data";
    std::ifstream in(job.jobPath);
    std::string line;
    while (std::getline(in, line)) {
      const std::size_t eq = line.find('=');
      if (eq == std::string::npos) continue;
      const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
      if (key == "kind")
        job.kind = value == "mail" ? SpoolJob::Kind::kMail : SpoolJob::Kind::kUpload;
      if (key == "remote") job.remoteName = value;
      if (key == "sender") job.sender = value;
      if (key == "recipients") job.recipients = value;
      if (key == "attempts") job.attempts = std::atoi(value.c_str());
      if (key == "first") job.first = static_cast<std::time_t>(std::atoll(value.c_str()));
      if (key == "next") job.next = static_cast<std::time_t>(std::atoll(value.c_str()));
    }
    if (::access(job.dataPath.c_str(), R_OK) != 0) continue;
    jobs.push_back(std::move(job));
  }
  return jobs;
}

bool TransferSpool::Update(const SpoolJob& job) {
  std::lock_guard<std::mutex> lock(mutex_);
  return WriteJobLocked(job);
}

void TransferSpool::Remove(const SpoolJob& job) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::remove(job.dataPath.c_str());
  std::remove(job.jobPath.c_str());
}

void TransferSpool::GiveUp(const SpoolJob& job) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string failed = job.jobPath.substr(0, job.jobPath.size() - 4) + ".failed";
  std::rename(job.jobPath.c_str(), failed.c_str());
}

}  // namespace qmr
