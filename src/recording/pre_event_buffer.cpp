#include "recording/pre_event_buffer.h"

#include <algorithm>
#include <cstring>

#include "recording/movie_recorder.h"

namespace qmr {

namespace {

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(int y, unsigned m, unsigned d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool SameFormat(const BitmapInfoHeader& a, const BitmapInfoHeader& b) {
  return a.width == b.width && a.height == b.height && a.bitCount == b.bitCount &&
         a.compression == b.compression && a.sizeImage == b.sizeImage;
}

}  // namespace

std::int64_t CaptureTimeMs(const SystemTime& t) {
  const std::int64_t days = DaysFromCivil(t.year, t.month, t.day);
  return ((days * 24 + t.hour) * 60 + t.minute) * 60000 + t.second * 1000 + t.milliseconds;
}

PreEventBuffer::PreEventBuffer(std::size_t memoryLimit) : memoryLimit_(memoryLimit) {}

bool PreEventBuffer::Configure(int seconds, std::uint32_t handler, int quality,
                               const BitmapInfoHeader& format) {
  seconds = std::clamp(seconds, 0, kMaxSeconds);
  if (seconds == seconds_ && handler == handler_ && quality == quality_ &&
      SameFormat(format, format_)) {
    return seconds_ > 0 && (!compressed_ || compressor_.IsSequencing());
  }
  Clear();
  compressor_.Close();
  seconds_ = seconds;
  handler_ = handler;
  quality_ = quality;
  format_ = format;
  compressed_ = handler == MakeFourCC("MJPG");
  if (seconds_ == 0 || handler == 0) return false;
  if (compressed_) {
    // The same compressor, quality and format as the recording: the
    // recording's stream format is then the one these frames were made for.
    if (!compressor_.Open(handler, format, quality, 0) || !compressor_.StartSequence()) {
      compressor_.Close();
      return false;
    }
  }
  return true;
}

void PreEventBuffer::DropOldest() {
  Entry& oldest = entries_.front();
  bytes_ -= oldest.data.size();
  if (oldest.data.capacity() > spare_.capacity()) spare_ = std::move(oldest.data);
  entries_.pop_front();
}

bool PreEventBuffer::Add(const std::uint8_t* pixels, std::size_t size, std::int64_t timeMs,
                         const std::string& stampText, const std::uint8_t* jpeg,
                         std::size_t jpegSize) {
  // The camera's own JPEG is kept as it is; the pixels are needed only
  // without one.
  const bool jpegKept = compressed_ && jpeg != nullptr && jpegSize > 0 && jpegSize <= memoryLimit_;
  if (seconds_ == 0 || handler_ == 0) return false;
  if (!jpegKept && (pixels == nullptr || size < format_.sizeImage)) return false;
  if (!entries_.empty() && timeMs < entries_.back().timeMs) Clear();

  const std::uint8_t* data = pixels;
  std::int32_t length = static_cast<std::int32_t>(format_.sizeImage);
  bool key = true;
  if (jpegKept) {
    data = jpeg;
    length = static_cast<std::int32_t>(jpegSize);
  } else if (compressed_) {
    if (!compressor_.IsSequencing()) return false;
    length = static_cast<std::int32_t>(std::uint64_t{format_.sizeImage} * 10 / 8);
    if (!compressor_.CompressFrame(pixels, &data, &key, &length)) return false;
  }
  if (static_cast<std::size_t>(length) > memoryLimit_) return false;

  Entry entry;
  entry.data = std::move(spare_);
  spare_ = {};
  entry.data.assign(data, data + length);
  entry.key = key;
  entry.timeMs = timeMs;
  entry.stamp = stampText;
  bytes_ += entry.data.size();
  entries_.push_back(std::move(entry));

  // Keep frames that are at most the kept seconds older than the newest.
  const std::int64_t oldestWanted = timeMs - std::int64_t{seconds_} * 1000;
  while (entries_.size() > 1 && entries_.front().timeMs < oldestWanted) DropOldest();
  while (entries_.size() > 1 && bytes_ > memoryLimit_) DropOldest();
  return true;
}

int PreEventBuffer::WriteTo(MovieRecorder& recorder) {
  int written = 0;
  for (const Entry& entry : entries_) {
    const bool ok =
        compressed_ ? recorder.WriteCompressedFrame(entry.data.data(),
                                                    static_cast<std::int32_t>(entry.data.size()),
                                                    entry.key, entry.stamp)
                    : recorder.WriteFrame(entry.data.data(), entry.data.size(), entry.stamp);
    if (ok) ++written;
  }
  Clear();
  return written;
}

void PreEventBuffer::Clear() {
  while (!entries_.empty()) DropOldest();
  bytes_ = 0;
}

std::int64_t PreEventBuffer::SpanMs() const {
  return entries_.empty() ? 0 : entries_.back().timeMs - entries_.front().timeMs;
}

}  // namespace qmr
