#include "platform/sim/process_com.h"

#include <atomic>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <optional>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "platform/sim/class_objects.h"
#include "platform/sim/process_modules.h"

namespace sim {

ProcessCom::ProcessCom(Process& p) : m_process(p) {}

HRESULT ProcessCom::CoInitializeEx(LPVOID, DWORD dwCoInit) {
  const bool sta = (dwCoInit & COINIT_APARTMENTTHREADED) != 0;
  const DWORD tid = m_process.GetMachine().CurrentThreadId();
  std::lock_guard lk(m_mu);
  auto [it, added] = m_apartments.try_emplace(tid, Apartment{sta, 0});
  if (!added && it->second.count > 0 && it->second.singleThreaded != sta)
    return RPC_E_CHANGED_MODE;  // the thread keeps its apartment; nothing to balance
  if (it->second.count == 0) it->second.singleThreaded = sta;
  return it->second.count++ == 0 ? S_OK : S_FALSE;
}

void ProcessCom::CoUninitialize() {
  const DWORD tid = m_process.GetMachine().CurrentThreadId();
  std::lock_guard lk(m_mu);
  auto it = m_apartments.find(tid);
  if (it == m_apartments.end()) return;  // an unbalanced call does nothing
  if (--it->second.count <= 0) m_apartments.erase(it);
}

int ProcessCom::InitCount() const {
  const DWORD tid = m_process.GetMachine().CurrentThreadId();
  std::lock_guard lk(m_mu);
  auto it = m_apartments.find(tid);
  return it == m_apartments.end() ? 0 : it->second.count;
}

namespace {
std::atomic<long> g_liveStrings{0};
}  // namespace

// As OLEAUT32 lays them out: the byte length in front of the characters, NUL after them.
BSTR ProcessCom::SysAllocString(const OLECHAR* psz) {
  if (!psz) return nullptr;
  const size_t n = std::wcslen(psz);
  auto* block = new std::byte[sizeof(std::uint32_t) + (n + 1) * sizeof(OLECHAR)];
  const auto bytes = static_cast<std::uint32_t>(n * sizeof(OLECHAR));
  std::memcpy(block, &bytes, sizeof bytes);
  auto* text = reinterpret_cast<OLECHAR*>(block + sizeof(std::uint32_t));
  std::memcpy(text, psz, (n + 1) * sizeof(OLECHAR));
  ++g_liveStrings;
  return text;
}

void ProcessCom::SysFreeString(BSTR bstr) {
  if (!bstr) return;
  --g_liveStrings;
  delete[](reinterpret_cast<std::byte*>(bstr) - sizeof(std::uint32_t));
}

UINT ProcessCom::SysStringLen(BSTR bstr) {
  if (!bstr) return 0;
  std::uint32_t bytes = 0;
  std::memcpy(&bytes, reinterpret_cast<std::byte*>(bstr) - sizeof(std::uint32_t), sizeof bytes);
  return bytes / sizeof(OLECHAR);
}

long ProcessCom::LiveStrings() { return g_liveStrings.load(); }

}  // namespace sim

