#include "base/log_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/process.h"
#include "../support/temp_folder.h"

namespace qmr {
namespace {

using testing::ReadWhole;
using testing::TempFolder;
using testing::WriteWhole;

TEST(LogFileTest, EntryLayout) {
  TempFolder tmp;
  SetApplicationFolder(tmp.Path());
  // The log lands in the program's folder whatever the working folder is.
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
  ASSERT_EQ(chdir("/"), 0);
  LogFile::Write("Server x:25 connected\n");
  LogFile::Writef("%s=%d", "count", 3);
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(LogFile::Path(), tmp.File("log.txt"));
  const std::string log = ReadWhole(tmp.File("log.txt"));
  const std::regex layout(
      "\n\\d{8} \\d\\d:\\d\\d:\\d\\d\nServer x:25 connected\n\n"
      "\n\\d{8} \\d\\d:\\d\\d:\\d\\d\ncount=3\n");
  EXPECT_TRUE(std::regex_match(log, layout)) << log;
}

TEST(LogFileTest, RotatesAboveThreeMebibytes) {
  TempFolder tmp;
  SetApplicationFolder(tmp.Path());
  const std::string log = tmp.File("log.txt");
  const std::string bak = log + ".bak";
  const std::size_t limit = static_cast<std::size_t>(LogFile::kRotateSize);
  WriteWhole(log, std::string(limit, 'a'));
  LogFile::Write("kept");
  struct stat st;
  ASSERT_EQ(stat(log.c_str(), &st), 0);
  EXPECT_GT(static_cast<std::size_t>(st.st_size), limit);  // exactly the limit: kept
  EXPECT_NE(stat(bak.c_str(), &st), 0);

  // One byte over the limit: rotated, and an older backup is replaced.
  WriteWhole(bak, "old backup");
  WriteWhole(log, std::string(limit + 1, 'b'));
  LogFile::Write("fresh");
  ASSERT_EQ(stat(bak.c_str(), &st), 0);
  EXPECT_EQ(static_cast<std::size_t>(st.st_size), limit + 1);
  const std::string fresh = ReadWhole(log);
  EXPECT_LT(fresh.size(), 64u);
  EXPECT_NE(fresh.find("fresh"), std::string::npos);
}

TEST(LogFileTest, ConcurrentWritersNeverInterleave) {
  TempFolder tmp;
  SetApplicationFolder(tmp.Path());
  constexpr int kThreads = 8;
  constexpr int kEntries = 150;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      const std::string body(100 + t * 10, static_cast<char>('A' + t));
      for (int i = 0; i < kEntries; ++i) LogFile::Write(body);
    });
  }
  for (auto& th : threads) th.join();
  const std::string log = ReadWhole(tmp.File("log.txt"));
  const std::regex entry("\n\\d{8} \\d\\d:\\d\\d:\\d\\d\n([A-H])\\1*\n");
  int count = 0;
  std::size_t matched = 0;
  for (std::sregex_iterator it(log.begin(), log.end(), entry), end; it != end; ++it) {
    const std::string& m = it->str();
    const int t = m[m.size() - 2] - 'A';
    // Each body has its writer's own length: a torn entry would not.
    EXPECT_EQ(m.size(), 1u + 18u + static_cast<std::size_t>(100 + t * 10) + 1u);
    ++count;
    matched += m.size();
  }
  EXPECT_EQ(count, kThreads * kEntries);
  EXPECT_EQ(matched, log.size());
}

}  // namespace
}  // namespace qmr
