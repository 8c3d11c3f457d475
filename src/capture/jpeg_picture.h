// Turns a camera's JPEG back into a frame's pixels, for the frames whose
// pixels were not decoded whole when they arrived (only the live preview
// needed them, at a reduced size).
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/byte_buffer.h"

namespace qmr {

// Decodes jpeg into out as width x height bottom-up BGR24 rows of width * 3
// bytes, upsampling chroma the way the streaming decoder does. False (out's
// length 0) when the data is not a readable JPEG of exactly that size or
// memory runs out. A warning (damaged data that still gives a whole picture)
// is not a failure.
bool DecodeJpegFrame(const std::uint8_t* jpeg, std::size_t size, int width, int height,
                     ByteBuffer& out);

}  // namespace qmr
