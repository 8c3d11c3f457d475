// The application as the motion actions and the settings dialogs see it:
// settings, settings file, the shared alarm (through a counting sound
// double), a transfer queue and a dial-up line, all owned here.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "base/app_context.h"
#include "capture/camera_entry.h"
#include "config/ini_file.h"
#include "config/settings.h"
#include "delivery/dialup_connection.h"
#include "delivery/transfer_queue.h"
#include "motion/alarm_sound.h"
#include "platform/audio_player.h"
#include "counting_player.h"

namespace qmr::testing {

class EventsContext : public AppContext {
 public:
  EventsContext() {
    auto owned = std::make_unique<CountingPlayer>();
    player = owned.get();
    alarm_ = std::make_unique<AlarmSound>(std::move(owned));
  }
  ~EventsContext() override { StopTransfer(); }

  // Starts the transfer thread with the internet taken as present.
  bool StartTransfer() {
    transfer_.SetInternetCheck([] { return true; });
    transfer_.SetReceiveTimeout(10);
    return transfer_.Start(*this);
  }
  void StopTransfer() {
    if (transfer_.IsRunning()) {
      transfer_.PostQuit();
      transfer_.WaitForEnd(20000);
    }
  }

  SettingsStore& Settings() override { return settings_; }
  IniFile& SettingsFile() override { return ini_; }
  AlarmSound& Alarm() override { return *alarm_; }
  DialupConnection& Dialup() override { return dialup_; }
  TransferQueue& Transfer() override { return transfer_; }
  const std::vector<std::unique_ptr<CameraEntry>>& Cameras() override { return cameras_; }
  void PostMessageBox(const std::string& text, const std::string&, long) override {
    messages.push_back(text);
  }
  bool RunOnUiThread(std::function<void()> fn, int) override {
    fn();
    return true;
  }

  CountingPlayer* player = nullptr;
  std::vector<std::string> messages;

 private:
  SettingsStore settings_;
  IniFile ini_;
  std::unique_ptr<AlarmSound> alarm_;
  DialupConnection dialup_;
  std::vector<std::unique_ptr<CameraEntry>> cameras_;
  TransferQueue transfer_;
};

}  // namespace qmr::testing
