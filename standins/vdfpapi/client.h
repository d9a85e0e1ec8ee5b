// The stand-in client library in one process: what VDFPApi.dll keeps per process (its
// initialisation count, acquisitions, authentication operations, asynchronous calls) and one
// method per entry point, with the contract's arguments and results. The C entry points
// (exports.cpp) find the calling process's instance and forward here.
//
// Free of any platform: posting to the caller's windows goes through IClientSite.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "standins/vdfpapi/host.h"
#include "support/vdfp/vdfpapi_types.h"

namespace vdfp_standin {

// What the library needs from the process it is loaded in.
class IClientSite {
 public:
  virtual ~IClientSite() = default;
  virtual BOOL PostMessageW(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) = 0;
  // A dialog is open on the calling thread: runs that thread's messages (the caller's
  // windows keep working, re-entrantly) until `openMs` have passed; nothing: the binding's
  // own default time. A WM_QUIT seen meanwhile ends the dialog and is posted again.
  virtual void RunModalLoop(std::optional<ULONGLONG> openMs) = 0;
};

class CClientLibrary : public std::enable_shared_from_this<CClientLibrary> {
 public:
  CClientLibrary(CHostService& host, std::unique_ptr<IClientSite> site, DWORD processId);
  ~CClientLibrary();
  CClientLibrary(const CClientLibrary&) = delete;
  CClientLibrary& operator=(const CClientLibrary&) = delete;

  CHostService& Host() { return m_host; }
  DWORD ProcessId() const { return m_processId; }
  int InitCount() const;

  // ---- The entry points ----
  HRESULT Init();
  HRESULT Term();
  LPVOID BufferAlloc(SIZE_T cb);
  void BufferFree(LPVOID pv);
  HRESULT CreateAcquisition(DWORD dwPurpose, const GUID* pDeviceId, DWORD dwNotify, HWND hWnd,
                            UINT uMsg, HVDFPACQUISITION* phAcquisition);
  HRESULT StartAcquisition(HVDFPACQUISITION h);
  HRESULT StopAcquisition(HVDFPACQUISITION h);
  HRESULT DestroyAcquisition(HVDFPACQUISITION h);
  HRESULT SetDeviceLED(HVDFPACQUISITION h, DWORD state);
  HRESULT Identify(VDFP_CAPTURE capture, LPWSTR* ppwszName, DWORD* pdwNameFormat);
  HRESULT IdentifyUser(VDFP_CAPTURE capture, LPCWSTR pwszName, DWORD dwNameFormat);
  HRESULT GetAuthenticationInfo(HVDFPAUTHENTICATION h, DWORD dwInfoClass, LPVOID* ppInfo);
  HRESULT CreateAuthentication(LPCWSTR pwszName, DWORD dwNameFormat, HVDFPAUTHENTICATION* ph);
  HRESULT DestroyAuthentication(HVDFPAUTHENTICATION h);
  HRESULT TokenAuthenticate(const GUID* pTokenType, HVDFPAUTHENTICATION h, DWORD cbRequest,
                            const BYTE* pbRequest, DWORD* pcbReply, BYTE** ppbReply);
  HRESULT TokenEnum(DWORD* pcTokens, GUID** ppTokens);
  HRESULT TokenGetInfo(const GUID* pTokenType, DWORD dwInfoClass, LPVOID* ppInfo);
  HRESULT TokenIsEnrolled(const GUID* pTokenType, LPCWSTR pwszName, DWORD dwNameFormat);
  HRESULT TokenIsEnrolledAsync(const GUID* pTokenType, HWND hWnd, UINT uMsg, LPCWSTR pwszName,
                               DWORD dwNameFormat, HVDFPASYNCCALL* phCall);
  HRESULT AsyncDestroyCall(HVDFPASYNCCALL h);
  HRESULT TranslateName(LPCWSTR pwszName, DWORD dwNameFormat, DWORD dwWantedFormat,
                        LPWSTR* ppwszTranslated);
  HRESULT EnumerateDevices(DWORD* pcDevices, VDFP_DEVICE_INFO** ppDevices);
  HRESULT GetDeviceInfo(const GUID* pDeviceId, DWORD dwInfoClass, LPCWSTR pwszName,
                        DWORD dwNameFormat, LPVOID* ppInfo);
  HRESULT AuthDomainEnum(DWORD* pcDomains, LPWSTR** pppwszNames);
  HRESULT AuthDomainGetInfo(LPCWSTR pwszDomain, DWORD dwInfoClass, LPVOID* ppInfo);
  HRESULT GetPolicySettingsEx(DWORD cItems, VDFP_POLICY_ITEM* pItems);
  HRESULT GetUserInfo(LPCWSTR pwszName, DWORD dwNameFormat, DWORD dwInfoClass, LPVOID* ppInfo);
  HRESULT ReadProtectedData(LPCWSTR pwszSlot, const VDFP_DATA_BLOB* pEntropy, DWORD dwFlags,
                            VDFP_DATA_BLOB* pData);
  HRESULT WriteProtectedData(LPCWSTR pwszSlot, const VDFP_DATA_BLOB* pEntropy, DWORD dwFlags,
                             const VDFP_DATA_BLOB* pData);
  HRESULT IdentifyUserUI2(HWND hWndParent, DWORD dwFlags, DWORD dwReserved, LPCWSTR pwszCaption,
                          LPCWSTR pwszText, LPWSTR* ppwszSamName, HVDFPAUTHENTICATION* ph);
  HRESULT VerifyUserUI(HWND hWndParent, DWORD dwFlags, DWORD dwReserved, HVDFPAUTHENTICATION h);

