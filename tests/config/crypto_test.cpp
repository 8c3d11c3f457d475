#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "config/base64_codec.h"
#include "config/password_scrambler.h"
#include "config/triple_des_cipher.h"
#include "../support/temp_folder.h"

namespace qmr {
namespace {

std::vector<std::uint8_t> FromHex(const std::string& hex) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::string ToHex(const std::uint8_t* bytes, std::size_t n) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}

std::string OutputText(const ByteBuffer& b) {
  return std::string(reinterpret_cast<const char*>(b.Data()), static_cast<std::size_t>(b.Length()));
}

TEST(DesTest, KnownAnswers) {
  struct Vector {
    const char* key;
    const char* plain;
    const char* cipher;
  };
  const Vector vectors[] = {
      {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
      {"0E329232EA6D0D73", "8787878787878787", "0000000000000000"},
      {"0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
      {"0101010101010101", "95F8A5E5DD31D900", "8000000000000000"},
      {"8001010101010101", "0000000000000000", "95A8D72813DAA94D"},
  };
  for (const Vector& v : vectors) {
    DesKeySchedule schedule;
    schedule.Prepare(FromHex(v.key).data());
    std::vector<std::uint8_t> block = FromHex(v.plain);
    schedule.Encrypt(block.data());
    EXPECT_EQ(ToHex(block.data(), 8), v.cipher) << v.key;
    schedule.Decrypt(block.data());
    EXPECT_EQ(ToHex(block.data(), 8), v.plain) << v.key;
  }
}

TEST(DesTest, TripleDesMatchesOpenssl) {
  testing::TempFolder tmp;
  std::mt19937 random(7);
  std::array<std::uint8_t, TripleDesCipher::kKeySize> key;
  for (auto& b : key) b = static_cast<std::uint8_t>(random());
  std::string plain(64, '\0');
  for (auto& c : plain) c = static_cast<char>(random());
  testing::WriteWhole(tmp.File("plain"), plain);

  const std::string command = "openssl enc -des-ede3 -nopad -nosalt -K " +
                              ToHex(key.data(), key.size()) + " -in " + tmp.File("plain");
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string expected;
  char buf[256];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof(buf), pipe)) > 0) expected.append(buf, n);
  ASSERT_EQ(pclose(pipe), 0) << "openssl failed";
  ASSERT_EQ(expected.size(), plain.size());

  TripleDesCipher cipher(key);
  ASSERT_TRUE(cipher.Encrypt(plain.data(), static_cast<std::int32_t>(plain.size())));
  EXPECT_EQ(OutputText(cipher.Output()), expected);
  // Switching direction on the same object prepares the schedules again.
  ASSERT_TRUE(cipher.Decrypt(expected.data(), static_cast<std::int32_t>(expected.size())));
  EXPECT_EQ(OutputText(cipher.Output()), plain);

  // Ten bytes: one enciphered block and two bytes masked with key byte 0.
  ASSERT_TRUE(cipher.Encrypt(plain.data(), 10));
  ASSERT_EQ(cipher.Output().Length(), 10);
  EXPECT_EQ(OutputText(cipher.Output()).substr(0, 8), expected.substr(0, 8));
  EXPECT_EQ(cipher.Output().Data()[8], static_cast<std::uint8_t>(plain[8] ^ key[0]));
  EXPECT_EQ(cipher.Output().Data()[9], static_cast<std::uint8_t>(plain[9] ^ key[0]));
}

TEST(Base64Test, StandardVectorsAndStrayCharacters) {
  const std::pair<std::string, std::string> vectors[] = {
      {"f", "Zg=="},        {"fo", "Zm8="},        {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
  Base64Codec codec;
  for (const auto& [plain, encoded] : vectors) {
    ASSERT_TRUE(codec.Encode(plain.data(), static_cast<std::int32_t>(plain.size())));
    EXPECT_EQ(OutputText(codec.Output()), encoded);
    EXPECT_EQ(codec.Output().Data()[codec.Output().Length()], 0);  // terminated
    ASSERT_TRUE(codec.Decode(encoded.data(), static_cast<std::int32_t>(encoded.size())));
    EXPECT_EQ(OutputText(codec.Output()), plain);
  }
  EXPECT_FALSE(codec.Encode("", 0));
  EXPECT_FALSE(codec.Decode("", 0));

  // Line breaks and blanks are skipped; "=" ends the text; a lone value is
  // dropped.
  const std::string wrapped = "Zm9v\r\nYmFy\n Zm9v Yg==QUJD";
  ASSERT_TRUE(codec.Decode(wrapped.data(), static_cast<std::int32_t>(wrapped.size())));
  EXPECT_EQ(OutputText(codec.Output()), "foobarfoob");
  ASSERT_TRUE(codec.Decode("Zm9vY", 5));
  EXPECT_EQ(OutputText(codec.Output()), "foo");

  // Every byte value survives a round trip.
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  ASSERT_TRUE(codec.Encode(all.data(), 256));
  const std::string text = OutputText(codec.Output());
  EXPECT_EQ(text.find('\n'), std::string::npos);
  ASSERT_TRUE(codec.Decode(text.data(), static_cast<std::int32_t>(text.size())));
  EXPECT_EQ(OutputText(codec.Output()), all);
}

TEST(PasswordScramblerTest, RoundTripsEveryLength) {
  std::string previous;
  for (int length = 1; length <= 40; ++length) {
    std::string password;
    for (int i = 0; i < length; ++i) password += static_cast<char>('!' + (i * 7 + length) % 90);
    std::string stored;
    ASSERT_TRUE(PasswordScrambler::Scramble(password, stored));
    const int blocks = (length + 7) / 8 * 8;
    EXPECT_EQ(stored.size(), static_cast<std::size_t>((blocks + 2) / 3 * 4)) << length;
    EXPECT_EQ(stored.find_first_not_of(
                  "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
              std::string::npos);
    std::string back;
    ASSERT_TRUE(PasswordScrambler::Unscramble(stored, back));
    EXPECT_EQ(back, password) << length;
    EXPECT_NE(stored, previous);
    previous = stored;
  }
  std::string stored;
  ASSERT_TRUE(PasswordScrambler::Scramble("12345678", stored));
  EXPECT_EQ(stored.size(), 12u);
  ASSERT_TRUE(PasswordScrambler::Scramble("123456789", stored));
  EXPECT_EQ(stored.size(), 24u);

  // Empty input is refused and leaves the output alone.
  std::string out = "unchanged";
  EXPECT_FALSE(PasswordScrambler::Scramble("", out));
  EXPECT_FALSE(PasswordScrambler::Unscramble("", out));
  EXPECT_EQ(out, "unchanged");
  // Garbage never crashes; it just gives some text.
  EXPECT_TRUE(PasswordScrambler::Unscramble("!!not base64 at all~~", out));
  EXPECT_TRUE(PasswordScrambler::Unscramble("QUJD", out));
}

TEST(PasswordScramblerTest, StoredFormIsStable) {
  // Settings files already written must stay readable: the key, tail byte and
  // pad are part of the file format.
  std::string stored;
  ASSERT_TRUE(PasswordScrambler::Scramble("secret", stored));
  EXPECT_EQ(stored, "fTl+qdA2O+c=");
}

}  // namespace
}  // namespace qmr
