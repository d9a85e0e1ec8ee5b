#include "platform/win32/win32_com.h"

namespace platform::win32 {

HRESULT CWin32Com::CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
  return ::CoInitializeEx(pvReserved, dwCoInit);
}

void CWin32Com::CoUninitialize() { ::CoUninitialize(); }

}  // namespace platform::win32
