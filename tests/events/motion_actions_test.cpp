// The motion actions driven through the detector's state machine with
// synthetic frames and a scripted verdict: pictures, the motion recording,
// packing, delivery to real mail and FTP peers on 127.0.0.1, the program
// start and the shared alarm.
#include "motion/motion_actions.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "../delivery/delivery_test_support.h"
#include "../recording/recording_test_util.h"
#include "../support/jpeg_tables.h"
#include "capture/capture_device.h"
#include "capture/jpeg_markers.h"
#include "capture/pattern_source.h"
#include "capture/video_frame.h"
#include "events_context.h"
#include "recording/bitmap_info.h"
#include "storage/write_failure.h"

namespace qmr {
namespace {

using testing::Capture;
using testing::EventsContext;
using testing::Exists;
using testing::Peer;
using testing::ReadWhole;
using testing::TempFolder;
using testing::WaitUntil;
namespace fs = std::filesystem;

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr const char* kCamera = "Test camera   NO.1";

// A detector whose verdict the test scripts and whose frames it makes: the
// upper half of the picture red, the lower half black, a moving grey bar,
// each frame 50 ms after the previous one.
class ScriptedDetector : public CameraMotionDetector {
 public:
  ScriptedDetector(AppContext& context, const std::string& name, CaptureDevice* device = nullptr)
      : CameraMotionDetector(context, name, device) {
    SetFrameSource([this](VideoFrame& frame) { return NextFrame(frame); });
    ResetMotionState(now_);
  }
  ~ScriptedDetector() override { SetRunning(false); }

  bool Detect() override { return motion_; }
  void OnMotion() override {
    ++motionCalls;
    CameraMotionDetector::OnMotion();
  }
  int motionCalls = 0;
  // Frames come with a JPEG of their pixels, as a stream camera's do; the
  // last one made.
  bool attachJpeg = false;
  // ... and without their Huffman tables, as webcams send them.
  bool withoutTables = false;
  std::vector<std::uint8_t> lastJpeg;
  // Frames made so far; frame n is taken at 10:00:00.000 + n * 50 ms.
  int FrameCount() const { return count_; }

  // Runs the state machine until one check has been made.
  void Check(bool motion) {
    motion_ = motion;
    for (int i = 0; i < 100; ++i) {
      now_ += 50;
      if (Poll(now_) == 0) return;
    }
    FAIL() << "no check ran";
  }
  // Three checks with motion begin a period.
  void Begin() {
    for (int i = 0; i < 3; ++i) Check(true);
    ASSERT_TRUE(InMotion());
  }
  // Quiet checks until the period is over.
  void End() {
    for (int i = 0; i < 200 && InMotion(); ++i) Check(false);
    ASSERT_FALSE(InMotion());
  }

 private:
  bool NextFrame(VideoFrame& frame) {
    ++count_;
    frame.header = MakeRgb24Header(kWidth, kHeight);
    frame.pixels.SetLength(0);
    std::vector<std::uint8_t> bgr(frame.header.sizeImage, 0);
    for (int y = kHeight / 2; y < kHeight; ++y) {  // stored rows: the upper half
      for (int x = 0; x < kWidth; ++x) bgr[(y * kWidth + x) * 3 + 2] = 255;
    }
    const int bar = (count_ * 7) % kWidth;
    for (int y = 0; y < kHeight; ++y) bgr[(y * kWidth + bar) * 3 + 1] = 128;
    frame.pixels.Append(bgr.data(), static_cast<std::int32_t>(bgr.size()));
    frame.jpeg.clear();
    if (attachJpeg) {
      tjhandle tj = tjInitCompress();
      unsigned char* out = nullptr;
      unsigned long size = 0;
      if (tjCompress2(tj, bgr.data(), kWidth, kWidth * 3, kHeight, TJPF_BGR, &out, &size,
                      TJSAMP_420, 70, TJFLAG_BOTTOMUP) == 0) {
        frame.jpeg.assign(out, out + size);
        if (withoutTables) frame.jpeg = testing::WithoutHuffmanTables(frame.jpeg);
      }
      tjFree(out);
      tjDestroy(tj);
      lastJpeg = frame.jpeg;
    }
    const long ms = 10L * 3600 * 1000 + count_ * 50L;
    frame.captureTime = SystemTime{2026,
                                   12,
                                   2,
                                   8,
                                   static_cast<std::uint16_t>(ms / 3600000),
                                   static_cast<std::uint16_t>(ms / 60000 % 60),
                                   static_cast<std::uint16_t>(ms / 1000 % 60),
                                   static_cast<std::uint16_t>(ms % 1000)};
    return true;
  }

