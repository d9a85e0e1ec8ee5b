#include "auth/card_library.h"

#include <cstring>
#include <utility>

#include "support/delay_load.h"
#include "support/trace/trace.h"

namespace {

size_t IndexOf(const char* name) {
  for (size_t i = 0; i < kVDSCApiExportCount; ++i)
    if (std::strcmp(kVDSCApiExports[i], name) == 0) return i;
  return kVDSCApiExportCount;
}

}  // namespace

CVDSCApi::~CVDSCApi() {
  VDSCTerm();
  Unload();
}

template <typename Pfn>
Pfn CVDSCApi::Proc(const char* name) const {
  const size_t i = IndexOf(name);
  if (i >= m_procs.size() || !m_procs[i]) return nullptr;
  // Through void(*)(): every function-pointer type converts to and from it without a
  // cast-function-type warning.
  return reinterpret_cast<Pfn>(reinterpret_cast<void (*)()>(m_procs[i]));
}

HRESULT CVDSCApi::Load() {
  if (m_module) return S_FALSE;
  VDTraceNS::CScope ts("VDSCApi::Load");
  const std::wstring path = CDelayLoadLibrary::SystemDirectoryPath(m_plat, "VDSCApi.dll");
  HMODULE module = m_plat.Modules().LoadLibraryExW(path.c_str(), nullptr, 0);
  if (!module) {
    const DWORD err = m_plat.Kernel().GetLastError();
    return ts.Result("LoadLibrary", err ? HRESULT_FROM_WIN32(err) : E_FAIL);
  }
  m_module = module;
  for (size_t i = 0; i < kVDSCApiExportCount; ++i) {
    m_procs[i] = m_plat.Modules().GetProcAddress(module, kVDSCApiExports[i]);
    if (!m_procs[i]) {
      ts.Msg("Cannot get %s function", kVDSCApiExports[i]);
      Unload();
      return ts.Result("GetProcAddress", kProcNotFound);
    }
  }
  return S_OK;
}

void CVDSCApi::Unload() {
  m_procs.fill(nullptr);
  // Whatever initialisation the module had ends with it.
  m_initialised = false;
  if (HMODULE module = std::exchange(m_module, nullptr)) m_plat.Modules().FreeLibrary(module);
}

HRESULT CVDSCApi::VDSCInit(const VDSC_INIT* init) {
  auto fn = Proc<PFN_VDSCInit>("VDSCInit");
  if (!fn) return kIllegalMethodCall;
  const HRESULT hr = CDelayLoadLibrary::Guard([&] { return fn(init); });
  if (SUCCEEDED(hr)) m_initialised = true;
  return hr;
}

HRESULT CVDSCApi::VDSCTerm() {
  if (!m_initialised) return S_FALSE;
  auto fn = Proc<PFN_VDSCTerm>("VDSCTerm");
  if (!fn) return kIllegalMethodCall;
  m_initialised = false;
  return CDelayLoadLibrary::Guard([&] { return fn(); });
}

HRESULT CVDSCApi::VDSCGetCardInfo(LPCWSTR reader, BSTR* description, VDSC_CARD_INFO* info) {
  auto fn = Proc<PFN_VDSCGetCardInfo>("VDSCGetCardInfo");
  if (!fn) return kIllegalMethodCall;
  return CDelayLoadLibrary::Guard([&] { return fn(reader, description, info); });
}

HRESULT CVDSCApi::VDSCTokenIdentify(LPCWSTR reader, DWORD nameFormat, BSTR* userName) {
  auto fn = Proc<PFN_VDSCTokenIdentify>("VDSCTokenIdentify");
  if (!fn) return kIllegalMethodCall;
  return CDelayLoadLibrary::Guard([&] { return fn(reader, nameFormat, userName); });
}

HRESULT CVDSCApi::VDSCTokenAuthenticate(HVDFPAUTHENTICATION authentication, LPCWSTR reader,
                                        DWORD flags) {
  auto fn = Proc<PFN_VDSCTokenAuthenticate>("VDSCTokenAuthenticate");
  if (!fn) return kIllegalMethodCall;
  return CDelayLoadLibrary::Guard([&] { return fn(authentication, reader, flags); });
}
