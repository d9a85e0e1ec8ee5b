// The toast and quick-link stand-ins reached the way the agent reaches them: the library
// loaded by its bare name, its entry point called with automation strings, the completion
// watched on the simulated clock, and the shell's action center calling the activator class.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "platform/sim/desktop.h"
#include "platform/sim/process.h"
#include "platform/sim/thread_pool.h"
#include "standins/toast/sim_install.h"
#include "support/suite_components.h"
#include "support/toast_contract.h"
#include "tests/standins/standin_exports.h"

namespace {

using toast_standin::ToastAnswer;
using toast_standin::ToastStandInsDescription;

// What a completion saw; the context handed to the library.
struct Probe {
  sim::Machine* machine = nullptr;
  std::atomic<int> calls{0};
  std::atomic<INT32> result{-1};
  std::atomic<bool> onPoolThread{false};
  std::atomic<DWORD> thread{0};
  HRESULT answer = S_OK;
};

HRESULT WINAPI OnToastDone(void* context, INT32 result) {
  auto* probe = static_cast<Probe*>(context);
  probe->result = result;
  probe->onPoolThread = probe->machine->Pool().IsWorkerThread();
  probe->thread = probe->machine->CurrentThreadId();
  ++probe->calls;
  return probe->answer;
}

using standintest::Export;

class ToastStandinTest : public ::testing::Test {
 protected:
  void Install(const std::string& json = "{}") {
    m_toasts =
        toast_standin::InstallToastStandIns(m_machine, ToastStandInsDescription::FromJson(json));
  }
  void TearDown() override {
    m_machine.RunUntilIdle();
    m_toasts.reset();
  }

  // Shows a toast from `p` as the agent does; null pointers stay null.
  HRESULT Show(sim::Process& p, Probe* probe, const wchar_t* title = L"Title",
               const wchar_t* message = L"Text", const wchar_t* button = nullptr,
               const wchar_t* param = L"ManageCredentials", const wchar_t* idText = L"0000002A",
               bool withCompletion = true) {
    sim::CurrentProcessScope scope(&p);
    HMODULE lib = p.Modules().LoadLibraryExW(kVDWinRTUtilsLibrary, nullptr, 0);
    if (!lib) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    auto show = Export<PFN_WinRT_DisplayToast>(p, lib, kWinRTDisplayToastExport);
    auto& com = p.Com();
    BSTR t = com.SysAllocString(title), m = com.SysAllocString(message),
         b = com.SysAllocString(button), pa = com.SysAllocString(param),
         id = com.SysAllocString(idText);
    if (probe) probe->machine = &m_machine;
    const HRESULT hr =
        show(42, t, m, nullptr, b, id, 0x10000, pa, withCompletion ? &OnToastDone : nullptr, probe);
    // The library keeps its own copies: the caller frees its strings at once.
    for (BSTR s : {t, m, b, pa, id}) com.SysFreeString(s);
    p.Modules().FreeLibrary(lib);
    return hr;
  }
  std::vector<std::wstring> Texts(const wchar_t* kind, DWORD session = 1) {
    return m_machine.GetDesktop().Texts(session, kind);
  }

