// A quick look at a JPEG's markers, without decoding it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qmr {

// True when data is one whole baseline (sequential, Huffman-coded) colour
// JPEG of width x height pictures: it starts with the start-of-image marker,
// its frame header is a baseline or extended sequential one with three
// components and these dimensions, a scan follows, and it ends with the
// end-of-image marker. Progressive, lossless and arithmetic-coded pictures,
// grey ones and damaged or cut ones are refused: only pictures that every
// Motion JPEG player shows are kept as they are. huffmanTables, when given,
// tells whether the picture carries its own Huffman tables (many cameras
// leave them out of Motion JPEG, which only video players make up for).
bool IsBaselineJpegOfSize(const std::uint8_t* data, std::size_t size, int width, int height,
                          bool* huffmanTables = nullptr);

// The length of the JPEG at the start of data: up to and with its last
// end-of-image marker, since cameras pad their pictures to the size of their
// buffers. (Scan data cannot hold that marker, so the last one found is the
// picture's end.) 0 when data does not start with a start-of-image marker
// or has no end marker: a picture cut short.
std::size_t JpegLength(const std::uint8_t* data, std::size_t size);

// A copy of a JPEG that lacks Huffman tables, as cameras send Motion JPEG,
// with the standard tables (which such pictures are coded with) put in just
// before its scan: a picture file every viewer opens, without compressing
// the picture again. False when data has no scan to put them before.
bool WithStandardHuffmanTables(const std::uint8_t* data, std::size_t size,
                               std::vector<std::uint8_t>& out);

}  // namespace qmr
