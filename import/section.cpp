#include "import/section.h"

#include <chrono>
#include <ctime>

namespace importacao {
namespace {

// Days from 1970-01-01 to a proleptic Gregorian date (H. Hinnant's days_from_civil).
long long daysFromCivil(long long year, unsigned month, unsigned day) {
  year -= month <= 2;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<long long>(dayOfEra) - 719468;
}

constexpr long long kEpoch1899 = -25569;  // 1899-12-30 counted from 1970-01-01

}  // namespace

DateTime encodeDateTime(int year, int month, int day, int hour, int minute, int second,
                        int millisecond) {
  const long long days =
      daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kEpoch1899;
  const double time =
      ((hour * 3600.0 + minute * 60.0 + second) * 1000.0 + millisecond) / 86'400'000.0;
  return DateTime{static_cast<double>(days) + time};
}

DateTime SystemClock::now() const {
  using namespace std::chrono;
  const auto stamp = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(stamp);
  const auto millis = duration_cast<milliseconds>(stamp.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  return encodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                        local.tm_min, local.tm_sec, static_cast<int>(millis < 0 ? 0 : millis));
}

DateTime SystemClock::today() const {
  const std::time_t seconds = std::time(nullptr);
  std::tm local{};
  localtime_r(&seconds, &local);
  return encodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

}  // namespace importacao
