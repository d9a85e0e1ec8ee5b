#include "support/vdfp/vdfp_api.h"

#include "support/trace/trace.h"

namespace {

// Entry points by their number in the binding's import tables (traced when missing).
enum ApiIndex : int {
  kInit,
  kTerm,
  kCreateAcquisition,
  kStartAcquisition,
  kStopAcquisition,
  kDestroyAcquisition,
  kSetDeviceLED,
  kIdentify,
  kIdentifyUser,
  kGetAuthenticationInfo,
  kCreateAuthentication,
  kDestroyAuthentication,
  kTokenAuthenticate,
  kTokenEnum,
  kTokenGetInfo,
  kTokenIsEnrolled,
  kTokenIsEnrolledAsync,
  kAsyncDestroyCall,
  kTranslateName,
  kEnumerateDevices,
  kGetDeviceInfo,
  kAuthDomainEnum,
  kAuthDomainGetInfo,
  kGetPolicySettingsEx,
  kGetUserInfo,
  kReadProtectedData,
  kWriteProtectedData,
  kBufferAlloc,
  kBufferFree,
};
enum DialogIndex : int { kIdentifyUserUI2, kVerifyUserUI };

// Clears an out-parameter before the call, so a guarded failure never leaves garbage behind.
template <typename T>
void Clear(T* out) {
  if (out) *out = T{};
}

// Calls an entry point whose out-parameter is an untyped record pointer and hands the
// record back typed.
template <typename T, typename Call>
HRESULT WithRecord(T** ppInfo, Call&& call) {
  Clear(ppInfo);
  LPVOID p = nullptr;
  const HRESULT hr = call(ppInfo ? &p : nullptr);
  if (ppInfo) *ppInfo = static_cast<T*>(p);
  return hr;
}

}  // namespace

CVDFPApi::CVDFPApi(platform::IPlatform& plat)
    : m_plat(plat),
      m_lib(plat, kLibraryName, &CDelayLoadLibrary::SystemDirectoryPath),
      m_dialogs(plat, kDialogLibraryName, &CDelayLoadLibrary::SystemDirectoryPath) {}

HRESULT CVDFPApi::VDFPInit() { return m_lib.Call<PFN_VDFPINIT>("VDFPInit", kInit); }

HRESULT CVDFPApi::VDFPTerm() { return m_lib.Call<PFN_VDFPTERM>("VDFPTerm", kTerm); }

HRESULT CVDFPApi::VDFPCreateAcquisition(DWORD dwPurpose, const GUID& deviceId, DWORD dwNotify,
                                        HWND hWnd, UINT uMsg, HVDFPACQUISITION* phAcquisition) {
  Clear(phAcquisition);
  return m_lib.Call<PFN_VDFPCREATEACQUISITION>("VDFPCreateAcquisition", kCreateAcquisition,
                                               dwPurpose, &deviceId, dwNotify, hWnd, uMsg,
                                               phAcquisition);
}

HRESULT CVDFPApi::VDFPStartAcquisition(HVDFPACQUISITION hAcquisition) {
  return m_lib.Call<PFN_VDFPSTARTACQUISITION>("VDFPStartAcquisition", kStartAcquisition,
                                              hAcquisition);
}

HRESULT CVDFPApi::VDFPStopAcquisition(HVDFPACQUISITION hAcquisition) {
  return m_lib.Call<PFN_VDFPSTOPACQUISITION>("VDFPStopAcquisition", kStopAcquisition, hAcquisition);
}

HRESULT CVDFPApi::VDFPDestroyAcquisition(HVDFPACQUISITION hAcquisition) {
  return m_lib.Call<PFN_VDFPDESTROYACQUISITION>("VDFPDestroyAcquisition", kDestroyAcquisition,
                                                hAcquisition);
}

HRESULT CVDFPApi::VDFPSetDeviceLED(HVDFPACQUISITION hAcquisition, DWORD dwLedState) {
  return m_lib.Call<PFN_VDFPSETDEVICELED>("VDFPSetDeviceLED", kSetDeviceLED, hAcquisition,
                                          dwLedState);
}

HRESULT CVDFPApi::VDFPIdentify(VDFP_CAPTURE capture, LPWSTR* ppwszName, DWORD* pdwNameFormat) {
  Clear(ppwszName);
  Clear(pdwNameFormat);
  return m_lib.Call<PFN_VDFPIDENTIFY>("VDFPIdentify", kIdentify, capture, ppwszName, pdwNameFormat);
}

