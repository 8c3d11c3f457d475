// The STREAMS section rewritten as text: the listed cameras change, every
// other byte of the settings file stays.
#include "config/streams_section.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "../support/temp_folder.h"
#include "config/ini_file.h"

namespace qmr {
namespace {

const char* kFile =
    "# my cameras\r\n"
    "[STARTUP]\r\n"
    "OPENALL=1\t\t\t#open all\r\n"
    "\r\n"
    "[STREAMS]\r\n"
    "Door=rtsp://192.0.2.1/a   # front\r\n"
    "Yard=pattern 640x480@15\r\n"
    "# kept comment\r\n"
    "\r\n"
    "[Door   NO.1]\r\n"
    "THRESHOLD=3";

TEST(StreamsSectionTest, ReadsWhatTheSettingsReaderReads) {
  const auto streams = ReadStreamsSection(kFile);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0], StreamListing("Door", "rtsp://192.0.2.1/a"));
  EXPECT_EQ(streams[1], StreamListing("Yard", "pattern 640x480@15"));
  EXPECT_TRUE(ReadStreamsSection("[STARTUP]\nA=1\n").empty());
}

TEST(StreamsSectionTest, ReplacesOnlyTheKeyLines) {
  const std::string out =
      ReplaceStreamsSection(kFile, {{"Yard", "pattern 320x240@10"}, {"Clip", "/v/a.mp4"}});
  EXPECT_EQ(out,
            "# my cameras\r\n"
            "[STARTUP]\r\n"
            "OPENALL=1\t\t\t#open all\r\n"
            "\r\n"
            "[STREAMS]\r\n"
            "Yard=pattern 320x240@10\r\n"
            "Clip=/v/a.mp4\r\n"
            "# kept comment\r\n"
            "\r\n"
            "[Door   NO.1]\r\n"
            "THRESHOLD=3");
  // Removing every camera leaves the header and the comments.
  EXPECT_EQ(ReplaceStreamsSection("[STREAMS]\nA=x\n[BB]\nC=1\n", {}), "[STREAMS]\n[BB]\nC=1\n");
  // No section yet: appended; and nothing to append leaves the text alone.
  EXPECT_EQ(ReplaceStreamsSection("[STARTUP]\nA=1", {{"Cam", "pattern"}}),
            "[STARTUP]\nA=1\n\n[STREAMS]\nCam=pattern\n");
  EXPECT_EQ(ReplaceStreamsSection("", {{"Cam", "pattern"}}), "[STREAMS]\nCam=pattern\n");
  EXPECT_EQ(ReplaceStreamsSection("[A]\nB=1", {}), "[A]\nB=1");
  // A section at the end of a file without a last line end.
  EXPECT_EQ(ReplaceStreamsSection("[STREAMS]", {{"Cam", "pattern"}}), "[STREAMS]\nCam=pattern\n");
}

TEST(StreamsSectionTest, RefusesWhatCannotBeStored) {
  EXPECT_EQ(StreamListingProblem({"Door", "rtsp://h/a"}), "");
  EXPECT_NE(StreamListingProblem({"", "x"}), "");
  EXPECT_NE(StreamListingProblem({"A=B", "x"}), "");
  EXPECT_NE(StreamListingProblem({"[A]", "x"}), "");
  EXPECT_NE(StreamListingProblem({"A", ""}), "");
  EXPECT_NE(StreamListingProblem({"A", "http://h/#frag"}), "");
}

TEST(StreamsSectionTest, WritesTheFileTheReaderThenSees) {
  testing::TempFolder tmp;
  const std::string path = tmp.File("qmr.ini");
  testing::WriteWhole(path, kFile);
  std::string problem;
  ASSERT_TRUE(WriteStreamsSection(path, {{"Gate", "pattern"}}, problem)) << problem;
  IniFile ini;
  ASSERT_TRUE(ini.Load(path));
  EXPECT_EQ(ini.GetKeys("STREAMS"), std::vector<std::string>{"Gate"});
  int openAll = 0;
  ini.GetInt("STARTUP", "OPENALL", 0, openAll);
  EXPECT_EQ(openAll, 1);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // A bad listing writes nothing; a missing file is created.
  EXPECT_FALSE(WriteStreamsSection(path, {{"", "pattern"}}, problem));
  EXPECT_NE(testing::ReadWhole(path).find("Gate=pattern"), std::string::npos);
  ASSERT_TRUE(WriteStreamsSection(tmp.File("new.ini"), {{"A", "pattern"}}, problem));
  EXPECT_EQ(testing::ReadWhole(tmp.File("new.ini")), "[STREAMS]\nA=pattern\n");
  EXPECT_FALSE(WriteStreamsSection(tmp.File("no/such/qmr.ini"), {{"A", "pattern"}}, problem));
  EXPECT_FALSE(problem.empty());
}

}  // namespace
}  // namespace qmr
