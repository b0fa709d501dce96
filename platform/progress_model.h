#pragma once

#include <cstdint>

namespace orgkat {

// The numbers of a progress bar with its minimum fixed at 0, clamped the same way in every front
// end: a maximum below 0 is raised to 0 and pulls the position down with it; a position is held
// inside 0..maximum.
class ProgressModel {
 public:
  void SetMax(std::int32_t max);
  void SetPosition(std::int32_t position);
  std::int32_t Max() const { return max_; }
  std::int32_t Position() const { return position_; }
  // Filled share in [0, 1]; 0 while the maximum is 0.
  double Fraction() const;

 private:
  std::int32_t max_ = 100;
  std::int32_t position_ = 0;
};

}  // namespace orgkat