namespace sim {

// ---- Dates ----
// Every simulated user's locale is US English: month/day/year, and the ISO order year first.

namespace {

#ifndef VAR_TIMEVALUEONLY
#define VAR_TIMEVALUEONLY 0x00000001
#endif

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's civil-days algorithm).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

struct Number {
  int value;
  size_t digits;
};

// Reads a run of decimal digits at `pos`; none when there is no digit or it is absurdly long.
std::optional<Number> ReadNumber(const std::wstring& s, size_t& pos) {
  const size_t start = pos;
  int v = 0;
  while (pos < s.size() && s[pos] >= L'0' && s[pos] <= L'9') {
    if (pos - start >= 5) return std::nullopt;
    v = v * 10 + (s[pos] - L'0');
    ++pos;
  }
  if (pos == start) return std::nullopt;
  return Number{v, pos - start};
}

void SkipSpaces(const std::wstring& s, size_t& pos) {
  while (pos < s.size() && std::iswspace(s[pos])) ++pos;
}

// Two-digit years fall in 1950..2049, the OLE automation default window.
int FullYear(const Number& y) {
  if (y.digits > 2) return y.value;
  return y.value < 50 ? 2000 + y.value : 1900 + y.value;
}

// "YYYY-MM-DD", "YYYY/MM/DD", "M/D/YYYY", "M-D-YYYY" (two-digit years too), optionally
// followed by "H:MM" or "H:MM:SS" and "AM"/"PM". The date as days since 1899-12-30 and the
// time as a fraction of a day.
std::optional<std::pair<long long, double>> ParseUsDate(const std::wstring& text) {
  size_t pos = 0;
  SkipSpaces(text, pos);
  Number parts[3];
  wchar_t sep = 0;
  for (int i = 0; i < 3; ++i) {
    if (i > 0) {
      if (pos >= text.size() || (text[pos] != L'-' && text[pos] != L'/')) return std::nullopt;
      if (sep && text[pos] != sep) return std::nullopt;
      sep = text[pos++];
    }
    auto n = ReadNumber(text, pos);
    if (!n) return std::nullopt;
    parts[i] = *n;
  }
  int year, month, day;
  if (parts[0].digits >= 3) {
    year = parts[0].value, month = parts[1].value, day = parts[2].value;
  } else {
    month = parts[0].value, day = parts[1].value, year = FullYear(parts[2]);
  }
  if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    return std::nullopt;

  double time = 0;
  SkipSpaces(text, pos);
  if (pos < text.size()) {
    auto h = ReadNumber(text, pos);
    if (!h || pos >= text.size() || text[pos] != L':') return std::nullopt;
    ++pos;
    auto m = ReadNumber(text, pos);
    if (!m) return std::nullopt;
    int seconds = 0;
    if (pos < text.size() && text[pos] == L':') {
      ++pos;
      auto sec = ReadNumber(text, pos);
      if (!sec || sec->value > 59) return std::nullopt;
      seconds = sec->value;
    }
    int hour = h->value;
    SkipSpaces(text, pos);
    if (pos + 1 < text.size() && std::towupper(text[pos + 1]) == L'M' &&
        (std::towupper(text[pos]) == L'A' || std::towupper(text[pos]) == L'P')) {
      if (hour < 1 || hour > 12) return std::nullopt;
      const bool pm = std::towupper(text[pos]) == L'P';
      hour = hour % 12 + (pm ? 12 : 0);
      pos += 2;
      SkipSpaces(text, pos);
    }
    if (hour > 23 || m->value > 59 || pos != text.size()) return std::nullopt;
    time = (hour * 3600.0 + m->value * 60.0 + seconds) / 86400.0;
  }
  const long long days =
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
      DaysFromCivil(1899, 12, 30);
  return std::make_pair(days, time);
}

}  // namespace

HRESULT ProcessCom::VarDateFromStr(LPCOLESTR strIn, LCID, ULONG dwFlags, DATE* pdateOut) {
  if (!pdateOut) return E_INVALIDARG;
  if (!strIn) return DISP_E_TYPEMISMATCH;
  auto parsed = ParseUsDate(strIn);
  if (!parsed) return DISP_E_TYPEMISMATCH;
  auto [days, time] = *parsed;
  if (dwFlags & VAR_DATEVALUEONLY) time = 0;
  if (dwFlags & VAR_TIMEVALUEONLY) days = 0;
  // Before 1899-12-30 the day counts down while the time of day still counts up.
  const auto d = static_cast<double>(days);
  *pdateOut = d < 0 ? d - time : d + time;
  return S_OK;
}

// ---- Class objects ----

bool ProcessCom::InApartment() const {
  const DWORD tid = m_process.GetMachine().CurrentThreadId();
  std::lock_guard lk(m_mu);
  if (auto it = m_apartments.find(tid); it != m_apartments.end() && it->second.count > 0)
    return true;
  // A thread that never entered an apartment belongs to the process's multithreaded one
  // while some other thread keeps it open.
  for (const auto& [id, apt] : m_apartments) {
    if (apt.count > 0 && !apt.singleThreaded) return true;
  }
  return false;
}

HRESULT ProcessCom::CoRegisterClassObject(REFCLSID rclsid, IUnknown* pUnk, DWORD dwClsContext,
                                          DWORD flags, LPDWORD lpdwRegister) {
  if (!pUnk || !lpdwRegister) return E_INVALIDARG;
  *lpdwRegister = 0;
  if (!InApartment()) return CO_E_NOTINITIALIZED;
  *lpdwRegister = m_process.GetMachine().ClassObjects().Register(rclsid, pUnk, dwClsContext, flags,
                                                                 m_process.Pid());
  return S_OK;
}

HRESULT ProcessCom::CoRevokeClassObject(DWORD dwRegister) {
  if (!InApartment()) return CO_E_NOTINITIALIZED;
  return m_process.GetMachine().ClassObjects().Revoke(dwRegister, m_process.Pid()) ? S_OK
                                                                                   : CO_E_OBJNOTREG;
}

namespace {

// A new object from a class object: through its IClassFactory, as COM asks every server.
HRESULT CreateFrom(IUnknown* classObject, IUnknown* outer, REFIID riid, LPVOID* ppv) {
  platform::ComPtr<IUnknown> holder;
  *holder.put_void() = classObject;  // the reference Find gave us
  platform::ComPtr<IClassFactory> factory;
  HRESULT hr = classObject->QueryInterface(IID_IClassFactory, factory.put_void());
  if (FAILED(hr)) return hr;
  if (!factory) return E_NOINTERFACE;
  hr = factory->CreateInstance(outer, riid, ppv);
  if (FAILED(hr)) *ppv = nullptr;
  return hr;
}

std::wstring ClsidKey(const CLSID& c) {
  wchar_t buf[64];
  std::swprintf(buf, 64, L"CLSID\\{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(c.Data1), c.Data2, c.Data3, c.Data4[0], c.Data4[1],
                c.Data4[2], c.Data4[3], c.Data4[4], c.Data4[5], c.Data4[6], c.Data4[7]);
  return buf;
}

}  // namespace

// The server DLL named under HKCR\CLSID\{clsid}\InprocServer32, loaded once per process and
// kept loaded (COM unloads servers only when asked to), and its class object.
HRESULT ProcessCom::InprocClassObject(REFCLSID rclsid, IUnknown** object) {
  *object = nullptr;
  platform::IRegistry& reg = m_process.Registry();
  platform::UniqueHKey key(reg);
  const std::wstring path = ClsidKey(rclsid) + L"\\InprocServer32";
  if (reg.RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
    return REGDB_E_CLASSNOTREG;
  wchar_t buf[MAX_PATH + 1] = {};
  DWORD type = 0, size = MAX_PATH * sizeof(wchar_t);
  if (reg.RegQueryValueExW(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buf),
                           &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ) || buf[0] == L'\0')
    return REGDB_E_CLASSNOTREG;
  std::wstring dll = buf;
  if (type == REG_EXPAND_SZ) {
    wchar_t expanded[MAX_PATH + 1] = {};
    const DWORD n = m_process.Kernel().ExpandEnvironmentStringsW(buf, expanded, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH + 1) return REGDB_E_CLASSNOTREG;
    dll = expanded;
  }

  HMODULE module = nullptr;
  {
    std::lock_guard lk(m_mu);
    if (auto it = m_servers.find(dll); it != m_servers.end()) module = it->second;
  }
  auto& modules = m_process.Modules();
  if (!module) {
    module = modules.LoadLibraryExW(dll.c_str(), nullptr, 0);
    if (!module) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    std::lock_guard lk(m_mu);
    auto [it, added] = m_servers.try_emplace(dll, module);
    if (!added) {
      modules.FreeLibrary(module);  // another thread loaded it meanwhile
      module = it->second;
    }
  }
  FARPROC proc = modules.GetProcAddress(module, "DllGetClassObject");
  if (!proc) return CO_E_ERRORINDLL;
  auto get = reinterpret_cast<PFN_DLLGETCLASSOBJECT>(reinterpret_cast<void (*)()>(proc));
  HRESULT hr = get(rclsid, IID_IClassFactory, reinterpret_cast<void**>(object));
  if (FAILED(hr)) {
    *object = nullptr;
    return hr;
  }
  return *object ? S_OK : E_UNEXPECTED;
}

HRESULT ProcessCom::CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext,
                                     REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!InApartment()) return CO_E_NOTINITIALIZED;
  auto& table = m_process.GetMachine().ClassObjects();
  const DWORD pid = m_process.Pid();
  // The process's own registrations come first, whatever context they serve.
  if (IUnknown* own = table.Find(rclsid, dwClsContext, pid, ClassObjectTable::Owner::ThisProcess))
    return CreateFrom(own, pUnkOuter, riid, ppv);
  if (dwClsContext & CLSCTX_INPROC_SERVER) {
    IUnknown* object = nullptr;
    const HRESULT hr = InprocClassObject(rclsid, &object);
    if (SUCCEEDED(hr)) return CreateFrom(object, pUnkOuter, riid, ppv);
    if (hr != REGDB_E_CLASSNOTREG) return hr;
    const HRESULT system = CreateSystemObject(rclsid, pUnkOuter, riid, ppv);
    if (system != REGDB_E_CLASSNOTREG) return system;
  }
  if (dwClsContext & CLSCTX_LOCAL_SERVER) {
    if (IUnknown* other =
            table.Find(rclsid, CLSCTX_LOCAL_SERVER, pid, ClassObjectTable::Owner::OtherProcess)) {
      // An object in another process cannot be part of one in this process.
      if (pUnkOuter) {
        other->Release();
        return CLASS_E_NOAGGREGATION;
      }
      return CreateFrom(other, nullptr, riid, ppv);
    }
  }
  return REGDB_E_CLASSNOTREG;
}

ProcessCom::~ProcessCom() { m_process.GetMachine().ClassObjects().RevokeProcess(m_process.Pid()); }

}  // namespace sim
