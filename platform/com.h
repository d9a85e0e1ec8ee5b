// COM apartment of the calling thread.
#pragma once

#include "platform/win_types.h"

namespace platform {

class ICom {
 public:
  virtual ~ICom() = default;

  // S_OK the first time on a thread, S_FALSE when already initialised in the same model,
  // RPC_E_CHANGED_MODE in the other model. Every success needs one CoUninitialize.
  virtual HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) = 0;
  virtual void CoUninitialize() = 0;
};

}  // namespace platform
