#include "camera/preview_pane.h"

#include <cairo.h>
#include <dlfcn.h>
#include <wx/dcclient.h>
#include <wx/graphics.h>
#include <wx/toplevel.h>
#include <wx/utils.h>

#include <algorithm>
#include <cmath>

#include "base/log_file.h"
#include "camera/direct_presenter.h"
#include "capture/capture_device.h"

namespace qmr {

namespace {

// Gives the pane its own X window. Otherwise the toolkit draws the pane as
// part of its parent, and every new frame makes the parent repaint its whole
// decoration (pane captions, borders, their style look-ups), which costs
// more than the picture itself. The call is looked up at run time so that
// nothing more than the toolkit's own libraries is linked; without it the
// pane still works, only dearer.
void MakeNativeWindow(wxWindow& window) {
#ifdef __WXGTK3__
  using EnsureNative = void (*)(GdkWindow*);
  static const auto ensureNative =
      reinterpret_cast<EnsureNative>(dlsym(RTLD_DEFAULT, "gdk_window_ensure_native"));
  if (GdkWindow* w = window.GTKGetDrawingWindow(); w != nullptr && ensureNative != nullptr) {
    ensureNative(w);
  }
#else
  (void)window;
#endif
}

// The X window id of the pane's own window and the name of its display;
// false when the pane is not on an X11 display. Looked up at run time like
// the call above.
bool X11Window(wxWindow& window, std::uint32_t& id, std::string& display) {
#ifdef __WXGTK3__
  if (wxGetDisplayInfo().type != wxDisplayX11) return false;
  using GetXid = unsigned long (*)(GdkWindow*);
  using GetDisplay = void* (*)(GdkWindow*);
  using GetName = const char* (*)(void*);
  static const auto getXid =
      reinterpret_cast<GetXid>(dlsym(RTLD_DEFAULT, "gdk_x11_window_get_xid"));
  static const auto getDisplay =
      reinterpret_cast<GetDisplay>(dlsym(RTLD_DEFAULT, "gdk_window_get_display"));
  static const auto getName =
      reinterpret_cast<GetName>(dlsym(RTLD_DEFAULT, "gdk_display_get_name"));
  GdkWindow* w = window.GTKGetDrawingWindow();
  if (w == nullptr || getXid == nullptr || getDisplay == nullptr || getName == nullptr) {
    return false;
  }
  void* gdkDisplay = getDisplay(w);
  const char* name = gdkDisplay != nullptr ? getName(gdkDisplay) : nullptr;
  if (name == nullptr) return false;
  id = static_cast<std::uint32_t>(getXid(w));
  display = name;
  return id != 0;
#else
  (void)window;
  (void)id;
  (void)display;
  return false;
#endif
}

// Waits until the X server has every request the toolkit sent so far: a
// window made a moment ago may exist only in them, and another connection
// must find it on the server.
void SyncWithServer(wxWindow& window) {
#ifdef __WXGTK3__
  using GetDisplay = void* (*)(GdkWindow*);
  using Sync = void (*)(void*);
  static const auto getDisplay =
      reinterpret_cast<GetDisplay>(dlsym(RTLD_DEFAULT, "gdk_window_get_display"));
  static const auto sync = reinterpret_cast<Sync>(dlsym(RTLD_DEFAULT, "gdk_display_sync"));
  GdkWindow* w = window.GTKGetDrawingWindow();
  if (w != nullptr && getDisplay != nullptr && sync != nullptr) sync(getDisplay(w));
#else
  (void)window;
#endif
}

// The time stamp at the top left of the picture area: fixed-pitch text
// sized with the picture (15 px on a 240-row picture), on a translucent dark
// box so that it reads on bright and dark scenes.
void DrawStamp(cairo_t* cr, const PictureRect& area, const std::string& text, const Rgb& colour) {
  const double size = std::clamp(area.height / 16.0, 9.0, 48.0);
  cairo_select_font_face(cr, "monospace", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  cairo_set_font_size(cr, size);
  cairo_font_extents_t font;
  cairo_font_extents(cr, &font);
  cairo_text_extents_t extents;
  cairo_text_extents(cr, text.c_str(), &extents);
  const double pad = std::max(1.0, size / 6.0);
  cairo_rectangle(cr, area.x, area.y, std::min<double>(extents.x_advance + 2 * pad, area.width),
                  std::min<double>(font.ascent + font.descent + 2 * pad, area.height));
  cairo_set_source_rgba(cr, 0.0, 0.0, 0.0, 0.55);
  cairo_fill(cr);
  cairo_move_to(cr, area.x + pad, area.y + pad + font.ascent);
  cairo_set_source_rgb(cr, colour.red / 255.0, colour.green / 255.0, colour.blue / 255.0);
  cairo_show_text(cr, text.c_str());
}

// While the camera's thread presents the pictures itself, the pane looks
// this often whether it was hidden (the pictures may then be decoded as
// small as wanted) or its window stopped working. Showing it again paints
// it, which says so at once.
constexpr int kWatchMs = 1000;

}  // namespace

void PreviewPane::SurfaceFree::operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }

PreviewPane::PreviewPane(wxWindow* parent)
    : wxWindow(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxFULL_REPAINT_ON_RESIZE),
      refreshPending_(std::make_shared<std::atomic<bool>>(false)) {
  // Every paint covers the whole update area (picture and bars), so no
  // background erase.
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  SetBackgroundColour(*wxBLACK);
  Bind(wxEVT_PAINT, &PreviewPane::OnPaint, this);
  Bind(wxEVT_SIZE, &PreviewPane::OnSize, this);
  watch_.SetOwner(this);
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) { Watch(); }, watch_.GetId());
}

