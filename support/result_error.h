// The COM-style result error: failures of library and settings calls travel as this
// exception and are caught at the named boundaries (window procedure, task runs, COM
// methods, plug-in calls, handlers with their own guard). It never crosses a component
// boundary.
//
//   ThrowIfFailed(api.VDFPInit());     // raises CResultError(hr) on a failing HRESULT
#pragma once

#include <cstdio>
#include <exception>

#include "platform/kernel.h"
#include "platform/win_types.h"

class CResultError : public std::exception {
 public:
  explicit CResultError(HRESULT hr) : m_hr(hr) {
    std::snprintf(m_text, sizeof(m_text), "result error 0x%08X", static_cast<unsigned>(hr));
  }
  HRESULT Result() const noexcept { return m_hr; }
  const char* what() const noexcept override { return m_text; }

 private:
  HRESULT m_hr;
  char m_text[32];
};

inline HRESULT ThrowIfFailed(HRESULT hr) {
  if (FAILED(hr)) throw CResultError(hr);
  return hr;
}

// Inside a catch block: the result error's own code, else the thread's last Windows error,
// else E_UNEXPECTED. Rethrows to look at the exception being handled.
inline HRESULT CaughtResult(platform::IKernel& kernel) {
  try {
    throw;
  } catch (const CResultError& e) {
    return e.Result();
  } catch (...) {
    const DWORD err = kernel.GetLastError();
    return err ? HRESULT_FROM_WIN32(err) : E_UNEXPECTED;
  }
}
