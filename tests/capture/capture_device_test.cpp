// The capture device over real sources: frame rate, format changes, the
// preview hand-off, frame requests, and sources that end or fail.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <csignal>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "capture/camera_entry.h"
#include "capture/capture_device.h"
#include "capture/jpeg_markers.h"
#include "capture/pattern_source.h"
#include "base/log_file.h"

namespace qmr {
namespace {

class CaptureDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qmr_capdev_XXXXXX";
    dir_ = mkdtemp(tmpl);
    SetApplicationFolder(dir_);
    LogFile::ResetPath();
    StopFlag.store(0);
  }
  void TearDown() override {
    StopFlag.store(0);
    std::string cmd = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(0, std::system(cmd.c_str()));
  }
  std::string ReadLog() {
    std::string text;
    if (FILE* f = std::fopen(LogFile::Path().c_str(), "rb")) {
      char buf[4096];
      std::size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
      std::fclose(f);
    }
    return text;
  }
  std::string dir_;
};

std::unique_ptr<CaptureDevice> OpenPattern(const std::string& parameters) {
  auto device = std::make_unique<CaptureDevice>();
  EXPECT_TRUE(device->Open(std::make_unique<PatternSource>(ParsePatternParameters(parameters))));
  return device;
}

TEST_F(CaptureDeviceTest, PatternCameraDeliversAtItsRateAndFollowsFormatChanges) {
  auto device = OpenPattern("pattern 320x240@20");
  BitmapInfoHeader header;
  int rate = 0, bitRate = 0;
  ASSERT_TRUE(device->GetFormat(header, rate, &bitRate));
  EXPECT_EQ(header.width, 320);
  EXPECT_EQ(header.height, 240);
  EXPECT_EQ(header.bitCount, 24);
  EXPECT_EQ(header.sizeImage, 320u * 240 * 3);
  EXPECT_EQ(rate, 20);
  EXPECT_EQ(device->frameRate.load(), 20);

  int count = 0, size = 0;
  ASSERT_TRUE(device->GetCapabilityCount(count, size));
  EXPECT_EQ(count, 4);
  VideoCapability cap;
  ASSERT_TRUE(device->GetCapability(3, cap));
  EXPECT_EQ(cap.maxWidth, 1280);
  EXPECT_EQ(cap.maxHeight, 720);
  EXPECT_EQ(cap.maxFrameRate, 30);
  EXPECT_FALSE(device->GetCapability(4, cap));

  VideoFrame frame;
  EXPECT_FALSE(device->RequestFrame(frame, 100));  // not running: no wait
  ASSERT_TRUE(device->Start());
  EXPECT_TRUE(device->Start());  // already running
  device->highSpeed.store(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto before = device->ProcessedFrames();
  std::this_thread::sleep_for(std::chrono::seconds(2));
  const auto delivered = device->ProcessedFrames() - before;
  // 40 frames expected; loose bounds for a busy machine.
  EXPECT_GE(delivered, 16u);
  EXPECT_LE(delivered, 46u);

  ASSERT_TRUE(device->RequestFrame(frame));
  EXPECT_EQ(frame.Width(), 320);
  EXPECT_EQ(frame.pixels.Length(), 320 * 240 * 3);
  EXPECT_NE(frame.captureTime.year, 0);

  // The format is changed the documented way: stop, set, start.
  ASSERT_TRUE(device->Stop());
  EXPECT_TRUE(device->Stop());
  BitmapInfoHeader wanted = MakeRgb24Header(640, 480);
  wanted.bitCount = 32;  // forced back to 24
  ASSERT_TRUE(device->SetFormat(&wanted, 0));  // a rate below 1 becomes 1
  EXPECT_EQ(device->frameRate.load(), 1);
  BitmapInfoHeader odd = MakeRgb24Header(333, 200);
  EXPECT_FALSE(device->SetFormat(&odd, 5));  // no such size: format unchanged
  ASSERT_TRUE(device->SetFormat(&wanted, 15));
  ASSERT_TRUE(device->Start());
  ASSERT_TRUE(device->RequestFrame(frame));
  EXPECT_EQ(frame.Width(), 640);
  EXPECT_EQ(frame.Height(), 480);
  EXPECT_EQ(frame.header.bitCount, 24);
  EXPECT_EQ(frame.pixels.Length(), 640 * 480 * 3);
  device->Stop();
  device->Close();
  EXPECT_FALSE(device->Start());
}

TEST_F(CaptureDeviceTest, PreviewKeepsOnlyTheNewestFrameAndPropertiesChangeThePicture) {
  auto device = OpenPattern("pattern 160x120@30 motion=100 still=0");
  std::atomic<int> notified{0};
  ASSERT_TRUE(device->AttachWindow([&] { notified.fetch_add(1); }));
  device->Preview().SetShowTimeStamp(false);
  EXPECT_FALSE(device->Preview().ShowTimeStamp());
  device->Preview().SetTextColour(Rgb{1, 2, 3});
  EXPECT_EQ(device->Preview().TextColour(), (Rgb{1, 2, 3}));
  ASSERT_TRUE(device->Start());
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  // Nobody painted: a single notify, a single pending frame.
  EXPECT_EQ(notified.load(), 1);
  PreviewFrame shown;
  ASSERT_TRUE(device->Preview().TakeFrame(shown));
  EXPECT_EQ(shown.width, 160);
  EXPECT_EQ(shown.height, 120);
  EXPECT_EQ(shown.pixels.size(), 160u * 120 * 4);
  EXPECT_EQ(shown.stampText.size(), 18u);  // "MM/DD hh:mm:ss:mmm"
  // The pattern's sky is at the top: the preview is top-down blue, green,
  // red, unused (blue strongest there).
  EXPECT_GT(shown.pixels[0], shown.pixels[2]);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_GE(notified.load(), 2);  // taking the frame re-arms the notify

  long minimum, maximum, step, def, flags;
  ASSERT_TRUE(device->GetPropertyRange(kPropBrightness, minimum, maximum, step, def, flags));
  EXPECT_LT(minimum, maximum);
  EXPECT_FALSE(device->GetPropertyRange(11, minimum, maximum, step, def, flags));
  EXPECT_FALSE(device->SetProperty(kPropBrightness, maximum + 1, kPropertyFlagManual));
  VideoFrame plain, bright, grey;
  ASSERT_TRUE(device->RequestFrame(plain));
  ASSERT_TRUE(device->SetProperty(kPropBrightness, maximum, kPropertyFlagManual));
  long value = 0;
  ASSERT_TRUE(device->GetProperty(kPropBrightness, value, flags));
  EXPECT_EQ(value, maximum);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(device->RequestFrame(bright));
  ASSERT_TRUE(device->SetProperty(kPropColorEnable, 0, kPropertyFlagManual));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(device->RequestFrame(grey));
  // Bottom-up: the last stored row is the top of the picture (sky).
  const int top = (120 - 1) * 160 * 3;
  EXPECT_GT(bright.pixels.Data()[top + 1], plain.pixels.Data()[top + 1]);
  EXPECT_EQ(grey.pixels.Data()[top], grey.pixels.Data()[top + 1]);
  EXPECT_EQ(grey.pixels.Data()[top + 1], grey.pixels.Data()[top + 2]);

  device->AttachWindow({});
  device->Stop();
}

TEST_F(CaptureDeviceTest, PatternMovesThenStandsStill) {
  PatternSource source(ParsePatternParameters("pattern 160x120@10 motion=1 still=1"));
  std::vector<std::uint8_t> a, b;
  int w, h;
  EXPECT_TRUE(source.InMotion(0));
  EXPECT_FALSE(source.InMotion(12));
  source.RenderFrame(2, a, w, h);
  source.RenderFrame(5, b, w, h);
  EXPECT_NE(a, b);  // moving
  source.RenderFrame(12, a, w, h);
  source.RenderFrame(18, b, w, h);
  EXPECT_EQ(a, b);  // still: identical pictures
  source.RenderFrame(25, b, w, h);
  EXPECT_NE(a, b);  // moving again
  std::vector<std::uint8_t> again;
  source.RenderFrame(25, again, w, h);
  EXPECT_EQ(b, again);  // deterministic
}

// A source whose stream delivers a few odd-sized pictures and then ends, as
// an unplugged camera does.
class EndingSource : public FrameSource {
 public:
  bool Open() override { return true; }
  std::string DeviceName() const override { return "Ending"; }
  bool Start(SampleSink& sink) override {
    thread_ = std::thread([this, &sink] {
      std::vector<std::uint8_t> picture((322 * 3 + 7) * 10, 0x80);
      for (int i = 0; i < 5; ++i) {
        sink.OnSample(picture.data(), 322, 10, 322 * 3 + 7);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      sink.OnSample(nullptr, 322, 10, 0);  // garbage is ignored
      sink.OnSample(picture.data(), 2, 10, 6);
      sink.OnSourceEnded("the device was removed");
    });
    return true;
  }
  void Stop() override {
    if (thread_.joinable()) thread_.join();
  }
  void Close() override { Stop(); }
  bool GetFormat(int& w, int& h, int& r) override {
    w = 322;
    h = 10;
    r = 0;  // a broken rate must not reach a division
    return true;
  }
  bool SetFormat(int, int, int) override { return false; }
  int CapabilityCount() override { return 0; }
  bool GetCapability(int, VideoCapability&) override { return false; }
  bool GetPropertyRange(int, PropertyRange&) override { return false; }
  bool GetProperty(int, long&, long&) override { return false; }
  bool SetProperty(int, long, long) override { return false; }

 private:
  std::thread thread_;
};

TEST_F(CaptureDeviceTest, SourcesThatEndOrFailCrashNothing) {
  CameraEntry entry;
  entry.name = "Yard   NO.1";
  entry.kind = SourceKind::Stream;
  entry.source = dir_ + "/no such file.avi";
  CaptureDevice missing;
  EXPECT_FALSE(missing.Open(entry));
  EXPECT_FALSE(missing.Start());
  EXPECT_FALSE(missing.Stop());
  BitmapInfoHeader header;
  int rate;
  EXPECT_FALSE(missing.GetFormat(header, rate));
  long v, f;
  EXPECT_FALSE(missing.GetProperty(0, v, f));

  CaptureDevice device;
  ASSERT_TRUE(device.Open(std::make_unique<EndingSource>()));
  EXPECT_EQ(device.frameRate.load(), 1);
  ASSERT_TRUE(device.Start());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_GE(device.ProcessedFrames(), 1u);
  VideoFrame frame;
  // The stream has ended: the request gives up instead of hanging.
  EXPECT_FALSE(device.RequestFrame(frame, 200));
  EXPECT_NE(ReadLog().find("Ending stopped: the device was removed"), std::string::npos);
  ASSERT_TRUE(device.Stop());
}

TEST_F(CaptureDeviceTest, StopFlagAndCloseEndTheThreadsPromptly) {
  auto device = OpenPattern("pattern 320x240@30");
  ASSERT_TRUE(device->Start());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  StopFlag.store(1);
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  const auto after = device->ProcessedFrames();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(device->ProcessedFrames(), after);  // the frame thread has ended
  VideoFrame frame;
  EXPECT_FALSE(device->RequestFrame(frame, 100));
  // Start on a device whose frame thread ended by itself starts a new one.
  StopFlag.store(0);
  EXPECT_TRUE(device->IsRunning());
  ASSERT_TRUE(device->Start());
  EXPECT_TRUE(device->RequestFrame(frame, 2000));
  EXPECT_GT(device->ProcessedFrames(), after);
  EXPECT_TRUE(device->Stop());

  // Destroying a running device stops everything on the way.
  auto running = OpenPattern("pattern 640x480@1");
  ASSERT_TRUE(running->Start());
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  running.reset();
  SUCCEED();
}

}  // namespace
}  // namespace qmr

