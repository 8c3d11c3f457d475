// Keeps the recording and picture folders within their limits: the total
// size of the files the program wrote there (MAXGB, 0 = no limit) and the
// free space on the disk of each folder (MINFREEMB). The oldest finished
// files go first, by modification time. Only files whose names the program
// itself gives are candidates (recordings, motion pictures, picture
// archives), and never a file this process has open: a running recording or
// an archive being written stays. Each deletion is logged in one line.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qmr {

class SettingsStore;

struct StorageLimits {
  std::uint64_t maxBytes = 0;      // 0 = no limit
  std::uint64_t minFreeBytes = 0;  // 0 = no limit
};

// True for a name the program gives to the files it writes in the AVI and
// PIC folders: "<camera> YYYY-MM-DD-HH-MM-SS[ (n)].avi" (by hand and
// scheduled), "Motion-<camera> YYYY-MM-DD-HH-MM-SS-mmm.avi" and ".jpg" (motion)
// and "Motion-YYYY-MM-DD-HH-MM-SS-mmm.zip" (picture archives).
bool IsOwnStorageFile(const std::string& fileName);

// Paths of the regular files this process has open (from /proc/self/fd).
std::vector<std::string> OpenFilesOfThisProcess();

class StorageKeeper {
 public:
  // Sweeps at most this often.
  static constexpr int kIntervalMs = 5000;

  StorageKeeper() = default;
  ~StorageKeeper();
  StorageKeeper(const StorageKeeper&) = delete;
  StorageKeeper& operator=(const StorageKeeper&) = delete;

  // One sweep over the folders: deletes the oldest own files until the
  // limits hold or no candidate is left. Returns the deleted paths in
  // deletion order.
  static std::vector<std::string> Sweep(const std::vector<std::string>& folders,
                                        const StorageLimits& limits);
  // The limits of the settings (MAXGB, MINFREEMB).
  static StorageLimits LimitsOf(double maxGb, int minFreeMb);

  // Free bytes for an unprivileged user on the disk of path; -1 when unknown.
  static std::int64_t FreeBytes(const std::string& path);

  // Starts the worker: a sweep of the settings' AVI and PIC folders every
  // kIntervalMs. False when it runs already.
  bool Start(SettingsStore& settings);
  // Stops and joins the worker (a sweep in hand finishes first).
  void Stop();
  bool IsRunning() const { return worker_.joinable(); }

 private:
  void Run(SettingsStore* settings);

  std::thread worker_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
};

}  // namespace qmr
