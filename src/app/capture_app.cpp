#include "app/capture_app.h"

#include <wx/image.h>

#include "app/main_frame.h"

namespace qmr {

bool CaptureApp::OnInit() {
  // JPEG is needed for motion pictures and snapshots, the others for saving
  // snapshots in every offered type.
  wxInitAllImageHandlers();
  auto* frame = new MainFrame();
  frame->Show(true);
  SetTopWindow(frame);
  return true;
}

}  // namespace qmr
