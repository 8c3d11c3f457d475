// "About Quelmar Video Capture": the product name and its version.
#pragma once

#include <wx/dialog.h>

namespace qmr {

class AboutDialog : public wxDialog {
 public:
  explicit AboutDialog(wxWindow* parent);
};

}  // namespace qmr
