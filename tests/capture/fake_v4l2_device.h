// A simulated USB webcam behind the V4L2 calls, as a program sees it through
// libv4l2: the camera's own formats (YUYV, MJPEG) plus the converted BGR24
// and RGB24, three discrete sizes with their frame intervals, the usual
// picture controls, pictures by read() (Motion JPEG ones as a UVC camera
// sends them: without Huffman tables, padded after their end), and
// unplugging. Each node opened by
// path is a separate camera; a node can also be a metadata node (no video
// capture in its device caps), as USB cameras register next to their video
// node.
#pragma once

#include <linux/videodev2.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/v4l2_api.h"

namespace qmr::testing {

class FakeV4l2Device : public V4l2Api {
 public:
  // The pixel a picture holds at (x, y), counting rows from the top: blue =
  // x, green = y, red = the picture number (each modulo 256).
  static void Pixel(int x, int y, std::uint32_t picture, std::uint8_t bgr[3]);
  // The camera's YUYV picture (the same for every picture number): rows of
  // width * 2 bytes whose luma and colour run through every value, far
  // enough for the conversion to clip.
  static void YuyvPicture(int width, int height, std::uint8_t* out);

  // A capture node (the webcam) or, with capture false, a metadata node.
  void AddNode(const std::string& path, const std::string& card, bool capture = true);

  // The node has no frame-rate control: no frame intervals, and the
  // streaming parameters name no time per frame.
  void RemoveFrameRateControl(const std::string& path);

  // YUYV comes at most at fastest frames a second at every size (0: the
  // camera has no YUYV at all), as on cameras whose USB link only carries
  // their larger sizes fast enough compressed.
  void LimitYuyv(const std::string& path, std::uint32_t fastest);

  // libv4l2 turns the camera's pictures (cameras mounted upside down, as in
  // some laptops): it then lists and accepts only the formats it converts
  // to, as it does whenever it flips or corrects a camera's pictures, and
  // they arrive turned by half a circle.
  void TurnPictures(const std::string& path);

  // The next count Motion JPEG pictures read are cut short (-1: all from
  // now on).
  void DamagePictures(const std::string& path, int count);

  // Every call on the node's open descriptors fails with ENODEV from now
  // on (close still succeeds), and the node can no longer be opened.
  void Unplug(const std::string& path);

  // Inspection for tests.
  std::int32_t Control(const std::string& path, std::uint32_t id);
  int OpenCount(const std::string& path);
  std::uint32_t PicturesRead(const std::string& path);
  std::uint32_t PixelFormat(const std::string& path);

  int Open(const std::string& path, int flags) override;
  int Close(int fd) override;
  int Ioctl(int fd, unsigned long request, void* argument) override;
  ssize_t Read(int fd, void* buffer, std::size_t size) override;
  int Poll(pollfd* fds, nfds_t count, int timeoutMs) override;

 private:
  struct Node {
    std::string card;
    bool capture = true;
    bool unplugged = false;
    bool fixedRate = false;
    std::uint32_t yuyvFastest = 1000;  // 0: no YUYV
    int damaged = 0;
    bool turned = false;
    std::uint32_t pixelFormat = V4L2_PIX_FMT_YUYV;
    std::uint32_t width = 640, height = 480;
    v4l2_fract interval{1, 30};
    std::map<std::uint32_t, std::int32_t> controls;
    int streamingFd = -1;  // the descriptor whose read() started streaming
    int openCount = 0;
    std::uint32_t pictures = 0;
  };

  Node* NodeOfLocked(int fd);
  int QueryCap(const Node& node, v4l2_capability& cap);
  int TryFormat(const Node& node, v4l2_format& fmt);
  // The frame rates the node offers in a format at a size, fastest first.
  std::vector<std::uint32_t> RatesOf(const Node& node, std::uint32_t pixelFormat,
                                     std::uint32_t width, std::uint32_t height);
  bool Offers(const Node& node, std::uint32_t pixelFormat);
  std::size_t ReadJpeg(Node& node, std::uint32_t picture, std::uint8_t* out, std::size_t size);
  int Parm(Node& node, v4l2_streamparm& parm, bool set);
  int QueryControl(const Node& node, v4l2_queryctrl& query);
  int SetControl(Node& node, const v4l2_control& control);

  std::mutex mutex_;
  std::map<std::string, std::unique_ptr<Node>> nodes_;
  std::map<int, Node*> fds_;
  int nextFd_ = 1000;  // far above any real descriptor of the test
};

}  // namespace qmr::testing
