#include "camera/direct_presenter.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <bit>
#include <cstdlib>

namespace qmr {

namespace {

// A reply or error that xcb allocated: freed on every way out.
template <typename T>
struct Freed {
  T* p;
  explicit Freed(T* pointer) : p(pointer) {}
  ~Freed() { std::free(p); }
  Freed(const Freed&) = delete;
  Freed& operator=(const Freed&) = delete;
  T* operator->() const { return p; }
  explicit operator bool() const { return p != nullptr; }
};

// The window's pixels must be 32-bit words 0x00RRGGBB (or AARRGGBB) in the
// machine's own byte order, as the preview pictures are.
bool PixelsFit(xcb_connection_t* c, std::uint8_t depth, xcb_visualid_t visual, std::string& why) {
  const xcb_setup_t* setup = xcb_get_setup(c);
  if (std::endian::native != std::endian::little ||
      setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) {
    why = "the display's byte order differs";
    return false;
  }
  bool format = false;
  for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem > 0; xcb_format_next(&f)) {
    if (f.data->depth == depth && f.data->bits_per_pixel == 32) format = true;
  }
  if (!format || (depth != 24 && depth != 32)) {
    why = "the window is not of 24 or 32 bits per pixel";
    return false;
  }
  for (auto s = xcb_setup_roots_iterator(setup); s.rem > 0; xcb_screen_next(&s)) {
    for (auto d = xcb_screen_allowed_depths_iterator(s.data); d.rem > 0; xcb_depth_next(&d)) {
      for (auto v = xcb_depth_visuals_iterator(d.data); v.rem > 0; xcb_visualtype_next(&v)) {
        if (v.data->visual_id != visual) continue;
        if ((v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR ||
             v.data->_class == XCB_VISUAL_CLASS_DIRECT_COLOR) &&
            v.data->red_mask == 0xFF0000u && v.data->green_mask == 0x00FF00u &&
            v.data->blue_mask == 0x0000FFu) {
          return true;
        }
        why = "the window's colours are not 8-bit red, green, blue";
        return false;
      }
    }
  }
  why = "the window's visual is unknown";
  return false;
}

}  // namespace

