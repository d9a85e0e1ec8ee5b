// Modal dialogs from the agent's resource module: the prompts' templates hold the controls
// the prompt classes reach, check boxes keep their state, the dialog's own messages (a timer,
// a click on the box) run inside the modal loop, and bad templates or owners are refused.
#include <string>
#include <vector>

#include "app/res/agent_dialogs.h"
#include "tests/conformance/backend.h"

namespace conformance {
namespace {

// What the dialog procedure saw; one dialog at a time per test.
struct Seen {
  platform::IUi* ui = nullptr;
  HWND dialog = nullptr;
  std::vector<std::pair<WORD, WORD>> commands;  // control id, notification
  UINT boxAtClose = 0xFFFF;
  bool endAtInit = false;
  // At WM_INITDIALOG: the controls as the template made them, then a check set by hand.
  HWND box = nullptr;
  UINT boxAtInit = 0xFFFF;
  UINT boxAfterCheck = 0xFFFF;
  UINT buttonAfterCheck = 0xFFFF;
  HWND missing = reinterpret_cast<HWND>(1);
};
Seen* g_seen = nullptr;

constexpr UINT_PTR kTimer = 7;

INT_PTR CALLBACK Proc(HWND h, UINT msg, WPARAM wp, LPARAM) {
  Seen& s = *g_seen;
  platform::IUi& ui = *s.ui;
  switch (msg) {
    case WM_INITDIALOG:
      s.dialog = h;
      s.box = ui.GetDlgItem(h, IDC_DONT_ASK_AGAIN);
      s.missing = ui.GetDlgItem(h, 4242);
      s.boxAtInit = ui.IsDlgButtonChecked(h, IDC_DONT_ASK_AGAIN);
      if (s.endAtInit) {
        ui.CheckDlgButton(h, IDC_DONT_ASK_AGAIN, BST_CHECKED);
        s.boxAfterCheck = ui.IsDlgButtonChecked(h, IDC_DONT_ASK_AGAIN);
        ui.CheckDlgButton(h, IDOK, BST_CHECKED);
        s.buttonAfterCheck = ui.IsDlgButtonChecked(h, IDOK);
        ui.EndDialog(h, 42);
      } else {
        ui.SetTimer(h, kTimer, 50, nullptr);
      }
      return TRUE;
    case WM_TIMER:
      if (wp != kTimer) return FALSE;
      // What a user would do: tick the box, then close the dialog.
      ui.KillTimer(h, kTimer);
      ui.PostMessageW(ui.GetDlgItem(h, IDC_DONT_ASK_AGAIN), BM_CLICK, 0, 0);
      ui.PostMessageW(h, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      return TRUE;
    case WM_COMMAND:
      s.commands.emplace_back(LOWORD(wp), HIWORD(wp));
      if (LOWORD(wp) == IDCANCEL) {
        s.boxAtClose = ui.IsDlgButtonChecked(h, IDC_DONT_ASK_AGAIN);
        ui.EndDialog(h, IDCANCEL);
      }
      return TRUE;
    default:
      return FALSE;
  }
}

class DialogConformanceTest : public ConformanceTest {
 protected:
  void SetUp() override {
    ConformanceTest::SetUp();
    seen.ui = &Plat().Ui();
    g_seen = &seen;
    res = B().LoadAgentResources();
    ASSERT_NE(res, nullptr);
  }
  void TearDown() override {
    if (res) Plat().Modules().FreeLibrary(res);
    g_seen = nullptr;
    ConformanceTest::TearDown();
  }
  INT_PTR Show(UINT id, HWND owner = nullptr) {
    return Plat().Ui().DialogBoxParamW(res, MAKEINTRESOURCEW(id), owner, &Proc, 0);
  }

  Seen seen;
  HMODULE res = nullptr;
};

TEST_F(DialogConformanceTest, APromptEndedWhileInitialisingGivesItsResult) {
  seen.endAtInit = true;
  for (const auto& d : app_res::kAgentDialogs) {
    SCOPED_TRACE(d.id);
    seen.commands.clear();
    EXPECT_EQ(Show(d.id), 42);
    EXPECT_NE(seen.box, nullptr);
    EXPECT_EQ(seen.missing, nullptr);
    EXPECT_EQ(seen.boxAtInit, BST_UNCHECKED);
    EXPECT_EQ(seen.boxAfterCheck, BST_CHECKED);
    // A push button takes no check mark.
    EXPECT_EQ(seen.buttonAfterCheck, BST_UNCHECKED);
    EXPECT_TRUE(seen.commands.empty());
    EXPECT_FALSE(Plat().Ui().IsWindow(seen.dialog));
  }
}

TEST_F(DialogConformanceTest, TheDialogsOwnMessagesRunInsideTheModalLoop) {
  B().UserOnlyLooksAtDialogs(2000);
  RecordingWindow owner(Plat(), B().Instance());
  EXPECT_EQ(Show(IDD_REENROLLMENT_PROMPT, owner.hwnd()), IDCANCEL);
  EXPECT_EQ(seen.commands, (std::vector<std::pair<WORD, WORD>>{{IDC_DONT_ASK_AGAIN, BN_CLICKED},
                                                               {IDCANCEL, BN_CLICKED}}));
  EXPECT_EQ(seen.boxAtClose, BST_CHECKED);
  EXPECT_FALSE(Plat().Ui().IsWindow(seen.dialog));
  EXPECT_TRUE(Plat().Ui().IsWindow(owner.hwnd()));
}

TEST_F(DialogConformanceTest, RefusesAMissingTemplateAndAnOwnerThatIsGone) {
  EXPECT_EQ(Show(999), -1);
  EXPECT_EQ(Plat().Kernel().GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  HWND gone = nullptr;
  {
    RecordingWindow owner(Plat(), B().Instance());
    gone = owner.hwnd();
  }
  // Windows answers a bad owner with 0 rather than -1, for its oldest programs' sake.
  EXPECT_EQ(Show(IDD_ASK_REGISTER, gone), 0);
  EXPECT_EQ(Plat().Kernel().GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_EQ(seen.dialog, nullptr);
}

}  // namespace
}  // namespace conformance
