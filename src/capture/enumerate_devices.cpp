#include "capture/enumerate_devices.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/process.h"
#include "config/ini_file.h"

namespace qmr {

namespace {

constexpr const char* kStreamsSection = "STREAMS";

// Characters that cannot appear in a section name or a file name.
std::string CleanName(std::string name) {
  static constexpr const char kReplaced[] = "/:\\|&~!@#$%^*+<>?\"';[]{}";
  for (char& c : name) {
    if (c != '\0' && std::strchr(kReplaced, c)) c = ' ';
  }
  return name;
}

bool NameTaken(const std::vector<std::unique_ptr<CameraEntry>>& cameras, const std::string& name) {
  return std::any_of(cameras.begin(), cameras.end(),
                     [&](const auto& e) { return e && e->name == name; });
}

int NodeNumber(const char* name) {
  // "video" followed by digits only.
  if (std::strncmp(name, "video", 5) != 0 || name[5] == '\0') return -1;
  for (const char* p = name + 5; *p; ++p) {
    if (*p < '0' || *p > '9') return -1;
  }
  return std::atoi(name + 5);
}

int Ioctl(V4l2Api& api, int fd, unsigned long request, void* arg) {
  int rc;
  do {
    rc = api.Ioctl(fd, request, arg);
  } while (rc == -1 && errno == EINTR);
  return rc;
}

}  // namespace

CameraEntry& AppendCameraEntry(std::vector<std::unique_ptr<CameraEntry>>& cameras,
                               const std::string& friendlyName, SourceKind kind,
                               const std::string& source) {
  // The count is taken over the names as listed, which have the special
  // characters blanked; searching for the blanked friendly name keeps two
  // devices called "Cam/1" apart as NO.1 and NO.2.
  const std::string cleaned = CleanName(friendlyName);
  int count = 0;
  for (const auto& e : cameras) {
    if (e && e->name.find(cleaned) != std::string::npos) ++count;
  }
  auto entry = std::make_unique<CameraEntry>();
  int number = count + 1;
  std::string name = cleaned + "   NO." + std::to_string(number);
  // A substring match can in rare cases miss an equal name; never list two
  // cameras under one name (it is their settings section and file name).
  while (NameTaken(cameras, name)) name = cleaned + "   NO." + std::to_string(++number);
  entry->name = name;
  entry->friendlyName = friendlyName;
  entry->kind = kind;
  entry->source = source;
  entry->sameNameIndex = count;
  const SystemTime now = GetLocalTime();
  CameraSchedule schedule;
  schedule.startHour = schedule.stopHour = now.hour;
  schedule.startMinute = schedule.stopMinute = now.minute;
  schedule.startSecond = schedule.stopSecond = now.second;
  entry->SetSchedule(schedule);
  cameras.push_back(std::move(entry));
  return *cameras.back();
}

std::vector<V4l2Node> ListV4l2CaptureNodes(const std::string& devFolder, V4l2Api& api) {
  std::vector<std::pair<int, std::string>> found;
  if (DIR* dir = opendir(devFolder.c_str())) {
    while (dirent* ent = readdir(dir)) {
      const int n = NodeNumber(ent->d_name);
      if (n >= 0) found.emplace_back(n, devFolder + "/" + ent->d_name);
    }
    closedir(dir);
  }
  std::sort(found.begin(), found.end());
  std::vector<V4l2Node> nodes;
  for (const auto& [number, path] : found) {
    const int fd = api.Open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    v4l2_capability cap{};
    const bool ok = Ioctl(api, fd, VIDIOC_QUERYCAP, &cap) == 0;
    api.Close(fd);
    if (!ok) continue;
    const std::uint32_t caps =
        (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    if (!(caps & V4L2_CAP_VIDEO_CAPTURE)) continue;
    const char* card = reinterpret_cast<const char*>(cap.card);
    std::string name(card, strnlen(card, sizeof(cap.card)));
    name = TrimSpaces(name);
    if (name.empty()) name = path;
    nodes.push_back({path, name});
  }
  return nodes;
}

bool EnumerateDevices(std::vector<std::unique_ptr<CameraEntry>>& cameras, const IniFile& settings,
                      const std::string& devFolder, V4l2Api& api) {
  const std::size_t before = cameras.size();
  for (const V4l2Node& node : ListV4l2CaptureNodes(devFolder, api)) {
    AppendCameraEntry(cameras, node.card, SourceKind::V4l2, node.path);
  }
  for (const std::string& key : settings.GetKeys(kStreamsSection)) {
    std::string value;
    settings.GetString(kStreamsSection, key, "", value);
    value = TrimSpaces(value);
    const std::string friendly = TrimSpaces(key);
    if (value.empty() || friendly.empty()) continue;
    const std::string lower = LowerAscii(value);
    SourceKind kind = SourceKind::Stream;
    if (lower == "pattern" || lower.rfind("pattern ", 0) == 0) {
      kind = SourceKind::Pattern;
    } else if (value.rfind("/dev/video", 0) == 0) {
      kind = SourceKind::V4l2;
    }
    AppendCameraEntry(cameras, friendly, kind, value);
  }
  return cameras.size() > before;
}

}  // namespace qmr
