// Capture formats and video properties as the capture device reports them.
#pragma once

#include <array>
#include <cstdint>

namespace qmr {

// One capture capability: 24-bit RGB frames of sizes from minimum to
// maximum output in steps of the granularity, at frame rates between
// minFrameRate and maxFrameRate (frames per second). Discrete sizes have
// minimum = maximum = input size and granularity 0.
struct VideoCapability {
  int inputWidth = 0, inputHeight = 0;
  int minWidth = 0, minHeight = 0;
  int maxWidth = 0, maxHeight = 0;
  int granularityX = 0, granularityY = 0;
  int maxFrameRate = 0;
  int minFrameRate = 0;
};

// Video properties by index; the names are the labels of the property dialog
// and, upper-cased, the per-camera settings keys.
enum VideoProperty : int {
  kPropBrightness = 0,
  kPropContrast = 1,
  kPropHue = 2,
  kPropSaturation = 3,
  kPropSharpness = 4,
  kPropGamma = 5,
  kPropColorEnable = 6,
  kPropWhiteBalance = 7,
  kPropBacklightCompensation = 8,
  kPropGain = 9,
  kPropExposure = 10,
};
constexpr int kVideoPropertyCount = 11;
inline constexpr std::array<const char*, kVideoPropertyCount> kPropertyNames = {
    "Brightness", "Contrast",   "Hue",          "Saturation",            "Sharpness", "Gamma",
    "ColorEnable", "WhiteBalance", "BacklightCompensation", "Gain", "Exposure"};

// Property flags: the value is set by the device itself (auto) or by hand.
constexpr long kPropertyFlagAuto = 0x1;
constexpr long kPropertyFlagManual = 0x2;

struct PropertyRange {
  long minimum = 0;
  long maximum = 0;
  long step = 1;
  long defaultValue = 0;
  long flags = kPropertyFlagManual;  // the flags the property supports
};

}  // namespace qmr
