#include "app/run/gauge.h"

#include <limits>

#include "data/errors.h"

namespace importacao {

void GaugeModel::setMaximum(std::int64_t maximum) {
  // The message is the window framework's range check, filled as it always is for a gauge
  // maximum; 0 passes, so an empty table shows an empty bar.
  if (maximum < 0 || maximum > std::numeric_limits<int>::max())
    throw DataError("Value must be between 1 and 2147483647");
  maximum_ = static_cast<int>(maximum);
  if (position_ > maximum_) position_ = maximum_;
}

void GaugeModel::setPosition(std::int64_t position) noexcept {
  if (position < 0) position = 0;
  if (position > maximum_) position = maximum_;
  position_ = static_cast<int>(position);
}

int GaugeModel::filledWidth(int width) const noexcept {
  if (maximum_ <= 0 || width <= 0) return 0;
  return static_cast<int>(static_cast<std::int64_t>(width) * position_ / maximum_);
}

int GaugeModel::percent() const noexcept {
  if (maximum_ <= 0) return 0;
  return static_cast<int>(static_cast<std::int64_t>(position_) * 100 / maximum_);
}

}  // namespace importacao