HRESULT CVDFPApi::VDFPIdentifyUser(VDFP_CAPTURE capture, LPCWSTR pwszName, DWORD dwNameFormat) {
  return m_lib.Call<PFN_VDFPIDENTIFYUSER>("VDFPIdentifyUser", kIdentifyUser, capture, pwszName,
                                          dwNameFormat);
}

HRESULT CVDFPApi::VDFPGetAuthenticationInfo(HVDFPAUTHENTICATION hAuthentication, DWORD dwInfoClass,
                                            VDFP_AUTHENTICATION_INFO_1** ppInfo) {
  return WithRecord(ppInfo, [&](LPVOID* out) {
    return m_lib.Call<PFN_VDFPGETAUTHENTICATIONINFO>(
        "VDFPGetAuthenticationInfo", kGetAuthenticationInfo, hAuthentication, dwInfoClass, out);
  });
}

HRESULT CVDFPApi::VDFPCreateAuthentication(LPCWSTR pwszName, DWORD dwNameFormat,
                                           HVDFPAUTHENTICATION* phAuthentication) {
  Clear(phAuthentication);
  return m_lib.Call<PFN_VDFPCREATEAUTHENTICATION>("VDFPCreateAuthentication", kCreateAuthentication,
                                                  pwszName, dwNameFormat, phAuthentication);
}

HRESULT CVDFPApi::VDFPDestroyAuthentication(HVDFPAUTHENTICATION hAuthentication) {
  return m_lib.Call<PFN_VDFPDESTROYAUTHENTICATION>("VDFPDestroyAuthentication",
                                                   kDestroyAuthentication, hAuthentication);
}

HRESULT CVDFPApi::VDFPTokenAuthenticate(const GUID& tokenType, HVDFPAUTHENTICATION hAuthentication,
                                        DWORD cbRequest, const BYTE* pbRequest, DWORD* pcbReply,
                                        BYTE** ppbReply) {
  Clear(pcbReply);
  Clear(ppbReply);
  return m_lib.Call<PFN_VDFPTOKENAUTHENTICATE>("VDFPTokenAuthenticate", kTokenAuthenticate,
                                               &tokenType, hAuthentication, cbRequest, pbRequest,
                                               pcbReply, ppbReply);
}

HRESULT CVDFPApi::VDFPTokenEnum(DWORD* pcTokens, GUID** ppTokens) {
  Clear(pcTokens);
  Clear(ppTokens);
  return m_lib.Call<PFN_VDFPTOKENENUM>("VDFPTokenEnum", kTokenEnum, pcTokens, ppTokens);
}

HRESULT CVDFPApi::VDFPTokenGetInfo(const GUID& tokenType, DWORD dwInfoClass,
                                   VDFP_TOKEN_INFO_1** ppInfo) {
  return WithRecord(ppInfo, [&](LPVOID* out) {
    return m_lib.Call<PFN_VDFPTOKENGETINFO>("VDFPTokenGetInfo", kTokenGetInfo, &tokenType,
                                            dwInfoClass, out);
  });
}

HRESULT CVDFPApi::VDFPTokenIsEnrolled(const GUID& tokenType, LPCWSTR pwszName, DWORD dwNameFormat) {
  return m_lib.Call<PFN_VDFPTOKENISENROLLED>("VDFPTokenIsEnrolled", kTokenIsEnrolled, &tokenType,
                                             pwszName, dwNameFormat);
}

HRESULT CVDFPApi::VDFPTokenIsEnrolledAsync(const GUID& tokenType, HWND hWnd, UINT uMsg,
                                           LPCWSTR pwszName, DWORD dwNameFormat,
                                           HVDFPASYNCCALL* phCall) {
  Clear(phCall);
  return m_lib.Call<PFN_VDFPTOKENISENROLLEDASYNC>("VDFPTokenIsEnrolledAsync", kTokenIsEnrolledAsync,
                                                  &tokenType, hWnd, uMsg, pwszName, dwNameFormat,
                                                  phCall);
}

HRESULT CVDFPApi::VDFPAsyncDestroyCall(HVDFPASYNCCALL hCall) {
  return m_lib.Call<PFN_VDFPASYNCDESTROYCALL>("VDFPAsyncDestroyCall", kAsyncDestroyCall, hCall);
}

