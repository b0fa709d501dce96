#include "scraper/progress_hint.h"

namespace orgkat {

std::string ProgressHintText(std::int32_t position, std::int32_t max) {
  // Widened: a position above the maximum must not overflow the difference.
  const auto rest = static_cast<std::int64_t>(max) - position;
  return std::to_string(position) + " из " + std::to_string(max) + ", осталось " +
         std::to_string(rest);
}

}  // namespace orgkat
