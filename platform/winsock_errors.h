#pragma once

#include <string>

namespace orgkat {

// The Windows Sockets code of a socket error as the system reports it: on Windows the code itself
// (with the few system codes the socket layer passes on mapped to their Winsock twins), elsewhere
// the counterpart of the errno value. An error without a counterpart is returned unchanged (and
// then reads as "Not a Winsocket error").
int WinsockCode(int system_error);

// The description of a Windows Sockets code, "Not a Winsocket error" for a code outside the table.
std::string WinsockDescription(int code);

// "Winsock - <description> (Error #<code>)" for a socket error as the system reports it.
std::string WinsockErrorText(int system_error);

}  // namespace orgkat
