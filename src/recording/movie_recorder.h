// One recording from start to stop: a VideoCompressor and an AviWriter used
// together, shared by the camera's recording by hand and the detector's
// motion recording. Thread-safe: Start, WriteFrame and Stop may come from
// different threads; a frame in progress finishes before Stop closes the file.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "recording/avi_writer.h"
#include "recording/bitmap_info.h"
#include "recording/video_compressor.h"

namespace qmr {

class MovieRecorder {
 public:
  enum class Failure {
    kNone,
    kNoCompressor,  // handler code 0
    kNoFileName,
    kCompressor,  // the compressor cannot be opened or started
    kFile,        // the file cannot be created
    kStreams,     // the streams cannot be written
    kWrite,       // a frame could not be written: the recording was ended
  };

  // The texts the user sees for those failures.
  static constexpr const char* kNoCompressorText =
      "In order to save AVI file, please choose a compress codec first!";
  static constexpr const char* kCompressorText = "Failed to initialize compressor";
  static constexpr const char* kFileTextFormat = "AVI file %s can not be created";

  MovieRecorder() = default;
  virtual ~MovieRecorder();
  MovieRecorder(const MovieRecorder&) = delete;
  MovieRecorder& operator=(const MovieRecorder&) = delete;

  // Opens the compressor (quality in hundredths of a percent, 0 = the
  // compressor's default), creates the file and its streams. On failure
  // nothing stays open, no file is left behind, and Failed()/Message() say
  // why. Stops a running recording first.
  bool Start(const std::string& path, std::uint32_t handler, int quality,
             const BitmapInfoHeader& format, int frameRate, int bitRate = 0);
  // Compresses one frame (format.sizeImage bytes, 24-bit bottom-up) and
  // writes it with its stamp text. False when not recording, or when the
  // frame could not be compressed (the recording goes on) or written: then
  // the recording is ended at once with everything before the failure kept
  // playable, Failed() is kWrite and Message() names the file and the error.
  bool WriteFrame(const std::uint8_t* pixels, const std::string& stampText);
  // The same with the buffer's size: a buffer shorter than a frame of the
  // recording's format is refused instead of read past its end.
  bool WriteFrame(const std::uint8_t* pixels, std::size_t size, const std::string& stampText);
  // Writes a frame compressed beforehand by a compressor of the same kind
  // and format (the pre-event buffer's Motion JPEG frames, a camera's own
  // JPEG pictures). A failed write ends the recording as WriteFrame does.
  bool WriteCompressedFrame(const std::uint8_t* data, std::int32_t size, bool key,
                            const std::string& stampText);
  // Finishes the file and ends the compressor. True also when nothing ran.
  bool Stop();
  // Stops and deletes the file (a motion recording no longer wanted).
  void Discard();

  bool IsRecording() const { return recording_.load(); }
  // The file of the running or last finished recording ("" after Discard or
  // a failed Start).
  std::string Path() const;
  std::uint32_t FramesWritten() const;
  // The compressor's handler code while recording, else 0.
  std::uint32_t Handler() const;

  Failure Failed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failure_;
  }
  // The message for the last failure ("" after success): kNoCompressorText,
  // kCompressorText, or the file text with the path filled in.
  std::string Message() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return message_;
  }

 private:
  bool Fail(Failure failure, const std::string& path);
  void StopLocked();
  bool WriteFrameLocked(const std::uint8_t* pixels, const std::string& stampText);
  bool WriteEncodedLocked(const std::uint8_t* data, std::int32_t size, bool key,
                          const std::string& stampText);

  mutable std::mutex mutex_;
  std::atomic<bool> recording_{false};
  VideoCompressor compressor_;
  AviWriter writer_;
  BitmapInfoHeader format_;
  std::string path_;
  Failure failure_ = Failure::kNone;
  std::string message_;
};

}  // namespace qmr
