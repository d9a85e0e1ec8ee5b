// Calendar days as OLE automation dates (DATE: days since 1899-12-30, the fraction being the
// time of day), for dates the agent keeps as "%Y-%m-%d" text and compares by the day.
//
//   DATE last = 0;
//   if (SUCCEEDED(plat.Com().VarDateFromStr(text, LOCALE_USER_DEFAULT, VAR_DATEVALUEONLY,
//                                           &last))) {
//     auto threshold = support::OleDateOf(*support::CalendarDayOf(last)).value() + 7;
//   }
//   std::wstring today = support::FormatIsoDate(support::CalendarDayOf(localNow));  // "2026-12-07"
//
// Pure functions: no platform, no clock.
#pragma once

#include <compare>
#include <optional>
#include <string>

#include "platform/com.h"
#include "platform/win_types.h"

namespace support {

struct CalendarDay {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31

  auto operator<=>(const CalendarDay&) const = default;
};

// The OLE date of the day at midnight; none for a day that does not exist or lies outside
// the years 100 to 9999, the range of DATE.
std::optional<DATE> OleDateOf(const CalendarDay& day);
// The day a date falls on (its time of day dropped); none outside the range of DATE or for a
// value that is no number.
std::optional<CalendarDay> CalendarDayOf(DATE date);
// The day of a SYSTEMTIME (GetLocalTime's answer).
CalendarDay CalendarDayOf(const SYSTEMTIME& st);
// "%Y-%m-%d": four-digit year, two-digit month and day.
std::wstring FormatIsoDate(const CalendarDay& day);

}  // namespace support
