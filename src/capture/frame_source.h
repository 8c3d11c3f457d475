// Where a capture device gets its pictures from: a V4L2 camera, anything
// FFmpeg opens (network camera, video file), or the built-in test pattern.
// A source runs its own streaming thread and hands every picture to its sink
// as top-down BGR24; the capture device turns it into a bottom-up frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "capture/video_capability.h"

namespace qmr {

class CameraEntry;

class SampleSink {
 public:
  virtual ~SampleSink() = default;
  // One picture, on the source's streaming thread: height rows of width BGR
  // pixels, top row first, rows stride bytes apart. The data is only valid
  // during the call.
  virtual void OnSample(const std::uint8_t* topDownBgr, int width, int height, int stride) = 0;
  // The copy-free way for a source that converts its pictures anyway:
  // BeginSample returns where to write the next picture (width * 3 bytes per
  // row, no padding, rows bottom-up) or null when the sink does not want it
  // now (the source then skips its conversion); after a non-null answer the
  // source must call EndSample, with filled false when the conversion
  // failed. width must be a multiple of 4. Sinks that return null here
  // always get their pictures through OnSample.
  virtual std::uint8_t* BeginSample(int /*width*/, int /*height*/) { return nullptr; }
  virtual void EndSample(bool /*filled*/) {}
  virtual bool TakesDirectSamples() const { return false; }
  // A source that can decode a picture smaller at little cost (JPEG's
  // reduced inverse transforms) asks before each picture by how much it may:
  // 1 (the whole picture is wanted), 2, 4 or 8 (only the live preview needs
  // this picture, and it shows it about that small). It then writes the
  // picture at width / reduction x height / reduction into the memory
  // BeginReducedSample returns (same contract as BeginSample), and attaches
  // the camera's whole JPEG: whoever needs the whole picture later decodes
  // it from there.
  virtual int SampleReduction(int /*width*/, int /*height*/) { return 1; }
  virtual std::uint8_t* BeginReducedSample(int width, int height, int reduction) {
    return reduction == 1 ? BeginSample(width, height) : nullptr;
  }
  // Between BeginSample and EndSample: the picture as the camera sent it, a
  // baseline JPEG of exactly the pixels being written (same size, no
  // scaling). Motion recordings in Motion JPEG keep it as it is instead of
  // compressing the pixels again. The data is only valid during the call.
  virtual void AttachSampleJpeg(const std::uint8_t* /*jpeg*/, std::size_t /*size*/) {}
  // The source stopped delivering for good (device gone, stream ended and
  // could not be reopened); called once, on the streaming thread.
  virtual void OnSourceEnded(const std::string& reason) = 0;
};

class FrameSource {
 public:
  virtual ~FrameSource() = default;

  // Prepares the source without blocking on the network; false when the
  // device or file cannot be used at all.
  virtual bool Open() = 0;
  // The name the device gives itself (empty when it has none).
  virtual std::string DeviceName() const = 0;
  // Why the last Open failed, for the log (empty when not known).
  virtual std::string OpenError() const { return std::string(); }
  // Starts the streaming thread; Stop ends it and returns once it has ended
  // (or a generous time limit passed, which is logged). Stop is safe when
  // the source is not streaming.
  virtual bool Start(SampleSink& sink) = 0;
  virtual void Stop() = 0;
  virtual void Close() = 0;

  // The current (or requested) picture size and frame rate in frames per
  // second (at least 1).
  virtual bool GetFormat(int& width, int& height, int& frameRate) = 0;
  // width and height 0: the device's default size; with frameRate 0 as
  // well, its default rate. frameRate is otherwise clamped to what the
  // source can do.
  virtual bool SetFormat(int width, int height, int frameRate) = 0;

  virtual int CapabilityCount() = 0;
  virtual bool GetCapability(int index, VideoCapability& capability) = 0;

  virtual bool GetPropertyRange(int property, PropertyRange& range) = 0;
  virtual bool GetProperty(int property, long& value, long& flags) = 0;
  virtual bool SetProperty(int property, long value, long flags) = 0;
};

// The source for a camera list entry (by its kind and source text).
std::unique_ptr<FrameSource> CreateFrameSource(const CameraEntry& entry);

}  // namespace qmr
