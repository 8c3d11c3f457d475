// Our own RIFF AVI writer: one compressed video stream ("vids") and one text
// stream ("txts", handler "DRAW", 60 samples a second) that holds each frame's
// time stamp at the time of its frame. Files grow past 1 GiB through the
// extended (OpenDML) layout; the first segment also carries a classic idx1.
// The headers are patched and the data handed to the system about every
// second, so a file cut off by a crash stays readable up to its last second.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qmr {

class AviWriter {
 public:
  AviWriter();
  virtual ~AviWriter();
  AviWriter(const AviWriter&) = delete;
  AviWriter& operator=(const AviWriter&) = delete;

  // Creates or truncates the file. False for an empty name, when a file is
  // already open, or when the file cannot be created.
  bool Open(const std::string& fileName);
  // format: a BitmapInfoHeader (its size field gives its length, codec data
  // may follow). False when no file is open, streams already exist, the
  // format is unusable, the frame rate is 0, or writing fails.
  bool CreateStreams(const std::vector<std::uint8_t>& format, std::uint32_t handler,
                     std::uint32_t frameRate, std::int32_t quality);
  // Appends one compressed frame. False (counters unchanged) without streams
  // or when the write fails, e.g. on a full disk.
  bool WriteVideo(const void* data, std::int32_t size, bool keyFrame);
  // Writes text and its terminating zero as the stamp of the next video
  // frame: at text position count × 60 / frame rate; the positions before
  // it are filled with empty samples.
  bool WriteText(const std::string& text);
  // Writes the indexes and final headers and closes the file; back to idle.
  // False when the file could not be finished (it is closed all the same).
  // After a failed write (a full disk) the file is first cut back to its
  // last whole chunk, and when the indexes still find no room the last
  // frames are given up for them, so what stays is a consistent file.
  bool Close();
  // errno of the first failed write since Open (0: none).
  int WriteError() const { return writeError_; }

  bool IsOpen() const { return fd_ >= 0; }
  bool HasStreams() const { return streams_; }
  const std::string& FileName() const { return fileName_; }
  std::uint32_t VideoCount() const { return videoCount_; }
  std::uint32_t TextCount() const { return textCount_; }
  std::uint32_t FrameRate() const { return frameRate_; }

  // Size at which a RIFF segment is closed and the next begins (1 GiB by
  // default). Smaller values let tests exercise the extended layout.
  void SetSegmentLimit(std::uint64_t bytes) { segmentLimit_ = bytes; }

 private:
  struct IndexEntry {
    std::uint64_t offset;  // file offset of the chunk header
    std::uint32_t size;    // payload bytes
    bool key;
  };
  struct Segment {
    std::uint64_t riffStart = 0;  // offset of "RIFF"
    std::uint64_t moviStart = 0;  // offset of "LIST" of movi
  };

  bool WriteAt(std::uint64_t offset, const void* data, std::size_t size);
  // Writes emptyBefore empty chunks and then one chunk of data, with one
  // system call, and indexes them all.
  bool AppendChunk(std::uint32_t fourcc, const void* data, std::uint32_t size, bool key,
                   std::vector<IndexEntry>& index, std::uint32_t emptyBefore = 0);
  bool BeginSegment();
  bool EndSegment();
  bool WriteStandardIndex(std::uint32_t chunkId, std::uint32_t streamNumber,
                          const std::vector<IndexEntry>& index, std::uint64_t* where,
                          std::uint32_t* bytes);
  bool WriteHeaders();
  bool PatchSizes();
  bool Put32(std::uint64_t offset, std::uint64_t value);
  void MaybeFlush();
  void Reset();
  bool Finish();
  bool DropTail(std::uint64_t bytes);

  int fd_ = -1;
  std::string fileName_;
  bool streams_ = false;
  std::uint32_t textCount_ = 0;
  std::uint32_t videoCount_ = 0;
  std::uint32_t frameRate_ = 0;
  std::uint32_t textPositions_ = 0;  // samples in the text stream, empty ones included

  std::vector<std::uint8_t> format_;
  std::vector<std::uint8_t> fill_;  // chunk heads of the next write
  std::uint32_t handler_ = 0;
  std::int32_t quality_ = 0;
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  std::uint32_t suggestedBuffer_ = 0;
  std::uint32_t maxChunk_ = 0;

  std::uint64_t end_ = 0;  // offset where the next chunk goes
  std::uint64_t segmentLimit_ = 1ull << 30;
  std::vector<Segment> segments_;
  std::vector<IndexEntry> videoIndex_;  // current segment
  std::vector<IndexEntry> textIndex_;
  std::uint32_t firstSegmentFrames_ = 0;
  bool firstSegmentOpen_ = true;
  struct SuperEntry {
    std::uint64_t offset;
    std::uint32_t size;
    std::uint32_t duration;
  };
  std::vector<SuperEntry> videoSuper_;
  std::vector<SuperEntry> textSuper_;
  std::uint64_t lastFlushMs_ = 0;
  bool failed_ = false;  // an index or header write failed: the file is not trusted
  bool closing_ = false;
  std::size_t headerBytes_ = 0;
  int writeError_ = 0;
};

}  // namespace qmr