  sim::Machine m_machine;
  std::unique_ptr<sim::Process> m_agent = m_machine.CreateProcess({.sessionId = 1});
  std::unique_ptr<toast_standin::SimToastInstallation> m_toasts;
};

// ---- Showing and completing ---------------------------------------------------------------

TEST_F(ToastStandinTest, MissingArgumentsAreRefusedAndNothingIsShown) {
  Install();
  Probe probe;
  EXPECT_EQ(Show(*m_agent, &probe, nullptr), E_INVALIDARG);
  EXPECT_EQ(Show(*m_agent, &probe, L"T", nullptr), E_INVALIDARG);
  EXPECT_EQ(Show(*m_agent, &probe, L"T", L"M", nullptr, nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(Show(*m_agent, &probe, L"T", L"M", nullptr, nullptr, L"00000001", false), E_INVALIDARG);
  m_machine.AdvanceBy(60000);
  EXPECT_EQ(probe.calls, 0);
  EXPECT_TRUE(m_toasts->Toasts().empty());
  EXPECT_TRUE(Texts(toast_standin::kToastKind).empty());
  // No button and no param are a plain toast, and an empty title is still a title.
  EXPECT_EQ(Show(*m_agent, &probe, L"", L"M", nullptr, nullptr), S_OK);
  EXPECT_EQ(Texts(toast_standin::kToastKind),
            std::vector<std::wstring>{L"toast shown 0000002A \"\" \"M\""});
}

TEST_F(ToastStandinTest, AnUntouchedToastTimesOutOnceAfterSevenSecondsOnAPoolThread) {
  Install();
  Probe probe;
  ASSERT_EQ(Show(*m_agent, &probe, L"Reminder", L"Enroll now", L"Later"), S_OK);
  m_machine.RunUntilIdle();
  m_machine.AdvanceBy(6999);
  EXPECT_EQ(probe.calls, 0);
  EXPECT_EQ(m_toasts->Pending(), 1u);
  m_machine.AdvanceBy(1);
  EXPECT_EQ(probe.calls, 1);
  EXPECT_EQ(probe.result, toast_standin::kToastTimedOut);
  EXPECT_TRUE(probe.onPoolThread);
  EXPECT_NE(probe.thread, m_machine.CurrentThreadId());
  m_machine.AdvanceBy(600000);
  EXPECT_EQ(probe.calls, 1);
  EXPECT_EQ(m_toasts->Pending(), 0u);
  EXPECT_EQ(Texts(toast_standin::kToastKind),
            (std::vector<std::wstring>{L"toast shown 0000002A \"Reminder\" \"Enroll now\" button "
                                       L"\"Later\" param \"ManageCredentials\"",
                                       L"toast ended timed out"}));
  const auto shown = m_toasts->Toasts();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].id, 42u);
  EXPECT_EQ(shown[0].flags, 0x10000u);
  EXPECT_EQ(shown[0].processId, m_agent->Pid());
  EXPECT_EQ(shown[0].completionThread, probe.thread.load());
  const auto kept = m_toasts->ActionCenter(1);
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].title, L"Reminder");
  EXPECT_EQ(kept[0].param, std::optional<std::wstring>(L"ManageCredentials"));
}

TEST_F(ToastStandinTest, EachToastGetsTheUsersNextAnswerAndOnlyUntouchedOnesStay) {
  // Queued answers go before the described ones, which go before "otherwise".
  Install(R"({"toast": {"answers": [{"action": "button", "afterMs": 300}],
                        "otherwise": {"action": "dismiss", "afterMs": 50}}})");
  m_toasts->AnswerNext(ToastAnswer::Click(100));
  m_toasts->AnswerNext({7, 0});
  struct Case {
    const wchar_t* param;
    INT32 result;
    ULONGLONG afterMs;
  };
  const Case cases[] = {{L"A", toast_standin::kToastClicked, 100},
                        {L"B", 7, 0},
                        {L"C", toast_standin::kToastButton, 300},
                        {L"D", toast_standin::kToastDismissed, 50}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "param " << static_cast<char>(c.param[0]));
    Probe probe;
    ASSERT_EQ(Show(*m_agent, &probe, L"T", L"M", nullptr, c.param), S_OK);
    m_machine.RunUntilIdle();
    if (c.afterMs > 0) {
      EXPECT_EQ(probe.calls, 0);
      m_machine.AdvanceBy(c.afterMs - 1);
      EXPECT_EQ(probe.calls, 0);
      m_machine.AdvanceBy(1);
    }
    EXPECT_EQ(probe.calls, 1);
    EXPECT_EQ(probe.result, c.result);
  }
  const auto texts = Texts(toast_standin::kToastKind);
  std::vector<std::wstring> ends;
  for (const auto& t : texts)
    if (t.rfind(L"toast ended ", 0) == 0) ends.push_back(t);
  EXPECT_EQ(ends, (std::vector<std::wstring>{L"toast ended clicked", L"toast ended result 7",
                                             L"toast ended button", L"toast ended dismissed"}));
  std::vector<std::wstring> kept;
  for (const auto& e : m_toasts->ActionCenter(1)) kept.push_back(e.param.value_or(L"-"));
  EXPECT_EQ(kept, (std::vector<std::wstring>{L"B", L"D"}));
}

