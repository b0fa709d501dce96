#include "platform/file_creation.h"

#include <utility>

namespace orgkat {

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

}  // namespace orgkat
