// The agent's binding of the authentication client library (VDFPApi.dll, dialogs in
// VDFPApiUI.dll, both from the system directory). One per agent process; both libraries are
// loaded on the first call that needs them and every call is guarded (support/delay_load.h):
// a missing library gives 0x8007007E, a missing entry point 0x8007007F, and the agent goes on.
//
//   CVDFPApi& api = process.AuthLibrary();
//   CVDFPString name(api);
//   DWORD format = 0;
//   if (api.VDFPIdentify(capture, name.put(), &format) == S_OK && name) { ... name.get() ... }
//   // name is released with VDFPBufferFree here, also when the call failed
//
// Ownership: every buffer the library returns goes back through VDFPBufferFree (use the
// owners below), except the VDFPTokenAuthenticate reply, which goes back to the process heap
// (CVDFPApi::FreeTokenAuthenticateReply, or CTokenAuthenticateReply).
#pragma once

#include <utility>

#include "platform/platform.h"
#include "support/delay_load.h"
#include "support/vdfp/vdfpapi_types.h"

class CVDFPApi {
 public:
  explicit CVDFPApi(platform::IPlatform& plat);
  CVDFPApi(const CVDFPApi&) = delete;
  CVDFPApi& operator=(const CVDFPApi&) = delete;

  // The process's platform, for the value types that travel with the binding.
  platform::IPlatform& Platform() const { return m_plat; }

  static constexpr const char* kLibraryName = "VDFPApi.dll";
  static constexpr const char* kDialogLibraryName = "VDFPApiUI.dll";

  HRESULT VDFPInit();
  // Only after a successful VDFPInit (else 0x800706B3).
  HRESULT VDFPTerm();

  HRESULT VDFPCreateAcquisition(DWORD dwPurpose, const GUID& deviceId, DWORD dwNotify, HWND hWnd,
                                UINT uMsg, HVDFPACQUISITION* phAcquisition);
  HRESULT VDFPStartAcquisition(HVDFPACQUISITION hAcquisition);
  HRESULT VDFPStopAcquisition(HVDFPACQUISITION hAcquisition);
  HRESULT VDFPDestroyAcquisition(HVDFPACQUISITION hAcquisition);
  HRESULT VDFPSetDeviceLED(HVDFPACQUISITION hAcquisition, DWORD dwLedState);

  HRESULT VDFPIdentify(VDFP_CAPTURE capture, LPWSTR* ppwszName, DWORD* pdwNameFormat);
  HRESULT VDFPIdentifyUser(VDFP_CAPTURE capture, LPCWSTR pwszName, DWORD dwNameFormat);

  HRESULT VDFPGetAuthenticationInfo(HVDFPAUTHENTICATION hAuthentication, DWORD dwInfoClass,
                                    VDFP_AUTHENTICATION_INFO_1** ppInfo);
  HRESULT VDFPCreateAuthentication(LPCWSTR pwszName, DWORD dwNameFormat,
                                   HVDFPAUTHENTICATION* phAuthentication);
  HRESULT VDFPDestroyAuthentication(HVDFPAUTHENTICATION hAuthentication);
  // The reply is released with FreeTokenAuthenticateReply, not VDFPBufferFree.
  HRESULT VDFPTokenAuthenticate(const GUID& tokenType, HVDFPAUTHENTICATION hAuthentication,
                                DWORD cbRequest, const BYTE* pbRequest, DWORD* pcbReply,
                                BYTE** ppbReply);

  HRESULT VDFPTokenEnum(DWORD* pcTokens, GUID** ppTokens);
  HRESULT VDFPTokenGetInfo(const GUID& tokenType, DWORD dwInfoClass, VDFP_TOKEN_INFO_1** ppInfo);
  HRESULT VDFPTokenIsEnrolled(const GUID& tokenType, LPCWSTR pwszName, DWORD dwNameFormat);
  HRESULT VDFPTokenIsEnrolledAsync(const GUID& tokenType, HWND hWnd, UINT uMsg, LPCWSTR pwszName,
                                   DWORD dwNameFormat, HVDFPASYNCCALL* phCall);
  HRESULT VDFPAsyncDestroyCall(HVDFPASYNCCALL hCall);

  HRESULT VDFPTranslateName(LPCWSTR pwszName, DWORD dwNameFormat, DWORD dwWantedFormat,
                            LPWSTR* ppwszTranslated);

