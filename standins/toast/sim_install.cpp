// The one file that binds the toast and quick-link stand-ins to the simulated machine.
#include "standins/toast/sim_install.h"

#include <cwchar>
#include <deque>
#include <map>
#include <mutex>
#include <new>
#include <stdexcept>

#include "platform/sim/desktop.h"
#include "platform/sim/module_table.h"
#include "platform/sim/process.h"
#include "platform/sim/thread_pool.h"
#include "support/suite_components.h"
#include "support/toast_contract.h"

namespace toast_standin {

namespace {

std::wstring Hex8(DWORD v) {
  wchar_t buf[16];
  std::swprintf(buf, 16, L"%08X", static_cast<unsigned>(v));
  return buf;
}

std::optional<std::wstring> Text(const wchar_t* s) {
  return s ? std::optional<std::wstring>(s) : std::nullopt;
}

}  // namespace

struct SimToastInstallation::Impl {
  Impl(sim::Machine& m, ToastStandInsDescription d) : machine(m), desc(std::move(d)) {
    described.assign(desc.toast.answers.begin(), desc.toast.answers.end());
  }

  struct Live {
    ShownToast shown;
    PFN_ToastCompletion completion = nullptr;
    void* context = nullptr;
  };

  void Record(DWORD session, const std::wstring& kind, const std::wstring& text) {
    machine.GetDesktop().Record(session, kind, text);
  }

  // The answer for the toast being shown now.
  ToastAnswer NextAnswer() {
    std::deque<ToastAnswer>& from = queued.empty() ? described : queued;
    if (from.empty()) return desc.toast.otherwise;
    const ToastAnswer a = from.front();
    from.pop_front();
    return a;
  }

  HRESULT Display(sim::Process& p, UINT32 id, BSTR title, BSTR message, BSTR button, BSTR idText,
                  UINT32 flags, BSTR param, PFN_ToastCompletion completion, void* context);
  void Complete(std::size_t index, INT32 result);
  sim::Process& ShellOf(DWORD session);

