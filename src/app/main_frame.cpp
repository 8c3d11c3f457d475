#include "app/main_frame.h"

#include <wx/dcclient.h>
#include <wx/dialog.h>
#include <wx/filedlg.h>
#include <wx/msgdlg.h>
#include <wx/panel.h>
#include <wx/statusbr.h>
#include <wx/toolbar.h>
#include <wx/utils.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <condition_variable>
#include <ctime>

#include "app/command_ids.h"
#include "app/help_window.h"
#include "app/main_menu.h"
#include "app/resource_images.h"
#include "camera/camera_frame.h"
#include "capture/capture_device.h"
#include "capture/enumerate_devices.h"
#include "delivery/dialup_connection.h"
#include "base/log_file.h"
#include "delivery/transfer_queue.h"
#include "dialogs/about_dialog.h"
#include "dialogs/camera_manager_dialog.h"
#include "dialogs/compressor_dialog.h"
#include "dialogs/internet_accounts_dialog.h"
#include "dialogs/folder_dialog.h"
#include "dialogs/motion_trigger_dialog.h"
#include "dialogs/startup_dialog.h"
#include "motion/alarm_sound.h"
#include "platform/audio_player.h"
#include "storage/storage_keeper.h"
#include "storage/write_failure.h"
#include "mqtt/mqtt_publisher.h"

namespace qmr {

namespace {

struct ToolSpec {
  int id;
  const char* image;
  const char* shortHelp;
  const char* longHelp;
};

// The toolbar, in order; a null image marks a separator.
const ToolSpec kTools[] = {
    {kIdNewCamera, "tool_camera", "Camera", "Add new camera window"},
    {kIdPlayback, "tool_playback", "Playback", "Playback avi file"},
    {kIdStopAlarm, "tool_stop_alarm", "Stop alarm", "Stop alarm sound"},
    {0, nullptr, nullptr, nullptr},
    {kIdRecord, "tool_record", "Record", "Current camera start/stop recording"},
    {kIdSnapshot, "tool_snapshot", "Snapshot", "Take a snapshot from current camera"},
    {kIdDetect, "tool_detect", "Detect", "Current camera start/stop motion detecting"},
    {kIdSensibleZones, "tool_zones", "Sensible zones", "Set current camera motion sensible zones"},
    {kIdSchedule, "tool_schedule", "Schedule", "Current camera record schedule"},
    {0, nullptr, nullptr, nullptr},
    {kIdFolderSettings, "tool_folders", "Folders", "Folder and file settings"},
    {kIdMotionTriggerSettings, "tool_trigger", "Motion trigger",
     "Set events triggered by motion detector"},
    {kIdCompressorSettings, "tool_compressor", "Compressor", "Coder/decoder settings"},
    {kIdAccountSettings, "tool_accounts", "Accounts", "Internet accounts settings"},
    {kIdStartupSettings, "tool_startup", "Startup", "System startup settings"},
};

// The state a worker shares with a function it hands to the UI thread.
struct UiCall {
  std::mutex mutex;
  std::condition_variable done;
  bool started = false;
  bool finished = false;
  bool abandoned = false;
};

}  // namespace

MainFrame::MainFrame()
    : wxFrame(nullptr, wxID_ANY, "Quelmar Video Capture", wxPoint(30, 30), wxSize(800, 600),
              wxDEFAULT_FRAME_STYLE | wxCLIP_CHILDREN),
      dialup_(std::make_unique<DialupConnection>()),
      alarm_(std::make_unique<AlarmSound>()),
      transfer_(std::make_unique<TransferQueue>()),
      stopPoll_(this),
      statusTimer_(this) {
  showBox_ = [](const MessageBoxRequest& r) {
    wxMessageBox(wxString::FromUTF8(r.text), wxString::FromUTF8(r.caption), r.style, nullptr);
  };

  // No window keeps its state through update-UI events (the menus and the
  // toolbar hold plain commands; the camera's pop-up menu is built with its
  // checks set). Left on, the toolkit would send them to every window and
  // every tool after each event, that is after every camera frame.
  wxUpdateUIEvent::SetMode(wxUPDATE_UI_PROCESS_SPECIFIED);
  SetMenuBar(CreateMainMenuBar());
  CreateStatusBar(kStatusCount);
  {
    const int widths[kStatusCount] = {-1, -4, 165, 190, 115};
    GetStatusBar()->SetStatusWidths(kStatusCount, widths);
  }
  BuildToolBar();
  SetIcons(ProgramIcons());

  // The area behind the camera panes.
  aui_.SetManagedWindow(this);
  aui_.SetFlags(wxAUI_MGR_DEFAULT | wxAUI_MGR_ALLOW_ACTIVE_PANE | wxAUI_MGR_LIVE_RESIZE);
  aui_.SetDockSizeConstraint(1.0, 1.0);
  background_ = new wxPanel(this, wxID_ANY);
  background_->SetBackgroundColour(wxColour(128, 128, 128));
  background_->Bind(wxEVT_PAINT, &MainFrame::OnBackgroundPaint, this);
  background_->Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
    background_->Refresh();
    event.Skip();
  });
  aui_.AddPane(background_, wxAuiPaneInfo().Name("background").CenterPane().PaneBorder(false));
  aui_.Update();

  Bind(wxEVT_MENU, &MainFrame::OnQuit, this, kIdQuit);
  Bind(wxEVT_MENU, &MainFrame::OnNewCamera, this, kIdNewCamera);
  Bind(wxEVT_MENU, &MainFrame::OnCameraManager, this, kIdCameraManager);
  Bind(wxEVT_MENU, &MainFrame::OnPlayback, this, kIdPlayback);
  Bind(wxEVT_MENU, &MainFrame::OnStopAlarm, this, kIdStopAlarm);
  Bind(wxEVT_MENU, &MainFrame::OnCameraCommand, this, kIdRecord, kIdSchedule);
  Bind(wxEVT_MENU, &MainFrame::OnSettingsDialog, this, kIdFolderSettings, kIdAccountSettings);
  Bind(wxEVT_MENU, &MainFrame::OnHelp, this, kIdHelp);
  Bind(wxEVT_MENU, &MainFrame::OnAbout, this, kIdAbout);
  Bind(wxEVT_CLOSE_WINDOW, &MainFrame::OnClose, this);
  Bind(wxEVT_THREAD, &MainFrame::OnShowMessageBox, this, kIdShowMessageBox);
  Bind(wxEVT_TIMER, &MainFrame::OnStopPoll, this, stopPoll_.GetId());
  Bind(wxEVT_AUI_PANE_CLOSE, &MainFrame::OnPaneClose, this);
  Bind(wxEVT_AUI_PANE_ACTIVATED, &MainFrame::OnPaneActivated, this);
  Bind(wxEVT_SIZE, &MainFrame::OnSize, this);

  LoadSettingsAndCameras();
  RunStartupActions();
  // SIGINT and SIGTERM only set StopFlag; this starts the same quit stages
  // within half a second.
  stopPoll_.Start(500);
  Bind(wxEVT_TIMER, &MainFrame::OnStatusTimer, this, statusTimer_.GetId());
  RefreshStatus();
  statusTimer_.Start(1000);
}

