#include "recording/movie_recorder.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace qmr {

MovieRecorder::~MovieRecorder() { Stop(); }

bool MovieRecorder::Fail(Failure failure, const std::string& path) {
  failure_ = failure;
  switch (failure) {
    case Failure::kNone:
      message_.clear();
      break;
    case Failure::kNoCompressor:
      message_ = kNoCompressorText;
      break;
    case Failure::kFile: {
      const int n = std::snprintf(nullptr, 0, kFileTextFormat, path.c_str());
      message_.assign(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
      std::snprintf(message_.data(), message_.size() + 1, kFileTextFormat, path.c_str());
      break;
    }
    case Failure::kWrite:
      message_ = "The recording " + path + " was stopped: it could not be written (" +
                 std::strerror(writer_.WriteError()) + ")";
      break;
    case Failure::kNoFileName:
    case Failure::kCompressor:
    case Failure::kStreams:
      message_ = kCompressorText;
      break;
  }
  return failure == Failure::kNone;
}

bool MovieRecorder::Start(const std::string& path, std::uint32_t handler, int quality,
                          const BitmapInfoHeader& format, int frameRate, int bitRate) {
  std::lock_guard<std::mutex> lock(mutex_);
  StopLocked();
  path_.clear();
  Fail(Failure::kNone, path);
  if (handler == 0) return Fail(Failure::kNoCompressor, path);
  if (path.empty()) return Fail(Failure::kNoFileName, path);
  if (!compressor_.Open(handler, format, quality, bitRate)) return Fail(Failure::kCompressor, path);
  if (!compressor_.StartSequence()) {
    compressor_.EndSequence();
    return Fail(Failure::kCompressor, path);
  }
  if (!writer_.Open(path)) {
    compressor_.EndSequence();
    return Fail(Failure::kFile, path);
  }
  // A format without a usable rate (below one frame a second) is taken as 1.
  const auto rate = static_cast<std::uint32_t>(frameRate >= 1 ? frameRate : 1);
  if (!writer_.CreateStreams(compressor_.OutputFormat(), handler, rate, quality)) {
    const int error = writer_.WriteError();
    writer_.Close();
    ::unlink(path.c_str());
    compressor_.EndSequence();
    Fail(Failure::kStreams, path);
    // A full disk says so in the log rather than blame the compressor.
    if (error != 0)
      message_ += std::string(": the file could not be written (") + std::strerror(error) + ")";
    return false;
  }
  format_ = compressor_.InputFormat();
  path_ = path;
  recording_ = true;
  return true;
}

bool MovieRecorder::WriteFrame(const std::uint8_t* pixels, const std::string& stampText) {
  std::lock_guard<std::mutex> lock(mutex_);
  return WriteFrameLocked(pixels, stampText);
}

bool MovieRecorder::WriteFrame(const std::uint8_t* pixels, std::size_t size,
                               const std::string& stampText) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (size < format_.sizeImage) return false;
  return WriteFrameLocked(pixels, stampText);
}

bool MovieRecorder::WriteCompressedFrame(const std::uint8_t* data, std::int32_t size, bool key,
                                         const std::string& stampText) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!recording_.load() || data == nullptr || size <= 0) return false;
  return WriteEncodedLocked(data, size, key, stampText);
}

bool MovieRecorder::WriteEncodedLocked(const std::uint8_t* data, std::int32_t size, bool key,
                                       const std::string& stampText) {
  // The stamp follows only a frame that was written, so stamps and frames
  // stay paired.
  if (writer_.WriteVideo(data, size, key) && writer_.WriteText(stampText)) return true;
  if (writer_.WriteError() != 0) {
    Fail(Failure::kWrite, path_);
    StopLocked();
  }
  return false;
}

bool MovieRecorder::WriteFrameLocked(const std::uint8_t* pixels, const std::string& stampText) {
  if (!recording_.load() || pixels == nullptr) return false;
  const std::uint8_t* data = nullptr;
  bool key = false;
  auto size = static_cast<std::int32_t>(std::uint64_t{format_.sizeImage} * 10 / 8);
  if (!compressor_.CompressFrame(pixels, &data, &key, &size)) return false;
  return WriteEncodedLocked(data, size, key, stampText);
}

void MovieRecorder::StopLocked() {
  if (!recording_.load()) return;
  recording_ = false;
  writer_.Close();
  compressor_.EndSequence();
}

bool MovieRecorder::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  StopLocked();
  return true;
}

void MovieRecorder::Discard() {
  std::lock_guard<std::mutex> lock(mutex_);
  StopLocked();
  if (!path_.empty()) ::unlink(path_.c_str());
  path_.clear();
}

std::string MovieRecorder::Path() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return path_;
}

std::uint32_t MovieRecorder::Handler() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return recording_.load() ? compressor_.Handler() : 0;
}

std::uint32_t MovieRecorder::FramesWritten() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return writer_.VideoCount();
}

}  // namespace qmr
