#include "recording/avi_writer.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "recording/bitmap_info.h"

namespace qmr {

namespace {

// Entries reserved in each stream's super index: one per RIFF segment, so
// 256 segments of 1 GiB each.
constexpr std::uint32_t kSuperIndexEntries = 256;
constexpr std::uint32_t kAvifHasIndex = 0x10;
constexpr std::uint32_t kAvifIsInterleaved = 0x100;
constexpr std::uint32_t kAviifKeyFrame = 0x10;
constexpr std::uint32_t kTextRate = 60;
constexpr std::uint64_t kFlushIntervalMs = 1000;

constexpr std::uint32_t kVideoChunk = MakeFourCC("00dc");
constexpr std::uint32_t kTextChunk = MakeFourCC("01tx");

std::uint64_t NowMs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

// Little-endian byte builder for headers and index chunks.
class Bytes {
 public:
  void U8(std::uint8_t v) { data_.push_back(v); }
  void U16(std::uint16_t v) {
    U8(static_cast<std::uint8_t>(v));
    U8(static_cast<std::uint8_t>(v >> 8));
  }
  void U32(std::uint32_t v) {
    U16(static_cast<std::uint16_t>(v));
    U16(static_cast<std::uint16_t>(v >> 16));
  }
  void U64(std::uint64_t v) {
    U32(static_cast<std::uint32_t>(v));
    U32(static_cast<std::uint32_t>(v >> 32));
  }
  void Tag(const char* t) { U32(MakeFourCC(t)); }
  void Raw(const void* p, std::size_t n) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    data_.insert(data_.end(), b, b + n);
  }
  void Zeros(std::size_t n) { data_.insert(data_.end(), n, 0); }
  // Starts a chunk or list: writes the tag and a size to be patched by End.
  std::size_t Begin(const char* tag) {
    Tag(tag);
    const std::size_t at = data_.size();
    U32(0);
    return at;
  }
  void End(std::size_t sizeAt) {
    const auto size = static_cast<std::uint32_t>(data_.size() - sizeAt - 4);
    Patch32(sizeAt, size);
    if (size & 1) U8(0);
  }
  void Patch32(std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) data_[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
  std::size_t Size() const { return data_.size(); }
  const std::uint8_t* Data() const { return data_.data(); }

 private:
  std::vector<std::uint8_t> data_;
};

std::uint32_t Pad(std::uint32_t size) { return size + (size & 1); }

}  // namespace

AviWriter::AviWriter() = default;

AviWriter::~AviWriter() { Close(); }

bool AviWriter::Open(const std::string& fileName) {
  if (fileName.empty() || fd_ >= 0) return false;
  const int fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  Reset();
  fd_ = fd;
  fileName_ = fileName;
  return true;
}

void AviWriter::Reset() {
  streams_ = false;
  textCount_ = 0;
  videoCount_ = 0;
  textPositions_ = 0;
  end_ = 0;
  segments_.clear();
  videoIndex_.clear();
  textIndex_.clear();
  firstSegmentFrames_ = 0;
  firstSegmentOpen_ = true;
  videoSuper_.clear();
  textSuper_.clear();
  maxChunk_ = 0;
  failed_ = false;
  closing_ = false;
  headerBytes_ = 0;
  writeError_ = 0;
}

bool AviWriter::CreateStreams(const std::vector<std::uint8_t>& format, std::uint32_t handler,
                              std::uint32_t frameRate, std::int32_t quality) {
  if (fd_ < 0 || streams_ || frameRate == 0) return false;
  if (format.size() < sizeof(BitmapInfoHeader)) return false;
  BitmapInfoHeader header;
  std::memcpy(&header, format.data(), sizeof header);
  if (header.size < sizeof header || header.size > format.size()) return false;
  format_.assign(format.begin(), format.begin() + header.size);
  handler_ = handler;
  frameRate_ = frameRate;
  quality_ = quality;
  width_ = header.width;
  height_ = header.height < 0 ? -header.height : header.height;
  suggestedBuffer_ = header.sizeImage;
  videoCount_ = 0;
  textCount_ = 0;
  textPositions_ = 0;

  if (!WriteHeaders()) return false;
  if (!BeginSegment()) return false;
  streams_ = true;
  if (!PatchSizes()) {
    streams_ = false;
    return false;
  }
  lastFlushMs_ = NowMs();
  return true;
}

// The whole header block: RIFF head, hdrl with both stream lists and their
// super indexes, and the extended header. Its length never changes, so it is
// rewritten in place whenever the counts are patched.
bool AviWriter::WriteHeaders() {
  const std::uint32_t firstFrames = firstSegmentOpen_ ? videoCount_ : firstSegmentFrames_;
  const std::int16_t w = static_cast<std::int16_t>(std::min<std::int32_t>(width_, 32767));
  const std::int16_t h = static_cast<std::int16_t>(std::min<std::int32_t>(height_, 32767));

  Bytes b;
  // The first RIFF ends where the second begins, else at the end of data.
  b.Tag("RIFF");
  if (segments_.empty()) {
    b.U32(0);
  } else {
    b.U32(static_cast<std::uint32_t>((segments_.size() > 1 ? segments_[1].riffStart : end_) - 8));
  }
  b.Tag("AVI ");
  const auto hdrl = b.Begin("LIST");
  b.Tag("hdrl");
  {
    const auto avih = b.Begin("avih");
    b.U32(1000000 / frameRate_);
    b.U32(static_cast<std::uint32_t>(
        std::min<std::uint64_t>(std::uint64_t{maxChunk_} * frameRate_, 0xFFFFFFFFu)));
    b.U32(0);
    // The index flag is set only once the file is finished; until then a
    // reader must scan the data.
    b.U32(kAvifIsInterleaved | (closing_ && !failed_ ? kAvifHasIndex : 0));
    b.U32(firstFrames);
    b.U32(0);
    b.U32(2);
    b.U32(std::max(suggestedBuffer_, maxChunk_));
    b.U32(static_cast<std::uint32_t>(width_));
    b.U32(static_cast<std::uint32_t>(height_));
    b.Zeros(16);
    b.End(avih);
  }
  auto streamList = [&](bool video) {
    const auto strl = b.Begin("LIST");
    b.Tag("strl");
    const auto strh = b.Begin("strh");
    b.Tag(video ? "vids" : "txts");
    b.U32(video ? handler_ : MakeFourCC("DRAW"));
    b.U32(0);  // flags
    b.U16(0);  // priority
    b.U16(0);  // language
    b.U32(0);  // initial frames
    b.U32(1);  // scale
    b.U32(video ? frameRate_ : kTextRate);
    b.U32(0);  // start
    b.U32(video ? videoCount_ : textPositions_);
    b.U32(video ? suggestedBuffer_ : 16);
    b.U32(video ? static_cast<std::uint32_t>(quality_) : 0);
    b.U32(0);  // sample size: variable
    b.U16(0);
    b.U16(0);
    b.U16(static_cast<std::uint16_t>(w));
    b.U16(static_cast<std::uint16_t>(h));
    b.End(strh);
    const auto strf = b.Begin("strf");
    if (video) {
      b.Raw(format_.data(), format_.size());
    } else {
      b.U32(4);
    }
    b.End(strf);
    const auto& super = video ? videoSuper_ : textSuper_;
    const auto indx = b.Begin("indx");
    b.U16(4);  // longs per entry
    b.U8(0);   // sub type
    b.U8(0);   // index of indexes
    b.U32(static_cast<std::uint32_t>(super.size()));
    b.U32(video ? kVideoChunk : kTextChunk);
    b.Zeros(12);
    for (std::uint32_t i = 0; i < kSuperIndexEntries; ++i) {
      if (i < super.size()) {
        b.U64(super[i].offset);
        b.U32(super[i].size);
        b.U32(super[i].duration);
      } else {
        b.Zeros(16);
      }
    }
    b.End(indx);
    b.End(strl);
  };
  streamList(true);
  streamList(false);
  {
    const auto odml = b.Begin("LIST");
    b.Tag("odml");
    const auto dmlh = b.Begin("dmlh");
    b.U32(videoCount_);
    b.Zeros(244);
    b.End(dmlh);
    b.End(odml);
  }
  b.End(hdrl);
  // The block's length never changes, so the movi list always follows it.
  if (headerBytes_ != 0 && b.Size() != headerBytes_) return false;
  headerBytes_ = b.Size();
  return WriteAt(0, b.Data(), b.Size());
}

bool AviWriter::WriteAt(std::uint64_t offset, const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = ::pwrite(fd_, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (writeError_ == 0) writeError_ = n < 0 ? errno : ENOSPC;
      return false;
    }
    p += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
  return true;
}

bool AviWriter::BeginSegment() {
  Segment s;
  Bytes b;
  if (segments_.empty()) {
    // The first segment's RIFF head is part of the header block.
    s.riffStart = 0;
    end_ = headerBytes_;
  } else {
    s.riffStart = end_;
    b.Tag("RIFF");
    b.U32(0);
    b.Tag("AVIX");
  }
  s.moviStart = end_ + b.Size();
  b.Tag("LIST");
  b.U32(4);
  b.Tag("movi");
  if (!WriteAt(end_, b.Data(), b.Size())) return false;
  end_ += b.Size();
  segments_.push_back(s);
  videoIndex_.clear();
  textIndex_.clear();
  return true;
}

bool AviWriter::WriteStandardIndex(std::uint32_t chunkId, std::uint32_t streamNumber,
                                   const std::vector<IndexEntry>& index, std::uint64_t* where,
                                   std::uint32_t* bytes) {
  const std::uint64_t base = segments_.back().moviStart;
  Bytes b;
  char tag[5] = {'i', 'x', '0', static_cast<char>('0' + streamNumber), 0};
  const auto ix = b.Begin(tag);
  b.U16(2);  // longs per entry
  b.U8(0);
  b.U8(1);  // index of chunks
  b.U32(static_cast<std::uint32_t>(index.size()));
  b.U32(chunkId);
  b.U64(base);
  b.U32(0);
  for (const auto& e : index) {
    b.U32(static_cast<std::uint32_t>(e.offset + 8 - base));
    b.U32(e.size | (e.key ? 0u : 0x80000000u));
  }
  b.End(ix);
  if (!WriteAt(end_, b.Data(), b.Size())) return false;
  *where = end_;
  *bytes = static_cast<std::uint32_t>(b.Size());
  end_ += b.Size();
  return true;
}

// Closes the current segment: its standard indexes go at the end of its movi
// list, the first segment also gets the classic idx1 after the list.
bool AviWriter::EndSegment() {
  const Segment seg = segments_.back();
  bool ok = true;
  if (!videoIndex_.empty()) {
    std::uint64_t at = 0;
    std::uint32_t bytes = 0;
    if (WriteStandardIndex(kVideoChunk, 0, videoIndex_, &at, &bytes)) {
      videoSuper_.push_back({at, bytes, static_cast<std::uint32_t>(videoIndex_.size())});
    } else {
      ok = false;
    }
  }
  if (!textIndex_.empty()) {
    std::uint64_t at = 0;
    std::uint32_t bytes = 0;
    if (WriteStandardIndex(kTextChunk, 1, textIndex_, &at, &bytes)) {
      textSuper_.push_back({at, bytes, static_cast<std::uint32_t>(textIndex_.size())});
    } else {
      ok = false;
    }
  }
  const std::uint64_t moviEnd = end_;
  if (segments_.size() == 1) {
    // idx1 offsets count from the "movi" tag; entries in file order.
    Bytes b;
    const auto idx1 = b.Begin("idx1");
    std::size_t v = 0, t = 0;
    const std::uint64_t moviTag = seg.moviStart + 8;
    while (v < videoIndex_.size() || t < textIndex_.size()) {
      const bool takeVideo =
          t >= textIndex_.size() ||
          (v < videoIndex_.size() && videoIndex_[v].offset < textIndex_[t].offset);
      const IndexEntry& e = takeVideo ? videoIndex_[v++] : textIndex_[t++];
      b.U32(takeVideo ? kVideoChunk : kTextChunk);
      b.U32(e.key ? kAviifKeyFrame : 0);
      b.U32(static_cast<std::uint32_t>(e.offset - moviTag));
      b.U32(e.size);
    }
    b.End(idx1);
    if (WriteAt(end_, b.Data(), b.Size())) {
      end_ += b.Size();
    } else {
      ok = false;
    }
    firstSegmentFrames_ = videoCount_;
    firstSegmentOpen_ = false;
  }
  // Final sizes of this segment's RIFF and movi lists.
  ok = Put32(seg.riffStart + 4, end_ - seg.riffStart - 8) && ok;
  ok = Put32(seg.moviStart + 4, moviEnd - seg.moviStart - 8) && ok;
  if (!ok) failed_ = true;
  return ok;
}

// Makes everything written so far readable: sizes of the open segment and
// the header counts.
bool AviWriter::PatchSizes() {
  if (fd_ < 0 || segments_.empty()) return false;
  const Segment& seg = segments_.back();
  bool ok = WriteHeaders();
  ok = Put32(seg.riffStart + 4, end_ - seg.riffStart - 8) && ok;
  ok = Put32(seg.moviStart + 4, end_ - seg.moviStart - 8) && ok;
  // A killed process loses nothing handed to the system already; start the
  // write-back too (without waiting) so a power cut loses little more.
  ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
  lastFlushMs_ = NowMs();
  return ok;
}

bool AviWriter::Put32(std::uint64_t offset, std::uint64_t value) {
  std::uint8_t bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
  return WriteAt(offset, bytes, 4);
}

void AviWriter::MaybeFlush() {
  if (NowMs() - lastFlushMs_ >= kFlushIntervalMs) PatchSizes();
}

bool AviWriter::AppendChunk(std::uint32_t fourcc, const void* data, std::uint32_t size, bool key,
                            std::vector<IndexEntry>& index, std::uint32_t emptyBefore) {
  const std::uint64_t chunkBytes = 8ull * emptyBefore + 8 + Pad(size);
  // Room the closing indexes of this segment will need.
  const std::uint64_t entries = videoIndex_.size() + textIndex_.size() + emptyBefore + 2;
  std::uint64_t indexBytes = 64 + 8 * entries;
  if (segments_.size() == 1) indexBytes += 8 + 16 * entries;
  const Segment& seg = segments_.back();
  const bool hasData = !videoIndex_.empty() || !textIndex_.empty();
  if (hasData && end_ + chunkBytes + indexBytes - seg.riffStart > segmentLimit_) {
    if (segments_.size() >= kSuperIndexEntries) return false;  // file is full
    if (!EndSegment()) return false;
    if (!BeginSegment()) return false;
    PatchSizes();
  }
  // Empty chunks first (their 8-byte heads, kept between calls), then the
  // chunk itself.
  if (fill_.size() < 8ull * emptyBefore + 8) fill_.resize(8ull * emptyBefore + 8);
  for (std::uint32_t n = 0; n <= emptyBefore; ++n) {
    std::uint8_t* head = fill_.data() + 8ull * n;
    const std::uint32_t chunkSize = n == emptyBefore ? size : 0;
    for (int i = 0; i < 4; ++i) head[i] = static_cast<std::uint8_t>(fourcc >> (8 * i));
    for (int i = 0; i < 4; ++i) head[4 + i] = static_cast<std::uint8_t>(chunkSize >> (8 * i));
  }
  std::uint8_t pad = 0;
  iovec parts[3] = {
      {fill_.data(), 8ull * emptyBefore + 8}, {const_cast<void*>(data), size}, {&pad, size & 1}};
  // One system call for all of it, so a crash leaves whole chunks behind.
  std::uint64_t offset = end_;
  std::size_t left = chunkBytes;
  int first = 0;
  while (left > 0) {
    const ssize_t n = ::pwritev(fd_, parts + first, 3 - first, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // Disk full or another write error: nothing counted; Close cuts off
      // what part of the chunk reached the file.
      if (writeError_ == 0) writeError_ = n < 0 ? errno : ENOSPC;
      return false;
    }
    offset += static_cast<std::uint64_t>(n);
    left -= static_cast<std::size_t>(n);
    auto done = static_cast<std::size_t>(n);
    while (first < 3 && done >= parts[first].iov_len) {
      done -= parts[first].iov_len;
      ++first;
    }
    if (first < 3) {
      parts[first].iov_base = static_cast<std::uint8_t*>(parts[first].iov_base) + done;
      parts[first].iov_len -= done;
    }
  }
  for (std::uint32_t n = 0; n < emptyBefore; ++n) index.push_back({end_ + 8ull * n, 0, key});
  index.push_back({end_ + 8ull * emptyBefore, size, key});
  end_ += chunkBytes;
  maxChunk_ = std::max(maxChunk_, size);
  return true;
}

bool AviWriter::WriteVideo(const void* data, std::int32_t size, bool keyFrame) {
  if (!streams_ || size < 0 || (size > 0 && data == nullptr)) return false;
  if (!AppendChunk(kVideoChunk, data, static_cast<std::uint32_t>(size), keyFrame, videoIndex_))
    return false;
  ++videoCount_;
  MaybeFlush();
  return true;
}

bool AviWriter::WriteText(const std::string& text) {
  if (!streams_) return false;
  // A sample has no time of its own: it lands at the next free position, so
  // the positions before the stamp's are filled with empty samples. Two
  // stamps never share a position (above 60 frames a second they would).
  const std::uint64_t target =
      std::max<std::uint64_t>(std::uint64_t{textCount_} * kTextRate / frameRate_, textPositions_);
  const auto empty = static_cast<std::uint32_t>(target - textPositions_);
  if (!AppendChunk(kTextChunk, text.c_str(), static_cast<std::uint32_t>(text.size() + 1), true,
                   textIndex_, empty))
    return false;
  textPositions_ += empty + 1;
  ++textCount_;
  MaybeFlush();
  return true;
}

bool AviWriter::Finish() {
  closing_ = true;
  bool ok = EndSegment();
  ok = WriteHeaders() && ok;
  return ok;
}

// Gives up the last chunks of the open segment until at least bytes are
// free behind the new end, and cuts the file there.
bool AviWriter::DropTail(std::uint64_t bytes) {
  const std::uint64_t target = end_ > bytes ? end_ - bytes : 0;
  while (end_ > target && (!videoIndex_.empty() || !textIndex_.empty())) {
    const bool video = textIndex_.empty() || (!videoIndex_.empty() &&
                                              videoIndex_.back().offset > textIndex_.back().offset);
    if (video) {
      end_ = videoIndex_.back().offset;
      videoIndex_.pop_back();
      --videoCount_;
    } else {
      end_ = textIndex_.back().offset;
      if (textIndex_.back().size > 0) --textCount_;
      textIndex_.pop_back();
      --textPositions_;
    }
  }
  return ::ftruncate(fd_, static_cast<off_t>(end_)) == 0;
}

bool AviWriter::Close() {
  if (fd_ < 0) return true;
  bool ok = true;
  if (streams_) {
    if (writeError_ != 0) {
      // Whatever part of a failed chunk reached the file goes first.
      if (::ftruncate(fd_, static_cast<off_t>(end_)) != 0) failed_ = true;
      // The closing indexes need room the full disk may not have: the state
      // before a try is kept so that the next one starts from it with the
      // last frames given up.
      const auto videoSuper = videoSuper_;
      const auto textSuper = textSuper_;
      const std::uint32_t firstFrames = firstSegmentFrames_;
      const bool firstOpen = firstSegmentOpen_;
      const bool failedBefore = failed_;
      // First what the closing indexes take, then twice as much at each
      // try (the disk's blocks may want more).
      const std::uint64_t entries = videoIndex_.size() + textIndex_.size();
      std::uint64_t give = 64 + 8 * entries;
      if (segments_.size() == 1) give += 8 + 16 * entries;
      for (int attempt = 0;; ++attempt) {
        const std::uint64_t endBefore = end_;
        ok = Finish();
        if (ok || attempt == 12) break;
        end_ = endBefore;
        videoSuper_ = videoSuper;
        textSuper_ = textSuper;
        firstSegmentFrames_ = firstFrames;
        firstSegmentOpen_ = firstOpen;
        failed_ = failedBefore;
        closing_ = false;
        if (!DropTail(give)) break;
        give *= 2;
      }
    } else {
      ok = Finish();
    }
  }
  ok = (::close(fd_) == 0) && ok && !failed_;
  fd_ = -1;
  Reset();
  videoCount_ = 0;
  return ok;
}

}  // namespace qmr