  bool motion_ = false;
  std::uint32_t now_ = 1000;
  int count_ = 0;
};

// One test's folders: the program folder (archives, log), PIC and AVI.
class MotionActionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetApplicationFolder(folder_.Path());
    LogFile::ResetPath();
    CameraMotionDetector::ResetProgramStarted();
    picDir_ = folder_.File("PIC");
    aviDir_ = folder_.File("AVI");
    context_.Settings().Update([&](Settings& s) {
      s = Settings{};
      s.picDir = picDir_;
      s.aviDir = aviDir_;
      s.savAvi = s.savPic = s.alarm = s.hiSpeed = false;
      s.duration = 1;
    });
  }

  void Set(const std::function<void(Settings&)>& change) { context_.Settings().Update(change); }

  std::vector<std::string> Files(const std::string& dir, const std::string& ext) const {
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
      if (e.path().extension() == ext) found.push_back(e.path().filename().string());
    }
    std::sort(found.begin(), found.end());
    return found;
  }

  // Entry names of a ZIP archive (Python's zipfile also checks every CRC).
  static std::vector<std::string> ZipEntries(const std::string& archive) {
    std::vector<std::string> names;
    std::string listing = Capture("/usr/bin/python3 " + testing::kPeers + " zip '" + archive + "'");
    std::size_t start = 0;
    while (start < listing.size()) {
      std::size_t end = listing.find('\n', start);
      if (end == std::string::npos) end = listing.size();
      std::string line = listing.substr(start, end - start);
      if (!line.empty()) names.push_back(line.substr(0, line.find('\t')));
      start = end + 1;
    }
    return names;
  }

  static void Extract(const std::string& archive, const std::string& entry, const std::string& to) {
    Capture(
        "/usr/bin/python3 -c \"import zipfile,sys; open(sys.argv[3],'wb').write("
        "zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]))\" '" +
        archive + "' '" + entry + "' '" + to + "'");
  }

  TempFolder folder_;
  EventsContext context_;
  std::string picDir_, aviDir_;
};

