#include "config/settings.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/process.h"
#include "capture/camera_entry.h"
#include "config/ini_file.h"
#include "config/password_scrambler.h"

namespace qmr {

namespace {

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// A folder key: empty means the default folder, which is created when
// missing. The derived value is not written back to the file.
std::string ReadFolder(const IniFile& ini, const char* key, const char* defaultName) {
  std::string folder;
  ini.GetString(keys::kFolder, key, "", folder);
  if (folder.empty()) folder = MediaFolder() + kPathSeparator + defaultName;
  if (!Exists(folder)) CreateFolderPath(folder);
  return folder;
}

bool ReadFlag(const IniFile& ini, const char* section, const char* key, bool def) {
  int v = 0;
  ini.GetInt(section, key, def ? 1 : 0, v);
  return FlagOn(v);
}

int ReadInt(const IniFile& ini, const char* section, const char* key, int def) {
  int v = 0;
  ini.GetInt(section, key, def, v);
  return v;
}

std::string ReadText(const IniFile& ini, const char* section, const char* key) {
  std::string v;
  ini.GetString(section, key, "", v);
  return v;
}

std::string ReadPassword(const IniFile& ini, const char* key) {
  std::string stored = ReadText(ini, keys::kInternet, key);
  std::string password;
  if (!stored.empty()) PasswordScrambler::Unscramble(stored, password);
  return password;
}

Rgb ReadColour(const IniFile& ini, const char* key, Rgb def) {
  Rgb c;
  ini.GetTriple(keys::kMisc, key, def.red, def.green, def.blue, c.red, c.green, c.blue);
  return c;
}

// Splits at every comma; empty fields count as fields.
std::vector<std::string> SplitFields(const std::string& text) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    std::size_t comma = text.find(',', start);
    fields.push_back(TrimSpaces(text.substr(start, comma - start)));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return fields;
}

// Secure delivery keys; a value out of range means the default.
void LoadSecureDeliverySettings(const IniFile& ini, Settings& s) {
  using keys::kInternet;
  auto choice = [&](const char* key, int count) {
    const int value = ReadInt(ini, kInternet, key, 0);
    return value >= 0 && value < count ? value : 0;
  };
  s.mailSecurity = choice("MAILSECURITY", 3);
  s.mailVerify = ReadFlag(ini, kInternet, "MAILVERIFY", true);
  s.ftpMode = choice("FTPMODE", 3);
  s.ftpSecurity = choice("FTPSECURITY", 3);
  s.ftpVerify = ReadFlag(ini, kInternet, "FTPVERIFY", true);
}

}  // namespace

std::string SettingsFilePath() { return ApplicationFolder() + kPathSeparator + "qmr.ini"; }

void LoadSettings(IniFile& ini, Settings& s) {
  // A missing file is no error: every key then takes its default.
  const bool newFile = !Exists(SettingsFilePath());
  ini.Load(SettingsFilePath());
  s = Settings{};

  using namespace keys;
  s.aviDir = ReadFolder(ini, "AVIDIR", "AVI");
  s.picDir = ReadFolder(ini, "PICDIR", "PIC");
  s.sndFile = ReadText(ini, kFolder, "SNDFILE");
  if (s.sndFile.empty()) s.sndFile = ProgramResourcePath("alarm.wav");
  s.sndRepeat = ReadFlag(ini, kFolder, "SNDREPEAT", true);
  s.exeFile = ReadText(ini, kFolder, "EXEFILE");
  s.exeOnce = ReadFlag(ini, kFolder, "EXEONCE", true);
  s.exeParam = ReadText(ini, kFolder, "EXEPARAM");

  s.savAvi = ReadFlag(ini, kMotion, "SAVAVI", true);
  s.savPic = ReadFlag(ini, kMotion, "SAVPIC", false);
  s.alarm = ReadFlag(ini, kMotion, "ALARM", true);
  s.exec = ReadFlag(ini, kMotion, "EXEC", false);
  s.hiSpeed = ReadFlag(ini, kMotion, "HISPEED", true);
  s.ftpAvi = ReadFlag(ini, kMotion, "FTPAVI", false);
  s.ftpPic = ReadFlag(ini, kMotion, "FTPPIC", false);
  s.mailAvi = ReadFlag(ini, kMotion, "MAILAVI", false);
  s.mailPic = ReadFlag(ini, kMotion, "MAILPIC", false);
  // The minimum length of a motion period, in seconds: at most a day (a huge
  // value would make every period endless), never negative.
  s.duration = std::clamp(ReadInt(ini, kMotion, "DURATION", 10), 0, 86400);

  s.driver = ReadText(ini, kCodec, "DRIVER");
  s.quality = ReadInt(ini, kCodec, "QUALITY", 85);
  // The four-character code is stored as a signed 32-bit number.
  s.fccHandler = static_cast<std::uint32_t>(ReadInt(ini, kCodec, "FCCHANDLER", 0));

  s.dialup = ReadText(ini, kInternet, "DIALUP");
  s.hangup = ReadFlag(ini, kInternet, "HANGUP", true);
  s.mailServer = ReadText(ini, kInternet, "MAILSERVER");
  s.mailFrom = ReadText(ini, kInternet, "MAILFROM");
  s.mailTo = ReadText(ini, kInternet, "MAILTO");
  s.authUser = ReadText(ini, kInternet, "AUTHUSER");
  s.authPasswd = ReadPassword(ini, "AUTHPASSWD");
  s.mailAuth = ReadFlag(ini, kInternet, "MAILAUTH", true);
  s.ftpServer = ReadText(ini, kInternet, "FTPSERVER");
  s.ftpUser = ReadText(ini, kInternet, "FTPUSER");
  s.ftpPasswd = ReadPassword(ini, "FTPPASSWD");
  s.ftpDir = ReadText(ini, kInternet, "FTPDIR");

  s.openAll = ReadFlag(ini, kStartup, "OPENALL", false);
  s.detect = ReadFlag(ini, kStartup, "DETECT", false);
  s.minMain = ReadFlag(ini, kStartup, "MINMAIN", false);
  s.maxView = ReadFlag(ini, kStartup, "MAXVIEW", false);

  const Settings defaults;
  s.colorSensible = ReadColour(ini, "COLOR_SENSIBLE", defaults.colorSensible);
  s.colorMask = ReadColour(ini, "COLOR_MASK", defaults.colorMask);
  s.colorHilight = ReadColour(ini, "COLOR_HILIGHT", defaults.colorHilight);
  // Light-change guard: on for a new settings file, and kept in it (written
  // with the first save), off for a file from before it existed.
  if (newFile) ini.SetInt(kMotion, "LIGHTSWITCH", kNewLightSwitch);
  s.lightSwitch = std::clamp(ReadInt(ini, kMotion, "LIGHTSWITCH", 0), 0, 100);

  LoadStorageSettings(ini, s);
  LoadSecureDeliverySettings(ini, s);
  LoadEventSettings(ini, s);
}

