#pragma once

#include <string>

namespace orgkat {

// The directory that holds the running executable, ending in the path separator.
std::string ProgramDirectory();

}  // namespace orgkat