MainFrame::~MainFrame() {
  stopPoll_.Stop();
  statusTimer_.Stop();
  // A frame destroyed without the quit stages (tests, a close that could not
  // be refused) still ends its threads and cameras first.
  if (stage_ != Stage::kShutDown) {
    StopFlag.store(1);
    RunShutdown();
  }
  aui_.UnInit();
}

void MainFrame::BuildToolBar() {
  wxToolBar* bar = CreateToolBar(wxTB_HORIZONTAL | wxTB_FLAT);
  bar->SetToolBitmapSize(wxSize(32, 32));
  const wxColour background = bar->GetBackgroundColour();
  for (const ToolSpec& tool : kTools) {
    if (tool.image == nullptr) {
      bar->AddSeparator();
      continue;
    }
    bar->AddTool(tool.id, wxString::FromUTF8(tool.shortHelp), LoadToolBitmap(tool.image, background),
                 wxString::FromUTF8(tool.shortHelp), wxITEM_NORMAL);
    bar->SetToolLongHelp(tool.id, wxString::FromUTF8(tool.longHelp));
  }
  bar->Realize();
}

void MainFrame::LoadSettingsAndCameras() {
  // The extra cameras are listed in the settings file, so it is read before
  // the devices are enumerated; the schedules need the camera names after.
  ini_.SetSaveFailureHandler([this](const std::string& reason) {
    const std::string text = "The settings could not be saved: " + reason;
    LogFile::Write(text);
    ShowError(text);
  });
  ini_.Load(SettingsFilePath());
  EnumerateDevices(cameras_, ini_);
  qmr::Settings loaded;
  LoadSettings(ini_, loaded);
  settings_.Set(loaded);
  for (auto& camera : cameras_) LoadCameraSchedule(ini_, *camera);
  alarm_->SetSoundFile(loaded.sndFile);
}

