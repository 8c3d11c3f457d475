#include "dialogs/zone_canvas.h"

#include <wx/dcbuffer.h>
#include <wx/dcclient.h>
#include <wx/pen.h>

#include <algorithm>
#include <climits>
#include <cmath>

namespace qmr {

namespace {

wxColour ToColour(const Rgb& rgb) { return wxColour(rgb.red, rgb.green, rgb.blue); }

int Floor(double value) {
  return static_cast<int>(std::clamp(std::floor(value), -1e9, 1e9));
}

long long TruncatedDistance(double a, double b) {
  return static_cast<long long>(std::clamp(std::trunc(std::fabs(a - b)), 0.0, 1e15));
}

}  // namespace

ZoneCanvas::ZoneCanvas(wxWindow* parent, wxWindowID id, const wxImage& picture)
    : wxScrolledCanvas(parent, id, wxDefaultPosition, wxDefaultSize,
                       wxFULL_REPAINT_ON_RESIZE | wxBORDER_NONE),
      picture_(picture),
      pictureWidth_(picture.GetWidth()),
      pictureHeight_(picture.GetHeight()) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  SetVirtualSize(pictureWidth_, pictureHeight_);
  SetScrollRate(10, 10);
  Bind(wxEVT_PAINT, &ZoneCanvas::OnPaint, this);
  Bind(wxEVT_LEFT_DOWN, &ZoneCanvas::OnLeftDown, this);
  Bind(wxEVT_LEFT_DCLICK, &ZoneCanvas::OnLeftDown, this);
  Bind(wxEVT_MOTION, &ZoneCanvas::OnMotion, this);
  Bind(wxEVT_LEFT_UP, &ZoneCanvas::OnLeftUp, this);
  Bind(wxEVT_MOUSE_CAPTURE_LOST, &ZoneCanvas::OnCaptureLost, this);
}

ZoneCanvas::~ZoneCanvas() {
  if (HasCapture()) ReleaseMouse();
}

void ZoneCanvas::SetColours(const Rgb& sensible, const Rgb& mask, const Rgb& highlight) {
  sensibleColour_ = sensible;
  maskColour_ = mask;
  highlightColour_ = highlight;
  for (auto& zone : zones_) zone->SetColour(zone->IsMask() ? maskColour_ : sensibleColour_);
  Refresh();
}

void ZoneCanvas::AppendZone(std::unique_ptr<Zone> zone) {
  zone->owner = this;
  zone->SetColour(zone->IsMask() ? maskColour_ : sensibleColour_);
  zones_.push_back(std::move(zone));
  Refresh();
}

void ZoneCanvas::AddPendingZone(int kind) {
  Select(nullptr);
  if (pending_ != nullptr) {
    Zone* dropped = pending_;
    pending_ = nullptr;
    std::erase_if(zones_, [dropped](const std::unique_ptr<Zone>& z) { return z.get() == dropped; });
  }
  AppendZone(MakeZone(kind));
  Zone* zone = zones_.back().get();
  zone->MoveTo(0, 0);
  pending_ = zone;
  Select(zone);
}

bool ZoneCanvas::DeleteSelected() {
  if (selected_ == nullptr) return false;
  Zone* doomed = selected_;
  Select(nullptr);
  if (pending_ == doomed) pending_ = nullptr;
  if (dragZone_ == doomed) {
    dragZone_ = nullptr;
    dragMode_ = 0;
  }
  std::erase_if(zones_, [doomed](const std::unique_ptr<Zone>& z) { return z.get() == doomed; });
  Refresh();
  return true;
}

void ZoneCanvas::ClearZones() {
  Select(nullptr);
  pending_ = nullptr;
  dragZone_ = nullptr;
  dragMode_ = 0;
  zones_.clear();
  Refresh();
}

void ZoneCanvas::SelectIndex(int index) {
  Select(index >= 0 && index < static_cast<int>(zones_.size()) ? zones_[index].get() : nullptr);
}

void ZoneCanvas::Select(Zone* zone) {
  selected_ = zone;
  Refresh();
}

wxPoint ZoneCanvas::PicturePoint(const wxMouseEvent& event) const {
  return CalcUnscrolledPosition(event.GetPosition());
}