namespace qmr {
namespace {

bool MakeVideoFile(const std::string& path, const std::string& size, int seconds) {
  const std::string cmd = "ffmpeg -v error -y -f lavfi -i testsrc=size=" + size +
                          ":rate=25 -t " + std::to_string(seconds) + " -c:v mpeg4 '" + path +
                          "'";
  return std::system(cmd.c_str()) == 0;
}

TEST_F(CaptureDeviceTest, VideoFileCameraPlaysInRealTimeAndLoops) {
  const std::string file = dir_ + "/clip.avi";
  ASSERT_TRUE(MakeVideoFile(file, "322x240", 1));
  CameraEntry entry;
  entry.name = "Clip   NO.1";
  entry.kind = SourceKind::Stream;
  entry.source = file;
  CaptureDevice device;
  ASSERT_TRUE(device.Open(entry));
  BitmapInfoHeader header;
  int rate = 0;
  ASSERT_TRUE(device.GetFormat(header, rate));
  EXPECT_EQ(header.width, 320);  // cut to a multiple of 4
  EXPECT_EQ(header.height, 240);
  EXPECT_EQ(rate, 25);
  device.highSpeed.store(true);
  ASSERT_TRUE(device.Start());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto before = device.ProcessedFrames();
  std::this_thread::sleep_for(std::chrono::seconds(2));
  const auto played = device.ProcessedFrames() - before;
  // Real time: about 50 pictures in two seconds, not as fast as decoding
  // goes. Looped: more pictures in all than the 25 the file holds.
  EXPECT_LE(played, 60u);
  EXPECT_GE(device.ProcessedFrames(), 30u);
  VideoFrame frame;
  ASSERT_TRUE(device.RequestFrame(frame));
  EXPECT_EQ(frame.Width(), 320);
  EXPECT_EQ(frame.pixels.Length(), 320 * 240 * 3);

  // Scaled and slowed down on request.
  ASSERT_TRUE(device.Stop());
  BitmapInfoHeader small = MakeRgb24Header(160, 120);
  ASSERT_TRUE(device.SetFormat(&small, 5));
  ASSERT_TRUE(device.Start());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto slowBefore = device.ProcessedFrames();
  std::this_thread::sleep_for(std::chrono::seconds(2));
  const auto slow = device.ProcessedFrames() - slowBefore;
  EXPECT_GE(slow, 5u);
  EXPECT_LE(slow, 13u);
  ASSERT_TRUE(device.RequestFrame(frame));
  EXPECT_EQ(frame.Width(), 160);
  EXPECT_EQ(frame.Height(), 120);
  device.Stop();

  // Not a video at all: refused at Open.
  const std::string junk = dir_ + "/junk.avi";
  FILE* f = std::fopen(junk.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("this is no video", f);
  std::fclose(f);
  entry.source = junk;
  CaptureDevice bad;
  EXPECT_FALSE(bad.Open(entry));
}

// A stream entry naming a FIFO would wait in open() for a writer; it is
// refused at once, and every camera that cannot be opened says why in the log.
TEST_F(CaptureDeviceTest, CamerasThatCannotOpenAreLoggedAndFifosNeverBlock) {
  const std::string fifo = dir_ + "/pipe";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  CameraEntry entry;
  entry.name = "Pipe";
  entry.kind = SourceKind::Stream;
  entry.source = fifo;
  std::atomic<bool> returned{false};
  bool opened = true;
  std::thread opener([&] {
    CaptureDevice device;
    opened = device.Open(entry);
    returned = true;
  });
  for (int i = 0; i < 100 && !returned; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const bool blocked = !returned;
  if (blocked) {
    // Release the opener so the test can end.
    const int writer = open(fifo.c_str(), O_WRONLY);
    if (writer >= 0) close(writer);
  }
  opener.join();
  EXPECT_FALSE(blocked);
  EXPECT_FALSE(opened);
  const std::string log = ReadLog();
  EXPECT_NE(log.find("Camera Pipe could not be opened: " + fifo +
                     " is neither a regular file, a device nor a URL"),
            std::string::npos)
      << log;

  entry.name = "Gone";
  entry.source = dir_ + "/missing.avi";
  CaptureDevice missing;
  EXPECT_FALSE(missing.Open(entry));
  EXPECT_NE(ReadLog().find("Camera Gone could not be opened: " + entry.source +
                           ": No such file or directory"),
            std::string::npos);
  entry.name = "Junk";
  entry.source = dir_ + "/junk.txt";
  FILE* f = std::fopen(entry.source.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("this is no video", f);
  std::fclose(f);
  EXPECT_FALSE(missing.Open(entry));
  EXPECT_NE(ReadLog().find("Camera Junk could not be opened: " + entry.source + ": "),
            std::string::npos);
}

TEST_F(CaptureDeviceTest, FileCameraDecodesStraightIntoABottomUpFrame) {
  // Top half white, bottom half black: the frame's first stored row is the
  // picture's bottom.
  const std::string file = dir_ + "/halves.avi";
  const std::string cmd = "ffmpeg -v error -y -f lavfi -i "
                          "'color=c=white:s=320x120:r=25,pad=320:240:0:0:black' -t 1 "
                          "-c:v mjpeg -pix_fmt yuvj420p '" + file + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  CameraEntry entry;
  entry.name = "Halves   NO.1";
  entry.kind = SourceKind::Stream;
  entry.source = file;
  CaptureDevice device;
  ASSERT_TRUE(device.Open(entry));
  ASSERT_TRUE(device.Start());
  VideoFrame frame;
  ASSERT_TRUE(device.RequestFrame(frame));
  ASSERT_EQ(frame.pixels.Length(), 320 * 240 * 3);
  const std::uint8_t* bottomRow = frame.pixels.Data();
  const std::uint8_t* topRow = frame.pixels.Data() + 320 * 3 * 239;
  EXPECT_LT(bottomRow[160 * 3], 30);
  EXPECT_GT(topRow[160 * 3], 225);
  // The clip's own JPEG picture comes with the frame, for recordings that
  // keep it as it is.
  EXPECT_TRUE(IsBaselineJpegOfSize(frame.jpeg.data(), frame.jpeg.size(), 320, 240));

  // Shown in a small pane, with a detector between its checks: the pictures
  // are decoded small for the preview only, and the frame buffer keeps the
  // camera's JPEG of them, which gives the whole picture to whoever asks.
  struct BetweenChecks : DetectorState {
    bool IsRunning() const override { return true; }
    bool WantsPixels() const override { return false; }
  } detector;
  device.SetMotionDetector(&detector);
  device.AttachWindow([] {});
  device.Preview().SetPaneSize(160, 120);
  VideoFrame kept;
  bool jpegOnly = false;
  for (int i = 0; i < 20 && !jpegOnly; ++i) {
    ASSERT_TRUE(device.Frames().WaitCopyIfNewer(kept, 2000, true));
    jpegOnly = kept.pixels.Length() == 0 && !kept.jpeg.empty();
  }
  EXPECT_TRUE(jpegOnly);
  VideoFrame judged;
  ASSERT_TRUE(device.Frames().WaitCopyIfNewer(judged, 2000));
  ASSERT_EQ(judged.pixels.Length(), 320 * 240 * 3);
  EXPECT_LT(judged.pixels.Data()[160 * 3], 30);
  EXPECT_GT(judged.pixels.Data()[320 * 3 * 239 + 160 * 3], 225);
  PreviewFrame shown;
  bool taken = false;
  for (int i = 0; i < 100 && !taken; ++i) {
    taken = device.Preview().TakeFrame(shown);
    if (!taken) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(taken);
  ASSERT_EQ(shown.width, 160);
  ASSERT_EQ(shown.height, 120);
  EXPECT_GT(shown.pixels[(10 * 160 + 80) * 4], 225);   // top: white
  EXPECT_LT(shown.pixels[(110 * 160 + 80) * 4], 30);   // bottom: black
  // A frame request still gets a whole frame.
  VideoFrame requested;
  ASSERT_TRUE(device.RequestFrame(requested));
  EXPECT_EQ(requested.pixels.Length(), 320 * 240 * 3);
  device.Stop();
  device.SetMotionDetector(nullptr);
  device.AttachWindow({});
}

TEST_F(CaptureDeviceTest, NetworkCameraNeverBlocksOpenOrStop) {
  // A peer that accepts the connection and never answers.
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address));
  ASSERT_EQ(0, listen(listener, 4));
  socklen_t length = sizeof address;
  ASSERT_EQ(0, getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length));
  const int port = ntohs(address.sin_port);

  CameraEntry entry;
  entry.name = "Gate   NO.1";
  entry.kind = SourceKind::Stream;
  entry.source = "http://127.0.0.1:" + std::to_string(port) + "/video.mjpg";
  CaptureDevice device;
  ASSERT_TRUE(device.Open(entry));  // no connection is made here
  BitmapInfoHeader header;
  int rate = 0;
  EXPECT_TRUE(device.GetFormat(header, rate));  // a usable default until connected
  ASSERT_TRUE(device.Start());
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  VideoFrame frame;
  EXPECT_FALSE(device.RequestFrame(frame, 200));
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(device.Stop());  // interrupts the waiting read
  device.Close();
  // Generous: the point is that Stop does not wait out the I/O time limit.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  close(listener);
}

}  // namespace
}  // namespace qmr

namespace qmr {
namespace {

std::string RunCommand(const std::string& cmd) {
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  return out;
}

TEST_F(CaptureDeviceTest, ManualRecordingWritesFramesAndStampsUntilStopped) {
  auto device = OpenPattern("pattern 320x240@10");
  std::vector<std::string> errors;
  device->SetErrorReporter([&](const std::string& text) { errors.push_back(text); });
  EXPECT_TRUE(device->Record(false, "", 0, 0));  // stopping what never ran
  EXPECT_FALSE(device->Record(true, "", MakeFourCC("MJPG"), 85));
  ASSERT_TRUE(device->Start());

  const std::string missing = dir_ + "/no folder/a.avi";
  EXPECT_FALSE(device->Record(true, missing, MakeFourCC("MJPG"), 85));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "AVI file " + missing + " can not be created");
  EXPECT_FALSE(device->IsRecording());

