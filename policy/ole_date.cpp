#include "policy/ole_date.h"

#include <cmath>
#include <cstddef>

namespace oledate {
namespace {

// Days of 1899-12-30 counted from 1970-01-01.
constexpr long long kEpochOffset = -25569;
constexpr DATE kFirstValid = -657434.0;  // 100-01-01
constexpr DATE kPastLast = 2958466.0;    // 10000-01-01

// Days from 1970-01-01 of a proleptic Gregorian date (eras of 400 years).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2 ? 1 : 0;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<long long>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
}

// Decimal digits of `v`, zero-padded to `width` (no printf: its wide forms differ between
// the C runtimes the agent is built with).
void AppendPadded(std::wstring& out, unsigned v, std::size_t width) {
  std::wstring digits;
  do {
    digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + v % 10));
    v /= 10;
  } while (v != 0);
  if (digits.size() < width) out.append(width - digits.size(), L'0');
  out += digits;
}

}  // namespace

DATE FromCivil(int year, unsigned month, unsigned day) {
  return static_cast<DATE>(DaysFromCivil(year, month, day) - kEpochOffset);
}

DATE DayOf(DATE date) { return std::trunc(date); }

bool IsValid(DATE date) { return date >= kFirstValid && date < kPastLast; }

std::wstring Format(DATE date) {
  if (!IsValid(date)) return std::wstring();
  long long y = 0;
  unsigned m = 0, d = 0;
  CivilFromDays(static_cast<long long>(DayOf(date)) + kEpochOffset, y, m, d);
  std::wstring out;
  AppendPadded(out, static_cast<unsigned>(y), 4);
  out += L'-';
  AppendPadded(out, m, 2);
  out += L'-';
  AppendPadded(out, d, 2);
  return out;
}

}  // namespace oledate
