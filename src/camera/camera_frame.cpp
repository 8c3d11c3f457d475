#include "camera/camera_frame.h"

#include <wx/image.h>
#include <wx/menu.h>
#include <wx/sizer.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "base/app_context.h"
#include "app/main_menu.h"
#include "app/resource_images.h"
#include "base/process.h"
#include "camera/camera_host.h"
#include "camera/preview_pane.h"
#include "capture/camera_entry.h"
#include "capture/capture_device.h"
#include "capture/video_capability.h"
#include "capture/video_frame.h"
#include "config/ini_file.h"
#include "config/settings.h"
#include "base/log_file.h"
#include "dialogs/schedule_dialog.h"
#include "dialogs/snapshot_viewer.h"
#include "dialogs/video_format_dialog.h"
#include "dialogs/video_property_dialog.h"
#include "dialogs/zone_editor_dialog.h"
#include "motion/motion_actions.h"
#include "motion/motion_detector.h"

namespace qmr {

namespace {

wxBitmap Artwork(const char* name, int size) {
  wxBitmap bitmap = LoadResourceBitmap(name);
  if (!bitmap.IsOk()) return wxBitmap();
  if (bitmap.GetWidth() != size || bitmap.GetHeight() != size) {
    bitmap = wxBitmap(bitmap.ConvertToImage().Rescale(size, size, wxIMAGE_QUALITY_HIGH));
  }
  return bitmap;
}

// The pane caption has room for a small icon only.
constexpr int kPaneIconSize = 16;
constexpr int kMenuImageSize = 16;

}  // namespace

CameraFrame::CameraFrame(CameraHost& host, CameraEntry& entry)
    : wxPanel(host.HostWindow(), wxID_ANY, wxDefaultPosition, wxSize(352, 288),
              wxTAB_TRAVERSAL | wxNO_BORDER),
      host_(host),
      entry_(entry),
      title_(wxString::FromUTF8(entry.name)) {
  preview_ = new PreviewPane(this);
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(preview_, 1, wxEXPAND);
  SetSizer(sizer);

  preview_->Bind(wxEVT_RIGHT_DOWN, &CameraFrame::OnRightDown, this);
  preview_->Bind(wxEVT_LEFT_DOWN, &CameraFrame::OnLeftDown, this);
  Bind(wxEVT_RIGHT_DOWN, &CameraFrame::OnRightDown, this);
  Bind(wxEVT_MENU, &CameraFrame::OnCommand, this, kIdRecord, kIdSchedule);
  Bind(wxEVT_MENU, &CameraFrame::OnCommand, this, kIdVideoProperty, kIdVideoFormat);
  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { SetShowZones(!showZones_); }, kIdShowZones);
  Bind(wxEVT_UPDATE_UI, &CameraFrame::OnUpdateUi, this, kIdRecord);
  Bind(wxEVT_UPDATE_UI, &CameraFrame::OnUpdateUi, this, kIdDetect);

  host_.AddCameraWindow(this, title_);
  ShowDetectIcon(false);
}

CameraFrame::~CameraFrame() {
  // No frame thread may call into the pane from here on.
  preview_->Detach();
  if (detector_) detector_->SetRunning(false);
  if (device_) {
    device_->SetMotionDetector(nullptr);
    device_.reset();
  }
  detector_.reset();
  entry_.inUse = false;
  host_.RemoveCameraWindow(this);
}

AppContext& CameraFrame::Context() { return host_.Context(); }

bool CameraFrame::IsRecording() const { return device_ && device_->IsRecording(); }

bool CameraFrame::IsDetecting() const { return device_ && device_->IsDetecting(); }

