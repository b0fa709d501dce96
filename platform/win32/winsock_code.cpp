#include <windows.h>

#include "platform/winsock_errors.h"

namespace orgkat {

namespace {

struct SystemCode {
  DWORD system_error;
  int code;
};

// Completion ports report some socket failures with these system codes instead of the Winsock
// ones that Windows Sockets calls return.
constexpr SystemCode kSystemCodes[] = {
    {ERROR_NETNAME_DELETED, 10054},     {ERROR_CONNECTION_REFUSED, 10061},
    {ERROR_PORT_UNREACHABLE, 10061},    {ERROR_SEM_TIMEOUT, 10060},
    {ERROR_NETWORK_UNREACHABLE, 10051}, {ERROR_HOST_UNREACHABLE, 10065},
    {ERROR_CONNECTION_ABORTED, 10053},  {ERROR_CONNECTION_INVALID, 10057},
};

}  // namespace

int WinsockCode(int system_error) {
  for (const auto& entry : kSystemCodes) {
    if (static_cast<int>(entry.system_error) == system_error) return entry.code;
  }
  return system_error;
}

}  // namespace orgkat
