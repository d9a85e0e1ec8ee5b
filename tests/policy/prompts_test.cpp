// The start-up prompts: their owner window, texts, the do-not-ask-again box and what it
// writes, with a dialog manager that plays the user (ux_test_platform.h).
#include "policy/prompts.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "core/agent_process.h"
#include "platform/sim/machine.h"
#include "platform/sim/module_table.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"
#include "platform/sim/session_manager.h"
#include "policy/prompt_resources.h"
#include "standins/vdfpapi/sim_install.h"
#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"
#include "tests/policy/ux_test_platform.h"

namespace {

constexpr const wchar_t* kResDll = L"C:\\Program Files\\Veridane\\Agent\\VdAgentRes.dll";
constexpr const wchar_t* kBrandDll = L"C:\\Program Files\\Veridane\\Brand.dll";
constexpr const wchar_t* kVideo32 =
    L"HKLM\\SOFTWARE\\WOW6432Node\\Veridane\\Applications\\RegWiz\\TrainingVideo";

// One prompt class behind a common face, with what its box writes.
struct PromptCase {
  const char* name;
  std::function<INT_PTR(core::CAgentProcess&, HINSTANCE)> show;
  int templateId;
  const wchar_t* value;
  DWORD written;
  const char* trace;
};

const PromptCase kPrompts[] = {
    {"at start",
     [](core::CAgentProcess& p, HINSTANCE r) {
       return CAskUserToRegisterAtStartDlg(p, r).DoModal();
     },
     IDD_ASK_REGISTER_AT_START, L"ShowUserWizard", 0, "Setting ShowAdminWizard..."},
    {"fingerprint",
     [](core::CAgentProcess& p, HINSTANCE r) { return CAskUserToRegisterDlg(p, r).DoModal(); },
     IDD_ASK_REGISTER, L"UserFPDoNotBotherAgain", 1, "Setting DoNotBotherAgain..."},
    {"re-enrollment",
     [](core::CAgentProcess& p, HINSTANCE r) { return CReenrollmentPromptDlg(p, r).DoModal(); },
     IDD_REENROLLMENT_PROMPT, L"ReenrollmentPromptDoNotBotherAgain", 1,
     "Setting ReenrollmentPromptDoNotBotherAgain..."},
};

class PromptsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VDTraceNS::Bind(proc.get());
    machine.Sessions().StartShell(1);
    machine.Modules().Install(kResDll, {},
                              {{IDS_PROMPT_REGISTER_AT_START, L"Enroll now?"},
                               {IDS_PROMPT_REGISTER_AT_START_HOME, L"Home: enroll now?"},
                               {IDS_PROMPT_REGISTER, L"Enroll a finger?"},
                               {IDS_PROMPT_REGISTER_HOME, L"Home: enroll a finger?"},
                               {IDS_PROMPT_REENROLLMENT, L"Enroll your finger again?"}});
    resources = plat.Modules().LoadLibraryExW(kResDll, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(resources, nullptr);
    agentKey =
        L"HKU\\" + machine.Sessions().UserSid(1) + L"\\SOFTWARE\\Veridane\\Applications\\Agent";
  }
  void TearDown() override { VDTraceNS::Bind(nullptr); }

  void InstallClassicHome() {
    machine.Modules().Install(kBrandDll, {}, {{1102, L"Classic Home"}});
    machine.Registry().SetString(L"HKLM\\SOFTWARE\\Veridane\\Branding\\Common", L"DLLPath",
                                 kBrandDll);
  }
  std::optional<DWORD> Stored(const wchar_t* value) {
    return machine.Registry().GetDword(agentKey, value);
  }
  // No window of the owner's class is left, and the class itself is gone.
  void ExpectOwnerGone() {
    EXPECT_EQ(proc->Ui().FindWindowW(L"VDInvisibleParent", nullptr), nullptr);
    EXPECT_FALSE(proc->Ui().UnregisterClassW(L"VDInvisibleParent", nullptr))
        << "the class is still registered";
  }

  VDTraceNS::CRecordingSink sink;
  sim::Machine machine;
  std::unique_ptr<vdfp_standin::SimInstallation> vdfp = vdfp_standin::InstallVdfpApi(machine);
  std::unique_ptr<sim::Process> proc = machine.CreateProcess({.sessionId = 1});
  sim::CurrentProcessScope scope{proc.get()};
  uxtest::UxPlatform plat{*proc};
  core::CAgentProcess agent{plat, nullptr};
  HINSTANCE resources = nullptr;
  std::wstring agentKey;
};

TEST_F(PromptsTest, APromptIsOwnedByAHiddenWindowMadeForItWithTheTaskbarInFront) {
  for (const auto& c : kPrompts) {
    SCOPED_TRACE(c.name);
    plat.ui.answer = uxtest::UserAnswer{IDOK, false};
    EXPECT_EQ(c.show(agent, resources), IDOK);
    ASSERT_TRUE(plat.ui.shown);
    const auto& d = *plat.ui.shown;
    EXPECT_EQ(d.templateId, c.templateId);
    EXPECT_EQ(d.resources, resources);
    EXPECT_TRUE(d.ownerIsWindow);
    EXPECT_EQ(d.ownerFound, d.owner) << "the owner is of class VDInvisibleParent";
    EXPECT_EQ(d.foreground, machine.Sessions().ShellWindow(1));
    EXPECT_TRUE(d.initResult);
    EXPECT_EQ(d.initialCheck, UINT{BST_UNCHECKED});
    EXPECT_FALSE(proc->Ui().IsWindow(d.owner));
    ExpectOwnerGone();
    EXPECT_FALSE(Stored(c.value).has_value()) << "an unchecked box writes nothing";
  }
}

