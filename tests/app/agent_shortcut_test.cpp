// The Start menu link of the registration run on the simulated machine: where it goes, what it
// holds, that installing again replaces it, that removing it takes its folder only when empty,
// and how a branded name and a failing step are handled.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/agent_module.h"
#include "platform/shell_link.h"
#include "platform/sim/desktop.h"
#include "platform/sim/file_system.h"
#include "platform/sim/machine.h"
#include "platform/sim/module_table.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"
#include "platform/sim/shell_link_object.h"
#include "standins/agent_res/sim_install.h"
#include "support/toast_contract.h"
#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"

namespace {

constexpr wchar_t kInstalledAgent[] = L"C:\\Program Files\\Veridane\\Agent\\VdAgent.exe";
constexpr wchar_t kPrograms[] = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
constexpr wchar_t kBrandDll[] = L"C:\\Program Files\\Veridane\\Brand.dll";

class ShortcutTest : public ::testing::Test {
 protected:
  explicit ShortcutTest(sim::MachineDescription desc = {}) : machine(std::move(desc)) {
    agent_res_sim::InstallAgentResources(machine,
                                         L"C:\\Program Files\\Veridane\\Agent\\VdAgentRes.dll");
    proc = machine.CreateProcess({.exePath = kInstalledAgent, .elevatedAdmin = true});
    scope = std::make_unique<sim::CurrentProcessScope>(proc.get());
    agent = std::make_unique<core::CAgentProcess>(*proc, nullptr);
    VDTraceNS::Bind(proc.get());
    EXPECT_EQ(proc->Com().CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  }
  ~ShortcutTest() override {
    proc->Com().CoUninitialize();
    VDTraceNS::Bind(nullptr);
  }
  // The branding module names the product `name`.
  void Brand(const std::wstring& name) {
    machine.Modules().Install(kBrandDll, {}, {{1100, name}});
    machine.Registry().SetString(L"HKLM\\SOFTWARE\\Veridane\\Branding\\Common", L"DLLPath",
                                 kBrandDll);
  }
  bool Traced(const std::string& part) {
    for (const auto& r : sink.Records())
      if (r.text.find(part) != std::string::npos) return true;
    return false;
  }
  static std::wstring Link(const std::wstring& name) {
    return std::wstring(kPrograms) + L"\\Veridane\\" + name + L".lnk";
  }

  VDTraceNS::CRecordingSink sink;
  sim::Machine machine;
  std::unique_ptr<sim::Process> proc;
  std::unique_ptr<sim::CurrentProcessScope> scope;
  std::unique_ptr<core::CAgentProcess> agent;
};

TEST_F(ShortcutTest, InstallWritesTheLinkTheToastsAreRecognisedBy) {
  const std::wstring path = Link(L"Veridane Classic");
  EXPECT_EQ(CVdAgentModule::GetShortcutPath(*agent), path) << "named by the agent's own texts";
  EXPECT_TRUE(Traced("Shortcut file: C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"));
  ASSERT_EQ(CVdAgentModule::InstallShortcut(*agent), S_OK);

  auto link = sim::ReadShellLink(machine.Files(), path);
  ASSERT_TRUE(link) << "the folder was made and the link saved";
  EXPECT_EQ(link->target, kInstalledAgent);
  EXPECT_EQ(link->arguments, L"/OpenConsole");
  EXPECT_EQ(link->description, L"Protect your identity, data and communications.");
  EXPECT_EQ(link->iconPath, kInstalledAgent);
  EXPECT_EQ(link->iconIndex, -3);
  EXPECT_FALSE(link->hasExpandableIconBlock);
  EXPECT_EQ(link->flags & SLDF_HAS_EXP_ICON_SZ, 0u);
  EXPECT_EQ(link->appUserModelId, kAgentAppUserModelId);
  ASSERT_TRUE(link->toastActivatorClsid);
  EXPECT_TRUE(*link->toastActivatorClsid == CLSID_ToastActivator);
  EXPECT_EQ(sim::LiveShellLinks(), 0) << "every interface of the link was released";
  EXPECT_TRUE(sink.Texts('E').empty());
  int shown = 0;
  for (const auto& e : machine.GetDesktop().Events())
    shown += e.kind == sim::desktop_kind::kShortcut &&
             e.text.find(L"/OpenConsole, icon ") != std::wstring::npos &&
             e.text.find(L"AppUserModelID Veridane.Dashboard") != std::wstring::npos;
  EXPECT_EQ(shown, 1);
}

// A shell whose links cannot remove data blocks, as Wine's: the link is made all the same.
class ShortcutWithoutDataBlocksTest : public ShortcutTest {
 protected:
  ShortcutWithoutDataBlocksTest() : ShortcutTest(Description()) {}
  static sim::MachineDescription Description() {
    sim::MachineDescription d;
    d.linkDataBlocks = false;
    return d;
  }
};

TEST_F(ShortcutWithoutDataBlocksTest, InstallGoesOnAndSavesTheLink) {
  ASSERT_EQ(CVdAgentModule::InstallShortcut(*agent), S_OK);
  EXPECT_TRUE(Traced("Removing EXP_SZ_ICON_SIG, not supported"));
  auto link = sim::ReadShellLink(machine.Files(), Link(L"Veridane Classic"));
  ASSERT_TRUE(link);
  EXPECT_EQ(link->appUserModelId, kAgentAppUserModelId);
  EXPECT_EQ(sim::LiveShellLinks(), 0);
}

TEST_F(ShortcutTest, InstallingAgainReplacesTheLinkAndUninstallTakesTheEmptyFolder) {
  const std::wstring path = Link(L"Veridane Classic");
  ASSERT_EQ(CVdAgentModule::InstallShortcut(*agent), S_OK);
  EXPECT_FALSE(Traced("Shortcut file exists"));
  machine.Files().WriteFile(path, "stale");  // a link an older installation left
  ASSERT_EQ(CVdAgentModule::InstallShortcut(*agent), S_OK);
  EXPECT_TRUE(Traced("Shortcut file exists"));
  auto link = sim::ReadShellLink(machine.Files(), path);
  ASSERT_TRUE(link);
  EXPECT_EQ(link->arguments, L"/OpenConsole");

  ASSERT_EQ(CVdAgentModule::UninstallShortcut(*agent), S_OK);
  EXPECT_FALSE(machine.Files().Exists(path));
  EXPECT_FALSE(machine.Files().Exists(std::wstring(kPrograms) + L"\\Veridane"));
  EXPECT_TRUE(machine.Files().Exists(kPrograms)) << "only our own folder goes";
  EXPECT_FALSE(Traced("Directory is not empty"));

  EXPECT_FALSE(Traced("Shortcut does not exist"));
  EXPECT_EQ(CVdAgentModule::UninstallShortcut(*agent), S_OK) << "nothing left is success";
  EXPECT_TRUE(Traced("Shortcut does not exist"));
}

TEST_F(ShortcutTest, UninstallLeavesTheFolderToAnotherProductsLink) {
  const std::wstring other = Link(L"Another Product");
  machine.Files().WriteFile(other, "theirs");
  ASSERT_EQ(CVdAgentModule::InstallShortcut(*agent), S_OK);
  ASSERT_EQ(CVdAgentModule::UninstallShortcut(*agent), S_OK);
  EXPECT_TRUE(Traced("Directory is not empty"));
  EXPECT_FALSE(machine.Files().Exists(Link(L"Veridane Classic")));
  EXPECT_EQ(machine.Files().ReadFile(other), "theirs");
}

TEST_F(ShortcutTest, ABrandedNameStaysOneFileNameInTheFolder) {
  Brand(L"..\\..\\..\\Startup\\Evil: A/B?. ");
  const std::wstring path = CVdAgentModule::GetShortcutPath(*agent);
  EXPECT_EQ(path, Link(L".._.._.._Startup_Evil_ A_B_"));
  ASSERT_EQ(CVdAgentModule::InstallShortcut(*agent), S_OK);
  EXPECT_TRUE(sim::ReadShellLink(machine.Files(), path));
  EXPECT_FALSE(machine.Files().Exists(L"C:\\ProgramData\\Microsoft\\Windows\\Startup"));

  // A name too long for a path gives no path, and the install says why it stopped.
  Brand(std::wstring(300, L'x'));
  EXPECT_EQ(CVdAgentModule::GetShortcutPath(*agent), L"");
  EXPECT_EQ(CVdAgentModule::InstallShortcut(*agent), E_FAIL);
  EXPECT_TRUE(Traced("Empty path"));
  EXPECT_EQ(CVdAgentModule::UninstallShortcut(*agent), E_FAIL);
}

TEST_F(ShortcutTest, AFailingStepEndsTheInstallWithItsNameAndResult) {
  // A folder where the link belongs: it can be neither deleted as a file nor saved over.
  const std::wstring path = Link(L"Veridane Classic");
  ASSERT_EQ(proc->Shell().SHCreateDirectoryExW(nullptr, path.c_str(), nullptr), ERROR_SUCCESS);
  EXPECT_EQ(CVdAgentModule::InstallShortcut(*agent), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(Traced("Shortcut file exists"));
  EXPECT_TRUE(Traced("Deleting shortcut"));
  EXPECT_TRUE(Traced("Saving"));
  EXPECT_FALSE(Traced("Committing"));
  EXPECT_EQ(sim::LiveShellLinks(), 0) << "released on the failing path too";
}

}  // namespace
