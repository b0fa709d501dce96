#pragma once

#include <string>

namespace orgkat {

// The system's own text for a Win32 error code (GetLastError), without the line break it ends in.
std::string SystemErrorText(unsigned long code);

}  // namespace orgkat
