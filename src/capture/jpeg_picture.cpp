#include "capture/jpeg_picture.h"

#include <turbojpeg.h>

#include <memory>

namespace qmr {

namespace {

struct TurboFreer {
  void operator()(void* h) const { tjDestroy(h); }
};

}  // namespace

bool DecodeJpegFrame(const std::uint8_t* jpeg, std::size_t size, int width, int height,
                     ByteBuffer& out) {
  out.SetLength(0);
  if (jpeg == nullptr || size == 0 || width <= 0 || height <= 0) return false;
  const std::int64_t bytes = static_cast<std::int64_t>(width) * 3 * height;
  if (bytes > 0x7FFFFFFF - ByteBuffer::kSlack) return false;
  std::unique_ptr<void, TurboFreer> turbo(tjInitDecompress());
  if (!turbo) return false;
  int w = 0, h = 0, subsampling = 0, colourspace = 0;
  if (tjDecompressHeader3(turbo.get(), jpeg, static_cast<unsigned long>(size), &w, &h,
                          &subsampling, &colourspace) != 0 ||
      w != width || h != height) {
    return false;
  }
  if (out.Capacity() < bytes && !out.Allocate(static_cast<std::int32_t>(bytes), false)) {
    return false;
  }
  out.SetLength(static_cast<std::int32_t>(bytes));
  const bool filled = tjDecompress2(turbo.get(), jpeg, static_cast<unsigned long>(size),
                                    out.Data(), width, width * 3, height, TJPF_BGR,
                                    TJFLAG_BOTTOMUP | TJFLAG_FASTUPSAMPLE) == 0 ||
                      tjGetErrorCode(turbo.get()) == TJERR_WARNING;
  if (!filled) out.SetLength(0);
  return filled;
}

}  // namespace qmr