PreviewPane::~PreviewPane() { Detach(); }

std::uint64_t PreviewPane::PaintedFrames() const {
  return paintedFrames_ + presentedBefore_ + (direct_ ? direct_->Presented() : 0);
}

std::string PreviewPane::LastStamp() const {
  std::string stamp = frame_.stampText;
  if (direct_) {
    direct_->WithLastPicture(
        [&](std::uint8_t*, int, int, const std::string& shown) { stamp = shown; });
  }
  return stamp;
}

std::uint64_t PreviewPane::SurfacesMade() const {
  return surfacesMade_ + segmentsBefore_ + (direct_ ? direct_->SegmentsMade() : 0);
}

bool PreviewPane::Attach(CaptureDevice& device) {
  Detach();
  renderer_ = &device.Preview();
  const wxSize client = GetClientSize();
  renderer_->SetPaneSize(client.x, client.y);
  // The callback owns a reference to the flag, so it stays valid even if a
  // callback is still on its way when the pane goes (Detach waits for the
  // renderer, and wx drops the queued call together with the window).
  auto pending = refreshPending_;
  return device.AttachWindow([this, pending] {
    if (pending->exchange(true)) return;
    CallAfter([this] {
      refreshPending_->store(false);
      FrameWaiting();
    });
  });
}

void PreviewPane::Detach() {
  if (renderer_ == nullptr) return;
  StopDirect();
  renderer_->SetNotify({});
  renderer_ = nullptr;
}

void PreviewPane::StartDirect() {
  std::uint32_t window = 0;
  std::string display;
  if (direct_ || renderer_ == nullptr || !nativeWindow_ || !outlines_.empty() ||
      !X11Window(*this, window, display) || window == refusedWindow_) {
    return;
  }
  SyncWithServer(*this);
  PreviewRenderer* renderer = renderer_;
  // Runs on the frame thread while the presenter is the renderer's output,
  // which ends (SetOutput) before renderer_ is let go.
  auto overlay = [renderer](std::uint8_t* pixels, int width, int height, const std::string& stamp) {
    if (!renderer->ShowTimeStamp() || stamp.empty()) return;
    // Drawn as 32-bit colour with alpha so that the fourth byte stays
    // opaque (some windows take it as alpha).
    cairo_surface_t* surface = cairo_image_surface_create_for_data(pixels, CAIRO_FORMAT_ARGB32,
                                                                   width, height, width * 4);
    cairo_t* cr = cairo_create(surface);
    DrawStamp(cr, PictureRect{0, 0, width, height}, stamp, renderer->TextColour());
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
  };
  std::string why;
  direct_ = DirectPresenter::Open(display, window, overlay, why);
  if (!direct_) {
    refusedWindow_ = window;
    LogFile::Writef("Preview drawn through the toolkit: %s", why.c_str());
    return;
  }
  renderer_->SetOutput(direct_.get());
  watch_.Start(kWatchMs);
}

