#include "dialogs/zone_editor_dialog.h"

#include <wx/artprov.h>
#include <wx/bmpbuttn.h>
#include <wx/button.h>
#include <wx/choice.h>
#include <wx/colordlg.h>
#include <wx/dcmemory.h>
#include <wx/display.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/spinctrl.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/utils.h>

#include <cstdio>
#include <cstring>

#include "base/app_context.h"
#include "config/ini_file.h"
#include "config/settings.h"
#include "dialogs/dialog_support.h"
#include "dialogs/zone_canvas.h"
#include "motion/motion_detector.h"
#include "motion/zone_rules.h"

namespace qmr {

namespace {

constexpr int kCommandIconSize = 24;

wxColour ToColour(const Rgb& rgb) { return wxColour(rgb.red, rgb.green, rgb.blue); }

// The icon of an "add zone" button: a rectangle in the zone's colour with a
// plus sign.
wxBitmap AddZoneIcon(const Rgb& colour) {
  wxBitmap bitmap(kCommandIconSize, kCommandIconSize);
  wxMemoryDC dc(bitmap);
  dc.SetBackground(*wxWHITE_BRUSH);
  dc.Clear();
  dc.SetBrush(*wxTRANSPARENT_BRUSH);
  dc.SetPen(wxPen(ToColour(colour), 2));
  dc.DrawRectangle(2, 5, 16, 14);
  dc.SetPen(wxPen(*wxBLACK, 2));
  dc.DrawLine(18, 2, 18, 10);
  dc.DrawLine(14, 6, 22, 6);
  dc.SelectObject(wxNullBitmap);
  return bitmap;
}

wxBitmap ArtIcon(const wxArtID& id) {
  wxBitmap bitmap = wxArtProvider::GetBitmap(id, wxART_BUTTON, wxSize(kCommandIconSize,
                                                                      kCommandIconSize));
  if (bitmap.IsOk()) return bitmap;
  wxBitmap blank(kCommandIconSize, kCommandIconSize);
  wxMemoryDC dc(blank);
  dc.SetBackground(*wxLIGHT_GREY_BRUSH);
  dc.Clear();
  dc.SelectObject(wxNullBitmap);
  return blank;
}

wxImage PictureImage(const unsigned char* rgbTopDown, int width, int height) {
  if (width <= 0 || height <= 0) {
    width = 320;
    height = 240;
    rgbTopDown = nullptr;
  }
  wxImage image(width, height, true);  // black
  if (rgbTopDown != nullptr) {
    std::memcpy(image.GetData(), rgbTopDown, static_cast<size_t>(width) * height * 3);
  }
  return image;
}

const char* const kRuleLines[] = {
    "* Zones include the sensible ones and the mask ones.",
    "* Mask zone is used to cover part of the sensible zone.",
    "* During motion detecting, a pixiel will not be checked\n unless it is inside of a sensible "
    "zone.",
    "* Several sensible zones can be set for a camera.",
    "* Several mask zones can be set inside of a sensible zone.",
    "* If no sensible zone is set, the whole image is sensible.",
    "* Any mask zone must be completely inside of a sensible zone.",
    "* Any Sensible zone can not be inside of another zone.",
    "* Any pair of zones can not intersect.",
};

}  // namespace

ZoneEditorDialog::ZoneEditorDialog(wxWindow* parent, AppContext& context,
                                   const std::string& cameraName, const unsigned char* rgbTopDown,
                                   int width, int height, MotionDetector* detector)
    : wxDialog(parent, wxID_ANY, wxString::FromUTF8("Set motion sensible zones for " + cameraName),
               wxDefaultPosition, wxDefaultSize, wxDEFAULT_DIALOG_STYLE),
      context_(context),
      cameraName_(cameraName),
      detector_(detector) {
  const wxImage picture = PictureImage(rgbTopDown, width, height);
  pictureWidth_ = picture.GetWidth();
  pictureHeight_ = picture.GetHeight();
  presentError_ = [this](const std::string& message) {
    wxMessageBox(wxString::FromUTF8(message), "Error", wxOK | wxICON_ERROR, this);
  };
  BuildControls(picture);

  // Initial state: colours from the settings, copies of the detector's
  // zones (sensible first), the detector's sensitivity.
  const Settings settings = context_.Settings().Get();
  canvas_->SetColours(settings.colorSensible, settings.colorMask, settings.colorHilight);
  ShowColour(sensibleButton_, settings.colorSensible);
  ShowColour(maskButton_, settings.colorMask);
  ShowColour(highlightButton_, settings.colorHilight);
  if (detector_ != nullptr) {
    ZoneList sensible, mask;
    detector_->GetZones(sensible, mask);
    for (auto& zone : sensible) canvas_->AppendZone(std::move(zone));
    for (auto& zone : mask) canvas_->AppendZone(std::move(zone));
    sensitivity_->SetValue(detector_->Threshold());
    reference_->SetSelection(detector_->GetReference());
  } else {
    sensitivity_->SetValue(MotionDetector::kDefaultThreshold);
  }
}

ZoneEditorDialog::~ZoneEditorDialog() = default;

void ZoneEditorDialog::BuildControls(const wxImage& picture) {
  auto* top = new wxBoxSizer(wxVERTICAL);

  // Colour rows.
  auto* colours = new wxFlexGridSizer(2, wxSize(8, 4));
  auto addColourRow = [&](const char* label, int id) {
    colours->Add(new wxStaticText(this, wxID_ANY, label), 0, wxALIGN_CENTER_VERTICAL);
    auto* button = new wxButton(this, id, wxEmptyString, wxDefaultPosition, wxSize(60, -1));
    colours->Add(button);
    Bind(wxEVT_BUTTON, &ZoneEditorDialog::OnColour, this, id);
    return button;
  };
  sensibleButton_ = addColourRow("Sensible zone", kIdSensibleColour);
  maskButton_ = addColourRow("Mask zone", kIdMaskColour);
  highlightButton_ = addColourRow("Highlight", kIdHighlightColour);

  // Command buttons.
  const Settings settings = context_.Settings().Get();
  auto* commands = new wxBoxSizer(wxHORIZONTAL);
  auto addCommand = [&](int id, const wxBitmap& icon, const char* tip) {
    auto* button = new wxBitmapButton(this, id, icon);
    button->SetToolTip(tip);
    commands->Add(button, 0, wxRIGHT, 4);
    return button;
  };
  addCommand(kIdAddSensible, AddZoneIcon(settings.colorSensible), "Add a sensible zone");
  addCommand(kIdAddMask, AddZoneIcon(settings.colorMask), "Add a mask zone");
  addCommand(kIdDelete, ArtIcon(wxART_DELETE), "Delete current zone");
  addCommand(kIdClear, ArtIcon(wxART_CROSS_MARK), "Clear all zones");
  addCommand(kIdRules, ArtIcon(wxART_HELP), "Rule of zones");
  commands->AddSpacer(12);
  addCommand(wxID_OK, ArtIcon(wxART_TICK_MARK), "OK");
  addCommand(wxID_CANCEL, ArtIcon(wxART_CLOSE), "Cancel");
  Bind(wxEVT_BUTTON, &ZoneEditorDialog::OnAdd, this, kIdAddSensible);
  Bind(wxEVT_BUTTON, &ZoneEditorDialog::OnAdd, this, kIdAddMask);
  Bind(wxEVT_BUTTON, &ZoneEditorDialog::OnDelete, this, kIdDelete);
  Bind(wxEVT_BUTTON, &ZoneEditorDialog::OnClear, this, kIdClear);
  Bind(wxEVT_BUTTON, &ZoneEditorDialog::OnRules, this, kIdRules);
  Bind(wxEVT_BUTTON, &ZoneEditorDialog::OnOk, this, wxID_OK);
  Bind(wxEVT_BUTTON, &ZoneEditorDialog::OnCancel, this, wxID_CANCEL);
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { FinishDialog(this, wxID_CANCEL); });

