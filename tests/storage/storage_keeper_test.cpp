// The storage keeper: which files it deletes and which it never touches, and
// the single message box for a run of failed writes.
#include "storage/storage_keeper.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "../support/temp_folder.h"
#include "base/log_file.h"
#include "base/process.h"
#include "config/ini_file.h"
#include "config/settings.h"
#include "storage/write_failure.h"

namespace qmr {
namespace {

using testing::ReadWhole;
using testing::TempFolder;

// A file of size bytes whose modification time is ageSeconds in the past.
void MakeFile(const std::string& path, std::size_t size, int ageSeconds) {
  testing::WriteWhole(path, std::string(size, 'x'));
  const timespec now{std::time(nullptr) - ageSeconds, 0};
  const timespec times[2] = {now, now};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

TEST(StorageKeeper, OwnNamesOnly) {
  for (const char* own :
       {"Cam1 2026-12-09-05-10-00.avi", "USB Camera 2026-01-02-03-04-05 (2).avi",
        "Motion-Yard 2026-12-09-05-10-00-125.avi", "Motion-Gate 2026-12-09-05-10-00-125.jpg",
        "Motion-2026-12-09-05-10-00-125.zip"}) {
    EXPECT_TRUE(IsOwnStorageFile(own)) << own;
  }
  for (const char* foreign :
       {"holiday.avi", "2026-12-09-05-10-00.avi", "Cam1 2026-12-09-05-10-00.avi.bak",
        "Motion-Yard 2026-12-09-05-10-00.jpg", "notes.txt", "Motion-2026-12-09.zip",
        "Cam1 2026-12-09-05-10-00.mp4", "snapshot.jpg"}) {
    EXPECT_FALSE(IsOwnStorageFile(foreign)) << foreign;
  }
}

// Five recordings and pictures of 100 KB, oldest first, a foreign file that
// is the oldest of all, and an open recording that is older than the rest:
// a 350 KB limit deletes exactly the two oldest own closed files.
TEST(StorageKeeper, DeletesOldestOwnClosedFilesToTheSizeLimit) {
  TempFolder home;
  SetApplicationFolder(home.Path());
  LogFile::ResetPath();
  const std::string avi = home.File("AVI");
  const std::string pic = home.File("PIC");
  std::filesystem::create_directory(avi);
  std::filesystem::create_directory(pic);
  const std::string foreign = avi + "/holiday.avi";
  const std::string open = avi + "/Cam 2026-12-01-00-00-00.avi";
  const std::string a = avi + "/Cam 2026-12-02-00-00-00.avi";
  const std::string b = pic + "/Motion-Cam 2026-12-03-00-00-00-000.jpg";
  const std::string c = pic + "/Motion-2026-12-03-00-00-00-000.zip";
  const std::string d = avi + "/Motion-Cam 2026-12-04-00-00-00-000.avi";
  MakeFile(foreign, 100000, 900);
  MakeFile(open, 100000, 800);
  MakeFile(a, 100000, 700);
  MakeFile(b, 100000, 600);
  MakeFile(c, 100000, 500);
  MakeFile(d, 100000, 400);
  const int fd = ::open(open.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  ASSERT_GE(fd, 0);

  StorageLimits limits;
  limits.maxBytes = 350000;
  const std::vector<std::string> deleted = StorageKeeper::Sweep({avi, pic}, limits);
  // Own files: open, a, b, c, d = 500 KB; a and b go, the open one stays.
  EXPECT_EQ(deleted, (std::vector<std::string>{a, b}));
  EXPECT_TRUE(Exists(foreign));
  EXPECT_TRUE(Exists(open));
  EXPECT_TRUE(Exists(c));
  EXPECT_TRUE(Exists(d));
  const std::string log = ReadWhole(LogFile::Path());
  EXPECT_NE(log.find("Storage keeper deleted " + a), std::string::npos) << log;
  EXPECT_NE(log.find("Storage keeper deleted " + b), std::string::npos) << log;

  // Within the limits nothing more goes; no limit at all deletes nothing.
  EXPECT_TRUE(StorageKeeper::Sweep({avi, pic}, limits).empty());
  EXPECT_TRUE(StorageKeeper::Sweep({avi, pic, avi}, StorageLimits{}).empty());
  ::close(fd);

  // Once closed, the old recording is the first to go.
  limits.maxBytes = 250000;
  EXPECT_EQ(StorageKeeper::Sweep({avi, pic}, limits), (std::vector<std::string>{open}));
  LogFile::ResetPath();
}

// A free-space floor above what the disk has deletes every own closed file
// (the disk cannot reach it), but still nothing foreign.
TEST(StorageKeeper, FreeSpaceFloorDeletesOwnFilesOnly) {
  TempFolder folder;
  SetApplicationFolder(folder.Path());
  LogFile::ResetPath();
  const std::string own1 = folder.File("Cam 2026-12-02-00-00-00.avi");
  const std::string own2 = folder.File("Cam 2026-12-03-00-00-00.avi");
  const std::string foreign = folder.File("keep.jpg");
  MakeFile(own1, 1000, 60);
  MakeFile(own2, 1000, 30);
  MakeFile(foreign, 1000, 90);
  const std::int64_t free = StorageKeeper::FreeBytes(folder.Path());
  ASSERT_GT(free, 0);
  StorageLimits limits;
  limits.minFreeBytes = static_cast<std::uint64_t>(free) * 4;
  EXPECT_EQ(StorageKeeper::Sweep({folder.Path()}, limits), (std::vector<std::string>{own1, own2}));
  EXPECT_TRUE(Exists(foreign));
  EXPECT_EQ(StorageKeeper::LimitsOf(0.5, 500).maxBytes, 512ull << 20);
  EXPECT_EQ(StorageKeeper::LimitsOf(0, 0).minFreeBytes, 0u);
  LogFile::ResetPath();
}

TEST(WriteFailure, OneBoxUntilSpaceIsBack) {
  TempFolder folder;
  SetApplicationFolder(folder.Path());
  LogFile::ResetPath();
  std::vector<std::string> boxes;
  SetWriteFailureNotifier([&boxes](const std::string& text) { boxes.push_back(text); });
  ResetWriteFailureNotice();
  ReportWriteFailure("line 1", "box 1");
  ReportWriteFailure("line 2", "box 2");
  ReportWriteFailure("picture line");
  EXPECT_EQ(boxes, (std::vector<std::string>{"box 1"}));
  // A sweep that finds enough free space lets the next failure show again.
  StorageKeeper::Sweep({folder.Path()}, StorageLimits{});
  ReportWriteFailure("line 3", "box 3");
  EXPECT_EQ(boxes, (std::vector<std::string>{"box 1", "box 3"}));
  SetWriteFailureNotifier(nullptr);
  const std::string log = ReadWhole(LogFile::Path());
  for (const char* line : {"line 1", "line 2", "picture line", "line 3"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line;
  }
  LogFile::ResetPath();
}

// Missing keys keep the old behaviour (no size limit, 500 MB free);
// negative or unreadable values fall back to the defaults.
TEST(StorageSettings, DefaultsAndBadValues) {
  IniFile ini;
  Settings s;
  LoadStorageSettings(ini, s);
  EXPECT_EQ(s.maxGb, 0);
  EXPECT_EQ(s.minFreeMb, 500);
  ini.SetString(keys::kStorage, "MAXGB", "0.25");
  ini.SetString(keys::kStorage, "MINFREEMB", "0");
  LoadStorageSettings(ini, s);
  EXPECT_EQ(s.maxGb, 0.25);
  EXPECT_EQ(s.minFreeMb, 0);
  ini.SetString(keys::kStorage, "MAXGB", "-1");
  ini.SetString(keys::kStorage, "MINFREEMB", "-5");
  LoadStorageSettings(ini, s);
  EXPECT_EQ(s.maxGb, 0);
  EXPECT_EQ(s.minFreeMb, 500);
  ini.SetString(keys::kStorage, "MAXGB", "lots");
  LoadStorageSettings(ini, s);
  EXPECT_EQ(s.maxGb, 0);
}

}  // namespace
}  // namespace qmr