  const std::string file = dir_ + "/Yard   NO.1 2026-03-07-14-05-09.avi";
  ASSERT_TRUE(device->Record(true, file, MakeFourCC("MJPG"), 85));
  EXPECT_TRUE(device->IsRecording());
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  // Stopping the device ends the recording first.
  ASSERT_TRUE(device->Stop());
  EXPECT_FALSE(device->IsRecording());

  const std::string probe = RunCommand(
      "ffprobe -v error -count_frames -show_entries stream=codec_type,codec_tag_string,width,"
      "nb_read_frames -of compact '" + file + "' 2>&1");
  EXPECT_NE(probe.find("codec_type=video"), std::string::npos) << probe;
  EXPECT_NE(probe.find("width=320"), std::string::npos) << probe;
  EXPECT_NE(probe.find("codec_type=subtitle"), std::string::npos) << probe;  // the stamps
  const std::size_t at = probe.find("nb_read_frames=");
  ASSERT_NE(at, std::string::npos) << probe;
  EXPECT_GE(std::atoi(probe.c_str() + at + 15), 5) << probe;
}

TEST_F(CaptureDeviceTest, V4l2NodesThatAreNoCamerasAreRefused) {
  CameraEntry entry;
  entry.name = "Webcam   NO.1";
  entry.kind = SourceKind::V4l2;
  entry.source = "/dev/null";
  CaptureDevice notACamera;
  EXPECT_FALSE(notACamera.Open(entry));
  entry.source = dir_ + "/video9";
  CaptureDevice absent;
  EXPECT_FALSE(absent.Open(entry));
}

}  // namespace
}  // namespace qmr

