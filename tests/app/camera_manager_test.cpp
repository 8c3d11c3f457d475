// The camera manager: a video file added, tested and opened at once with
// File > New camera, then removed again, with the rest of the settings file
// unchanged.
#include <gtest/gtest.h>
#include <wx/weakref.h>

#include <cstdlib>

#include "app/command_ids.h"
#include "app/main_frame.h"
#include "camera/camera_frame.h"
#include "dialogs/camera_manager_dialog.h"
#include "gui_test_support.h"

namespace qmr {
namespace {

using test::HomeFolder;
using test::PumpUntil;

const char kSettings[] =
    "# kept as it is\n[STARTUP]\nOPENALL=0\t\t\t#by hand\n\n[STREAMS]\n\n[Other   NO.1]\nX=1\n";

TEST(CameraManagerTest, KindsAndValues) {
  std::string parameters;
  EXPECT_EQ(StreamKindOf("pattern 320x240@10", &parameters), StreamKind::Pattern);
  EXPECT_EQ(parameters, "320x240@10");
  EXPECT_EQ(StreamKindOf("rtsp://192.0.2.1/a"), StreamKind::Network);
  EXPECT_EQ(StreamKindOf("/home/me/a.mp4"), StreamKind::File);
  EXPECT_EQ(StreamKindOf("file:///home/me/a.mp4"), StreamKind::File);
  EXPECT_EQ(StreamValue(StreamKind::Pattern, ""), "pattern");
  EXPECT_EQ(StreamValue(StreamKind::Pattern, " 640x480 "), "pattern 640x480");
  EXPECT_EQ(StreamValue(StreamKind::File, " /a.mp4 "), "/a.mp4");
}

TEST(CameraManagerTest, AddTestOpenAndRemoveAFileCamera) {
  StopFlag = 0;
  HomeFolder home;
  home.Write("qmr.ini", kSettings);
  const std::string clip = home.File("clip.avi");
  const std::string make =
      "ffmpeg -loglevel error -y -f lavfi -i testsrc=size=160x120:rate=10 "
      "-t 2 -c:v mjpeg '" +
      clip + "'";
  ASSERT_EQ(std::system(make.c_str()), 0);

  wxWeakRef<MainFrame> frame = new MainFrame();
  std::vector<MessageBoxRequest> boxes;
  frame->SetMessageBoxShower([&boxes](const MessageBoxRequest& r) { boxes.push_back(r); });
  frame->Show();
  ASSERT_TRUE(frame->CameraWindows().empty());

  {
    CameraManagerDialog dialog(frame, {{"Webcam   NO.1", "/dev/video0"}}, frame->ListedCameras());
    dialog.Show();
    // The local row cannot be tested or removed.
    EXPECT_FALSE(dialog.StartTest(0));
    dialog.RemoveRow(0);
    dialog.AddStream({"Clip", clip});
    dialog.AddStream({"Missing", home.File("no-such.avi")});
    EXPECT_EQ(dialog.SelectedRow(), 2);

    // The test runs on a worker: the dialog keeps answering meanwhile.
    ASSERT_TRUE(dialog.StartTest(1));
    EXPECT_FALSE(dialog.StartTest(2));  // one at a time
    ASSERT_TRUE(PumpUntil([&] { return !dialog.TestRunning(); },
                          CameraManagerDialog::kTestTimeoutMs + 5000));
    EXPECT_TRUE(dialog.TestShowsPicture());
    EXPECT_NE(dialog.TestResult().find("160 x 120"), std::string::npos) << dialog.TestResult();

    ASSERT_TRUE(dialog.StartTest(2));
    ASSERT_TRUE(PumpUntil([&] { return !dialog.TestRunning(); },
                          CameraManagerDialog::kTestTimeoutMs + 5000));
    EXPECT_FALSE(dialog.TestShowsPicture());
    EXPECT_NE(dialog.TestResult().find("Missing: "), std::string::npos) << dialog.TestResult();

    dialog.RemoveRow(2);
    ASSERT_EQ(dialog.Streams().size(), 1u);
    ASSERT_TRUE(frame->ApplyCameraList(dialog.Streams()));
  }
  EXPECT_EQ(home.Read("qmr.ini"),
            "# kept as it is\n[STARTUP]\nOPENALL=0\t\t\t#by hand\n\n[STREAMS]\nClip=" + clip +
                "\n\n[Other   NO.1]\nX=1\n");

  // Opened at once, without a restart.
  wxCommandEvent newCamera(wxEVT_MENU, kIdNewCamera);
  frame->ProcessWindowEvent(newCamera);
  ASSERT_EQ(frame->CameraWindows().size(), 1u);
  EXPECT_EQ(frame->CameraWindows().front()->Entry().name, "Clip   NO.1");
  PumpUntil([] { return false; }, 200);
  EXPECT_TRUE(boxes.empty());

  // Removed: its window closes, and New camera has nothing left to open.
  ASSERT_TRUE(frame->ApplyCameraList({}));
  EXPECT_TRUE(PumpUntil([&] { return frame->CameraWindows().empty(); }, 5000));
  frame->ProcessWindowEvent(newCamera);
  PumpUntil([&] { return !boxes.empty(); }, 5000);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, MainFrame::NoDeviceText(false));
  EXPECT_EQ(
      home.Read("qmr.ini"),
      "# kept as it is\n[STARTUP]\nOPENALL=0\t\t\t#by hand\n\n[STREAMS]\n\n[Other   NO.1]\nX=1\n");

  // Added again under the same name: the same settings section.
  ASSERT_TRUE(frame->ApplyCameraList({{"Clip", clip}}));
  frame->ProcessWindowEvent(newCamera);
  ASSERT_EQ(frame->CameraWindows().size(), 1u);
  EXPECT_EQ(frame->CameraWindows().front()->Entry().name, "Clip   NO.1");

  frame->Destroy();
  PumpUntil([&] { return frame == nullptr; }, 15000);
  StopFlag = 0;
}

}  // namespace
}  // namespace qmr
