// One opened camera. Its source delivers pictures on a streaming thread into
// the device's sample buffer, bottom-up (a decoding source converts straight
// into it; others are copied and flipped). Each picture is then processed
// once: it gets the local time, goes to the preview, is compressed and
// written while a manual recording runs, and moves (without a copy) into the
// FrameBuffer when a frame was requested or the motion detector runs. A
// decoding source's picture is processed right on the streaming thread while
// no manual recording runs; otherwise the frame thread is woken for it, so
// that compressing never holds up the stream. A decoding source may deliver
// a picture reduced in size when only the preview needs it (see
// SampleReduction): it is only shown, and the frame buffer keeps the
// camera's JPEG of it.
//
// Calling order: construct, Open (on failure destroy), AttachWindow, apply
// properties and format, Start. To change the format: Stop, SetFormat,
// Start. At the end: Stop, Close (or just destroy).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/byte_buffer.h"
#include "base/process.h"
#include "capture/detector_state.h"
#include "capture/frame_buffer.h"
#include "capture/frame_source.h"
#include "capture/preview_renderer.h"
#include "capture/video_capability.h"
#include "capture/video_frame.h"
#include "recording/bitmap_info.h"
#include "recording/movie_recorder.h"

namespace qmr {

class CameraEntry;

class CaptureDevice : private SampleSink {
 public:
  static constexpr int kStateStopped = 0;
  static constexpr int kStateRunning = 2;

  CaptureDevice();
  // Stops (ending any recording), closes.
  virtual ~CaptureDevice();
  CaptureDevice(const CaptureDevice&) = delete;
  CaptureDevice& operator=(const CaptureDevice&) = delete;

  // Opens the camera of a camera list entry; does not start it.
  bool Open(const CameraEntry& entry);
  // Opens a given source (tests, and cameras made by other means); the
  // source is taken only when it opens.
  bool Open(std::unique_ptr<FrameSource>&& source);

  // Connects the preview: notify is called on the frame thread whenever a
  // new frame waits in Preview(); see PreviewRenderer::SetNotify.
  bool AttachWindow(std::function<void()> notify);
  PreviewRenderer& Preview() { return preview_; }

  bool Start();
  // Ends a recording, the frame thread and the stream. True when not running.
  bool Stop();
  void Close();
  bool IsOpen() const { return source_ != nullptr; }
  bool IsRunning() const { return state.load() == kStateRunning; }

  // The current format as a 24-bit bottom-up header; also sets frameRate.
  // bitRate (when given) is width * height * 24 * frame rate.
  bool GetFormat(BitmapInfoHeader& header, int& rate, int* bitRate = nullptr);
  // header null: the device's default size, and with rate 0 (or less) its
  // default frame rate as well. Otherwise the header's width
  // and height (the width is taken down to a multiple of 4) at rate frames
  // per second; the bit count is forced to 24. On failure the format and
  // frame rate stay as they were.
  bool SetFormat(const BitmapInfoHeader* header, int rate);

  bool GetCapabilityCount(int& count, int& size);
  bool GetCapability(int index, VideoCapability& capability);

  // property: VideoProperty index 0 to 10; false when the device lacks it.
  bool GetPropertyRange(int property, long& minimum, long& maximum, long& step, long& defaultValue,
                        long& flags);
  bool GetProperty(int property, long& value, long& flags);
  bool SetProperty(int property, long value, long flags);

  // Starts a manual recording into fileName with the compressor named by
  // handler (four-character code) at quality percent, or stops it. Stopping
  // always succeeds. A file that cannot be created is reported through the
  // error reporter as "AVI file %s can not be created".
  bool Record(bool start, const std::string& fileName, std::uint32_t handler, int quality);
  bool IsRecording() const { return recording.load(); }
  // Where user-facing errors go (the camera window passes ShowError); the
  // log file when none is set.
  void SetErrorReporter(std::function<void(const std::string&)> reporter);

  // The camera's motion detector; frames are stored for it while it runs.
  void SetMotionDetector(DetectorState* detector) { detector_.store(detector); }
  bool IsDetecting() const;

