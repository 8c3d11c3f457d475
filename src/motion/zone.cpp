#include "motion/zone.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

namespace qmr {

void Zone::MoveTo(double newLeft, double newTop) {
  const double width = right - left;
  const double height = bottom - top;
  left = newLeft;
  top = newTop;
  right = newLeft + width;
  bottom = newTop + height;
}

std::unique_ptr<Zone> Zone::Copy() const {
  auto copy = MakeZone(kind);
  copy->lineWidth = lineWidth;
  copy->left = left;
  copy->top = top;
  copy->right = right;
  copy->bottom = bottom;
  copy->owner = owner;
  return copy;
}

SensibleZone::SensibleZone(double l, double t, double r, double b) : Zone(kSensibleZoneKind) {
  left = l;
  top = t;
  right = r;
  bottom = b;
}

MaskZone::MaskZone(double l, double t, double r, double b) : Zone(kMaskZoneKind) {
  left = l;
  top = t;
  right = r;
  bottom = b;
}

std::unique_ptr<Zone> MakeZone(int kind) {
  if (kind == kMaskZoneKind) return std::make_unique<MaskZone>();
  if (kind == kSensibleZoneKind) return std::make_unique<SensibleZone>();
  return std::make_unique<Zone>(kind);
}

bool IsInside(const Zone& a, const Zone& b) {
  return b.left <= a.left && a.left <= b.right && b.left <= a.right && a.right <= b.right &&
         b.top <= a.top && a.top <= b.bottom && b.top <= a.bottom && a.bottom <= b.bottom;
}

bool Intersects(const Zone& a, const Zone& b) {
  return std::min(a.right, b.right) - std::max(a.left, b.left) >= 0 &&
         std::min(a.bottom, b.bottom) - std::max(a.top, b.top) >= 0;
}

namespace {

// Decimal integer as atoi reads it: leading blanks, optional sign, digits up
// to the first other character; no digits give 0. Saturates instead of
// overflowing.
int ReadInteger(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' ||
                             text[i] == '\r' || text[i] == '\v' || text[i] == '\f')) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > INT_MAX) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(separator, start);
    if (end == std::string::npos) {
      pieces.push_back(text.substr(start));
      return pieces;
    }
    pieces.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

int TruncateToInt(double value) {
  if (!(value == value)) return 0;  // NaN
  return static_cast<int>(std::clamp(std::trunc(value), static_cast<double>(INT_MIN),
                                     static_cast<double>(INT_MAX)));
}

}  // namespace

void ParseZoneList(const std::string& text, bool isMask, ZoneList& out) {
  if (text.empty()) return;
  for (const std::string& piece : Split(text, '$')) {
    const std::vector<std::string> fields = Split(piece, ',');
    if (fields.size() != 4) continue;
    auto zone = MakeZone(isMask ? kMaskZoneKind : kSensibleZoneKind);
    zone->left = ReadInteger(fields[0]);
    zone->top = ReadInteger(fields[1]);
    zone->right = ReadInteger(fields[2]);
    zone->bottom = ReadInteger(fields[3]);
    out.push_back(std::move(zone));
  }
}

std::string FormatZoneList(const ZoneList& zones) {
  std::string text;
  for (const auto& zone : zones) {
    char piece[64];
    std::snprintf(piece, sizeof piece, "%d,%d,%d,%d", TruncateToInt(zone->left),
                  TruncateToInt(zone->top), TruncateToInt(zone->right),
                  TruncateToInt(zone->bottom));
    if (!text.empty()) text += '$';
    text += piece;
  }
  return text;
}

void CopyZones(const ZoneList& from, ZoneList& to) {
  for (const auto& zone : from) to.push_back(zone->Copy());
}

}  // namespace qmr
