// The simulated machine's class-object table across processes, in-process servers, module
// handles, associations, the process's application id and the shell's notification state:
// what the conformance tests cannot show with one real process.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "platform/handles.h"
#include "platform/sim/class_objects.h"
#include "platform/sim/desktop.h"
#include "platform/sim/file_system.h"
#include "platform/sim/machine.h"
#include "platform/sim/module_table.h"
#include "platform/sim/process.h"
#include "platform/sim/process_com.h"
#include "platform/sim/process_modules.h"
#include "platform/sim/process_shell.h"
#include "platform/sim/registry_store.h"
#include "platform/sim/session_manager.h"

namespace {

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

// A class object that counts references and hands out itself as its product, tagged so a
// test can tell which server made an object.
class Factory final : public IClassFactory {
 public:
  explicit Factory(int tag) : tag(tag) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (SameGuid(riid, IID_IUnknown) || SameGuid(riid, IID_IClassFactory)) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    ++created;
    lastOuter = outer;
    return QueryInterface(riid, ppv);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

  const int tag;
  std::atomic<long> refs{1};
  std::atomic<int> created{0};
  IUnknown* lastOuter = nullptr;
};

constexpr GUID kClsid = {
    0x2f0e7a51, 0x1c3b, 0x4d2e, {0x8a, 0x61, 0x0d, 0x5e, 0x9b, 0x33, 0x7c, 0x10}};
constexpr wchar_t kServerKey[] =
    L"HKLM\\SOFTWARE\\Classes\\CLSID\\{2F0E7A51-1C3B-4D2E-8A61-0D5E9B337C10}\\InprocServer32";
constexpr wchar_t kServerDll[] = L"C:\\Servers\\server.dll";

Factory g_inprocFactory(100);
HRESULT STDAPICALLTYPE ServerGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv) {
  if (!SameGuid(clsid, kClsid)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_inprocFactory.QueryInterface(riid, ppv);
}
FARPROC Export(PFN_DLLGETCLASSOBJECT f) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(f));
}

