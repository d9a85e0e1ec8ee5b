#include "tools/vdtrace/lock_audit.h"

#include <cstdio>
#include <string_view>

#include "support/trace/trace_format.h"

namespace vdtrace {

namespace {

bool Contains(std::string_view s, std::string_view part) {
  return s.find(part) != std::string_view::npos;
}

bool InScope(const TraceEvent& e, std::string_view name) {
  for (const std::string& s : *e.scopes)
    if (s == name) return true;
  return false;
}

// The text between prefix and the first stop after it, when text has both.
std::optional<std::string_view> Between(std::string_view text, std::string_view prefix,
                                        std::string_view stop) {
  const std::size_t p = text.find(prefix);
  if (p == std::string_view::npos) return std::nullopt;
  const std::size_t from = p + prefix.size();
  const std::size_t end = text.find(stop, from);
  if (end == std::string_view::npos || end == from) return std::nullopt;
  return text.substr(from, end - from);
}

// The user a message names: "User 'DOMAIN\name' (SAM), SID=...", "User 'DOMAIN\name' is
// detected", "User = DOMAIN\name (3)", "Kiosk user is 'DOMAIN\name' (SAM)...".
std::optional<std::string_view> NamedUser(std::string_view text) {
  if (auto u = Between(text, "Kiosk user is '", "'")) return u;
  if (text.rfind("User '", 0) == 0) return Between(text, "User '", "'");
  if (text.rfind("User = ", 0) == 0) return Between(text, "User = ", " (");
  return std::nullopt;
}

}  // namespace

const char* CLockAudit::KindName(Kind k) {
  switch (k) {
    case Kind::kWorkstationLock:
      return "workstation lock";
    case Kind::kSessionLock:
      return "session lock";
    case Kind::kSessionUnlock:
      return "session unlock";
    case Kind::kDisconnect:
      return "session disconnect";
    case Kind::kLogOffRequest:
      return "log-off request";
    case Kind::kLogOff:
      return "log-off";
  }
  return "?";
}

std::string CLockAudit::ActionOrigin(const TraceEvent& e) const {
  if (InScope(e, "CVdAgentMain::OnHotKey")) return "hotkey";
  const auto it = m_origin.find(e.thread);
  return it == m_origin.end() ? "unknown origin" : it->second;
}

void CLockAudit::AddLock(const TraceEvent& e, std::string cause) {
  Entry entry;
  entry.kind = Kind::kWorkstationLock;
  entry.at = std::string(e.date) + " " + std::string(e.time);
  entry.key = e.key;
  entry.thread = e.thread;
  entry.cause = std::move(cause);
  entry.user = m_user;
  m_entries.push_back(std::move(entry));
  m_pending[e.thread] = {m_entries.size() - 1, e.scopes->size()};
  m_unmatched = m_entries.size() - 1;
}

void CLockAudit::AddSession(const TraceEvent& e, Kind kind) {
  const bool kiosk = !e.scopes->empty() && e.scopes->back().rfind("CKioskHandler<", 0) == 0;
  // Each handler of the chain traces the same notification: keep the first.
  for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it) {
    if (it->kind == Kind::kWorkstationLock || it->kind == Kind::kLogOffRequest) continue;
    if (it->kind == kind && it->thread == e.thread && it->key == e.key && e.key) {
      it->kiosk = it->kiosk || kiosk;
      return;
    }
    break;
  }
  Entry entry;
  entry.kind = kind;
  entry.at = std::string(e.date) + " " + std::string(e.time);
  entry.key = e.key;
  entry.thread = e.thread;
  entry.user = m_user;
  entry.kiosk = kiosk;
  if (kind == Kind::kSessionLock && m_unmatched) {
    const Entry& lock = m_entries[*m_unmatched];
    if (lock.failure.empty() && lock.key && e.key && *e.key >= *lock.key &&
        *e.key - *lock.key <= kLockLatencyMs)
      entry.cause = lock.cause + " (workstation lock at " + lock.at.substr(9) + ")";
    m_unmatched.reset();
  }
  // Unlocked again: the kiosk's log-off did not happen.
  if (kind == Kind::kSessionUnlock) m_logOffRequest.reset();
  if (kind == Kind::kLogOff && m_logOffRequest) {
    entry.cause = "kiosk (log-off request at " + m_entries[*m_logOffRequest].at.substr(9) + ")";
    m_logOffRequest.reset();
  }
  if (kind == Kind::kDisconnect && m_switch) {
    if (m_switch->key && e.key && *e.key >= *m_switch->key &&
        *e.key - *m_switch->key <= kLockLatencyMs)
      entry.cause = m_switch->cause;
    m_switch.reset();
  }
  m_entries.push_back(std::move(entry));
}

