#pragma once

#include <string>

namespace orgkat {

// A port that the system's resolver takes as it is: a number from 1 to 65535.
bool ValidPort(const std::string& port);

// Why a host cannot go into URLs and header lines ("is empty", ...), to follow the option or key
// that named it; empty when it can.
std::string HostProblem(const std::string& host);

}  // namespace orgkat
