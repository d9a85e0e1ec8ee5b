// The module's start: the toast activator's class object registered with COM for other
// processes, the application user model id, and the revocation at the end.
#include "app/agent_module.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"
#include "tests/testing/forwarding_platform.h"

namespace {

// COM as the agent's process sees it, with the class-object table recorded and scripted.
class RecordingCom : public vdtest::ForwardingCom {
 public:
  using ForwardingCom::ForwardingCom;
  HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* unk, DWORD ctx, DWORD flags,
                                LPDWORD cookie) override {
    if (FAILED(registerResult)) return registerResult;
    unk->AddRef();
    classObject.reset(unk);
    registered = {clsid, ctx, flags};
    *cookie = 0x77;
    return S_OK;
  }
  HRESULT CoRevokeClassObject(DWORD cookie) override {
    revoked.push_back(cookie);
    classObject.reset();
    return S_OK;
  }
  struct Registration {
    CLSID clsid;
    DWORD context;
    DWORD flags;
  };
  HRESULT registerResult = S_OK;
  std::optional<Registration> registered;
  platform::ComPtr<IUnknown> classObject;
  std::vector<DWORD> revoked;
};

class IdShell : public vdtest::ForwardingShell {
 public:
  using ForwardingShell::ForwardingShell;
  HRESULT SetCurrentProcessExplicitAppUserModelID(PCWSTR id) override {
    ids.push_back(id);
    return result;
  }
  std::vector<std::wstring> ids;
  HRESULT result = S_OK;
};

class ModulePlatform : public platform::IPlatform {
 public:
  explicit ModulePlatform(sim::Process& p) : process(p), com(p.Com()), shell(p.Shell()) {}
  platform::IRegistry& Registry() override { return process.Registry(); }
  platform::IKernel& Kernel() override { return process.Kernel(); }
  platform::IUi& Ui() override { return process.Ui(); }
  platform::ISessions& Sessions() override { return process.Sessions(); }
  platform::ICom& Com() override { return com; }
  platform::IModules& Modules() override { return process.Modules(); }
  platform::IShell& Shell() override { return shell; }
  platform::ICrypt& Crypt() override { return process.Crypt(); }
  platform::IGdi& Gdi() override { return process.Gdi(); }

  sim::Process& process;
  RecordingCom com;
  IdShell shell;
};

class ModuleTest : public ::testing::Test {
 protected:
  ModuleTest()
      : proc(machine.CreateProcess({})), scope(proc.get()), plat(*proc), agent(plat, nullptr) {
    VDTraceNS::Bind(proc.get());
  }
  ~ModuleTest() override { VDTraceNS::Bind(nullptr); }

  CVdAgentModule Module() {
    return CVdAgentModule(agent, [this](const std::wstring& command) {
      commands.push_back(command);
      return true;
    });
  }
  bool TracedPart(const std::string& part) {
    for (const auto& r : sink.Records())
      if (r.text.find(part) != std::string::npos) return true;
    return false;
  }

  VDTraceNS::CRecordingSink sink;
  sim::Machine machine;
  std::unique_ptr<sim::Process> proc;
  sim::CurrentProcessScope scope;
  ModulePlatform plat;
  core::CAgentProcess agent;
  std::vector<std::wstring> commands;
};

TEST_F(ModuleTest, InitRegistersTheActivatorForOtherProcessesAndTermRevokesIt) {
  CVdAgentModule module(agent, [this](const std::wstring& command) {
    commands.push_back(command);
    return command == L"OpenConsole";
  });
  ASSERT_EQ(module.Init(), S_OK);
  ASSERT_TRUE(plat.com.registered);
  EXPECT_TRUE(plat.com.registered->clsid == CLSID_ToastActivator);
  EXPECT_EQ(plat.com.registered->context, static_cast<DWORD>(CLSCTX_LOCAL_SERVER));
  EXPECT_EQ(plat.com.registered->flags, static_cast<DWORD>(REGCLS_MULTIPLEUSE));
  EXPECT_EQ(plat.shell.ids, std::vector<std::wstring>{L"Veridane.Dashboard"});

  // What the shell does with a click on a toast in the action center.
  platform::ComPtr<IClassFactory> factory;
  ASSERT_EQ(plat.com.classObject->QueryInterface(IID_IClassFactory, factory.put_void()), S_OK);
  platform::ComPtr<INotificationActivationCallback> activator;
  ASSERT_EQ(
      factory->CreateInstance(nullptr, IID_INotificationActivationCallback, activator.put_void()),
      S_OK);
  EXPECT_EQ(activator->Activate(L"Veridane.Dashboard", L"OpenConsole", nullptr, 0), S_OK);
  EXPECT_EQ(activator->Activate(L"Veridane.Dashboard", L"Unknown", nullptr, 0), S_FALSE);
  EXPECT_EQ(commands, (std::vector<std::wstring>{L"OpenConsole", L"Unknown"}));

  module.Term();
  module.Term();
  EXPECT_EQ(plat.com.revoked, std::vector<DWORD>{0x77}) << "revoked once";
  EXPECT_FALSE(module.IsRegistered());
}

TEST_F(ModuleTest, AFailedRegistrationFailsTheStart) {
  plat.com.registerResult = CO_E_NOTINITIALIZED;
  {
    CVdAgentModule module = Module();
    EXPECT_EQ(module.Init(), CO_E_NOTINITIALIZED);
    EXPECT_TRUE(TracedPart("Registering COM Server clases"));
    EXPECT_TRUE(plat.shell.ids.empty());
  }
  EXPECT_TRUE(plat.com.revoked.empty()) << "nothing to revoke";
}

TEST_F(ModuleTest, AMissingUserModelIdIsLoggedAndTheAgentRunsWithout) {
  plat.shell.result = HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);  // before Windows 7
  {
    CVdAgentModule module = Module();
    EXPECT_EQ(module.Init(), S_OK);
    EXPECT_TRUE(TracedPart("Setting AppUserModelID for process"));
  }
  EXPECT_EQ(plat.com.revoked, std::vector<DWORD>{0x77}) << "revoked when the module goes";
}

}  // namespace
