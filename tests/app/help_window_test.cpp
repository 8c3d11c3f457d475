// The built-in help window used when no browser opens the help page.
#include "app/help_window.h"

#include <gtest/gtest.h>
#include <wx/html/htmlwin.h>

namespace qmr {
namespace {

TEST(HelpWindowTest, ShowsThePageAsHtmlOrSaysItCannotBeRead) {
  auto* window = new HelpWindow(nullptr, QMR_SOURCE_DIR "/resources/index.htm");
  const wxString text = window->Html()->ToText();
  EXPECT_NE(text.Find("Quelmar Video Capture"), wxNOT_FOUND);
  // Rendered, not shown as source text.
  EXPECT_EQ(text.Find("<!DOCTYPE"), wxNOT_FOUND);
  EXPECT_EQ(text.Find("<h2>"), wxNOT_FOUND);
  EXPECT_NE(text.Find("Ctrl+Q"), wxNOT_FOUND);
  window->Destroy();

  window = new HelpWindow(nullptr, "/nonexistent/index.htm");
  EXPECT_NE(window->Html()->ToText().Find("cannot be read"), wxNOT_FOUND);
  window->Destroy();
}

TEST(HelpWindowTest, AnUnknownFileKindHasNoHandler) {
  EXPECT_FALSE(DesktopHandles("application/x-qmr-no-such-kind"));
}

}  // namespace
}  // namespace qmr