std::unique_ptr<DirectPresenter> DirectPresenter::Open(const std::string& display,
                                                       std::uint32_t window, Overlay overlay,
                                                       std::string& why) {
  xcb_connection_t* c = xcb_connect(display.empty() ? nullptr : display.c_str(), nullptr);
  if (c == nullptr || xcb_connection_has_error(c) != 0) {
    if (c != nullptr) xcb_disconnect(c);
    why = "cannot connect to the display";
    return nullptr;
  }
  auto fail = [&](const char* reason) -> std::unique_ptr<DirectPresenter> {
    why = reason;
    xcb_disconnect(c);
    return nullptr;
  };
  const xcb_query_extension_reply_t* shm = xcb_get_extension_data(c, &xcb_shm_id);
  if (shm == nullptr || shm->present == 0) return fail("the display has no shared memory");
  Freed<xcb_get_geometry_reply_t> geometry(
      xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
  Freed<xcb_get_window_attributes_reply_t> attributes(
      xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
  if (!geometry || !attributes) return fail("the window is gone");
  if (attributes->_class != XCB_WINDOW_CLASS_INPUT_OUTPUT) return fail("the window cannot show");
  if (!PixelsFit(c, geometry->depth, attributes->visual, why)) {
    xcb_disconnect(c);
    return nullptr;
  }
  std::unique_ptr<DirectPresenter> presenter(
      new DirectPresenter(c, window, geometry->depth, std::move(overlay)));
  // A first small segment tells whether the server can read this process's
  // memory at all (not over a network, say).
  if (!presenter->MakeSegment(presenter->segments_[0], 4096)) {
    why = "the display cannot share memory with this program";
    return nullptr;
  }
  return presenter;
}

DirectPresenter::DirectPresenter(xcb_connection_t* connection, std::uint32_t window,
                                 std::uint8_t depth, Overlay overlay)
    : connection_(connection), window_(window), depth_(depth), overlay_(std::move(overlay)) {
  gc_ = xcb_generate_id(connection_);
  const std::uint32_t noExposures = 0;
  xcb_create_gc(connection_, gc_, window_, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
  // The window's own end comes as an event: nothing is drawn after it, so a
  // window id the toolkit hands out again is never drawn into.
  const std::uint32_t events = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
  xcb_change_window_attributes(connection_, window_, XCB_CW_EVENT_MASK, &events);
  xcb_flush(connection_);
}

DirectPresenter::~DirectPresenter() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Segment& s : segments_) DropSegment(s);
  xcb_free_gc(connection_, gc_);
  xcb_flush(connection_);
  xcb_disconnect(connection_);
}

bool DirectPresenter::MakeSegment(Segment& segment, std::size_t size) {
  const int shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
  if (shmid < 0) return false;
  void* data = shmat(shmid, nullptr, 0);
  if (data == reinterpret_cast<void*>(-1)) {
    shmctl(shmid, IPC_RMID, nullptr);
    return false;
  }
  const std::uint32_t id = xcb_generate_id(connection_);
  Freed<xcb_generic_error_t> error(
      xcb_request_check(connection_, xcb_shm_attach_checked(connection_, id, shmid, 1)));
  // Marked for removal at once: it goes when both sides have let go, even
  // if this program is killed.
  shmctl(shmid, IPC_RMID, nullptr);
  if (error || xcb_connection_has_error(connection_) != 0) {
    shmdt(data);
    return false;
  }
  segment.id = id;
  segment.data = static_cast<std::uint8_t*>(data);
  segment.size = size;
  segment.syncPending = false;
  segmentsMade_.fetch_add(1);
  return true;
}

void DirectPresenter::DropSegment(Segment& segment) {
  if (segment.data == nullptr) return;
  Collect(segment);
  xcb_shm_detach(connection_, segment.id);
  xcb_flush(connection_);
  shmdt(segment.data);
  segment = Segment{};
}

void DirectPresenter::Collect(Segment& segment) {
  if (!segment.syncPending) return;
  segment.syncPending = false;
  // The reply comes after the server has done every earlier request of this
  // connection, the put from this segment included; normally long since.
  xcb_get_input_focus_cookie_t cookie{segment.syncSequence};
  std::free(xcb_get_input_focus_reply(connection_, cookie, nullptr));
}

void DirectPresenter::CheckErrors() {
  // Only what earlier reads brought in (collecting a reply reads whatever
  // came before it): no extra read from the socket per frame.
  while (xcb_generic_event_t* event = xcb_poll_for_queued_event(connection_)) {
    const std::uint8_t type = event->response_type & 0x7F;
    if (type == 0 || type == XCB_DESTROY_NOTIFY) failed_.store(true);
    std::free(event);
  }
  if (xcb_connection_has_error(connection_) != 0) failed_.store(true);
}

std::uint8_t* DirectPresenter::BeginPicture(int width, int height) {
  if (failed_.load() || width <= 0 || height <= 0 || width > 32767 || height > 32767) {
    return nullptr;
  }
  mutex_.lock();
  // The segment not on the screen; its last put was two frames ago.
  const int i = last_ == 0 ? 1 : 0;
  Segment& s = segments_[i];
  const std::size_t need = static_cast<std::size_t>(width) * 4 * static_cast<std::size_t>(height);
  if (s.size < need) {
    DropSegment(s);
    if (!MakeSegment(s, need)) {
      failed_.store(true);
      mutex_.unlock();
      return nullptr;
    }
  }
  Collect(s);
  writing_ = i;
  width_[i] = width;
  height_[i] = height;
  return s.data;
}

void DirectPresenter::EndPicture(int x, int y, const std::string& stamp) {
  if (writing_ < 0) return;
  const int i = writing_;
  Segment& s = segments_[i];
  const int w = width_[i], h = height_[i];
  if (overlay_) overlay_(s.data, w, h, stamp);
  xcb_shm_put_image(connection_, window_, gc_, static_cast<std::uint16_t>(w),
                    static_cast<std::uint16_t>(h), 0, 0, static_cast<std::uint16_t>(w),
                    static_cast<std::uint16_t>(h), static_cast<std::int16_t>(x),
                    static_cast<std::int16_t>(y), depth_, XCB_IMAGE_FORMAT_Z_PIXMAP, 0, s.id, 0);
  s.syncSequence = xcb_get_input_focus(connection_).sequence;
  s.syncPending = true;
  xcb_flush(connection_);
  last_ = i;
  writing_ = -1;
  lastStamp_ = stamp;
  presented_.fetch_add(1);
  CheckErrors();
  mutex_.unlock();
}

void DirectPresenter::WithLastPicture(
    const std::function<void(std::uint8_t*, int, int, const std::string&)>& f) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (last_ < 0 || segments_[last_].data == nullptr) return;
  f(segments_[last_].data, width_[last_], height_[last_], lastStamp_);
}

}  // namespace qmr
