// The application as the settings dialogs see it: settings, the settings
// file in a fresh folder, a silent alarm, a dial-up line reading a fixture
// peers folder, and helpers that drive a dialog's controls.
#pragma once

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/dialog.h>

#include <memory>
#include <string>
#include <vector>

#include "../support/temp_folder.h"
#include "base/app_context.h"
#include "base/process.h"
#include "capture/camera_entry.h"
#include "config/ini_file.h"
#include "config/settings.h"
#include "delivery/dialup_connection.h"
#include "delivery/transfer_queue.h"
#include "motion/alarm_sound.h"
#include "platform/audio_player.h"

namespace qmr::testing {

class SilentPlayer : public AudioPlayer {
 public:
  bool Play(const std::string&, bool) override { return true; }
  void Stop() override {}
  bool IsPlaying() const override { return false; }
};

class DialogContext : public AppContext {
 public:
  // peersFolder: the dial-up entries the line lists.
  explicit DialogContext(const std::string& peersFolder)
      : alarm_(std::make_unique<SilentPlayer>()),
        dialup_(DialupConnection::Config{.peersFolder = peersFolder}) {}

  SettingsStore& Settings() override { return settings_; }
  IniFile& SettingsFile() override { return ini_; }
  AlarmSound& Alarm() override { return alarm_; }
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

  std::vector<std::string> messages;

 private:
  SettingsStore settings_;
  IniFile ini_;
  AlarmSound alarm_;
  DialupConnection dialup_;
  TransferQueue transfer_;
  std::vector<std::unique_ptr<CameraEntry>> cameras_;
};

template <typename T>
T* Control(wxWindow* dialog, const char* name) {
  auto* found = dynamic_cast<T*>(wxWindow::FindWindowByName(name, dialog));
  EXPECT_NE(found, nullptr) << name;
  return found;
}

// Presses a button as the user would: its click event reaches the dialog.
inline void Click(wxDialog& dialog, int id) {
  wxWindow* button = dialog.FindWindow(id);
  ASSERT_NE(button, nullptr) << id;
  wxCommandEvent event(wxEVT_BUTTON, id);
  event.SetEventObject(button);
  button->ProcessWindowEvent(event);
}

inline std::string FileValue(const std::string& path, const std::string& section,
                             const std::string& key) {
  IniFile ini;
  std::string value = "<absent>";
  if (ini.Load(path)) ini.GetString(section, key, "<absent>", value);
  return value;
}

}  // namespace qmr::testing
