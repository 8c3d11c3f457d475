// The drawing window of the zone editor: the camera's picture at its own size
// with the zones drawn on it. The user adds zones and places them with a
// click, selects one (the zone whose nearest edge is closest to the pointer),
// moves it by dragging its inside and resizes it with its eight handles.
#pragma once

#include <wx/bitmap.h>
#include <wx/image.h>
#include <wx/scrolwin.h>

#include <array>

#include "config/settings.h"
#include "motion/zone.h"

namespace qmr {

class ZoneCanvas : public wxScrolledCanvas {
 public:
  // A drag starts only when the pointer moved further than this from the
  // press position, in x or in y.
  static constexpr int kDragThreshold = 3;
  // A resized zone never gets narrower or lower than this.
  static constexpr int kMinimumSize = 9;
  // Side of the square handles (odd, so a handle centres on its point).
  static constexpr int kHandleSize = 7;

  // Handle numbers.
  enum Handle {
    kLeftEdge = 0,
    kTopLeft = 1,
    kBottomLeft = 2,
    kRightEdge = 3,
    kTopRight = 4,
    kBottomRight = 5,
    kTopEdge = 6,
    kBottomEdge = 7,
  };

  ZoneCanvas(wxWindow* parent, wxWindowID id, const wxImage& picture);
  ~ZoneCanvas() override;

  int PictureWidth() const { return pictureWidth_; }
  int PictureHeight() const { return pictureHeight_; }

  void SetColours(const Rgb& sensible, const Rgb& mask, const Rgb& highlight);
  Rgb SensibleColour() const { return sensibleColour_; }
  Rgb MaskColour() const { return maskColour_; }
  Rgb HighlightColour() const { return highlightColour_; }

  // Appends an existing zone (initialisation); the canvas becomes its owner.
  void AppendZone(std::unique_ptr<Zone> zone);
  // Adds a new zone of the kind at (0, 0)-(50, 50), selected and waiting to
  // be placed by the next press. A zone still waiting is dropped first.
  void AddPendingZone(int kind);
  // Deletes the selected zone; false (nothing done) when none is selected.
  bool DeleteSelected();
  void ClearZones();

  const ZoneList& Zones() const { return zones_; }
  Zone* Selected() const { return selected_; }
  Zone* Pending() const { return pending_; }
  int DragMode() const { return dragMode_; }
  // Highlights the zone at index (none for an index out of range).
  void SelectIndex(int index);
  void Select(Zone* zone);

 private:
  void OnPaint(wxPaintEvent& event);
  void OnLeftDown(wxMouseEvent& event);
  void OnMotion(wxMouseEvent& event);
  void OnLeftUp(wxMouseEvent& event);
  void OnCaptureLost(wxMouseCaptureLostEvent& event);

  wxPoint PicturePoint(const wxMouseEvent& event) const;
  // The handle of the selected zone under point, or -1.
  int HandleAt(const wxPoint& point) const;
  // The zone under point whose nearest edge is closest; earlier wins ties.
  Zone* ZoneAt(const wxPoint& point) const;
  // The rectangle the current drag would give its target.
  void Candidate(const wxPoint& point, double& left, double& top, double& right,
                 double& bottom) const;
  void Place(Zone& zone, const wxPoint& centre);
  void DrawZone(wxDC& dc, const Zone& zone, int mode) const;
  void DrawHandles(wxDC& dc, const Zone& zone) const;
  std::array<wxPoint, 8> HandlePoints(const Zone& zone) const;

  wxBitmap picture_;
  int pictureWidth_ = 0;
  int pictureHeight_ = 0;
  ZoneList zones_;
  Rgb sensibleColour_{0, 255, 255};
  Rgb maskColour_{0, 255, 0};
  Rgb highlightColour_{255, 0, 255};

  Zone* selected_ = nullptr;
  Zone* pending_ = nullptr;
  // Drag state: 0 none, 1 pressed (on a target or on empty picture),
  // 2 dragging the target.
  int dragMode_ = 0;
  wxPoint pressPoint_;
  Zone* dragZone_ = nullptr;
  int dragHandle_ = -1;  // -1: the whole zone moves
  // The rectangle of the target when the press came.
  double startLeft_ = 0, startTop_ = 0, startRight_ = 0, startBottom_ = 0;
  wxPoint dragPoint_;
};

}  // namespace qmr
