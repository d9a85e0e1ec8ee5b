// The stand-in library's C entry points, by their exported names. Each one finds the calling
// process's library instance (the binding's CurrentClient) and forwards to it; a call with
// no process to serve gives E_UNEXPECTED, one to a library that could not be built that
// failure's code. Nothing is thrown across an entry point.
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/win_types.h"

namespace vdfp_standin {

class CClientLibrary;

using ExportList = std::vector<std::pair<std::string, FARPROC>>;
// VDFPApi.dll: every entry point of the library, VDFPBufferAlloc and VDFPBufferFree included.
const ExportList& ApiExports();
// VDFPApiUI.dll: the two dialogs.
const ExportList& DialogExports();

// Thrown by CurrentClient when the process's library could not be built (a machine
// description that cannot be used): every entry point answers with `Code()`.
class LibraryUnavailable : public std::exception {
 public:
  explicit LibraryUnavailable(HRESULT hr) : m_hr(hr) {}
  HRESULT Code() const { return m_hr; }
  const char* what() const noexcept override { return "the stand-in library could not be built"; }

 private:
  HRESULT m_hr;
};

// Provided by the binding (one per build): the library instance of the process that is
// calling on this thread, or null when there is none; throws LibraryUnavailable.
std::shared_ptr<CClientLibrary> CurrentClient();

}  // namespace vdfp_standin
