#include "motion/motion_actions.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <mutex>

#include "base/app_context.h"
#include "base/process.h"
#include "capture/camera_entry.h"
#include "capture/capture_device.h"
#include "capture/jpeg_markers.h"
#include "capture/video_frame.h"
#include "config/settings.h"
#include "base/log_file.h"
#include "delivery/mail_message.h"
#include "delivery/transfer_queue.h"
#include "delivery/zip_packer.h"
#include "motion/alarm_sound.h"
#include "mqtt/mqtt_publisher.h"
#include "platform/program_launcher.h"
#include "storage/write_failure.h"

namespace qmr {

namespace {

std::atomic<bool> programStarted{false};

// "ZippedJpg.zip" and "Motion.zip" have fixed names in the program folder:
// two cameras ending their periods at the same moment take turns with them.
std::mutex& FixedNameMutex() {
  static std::mutex mutex;
  return mutex;
}

constexpr int kFallbackFrameRate = 10;

bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

void RemoveFile(const std::string& path) { std::remove(path.c_str()); }

bool CopyFile(const std::string& from, const std::string& to) {
  std::error_code ec;
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec);
  if (ec) {
    // No half-written copy stays behind.
    RemoveFile(to);
    LogFile::Write("The file " + to + " could not be written: " + ec.message());
  }
  return !ec;
}

bool WriteWholeFile(const std::string& path, const unsigned char* data, unsigned long size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    ReportWriteFailure("The picture " + path + " could not be written: " + ErrorText(errno));
    return false;
  }
  unsigned long done = 0;
  int error = 0;
  while (done < size) {
    ssize_t n = write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : ENOSPC;
      break;
    }
    done += static_cast<unsigned long>(n);
  }
  if (close(fd) != 0 && error == 0) error = errno;
  const bool ok = error == 0 && done == size;
  if (!ok) {
    RemoveFile(path);
    ReportWriteFailure("The picture " + path + " could not be written: " + ErrorText(error));
  }
  return ok;
}

}  // namespace

std::string MotionTimeText(const SystemTime& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d-%02d-%02d-%02d-%03d", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.milliseconds);
  return text;
}

// TurboJPEG compressor with one output buffer reused from picture to picture.
// It reads the bottom-up BGR frame as it is and writes the picture top-down.
class CameraMotionDetector::JpegEncoder {
 public:
  JpegEncoder() : handle_(tjInitCompress()) {}
  ~JpegEncoder() {
    if (buffer_ != nullptr) tjFree(buffer_);
    if (handle_ != nullptr) tjDestroy(handle_);
  }
  JpegEncoder(const JpegEncoder&) = delete;
  JpegEncoder& operator=(const JpegEncoder&) = delete;

  // Encodes width x height BGR pixels stored bottom-up; the result stays
  // valid until the next call.
  bool Encode(const std::uint8_t* bottomUp, int width, int height, const unsigned char** data,
              unsigned long* size) {
    if (handle_ == nullptr) return false;
    const unsigned long need = tjBufSize(width, height, TJSAMP_420);
    if (need == static_cast<unsigned long>(-1)) return false;
    if (capacity_ < need) {
      if (buffer_ != nullptr) tjFree(buffer_);
      buffer_ = tjAlloc(static_cast<int>(need));
      capacity_ = buffer_ != nullptr ? need : 0;
      if (buffer_ == nullptr) return false;
    }
    unsigned long jpegSize = capacity_;
    if (tjCompress2(handle_, bottomUp, width, width * 3, height, TJPF_BGR, &buffer_, &jpegSize,
                    TJSAMP_420, kPictureQuality, TJFLAG_BOTTOMUP | TJFLAG_NOREALLOC) != 0) {
      return false;
    }
    *data = buffer_;
    *size = jpegSize;
    return true;
  }

 private:
  tjhandle handle_;
  unsigned char* buffer_ = nullptr;
  unsigned long capacity_ = 0;
};

CameraMotionDetector::CameraMotionDetector(AppContext& context, CameraEntry& entry,
                                           CaptureDevice& device)
    : CameraMotionDetector(context, entry.name, &device) {
  entry_ = &entry;
}

CameraMotionDetector::CameraMotionDetector(AppContext& context, const std::string& cameraName,
                                           CaptureDevice* device)
    : MotionDetector(&context, cameraName),
      context_(context),
      jpeg_(std::make_unique<JpegEncoder>()) {
  if (device != nullptr) SetDevice(device);
}

