// A camera's own YUYV 4:2:2 pictures turned into BGR24 here instead of by
// libv4l2: the same integer arithmetic as its conversion, so the pictures
// (and what the detector makes of them) stay exactly what they were, but
// eight pixels per step, and straight into the capture sample's bottom-up
// rows instead of into a top-down copy that is flipped afterwards.
#pragma once

#include <cstdint>

namespace qmr {

// One row: width pixels (width even) of Y0 U Y1 V quadruples into width * 3
// bytes of blue, green, red.
void YuyvRowToBgr(const std::uint8_t* yuyv, int width, std::uint8_t* bgr);

// A whole picture of rows stride bytes apart (top row first) into height
// rows of width * 3 bytes, bottom row first.
void YuyvToBottomUpBgr(const std::uint8_t* yuyv, int stride, int width, int height,
                       std::uint8_t* bgr);

}  // namespace qmr
