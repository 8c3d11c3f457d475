// The live picture of one camera: paints the newest frame the capture device
// handed over, as large as fits the client area with its aspect ratio kept
// (bars in the background colour fill the rest), with the time stamp at the
// top left of the picture. The frame thread scales each frame to the pane's
// size and only announces it; on the notice the pane takes the frame and
// draws it at once from the frame's own pixel buffer (no copy), so a busy
// user interface drops frames instead of queueing them. On an X11 display
// the frame thread puts the frames into the pane's window itself (see
// DirectPresenter), and the pane only paints what the toolkit asks for
// (exposed, resized) from the last of them; while zone outlines are shown,
// or where that cannot work, every frame goes through the toolkit. While the
// pane is hidden or its window minimised, frames are not converted.
#pragma once

#include <wx/timer.h>
#include <wx/window.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/preview_renderer.h"

typedef struct _cairo_surface cairo_surface_t;

namespace qmr {

class CaptureDevice;
class DirectPresenter;

class PreviewPane : public wxWindow {
 public:
  explicit PreviewPane(wxWindow* parent);
  ~PreviewPane() override;

  // Connects the pane to the device's preview (before the device starts).
  bool Attach(CaptureDevice& device);
  // Disconnects it; no frame thread calls into the pane after this returns.
  void Detach();

  // Frames painted so far and the stamp of the last one (tests, diagnostics).
  std::uint64_t PaintedFrames() const;
  std::string LastStamp() const;
  // Times an image surface or a shared segment was made (tests: only when
  // the picture size changes).
  std::uint64_t SurfacesMade() const;
  // Frames go to the window from the frame thread (tests, diagnostics).
  bool DrawsDirectly() const { return direct_ != nullptr; }

  // Zone outlines drawn over the picture, in the coordinates of a
  // sourceWidth x sourceHeight picture (mapped like the picture itself);
  // no rectangles: none drawn.
  struct Outline {
    double left = 0, top = 0, right = 0, bottom = 0;
    bool mask = false;
  };
  void SetOutlines(std::vector<Outline> outlines, int sourceWidth, int sourceHeight);
  std::size_t OutlineCount() const { return outlines_.size(); }

 private:
  struct SurfaceFree {
    void operator()(cairo_surface_t* s) const;
  };

  void OnPaint(wxPaintEvent& event);
  // The picture, its bars and (unless the picture has it already) its stamp
  // onto dc; the picture is the one surface_ shows, stamped with stamp.
  void Draw(wxDC& dc, const std::string& stamp, bool stampInPicture);
  void OnSize(wxSizeEvent& event);
  // User-interface thread: a frame waits in the renderer.
  void FrameWaiting();
  // Points the picture at an image surface over these pixels (no copy),
  // making one only for a buffer not seen before.
  bool UseSurface(std::uint8_t* data, std::size_t size, int width, int height);
  // Where a picture of this size goes in the client area.
  PictureRect PictureArea(int width, int height) const;
  // Hands frames to a presenter on the pane's X window, when it can.
  void StartDirect();
  // Back to the toolkit for every frame.
  void StopDirect();
  // Timer: tells the frame thread whether the pane can be seen, and notices
  // when the presenter's window is no longer the pane's.
  void Watch();

  PreviewRenderer* renderer_ = nullptr;
  // The frame on screen; its buffer is swapped with the renderer's, so
  // frames of the same size reuse memory.
  PreviewFrame frame_;
  bool frameStamped_ = false;  // frame_'s pixels carry their stamp already
  // Image surfaces drawn straight from the pixel buffers that circulate
  // between the frame thread and the pane (three of them) and the
  // presenter's two (drawn when the toolkit repaints), each kept while
  // its buffer keeps its place and size. Only the one over frame_'s buffer
  // is ever drawn: the others' buffers may be written by the frame thread.
  struct Surface {
    const std::uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    std::unique_ptr<cairo_surface_t, SurfaceFree> surface;
  };
  static constexpr int kSurfaces = 5;
  Surface surfaces_[kSurfaces];
  int nextSurface_ = 0;                 // the slot a new surface replaces
  cairo_surface_t* surface_ = nullptr;  // over frame_'s pixels, or none
  int surfaceWidth_ = 0;
  int surfaceHeight_ = 0;
  bool nativeWindow_ = false;
  std::uint64_t paintedFrames_ = 0;
  std::uint64_t surfacesMade_ = 0;
  std::vector<Outline> outlines_;
  int outlineWidth_ = 0;
  int outlineHeight_ = 0;
  // Shared with the frame thread's callback: a repaint is already asked for.
  std::shared_ptr<std::atomic<bool>> refreshPending_;
  std::unique_ptr<DirectPresenter> direct_;
  std::uint32_t refusedWindow_ = 0;  // a window the presenter could not use
  std::uint64_t presentedBefore_ = 0;   // frames and segments of earlier presenters
  std::uint64_t segmentsBefore_ = 0;
  wxTimer watch_;
};

}  // namespace qmr