CameraMotionDetector::~CameraMotionDetector() {
  SetRunning(false);
  // A period cut short by stopping the detector never reaches its end: the
  // alarm count this camera holds would keep the alarm sounding for ever.
  if (alarmHeld_) context_.Alarm().Stop();
  if (entry_ != nullptr) entry_->inMotion.store(false);
  recorder_.Stop();
  if (motionPublished_) {
    if (MqttPublisher* mqtt = context_.Mqtt()) {
      mqtt->MotionEnded(MotionEventInfo{CameraName(), motionStartTime_, GetLocalTime(), 0, "", ""});
    }
  }
}

bool CameraMotionDetector::ProgramStarted() { return programStarted.load(); }
void CameraMotionDetector::ResetProgramStarted() { programStarted.store(false); }

bool CameraMotionDetector::SavePicture(const std::string& path) {
  const VideoFrame& frame = CurrentFrame();
  const int width = frame.Width();
  const int height = frame.Height();
  if (frame.Empty() || frame.header.bitCount != 24 ||
      static_cast<std::int64_t>(frame.pixels.Length()) <
          static_cast<std::int64_t>(width) * 3 * height) {
    return false;
  }
  // The camera's own JPEG of this very picture is saved instead of
  // compressing the picture again (during a motion period that would be
  // every frame). Camera Motion JPEG usually leaves out the standard Huffman
  // tables, which only video players make up for: they are put back in.
  bool tables = false;
  if (IsBaselineJpegOfSize(frame.jpeg.data(), frame.jpeg.size(), width, height, &tables)) {
    if (tables) return WriteWholeFile(path, frame.jpeg.data(), frame.jpeg.size());
    std::vector<std::uint8_t> whole;
    if (WithStandardHuffmanTables(frame.jpeg.data(), frame.jpeg.size(), whole)) {
      return WriteWholeFile(path, whole.data(), whole.size());
    }
  }
  const unsigned char* data = nullptr;
  unsigned long size = 0;
  if (!jpeg_->Encode(frame.pixels.Data(), width, height, &data, &size)) return false;
  return WriteWholeFile(path, data, size);
}

void CameraMotionDetector::RecordFrame(const Settings& s, const std::string& path,
                                       const std::string& timeText) {
  const VideoFrame& frame = CurrentFrame();
  if (frame.Empty() || recordingFailed_) return;
  if (!recorder_.IsRecording()) {
    // The compressor takes the format of the frames it is given; the rate
    // and bit rate come from the camera.
    int rate = kFallbackFrameRate;
    int bitRate = 0;
    if (CaptureDevice* device = Device()) {
      BitmapInfoHeader deviceFormat;
      if (!device->GetFormat(deviceFormat, rate, &bitRate)) return;
    }
    BitmapInfoHeader format = MakeRgb24Header(frame.Width(), frame.Height());
    if (!recorder_.Start(path, s.fccHandler, kRecordingQuality, format, rate > 0 ? rate : 1,
                         bitRate)) {
      // Once a period, not at every check.
      recordingFailed_ = true;
      LogFile::Write("The motion recording " + path +
                     " could not be started: " + recorder_.Message());
      return;
    }
    recordingFormat_ = format;
    // The seconds before the motion go first, each frame with its own stamp.
    if (preBuffer_.Frames() > 0 && preBuffer_.Handler() == s.fccHandler &&
        preBuffer_.Format().width == format.width && preBuffer_.Format().height == format.height) {
      preBuffer_.WriteTo(recorder_);
    }
    preBuffer_.Clear();
  }
  // A frame of another size (the format was changed) cannot go into this
  // recording; it is left out rather than read past its end.
  if (frame.Width() != recordingFormat_.width || frame.Height() != recordingFormat_.height ||
      frame.pixels.Length() < static_cast<std::int32_t>(recordingFormat_.sizeImage)) {
    return;
  }
  // A Motion JPEG camera's own picture goes in as it is: no second
  // compression, and no second loss of detail.
  const bool asSent = !frame.jpeg.empty() && recorder_.Handler() == MakeFourCC("MJPG");
  const bool written =
      asSent ? recorder_.WriteCompressedFrame(frame.jpeg.data(),
                                              static_cast<std::int32_t>(frame.jpeg.size()), true,
                                              timeText)
             : recorder_.WriteFrame(frame.pixels.Data(), timeText);
  if (!written && recorder_.Failed() == MovieRecorder::Failure::kWrite) {
    recordingFailed_ = true;
    failedRecording_ = recorder_.Path();
    const std::string message = recorder_.Message();
    ReportWriteFailure(message, message);
  }
}

void CameraMotionDetector::DiscardRecording() {
  if (recorder_.IsRecording()) recorder_.Discard();
}