bool CameraFrame::Start(std::unique_ptr<CaptureDevice> device) {
  if (!device) return false;
  if (device_) {
    // A second start replaces the device; the detector follows it.
    preview_->Detach();
    if (detector_) detector_->SetRunning(false);
    device_->SetMotionDetector(nullptr);
    device_.reset();
    SyncTitle();
    ShowDetectIcon(false);
  }
  device_ = std::move(device);
  preview_->Attach(*device_);
  device_->SetErrorReporter([this](const std::string& text) {
    // Called on the user-interface thread from Record.
    Report(text, interactiveRecord_);
  });

  if (!detector_) {
    detector_ = std::make_unique<CameraMotionDetector>(Context(), entry_, *device_);
  }
  detector_->SetDevice(device_.get());
  device_->SetMotionDetector(detector_.get());

  if (Context().SettingsFile().GetKeyCount(entry_.name) > 0) {
    ApplyStoredSettings();
  } else {
    detector_->LoadZoneSettings(Context().SettingsFile());  // a new camera's defaults
  }

  if (!device_->Start()) return false;
  entry_.inUse = true;
  if (Context().Settings().Get().detect) SetDetect(true);
  return true;
}

void CameraFrame::ApplyStoredSettings() {
  const IniFile& ini = Context().SettingsFile();
  const std::string& section = entry_.name;

  for (int i = 0; i < kVideoPropertyCount; ++i) {
    int value = -1;
    if (ini.GetInt(section, VideoPropertyDialog::SettingsKey(i), -1, value) && value != -1) {
      device_->SetProperty(i, value, 0);
    }
  }

  int width = 320, height = 240, rate = 8;
  ini.GetInt(section, "IMAGE_WIDTH", 320, width);
  ini.GetInt(section, "IMAGE_HEIGHT", 240, height);
  ini.GetInt(section, "FRAME_RATE", 8, rate);
  BitmapInfoHeader header;
  int currentRate = 0;
  if (device_->GetFormat(header, currentRate)) {
    header.width = width;
    header.height = height;
    header.sizeImage = static_cast<std::uint32_t>(width) * static_cast<std::uint32_t>(height) * 3;
    device_->SetFormat(&header, rate);
  }

  int showStamp = 1;
  ini.GetInt(section, "PREVIEW_TIME", 1, showStamp);
  device_->Preview().SetShowTimeStamp(FlagOn(showStamp));
  Rgb colour{255, 0, 0};
  ini.GetTriple(section, "TIME_COLOR", 255, 0, 0, colour.red, colour.green, colour.blue);
  device_->Preview().SetTextColour(colour);

  // The stored zones replace whatever an earlier start loaded (the zone
  // lists are appended to when read).
  detector_->ClearZones();
  detector_->LoadZoneSettings(ini);
}

void CameraFrame::Report(const std::string& text, bool interactive) {
  if (interactive) {
    Context().ShowError(text);
  } else {
    LogFile::Write(text);
  }
}

bool CameraFrame::SetRecord(bool on, bool interactive) {
  if (!on) {
    if (device_ && device_->IsRecording() && device_->Record(false, std::string(), 0, 0)) {
      SetTitleText(wxString::FromUTF8(entry_.name));
    }
    return true;
  }

  const Settings settings = Context().Settings().Get();
  if (settings.fccHandler == 0) {
    Report("In order to save AVI file, please choose a compress codec first!", interactive);
    return false;
  }
  std::string folder = settings.aviDir;
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error) && !CreateFolderPath(folder)) {
    Report("The directory " + folder + " for saving AVI files can not be created", interactive);
    return false;
  }
  if (!folder.empty() && folder.back() == kPathSeparator) folder.pop_back();

  const SystemTime now = GetLocalTime();
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, " %04d-%02d-%02d-%02d-%02d-%02d", now.year, now.month, now.day,
                now.hour, now.minute, now.second);
  const std::string base = folder + kPathSeparator + entry_.name + stamp;
  std::string fileName = base + ".avi";
  // Two recordings started within the same second would share the name; the
  // later one gets a number instead of wiping out the earlier file.
  for (int n = 2; std::filesystem::exists(fileName, error) && n < 100; ++n) {
    fileName = base + " (" + std::to_string(n) + ").avi";
  }

  // Try the name before the compressor is set up.
  if (std::FILE* probe = std::fopen(fileName.c_str(), "wb")) {
    std::fclose(probe);
    std::remove(fileName.c_str());
  } else {
    const int code = errno;
    Report("Failed to create AVI file " + fileName + ", error: " + std::strerror(code),
           interactive);
    return false;
  }

  interactiveRecord_ = interactive;
  // A camera that does not run delivers no frames: no empty movie for it.
  const bool started = device_ && device_->IsRunning() &&
                       device_->Record(true, fileName, settings.fccHandler, settings.quality);
  interactiveRecord_ = true;
  if (!started) {
    Report("Failed to initialize compressor", interactive);
    return false;
  }
  SetTitleText(wxString::FromUTF8(entry_.name) + ", recording...");
  return true;
}