std::array<wxPoint, 8> ZoneCanvas::HandlePoints(const Zone& zone) const {
  const int l = Floor(zone.left), t = Floor(zone.top), r = Floor(zone.right),
            b = Floor(zone.bottom);
  const int mx = Floor((zone.left + zone.right) / 2), my = Floor((zone.top + zone.bottom) / 2);
  return {wxPoint(l, my), wxPoint(l, t), wxPoint(l, b), wxPoint(r, my),
          wxPoint(r, t),  wxPoint(r, b), wxPoint(mx, t), wxPoint(mx, b)};
}

int ZoneCanvas::HandleAt(const wxPoint& point) const {
  if (selected_ == nullptr) return -1;
  const auto points = HandlePoints(*selected_);
  const int half = kHandleSize / 2;
  for (int i = 0; i < 8; ++i) {
    if (std::abs(point.x - points[i].x) <= half && std::abs(point.y - points[i].y) <= half) {
      return i;
    }
  }
  return -1;
}

Zone* ZoneCanvas::ZoneAt(const wxPoint& point) const {
  Zone* best = nullptr;
  long long bestDistance = LLONG_MAX;
  const double x = point.x, y = point.y;
  for (const auto& zone : zones_) {
    if (!zone->Contains(x, y)) continue;
    const long long distance =
        std::min({TruncatedDistance(x, zone->left), TruncatedDistance(x, zone->right),
                  TruncatedDistance(y, zone->top), TruncatedDistance(y, zone->bottom)});
    if (distance < bestDistance) {
      bestDistance = distance;
      best = zone.get();
    }
  }
  return best;
}

void ZoneCanvas::Place(Zone& zone, const wxPoint& centre) {
  const double width = zone.right - zone.left;
  const double height = zone.bottom - zone.top;
  double left = centre.x - width / 2;
  double top = centre.y - height / 2;
  // Zones stay on the picture when they fit: only the picture is examined.
  if (width <= pictureWidth_) left = std::clamp(left, 0.0, pictureWidth_ - width);
  if (height <= pictureHeight_) top = std::clamp(top, 0.0, pictureHeight_ - height);
  zone.MoveTo(std::floor(left), std::floor(top));
}

void ZoneCanvas::Candidate(const wxPoint& point, double& left, double& top, double& right,
                           double& bottom) const {
  left = startLeft_;
  top = startTop_;
  right = startRight_;
  bottom = startBottom_;
  if (dragHandle_ < 0) {
    const double width = right - left;
    const double height = bottom - top;
    double newLeft = startLeft_ + (point.x - pressPoint_.x);
    double newTop = startTop_ + (point.y - pressPoint_.y);
    if (width <= pictureWidth_) newLeft = std::clamp(newLeft, 0.0, pictureWidth_ - width);
    if (height <= pictureHeight_) newTop = std::clamp(newTop, 0.0, pictureHeight_ - height);
    left = newLeft;
    top = newTop;
    right = newLeft + width;
    bottom = newTop + height;
    return;
  }
  const double px = std::clamp(point.x, 0, pictureWidth_);
  const double py = std::clamp(point.y, 0, pictureHeight_);
  const bool moveLeft = dragHandle_ == kLeftEdge || dragHandle_ == kTopLeft ||
                        dragHandle_ == kBottomLeft;
  const bool moveRight = dragHandle_ == kRightEdge || dragHandle_ == kTopRight ||
                         dragHandle_ == kBottomRight;
  const bool moveTop = dragHandle_ == kTopLeft || dragHandle_ == kTopRight ||
                       dragHandle_ == kTopEdge;
  const bool moveBottom = dragHandle_ == kBottomLeft || dragHandle_ == kBottomRight ||
                          dragHandle_ == kBottomEdge;
  if (moveLeft) left = std::min(px, startRight_ - kMinimumSize);
  if (moveRight) right = std::max(px, startLeft_ + kMinimumSize);
  if (moveTop) top = std::min(py, startBottom_ - kMinimumSize);
  if (moveBottom) bottom = std::max(py, startTop_ + kMinimumSize);
}

