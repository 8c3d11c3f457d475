// Whether this processor has the instructions a fast path is built for,
// asked once per program run.
#pragma once

namespace qmr {

#if defined(__x86_64__)
inline bool HasSsse3() {
  static const bool has = __builtin_cpu_supports("ssse3");
  return has;
}
#endif

}  // namespace qmr
