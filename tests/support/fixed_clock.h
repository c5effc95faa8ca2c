// A clock for tests: returns the time it was set to, and advances by `step` days after each
// now() (so two readings differ when a test wants them to). today() is now()'s date, unmoved.
// Header-only, for tests only.
#pragma once

#include "data/value.h"
#include "import/section.h"

namespace importacao {

class FixedClock final : public Clock {
 public:
  explicit FixedClock(DateTime start, double stepDays = 0.0) : current_(start), step_(stepDays) {}
  void set(DateTime value) { current_ = value; }

  DateTime now() const override {
    const DateTime reading = current_;
    current_.days += step_;
    return reading;
  }

  DateTime today() const override {
    // The date part of a date-time counted from 1899-12-30 (negative days keep their time
    // positive, so the date is the floor).
    double whole = static_cast<double>(static_cast<long long>(current_.days));
    if (whole > current_.days) whole -= 1.0;
    return DateTime{whole};
  }

 private:
  mutable DateTime current_;
  double step_ = 0.0;
};

}  // namespace importacao