void CLockAudit::OnEvent(const TraceEvent& e) {
  using namespace VDTraceNS;
  if (e.type == kContinued) {
    m_pending.clear();
    m_origin.clear();
    return;
  }
  const std::string_view text = e.text;
  if (e.type == kScopeEnter) {
    if (text == "CVdAgentMain::OnHotKey") m_origin[e.thread] = "hotkey";
    if (Contains(text, "OnFingerprintMessage")) m_origin[e.thread] = "finger";
    if (Contains(text, "OnCardMessage") || text == "CVdAgentMain::OnCardReady" ||
        text == "CVdAgentMain::OnCardRemoved" || text == "[CompletingCardTap]")
      m_origin[e.thread] = "card";
    if (text == "CVdAgentMain::OnLockWorkstation") AddLock(e, "tray menu command");
    return;
  }
  if (e.type == kScopeExit) {
    // The scope that asked for a lock ended: a later result is not that lock's.
    const auto it = m_pending.find(e.thread);
    if (it != m_pending.end() && e.scopes->size() <= it->second.depth) m_pending.erase(it);
    return;
  }
  if (e.type == kMessage) {
    if (auto user = NamedUser(text)) m_user = VDTraceNS::PrintableText(*user);
    if (text == "Lock workstation..." && InScope(e, "CVdAgentMain::OnInboundMessage")) {
      AddLock(e, "proximity message 2 (mailslot)");
    } else if (text == "Locking the workstation (no PM)") {
      AddLock(e, "quick action (" + ActionOrigin(e) + ")");
    } else if (text == "Locking workstation...") {
      AddLock(e, "quick action (" + ActionOrigin(e) + "), after the password manager's fill-in");
    } else if (text == "Workstation locked." && InScope(e, "CVdAgentMain::OnCardRemoved")) {
      AddLock(e, "card removal");
    } else if (text == "FastSwitch" && InScope(e, "CVdAgentMain::RunQuickAction")) {
      m_switch = Entry{Kind::kDisconnect, {}, e.key, e.thread,
                       "quick action (" + ActionOrigin(e) + "), fast user switch", {}, {}, false};
    } else if (text.rfind("Execute params", 0) == 0 && Contains(text, "VDFCLogoffUser") &&
               InScope(e, "CKioskHandler<class CVdAgentMain>::OnSessionChange")) {
      Entry entry{Kind::kLogOffRequest,
                  std::string(e.date) + " " + std::string(e.time),
                  e.key,
                  e.thread,
                  "kiosk, at the session lock",
                  m_user,
                  {},
                  false};
      m_entries.push_back(std::move(entry));
      m_logOffRequest = m_entries.size() - 1;
    } else if (text == "WTS_SESSION_LOCK") {
      AddSession(e, Kind::kSessionLock);
    } else if (text == "WTS_SESSION_UNLOCK") {
      AddSession(e, Kind::kSessionUnlock);
    } else if (text.rfind("Session is disconnected", 0) == 0) {
      AddSession(e, Kind::kDisconnect);
    } else if (text == "ENDSESSION_LOGOFF") {
      AddSession(e, Kind::kLogOff);
    }
    return;
  }
  if (e.type == kResult) {
    // "<code> LockWorkStation", or the quick action's "<code> Result".
    const std::size_t space = text.find(' ');
    if (space == std::string_view::npos) return;
    const std::string_view code = text.substr(0, space);
    const std::string_view what = text.substr(space + 1);
    if (what != "LockWorkStation" && what != "Result") return;
    if (code.empty() || code[0] != '-') return;  // not a failure
    const auto it = m_pending.find(e.thread);
    if (it != m_pending.end() && m_entries[it->second.entry].failure.empty()) {
      m_entries[it->second.entry].failure = std::string(code);
      m_pending.erase(it);
    } else if (what == "LockWorkStation") {
      // The card removal path traces only the refusal.
      AddLock(e, InScope(e, "CVdAgentMain::OnCardRemoved") ? "card removal" : "");
      m_entries.back().failure = std::string(code);
      m_pending.erase(e.thread);
    }
  }
}

std::vector<std::string> CLockAudit::Lines() const {
  std::vector<std::string> lines;
  for (const Entry& e : m_entries) {
    char thread[16];
    std::snprintf(thread, sizeof thread, " %6u ", static_cast<unsigned>(e.thread));
    std::string line = e.at + thread + KindName(e.kind);
    if (e.kiosk) line += " (kiosk)";
    line += ": ";
    if (!e.cause.empty())
      line += e.cause;
    else if (e.kind == Kind::kWorkstationLock || e.kind == Kind::kSessionLock)
      line += "no recognisable cause";
    else
      line += "-";
    line += "; user: " + (e.user.empty() ? std::string("unknown") : e.user);
    if (!e.failure.empty()) line += "; failed: " + e.failure;
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace vdtrace
