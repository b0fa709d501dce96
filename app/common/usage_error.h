#pragma once

#include <stdexcept>

namespace orgkat {

// A start-up error: printed on standard error after the program's name, exit status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace orgkat
