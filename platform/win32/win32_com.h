// COM on Windows: OLE32 straight through.
#pragma once

#include "platform/com.h"

namespace platform::win32 {

class CWin32Com final : public ICom {
 public:
  HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) override;
  void CoUninitialize() override;
  BSTR SysAllocString(const OLECHAR* psz) override;
  void SysFreeString(BSTR bstr) override;
  UINT SysStringLen(BSTR bstr) override;
  HRESULT VarDateFromStr(LPCOLESTR strIn, LCID lcid, ULONG dwFlags, DATE* pdateOut) override;
  HRESULT CoRegisterClassObject(REFCLSID rclsid, IUnknown* pUnk, DWORD dwClsContext, DWORD flags,
                                LPDWORD lpdwRegister) override;
  HRESULT CoRevokeClassObject(DWORD dwRegister) override;
  HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                           LPVOID* ppv) override;
  void CoTaskMemFree(LPVOID pv) override;
};

}  // namespace platform::win32