void MainFrame::RunStartupActions() {
  const qmr::Settings s = settings_.Get();
  if (s.minMain) {
    Iconize(true);
  } else {
    Maximize(true);
  }
  if (s.openAll) {
    for (std::size_t i = 0; i < cameras_.size(); ++i) {
      if (!cameras_[i]->inUse.load()) OpenCameraWindow(static_cast<int>(i));
    }
  }
  if (s.maxView && !cameraWindows_.empty()) {
    if (cameraWindows_.size() > 1) {
      TileCameraWindows();
    } else {
      MaximiseCameraWindow(cameraWindows_.front());
    }
  }
  StartThreads();
}

void MainFrame::StartThreads() {
  if (!transfer_->Start(*this)) LogFile::Write("The transfer thread could not be started");
  // Failed writes of recordings show their one message box through here.
  SetWriteFailureNotifier(
      [this](const std::string& text) { PostMessageBox(text, "Error", kMsgOk | kMsgIconError); });
  storageKeeper_ = std::make_unique<StorageKeeper>();
  storageKeeper_->Start(settings_);
  scheduler_ = std::make_unique<Scheduler>(cameras_, static_cast<ScheduleTarget&>(*this));
  scheduler_->SetListLock(&cameraListLock_);
  if (!StartThread(&Scheduler::ThreadMain, scheduler_.get(), schedulerHandle_)) {
    LogFile::Write("The scheduler thread could not be started");
  }
  // The MQTT thread follows the settings: it stays idle while no broker is set.
  mqtt_ = std::make_unique<MqttPublisher>([this] { return MqttConfigFrom(settings_.Get()); });
  for (const auto& camera : cameras_) mqtt_->AddCamera(camera->name);
  if (!mqtt_->Start()) LogFile::Write("The MQTT thread could not be started");
}

// ---- message boxes ----------------------------------------------------------

void MainFrame::PostMessageBox(const std::string& text, const std::string& caption, long style) {
  // The event carries its own copy of the request to the UI thread.
  auto* event = new wxThreadEvent(wxEVT_THREAD, kIdShowMessageBox);
  event->SetPayload(MessageBoxRequest{text, caption, style});
  wxQueueEvent(this, event);
}

void MainFrame::OnShowMessageBox(wxThreadEvent& event) {
  waitingBoxes_.push_back(event.GetPayload<MessageBoxRequest>());
  // A modal box runs its own event loop, which delivers the next request;
  // that one waits here until the box on screen is closed, so boxes come one
  // at a time, in the order they were posted.
  if (showingBox_) return;
  showingBox_ = true;
  while (!waitingBoxes_.empty()) {
    MessageBoxRequest request = std::move(waitingBoxes_.front());
    waitingBoxes_.pop_front();
    if (stage_ != Stage::kRunning || StopFlag.load() != 0) {
      // A box now would hold up the shutdown; keep the message in the log.
      LogFile::Write(request.caption + ": " + request.text);
      continue;
    }
    showBox_(request);
  }
  showingBox_ = false;
}

bool MainFrame::RunOnUiThread(std::function<void()> fn, int timeoutMs) {
  if (wxThread::IsMain()) {
    fn();
    return true;
  }
  if (StopFlag.load() != 0) return false;
  auto call = std::make_shared<UiCall>();
  CallAfter([call, fn = std::move(fn)] {
    {
      std::lock_guard<std::mutex> lock(call->mutex);
      if (call->abandoned || StopFlag.load() != 0) return;
      call->started = true;
    }
    fn();
    {
      std::lock_guard<std::mutex> lock(call->mutex);
      call->finished = true;
    }
    call->done.notify_all();
  });
  std::unique_lock<std::mutex> lock(call->mutex);
  const std::uint32_t begin = TickCount();
  while (!call->finished) {
    // Once started it is waited for to the end: it runs on the UI thread,
    // which does not wait for this thread while it runs.
    if (!call->started &&
        (StopFlag.load() != 0 ||
         TickIntervalPassed(begin, TickCount(), static_cast<std::uint32_t>(timeoutMs)))) {
      call->abandoned = true;
      return false;
    }
    call->done.wait_for(lock, std::chrono::milliseconds(20));
  }
  return true;
}

// ---- camera panes -------------------------------------------------------------

