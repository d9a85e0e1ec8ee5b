// The platform of one process: everything the logic needs from Windows, grouped by area.
//
// The entry point creates one per process (the real Win32 one on Windows, a simulated
// process elsewhere) and hands it down; logic never reaches Windows any other way.
#pragma once

#include "platform/com.h"
#include "platform/crypt.h"
#include "platform/gdi.h"
#include "platform/kernel.h"
#include "platform/modules.h"
#include "platform/registry.h"
#include "platform/sessions.h"
#include "platform/shell.h"
#include "platform/ui.h"

namespace platform {

class IPlatform {
 public:
  virtual ~IPlatform() = default;

  virtual IRegistry& Registry() = 0;
  virtual IKernel& Kernel() = 0;
  virtual IUi& Ui() = 0;
  virtual ISessions& Sessions() = 0;
  virtual ICom& Com() = 0;
  virtual IModules& Modules() = 0;
  virtual IShell& Shell() = 0;
  virtual ICrypt& Crypt() = 0;
  virtual IGdi& Gdi() = 0;
};

}  // namespace platform
