// A local V4L2 camera through libv4l2, which converts whatever the camera
// sends (YUYV, MJPEG, ...) into BGR24. Where libv4l2 would have to decode
// the camera's Motion JPEG (the camera sends nothing else at that size, or
// nothing else as fast), the source takes the JPEGs as they are and decodes
// them itself, as stream cameras do: straight into the capture sample, only
// as large as the preview shows them while nothing else needs the picture,
// and with the camera's JPEG kept for recordings. Should the camera's JPEGs
// prove unreadable, libv4l2 converts them from then on. A camera's YUYV is
// taken as it is too and converted here, with libv4l2's arithmetic but
// several times faster and straight into the sample. Pictures are read
// on the streaming thread with a short poll so that Stop is answered at
// once; a camera that is unplugged ends its stream and says so once.
#pragma once

#include <linux/videodev2.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "base/process.h"
#include "capture/frame_source.h"
#include "capture/jpeg_picture.h"
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
  // rate: the frame rate wanted (0: the fastest the camera has); it only
  // decides between the camera's own formats.
  bool ApplyFormatLocked(int width, int height, int rate);
  bool TryPixelFormatLocked(std::uint32_t pixelFormat, int width, int height);
  // The formats the camera itself sends (not libv4l2's conversions).
  std::vector<v4l2_fmtdesc> OwnFormatsLocked();
  // Whether the camera's JPEGs are to be decoded here; own: its formats.
  bool PrefersOwnJpegLocked(const std::vector<v4l2_fmtdesc>& own, int width, int height,
                            int rate);
  // Whether the camera itself sends pixelFormat at this size.
  bool SendsLocked(const std::vector<v4l2_fmtdesc>& own, std::uint32_t pixelFormat, int width,
                   int height);
  // The fastest rate the camera has in a format at a size (0: it does not
  // say), -1 when it lacks the size in that format.
  int FastestRateLocked(std::uint32_t pixelFormat, int width, int height);
  // The fastest and slowest rates it lists there (0 for none).
  void FrameRatesLocked(std::uint32_t pixelFormat, int width, int height, int& fastest,
                        int& slowest);
  // One of the camera's own JPEGs, n bytes read: decoded and handed on.
  // False, and why, when it could not be decoded.
  bool DeliverJpeg(const std::uint8_t* data, std::size_t n, int width, int height,
                   JpegDecoder& decoder, std::vector<std::uint8_t>& picture, std::string& why);
  // One YUYV picture of rows stride bytes apart: converted and handed on.
  void DeliverYuyv(const std::uint8_t* data, int width, int height, int stride,
                   std::vector<std::uint8_t>& picture);
  // After too many unreadable JPEGs: libv4l2 converts from now on. False
  // when the camera could not be set up again.
  bool SwitchToConversion(const std::string& why);
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
  bool jpeg_ = false;         // the camera's own Motion JPEG is read, not BGR24
  bool yuyv_ = false;         // the camera's own YUYV is read, not BGR24
  bool convertOnly_ = false;  // its JPEGs proved unreadable: always BGR24
  std::vector<VideoCapability> capabilities_;

  SampleSink* sink_ = nullptr;
  std::atomic<bool> stop_{false};
  ThreadHandle thread_{0};
};

}  // namespace qmr
