#include "config/base64_codec.h"

#include <cstdint>

namespace qmr {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int SixBits(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

bool Base64Codec::Encode(const void* bytes, std::int32_t count) {
  if (!bytes || count < 1) return false;
  const std::int64_t groups = count / 3;
  const std::int64_t length = 4 * groups + (count % 3 ? 4 : 0);
  // At least one zero byte follows the text.
  const std::int64_t size = 4 * groups + 5;
  if (size > INT32_MAX) return false;
  if (!output_.Allocate(static_cast<std::int32_t>(size), false)) return false;
  const auto* in = static_cast<const std::uint8_t*>(bytes);
  std::uint8_t* out = output_.Data();
  std::int64_t o = 0;
  std::int32_t i = 0;
  for (; i + 3 <= count; i += 3) {
    const std::uint32_t v = (in[i] << 16) | (in[i + 1] << 8) | in[i + 2];
    out[o++] = kAlphabet[(v >> 18) & 63];
    out[o++] = kAlphabet[(v >> 12) & 63];
    out[o++] = kAlphabet[(v >> 6) & 63];
    out[o++] = kAlphabet[v & 63];
  }
  const int rest = count - i;
  if (rest > 0) {
    const std::uint32_t v = (in[i] << 16) | (rest == 2 ? in[i + 1] << 8 : 0);
    out[o++] = kAlphabet[(v >> 18) & 63];
    out[o++] = kAlphabet[(v >> 12) & 63];
    out[o++] = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out[o++] = '=';
  }
  output_.SetLength(static_cast<std::int32_t>(length));
  return true;
}

bool Base64Codec::Decode(const char* text, std::int32_t count) {
  if (!text || count < 1) return false;
  const std::int64_t size = 3 * (static_cast<std::int64_t>(count) / 4) + 4;
  if (size > INT32_MAX) return false;
  if (!output_.Allocate(static_cast<std::int32_t>(size), false)) return false;
  std::uint8_t* out = output_.Data();
  std::int32_t o = 0;
  std::uint32_t group = 0;
  int held = 0;
  for (std::int32_t i = 0; i < count; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '=') break;
    const int v = SixBits(c);
    if (v < 0) continue;  // line breaks, blanks and other strays
    group = (group << 6) | static_cast<std::uint32_t>(v);
    if (++held == 4) {
      out[o++] = static_cast<std::uint8_t>(group >> 16);
      out[o++] = static_cast<std::uint8_t>(group >> 8);
      out[o++] = static_cast<std::uint8_t>(group);
      group = 0;
      held = 0;
    }
  }
  // Two or three leftover values give one or two bytes; a single one none.
  if (held == 2) {
    out[o++] = static_cast<std::uint8_t>(group >> 4);
  } else if (held == 3) {
    out[o++] = static_cast<std::uint8_t>(group >> 10);
    out[o++] = static_cast<std::uint8_t>(group >> 2);
  }
  output_.SetLength(o);
  return true;
}

}  // namespace qmr
