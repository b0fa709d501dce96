#pragma once

#include <string>
#include <string_view>

namespace orgkat {

// The text with each byte that `escape` picks written as '%' and two upper-case hexadecimal
// digits; the other bytes stay as they are. Each caller picks its own set: what a request target
// must not carry differs from what a journal field must not.
std::string PercentEncode(std::string_view text, bool (*escape)(unsigned char byte));

}  // namespace orgkat
