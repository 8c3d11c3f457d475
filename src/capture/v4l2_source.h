// A local V4L2 camera through libv4l2, which converts whatever the camera
// sends (YUYV, MJPEG, ...) into BGR24. Pictures are read on the streaming
// thread with a short poll so that Stop is answered at once; a camera that
// is unplugged ends its stream and says so once.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "base/process.h"
#include "capture/frame_source.h"
#include "capture/v4l2_api.h"

namespace qmr {

class V4l2Source : public FrameSource {
 public:
  // api: the device calls (libv4l2 in the program; a simulated camera in
  // tests). It must outlive the source.
  V4l2Source(std::string path, std::string name, V4l2Api& api = LibV4l2Api());
  ~V4l2Source() override;

  bool Open() override;
  std::string DeviceName() const override;
  std::string OpenError() const override { return openError_; }
  bool Start(SampleSink& sink) override;
  void Stop() override;
  void Close() override;

  bool GetFormat(int& width, int& height, int& frameRate) override;
  bool SetFormat(int width, int height, int frameRate) override;
  int CapabilityCount() override;
  bool GetCapability(int index, VideoCapability& capability) override;
  bool GetPropertyRange(int property, PropertyRange& range) override;
  bool GetProperty(int property, long& value, long& flags) override;
  bool SetProperty(int property, long value, long flags) override;

 private:
  static void ThreadMain(void* argument);
  void Run();
  bool OpenDevice();
  void CloseDevice();
  bool ApplyFormatLocked(int width, int height);
  void ApplyRateLocked(int rate);
  void ReadFormatLocked();
  void ListCapabilitiesLocked();
  void AddCapabilitiesLocked(std::uint32_t pixelFormat);
  int IoctlLocked(unsigned long request, void* argument);

  const std::string path_;
  const std::string name_;
  V4l2Api& api_;
  mutable std::mutex mutex_;  // the descriptor and the format fields
  int fd_ = -1;
  std::string card_;
  std::string openError_;  // why Open failed
  int width_ = 0, height_ = 0, stride_ = 0, imageSize_ = 0, rate_ = 0;
  std::vector<VideoCapability> capabilities_;

  SampleSink* sink_ = nullptr;
  std::atomic<bool> stop_{false};
  ThreadHandle thread_{0};
};

}  // namespace qmr
