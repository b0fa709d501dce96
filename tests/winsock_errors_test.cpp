#include "platform/winsock_errors.h"

#include <algorithm>
#include <cctype>
#include <cerrno>

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#include <winsock2.h>
#endif

namespace orgkat {
namespace {

#ifdef _WIN32
TEST(WinsockErrorsTest, SocketErrorsOfTheSystemReadAsTheirWindowsSocketsTexts) {
  struct Case {
    int system_error;
    const char* text;
  };
  const Case cases[] = {
      {WSAECONNREFUSED, "Winsock - Connection refused (Error #10061)"},
      {WSAETIMEDOUT, "Winsock - Connection timed out (Error #10060)"},
      {WSAECONNRESET, "Winsock - Connection reset by peer (Error #10054)"},
      {WSAENOTSOCK, "Winsock - Socket operation on non-socket (Error #10038)"},
      {WSAHOST_NOT_FOUND, "Winsock - Host not found (Error #11001)"},
      // What completion ports report instead of the Winsock codes.
      {ERROR_CONNECTION_REFUSED, "Winsock - Connection refused (Error #10061)"},
      {ERROR_NETNAME_DELETED, "Winsock - Connection reset by peer (Error #10054)"},
      {ERROR_SEM_TIMEOUT, "Winsock - Connection timed out (Error #10060)"},
      {ERROR_HOST_UNREACHABLE, "Winsock - No route to host (Error #10065)"},
      {ERROR_FILE_NOT_FOUND, "Winsock - Not a Winsocket error (Error #2)"},
  };
  for (const auto& c : cases) EXPECT_EQ(WinsockErrorText(c.system_error), c.text);
}
#else
TEST(WinsockErrorsTest, ConnectionFailuresReadAsWindowsSocketsTexts) {
  EXPECT_EQ(WinsockErrorText(ECONNREFUSED), "Winsock - Connection refused (Error #10061)");
  EXPECT_EQ(WinsockErrorText(ETIMEDOUT), "Winsock - Connection timed out (Error #10060)");
  EXPECT_EQ(WinsockErrorText(ECONNRESET), "Winsock - Connection reset by peer (Error #10054)");
  EXPECT_EQ(WinsockErrorText(ENETUNREACH), "Winsock - Network is unreachable (Error #10051)");
  EXPECT_EQ(WinsockErrorText(EHOSTUNREACH), "Winsock - No route to host (Error #10065)");
  EXPECT_EQ(WinsockErrorText(ENOTCONN), "Winsock - Socket is not connected (Error #10057)");
  EXPECT_EQ(WinsockErrorText(ENOENT), "Winsock - Not a Winsocket error (Error #2)");
}
#endif

// Retry decisions look for "socket" and "#10061": exactly the socket-layer codes may carry the
// first, and only a refused connection the second.
TEST(WinsockErrorsTest, OnlySocketLayerDescriptionsMentionSockets) {
  const int socket_layer[] = {10038, 10041, 10044, 10045, 10056, 10057, 10058};
  for (int code = 0; code <= 11004; ++code) {
    const std::string text = WinsockDescription(code);
    if (text == "Not a Winsocket error") continue;
    const bool expected =
        std::find(std::begin(socket_layer), std::end(socket_layer), code) != std::end(socket_layer);
    std::string lower = text;
    for (auto& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_EQ(lower.find("socket") != std::string::npos, expected) << code << " " << text;
  }
}

}  // namespace
}  // namespace orgkat
