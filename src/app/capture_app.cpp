#include "app/capture_app.h"

#include <wx/accel.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/msgdlg.h>

#include <cstdio>

#include "app/command_ids.h"
#include "app/command_line.h"
#include "app/main_frame.h"
#include "base/log_file.h"
#include "base/process.h"

namespace qmr {

namespace {

bool g_startMinimized = false;
bool g_displayFailed = false;

}  // namespace

void CaptureApp::SetStartMinimized(bool minimized) { g_startMinimized = minimized; }

bool CaptureApp::DisplayFailed() { return g_displayFailed; }

bool CaptureApp::Initialize(int& argc, wxChar** argv) {
  bool ok = false;
  {
    // The toolkit's own complaint names the wrong library; say it plainly.
    wxLogNull quiet;
    ok = wxApp::Initialize(argc, argv);
  }
  if (!ok) {
    g_displayFailed = true;
    std::fprintf(stderr, "%s\n", kNoDisplayText);
  }
  return ok;
}

std::vector<std::string> CheckWritableFolders(const std::string& aviDir,
                                              const std::string& picDir) {
  std::vector<std::string> problems;
  std::vector<std::string> seen;
  for (const std::string& folder : {ApplicationFolder(), LogFolder(), aviDir, picDir}) {
    if (folder.empty()) continue;
    bool repeated = false;
    for (const std::string& s : seen) repeated = repeated || s == folder;
    if (repeated) continue;
    seen.push_back(folder);
    std::string problem;
    if (!EnsureWritableFolder(folder, problem)) problems.push_back(problem);
  }
  return problems;
}

bool CaptureApp::OnInit() {
  // JPEG is needed for motion pictures and snapshots, the others for saving
  // snapshots in every offered type.
  wxInitAllImageHandlers();
  auto* frame = new MainFrame();
  // Un-maximised, the window keeps a usable size (and the toolbar a
  // positive width).
  frame->SetMinSize(frame->FromDIP(wxSize(640, 480)));
  // The usual desktop shortcut for quitting, beside the menu's own Ctrl+X.
  wxAcceleratorEntry quit(wxACCEL_CTRL, 'Q', kIdQuit);
  frame->SetAcceleratorTable(wxAcceleratorTable(1, &quit));
  frame->Show(true);
  if (g_startMinimized) frame->Iconize(true);
  SetTopWindow(frame);

  const Settings s = frame->Settings().Get();
  const std::vector<std::string> problems = CheckWritableFolders(s.aviDir, s.picDir);
  if (!problems.empty()) {
    std::string text;
    for (const std::string& p : problems) {
      LogFile::Write(p);
      std::fprintf(stderr, "qmr: %s\n", p.c_str());
      text += p + "\n";
    }
    text +=
        "\nRecordings, pictures or settings cannot be saved there. Choose other folders with "
        "Option > Folder & file, or fix the folders' permissions.";
    frame->PostMessageBox(text, "Folders", wxOK | wxICON_WARNING);
  }
  return true;
}

}  // namespace qmr