  // Asks the frame thread for the next frame and copies it into out. Waits
  // at most timeoutMs; false when the device is not running or no frame came.
  bool RequestFrame(VideoFrame& out, int timeoutMs = 2000);

  FrameBuffer& Frames() { return frameBuffer_; }
  // The name the device gives itself; empty until opened.
  std::string DeviceName() const;
  // The camera list name of the opened entry (for log lines).
  std::string CameraName() const;

  // Shared with the frame thread, the streaming thread and the windows.
  std::atomic<bool> frameRequested{false};
  std::atomic<bool> busy{false};
  std::atomic<bool> highSpeed{false};  // "High speed" versus "Leisurely"
  std::atomic<bool> recording{false};
  std::atomic<int> state{kStateStopped};
  std::atomic<int> frameRate{10};

  // Frames the frame thread has processed since construction (diagnostics
  // and tests).
  std::uint64_t ProcessedFrames() const { return processedFrames_.load(); }

  // One frame's work on the frame thread, exposed for the benchmark: copy
  // the top-down picture into the sample buffer bottom-up.
  bool CopySample(const std::uint8_t* topDownBgr, int width, int height, int stride);

 private:
  void OnSample(const std::uint8_t* topDownBgr, int width, int height, int stride) override;
  std::uint8_t* BeginSample(int width, int height) override;
  // Only the preview needs a picture that no frame request, recording or
  // detector check waits for: it may then come as small as the pane shows it.
  int SampleReduction(int width, int height) override;
  std::uint8_t* BeginReducedSample(int width, int height, int reduction) override;
  void EndSample(bool filled) override;
  bool TakesDirectSamples() const override { return true; }
  void AttachSampleJpeg(const std::uint8_t* jpeg, std::size_t size) override;
  // Waits (high speed) or gives up (leisurely) while the frame thread is
  // busy; with lock held. False when the sample is to be dropped.
  bool SampleSlotFree(std::unique_lock<std::mutex>& lock);
  void OnSourceEnded(const std::string& reason) override;
  static void FrameThreadMain(void* argument);
  void FrameThread();
  void ProcessSample();
  void Report(const std::string& text);

  std::unique_ptr<FrameSource> source_;
  std::string deviceName_;
  std::string cameraName_;
  mutable std::mutex nameMutex_;

  // The sample buffer and its hand-off to the frame thread: the streaming
  // thread writes it only while busy is clear; the frame thread reads it
  // while busy is set.
  std::mutex sampleMutex_;
  std::condition_variable sampleReady_;  // frame thread waits for a sample or quit
  std::condition_variable sampleTaken_;  // high-speed streaming waits for busy to clear
  ByteBuffer sample_;
  BitmapInfoHeader sampleHeader_;
  bool samplePending_ = false;
  // A source is writing straight into sample_ (between BeginSample and
  // EndSample; streaming thread only).
  bool directSample_ = false;
  BitmapInfoHeader directHeader_;
  int directReduction_ = 1;
  // The sample's pixels are the picture of sampleHeader_ reduced this many
  // times in each direction (1: whole); a reduced sample is only shown and
  // its JPEG kept.
  int sampleReduction_ = 1;
  // The camera's JPEG of the sample (empty when it sent none); follows the
  // same hand-off as sample_.
  std::vector<std::uint8_t> sampleJpeg_;
  bool quit_ = false;
  // The format of the last sample taken (valid once width > 0).
  BitmapInfoHeader lastHeader_;

  ThreadHandle frameThread_{0};
  FrameBuffer frameBuffer_;
  PreviewRenderer preview_;
  std::atomic<DetectorState*> detector_{nullptr};

  std::mutex requestMutex_;
  std::condition_variable requestDone_;

  std::mutex recordMutex_;  // compress-and-write against starting/stopping
  MovieRecorder recorder_;
  BitmapInfoHeader recordFormat_;  // frames of another size are not written
  std::mutex reporterMutex_;
  std::function<void(const std::string&)> reporter_;

  std::atomic<std::uint64_t> processedFrames_{0};
};

}  // namespace qmr
