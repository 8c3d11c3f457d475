// What the capture device needs to know about its camera's motion detector:
// whether it runs (then every frame is stored for it), and whether it wants
// the frames' pixels just now. The detector derives
// from this so that capture does not depend on motion.
#pragma once

namespace qmr {

class DetectorState {
 public:
  virtual ~DetectorState() = default;
  virtual bool IsRunning() const = 0;
  // Whether the frames arriving now should carry their whole pixels. A
  // detector that judges only some frames answers false between its checks,
  // and the camera may then keep just the camera's JPEG of a frame (it is
  // decoded for the detector should it ask for the pixels after all).
  virtual bool WantsPixels() const { return true; }
};

}  // namespace qmr
