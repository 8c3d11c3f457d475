// Test pictures as many cameras send Motion JPEG: without Huffman tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qmr::testing {

// The JPEG with every DHT segment before its scan left out.
inline std::vector<std::uint8_t> WithoutHuffmanTables(const std::uint8_t* jpeg,
                                                      std::size_t size) {
  std::vector<std::uint8_t> out(jpeg, jpeg + (size < 2 ? size : 2));
  std::size_t at = 2;
  while (at + 4 <= size && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA) {
    const std::size_t segment = 2 + ((std::size_t{jpeg[at + 2]} << 8) | jpeg[at + 3]);
    if (at + segment > size) break;
    if (jpeg[at + 1] != 0xC4) out.insert(out.end(), jpeg + at, jpeg + at + segment);
    at += segment;
  }
  if (at < size) out.insert(out.end(), jpeg + at, jpeg + size);
  return out;
}

inline std::vector<std::uint8_t> WithoutHuffmanTables(const std::vector<std::uint8_t>& jpeg) {
  return WithoutHuffmanTables(jpeg.data(), jpeg.size());
}

}  // namespace qmr::testing
