#include "platform/win32/win32_com.h"

namespace platform::win32 {

HRESULT CWin32Com::CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
  return ::CoInitializeEx(pvReserved, dwCoInit);
}

void CWin32Com::CoUninitialize() { ::CoUninitialize(); }

BSTR CWin32Com::SysAllocString(const OLECHAR* psz) { return ::SysAllocString(psz); }

void CWin32Com::SysFreeString(BSTR bstr) { ::SysFreeString(bstr); }

UINT CWin32Com::SysStringLen(BSTR bstr) { return ::SysStringLen(bstr); }

HRESULT CWin32Com::VarDateFromStr(LPCOLESTR strIn, LCID lcid, ULONG dwFlags, DATE* pdateOut) {
  // Older SDK headers declare the string non-const; it is only read.
  return ::VarDateFromStr(const_cast<OLECHAR*>(strIn), lcid, dwFlags, pdateOut);
}

HRESULT CWin32Com::CoRegisterClassObject(REFCLSID rclsid, IUnknown* pUnk, DWORD dwClsContext,
                                         DWORD flags, LPDWORD lpdwRegister) {
  return ::CoRegisterClassObject(rclsid, pUnk, dwClsContext, flags, lpdwRegister);
}

HRESULT CWin32Com::CoRevokeClassObject(DWORD dwRegister) {
  return ::CoRevokeClassObject(dwRegister);
}

HRESULT CWin32Com::CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext,
                                    REFIID riid, LPVOID* ppv) {
  return ::CoCreateInstance(rclsid, pUnkOuter, dwClsContext, riid, ppv);
}

}  // namespace platform::win32

namespace platform::win32 {

void CWin32Com::CoTaskMemFree(LPVOID pv) { ::CoTaskMemFree(pv); }

}  // namespace platform::win32