void MainFrame::AddCameraWindow(CameraFrame* window, const wxString& title) {
  // A maximised pane would hide the new one.
  wxAuiPaneInfoArray& panes = aui_.GetAllPanes();
  for (std::size_t i = 0; i < panes.GetCount(); ++i) {
    if (panes[i].IsMaximized()) aui_.RestorePane(panes[i]);
  }
  cameraWindows_.push_back(window);
  const int column = static_cast<int>(cameraWindows_.size()) - 1;
  aui_.AddPane(window, wxAuiPaneInfo()
                           .Name(wxString::Format("camera%d", ++paneSerial_))
                           .Caption(title)
                           .Icon(LoadResourceBitmap("icon_main_16"))
                           .Top()
                           .Row(0)
                           .Position(column)
                           .BestSize(352, 288)
                           .MinSize(176, 144)
                           .CloseButton(true)
                           .MaximizeButton(true)
                           .Floatable(true)
                           .DestroyOnClose(false));
  activeCamera_ = window;
  if (tiled_) {
    TileCameraWindows();
  } else {
    aui_.Update();
  }
}

void MainFrame::RemoveCameraWindow(CameraFrame* window) {
  cameraWindows_.erase(std::remove(cameraWindows_.begin(), cameraWindows_.end(), window),
                       cameraWindows_.end());
  if (activeCamera_ == window) activeCamera_ = nullptr;
  wxAuiPaneInfo& pane = aui_.GetPane(window);
  if (pane.IsOk()) {
    if (pane.IsMaximized()) aui_.RestorePane(pane);
    aui_.DetachPane(window);
    if (tiled_ && !cameraWindows_.empty() && stage_ == Stage::kRunning) {
      TileCameraWindows();
    } else {
      if (cameraWindows_.empty()) {
        tiled_ = false;
        aui_.GetPane(background_).Show();
      }
      aui_.Update();
    }
  }
}

void MainFrame::SetPaneTitle(wxWindow* window, const wxString& title) {
  wxAuiPaneInfo& pane = aui_.GetPane(window);
  if (!pane.IsOk()) return;
  pane.Caption(title);
  aui_.Update();
}

void MainFrame::SetPaneIcon(wxWindow* window, const wxBitmap& icon) {
  wxAuiPaneInfo& pane = aui_.GetPane(window);
  if (!pane.IsOk()) return;
  // Captions hold small icons; scale the 32 x 32 pictures down.
  wxBitmap small = icon;
  if (icon.IsOk() && icon.GetHeight() > 16) {
    small = wxBitmap(icon.ConvertToImage().Scale(16, 16, wxIMAGE_QUALITY_HIGH));
  }
  pane.Icon(small);
  aui_.Update();
}

void MainFrame::CameraActivated(CameraFrame* window) {
  activeCamera_ = window;
  wxAuiPaneInfo& pane = aui_.GetPane(window);
  if (pane.IsOk() && !pane.HasFlag(wxAuiPaneInfo::optionActive)) {
    wxAuiPaneInfoArray& panes = aui_.GetAllPanes();
    for (std::size_t i = 0; i < panes.GetCount(); ++i) {
      panes[i].SetFlag(wxAuiPaneInfo::optionActive, false);
    }
    pane.SetFlag(wxAuiPaneInfo::optionActive, true);
    aui_.Update();
  }
}

CameraFrame* MainFrame::ActiveCameraWindow() const {
  if (activeCamera_ != nullptr) return activeCamera_;
  return cameraWindows_.empty() ? nullptr : cameraWindows_.back();
}

void MainFrame::OnPaneActivated(wxAuiManagerEvent& event) {
  wxAuiPaneInfo* pane = event.GetPane();
  if (pane == nullptr) return;
  for (CameraFrame* w : cameraWindows_) {
    if (static_cast<wxWindow*>(w) == pane->window) activeCamera_ = w;
  }
}

void MainFrame::OnPaneClose(wxAuiManagerEvent& event) {
  wxAuiPaneInfo* pane = event.GetPane();
  if (pane == nullptr) return;
  for (CameraFrame* w : cameraWindows_) {
    if (static_cast<wxWindow*>(w) != pane->window) continue;
    // The pane is not merely hidden: the camera window is destroyed, which
    // stops its capture and frees the device for the next new camera.
    event.Veto();
    CallAfter([this, w] {
      if (std::find(cameraWindows_.begin(), cameraWindows_.end(), w) != cameraWindows_.end()) {
        w->Destroy();
      }
    });
    return;
  }
}