TEST_F(MotionActionsTest, SavedPicturesArePackedIntoThePictureFolderAndNothingIsDelivered) {
  ASSERT_TRUE(context_.StartTransfer());
  Set([](Settings& s) { s.savPic = true; });
  ScriptedDetector detector(context_, kCamera);
  detector.Check(true);
  detector.Check(true);
  EXPECT_TRUE(Files(picDir_, ".jpg").empty());  // no period yet
  detector.Check(true);
  ASSERT_TRUE(detector.InMotion());
  for (int i = 0; i < 4; ++i) detector.Check(true);
  const std::vector<std::string> pictures = Files(picDir_, ".jpg");
  ASSERT_EQ(pictures.size(), 5u);  // the beginning check and the four after it
  EXPECT_EQ(pictures[0].rfind(std::string("Motion-") + kCamera + " 2026-12-08-10-00-00-", 0), 0u)
      << pictures[0];
  EXPECT_EQ(detector.ArchiveName(),
            "Motion-" + pictures[0].substr(pictures[0].size() - 27, 23) + ".zip");

  // The picture is upright and in its true colours: red above, black below.
  const std::string jpeg = ReadWhole(picDir_ + "/" + pictures[0]);
  tjhandle tj = tjInitDecompress();
  int w = 0, h = 0, sub = 0, space = 0;
  ASSERT_EQ(tjDecompressHeader3(tj, reinterpret_cast<const unsigned char*>(jpeg.data()),
                                jpeg.size(), &w, &h, &sub, &space),
            0);
  ASSERT_EQ(w, kWidth);
  ASSERT_EQ(h, kHeight);
  std::vector<unsigned char> rgb(static_cast<std::size_t>(w) * h * 3);
  ASSERT_EQ(tjDecompress2(tj, reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size(),
                          rgb.data(), w, 0, h, TJPF_RGB, 0),
            0);
  tjDestroy(tj);
  const unsigned char* top = &rgb[(10 * w + 3) * 3];
  const unsigned char* bottom = &rgb[((h - 10) * w + 3) * 3];
  EXPECT_GT(top[0], 200);
  EXPECT_LT(top[2], 60);
  EXPECT_LT(bottom[0] + bottom[1] + bottom[2], 60);

  const std::string archive = picDir_ + "/" + detector.ArchiveName();
  detector.End();
  EXPECT_TRUE(Files(picDir_, ".jpg").empty());
  std::vector<std::string> entries = ZipEntries(archive);
  std::sort(entries.begin(), entries.end());
  EXPECT_GE(entries.size(), 20u);  // every check of the period
  EXPECT_EQ(std::vector<std::string>(entries.begin(), entries.begin() + 5), pictures);
  EXPECT_TRUE(Files(folder_.Path(), ".zip").empty());
  EXPECT_TRUE(detector.ArchiveName().empty());
  SleepMs(200);
  EXPECT_EQ(context_.Transfer().HandledCount(), 0u);

  // The next period starts a fresh series with a new archive.
  detector.Begin();
  detector.End();
  EXPECT_EQ(Files(picDir_, ".zip").size(), 2u);
  EXPECT_TRUE(Files(picDir_, ".jpg").empty());

  // A camera that sends JPEGs with their tables: its own are the pictures.
  detector.attachJpeg = true;
  detector.Begin();
  const std::vector<std::string> own = Files(picDir_, ".jpg");
  ASSERT_FALSE(own.empty());
  const std::string saved = ReadWhole(picDir_ + "/" + own.back());
  EXPECT_EQ(saved, std::string(detector.lastJpeg.begin(), detector.lastJpeg.end()));
  detector.End();

  // One whose JPEGs lack the tables: its pictures get them back, still
  // without being compressed again, so any viewer opens them.
  detector.withoutTables = true;
  detector.Begin();
  const std::vector<std::string> completed = Files(picDir_, ".jpg");
  ASSERT_FALSE(completed.empty());
  const std::string file = ReadWhole(picDir_ + "/" + completed.back());
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(file.data());
  bool tables = false;
  EXPECT_TRUE(IsBaselineJpegOfSize(bytes, file.size(), kWidth, kHeight, &tables));
  EXPECT_TRUE(tables);
  EXPECT_EQ(testing::WithoutHuffmanTables(bytes, file.size()), detector.lastJpeg);
  detector.End();
}

