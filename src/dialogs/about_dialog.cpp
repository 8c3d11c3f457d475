#include "dialogs/about_dialog.h"

#include <wx/button.h>
#include <wx/font.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include "app/resource_images.h"

namespace qmr {

AboutDialog::AboutDialog(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, "About Quelmar Video Capture") {
  // Fixed pitch, as the product's own texts always were.
  wxFont font(wxFontInfo(12).Family(wxFONTFAMILY_TELETYPE).FaceName("Courier New"));
  if (!font.IsOk()) font = wxFont(wxFontInfo(12).Family(wxFONTFAMILY_TELETYPE));

  auto* texts = new wxBoxSizer(wxVERTICAL);
  for (const char* line : {"Quelmar Video Capture", "version 2.01"}) {
    auto* label = new wxStaticText(this, wxID_ANY, line);
    label->SetFont(font);
    texts->Add(label, 0, wxALL, 4);
  }
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(new wxStaticBitmap(this, wxID_ANY, LoadResourceBitmap("icon_main_48")), 0,
           wxALL | wxALIGN_CENTER_VERTICAL, 10);
  row->Add(texts, 1, wxALL | wxALIGN_CENTER_VERTICAL, 6);

  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(row, 1, wxEXPAND | wxALL, 6);
  auto* ok = new wxButton(this, wxID_OK, "OK");
  ok->SetDefault();
  top->Add(ok, 0, wxALIGN_CENTER | wxALL, 10);
  SetSizerAndFit(top);
  CentreOnParent();
}

}  // namespace qmr