void MainFrame::TileCameraWindows() {
  const int count = static_cast<int>(cameraWindows_.size());
  tiled_ = count > 0;
  if (count == 0) return;
  wxAuiPaneInfoArray& panes = aui_.GetAllPanes();
  for (std::size_t i = 0; i < panes.GetCount(); ++i) {
    if (panes[i].IsMaximized()) aui_.RestorePane(panes[i]);
  }
  // As square a grid as the count allows, rows filled left to right. Each
  // tiling docks into fresh rows: the manager keeps the height of an
  // existing dock row, but sizes a new one from its panes.
  const int columns = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(count))));
  const int rows = (count + columns - 1) / columns;
  const wxSize area = GetClientSize();
  const int height = std::max(144, area.GetHeight() / rows - 6);
  const int width = std::max(176, area.GetWidth() / columns);
  tileRowBase_ = tileRowBase_ == 0 ? 100 : 0;
  for (int i = 0; i < count; ++i) {
    wxAuiPaneInfo& pane = aui_.GetPane(cameraWindows_[i]);
    pane.Dock().Top().Layer(0).Row(tileRowBase_ + i / columns).Position(i % columns)
        .BestSize(width, height).Show();
  }
  aui_.GetPane(background_).Hide();
  aui_.Update();
  lastTiledSize_ = area;
}

void MainFrame::OnSize(wxSizeEvent& event) {
  event.Skip();
  // Tiled panes follow the window's size (also when the window manager
  // maximises it after the start-up actions ran).
  if (tiled_ && event.GetSize() != wxDefaultSize) {
    CallAfter([this] {
      if (tiled_ && GetClientSize() != lastTiledSize_) TileCameraWindows();
    });
  }
}

void MainFrame::MaximiseCameraWindow(CameraFrame* window) {
  wxAuiPaneInfo& pane = aui_.GetPane(window);
  if (!pane.IsOk()) return;
  tiled_ = false;
  pane.Dock().Show();
  aui_.MaximizePane(pane);
  aui_.Update();
}

CameraFrame* MainFrame::FindCameraWindow(const CameraEntry& entry) const {
  for (CameraFrame* w : cameraWindows_) {
    if (&w->Entry() == &entry) return w;
  }
  return nullptr;
}

CameraFrame* MainFrame::CameraWindowOf(int index) const {
  if (index < 0 || index >= static_cast<int>(cameras_.size())) return nullptr;
  return FindCameraWindow(*cameras_[index]);
}

CameraFrame* MainFrame::OpenCameraWindow(int index) {
  if (index < 0 || index >= static_cast<int>(cameras_.size())) return nullptr;
  auto device = std::make_unique<CaptureDevice>();
  if (!device->Open(*cameras_[index])) {
    device->Close();
    return nullptr;
  }
  auto* window = new CameraFrame(*this, *cameras_[index]);
  window->Start(std::move(device));
  return window;
}

std::string MainFrame::NoDeviceText(bool cameraWindowExists) {
  return std::string("No ") + (cameraWindowExists ? "more " : "") + "video device availiable!";
}

// ---- commands -----------------------------------------------------------------

void MainFrame::OnNewCamera(wxCommandEvent&) {
  for (std::size_t i = 0; i < cameras_.size(); ++i) {
    if (cameras_[i]->inUse.load()) continue;
    if (cameras_[i]->name.empty()) continue;  // removed in the camera manager
    if (OpenCameraWindow(static_cast<int>(i)) != nullptr) return;
  }
  ShowError(NoDeviceText(!cameraWindows_.empty()));
}

// ---- camera manager ------------------------------------------------------------

namespace {

bool SameListing(const CameraEntry& entry, const StreamListing& listing) {
  return !entry.name.empty() && entry.friendlyName == TrimSpaces(listing.first) &&
         entry.source == TrimSpaces(listing.second);
}

}  // namespace

std::vector<StreamListing> MainFrame::ListedCameras() const {
  std::vector<StreamListing> listed;
  for (const std::string& key : ini_.GetKeys("STREAMS")) {
    std::string value;
    ini_.GetString("STREAMS", key, "", value);
    listed.emplace_back(key, value);
  }
  return listed;
}

void MainFrame::OnCameraManager(wxCommandEvent&) {
  const std::vector<StreamListing> listed = ListedCameras();
  std::vector<LocalCameraRow> locals;
  for (const auto& camera : cameras_) {
    if (camera->name.empty()) continue;
    bool fromList = false;
    for (const StreamListing& l : listed) fromList = fromList || SameListing(*camera, l);
    if (!fromList) locals.push_back({camera->name, camera->source});
  }
  CameraManagerDialog dialog(this, locals, listed);
  if (dialog.ShowModal() != wxID_OK) return;
  ApplyCameraList(dialog.Streams());
}

