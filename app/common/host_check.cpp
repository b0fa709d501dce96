#include "app/common/host_check.h"

#include <algorithm>

#include "platform/url_target.h"

namespace orgkat {

// The system's resolver takes any number as a port and wraps it into 16 bits, so 99999 would
// silently become another port.
bool ValidPort(const std::string& port) {
  const auto number = PortNumber(port);
  return number && *number >= 1;
}

// A host must be one word without a path, and a port after its first ':' must be usable.
std::string HostProblem(const std::string& host) {
  if (host.empty()) return "is empty";
  const bool bad = std::any_of(host.begin(), host.end(),
                               [](unsigned char c) { return c <= 0x20 || c == 0x7f || c == '/'; });
  if (bad) return "must not contain spaces, control characters or '/'";
  if (const auto colon = host.find(':'); colon != std::string::npos) {
    if (colon == 0) return "'" + host + "' names no host before ':'";
    const auto port = host.substr(colon + 1);
    if (!ValidPort(port)) return "'" + host + "': the port must be a number from 1 to 65535";
  }
  return {};
}

}  // namespace orgkat