class SimComTest : public ::testing::Test {
 protected:
  std::unique_ptr<sim::Process> NewProcess(DWORD session = 1) {
    // 64-bit, so that HKCR\CLSID is the key the test writes (WOW64 keeps its own).
    auto p = m.CreateProcess({.sessionId = session, .is32Bit = false});
    EXPECT_EQ(p->Com().CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    return p;
  }
  static IUnknown* Create(sim::Process& p, DWORD context, HRESULT expected = S_OK) {
    void* object = nullptr;
    EXPECT_EQ(p.Com().CoCreateInstance(kClsid, nullptr, context, IID_IUnknown, &object), expected);
    return static_cast<IUnknown*>(object);
  }
  static int TagOf(IUnknown* object) {
    if (!object) return 0;
    const int tag = static_cast<Factory*>(static_cast<IClassFactory*>(object))->tag;
    object->Release();
    return tag;
  }
  void InstallServer() {
    m.Modules().Install(kServerDll, {{"DllGetClassObject", Export(&ServerGetClassObject)}});
    m.Registry().SetString(kServerKey, L"", kServerDll);
  }

  sim::Machine m;
};

TEST_F(SimComTest, AProcessEndRevokesWhatItRegistered) {
  Factory factory(1);
  auto server = NewProcess();
  auto client = NewProcess();
  DWORD cookie = 0;
  ASSERT_EQ(server->Com().CoRegisterClassObject(kClsid, &factory, CLSCTX_LOCAL_SERVER,
                                                REGCLS_MULTIPLEUSE, &cookie),
            S_OK);
  EXPECT_EQ(m.ClassObjects().Count(server->Pid()), 1u);
  EXPECT_EQ(TagOf(Create(*client, CLSCTX_LOCAL_SERVER)), 1);
  EXPECT_EQ(client->Com().CoRevokeClassObject(cookie), CO_E_OBJNOTREG) << "only the owner revokes";
  EXPECT_EQ(factory.refs.load(), 2);

  server.reset();
  EXPECT_EQ(factory.refs.load(), 1);
  EXPECT_EQ(m.ClassObjects().Count(), 0u);
  EXPECT_EQ(Create(*client, CLSCTX_LOCAL_SERVER, REGDB_E_CLASSNOTREG), nullptr);
}

TEST_F(SimComTest, InProcessServersComeBeforeOtherProcessesAndAfterTheCallersOwn) {
  InstallServer();
  Factory other(2), own(3);
  auto server = NewProcess();
  auto client = NewProcess();
  DWORD cookie = 0, ownCookie = 0;
  ASSERT_EQ(server->Com().CoRegisterClassObject(kClsid, &other, CLSCTX_LOCAL_SERVER,
                                                REGCLS_MULTIPLEUSE, &cookie),
            S_OK);
  EXPECT_EQ(TagOf(Create(*client, CLSCTX_ALL)), 100);
  EXPECT_EQ(TagOf(Create(*client, CLSCTX_INPROC_SERVER)), 100);
  EXPECT_EQ(TagOf(Create(*client, CLSCTX_LOCAL_SERVER)), 2);
  auto& modules = static_cast<sim::ProcessModules&>(client->Modules());
  EXPECT_NE(modules.LoadedModule(L"server.dll"), nullptr) << "the server stays loaded";

  ASSERT_EQ(client->Com().CoRegisterClassObject(kClsid, &own, CLSCTX_LOCAL_SERVER,
                                                REGCLS_MULTIPLEUSE, &ownCookie),
            S_OK);
  EXPECT_EQ(TagOf(Create(*client, CLSCTX_ALL)), 3) << "the caller's own registration first";
  EXPECT_EQ(client->Com().CoRevokeClassObject(ownCookie), S_OK);
  EXPECT_EQ(server->Com().CoRevokeClassObject(cookie), S_OK);
  EXPECT_EQ(other.refs.load(), 1);
  EXPECT_EQ(own.refs.load(), 1);
}

TEST_F(SimComTest, ABrokenInProcessServerReportsWhatIsWrong) {
  auto p = NewProcess();
  m.Registry().SetString(kServerKey, L"", kServerDll);
  EXPECT_EQ(Create(*p, CLSCTX_ALL, HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)), nullptr);
  m.Modules().Install(kServerDll, {});
  EXPECT_EQ(Create(*p, CLSCTX_INPROC_SERVER, CO_E_ERRORINDLL), nullptr);
  m.Registry().SetString(kServerKey, L"", L"");
  EXPECT_EQ(Create(*p, CLSCTX_INPROC_SERVER, REGDB_E_CLASSNOTREG), nullptr);
}

TEST_F(SimComTest, ASingleUseClassObjectServesOneOtherProcess) {
  Factory factory(4);
  auto server = NewProcess();
  auto client = NewProcess();
  DWORD cookie = 0;
  ASSERT_EQ(server->Com().CoRegisterClassObject(kClsid, &factory, CLSCTX_LOCAL_SERVER,
                                                REGCLS_SINGLEUSE, &cookie),
            S_OK);
  EXPECT_EQ(TagOf(Create(*client, CLSCTX_LOCAL_SERVER)), 4);
  EXPECT_EQ(Create(*client, CLSCTX_LOCAL_SERVER, REGDB_E_CLASSNOTREG), nullptr);
  EXPECT_EQ(server->Com().CoRevokeClassObject(cookie), S_OK) << "still registered";
}

TEST_F(SimComTest, AnObjectInAnotherProcessCannotBeAggregated) {
  Factory factory(5), outer(6);
  auto server = NewProcess();
  auto client = NewProcess();
  DWORD cookie = 0;
  ASSERT_EQ(server->Com().CoRegisterClassObject(kClsid, &factory, CLSCTX_LOCAL_SERVER,
                                                REGCLS_MULTIPLEUSE, &cookie),
            S_OK);
  void* object = nullptr;
  EXPECT_EQ(
      client->Com().CoCreateInstance(kClsid, &outer, CLSCTX_LOCAL_SERVER, IID_IUnknown, &object),
      CLASS_E_NOAGGREGATION);
  EXPECT_EQ(factory.created.load(), 0);
  EXPECT_EQ(factory.refs.load(), 2) << "the lookup's reference went back";
}