  HRESULT VDFPEnumerateDevices(DWORD* pcDevices, VDFP_DEVICE_INFO** ppDevices);
  HRESULT VDFPGetDeviceInfo(const GUID& deviceId, DWORD dwInfoClass, LPCWSTR pwszName,
                            DWORD dwNameFormat, VDFP_DEVICE_USER_INFO_3** ppInfo);
  HRESULT VDFPAuthDomainEnum(DWORD* pcDomains, LPWSTR** pppwszNames);
  HRESULT VDFPAuthDomainGetInfo(LPCWSTR pwszDomain, DWORD dwInfoClass,
                                VDFP_AUTH_DOMAIN_INFO_0** ppInfo);

  HRESULT VDFPGetPolicySettingsEx(DWORD cItems, VDFP_POLICY_ITEM* pItems);
  HRESULT VDFPGetUserInfo(LPCWSTR pwszName, DWORD dwNameFormat, DWORD dwInfoClass,
                          VDFP_USER_INFO_4** ppInfo);

  HRESULT VDFPReadProtectedData(LPCWSTR pwszSlot, const VDFP_DATA_BLOB* pEntropy, DWORD dwFlags,
                                VDFP_DATA_BLOB* pData);
  HRESULT VDFPWriteProtectedData(LPCWSTR pwszSlot, const VDFP_DATA_BLOB* pEntropy, DWORD dwFlags,
                                 const VDFP_DATA_BLOB* pData);

  // The dialogs (VDFPApiUI.dll).
  HRESULT VDFPIdentifyUserUI2(HWND hWndParent, DWORD dwFlags, DWORD dwReserved, LPCWSTR pwszCaption,
                              LPCWSTR pwszText, LPWSTR* ppwszSamName,
                              HVDFPAUTHENTICATION* phAuthentication);
  HRESULT VDFPVerifyUserUI(HWND hWndParent, DWORD dwFlags, DWORD dwReserved,
                           HVDFPAUTHENTICATION hAuthentication);

  // Null when the library or the entry point is missing, or out of memory.
  LPVOID VDFPBufferAlloc(SIZE_T cb);
  // Null is accepted. A missing library is traced by the guard; nothing else happens.
  void VDFPBufferFree(LPVOID pv);

  // Releases a VDFPTokenAuthenticate reply (process heap). Null is accepted.
  static void FreeTokenAuthenticateReply(LPVOID pv) { VDFPProcessHeapFree(pv); }

 private:
  platform::IPlatform& m_plat;
  CDelayLoadLibrary m_lib;
  CDelayLoadLibrary m_dialogs;
};

// Owns one library buffer and releases it with VDFPBufferFree.
//
//   CVDFPBuffer<VDFP_TOKEN_INFO_1> info(api);
//   if (SUCCEEDED(api.VDFPTokenGetInfo(token, 1, info.put())) && info) mask = info->...;
template <typename T>
class CVDFPBuffer {
 public:
  explicit CVDFPBuffer(CVDFPApi& api, T* p = nullptr) : m_api(&api), m_p(p) {}
  CVDFPBuffer(const CVDFPBuffer&) = delete;
  CVDFPBuffer& operator=(const CVDFPBuffer&) = delete;
  CVDFPBuffer(CVDFPBuffer&& o) noexcept : m_api(o.m_api), m_p(o.release()) {}
  CVDFPBuffer& operator=(CVDFPBuffer&& o) noexcept {
    if (this != &o) {
      reset(o.release());
      m_api = o.m_api;
    }
    return *this;
  }
  ~CVDFPBuffer() { reset(); }

  T* get() const { return m_p; }
  T* operator->() const { return m_p; }
  T& operator[](std::size_t i) const { return m_p[i]; }
  explicit operator bool() const { return m_p != nullptr; }
  T* release() { return std::exchange(m_p, nullptr); }
  void reset(T* p = nullptr) {
    if (T* old = std::exchange(m_p, p)) m_api->VDFPBufferFree(old);
  }
  // For out-parameters: releases what is held and hands out the slot.
  T** put() {
    reset();
    return &m_p;
  }

 private:
  CVDFPApi* m_api;
  T* m_p;
};

using CVDFPString = CVDFPBuffer<WCHAR>;

// Owns the payload of a protected-data read and releases it with VDFPBufferFree.
class CVDFPBlob {
 public:
  explicit CVDFPBlob(CVDFPApi& api) : m_api(&api) {}
  CVDFPBlob(const CVDFPBlob&) = delete;
  CVDFPBlob& operator=(const CVDFPBlob&) = delete;
  ~CVDFPBlob() { reset(); }
  const BYTE* data() const { return m_blob.pbData; }
  DWORD size() const { return m_blob.pbData ? m_blob.cbData : 0; }
  void reset() {
    if (BYTE* old = std::exchange(m_blob.pbData, nullptr)) m_api->VDFPBufferFree(old);
    m_blob.cbData = 0;
  }
  // For the out-parameter of VDFPReadProtectedData: releases what is held.
  VDFP_DATA_BLOB* put() {
    reset();
    return &m_blob;
  }

