// The stand-in card library's C entry points, by their exported names, in the contract's
// order. Each one finds the calling process's model (the binding's CurrentCardLibrary) and
// forwards to it; a call with no process to serve gives E_UNEXPECTED, one to a library that
// could not be built that failure's code. Nothing is thrown across an entry point.
#pragma once

#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "platform/win_types.h"

namespace vdsc_standin {

class CCardHost;

using ExportList = std::vector<std::pair<std::string, FARPROC>>;
// VDSCApi.dll: all 23 entry points.
const ExportList& CardExports();

// Thrown by CurrentCardLibrary when the library could not be built (a machine description
// that cannot be used): every entry point answers with `Code()`.
class CardLibraryUnavailable : public std::exception {
 public:
  explicit CardLibraryUnavailable(HRESULT hr) : m_hr(hr) {}
  HRESULT Code() const { return m_hr; }
  const char* what() const noexcept override {
    return "the stand-in card library could not be built";
  }

 private:
  HRESULT m_hr;
};

// Provided by the binding (one per build): the model serving the process calling on this
// thread, and that process's id; null when there is none. Throws CardLibraryUnavailable.
CCardHost* CurrentCardLibrary(DWORD& processId);

}  // namespace vdsc_standin
