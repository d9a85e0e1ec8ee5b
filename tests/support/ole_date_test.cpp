#include "support/ole_date.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using support::CalendarDay;
using support::CalendarDayOf;
using support::FormatIsoDate;
using support::OleDateOf;

TEST(OleDateTest, KnownDaysHaveTheirAutomationNumbers) {
  struct Case {
    CalendarDay day;
    double date;
  };
  // 1900 is no leap year for OLE dates: 1900-03-01 is day 61, not 62.
  const Case cases[] = {
      {{1899, 12, 30}, 0},       {{1899, 12, 31}, 1},    {{1899, 12, 29}, -1},
      {{1900, 2, 28}, 60},       {{1900, 3, 1}, 61},     {{2026, 12, 7}, 46363},
      {{2026, 1, 2}, 46024},     {{1800, 1, 1}, -36522}, {{100, 1, 1}, -657434},
      {{9999, 12, 31}, 2958465}, {{2000, 2, 29}, 36585},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.day.year << "-" << c.day.month << "-" << c.day.day);
    EXPECT_EQ(OleDateOf(c.day), std::optional<DATE>(c.date));
    EXPECT_EQ(CalendarDayOf(c.date), std::optional<CalendarDay>(c.day));
  }
}

TEST(OleDateTest, EveryDayOfTheRangeRoundTripsAndFollowsTheDayBefore) {
  CalendarDay previous{99, 12, 31};
  for (long long n = -657434; n <= 2958465; ++n) {
    auto day = CalendarDayOf(static_cast<DATE>(n));
    ASSERT_TRUE(day.has_value()) << n;
    ASSERT_LT(previous, *day) << n;
    ASSERT_EQ(OleDateOf(*day), std::optional<DATE>(static_cast<DATE>(n)));
    previous = *day;
  }
  EXPECT_EQ(previous, (CalendarDay{9999, 12, 31}));
}

TEST(OleDateTest, DaysThatDoNotExistOrLieOutsideTheRangeHaveNoDate) {
  for (const CalendarDay& d :
       {CalendarDay{2026, 2, 29}, CalendarDay{2100, 2, 29}, CalendarDay{2026, 4, 31},
        CalendarDay{2026, 0, 1}, CalendarDay{2026, 13, 1}, CalendarDay{2026, 1, 0},
        CalendarDay{2026, 1, 32}, CalendarDay{99, 12, 31}, CalendarDay{10000, 1, 1}}) {
    EXPECT_EQ(OleDateOf(d), std::nullopt) << d.year << "-" << d.month << "-" << d.day;
  }
}

TEST(OleDateTest, TheTimeOfDayIsDroppedOnBothSidesOfTheEpoch) {
  EXPECT_EQ(CalendarDayOf(46363.999), (CalendarDay{2026, 12, 7}));
  EXPECT_EQ(CalendarDayOf(0.75), (CalendarDay{1899, 12, 30}));
  // Before the epoch the fraction still counts forward from midnight: -1.25 is 06:00 on the
  // day before it, and -0.5 is noon on the epoch day itself.
  EXPECT_EQ(CalendarDayOf(-1.25), (CalendarDay{1899, 12, 29}));
  EXPECT_EQ(CalendarDayOf(-0.5), (CalendarDay{1899, 12, 30}));
}

TEST(OleDateTest, ValuesOutsideTheRangeOrNoNumberHaveNoDay) {
  EXPECT_EQ(CalendarDayOf(-657435.0), std::nullopt);
  EXPECT_EQ(CalendarDayOf(2958466.0), std::nullopt);
  EXPECT_EQ(CalendarDayOf(std::numeric_limits<double>::quiet_NaN()), std::nullopt);
  EXPECT_EQ(CalendarDayOf(std::numeric_limits<double>::infinity()), std::nullopt);
}

TEST(OleDateTest, DaysAreWrittenYearMonthDayWithLeadingZeros) {
  EXPECT_EQ(FormatIsoDate({2026, 12, 7}), L"2026-12-07");
  EXPECT_EQ(FormatIsoDate({100, 1, 1}), L"0100-01-01");
  SYSTEMTIME st{};
  st.wYear = 2026;
  st.wMonth = 3;
  st.wDay = 2;
  st.wHour = 23;
  EXPECT_EQ(FormatIsoDate(CalendarDayOf(st)), L"2026-03-02");
}

}  // namespace
