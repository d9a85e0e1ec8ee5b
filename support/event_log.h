// Event-log records of security-relevant moments (a session locked or logged off), handed
// to the suite's event-log component, an in-process COM server loaded from the DLL registered
// for its class. Logging is best effort: callers may ignore the result.
//
//   CVDLog log(plat);                                  // a member of the main window
//   LogEvent e(kVDEventSessionLocked, kVDEventSourceAgent);
//   e.AddString(user.AccountName().c_str());
//   log.Log(e);
//
// Traces: "m_sApplicationName - <source>", "Event logged; ID: 0x41101305, LEVEL: 1, TYPE: 4,
// STRINGS:alice; ", and under "_LogEvent" the first "Loading library <path>".
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/inproc_server.h"

// The events the agent writes (information, category 0x1300).
inline constexpr DWORD kVDEventSessionLocked = 0x41101305;       // the user's account name
inline constexpr DWORD kVDEventSessionLoggedOff = 0x41101306;    // the user's account name
inline constexpr DWORD kVDEventKioskSessionLocked = 0x41101307;  // no strings
inline constexpr DWORD kVDEventKioskLoggedOff = 0x41101308;      // no strings

// {FB4CA59D-9C36-4DA7-A1E8-E0E3FA7A77B0}: the source of the agent's events.
inline constexpr GUID kVDEventSourceAgent = {
    0xFB4CA59D, 0x9C36, 0x4DA7, {0xA1, 0xE8, 0xE0, 0xE3, 0xFA, 0x7A, 0x77, 0xB0}};
// {FB4CA59D-9C36-4DA7-A1E8-E0E3FA7A77A0}: what a null source stands for.
inline constexpr GUID kVDEventSourceDefault = {
    0xFB4CA59D, 0x9C36, 0x4DA7, {0xA1, 0xE8, 0xE0, 0xE3, 0xFA, 0x7A, 0x77, 0xA0}};

// One event, built on the stack by its caller.
class LogEvent {
 public:
  // Level 1; the type from the identifier's severity bits (error 1, warning 2,
  // information 4, success 0); the category is the identifier's bits 8 to 15.
  LogEvent(DWORD eventId, const GUID& source);

  // Appends an insertion string; null appends an empty one.
  void AddString(const wchar_t* text);
  // Appends to the second list, which follows the first when the event is written.
  void AddFurtherString(const wchar_t* text);

  DWORD Level() const { return m_dwLevel; }
  DWORD Type() const { return m_dwType; }
  DWORD Category() const { return m_dwCategory; }
  DWORD EventId() const { return m_dwEventId; }
  const GUID& Source() const { return m_source; }
  const std::vector<std::wstring>& Strings() const { return m_strings; }
  const std::vector<std::wstring>& FurtherStrings() const { return m_furtherStrings; }

 private:
  DWORD m_dwLevel;
  DWORD m_dwType;
  DWORD m_dwCategory;
  DWORD m_dwEventId;
  GUID m_source;
  std::vector<std::wstring> m_strings;
  std::vector<std::wstring> m_furtherStrings;
};

class CVDLog {
 public:
  // Takes the source name from HKLM "SOFTWARE\Veridane\EventLog", "DefaultSource" (the
  // process's own registry view), "Veridane Lumera" when there is none. Never fails.
  explicit CVDLog(platform::IPlatform& plat);
  CVDLog(const CVDLog&) = delete;
  CVDLog& operator=(const CVDLog&) = delete;

  // Writes the event: its strings followed by its further strings.
  HRESULT Log(const LogEvent& event);
  // The full form. A null source GUID stands for the default source. On Windows Vista and
  // later the source name becomes the GUID's text; before, the name registered for that
  // GUID under the EventLog key (64-bit view), if any.
  HRESULT Log(DWORD level, DWORD type, DWORD category, DWORD eventId, DWORD count, LPCWSTR* strings,
              const GUID& source);

  // The source name the next event is reported under.
  const std::wstring& ApplicationName() const { return m_sApplicationName; }

 private:
  HRESULT Deliver(DWORD level, DWORD type, DWORD category, DWORD eventId, DWORD count,
                  LPCWSTR* strings);
  bool IsVistaOrLater();

  platform::IPlatform& m_plat;
  std::wstring m_sApplicationName;
  // The component's DLL, loaded at the first delivery and kept while the writer lives (as
  // long as the process's main window), so this is the process's one load of it.
  support::CInprocServer m_component;
};