 private:
  CVDFPApi* m_api;
  VDFP_DATA_BLOB m_blob{0, nullptr};
};

// Owns a VDFPTokenAuthenticate reply and releases it on the process heap.
class CTokenAuthenticateReply {
 public:
  CTokenAuthenticateReply() = default;
  CTokenAuthenticateReply(const CTokenAuthenticateReply&) = delete;
  CTokenAuthenticateReply& operator=(const CTokenAuthenticateReply&) = delete;
  ~CTokenAuthenticateReply() { reset(); }
  const BYTE* get() const { return m_p; }
  DWORD size() const { return m_p ? m_cb : 0; }
  void reset() {
    CVDFPApi::FreeTokenAuthenticateReply(std::exchange(m_p, nullptr));
    m_cb = 0;
  }
  BYTE** put() {
    reset();
    return &m_p;
  }
  DWORD* putSize() { return &m_cb; }

 private:
  BYTE* m_p = nullptr;
  DWORD m_cb = 0;
};

// Owns an authentication operation and destroys it (VDFPDestroyAuthentication).
class CVDFPAuthentication {
 public:
  explicit CVDFPAuthentication(CVDFPApi& api, HVDFPAUTHENTICATION h = nullptr)
      : m_api(&api), m_h(h) {}
  CVDFPAuthentication(const CVDFPAuthentication&) = delete;
  CVDFPAuthentication& operator=(const CVDFPAuthentication&) = delete;
  CVDFPAuthentication(CVDFPAuthentication&& o) noexcept : m_api(o.m_api), m_h(o.release()) {}
  CVDFPAuthentication& operator=(CVDFPAuthentication&& o) noexcept {
    if (this != &o) {
      reset(o.release());
      m_api = o.m_api;
    }
    return *this;
  }
  ~CVDFPAuthentication() { reset(); }
  HVDFPAUTHENTICATION get() const { return m_h; }
  explicit operator bool() const { return m_h != nullptr; }
  HVDFPAUTHENTICATION release() { return std::exchange(m_h, nullptr); }
  void reset(HVDFPAUTHENTICATION h = nullptr) {
    if (HVDFPAUTHENTICATION old = std::exchange(m_h, h)) m_api->VDFPDestroyAuthentication(old);
  }
  HVDFPAUTHENTICATION* put() {
    reset();
    return &m_h;
  }

 private:
  CVDFPApi* m_api;
  HVDFPAUTHENTICATION m_h;
};

// The settings reader's own binding (one per settings object, built on the stack): loads
// VDFPApi.dll from the system directory, initialises it, and resolves the policy query and the
// buffer functions. Its destructor ends the library (only when Init succeeded) and unloads it.
// A missing entry point makes its call report E_NOTIMPL (the buffer functions: null, nothing).
class CVDFPApiWr {
 public:
  explicit CVDFPApiWr(platform::IPlatform& plat);
  ~CVDFPApiWr();
  CVDFPApiWr(const CVDFPApiWr&) = delete;
  CVDFPApiWr& operator=(const CVDFPApiWr&) = delete;

  // The result of loading and initialising (E_NOTIMPL without library or VDFPInit).
  HRESULT InitResult() const { return m_initResult; }

  HRESULT VDFPGetPolicySettingsEx(DWORD cItems, VDFP_POLICY_ITEM* pItems);
  LPVOID VDFPBufferAlloc(SIZE_T cb);
  void VDFPBufferFree(LPVOID pv);
  bool HasPolicyQuery() const { return m_getPolicySettingsEx != nullptr; }
  bool HasBufferAlloc() const { return m_bufferAlloc != nullptr; }

 private:
  template <typename Pfn>
  Pfn Get(const char* name);

  platform::IPlatform& m_plat;
  HMODULE m_module = nullptr;
  HRESULT m_initResult = E_NOTIMPL;
  PFN_VDFPGETPOLICYSETTINGSEX m_getPolicySettingsEx = nullptr;
  PFN_VDFPBUFFERALLOC m_bufferAlloc = nullptr;
  PFN_VDFPBUFFERFREE m_bufferFree = nullptr;
  PFN_VDFPTERM m_term = nullptr;
};
