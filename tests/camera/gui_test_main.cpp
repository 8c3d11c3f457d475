// Entry of the camera window tests: starts wxWidgets without a main loop (the
// tests pump events themselves) and runs every test.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/image.h>
#include <wx/init.h>

#include "camera_test_support.h"

namespace {

class TestApp : public wxApp {
 public:
  bool OnInit() override {
    wxInitAllImageHandlers();
    return true;
  }
};

}  // namespace

wxIMPLEMENT_APP_NO_MAIN(TestApp);

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit()) {
    std::fprintf(stderr, "cannot initialise wxWidgets (no display?)\n");
    return 1;
  }
  int result;
  {
    qmr::test::EventLoopScope loop;
    result = RUN_ALL_TESTS();
  }
  wxTheApp->OnExit();
  wxEntryCleanup();
  return result;
}
