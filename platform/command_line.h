#pragma once

#include <string>
#include <vector>

namespace orgkat {

// The program's arguments after its name, in UTF-8. Windows hands main() its arguments in the
// ANSI code page, so there they are read again from the UTF-16 command line.
std::vector<std::string> ProgramArguments(int argc, char** argv);

}  // namespace orgkat
