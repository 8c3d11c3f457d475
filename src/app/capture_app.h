// The application object: registers the image handlers and shows the main
// frame.
#pragma once

#include <wx/app.h>

namespace qmr {

class CaptureApp : public wxApp {
 public:
  bool OnInit() override;
};

}  // namespace qmr
