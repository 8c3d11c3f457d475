// Which folders the program writes to: the build tree, QMR_HOME, and an
// installed copy following the XDG folders.
#include <gtest/gtest.h>

#include <string>

#include "../support/temp_folder.h"
#include "base/process.h"

namespace qmr {
namespace {

TEST(FolderChoiceTest, BuildTreeAndQmrHomeKeepEverythingInOneFolder) {
  FolderInputs in;
  in.programFolder = "/src/build";
  in.buildTree = true;
  in.userHome = "/home/ann";
  FolderChoice c = ChooseFolders(in);
  EXPECT_FALSE(c.installed);
  EXPECT_EQ(c.home, "/src/build");
  EXPECT_EQ(c.log, "/src/build");
  EXPECT_EQ(c.media, "/src/build");

  // QMR_HOME wins over both layouts; a relative one is taken from the
  // working folder, and a trailing separator is dropped.
  in.buildTree = false;
  in.qmrHome = "/data/cams/";
  c = ChooseFolders(in);
  EXPECT_FALSE(c.installed);
  EXPECT_EQ(c.home, "/data/cams");
  EXPECT_EQ(c.media, "/data/cams");
  in.qmrHome = "cams";
  in.workingFolder = "/work";
  EXPECT_EQ(ChooseFolders(in).home, "/work/cams");
}

TEST(FolderChoiceTest, InstalledUsesTheXdgFolders) {
  testing::TempFolder tmp;
  FolderInputs in;
  in.programFolder = "/usr/bin";
  in.userHome = tmp.Path();
  // Unset XDG variables: the defaults below the home folder.
  FolderChoice c = ChooseFolders(in);
  EXPECT_TRUE(c.installed);
  EXPECT_EQ(c.home, tmp.Path() + "/.config/qmr");
  EXPECT_EQ(c.log, tmp.Path() + "/.local/state/qmr");
  EXPECT_EQ(c.media, tmp.Path() + "/Videos/Quelmar");

  // Set ones, and the videos folder from user-dirs.dirs in the configuration
  // folder. A relative XDG value is ignored, as the XDG rules say.
  in.xdgConfigHome = tmp.Path() + "/conf";
  in.xdgStateHome = "relative/state";
  std::string problem;
  ASSERT_TRUE(EnsureWritableFolder(tmp.Path() + "/conf", problem));
  testing::WriteWhole(tmp.Path() + "/conf/user-dirs.dirs",
                      "# written by xdg-user-dirs-update\nXDG_VIDEOS_DIR=\"$HOME/Filme\"\n");
  c = ChooseFolders(in);
  EXPECT_EQ(c.home, tmp.Path() + "/conf/qmr");
  EXPECT_EQ(c.log, tmp.Path() + "/.local/state/qmr");
  EXPECT_EQ(c.media, tmp.Path() + "/Filme/Quelmar");
}

TEST(FolderChoiceTest, UserDirsFileValues) {
  EXPECT_EQ(VideosFolderFromUserDirs("XDG_VIDEOS_DIR=\"/srv/video/\"\n", "/home/a"), "/srv/video");
  EXPECT_EQ(VideosFolderFromUserDirs("XDG_MUSIC_DIR=\"$HOME/Music\"\n", "/home/a"), "");
  // The home folder itself means "switched off"; a relative path is invalid.
  EXPECT_EQ(VideosFolderFromUserDirs("XDG_VIDEOS_DIR=\"$HOME/\"\n", "/home/a"), "");
  EXPECT_EQ(VideosFolderFromUserDirs("XDG_VIDEOS_DIR=\"Videos\"\n", "/home/a"), "");
  EXPECT_EQ(VideosFolderFromUserDirs("  XDG_VIDEOS_DIR=\"$HOME/V\"", "/home/a"), "/home/a/V");
}

TEST(FolderChoiceTest, WritableFolderIsMadeOrItsProblemNamed) {
  testing::TempFolder tmp;
  std::string problem;
  EXPECT_TRUE(EnsureWritableFolder(tmp.Path() + "/a/b/c", problem)) << problem;
  EXPECT_TRUE(testing::IsFolder(tmp.Path() + "/a/b/c"));
  // No probe file is left behind.
  EXPECT_FALSE(testing::IsFolder(tmp.Path() + "/a/b/c/.qmr-write-test"));

  testing::WriteWhole(tmp.Path() + "/file", "x");
  EXPECT_FALSE(EnsureWritableFolder(tmp.Path() + "/file/AVI", problem));
  EXPECT_NE(problem.find("is a file"), std::string::npos) << problem;
  EXPECT_FALSE(EnsureWritableFolder("relative/AVI", problem));
  EXPECT_NE(problem.find("absolute"), std::string::npos);
  // A folder nothing can be made in, even by root.
  EXPECT_FALSE(EnsureWritableFolder("/proc/qmr-test/AVI", problem));
  EXPECT_NE(problem.find("/proc/qmr-test/AVI"), std::string::npos);
}

TEST(FolderChoiceTest, SetApplicationFolderMovesLogAndMediaToo) {
  testing::TempFolder tmp;
  SetApplicationFolder(tmp.Path() + "/");
  EXPECT_EQ(ApplicationFolder(), tmp.Path());
  EXPECT_EQ(LogFolder(), tmp.Path());
  EXPECT_EQ(MediaFolder(), tmp.Path());
  EXPECT_FALSE(RunsInstalled());
}

}  // namespace
}  // namespace qmr
