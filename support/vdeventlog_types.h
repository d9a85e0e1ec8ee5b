// The suite's event-log component, an in-process COM server outside this program: its class,
// the writer interface the agent asks its class factory for, and the one method the agent
// calls. Shared by the agent's writer (support/event_log.h) and the stand-in component.
#pragma once

#include "platform/com.h"

// {337779A6-4848-428E-BE47-5C1C951794A7}
inline constexpr CLSID CLSID_VDEventLog = {
    0x337779A6, 0x4848, 0x428E, {0xBE, 0x47, 0x5C, 0x1C, 0x95, 0x17, 0x94, 0xA7}};
// {C5DF1BE2-095B-43A1-ACE6-0E4533E1448C}
inline constexpr IID IID_IVDEventLog = {
    0xC5DF1BE2, 0x095B, 0x43A1, {0xAC, 0xE6, 0x0E, 0x45, 0x33, 0xE1, 0x44, 0x8C}};

struct IVDEventLog : IUnknown {
  // Writes one event under the source name. `ppwszStrings` holds `cStrings` insertion
  // strings (null when there are none). The agent passes no raw data: 0 and null.
  virtual HRESULT STDMETHODCALLTYPE ReportEvent(LPCWSTR pwszSource, DWORD dwLevel, DWORD dwType,
                                                DWORD dwCategory, DWORD dwEventId, DWORD cStrings,
                                                LPCWSTR* ppwszStrings, DWORD cbRawData,
                                                LPVOID pvRawData) = 0;

 protected:
  ~IVDEventLog() = default;
};
