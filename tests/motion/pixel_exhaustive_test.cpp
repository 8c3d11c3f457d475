// The pixel change test in its fast forms against the formula in double.
// Built with optimisation: it walks all 511^3 triples of byte differences.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "motion/pixel_count.h"
#include "motion/pixel_test.h"

namespace qmr {
namespace {

// The integer verdict and every row counter must agree with the double
// formula for every triple of byte differences. The row counters are fed
// one buffer of all changed triples and one of all unchanged ones, so a
// matching total proves every single sample.
TEST(PixelTest, FastVerdictsEqualDoubleFormulaForEveryDifference) {
  const PixelCountPath paths[] = {PixelCountPath::kScalar, PixelCountPath::kSse,
                                  PixelCountPath::kAvx2};
  long long mismatches = 0;
  long long wrongCounts = 0;
  constexpr size_t kMaxBytes = 511 * 511 * 6;
  std::vector<std::uint8_t> changedRef(kMaxBytes), changedCur(kMaxBytes), quietRef(kMaxBytes),
      quietCur(kMaxBytes);
  size_t changedBytes = 0;
  size_t quietBytes = 0;
  // One sample, then the unsampled pixel after it: a large change to ignore.
  auto put = [](std::uint8_t* ref, std::uint8_t* cur, size_t& at, int d0, int d1, int d2) {
    const int d[3] = {d0, d1, d2};
    for (int i = 0; i < 3; ++i) {
      ref[at + i] = static_cast<std::uint8_t>(d[i] > 0 ? d[i] : 0);
      cur[at + i] = static_cast<std::uint8_t>(d[i] < 0 ? -d[i] : 0);
      ref[at + 3 + i] = 0;
      cur[at + 3 + i] = 255;
    }
    at += 6;
  };
  for (int d0 = -255; d0 <= 255; ++d0) {
    changedBytes = 0;
    quietBytes = 0;
    for (int d1 = -255; d1 <= 255; ++d1) {
      for (int d2 = -255; d2 <= 255; ++d2) {
        const bool exact = PixelDifferenceChangedExact(d0, d1, d2);
        if (PixelDifferenceChanged(d0, d1, d2) != exact) {
          if (++mismatches <= 5) ADD_FAILURE() << d0 << "," << d1 << "," << d2;
        }
        if (exact) {
          put(changedRef.data(), changedCur.data(), changedBytes, d0, d1, d2);
        } else {
          put(quietRef.data(), quietCur.data(), quietBytes, d0, d1, d2);
        }
      }
    }
    // The last unsampled pixel is left out of each run.
    const int changedPixels = std::max(0, static_cast<int>(changedBytes / 3) - 1);
    const int quietPixels = std::max(0, static_cast<int>(quietBytes / 3) - 1);
    for (PixelCountPath path : paths) {
      int changed = -1;
      int quiet = -1;
      if (!CountChangedSamplesOn(path, changedRef.data(), changedCur.data(), changedPixels,
                                 changed)) {
        continue;
      }
      CountChangedSamplesOn(path, quietRef.data(), quietCur.data(), quietPixels, quiet);
      if (changed != (changedPixels + 1) / 2 || quiet != 0) {
        if (++wrongCounts <= 5) {
          ADD_FAILURE() << "path " << static_cast<int>(path) << " d0 " << d0 << ": " << changed
                        << " of " << (changedPixels + 1) / 2 << " changed, " << quiet
                        << " wrongly";
        }
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(wrongCounts, 0);
}

}  // namespace
}  // namespace qmr
