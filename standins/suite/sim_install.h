// The suite's other stand-ins on the simulated machine, as its installer would leave them:
//
//   - "VDNXUtils.dll" in the system directory: VDPlayEventSound shows a desktop record of kind
//     "sound" ("success", "failure", "quality" or the number) in the caller's session;
//   - the fill-in component, its path the default value of HKLM kVDKwsPluginKey: every call
//     shows as kind "fill-in" ("init message 1424", "command 100 param 0x1004", "terminate");
//     each process that calls in gets its own instance;
//   - the password-manager object, registered under HKCR\CLSID\{FA676DEB-...}\InprocServer32:
//     calls show as kind "password-manager" ("mini dashboard trained 1", "training tool");
//   - fast connect: "VDFstCon.dll" and "VDRunDll.exe" on the disk in the folder named by
//     HKLM SOFTWARE\Veridane\Applications "BinDir";
//   - the terminal-services client "VDTSClnt.dll" in the system directory (found by name
//     wherever the agent runs from): DllRegisterServer is counted, shows as kind "ts-client"
//     ("DllRegisterServer 0x00000000") and answers the described result.
//
// Registry values are written in both views on 64-bit Windows, so the 32-bit and the 64-bit
// agent find them.
//
//   sim::Machine machine;
//   auto suite = suite_standin::InstallSuiteStandIns(machine);
//   ... the agent runs a fill-in ...
//   suite->PostReply(1, 1);                              // "ShowMenu" to every agent
//   EXPECT_EQ(suite->FillIn(agent->Pid())->HandlesReceived(), 1u);
//
// Destroy the installation before the machine.
#pragma once

#include <memory>
#include <string>

#include "platform/sim/machine.h"
#include "standins/suite/description.h"
#include "standins/suite/fill_in.h"
#include "standins/suite/password_manager.h"

namespace suite_standin {

inline constexpr wchar_t kSoundKind[] = L"sound";
inline constexpr wchar_t kFillInKind[] = L"fill-in";
inline constexpr wchar_t kPasswordManagerKind[] = L"password-manager";
inline constexpr wchar_t kTsClientKind[] = L"ts-client";

class SimSuiteInstallation {
 public:
  ~SimSuiteInstallation();
  SimSuiteInstallation(const SimSuiteInstallation&) = delete;
  SimSuiteInstallation& operator=(const SimSuiteInstallation&) = delete;

  const SuiteDescription& Description() const;
  // Where each piece lives (set whether or not it is installed).
  const std::wstring& SoundLibraryPath() const;
  const std::wstring& FillInPath() const;
  const std::wstring& PasswordManagerPath() const;
  const std::wstring& BinDir() const;  // no trailing backslash
  const std::wstring& TsClientPath() const;
  // How often any process called the terminal-services client's DllRegisterServer.
  int TsClientRegistrations() const;

  // The fill-in component of a process, null when that process never called it.
  std::shared_ptr<CFillInComponent> FillIn(DWORD processId) const;
  // Posts a reply (kind 1 fill-in reply, 2 feedback change) from the fill-in component of
  // process `processId`, or of every process whose component has a window when 0. Returns
  // how many were posted.
  int PostReply(WPARAM kind, LPARAM value, DWORD processId = 0);
  // Null when the password manager is not installed.
  CPasswordManagerServer* PasswordManager();

  struct Impl;

 private:
  friend std::unique_ptr<SimSuiteInstallation> InstallSuiteStandIns(sim::Machine&,
                                                                    SuiteDescription);
  explicit SimSuiteInstallation(std::shared_ptr<Impl> impl);
  std::shared_ptr<Impl> m_impl;
};

// One installation per machine.
std::unique_ptr<SimSuiteInstallation> InstallSuiteStandIns(sim::Machine& machine,
                                                           SuiteDescription desc = {});

// "success", "failure", "quality", else the number.
std::wstring SoundText(DWORD soundEvent);

}  // namespace suite_standin
