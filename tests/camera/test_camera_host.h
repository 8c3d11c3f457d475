// A plain frame that hosts camera windows the way the main frame does, and a
// frame source whose format, capabilities and end the test controls.
#pragma once

#include <wx/frame.h>
#include <wx/sizer.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "camera/camera_frame.h"
#include "camera/camera_host.h"
#include "camera_test_support.h"
#include "capture/frame_source.h"

namespace qmr::test {

class TestCameraHost : public CameraHost {
 public:
  explicit TestCameraHost(AppContext& context) : context_(context) {
    frame_ = new wxFrame(nullptr, wxID_ANY, "host", wxDefaultPosition, wxSize(800, 600));
    frame_->SetSizer(new wxGridSizer(2));
    frame_->Show();
  }
  ~TestCameraHost() override {
    // Camera windows leave the host while they are destroyed.
    while (!windows.empty()) delete windows.back();
    frame_->Destroy();
    PumpEvents(20);
  }

  AppContext& Context() override { return context_; }
  wxWindow* HostWindow() override { return frame_; }
  void AddCameraWindow(CameraFrame* window, const wxString& title) override {
    windows.push_back(window);
    titles[window] = title;
    frame_->GetSizer()->Add(window, 1, wxEXPAND);
    frame_->Layout();
  }
  void RemoveCameraWindow(CameraFrame* window) override {
    windows.erase(std::remove(windows.begin(), windows.end(), window), windows.end());
    titles.erase(window);
    frame_->GetSizer()->Detach(window);
  }
  void SetPaneTitle(wxWindow* window, const wxString& title) override { titles[window] = title; }
  void SetPaneIcon(wxWindow*, const wxBitmap& icon) override { lastIcon = icon; }

  std::vector<CameraFrame*> windows;
  std::map<wxWindow*, wxString> titles;
  wxBitmap lastIcon;

 private:
  AppContext& context_;
  wxFrame* frame_;
};

// Delivers grey frames at its format's rate on its own thread; it can end
// after a given number of frames, like a camera that is unplugged.
class FakeSource : public FrameSource {
 public:
  std::vector<VideoCapability> capabilities;
  int width = 320, height = 240, rate = 25;
  int endAfterFrames = -1;
  long brightness = 50, brightnessFlags = kPropertyFlagManual;
  long whiteBalance = 4000, whiteBalanceFlags = kPropertyFlagAuto;
  std::atomic<int> setFormatCalls{0};
  // Gain: its range can be read, its value cannot; writes are counted.
  std::atomic<int> gainWrites{0};

  ~FakeSource() override { Stop(); }
  bool Open() override { return true; }
  std::string DeviceName() const override { return "Fake"; }
  bool Start(SampleSink& sink) override {
    Stop();
    stop_ = false;
    thread_ = std::thread([this, &sink] {
      std::vector<std::uint8_t> picture;
      for (int n = 0; !stop_; ++n) {
        int w, h, r;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          w = width, h = height, r = rate;
        }
        if (endAfterFrames >= 0 && n >= endAfterFrames) {
          sink.OnSourceEnded("unplugged");
          return;
        }
        picture.assign(static_cast<size_t>(w) * h * 3, static_cast<std::uint8_t>(n * 7));
        sink.OnSample(picture.data(), w, h, w * 3);
        SleepMs(1000 / std::max(1, r));
      }
    });
    return true;
  }
  void Stop() override {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  void Close() override { Stop(); }
  bool GetFormat(int& w, int& h, int& r) override {
    std::lock_guard<std::mutex> lock(mutex_);
    w = width, h = height, r = rate;
    return true;
  }
  bool SetFormat(int w, int h, int r) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++setFormatCalls;
    if (w == 0 && h == 0) {
      w = 320, h = 240;
      if (r == 0) r = 25;  // the default rate
    }
    if (w <= 0 || h <= 0) return false;
    width = w, height = h, rate = std::max(1, r);
    return true;
  }
  int CapabilityCount() override { return static_cast<int>(capabilities.size()); }
  bool GetCapability(int index, VideoCapability& c) override {
    if (index < 0 || index >= CapabilityCount()) return false;
    c = capabilities[index];
    return true;
  }
  // Only brightness (manual) and white balance (manual or automatic).
  bool GetPropertyRange(int property, PropertyRange& range) override {
    if (property == kPropBrightness) {
      range = PropertyRange{0, 100, 1, 50, kPropertyFlagManual};
      return true;
    }
    if (property == kPropWhiteBalance) {
      range = PropertyRange{2800, 6500, 10, 4600, kPropertyFlagAuto | kPropertyFlagManual};
      return true;
    }
    if (property == kPropGain) {
      range = PropertyRange{0, 255, 1, 64, kPropertyFlagManual};
      return true;
    }
    return false;
  }
  bool GetProperty(int property, long& value, long& flags) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (property == kPropBrightness) {
      value = brightness, flags = brightnessFlags;
      return true;
    }
    if (property == kPropWhiteBalance) {
      value = whiteBalance, flags = whiteBalanceFlags;
      return true;
    }
    return false;
  }
  bool SetProperty(int property, long value, long flags) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (property == kPropBrightness) {
      brightness = value, brightnessFlags = flags;
      return true;
    }
    if (property == kPropWhiteBalance) {
      whiteBalance = value, whiteBalanceFlags = flags;
      return true;
    }
    if (property == kPropGain) ++gainWrites;
    return false;
  }

 private:
  std::mutex mutex_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace qmr::test
