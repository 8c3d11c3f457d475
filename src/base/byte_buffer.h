// A growable block of bytes with 20,480 bytes of slack when it grows, so that
// repeated appends (mail text, Base64 output) do not reallocate every call.
#pragma once

#include <cstdint>

namespace qmr {

class ByteBuffer {
 public:
  static constexpr std::int32_t kSlack = 20480;

  ByteBuffer() = default;
  virtual ~ByteBuffer();
  ByteBuffer(const ByteBuffer& other);
  ByteBuffer& operator=(const ByteBuffer& other);
  ByteBuffer(ByteBuffer&& other) noexcept;
  ByteBuffer& operator=(ByteBuffer&& other) noexcept;

  // Releases the block; capacity and length become 0.
  void Clear();
  // Capacity already size: zero the block unless keep. Otherwise a zeroed
  // block of exactly size bytes, the old contents copied when keep. The
  // length is unchanged (cut to size when it would exceed it). False when
  // memory runs out or size is negative; the buffer is then unchanged.
  bool Allocate(std::int32_t size, bool keep);
  // Appends count bytes; grows to capacity + count + slack when needed.
  // Returns the new length, or -1 when the buffer could not grow (unchanged).
  std::int32_t Append(const void* bytes, std::int32_t count);
  std::int32_t AppendFill(std::uint8_t byte, std::int32_t count);
  // Inserts before position (0 <= position < length). -1 when refused.
  std::int32_t Insert(const void* bytes, std::int32_t count, std::int32_t position);
  // First position at or after start where pattern occurs, or -1.
  std::int32_t Find(const void* pattern, std::int32_t count, std::int32_t start) const;
  // Removes count bytes at position; returns the new length or -1.
  std::int32_t Erase(std::int32_t position, std::int32_t count);
  // The copy rule for frames and results: reuse the block when it is large
  // enough, else clear and append. False when memory runs out.
  bool CopyFrom(const void* bytes, std::int32_t count);
  // Sets the length within the capacity (for writers that fill the block).
  bool SetLength(std::int32_t length);

  std::uint8_t* Data() { return data_; }
  const std::uint8_t* Data() const { return data_; }
  std::int32_t Capacity() const { return capacity_; }
  std::int32_t Length() const { return length_; }

 private:
  bool Grow(std::int64_t newCapacity);
  // True when bytes points into our own block.
  bool Aliases(const void* bytes) const;

  std::uint8_t* data_ = nullptr;
  std::int32_t capacity_ = 0;
  std::int32_t length_ = 0;
};

}  // namespace qmr
