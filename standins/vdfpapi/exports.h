// The stand-in library's C entry points, by their exported names. Each one finds the calling
// process's library instance (the binding's CurrentClient) and forwards to it; a call with
// no process to serve gives E_UNEXPECTED. Nothing is thrown across an entry point.
#pragma once

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

// Provided by the binding (one per build): the library instance of the process that is
// calling on this thread, or null when there is none.
std::shared_ptr<CClientLibrary> CurrentClient();

}  // namespace vdfp_standin