void PreviewPane::StopDirect() {
  watch_.Stop();
  if (!direct_) return;
  if (renderer_ != nullptr) renderer_->SetOutput(nullptr);
  // Its last picture (with its stamp) is what the toolkit paints until the
  // next frame comes.
  direct_->WithLastPicture([&](std::uint8_t* pixels, int width, int height,
                               const std::string& stamp) {
    const std::size_t size = static_cast<std::size_t>(width) * 4 * height;
    frame_.pixels.assign(pixels, pixels + size);
    frame_.width = width;
    frame_.height = height;
    frame_.stampText = stamp;
    frameStamped_ = true;
  });
  presentedBefore_ += direct_->Presented();
  segmentsBefore_ += direct_->SegmentsMade();
  direct_.reset();
  Refresh(false);
}

void PreviewPane::Watch() {
  if (!direct_ || renderer_ == nullptr) {
    watch_.Stop();
    return;
  }
  const wxTopLevelWindow* top = dynamic_cast<wxTopLevelWindow*>(wxGetTopLevelParent(this));
  renderer_->SetVisible(IsShownOnScreen() && (top == nullptr || !top->IsIconized()));
  std::uint32_t window = 0;
  std::string display;
  const bool same = X11Window(*this, window, display) && window == direct_->Window();
  if (direct_->Failed() || !same) {
    // An X error on a window still the pane's own: that window will not
    // work. A new window: the next frame tries it.
    if (same) refusedWindow_ = window;
    StopDirect();
  }
}

void PreviewPane::FrameWaiting() {
  if (renderer_ == nullptr) return;
  if (!nativeWindow_ && IsShownOnScreen()) {
    MakeNativeWindow(*this);
    nativeWindow_ = true;
  }
  // Frames come here while the presenter is at work only once it failed.
  if (direct_ && direct_->Failed()) Watch();
  if (!direct_ && nativeWindow_ && IsShownOnScreen()) StartDirect();
  const wxTopLevelWindow* top = dynamic_cast<wxTopLevelWindow*>(wxGetTopLevelParent(this));
  if (!IsShownOnScreen() || (top != nullptr && top->IsIconized())) {
    // Nothing to see: the frame thread stops converting until the next
    // paint (the window shown or restored again).
    renderer_->SetVisible(false);
    return;
  }
  if (nativeWindow_ && frame_.width > 0) {
    // Drawn at once onto the pane's own window: one pass of the event loop
    // per frame instead of a second one for the toolkit's redraw.
    if (renderer_->TakeFrame(frame_) &&
        UseSurface(frame_.pixels.data(), frame_.pixels.size(), frame_.width, frame_.height)) {
      frameStamped_ = false;
      ++paintedFrames_;
      wxClientDC dc(this);
      Draw(dc, frame_.stampText, false);
    }
    return;
  }
  Refresh(false);
}

void PreviewPane::OnSize(wxSizeEvent& event) {
  if (renderer_ != nullptr) {
    const wxSize client = GetClientSize();
    renderer_->SetPaneSize(client.x, client.y);
  }
  Refresh(false);
  event.Skip();
}

PictureRect PreviewPane::PictureArea(int width, int height) const {
  const wxSize client = GetClientSize();
  return FitPicture(width, height, client.x, client.y);
}

bool PreviewPane::UseSurface(std::uint8_t* data, std::size_t size, int width, int height) {
  // The buffer drawn before may be written by the frame thread by now:
  // never draw it again.
  surface_ = nullptr;
  if (data == nullptr || width <= 0 || height <= 0 ||
      size < static_cast<std::size_t>(width) * 4 * height ||
      cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, width) != width * 4) {
    return false;
  }
  Surface* found = nullptr;
  for (Surface& s : surfaces_) {
    if (s.surface && s.data == data && s.width == width && s.height == height) found = &s;
  }
  if (found == nullptr) {
    found = &surfaces_[nextSurface_];
    nextSurface_ = (nextSurface_ + 1) % kSurfaces;
    found->surface.reset(
        cairo_image_surface_create_for_data(data, CAIRO_FORMAT_RGB24, width, height, width * 4));
    ++surfacesMade_;
    if (cairo_surface_status(found->surface.get()) != CAIRO_STATUS_SUCCESS) {
      found->surface.reset();
      return false;
    }
    found->data = data;
    found->width = width;
    found->height = height;
  }
  // The frame thread wrote new pixels since the surface was last drawn.
  cairo_surface_mark_dirty(found->surface.get());
  surface_ = found->surface.get();
  surfaceWidth_ = width;
  surfaceHeight_ = height;
  return true;
}

