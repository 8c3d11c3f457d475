#include "config/settings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "base/process.h"
#include "capture/camera_entry.h"
#include "config/ini_file.h"
#include "config/password_scrambler.h"
#include "../support/temp_folder.h"

namespace qmr {
namespace {

using testing::IsFolder;
using testing::TempFolder;
using testing::WriteWhole;

TEST(SettingsTest, NoFileGivesEveryDefault) {
  TempFolder tmp;
  SetApplicationFolder(tmp.Path());
  IniFile ini;
  Settings s;
  s.quality = 1;
  s.mailServer = "left over";
  LoadSettings(ini, s);
  EXPECT_EQ(SettingsFilePath(), tmp.File("qmr.ini"));
  EXPECT_EQ(s.aviDir, tmp.File("AVI"));
  EXPECT_EQ(s.picDir, tmp.File("PIC"));
  EXPECT_TRUE(IsFolder(s.aviDir));
  EXPECT_TRUE(IsFolder(s.picDir));
  EXPECT_EQ(s.sndFile, ProgramResourcePath("alarm.wav"));
  EXPECT_EQ(access(tmp.File("qmr.ini").c_str(), F_OK), -1);  // nothing written back

  EXPECT_EQ(s.quality, 85);
  EXPECT_EQ(s.fccHandler, 0u);
  EXPECT_TRUE(s.savAvi && s.alarm && s.hiSpeed && s.sndRepeat && s.exeOnce && s.hangup &&
              s.mailAuth);
  EXPECT_FALSE(s.savPic || s.exec || s.ftpAvi || s.ftpPic || s.mailAvi || s.mailPic || s.openAll ||
               s.detect || s.minMain || s.maxView);
  EXPECT_EQ(s.duration, 10);
  EXPECT_EQ(s.mailServer, "");
  EXPECT_EQ(s.colorSensible, (Rgb{0, 255, 255}));
  EXPECT_EQ(s.colorMask, (Rgb{0, 255, 0}));
  EXPECT_EQ(s.colorHilight, (Rgb{255, 0, 255}));
  // A new settings file guards against light changes, and keeps the value
  // once it is first saved.
  EXPECT_EQ(s.lightSwitch, 60);
  int stored = 0;
  EXPECT_TRUE(ini.GetInt("MOTION", "LIGHTSWITCH", 0, stored));
  EXPECT_EQ(stored, 60);
}

TEST(SettingsTest, ReadsStoredValues) {
  TempFolder tmp;
  SetApplicationFolder(tmp.Path());
  std::string authStored, ftpStored;
  ASSERT_TRUE(PasswordScrambler::Scramble("s3cret pass", authStored));
  ASSERT_TRUE(PasswordScrambler::Scramble("ftp", ftpStored));
  const std::string avi = tmp.File("deep/er/avi");
  WriteWhole(SettingsFilePath(), "[FOLDER]\nAVIDIR=" + avi +
                                     "\nPICDIR=relative/pic\nSNDFILE=/x/y.wav\n"
                                     "EXEONCE=0\n"
                                     "[MOTION]\nSAVAVI=-1\nSAVPIC=2\nALARM=0\nDURATION=33\n"
                                     "[CODEC]\nQUALITY=50\nFCCHANDLER=-1\nDRIVER=Motion JPEG\n"
                                     "[INTERNET]\nAUTHPASSWD=" +
                                     authStored + "\nFTPPASSWD=" + ftpStored +
                                     "\nMAILTO=a@b, c@d\nMAILAUTH=0\n"
                                     "[STARTUP]\nOPENALL=1\n"
                                     "[MISC]\nCOLOR_MASK=1:2:3\nCOLOR_HILIGHT=9\n");
  IniFile ini;
  Settings s;
  LoadSettings(ini, s);
  EXPECT_EQ(s.aviDir, avi);
  EXPECT_TRUE(IsFolder(avi));  // missing parents made too
  EXPECT_EQ(s.picDir, "relative/pic");
  EXPECT_FALSE(IsFolder(tmp.File("relative")));
  EXPECT_EQ(s.sndFile, "/x/y.wav");
  EXPECT_FALSE(s.exeOnce);
  EXPECT_EQ(s.lightSwitch, 0);  // a stored file without the key: off
  EXPECT_FALSE(s.savAvi);  // a flag stored as -1 is off
  EXPECT_TRUE(s.savPic);
  EXPECT_FALSE(s.alarm);
  EXPECT_EQ(s.duration, 33);
  EXPECT_EQ(s.quality, 50);
  // DURATION is held to at most a day, and to no less than nothing.
  for (const auto& [stored, held] : {std::pair<std::string, int>{"100000000000000000000", 86400},
                                     {"86401", 86400},
                                     {"86400", 86400},
                                     {"-5", 0}}) {
    ini.SetString("MOTION", "DURATION", stored);
    ASSERT_TRUE(ini.Save());
    Settings clamped;
    LoadSettings(ini, clamped);
    EXPECT_EQ(clamped.duration, held) << stored;
  }
  EXPECT_EQ(s.fccHandler, 0xFFFFFFFFu);
  EXPECT_EQ(s.driver, "Motion JPEG");
  EXPECT_EQ(s.authPasswd, "s3cret pass");
  EXPECT_EQ(s.ftpPasswd, "ftp");
  EXPECT_EQ(s.mailTo, "a@b, c@d");
  EXPECT_FALSE(s.mailAuth);
  EXPECT_TRUE(s.openAll);
  EXPECT_EQ(s.colorMask, (Rgb{1, 2, 3}));
  EXPECT_EQ(s.colorHilight, (Rgb{255, 0, 255}));
}

// The secure delivery keys: stored values are read, values out of range
// and missing keys give the plain defaults.
TEST(SettingsTest, SecureDeliveryKeys) {
  TempFolder tmp;
  SetApplicationFolder(tmp.Path());
  WriteWhole(tmp.File("qmr.ini"), "[FOLDER]\nAVIDIR=" + tmp.File("a") +
                                      "\nPICDIR=" + tmp.File("p") +
                                      "\n[INTERNET]\nMAILSECURITY=2\nMAILVERIFY=0\nFTPMODE=1\n"
                                      "FTPSECURITY=7\nFTPVERIFY=0\n");
  IniFile ini;
  Settings s;
  LoadSettings(ini, s);
  EXPECT_EQ(s.mailSecurity, 2);
  EXPECT_FALSE(s.mailVerify);
  EXPECT_EQ(s.ftpMode, 1);
  EXPECT_EQ(s.ftpSecurity, 0);  // out of range
  EXPECT_FALSE(s.ftpVerify);

  WriteWhole(tmp.File("qmr.ini"), "[INTERNET]\nMAILSECURITY=-1\n");
  LoadSettings(ini, s);
  EXPECT_EQ(s.mailSecurity, 0);
  EXPECT_TRUE(s.mailVerify);
  EXPECT_EQ(s.ftpMode, 0);
  EXPECT_TRUE(s.ftpVerify);
}

TEST(SettingsTest, CreateFolderPath) {
  TempFolder tmp;
  EXPECT_TRUE(CreateFolderPath(tmp.File("a/b//c/")));
  EXPECT_TRUE(IsFolder(tmp.File("a/b/c")));
  EXPECT_TRUE(CreateFolderPath(tmp.File("a/b/c")));  // existing: fine
  EXPECT_FALSE(CreateFolderPath("relative/folder"));
  EXPECT_FALSE(CreateFolderPath(""));
  // A file standing where a folder belongs is a failure, not a success.
  WriteWhole(tmp.File("file"), "x");
  EXPECT_FALSE(CreateFolderPath(tmp.File("file/sub")));
  EXPECT_FALSE(CreateFolderPath(tmp.File("file")));
}

TEST(SettingsTest, CameraSchedules) {
  TempFolder tmp;
  WriteWhole(tmp.File("s.ini"),
             "[Six   NO.1]\nSCHEDULE_DAYS=1,1,1,1,1,1\nSCHEDULE_DETECT=1\n"
             "[Ends   NO.1]\nSCHEDULE_DAYS=1,0,0,0,0,0,1\nSCHEDULE_TIME=08:30:05,17:45:00\n"
             "[Odd   NO.1]\nSCHEDULE_DAYS= 2 ,,x,-1,0,0,3\nSCHEDULE_TIME=07:15:00,18\n");
  IniFile ini;
  ASSERT_TRUE(ini.Load(tmp.File("s.ini")));

  auto load = [&](const std::string& name) {
    CameraEntry camera;
    camera.name = name;
    CameraSchedule enumerated;
    enumerated.startHour = enumerated.stopHour = 11;
    enumerated.startMinute = enumerated.stopMinute = 22;
    enumerated.startSecond = enumerated.stopSecond = 33;
    enumerated.recordVideo = false;
    camera.SetSchedule(enumerated);
    LoadCameraSchedule(ini, camera);
    return camera.GetSchedule();
  };

  CameraSchedule six = load("Six   NO.1");
  EXPECT_EQ(six.days, (std::array<bool, 7>{}));
  EXPECT_FALSE(six.recordVideo);
  EXPECT_EQ(six.startHour, 11);  // no SCHEDULE_TIME: enumeration time kept

  CameraSchedule ends = load("Ends   NO.1");
  EXPECT_EQ(ends.days, (std::array<bool, 7>{true, false, false, false, false, false, true}));
  EXPECT_TRUE(ends.recordVideo);  // SCHEDULE_DETECT absent: the schedule records
  EXPECT_EQ(ends.startHour, 8);
  EXPECT_EQ(ends.startMinute, 30);
  EXPECT_EQ(ends.startSecond, 5);
  EXPECT_EQ(ends.stopHour, 17);
  EXPECT_EQ(ends.stopMinute, 45);
  EXPECT_EQ(ends.stopSecond, 0);

  CameraSchedule odd = load("Odd   NO.1");
  EXPECT_EQ(odd.days, (std::array<bool, 7>{true, false, false, false, false, false, true}));
  EXPECT_EQ(odd.startHour, 7);
  EXPECT_EQ(odd.stopHour, 18);
  EXPECT_EQ(odd.stopMinute, 22);  // reading stopped: previous value kept
  EXPECT_EQ(odd.stopSecond, 33);

  CameraSchedule none = load("Absent   NO.1");
  EXPECT_EQ(none.days, (std::array<bool, 7>{}));
  EXPECT_TRUE(none.recordVideo);
  EXPECT_EQ(none.stopMinute, 22);
}

}  // namespace
}  // namespace qmr
