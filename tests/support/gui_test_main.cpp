// Entry of the GUI tests: initialises the GUI library with an active event
// loop (so pending events, CallAfter and timers run when a test pumps) and the
// stop signals, then runs every test.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/image.h>
#include <wx/init.h>

#include "base/process.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  qmr::InstallStopSignals();
  int wxArgc = 1;
  char* wxArgv[] = {argv[0], nullptr};
  wxApp::SetInstance(new wxApp);
  if (!wxEntryStart(wxArgc, wxArgv)) return 1;
  wxInitAllImageHandlers();
  int result = 0;
  {
    wxEventLoop loop;
    wxEventLoopActivator activate(&loop);
    result = RUN_ALL_TESTS();
  }
  wxEntryCleanup();
  return result;
}
