#include "app/main_frame.h"

#include <gtest/gtest.h>
#include <wx/colordlg.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/statusbr.h>
#include <wx/toolbar.h>
#include <wx/weakref.h>

#include <dlfcn.h>

#include <atomic>
#include <csignal>
#include <ctime>
#include <thread>

#include "app/command_ids.h"
#include "app/resource_images.h"
#include "camera/camera_frame.h"
#include "camera/preview_pane.h"
#include "delivery/transfer_queue.h"
#include "dialogs/startup_dialog.h"
#include "gui_test_support.h"
#include "platform/audio_player.h"

namespace qmr {
namespace {

using test::HomeFolder;
using test::PumpUntil;

class MainFrameTest : public ::testing::Test {
 protected:
  void SetUp() override { StopFlag = 0; }
  void TearDown() override {
    if (frame_ != nullptr) {
      frame_->Destroy();
      PumpUntil([this] { return frame_ == nullptr; }, 15000);
    }
    StopFlag = 0;
  }
  MainFrame& Open(const std::string& ini = std::string()) {
    if (!ini.empty()) home_.Write("qmr.ini", ini);
    frame_ = new MainFrame();
    frame_->SetMessageBoxShower([this](const MessageBoxRequest& r) { boxes_.push_back(r); });
    frame_->Show();
    return *frame_;
  }

