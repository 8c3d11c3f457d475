#include "dialogs/compressor_dialog.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/sizer.h>
#include <wx/spinctrl.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include "base/app_context.h"
#include "config/ini_file.h"
#include "config/settings.h"
#include "dialogs/dialog_support.h"

namespace qmr {

namespace {

std::vector<CompressorInfo> InstalledCompressors() {
  std::vector<CompressorInfo> list;
  EnumerateCompressors(list);  // an empty list is shown as such
  return list;
}

}  // namespace

CompressorDialog::CompressorDialog(wxWindow* parent, AppContext& context)
    : CompressorDialog(parent, context, InstalledCompressors()) {}

CompressorDialog::CompressorDialog(wxWindow* parent, AppContext& context,
                                   std::vector<CompressorInfo> compressors)
    : wxDialog(parent, wxID_ANY, "Compress driver settings"),
      context_(context),
      compressors_(std::move(compressors)) {
  Build();
}

void CompressorDialog::Build() {
  auto* group = new wxStaticBoxSizer(wxVERTICAL, this, "Video codec settings:");
  wxWindow* box = group->GetStaticBox();
  group->Add(new wxStaticText(box, wxID_ANY,
                              "Choose the codec driver to be used while recording AVI file:"),
             0, wxLEFT | wxRIGHT | wxTOP, 8);
  list_ = new wxChoice(box, wxID_ANY);
  group->Add(list_, 0, wxEXPAND | wxALL, 8);
  group->Add(new wxStaticText(box, wxID_ANY, "The quality of the compressed video:"), 0,
             wxLEFT | wxRIGHT, 8);
  // 80 dialog units wide, as the classic layout had it.
  quality_ = new wxSpinCtrl(box, wxID_ANY, wxEmptyString, wxDefaultPosition,
                            wxSize(ConvertDialogToPixels(wxSize(80, 0)).x, -1), wxSP_ARROW_KEYS, 0,
                            100, 0);
  group->Add(quality_, 0, wxALL, 8);

  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(group, 1, wxEXPAND | wxALL, 10);
  AddCentredOkCancelRow(this, top, kOkId, kCancelId);

  // Lines in the order the compressors were listed; the stored description
  // picks the line (the last one when two share a description), and the
  // handler code in memory follows that line at once.
  const Settings s = context_.Settings().Get();
  int selected = wxNOT_FOUND;
  for (std::size_t i = 0; i < compressors_.size(); ++i) {
    const int line = list_->Append(wxString::FromUTF8(compressors_[i].description));
    if (compressors_[i].description == s.driver) selected = line;
  }
  if (selected != wxNOT_FOUND) {
    list_->SetSelection(selected);
    const std::uint32_t handler = compressors_[static_cast<std::size_t>(selected)].handler;
    context_.Settings().Update([&](Settings& st) { st.fccHandler = handler; });
  }
  quality_->SetValue(s.quality);

  SetSizerAndFit(top);
  CentreOnParent();
  Bind(wxEVT_BUTTON, &CompressorDialog::OnOk, this, kOkId);
  Bind(wxEVT_BUTTON, &CompressorDialog::OnCancel, this, kCancelId);
}

int CompressorDialog::Apply() {
  const int line = list_->GetSelection();
  const bool hasLine = line != wxNOT_FOUND && static_cast<std::size_t>(line) < compressors_.size();
  SettingsWriter writer(context_, keys::kCodec);
  if (hasLine) {
    const std::uint32_t handler = compressors_[static_cast<std::size_t>(line)].handler;
    writer.Set(&Settings::fccHandler, handler);
    // The file is written only when it does not hold this code already.
    int stored = 0;
    if (!writer.File().GetInt(keys::kCodec, "FCCHANDLER", 0, stored) ||
        static_cast<std::uint32_t>(stored) != handler) {
      writer.WriteInt("FCCHANDLER", static_cast<int>(handler));
    }
  }
  writer.Put("DRIVER", &Settings::driver,
             hasLine ? compressors_[static_cast<std::size_t>(line)].description : "");
  writer.Put("QUALITY", &Settings::quality, quality_->GetValue());
  return writer.Commit();
}

void CompressorDialog::OnOk(wxCommandEvent&) {
  Apply();
  EndModal(wxID_OK);
}

void CompressorDialog::OnCancel(wxCommandEvent&) { EndModal(wxID_CANCEL); }

}  // namespace qmr