TEST_F(MotionActionsTest, MailedPicturesArriveNestedInMotionZip) {
  const std::string inbox = folder_.File("inbox");
  fs::create_directories(inbox);
  Peer smtp(folder_.Path(), {"smtp", inbox, "user", "secret"});
  ASSERT_GT(smtp.Port(), 0);
  Set([&](Settings& s) {
    s.mailPic = true;
    s.mailServer = smtp.Address();
    s.authUser = "user";
    s.authPasswd = "secret";
    s.mailAuth = true;
    s.mailFrom = "camera@example.com";
    s.mailTo = "guard@example.com";
  });
  ASSERT_TRUE(context_.StartTransfer());
  ScriptedDetector detector(context_, kCamera);
  detector.Begin();
  detector.Check(true);
  const std::size_t pictures = Files(picDir_, ".jpg").size();
  ASSERT_GE(pictures, 2u);
  const std::string archive = detector.ArchiveName();
  detector.End();

  ASSERT_TRUE(WaitUntil([&] { return Exists(inbox + "/msg0.eml"); }, 20000))
      << ReadWhole(folder_.File("log.txt"));
  const std::string parts = folder_.File("parts");
  fs::create_directories(parts);
  Capture("/usr/bin/python3 " + testing::kPeers + " mail '" + inbox + "/msg0.eml' '" + parts + "'");
  EXPECT_EQ(ReadWhole(parts + "/subject"), "Motion detected");
  // The mail's line end after the body is the MIME layout's, not the body's.
  std::string body = ReadWhole(parts + "/body");
  if (!body.empty() && body.back() == '\n') body.pop_back();
  EXPECT_EQ(body, std::string("Dear sir,\n\tQuelmar Video Capture detected motion on camera ") +
                      kCamera + ",please see the attachment for the details.");
  // The mail composer gives attachment names in lower case; the file the
  // motion actions attach is "Motion.zip" in the program folder.
  EXPECT_EQ(LowerAscii(ReadWhole(parts + "/attachments")), "motion.zip|motion.zip");
  const std::string attachmentName = ReadWhole(parts + "/attachments").substr(0, 10);
  const std::string motionZip = parts + "/att-" + attachmentName;
  ASSERT_EQ(ZipEntries(motionZip), std::vector<std::string>{"ZippedJpg.zip"});
  Extract(motionZip, "ZippedJpg.zip", parts + "/inner.zip");
  std::vector<std::string> jpgs = ZipEntries(parts + "/inner.zip");
  EXPECT_GE(jpgs.size(), 20u);
  for (const auto& name : jpgs) EXPECT_EQ(fs::path(name).extension(), ".jpg") << name;

  // Nothing stays behind: no JPG, no picture archive, no archive beside the
  // program.
  EXPECT_TRUE(Files(picDir_, ".jpg").empty());
  EXPECT_FALSE(Exists(picDir_ + "/" + archive));
  EXPECT_TRUE(Files(folder_.Path(), ".zip").empty());
  EXPECT_FALSE(Exists(inbox + "/msg1.eml"));
}

TEST_F(MotionActionsTest, RecordingIsUploadedByFtpAndKeptInTheMovieFolder) {
  const std::string ftpRoot = folder_.File("ftp");
  fs::create_directories(ftpRoot);
  Peer ftp(folder_.Path(), {"ftp", ftpRoot, "user", "secret"});
  ASSERT_GT(ftp.Port(), 0);
  Set([&](Settings& s) {
    s.savAvi = s.ftpAvi = s.hiSpeed = true;
    s.fccHandler = MakeFourCC("MJPG");
    s.ftpServer = ftp.Address();
    s.ftpUser = "user";
    s.ftpPasswd = "secret";
  });
  ASSERT_TRUE(context_.StartTransfer());
  // A real capture device (not started) gives the frame rate and the high
  // speed switch.
  CaptureDevice device;
  PatternParameters pattern;
  pattern.width = kWidth;
  pattern.height = kHeight;
  pattern.frameRate = 8;
  ASSERT_TRUE(device.Open(std::make_unique<PatternSource>(pattern)));
  ScriptedDetector detector(context_, kCamera, &device);
  EXPECT_FALSE(device.highSpeed.load());
  detector.Begin();
  EXPECT_TRUE(device.highSpeed.load());
  for (int i = 0; i < 5; ++i) detector.Check(true);
  const std::string recording = detector.RecordingPath();
  ASSERT_FALSE(recording.empty());
  EXPECT_EQ(fs::path(recording).parent_path(), fs::path(aviDir_));
  const std::string archive = detector.ArchiveName();
  detector.End();
  EXPECT_FALSE(device.highSpeed.load());
  EXPECT_TRUE(detector.RecordingPath().empty());

  ASSERT_TRUE(WaitUntil([&] { return Exists(ftpRoot + "/" + archive); }, 20000))
      << ReadWhole(folder_.File("log.txt"));
  ASSERT_TRUE(WaitUntil([&] { return !Exists(folder_.File(archive)); }, 5000));
  const std::string avi = fs::path(recording).filename().string();
  ASSERT_EQ(ZipEntries(ftpRoot + "/" + archive), std::vector<std::string>{avi});
  Extract(ftpRoot + "/" + archive, avi, folder_.File("fetched.avi"));
  EXPECT_EQ(ReadWhole(folder_.File("fetched.avi")), ReadWhole(recording));
  const std::string probe = Capture(
      "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
      "stream=codec_name,width,height,r_frame_rate,nb_read_frames -of csv=p=0 '" +
      recording + "' 2>&1");
  ASSERT_EQ(probe.rfind("mjpeg,160,120,8/1,", 0), 0u) << probe;
  EXPECT_GE(std::stoi(probe.substr(18)), 20) << probe;  // every check of the period
  EXPECT_TRUE(Files(folder_.Path(), ".zip").empty());
}