void CameraMotionDetector::OnMotion() {
  const Settings s = context_.Settings().Get();
  const bool begins = MotionBegins();
  const std::string timeText = MotionTimeText(CurrentFrame().captureTime);
  const bool picturesWanted = s.savPic || s.ftpPic || s.mailPic;
  const bool recordingWanted = s.savAvi || s.ftpAvi || s.mailAvi;
  if (entry_ != nullptr && begins) {
    entry_->lastMotionTime.store(static_cast<long long>(std::time(nullptr)));
    entry_->inMotion.store(true);
  }

  // Alarm: looping until the last camera's period ends, or once.
  if (s.alarm && begins) {
    AlarmSound& alarm = context_.Alarm();
    if (alarmHeld_) {
      // The previous period was cut short; give back its count first.
      alarm.Stop();
      alarmHeld_ = false;
    }
    alarm.Start(s.sndRepeat);
    alarmHeld_ = s.sndRepeat;
  }

  // High speed for the length of the period.
  CaptureDevice* device = Device();
  if (begins && device != nullptr) {
    savedHighSpeed_ = device->highSpeed.load();
    if (!savedHighSpeed_ && s.hiSpeed) device->highSpeed.store(true);
  }

  if (begins) {
    pictureFiles_.clear();
    recordingFailed_ = false;
  }
  if (picturesWanted || recordingWanted) {
    // Named at the first check that has something to keep, normally the one
    // that began the period.
    if (archiveName_.empty()) archiveName_ = "Motion-" + timeText + ".zip";

    // An empty folder setting would put files at the root of the disk.
    if (picturesWanted && !s.picDir.empty()) {
      if (pictureFiles_.empty()) CreateFolderPath(s.picDir);
      const std::string picture = s.picDir + "/Motion-" + CameraName() + " " + timeText + ".jpg";
      if (SavePicture(picture)) pictureFiles_.push_back(picture);
    }
    if (recordingWanted && s.fccHandler != 0 && !s.aviDir.empty()) {
      if (!recorder_.IsRecording()) CreateFolderPath(s.aviDir);
      RecordFrame(s, s.aviDir + "/Motion-" + CameraName() + " " + timeText + ".avi", timeText);
    } else {
      DiscardRecording();
    }
  } else {
    DiscardRecording();
  }

  if (begins) {
    preBuffer_.Clear();
    motionStartTime_ = CurrentFrame().captureTime;
    motionPublished_ = true;
    if (MqttPublisher* mqtt = context_.Mqtt()) mqtt->MotionStarted(CameraName());
  }

  if (s.exec && !(programStarted.load() && s.exeOnce)) {
    programStarted.store(ProgramLauncher::Start(s.exeFile, s.exeParam));
  }

  if (begins) ClearMotionBegins();
}

void CameraMotionDetector::OnMotionEnd() {
  if (entry_ != nullptr) entry_->inMotion.store(false);
  const Settings s = context_.Settings().Get();
  const bool picturesWanted = s.savPic || s.ftpPic || s.mailPic;
  const std::string programFolder = ApplicationFolder();

  if (alarmHeld_) {
    context_.Alarm().Stop();
    alarmHeld_ = false;
  }
  if (CaptureDevice* device = Device()) {
    if (s.hiSpeed && !savedHighSpeed_) device->highSpeed.store(false);
  }

  std::string keptRecording;
  std::string keptArchive;
  if (recorder_.IsRecording() || !failedRecording_.empty()) {
    const std::string recording = recorder_.IsRecording() ? recorder_.Path() : failedRecording_;
    if (s.savAvi) keptRecording = recording;
    recorder_.Stop();
    failedRecording_.clear();
    if ((s.mailAvi || s.ftpAvi) && !archiveName_.empty()) {
      ZipPacker packer;
      packer.SetArchive(programFolder + "/", archiveName_);
      packer.AddFile(recording);
      packer.Pack(false);
    }
    if (!s.savAvi) RemoveFile(recording);
  }

  if (picturesWanted && !pictureFiles_.empty() && !archiveName_.empty()) {
    const std::string pictureArchive = s.picDir + "/" + archiveName_;
    ZipPacker packer;
    packer.SetArchive(s.picDir, archiveName_);
    for (const auto& file : pictureFiles_) packer.AddFile(file);
    // The JPG files go only once they are safely inside the archive.
    const bool packed = packer.Pack(true);
    if (packed && s.savPic) keptArchive = pictureArchive;
    if (packed && (s.ftpPic || s.mailPic)) {
      std::lock_guard<std::mutex> lock(FixedNameMutex());
      const std::string inner = programFolder + "/" + kInnerPictureArchive;
      if (CopyFile(pictureArchive, inner)) {
        ZipPacker outer;
        outer.SetArchive(programFolder + "/", archiveName_);
        outer.AddFile(inner);
        const bool delivered = outer.Pack(false);
        RemoveFile(inner);
        if (delivered && !s.savPic) RemoveFile(pictureArchive);
      }
    }
  }

  Deliver(s);

  if (MqttPublisher* mqtt = context_.Mqtt(); mqtt != nullptr && motionPublished_) {
    mqtt->MotionEnded(MotionEventInfo{CameraName(), motionStartTime_, CurrentFrame().captureTime,
                                      static_cast<int>(pictureFiles_.size()), keptRecording,
                                      keptArchive});
  }
  motionPublished_ = false;
}

