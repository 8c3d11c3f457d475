// Command identifiers shared by the menus, the toolbar, the camera window's
// pop-up menu and the main frame's internal events.
#pragma once

namespace qmr {

enum CommandId : int {
  kIdQuit = 6100,
  kIdNewCamera = 6101,
  kIdPlayback = 6102,
  kIdStopAlarm = 6103,
  kIdRecord = 6104,
  kIdSnapshot = 6105,
  kIdDetect = 6106,
  kIdSensibleZones = 6107,
  kIdSchedule = 6108,
  kIdFolderSettings = 6109,
  kIdCompressorSettings = 6110,
  kIdMotionTriggerSettings = 6111,
  kIdStartupSettings = 6112,
  kIdAccountSettings = 6113,
  kIdAbout = 6114,
  kIdHelp = 6115,
  kIdVideoProperty = 6119,
  kIdCaptureModeMenu = 6120,
  kIdHighSpeed = 6121,
  kIdLeisurely = 6122,
  kIdVideoFormat = 6123,
  kIdShowMessageBox = 6124,
  kIdCameraManager = 6125,
};

}  // namespace qmr
