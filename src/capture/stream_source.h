// A camera made of anything FFmpeg opens: a network camera (rtsp://,
// http:// MJPEG, ...) or a video file. A file plays in real time at its own
// frame rate and starts again at its end; a network stream that drops is
// reconnected with growing pauses. Nothing here blocks the caller: network
// I/O happens on the streaming thread only, with time limits, and Stop
// interrupts whatever FFmpeg is waiting for.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "base/process.h"
#include "capture/frame_source.h"

namespace qmr {

class StreamSource : public FrameSource {
 public:
  // url: a URL or a file path; name: the camera's name for log lines.
  StreamSource(std::string url, std::string name);
  ~StreamSource() override;

  // A local file is probed at once (its size and rate become the default
  // format; a file FFmpeg cannot read fails here). A path that is neither a
  // regular file nor a device (a FIFO, a socket, a folder) is refused, since
  // opening it could block the caller. A network URL is only checked for
  // form; it is connected to by the streaming thread.
  bool Open() override;
  std::string DeviceName() const override { return name_; }
  std::string OpenError() const override { return openError_; }
  bool Start(SampleSink& sink) override;
  void Stop() override;
  void Close() override { Stop(); }

  bool GetFormat(int& width, int& height, int& frameRate) override;
  // Pictures are scaled to any size from 16 x 16 to 4096 x 2160 (the width a
  // multiple of 4); rate caps how many pictures per second are delivered.
  bool SetFormat(int width, int height, int frameRate) override;
  int CapabilityCount() override;
  bool GetCapability(int index, VideoCapability& capability) override;
  // Streams have no adjustable picture properties.
  bool GetPropertyRange(int, PropertyRange&) override { return false; }
  bool GetProperty(int, long&, long&) override { return false; }
  bool SetProperty(int, long, long) override { return false; }

  // True for a path or file: URL (probed by Open). Files, also those served
  // over HTTP, play in real time and loop; live streams come as they come.
  bool IsLocalFile() const { return localFile_; }

  // Time limit for opening a stream and for each read.
  static constexpr int kIoTimeoutMs = 10000;

 private:
  struct Session;
  static void ThreadMain(void* argument);
  void Run();
  // One connection: plays until stopped or the stream fails. True when at
  // least one picture was delivered.
  bool Play(Session& session);
  bool Stopping() const;
  // Sleeps up to ms, returning early (false) when stopping.
  bool Pause(int ms) const;
  void OutputSize(int& width, int& height, int& rate);

  const std::string url_;
  const std::string name_;
  bool localFile_ = false;
  std::string openError_;  // UI thread only (Open)

  mutable std::mutex mutex_;
  int nativeWidth_ = 0, nativeHeight_ = 0, nativeRate_ = 0;
  int wantedWidth_ = 0, wantedHeight_ = 0, wantedRate_ = 0;

  // Streaming thread only: pictures decoded since Start, and when the first was.
  std::uint64_t decoded_ = 0;
  std::int64_t firstDecodeMs_ = 0;

  SampleSink* sink_ = nullptr;
  std::atomic<bool> stop_{false};
  ThreadHandle thread_{0};
};

}  // namespace qmr
