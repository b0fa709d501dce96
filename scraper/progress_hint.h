#pragma once

#include <cstdint>
#include <string>

namespace orgkat {

// The progress bar's hover text "%d из %d, осталось %d": position, maximum, and what remains.
std::string ProgressHintText(std::int32_t position, std::int32_t max);

}  // namespace orgkat
