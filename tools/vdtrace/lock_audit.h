// Who locked the workstation, and why: the locks the agent asked for, and the session's locks,
// unlocks, disconnects and log-offs, each with its cause read from the records around it and
// the user the agent last named.
//
//   CLockAudit audit;
//   CRunModel model([&](const TraceEvent& e) { audit.OnEvent(e); });
//   ... read the files ...
//   for (const auto& line : audit.Lines()) puts(line);
//
// Recognised, from the agent's own trace texts:
//   a lock the agent asks for
//     "Lock workstation..." in CVdAgentMain::OnInboundMessage  proximity message 2 (mailslot)
//     "Locking the workstation (no PM)"                        quick action (finger/card/hotkey)
//     "Locking workstation..."                                 password manager, after fill-in
//     CVdAgentMain::OnLockWorkstation                          tray menu command
//     "Workstation locked." or a LockWorkStation failure in CVdAgentMain::OnCardRemoved
//                                                              card removal
//     a failed "LockWorkStation" or "Result" right after one of them marks it failed
//   the session: "WTS_SESSION_LOCK", "WTS_SESSION_UNLOCK", "Session is disconnected",
//     "ENDSESSION_LOGOFF" (traced by several handlers of one notification: listed once; in
//     CKioskHandler scopes marked as a kiosk session). A session lock takes the cause of the
//     agent's own lock just before it; without one it is listed with no recognisable cause.
//     A disconnect just after a quick action's "FastSwitch" is that fast user switch.
//   a log-off the kiosk asks of fast connect at a session lock ("VDFCLogoffUser" in the
//     FASTCONNECT::LaunchFastConnect_ifAvailable it runs): the next log-off is its doing.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/vdtrace/trace_run.h"

namespace vdtrace {

class CLockAudit {
 public:
  enum class Kind {
    kWorkstationLock,
    kSessionLock,
    kSessionUnlock,
    kDisconnect,
    kLogOffRequest,
    kLogOff
  };
  struct Entry {
    Kind kind;
    std::string at;  // "MM/DD/YY HH:MM:SS.mmm"
    std::optional<std::int64_t> key;
    std::uint32_t thread = 0;
    std::string cause;  // empty: none recognised
    std::string user;   // empty: none named yet
    std::string failure;  // the failed result, when the lock was refused
    bool kiosk = false;
  };

  void OnEvent(const TraceEvent& e);

  const std::vector<Entry>& Entries() const { return m_entries; }
  // One line per entry:
  //   "<date> <time> <thread> <what>: <cause>; user: <user>[; failed: <code>]"
  std::vector<std::string> Lines() const;
  static const char* KindName(Kind k);

  // A session lock this long after the agent's own lock is taken as its result.
  static constexpr std::int64_t kLockLatencyMs = 10000;

 private:
  struct Pending {
    std::size_t entry;
    std::size_t depth;  // open scopes when it was asked for
  };
  void AddLock(const TraceEvent& e, std::string cause);
  void AddSession(const TraceEvent& e, Kind kind);
  std::string ActionOrigin(const TraceEvent& e) const;

  std::vector<Entry> m_entries;
  std::string m_user;
  std::map<std::uint32_t, std::string> m_origin;  // what started the thread's last action
  std::map<std::uint32_t, Pending> m_pending;     // a lock whose result may still follow
  std::optional<std::size_t> m_unmatched;         // the last lock no session lock followed yet
  std::optional<Entry> m_switch;                  // a fast user switch the session may follow
  std::optional<std::size_t> m_logOffRequest;     // the kiosk's, no log-off followed yet
};

}  // namespace vdtrace
