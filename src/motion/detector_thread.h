// The worker thread of a camera's motion detector and its state machine: it
// takes the newest frame from the camera, asks Detect for a verdict against
// the frame of the previous check, and turns single verdicts into a motion
// period (three checks with motion start it; it ends once the minimum motion
// time has passed and three checks in a row were quiet). Subclasses supply
// the verdict and the reactions through the three hooks.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "base/process.h"
#include "capture/detector_state.h"

namespace qmr {

class VideoFrame;
class FrameBuffer;

class DetectorThread : public DetectorState {
 public:
  static constexpr int kIdleIntervalMs = 200;
  static constexpr int kIdleSleepMs = 20;
  static constexpr int kFramePollMs = 5;
  // How long a fetch from a frame buffer waits for the next frame; also the
  // longest a stop waits for the thread to notice.
  static constexpr int kFrameWaitMs = 50;
  static constexpr int kChecksToStart = 3;
  static constexpr int kQuietChecksToEnd = 3;
  static constexpr int kDefaultMinimumSeconds = 5;

  DetectorThread();
  // Stops the thread. A subclass that overrides a hook must call
  // SetRunning(false) in its own destructor, before its members go away.
  ~DetectorThread() override;
  DetectorThread(const DetectorThread&) = delete;
  DetectorThread& operator=(const DetectorThread&) = delete;

  // On: starts the worker thread unless it runs already (true), false when
  // the thread could not be started. Off: asks the thread to end and waits
  // until it has (true). Not to be called from a hook.
  bool SetRunning(bool on);
  // True while the thread is wanted (the capture device then stores every
  // frame for it).
  bool IsRunning() const override { return running_.load(); }
  // True from each check until a frame was judged, during motion, while a
  // detection is pending, and while the frames between checks are kept as
  // pixels.
  bool WantsPixels() const override { return wantsPixels_.load(); }
  // True while the worker thread exists.
  bool ThreadAlive() const { return threadHandle_.load() != 0; }

  // Where frames come from: the camera's frame buffer (not owned; it must
  // outlive the detector or be replaced while the thread is stopped; a fetch
  // waits there for the next frame), or any function with the same contract
  // (copy the newest frame into the given one when its capture time differs;
  // false when there is nothing new), which is polled.
  void SetFrameSource(FrameBuffer* buffer);
  void SetFrameSource(std::function<bool(VideoFrame&)> source);

  // Sensitivity in percent, clamped to 1..100. Read by the worker at every
  // check.
  void SetThreshold(int percent);
  int Threshold() const { return threshold_.load(); }

  // The minimum length of a motion period in seconds, asked for whenever a
  // quiet check inside a period could end it (so a settings change applies
  // at once). Without a getter the period lasts at least 5 seconds.
  void SetMinimumSecondsSource(std::function<int()> source);
  // The millisecond clock (TickCount by default) and the sleep (SleepMs).
  // For tests; set them while the thread is stopped.
  void SetClock(std::function<std::uint32_t()> clock);
  void SetSleep(std::function<void(int)> sleep);

  bool InMotion() const { return inMotion_.load(); }

  // The verdict for the current frame against the reference frame; the
  // base sees no motion.
  virtual bool Detect();

  // One pass of the worker loop at tick now: pacing, frame fetch, verdict,
  // state machine, hooks and the reference update. Returns how long to sleep
  // before the next pass (0 when a check ran). The worker calls it; tests
  // drive it directly with the thread stopped.
  int Poll(std::uint32_t now);
  // Forgets the motion state, as a new worker thread does at its start.
  void ResetMotionState(std::uint32_t now);