bool CameraFrame::SetDetect(bool on) {
  if (on) {
    if (IsDetecting()) return true;
    if (!detector_ || !detector_->SetRunning(true)) return false;
    ShowDetectIcon(true);
    return true;
  }
  if (IsDetecting()) {
    if (!detector_->SetRunning(false)) return false;
    ShowDetectIcon(false);
  }
  return true;
}

void CameraFrame::ToggleRecord() { SetRecord(!IsRecording(), true); }

void CameraFrame::ToggleDetect() {
  if (detector_ && detector_->IsRunning()) {
    SetDetect(false);
    return;
  }
  const Settings settings = Context().Settings().Get();
  if ((settings.savAvi || settings.ftpAvi || settings.mailAvi) && settings.fccHandler == 0) {
    Context().ShowError(
        "In order to save AVI file when motion is detected, \nplease choose a codec first!");
    return;
  }
  SetDetect(true);
}

bool CameraFrame::GrabFrame(VideoFrame& frame) {
  return device_ && device_->RequestFrame(frame, kFrameWaitMs) && !frame.Empty();
}

void CameraFrame::Snapshot() {
  VideoFrame frame;
  if (!GrabFrame(frame)) return;
  std::vector<std::uint8_t> rgb;
  if (!frame.ToImage(rgb)) return;
  wxImage image(frame.Width(), frame.Height());
  std::memcpy(image.GetData(), rgb.data(), rgb.size());
  SnapshotViewer viewer(host_.HostWindow(), Context(), image, frame.captureTime);
  viewer.ShowModal();
}

void CameraFrame::EditZones() {
  VideoFrame frame;
  if (!GrabFrame(frame)) return;
  std::vector<std::uint8_t> rgb;
  if (!frame.ToImage(rgb)) return;
  ZoneEditorDialog dialog(this, Context(), entry_.name, rgb.data(), frame.Width(), frame.Height(),
                          detector_.get());
  dialog.ShowModal();
  // New zones stop the detector; the icon must not claim it still runs.
  if (detectIcon_ && !IsDetecting()) ShowDetectIcon(false);
  if (showZones_) SetShowZones(true);  // the outlines follow the new zones
}

void CameraFrame::SetShowZones(bool on) {
  showZones_ = on;
  if (preview_ == nullptr) return;
  std::vector<PreviewPane::Outline> outlines;
  int width = 0, height = 0;
  if (on && detector_) {
    ZoneList sensible, mask;
    detector_->GetZones(sensible, mask);
    width = detector_->ZoneWidth();
    height = detector_->ZoneHeight();
    for (const ZoneList* list : {&sensible, &mask}) {
      for (const auto& zone : *list) {
        outlines.push_back({zone->left, zone->top, zone->right, zone->bottom, zone->IsMask()});
      }
    }
  }
  preview_->SetOutlines(std::move(outlines), width, height);
}

void CameraFrame::OnCommand(wxCommandEvent& event) {
  switch (event.GetId()) {
    case kIdRecord:
      ToggleRecord();
      break;
    case kIdSnapshot:
      Snapshot();
      break;
    case kIdDetect:
      ToggleDetect();
      break;
    case kIdZones:
      EditZones();
      break;
    case kIdSchedule: {
      ScheduleDialog dialog(this, Context(), entry_);
      dialog.ShowModal();
      break;
    }
    case kIdVideoProperty:
      if (device_) {
        VideoPropertyDialog dialog(*this);
        dialog.ShowModal();
      }
      break;
    case kIdVideoFormat:
      if (device_) {
        VideoFormatDialog dialog(*this);
        dialog.ShowModal();
      }
      break;
    case kIdHighSpeed:
      if (device_) device_->highSpeed = true;
      break;
    case kIdLeisurely:
      if (device_) device_->highSpeed = false;
      break;
    default:
      event.Skip();
  }
}

