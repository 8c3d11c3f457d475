// Frames and zones for the motion tests.
#pragma once

#include <cstdint>
#include <cstring>

#include "capture/video_frame.h"
#include "motion/zone.h"

namespace qmr::test {

// A bottom-up 24-bit frame of one grey level, stamped with the given
// millisecond so that every frame counts as new.
inline VideoFrame MakeFrame(int width, int height, std::uint8_t level, int millisecond = 0) {
  VideoFrame frame;
  frame.header.width = width;
  frame.header.height = height;
  frame.header.bitCount = 24;
  frame.header.sizeImage = static_cast<std::uint32_t>(width * height * 3);
  frame.pixels.Clear();
  frame.pixels.AppendFill(level, width * height * 3);
  frame.captureTime.year = 2026;
  frame.captureTime.month = 1;
  frame.captureTime.day = 1;
  frame.captureTime.second = static_cast<std::uint16_t>(millisecond / 1000 % 60);
  frame.captureTime.minute = static_cast<std::uint16_t>(millisecond / 60000 % 60);
  frame.captureTime.milliseconds = static_cast<std::uint16_t>(millisecond % 1000);
  return frame;
}

// Paints the rectangle [x0, x1) x [y0, y1) of the picture as the user sees
// it (y from the top) in the given level.
inline void PaintShown(VideoFrame& frame, int x0, int y0, int x1, int y1, std::uint8_t level) {
  const int width = frame.Width();
  const int height = frame.Height();
  for (int y = y0; y < y1; ++y) {
    const int stored = height - 1 - y;
    std::memset(frame.pixels.Data() + (static_cast<size_t>(stored) * width + x0) * 3, level,
                static_cast<size_t>(x1 - x0) * 3);
  }
}

inline ZoneList Zones(std::initializer_list<Zone> zones) {
  ZoneList list;
  for (const Zone& zone : zones) list.push_back(zone.Copy());
  return list;
}

}  // namespace qmr::test
