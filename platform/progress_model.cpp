#include "platform/progress_model.h"

namespace orgkat {

void ProgressModel::SetMax(std::int32_t max) {
  max_ = max < 0 ? 0 : max;
  if (position_ > max_) position_ = max_;
}

void ProgressModel::SetPosition(std::int32_t position) {
  if (position < 0) position = 0;
  position_ = position > max_ ? max_ : position;
}

double ProgressModel::Fraction() const {
  return max_ == 0 ? 0.0 : static_cast<double>(position_) / static_cast<double>(max_);
}

}  // namespace orgkat
