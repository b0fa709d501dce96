#pragma once

#include <string>

namespace orgkat {

// The directory that holds the running executable, ending in '/'.
std::string ProgramDirectory();

}  // namespace orgkat
