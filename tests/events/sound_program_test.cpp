// The shared alarm's counting across cameras, the audio player on SDL's dummy
// driver, and program start without a shell.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "base/process.h"
#include "base/log_file.h"
#include "motion/alarm_sound.h"
#include "platform/audio_player.h"
#include "platform/program_launcher.h"
#include "counting_player.h"

namespace qmr {
namespace {

using testing::CountingPlayer;

std::string MakeTempDir() {
  char buf[] = "/tmp/qmr_events_XXXXXX";
  return mkdtemp(buf);
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(AlarmSoundTest, TwoCamerasSoundOnceAndStopWhenBothEnded) {
  auto owned = std::make_unique<CountingPlayer>();
  CountingPlayer& player = *owned;
  AlarmSound alarm(std::move(owned));
  // No sound file: nothing plays, but the camera still counts and its Stop
  // balances.
  EXPECT_FALSE(alarm.Start(true));
  EXPECT_EQ(alarm.Count(), 1);
  EXPECT_FALSE(alarm.Stop());
  EXPECT_EQ(alarm.Count(), 0);
  EXPECT_EQ(player.plays, 0);

  alarm.SetSoundFile("/x/alarm.wav");
  EXPECT_TRUE(alarm.Start(true));   // camera 1
  EXPECT_FALSE(alarm.Start(true));  // camera 2: already sounding
  EXPECT_EQ(player.plays, 1);
  EXPECT_TRUE(player.lastLoop);
  EXPECT_EQ(alarm.Count(), 2);
  EXPECT_FALSE(alarm.Stop());  // camera 1 ends, camera 2 still in motion
  EXPECT_EQ(player.stops, 0);
  EXPECT_TRUE(player.audible);
  EXPECT_TRUE(alarm.Stop());  // camera 2 ends
  EXPECT_EQ(player.stops, 1);
  EXPECT_FALSE(alarm.IsPlaying());
  // An extra Stop never drives the count negative.
  EXPECT_FALSE(alarm.Stop());
  EXPECT_EQ(alarm.Count(), 0);

  // Once: no count, nothing to stop afterwards.
  EXPECT_TRUE(alarm.Start(false));
  EXPECT_FALSE(player.lastLoop);
  EXPECT_EQ(alarm.Count(), 0);
  EXPECT_FALSE(alarm.IsPlaying());

  // Stop alarm from the main window silences at once; a camera whose period
  // begins afterwards sounds it again, and the count still balances.
  EXPECT_TRUE(alarm.Start(true));
  alarm.Silence();
  EXPECT_FALSE(player.audible);
  EXPECT_TRUE(alarm.Start(true));
  EXPECT_TRUE(player.audible);
  EXPECT_FALSE(alarm.Stop());
  EXPECT_TRUE(alarm.Stop());
  EXPECT_FALSE(player.audible);

  // A failing sound leaves the alarm silent but counted.
  player.playResult = false;
  EXPECT_FALSE(alarm.Start(true));
  EXPECT_FALSE(alarm.IsPlaying());
  EXPECT_EQ(alarm.Count(), 1);
  EXPECT_FALSE(alarm.Stop());
  EXPECT_EQ(alarm.Count(), 0);
}

TEST(AlarmSoundTest, ConcurrentCamerasKeepTheCountBalanced) {
  auto owned = std::make_unique<CountingPlayer>();
  CountingPlayer& player = *owned;
  AlarmSound alarm(std::move(owned));
  alarm.SetSoundFile("/x/alarm.wav");
  std::vector<std::thread> cameras;
  for (int c = 0; c < 4; ++c) {
    cameras.emplace_back([&] {
      for (int i = 0; i < 500; ++i) {
        alarm.Start(true);
        alarm.Stop();
      }
    });
  }
  for (auto& t : cameras) t.join();
  EXPECT_EQ(alarm.Count(), 0);
  EXPECT_FALSE(alarm.IsPlaying());
  EXPECT_FALSE(player.audible);
  EXPECT_EQ(player.plays, player.stops);
}

TEST(AudioPlayerTest, PlaysOnceOrLoopingOnTheDummyDriverAndRefusesBadFiles) {
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  const std::string dir = MakeTempDir();
  SetApplicationFolder(dir);
  LogFile::ResetPath();
  const std::string wav = std::string(QMR_SOURCE_DIR) + "/resources/alarm.wav";
  AudioPlayer player;
  ASSERT_TRUE(player.Play(wav, true));
  EXPECT_TRUE(player.IsPlaying());
  SleepMs(1800);  // longer than the chime: a looping sound goes on
  EXPECT_TRUE(player.IsPlaying());
  player.Stop();
  EXPECT_FALSE(player.IsPlaying());
  player.Stop();  // stopping nothing is harmless

  // FLAC and OGG go through the same decoder (made from the chime here).
  for (const char* ext : {"flac", "ogg"}) {
    const std::string other = dir + "/alarm." + ext;
    const std::string cmd = "ffmpeg -v quiet -y -i '" + wav + "' '" + other + "'";
    if (std::system(cmd.c_str()) != 0) continue;
    EXPECT_TRUE(player.Play(other, false)) << ext;
  }
  player.Stop();

  const std::string junk = dir + "/junk.wav";
  std::ofstream(junk) << "not a sound";
  EXPECT_FALSE(player.Play(junk, false));
  EXPECT_FALSE(player.Play(dir + "/missing.wav", true));
  EXPECT_FALSE(player.Play("", true));
  EXPECT_FALSE(player.IsPlaying());
  std::system(("rm -rf '" + dir + "'").c_str());
}

TEST(ProgramLauncherTest, SplitsQuotedCommandLines) {
  using V = std::vector<std::string>;
  EXPECT_EQ(ProgramLauncher::SplitCommandLine("  prog  -a\tb "), (V{"prog", "-a", "b"}));
  EXPECT_EQ(ProgramLauncher::SplitCommandLine("\"/my dir/prog\" 'two words' x\"y z\""),
            (V{"/my dir/prog", "two words", "xy z"}));
  EXPECT_EQ(ProgramLauncher::SplitCommandLine("a \"\" b"), (V{"a", "", "b"}));
  EXPECT_EQ(ProgramLauncher::SplitCommandLine("say \"he said \\\"hi\\\"\""),
            (V{"say", "he said \"hi\""}));
  // An unclosed quote runs to the end of the line.
  EXPECT_EQ(ProgramLauncher::SplitCommandLine("a \"b c"), (V{"a", "b c"}));
  EXPECT_TRUE(ProgramLauncher::SplitCommandLine("   ").empty());
}

// Zombie children of this process, from /proc.
int ZombieChildren() {
  int count = 0;
  const std::string self = std::to_string(getpid());
  DIR* d = opendir("/proc");
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    const std::string stat = ReadAll(std::string("/proc/") + e->d_name + "/stat");
    auto close = stat.rfind(')');
    if (close == std::string::npos || close + 4 >= stat.size()) continue;
    char state = stat[close + 2];
    std::string rest = stat.substr(close + 4);
    if (state == 'Z' && rest.substr(0, rest.find(' ')) == self) ++count;
  }
  closedir(d);
  return count;
}

TEST(ProgramLauncherTest, StartsWithoutAShellAndReapsChildren) {
  SetApplicationFolder(MakeTempDir());
  LogFile::ResetPath();
  const std::string dir = ApplicationFolder();
  const std::string script = dir + "/my script.sh";
  const std::string marker = dir + "/marker.txt";
  std::ofstream(script)
      << "#!/bin/sh\nfor a in \"$@\"; do echo \"[$a]\" >> \"$(dirname \"$0\")/marker.txt\"; done\n";
  chmod(script.c_str(), 0755);

  // The path with a blank is one argument; the parameters are split, with
  // shell characters passed through untouched.
  ASSERT_TRUE(ProgramLauncher::Start(script, "one \"two three\" $HOME;ls"));
  for (int i = 0; i < 200 && ReadAll(marker).size() < 20; ++i) SleepMs(10);
  EXPECT_EQ(ReadAll(marker), "[one]\n[two three]\n[$HOME;ls]\n");

  EXPECT_FALSE(ProgramLauncher::Start(dir + "/no such program", ""));
  EXPECT_FALSE(ProgramLauncher::Start("qmr-no-such-program-on-path"));
  EXPECT_FALSE(ProgramLauncher::Start("   "));
  EXPECT_FALSE(ProgramLauncher::Start(" ", "true"));  // no program: no parameter runs instead
  EXPECT_TRUE(ProgramLauncher::Start("true"));        // found on PATH

  for (int i = 0; i < 20; ++i) ASSERT_TRUE(ProgramLauncher::Start("true"));
  int zombies = 0;
  for (int i = 0; i < 100; ++i) {
    zombies = ZombieChildren();
    if (zombies == 0) break;
    SleepMs(20);
  }
  EXPECT_EQ(zombies, 0);
  std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
}  // namespace qmr
