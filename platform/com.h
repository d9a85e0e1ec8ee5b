// COM: the apartment of the calling thread, and the shapes of the COM interfaces the logic
// talks to in in-process servers.
//
// An in-process server is reached the way Windows itself does it: its DLL path is the default
// value of HKCR\CLSID\{clsid}\InprocServer32, the DLL is loaded through IModules and its
// exported DllGetClassObject hands out the class factory.
//
//   auto get = reinterpret_cast<LPFNGETCLASSOBJECT>(modules.GetProcAddress(dll,
//   "DllGetClassObject")); platform::ComPtr<IClassFactory> factory; if (SUCCEEDED(get(clsid,
//   IID_IClassFactory, factory.put_void()))) { ... }
#pragma once

#include <utility>

#include "platform/win_types.h"

#ifdef _WIN32
#include <oleauto.h>
#include <unknwn.h>
#else

using OLECHAR = wchar_t;
using BSTR = OLECHAR*;

// The real vtable shapes and IIDs; on Windows these come from <unknwn.h>.
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

#define STDMETHODCALLTYPE
#define STDAPICALLTYPE

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;

 protected:
  ~IUnknown() = default;  // objects go away through Release, never through delete
};

struct IClassFactory : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                                   void** ppvObject) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;

 protected:
  ~IClassFactory() = default;
};

inline constexpr IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

#define CLASS_E_NOAGGREGATION (static_cast<HRESULT>(0x80040110L))
#define CLASS_E_CLASSNOTAVAILABLE (static_cast<HRESULT>(0x80040111L))
#define REGDB_E_CLASSNOTREG (static_cast<HRESULT>(0x80040154L))
#define CO_E_NOTINITIALIZED (static_cast<HRESULT>(0x800401F0L))
#define CO_E_OBJNOTREG (static_cast<HRESULT>(0x800401FBL))
#define CO_E_ERRORINDLL (static_cast<HRESULT>(0x800401F9L))
#define DISP_E_TYPEMISMATCH (static_cast<HRESULT>(0x80020005L))

using LPCOLESTR = const OLECHAR*;
using DATE = double;  // days since 1899-12-30, the fraction is the time of day

#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4
#define CLSCTX_REMOTE_SERVER 0x10
#define CLSCTX_ALL (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)
#define REGCLS_SINGLEUSE 0
#define REGCLS_MULTIPLEUSE 1
#define VAR_DATEVALUEONLY 0x00000002

#endif  // _WIN32

// The export every in-process server has.
using PFN_DLLGETCLASSOBJECT = HRESULT(STDAPICALLTYPE*)(REFCLSID rclsid, REFIID riid, LPVOID* ppv);

namespace platform {

class ICom {
 public:
  virtual ~ICom() = default;

  // S_OK the first time on a thread, S_FALSE when already initialised in the same model,
  // RPC_E_CHANGED_MODE in the other model. Every success needs one CoUninitialize.
  virtual HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) = 0;
  virtual void CoUninitialize() = 0;

  // ---- Automation strings (OLEAUT32) ----
  // A length-prefixed copy of the string (null for null); freed with SysFreeString, which
  // takes null. A string handed over by a component is the receiver's to free.
  virtual BSTR SysAllocString(const OLECHAR* psz) = 0;
  virtual void SysFreeString(BSTR bstr) = 0;
  virtual UINT SysStringLen(BSTR bstr) = 0;
  // Parses a date as the locale `lcid` writes it (LOCALE_USER_DEFAULT 0x0400);
  // VAR_DATEVALUEONLY drops the time of day. DISP_E_TYPEMISMATCH for text that is no date.
  virtual HRESULT VarDateFromStr(LPCOLESTR strIn, LCID lcid, ULONG dwFlags, DATE* pdateOut) = 0;

  // ---- Class objects (OLE32) ----
  // Makes `pUnk` (a class factory) reachable by CoCreateInstance from every process of the
  // machine (CLSCTX_LOCAL_SERVER) until CoRevokeClassObject(*lpdwRegister). Needs an
  // initialised apartment (CO_E_NOTINITIALIZED otherwise); holds a reference on `pUnk`.
  virtual HRESULT CoRegisterClassObject(REFCLSID rclsid, IUnknown* pUnk, DWORD dwClsContext,
                                        DWORD flags, LPDWORD lpdwRegister) = 0;
  // CO_E_OBJNOTREG for a cookie that is not registered (or revoked already).
  virtual HRESULT CoRevokeClassObject(DWORD dwRegister) = 0;
  // A new object of the class: a registered local-server class object when `dwClsContext`
  // allows one, else the in-process server named by HKCR\CLSID\{clsid}\InprocServer32.
  // REGDB_E_CLASSNOTREG when neither exists.
  virtual HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext,
                                   REFIID riid, LPVOID* ppv) = 0;

  // ---- Task memory ----
  virtual void CoTaskMemFree(LPVOID pv) = 0;
};

// Owns one reference to a COM object and releases it when it goes.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
  ComPtr& operator=(ComPtr&& o) noexcept {
    if (this != &o) reset(std::exchange(o.m_p, nullptr));
    return *this;
  }
  ~ComPtr() { reset(); }

  T* get() const { return m_p; }
  T* operator->() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }
  void reset(T* p = nullptr) {
    if (T* old = std::exchange(m_p, p)) old->Release();
  }
  // For out-parameters of the void** kind (DllGetClassObject, CreateInstance).
  void** put_void() {
    reset();
    return reinterpret_cast<void**>(&m_p);
  }

 private:
  T* m_p = nullptr;
};

}  // namespace platform
