// "Compress driver settings": the video compressor every recording uses (by
// hand, by schedule and on motion) and its quality, kept under CODEC as
// DRIVER (the compressor's description), FCCHANDLER (its handler code) and
// QUALITY (0 to 100).
#pragma once

#include <wx/dialog.h>

#include <vector>

#include "recording/video_compressor.h"

class wxChoice;
class wxSpinCtrl;

namespace qmr {

class AppContext;

class CompressorDialog : public wxDialog {
 public:
  static constexpr int kOkId = 5100;
  static constexpr int kCancelId = 5101;

  // Lists the compressors this machine offers.
  CompressorDialog(wxWindow* parent, AppContext& context);
  // Lists the given compressors, in their order (tests give their own list).
  CompressorDialog(wxWindow* parent, AppContext& context, std::vector<CompressorInfo> compressors);

  // The OK button's work: writes the changed keys into the settings and the
  // settings file and saves it. Returns the number of keys written.
  int Apply();

  wxChoice* CompressorList() { return list_; }
  wxSpinCtrl* QualityField() { return quality_; }
  const std::vector<CompressorInfo>& Compressors() const { return compressors_; }

 private:
  void Build();
  void OnOk(wxCommandEvent& event);
  void OnCancel(wxCommandEvent& event);

  AppContext& context_;
  std::vector<CompressorInfo> compressors_;  // line i of the list is entry i
  wxChoice* list_ = nullptr;
  wxSpinCtrl* quality_ = nullptr;
};

}  // namespace qmr