  sim::Machine& machine;
  ToastStandInsDescription desc;
  std::wstring toastPath, quickLinkPath;
  std::vector<std::wstring> modules;
  mutable std::mutex mu;  // guards everything below; never held while calling out
  std::deque<ToastAnswer> queued, described;
  std::optional<HRESULT> failNext;
  std::vector<Live> toasts;
  std::map<DWORD, std::vector<ActionCenterEntry>> actionCenter;
  std::map<DWORD, std::unique_ptr<sim::Process>> shells;  // the shell process of each session
  std::weak_ptr<Impl> self;
};

HRESULT SimToastInstallation::Impl::Display(sim::Process& p, UINT32 id, BSTR title, BSTR message,
                                            BSTR button, BSTR idText, UINT32 flags, BSTR param,
                                            PFN_ToastCompletion completion, void* context) {
  const DWORD session = p.SessionId();
  if (!title || !message || !idText || !completion) return E_INVALIDARG;
  std::size_t index = 0;
  ToastAnswer answer;
  std::optional<HRESULT> refused;
  {
    std::lock_guard lk(mu);
    if (failNext) {
      refused = failNext;
      failNext.reset();
    } else {
      Live live;
      live.shown.session = session;
      live.shown.processId = p.Pid();
      live.shown.id = id;
      live.shown.title = title;
      live.shown.message = message;
      live.shown.idText = idText;
      live.shown.button = Text(button);
      live.shown.param = Text(param);
      live.shown.flags = flags;
      live.completion = completion;
      live.context = context;
      toasts.push_back(std::move(live));
      index = toasts.size() - 1;
      answer = NextAnswer();
    }
  }
  if (refused) {
    Record(session, kToastKind, L"toast refused 0x" + Hex8(static_cast<DWORD>(*refused)));
    return *refused;
  }
  std::wstring text =
      L"toast shown " + std::wstring(idText) + L" \"" + title + L"\" \"" + message + L"\"";
  if (button) text += L" button \"" + std::wstring(button) + L"\"";
  if (param) text += L" param \"" + std::wstring(param) + L"\"";
  Record(session, kToastKind, text);

  // The library's own thread: a pool callback of the displaying process, so RunUntilIdle
  // and AdvanceBy wait for the completion and what it starts.
  const DWORD pid = p.Pid();
  auto queueCompletion = [weak = self, pid, index, result = answer.result] {
    auto impl = weak.lock();
    if (!impl) return;
    sim::Process* owner = impl->machine.FindProcess(pid);
    if (!owner) return;  // the process ended: nobody is left to tell
    impl->machine.Pool().Queue(owner, [weak, index, result] {
      if (auto i = weak.lock()) i->Complete(index, result);
    });
  };
  if (answer.afterMs == 0) {
    queueCompletion();
  } else {
    sim::Clock& clock = machine.GetClock();
    clock.ScheduleAt(clock.NowMs() + answer.afterMs, queueCompletion);
  }
  return S_OK;
}

void SimToastInstallation::Impl::Complete(std::size_t index, INT32 result) {
  PFN_ToastCompletion completion = nullptr;
  void* context = nullptr;
  DWORD session = 0;
  {
    std::lock_guard lk(mu);
    Live& live = toasts.at(index);
    if (live.shown.result) return;  // exactly once, whatever calls twice
    live.shown.result = result;
    live.shown.completionThread = machine.CurrentThreadId();
    completion = live.completion;
    context = live.context;
    session = live.shown.session;
    // What the user clicked or pressed is gone; what they let pass or closed is kept.
    if (result != kToastClicked && result != kToastButton)
      actionCenter[session].push_back({live.shown.title, live.shown.message, live.shown.param});
  }
  Record(session, kToastKind, L"toast ended " + ToastEndText(result));
  const HRESULT answer = completion(context, result);
  std::lock_guard lk(mu);
  toasts.at(index).shown.completionAnswer = answer;
}

sim::Process& SimToastInstallation::Impl::ShellOf(DWORD session) {
  std::lock_guard lk(mu);
  auto& shell = shells[session];
  if (!shell)
    shell = machine.CreateProcess(
        {.sessionId = session, .exePath = L"C:\\Windows\\explorer.exe", .is32Bit = false});
  return *shell;
}

namespace {

std::mutex g_mu;
std::map<sim::Machine*, std::weak_ptr<SimToastInstallation::Impl>> g_installations;

// The installation of the calling process's machine, as a real DLL's globals would be.
std::shared_ptr<SimToastInstallation::Impl> Current(sim::Process** process) {
  sim::Process* p = sim::CurrentProcess();
  *process = p;
  if (!p) return nullptr;
  std::lock_guard lk(g_mu);
  auto it = g_installations.find(&p->GetMachine());
  return it == g_installations.end() ? nullptr : it->second.lock();
}

extern "C" HRESULT WINAPI ToastStandin_WinRT_DisplayToast(
    UINT32 id, BSTR bstrTitle, BSTR bstrMessage, void* /*reserved*/, BSTR bstrButton,
    BSTR bstrIdText, UINT32 flags, BSTR bstrParam, PFN_ToastCompletion completion, void* context) {
  try {
    sim::Process* p = nullptr;
    auto impl = Current(&p);
    if (!impl) return E_UNEXPECTED;
    return impl->Display(*p, id, bstrTitle, bstrMessage, bstrButton, bstrIdText, flags, bstrParam,
                         completion, context);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

extern "C" HRESULT WINAPI ToastStandin_LaunchQuickLink(BSTR bstrEntryId, LONG number) {
  try {
    sim::Process* p = nullptr;
    auto impl = Current(&p);
    if (!impl) return E_UNEXPECTED;
    // A null BSTR is the empty string.
    impl->Record(p->SessionId(), kQuickLinkKind,
                 std::wstring(bstrEntryId ? bstrEntryId : L"") + L" " + std::to_wstring(number));
    return impl->desc.quickLinks.hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

template <typename F>
FARPROC Proc(F* f) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(f));
}

}  // namespace

std::wstring ToastEndText(INT32 result) {
  switch (result) {
    case kToastClicked:
      return L"clicked";
    case kToastTimedOut:
      return L"timed out";
    case kToastButton:
      return L"button";
    case kToastDismissed:
      return L"dismissed";
    default:
      return L"result " + std::to_wstring(result);
  }
}

SimToastInstallation::SimToastInstallation(std::shared_ptr<Impl> impl) : m_impl(std::move(impl)) {}

SimToastInstallation::~SimToastInstallation() {
  {
    std::lock_guard lk(g_mu);
    g_installations.erase(&m_impl->machine);
  }
  for (const auto& path : m_impl->modules) m_impl->machine.Modules().Uninstall(path);
  std::map<DWORD, std::unique_ptr<sim::Process>> shells;
  {
    std::lock_guard lk(m_impl->mu);
    shells.swap(m_impl->shells);
  }
  shells.clear();
}

const ToastStandInsDescription& SimToastInstallation::Description() const { return m_impl->desc; }
const std::wstring& SimToastInstallation::ToastLibraryPath() const { return m_impl->toastPath; }
const std::wstring& SimToastInstallation::QuickLinkLibraryPath() const {
  return m_impl->quickLinkPath;
}

void SimToastInstallation::AnswerNext(ToastAnswer answer) {
  std::lock_guard lk(m_impl->mu);
  m_impl->queued.push_back(answer);
}

void SimToastInstallation::FailNextDisplay(HRESULT hr) {
  std::lock_guard lk(m_impl->mu);
  m_impl->failNext = hr;
}

std::vector<ShownToast> SimToastInstallation::Toasts() const {
  std::lock_guard lk(m_impl->mu);
  std::vector<ShownToast> out;
  for (const auto& t : m_impl->toasts) out.push_back(t.shown);
  return out;
}

std::size_t SimToastInstallation::Pending() const {
  std::lock_guard lk(m_impl->mu);
  std::size_t n = 0;
  for (const auto& t : m_impl->toasts) n += t.shown.result ? 0 : 1;
  return n;
}

std::vector<ActionCenterEntry> SimToastInstallation::ActionCenter(DWORD session) const {
  std::lock_guard lk(m_impl->mu);
  auto it = m_impl->actionCenter.find(session);
  return it == m_impl->actionCenter.end() ? std::vector<ActionCenterEntry>{} : it->second;
}

HRESULT SimToastInstallation::ActivateFromActionCenter(DWORD session, std::size_t index) {
  std::optional<std::wstring> param;
  {
    std::lock_guard lk(m_impl->mu);
    auto& entries = m_impl->actionCenter[session];
    if (index >= entries.size()) return E_INVALIDARG;
    param = entries[index].param;
    entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(index));
  }
  return Activate(session, param ? param->c_str() : nullptr);
}

HRESULT SimToastInstallation::Activate(DWORD session, const wchar_t* invokedArgs) {
  const std::wstring args = invokedArgs ? std::wstring(invokedArgs) : std::wstring();
  sim::Process& shell = m_impl->ShellOf(session);
  auto& com = shell.Com();
  platform::ComPtr<INotificationActivationCallback> activator;
  HRESULT init = S_OK, hr = S_OK;
  {
    sim::CurrentProcessScope scope(&shell);
    init = com.CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    hr = com.CoCreateInstance(CLSID_ToastActivator, nullptr, CLSCTX_LOCAL_SERVER,
                              IID_INotificationActivationCallback, activator.put_void());
    if (SUCCEEDED(hr) && !activator) hr = E_POINTER;
  }
  // The call itself runs in the server, not in the shell: outside the shell's scope, so a
  // scenario that clicks from the agent's thread runs the activator as the agent's own.
  // The shell hands over the invoked arguments as they were set; a toast without any hands
  // over none.
  if (SUCCEEDED(hr))
    hr =
        activator->Activate(kAgentAppUserModelId, invokedArgs ? args.c_str() : nullptr, nullptr, 0);
  activator.reset();
  if (SUCCEEDED(init)) {
    sim::CurrentProcessScope scope(&shell);
    com.CoUninitialize();
  }
  m_impl->Record(session, kToastKind,
                 L"toast activated " + (invokedArgs ? args : std::wstring(L"(none)")) + L": 0x" +
                     Hex8(static_cast<DWORD>(hr)));
  return hr;
}

std::unique_ptr<SimToastInstallation> InstallToastStandIns(sim::Machine& machine,
                                                           ToastStandInsDescription desc) {
  {
    std::lock_guard lk(g_mu);
    auto it = g_installations.find(&machine);
    if (it != g_installations.end() && !it->second.expired())
      throw std::logic_error("the toast stand-ins are already installed on this machine");
  }
  auto impl = std::make_shared<SimToastInstallation::Impl>(machine, std::move(desc));
  impl->self = impl;
  impl->toastPath = L"C:\\Windows\\system32\\" + std::wstring(kVDWinRTUtilsLibrary);
  impl->quickLinkPath = L"C:\\Windows\\system32\\" + std::wstring(kVdMiniOnlineIdsLibrary);
  if (impl->desc.toast.installed) {
    machine.Modules().Install(impl->toastPath,
                              {{kWinRTDisplayToastExport, Proc(&ToastStandin_WinRT_DisplayToast)}});
    impl->modules.push_back(impl->toastPath);
  }
  if (impl->desc.quickLinks.installed) {
    machine.Modules().Install(impl->quickLinkPath,
                              {{kLaunchQuickLinkExport, Proc(&ToastStandin_LaunchQuickLink)}});
    impl->modules.push_back(impl->quickLinkPath);
  }
  {
    std::lock_guard lk(g_mu);
    g_installations[&machine] = impl;
  }
  return std::unique_ptr<SimToastInstallation>(new SimToastInstallation(std::move(impl)));
}

}  // namespace toast_standin