bool MainFrame::ApplyCameraList(const std::vector<StreamListing>& streams) {
  const std::vector<StreamListing> before = ListedCameras();
  std::string problem;
  if (!WriteStreamsSection(SettingsFilePath(), streams, problem)) {
    LogFile::Write(problem);
    ShowError(problem);
    return false;
  }
  // The settings in memory follow the file, so a later save keeps the list.
  ini_.Load(SettingsFilePath());

  auto listedIn = [](const CameraEntry& entry, const std::vector<StreamListing>& list) {
    for (const StreamListing& l : list) {
      if (SameListing(entry, l)) return true;
    }
    return false;
  };
  for (const auto& camera : cameras_) {
    if (!listedIn(*camera, before) || listedIn(*camera, streams)) continue;
    // Removed: its window closes and the entry stays in the list (the
    // scheduler counts by index) with no name and no schedule.
    if (CameraFrame* window = FindCameraWindow(*camera)) window->Destroy();
    camera->SetSchedule(CameraSchedule{});
    camera->name.clear();
  }
  for (const StreamListing& listing : streams) {
    bool present = false;
    for (const auto& camera : cameras_) present = present || SameListing(*camera, listing);
    if (present) continue;
    const std::string value = TrimSpaces(listing.second);
    const std::string lower = LowerAscii(value);
    SourceKind kind = SourceKind::Stream;
    if (lower == "pattern" || lower.rfind("pattern ", 0) == 0) {
      kind = SourceKind::Pattern;
    } else if (value.rfind("/dev/video", 0) == 0) {
      kind = SourceKind::V4l2;
    }
    std::lock_guard<std::mutex> lock(cameraListLock_);
    CameraEntry& entry = AppendCameraEntry(cameras_, TrimSpaces(listing.first), kind, value);
    LoadCameraSchedule(ini_, entry);
  }
  background_->Refresh();
  return true;
}

void MainFrame::OnBackgroundPaint(wxPaintEvent&) {
  wxPaintDC dc(background_);
  if (!cameraWindows_.empty()) return;
  bool anyCamera = false;
  for (const auto& camera : cameras_) anyCamera = anyCamera || !camera->name.empty();
  const wxString hint =
      anyCamera ? wxString("Open a camera with File > New camera (Ctrl+N).")
                : wxString("No camera found.\n\nAdd a network camera, a video file or a test "
                           "pattern with File > Cameras...\nor try the program with two test "
                           "cameras: qmr --demo");
  dc.SetTextForeground(wxColour(235, 235, 235));
  dc.SetFont(background_->GetFont().Scaled(1.2f));
  const wxSize area = background_->GetClientSize();
  dc.DrawLabel(hint, wxRect(0, 0, area.GetWidth(), area.GetHeight()), wxALIGN_CENTER);
}

void MainFrame::OnPlayback(wxCommandEvent&) {
  wxFileDialog dialog(this, "Choose an AVI file", wxString::FromUTF8(settings_.Get().aviDir), "",
                      "*.avi", wxFD_OPEN | wxFD_CHANGE_DIR);
  if (dialog.ShowModal() != wxID_OK) return;
  if (!DesktopHandles("video/x-msvideo") || !wxLaunchDefaultApplication(dialog.GetPath())) {
    PostMessageBox("No program on this desktop plays " + dialog.GetPath().ToStdString(wxConvUTF8) +
                       ".\nInstall a video player (for example mpv or VLC) and try again.",
                   "Playback", kMsgOk | kMsgIconInformation);
  }
}

void MainFrame::OnStopAlarm(wxCommandEvent&) { alarm_->Silence(); }

void MainFrame::OnCameraCommand(wxCommandEvent& event) {
  CameraFrame* camera = ActiveCameraWindow();
  if (camera == nullptr) return;
  // The camera handles it as its own command; it must not come back up to
  // this frame (its parent) if the camera leaves it unhandled.
  wxCommandEvent forwarded(event);
  forwarded.SetEventObject(camera);
  forwarded.StopPropagation();
  camera->GetEventHandler()->ProcessEvent(forwarded);
}

void MainFrame::OnSettingsDialog(wxCommandEvent& event) {
  std::unique_ptr<wxDialog> dialog;
  switch (event.GetId()) {
    case kIdFolderSettings:
      dialog = std::make_unique<FolderFileDialog>(this, *this);
      break;
    case kIdMotionTriggerSettings:
      dialog = std::make_unique<MotionTriggerDialog>(this, *this);
      break;
    case kIdStartupSettings:
      dialog = std::make_unique<StartupDialog>(this, *this);
      break;
    case kIdCompressorSettings:
      dialog = std::make_unique<CompressorDialog>(this, *this);
      break;
    case kIdAccountSettings:
      dialog = std::make_unique<InternetAccountsDialog>(this, *this);
      break;
    default:
      return;
  }
  dialog->ShowModal();
}

void MainFrame::OnHelp(wxCommandEvent&) {
  OpenHelpPage(this, ProgramResourcePath("index.htm"));
}