// The movie and picture folders on a small full disk (a tmpfs): the
// recording ends at the first failed write with one log line and one
// message, stays playable, pictures that cannot be written leave nothing
// behind; once space is freed the next period records again.
TEST_F(MotionActionsTest, FullDiskEndsThePeriodsRecordingAndTheNextOneRecordsAgain) {
  const std::string disk = folder_.File("disk");
  fs::create_directories(disk);
  if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=1m") != 0) {
    GTEST_SKIP() << "no tmpfs can be mounted here; the recording tests cover full disks";
  }
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount(path.c_str()); }
  } unmount{disk};
  const std::string avi = disk + "/AVI";
  fs::create_directories(avi);
  std::vector<std::string> boxes;
  SetWriteFailureNotifier([&boxes](const std::string& text) { boxes.push_back(text); });
  ResetWriteFailureNotice();
  Set([&](Settings& s) {
    s.savAvi = s.savPic = true;
    s.aviDir = avi;
    s.picDir = avi;
    s.fccHandler = MakeFourCC("MJPG");
  });
  // Leave about 80 KB free.
  const std::string filler = disk + "/filler";
  {
    struct statvfs st;
    ASSERT_EQ(::statvfs(disk.c_str(), &st), 0);
    const long long room = static_cast<long long>(st.f_bavail) * st.f_frsize - 80 * 1024;
    std::ofstream out(filler, std::ios::binary);
    out << std::string(static_cast<std::size_t>(room), 'f');
  }

  ScriptedDetector detector(context_, kCamera);
  detector.Begin();
  const std::string recording = detector.RecordingPath();
  ASSERT_FALSE(recording.empty());
  for (int i = 0; i < 200 && !detector.RecordingPath().empty(); ++i) detector.Check(true);
  EXPECT_TRUE(detector.RecordingPath().empty()) << "the full disk was never noticed";
  for (int i = 0; i < 5; ++i) detector.Check(true);
  detector.End();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].find(recording), std::string::npos) << boxes[0];
  const std::string log = ReadWhole(folder_.File("log.txt"));
  EXPECT_NE(log.find("The recording " + recording +
                     " was stopped: it could not be written (No "
                     "space left on device)"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("could not be written: No space left on device"), std::string::npos);
  ASSERT_TRUE(Exists(recording));
  EXPECT_EQ(Capture("ffmpeg -nostdin -v error -i '" + recording + "' -f null - 2>&1"), "");
  // No picture is cut short: each one left decodes.
  for (const std::string& jpg : Files(avi, ".jpg")) {
    EXPECT_EQ(Capture("ffmpeg -nostdin -v error -i '" + avi + "/" + jpg + "' -f null - 2>&1"), "")
        << jpg;
  }

  // Still full: the next period cannot record and says so once, no new box.
  detector.Begin();
  for (int i = 0; i < 5; ++i) detector.Check(true);
  EXPECT_TRUE(detector.RecordingPath().empty());
  detector.End();
  EXPECT_EQ(boxes.size(), 1u);

  // Space freed: the next period records.
  ::unlink(filler.c_str());
  for (const std::string& zip : Files(avi, ".zip")) ::unlink((avi + "/" + zip).c_str());
  detector.Begin();
  detector.Check(true);
  const std::string again = detector.RecordingPath();
  EXPECT_FALSE(again.empty());
  for (int i = 0; i < 5; ++i) detector.Check(true);
  detector.End();
  ASSERT_TRUE(Exists(again));
  EXPECT_EQ(Capture("ffmpeg -nostdin -v error -i '" + again + "' -f null - 2>&1"), "");
  SetWriteFailureNotifier(nullptr);
}

