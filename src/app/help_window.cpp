#include "app/help_window.h"

#include <wx/ffile.h>
#include <wx/html/htmlwin.h>
#include <wx/log.h>
#include <wx/sizer.h>
#include <wx/utils.h>

#include <cstdio>

#include "app/resource_images.h"
#include "base/log_file.h"
#include "base/process.h"

namespace qmr {

HelpWindow::HelpWindow(wxWindow* parent, const std::string& page)
    : wxFrame(parent, wxID_ANY, "Quelmar Video Capture Help", wxDefaultPosition,
              parent ? parent->FromDIP(wxSize(760, 640)) : wxSize(760, 640)) {
  SetIcons(ProgramIcons());
  html_ = new wxHtmlWindow(this, wxID_ANY);
  // Given as text: loaded by name, a .htm file is taken for plain text
  // on a desktop without a MIME database.
  wxString text;
  bool read = false;
  {
    wxLogNull quiet;  // a missing page is said in the window itself
    wxFFile file(wxString::FromUTF8(page), "rb");
    read = file.IsOpened() && file.ReadAll(&text, wxConvUTF8);
  }
  if (read) {
    html_->SetPage(text);
  } else {
    html_->SetPage("<html><body><p>The help page " + wxString::FromUTF8(page) +
                   " cannot be read.</p></body></html>");
  }
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(html_, 1, wxEXPAND);
  SetSizer(sizer);
}

bool DesktopHandles(const std::string& mimeType) {
  // The MIME type is one of ours, never user text, so the command is safe.
  const std::string command = "xdg-mime query default '" + mimeType + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return false;
  std::string output;
  char buf[256];
  while (std::fgets(buf, sizeof(buf), pipe) != nullptr) output += buf;
  const int status = pclose(pipe);
  return status == 0 && !TrimSpaces(output).empty();
}

HelpWindow* OpenHelpPage(wxWindow* parent, const std::string& page) {
  if (DesktopHandles("text/html") && wxLaunchDefaultBrowser("file://" + wxString::FromUTF8(page))) {
    return nullptr;
  }
  LogFile::Write("No browser opens the help page; it is shown in the program's own window");
  auto* window = new HelpWindow(parent, page);
  window->Show();
  return window;
}

}  // namespace qmr
