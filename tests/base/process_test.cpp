#include "base/process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "base/message_queue.h"
#include "base/log_file.h"
#include "../support/temp_folder.h"

namespace qmr {
namespace {

std::atomic<int> g_ran{0};
std::atomic<bool> g_release{false};

void Worker(void* arg) {
  g_ran.fetch_add(*static_cast<int*>(arg));
  while (!g_release.load()) SleepMs(5);
}

TEST(ProcessTest, ThreadsClearTheirHandle) {
  testing::TempFolder tmp;
  SetApplicationFolder(tmp.Path());
  ThreadHandle handle{0};
  int arg = 5;
  g_ran = 0;
  g_release = false;
  ASSERT_TRUE(StartThread(Worker, &arg, handle));
  EXPECT_NE(handle.load(), 0u);
  // A wait that runs out says so in the log.
  EXPECT_FALSE(WaitForThreadEnd(handle, 60, "test"));
  EXPECT_NE(testing::ReadWhole(tmp.File("log.txt")).find("test thread did not end in time"),
            std::string::npos);
  g_release = true;
  EXPECT_TRUE(WaitForThreadEnd(handle, 5000, "test"));
  EXPECT_EQ(handle.load(), 0u);
  EXPECT_EQ(g_ran.load(), 5);
}

TEST(ProcessTest, TextHelpers) {
  EXPECT_EQ(TrimSpaces("  a b\t "), "a b\t");
  EXPECT_EQ(TrimSpaces("    "), "");
  EXPECT_EQ(LowerAscii("AbZ\xC4"), "abz\xC4");
  SystemTime t;
  t.month = 3;
  t.day = 7;
  t.hour = 9;
  t.minute = 5;
  t.second = 4;
  t.milliseconds = 12;
  EXPECT_EQ(FormatStampText(t), "03/07 09:05:04:012");
}

TEST(MessageQueueTest, FifoThenQuit) {
  MessageQueue<int> queue;
  std::thread producer([&] {
    for (int i = 0; i < 100; ++i) queue.Post(i);
    queue.PostQuit();
  });
  int expected = 0;
  while (auto m = queue.Wait()) EXPECT_EQ(*m, expected++);
  producer.join();
  EXPECT_EQ(expected, 100);  // messages posted before the quit are all taken
  EXPECT_FALSE(queue.WaitFor(10).has_value());
  queue.Close();
  EXPECT_FALSE(queue.Post(1));
  queue.Reset();
  EXPECT_TRUE(queue.Post(2));
  EXPECT_EQ(queue.WaitFor(10).value_or(0), 2);
}

}  // namespace
}  // namespace qmr
