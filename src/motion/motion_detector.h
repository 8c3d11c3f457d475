// A camera's motion detector: the zones and sensitivity that decide the
// verdict, on top of the worker thread and state machine of DetectorThread.
// The camera's reactions to motion (pictures, recording, alarm, delivery)
// come from a subclass that overrides OnMotion and OnMotionEnd.
//
// Zones are kept in picture coordinates as the user drew them (y from the top
// of the shown picture); frames are stored bottom-up, so a zone row y is
// examined in stored row height - 1 - y.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "motion/detector_thread.h"
#include "motion/zone.h"

namespace qmr {

class AppContext;
class CaptureDevice;
class IniFile;

class MotionDetector : public DetectorThread {
 public:
  static constexpr int kStepX = 2;
  static constexpr int kStepY = 2;
  static constexpr int kDefaultThreshold = 20;

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

  // Reads SENSIBLE_ZONES, MASK_ZONES, ZONE_SIZE and THRESHOLD of the
  // camera's section, when the section has keys.
  void LoadZoneSettings(const IniFile& ini);

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

 private:
  bool ZonesApply(int width, int height) const;
  bool DetectInZones(int width, int height);
  bool DetectWholePicture(int width, int height);
  void ZonesChanged() { zonesVersion_.fetch_add(1); }

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
};

}  // namespace qmr
