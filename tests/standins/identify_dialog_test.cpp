// The identification dialog runs the caller's messages while it is open: a hotkey pressed
// meanwhile reaches the agent's window re-entrantly, and the dialog's answer comes after.
#include <gtest/gtest.h>

#include "tests/auth/auth_test_util.h"

namespace {

using authtest::Posted;
using authtest::RecordingWindow;

using PfnInit = HRESULT(WINAPI*)();
using PfnIdentifyUI = HRESULT(WINAPI*)(HWND, DWORD, DWORD, LPCWSTR, LPCWSTR, LPWSTR*,
                                       HVDFPAUTHENTICATION*);
using PfnDestroy = HRESULT(WINAPI*)(HVDFPAUTHENTICATION);
using PfnFree = void(WINAPI*)(LPVOID);

class IdentifyDialogTest : public authtest::SimAgentTest {
 protected:
  void Start(const std::string& json) {
    Install(vdfp_standin::VdfpDescription::FromJson(json));
    auto& mods = Agent().Modules();
    m_lib = mods.LoadLibraryExW(vdfp_standin::kSimLibraryPath, nullptr, 0);
    m_ui = mods.LoadLibraryExW(vdfp_standin::kSimDialogLibraryPath, nullptr, 0);
    ASSERT_TRUE(m_lib && m_ui);
    ASSERT_EQ(Proc<PfnInit>(m_lib, "VDFPInit")(), S_OK);
  }
  template <typename Pfn>
  Pfn Proc(HMODULE m, const char* name) {
    return reinterpret_cast<Pfn>(
        reinterpret_cast<void (*)()>(Agent().Modules().GetProcAddress(m, name)));
  }
  // The dialog's answer; the name and the operation are given back.
  HRESULT Identify(std::wstring* name = nullptr) {
    LPWSTR sam = nullptr;
    HVDFPAUTHENTICATION op = nullptr;
    const HRESULT hr = Proc<PfnIdentifyUI>(m_ui, "VDFPIdentifyUserUI2")(m_window.hwnd(), 0, 0, L"",
                                                                        L"", &sam, &op);
    if (sam && name) *name = sam;
    if (sam) Proc<PfnFree>(m_lib, "VDFPBufferFree")(sam);
    if (op) Proc<PfnDestroy>(m_lib, "VDFPDestroyAuthentication")(op);
    return hr;
  }

  RecordingWindow m_window{Agent(), WM_HOTKEY, WM_HOTKEY};
  HMODULE m_lib = nullptr;
  HMODULE m_ui = nullptr;
};

TEST_F(IdentifyDialogTest, AHotkeyPressedWhileItIsOpenReachesTheCallersWindow) {
  Start(R"({"dialogs": {"identify": "alice", "identifyOpenMs": 300}})");
  auto& clock = m_machine.GetClock();
  const ULONGLONG start = clock.NowMs();
  sim::Process* agent = &Agent();
  const HWND hwnd = m_window.hwnd();
  clock.ScheduleAt(start + 120, [agent, hwnd] { agent->Ui().PostMessageW(hwnd, WM_HOTKEY, 1, 2); });
  std::wstring name;
  EXPECT_EQ(Identify(&name), S_OK);
  EXPECT_EQ(name, L"VDSIM-PC\\alice");
  EXPECT_EQ(clock.NowMs(), start + 300) << "the dialog was open for its whole time";
  EXPECT_EQ(m_window.Take(), (std::vector<Posted>{{WM_HOTKEY, 1, 2}}))
      << "dispatched inside the dialog, not after it";
  EXPECT_EQ(Host().OutstandingAuthentications(), 0u);
}

TEST_F(IdentifyDialogTest, TheAnswerIsTheOneWhenItCloses) {
  // The user changes while the dialog is open: it answers for whoever is there at the end.
  Start(R"({"dialogs": {"identify": "alice", "identifyOpenMs": 100}})");
  auto& clock = m_machine.GetClock();
  vdfp_standin::CHostService* host = &Host();
  clock.ScheduleAt(clock.NowMs() + 50, [host] { host->SetDialogs({L"", true}); });
  EXPECT_EQ(Identify(), VDFP_E_CANCELLED);
}

TEST_F(IdentifyDialogTest, WithoutAnOpenTimeItRunsNothingAndAQuitEndsItEarly) {
  Start(R"({"dialogs": {"identify": "alice"}})");
  Agent().Ui().PostMessageW(m_window.hwnd(), WM_HOTKEY, 1, 0);
  EXPECT_EQ(Identify(), S_OK);
  EXPECT_EQ(m_window.Take(), std::vector<Posted>{}) << "still queued for the caller's loop";
  m_machine.RunUntilIdle();
  EXPECT_EQ(m_window.Take().size(), 1u);

  Host().SetIdentifyOpenMs(10000);
  const ULONGLONG start = m_machine.GetClock().NowMs();
  Agent().Ui().PostQuitMessage(3);
  EXPECT_EQ(Identify(), S_OK);
  EXPECT_EQ(m_machine.GetClock().NowMs(), start);
  MSG msg{};
  ASSERT_TRUE(Agent().Ui().PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_QUIT) << "the caller's own loop still ends";
  EXPECT_EQ(msg.wParam, 3u);
}

}  // namespace