HRESULT CVDFPApi::VDFPTranslateName(LPCWSTR pwszName, DWORD dwNameFormat, DWORD dwWantedFormat,
                                    LPWSTR* ppwszTranslated) {
  Clear(ppwszTranslated);
  return m_lib.Call<PFN_VDFPTRANSLATENAME>("VDFPTranslateName", kTranslateName, pwszName,
                                           dwNameFormat, dwWantedFormat, ppwszTranslated);
}

HRESULT CVDFPApi::VDFPEnumerateDevices(DWORD* pcDevices, VDFP_DEVICE_INFO** ppDevices) {
  Clear(pcDevices);
  Clear(ppDevices);
  return m_lib.Call<PFN_VDFPENUMERATEDEVICES>("VDFPEnumerateDevices", kEnumerateDevices, pcDevices,
                                              ppDevices);
}

HRESULT CVDFPApi::VDFPGetDeviceInfo(const GUID& deviceId, DWORD dwInfoClass, LPCWSTR pwszName,
                                    DWORD dwNameFormat, VDFP_DEVICE_USER_INFO_3** ppInfo) {
  return WithRecord(ppInfo, [&](LPVOID* out) {
    return m_lib.Call<PFN_VDFPGETDEVICEINFO>("VDFPGetDeviceInfo", kGetDeviceInfo, &deviceId,
                                             dwInfoClass, pwszName, dwNameFormat, out);
  });
}

HRESULT CVDFPApi::VDFPAuthDomainEnum(DWORD* pcDomains, LPWSTR** pppwszNames) {
  Clear(pcDomains);
  Clear(pppwszNames);
  return m_lib.Call<PFN_VDFPAUTHDOMAINENUM>("VDFPAuthDomainEnum", kAuthDomainEnum, pcDomains,
                                            pppwszNames);
}

HRESULT CVDFPApi::VDFPAuthDomainGetInfo(LPCWSTR pwszDomain, DWORD dwInfoClass,
                                        VDFP_AUTH_DOMAIN_INFO_0** ppInfo) {
  return WithRecord(ppInfo, [&](LPVOID* out) {
    return m_lib.Call<PFN_VDFPAUTHDOMAINGETINFO>("VDFPAuthDomainGetInfo", kAuthDomainGetInfo,
                                                 pwszDomain, dwInfoClass, out);
  });
}

HRESULT CVDFPApi::VDFPGetPolicySettingsEx(DWORD cItems, VDFP_POLICY_ITEM* pItems) {
  return m_lib.Call<PFN_VDFPGETPOLICYSETTINGSEX>("VDFPGetPolicySettingsEx", kGetPolicySettingsEx,
                                                 cItems, pItems);
}

HRESULT CVDFPApi::VDFPGetUserInfo(LPCWSTR pwszName, DWORD dwNameFormat, DWORD dwInfoClass,
                                  VDFP_USER_INFO_4** ppInfo) {
  return WithRecord(ppInfo, [&](LPVOID* out) {
    return m_lib.Call<PFN_VDFPGETUSERINFO>("VDFPGetUserInfo", kGetUserInfo, pwszName, dwNameFormat,
                                           dwInfoClass, out);
  });
}

HRESULT CVDFPApi::VDFPReadProtectedData(LPCWSTR pwszSlot, const VDFP_DATA_BLOB* pEntropy,
                                        DWORD dwFlags, VDFP_DATA_BLOB* pData) {
  if (pData) *pData = VDFP_DATA_BLOB{0, nullptr};
  return m_lib.Call<PFN_VDFPREADPROTECTEDDATA>("VDFPReadProtectedData", kReadProtectedData,
                                               pwszSlot, pEntropy, dwFlags, pData);
}

HRESULT CVDFPApi::VDFPWriteProtectedData(LPCWSTR pwszSlot, const VDFP_DATA_BLOB* pEntropy,
                                         DWORD dwFlags, const VDFP_DATA_BLOB* pData) {
  return m_lib.Call<PFN_VDFPWRITEPROTECTEDDATA>("VDFPWriteProtectedData", kWriteProtectedData,
                                                pwszSlot, pEntropy, dwFlags, pData);
}

HRESULT CVDFPApi::VDFPIdentifyUserUI2(HWND hWndParent, DWORD dwFlags, DWORD dwReserved,
                                      LPCWSTR pwszCaption, LPCWSTR pwszText, LPWSTR* ppwszSamName,
                                      HVDFPAUTHENTICATION* phAuthentication) {
  Clear(ppwszSamName);
  Clear(phAuthentication);
  return m_dialogs.Call<PFN_VDFPIDENTIFYUSERUI2>("VDFPIdentifyUserUI2", kIdentifyUserUI2,
                                                 hWndParent, dwFlags, dwReserved, pwszCaption,
                                                 pwszText, ppwszSamName, phAuthentication);
}

