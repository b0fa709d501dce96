#include "platform/checksum.h"

#include <boost/crc.hpp>

namespace orgkat {

std::uint32_t Crc32(std::string_view bytes) {
  boost::crc_32_type crc;
  crc.process_bytes(bytes.data(), bytes.size());
  return crc.checksum();
}

}  // namespace orgkat
