// RFC 4648 Base64 without line breaks; decoding skips characters outside the
// alphabet and stops at the first "=".
#pragma once

#include <cstdint>

#include "base/byte_buffer.h"

namespace qmr {

class Base64Codec {
 public:
  virtual ~Base64Codec() = default;
  // The text lies in Output(), followed by at least one zero byte.
  virtual bool Encode(const void* bytes, std::int32_t count);
  virtual bool Decode(const char* text, std::int32_t count);
  const ByteBuffer& Output() const { return output_; }

 private:
  ByteBuffer output_;
};

}  // namespace qmr