TEST_F(MotionActionsTest, SwitchingRecordingsOffDeletesTheRecordingAtTheNextCheck) {
  Set([](Settings& s) {
    s.savAvi = true;
    s.fccHandler = MakeFourCC("MJPG");
  });
  ScriptedDetector detector(context_, kCamera);
  detector.Begin();
  detector.Check(true);
  const std::string recording = detector.RecordingPath();
  ASSERT_FALSE(recording.empty());
  ASSERT_TRUE(Exists(recording));
  Set([](Settings& s) { s.savAvi = s.ftpAvi = s.mailAvi = false; });
  detector.Check(true);
  EXPECT_TRUE(detector.RecordingPath().empty());
  EXPECT_FALSE(Exists(recording));
  detector.End();
  EXPECT_TRUE(Files(aviDir_, ".avi").empty());
  EXPECT_TRUE(Files(folder_.Path(), ".zip").empty());

  // Without a compressor no recording is made, and nothing complains.
  Set([](Settings& s) {
    s.savAvi = true;
    s.fccHandler = 0;
  });
  detector.Begin();
  EXPECT_TRUE(detector.RecordingPath().empty());
  detector.End();
  EXPECT_TRUE(Files(aviDir_, ".avi").empty());
  EXPECT_TRUE(context_.messages.empty());
}

TEST_F(MotionActionsTest, ProgramRunsAtEveryCheckOrOnlyOnce) {
  const std::string script = folder_.File("on motion.sh");
  const std::string marker = folder_.File("marker.txt");
  testing::WriteWhole(script, "#!/bin/sh\necho \"$1\" >> \"$(dirname \"$0\")/marker.txt\"\n");
  chmod(script.c_str(), 0755);
  auto lines = [&] {
    const std::string text = ReadWhole(marker);
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
  };

  Set([&](Settings& s) {
    s.exec = true;
    s.exeOnce = false;
    s.exeFile = script;
    s.exeParam = "every";
  });
  ScriptedDetector detector(context_, kCamera);
  detector.Begin();
  detector.End();
  ASSERT_GE(detector.motionCalls, 20);
  EXPECT_TRUE(WaitUntil([&] { return lines() == detector.motionCalls; }, 5000)) << lines();
  EXPECT_EQ(ReadWhole(marker).substr(0, 6), "every\n");
  SleepMs(200);
  EXPECT_EQ(lines(), detector.motionCalls);

  // Once in the whole run, whichever camera and period. (A start has already
  // succeeded in this run; the flag is cleared as at program start.)
  testing::WriteWhole(marker, "");
  CameraMotionDetector::ResetProgramStarted();
  Set([](Settings& s) {
    s.exeOnce = true;
    s.exeParam = "";
  });
  ScriptedDetector second(context_, "Second   NO.2");
  detector.Begin();
  detector.Check(true);
  detector.End();
  second.Begin();
  second.End();
  EXPECT_TRUE(WaitUntil([&] { return lines() == 1; }, 5000)) << lines();
  SleepMs(200);
  EXPECT_EQ(lines(), 1);
  EXPECT_EQ(ReadWhole(marker), "\n");  // no parameters: the program alone
}

