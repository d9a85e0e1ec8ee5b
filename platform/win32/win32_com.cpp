#include "platform/win32/win32_com.h"

namespace platform::win32 {

HRESULT CWin32Com::CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
  return ::CoInitializeEx(pvReserved, dwCoInit);
}

void CWin32Com::CoUninitialize() { ::CoUninitialize(); }

BSTR CWin32Com::SysAllocString(const OLECHAR* psz) { return ::SysAllocString(psz); }

void CWin32Com::SysFreeString(BSTR bstr) { ::SysFreeString(bstr); }

UINT CWin32Com::SysStringLen(BSTR bstr) { return ::SysStringLen(bstr); }

}  // namespace platform::win32
