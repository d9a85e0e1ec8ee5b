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
};

}  // namespace platform::win32
