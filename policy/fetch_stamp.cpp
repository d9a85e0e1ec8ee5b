#include "policy/fetch_stamp.h"

#include <cmath>

namespace {

constexpr long long kOneMinuteMs = 60'000;
// The largest age two valid dates can have.
constexpr double kMaxAgeDays = 3615897.0;

// Days from 0000-03-01 in the proleptic Gregorian calendar.
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe);
}

}  // namespace

std::optional<double> CFetchStamp::ToOleDate(const SYSTEMTIME& st) {
  if (st.wYear < 100 || st.wYear > 9999 || st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 ||
      st.wDay > 31 || st.wHour > 23 || st.wMinute > 59 || st.wSecond > 59)
    return std::nullopt;
  const long long days = DaysFromCivil(st.wYear, st.wMonth, st.wDay) - DaysFromCivil(1899, 12, 30);
  const double seconds =
      st.wHour * 3600.0 + st.wMinute * 60.0 + st.wSecond + st.wMilliseconds / 1000.0;
  return static_cast<double>(days) + seconds / 86400.0;
}

std::optional<double> CFetchStamp::Now(platform::IKernel& kernel) {
  SYSTEMTIME st{};
  kernel.GetLocalTime(&st);
  return ToOleDate(st);
}

bool CFetchStamp::IsFresh(platform::IKernel& kernel) const {
  if (!m_date) return false;
  const auto now = Now(kernel);
  if (!now) return false;
  const double age = *now - *m_date;
  if (std::fabs(age) > kMaxAgeDays) return false;
  // In whole milliseconds: a date's fraction of a day is not exact, and one minute must
  // expire at one minute, not a rounding error earlier or later.
  const long long ageMs = std::llround(age * 86'400'000.0);
  return ageMs >= 0 && ageMs < kOneMinuteMs;
}
