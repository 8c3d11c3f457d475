// Every global setting with its default, the thread-safe store that holds
// them, and the loading of the settings file at start-up.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace qmr {

class IniFile;
class CameraEntry;

struct Rgb {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  bool operator==(const Rgb&) const = default;
};

struct Settings {
  // FOLDER
  std::string aviDir;  // default ApplicationFolder + "/AVI"
  std::string picDir;  // default ApplicationFolder + "/PIC"
  std::string sndFile;  // default: the program's own alarm sound
  bool sndRepeat = true;
  std::string exeFile;
  bool exeOnce = true;
  std::string exeParam;
  // MOTION
  bool savAvi = true;
  bool savPic = false;
  bool alarm = true;
  bool exec = false;
  bool hiSpeed = true;
  bool ftpAvi = false;
  bool ftpPic = false;
  bool mailAvi = false;
  bool mailPic = false;
  int duration = 10;
  // CODEC
  std::string driver;
  int quality = 85;
  std::uint32_t fccHandler = 0;
  // INTERNET (passwords in clear in memory)
  std::string dialup;
  bool hangup = true;
  std::string mailServer;
  std::string mailFrom;
  std::string mailTo;
  std::string authUser;
  std::string authPasswd;
  bool mailAuth = true;
  std::string ftpServer;
  std::string ftpUser;
  std::string ftpPasswd;
  std::string ftpDir;
  // STARTUP
  bool openAll = false;
  bool detect = false;
  bool minMain = false;
  bool maxView = false;
  // MISC
  Rgb colorSensible{0, 255, 255};
  Rgb colorMask{0, 255, 0};
  Rgb colorHilight{255, 0, 255};

  // STORAGE: limits the storage keeper holds the AVI and PIC folders to.
  double maxGb = 0;     // MAXGB: total size of the program's files there; 0 = no limit
  int minFreeMb = 500;  // MINFREEMB: free space kept on the disk of each folder
  // Secure delivery (INTERNET section): TLS for mail and FTP, and the FTP
  // data connection mode. Missing keys keep the plain behaviour of older
  // files, except FTPMODE, which tries passive mode first.
  int mailSecurity = 0;  // MAILSECURITY: 0 none, 1 STARTTLS, 2 TLS from the start
  bool mailVerify = true;  // MAILVERIFY: check the mail server's certificate
  int ftpMode = 0;  // FTPMODE: 0 passive then active, 1 active only, 2 passive only
  int ftpSecurity = 0;  // FTPSECURITY: 0 none, 1 explicit TLS (AUTH TLS), 2 implicit FTPS
  bool ftpVerify = true;  // FTPVERIFY: check the FTP server's certificate
  // Light-change guard (MOTION LIGHTSWITCH): when at least this percentage
  // of the watched samples changes at one check, it is not motion. 0 = off;
  // missing in a stored file means off, a new settings file starts at 60.
  int lightSwitch = 0;
  // Pre-event buffer and events to an MQTT broker.
  int preCapture = 2;  // MOTION PRECAPTURE: seconds before the motion kept in recordings (0..10)
  std::string mqttServer;  // MQTT SERVER "host[:port]"; empty: no broker
  std::string mqttUser;
  std::string mqttPassword;  // in clear in memory, scrambled in the file
  std::string mqttTopic;     // topic prefix; empty: "qmr/<host name>"
  std::string mqttCaFile;    // certificate authority file for TLS; empty: the system's
  bool mqttTls = false;
  bool mqttRetain = false;
  bool mqttDiscovery = false;
};

// Holds the one Settings record. The user-interface thread changes it through
// Update; any thread takes a consistent copy with Get, so no string is read
// while another thread writes it.
class SettingsStore {
 public:
  Settings Get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return settings_;
  }
  void Set(const Settings& settings) {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_ = settings;
  }
  template <typename Fn>
  void Update(Fn&& fn) {
    std::lock_guard<std::mutex> lock(mutex_);
    fn(settings_);
  }
  // Reads a few values without copying the whole record (per-frame callers).
  template <typename Fn>
  auto Read(Fn&& fn) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return fn(static_cast<const Settings&>(settings_));
  }

 private:
  mutable std::mutex mutex_;
  Settings settings_;
};

// "ApplicationFolder/qmr.ini".
std::string SettingsFilePath();

// Loads the settings file (a missing one is no error) into ini and fills
// settings with every key or its default; creates the AVI and PIC folders
// when they are missing (absolute paths only). Passwords are unscrambled.
// The derived defaults are not written back to the file.
void LoadSettings(IniFile& ini, Settings& settings);
// Reads the [STORAGE] keys into settings (called by LoadSettings): negative
// or unreadable values give the defaults.
void LoadStorageSettings(const IniFile& ini, Settings& settings);
// Reads SCHEDULE_DAYS, SCHEDULE_TIME and SCHEDULE_DETECT of the camera's
// section into its schedule.
void LoadCameraSchedule(const IniFile& ini, CameraEntry& camera);
// The pre-event buffer's PRECAPTURE and the MQTT section (LoadSettings calls
// it). A missing PRECAPTURE means 2 seconds; a missing SERVER means no broker.
void LoadEventSettings(const IniFile& ini, Settings& settings);
// The MQTT topic prefix used when TOPIC is empty: "qmr/<host name>".
std::string DefaultMqttTopic();

// Creates the folder and every missing parent. The path must be absolute
// (start with "/"); a relative path is refused and nothing is created.
bool CreateFolderPath(const std::string& path);

// LIGHTSWITCH of a settings file the program starts without.
inline constexpr int kNewLightSwitch = 60;

// Setting is on when the stored integer is greater than 0.
inline bool FlagOn(int stored) { return stored > 0; }

// Section and key names.
namespace keys {
inline constexpr const char* kFolder = "FOLDER";
inline constexpr const char* kMotion = "MOTION";
inline constexpr const char* kCodec = "CODEC";
inline constexpr const char* kInternet = "INTERNET";
inline constexpr const char* kStartup = "STARTUP";
inline constexpr const char* kMisc = "MISC";
inline constexpr const char* kStorage = "STORAGE";
inline constexpr const char* kMqtt = "MQTT";
}  // namespace keys

}  // namespace qmr
