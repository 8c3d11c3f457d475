#include "base/byte_buffer.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

namespace qmr {
namespace {

std::string Text(const ByteBuffer& b) {
  return std::string(reinterpret_cast<const char*>(b.Data()), static_cast<std::size_t>(b.Length()));
}

TEST(ByteBufferTest, GrowsWithSlack) {
  ByteBuffer b;
  EXPECT_EQ(b.Append("x", 0), 0);
  EXPECT_EQ(b.Append("x", -3), 0);
  EXPECT_EQ(b.Capacity(), 0);
  EXPECT_EQ(b.Append("a", 1), 1);
  EXPECT_EQ(b.Capacity(), 20481);
  const std::uint8_t* block = b.Data();
  std::string chunk(20480, 'z');
  EXPECT_EQ(b.Append(chunk.data(), 20480), 20481);
  EXPECT_EQ(b.Data(), block);  // fitted in the slack: no new block
  EXPECT_EQ(b.AppendFill('q', 2), 20483);
  EXPECT_EQ(b.Capacity(), 20481 + 2 + 20480);
  EXPECT_EQ(b.Data()[0], 'a');
  EXPECT_EQ(b.Data()[20482], 'q');

  // A size beyond 32 bits fails and leaves everything as it was.
  const std::int32_t capacity = b.Capacity();
  EXPECT_EQ(b.Append(chunk.data(), INT_MAX), -1);
  EXPECT_EQ(b.AppendFill(0, INT_MAX), -1);
  EXPECT_EQ(b.Capacity(), capacity);
  EXPECT_EQ(b.Length(), 20483);
  EXPECT_EQ(b.Data()[0], 'a');
}

TEST(ByteBufferTest, InsertFindErase) {
  ByteBuffer b;
  b.Append("hello world", 11);
  EXPECT_EQ(b.Insert("X", 1, 11), -1);  // at the length: use Append
  EXPECT_EQ(b.Insert("X", 1, -1), -1);
  EXPECT_EQ(b.Insert("X", 0, 2), -1);
  EXPECT_EQ(b.Insert("big ", 4, 6), 15);
  EXPECT_EQ(Text(b), "hello big world");
  EXPECT_EQ(b.Find("world", 5, 0), 10);
  EXPECT_EQ(b.Find("o", 1, 5), 11);
  EXPECT_EQ(b.Find("planet", 6, 0), -1);
  EXPECT_EQ(b.Find("d", 1, 100), -1);
  EXPECT_EQ(b.Erase(5, 4), 11);
  EXPECT_EQ(Text(b), "hello world");
  EXPECT_EQ(b.Erase(8, 4), -1);
  EXPECT_EQ(Text(b), "hello world");

  // Appending or inserting a piece of the buffer itself, also across growth.
  ByteBuffer self;
  self.Allocate(4, false);
  self.SetLength(0);
  self.Append("abcd", 4);
  EXPECT_EQ(self.Append(self.Data(), 4), 8);
  EXPECT_EQ(Text(self), "abcdabcd");
  EXPECT_EQ(self.Insert(self.Data() + 2, 3, 1), 11);
  EXPECT_EQ(Text(self), "acdabcdabcd");
}

TEST(ByteBufferTest, AllocateAndCopyRule) {
  ByteBuffer b;
  ASSERT_TRUE(b.Allocate(8, false));
  EXPECT_EQ(b.Capacity(), 8);
  EXPECT_EQ(b.Length(), 0);
  std::memcpy(b.Data(), "abcdefgh", 8);
  ASSERT_TRUE(b.Allocate(8, true));
  EXPECT_EQ(b.Data()[7], 'h');
  ASSERT_TRUE(b.Allocate(8, false));  // same size: zeroed
  EXPECT_EQ(b.Data()[7], 0);
  EXPECT_FALSE(b.Allocate(-1, false));

  // The copy rule: the block is reused when big enough, else content + slack.
  ByteBuffer target;
  ASSERT_TRUE(target.CopyFrom("0123456789", 10));
  EXPECT_EQ(target.Capacity(), 10 + 20480);
  const std::uint8_t* block = target.Data();
  ASSERT_TRUE(target.CopyFrom("abc", 3));
  EXPECT_EQ(target.Data(), block);
  EXPECT_EQ(Text(target), "abc");

  ByteBuffer copy(target);
  EXPECT_EQ(Text(copy), "abc");
  EXPECT_NE(copy.Data(), target.Data());
  ByteBuffer moved(std::move(copy));
  EXPECT_EQ(Text(moved), "abc");
  EXPECT_EQ(copy.Length(), 0);
  b.Clear();
  EXPECT_EQ(b.Capacity(), 0);
  EXPECT_EQ(b.Data(), nullptr);
}

}  // namespace
}  // namespace qmr
