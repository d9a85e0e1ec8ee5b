// Starting the suite's fast-connect component: "VDRunDll.exe" runs an entry of
// "VDFstCon.dll", both in the suite's binaries folder (machine value "BinDir").
//
//   HRESULT hr = FASTCONNECT::LaunchFastConnect_ifAvailable(process, L"VDFCRunLogon");
//   // 0x80070002 when the folder, the runner or the DLL is missing
#pragma once

#include "core/agent_process.h"

namespace FASTCONNECT {

// Starts `VDRunDll.exe "<BinDir>VDFstCon.dll" <entry>`; S_OK once the shell started it.
HRESULT LaunchFastConnect_ifAvailable(core::CAgentProcess& process, const wchar_t* entry);

}  // namespace FASTCONNECT