void PreviewPane::OnPaint(wxPaintEvent&) {
  wxPaintDC dc(this);
  if (renderer_ != nullptr) {
    // Painting means the pane is on screen: frames are wanted again.
    renderer_->SetVisible(true);
    if (renderer_->TakeFrame(frame_)) {
      frameStamped_ = false;
      ++paintedFrames_;
    }
  }
  bool drawn = false;
  if (direct_) {
    // The presenter's last picture, stamp included; the frame thread waits
    // meanwhile, and its buffer is not drawn again after.
    direct_->WithLastPicture(
        [&](std::uint8_t* pixels, int width, int height, const std::string& stamp) {
          const std::size_t size = static_cast<std::size_t>(width) * 4 * height;
          if (UseSurface(pixels, size, width, height)) {
            Draw(dc, stamp, true);
            drawn = true;
          }
          surface_ = nullptr;
        });
  }
  if (!drawn) {
    UseSurface(frame_.pixels.data(), frame_.pixels.size(), frame_.width, frame_.height);
    Draw(dc, frame_.stampText, frameStamped_);
  }
}

void PreviewPane::Draw(wxDC& dc, const std::string& stamp, bool stampInPicture) {
  const wxSize client = GetClientSize();
  bool showStamp = false;
  Rgb stampColour{255, 0, 0};
  if (renderer_ != nullptr) {
    showStamp = renderer_->ShowTimeStamp();
    stampColour = renderer_->TextColour();
  }
  wxGraphicsContext* gc = dc.GetGraphicsContext();
  cairo_t* cr = gc != nullptr ? static_cast<cairo_t*>(gc->GetNativeContext()) : nullptr;
  const PictureRect area = PictureArea(surfaceWidth_, surfaceHeight_);
  if (cr == nullptr || !surface_ || area.width <= 0 || client.x <= 0 || client.y <= 0) {
    dc.SetBackground(*wxBLACK_BRUSH);
    dc.Clear();
    return;
  }
  cairo_save(cr);
  // The bars: the client area minus the picture.
  const wxColour bars = GetBackgroundColour();
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
  cairo_rectangle(cr, 0, 0, client.x, client.y);
  cairo_rectangle(cr, area.x, area.y, area.width, area.height);
  cairo_set_source_rgb(cr, bars.Red() / 255.0, bars.Green() / 255.0, bars.Blue() / 255.0);
  cairo_fill(cr);
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);

  // The picture, normally already at its size; while the pane is being
  // resized a frame made for the old size is stretched once.
  cairo_save(cr);
  cairo_rectangle(cr, area.x, area.y, area.width, area.height);
  cairo_clip(cr);
  cairo_translate(cr, area.x, area.y);
  if (surfaceWidth_ != area.width || surfaceHeight_ != area.height) {
    cairo_scale(cr, static_cast<double>(area.width) / surfaceWidth_,
                static_cast<double>(area.height) / surfaceHeight_);
  }
  cairo_set_source_surface(cr, surface_, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_FAST);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_paint(cr);
  cairo_restore(cr);

  if (showStamp && !stampInPicture && !stamp.empty()) DrawStamp(cr, area, stamp, stampColour);
  if (!outlines_.empty() && outlineWidth_ > 0 && outlineHeight_ > 0) {
    // Sensible zones green, masks red; one-pixel lines on pixel centres.
    const double sx = static_cast<double>(area.width) / outlineWidth_;
    const double sy = static_cast<double>(area.height) / outlineHeight_;
    cairo_set_line_width(cr, 1.0);
    for (const Outline& o : outlines_) {
      const double x0 = std::floor(area.x + o.left * sx) + 0.5;
      const double y0 = std::floor(area.y + o.top * sy) + 0.5;
      const double x1 = std::floor(area.x + o.right * sx) + 0.5;
      const double y1 = std::floor(area.y + o.bottom * sy) + 0.5;
      cairo_rectangle(cr, x0, y0, x1 - x0, y1 - y0);
      if (o.mask) {
        cairo_set_source_rgb(cr, 1.0, 0.2, 0.2);
      } else {
        cairo_set_source_rgb(cr, 0.2, 1.0, 0.2);
      }
      cairo_stroke(cr);
    }
  }
  cairo_restore(cr);
}

void PreviewPane::SetOutlines(std::vector<Outline> outlines, int sourceWidth, int sourceHeight) {
  outlines_ = std::move(outlines);
  outlineWidth_ = sourceWidth;
  outlineHeight_ = sourceHeight;
  // The frame thread does not draw outlines: while they show, every frame
  // goes through the toolkit.
  if (outlines_.empty()) {
    if (nativeWindow_ && IsShownOnScreen()) StartDirect();
  } else {
    StopDirect();
  }
  Refresh(false);
}

}  // namespace qmr
