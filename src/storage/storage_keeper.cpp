#include "storage/storage_keeper.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <regex>
#include <set>

#include "base/log_file.h"
#include "config/settings.h"
#include "storage/write_failure.h"

namespace qmr {

namespace {

// Free space wanted on a disk before a new write failure shows a box again,
// when MINFREEMB is lower.
constexpr std::int64_t kRecoveredFreeBytes = 64ll << 20;

struct Candidate {
  std::string path;
  std::uint64_t size = 0;
  std::int64_t mtimeNs = 0;
  dev_t device = 0;
};

struct Folder {
  std::string path;
  dev_t device = 0;
};

std::string Joined(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

}  // namespace

bool IsOwnStorageFile(const std::string& name) {
  static const std::regex kPatterns(
      // by hand or scheduled: "<camera> <time>.avi", "<camera> <time> (n).avi"
      R"(.+ \d{4}-\d{2}-\d{2}-\d{2}-\d{2}-\d{2}( \(\d+\))?\.avi)"
      // motion recording and picture: "Motion-<camera> <time>-mmm.avi/.jpg"
      R"(|Motion-.+ \d{4}-\d{2}-\d{2}-\d{2}-\d{2}-\d{2}-\d{3}\.(avi|jpg))"
      // picture archive: "Motion-<time>-mmm.zip"
      R"(|Motion-\d{4}-\d{2}-\d{2}-\d{2}-\d{2}-\d{2}-\d{3}\.zip)");
  return std::regex_match(name, kPatterns);
}

std::vector<std::string> OpenFilesOfThisProcess() {
  std::vector<std::string> files;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return files;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    const std::string link = std::string("/proc/self/fd/") + entry->d_name;
    char target[4096];
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0 || target[0] != '/') continue;
    files.emplace_back(target, static_cast<std::size_t>(n));
  }
  closedir(dir);
  return files;
}

std::int64_t StorageKeeper::FreeBytes(const std::string& path) {
  struct statvfs fs;
  if (statvfs(path.c_str(), &fs) != 0) return -1;
  return static_cast<std::int64_t>(fs.f_bavail) * static_cast<std::int64_t>(fs.f_frsize);
}

StorageLimits StorageKeeper::LimitsOf(double maxGb, int minFreeMb) {
  StorageLimits limits;
  if (maxGb > 0) limits.maxBytes = static_cast<std::uint64_t>(maxGb * 1024.0 * 1024.0 * 1024.0);
  if (minFreeMb > 0) limits.minFreeBytes = static_cast<std::uint64_t>(minFreeMb) << 20;
  return limits;
}

std::vector<std::string> StorageKeeper::Sweep(const std::vector<std::string>& folderPaths,
                                              const StorageLimits& limits) {
  std::vector<std::string> deleted;
  // The same folder named twice (AVI and PIC alike) is walked once.
  std::vector<Folder> folders;
  std::set<std::pair<dev_t, ino_t>> seen;
  for (const std::string& path : folderPaths) {
    struct stat st;
    if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
    if (!seen.insert({st.st_dev, st.st_ino}).second) continue;
    folders.push_back({path, st.st_dev});
  }

  // Whether a disk is below its free-space floor.
  auto lowOn = [&](dev_t device) {
    if (limits.minFreeBytes == 0) return false;
    for (const Folder& f : folders) {
      if (f.device != device) continue;
      const std::int64_t free = FreeBytes(f.path);
      return free >= 0 && static_cast<std::uint64_t>(free) < limits.minFreeBytes;
    }
    return false;
  };
  bool anyLow = false;
  for (const Folder& f : folders) anyLow = anyLow || lowOn(f.device);

  std::vector<Candidate> candidates;
  std::uint64_t total = 0;
  if (limits.maxBytes != 0 || anyLow) {
    const std::vector<std::string> open = OpenFilesOfThisProcess();
    for (const Folder& f : folders) {
      DIR* dir = opendir(f.path.c_str());
      if (dir == nullptr) continue;
      while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (!IsOwnStorageFile(name)) continue;
        Candidate c;
        c.path = Joined(f.path, name);
        struct stat st;
        if (lstat(c.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        c.size = static_cast<std::uint64_t>(st.st_size);
        c.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        c.device = st.st_dev;
        total += c.size;
        // A file open here is being written (or packed): it counts towards
        // the total but is never deleted.
        char resolved[4096];
        const std::string real = realpath(c.path.c_str(), resolved) ? resolved : c.path;
        if (std::find(open.begin(), open.end(), real) != open.end()) continue;
        candidates.push_back(std::move(c));
      }
      closedir(dir);
    }
  }
  std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    return a.mtimeNs != b.mtimeNs ? a.mtimeNs < b.mtimeNs : a.path < b.path;
  });

  for (const Candidate& c : candidates) {
    const bool overTotal = limits.maxBytes != 0 && total > limits.maxBytes;
    const bool low = lowOn(c.device);
    if (!overTotal && !low) {
      // This disk is fine; another may still need room.
      bool more = limits.maxBytes != 0 && total > limits.maxBytes;
      for (const Folder& f : folders) more = more || lowOn(f.device);
      if (!more) break;
      continue;
    }
    if (unlink(c.path.c_str()) != 0) continue;
    total -= c.size;
    deleted.push_back(c.path);
    char size[32];
    if (c.size < (1u << 20)) {
      std::snprintf(size, sizeof size, "%.0f KB", static_cast<double>(c.size) / 1024);
    } else {
      std::snprintf(size, sizeof size, "%.1f MB", static_cast<double>(c.size) / (1 << 20));
    }
    LogFile::Write("Storage keeper deleted " + c.path + " (" + size + ", " +
                   (overTotal ? "over the size limit" : "too little free space") + ")");
  }

  // Space is back: a later write failure is worth a message box again.
  bool recovered = !folders.empty();
  for (const Folder& f : folders) {
    const std::int64_t free = FreeBytes(f.path);
    const auto floor =
        std::max<std::int64_t>(static_cast<std::int64_t>(limits.minFreeBytes), kRecoveredFreeBytes);
    recovered = recovered && free >= floor;
  }
  if (recovered) ResetWriteFailureNotice();
  return deleted;
}

StorageKeeper::~StorageKeeper() { Stop(); }

bool StorageKeeper::Start(SettingsStore& settings) {
  if (worker_.joinable()) return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = false;
  }
  worker_ = std::thread(&StorageKeeper::Run, this, &settings);
  return true;
}

void StorageKeeper::Stop() {
  if (!worker_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  worker_.join();
}

void StorageKeeper::Run(SettingsStore* store) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    lock.unlock();
    const Settings s = store->Get();
    Sweep({s.aviDir, s.picDir}, LimitsOf(s.maxGb, s.minFreeMb));
    lock.lock();
    wake_.wait_for(lock, std::chrono::milliseconds(kIntervalMs), [this] { return stop_; });
  }
}

}  // namespace qmr
