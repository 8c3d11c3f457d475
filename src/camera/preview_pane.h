// The live picture of one camera: paints the newest frame the capture device
// handed over, scaled to the client area, with the time stamp at the top
// left. The frame thread only announces a new frame; the pane takes it when
// it paints, so a busy user interface drops frames instead of queueing them.
#pragma once

#include <wx/bitmap.h>
#include <wx/font.h>
#include <wx/window.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "capture/preview_renderer.h"

namespace qmr {

class CaptureDevice;

class PreviewPane : public wxWindow {
 public:
  explicit PreviewPane(wxWindow* parent);
  ~PreviewPane() override;

  // Connects the pane to the device's preview (before the device starts).
  bool Attach(CaptureDevice& device);
  // Disconnects it; no frame thread calls into the pane after this returns.
  void Detach();

  // Frames painted so far and the stamp of the last one (tests, diagnostics).
  std::uint64_t PaintedFrames() const { return paintedFrames_; }
  const std::string& LastStamp() const { return frame_.stampText; }
  bool HasPicture() const { return frame_.width > 0; }

 private:
  void OnPaint(wxPaintEvent& event);
  void OnSize(wxSizeEvent& event);
  // Frame thread: a frame waits in the renderer.
  void FrameWaiting();

  PreviewRenderer* renderer_ = nullptr;
  // The frame on screen; its buffer is swapped with the renderer's, so
  // frames of the same size reuse memory.
  PreviewFrame frame_;
  // The frame scaled to the client area, kept for repaints without a new frame.
  wxBitmap scaled_;
  wxFont stampFont_;
  std::uint64_t paintedFrames_ = 0;
  // Shared with the frame thread's callback: a repaint is already asked for.
  std::shared_ptr<std::atomic<bool>> refreshPending_;
};

}  // namespace qmr