void MainFrame::OnAbout(wxCommandEvent&) {
  AboutDialog dialog(this);
  dialog.ShowModal();
}

// ---- quit ---------------------------------------------------------------------

void MainFrame::PostQuitStage(int stage) {
  auto* event = new wxCommandEvent(wxEVT_MENU, kIdQuit);
  event->SetInt(stage);
  wxQueueEvent(this, event);
}

void MainFrame::OnQuit(wxCommandEvent& event) {
  switch (event.GetInt()) {
    case 0:
      if (stagesStarted_) return;  // a second quit while stopping
      stagesStarted_ = true;
      stage_ = Stage::kStopping;
      StopFlag.store(1);
      // Let every worker loop see the flag before the waits begin.
      wxMilliSleep(500);
      PostQuitStage(1);
      break;
    case 1:
      RunShutdown();
      PostQuitStage(2);
      break;
    default:
      Close();
      break;
  }
}

void MainFrame::OnClose(wxCloseEvent& event) {
  if (stage_ != Stage::kShutDown) {
    if (event.CanVeto()) {
      // The close button runs the quit stages; stage 2 closes again.
      if (!stagesStarted_) PostQuitStage(0);
      event.Veto();
      return;
    }
    // The session is ending and will not wait: shut down here.
    StopFlag.store(1);
    RunShutdown();
  }
  Destroy();
}

void MainFrame::OnStopPoll(wxTimerEvent&) {
  if (StopFlag.load() != 0 && !stagesStarted_) {
    // A stop signal may come while dialogs are open, even nested: end them,
    // innermost first, and start the quit stages only once every modal loop
    // has returned, so no window is destroyed under a running dialog.
    if (openDialogs_.EndInnermost()) return;
    stopPoll_.Stop();
    PostQuitStage(0);
  }
}

void MainFrame::RunShutdown() {
  if (stage_ == Stage::kShutDown) return;
  if (storageKeeper_) storageKeeper_->Stop();
  SetWriteFailureNotifier(nullptr);
  transfer_->PostQuit();
  // Each wait is limited and logs the thread that did not end.
  // The mail or upload in hand may take its grace period to finish.
  const bool transferEnded =
      transfer_->WaitForEnd(TransferQueue::kQuitGraceMs + kThreadEndTimeoutMs);
  const bool schedulerEnded = WaitForThreadEnd(schedulerHandle_, kThreadEndTimeoutMs, "scheduler");

  const std::vector<CameraFrame*> windows = cameraWindows_;
  for (CameraFrame* window : windows) {
    // Destroy() of a child window deletes it at once; its destructor stops
    // the detector and the device and removes it from cameraWindows_.
    window->Destroy();
  }
  cameraWindows_.clear();
  activeCamera_ = nullptr;
  // After the cameras, so that a period cut short still sends its OFF.
  if (mqtt_) mqtt_->Stop(kThreadEndTimeoutMs);

  if (!schedulerEnded || !transferEnded) {
    // A thread that is still running uses this frame, the camera list and
    // the transfer queue; freeing them under it could crash or corrupt what
    // it writes. The cameras are closed (recordings finished) and nothing
    // needs saving, so the process ends here.
    LogFile::Write("Quelmar Video Capture ends without waiting any longer");
    std::_Exit(EXIT_FAILURE);
  }
  scheduler_.reset();
  cameras_.clear();
  stage_ = Stage::kShutDown;
}

// ---- scheduler operations, carried out on the user-interface thread -----------

bool MainFrame::AskUi(const std::function<bool()>& question) {
  bool answer = false;
  if (!RunOnUiThread([&answer, &question] { answer = question(); }, kUiCallTimeoutMs)) return false;
  return answer;
}

void MainFrame::PostTransferTick() { transfer_->PostTick(); }

bool MainFrame::EnsureCameraOpen(int index) {
  return AskUi([this, index] {
    if (stage_ != Stage::kRunning) return false;
    if (index < 0 || index >= static_cast<int>(cameras_.size())) return false;
    CameraEntry& entry = *cameras_[index];
    if (entry.inUse.load()) return FindCameraWindow(entry) != nullptr;
    auto device = std::make_unique<CaptureDevice>();
    if (!device->Open(entry)) {
      device->Close();
      return false;
    }
    auto* window = new CameraFrame(*this, entry);
    if (!window->Start(std::move(device))) {
      window->Destroy();
      return false;
    }
    return true;
  });
}

bool MainFrame::IsRecording(int index) {
  return AskUi([this, index] {
    CameraFrame* w = CameraWindowOf(index);
    return w != nullptr && w->IsRecording();
  });
}

