// The application object: registers the image handlers, shows the main frame
// and reports folders that cannot be written.
#pragma once

#include <wx/app.h>

#include <string>
#include <vector>

namespace qmr {

class CaptureApp : public wxApp {
 public:
  bool Initialize(int& argc, wxChar** argv) override;
  bool OnInit() override;

  // Set by the program entry before the toolkit starts.
  static void SetStartMinimized(bool minimized);
  // True when the toolkit could not open the display.
  static bool DisplayFailed();
};

// Checks every folder the program writes to (home, log, AVI, PIC): creates a
// missing one and tries a write. Returns one line per folder that fails.
std::vector<std::string> CheckWritableFolders(const std::string& aviDir, const std::string& picDir);

}  // namespace qmr
