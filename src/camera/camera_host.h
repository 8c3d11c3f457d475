// What a camera window needs from the window that hosts it (the main frame):
// the application context, a parent window, and the pane that shows the
// camera with its caption and icon.
#pragma once

#include <wx/bitmap.h>
#include <wx/string.h>
#include <wx/window.h>

namespace qmr {

class AppContext;
class CameraFrame;

class CameraHost {
 public:
  virtual ~CameraHost() = default;

  virtual AppContext& Context() = 0;
  // The parent of every camera window.
  virtual wxWindow* HostWindow() = 0;
  // Called by a camera window when it is constructed: register it in the
  // camera windows and show it as a pane with the given caption.
  virtual void AddCameraWindow(CameraFrame* window, const wxString& title) = 0;
  // Called by a camera window when it is destroyed: remove its pane and
  // forget it.
  virtual void RemoveCameraWindow(CameraFrame* window) = 0;
  virtual void SetPaneTitle(wxWindow* window, const wxString& title) = 0;
  virtual void SetPaneIcon(wxWindow* window, const wxBitmap& icon) = 0;
  // The user clicked into a camera's picture: it becomes the active camera
  // that the toolbar's camera commands go to.
  virtual void CameraActivated(CameraFrame* /*window*/) {}
};

}  // namespace qmr
