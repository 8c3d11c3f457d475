// Program entry: the process services first (stop flag, folders, stop
// signals), then the GUI library's own entry with the application object.
#include <wx/app.h>

#include "app/capture_app.h"
#include "base/process.h"

wxIMPLEMENT_APP_NO_MAIN(qmr::CaptureApp);

int main(int argc, char** argv) {
  qmr::ProcessStart();
  return wxEntry(argc, argv);
}
