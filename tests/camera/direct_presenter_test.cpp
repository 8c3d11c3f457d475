#include "camera/direct_presenter.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

namespace qmr {
namespace {

// A plain window of the test's own, on its own connection to the display
// the tests run on.
class TestWindow {
 public:
  TestWindow() {
    connection_ = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection_) != 0) return;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    window_ = xcb_generate_id(connection_);
    const std::uint32_t black = screen->black_pixel;
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0, 64, 48, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL,
                      &black);
    xcb_map_window(connection_, window_);
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
  }
  ~TestWindow() { xcb_disconnect(connection_); }

  bool Ok() const { return window_ != 0; }
  std::uint32_t Id() const { return window_; }
  // The pixel at (x, y) as the server holds it: 0x00RRGGBB.
  std::uint32_t Pixel(int x, int y) {
    xcb_get_image_reply_t* image = xcb_get_image_reply(
        connection_,
        xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, window_, static_cast<std::int16_t>(x),
                      static_cast<std::int16_t>(y), 1, 1, ~0u),
        nullptr);
    std::uint32_t value = 0xDEADBEEF;
    if (image != nullptr && xcb_get_image_data_length(image) >= 4) {
      std::memcpy(&value, xcb_get_image_data(image), 4);
      value &= 0x00FFFFFFu;
    }
    std::free(image);
    return value;
  }
  // Waits (up to a second) for the pixel to become colour: the presenter's
  // requests travel on another connection than this one's.
  bool Shows(int x, int y, std::uint32_t colour) {
    for (int i = 0; i < 200; ++i) {
      if (Pixel(x, y) == colour) return true;
      usleep(5000);
    }
    return false;
  }
  void Destroy() {
    xcb_destroy_window(connection_, window_);
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
  }

 private:
  xcb_connection_t* connection_ = nullptr;
  std::uint32_t window_ = 0;
};

// Shows one width x height picture of a single colour (0x00RRGGBB) at (x, y).
bool ShowColour(DirectPresenter& presenter, int width, int height, int x, int y,
                std::uint32_t colour) {
  std::uint8_t* pixels = presenter.BeginPicture(width, height);
  if (pixels == nullptr) return false;
  for (int i = 0; i < width * height; ++i) {
    const std::uint32_t v = colour | 0xFF000000u;
    std::memcpy(pixels + 4 * i, &v, 4);
  }
  presenter.EndPicture(x, y, "12/09 06:00:00:000");
  return true;
}

TEST(DirectPresenter, PutsPicturesIntoTheWindowAndStopsWhenTheWindowGoes) {
  TestWindow window;
  ASSERT_TRUE(window.Ok());
  const char* display = std::getenv("DISPLAY");
  ASSERT_NE(display, nullptr);

  std::string why;
  int overlays = 0;
  auto presenter = DirectPresenter::Open(
      display, window.Id(),
      [&](std::uint8_t* pixels, int width, int height, const std::string& stamp) {
        // The stamp's place: the top left pixel, drawn over the picture.
        ++overlays;
        EXPECT_EQ(stamp, "12/09 06:00:00:000");
        EXPECT_GT(width * height, 0);
        const std::uint32_t white = 0xFFFFFFFFu;
        std::memcpy(pixels, &white, 4);
      },
      why);
  ASSERT_TRUE(presenter) << why;

  // A red picture at (8, 4), then larger blue ones.
  ASSERT_TRUE(ShowColour(*presenter, 16, 8, 8, 4, 0xFF0000));
  EXPECT_TRUE(window.Shows(10, 6, 0xFF0000u));
  EXPECT_EQ(window.Pixel(8, 4), 0xFFFFFFu);  // the overlay's pixel
  EXPECT_EQ(window.Pixel(2, 2), 0x000000u);  // outside the picture: untouched
  ASSERT_TRUE(ShowColour(*presenter, 40, 30, 0, 0, 0x0000FF));
  ASSERT_TRUE(ShowColour(*presenter, 40, 30, 0, 0, 0x0000FF));
  EXPECT_TRUE(window.Shows(20, 20, 0x0000FFu));
  // Both segments have grown to the size: no new memory after.
  const std::uint64_t segments = presenter->SegmentsMade();
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(ShowColour(*presenter, 40, 30, 0, 0, 0x00FF00));
  EXPECT_TRUE(window.Shows(20, 20, 0x00FF00u));
  EXPECT_EQ(presenter->SegmentsMade(), segments);
  EXPECT_EQ(presenter->Presented(), 8u);
  EXPECT_EQ(overlays, 8);
  bool seen = false;
  presenter->WithLastPicture([&](std::uint8_t* pixels, int width, int height, const std::string&) {
    seen = width == 40 && height == 30 && pixels[4 * 5 + 1] == 0xFF;
  });
  EXPECT_TRUE(seen);
  EXPECT_FALSE(presenter->Failed());

  // The window goes: the presenter notices and takes no more pictures, so
  // the pane goes back to the toolkit.
  window.Destroy();
  for (int i = 0; i < 20 && !presenter->Failed(); ++i) ShowColour(*presenter, 40, 30, 0, 0, 0);
  EXPECT_TRUE(presenter->Failed());
  EXPECT_EQ(presenter->BeginPicture(40, 30), nullptr);
}

TEST(DirectPresenter, RefusesWhatItCannotDrawInto) {
  std::string why;
  auto none = [](std::uint8_t*, int, int, const std::string&) {};
  EXPECT_FALSE(DirectPresenter::Open(":987", 1, none, why));
  EXPECT_EQ(why, "cannot connect to the display");
  const char* display = std::getenv("DISPLAY");
  ASSERT_NE(display, nullptr);
  EXPECT_FALSE(DirectPresenter::Open(display, 0x7FFFFF, none, why));
  EXPECT_EQ(why, "the window is gone");

  TestWindow window;
  ASSERT_TRUE(window.Ok());
  auto presenter = DirectPresenter::Open(display, window.Id(), none, why);
  ASSERT_TRUE(presenter) << why;
  // Sizes an X request cannot carry.
  EXPECT_EQ(presenter->BeginPicture(0, 10), nullptr);
  EXPECT_EQ(presenter->BeginPicture(40000, 10), nullptr);
  EXPECT_FALSE(presenter->Failed());
}

}  // namespace
}  // namespace qmr
