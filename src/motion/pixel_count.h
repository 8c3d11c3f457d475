// Counting changed pixels along one row, many at a time.
#pragma once

#include <cstdint>

namespace qmr {

// Judges every second pixel of a run of `pixels` 3-byte pixels (pixel 0, 2,
// 4, ...) between reference and current with PixelChanged and returns how
// many changed. Reads only the run's pixels * 3 bytes. Uses SIMD where the
// processor has it; the result is the same as the pixel-by-pixel test.
int CountChangedSamples(const std::uint8_t* reference, const std::uint8_t* current, int pixels);

// The pixel-by-pixel version of the same count.
int CountChangedSamplesScalar(const std::uint8_t* reference, const std::uint8_t* current,
                              int pixels);

// The count on one particular instruction set, so that tests can check each
// one this processor has. False (count untouched) when it lacks it.
enum class PixelCountPath { kScalar, kSse, kAvx2 };
bool CountChangedSamplesOn(PixelCountPath path, const std::uint8_t* reference,
                           const std::uint8_t* current, int pixels, int& count);

// Moves every byte of background toward the byte of current at the same
// place: by at most quietStep levels where the two differ by no more than
// kBackgroundQuietLevels (noise, slow light drift), and by at most
// changedStep levels where they differ more (something in the picture that
// is not background yet). Steps are 0 to 255.
inline constexpr int kBackgroundQuietLevels = 16;
void StepBackground(std::uint8_t* background, const std::uint8_t* current, int bytes, int quietStep,
                    int changedStep);
void StepBackgroundScalar(std::uint8_t* background, const std::uint8_t* current, int bytes,
                          int quietStep, int changedStep);

}  // namespace qmr
