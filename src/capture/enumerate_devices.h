// The camera list at start-up: the local V4L2 capture devices in node-number
// order, then the cameras listed in the settings section STREAMS in file
// order (key = the camera's name, value = a path or URL, or "pattern" with
// optional parameters such as "pattern 640x480@15 motion=4 still=6").
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "capture/camera_entry.h"
#include "capture/v4l2_api.h"

namespace qmr {

class IniFile;

// Appends one entry per camera found; false when none was found at all.
// The local devices are the video nodes of devFolder, asked through api.
bool EnumerateDevices(std::vector<std::unique_ptr<CameraEntry>>& cameras, const IniFile& settings,
                      const std::string& devFolder = "/dev", V4l2Api& api = KernelV4l2Api());

// The naming rule: "%s   NO.%d" from the friendly name and (the number of
// entries already listed whose name contains it) + 1, with each of the 24
// characters / : \ | & ~ ! @ # $ % ^ * + < > ? " ' ; [ ] { } made a blank.
// Appends the entry (schedule times set to now) and returns it.
CameraEntry& AppendCameraEntry(std::vector<std::unique_ptr<CameraEntry>>& cameras,
                               const std::string& friendlyName, SourceKind kind,
                               const std::string& source);

// The V4L2 capture nodes (/dev/videoN with video capture in their device
// caps) in node-number order, with their card names.
struct V4l2Node {
  std::string path;
  std::string card;
};
std::vector<V4l2Node> ListV4l2CaptureNodes(const std::string& devFolder = "/dev",
                                           V4l2Api& api = KernelV4l2Api());

}  // namespace qmr
