// Program entry: the command line first (--help and --version need no
// display), then the process services (stop flag, folders, stop signals),
// then the GUI library's own entry with the application object.
#include <wx/app.h>

#include <cstdio>
#include <cstdlib>

#include "app/capture_app.h"
#include "app/command_line.h"
#include "base/process.h"

wxIMPLEMENT_APP_NO_MAIN(qmr::CaptureApp);

int main(int argc, char** argv) {
  const qmr::CommandLine line = qmr::ParseCommandLine(argc, argv);
  if (!line.error.empty()) {
    std::fprintf(stderr, "qmr: %s\n%s\nTry 'qmr --help' for more information.\n",
                 line.error.c_str(), qmr::UsageLine().c_str());
    return 2;
  }
  if (line.help) {
    std::fputs(qmr::HelpText().c_str(), stdout);
    return 0;
  }
  if (line.version) {
    std::fputs(qmr::VersionText().c_str(), stdout);
    return 0;
  }
  std::string problem;
  if (!qmr::ApplyHomeOptions(line, problem)) {
    std::fprintf(stderr, "qmr: %s\n", problem.c_str());
    return 1;
  }
  qmr::ProcessStart();
  qmr::CaptureApp::SetStartMinimized(line.minimized);
  // Nothing here draws with OpenGL, yet the toolkit probes it when it opens
  // the display, which loads the whole OpenGL driver (on machines without a
  // graphics card a software renderer of more than 40 MB, most of it
  // resident). Turned off unless the user chose otherwise.
  const char* gl = std::getenv("GDK_GL");
  if (gl == nullptr || *gl == '\0') setenv("GDK_GL", "disable", 1);
  // The toolkit's own options are not for this program: only argv[0] is
  // passed on, so an option it knows cannot change the display silently.
  int wxArgc = 1;
  char* wxArgv[] = {argv[0], nullptr};
  const int rc = wxEntry(wxArgc, wxArgv);
  if (qmr::CaptureApp::DisplayFailed()) return 1;
  return rc;
}
