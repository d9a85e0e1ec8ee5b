#include "platform/sim/clock.h"

#include <chrono>

namespace sim {

namespace {
constexpr ULONGLONG kTicksPerMs = 10000;
constexpr ULONGLONG kTicksPerDay = 86400ull * 1000 * kTicksPerMs;

// Days from 1601-01-01 to the civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t daysFrom1970 = era * 146097 + static_cast<int64_t>(doe) - 719468;
  return daysFrom1970 + 134774;  // 1601-01-01 .. 1970-01-01
}
}  // namespace

Clock::Clock(ULONGLONG bootUtcFileTime, LONG localBiasMinutes)
    : m_bootUtc(bootUtcFileTime), m_biasMinutes(localBiasMinutes) {}

ULONGLONG Clock::UtcFileTime() const { return m_bootUtc + NowMs() * kTicksPerMs; }

SYSTEMTIME Clock::UtcSystemTime() const { return FileTimeToSystemTime(UtcFileTime()); }

SYSTEMTIME Clock::LocalSystemTime() const {
  const int64_t local = static_cast<int64_t>(UtcFileTime()) -
                        static_cast<int64_t>(m_biasMinutes) * 60 * 1000 * kTicksPerMs;
  return FileTimeToSystemTime(static_cast<ULONGLONG>(local));
}

uint64_t Clock::ScheduleAt(ULONGLONG dueMs, Callback cb) {
  std::lock_guard lk(m_mu);
  const uint64_t id = m_nextId++;
  m_items.emplace(std::make_pair(dueMs, id), std::move(cb));
  return id;
}

bool Clock::Cancel(uint64_t id) {
  std::lock_guard lk(m_mu);
  for (auto it = m_items.begin(); it != m_items.end(); ++it) {
    if (it->first.second == id) {
      m_items.erase(it);
      return true;
    }
  }
  return false;
}

std::optional<ULONGLONG> Clock::NextDue() const {
  std::lock_guard lk(m_mu);
  if (m_items.empty()) return std::nullopt;
  return m_items.begin()->first.first;
}

void Clock::SetSettle(Settle s) {
  std::lock_guard lk(m_mu);
  m_settle = std::move(s);
}

void Clock::AdvanceTo(ULONGLONG target, bool pump) {
  std::lock_guard advancing(m_advance);
  for (;;) {
    Callback cb;
    Settle settle;
    {
      std::unique_lock lk(m_mu);
      settle = m_settle;
      if (!m_items.empty() && m_items.begin()->first.first <= target) {
        auto it = m_items.begin();
        if (it->first.first > m_now.load(std::memory_order_relaxed))
          m_now.store(it->first.first, std::memory_order_release);
        cb = std::move(it->second);
        m_items.erase(it);
        ++m_generation;
      } else {
        if (target > m_now.load(std::memory_order_relaxed))
          m_now.store(target, std::memory_order_release);
        ++m_generation;
      }
    }
    m_cv.notify_all();
    if (!cb) {
      if (settle) settle(pump);
      // Settling may have scheduled work that is already due.
      std::lock_guard lk(m_mu);
      if (m_items.empty() || m_items.begin()->first.first > target) return;
      continue;
    }
    cb();
    if (settle) settle(pump);
  }
}

void Clock::WaitUntil(const std::function<bool()>& pred) {
  // The generation is read before the predicate, so a change that lands between the
  // predicate and the wait still wakes us.
  std::unique_lock lk(m_mu);
  for (;;) {
    const uint64_t gen = m_generation;
    lk.unlock();
    if (pred()) return;
    lk.lock();
    m_cv.wait(lk, [&] { return m_generation != gen; });
  }
}

void Clock::Notify() {
  {
    std::lock_guard lk(m_mu);
    ++m_generation;
  }
  m_cv.notify_all();
}

SYSTEMTIME Clock::FileTimeToSystemTime(ULONGLONG ft) {
  int64_t days = static_cast<int64_t>(ft / kTicksPerDay);
  ULONGLONG rem = ft % kTicksPerDay;
  SYSTEMTIME st{};
  st.wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
  // civil_from_days, shifted to the 1970 epoch.
  int64_t z = days - 134774 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  st.wYear = static_cast<WORD>(y + (m <= 2));
  st.wMonth = static_cast<WORD>(m);
  st.wDay = static_cast<WORD>(d);
  ULONGLONG ms = rem / kTicksPerMs;
  st.wMilliseconds = static_cast<WORD>(ms % 1000);
  ms /= 1000;
  st.wSecond = static_cast<WORD>(ms % 60);
  ms /= 60;
  st.wMinute = static_cast<WORD>(ms % 60);
  st.wHour = static_cast<WORD>(ms / 60);
  return st;
}

ULONGLONG Clock::SystemTimeToFileTime(const SYSTEMTIME& st) {
  const int64_t days = DaysFromCivil(st.wYear, st.wMonth, st.wDay);
  ULONGLONG ms = ((static_cast<ULONGLONG>(st.wHour) * 60 + st.wMinute) * 60 + st.wSecond) * 1000 +
                 st.wMilliseconds;
  return static_cast<ULONGLONG>(days) * kTicksPerDay + ms * kTicksPerMs;
}

}  // namespace sim