TEST_F(ToastStandinTest, AFailureOnDemandShowsNothingAndOnlyTheNextDisplayFails) {
  Install(R"({"toast": {"otherwise": {"action": "click"}}})");
  m_toasts->FailNextDisplay(static_cast<HRESULT>(0x80070490));
  Probe failed, shown;
  EXPECT_EQ(Show(*m_agent, &failed), static_cast<HRESULT>(0x80070490));
  EXPECT_EQ(Show(*m_agent, &shown), S_OK);
  m_machine.AdvanceBy(10000);
  EXPECT_EQ(failed.calls, 0);
  EXPECT_EQ(shown.calls, 1);
  EXPECT_EQ(m_toasts->Toasts().size(), 1u);
  const auto texts = Texts(toast_standin::kToastKind);
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts[0], L"toast refused 0x80070490");
}

TEST_F(ToastStandinTest, TheCompletionsAnswerIsKeptAndAnEndedProcessIsNotCalled) {
  Install();
  Probe answered;
  answered.answer = E_INVALIDARG;
  m_toasts->AnswerNext(ToastAnswer::Click(10));
  ASSERT_EQ(Show(*m_agent, &answered), S_OK);
  auto other = m_machine.CreateProcess({.sessionId = 2});
  Probe orphan;
  ASSERT_EQ(Show(*other, &orphan), S_OK);
  other.reset();  // the second program ends before its toast does
  m_machine.AdvanceBy(20000);
  EXPECT_EQ(answered.calls, 1);
  EXPECT_EQ(orphan.calls, 0);
  const auto shown = m_toasts->Toasts();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].completionAnswer, E_INVALIDARG);
  EXPECT_EQ(shown[1].session, 2u);
  EXPECT_FALSE(shown[1].result.has_value());
  EXPECT_EQ(m_toasts->Pending(), 1u);
}

TEST_F(ToastStandinTest, LibrariesLeftOutAreNotFoundByName) {
  Install(R"({"toast": {"installed": false}, "quickLinks": {"installed": false}})");
  sim::CurrentProcessScope scope(m_agent.get());
  EXPECT_EQ(m_agent->Modules().LoadLibraryExW(kVDWinRTUtilsLibrary, nullptr, 0), nullptr);
  EXPECT_EQ(m_agent->Modules().LoadLibraryExW(kVdMiniOnlineIdsLibrary, nullptr, 0), nullptr);
  m_toasts.reset();
  Install();
  HMODULE lib = m_agent->Modules().LoadLibraryExW(kVDWinRTUtilsLibrary, nullptr, 0);
  EXPECT_NE(lib, nullptr);
  m_agent->Modules().FreeLibrary(lib);
  // Uninstalled with the installation.
  m_toasts.reset();
  EXPECT_EQ(m_agent->Modules().LoadLibraryExW(kVDWinRTUtilsLibrary, nullptr, 0), nullptr);
}

// ---- Quick links ---------------------------------------------------------------------------

