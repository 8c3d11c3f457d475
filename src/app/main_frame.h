// The main window: menus, toolbar, status bar, the camera panes, the global
// commands, the start-up actions and the staged shutdown. It is also the one
// application context every worker thread and camera window receives.
#pragma once

#include <wx/aui/framemanager.h>
#include <wx/frame.h>
#include <wx/timer.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/open_dialogs.h"
#include "base/app_context.h"
#include "base/process.h"
#include "scheduler/scheduler.h"
#include "camera/camera_host.h"
#include "config/ini_file.h"
#include "config/settings.h"
#include "config/streams_section.h"

class wxThreadEvent;
class wxToolBar;

namespace qmr {

class CameraFrame;
class StorageKeeper;

// One message box waiting to be shown on the user-interface thread.
struct MessageBoxRequest {
  std::string text;
  std::string caption;
  long style = 0;
};

class MainFrame : public wxFrame,
                  public AppContext,
                  public CameraHost,
                  private ScheduleTarget {
 public:
  // Shows a message box; replaced by tests, which cannot answer modal boxes.
  using MessageBoxShower = std::function<void(const MessageBoxRequest&)>;

  static constexpr int kThreadEndTimeoutMs = 10000;
  static constexpr int kUiCallTimeoutMs = 5000;

  // Builds the window, enumerates the cameras, loads the settings and runs
  // the start-up actions (which start the transfer and scheduler threads).
  MainFrame();
  ~MainFrame() override;

  // AppContext
  SettingsStore& Settings() override { return settings_; }
  IniFile& SettingsFile() override { return ini_; }
  AlarmSound& Alarm() override { return *alarm_; }
  DialupConnection& Dialup() override { return *dialup_; }
  TransferQueue& Transfer() override { return *transfer_; }
  const std::vector<std::unique_ptr<CameraEntry>>& Cameras() override { return cameras_; }
  MqttPublisher* Mqtt() override { return mqtt_.get(); }
  void PostMessageBox(const std::string& text, const std::string& caption, long style) override;
  bool RunOnUiThread(std::function<void()> fn, int timeoutMs) override;

  // CameraHost
  AppContext& Context() override { return *this; }
  wxWindow* HostWindow() override { return this; }
  void AddCameraWindow(CameraFrame* window, const wxString& title) override;
  void RemoveCameraWindow(CameraFrame* window) override;
  void SetPaneTitle(wxWindow* window, const wxString& title) override;
  void SetPaneIcon(wxWindow* window, const wxBitmap& icon) override;
  void CameraActivated(CameraFrame* window) override;

  // The camera windows in opening order.
  const std::vector<CameraFrame*>& CameraWindows() const { return cameraWindows_; }
  // The camera the toolbar's camera commands go to, or nullptr.
  CameraFrame* ActiveCameraWindow() const;
  // Opens the device of camera `index` and shows it in a new camera window,
  // which is returned whether or not it started; nullptr when the device
  // does not open.
  CameraFrame* OpenCameraWindow(int index);

  // Arranges every camera pane in a grid filling the window.
  void TileCameraWindows();
  // Lets the one camera pane fill the window.
  void MaximiseCameraWindow(CameraFrame* window);

  // Stores the cameras of the camera manager in the settings file and applies
  // them at once: new ones join the camera list (File > New camera opens
  // them), removed ones close their window and leave it. False with a
  // message when the settings file cannot be written.
  bool ApplyCameraList(const std::vector<StreamListing>& streams);
  // The cameras listed in the settings file, as the camera manager shows them.
  std::vector<StreamListing> ListedCameras() const;

  // The error text of the new-camera command.
  static std::string NoDeviceText(bool cameraWindowExists);

  void SetMessageBoxShower(MessageBoxShower shower) { showBox_ = std::move(shower); }
  // True once the shutdown has run (the frame may then close).
  bool ShutDown() const { return stage_ == Stage::kShutDown; }

  wxAuiManager& PaneManager() { return aui_; }

  // Status bar fields after the menu help: the open cameras (frames per
  // second, recording mark), the last motion, the free space of the AVI
  // folder's disk and the sound note.
  enum StatusField {
    kStatusHelp,
    kStatusCameras,
    kStatusMotion,
    kStatusDisk,
    kStatusSound,
    kStatusCount
  };
  // Refreshes the status fields and the cameras' motion marks; a timer runs
  // it about once a second (tests call it directly).
  void RefreshStatus();
  // The disk field: the free space, or a warning when it is below minFreeMb.
  static std::string FreeSpaceText(std::int64_t freeBytes, int minFreeMb);

 private:
  enum class Stage { kRunning, kStopping, kShutDown };

  void BuildToolBar();
  void LoadSettingsAndCameras();
  void RunStartupActions();
  void StartThreads();

  // Quit stages: 0 stops the threads' loops, 1 shuts down, 2 closes.
  void PostQuitStage(int stage);
  void RunShutdown();

  void OnQuit(wxCommandEvent& event);
  void OnClose(wxCloseEvent& event);
  void OnNewCamera(wxCommandEvent& event);
  void OnPlayback(wxCommandEvent& event);
  void OnStopAlarm(wxCommandEvent& event);
  void OnCameraCommand(wxCommandEvent& event);
  void OnSettingsDialog(wxCommandEvent& event);
  void OnHelp(wxCommandEvent& event);
  void OnAbout(wxCommandEvent& event);
  void OnShowMessageBox(wxThreadEvent& event);
  void OnStopPoll(wxTimerEvent& event);
  void OnStatusTimer(wxTimerEvent& event);
  void OnPaneClose(wxAuiManagerEvent& event);
  void OnPaneActivated(wxAuiManagerEvent& event);
  void OnSize(wxSizeEvent& event);
  void OnCameraManager(wxCommandEvent& event);
  void OnBackgroundPaint(wxPaintEvent& event);

  CameraFrame* FindCameraWindow(const CameraEntry& entry) const;
  CameraFrame* CameraWindowOf(int index) const;

  // ScheduleTarget: each runs on the user-interface thread.
  void PostTransferTick() override;
  bool EnsureCameraOpen(int index) override;
  bool IsRecording(int index) override;
  bool StartRecording(int index) override;
  bool IsDetecting(int index) override;
  bool StartDetecting(int index) override;
  bool AskUi(const std::function<bool()>& question);

  SettingsStore settings_;
  IniFile ini_;
  std::unique_ptr<DialupConnection> dialup_;
  std::unique_ptr<AlarmSound> alarm_;
  std::unique_ptr<TransferQueue> transfer_;
  ThreadHandle schedulerHandle_{0};
  std::unique_ptr<Scheduler> scheduler_;
  std::unique_ptr<StorageKeeper> storageKeeper_;
  std::vector<CameraFrame*> cameraWindows_;
  std::vector<std::unique_ptr<CameraEntry>> cameras_;
  std::unique_ptr<MqttPublisher> mqtt_;  // motion events to an MQTT broker
  // Held while cameras_ grows, which the scheduler thread reads.
  std::mutex cameraListLock_;

  wxAuiManager aui_;
  wxWindow* background_ = nullptr;
  CameraFrame* activeCamera_ = nullptr;
  int paneSerial_ = 0;
  bool tiled_ = false;  // the panes are kept in a grid
  int tileRowBase_ = 0;
  wxSize lastTiledSize_;

  std::deque<MessageBoxRequest> waitingBoxes_;  // UI thread only
  bool showingBox_ = false;
  MessageBoxShower showBox_;

  Stage stage_ = Stage::kRunning;
  bool stagesStarted_ = false;
  wxTimer stopPoll_;
  // The status refresh: its timer and each camera's frame count and time at
  // the previous refresh, for the frames per second.
  struct FrameCount {
    std::uint64_t frames = 0;
    std::int64_t atMs = 0;
    double fps = 0;
  };
  wxTimer statusTimer_;
  std::map<const CameraFrame*, FrameCount> frameCounts_;
  OpenDialogs openDialogs_;
};

}  // namespace qmr
