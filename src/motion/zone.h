// One zone rectangle of a camera: a sensible zone, whose pixels the detector
// examines, or a mask zone, a hole cut out of a sensible zone. Coordinates are
// pixels of the picture as the user sees it: x from the left edge, y from the
// top edge; they hold whole values in doubles.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "config/settings.h"

namespace qmr {

class ZoneCanvas;  // the editor's drawing window; only the editor uses it

enum ZoneKind : int {
  kSensibleZoneKind = 2,
  kMaskZoneKind = 3,
};

class Zone {
 public:
  explicit Zone(int kind) : kind(kind) {}
  virtual ~Zone() = default;

  // Inclusive at both ends.
  virtual bool Contains(double x, double y) const {
    return left <= x && x <= right && top <= y && y <= bottom;
  }
  // Moves the rectangle, keeping its width and height.
  virtual void MoveTo(double newLeft, double newTop);
  virtual void SetColour(const Rgb& newColour) { colour = newColour; }
  // An independent zone of the same kind, rectangle and owner; the colour is
  // left at its default because the owner supplies the drawing colours.
  virtual std::unique_ptr<Zone> Copy() const;

  bool IsSensible() const { return kind == kSensibleZoneKind; }
  bool IsMask() const { return kind == kMaskZoneKind; }

  int kind;
  int lineWidth = 1;
  double left = 0;
  double top = 0;
  double right = 50;
  double bottom = 50;
  Rgb colour;
  ZoneCanvas* owner = nullptr;
};

class SensibleZone : public Zone {
 public:
  SensibleZone() : Zone(kSensibleZoneKind) {}
  SensibleZone(double l, double t, double r, double b);
};

class MaskZone : public Zone {
 public:
  MaskZone() : Zone(kMaskZoneKind) {}
  MaskZone(double l, double t, double r, double b);
};

using ZoneList = std::vector<std::unique_ptr<Zone>>;

// A new zone of the given kind with the default rectangle (0, 0)-(50, 50).
std::unique_ptr<Zone> MakeZone(int kind);

// a lies inside b, edges included.
bool IsInside(const Zone& a, const Zone& b);
// a and b overlap or touch (a shared edge or corner counts).
bool Intersects(const Zone& a, const Zone& b);

// Reads a zone list "l,t,r,b$l,t,r,b..." and appends a sensible (isMask
// false) or mask zone for every piece of exactly four fields; other pieces
// are skipped. Fields are read like atoi.
void ParseZoneList(const std::string& text, bool isMask, ZoneList& out);
// The text form of a list: "%d,%d,%d,%d" per zone (truncated toward zero),
// joined by "$"; empty for no zones.
std::string FormatZoneList(const ZoneList& zones);

// Appends an independent copy of every zone of from to to.
void CopyZones(const ZoneList& from, ZoneList& to);

}  // namespace qmr