void LoadStorageSettings(const IniFile& ini, Settings& s) {
  const Settings defaults;
  const std::string maxGb = ReadText(ini, keys::kStorage, "MAXGB");
  char* end = nullptr;
  const double gb = std::strtod(maxGb.c_str(), &end);
  s.maxGb = (end != maxGb.c_str() && gb >= 0 && gb < 1e9) ? gb : defaults.maxGb;
  const int minFree = ReadInt(ini, keys::kStorage, "MINFREEMB", defaults.minFreeMb);
  s.minFreeMb = minFree >= 0 ? minFree : defaults.minFreeMb;
}

void LoadEventSettings(const IniFile& ini, Settings& s) {
  using namespace keys;
  s.preCapture = std::clamp(ReadInt(ini, kMotion, "PRECAPTURE", 2), 0, 10);
  s.mqttServer = TrimSpaces(ReadText(ini, kMqtt, "SERVER"));
  s.mqttUser = ReadText(ini, kMqtt, "USER");
  const std::string stored = ReadText(ini, kMqtt, "PASSWORD");
  s.mqttPassword.clear();
  if (!stored.empty()) PasswordScrambler::Unscramble(stored, s.mqttPassword);
  s.mqttTopic = TrimSpaces(ReadText(ini, kMqtt, "TOPIC"));
  if (s.mqttTopic.empty()) s.mqttTopic = DefaultMqttTopic();
  s.mqttCaFile = ReadText(ini, kMqtt, "CAFILE");
  s.mqttTls = ReadFlag(ini, kMqtt, "TLS", false);
  s.mqttRetain = ReadFlag(ini, kMqtt, "RETAIN", false);
  s.mqttDiscovery = ReadFlag(ini, kMqtt, "DISCOVERY", false);
}

std::string DefaultMqttTopic() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') return "qmr/qmr";
  std::string name = host;
  // A topic level must not hold the separator or the wildcards.
  for (char& c : name) {
    if (c == '/' || c == '+' || c == '#') c = '_';
  }
  return "qmr/" + name;
}

void LoadCameraSchedule(const IniFile& ini, CameraEntry& camera) {
  CameraSchedule schedule = camera.GetSchedule();
  const std::string& section = camera.name;

  std::string days;
  if (ini.GetString(section, "SCHEDULE_DAYS", "", days)) {
    std::vector<std::string> fields = SplitFields(days);
    if (fields.size() == schedule.days.size()) {
      for (std::size_t i = 0; i < fields.size(); ++i)
        schedule.days[i] = std::strtol(fields[i].c_str(), nullptr, 10) > 0;
    }
  }

  std::string times;
  if (ini.GetString(section, "SCHEDULE_TIME", "", times)) {
    // Reading stops at the first mismatch; fields not read keep their values.
    std::sscanf(times.c_str(), "%2d:%2d:%2d,%2d:%2d:%2d", &schedule.startHour,
                &schedule.startMinute, &schedule.startSecond, &schedule.stopHour,
                &schedule.stopMinute, &schedule.stopSecond);
  }

  int detect = 0;
  ini.GetInt(section, "SCHEDULE_DETECT", 0, detect);
  schedule.recordVideo = detect == 0;

  camera.SetSchedule(schedule);
}

bool CreateFolderPath(const std::string& path) {
  if (path.empty() || path[0] != kPathSeparator) return false;
  auto ensure = [](const std::string& folder) {
    if (IsFolder(folder)) return true;
    if (mkdir(folder.c_str(), 0755) == 0) return true;
    // Another thread or process may have made it meanwhile.
    return errno == EEXIST && IsFolder(folder);
  };
  for (std::size_t i = 1; i < path.size(); ++i) {
    if (path[i] != kPathSeparator || path[i - 1] == kPathSeparator) continue;
    if (!ensure(path.substr(0, i))) return false;
  }
  if (path.size() > 1 && path.back() != kPathSeparator) return ensure(path);
  return true;
}

}  // namespace qmr
