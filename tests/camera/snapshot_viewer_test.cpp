#include "dialogs/snapshot_viewer.h"

#include <gtest/gtest.h>
#include <wx/display.h>
#include <wx/frame.h>

#include <filesystem>

#include "camera_test_support.h"

namespace qmr {
namespace {

// A picture whose every pixel differs, so any wrong turn shows.
wxImage GradientImage(int width, int height) {
  wxImage image(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      image.SetRGB(x, y, static_cast<unsigned char>(x * 3), static_cast<unsigned char>(y * 5),
                   static_cast<unsigned char>((x + y) & 0xFF));
    }
  }
  return image;
}

bool SamePixels(const wxImage& a, const wxImage& b) {
  return a.GetSize() == b.GetSize() &&
         std::equal(a.GetData(), a.GetData() + a.GetWidth() * a.GetHeight() * 3, b.GetData());
}

class SnapshotViewerTest : public testing::Test {
 protected:
  SnapshotViewerTest() : context_(folder_.Path()) {
    frame_ = new wxFrame(nullptr, wxID_ANY, "owner");
    viewer_ = new SnapshotViewer(frame_, context_, GradientImage(80, 60), SystemTime{});
  }
  ~SnapshotViewerTest() override { frame_->Destroy(); }

  test::TempFolder folder_;
  test::TestContext context_;
  wxFrame* frame_;
  SnapshotViewer* viewer_;
};

TEST_F(SnapshotViewerTest, TurnsAndMirrorsThePicture) {
  const wxImage first = viewer_->Image();
  const wxSize firstSize = viewer_->GetSize();

  viewer_->Rotate90();
  EXPECT_EQ(viewer_->Image().GetSize(), wxSize(60, 80));
  EXPECT_EQ(viewer_->GetSize(), firstSize + wxSize(-20, 20));
  // The first row of the turned picture is the first column read bottom-up.
  EXPECT_EQ(viewer_->Image().GetRed(0, 0), first.GetRed(0, 59));
  for (int i = 0; i < 3; ++i) viewer_->Rotate90();
  EXPECT_TRUE(SamePixels(viewer_->Image(), first));
  EXPECT_EQ(viewer_->GetSize(), firstSize);

  viewer_->Flip();
  viewer_->Mirror();
  EXPECT_TRUE(SamePixels(viewer_->Image(), first.Rotate180()));
  EXPECT_EQ(viewer_->GetSize(), firstSize);

  // Zero degrees leaves the picture alone; 45 degrees grows picture and dialog alike.
  const wxImage before = viewer_->Image();
  viewer_->RotateBy(0);
  EXPECT_TRUE(SamePixels(viewer_->Image(), before));
  viewer_->RotateBy(45);
  const wxSize grown = viewer_->Image().GetSize() - before.GetSize();
  EXPECT_GT(grown.x, 0);
  EXPECT_EQ(viewer_->GetSize(), firstSize + grown);
}

TEST_F(SnapshotViewerTest, NeverGrowsPastTheScreen) {
  wxFrame* owner = new wxFrame(nullptr, wxID_ANY, "owner");
  const wxImage big = GradientImage(1600, 1200);
  auto* viewer = new SnapshotViewer(owner, context_, big, SystemTime{});
  const wxRect area = wxDisplay(0u).GetClientArea();
  auto fits = [&] {
    return viewer->GetSize().x <= area.GetWidth() && viewer->GetSize().y <= area.GetHeight();
  };
  EXPECT_TRUE(fits()) << viewer->GetSize().x << "x" << viewer->GetSize().y;
  // Two turns by any angle make the picture larger still; the dialog stays.
  viewer->RotateBy(45);
  viewer->RotateBy(45);
  EXPECT_GT(viewer->Image().GetWidth(), 1600);
  EXPECT_TRUE(fits()) << viewer->GetSize().x << "x" << viewer->GetSize().y;
  // What is kept (and saved) is the whole picture.
  viewer->Rotate90();
  viewer->Rotate90();
  viewer->Rotate90();
  viewer->Rotate90();
  EXPECT_GT(viewer->Image().GetWidth(), 2000);
  EXPECT_TRUE(fits());
  owner->Destroy();
}

TEST_F(SnapshotViewerTest, SavesWithTheExtensionOfTheChosenType) {
  const std::string dir = folder_.Path() + "/my.pics";
  std::filesystem::create_directory(dir);

  EXPECT_EQ(viewer_->SaveAs(dir + "/picture.jpg", 3), dir + "/picture.png");
  wxImage back;
  ASSERT_TRUE(back.LoadFile(dir + "/picture.png", wxBITMAP_TYPE_PNG));
  EXPECT_TRUE(SamePixels(back, viewer_->Image()));
  EXPECT_FALSE(std::filesystem::exists(dir + "/picture.jpg"));

  // No dot in the file's name: the extension is appended, the folder's dot is kept.
  EXPECT_EQ(viewer_->SaveAs(dir + "/snapshot", 1), dir + "/snapshot.bmp");
  EXPECT_TRUE(back.LoadFile(dir + "/snapshot.bmp", wxBITMAP_TYPE_BMP));
  for (int type = 0; type < 5; ++type) {
    EXPECT_FALSE(viewer_->SaveAs(dir + "/all.x", type).empty()) << type;
  }
  EXPECT_TRUE(std::filesystem::exists(dir + "/all.tif"));
  EXPECT_TRUE(std::filesystem::exists(dir + "/all.pcx"));
  EXPECT_TRUE(std::filesystem::exists(dir + "/all.jpg"));
  EXPECT_TRUE(context_.boxes.empty());

  // A folder that does not exist: nothing written, the user is told.
  EXPECT_EQ(viewer_->SaveAs(folder_.Path() + "/missing/p.png", 3), "");
  ASSERT_EQ(context_.boxes.size(), 1u);
  EXPECT_EQ(context_.boxes[0].text, "Failed to save file " + folder_.Path() + "/missing/p.png");
  EXPECT_EQ(context_.boxes[0].caption, "Error");
}

}  // namespace
}  // namespace qmr