namespace qmr {
namespace {

int FreePort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t n = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
  close(s);
  return ntohs(a.sin_port);
}

// An HTTP server on 127.0.0.1 serving one folder; stopped with Stop.
class HttpServer {
 public:
  bool Start(const std::string& folder, int port) {
    pid_ = fork();
    if (pid_ == 0) {
      const std::string p = std::to_string(port);
      const int devNull = open("/dev/null", O_WRONLY);
      dup2(devNull, 1);
      dup2(devNull, 2);
      execl("/usr/bin/python3", "python3", "-m", "http.server", p.c_str(), "--bind", "127.0.0.1",
            "--directory", folder.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 100; ++i) {  // until it answers
      const int s = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<std::uint16_t>(port));
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      const bool up = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
      close(s);
      if (up) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }
  ~HttpServer() { Stop(); }

 private:
  pid_t pid_ = -1;
};

bool WaitForFrames(const CaptureDevice& device, std::uint64_t count, int seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (device.ProcessedFrames() < count) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

TEST_F(CaptureDeviceTest, NetworkCameraReconnectsAfterTheServerComesBack) {
  ASSERT_TRUE(MakeVideoFile(dir_ + "/clip.avi", "320x240", 1));
  const int port = FreePort();
  HttpServer server;
  ASSERT_TRUE(server.Start(dir_, port));
  CameraEntry entry;
  entry.name = "Gate   NO.1";
  entry.kind = SourceKind::Stream;
  entry.source = "http://127.0.0.1:" + std::to_string(port) + "/clip.avi";
  CaptureDevice device;
  ASSERT_TRUE(device.Open(entry));
  ASSERT_TRUE(device.Start());
  ASSERT_TRUE(WaitForFrames(device, 10, 10));
  // The server goes away: at the end of the clip the stream is lost.
  server.Stop();
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_NE(ReadLog().find("Camera Gate   NO.1: stream " + entry.source + " lost"),
            std::string::npos);
  const auto before = device.ProcessedFrames();
  ASSERT_TRUE(server.Start(dir_, port));
  EXPECT_TRUE(WaitForFrames(device, before + 10, 15));
  EXPECT_NE(ReadLog().find("is back"), std::string::npos);
  device.Stop();
}

// A network camera of 641 x 479 (here a file of that size): the picture
// comes as 640 x 479 and records, with the bottom row left out.
TEST_F(CaptureDeviceTest, OddHeightStreamRecords) {
  const std::string clip = dir_ + "/odd.avi";
  const std::string make =
      "ffmpeg -v error -y -f lavfi -i testsrc=size=641x479:rate=25 -t 2 -c:v ffv1 '" + clip + "'";
  ASSERT_EQ(std::system(make.c_str()), 0);
  CameraEntry entry;
  entry.name = "Odd";
  entry.kind = SourceKind::Stream;
  entry.source = clip;
  CaptureDevice device;
  ASSERT_TRUE(device.Open(entry));
  ASSERT_TRUE(device.Start());
  VideoFrame frame;
  ASSERT_TRUE(device.RequestFrame(frame));
  EXPECT_EQ(frame.Height(), 479);
  EXPECT_TRUE(frame.jpeg.empty());  // no JPEG camera
  const std::string file = dir_ + "/odd-recording.avi";
  ASSERT_TRUE(device.Record(true, file, MakeFourCC("MJPG"), 85));
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  ASSERT_TRUE(device.Stop());
  const std::string errors =
      RunCommand("ffmpeg -nostdin -v error -i '" + file + "' -f null - 2>&1");
  EXPECT_EQ(errors, "");
  const std::string size = RunCommand(
      "ffprobe -v error -show_entries stream=width,height,nb_frames -of csv=p=0 '" + file + "'");
  EXPECT_EQ(size.substr(0, 8), "640,478,") << size;
  EXPECT_NE(size.substr(0, 9), "640,478,0") << size;
}

}  // namespace
}  // namespace qmr