  HomeFolder home_;
  wxWeakRef<MainFrame> frame_;
  std::vector<MessageBoxRequest> boxes_;
};

// Two pattern cameras, both opened at start.
const char kTwoPatternCameras[] =
    "[STARTUP]\nOPENALL=1\n\n[STREAMS]\nFront=pattern 320x240@10\nBack=pattern 320x240@10\n";

TEST_F(MainFrameTest, MenusAndToolbarHoldTheCommandsInOrder) {
  MainFrame& frame = Open();
  EXPECT_EQ(frame.GetTitle(), "Quelmar Video Capture");

  struct Item {
    int id;
    const char* label;  // without mnemonics
    const char* accel;
    const char* help;
    bool image;
  };
  const std::vector<std::pair<const char*, std::vector<Item>>> menus = {
      {"&File",
       {{6101, "New camera", "Ctrl+N", "Add new camera window", true},
        {6125, "Cameras...", "Ctrl+Shift+N",
         "Add, edit and remove network cameras, video files and test patterns", false},
        {6102, "Playback..", "Ctrl+P", "Playback avi file", true},
        {6100, "Quit", "Ctrl+X", "Quit system", false}}},
      {"&Option",
       {{6109, "Folder & file..", "Ctrl+F", "Folder and file settings", true},
        {6110, "Compressor..", "Ctrl+C", "Coder/decoder settings", true},
        {6111, "Motion trigger..", "Ctrl+M", "Set events triggered by motion detector", true},
        {6113, "Internet Accounts..", "Ctrl+I", "Internet accounts settings", true},
        {6112, "Startup..", "Ctrl+S", "System startup settings", true}}},
      {"&Help", {{6115, "Help", "F1", "", false}, {6114, "About..", "F6", "", false}}},
  };
  wxMenuBar* bar = frame.GetMenuBar();
  ASSERT_NE(bar, nullptr);
  ASSERT_EQ(bar->GetMenuCount(), menus.size());
  for (std::size_t m = 0; m < menus.size(); ++m) {
    SCOPED_TRACE(menus[m].first);
    EXPECT_EQ(bar->GetMenuLabel(m), menus[m].first);
    wxMenu* menu = bar->GetMenu(m);
    std::vector<wxMenuItem*> items;  // separators left out
    for (wxMenuItem* item : menu->GetMenuItems()) {
      if (!item->IsSeparator()) items.push_back(item);
    }
    ASSERT_EQ(items.size(), menus[m].second.size());
    for (std::size_t i = 0; i < menus[m].second.size(); ++i) {
      const Item& want = menus[m].second[i];
      wxMenuItem* item = items[i];
      EXPECT_EQ(item->GetId(), want.id);
      EXPECT_EQ(item->GetItemLabelText(), want.label);
      wxAcceleratorEntry* accel = item->GetAccel();
      ASSERT_NE(accel, nullptr) << want.label;
      EXPECT_EQ(accel->ToString(), want.accel);
      delete accel;
      EXPECT_EQ(item->GetHelp(), want.help);
      EXPECT_EQ(item->GetBitmap().IsOk(), want.image) << want.label;
      if (want.image) {
        EXPECT_EQ(item->GetBitmap().GetWidth(), 16);
        // GTK hides menu images unless the item asks to show its image.
        using GetShowFn = int (*)(void*);
        static const auto alwaysShown = reinterpret_cast<GetShowFn>(
            dlsym(RTLD_DEFAULT, "gtk_image_menu_item_get_always_show_image"));
        if (alwaysShown != nullptr) {
          EXPECT_TRUE(alwaysShown(item->GetMenuItem())) << want.label;
        }
      }
    }
  }

  struct Tool {
    int id;  // 0: separator
    const char* shortHelp;
    const char* longHelp;
  };
  const Tool tools[] = {
      {6101, "Camera", "Add new camera window"},
      {6102, "Playback", "Playback avi file"},
      {6103, "Stop alarm", "Stop alarm sound"},
      {0, "", ""},
      {6104, "Record", "Current camera start/stop recording"},
      {6105, "Snapshot", "Take a snapshot from current camera"},
      {6106, "Detect", "Current camera start/stop motion detecting"},
      {6107, "Sensible zones", "Set current camera motion sensible zones"},
      {6108, "Schedule", "Current camera record schedule"},
      {0, "", ""},
      {6109, "Folders", "Folder and file settings"},
      {6111, "Motion trigger", "Set events triggered by motion detector"},
      {6110, "Compressor", "Coder/decoder settings"},
      {6113, "Accounts", "Internet accounts settings"},
      {6112, "Startup", "System startup settings"},
  };
  wxToolBar* toolbar = frame.GetToolBar();
  ASSERT_NE(toolbar, nullptr);
  EXPECT_TRUE(toolbar->HasFlag(wxTB_HORIZONTAL));
  EXPECT_TRUE(toolbar->HasFlag(wxTB_FLAT));
  ASSERT_EQ(toolbar->GetToolsCount(), std::size(tools));
  for (std::size_t i = 0; i < std::size(tools); ++i) {
    const wxToolBarToolBase* tool = toolbar->GetToolByPos(static_cast<int>(i));
    if (tools[i].id == 0) {
      EXPECT_TRUE(tool->IsSeparator()) << i;
      continue;
    }
    EXPECT_EQ(tool->GetId(), tools[i].id);
    EXPECT_EQ(tool->GetKind(), wxITEM_NORMAL);
    EXPECT_EQ(tool->GetShortHelp(), tools[i].shortHelp);
    EXPECT_EQ(tool->GetLongHelp(), tools[i].longHelp);
    EXPECT_EQ(tool->GetNormalBitmap().GetSize(), wxSize(32, 32));
  }
  ASSERT_NE(frame.GetStatusBar(), nullptr);
  EXPECT_EQ(frame.GetStatusBar()->GetFieldsCount(), MainFrame::kStatusCount);
  EXPECT_TRUE(frame.GetIcons().GetIconCount() >= 2);
}

TEST(ReplaceBackgroundTest, KeyColourWithinTwoTakesTheToolbarColour) {
  wxImage image(4, 3);
  auto set = [&](int x, int y, int r, int g, int b) { image.SetRGB(x, y, r, g, b); };
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) set(x, y, 10, 20, 30);
  set(1, 1, 100, 150, 200);  // the key
  set(0, 0, 102, 148, 200);  // within 2 in every channel
  set(2, 0, 103, 150, 200);  // red 3 away
  set(3, 0, 100, 150, 197);  // blue 3 away
  set(0, 2, 98, 152, 202);
  image.SetAlpha();  // alpha is dropped: the result is plain pixels
  const wxColour bar(1, 2, 3);
  wxImage out = ReplaceBackground(image, bar);
  ASSERT_TRUE(out.IsOk());
  EXPECT_FALSE(out.HasAlpha());
  auto rgb = [&](int x, int y) {
    return std::tuple(out.GetRed(x, y), out.GetGreen(x, y), out.GetBlue(x, y));
  };
  EXPECT_EQ(rgb(1, 1), std::tuple(1, 2, 3));
  EXPECT_EQ(rgb(0, 0), std::tuple(1, 2, 3));
  EXPECT_EQ(rgb(0, 2), std::tuple(1, 2, 3));
  EXPECT_EQ(rgb(2, 0), std::tuple(103, 150, 200));
  EXPECT_EQ(rgb(3, 0), std::tuple(100, 150, 197));
  EXPECT_EQ(rgb(3, 2), std::tuple(10, 20, 30));