bool MainFrame::StartRecording(int index) {
  return AskUi([this, index] {
    CameraFrame* w = CameraWindowOf(index);
    return w != nullptr && w->SetRecord(true, false);
  });
}

bool MainFrame::IsDetecting(int index) {
  return AskUi([this, index] {
    CameraFrame* w = CameraWindowOf(index);
    return w != nullptr && w->IsDetecting();
  });
}

bool MainFrame::StartDetecting(int index) {
  return AskUi([this, index] {
    CameraFrame* w = CameraWindowOf(index);
    return w != nullptr && w->SetDetect(true);
  });
}

}  // namespace qmr

// ---- status bar ---------------------------------------------------------------

namespace qmr {

std::string MainFrame::FreeSpaceText(std::int64_t freeBytes, int minFreeMb) {
  if (freeBytes < 0) return "Disk: free space unknown";
  const double mb = static_cast<double>(freeBytes) / (1024.0 * 1024.0);
  char text[96];
  if (minFreeMb > 0 && mb < minFreeMb) {
    std::snprintf(text, sizeof text, "LOW DISK: %.0f MB free (minimum %d MB)", mb, minFreeMb);
  } else if (mb >= 1024.0) {
    std::snprintf(text, sizeof text, "Disk: %.1f GB free", mb / 1024.0);
  } else {
    std::snprintf(text, sizeof text, "Disk: %.0f MB free", mb);
  }
  return text;
}

void MainFrame::OnStatusTimer(wxTimerEvent&) {
  if (stage_ == Stage::kRunning) RefreshStatus();
}

void MainFrame::RefreshStatus() {
  wxStatusBar* bar = GetStatusBar();
  if (bar == nullptr) return;
  const std::int64_t nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count();
  // Cameras: frames per second from the device's frame counter, the
  // recording mark, and the motion mark in the pane caption.
  std::map<const CameraFrame*, FrameCount> counts;
  wxString cameras;
  for (CameraFrame* window : cameraWindows_) {
    window->SetMotionMark(window->Entry().inMotion.load());
    CaptureDevice* device = window->Device();
    FrameCount now;
    now.frames = device != nullptr ? device->ProcessedFrames() : 0;
    now.atMs = nowMs;
    auto before = frameCounts_.find(window);
    if (before != frameCounts_.end()) {
      now.fps = before->second.fps;
      const std::int64_t spanMs = nowMs - before->second.atMs;
      if (spanMs >= 500 && now.frames >= before->second.frames) {
        now.fps = static_cast<double>(now.frames - before->second.frames) * 1000.0 /
                  static_cast<double>(spanMs);
      } else if (spanMs < 500) {
        now = before->second;  // too soon to measure: keep the last figure
      }
    }
    counts[window] = now;
    if (!cameras.empty()) cameras += "  |  ";
    cameras += wxString::FromUTF8(window->Entry().friendlyName.empty() ? window->Entry().name
                                                                        : window->Entry().friendlyName);
    cameras += wxString::Format(" %.0f fps", now.fps);
    if (window->IsRecording()) cameras += wxString::FromUTF8(" \u25cf REC");
  }
  frameCounts_ = std::move(counts);

  long long last = 0;
  for (const auto& camera : cameras_) last = std::max(last, camera->lastMotionTime.load());
  wxString motion = "Last motion: none";
  if (last > 0) {
    const std::time_t when = static_cast<std::time_t>(last);
    const std::time_t now = std::time(nullptr);
    std::tm whenTm{}, nowTm{};
    localtime_r(&when, &whenTm);
    localtime_r(&now, &nowTm);
    char text[64];
    const bool today = whenTm.tm_yday == nowTm.tm_yday && whenTm.tm_year == nowTm.tm_year;
    std::strftime(text, sizeof text, today ? "Last motion: %H:%M:%S" : "Last motion: %Y-%m-%d %H:%M",
                  &whenTm);
    motion = text;
  }

  const ::qmr::Settings s = settings_.Get();
  const wxString disk = FreeSpaceText(StorageKeeper::FreeBytes(s.aviDir), s.minFreeMb);
  const wxString sound = AudioPlayer::NoAudioDevice() ? "No audio device" : "";

  // Only changed fields are set: each set repaints the bar.
  const wxString fields[] = {cameras, motion, disk, sound};
  for (int i = 0; i < 4; ++i) {
    if (bar->GetStatusText(kStatusCameras + i) != fields[i]) {
      bar->SetStatusText(fields[i], kStatusCameras + i);
    }
  }
}

}  // namespace qmr
