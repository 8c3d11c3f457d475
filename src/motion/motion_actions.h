// A camera's reactions to motion: while a motion period lasts, every check
// saves a JPG picture and appends the frame to the motion recording, the
// alarm sounds, the capture switches to high speed and the chosen program
// runs; when the period ends the pictures and the recording are packed into
// ZIP archives and the delivery archive is handed to the transfer thread for
// upload and mail. Every choice is read from the settings at each call, so a
// change applies from the next check on. Runs on the detector's worker thread.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "motion/motion_detector.h"
#include "recording/movie_recorder.h"
#include "recording/pre_event_buffer.h"

namespace qmr {

class AppContext;
class CameraEntry;
class CaptureDevice;
struct Settings;

class CameraMotionDetector : public MotionDetector {
 public:
  // Quality of motion recordings, in hundredths of a percent.
  static constexpr int kRecordingQuality = 8500;
  // The JPEG quality of motion pictures.
  static constexpr int kPictureQuality = 75;
  static constexpr const char* kInnerPictureArchive = "ZippedJpg.zip";
  static constexpr const char* kMailAttachment = "Motion.zip";
  static constexpr const char* kMailSubject = "Motion detected";

  CameraMotionDetector(AppContext& context, CameraEntry& entry, CaptureDevice& device);
  // A detector for the named camera; device may be null (tests: no high
  // speed, recordings at 10 frames per second in the frame's own format).
  CameraMotionDetector(AppContext& context, const std::string& cameraName, CaptureDevice* device);
  // Stops the worker first; a recording still open is finished and kept, and
  // an alarm this camera still holds is released.
  ~CameraMotionDetector() override;

  // The program of the EXEC action has been started successfully in this
  // run (shared by every camera; EXEONCE stops further starts).
  static bool ProgramStarted();
  static void ResetProgramStarted();  // tests

  // State of the current motion series, for tests and diagnostics.
  const std::string& ArchiveName() const { return archiveName_; }
  const std::vector<std::string>& PictureFiles() const { return pictureFiles_; }
  std::string RecordingPath() const {
    return recorder_.IsRecording() ? recorder_.Path() : std::string();
  }

 protected:
  void OnMotion() override;
  void OnMotionEnd() override;
  // Keeps the frames before a motion period for its recording (PRECAPTURE).
  void OnFrameOutsideMotion() override;
  bool WantsEveryFrame() const override { return preCaptureWanted_.load(); }
  bool JpegSufficesBetweenChecks() const override { return preCaptureJpeg_.load(); }

 private:
  class JpegEncoder;

  bool SavePicture(const std::string& path);
  void RecordFrame(const Settings& s, const std::string& path, const std::string& timeText);
  void DiscardRecording();
  void Deliver(const Settings& s);

  AppContext& context_;
  CameraEntry* entry_ = nullptr;  // motion feedback for the windows, if known
  std::unique_ptr<JpegEncoder> jpeg_;
  MovieRecorder recorder_;
  BitmapInfoHeader recordingFormat_;
  bool savedHighSpeed_ = false;
  bool alarmHeld_ = false;  // this camera counts in the shared alarm
  // The recording of this period failed to start or was ended by a failed
  // write; the next period tries again. The path of one ended by a failed
  // write, finished at the period's end like a whole one.
  bool recordingFailed_ = false;
  std::string failedRecording_;
  std::string archiveName_;
  std::vector<std::string> pictureFiles_;
  // Pre-event buffer and the MQTT event of the current period.
  PreEventBuffer preBuffer_;
  std::atomic<bool> preCaptureWanted_{false};
  // The pre-event buffer keeps Motion JPEG: a camera's own JPEG is all it
  // needs of a frame.
  std::atomic<bool> preCaptureJpeg_{false};
  bool motionPublished_ = false;
  SystemTime motionStartTime_;
};

// "%04d-%02d-%02d-%02d-%02d-%02d-%03d" of a capture time: the time part of
// motion file and archive names.
std::string MotionTimeText(const SystemTime& t);

}  // namespace qmr