TEST_F(ToastStandinTest, AQuickLinkShowsItsEntryAndNumberInTheCallersSession) {
  Install(R"({"quickLinks": {"hr": "0x80004005"}})");
  auto other = m_machine.CreateProcess({.sessionId = 2});
  for (sim::Process* p : {m_agent.get(), other.get()}) {
    sim::CurrentProcessScope scope(p);
    HMODULE lib = p->Modules().LoadLibraryExW(kVdMiniOnlineIdsLibrary, nullptr, 0);
    ASSERT_NE(lib, nullptr);
    auto launch = Export<PFN_LaunchQuickLink>(*p, lib, kLaunchQuickLinkExport);
    ASSERT_NE(launch, nullptr);
    BSTR entry = p->Com().SysAllocString(L"{6A1B}");
    EXPECT_EQ(launch(entry, static_cast<LONG>(p->SessionId()) - 3), E_FAIL);
    EXPECT_EQ(launch(nullptr, 0), E_FAIL);
    p->Com().SysFreeString(entry);
    p->Modules().FreeLibrary(lib);
  }
  EXPECT_EQ(Texts(toast_standin::kQuickLinkKind, 1),
            (std::vector<std::wstring>{L"{6A1B} -2", L" 0"}));
  EXPECT_EQ(Texts(toast_standin::kQuickLinkKind, 2),
            (std::vector<std::wstring>{L"{6A1B} -1", L" 0"}));
}

// ---- The action center and the activator ---------------------------------------------------

// The agent's activator class as a test double: records each activation.
struct Activations {
  std::mutex mu;
  std::vector<std::wstring> calls;  // "<aumid>|<args or (null)>"
  HRESULT answer = S_OK;
};

class FakeActivator final : public INotificationActivationCallback {
 public:
  explicit FakeActivator(Activations& log) : m_log(log) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!(riid == IID_IUnknown) && !(riid == IID_INotificationActivationCallback))
      return E_NOINTERFACE;
    AddRef();
    *ppv = static_cast<INotificationActivationCallback*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE Activate(LPCWSTR aumid, LPCWSTR args,
                                     const NOTIFICATION_USER_INPUT_DATA*, ULONG) override {
    std::lock_guard lk(m_log.mu);
    m_log.calls.push_back(std::wstring(aumid ? aumid : L"(null)") + L"|" +
                          (args ? args : L"(null)"));
    return m_log.answer;
  }

 private:
  ~FakeActivator() = default;
  Activations& m_log;
  std::atomic<ULONG> m_refs{1};
};

class FakeActivatorFactory final : public IClassFactory {
 public:
  explicit FakeActivatorFactory(Activations& log) : m_log(log) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!(riid == IID_IUnknown) && !(riid == IID_IClassFactory)) return E_NOINTERFACE;
    AddRef();
    *ppv = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --m_refs; }  // lives on the stack
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* a = new FakeActivator(m_log);
    const HRESULT hr = a->QueryInterface(riid, ppv);
    a->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
  ULONG Refs() const { return m_refs; }

 private:
  Activations& m_log;
  std::atomic<ULONG> m_refs{1};
};