  // ---- From the host ----
  // Events to the running acquisitions (all acquisitions for device events).
  void SendToRunning(const std::vector<std::pair<WPARAM, LPARAM>>& events);
  void SendToAll(WPARAM code, LPARAM data);
  std::vector<AcquisitionInfo> Acquisitions() const;
  std::size_t OutstandingAsyncCalls() const;
  std::size_t OutstandingAuthentications() const;
  // The user (host index) of one of this process's authentication operations; for the card
  // library beside this one, which proves a card against it. Counts no call.
  std::optional<std::size_t> AuthenticationUser(HVDFPAUTHENTICATION h) const;

 private:
  struct Acquisition {
    HWND window;
    UINT message;
    bool started = false;
    DWORD led = VDFP_LED_OFF;
    unsigned starts = 0;
    unsigned stops = 0;
  };
  struct Authentication {
    std::size_t user;
    DWORD format;  // the format the operation reports its user in
    bool authenticated = false;
  };
  struct AsyncCall {
    HWND window;
    UINT message;
    GUID token;
    std::wstring name;
    DWORD format;
  };

  // S_OK when calls may go to the host: initialised and the host running.
  HRESULT Ready() const;
  LPWSTR AllocString(const std::wstring& s, const char* tag);
  void SendAsyncReply(std::uintptr_t id);

  CHostService& m_host;
  std::unique_ptr<IClientSite> m_site;
  const DWORD m_processId;

  mutable std::mutex m_mu;
  int m_initCount = 0;
  std::uintptr_t m_nextHandle = 0x1000;
  std::map<std::uintptr_t, Acquisition> m_acquisitions;
  std::map<std::uintptr_t, Authentication> m_authentications;
  std::map<std::uintptr_t, AsyncCall> m_asyncCalls;
  // Replies already posted: the message may still be queued when its call is destroyed, so
  // they live as long as the library does.
  std::vector<std::unique_ptr<VDFP_ASYNC_ENROLLMENT_REPLY>> m_replies;
};

// DER of the fingerprint authentication request and reply: a SEQUENCE of unsigned INTEGERs.
std::vector<BYTE> EncodeUIntSequence(const std::vector<DWORD>& values);
// False when the bytes are not exactly such a sequence (values of up to 32 bits).
bool DecodeUIntSequence(const BYTE* p, std::size_t n, std::vector<DWORD>& values);

}  // namespace vdfp_standin
