// The platform of a real Windows process: every interface a thin pass-through to the Win32
// call of the same name, with its arguments and results unchanged.
//
//   platform::win32::CWin32Platform plat;
//   VDTraceNS::Bind(&plat);
//   int rc = app::AgentMain(plat, hInstance, cmdLine, nShow);
//   VDTraceNS::Bind(nullptr);
#pragma once

#include "platform/platform.h"
#include "platform/win32/win32_com.h"
#include "platform/win32/win32_crypt.h"
#include "platform/win32/win32_gdi.h"
#include "platform/win32/win32_kernel.h"
#include "platform/win32/win32_modules.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_sessions.h"
#include "platform/win32/win32_shell.h"
#include "platform/win32/win32_ui.h"

namespace platform::win32 {

class CWin32Platform final : public IPlatform {
 public:
  IRegistry& Registry() override { return m_registry; }
  IKernel& Kernel() override { return m_kernel; }
  IUi& Ui() override { return m_ui; }
  ISessions& Sessions() override { return m_sessions; }
  ICom& Com() override { return m_com; }
  IModules& Modules() override { return m_modules; }
  IShell& Shell() override { return m_shell; }
  ICrypt& Crypt() override { return m_crypt; }
  IGdi& Gdi() override { return m_gdi; }

 private:
  CWin32Registry m_registry;
  CWin32Kernel m_kernel;
  CWin32Ui m_ui;
  CWin32Sessions m_sessions;
  CWin32Com m_com;
  CWin32Modules m_modules;
  CWin32Shell m_shell;
  CWin32Crypt m_crypt;
  CWin32Gdi m_gdi;
};

}  // namespace platform::win32
