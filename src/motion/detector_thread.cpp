#include "motion/detector_thread.h"

#include <unistd.h>

#include <algorithm>

#include "capture/frame_buffer.h"
#include "capture/video_frame.h"
#include "base/log_file.h"

namespace qmr {

namespace {

std::uint64_t CurrentThreadId() { return static_cast<std::uint64_t>(gettid()); }

// After this long a stop that is still waiting is written to the log once;
// the wait goes on, because the detector cannot be destroyed under its thread.
constexpr int kStopLogAfterMs = 10000;
constexpr int kStopPollMs = 10;

}  // namespace

DetectorThread::DetectorThread()
    : currentFrame_(std::make_unique<VideoFrame>()),
      referenceFrame_(std::make_unique<VideoFrame>()),
      clock_(&TickCount),
      sleep_(&SleepMs) {}

DetectorThread::~DetectorThread() { SetRunning(false); }

bool DetectorThread::SetRunning(bool on) {
  // A hook that switches its own detector off must not wait for itself.
  if (!on && threadId_.load() == CurrentThreadId()) {
    running_ = false;
    return true;
  }
  std::lock_guard<std::mutex> lock(controlMutex_);
  if (on) {
    if (running_.load() && threadHandle_.load() != 0) return true;
    // A thread that left on its own (stop request) may still be finishing.
    while (threadHandle_.load() != 0) SleepMs(kStopPollMs);
    // Both must read as set before the new thread can look at them;
    // StartThread sets the handle before the thread exists.
    running_ = true;
    if (!StartThread(&DetectorThread::ThreadMain, this, threadHandle_)) {
      running_ = false;
      return false;
    }
    return true;
  }
  running_ = false;
  int waited = 0;
  bool logged = false;
  while (threadHandle_.load() != 0) {
    SleepMs(kStopPollMs);
    waited += kStopPollMs;
    if (!logged && waited >= kStopLogAfterMs) {
      LogFile::Write("The motion detector thread did not end in time; still waiting\n");
      logged = true;
    }
  }
  return true;
}

void DetectorThread::SetFrameSource(FrameBuffer* buffer) {
  SetKeeping(false);
  buffer_ = buffer;
  lastOutsideSequence_ = 0;
  if (buffer == nullptr) {
    frameSource_ = nullptr;
    sourceWaits_ = false;
    return;
  }
  // The frames judged take the buffer's pixels rather than a copy of them.
  // A check waits for a frame that was decoded whole, since it asked for
  // one; should none come in time, a newer frame kept as its JPEG is taken
  // (and decoded) instead.
  frameSource_ = [buffer](VideoFrame& frame, bool jpegSuffices) {
    if (jpegSuffices) return buffer->WaitCopyIfNewer(frame, kFrameWaitMs, true);
    return buffer->WaitTakeIfNewer(frame, kFrameWaitMs, true) ||
           buffer->WaitTakeIfNewer(frame, 0, false);
  };
  sourceWaits_ = true;
}

void DetectorThread::SetFrameSource(std::function<bool(VideoFrame&)> source) {
  SetKeeping(false);
  buffer_ = nullptr;
  lastOutsideSequence_ = 0;
  frameSource_ = nullptr;
  if (source) {
    frameSource_ = [source = std::move(source)](VideoFrame& frame, bool) { return source(frame); };
  }
  sourceWaits_ = false;
}

void DetectorThread::SetThreshold(int percent) { threshold_ = std::clamp(percent, 1, 100); }

void DetectorThread::SetMinimumSecondsSource(std::function<int()> source) {
  minimumSeconds_ = std::move(source);
}

void DetectorThread::SetClock(std::function<std::uint32_t()> clock) {
  clock_ = clock ? std::move(clock) : std::function<std::uint32_t()>(&TickCount);
}

void DetectorThread::SetSleep(std::function<void(int)> sleep) {
  sleep_ = sleep ? std::move(sleep) : std::function<void(int)>(&SleepMs);
}

bool DetectorThread::Detect() { return false; }

void DetectorThread::ThreadMain(void* argument) { static_cast<DetectorThread*>(argument)->Run(); }

void DetectorThread::Run() {
  threadId_ = CurrentThreadId();
  ResetMotionState(clock_());
  if (StopFlag.load() == 0) {
    while (running_.load()) {
      const int sleepMs = Poll(clock_());
      if (sleepMs > 0) sleep_(sleepMs);
      if (StopFlag.load() != 0) break;
    }
  }
  SetKeeping(false);
  threadId_ = 0;
  // StartThread clears the handle once this returns.
}

void DetectorThread::ResetMotionState(std::uint32_t now) {
  inMotion_ = false;
  lastCheck_ = now;
  detectionCount_ = 0;
  quietCount_ = 0;
  motionStart_ = 0;
}

bool DetectorThread::FetchFrame(bool jpegSuffices) {
  return frameSource_ && frameSource_(*currentFrame_, jpegSuffices);
}

void DetectorThread::FrameOutsideMotion() {
  const std::uint64_t sequence = currentFrame_->sequence;
  if (sequence != 0) {
    if (sequence <= lastOutsideSequence_) return;
    lastOutsideSequence_ = sequence;
  }
  OnFrameOutsideMotion();
}

bool DetectorThread::Batching() const {
  return buffer_ != nullptr && framesHaveJpeg_ && WantsEveryFrame() && JpegSufficesBetweenChecks();
}

void DetectorThread::SetKeeping(bool on) {
  if (keeping_ == on || buffer_ == nullptr) return;
  keeping_ = on;
  buffer_->KeepRecentJpegs(on);
}

void DetectorThread::TakeRecent(bool outsideMotion) {
  if (!keeping_) return;
  const std::size_t count = buffer_->TakeRecentJpegs(recent_);
  if (!outsideMotion) return;
  for (std::size_t i = 0; i < count; ++i) {
    std::swap(*currentFrame_, recent_[i]);
    FrameOutsideMotion();
    std::swap(*currentFrame_, recent_[i]);
  }
}

std::uint32_t DetectorThread::MinimumMotionMs() const {
  int seconds = minimumSeconds_ ? minimumSeconds_() : kDefaultMinimumSeconds;
  // Keeps seconds * 1000 well inside the 32-bit tick difference.
  seconds = std::clamp(seconds, 0, 2000000);
  return static_cast<std::uint32_t>(seconds) * 1000u;
}

void DetectorThread::CopyCurrentToReference() {
  if (!referenceFrame_->pixels.CopyFrom(currentFrame_->pixels.Data(),
                                        currentFrame_->pixels.Length())) {
    // Out of memory: an empty reference makes the next check start afresh.
    referenceFrame_->pixels.Clear();
  }
  referenceFrame_->header = currentFrame_->header;
  referenceFrame_->captureTime = currentFrame_->captureTime;
}

void DetectorThread::UpdateReference() {
  std::swap(currentFrame_, referenceFrame_);
  currentFrame_->header = referenceFrame_->header;
  currentFrame_->captureTime = referenceFrame_->captureTime;
}

int DetectorThread::Poll(std::uint32_t now) {
  // Outside motion, with no detection pending, check at most every 200 ms.
  const bool pixelsBetweenChecks = WantsEveryFrame() && !JpegSufficesBetweenChecks();
  const std::uint32_t sinceCheck = now - lastCheck_;
  if (!inMotion_.load() && detectionCount_ == 0 &&
      sinceCheck < static_cast<std::uint32_t>(kIdleIntervalMs)) {
    wantsPixels_ = pixelsBetweenChecks;
    if (!WantsEveryFrame()) return kIdleSleepMs;
    const bool batch = Batching();
    SetKeeping(batch);
    if (batch) {
      // Asleep until the check; the frames meanwhile wait in the frame
      // buffer.
      TakeRecent(true);
      return static_cast<int>(static_cast<std::uint32_t>(kIdleIntervalMs) - sinceCheck);
    }
    if (FetchFrame(JpegSufficesBetweenChecks())) FrameOutsideMotion();
    return FramePollMs();
  }
  wantsPixels_ = true;
  // What the frame buffer collected comes first; during motion every frame
  // is judged and recorded by the checks, so the collection is dropped.
  TakeRecent(!inMotion_.load());
  if (!FetchFrame()) return FramePollMs();
  framesHaveJpeg_ = !currentFrame_->jpeg.empty();
  lastCheck_ = now;

  if (Detect()) {
    quietCount_ = 0;
    bool report = true;
    if (!inMotion_.load()) {
      ++detectionCount_;
      if (detectionCount_ < kChecksToStart) {
        report = false;
        FrameOutsideMotion();
      } else {
        inMotion_ = true;
        detectionCount_ = 0;
        motionBegins_ = true;
        motionStart_ = now;
      }
    }
    if (report) OnMotion();
  } else {
    detectionCount_ = 0;
    if (inMotion_.load()) {
      if (quietCount_ < kQuietChecksToEnd) ++quietCount_;
      if (static_cast<std::uint32_t>(now - motionStart_) > MinimumMotionMs() &&
          quietCount_ >= kQuietChecksToEnd) {
        inMotion_ = false;
        OnMotionEnd();
      } else {
        OnMotion();
      }
    } else {
      FrameOutsideMotion();
    }
  }
  UpdateReference();
  wantsPixels_ = inMotion_.load() || detectionCount_ != 0 || pixelsBetweenChecks;
  return 0;
}

}  // namespace qmr
