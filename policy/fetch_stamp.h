// When a fetch from the authentication library last succeeded, as a local-time OLE
// automation date (days since 1899-12-30), so that a result can be reused for one minute.
//
//   CFetchStamp stamp;
//   if (stamp.IsFresh(kernel)) return cached;     // younger than one minute
//   ... fetch ...
//   stamp.Set(kernel);
//
// Local time follows the platform clock, so tests move it with the simulated clock.
#pragma once

#include <optional>

#include "platform/kernel.h"

class CFetchStamp {
 public:
  // The local time as an OLE date; none for a time outside the years 100 to 9999.
  static std::optional<double> Now(platform::IKernel& kernel);
  static std::optional<double> ToOleDate(const SYSTEMTIME& st);

  void Set(platform::IKernel& kernel) { m_date = Now(kernel); }
  void Clear() { m_date.reset(); }
  // The stamp is set and at most one minute old. A clock set back (a daylight-saving change)
  // makes the age negative: that is no age at all, so the result is fetched again rather
  // than reused for as long as the clock went back.
  bool IsFresh(platform::IKernel& kernel) const;

 private:
  std::optional<double> m_date;
};
