// The progress gauge's state, without any drawing: a minimum of 0, a maximum and a position.
// The window draws it; the run core and the headless runner keep one each.
#pragma once

#include <cstdint>

namespace importacao {

class GaugeModel {
 public:
  static constexpr int kInitialMaximum = 100;

  GaugeModel() = default;
  GaugeModel(const GaugeModel&) = default;
  GaugeModel& operator=(const GaugeModel&) = default;

  int minimum() const noexcept { return 0; }
  int maximum() const noexcept { return maximum_; }
  int position() const noexcept { return position_; }

  // Sets the maximum. A value below 0 or above 2147483647 is refused with DataError
  // "Value must be between 1 and 2147483647" and changes nothing (a record count of -1 lands
  // here). 0 is accepted. Lowering the maximum below the position lowers the position with it.
  void setMaximum(std::int64_t maximum);

  // Sets the position; a value outside 0..maximum is taken as the nearer bound. Never throws.
  void setPosition(std::int64_t position) noexcept;

  // The whole percentage shown on the bar, rounded down; 0 when the maximum is 0.
  int percent() const noexcept;

  // How much of a bar `width` pixels wide is filled (position over maximum, rounded down); 0 when
  // the maximum is 0 or the width is not positive.
  int filledWidth(int width) const noexcept;

 private:
  int maximum_ = kInitialMaximum;
  int position_ = 0;
};

}  // namespace importacao
