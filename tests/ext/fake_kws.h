// Test doubles of the password manager's closed pieces on the simulated machine: a fill-in
// component (three C entry points recording their calls) and the password manager's COM
// server (DllGetClassObject handing out a counting object). One of each per test program;
// Reset() before each test.
#pragma once

#include <string>
#include <vector>

#include "ext/kws_host.h"
#include "platform/sim/machine.h"
#include "support/suite_components.h"

namespace kws_test {

// The component's path and where the agent (32-bit, on 64-bit Windows) finds it.
inline constexpr wchar_t kComponentPath[] = L"C:\\Program Files (x86)\\Veridane\\VdKws.dll";
inline constexpr wchar_t kPluginKey32[] =
    L"HKLM\\SOFTWARE\\WOW6432Node\\Veridane\\Applications\\Agent\\PlugIns\\"
    L"{3FDDA325-1EE7-4dc3-8A5C-6C60D3982A37}";
inline constexpr wchar_t kServerPath[] = L"C:\\Program Files (x86)\\Veridane\\VdPwdMgr.dll";

struct FillInCalls {
  int inits = 0;
  HWND initWindow = nullptr;
  UINT initMessage = 0;
  std::vector<std::pair<DWORD, ULONG_PTR>> commands;
  int terminates = 0;
  HRESULT commandResult = S_OK;
  DWORD commandOut = 0;
};
FillInCalls& FillIn();

// Installs the component with every export but `missing` and registers its path.
void InstallFillIn(sim::Machine& m, const std::string& missing = "");

struct PasswordManagerCalls {
  int created = 0;          // objects handed out by the factory
  int live = 0;             // references still held
  std::vector<BYTE> shows;  // ShowMiniDashboard arguments
  int trainingInits = 0;
  HRESULT showResult = S_OK;
  bool factoryGivesNull = false;
};
PasswordManagerCalls& Pm();

// Installs the server and registers it under HKCR\Wow6432Node\CLSID\{...}\InprocServer32.
void InstallPasswordManager(sim::Machine& m);

// A host that records what the fill-in logic asked of the rest of the agent.
class FakeKwsHost : public IKwsHost {
 public:
  bool fingerAction = false;
  bool wbf = false;
  bool modal = false;
  bool acquisition = false;
  bool acquisitionCreatable = true;
  std::vector<std::string> calls;  // in order: "reset", "clearLock", "stop", "led=<n>",
                                   // "create", "start", "modal=<0|1>"

  bool IsFingerActionRunning() override { return fingerAction; }
  void ResetActionToIdle() override { calls.push_back("reset"); }
  void ClearPendingLock() override { calls.push_back("clearLock"); }
  bool HasWBFReader() override { return wbf; }
  bool ModalMode() override { return modal; }
  void SetModalMode(bool on) override {
    modal = on;
    calls.push_back(on ? "modal=1" : "modal=0");
  }
  bool HasAcquisition() override { return acquisition; }
  void StopAcquisition() override { calls.push_back("stop"); }
  void SetReaderLed(DWORD led) override { calls.push_back("led=" + std::to_string(led)); }
  bool StartAcquisition() override {
    if (!acquisition) {
      calls.push_back("create");
      if (!acquisitionCreatable) return false;
      acquisition = true;
    }
    calls.push_back("start");
    return true;
  }
};

}  // namespace kws_test
