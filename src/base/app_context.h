// What worker threads and camera objects receive from the application: the
// settings, the settings file, the shared alarm, the dial-up line, the transfer
// queue, the camera list and the way to the user. The main frame implements it;
// tests implement it with doubles. No GUI type appears here.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qmr {

class SettingsStore;
class IniFile;
class AlarmSound;
class DialupConnection;
class TransferQueue;
class CameraEntry;
class MqttPublisher;

// Message box style bits; the values are those of the GUI toolkit's own
// constants, so the user-interface side passes them through unchanged.
enum MessageStyle : long {
  kMsgOk = 0x00000004,
  kMsgIconWarning = 0x00000100,
  kMsgIconError = 0x00000200,
  kMsgIconQuestion = 0x00000400,
  kMsgIconInformation = 0x00000800,
};

class AppContext {
 public:
  virtual ~AppContext() = default;

  // Every global setting. Safe from any thread (see SettingsStore).
  virtual SettingsStore& Settings() = 0;
  // The settings file. User-interface thread only (and camera start).
  virtual IniFile& SettingsFile() = 0;
  virtual AlarmSound& Alarm() = 0;
  virtual DialupConnection& Dialup() = 0;
  virtual TransferQueue& Transfer() = 0;
  // The camera list in enumeration order; its position is the device index.
  // Filled once at start-up; the entries live until shutdown.
  virtual const std::vector<std::unique_ptr<CameraEntry>>& Cameras() = 0;
  // The motion events' way to an MQTT broker; null when the program has none.
  virtual MqttPublisher* Mqtt() { return nullptr; }

  // Shows a message box later on the user-interface thread; never blocks.
  virtual void PostMessageBox(const std::string& text, const std::string& caption,
                              long style) = 0;
  void ShowError(const std::string& text) { PostMessageBox(text, "Error", kMsgOk | kMsgIconError); }

  // Runs fn on the user-interface thread and waits for it at most timeoutMs.
  // False when it did not run in time (it may still run later) or the
  // program is shutting down. Called on the user-interface thread, fn runs at
  // once.
  virtual bool RunOnUiThread(std::function<void()> fn, int timeoutMs) = 0;
};

}  // namespace qmr
