// What the capture device needs to know about its camera's motion detector:
// whether it runs (then every frame is stored for it). The detector derives
// from this so that capture does not depend on motion.
#pragma once

namespace qmr {

class DetectorState {
 public:
  virtual ~DetectorState() = default;
  virtual bool IsRunning() const = 0;
};

}  // namespace qmr
