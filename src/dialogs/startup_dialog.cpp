#include "dialogs/startup_dialog.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>

#include "app/app_context.h"
#include "app/gui/resource_images.h"
#include "config/ini_file.h"
#include "config/settings.h"

namespace qmr {

StartupDialog::StartupDialog(wxWindow* parent, AppContext& context)
    : wxDialog(parent, wxID_ANY, "Program startup settings", wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxRESIZE_BORDER),
      context_(context) {
  auto* picture = new wxStaticBitmap(
      this, wxID_ANY, LoadToolBitmap("tool_startup", GetBackgroundColour()));

  auto* group = new wxStaticBoxSizer(wxVERTICAL, this, "On startup, do:");
  wxWindow* box = group->GetStaticBox();
  openAll_ = new wxCheckBox(box, wxID_ANY, "Open all of the video devices");
  detect_ = new wxCheckBox(box, wxID_ANY, "Start motion detecting");
  maxView_ = new wxCheckBox(box, wxID_ANY, "Maximize all of the video windows");
  minMain_ = new wxCheckBox(box, wxID_ANY, "Minimize the main window");
  for (wxCheckBox* check : {openAll_, detect_, maxView_, minMain_}) {
    group->Add(check, 0, wxALL, 5);
  }

  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(picture, 0, wxALL, 10);
  row->Add(group, 1, wxEXPAND | wxALL, 10);

  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  auto* ok = new wxButton(this, wxID_OK, "OK");
  ok->SetDefault();
  buttons->Add(ok, 0, wxALL, 5);
  buttons->Add(new wxButton(this, wxID_CANCEL, "Cancel"), 0, wxALL, 5);

  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(row, 1, wxEXPAND);
  top->Add(buttons, 0, wxALIGN_CENTER | wxBOTTOM, 5);
  SetSizerAndFit(top);
  CentreOnParent();

  const Settings s = context_.Settings().Get();
  openAll_->SetValue(s.openAll);
  detect_->SetValue(s.detect);
  maxView_->SetValue(s.maxView);
  minMain_->SetValue(s.minMain);

  Bind(wxEVT_BUTTON, &StartupDialog::OnOk, this, wxID_OK);
}

int StartupDialog::Apply() {
  struct Flag {
    wxCheckBox* box;
    bool Settings::*field;
    const char* key;
  };
  // The order the keys are written in.
  const Flag flags[] = {{openAll_, &Settings::openAll, "OPENALL"},
                        {detect_, &Settings::detect, "DETECT"},
                        {minMain_, &Settings::minMain, "MINMAIN"},
                        {maxView_, &Settings::maxView, "MAXVIEW"}};
  int written = 0;
  IniFile& ini = context_.SettingsFile();
  context_.Settings().Update([&](Settings& s) {
    for (const Flag& f : flags) {
      const bool state = f.box->GetValue();
      if (state == s.*(f.field)) continue;
      s.*(f.field) = state;
      ini.SetInt(keys::kStartup, f.key, state ? 1 : 0);
      ++written;
    }
  });
  // A file that cannot be written is not reported: the new flags hold in
  // memory until the program ends.
  ini.Save();
  return written;
}

void StartupDialog::OnOk(wxCommandEvent&) {
  Apply();
  EndModal(wxID_OK);
}

}  // namespace qmr
