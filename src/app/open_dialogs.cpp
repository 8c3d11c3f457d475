#include "app/open_dialogs.h"

#include <dlfcn.h>
#include <wx/dialog.h>
#include <wx/msgdlg.h>

#include <algorithm>

namespace qmr {

namespace {

// The toolkit shows message boxes with the native dialog's own loop, which
// the dialog's EndModal does not reach; answering the native dialog ends
// it. The function is looked up in the already loaded toolkit library, so
// the program needs no build dependency on its headers.
bool AnswerNativeDialog(wxDialog* dialog) {
  using Respond = void (*)(void* nativeDialog, int responseId);
  static const auto respond = reinterpret_cast<Respond>(dlsym(RTLD_DEFAULT, "gtk_dialog_response"));
  void* handle = dialog->GetHandle();
  if (respond == nullptr || handle == nullptr) return false;
  constexpr int kResponseCancel = -6;
  respond(handle, kResponseCancel);
  return true;
}

}  // namespace

int OpenDialogs::Enter(wxDialog* dialog) {
  open_.push_back(dialog);
  return wxID_NONE;  // go on showing it
}

void OpenDialogs::Exit(wxDialog* dialog) {
  auto it = std::find(open_.rbegin(), open_.rend(), dialog);
  if (it != open_.rend()) open_.erase(std::next(it).base());
  if (asked_ == dialog) asked_ = nullptr;
}

bool OpenDialogs::EndInnermost() {
  if (open_.empty()) return false;
  wxDialog* dialog = open_.back();
  if (dialog == asked_) return true;  // asked already; waiting for it to return
  if (dialog->IsModal()) {
    dialog->EndModal(wxID_CANCEL);
    asked_ = dialog;
  } else if (dynamic_cast<wxMessageDialogBase*>(dialog) != nullptr && AnswerNativeDialog(dialog)) {
    asked_ = dialog;
  }
  return true;
}

}  // namespace qmr
