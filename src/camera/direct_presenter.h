// Puts preview frames into a pane's X window straight from the camera's
// frame thread, over a connection of its own to the X server and through
// shared memory: the frame thread scales each frame into a shared segment,
// the stamp is drawn onto it, and one request shows it. The user-interface
// thread is not woken per frame, which on a busy machine costs more than
// the picture itself.
//
// Only for X11 displays on this machine (shared memory) with an ordinary
// 24- or 32-bit true-colour window; Open says no otherwise and the pane
// paints through the toolkit as before. An X error on the connection (the
// window gone, say) stops the presenter from drawing; the pane sees Failed()
// and goes back to the toolkit.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "capture/preview_renderer.h"

struct xcb_connection_t;

namespace qmr {

class DirectPresenter : public PreviewOutput {
 public:
  // Draws the stamp onto a finished top-down picture of 4 bytes per pixel
  // (frame thread).
  using Overlay =
      std::function<void(std::uint8_t* pixels, int width, int height, const std::string& stamp)>;

  // A presenter for the window with this id on the named display, or null
  // with the reason in why.
  static std::unique_ptr<DirectPresenter> Open(const std::string& display, std::uint32_t window,
                                               Overlay overlay, std::string& why);
  ~DirectPresenter() override;
  DirectPresenter(const DirectPresenter&) = delete;
  DirectPresenter& operator=(const DirectPresenter&) = delete;

  std::uint8_t* BeginPicture(int width, int height) override;
  void EndPicture(int x, int y, const std::string& stamp) override;

  std::uint32_t Window() const { return window_; }
  // An X error or a broken connection: nothing is drawn any more.
  bool Failed() const { return failed_.load(); }
  // Frames put on the screen so far, and shared segments made (they are
  // made again only when the picture grows).
  std::uint64_t Presented() const { return presented_.load(); }
  std::uint64_t SegmentsMade() const { return segmentsMade_.load(); }

  // The last picture shown, for a repaint by the toolkit (expose, resize):
  // f is called with the presenter locked, so the frame thread does not
  // write the picture meanwhile; not called when nothing was shown yet.
  void WithLastPicture(
      const std::function<void(std::uint8_t* pixels, int width, int height,
                               const std::string& stamp)>& f);

 private:
  struct Segment {
    std::uint32_t id = 0;  // the X server's name for it; 0: none
    std::uint8_t* data = nullptr;
    std::size_t size = 0;
    unsigned int syncSequence = 0;  // a reply to collect before reuse
    bool syncPending = false;
  };

  DirectPresenter(xcb_connection_t* connection, std::uint32_t window, std::uint8_t depth,
                  Overlay overlay);
  bool MakeSegment(Segment& segment, std::size_t size);
  void DropSegment(Segment& segment);
  // Waits until the X server has finished reading the segment.
  void Collect(Segment& segment);
  // Reads queued events; any error marks the presenter failed.
  void CheckErrors();

  xcb_connection_t* connection_;
  std::uint32_t window_;
  std::uint32_t gc_ = 0;
  std::uint8_t depth_;
  Overlay overlay_;

  std::mutex mutex_;  // held from BeginPicture to EndPicture, and by WithLastPicture
  Segment segments_[2];
  int writing_ = -1;  // the segment between BeginPicture and EndPicture
  int last_ = -1;     // the segment on the screen
  int width_[2] = {0, 0};
  int height_[2] = {0, 0};
  std::string lastStamp_;
  std::atomic<bool> failed_{false};
  std::atomic<std::uint64_t> presented_{0};
  std::atomic<std::uint64_t> segmentsMade_{0};
};

}  // namespace qmr
