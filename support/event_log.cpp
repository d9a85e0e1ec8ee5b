#include "support/event_log.h"

#include <new>

#include "platform/handles.h"
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

// The default value of a key as a path: at most kMaxNameChars characters, REG_EXPAND_SZ
// expanded (COM itself accepts both types for a server's path).
HRESULT ReadServerPath(platform::IPlatform& plat, const std::wstring& keyPath, std::wstring& path) {
  auto& reg = plat.Registry();
  platform::UniqueHKey key(reg);
  LSTATUS st = reg.RegOpenKeyExW(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, KEY_READ, key.put());
  if (st != ERROR_SUCCESS) return HRESULT_FROM_WIN32(static_cast<DWORD>(st));
  wchar_t buf[kMaxNameChars + 1] = {};
  DWORD type = 0, size = kMaxNameChars * sizeof(wchar_t);
  st =
      reg.RegQueryValueExW(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
  if (st != ERROR_SUCCESS) return HRESULT_FROM_WIN32(static_cast<DWORD>(st));
  if (type != REG_SZ && type != REG_EXPAND_SZ) return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  // The stored string need not be terminated; never read past what was returned.
  std::wstring value(buf, size / sizeof(wchar_t));
  while (!value.empty() && value.back() == L'\0') value.pop_back();
  if (value.empty()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  if (type == REG_EXPAND_SZ) {
    wchar_t expanded[kMaxNameChars + 1] = {};
    const DWORD n =
        plat.Kernel().ExpandEnvironmentStringsW(value.c_str(), expanded, kMaxNameChars + 1);
    if (n == 0 || n > kMaxNameChars + 1) return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    value = expanded;
  }
  path = std::move(value);
  return S_OK;
}

// The calling thread's last error as a failing result, never as success.
HRESULT LastErrorResult(platform::IPlatform& plat) {
  const DWORD err = plat.Kernel().GetLastError();
  return err ? HRESULT_FROM_WIN32(err) : E_FAIL;
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

CVDLog::CVDLog(platform::IPlatform& plat) : m_plat(plat) {
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
  auto& modules = m_plat.Modules();
  if (!m_hComponent) {
    std::wstring path;
    const std::wstring key =
        L"CLSID\\" + support::GuidToString(CLSID_VDEventLog) + L"\\InprocServer32";
    if (HRESULT hr = ReadServerPath(m_plat, key, path); FAILED(hr))
      return ts.Result("InprocServer32", hr);
    // A component that was not there is looked for again at the next event.
    ts.Msg("Loading library <%ls>", path.c_str());
    m_hComponent = modules.LoadLibraryExW(path.c_str(), nullptr, 0);
    if (!m_hComponent) return ts.Result("LoadLibrary", LastErrorResult(m_plat));
  }

  FARPROC proc = modules.GetProcAddress(m_hComponent, "DllGetClassObject");
  if (!proc) return ts.Result("DllGetClassObject", LastErrorResult(m_plat));
  // Through void(*)(): function pointers convert to and from it without a cast warning.
  auto getClassObject = reinterpret_cast<PFN_DLLGETCLASSOBJECT>(reinterpret_cast<void (*)()>(proc));

  platform::ComPtr<IClassFactory> factory;
  HRESULT hr = getClassObject(CLSID_VDEventLog, IID_IClassFactory, factory.put_void());
  if (FAILED(hr)) return ts.Result("DllGetClassObject", hr);
  if (!factory) return ts.Result("DllGetClassObject", E_UNEXPECTED);

  platform::ComPtr<IVDEventLog> writer;
  hr = factory->CreateInstance(nullptr, IID_IVDEventLog, writer.put_void());
  if (FAILED(hr)) return ts.Result("CreateInstance", hr);
  if (!writer) return ts.Result("CreateInstance", E_UNEXPECTED);

  hr = writer->ReportEvent(m_sApplicationName.c_str(), level, type, category, eventId, count,
                           strings, 0, nullptr);
  return ts.Result("ReportEvent", hr);
}
