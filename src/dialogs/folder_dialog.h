// The folder and file settings: where motion recordings and pictures go,
// which sound the alarm plays and which program runs on motion. OK writes
// only the keys whose (trimmed) value changed and saves the settings file.
// It also holds the storage limits (MAXGB and MINFREEMB of [STORAGE]).
#pragma once

#include <wx/dialog.h>

class wxCheckBox;
class wxTextCtrl;

namespace qmr {

class AppContext;

class FolderFileDialog : public wxDialog {
 public:
  enum Id {
    kIdPlay = 7100,
    kIdTest = 7101,
    kIdBrowseAvi = 7102,
    kIdBrowsePic = 7103,
    kIdBrowseProgram = 7104,
    kIdBrowseSound = 7105,
    kIdOk = 5100,
    kIdCancel = 5101,
  };

  FolderFileDialog(wxWindow* parent, AppContext& context);

  // The confirm step of OK without closing: writes what changed, saves the
  // settings file. Returns the number of keys written.
  int Apply();

 private:
  void OnBrowseFolder(wxCommandEvent& event);
  void OnBrowseFile(wxCommandEvent& event);
  void OnPlay(wxCommandEvent& event);
  void OnTest(wxCommandEvent& event);
  void OnOk(wxCommandEvent& event);
  void OnCancel(wxCommandEvent& event);

  AppContext& context_;
  wxTextCtrl* aviDir_ = nullptr;
  wxTextCtrl* picDir_ = nullptr;
  wxTextCtrl* sndFile_ = nullptr;
  wxCheckBox* sndRepeat_ = nullptr;
  wxTextCtrl* exeFile_ = nullptr;
  wxTextCtrl* exeParam_ = nullptr;
  wxCheckBox* exeOnce_ = nullptr;
  wxTextCtrl* maxGb_ = nullptr;
  wxTextCtrl* minFreeMb_ = nullptr;
};

}  // namespace qmr
