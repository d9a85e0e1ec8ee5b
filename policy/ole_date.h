// Calendar arithmetic on automation dates (DATE: days since 1899-12-30, the fraction the
// time of day), for the reminder interval that counts whole days from a stored date.
//
//   const DATE today = oledate::FromCivil(st.wYear, st.wMonth, st.wDay);
//   const DATE threshold = oledate::DayOf(last) + 7;
//   trace(oledate::Format(threshold));   // "2026-12-14"
#pragma once

#include <string>

#include "platform/com.h"

namespace oledate {

// The date of a Gregorian day (any year the proleptic calendar covers).
DATE FromCivil(int year, unsigned month, unsigned day);
// The day a date falls on: the integer part, as automation dates count it (a negative
// date's fraction is a time after its midnight, not before).
DATE DayOf(DATE date);
// Between 100-01-01 and 9999-12-31, the range automation dates cover; NaN is not.
bool IsValid(DATE date);
// "%Y-%m-%d" of the date's day; "" for a date outside the valid range.
std::wstring Format(DATE date);

}  // namespace oledate