TEST_F(MotionActionsTest, TwoCamerasShareOneAlarm) {
  context_.Alarm().SetSoundFile("/sounds/alarm.wav");
  Set([](Settings& s) {
    s.alarm = true;
    s.sndRepeat = true;
  });
  testing::CountingPlayer& player = *context_.player;
  ScriptedDetector first(context_, "First   NO.1");
  ScriptedDetector second(context_, "Second   NO.2");
  first.Begin();
  EXPECT_EQ(player.plays, 1);
  EXPECT_TRUE(player.lastLoop);
  second.Begin();
  first.Check(true);
  EXPECT_EQ(player.plays, 1);
  first.End();
  EXPECT_EQ(player.stops, 0);
  EXPECT_TRUE(player.audible);
  second.End();
  EXPECT_EQ(player.stops, 1);
  EXPECT_FALSE(player.audible);
  EXPECT_EQ(context_.Alarm().Count(), 0);

  // Switching the alarm off during a period still silences it at the end.
  first.Begin();
  Set([](Settings& s) { s.alarm = false; });
  first.End();
  EXPECT_EQ(player.stops, 2);
  EXPECT_EQ(context_.Alarm().Count(), 0);

  // Without repeat the sound plays once as each period begins.
  Set([](Settings& s) {
    s.alarm = true;
    s.sndRepeat = false;
  });
  first.Begin();
  EXPECT_EQ(player.plays, 3);
  EXPECT_FALSE(player.lastLoop);
  first.End();
  EXPECT_EQ(context_.Alarm().Count(), 0);
}

// The milliseconds of the day of a "%04d-%02d-%02d-%02d-%02d-%02d-%03d" stamp.
long StampMs(const std::string& stamp) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0, ms = 0;
  if (std::sscanf(stamp.c_str(), "%d-%d-%d-%d-%d-%d-%d", &y, &mo, &d, &h, &mi, &sec, &ms) != 7)
    return -1;
  return ((h * 60L + mi) * 60 + sec) * 1000 + ms;
}

TEST_F(MotionActionsTest, RecordingBeginsWithTheSecondsBeforeTheMotion) {
  struct Case {
    const char* codec;
    int seconds;
  };
  for (const Case c : {Case{"MJPG", 2}, Case{"H264", 2}, Case{"FMP4", 1}, Case{"MJPG", 0}}) {
    SCOPED_TRACE(std::string(c.codec) + " " + std::to_string(c.seconds));
    Set([&](Settings& s) {
      s.savAvi = true;
      s.fccHandler = MakeFourCC(c.codec);
      s.preCapture = c.seconds;
    });
    ScriptedDetector detector(context_, kCamera);
    for (int i = 0; i < 20; ++i) detector.Check(false);  // 4 s of quiet frames
    detector.Begin();
    const int first = detector.FrameCount();  // the check that began the period
    for (int i = 0; i < 5; ++i) detector.Check(true);
    const std::string recording = detector.RecordingPath();
    ASSERT_FALSE(recording.empty());
    detector.End();

    int status = -1;
    EXPECT_EQ(test::DecodeErrors(recording, &status), "");
    EXPECT_EQ(status, 0);
    // The movie starts at a key frame.
    const std::string flags =
        Capture("ffprobe -v error -select_streams v:0 -show_entries packet=flags -of csv=p=0 '" +
                recording + "' 2>&1 | head -1");
    EXPECT_EQ(flags.rfind("K", 0), 0u) << flags;

    std::vector<long> stamps;
    for (const std::string& sample : test::ReadTextSamples(recording)) {
      if (!sample.empty() && sample[0] != '\0') stamps.push_back(StampMs(sample.c_str()));
    }
    const auto streams = test::Probe(recording);
    ASSERT_FALSE(streams.empty());
    EXPECT_EQ(streams[0].frames, static_cast<long>(stamps.size()));
    ASSERT_FALSE(stamps.empty());
    // One stamp per frame, 50 ms apart, without a gap up to and across the
    // frame that began the period.
    for (std::size_t i = 1; i < stamps.size(); ++i) {
      ASSERT_EQ(stamps[i] - stamps[i - 1], 50) << "frame " << i;
    }
    const long motionMs = 10L * 3600 * 1000 + first * 50L;
    EXPECT_LE(stamps.front(), motionMs - c.seconds * 1000L);
    EXPECT_GE(stamps.front(), motionMs - c.seconds * 1000L - 50);
    std::error_code ec;
    fs::remove(recording, ec);
  }
}

}  // namespace
}  // namespace qmr
