#include "kiosk/temp_file.h"

#include <utility>

#include "support/trace/trace.h"

CVDTempFile::CVDTempFile(platform::IKernel& kernel, std::wstring path)
    : m_kernel(kernel), m_sPath(std::move(path)) {
  VDTraceNS::CScope ts("CVDTempFile::CVDTempFile");
  HANDLE h = m_kernel.CreateFileW(m_sPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ts.Msg("Opened, Handle 0x%X", static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(h)));
  if (h == INVALID_HANDLE_VALUE) return;
  m_kernel.CloseHandle(h);
  m_bExisted = true;
  if (!m_kernel.MoveFileExW(m_sPath.c_str(), TempPath().c_str(), MOVEFILE_REPLACE_EXISTING)) {
    const DWORD err = m_kernel.GetLastError();
    ts.Msg("Cannot move existing script!!!");
    m_hrStatus = ts.Result("MoveFileExW", err ? HRESULT_FROM_WIN32(err) : E_FAIL);
    return;
  }
  m_bHolding = true;
}

CVDTempFile::~CVDTempFile() {
  if (!m_bHolding) return;
  VDTraceNS::CScope ts("CVDTempFile::~CVDTempFile");
  if (!m_kernel.MoveFileExW(TempPath().c_str(), m_sPath.c_str(), MOVEFILE_REPLACE_EXISTING))
    ts.Result("MoveFileExW", HRESULT_FROM_WIN32(m_kernel.GetLastError()));
}

void CVDTempFile::Commit() {
  if (!m_bHolding) return;
  m_bHolding = false;
  m_kernel.DeleteFileW(TempPath().c_str());
}
