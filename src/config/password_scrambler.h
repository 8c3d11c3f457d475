// The stored form of the two passwords in the settings file:
// Base64(TripleDES-ECB(password XOR pad, padded with the pad to 8 bytes)).
#pragma once

#include <string>

namespace qmr {

class PasswordScrambler {
 public:
  // False for an empty password; the output is then unchanged.
  static bool Scramble(const std::string& password, std::string& stored);
  // False for an empty stored text; the output is then unchanged.
  static bool Unscramble(const std::string& stored, std::string& password);
};

}  // namespace qmr
