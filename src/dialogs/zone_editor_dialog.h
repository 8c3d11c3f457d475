// The dialog in which the user draws a camera's sensible and mask zones on a
// still picture of the camera and sets the motion sensitivity. OK checks the
// zone rules, hands zones and sensitivity to the camera's motion detector
// (which stops it) and writes them to the camera's section of the settings.
#pragma once

#include <wx/dialog.h>

#include <functional>
#include <string>

#include "config/settings.h"
#include "motion/zone.h"

class wxButton;
class wxChoice;
class wxSpinCtrl;

namespace qmr {

class AppContext;
class MotionDetector;
class ZoneCanvas;

class ZoneEditorDialog : public wxDialog {
 public:
  enum Id {
    kIdAddSensible = 8100,
    kIdAddMask = 8101,
    kIdDelete = 8102,
    kIdClear = 8103,
    kIdRules = 8104,
    kIdSensibleColour = 8105,
    kIdHighlightColour = 8106,
    kIdMaskColour = 8107,
  };

  // rgbTopDown: width * height pixels of red, green, blue bytes, top row
  // first (the camera's latest frame); a missing picture shows black.
  // detector may be null (nothing is applied then).
  ZoneEditorDialog(wxWindow* parent, AppContext& context, const std::string& cameraName,
                   const unsigned char* rgbTopDown, int width, int height,
                   MotionDetector* detector);
  ~ZoneEditorDialog() override;

  ZoneCanvas* Canvas() const { return canvas_; }
  wxSpinCtrl* Sensitivity() const { return sensitivity_; }
  // What each picture is compared with: item 0 the previous check, item 1
  // the background (the camera's REFERENCE).
  wxChoice* Reference() const { return reference_; }

  // Checks the editor's zones. On success fills the two lists with copies of
  // the sensible and mask zones. On failure highlights the offending zone,
  // shows the message and returns false.
  bool ValidateZones(ZoneList& sensibleOut, ZoneList& maskOut);
  // The confirm step of OK without closing: true when the zones were valid
  // and were applied and written.
  bool Apply();
  // A confirmed colour choice of the colour button id: the button, the
  // canvas, the settings and the settings file (saved at once) take it.
  void ApplyColour(int buttonId, const Rgb& colour);
  // The "Rule of zones" window (the caller shows and destroys it).
  wxDialog* CreateRulesWindow();

  // Where rule violations are shown; an error box by default.
  void SetErrorPresenter(std::function<void(const std::string&)> presenter);

 private:
  void BuildControls(const wxImage& picture);
  void OnAdd(wxCommandEvent& event);
  void OnDelete(wxCommandEvent& event);
  void OnClear(wxCommandEvent& event);
  void OnRules(wxCommandEvent& event);
  void OnColour(wxCommandEvent& event);
  void OnOk(wxCommandEvent& event);
  void OnCancel(wxCommandEvent& event);
  void ShowColour(wxButton* button, const Rgb& colour);

  AppContext& context_;
  std::string cameraName_;
  MotionDetector* detector_;
  int pictureWidth_;
  int pictureHeight_;
  ZoneCanvas* canvas_ = nullptr;
  wxSpinCtrl* sensitivity_ = nullptr;
  wxChoice* reference_ = nullptr;
  wxButton* sensibleButton_ = nullptr;
  wxButton* maskButton_ = nullptr;
  wxButton* highlightButton_ = nullptr;
  std::function<void(const std::string&)> presentError_;
};

}  // namespace qmr
