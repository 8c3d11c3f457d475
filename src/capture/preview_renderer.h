// The hand-off of the newest frame from a camera's frame thread to its
// preview pane. The frame thread scales each processed frame straight to the
// size the pane shows it at (keeping its aspect ratio), turning the bottom-up
// BGR24 rows into top-down 32-bit pixels in the same pass, and leaves it here
// with its time-stamp text; the pane is told through the notify callback and
// takes the frame when it paints. At most one frame is pending: a newer frame
// replaces one that was not taken yet, so a slow user interface drops frames
// instead of queueing them. The buffers circulate between the frame thread
// and the pane, so once they have grown to the picture size nothing is
// allocated per frame. Where the display allows it, the pane instead gives
// the renderer an output that puts each frame on the screen from the frame
// thread itself (see PreviewOutput), and the user-interface thread is not
// woken per frame at all. "Frame thread" here and in the panes means whichever
// camera thread processes the frame: the streaming thread of a decoding
// source, else the capture device's frame thread; one frame at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "config/settings.h"  // Rgb

namespace qmr {

// One frame ready for painting: top-down, 4 bytes per pixel in the order
// blue, green, red, unused (a native-endian 0x00RRGGBB word on little-endian
// machines, the layout of a 24-bit image surface), width * 4 bytes per row.
struct PreviewFrame {
  std::vector<std::uint8_t> pixels;
  int width = 0;
  int height = 0;
  std::string stampText;  // "%02d/%02d %02d:%02d:%02d:%03d"
};

// Where a picture of sourceWidth x sourceHeight goes in a pane of paneWidth
// x paneHeight: as large as fits with its aspect ratio kept, centred, the
// rest of the pane left for bars. Empty (all 0) when any size is not positive.
struct PictureRect {
  int x = 0, y = 0, width = 0, height = 0;
};
PictureRect FitPicture(int sourceWidth, int sourceHeight, int paneWidth, int paneHeight);

// Shows frames without the user-interface thread: the frame thread scales
// each frame straight into memory the output lends it, then hands it back to
// be shown. Called on the frame thread only, one frame at a time.
class PreviewOutput {
 public:
  virtual ~PreviewOutput() = default;
  // Memory for a top-down width x height picture of 4 bytes per pixel
  // (layout as PreviewFrame), width * 4 bytes per row; nullptr when the
  // output cannot show it (the frame then goes the usual way). A non-null
  // return is always followed by EndPicture.
  virtual std::uint8_t* BeginPicture(int width, int height) = 0;
  // The picture is complete: show it at (x, y) of the pane with its stamp.
  virtual void EndPicture(int x, int y, const std::string& stamp) = 0;
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
  // Set by the pane (user-interface thread): while an output is set, frames
  // go to it instead of the notify callback. Once SetOutput returns, the old
  // output is not in use and will not be used again.
  void SetOutput(PreviewOutput* output);

  // The pane's client size; frames are scaled to fit it. 0 x 0 (the start):
  // frames keep their own size.
  void SetPaneSize(int width, int height);
  // While the pane is hidden or its window minimised, frames are not
  // converted at all.
  void SetVisible(bool visible) { visible_.store(visible); }
  bool Visible() const { return visible_.load(); }

  // Painter (user-interface thread): swaps the pending frame into out (out's
  // old buffer is recycled for a later frame, so nothing is allocated per
  // frame) and returns true; false when no frame is pending (out untouched).
  bool TakeFrame(PreviewFrame& out);

  // By how much (1, 2, 4 or 8) a width x height picture may be decoded
  // smaller and still look right in the pane: the largest reduction that
  // divides the size into whole rows of 4-pixel groups and leaves at least
  // four fifths of the pane's picture in each direction (the rest is made up
  // by repeating pixels, where a shrunk pane drops whole rows and columns of
  // the full picture anyway). Any reduction while nothing shows the
  // picture (no pane, or a hidden one); 1 before the pane has a size.
  int Reduction(int width, int height) const;

  // Frame thread: offers one bottom-up BGR24 frame (rows of width * 3 bytes).
  // Does nothing while no pane is attached or the pane is hidden.
  void Present(const std::uint8_t* bottomUpBgr, int width, int height, const std::string& stamp);

  // Times a pixel buffer had to grow (tests: stays put once frames and pane
  // keep their size).
  std::uint64_t BufferGrowths() const { return growths_.load(); }

  // Time-stamp look, written by the user-interface thread at any time.
  void SetTextColour(const Rgb& colour);
  Rgb TextColour() const;
  void SetShowTimeStamp(bool show) { showTimeStamp_.store(show); }
  bool ShowTimeStamp() const { return showTimeStamp_.load(); }

 private:
  // Nearest-pixel scaling of the bottom-up BGR24 source into out (outWidth
  // * 4 bytes per row).
  void Scale(const std::uint8_t* bottomUpBgr, int width, int height, std::uint8_t* out,
             int outWidth, int outHeight);

  // Held while the callback or the output runs and while they are replaced.
  std::mutex notifyMutex_;
  std::function<void()> notify_;
  PreviewOutput* output_ = nullptr;
  std::atomic<bool> attached_{false};
  std::atomic<std::uint64_t> paneSize_{0};  // width << 32 | height
  std::atomic<bool> visible_{true};

  std::mutex frameMutex_;
  PreviewFrame pending_;
  bool hasPending_ = false;
  PreviewFrame work_;  // filled outside the lock, then swapped in
  // Frame thread: byte offset of the source pixel of every output column,
  // kept while the sizes stay the same.
  std::vector<std::uint32_t> columns_;
  int columnsFor_[2] = {0, 0};  // source width, output width of columns_
  // The byte shuffles of the first groups_ groups of four output columns
  // (16 bytes each), for the vector path.
  std::vector<std::uint8_t> masks_;
  int groups_ = 0;
  std::atomic<std::uint64_t> growths_{0};

  std::atomic<std::uint32_t> colour_{0x0000FF};  // red in the low byte
  std::atomic<bool> showTimeStamp_{true};
};

}  // namespace qmr
