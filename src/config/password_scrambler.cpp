#include "config/password_scrambler.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "config/base64_codec.h"
#include "config/triple_des_cipher.h"

namespace qmr {

namespace {

// Fixed values of the stored form; changing them makes existing settings
// files unreadable.
constexpr std::uint8_t kTailByte = 0x98;
constexpr char kPad[9] = "09557504";

}  // namespace

bool PasswordScrambler::Scramble(const std::string& password, std::string& stored) {
  if (password.empty()) return false;
  const std::size_t length = password.size();
  const std::size_t padded = (length + 7) / 8 * 8;
  if (padded > static_cast<std::size_t>(INT32_MAX / 2)) return false;
  std::vector<std::uint8_t> block(padded);
  for (std::size_t i = 0; i < padded; ++i) {
    block[i] = static_cast<std::uint8_t>(kPad[i % 8]);
    if (i < length) block[i] ^= static_cast<std::uint8_t>(password[i]);
  }
  TripleDesCipher cipher(kTailByte);
  if (!cipher.Encrypt(block.data(), static_cast<std::int32_t>(padded))) return false;
  Base64Codec codec;
  if (!codec.Encode(cipher.Output().Data(), cipher.Output().Length())) return false;
  stored.assign(reinterpret_cast<const char*>(codec.Output().Data()),
                static_cast<std::size_t>(codec.Output().Length()));
  return true;
}

bool PasswordScrambler::Unscramble(const std::string& stored, std::string& password) {
  if (stored.empty()) return false;
  if (stored.size() > static_cast<std::size_t>(INT32_MAX / 2)) return false;
  Base64Codec codec;
  if (!codec.Decode(stored.data(), static_cast<std::int32_t>(stored.size()))) return false;
  TripleDesCipher cipher(kTailByte);
  if (!cipher.Decrypt(codec.Output().Data(), codec.Output().Length())) return false;
  const std::uint8_t* bytes = cipher.Output().Data();
  const std::int32_t count = cipher.Output().Length();
  std::string result;
  for (std::int32_t i = 0; i < count; ++i) {
    const char c = static_cast<char>(bytes[i] ^ static_cast<std::uint8_t>(kPad[i % 8]));
    if (c == 0) break;
    result += c;
  }
  password = result;
  return true;
}

}  // namespace qmr
