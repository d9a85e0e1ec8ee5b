// The conformance tests' backend on the simulated machine: a 64-bit process (as the
// x86_64 build under Wine is) in the console session, peers as further simulated
// processes, and time on the virtual clock.
#include <string>
#include <vector>

#include "platform/sim/desktop.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/session_manager.h"
#include "standins/agent_res/sim_install.h"
#include "tests/conformance/backend.h"

namespace conformance {
namespace {

class SimBackend final : public Backend {
 public:
  SimBackend() : m_process(m_machine.CreateProcess(Options(1))) {}

  platform::IPlatform& Plat() override { return *m_process; }
  std::unique_ptr<platform::IPlatform> PeerInSameSession() override {
    return m_machine.CreateProcess(Options(1));
  }
  std::unique_ptr<platform::IPlatform> PeerInOtherSession() override {
    const DWORD other = m_machine.Sessions().CreateSession({.userName = L"bob", .remote = true});
    return m_machine.CreateProcess(Options(other));
  }
  HINSTANCE Instance() override { return nullptr; }
  void Pass(DWORD ms) override { m_machine.AdvanceBy(ms); }
  void PumpOnce() override { m_machine.RunUntilIdle(); }
  void SendKeys(const std::vector<int>& keys, bool down) override {
    if (down) {
      m_machine.GetDesktop().PressKeys(1, keys);
    } else {
      m_machine.GetDesktop().ReleaseKeys(1, keys);
    }
  }
  bool IsWine() override { return false; }
  bool MayLockTheSession() override { return true; }
  std::wstring Unique(const std::wstring& base) override { return base; }
  HMODULE LoadAgentResources() override {
    const wchar_t* path = L"C:\\Tests\\VdAgentRes.dll";
    agent_res_sim::InstallAgentResources(m_machine, path);
    return m_process->Modules().LoadLibraryExW(path, nullptr, 0);
  }
  void UserOnlyLooksAtDialogs(DWORD ms) override {
    m_machine.GetDesktop().SetPromptUser([ms](DWORD, UINT, const std::wstring&) {
      return sim::PromptAnswer{0, {}, ms};
    });
  }

 private:
  static sim::ProcessOptions Options(DWORD session) {
    return {.sessionId = session, .exePath = L"C:\\Tests\\conformance.exe", .is32Bit = false};
  }

  sim::Machine m_machine;
  std::unique_ptr<sim::Process> m_process;
};

}  // namespace

std::unique_ptr<Backend> MakeBackend() { return std::make_unique<SimBackend>(); }

}  // namespace conformance
