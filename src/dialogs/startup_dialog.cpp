#include "dialogs/startup_dialog.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>

#include "base/app_context.h"
#include "app/resource_images.h"
#include "config/ini_file.h"
#include "config/settings.h"
#include "dialogs/dialog_support.h"

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

  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(row, 1, wxEXPAND);
  AddCentredOkCancelRow(this, top, wxID_OK, wxID_CANCEL);
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
  // The order the keys are written in.
  SettingsWriter writer(context_, keys::kStartup);
  writer.Put("OPENALL", &Settings::openAll, openAll_->GetValue());
  writer.Put("DETECT", &Settings::detect, detect_->GetValue());
  writer.Put("MINMAIN", &Settings::minMain, minMain_->GetValue());
  writer.Put("MAXVIEW", &Settings::maxView, maxView_->GetValue());
  return writer.Commit();
}

void StartupDialog::OnOk(wxCommandEvent&) {
  Apply();
  EndModal(wxID_OK);
}

}  // namespace qmr
