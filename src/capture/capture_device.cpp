#include "capture/capture_device.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

#include "capture/camera_entry.h"
#include "base/log_file.h"
#include "storage/write_failure.h"

namespace qmr {

namespace {

// Frame rates below 1 would reach divisions and sleeps of 1000 / rate.
int SaneRate(int rate) { return rate < 1 ? 1 : (rate > 1000 ? 1000 : rate); }

// Bits per second of uncompressed 24-bit frames, capped to what an int holds
// (4K at 60 frames per second would overflow).
int BitRate(const BitmapInfoHeader& header, int rate) {
  const std::int64_t bits = static_cast<std::int64_t>(header.width) *
                            (header.height < 0 ? -header.height : header.height) * 24 * rate;
  return static_cast<int>(std::min<std::int64_t>(bits, 0x7FFFFFFF));
}

// The frame thread checks StopFlag at least this often while no sample comes
// (Stop wakes it at once). Pictures processed on the streaming thread leave
// it idle, so this is how often it wakes for nothing.
constexpr auto kIdleWait = std::chrono::milliseconds(250);
// Stop waits this long for the frame thread before logging (and waits on,
// since the thread still uses the device).
constexpr int kThreadEndWaitMs = 5000;

}  // namespace

CaptureDevice::CaptureDevice() = default;

CaptureDevice::~CaptureDevice() {
  Stop();
  Close();
}

bool CaptureDevice::Open(const CameraEntry& entry) {
  {
    std::lock_guard<std::mutex> lock(nameMutex_);
    cameraName_ = entry.name;
  }
  std::unique_ptr<FrameSource> source = CreateFrameSource(entry);
  if (!source) {
    LogFile::Writef("Camera %s could not be opened: its source is not known", entry.name.c_str());
    return false;
  }
  if (Open(std::move(source))) return true;
  // A source that fails to open is left with the caller.
  const std::string reason = source->OpenError();
  LogFile::Writef("Camera %s could not be opened: %s", entry.name.c_str(),
                  reason.empty() ? "the device refused it" : reason.c_str());
  return false;
}

bool CaptureDevice::Open(std::unique_ptr<FrameSource>&& source) {
  if (!source) return false;
  if (source_) Close();
  if (!source->Open()) return false;
  {
    std::lock_guard<std::mutex> lock(nameMutex_);
    deviceName_ = source->DeviceName();
  }
  source_ = std::move(source);
  BitmapInfoHeader header;
  int rate = 0;
  GetFormat(header, rate);
  return true;
}

bool CaptureDevice::AttachWindow(std::function<void()> notify) {
  preview_.SetNotify(std::move(notify));
  return true;
}

bool CaptureDevice::Start() {
  if (!source_) return false;
  if (state.load() == kStateRunning) {
    if (frameThread_.load() != 0) return true;
    // The frame thread ended by itself (a stop request, or a format it could
    // not read): stop what is left and start anew.
    Stop();
  }
  {
    std::lock_guard<std::mutex> lock(sampleMutex_);
    quit_ = false;
    samplePending_ = false;
  }
  busy.store(false);
  if (!source_->Start(*this)) return false;
  state.store(kStateRunning);
  frameRequested.store(false);
  if (frameThread_.load() == 0 && !StartThread(FrameThreadMain, this, frameThread_)) {
    state.store(kStateStopped);
    source_->Stop();
    return false;
  }
  return true;
}

bool CaptureDevice::Stop() {
  if (!source_) return false;
  if (recording.load()) Record(false, std::string(), 0, 0);
  if (state.load() == kStateStopped && frameThread_.load() == 0) return true;
  state.store(kStateStopped);
  {
    std::lock_guard<std::mutex> lock(sampleMutex_);
    quit_ = true;
  }
  sampleReady_.notify_all();
  sampleTaken_.notify_all();
  // The thread uses this object to its end, so the wait cannot give up; the
  // log says when it takes unusually long.
  while (!WaitForThreadEnd(frameThread_, kThreadEndWaitMs, "frame")) {
  }
  source_->Stop();
  requestDone_.notify_all();
  return true;
}

void CaptureDevice::Close() {
  if (!source_) return;
  if (state.load() != kStateStopped || frameThread_.load() != 0) Stop();
  source_->Stop();
  source_->Close();
  source_.reset();
}

bool CaptureDevice::GetFormat(BitmapInfoHeader& header, int& rate, int* bitRate) {
  if (!source_) return false;
  int width = 0, height = 0, r = 0;
  if (!source_->GetFormat(width, height, r)) return false;
  width &= ~3;
  if (width <= 0 || height <= 0) return false;
  r = SaneRate(r);
  header = MakeRgb24Header(width, height);
  rate = r;
  frameRate.store(r);
  if (bitRate) *bitRate = BitRate(header, r);
  return true;
}

bool CaptureDevice::SetFormat(const BitmapInfoHeader* header, int rate) {
  if (!source_) return false;
  bool ok;
  if (!header) {
    ok = source_->SetFormat(0, 0, rate <= 0 ? 0 : SaneRate(rate));
  } else {
    rate = SaneRate(rate);
    const int width = header->width & ~3;
    const int height = header->height < 0 ? -header->height : header->height;
    if (width <= 0 || height <= 0) return false;
    ok = source_->SetFormat(width, height, rate);
  }
  if (ok) {
    BitmapInfoHeader current;
    int r = 0;
    if (!GetFormat(current, r)) frameRate.store(SaneRate(rate));
  }
  return ok;
}

bool CaptureDevice::GetCapabilityCount(int& count, int& size) {
  if (!source_) return false;
  count = source_->CapabilityCount();
  size = static_cast<int>(sizeof(VideoCapability));
  return true;
}

bool CaptureDevice::GetCapability(int index, VideoCapability& capability) {
  if (!source_ || index < 0) return false;
  return source_->GetCapability(index, capability);
}

bool CaptureDevice::GetPropertyRange(int property, long& minimum, long& maximum, long& step,
                                     long& defaultValue, long& flags) {
  if (!source_ || property < 0 || property >= kVideoPropertyCount) return false;
  PropertyRange range;
  if (!source_->GetPropertyRange(property, range)) return false;
  minimum = range.minimum;
  maximum = range.maximum;
  step = range.step;
  defaultValue = range.defaultValue;
  flags = range.flags;
  return true;
}

bool CaptureDevice::GetProperty(int property, long& value, long& flags) {
  if (!source_ || property < 0 || property >= kVideoPropertyCount) return false;
  return source_->GetProperty(property, value, flags);
}

bool CaptureDevice::SetProperty(int property, long value, long flags) {
  if (!source_ || property < 0 || property >= kVideoPropertyCount) return false;
  return source_->SetProperty(property, value, flags);
}

bool CaptureDevice::Record(bool start, const std::string& fileName, std::uint32_t handler,
                           int quality) {
  if (!start) {
    recording.store(false);
    std::lock_guard<std::mutex> lock(recordMutex_);
    recorder_.Stop();
    return true;
  }
  if (fileName.empty()) return false;
  // The size of the frames actually arriving wins over the requested one
  // (a stream may deliver another size than asked for).
  BitmapInfoHeader header;
  int rate = 0, bitRate = 0;
  if (!GetFormat(header, rate, &bitRate)) return false;
  {
    std::lock_guard<std::mutex> lock(sampleMutex_);
    if (lastHeader_.width > 0 && (lastHeader_.width != header.width ||
                                  lastHeader_.height != header.height)) {
      header = lastHeader_;
      bitRate = BitRate(header, rate);
    }
  }
  if (quality < 0) quality = 0;
  if (quality > 100) quality = 100;
  std::lock_guard<std::mutex> lock(recordMutex_);
  recording.store(false);
  if (!recorder_.Start(fileName, handler, quality * 100, header, rate, bitRate)) {
    if (recorder_.Failed() == MovieRecorder::Failure::kFile) Report(recorder_.Message());
    return false;
  }
  recordFormat_ = header;
  recording.store(true);
  return true;
}

void CaptureDevice::SetErrorReporter(std::function<void(const std::string&)> reporter) {
  std::lock_guard<std::mutex> lock(reporterMutex_);
  reporter_ = std::move(reporter);
}

void CaptureDevice::Report(const std::string& text) {
  std::lock_guard<std::mutex> lock(reporterMutex_);
  if (reporter_) {
    reporter_(text);
  } else {
    LogFile::Write(text);
  }
}

bool CaptureDevice::IsDetecting() const {
  const DetectorState* detector = detector_.load();
  return detector && detector->IsRunning();
}

bool CaptureDevice::RequestFrame(VideoFrame& out, int timeoutMs) {
  if (!IsRunning() || frameThread_.load() == 0) return false;
  {
    std::unique_lock<std::mutex> lock(requestMutex_);
    frameRequested.store(true);
    const bool answered =
        requestDone_.wait_for(lock, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                              [&] { return !frameRequested.load() || !IsRunning(); });
    if (!answered || frameRequested.load()) {
      frameRequested.store(false);
      return false;
    }
  }
  return frameBuffer_.CopyLatest(out);
}

std::string CaptureDevice::DeviceName() const {
  std::lock_guard<std::mutex> lock(nameMutex_);
  return deviceName_;
}

std::string CaptureDevice::CameraName() const {
  std::lock_guard<std::mutex> lock(nameMutex_);
  return cameraName_.empty() ? deviceName_ : cameraName_;
}

bool CaptureDevice::CopySample(const std::uint8_t* topDownBgr, int width, int height, int stride) {
  // Our frames are a whole number of 32-bit words per row: a width that is no
  // multiple of 4 is cut to one (at most 3 columns lost).
  width &= ~3;
  if (!topDownBgr || width <= 0 || height <= 0 || stride < width * 3) return false;
  const std::int64_t size = static_cast<std::int64_t>(width) * 3 * height;
  if (size > 0x7FFFFFFF - ByteBuffer::kSlack) return false;
  // The sample buffer grows to the largest frame seen and is reused after.
  if (sample_.Capacity() < size && !sample_.Allocate(static_cast<std::int32_t>(size), false)) {
    return false;
  }
  sample_.SetLength(static_cast<std::int32_t>(size));
  sampleJpeg_.clear();
  const std::size_t row = static_cast<std::size_t>(width) * 3;
  std::uint8_t* dst = sample_.Data();
  for (int y = 0; y < height; ++y) {
    std::memcpy(dst + row * (height - 1 - y), topDownBgr + static_cast<std::size_t>(stride) * y,
                row);
  }
  sampleHeader_ = MakeRgb24Header(width, height);
  sampleReduction_ = 1;
  return true;
}

bool CaptureDevice::SampleSlotFree(std::unique_lock<std::mutex>& lock) {
  if (quit_) return false;
  if (busy.load()) {
    // Leisurely: the stream is as good as paused while the frame thread
    // works, so the sample is dropped. High speed: give the frame thread up
    // to one frame interval to finish rather than lose the sample.
    if (!highSpeed.load()) return false;
    const int interval = 1000 / SaneRate(frameRate.load());
    sampleTaken_.wait_for(lock, std::chrono::milliseconds(interval),
                          [&] { return !busy.load() || quit_; });
    if (busy.load() || quit_) return false;
  }
  return true;
}

std::uint8_t* CaptureDevice::BeginSample(int width, int height) {
  return BeginReducedSample(width, height, 1);
}

int CaptureDevice::SampleReduction(int width, int height) {
  if (frameRequested.load() || recording.load()) return 1;
  const DetectorState* detector = detector_.load();
  if (detector && detector->IsRunning() && detector->WantsPixels()) return 1;
  return preview_.Reduction(width, height);
}

std::uint8_t* CaptureDevice::BeginReducedSample(int width, int height, int reduction) {
  if (state.load() != kStateRunning || frameThread_.load() == 0) return nullptr;
  if (width <= 0 || height <= 0 || (width & 3) != 0) return nullptr;
  if (reduction != 1 && reduction != 2 && reduction != 4 && reduction != 8) return nullptr;
  if (width % (4 * reduction) != 0 || height % reduction != 0) return nullptr;
  const std::int64_t size =
      static_cast<std::int64_t>(width / reduction) * 3 * (height / reduction);
  if (size > 0x7FFFFFFF - ByteBuffer::kSlack) return nullptr;
  std::unique_lock<std::mutex> lock(sampleMutex_);
  if (!SampleSlotFree(lock)) return nullptr;
  if (sample_.Capacity() < size && !sample_.Allocate(static_cast<std::int32_t>(size), false)) {
    return nullptr;
  }
  // busy stays clear until EndSample: the frame thread does not read the
  // sample buffer meanwhile, and only this (the streaming) thread writes it.
  directSample_ = true;
  directHeader_ = MakeRgb24Header(width, height);
  directReduction_ = reduction;
  sampleJpeg_.clear();
  sample_.SetLength(static_cast<std::int32_t>(size));
  return sample_.Data();
}

void CaptureDevice::AttachSampleJpeg(const std::uint8_t* jpeg, std::size_t size) {
  // Between BeginSample and EndSample only this (the streaming) thread
  // touches the sample, so no lock is needed.
  if (!directSample_ || jpeg == nullptr) return;
  sampleJpeg_.assign(jpeg, jpeg + size);
}

void CaptureDevice::EndSample(bool filled) {
  std::unique_lock<std::mutex> lock(sampleMutex_);
  if (!directSample_) return;
  directSample_ = false;
  if (!filled || quit_) {
    sampleJpeg_.clear();
    return;
  }
  sampleHeader_ = directHeader_;
  sampleReduction_ = directReduction_;
  lastHeader_ = sampleHeader_;
  busy.store(true);
  if (!recording.load()) {
    // Shown and stored right here, while the decoded picture is still in
    // this processor's cache: waking the frame thread for it would cost a
    // hand-off per frame and a second cold start of the work. busy keeps the
    // frame thread out meanwhile. A recording by hand compresses every
    // frame, which the frame thread does, so that the stream keeps reading.
    lock.unlock();
    ProcessSample();
    lock.lock();
    busy.store(false);
    lock.unlock();
    sampleTaken_.notify_all();
    return;
  }
  samplePending_ = true;
  lock.unlock();
  sampleReady_.notify_one();
}

void CaptureDevice::OnSample(const std::uint8_t* topDownBgr, int width, int height, int stride) {
  if (state.load() != kStateRunning || frameThread_.load() == 0) return;
  std::unique_lock<std::mutex> lock(sampleMutex_);
  if (!SampleSlotFree(lock)) return;
  if (!CopySample(topDownBgr, width, height, stride)) return;
  lastHeader_ = sampleHeader_;
  busy.store(true);
  samplePending_ = true;
  lock.unlock();
  sampleReady_.notify_one();
}

void CaptureDevice::OnSourceEnded(const std::string& reason) {
  LogFile::Writef("Camera %s stopped: %s", CameraName().c_str(), reason.c_str());
}

void CaptureDevice::FrameThreadMain(void* argument) {
  static_cast<CaptureDevice*>(argument)->FrameThread();
}

void CaptureDevice::FrameThread() {
  busy.store(false);
  BitmapInfoHeader header;
  int rate = 0;
  if (!GetFormat(header, rate)) return;
  std::unique_lock<std::mutex> lock(sampleMutex_);
  while (StopFlag.load() == 0 && state.load() == kStateRunning) {
    sampleReady_.wait_for(lock, kIdleWait, [&] { return samplePending_ || quit_; });
    if (quit_) break;
    if (!samplePending_) continue;
    samplePending_ = false;
    lock.unlock();
    ProcessSample();
    lock.lock();
    busy.store(false);
    sampleTaken_.notify_all();
  }
  busy.store(false);
  lock.unlock();
  sampleTaken_.notify_all();
  requestDone_.notify_all();
}

void CaptureDevice::ProcessSample() {
  // busy is set: the streaming thread leaves the sample buffer alone.
  const BitmapInfoHeader header = sampleHeader_;
  const int reduction = sampleReduction_;
  const bool whole = reduction == 1;
  const std::uint8_t* pixels = sample_.Data();
  const SystemTime now = GetLocalTime();
  // A reduced sample cannot answer a request; the request is left standing,
  // and the next sample comes whole for it.
  const bool requested = whole && frameRequested.load();
  const std::string stamp = FormatStampText(now);
  preview_.Present(pixels, header.width / reduction, header.height / reduction, stamp);
  if (whole && recording.load()) {
    std::lock_guard<std::mutex> lock(recordMutex_);
    if (recording.load() && header.width == recordFormat_.width &&
        header.height == recordFormat_.height && !recorder_.WriteFrame(pixels, stamp) &&
        recorder_.Failed() == MovieRecorder::Failure::kWrite) {
      // The recorder ended the recording (a full disk): the user hears of
      // it once; a recording by hand stays stopped.
      recording.store(false);
      const std::string message = recorder_.Message();
      ReportWriteFailure(message, message);
    }
  }
  // Last, since the frame's pixels leave the sample buffer here: the frame
  // buffer takes the block and hands back its previous one for the next
  // sample, so storing costs no copy.
  if (whole && (requested || IsDetecting())) {
    frameBuffer_.SwapIn(sample_, sampleJpeg_, header, now);
  } else if (!whole && IsDetecting()) {
    frameBuffer_.SwapInJpegOnly(sampleJpeg_, header, now);
  }
  // Counted before a waiting request is woken: whoever got the frame also
  // sees it counted.
  processedFrames_.fetch_add(1);
  if (requested) {
    {
      std::lock_guard<std::mutex> lock(requestMutex_);
      frameRequested.store(false);
    }
    requestDone_.notify_all();
  }
}

}  // namespace qmr
