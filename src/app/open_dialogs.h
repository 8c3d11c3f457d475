// The modal dialogs that are open, innermost last. A stop signal may come
// while dialogs are open, even nested (a colour chooser over the zone editor);
// the windows must not be destroyed under a running modal loop, so the quit
// stages wait until this list is empty, ending one dialog at a time.
#pragma once

#include <wx/modalhook.h>

#include <vector>

class wxDialog;

namespace qmr {

class OpenDialogs : public wxModalDialogHook {
 public:
  OpenDialogs() { Register(); }
  ~OpenDialogs() override { Unregister(); }
  OpenDialogs(const OpenDialogs&) = delete;
  OpenDialogs& operator=(const OpenDialogs&) = delete;

  bool Empty() const { return open_.empty(); }
  // Asks the innermost dialog to end as if Cancel were pressed; the outer
  // ones are asked on later calls, once the inner ones have returned. False
  // when no dialog is open.
  bool EndInnermost();

 protected:
  int Enter(wxDialog* dialog) override;
  void Exit(wxDialog* dialog) override;

 private:
  std::vector<wxDialog*> open_;
  wxDialog* asked_ = nullptr;  // the innermost dialog, once asked to end
};

}  // namespace qmr
