// The help page in a window of the program's own, for a desktop where no
// browser opens it; and the question whether the desktop has a program for
// a kind of file at all.
#pragma once

#include <wx/frame.h>

#include <string>

class wxHtmlWindow;

namespace qmr {

class HelpWindow : public wxFrame {
 public:
  HelpWindow(wxWindow* parent, const std::string& page);
  wxHtmlWindow* Html() const { return html_; }

 private:
  wxHtmlWindow* html_ = nullptr;
};

// Opens the help page with the desktop's browser, else in a HelpWindow
// (returned; nullptr when the browser took it).
HelpWindow* OpenHelpPage(wxWindow* parent, const std::string& page);

// True when the desktop names a program for the MIME type (xdg-mime query
// default); false when it names none or xdg-mime is missing.
bool DesktopHandles(const std::string& mimeType);

}  // namespace qmr