void CameraFrame::OnUpdateUi(wxUpdateUIEvent& event) {
  if (event.GetId() == kIdRecord) {
    event.Check(IsRecording());
    // A recording the device ended by itself (a full disk) no longer shows
    // in the title.
    if (!IsRecording() && title_.EndsWith(", recording...")) SyncTitle();
  }
  if (event.GetId() == kIdDetect) event.Check(IsDetecting());
}

std::unique_ptr<wxMenu> CameraFrame::BuildPopupMenu() {
  auto menu = std::make_unique<wxMenu>();
  auto* mode = new wxMenu;
  mode->AppendRadioItem(kIdLeisurely, "Leisurely");
  mode->AppendRadioItem(kIdHighSpeed, "High speed");
  const bool highSpeed = device_ && device_->highSpeed.load();
  mode->Check(highSpeed ? kIdHighSpeed : kIdLeisurely, true);
  menu->Append(kIdCaptureMode, "Video capture mode", mode);
  menu->AppendSeparator();
  menu->Append(kIdVideoProperty, "Video &property..");
  menu->Append(kIdVideoFormat, "Video &format..");
  menu->AppendSeparator();
  menu->AppendCheckItem(kIdRecord, "&Record now!");
  auto addImageItem = [&](int id, const char* text, const char* image) {
    auto* item = new wxMenuItem(menu.get(), id, text);
    const wxBitmap bitmap = Artwork(image, kMenuImageSize);
    if (bitmap.IsOk()) item->SetBitmap(bitmap);
    menu->Append(item);
  };
  addImageItem(kIdSchedule, "Record &schedule..", "menu_schedule");
  menu->AppendSeparator();
  addImageItem(kIdZones, "Set motion sensible &zones..", "menu_zones");
  menu->AppendCheckItem(kIdShowZones, "Show zo&nes");
  menu->Check(kIdShowZones, showZones_);
  menu->AppendCheckItem(kIdDetect, "&Detect motion now!");
  menu->AppendSeparator();
  addImageItem(kIdSnapshot, "Snaps&hot..", "menu_snapshot");
  menu->Check(kIdRecord, IsRecording());
  menu->Check(kIdDetect, IsDetecting());
  // GTK hides menu images unless told otherwise.
  ShowMenuImages(menu.get());
  return menu;
}

void CameraFrame::OnRightDown(wxMouseEvent& event) {
  host_.CameraActivated(this);
  std::unique_ptr<wxMenu> menu = BuildPopupMenu();
  wxPoint at = event.GetPosition();
  if (event.GetEventObject() == preview_) at = preview_->GetPosition() + at;
  PopupMenu(menu.get(), at);
}

void CameraFrame::OnLeftDown(wxMouseEvent& event) {
  host_.CameraActivated(this);
  event.Skip();
}

void CameraFrame::SyncTitle() {
  if (!IsRecording()) SetTitleText(wxString::FromUTF8(entry_.name));
}

void CameraFrame::SetTitleText(const wxString& title) {
  title_ = title;
  host_.SetPaneTitle(this, motionMark_ ? title_ + MotionMarkText() : title_);
}

wxString CameraFrame::MotionMarkText() { return wxString::FromUTF8("  \u25cf motion"); }

void CameraFrame::SetMotionMark(bool on) {
  if (on == motionMark_) return;
  motionMark_ = on;
  SetTitleText(title_);
}

void CameraFrame::ShowDetectIcon(bool detecting) {
  detectIcon_ = detecting;
  const wxBitmap icon = Artwork(detecting ? "icon_detect" : "icon_main_16", kPaneIconSize);
  if (icon.IsOk()) host_.SetPaneIcon(this, icon);
}

}  // namespace qmr
