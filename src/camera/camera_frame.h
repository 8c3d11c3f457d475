// The window of one opened camera: a pane of the main frame that shows the
// live picture, owns the camera's capture device and motion detector, applies
// the camera's stored settings when it starts, and offers the camera's
// commands (record, snapshot, detect, zones, schedule, video format and
// properties, capture mode) in its pop-up menu. Its caption says when it
// records and its icon when it detects.
#pragma once

#include <wx/panel.h>

#include <memory>
#include <string>

namespace qmr {

class AppContext;
class CameraEntry;
class CameraHost;
class CaptureDevice;
class MotionDetector;
class PreviewPane;
class VideoFrame;

class CameraFrame : public wxPanel {
 public:
  // Command identifiers shared with the main frame's menus and toolbar.
  static constexpr int kIdRecord = 6104;
  static constexpr int kIdSnapshot = 6105;
  static constexpr int kIdDetect = 6106;
  static constexpr int kIdZones = 6107;
  static constexpr int kIdSchedule = 6108;
  static constexpr int kIdVideoProperty = 6119;
  static constexpr int kIdCaptureMode = 6120;
  static constexpr int kIdHighSpeed = 6121;
  static constexpr int kIdLeisurely = 6122;
  static constexpr int kIdVideoFormat = 6123;
  static constexpr int kIdShowZones = 6130;
  // How long the snapshot and zone commands wait for a frame.
  static constexpr int kFrameWaitMs = 2000;

  // Creates the window as a child of the host's window and registers it as
  // a pane titled with the camera's name.
  CameraFrame(CameraHost& host, CameraEntry& entry);
  // Stops detection, destroys the capture device (ending capture and any
  // recording), frees the camera list entry and leaves the host.
  ~CameraFrame() override;

  // Takes an opened device, applies the camera's stored settings and starts
  // capture. False when the device does not start (the window stays, empty).
  // The user-interface thread only, like SetRecord and SetDetect.
  bool Start(std::unique_ptr<CaptureDevice> device);
  // Starts or stops the manual recording. Failures go to the user as error
  // boxes when interactive, else to the log file.
  bool SetRecord(bool on, bool interactive);
  bool SetDetect(bool on);

  bool IsRecording() const;
  bool IsDetecting() const;
  CameraEntry& Entry() { return entry_; }
  CameraHost& Host() { return host_; }
  AppContext& Context();
  CaptureDevice* Device() { return device_.get(); }
  MotionDetector* Detector() { return detector_.get(); }
  PreviewPane* Preview() { return preview_; }
  const wxString& Title() const { return title_; }
  bool ShowsDetectIcon() const { return detectIcon_; }

  // The pop-up menu with its check and radio states as they are now.
  std::unique_ptr<wxMenu> BuildPopupMenu();
  // The record and detect commands as the menu and toolbar run them.
  void ToggleRecord();
  void ToggleDetect();
  // Asks the device for its next frame (at most kFrameWaitMs); false when
  // none came.
  bool GrabFrame(VideoFrame& frame);
  // Puts the caption in line with the device (a format change that restarts
  // the device ends its recording).
  void SyncTitle();
  // Marks the pane caption during a motion period (" ● motion" after the
  // title); the user-interface thread only.
  void SetMotionMark(bool on);
  bool MotionMark() const { return motionMark_; }
  static wxString MotionMarkText();
  // "Show zones": the detector's zones outlined over the live picture.
  void SetShowZones(bool on);
  bool ShowsZones() const { return showZones_; }

 private:
  void OnCommand(wxCommandEvent& event);
  void OnUpdateUi(wxUpdateUIEvent& event);
  void OnRightDown(wxMouseEvent& event);
  void OnLeftDown(wxMouseEvent& event);
  void ApplyStoredSettings();
  void Snapshot();
  void EditZones();
  void SetTitleText(const wxString& title);
  void ShowDetectIcon(bool detecting);
  // A failure message: an error box when interactive, a log entry otherwise.
  void Report(const std::string& text, bool interactive);

  CameraHost& host_;
  CameraEntry& entry_;
  std::unique_ptr<CaptureDevice> device_;
  std::unique_ptr<MotionDetector> detector_;
  PreviewPane* preview_ = nullptr;
  wxString title_;
  bool detectIcon_ = false;
  bool motionMark_ = false;
  bool showZones_ = false;
  // Where the device's own recording errors go during the current SetRecord.
  bool interactiveRecord_ = true;
};

}  // namespace qmr