  // Every tool image: its corners blend into the toolbar, its middle stays.
  for (const char* name : {"tool_camera", "tool_playback", "tool_stop_alarm", "tool_record",
                           "tool_snapshot", "tool_detect", "tool_zones", "tool_schedule",
                           "tool_folders", "tool_trigger", "tool_compressor", "tool_accounts",
                           "tool_startup"}) {
    SCOPED_TRACE(name);
    wxImage tool = LoadResourceImage(name);
    ASSERT_TRUE(tool.IsOk());
    EXPECT_EQ(tool.GetSize(), wxSize(32, 32));
    wxImage replaced = ReplaceBackground(tool, wxColour(7, 8, 9));
    int blended = 0;
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x)
        blended += replaced.GetRed(x, y) == 7 && replaced.GetGreen(x, y) == 8 &&
                   replaced.GetBlue(x, y) == 9;
    EXPECT_EQ(replaced.GetRed(0, 0), 7);
    EXPECT_GT(blended, 100);  // a real background
    EXPECT_LT(blended, 900);  // and a real picture on it
  }
  EXPECT_FALSE(LoadResourceImage("no_such_image").IsOk());
}

TEST_F(MainFrameTest, ErrorsFromTwoThreadsGiveTwoBoxesOnTheUiThread) {
  MainFrame& frame = Open();
  std::atomic<int> showing{0};
  int mostAtOnce = 0;
  std::vector<std::thread::id> shownOn;
  std::vector<std::string> texts;
  frame.SetMessageBoxShower([&](const MessageBoxRequest& r) {
    mostAtOnce = std::max(mostAtOnce, ++showing);
    shownOn.push_back(std::this_thread::get_id());
    texts.push_back(r.text);
    EXPECT_EQ(r.caption, "Error");
    EXPECT_EQ(r.style, wxOK | wxICON_ERROR);
    // A modal box runs the event loop: the other request must wait.
    PumpUntil([] { return false; }, 100);
    --showing;
  });
  std::atomic<bool> go{false};
  std::thread a([&] {
    while (!go) std::this_thread::yield();
    frame.ShowError("first worker");
  });
  std::thread b([&] {
    while (!go) std::this_thread::yield();
    frame.ShowError("second worker");
  });
  go = true;
  a.join();
  b.join();
  ASSERT_TRUE(PumpUntil([&] { return texts.size() >= 2 && showing == 0; }));
  PumpUntil([] { return false; }, 100);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_NE(texts[0], texts[1]);
  EXPECT_EQ(mostAtOnce, 1);
  for (auto id : shownOn) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST_F(MainFrameTest, RunOnUiThreadRunsThereAndGivesUpWhenStopping) {
  MainFrame& frame = Open();
  std::thread::id ranOn;
  bool result = false;
  std::thread worker([&] {
    result = frame.RunOnUiThread([&] { ranOn = std::this_thread::get_id(); }, 5000);
  });
  PumpUntil([&] { return result; }, 5000);
  worker.join();
  EXPECT_TRUE(result);
  EXPECT_EQ(ranOn, std::this_thread::get_id());

  // Nobody pumps and the program is stopping: the worker is not held up.
  StopFlag = 1;
  bool ran = false;
  std::thread late([&] { result = frame.RunOnUiThread([&] { ran = true; }, 5000); });
  late.join();
  EXPECT_FALSE(result);
  PumpUntil([] { return false; }, 100);
  EXPECT_FALSE(ran);
}

TEST_F(MainFrameTest, NewCameraErrorTextSaysMoreOnlyWithAWindowOpen) {
  {
    MainFrame& frame = Open();  // no camera at all
    ASSERT_TRUE(frame.Cameras().empty());
    wxCommandEvent command(wxEVT_MENU, kIdNewCamera);
    frame.ProcessWindowEvent(command);
    ASSERT_TRUE(PumpUntil([&] { return !boxes_.empty(); }));
    EXPECT_EQ(boxes_[0].text, "No video device availiable!");
    EXPECT_EQ(boxes_[0].caption, "Error");
    // The camera commands go nowhere without a camera window.
    wxCommandEvent record(wxEVT_MENU, kIdRecord);
    frame.ProcessWindowEvent(record);
  }
  frame_->Destroy();
  ASSERT_TRUE(PumpUntil([this] { return frame_ == nullptr; }, 15000));
  boxes_.clear();
  StopFlag = 0;

  MainFrame& frame = Open("[STARTUP]\nOPENALL=1\n\n[STREAMS]\nOnly=pattern 320x240@10\n");
  ASSERT_EQ(frame.Cameras().size(), 1u);
  ASSERT_EQ(frame.CameraWindows().size(), 1u);
  wxCommandEvent command(wxEVT_MENU, kIdNewCamera);
  frame.ProcessWindowEvent(command);
  ASSERT_TRUE(PumpUntil([&] { return !boxes_.empty(); }));
  EXPECT_EQ(boxes_[0].text, "No more video device availiable!");
  EXPECT_EQ(frame.CameraWindows().size(), 1u);
}

TEST_F(MainFrameTest, StartupOpensEveryCameraAndTilesThem) {
  MainFrame& frame = Open(
      "[STARTUP]\nOPENALL=1\nMAXVIEW=1\n\n[STREAMS]\nFront=pattern 320x240@10\n"
      "Back=pattern 320x240@10\n");
  ASSERT_EQ(frame.Cameras().size(), 2u);
  ASSERT_EQ(frame.CameraWindows().size(), 2u);
  EXPECT_TRUE(frame.IsMaximized());
  // Side by side, together filling the window.
  const wxSize area = frame.GetClientSize();
  for (CameraFrame* w : frame.CameraWindows()) {
    EXPECT_TRUE(w->Entry().inUse.load());
    EXPECT_TRUE(frame.PaneManager().GetPane(w).IsShown());
    EXPECT_GT(w->GetSize().GetWidth(), area.GetWidth() * 4 / 10);
    EXPECT_GT(w->GetSize().GetHeight(), area.GetHeight() * 6 / 10);
  }
  EXPECT_NE(frame.CameraWindows()[0]->GetPosition().x, frame.CameraWindows()[1]->GetPosition().x);
  // The toolbar's camera commands reach the active camera window.
  EXPECT_EQ(frame.ActiveCameraWindow(), frame.CameraWindows().back());

  // Closing one pane destroys its camera window and frees the device.
  CameraFrame* first = frame.CameraWindows().front();
  CameraEntry& firstEntry = first->Entry();
  wxAuiManagerEvent close(wxEVT_AUI_PANE_CLOSE);
  close.SetManager(&frame.PaneManager());
  close.SetPane(&frame.PaneManager().GetPane(first));
  frame.ProcessWindowEvent(close);
  ASSERT_TRUE(PumpUntil([&] { return frame.CameraWindows().size() == 1; }));
  EXPECT_FALSE(firstEntry.inUse.load());
}

// The status bar: frames per second per camera, the last motion, the
// disk's free space turning to a warning below MINFREEMB, the sound note; a
// camera's pane caption carries the motion mark only during a motion period.
TEST_F(MainFrameTest, StatusBarAndMotionMarkFollowTheCameras) {
  AudioPlayer::SetNoAudioDevice(false);
  MainFrame& frame = Open(std::string(kTwoPatternCameras) +
                          "\n[STORAGE]\nMINFREEMB=1\n\n[Front   NO.1]\n"
                          "SENSIBLE_ZONES=10,10,100,100$150,20,300,200\nMASK_ZONES=20,20,40,40\n"
                          "ZONE_SIZE=320,240\n");
  ASSERT_EQ(frame.CameraWindows().size(), 2u);
  wxStatusBar* bar = frame.GetStatusBar();
  ASSERT_NE(bar, nullptr);
  auto field = [bar](int i) { return bar->GetStatusText(i); };
  frame.RefreshStatus();
  EXPECT_TRUE(field(MainFrame::kStatusDisk).StartsWith("Disk: ")) << field(MainFrame::kStatusDisk);
  EXPECT_EQ(field(MainFrame::kStatusMotion), "Last motion: none");
  EXPECT_EQ(field(MainFrame::kStatusSound), "");
  EXPECT_TRUE(field(MainFrame::kStatusCameras).Contains("Front 0 fps"));
  // The pattern cameras deliver frames: a second later the rate is counted.
  wxMilliSleep(1100);
  frame.RefreshStatus();
  EXPECT_TRUE(field(MainFrame::kStatusCameras).StartsWith("Front "));
  EXPECT_FALSE(field(MainFrame::kStatusCameras).Contains("Front 0 fps"))
      << field(MainFrame::kStatusCameras);

  // More free space wanted than any disk has: the warning.
  Settings s = frame.Settings().Get();
  s.minFreeMb = 2000000000;
  frame.Settings().Set(s);
  AudioPlayer::SetNoAudioDevice(true);
  frame.RefreshStatus();
  EXPECT_TRUE(field(MainFrame::kStatusDisk).StartsWith("LOW DISK"));
  EXPECT_EQ(field(MainFrame::kStatusSound), "No audio device");
  AudioPlayer::SetNoAudioDevice(false);

  // A motion period on the first camera marks its caption and the time.
  CameraFrame* first = frame.CameraWindows()[0];
  CameraFrame* second = frame.CameraWindows()[1];
  const wxString caption = frame.PaneManager().GetPane(first).caption;
  first->Entry().lastMotionTime.store(static_cast<long long>(std::time(nullptr)));
  first->Entry().inMotion.store(true);
  frame.RefreshStatus();
  EXPECT_EQ(frame.PaneManager().GetPane(first).caption, caption + CameraFrame::MotionMarkText());
  EXPECT_FALSE(frame.PaneManager().GetPane(second).caption.Contains(CameraFrame::MotionMarkText()));
  EXPECT_TRUE(field(MainFrame::kStatusMotion).StartsWith("Last motion: "));
  EXPECT_NE(field(MainFrame::kStatusMotion), "Last motion: none");
  first->Entry().inMotion.store(false);
  frame.RefreshStatus();
  EXPECT_EQ(frame.PaneManager().GetPane(first).caption, caption);

  // "Show zones" hands the stored zones to the live picture, and clears them.
  first->SetShowZones(true);
  EXPECT_EQ(first->Preview()->OutlineCount(), 3u);
  first->SetShowZones(false);
  EXPECT_EQ(first->Preview()->OutlineCount(), 0u);

  EXPECT_EQ(MainFrame::FreeSpaceText(-1, 500), "Disk: free space unknown");
  EXPECT_EQ(MainFrame::FreeSpaceText(3ll << 30, 500), "Disk: 3.0 GB free");
  EXPECT_EQ(MainFrame::FreeSpaceText(100ll << 20, 500), "LOW DISK: 100 MB free (minimum 500 MB)");
  EXPECT_EQ(MainFrame::FreeSpaceText(100ll << 20, 0), "Disk: 100 MB free");
}

TEST_F(MainFrameTest, StartupMaximisesASingleCamera) {
  MainFrame& frame = Open("[STARTUP]\nOPENALL=1\nMAXVIEW=1\n\n[STREAMS]\nOnly=pattern 320x240@10\n");
  ASSERT_EQ(frame.CameraWindows().size(), 1u);
  EXPECT_TRUE(frame.PaneManager().GetPane(frame.CameraWindows()[0]).IsMaximized());
}

TEST_F(MainFrameTest, SchedulerOpensADueCameraAndStartsDetecting) {
  MainFrame& frame = Open(
      "[STREAMS]\nFront=pattern 320x240@10\n\n[Front   NO.1]\n"
      "SCHEDULE_DAYS=1,1,1,1,1,1,1\nSCHEDULE_TIME=00:00:00,23:59:59\nSCHEDULE_DETECT=1\n");
  ASSERT_EQ(frame.Cameras().size(), 1u);
  EXPECT_TRUE(frame.CameraWindows().empty());  // not opened at start
  ASSERT_TRUE(PumpUntil([&] {
    return frame.CameraWindows().size() == 1 && frame.CameraWindows()[0]->IsDetecting();
  }));
  EXPECT_FALSE(frame.CameraWindows()[0]->IsRecording());
}

struct CloseObservation {
  bool shutDown = false;
  bool transferRunning = true;
  std::size_t cameraWindows = 99;
};

TEST_F(MainFrameTest, CloseButtonRunsTheQuitStagesAndWritesNoSettings) {
  MainFrame& frame = Open(kTwoPatternCameras);
  const std::string iniBefore = home_.Read("qmr.ini");
  ASSERT_EQ(frame.CameraWindows().size(), 2u);
  std::vector<wxWeakRef<wxWindow>> windows(frame.CameraWindows().begin(),
                                           frame.CameraWindows().end());
  std::vector<CloseObservation> closes;
  // Bound after the frame's own handler, so it sees each close request first.
  frame.Bind(wxEVT_CLOSE_WINDOW, [&](wxCloseEvent& event) {
    closes.push_back({frame.ShutDown(), frame.Transfer().IsRunning(), frame.CameraWindows().size()});
    event.Skip();
  });
  ASSERT_TRUE(frame.Transfer().IsRunning());

  EXPECT_FALSE(frame.Close());  // refused: the stages run first
  EXPECT_TRUE(frame_ != nullptr);
  ASSERT_TRUE(PumpUntil([this] { return frame_ == nullptr; }, 30000));
  EXPECT_EQ(StopFlag.load(), 1);
  ASSERT_EQ(closes.size(), 2u);
  EXPECT_FALSE(closes[0].shutDown);
  EXPECT_TRUE(closes[1].shutDown);
  EXPECT_FALSE(closes[1].transferRunning);
  EXPECT_EQ(closes[1].cameraWindows, 0u);
  for (auto& w : windows) EXPECT_TRUE(w == nullptr);
  EXPECT_EQ(home_.Read("qmr.ini"), iniBefore);
}

TEST_F(MainFrameTest, StopSignalClosesTheProgramTheSameWayEvenWithADialogOpen) {
  MainFrame& frame = Open();
  bool dialogEnded = false;
  frame.CallAfter([&] {
    StartupDialog dialog(&frame, frame);
    dialog.ShowModal();
    dialogEnded = true;
  });
  std::thread signaller([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::raise(SIGTERM);
  });
  ASSERT_TRUE(PumpUntil([this] { return frame_ == nullptr; }, 30000));
  signaller.join();
  EXPECT_TRUE(dialogEnded);
  EXPECT_FALSE(std::filesystem::exists(home_.File("qmr.ini")));
}

// A stop signal while a native message box is open, and while a colour
// chooser is open over another dialog: every dialog returns, innermost first,
// while the frame still stands; only then do the quit stages run.
TEST_F(MainFrameTest, StopSignalEndsNestedAndNativeDialogsBeforeTheWindowsGo) {
  MainFrame& frame = Open(kTwoPatternCameras);
  ASSERT_EQ(frame.CameraWindows().size(), 2u);
  std::vector<std::string> returned;
  auto note = [&](const std::string& what) {
    returned.push_back(what + (frame_ != nullptr && !frame_->ShutDown() ? " alive" : " gone"));
  };
  frame.CallAfter([&] {
    wxMessageBox("Box under the signal", "Test", wxOK, &frame);
    note("box");
  });
  std::thread first([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::raise(SIGTERM);
  });
  ASSERT_TRUE(PumpUntil([&] { return !returned.empty(); }, 15000));
  first.join();
  ASSERT_TRUE(PumpUntil([this] { return frame_ == nullptr; }, 30000));
  EXPECT_EQ(returned, std::vector<std::string>{"box alive"});

  StopFlag = 0;
  returned.clear();
  MainFrame& second = Open(kTwoPatternCameras);
  ASSERT_EQ(second.CameraWindows().size(), 2u);
  second.CallAfter([&] {
    StartupDialog outer(&second, second);
    outer.CallAfter([&] {
      wxColourDialog chooser(&outer);
      chooser.ShowModal();
      note("chooser");
    });
    outer.ShowModal();
    note("dialog");
  });
  std::thread signaller([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    std::raise(SIGTERM);
  });
  ASSERT_TRUE(PumpUntil([this] { return frame_ == nullptr; }, 30000));
  signaller.join();
  EXPECT_EQ(returned, (std::vector<std::string>{"chooser alive", "dialog alive"}));
}

TEST_F(MainFrameTest, FailedSettingsSaveTellsTheUser) {
  // A folder where the settings file should be: the new file cannot replace it.
  std::filesystem::create_directories(home_.File("qmr.ini"));
  MainFrame& frame = Open();
  frame.SettingsFile().SetInt("STARTUP", "OPENALL", 1);
  EXPECT_FALSE(frame.SettingsFile().Save());
  ASSERT_TRUE(PumpUntil([this] { return !boxes_.empty(); }));
  EXPECT_EQ(boxes_[0].text.rfind("The settings could not be saved: ", 0), 0u) << boxes_[0].text;
  EXPECT_NE(boxes_[0].text.find("qmr.ini"), std::string::npos);
}

}  // namespace
}  // namespace qmr
