#pragma once

#include <string>

namespace orgkat {

// The Windows Sockets code that stands for a POSIX errno value; an errno without a counterpart
// is returned unchanged (and then reads as "Not a Winsocket error").
int WinsockCodeFromErrno(int errno_value);

// The description of a Windows Sockets code, "Not a Winsocket error" for a code outside the table.
std::string WinsockDescription(int code);

// "Winsock - <description> (Error #<code>)" for a POSIX errno value.
std::string WinsockErrorText(int errno_value);

}  // namespace orgkat
