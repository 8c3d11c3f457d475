#include "platform/internet_check.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace qmr {

namespace {

constexpr unsigned long kRouteUp = 0x0001;      // RTF_UP
constexpr unsigned long kRouteReject = 0x0200;  // RTF_REJECT
constexpr unsigned long kInterfaceUp = 0x1;     // IFF_UP

bool InterfaceUp(const std::string& netFolder, const std::string& name) {
  if (name.empty() || name == "lo" || name.find('/') != std::string::npos) return false;
  std::ifstream flags(netFolder + "/" + name + "/flags");
  std::string text;
  if (!(flags >> text)) return false;
  return (std::strtoul(text.c_str(), nullptr, 16) & kInterfaceUp) != 0;
}

// Iface Destination Gateway Flags RefCnt Use Metric Mask ... (hex fields).
bool Ipv4DefaultRoute(const InternetCheckPaths& paths) {
  std::ifstream file(paths.route);
  std::string line;
  if (!std::getline(file, line)) return false;  // header
  while (std::getline(file, line)) {
    std::istringstream fields(line);
    std::string iface, destination, gateway, flags, refCount, use, metric, mask;
    if (!(fields >> iface >> destination >> gateway >> flags >> refCount >> use >> metric >>
          mask)) {
      continue;
    }
    const unsigned long flagBits = std::strtoul(flags.c_str(), nullptr, 16);
    if (std::strtoul(destination.c_str(), nullptr, 16) != 0 ||
        std::strtoul(mask.c_str(), nullptr, 16) != 0) {
      continue;
    }
    if ((flagBits & kRouteUp) == 0 || (flagBits & kRouteReject) != 0) continue;
    if (InterfaceUp(paths.netFolder, iface)) return true;
  }
  return false;
}

// destination prefixLength source sourcePrefix nextHop metric refCount use
// flags iface (hex fields, no header).
bool Ipv6DefaultRoute(const InternetCheckPaths& paths) {
  std::ifstream file(paths.ipv6Route);
  std::string line;
  while (std::getline(file, line)) {
    std::istringstream fields(line);
    std::string destination, prefix, source, sourcePrefix, nextHop, metric, refCount, use, flags,
        iface;
    if (!(fields >> destination >> prefix >> source >> sourcePrefix >> nextHop >> metric >>
          refCount >> use >> flags >> iface)) {
      continue;
    }
    if (destination.find_first_not_of('0') != std::string::npos || prefix != "00") continue;
    const unsigned long flagBits = std::strtoul(flags.c_str(), nullptr, 16);
    if ((flagBits & kRouteUp) == 0 || (flagBits & kRouteReject) != 0) continue;
    if (InterfaceUp(paths.netFolder, iface)) return true;
  }
  return false;
}

}  // namespace

bool HasInternetConnection(const InternetCheckPaths& paths) {
  return Ipv4DefaultRoute(paths) || Ipv6DefaultRoute(paths);
}

}  // namespace qmr
