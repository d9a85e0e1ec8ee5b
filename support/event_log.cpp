#include "support/event_log.h"

#include <new>

#include "support/guid_string.h"
#include "support/registry_read.h"
#include "support/trace/trace.h"
#include "support/vdeventlog_types.h"

namespace {

constexpr const wchar_t* kEventLogKey = L"SOFTWARE\\Veridane\\EventLog";
constexpr const wchar_t* kDefaultSourceValue = L"DefaultSource";
constexpr const wchar_t* kFallbackSourceName = L"Veridane Lumera";
constexpr DWORD kMaxNameChars = 260;

DWORD TypeFromSeverity(DWORD eventId) {
  switch (eventId & 0xC0000000u) {
    case 0xC0000000u:
      return 1;  // error
    case 0x80000000u:
      return 2;  // warning
    case 0x40000000u:
      return 4;  // information
    default:
      return 0;  // success
  }
}

}  // namespace

// ---- LogEvent -----------------------------------------------------------------------------

LogEvent::LogEvent(DWORD eventId, const GUID& source)
    : m_dwLevel(1),
      m_dwType(TypeFromSeverity(eventId)),
      m_dwCategory(eventId & 0xFF00u),
      m_dwEventId(eventId),
      m_source(source) {
  m_strings.reserve(8);
}

void LogEvent::AddString(const wchar_t* text) { m_strings.emplace_back(text ? text : L""); }

void LogEvent::AddFurtherString(const wchar_t* text) {
  m_furtherStrings.emplace_back(text ? text : L"");
}

// ---- CVDLog -------------------------------------------------------------------------------

CVDLog::CVDLog(platform::IPlatform& plat) : m_plat(plat), m_component(plat, CLSID_VDEventLog) {
  // The process's own view: a 32-bit agent reads the 32-bit key on 64-bit Windows.
  auto name = support::ReadString(plat.Registry(), HKEY_LOCAL_MACHINE, kEventLogKey,
                                  kDefaultSourceValue, 0, kMaxNameChars);
  m_sApplicationName = name && !name->empty() ? *name : kFallbackSourceName;
}

HRESULT CVDLog::Log(const LogEvent& event) {
  const std::size_t count = event.Strings().size() + event.FurtherStrings().size();
  std::vector<LPCWSTR> flat;
  if (count != 0) {
    try {
      flat.reserve(count);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    for (const auto& s : event.Strings()) flat.push_back(s.c_str());
    for (const auto& s : event.FurtherStrings()) flat.push_back(s.c_str());
  }
  return Log(event.Level(), event.Type(), event.Category(), event.EventId(),
             static_cast<DWORD>(count), count ? flat.data() : nullptr, event.Source());
}

HRESULT CVDLog::Log(DWORD level, DWORD type, DWORD category, DWORD eventId, DWORD count,
                    LPCWSTR* strings, const GUID& source) {
  VDTraceNS::CScope ts("CVDLog::Log");
  const std::wstring sourceText =
      support::GuidToString(source == GUID{} ? kVDEventSourceDefault : source);

  if (IsVistaOrLater()) {
    m_sApplicationName = sourceText;
  } else {
    // Older systems know sources by name: the name registered for this source, if any.
    auto& reg = m_plat.Registry();
    auto name = support::ReadString(reg, HKEY_LOCAL_MACHINE, kEventLogKey, sourceText.c_str(),
                                    support::SuiteView(reg), kMaxNameChars);
    // An empty name would report under no source at all: keep the one there is.
    if (name && !name->empty()) m_sApplicationName = *name;
  }
  ts.Msg("m_sApplicationName - %ls", m_sApplicationName.c_str());

  const HRESULT hr = Deliver(level, type, category, eventId, count, strings);
  if (SUCCEEDED(hr)) {
    std::wstring joined;
    for (DWORD i = 0; i < count && strings; ++i) {
      joined += strings[i] ? strings[i] : L"";
      joined += L"; ";
    }
    ts.Msg("Event logged; ID: 0x%08x, LEVEL: %u, TYPE: %u, STRINGS:%ls",
           static_cast<unsigned>(eventId), static_cast<unsigned>(level),
           static_cast<unsigned>(type), joined.c_str());
  }
  return hr;
}

bool CVDLog::IsVistaOrLater() {
  OSVERSIONINFOEXW vi{};
  vi.dwOSVersionInfoSize = sizeof(vi);
  return m_plat.Kernel().GetVersionExW(&vi) && vi.dwMajorVersion >= 6;
}

HRESULT CVDLog::Deliver(DWORD level, DWORD type, DWORD category, DWORD eventId, DWORD count,
                        LPCWSTR* strings) {
  VDTraceNS::CScope ts("_LogEvent");
  platform::ComPtr<IVDEventLog> writer;
  // A component that was not there is looked for again at the next event.
  const auto created = m_component.CreateInstance(ts, IID_IVDEventLog, writer.put_void());
  if (FAILED(created.hr)) return ts.Result(created.step, created.hr);

  HRESULT hr = writer->ReportEvent(m_sApplicationName.c_str(), level, type, category, eventId,
                                   count, strings, 0, nullptr);
  return ts.Result("ReportEvent", hr);
}
