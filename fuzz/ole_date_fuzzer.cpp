// libFuzzer target for the calendar days of OLE dates, the form the agent's stored dates
// take (reminder time stamps in the user's settings, any text another program may have
// written there and the system parsed into a DATE). Any double gives a day only inside the
// DATE range, and that day's date is the double's whole part; any year, month and day give a
// date only for a day that exists, and it reads back as that day; the next day is one more,
// counted by a plain calendar (leap years by the Gregorian rule).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "support/ole_date.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool Leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int MonthLength(int y, int m) {
  if (m == 2) return Leap(y) ? 29 : 28;
  return m == 4 || m == 6 || m == 9 || m == 11 ? 30 : 31;
}

bool Exists(const support::CalendarDay& d) {
  return d.year >= 100 && d.year <= 9999 && d.month >= 1 && d.month <= 12 && d.day >= 1 &&
         d.day <= MonthLength(d.year, d.month);
}

support::CalendarDay Next(support::CalendarDay d) {
  if (++d.day > MonthLength(d.year, d.month)) {
    d.day = 1;
    if (++d.month > 12) d.month = 1, ++d.year;
  }
  return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  DATE date;
  std::memcpy(&date, data, sizeof date);
  if (const auto day = support::CalendarDayOf(date)) {
    Check(Exists(*day));
    Check(support::OleDateOf(*day) == std::trunc(date));
    Check(support::FormatIsoDate(*day).size() == 10);
  } else {
    // Outside the range the day is refused, inside it never is.
    Check(!std::isfinite(date) || std::trunc(date) < -657434.0 || std::trunc(date) > 2958465.0);
  }
  if (size < 14) return 0;
  std::int16_t parts[3];
  std::memcpy(parts, data + 8, sizeof parts);
  const support::CalendarDay day{parts[0], parts[1], parts[2]};
  const auto ole = support::OleDateOf(day);
  Check(ole.has_value() == Exists(day));
  if (!ole) return 0;
  Check(support::CalendarDayOf(*ole) == day);
  const support::CalendarDay next = Next(day);
  if (Exists(next)) Check(support::OleDateOf(next) == *ole + 1);
  // A time of day keeps the day, before the epoch too (-1.25 is 1899-12-29 06:00).
  Check(support::CalendarDayOf(*ole + (*ole < 0 ? -0.75 : 0.75)) == day);
  return 0;
}