 protected:
  // Run at every check of a motion period (on the worker thread). The check
  // that starts a period runs it with MotionBegins() set; the hook clears it.
  virtual void OnMotion() {}
  // Run once when a motion period ends (on the worker thread). A thread that
  // is stopped in the middle of a period does not run it.
  virtual void OnMotionEnd() {}
  // Run for every frame fetched outside a motion period that does not begin
  // one (on the worker thread), once per frame. While WantsEveryFrame() is
  // true, the frames between the idle checks come too, for this hook only
  // (the pre-event buffer).
  virtual void OnFrameOutsideMotion() {}
  virtual bool WantsEveryFrame() const { return false; }
  // Those frames between the checks may come with the camera's JPEG only
  // and no pixels, when the camera gives one (the hook keeps just the JPEG).
  // From a frame buffer they are then collected there and handed over a few
  // at a time, so that the worker does not wake for every frame.
  virtual bool JpegSufficesBetweenChecks() const { return false; }

  bool MotionBegins() const { return motionBegins_.load(); }
  void ClearMotionBegins() { motionBegins_ = false; }

  // The frame being judged and the frame of the previous check. Worker
  // thread only (and the hooks), except while the thread is stopped.
  VideoFrame& CurrentFrame() { return *currentFrame_; }
  VideoFrame& ReferenceFrame() { return *referenceFrame_; }
  const VideoFrame& CurrentFrame() const { return *currentFrame_; }
  const VideoFrame& ReferenceFrame() const { return *referenceFrame_; }
  // Makes the current frame the reference (pixels, header, capture time).
  void CopyCurrentToReference();
  // Run after every check: makes the frame just judged the reference. The
  // base swaps the two frames rather than copying the pixels; the next
  // fetch overwrites the old reference, which keeps the judged frame's
  // capture time so that the same frame is not fetched twice.
  virtual void UpdateReference();
  // The tick of the check in progress (the last check outside one).
  std::uint32_t CheckTime() const { return lastCheck_; }

 private:
  static void ThreadMain(void* argument);
  void Run();
  bool FetchFrame(bool jpegSuffices = false);
  // Runs OnFrameOutsideMotion for the current frame unless that frame of the
  // buffer has had it already.
  void FrameOutsideMotion();
  // Between checks the frames' JPEGs are collected by the frame buffer and
  // taken in one go, instead of waking for every frame: true while the
  // source is a frame buffer, the hook keeps only JPEGs and the camera
  // sends them.
  bool Batching() const;
  void SetKeeping(bool on);
  // Takes the JPEGs collected since the last call; outside motion they go
  // through the hook, oldest first, in the current frame's place.
  void TakeRecent(bool outsideMotion);
  // The pause after a fetch: none when the fetch itself waits for frames.
  int FramePollMs() const { return sourceWaits_ && frameSource_ ? 0 : kFramePollMs; }
  std::uint32_t MinimumMotionMs() const;

  std::unique_ptr<VideoFrame> currentFrame_;
  std::unique_ptr<VideoFrame> referenceFrame_;
  std::function<bool(VideoFrame&, bool jpegSuffices)> frameSource_;
  bool sourceWaits_ = false;  // frameSource_ blocks until a frame arrives
  FrameBuffer* buffer_ = nullptr;  // the source, when it is a frame buffer
  bool keeping_ = false;           // buffer_ collects JPEGs for this detector
  bool framesHaveJpeg_ = false;    // the last checked frame came with one
  std::uint64_t lastOutsideSequence_ = 0;
  std::vector<VideoFrame> recent_;
  std::atomic<bool> wantsPixels_{true};
  std::function<int()> minimumSeconds_;
  std::function<std::uint32_t()> clock_;
  std::function<void(int)> sleep_;

  std::atomic<bool> running_{false};
  std::atomic<bool> motionBegins_{false};
  std::atomic<int> threshold_{20};
  ThreadHandle threadHandle_{0};
  std::atomic<std::uint64_t> threadId_{0};
  std::atomic<bool> inMotion_{false};
  // Serialises SetRunning between the user-interface and scheduler threads.
  std::mutex controlMutex_;

  // Worker state of the loop.
  std::uint32_t lastCheck_ = 0;
  int detectionCount_ = 0;
  int quietCount_ = 0;
  std::uint32_t motionStart_ = 0;
};

}  // namespace qmr
