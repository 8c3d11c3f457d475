// When one pixel counts as changed between two frames. The three byte
// differences (reference minus current, by storage position) are turned into a
// luma and two chroma differences; the pixel changed when |Y| > 16, |V| > 8 or
// |U| > 8, each truncated toward zero.
#pragma once

#include <cstdint>
#include <cstdlib>

namespace qmr {

// The verdict evaluated in double, term by term, exactly as the weights are
// written. Everything else must agree with it bit for bit.
inline bool PixelDifferenceChangedExact(int d0, int d1, int d2) {
  const double y = 0.2569 * d0 + 0.0978 * d2 + 0.5044 * d1;
  if (std::abs(static_cast<int>(y)) > 16) return true;
  const double v = 0.4392 * d0 - 0.3679 * d1 - 0.0713 * d2;
  if (std::abs(static_cast<int>(v)) > 8) return true;
  const double u = 0.4393 * d2 - (0.1484 * d0 + 0.2909 * d1);
  return std::abs(static_cast<int>(u)) > 8;
}

// The same verdict in integers: the weights are whole multiples of 1/10000,
// so 10000 × Y is an exact integer S, and trunc(Y) > 16 means S >= 170000.
// Only a sum that lands exactly on a limit can be rounded either way by the
// double arithmetic; those few cases take the double path.
inline bool PixelDifferenceChanged(int d0, int d1, int d2) {
  const int y = 2569 * d0 + 5044 * d1 + 978 * d2;
  if (y > 170000 || y < -170000) return true;
  const int v = 4392 * d0 - 3679 * d1 - 713 * d2;
  if (v > 90000 || v < -90000) return true;
  const int u = 4393 * d2 - 1484 * d0 - 2909 * d1;
  if (u > 90000 || u < -90000) return true;
  if (y == 170000 || y == -170000 || v == 90000 || v == -90000 || u == 90000 || u == -90000) {
    return PixelDifferenceChangedExact(d0, d1, d2);
  }
  return false;
}

// Compares the 3-byte pixel at reference and current.
inline bool PixelChanged(const std::uint8_t* reference, const std::uint8_t* current) {
  return PixelDifferenceChanged(int{reference[0]} - int{current[0]},
                                int{reference[1]} - int{current[1]},
                                int{reference[2]} - int{current[2]});
}

}  // namespace qmr
