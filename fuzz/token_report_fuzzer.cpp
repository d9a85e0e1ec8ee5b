// libFuzzer target for the token enrollment reports reaching the user session: any stream of
// report messages (ids inside and past the range, wParams, reply codes, missing and forged
// replies) mixed with fetches, resets, unlocks and enrollment changes at the host. The
// session must never read a reply no query waits for (a forged one points at one byte, so
// a read is caught), and every query it still waits for must hold exactly one live call of
// the library: nothing leaks, nothing is released twice.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "core/agent_process.h"
#include "core/messages.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "policy/user_session.h"
#include "standins/vdfpapi/sim_install.h"
#include "support/vdfp/vdfp_api.h"

namespace {

struct Host : IUserSessionHost {
  bool IsKioskSession() override { return false; }
  void CheckUserPasswordReset(const CUser&) override {}
  CPolicy RefreshedPolicy() override { return {}; }
};

LRESULT Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  return sim::CurrentProcess()->Ui().DefWindowProcW(h, msg, wp, lp);
}

struct World {
  sim::Machine machine;
  std::unique_ptr<vdfp_standin::SimInstallation> vdfp = vdfp_standin::InstallVdfpApi(machine);
  std::unique_ptr<sim::Process> proc = machine.CreateProcess({.sessionId = 1});
  sim::CurrentProcessScope scope{proc.get()};
  core::CAgentProcess agent{*proc, nullptr};
  Host host;
  HWND hwnd = nullptr;
  World() {
    agent.AuthLibrary().VDFPInit();
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &Proc;
    wc.lpszClassName = L"TokenReportFuzz";
    proc->Ui().RegisterClassExW(&wc);
    hwnd = proc->Ui().CreateWindowExW(0, L"TokenReportFuzz", L"", WS_POPUP, 0, 0, 1, 1, nullptr,
                                      nullptr, nullptr, nullptr);
  }
};

World& TheWorld() {
  static World* w = new World();  // lives for the process: the machine's threads stay up
  return *w;
}

constexpr HRESULT kCodes[] = {S_OK, S_FALSE, E_FAIL, static_cast<HRESULT>(0x80070005L), 2};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  World& w = TheWorld();
  sim::CurrentProcessScope scope(w.proc.get());
  auto session = std::make_unique<CUserSession>(w.agent, w.host);
  session->OnReady(w.hwnd);
  std::vector<VDFP_ASYNC_ENROLLMENT_REPLY> replies(16);
  for (std::size_t i = 0; i + 3 < size; i += 4) {
    const std::uint8_t op = data[i], a = data[i + 1], b = data[i + 2], c = data[i + 3];
    switch (op % 6) {
      case 0: {  // a report with a reply of our own
        auto& r = replies[c % replies.size()];
        r.hrResult = kCodes[c % std::size(kCodes)];
        session->OnTokenEnrollmentReport(core::WM_VD_TOKEN_REPORT_FIRST + a % 128, b % 4 ? 0 : b,
                                         b % 8 == 1 ? 0 : reinterpret_cast<LPARAM>(&r));
        break;
      }
      case 1: {  // a forged report while nothing waits: its lParam must never be read
        if (session->PendingQueries() != 0) break;
        auto byte = std::make_unique<std::uint8_t>(0);
        session->OnTokenEnrollmentReport(core::WM_VD_TOKEN_REPORT_FIRST + a % 128, 0,
                                         reinterpret_cast<LPARAM>(byte.get()));
        break;
      }
      case 2:  // the library's own replies, as they were posted
        w.machine.AdvanceBy(1 + a % 4);
        {
          MSG m{};
          while (w.proc->Ui().PeekMessageW(&m, w.hwnd, core::WM_VD_TOKEN_REPORT_FIRST,
                                           core::WM_VD_TOKEN_REPORT_LAST, PM_REMOVE))
            session->OnTokenEnrollmentReport(m.message, m.wParam, m.lParam);
        }
        break;
      case 3:
        w.machine.AdvanceBy(a % 2 ? 60'000 : 1'000);
        session->FetchUserCredentials(b % 2 == 0);
        break;
      case 4:
        session->OnSessionChange(a % 10);
        break;
      default:
        w.vdfp->Host().SetEnrolled(L"alice", 1ULL << (a % 5), b % 2 == 0);
        break;
    }
    if (session->PendingQueries() > CUserSession::kMaxPromises) std::abort();
    if (session->PendingQueries() != w.vdfp->Host().OutstandingAsyncCalls()) std::abort();
  }
  session.reset();
  if (w.vdfp->Host().OutstandingAsyncCalls() != 0) std::abort();
  // Replies still queued for the window belong to calls now released.
  MSG m{};
  while (w.proc->Ui().PeekMessageW(&m, w.hwnd, 0, 0, PM_REMOVE)) {
  }
  return 0;
}
