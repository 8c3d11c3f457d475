// A camera's motion detector: the zones and sensitivity that decide the
// verdict, on top of the worker thread and state machine of DetectorThread.
// The camera's reactions to motion (pictures, recording, alarm, delivery)
// come from a subclass that overrides OnMotion and OnMotionEnd.
//
// Zones are kept in picture coordinates as the user drew them (y from the top
// of the shown picture); frames are stored bottom-up, so a zone row y is
// examined in stored row height - 1 - y.
//
// What a frame is compared with (the camera's REFERENCE setting):
//   previous check: the frame judged at the check before. A slow object
//     changes only thin strips at its edges between two checks, so the
//     faster the checks follow each other, the less of it is seen.
//   background: a picture of the scene without what moves in it, kept in
//     the reference frame's buffer and updated in place at every check.
//     Each byte follows the camera by at most kBackgroundQuietLevelsPerSecond
//     where it differs from the background by 16 levels or less (noise,
//     drifting light), and by at most kBackgroundChangedLevelsPerSecond where
//     it differs more: an object that passes keeps standing out, and one
//     that stops becomes background within kBackgroundSettleSeconds.
// A light change (LIGHTSWITCH: at least that percentage of the watched
// samples changed at once) is not motion: the reference is taken afresh.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "motion/detector_thread.h"
#include "motion/zone.h"

namespace qmr {

class AppContext;
class CaptureDevice;
class IniFile;
struct MotionScan;

class MotionDetector : public DetectorThread {
 public:
  static constexpr int kStepX = 2;
  static constexpr int kStepY = 2;
  static constexpr int kDefaultThreshold = 20;

  enum Reference { kPreviousCheck = 0, kBackground = 1 };
  // Slow enough that the background settles on the middle of the sensor's
  // noise rather than on the last noisy frame.
  static constexpr int kBackgroundQuietLevelsPerSecond = 16;
  static constexpr int kBackgroundChangedLevelsPerSecond = 48;
  // The longest any still change stands out from the background: (255 - 16)
  // / 48 s to come within 16 levels, then at most 16 / 16 s more.
  static constexpr int kBackgroundSettleSeconds = 6;
  // A light change is written to the log at most once in this time.
  static constexpr std::uint32_t kLightLogIntervalMs = 60000;

  // context gives the settings (the minimum motion time is MOTION's
  // DURATION); it may be null in tests. cameraName is the camera's settings
  // section name.
  explicit MotionDetector(AppContext* context = nullptr, std::string cameraName = {});
  ~MotionDetector() override;

  AppContext* Context() const { return context_; }
  const std::string& CameraName() const { return cameraName_; }

  // The capture device whose frames are judged and whose modes the actions
  // switch; also becomes the frame source. Not owned; set while stopped.
  void SetDevice(CaptureDevice* device);
  CaptureDevice* Device() const { return device_; }

  // Reads SENSIBLE_ZONES, MASK_ZONES, ZONE_SIZE, THRESHOLD and REFERENCE of
  // the camera's section. REFERENCE missing: the previous check when the
  // section holds a THRESHOLD (a sensitivity set on that comparison),
  // otherwise (a new camera) the background.
  void LoadZoneSettings(const IniFile& ini);

  // kPreviousCheck or kBackground (anything else is kPreviousCheck). The
  // next check starts a new reference.
  void SetReference(int reference);
  int GetReference() const { return reference_.load(); }
  // The LIGHTSWITCH percentage, asked for at every check (0 = off). Without
  // a source (and no context) the guard is off.
  void SetLightSwitchSource(std::function<int()> source);
  // Checks that were judged a light change since construction.
  int LightChangesIgnored() const { return lightChanges_.load(); }

  // Appends the zones of one settings value (the text form of ParseZoneList).
  void LoadZones(const std::string& text, bool isMask);
  // Stops the thread, then replaces every zone by copies of the given ones.
  void SetZones(const ZoneList& sensible, const ZoneList& mask);
  // Appends copies of the zones to the two lists.
  void GetZones(ZoneList& sensibleOut, ZoneList& maskOut) const;
  // Stops the thread and deletes every zone. Nothing restarts the thread.
  void ClearZones();
  // The size of the picture the zones were drawn on; zones apply only to
  // frames of exactly this size.
  void SetZoneSize(int width, int height);
  int ZoneWidth() const { return zoneWidth_.load(); }
  int ZoneHeight() const { return zoneHeight_.load(); }

  // Sets the trigger count: threshold percent of the sampled pixels of the
  // examined area of a width x height frame.
  void ComputeTriggerCount(int width, int height);
  int TriggerCount() const { return triggerCount_.load(); }

  // The stored pixel (x, stored row y) differs between the current and the
  // reference frame. Unchanged when either frame is empty or the point lies
  // outside it.
  bool IsPixelChanged(int x, int y) const;

  // Motion when at least the trigger count of the sampled pixels inside the
  // zones (or the whole picture) changed since the reference frame. Makes
  // the current frame the reference, without motion, when there is none yet
  // or the picture format changed.
  bool Detect() override;

 protected:
  // Previous check: the judged frame becomes the reference. Background:
  // nothing, Detect has updated it.
  void UpdateReference() override;

 private:
  bool ZonesApply(int width, int height) const;
  void DetectInZones(int width, int height, MotionScan& scan);
  void DetectWholePicture(int width, int height, MotionScan& scan);
  void ZonesChanged() {
    zonesVersion_.fetch_add(1);
    restartReference_ = true;
  }
  int LightSwitchPercent() const;
  // How far the background may move at this check, from the time since the
  // last one.
  void BackgroundSteps(int& quietStep, int& changedStep);
  void LightChange();

  AppContext* context_;
  std::string cameraName_;
  CaptureDevice* device_ = nullptr;

  // Replaced only while the thread is stopped.
  // Guards the zone lists: the editor and the settings change them on the
  // user-interface thread while the worker may be judging a frame.
  mutable std::mutex zonesMutex_;
  ZoneList sensibleZones_;
  ZoneList maskZones_;
  std::atomic<int> zoneWidth_{0};
  std::atomic<int> zoneHeight_{0};
  std::atomic<int> triggerCount_{0};
  // What the trigger count was computed for; it is computed again when the
  // zones, the zone size, the threshold or the frame size change.
  std::atomic<unsigned> zonesVersion_{0};
  unsigned triggerVersion_ = ~0u;
  int triggerThreshold_ = -1;
  int triggerWidth_ = -1;
  int triggerHeight_ = -1;
  int triggerLight_ = -1;
  // Changed samples that make a light change; 0 when the guard is off.
  long long lightTrigger_ = 0;

  std::atomic<int> reference_{kPreviousCheck};
  // Set when the reference no longer fits the zones or the comparison; the
  // next check takes the current frame as the new reference.
  std::atomic<bool> restartReference_{false};
  std::function<int()> lightSwitch_;
  std::atomic<int> lightChanges_{0};
  bool lightLogged_ = false;
  std::uint32_t lastLightLog_ = 0;
  // Background pacing: the tick of the last check and the parts of a level
  // (in thousandths) carried to the next.
  bool haveStepTime_ = false;
  std::uint32_t lastStepTime_ = 0;
  long long quietCarry_ = 0;
  long long changedCarry_ = 0;
};

}  // namespace qmr
