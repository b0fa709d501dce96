#include "platform/program_directory.h"

#include <filesystem>
#include <system_error>

namespace orgkat {

std::string ProgramDirectory() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::filesystem::current_path().string() + "/";
  return exe.parent_path().string() + "/";
}

}  // namespace orgkat
