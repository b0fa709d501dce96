#include <windows.h>

#include "platform/tick_count.h"

namespace orgkat {

std::uint32_t SystemTickCounter::Now() {
  return GetTickCount();
}

}  // namespace orgkat
