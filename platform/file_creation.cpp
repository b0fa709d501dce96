#include "platform/file_creation.h"

#include <stdexcept>
#include <utility>

namespace orgkat {

namespace {

// Far more names than any real directory holds; a bound keeps a pathological one from spinning.
constexpr int kMaxAttempts = 100000;

std::string NumberedPath(const std::string& dir, const std::string& prefix, std::int32_t number,
                         const std::string& suffix) {
  return dir + prefix + std::to_string(number) + suffix;
}

[[noreturn]] void ThrowCreateError(const std::string& path, const std::string& error_text) {
  throw std::runtime_error("Cannot create file \"" + path + "\". " + error_text);
}

}  // namespace

OutputFile::OutputFile(OutputFile&& other) noexcept
    : native_(std::exchange(other.native_, -1)), path_(std::move(other.path_)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    Close();
    native_ = std::exchange(other.native_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

OutputFile CreateNumberedFile(const std::string& dir, const std::string& prefix,
                              std::int32_t number, const std::string& suffix) {
  const std::string first = NumberedPath(dir, prefix, number, suffix);
  std::string taken_text;
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    const std::string path = NumberedPath(dir, prefix, number, suffix);
    NewFileAttempt created = CreateNewFile(path);
    if (created.file.IsOpen()) return std::move(created.file);
    if (!created.name_taken) ThrowCreateError(path, created.error_text);
    taken_text = std::move(created.error_text);
    // Stepping past the largest value wraps like the 32-bit counter it comes from.
    number = static_cast<std::int32_t>(static_cast<std::uint32_t>(number) + 1u);
  }
  ThrowCreateError(first, taken_text);
}

}  // namespace orgkat