void CameraMotionDetector::OnFrameOutsideMotion() {
  // Called for every frame: only the values needed are read.
  struct Wanted {
    int seconds;
    std::uint32_t handler;
    bool wanted;
  };
  const Wanted s = context_.Settings().Read([](const Settings& all) {
    return Wanted{all.preCapture, all.fccHandler,
                  all.preCapture > 0 && (all.savAvi || all.ftpAvi || all.mailAvi) &&
                      all.fccHandler != 0 && !all.aviDir.empty()};
  });
  preCaptureWanted_ = s.wanted;
  const VideoFrame& frame = CurrentFrame();
  // Between checks a frame may bring only the camera's JPEG.
  const bool picture = frame.header.width > 0 && frame.header.height != 0 &&
                       (frame.pixels.Length() > 0 || !frame.jpeg.empty());
  if (!s.wanted || !picture || frame.header.bitCount != 24) {
    preCaptureJpeg_ = false;
    preBuffer_.Clear();
    return;
  }
  const bool ready = preBuffer_.Configure(s.seconds, s.handler, kRecordingQuality,
                                          MakeRgb24Header(frame.Width(), frame.Height()));
  // A buffer that keeps Motion JPEG needs nothing of later frames but their
  // JPEG.
  preCaptureJpeg_ = ready && preBuffer_.Compressed();
  if (!ready) return;
  preBuffer_.Add(frame.pixels.Data(), static_cast<std::size_t>(frame.pixels.Length()),
                 CaptureTimeMs(frame.captureTime), MotionTimeText(frame.captureTime),
                 frame.jpeg.empty() ? nullptr : frame.jpeg.data(), frame.jpeg.size());
}

void CameraMotionDetector::Deliver(const Settings& s) {
  const bool mailWanted = s.mailPic || s.mailAvi;
  const bool uploadWanted = s.ftpPic || s.ftpAvi;
  const std::string programFolder = ApplicationFolder();
  const std::string name = archiveName_;
  archiveName_.clear();
  if (name.empty()) return;
  const std::string delivery = programFolder + "/" + name;
  if (!FileExists(delivery)) return;
  if (!mailWanted && !uploadWanted) {
    RemoveFile(delivery);
    return;
  }

  // The mail is composed before the upload is queued: the transfer thread
  // deletes the delivery archive once it has uploaded it. The attachment
  // "Motion.zip" is a fresh copy of this event's archive; the message holds
  // its bytes, so the copy goes at once.
  std::unique_ptr<MailMessage> mail;
  if (mailWanted) {
    std::lock_guard<std::mutex> lock(FixedNameMutex());
    const std::string attachment = programFolder + "/" + kMailAttachment;
    if (CopyFile(delivery, attachment)) {
      mail = std::make_unique<MailMessage>();
      mail->sender = s.mailFrom;
      mail->AddRecipient(s.mailTo);
      mail->subject = kMailSubject;
      mail->body = "Dear sir,\n\tQuelmar Video Capture detected motion on camera " + CameraName() +
                   ",please see the attachment for the details.";
      mail->AddAttachment(attachment);
      if (!mail->Compose()) mail.reset();
      RemoveFile(attachment);
    }
  }

  // Without a transfer thread the event waits in the spool for the next
  // start instead of staying in the program folder for ever.
  TransferQueue& transfer = context_.Transfer();
  if (uploadWanted) {
    if (!transfer.PostUploadJob(delivery, name)) {
      LogFile::Write("The transfer thread is not running; " + delivery + " is not uploaded.");
      transfer.SpoolUpload(delivery, name);
    }
  } else {
    RemoveFile(delivery);
  }
  if (mail && !transfer.IsRunning()) {
    LogFile::Write("The transfer thread is not running; the motion mail is not sent.");
    transfer.SpoolMail(*mail);
  } else if (mail && !transfer.PostMailJob(std::move(mail))) {
    LogFile::Write("The transfer thread is not running; the motion mail is not sent.");
  }
}

}  // namespace qmr
