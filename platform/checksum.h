#pragma once

#include <cstdint>
#include <string_view>

namespace orgkat {

// The CRC-32 (the common polynomial 0x04C11DB7, reflected) of the bytes.
std::uint32_t Crc32(std::string_view bytes);

}  // namespace orgkat