TEST_F(ToastStandinTest, ActionCenterActivationCallsTheRegisteredActivatorWithTheParam) {
  Install(R"({"toast": {"otherwise": {"action": "dismiss"}}})");
  Activations log;
  FakeActivatorFactory factory(log);
  DWORD cookie = 0;
  auto registerClass = [&] {
    sim::CurrentProcessScope scope(m_agent.get());
    return m_agent->Com().CoRegisterClassObject(CLSID_ToastActivator, &factory, CLSCTX_LOCAL_SERVER,
                                                REGCLS_MULTIPLEUSE, &cookie);
  };
  {
    sim::CurrentProcessScope scope(m_agent.get());
    ASSERT_TRUE(SUCCEEDED(m_agent->Com().CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  }
  if (registerClass() == E_NOTIMPL) {
    sim::CurrentProcessScope scope(m_agent.get());
    m_agent->Com().CoUninitialize();
    GTEST_SKIP() << "this simulated machine has no class-object table yet";
  }
  {
    sim::CurrentProcessScope scope(m_agent.get());
    ASSERT_EQ(m_agent->Com().CoRevokeClassObject(cookie), S_OK);
  }

  Probe first, second;
  // Each toast ends on a pool thread and enters the action center as it ends: let the first
  // end before the second is shown, so their order there is known.
  ASSERT_EQ(Show(*m_agent, &first, L"T1", L"M1", nullptr, L"EnrollCredentials"), S_OK);
  m_machine.RunUntilIdle();
  ASSERT_EQ(Show(*m_agent, &second, L"T2", L"M2", nullptr, nullptr), S_OK);
  m_machine.RunUntilIdle();
  ASSERT_EQ(m_toasts->ActionCenter(1).size(), 2u);

  // Nobody serves the class: the shell's creation fails and the entry is used up all the same.
  EXPECT_EQ(m_toasts->ActivateFromActionCenter(1, 1), REGDB_E_CLASSNOTREG);
  ASSERT_EQ(m_toasts->ActionCenter(1).size(), 1u);

  ASSERT_EQ(registerClass(), S_OK);
  EXPECT_EQ(m_toasts->ActivateFromActionCenter(1, 5), E_INVALIDARG);
  EXPECT_EQ(m_toasts->ActivateFromActionCenter(1, 0), S_OK);
  EXPECT_TRUE(m_toasts->ActionCenter(1).empty());
  log.answer = S_FALSE;
  EXPECT_EQ(m_toasts->Activate(1, nullptr), S_FALSE);
  EXPECT_EQ(m_toasts->Activate(1, L"ShowAbout"), S_FALSE);
  EXPECT_EQ(log.calls, (std::vector<std::wstring>{L"Veridane.Dashboard|EnrollCredentials",
                                                  L"Veridane.Dashboard|(null)",
                                                  L"Veridane.Dashboard|ShowAbout"}));
  std::vector<std::wstring> activations;
  for (const auto& t : Texts(toast_standin::kToastKind))
    if (t.rfind(L"toast activated ", 0) == 0) activations.push_back(t);
  EXPECT_EQ(
      activations,
      (std::vector<std::wstring>{
          L"toast activated (none): 0x80040154", L"toast activated EnrollCredentials: 0x00000000",
          L"toast activated (none): 0x00000001", L"toast activated ShowAbout: 0x00000001"}));
  sim::CurrentProcessScope scope(m_agent.get());
  EXPECT_EQ(m_agent->Com().CoRevokeClassObject(cookie), S_OK);
  m_agent->Com().CoUninitialize();
  EXPECT_EQ(factory.Refs(), 1u);  // the table let go of its reference
}

// ---- The description -------------------------------------------------------------------------

TEST(ToastStandinDescription, ReadsAnswersAndRefusesWhatItDoesNotKnow) {
  const auto d = ToastStandInsDescription::FromJson(R"({"fillIn": {}, "toast": {"answers": [
      {"action": "click", "afterMs": 20}, {"action": "timeout"}, {"result": -4}]},
      "quickLinks": {"hr": 2147500037}})");
  EXPECT_EQ(d.toast.answers, (std::vector<ToastAnswer>{{0, 20}, {3, 7000}, {-4, 0}}));
  EXPECT_EQ(d.toast.otherwise, (ToastAnswer{3, 7000}));
  EXPECT_EQ(d.quickLinks.hr, E_FAIL);
  EXPECT_TRUE(d.toast.installed && d.quickLinks.installed);
  for (const char* bad : {
           R"([])",
           R"({"toast": []})",
           R"({"toast": {"answer": []}})",
           R"({"toast": {"answers": [{"action": "wave"}]}})",
           R"({"toast": {"answers": [{"action": "click", "result": 0}]}})",
           R"({"toast": {"answers": [{}]}})",
           R"({"toast": {"otherwise": {"action": "click", "afterMs": -1}}})",
           R"({"toast": {"installed": 1}})",
           R"({"quickLinks": {"hr": "80004005"}})",
           R"({"quickLinks": {"hr": 4294967296}})",
           R"({"toast": )",
       }) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(ToastStandInsDescription::FromJson(bad), toast_standin::ToastDescriptionError);
  }
}

}  // namespace
