// A full disk during a recording: the recorder ends the recording at the
// first failed write, the file stays playable (ffmpeg decodes it without an
// error), and a recording started after space was freed works. The disk is a
// small tmpfs where this process may mount one, else a file size limit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "recording/movie_recorder.h"
#include "recording_test_util.h"

namespace qmr {
namespace {

using test::DecodeErrors;
using test::PatternFrame;
using test::Probe;
using test::TempDir;

constexpr int kFramesAfterFree = 20;

// Exit codes of the child that records.
enum Code {
  kOk = 0,
  kStartFailed = 10,
  kNeverFailed,
  kWrongFailure,
  kStillRecording,
  kMessageWithoutFile,
  kRestartFailed,
  kRestartWriteFailed,
};

int RecordUntilFull(const std::string& first, const std::string& second,
                    const std::function<void()>& fill, const std::function<void()>& free) {
  ::signal(SIGXFSZ, SIG_IGN);
  fill();
  const BitmapInfoHeader format = MakeRgb24Header(320, 240);
  MovieRecorder recorder;
  if (!recorder.Start(first, MakeFourCC("MJPG"), 8500, format, 8)) return kStartFailed;
  int i = 0;
  for (; i < 5000; ++i) {
    const auto frame = PatternFrame(format, i);
    if (!recorder.WriteFrame(frame.data(), frame.size(), "stamp " + std::to_string(i))) break;
  }
  if (i == 5000) return kNeverFailed;
  if (recorder.Failed() != MovieRecorder::Failure::kWrite) return kWrongFailure;
  if (recorder.IsRecording()) return kStillRecording;
  if (recorder.Message().find(first) == std::string::npos) return kMessageWithoutFile;
  // Later frames are refused quietly: the recording stays ended.
  const auto frame = PatternFrame(format, 0);
  if (recorder.WriteFrame(frame.data(), frame.size(), "late")) return kStillRecording;

  free();
  if (!recorder.Start(second, MakeFourCC("MJPG"), 8500, format, 8)) return kRestartFailed;
  for (int n = 0; n < kFramesAfterFree; ++n) {
    const auto f = PatternFrame(format, n);
    if (!recorder.WriteFrame(f.data(), f.size(), "again")) return kRestartWriteFailed;
  }
  recorder.Stop();
  return kOk;
}

void CheckPlayable(const std::string& first, const std::string& second) {
  int status = 0;
  EXPECT_EQ(DecodeErrors(first, &status), "");
  EXPECT_EQ(status, 0);
  const auto streams = Probe(first);
  ASSERT_FALSE(streams.empty());
  EXPECT_EQ(streams[0].codec, "mjpeg");
  EXPECT_GT(streams[0].frames, 0);
  EXPECT_EQ(DecodeErrors(second, &status), "");
  const auto again = Probe(second);
  ASSERT_FALSE(again.empty());
  EXPECT_EQ(again[0].frames, kFramesAfterFree);
}

int RunChild(const std::function<int()>& body) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(body());
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// The file size limit stands for the full disk; raising it frees space.
TEST(DiskFull, FileSizeLimit) {
  TempDir dir;
  const std::string first = dir.File("Cam 2026-12-09-06-00-00.avi");
  const std::string second = dir.File("Cam 2026-12-09-06-01-00.avi");
  const int code = RunChild([&] {
    return RecordUntilFull(
        first, second,
        [] {
          rlimit limit{300 * 1024, RLIM_INFINITY};
          ::setrlimit(RLIMIT_FSIZE, &limit);
        },
        [] {
          rlimit limit{RLIM_INFINITY, RLIM_INFINITY};
          ::setrlimit(RLIMIT_FSIZE, &limit);
        });
  });
  ASSERT_EQ(code, kOk);
  CheckPlayable(first, second);
}

// A real full file system: a 2 MiB tmpfs filled up to about 300 KB.
TEST(DiskFull, SmallTmpfs) {
  TempDir dir;
  const std::string disk = dir.File("disk");
  ::mkdir(disk.c_str(), 0700);
  if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=2m") != 0) {
    GTEST_SKIP() << "no tmpfs can be mounted here; the file size limit test covers the case";
  }
  const std::string first = disk + "/Cam 2026-12-09-06-00-00.avi";
  const std::string second = disk + "/Cam 2026-12-09-06-01-00.avi";
  const std::string filler = disk + "/filler";
  const int code = RunChild([&] {
    return RecordUntilFull(
        first, second,
        [&] {
          struct statvfs fs;
          ::statvfs(disk.c_str(), &fs);
          const long long room = static_cast<long long>(fs.f_bavail) * fs.f_frsize - 300 * 1024;
          const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
          std::vector<char> block(4096, 'f');
          for (long long done = 0; done < room; done += 4096) {
            if (::write(fd, block.data(), block.size()) <= 0) break;
          }
          ::close(fd);
        },
        [&] { ::unlink(filler.c_str()); });
  });
  // Copy the files out before the tmpfs goes.
  const std::string firstCopy = dir.File("first.avi"), secondCopy = dir.File("second.avi");
  test::RunCommand("cp '" + first + "' '" + firstCopy + "'; cp '" + second + "' '" + secondCopy +
                   "'");
  ::umount(disk.c_str());
  ASSERT_EQ(code, kOk);
  CheckPlayable(firstCopy, secondCopy);
}

}  // namespace
}  // namespace qmr
