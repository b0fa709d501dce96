#pragma once

#include <cstdint>

#include "platform/controls.h"

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

// A progress bar whose numbers a ProgressModel keeps; each front end draws them in Changed.
class ModelledProgressBar : public IProgressBar {
 public:
  void SetMax(std::int32_t max) override {
    model_.SetMax(max);
    Changed();
  }
  void SetPosition(std::int32_t position) override {
    model_.SetPosition(position);
    Changed();
  }
  std::int32_t Max() const override { return model_.Max(); }
  std::int32_t Position() const override { return model_.Position(); }
  double Fraction() const { return model_.Fraction(); }

 protected:
  // The maximum or the position has changed.
  virtual void Changed() = 0;

 private:
  ProgressModel model_;
};

}  // namespace orgkat
