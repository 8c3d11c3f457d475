// "Is there an internet connection?": a default route (IPv4 or IPv6) on an
// interface that is up. The kernel tables are read from files so that tests
// can point at fixtures.
#pragma once

#include <string>

namespace qmr {

struct InternetCheckPaths {
  std::string route = "/proc/net/route";
  std::string ipv6Route = "/proc/net/ipv6_route";
  std::string netFolder = "/sys/class/net";  // <netFolder>/<iface>/flags
};

bool HasInternetConnection(const InternetCheckPaths& paths = InternetCheckPaths());

}  // namespace qmr