HRESULT CVDFPApi::VDFPVerifyUserUI(HWND hWndParent, DWORD dwFlags, DWORD dwReserved,
                                   HVDFPAUTHENTICATION hAuthentication) {
  return m_dialogs.Call<PFN_VDFPVERIFYUSERUI>("VDFPVerifyUserUI", kVerifyUserUI, hWndParent,
                                              dwFlags, dwReserved, hAuthentication);
}

LPVOID CVDFPApi::VDFPBufferAlloc(SIZE_T cb) {
  LPVOID p = nullptr;
  m_lib.Guard([&]() -> HRESULT {
    p = m_lib.Resolve<PFN_VDFPBUFFERALLOC>("VDFPBufferAlloc", kBufferAlloc)(cb);
    return p ? S_OK : E_OUTOFMEMORY;
  });
  return p;
}

void CVDFPApi::VDFPBufferFree(LPVOID pv) {
  // Nothing to give back: the library (which accepts null) need not even be loaded.
  if (!pv) return;
  m_lib.Guard([&]() -> HRESULT {
    m_lib.Resolve<PFN_VDFPBUFFERFREE>("VDFPBufferFree", kBufferFree)(pv);
    return S_OK;
  });
}

// ---- CVDFPApiWr ---------------------------------------------------------------------------

template <typename Pfn>
Pfn CVDFPApiWr::Get(const char* name) {
  FARPROC p = m_plat.Modules().GetProcAddress(m_module, name);
  return reinterpret_cast<Pfn>(reinterpret_cast<void (*)()>(p));
}

CVDFPApiWr::CVDFPApiWr(platform::IPlatform& plat) : m_plat(plat) {
  VDTraceNS::CScope ts("CVDFPApiWr::CVDFPApiWr");
  const std::wstring path = CDelayLoadLibrary::SystemDirectoryPath(plat, CVDFPApi::kLibraryName);
  m_module = plat.Modules().LoadLibraryExW(path.c_str(), nullptr, 0);
  if (!m_module) {
    ts.Result("LoadLibrary", HRESULT_FROM_WIN32(plat.Kernel().GetLastError()));
    return;
  }
  if (auto init = Get<PFN_VDFPINIT>("VDFPInit")) {
    m_initResult = CDelayLoadLibrary::Guard([&] { return init(); });
    ts.Result("VDFPInit", m_initResult);
  }
  m_getPolicySettingsEx = Get<PFN_VDFPGETPOLICYSETTINGSEX>("VDFPGetPolicySettingsEx");
  m_bufferAlloc = Get<PFN_VDFPBUFFERALLOC>("VDFPBufferAlloc");
  m_bufferFree = Get<PFN_VDFPBUFFERFREE>("VDFPBufferFree");
  m_term = Get<PFN_VDFPTERM>("VDFPTerm");
}

CVDFPApiWr::~CVDFPApiWr() {
  // Term balances our own Init only: a Term after a failed Init would end an initialisation
  // that another part of the process holds.
  if (SUCCEEDED(m_initResult) && m_term) CDelayLoadLibrary::Guard([&] { return m_term(); });
  if (m_module) m_plat.Modules().FreeLibrary(m_module);
}

HRESULT CVDFPApiWr::VDFPGetPolicySettingsEx(DWORD cItems, VDFP_POLICY_ITEM* pItems) {
  if (!m_getPolicySettingsEx) return E_NOTIMPL;
  return CDelayLoadLibrary::Guard([&] { return m_getPolicySettingsEx(cItems, pItems); });
}

LPVOID CVDFPApiWr::VDFPBufferAlloc(SIZE_T cb) {
  if (!m_bufferAlloc) return nullptr;
  LPVOID p = nullptr;
  CDelayLoadLibrary::Guard([&]() -> HRESULT {
    p = m_bufferAlloc(cb);
    return S_OK;
  });
  return p;
}

void CVDFPApiWr::VDFPBufferFree(LPVOID pv) {
  if (!pv || !m_bufferFree) return;
  CDelayLoadLibrary::Guard([&]() -> HRESULT {
    m_bufferFree(pv);
    return S_OK;
  });
}
