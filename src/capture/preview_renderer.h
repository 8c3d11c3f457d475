// The hand-off of the newest frame from a camera's frame thread to its
// preview pane. The frame thread converts each processed frame to top-down
// RGB and leaves it here with its time-stamp text; the pane is told through
// the notify callback and takes the frame when it paints. At most one frame
// is pending: a newer frame replaces one that was not taken yet, so a slow
// user interface drops frames instead of queueing them.
//
// The pane draws the picture scaled to its client area and, when
// ShowTimeStamp() is on, the stamp text at the top-left corner in
// TextColour(), fixed-pitch, 15 px, no background box.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "config/settings.h"  // Rgb

namespace qmr {

// One frame ready for painting.
struct PreviewFrame {
  std::vector<std::uint8_t> rgb;  // top-down, width * 3 bytes per row
  int width = 0;
  int height = 0;
  std::string stampText;  // "%02d/%02d %02d:%02d:%02d:%03d"
};

class PreviewRenderer {
 public:
  PreviewRenderer() = default;
  virtual ~PreviewRenderer() = default;
  PreviewRenderer(const PreviewRenderer&) = delete;
  PreviewRenderer& operator=(const PreviewRenderer&) = delete;

  // Set by the pane (user-interface thread). notify is called on the frame
  // thread each time a frame becomes pending while none was pending; it must
  // only schedule a repaint (e.g. CallAfter) and return at once. Pass an
  // empty function before the pane goes away: once SetNotify returns, the
  // old callback is not running and will not be called again.
  void SetNotify(std::function<void()> notify);
  bool Attached() const { return attached_.load(); }

  // Painter (user-interface thread): swaps the pending frame into out (out's
  // old buffer is recycled for a later frame, so nothing is allocated per
  // frame) and returns true; false when no frame is pending (out untouched).
  bool TakeFrame(PreviewFrame& out);

  // Frame thread: offers one bottom-up BGR24 frame (rows of width * 3 bytes).
  // Does nothing while no pane is attached.
  void Present(const std::uint8_t* bottomUpBgr, int width, int height, const std::string& stamp);

  // Time-stamp look, written by the user-interface thread at any time.
  void SetTextColour(const Rgb& colour);
  Rgb TextColour() const;
  void SetShowTimeStamp(bool show) { showTimeStamp_.store(show); }
  bool ShowTimeStamp() const { return showTimeStamp_.load(); }

 private:
  std::mutex notifyMutex_;  // held while the callback runs and while it is replaced
  std::function<void()> notify_;
  std::atomic<bool> attached_{false};

  std::mutex frameMutex_;
  PreviewFrame pending_;
  bool hasPending_ = false;
  PreviewFrame work_;  // filled outside the lock, then swapped in

  std::atomic<std::uint32_t> colour_{0x0000FF};  // red in the low byte
  std::atomic<bool> showTimeStamp_{true};
};

}  // namespace qmr