TEST_F(SimComTest, AThreadWithoutItsOwnApartmentUsesTheProcesssMultithreadedOne) {
  Factory factory(7);
  auto p = m.CreateProcess({});
  DWORD cookie = 0;
  auto registerOnNewThread = [&] {
    HRESULT hr = E_FAIL;
    std::thread([&] {
      hr = p->Com().CoRegisterClassObject(kClsid, &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                          &cookie);
    }).join();
    return hr;
  };
  ASSERT_EQ(p->Com().CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  EXPECT_EQ(registerOnNewThread(), CO_E_NOTINITIALIZED) << "a single-threaded one is no help";
  p->Com().CoUninitialize();
  ASSERT_EQ(p->Com().CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  EXPECT_EQ(registerOnNewThread(), S_OK);
  EXPECT_EQ(p->Com().CoRevokeClassObject(cookie), S_OK);
  p->Com().CoUninitialize();
}

TEST(SimVarDateTest, TwoDigitYearsAndTwelveHourTimesReadAsOnWindows) {
  sim::Machine m;
  auto p = m.CreateProcess({});
  auto parse = [&](const wchar_t* text, ULONG flags = 0) {
    DATE d = -99999;
    return SUCCEEDED(p->Com().VarDateFromStr(text, LOCALE_USER_DEFAULT, flags, &d)) ? d : -99999;
  };
  EXPECT_EQ(parse(L"12/7/49"), parse(L"12/7/2049"));
  EXPECT_EQ(parse(L"12/7/50"), parse(L"12/7/1950"));
  EXPECT_DOUBLE_EQ(parse(L"2026-12-07 1:30 PM"), 46363.0 + 13.5 / 24);
  EXPECT_DOUBLE_EQ(parse(L"2026-12-07 12:00 AM"), 46363.0);
  EXPECT_DOUBLE_EQ(parse(L"1899-12-29 06:00"), -1.25);
  EXPECT_EQ(parse(L"2026-12-07 13:00 PM"), -99999);
  EXPECT_EQ(parse(L"2026-12-07 10:61"), -99999);
  EXPECT_EQ(parse(L"2026-12-07 10:30 tomorrow"), -99999);
  EXPECT_EQ(parse(L"2026-12/07"), -99999) << "one separator throughout";
  EXPECT_EQ(parse(L"99999999-1-1"), -99999);
  DATE d = 0;
  EXPECT_EQ(p->Com().VarDateFromStr(nullptr, LOCALE_USER_DEFAULT, 0, &d), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(p->Com().VarDateFromStr(L"2026-12-07", LOCALE_USER_DEFAULT, 0, nullptr), E_INVALIDARG);
}

// ---- Module handles ----

TEST(SimModulesTest, AModuleIsFoundWhileLoadedWithoutTakingAReference) {
  sim::Machine m;
  m.Modules().Install(L"C:\\Program Files\\Veridane\\Agent\\VdPlugin.dll", {});
  auto p = m.CreateProcess({});
  auto& modules = p->Modules();
  EXPECT_EQ(modules.GetModuleHandleW(L"VdPlugin.dll"), nullptr) << "not loaded yet";
  EXPECT_EQ(p->Kernel().GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  HMODULE h =
      modules.LoadLibraryExW(L"C:\\Program Files\\Veridane\\Agent\\VdPlugin.dll", nullptr, 0);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(modules.GetModuleHandleW(L"vdplugin"), h);
  EXPECT_EQ(modules.GetModuleHandleW(L"c:\\program files\\veridane\\agent\\VDPLUGIN.DLL"), h);
  EXPECT_EQ(modules.GetModuleHandleW(L"C:\\Elsewhere\\VdPlugin.dll"), nullptr);
  EXPECT_TRUE(modules.FreeLibrary(h));
  EXPECT_EQ(modules.GetModuleHandleW(L"VdPlugin.dll"), nullptr) << "the one load was undone";
}

TEST(SimModulesTest, SystemLibrariesAndTheExecutableStayLoaded) {
  sim::Machine m;
  auto p = m.CreateProcess({});
  auto& modules = p->Modules();
  HMODULE shell32 = modules.GetModuleHandleW(L"shell32.dll");
  ASSERT_NE(shell32, nullptr);
  EXPECT_EQ(modules.GetModuleHandleW(L"comctl32.dll") != nullptr, true);
  EXPECT_TRUE(modules.FreeLibrary(shell32));
  EXPECT_EQ(modules.GetModuleHandleW(L"Shell32.dll"), shell32) << "never unloaded";
  EXPECT_EQ(modules.LoadLibraryExW(L"Shell32.dll", nullptr, 0), shell32);

  HMODULE exe = modules.GetModuleHandleW(nullptr);
  ASSERT_NE(exe, nullptr);
  EXPECT_EQ(modules.GetModuleHandleW(L"VdAgent.exe"), exe);
  EXPECT_EQ(modules.GetModuleHandleW(L"C:\\Program Files\\Veridane\\Agent\\VdAgent.exe"), exe);
  EXPECT_NE(exe, shell32);
}

TEST(SimModulesTest, AMissingShell32OrEntryIsSeenByTheNextProcess) {
  sim::Machine m;
  m.Modules().RemoveExport(sim::kShell32Path, "SHQueryUserNotificationState");
  auto p = m.CreateProcess({});
  HMODULE shell32 = p->Modules().GetModuleHandleW(L"Shell32.dll");
  ASSERT_NE(shell32, nullptr);
  EXPECT_EQ(p->Modules().GetProcAddress(shell32, "SHQueryUserNotificationState"), nullptr);
  EXPECT_EQ(p->Kernel().GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));

  m.Modules().Uninstall(sim::kShell32Path);
  auto q = m.CreateProcess({});
  EXPECT_EQ(q->Modules().GetModuleHandleW(L"Shell32.dll"), nullptr);
}

// ---- The shell's notification state ----

using QueryState = HRESULT(WINAPI*)(QUERY_USER_NOTIFICATION_STATE*);

// SHQueryUserNotificationState as a process finds it, called as that process.
HRESULT QueryAs(sim::Process& p, QUERY_USER_NOTIFICATION_STATE* state) {
  sim::CurrentProcessScope scope(&p);
  HMODULE shell32 = p.Modules().GetModuleHandleW(L"Shell32.dll");
  FARPROC f =
      shell32 ? p.Modules().GetProcAddress(shell32, "SHQueryUserNotificationState") : nullptr;
  if (!f) return E_NOTIMPL;
  return reinterpret_cast<QueryState>(reinterpret_cast<void (*)()>(f))(state);
}

TEST(SimNotificationStateTest, EachSessionAnswersWithItsOwnState) {
  sim::Machine m;
  const DWORD other = m.Sessions().CreateSession({.userName = L"bob", .remote = true});
  auto mine = m.CreateProcess({.sessionId = 1});
  auto theirs = m.CreateProcess({.sessionId = other});
  auto& desktop = m.GetDesktop();
  EXPECT_EQ(desktop.NotificationState(1), QUNS_ACCEPTS_NOTIFICATIONS);

  desktop.SetNotificationState(1, QUNS_QUIET_TIME);
  QUERY_USER_NOTIFICATION_STATE state{};
  EXPECT_EQ(QueryAs(*mine, &state), S_OK);
  EXPECT_EQ(state, QUNS_QUIET_TIME);
  EXPECT_EQ(QueryAs(*theirs, &state), S_OK);
  EXPECT_EQ(state, QUNS_ACCEPTS_NOTIFICATIONS);

  desktop.FailNotificationStateQuery(1, E_ACCESSDENIED);
  state = QUNS_APP;
  EXPECT_EQ(QueryAs(*mine, &state), E_ACCESSDENIED);
  EXPECT_EQ(state, QUNS_APP) << "a failed query leaves the answer alone";
  EXPECT_EQ(QueryAs(*theirs, &state), S_OK);
  desktop.FailNotificationStateQuery(1, 0);
  EXPECT_EQ(QueryAs(*mine, &state), S_OK);
  EXPECT_EQ(state, QUNS_QUIET_TIME);
}

// ---- Associations and the process's identity ----

class SimAssocTest : public ::testing::Test {
 protected:
  SimAssocTest() {
    m.Files().WriteFile(L"C:\\Browsers\\machine.exe", "");
    m.Files().WriteFile(L"C:\\Users\\alice\\user.exe", "");
    m.Files().WriteFile(L"C:\\Windows\\system32\\viewer.exe", "");
  }
  // The command for `verb` of protocol "vdtest" in HKLM, or in the user's classes.
  void Set(const std::wstring& verb, const std::wstring& command, bool perUser = false,
           DWORD type = REG_SZ) {
    auto& reg = p->Registry();
    platform::UniqueHKey k(reg);
    const std::wstring key = std::wstring(perUser ? L"Software\\Classes" : L"SOFTWARE\\Classes") +
                             L"\\vdtest\\shell\\" + verb + L"\\command";
    ASSERT_EQ(reg.RegCreateKeyExW(perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, key.c_str(), 0,
                                  nullptr, 0, KEY_ALL_ACCESS, nullptr, k.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(reg.RegSetValueExW(k.get(), nullptr, 0, type,
                                 reinterpret_cast<const BYTE*>(command.c_str()),
                                 static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
  }
  std::wstring Query(const wchar_t* verb = L"open", HRESULT expected = S_OK) {
    wchar_t out[MAX_PATH] = {};
    DWORD cch = MAX_PATH;
    EXPECT_EQ(p->Shell().AssocQueryStringW(ASSOCF_NOTRUNCATE, ASSOCSTR_EXECUTABLE, L"vdtest", verb,
                                           out, &cch),
              expected);
    return out;
  }

  sim::Machine m;
  std::unique_ptr<sim::Process> p = m.CreateProcess({});
};

TEST_F(SimAssocTest, TheUsersClassesComeBeforeTheMachines) {
  Set(L"open", L"\"C:\\Browsers\\machine.exe\" \"%1\"");
  EXPECT_EQ(Query(), L"C:\\Browsers\\machine.exe");
  Set(L"open", L"C:\\Users\\alice\\user.exe %1", /*perUser=*/true);
  EXPECT_EQ(Query(), L"C:\\Users\\alice\\user.exe");
  // Verb by verb: the machine's "print" still shows through.
  Set(L"print", L"C:\\Browsers\\machine.exe /p %1");
  EXPECT_EQ(Query(L"print"), L"C:\\Browsers\\machine.exe");
}

TEST_F(SimAssocTest, BareNamesAreFoundInTheSystemFolderAndVariablesExpanded) {
  Set(L"open", L"viewer %1");
  EXPECT_EQ(Query(), L"C:\\Windows\\system32\\viewer.exe");
  Set(L"open", L"\"%SystemRoot%\\system32\\viewer.exe\" %1", false, REG_EXPAND_SZ);
  EXPECT_EQ(Query(), L"C:\\Windows\\system32\\viewer.exe");
  Set(L"open", L"   ");
  Query(L"open", HRESULT_FROM_WIN32(ERROR_NO_ASSOCIATION));
  Query(L"edit", HRESULT_FROM_WIN32(ERROR_NO_ASSOCIATION));
}

TEST_F(SimAssocTest, WithoutNoTruncateASmallBufferGetsTheStartOfTheAnswer) {
  Set(L"open", L"\"C:\\Browsers\\machine.exe\" \"%1\"");
  wchar_t out[8];
  std::wmemset(out, L'#', 8);
  DWORD cch = 6;
  EXPECT_EQ(p->Shell().AssocQueryStringW(0, ASSOCSTR_EXECUTABLE, L"vdtest", L"open", out, &cch),
            HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::wstring(out), L"C:\\Br");
  EXPECT_EQ(out[6], L'#');
  EXPECT_EQ(cch, 24u);
  cch = MAX_PATH;
  wchar_t full[MAX_PATH];
  EXPECT_EQ(p->Shell().AssocQueryStringW(0, ASSOCSTR_COMMAND, L"vdtest", L"open", full, &cch),
            S_OK);
  EXPECT_EQ(std::wstring(full), L"\"C:\\Browsers\\machine.exe\" \"%1\"");
}

TEST(SimAppIdTest, TheProcessKeepsTheLastIdItWasGiven) {
  sim::Machine m;
  auto p = m.CreateProcess({});
  EXPECT_EQ(sim::AppUserModelId(*p), L"");
  EXPECT_EQ(p->Shell().SetCurrentProcessExplicitAppUserModelID(L"Veridane.Dashboard"), S_OK);
  EXPECT_EQ(p->Shell().SetCurrentProcessExplicitAppUserModelID(std::wstring(129, L'x').c_str()),
            E_INVALIDARG);
  EXPECT_EQ(sim::AppUserModelId(*p), L"Veridane.Dashboard") << "a refused id changes nothing";
  auto other = m.CreateProcess({});
  EXPECT_EQ(sim::AppUserModelId(*other), L"") << "each process has its own";
}

}  // namespace
