// A run as one self-contained HTML page: a lane per thread, scopes as nested bars along the
// run (click a bar to fold what it holds), messages as ticks, failures marked in red, the
// record's text on hover, and a search box.
//
//   CHtmlTimeline page;
//   CRunModel model([&](const TraceEvent& e) { page.OnEvent(e); });
//   ... read the files ...
//   page.Write(out);
//
// The axis is the order of the records (records of one millisecond would otherwise sit on top
// of each other); its ticks show the time where it changes. A box (or "#time" in the address)
// switches it to the records' times, scaled to fit. Trace text is untrusted: all of it
// is escaped, the page's script takes no data from it, and the page allows no network access.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "tools/vdtrace/trace_run.h"

namespace vdtrace {

// Text for HTML content and quoted attribute values.
std::string HtmlEscape(std::string_view text);

class CHtmlTimeline {
 public:
  void OnHeaderLine(std::string_view line) { m_header.emplace_back(line); }
  void OnEvent(const TraceEvent& e);
  void Write(std::ostream& out) const;

  // Pixels per record along the axis.
  static constexpr int kStep = 6;
  static constexpr int kRow = 16;

 private:
  struct Item {
    std::size_t id = 0;
    std::size_t parent = 0;  // 0: none
    std::size_t first = 0, last = 0;  // positions on the axis
    std::int64_t t0 = 0, t1 = 0;      // ms since the first timed record
    int depth = 0;
    char type = 0;
    bool open = false;  // a scope still open at the end
    bool failure = false;
    bool holdsFailure = false;
    std::string text;   // as printed
    std::string title;  // shown on hover
  };
  struct Lane {
    std::vector<Item> items;
    std::vector<std::size_t> stack;  // indexes into items of the open scopes
    int depth = 0;
  };

  std::vector<std::string> m_header;
  std::map<std::uint32_t, Lane> m_lanes;
  struct Tick {
    std::size_t pos;
    std::int64_t t;
    std::string time;
  };
  std::vector<Tick> m_ticks;
  std::optional<std::int64_t> m_firstKey;
  std::int64_t m_t = 0;  // of the current record
  std::string m_lastTime;
  std::size_t m_pos = 0;
  std::size_t m_nextId = 1;
};

}  // namespace vdtrace
