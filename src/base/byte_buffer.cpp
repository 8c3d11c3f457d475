#include "base/byte_buffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <new>
#include <utility>

namespace qmr {

namespace {
constexpr std::int64_t kMaxSize = std::numeric_limits<std::int32_t>::max();
}

ByteBuffer::~ByteBuffer() { std::free(data_); }

ByteBuffer::ByteBuffer(const ByteBuffer& other) { CopyFrom(other.data_, other.length_); }

ByteBuffer& ByteBuffer::operator=(const ByteBuffer& other) {
  if (this != &other) CopyFrom(other.data_, other.length_);
  return *this;
}

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      capacity_(std::exchange(other.capacity_, 0)),
      length_(std::exchange(other.length_, 0)) {}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
  if (this != &other) {
    std::free(data_);
    data_ = std::exchange(other.data_, nullptr);
    capacity_ = std::exchange(other.capacity_, 0);
    length_ = std::exchange(other.length_, 0);
  }
  return *this;
}

void ByteBuffer::Clear() {
  std::free(data_);
  data_ = nullptr;
  capacity_ = 0;
  length_ = 0;
}

bool ByteBuffer::Allocate(std::int32_t size, bool keep) {
  if (size < 0) return false;
  if (size == capacity_) {
    if (!keep && data_) std::memset(data_, 0, static_cast<std::size_t>(capacity_));
    return true;
  }
  auto* block = static_cast<std::uint8_t*>(std::calloc(size > 0 ? size : 1, 1));
  if (!block) return false;
  if (keep && data_) std::memcpy(block, data_, static_cast<std::size_t>(std::min(size, length_)));
  std::free(data_);
  data_ = block;
  capacity_ = size;
  if (length_ > size) length_ = size;
  return true;
}

bool ByteBuffer::Aliases(const void* bytes) const {
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  return data_ && std::less_equal<>()(data_, p) && std::less<>()(p, data_ + capacity_);
}

bool ByteBuffer::Grow(std::int64_t newCapacity) {
  if (newCapacity > kMaxSize) return false;
  return Allocate(static_cast<std::int32_t>(newCapacity), true);
}

std::int32_t ByteBuffer::Append(const void* bytes, std::int32_t count) {
  if (count < 1 || !bytes) return length_;
  if (capacity_ - length_ < count) {
    // The source may lie in our own block, which growing releases.
    if (Aliases(bytes)) {
      ByteBuffer copy;
      if (copy.Append(bytes, count) < 0) return -1;
      return Append(copy.data_, count);
    }
    if (!Grow(static_cast<std::int64_t>(capacity_) + count + kSlack)) return -1;
  }
  std::memmove(data_ + length_, bytes, static_cast<std::size_t>(count));
  length_ += count;
  return length_;
}

std::int32_t ByteBuffer::AppendFill(std::uint8_t byte, std::int32_t count) {
  if (count < 1) return length_;
  if (capacity_ - length_ < count) {
    if (!Grow(static_cast<std::int64_t>(capacity_) + count + kSlack)) return -1;
  }
  std::memset(data_ + length_, byte, static_cast<std::size_t>(count));
  length_ += count;
  return length_;
}

std::int32_t ByteBuffer::Insert(const void* bytes, std::int32_t count, std::int32_t position) {
  if (!bytes || count < 1 || position < 0 || position >= length_) return -1;
  // The source may lie in our own block, which the move below shifts and
  // growing releases.
  if (Aliases(bytes)) {
    ByteBuffer copy;
    if (copy.Append(bytes, count) < 0) return -1;
    return Insert(copy.data_, count, position);
  }
  if (capacity_ - length_ < count) {
    if (!Grow(static_cast<std::int64_t>(length_) + count + kSlack)) return -1;
  }
  std::memmove(data_ + position + count, data_ + position,
               static_cast<std::size_t>(length_ - position));
  std::memcpy(data_ + position, bytes, static_cast<std::size_t>(count));
  length_ += count;
  return length_;
}

std::int32_t ByteBuffer::Find(const void* pattern, std::int32_t count, std::int32_t start) const {
  if (!pattern || count < 1 || start < 0 || !data_) return -1;
  const auto* p = static_cast<const std::uint8_t*>(pattern);
  for (std::int64_t i = start; i + count <= length_; ++i) {
    if (data_[i] == p[0] && std::memcmp(data_ + i, p, static_cast<std::size_t>(count)) == 0)
      return static_cast<std::int32_t>(i);
  }
  return -1;
}

std::int32_t ByteBuffer::Erase(std::int32_t position, std::int32_t count) {
  if (position < 0 || count < 1 || position >= length_ ||
      static_cast<std::int64_t>(position) + count > length_)
    return -1;
  std::memmove(data_ + position, data_ + position + count,
               static_cast<std::size_t>(length_ - position - count));
  length_ -= count;
  return length_;
}

bool ByteBuffer::CopyFrom(const void* bytes, std::int32_t count) {
  if (count <= 0 || !bytes) {
    length_ = 0;
    return true;
  }
  if (capacity_ >= count) {
    std::memmove(data_, bytes, static_cast<std::size_t>(count));
    length_ = count;
    return true;
  }
  ByteBuffer fresh;
  if (fresh.Append(bytes, count) < 0) return false;
  *this = std::move(fresh);
  return true;
}

bool ByteBuffer::SetLength(std::int32_t length) {
  if (length < 0 || length > capacity_) return false;
  length_ = length;
  return true;
}

}  // namespace qmr
