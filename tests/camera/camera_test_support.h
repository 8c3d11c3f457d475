// Helpers of the camera window tests: an event loop the tests pump
// themselves, a temporary application folder and an application context
// that records the message boxes instead of showing them.
#pragma once

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/evtloop.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/app_context.h"
#include "base/process.h"
#include "capture/camera_entry.h"
#include "config/ini_file.h"
#include "config/settings.h"
#include "delivery/transfer_queue.h"
#include "motion/alarm_sound.h"

namespace qmr::test {

// Makes a GUI event loop active for the whole test run.
class EventLoopScope {
 public:
  EventLoopScope() : loop_(new wxGUIEventLoop), activator_(loop_.get()) {}

 private:
  std::unique_ptr<wxGUIEventLoop> loop_;
  wxEventLoopActivator activator_;
};

// Handles pending events and idle work until pred is true or ms have passed.
inline bool PumpUntil(const std::function<bool()>& pred, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (wxEventLoopBase* loop = wxEventLoopBase::GetActive()) {
      while (loop->Pending()) loop->Dispatch();
    }
    wxTheApp->ProcessPendingEvents();
    wxTheApp->ProcessIdle();
    if (pred && pred()) return true;
    if (std::chrono::steady_clock::now() >= end) return pred ? pred() : true;
    SleepMs(5);
  }
}
inline void PumpEvents(int ms) { PumpUntil(nullptr, ms); }

// A fresh folder that becomes the application folder; removed afterwards.
class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/qmr-camera-XXXXXX";
    path_ = mkdtemp(pattern);
    SetApplicationFolder(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

class TestContext : public AppContext {
 public:
  struct Box {
    std::string text, caption;
    long style;
  };

  explicit TestContext(const std::string& folder) {
    qmr::Settings s;
    s.aviDir = folder + "/AVI";
    s.picDir = folder + "/PIC";
    s.alarm = false;
    settings_.Set(s);
    ini_.Load(folder + "/qmr.ini");
  }

  SettingsStore& Settings() override { return settings_; }
  IniFile& SettingsFile() override { return ini_; }
  AlarmSound& Alarm() override { return alarm_; }
  DialupConnection& Dialup() override { std::abort(); }
  // Jobs wait in the queue; no transfer thread runs in these tests.
  TransferQueue& Transfer() override { return transfer_; }
  const std::vector<std::unique_ptr<CameraEntry>>& Cameras() override { return cameras; }
  void PostMessageBox(const std::string& text, const std::string& caption, long style) override {
    boxes.push_back({text, caption, style});
  }
  bool RunOnUiThread(std::function<void()> fn, int) override {
    fn();
    return true;
  }

  std::vector<std::unique_ptr<CameraEntry>> cameras;
  std::vector<Box> boxes;

 private:
  SettingsStore settings_;
  IniFile ini_;
  AlarmSound alarm_;
  TransferQueue transfer_;
};

}  // namespace qmr::test
