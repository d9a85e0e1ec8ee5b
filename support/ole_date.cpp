#include "support/ole_date.h"

#include <cmath>
#include <cwchar>

namespace support {

namespace {

// The OLE date range: 100-01-01 to 9999-12-31.
constexpr long long kFirstDay = -657434;
constexpr long long kLastDay = 2958465;

// Days since 1899-12-30 of a proleptic Gregorian date, and back (H. Hinnant's civil-days
// algorithms shifted to the OLE epoch, which is 25569 days before 1970-01-01).
constexpr long long kEpochShift = 25569;

long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468 + kEpochShift;
}

CalendarDay CivilFromDays(long long z) {
  z += 719468 - kEpochShift;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  const long long y = static_cast<long long>(yoe) + era * 400 + (m <= 2);
  return {static_cast<int>(y), static_cast<int>(m), static_cast<int>(d)};
}

int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : kDays[m - 1];
}

}  // namespace

std::optional<DATE> OleDateOf(const CalendarDay& day) {
  if (day.year < 100 || day.year > 9999 || day.month < 1 || day.month > 12 || day.day < 1 ||
      day.day > DaysInMonth(day.year, day.month))
    return std::nullopt;
  return static_cast<DATE>(
      DaysFromCivil(day.year, static_cast<unsigned>(day.month), static_cast<unsigned>(day.day)));
}

std::optional<CalendarDay> CalendarDayOf(DATE date) {
  if (!std::isfinite(date)) return std::nullopt;
  // The whole part is the day on both sides of the epoch; the fraction is the time of day
  // even for negative dates (-1.25 is 1899-12-29 06:00).
  const double whole = std::trunc(date);
  if (whole < static_cast<double>(kFirstDay) || whole > static_cast<double>(kLastDay))
    return std::nullopt;
  return CivilFromDays(static_cast<long long>(whole));
}

CalendarDay CalendarDayOf(const SYSTEMTIME& st) {
  return {static_cast<int>(st.wYear), static_cast<int>(st.wMonth), static_cast<int>(st.wDay)};
}

std::wstring FormatIsoDate(const CalendarDay& day) {
  wchar_t buf[32];
  std::swprintf(buf, 32, L"%04d-%02d-%02d", day.year, day.month, day.day);
  return buf;
}

}  // namespace support
