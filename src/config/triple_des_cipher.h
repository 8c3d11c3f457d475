// Triple DES (encrypt-decrypt-encrypt) in ECB mode under the program's fixed
// 24-byte key; a tail shorter than a block is XORed with the tail byte.
#pragma once

#include <array>
#include <cstdint>

#include "base/byte_buffer.h"

namespace qmr {

// One DES key schedule (FIPS 46-3): sixteen 48-bit round keys.
class DesKeySchedule {
 public:
  void Prepare(const std::uint8_t key[8]);
  // Enciphers (or deciphers) one 8-byte block in place.
  void Encrypt(std::uint8_t block[8]) const;
  void Decrypt(std::uint8_t block[8]) const;

 private:
  std::array<std::uint64_t, 16> roundKeys_{};
};

class TripleDesCipher {
 public:
  static constexpr std::size_t kKeySize = 24;

  // The tail byte replaces byte 0 of the fixed key.
  explicit TripleDesCipher(std::uint8_t tailByte);
  // For tests: an explicit 24-byte key, used as is.
  explicit TripleDesCipher(const std::array<std::uint8_t, kKeySize>& key);
  virtual ~TripleDesCipher() = default;

  virtual bool Encrypt(const void* bytes, std::int32_t count);
  virtual bool Decrypt(const void* bytes, std::int32_t count);
  const ByteBuffer& Output() const { return output_; }

 private:
  enum class Direction { None, Encrypt, Decrypt };
  void Prepare(Direction direction);
  bool Run(const void* bytes, std::int32_t count, Direction direction);

  ByteBuffer output_;
  std::array<std::uint8_t, kKeySize> key_{};
  DesKeySchedule k1_, k2_, k3_;
  Direction prepared_ = Direction::None;
};

}  // namespace qmr
