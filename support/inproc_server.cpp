#include "support/inproc_server.h"

#include "platform/handles.h"
#include "support/guid_string.h"

namespace support {

namespace {

constexpr DWORD kMaxPathChars = 260;

// The calling thread's last error as a failing result, never as success.
HRESULT LastErrorResult(platform::IPlatform& plat) {
  const DWORD err = plat.Kernel().GetLastError();
  return err ? HRESULT_FROM_WIN32(err) : E_FAIL;
}

}  // namespace

HRESULT ReadInprocServerPath(platform::IPlatform& plat, const std::wstring& keyPath,
                             std::wstring& path) {
  auto& reg = plat.Registry();
  platform::UniqueHKey key(reg);
  LSTATUS st = reg.RegOpenKeyExW(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, KEY_READ, key.put());
  if (st != ERROR_SUCCESS) return HRESULT_FROM_WIN32(static_cast<DWORD>(st));
  wchar_t buf[kMaxPathChars + 1] = {};
  DWORD type = 0, size = kMaxPathChars * sizeof(wchar_t);
  st =
      reg.RegQueryValueExW(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
  if (st != ERROR_SUCCESS) return HRESULT_FROM_WIN32(static_cast<DWORD>(st));
  // COM itself accepts both string types for a server's path.
  if (type != REG_SZ && type != REG_EXPAND_SZ) return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  // The stored string need not be terminated; never read past what was returned.
  std::wstring value(buf, size / sizeof(wchar_t));
  while (!value.empty() && value.back() == L'\0') value.pop_back();
  if (value.empty()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  if (type == REG_EXPAND_SZ) {
    wchar_t expanded[kMaxPathChars + 1] = {};
    const DWORD n =
        plat.Kernel().ExpandEnvironmentStringsW(value.c_str(), expanded, kMaxPathChars + 1);
    if (n == 0 || n > kMaxPathChars + 1) return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    value = expanded;
  }
  path = std::move(value);
  return S_OK;
}

CInprocServer::CInprocServer(platform::IPlatform& plat, const GUID& clsid)
    : m_plat(plat), m_clsid(clsid) {}

CInprocServer::~CInprocServer() {
  if (m_hModule) m_plat.Modules().FreeLibrary(m_hModule);
}

CInprocServer::Result CInprocServer::Load(const VDTraceNS::CScope& ts) {
  if (m_hModule) return {S_OK, nullptr};
  std::wstring path;
  const std::wstring key = L"CLSID\\" + GuidToString(m_clsid) + L"\\InprocServer32";
  if (HRESULT hr = ReadInprocServerPath(m_plat, key, path); FAILED(hr))
    return {hr, "InprocServer32"};
  ts.Msg("Loading library <%ls>", path.c_str());
  m_hModule = m_plat.Modules().LoadLibraryExW(path.c_str(), nullptr, 0);
  if (!m_hModule) return {LastErrorResult(m_plat), "LoadLibrary"};
  return {S_OK, nullptr};
}

CInprocServer::Result CInprocServer::CreateInstance(const VDTraceNS::CScope& ts, REFIID iid,
                                                    void** ppv) {
  *ppv = nullptr;
  if (Result r = Load(ts); FAILED(r.hr)) return r;

  FARPROC proc = m_plat.Modules().GetProcAddress(m_hModule, "DllGetClassObject");
  if (!proc) return {LastErrorResult(m_plat), "DllGetClassObject"};
  // Through void(*)(): function pointers convert to and from it without a cast warning.
  auto getClassObject = reinterpret_cast<PFN_DLLGETCLASSOBJECT>(reinterpret_cast<void (*)()>(proc));

  platform::ComPtr<IClassFactory> factory;
  HRESULT hr = getClassObject(m_clsid, IID_IClassFactory, factory.put_void());
  if (FAILED(hr)) return {hr, "DllGetClassObject"};
  if (!factory) return {E_UNEXPECTED, "DllGetClassObject"};

  hr = factory->CreateInstance(nullptr, iid, ppv);
  if (FAILED(hr)) {
    *ppv = nullptr;
    return {hr, "CreateInstance"};
  }
  if (!*ppv) return {E_UNEXPECTED, "CreateInstance"};
  return {hr, nullptr};
}

}  // namespace support
