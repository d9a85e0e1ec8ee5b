// Keeps the previous local copy of a file while it is being replaced: the constructor
// moves an existing file aside to "<path>.tmp", and unless the replacement is committed the
// destructor moves it back over the path.
//
//   CVDTempFile guard(plat.Kernel(), local);
//   if (FAILED(guard.Status())) return guard.Status();     // could not move it aside
//   if (guard.Existed() && copy(source, local)) guard.Commit();
//   // leaving the scope without Commit: the old copy is back at `local`
//
// Main window's thread.
#pragma once

#include <string>

#include "platform/kernel.h"

class CVDTempFile {
 public:
  CVDTempFile(platform::IKernel& kernel, std::wstring path);
  ~CVDTempFile();
  CVDTempFile(const CVDTempFile&) = delete;
  CVDTempFile& operator=(const CVDTempFile&) = delete;

  // A file was at the path when the guard opened (and now waits at the ".tmp" path).
  bool Existed() const { return m_bExisted; }
  // S_OK, or the failure of moving the existing file aside (then nothing is held).
  HRESULT Status() const { return m_hrStatus; }
  // The replacement stands: the ".tmp" file is deleted and nothing is restored.
  void Commit();

  std::wstring TempPath() const { return m_sPath + L".tmp"; }

 private:
  platform::IKernel& m_kernel;
  std::wstring m_sPath;
  bool m_bExisted = false;
  bool m_bHolding = false;  // a ".tmp" file waits to be restored
  HRESULT m_hrStatus = S_OK;
};