void ZoneCanvas::OnLeftDown(wxMouseEvent& event) {
  const wxPoint point = PicturePoint(event);
  SetFocus();
  if (pending_ != nullptr) {
    Zone* zone = pending_;
    pending_ = nullptr;
    Place(*zone, point);
    Select(zone);
    return;
  }
  dragHandle_ = HandleAt(point);
  dragZone_ = dragHandle_ >= 0 ? selected_ : ZoneAt(point);
  if (dragHandle_ < 0 && dragZone_ != nullptr && dragZone_ != selected_) Select(dragZone_);
  if (dragZone_ != nullptr) {
    startLeft_ = dragZone_->left;
    startTop_ = dragZone_->top;
    startRight_ = dragZone_->right;
    startBottom_ = dragZone_->bottom;
  }
  pressPoint_ = point;
  dragPoint_ = point;
  dragMode_ = 1;
  if (!HasCapture()) CaptureMouse();
}

void ZoneCanvas::OnMotion(wxMouseEvent& event) {
  if (dragMode_ == 0 || dragZone_ == nullptr || !event.LeftIsDown()) return;
  const wxPoint point = PicturePoint(event);
  if (dragMode_ == 1) {
    if (std::abs(point.x - pressPoint_.x) <= kDragThreshold &&
        std::abs(point.y - pressPoint_.y) <= kDragThreshold) {
      return;
    }
    dragMode_ = 2;
  }
  dragPoint_ = point;
  Refresh();
}

void ZoneCanvas::OnLeftUp(wxMouseEvent& event) {
  if (HasCapture()) ReleaseMouse();
  if (dragMode_ == 0) return;
  const wxPoint point = PicturePoint(event);
  if (dragMode_ == 2 && dragZone_ != nullptr) {
    double left, top, right, bottom;
    Candidate(point, left, top, right, bottom);
    dragZone_->left = left;
    dragZone_->top = top;
    dragZone_->right = right;
    dragZone_->bottom = bottom;
    Select(dragZone_);
  } else if (dragZone_ == nullptr) {
    // A click on empty picture clears the selection.
    Select(nullptr);
  }
  dragMode_ = 0;
  dragZone_ = nullptr;
  dragHandle_ = -1;
  Refresh();
}

void ZoneCanvas::OnCaptureLost(wxMouseCaptureLostEvent&) {
  dragMode_ = 0;
  dragZone_ = nullptr;
  dragHandle_ = -1;
  Refresh();
}

void ZoneCanvas::DrawZone(wxDC& dc, const Zone& zone, int mode) const {
  Rgb colour = zone.IsMask() ? maskColour_ : sensibleColour_;
  if (mode == 1) colour = highlightColour_;
  if (mode == 2) colour = Rgb{255, 255, 255};
  dc.SetPen(wxPen(ToColour(colour), std::max(1, zone.lineWidth), wxPENSTYLE_SOLID));
  dc.SetBrush(*wxTRANSPARENT_BRUSH);
  const int l = Floor(zone.left), t = Floor(zone.top);
  const int r = Floor(zone.right), b = Floor(zone.bottom);
  dc.DrawRectangle(l, t, r - l + 1, b - t + 1);
}

void ZoneCanvas::DrawHandles(wxDC& dc, const Zone& zone) const {
  dc.SetPen(wxPen(ToColour(highlightColour_), 1));
  dc.SetBrush(wxBrush(ToColour(highlightColour_)));
  const int half = kHandleSize / 2;
  for (const wxPoint& p : HandlePoints(zone)) {
    dc.DrawRectangle(p.x - half, p.y - half, kHandleSize, kHandleSize);
  }
}

void ZoneCanvas::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  DoPrepareDC(dc);
  dc.SetBackground(wxBrush(GetBackgroundColour()));
  dc.Clear();
  if (picture_.IsOk()) dc.DrawBitmap(picture_, 0, 0, false);
  for (const auto& zone : zones_) {
    if (zone.get() != selected_) DrawZone(dc, *zone, 0);
  }
  if (selected_ != nullptr) {
    DrawZone(dc, *selected_, 1);
    DrawHandles(dc, *selected_);
  }
  if (dragMode_ == 2 && dragZone_ != nullptr) {
    double left, top, right, bottom;
    Candidate(dragPoint_, left, top, right, bottom);
    dc.SetPen(wxPen(ToColour(highlightColour_), 1, wxPENSTYLE_DOT));
    dc.SetBrush(*wxTRANSPARENT_BRUSH);
    const int l = Floor(left), t = Floor(top);
    dc.DrawRectangle(l, t, Floor(right) - l + 1, Floor(bottom) - t + 1);
  }
}

}  // namespace qmr