TEST_F(PromptsTest, ACheckedBoxIsRememberedWhicheverWayTheUserCloses) {
  const uxtest::UserAnswer answers[] = {{IDOK, true}, {IDCANCEL, true}, {IDOK, true, true}};
  for (const auto& c : kPrompts) {
    for (const auto& a : answers) {
      SCOPED_TRACE(testing::Message()
                   << c.name << " button " << a.button << " close " << a.viaClose);
      machine.Registry().DeleteValue(agentKey, c.value);
      sink.Clear();
      plat.ui.answer = a;
      EXPECT_EQ(c.show(agent, resources), a.viaClose ? IDCANCEL : a.button);
      EXPECT_EQ(Stored(c.value), c.written);
      EXPECT_TRUE(sink.Contains('U', c.trace));
    }
  }
  // Declining with the box clear leaves an earlier choice alone.
  plat.ui.answer = uxtest::UserAnswer{IDCANCEL, false};
  machine.Registry().SetDword(agentKey, L"UserFPDoNotBotherAgain", 0);
  EXPECT_EQ(CAskUserToRegisterDlg(agent, resources).DoModal(), IDCANCEL);
  EXPECT_EQ(Stored(L"UserFPDoNotBotherAgain"), 0u);
}

// (Every box starts clear when nothing is stored: the owner case above.)
TEST_F(PromptsTest, TheReenrollmentBoxStartsAsTheStoredChoice) {
  plat.ui.answer = uxtest::UserAnswer{IDOK, true};
  machine.Registry().SetDword(agentKey, L"ReenrollmentPromptDoNotBotherAgain", 1);
  CReenrollmentPromptDlg(agent, resources).DoModal();
  ASSERT_TRUE(plat.ui.shown);
  EXPECT_EQ(plat.ui.shown->initialCheck, UINT{BST_CHECKED});

  // The other prompts' boxes always start clear, whatever was stored.
  machine.Registry().SetDword(agentKey, L"UserFPDoNotBotherAgain", 1);
  CAskUserToRegisterDlg(agent, resources).DoModal();
  EXPECT_EQ(plat.ui.shown->initialCheck, UINT{BST_UNCHECKED});
}

TEST_F(PromptsTest, ClassicHomeHasItsOwnWording) {
  plat.ui.answer = uxtest::UserAnswer{IDOK, false};
  CAskUserToRegisterAtStartDlg(agent, resources).DoModal();
  EXPECT_EQ(plat.ui.shown->texts[IDC_PROMPT_TEXT], L"Enroll now?");
  CAskUserToRegisterDlg(agent, resources).DoModal();
  EXPECT_EQ(plat.ui.shown->texts[IDC_PROMPT_TEXT], L"Enroll a finger?");

  InstallClassicHome();
  core::CAgentProcess home(plat, nullptr);  // edition answers are cached per process
  CAskUserToRegisterAtStartDlg(home, resources).DoModal();
  EXPECT_EQ(plat.ui.shown->texts[IDC_PROMPT_TEXT], L"Home: enroll now?");
  CAskUserToRegisterDlg(home, resources).DoModal();
  EXPECT_EQ(plat.ui.shown->texts[IDC_PROMPT_TEXT], L"Home: enroll a finger?");
  CReenrollmentPromptDlg(home, resources).DoModal();
  EXPECT_EQ(plat.ui.shown->texts[IDC_PROMPT_TEXT], L"Enroll your finger again?");
}

TEST_F(PromptsTest, ThePromptAtStartReadsItsTrainingVideoFromTheThirtyTwoBitView) {
  plat.ui.answer = uxtest::UserAnswer{IDOK, false};
  EXPECT_EQ(CAskUserToRegisterAtStartDlg(agent, resources).DoModal(), IDOK);
  EXPECT_TRUE(sink.Contains('U', "No training video"));

  machine.Registry().SetString(kVideo32, L"DevModalitySwipe", L"C:\\Videos\\swipe.wmv");
  sink.Clear();
  EXPECT_EQ(CAskUserToRegisterAtStartDlg(agent, resources).DoModal(), IDOK);
  EXPECT_TRUE(sink.Contains('U', "Training video: C:\\Videos\\swipe.wmv"));

  machine.Registry().SetDword(kVideo32, L"DevModalitySwipe", 7);
  sink.Clear();
  EXPECT_EQ(CAskUserToRegisterAtStartDlg(agent, resources).DoModal(), IDOK)
      << "a bad value does not stop the prompt";
  EXPECT_TRUE(sink.Contains('U', "No training video"));
}

TEST_F(PromptsTest, APromptThatCannotBeShownLeavesNoOwnerBehind) {
  plat.ui.answer.reset();
  for (const auto& c : kPrompts) {
    SCOPED_TRACE(c.name);
    sink.Clear();
    EXPECT_EQ(c.show(agent, resources), -1);
    ExpectOwnerGone();
    bool traced = false;
    for (const auto& t : sink.Texts('E')) traced = traced || t.find("DialogBoxParam") != t.npos;
    EXPECT_TRUE(traced);
  }
}

TEST_F(PromptsTest, APromptBorrowsAnOwnerClassRegisteredFurtherOut) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = proc->Ui().DefWindowProcAddress();
  wc.lpszClassName = L"VDInvisibleParent";
  ASSERT_NE(proc->Ui().RegisterClassExW(&wc), 0);
  plat.ui.answer = uxtest::UserAnswer{IDOK, false};
  EXPECT_EQ(CAskUserToRegisterDlg(agent, resources).DoModal(), IDOK);
  EXPECT_TRUE(plat.ui.shown->ownerIsWindow);
  // Its registration is not this prompt's to undo.
  EXPECT_TRUE(proc->Ui().UnregisterClassW(L"VDInvisibleParent", nullptr));
}

}  // namespace