  auto* controls = new wxBoxSizer(wxHORIZONTAL);
  controls->Add(colours, 0, wxRIGHT, 16);
  auto* right = new wxBoxSizer(wxVERTICAL);
  right->Add(commands, 0, wxBOTTOM, 8);
  auto* sensitivityRow = new wxBoxSizer(wxHORIZONTAL);
  sensitivityRow->Add(
      new wxStaticText(this, wxID_ANY, "Motion detecting sensibility(in percentage):"), 0,
      wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
  sensitivity_ = new wxSpinCtrl(this, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                                wxSP_ARROW_KEYS, 0, 100, MotionDetector::kDefaultThreshold);
  // 80 pixels wide where the theme's arrows leave room for it.
  if (sensitivity_->GetBestSize().x < 80) sensitivity_->SetMinSize(wxSize(80, -1));
  sensitivityRow->Add(sensitivity_, 0, wxALIGN_CENTER_VERTICAL);
  right->Add(sensitivityRow);
  auto* referenceRow = new wxBoxSizer(wxHORIZONTAL);
  referenceRow->Add(new wxStaticText(this, wxID_ANY, "Compare each picture with:"), 0,
                    wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
  const wxString references[] = {"the previous check", "the background (also finds slow movement)"};
  reference_ = new wxChoice(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, 2, references);
  reference_->SetSelection(MotionDetector::kBackground);
  referenceRow->Add(reference_, 0, wxALIGN_CENTER_VERTICAL);
  right->Add(referenceRow, 0, wxTOP, 6);
  controls->Add(right);
  top->Add(controls, 0, wxALL, 8);

  // The picture at its own size; scrolled when it does not fit the screen.
  canvas_ = new ZoneCanvas(this, wxID_ANY, picture);
  wxSize shown(pictureWidth_, pictureHeight_);
  const int displayIndex = wxDisplay::GetFromWindow(GetParent() ? GetParent() : this);
  const wxRect area = wxDisplay(displayIndex == wxNOT_FOUND ? 0 : displayIndex).GetClientArea();
  shown.x = std::min(shown.x, std::max(160, area.width - 60));
  shown.y = std::min(shown.y, std::max(120, area.height - 200));
  canvas_->SetMinSize(shown);
  top->Add(canvas_, 0, wxLEFT | wxRIGHT | wxBOTTOM | wxALIGN_CENTER_HORIZONTAL, 8);

  SetSizerAndFit(top);
  CentreOnParent();
}

void ZoneEditorDialog::SetErrorPresenter(std::function<void(const std::string&)> presenter) {
  presentError_ = std::move(presenter);
}

void ZoneEditorDialog::ShowColour(wxButton* button, const Rgb& colour) {
  button->SetBackgroundColour(ToColour(colour));
  // Some themes ignore a button's background; a swatch shows the colour on
  // every theme.
  wxBitmap swatch(40, 14);
  wxMemoryDC dc(swatch);
  dc.SetBackground(wxBrush(ToColour(colour)));
  dc.Clear();
  dc.SelectObject(wxNullBitmap);
  button->SetBitmap(swatch);
  button->Refresh();
}

void ZoneEditorDialog::OnAdd(wxCommandEvent& event) {
  canvas_->AddPendingZone(event.GetId() == kIdAddMask ? kMaskZoneKind : kSensibleZoneKind);
}

void ZoneEditorDialog::OnDelete(wxCommandEvent&) {
  if (!canvas_->DeleteSelected()) wxBell();
}

void ZoneEditorDialog::OnClear(wxCommandEvent&) { canvas_->ClearZones(); }

wxDialog* ZoneEditorDialog::CreateRulesWindow() {
  auto* help = new wxDialog(this, wxID_ANY, "Help");
  auto* top = new wxBoxSizer(wxVERTICAL);
  auto* body = new wxBoxSizer(wxHORIZONTAL);
  body->Add(new wxStaticBitmap(help, wxID_ANY,
                               wxArtProvider::GetBitmap(wxART_INFORMATION, wxART_MESSAGE_BOX)),
            0, wxALL, 10);
  auto* text = new wxBoxSizer(wxVERTICAL);
  auto* heading = new wxStaticText(help, wxID_ANY, "Rule of zones");
  heading->SetFont(wxFont(12, wxFONTFAMILY_TELETYPE, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_BOLD,
                          false, "Courier New"));
  text->Add(heading, 0, wxBOTTOM, 8);
  const wxFont lineFont(9, wxFONTFAMILY_TELETYPE, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL, false,
                        "Courier New");
  for (const char* line : kRuleLines) {
    auto* label = new wxStaticText(help, wxID_ANY, line);
    label->SetFont(lineFont);
    text->Add(label, 0, wxBOTTOM, 2);
  }
  body->Add(text, 1, wxALL, 10);
  top->Add(body, 1, wxEXPAND);
  top->Add(new wxButton(help, wxID_OK, "OK"), 0, wxALIGN_CENTER | wxALL, 8);
  help->SetSizerAndFit(top);
  help->CentreOnParent();
  return help;
}

void ZoneEditorDialog::OnRules(wxCommandEvent&) {
  wxDialog* help = CreateRulesWindow();
  help->ShowModal();
  help->Destroy();
}

void ZoneEditorDialog::OnColour(wxCommandEvent& event) {
  Rgb current = canvas_->SensibleColour();
  if (event.GetId() == kIdMaskColour) current = canvas_->MaskColour();
  if (event.GetId() == kIdHighlightColour) current = canvas_->HighlightColour();
  wxColourData data;
  data.SetColour(ToColour(current));
  wxColourDialog chooser(this, &data);
  if (chooser.ShowModal() != wxID_OK) return;
  const wxColour chosen = chooser.GetColourData().GetColour();
  ApplyColour(event.GetId(), Rgb{chosen.Red(), chosen.Green(), chosen.Blue()});
}

void ZoneEditorDialog::ApplyColour(int buttonId, const Rgb& colour) {
  Rgb sensible = canvas_->SensibleColour();
  Rgb mask = canvas_->MaskColour();
  Rgb highlight = canvas_->HighlightColour();
  const char* key = nullptr;
  wxButton* button = nullptr;
  switch (buttonId) {
    case kIdSensibleColour:
      sensible = colour;
      key = "COLOR_SENSIBLE";
      button = sensibleButton_;
      break;
    case kIdMaskColour:
      mask = colour;
      key = "COLOR_MASK";
      button = maskButton_;
      break;
    case kIdHighlightColour:
      highlight = colour;
      key = "COLOR_HILIGHT";
      button = highlightButton_;
      break;
    default:
      return;
  }
  ShowColour(button, colour);
  canvas_->SetColours(sensible, mask, highlight);
  context_.Settings().Update([&](Settings& s) {
    s.colorSensible = sensible;
    s.colorMask = mask;
    s.colorHilight = highlight;
  });
  IniFile& ini = context_.SettingsFile();
  ini.SetTriple(keys::kMisc, key, colour.red, colour.green, colour.blue);
  ini.Save();
}

bool ZoneEditorDialog::ValidateZones(ZoneList& sensibleOut, ZoneList& maskOut) {
  ZoneRuleViolation violation;
  if (CheckZoneRules(canvas_->Zones(), sensibleOut, maskOut, violation)) return true;
  canvas_->SelectIndex(violation.zoneIndex);
  if (presentError_) presentError_(violation.message);
  return false;
}

bool ZoneEditorDialog::Apply() {
  ZoneList sensible, mask;
  if (!ValidateZones(sensible, mask)) return false;
  const int threshold = sensitivity_->GetValue();
  const int reference = reference_->GetSelection() == MotionDetector::kBackground
                            ? MotionDetector::kBackground
                            : MotionDetector::kPreviousCheck;
  if (detector_ != nullptr) {
    detector_->SetZones(sensible, mask);  // stops the detector
    detector_->SetZoneSize(pictureWidth_, pictureHeight_);
    detector_->SetThreshold(threshold);
    detector_->SetReference(reference);
  }
  IniFile& ini = context_.SettingsFile();
  ini.SetString(cameraName_, "SENSIBLE_ZONES", FormatZoneList(sensible));
  ini.SetString(cameraName_, "MASK_ZONES", FormatZoneList(mask));
  char size[32];
  std::snprintf(size, sizeof size, "%d,%d", pictureWidth_, pictureHeight_);
  ini.SetString(cameraName_, "ZONE_SIZE", size);
  ini.SetInt(cameraName_, "THRESHOLD", threshold);
  ini.SetInt(cameraName_, "REFERENCE", reference);
  ini.Save();
  return true;
}

void ZoneEditorDialog::OnOk(wxCommandEvent&) {
  if (Apply()) FinishDialog(this, wxID_OK);
}

void ZoneEditorDialog::OnCancel(wxCommandEvent&) { FinishDialog(this, wxID_CANCEL); }

}  // namespace qmr
