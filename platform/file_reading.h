#pragma once

#include <optional>
#include <string>

namespace orgkat {

// The whole content of a file; nothing when the file (or a folder on its path) does not exist.
// Throws std::runtime_error with the system's error text when it exists but cannot be read (a
// folder, no permission, ...).
std::optional<std::string> ReadFileIfExists(const std::string& path);

}  // namespace orgkat
