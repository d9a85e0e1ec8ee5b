// The one file that binds the suite's stand-ins to the simulated machine.
#include "standins/suite/sim_install.h"

#include <atomic>
#include <cwchar>
#include <map>
#include <mutex>
#include <new>
#include <stdexcept>

#include "platform/sim/desktop.h"
#include "platform/sim/file_system.h"
#include "platform/sim/module_table.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"
#include "standins/sim_modal_loop.h"
#include "support/guid_string.h"
#include "support/suite_components.h"
#include "support/vdfp/vdfpapi_types.h"

namespace suite_standin {

namespace {

// The fill-in component of one process: posts as that process, shows what it does on that
// process's session desktop, and gives authentication handles back through the library the
// process has loaded.
class SimFillInSite final : public IFillInSite {
 public:
  SimFillInSite(sim::Machine& m, DWORD pid, DWORD session)
      : m_machine(m), m_pid(pid), m_session(session) {}

  BOOL PostMessageW(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) override {
    sim::Process* p = m_machine.FindProcess(m_pid);
    return p ? p->Ui().PostMessageW(hWnd, msg, wParam, lParam) : FALSE;
  }
  void RunLater(ULONGLONG delayMs, std::function<void()> fn) override {
    sim::Clock& clock = m_machine.GetClock();
    sim::Machine* machine = &m_machine;
    const DWORD pid = m_pid;
    clock.ScheduleAt(clock.NowMs() + delayMs, [machine, pid, fn = std::move(fn)] {
      sim::Process* p = machine->FindProcess(pid);
      if (!p) return;  // the process ended meanwhile
      sim::CurrentProcessScope scope(p);
      fn();
    });
  }
  void Record(const std::wstring& text) override {
    m_machine.GetDesktop().Record(m_session, kFillInKind, text);
  }
  HRESULT ReleaseAuthentication(ULONG_PTR handle) override {
    sim::Process* p = m_machine.FindProcess(m_pid);
    if (!p) return E_UNEXPECTED;
    sim::CurrentProcessScope scope(p);
    wchar_t sys[MAX_PATH] = {};
    const UINT n = p->Kernel().GetSystemDirectoryW(sys, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return E_UNEXPECTED;
    auto& modules = p->Modules();
    HMODULE lib =
        modules.LoadLibraryExW((std::wstring(sys) + L"\\VDFPApi.dll").c_str(), nullptr, 0);
    if (!lib) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    using PfnDestroy = HRESULT(WINAPI*)(HVDFPAUTHENTICATION);
    auto destroy = reinterpret_cast<PfnDestroy>(
        reinterpret_cast<void (*)()>(modules.GetProcAddress(lib, "VDFPDestroyAuthentication")));
    const HRESULT hr = destroy ? destroy(reinterpret_cast<HVDFPAUTHENTICATION>(handle))
                               : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    modules.FreeLibrary(lib);
    return hr;
  }

 private:
  sim::Machine& m_machine;
  DWORD m_pid;
  DWORD m_session;
};

// The password manager answers whichever process calls it.
class SimPasswordManagerSite final : public IPasswordManagerSite {
 public:
  explicit SimPasswordManagerSite(sim::Machine& m) : m_machine(m) {}
  void Record(const std::wstring& text) override {
    sim::Process* p = sim::CurrentProcess();
    m_machine.GetDesktop().Record(p ? p->SessionId() : 0, kPasswordManagerKind, text);
  }
  void StayOpen(ULONGLONG ms, const std::function<bool()>& closed) override {
    if (sim::Process* p = sim::CurrentProcess()) standins::RunSimModalLoopUntil(*p, ms, closed);
  }

 private:
  sim::Machine& m_machine;
};

}  // namespace

struct SimSuiteInstallation::Impl {
  Impl(sim::Machine& m, SuiteDescription d) : machine(m), desc(std::move(d)) {}

  std::shared_ptr<CFillInComponent> FillInFor(sim::Process& p) {
    std::lock_guard lk(mu);
    auto& c = fillIns[p.Pid()];
    if (!c)
      c = std::make_shared<CFillInComponent>(
          desc.fillIn, std::make_shared<SimFillInSite>(machine, p.Pid(), p.SessionId()));
    return c;
  }

  sim::Machine& machine;
  SuiteDescription desc;
  std::wstring soundPath, fillInPath, pmPath, binDir, tsClientPath;
  std::atomic<int> tsRegistrations{0};
  std::vector<std::wstring> modules, files, keys, values;  // values: "key\nname"
  std::unique_ptr<CPasswordManagerServer> passwordManager;
  mutable std::mutex mu;
  std::map<DWORD, std::shared_ptr<CFillInComponent>> fillIns;
};

namespace {

std::mutex g_mu;
std::map<sim::Machine*, std::weak_ptr<SimSuiteInstallation::Impl>> g_installations;

// The installation of the calling process's machine, as a real DLL's globals would be.
std::shared_ptr<SimSuiteInstallation::Impl> Current(sim::Process** process) {
  sim::Process* p = sim::CurrentProcess();
  *process = p;
  if (!p) return nullptr;
  std::lock_guard lk(g_mu);
  auto it = g_installations.find(&p->GetMachine());
  return it == g_installations.end() ? nullptr : it->second.lock();
}

extern "C" HRESULT WINAPI SuiteStandin_VDPlayEventSound(DWORD dwEvent) {
  try {
    sim::Process* p = nullptr;
    auto impl = Current(&p);
    if (!impl) return E_UNEXPECTED;
    impl->machine.GetDesktop().Record(p->SessionId(), kSoundKind, SoundText(dwEvent));
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

extern "C" HRESULT WINAPI SuiteStandin_VDKWSInit(HWND hWnd, UINT uReplyMessage) {
  try {
    sim::Process* p = nullptr;
    auto impl = Current(&p);
    return impl ? impl->FillInFor(*p)->Init(hWnd, uReplyMessage) : E_UNEXPECTED;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

extern "C" HRESULT WINAPI SuiteStandin_VDKWSCommand(DWORD dwCommand, ULONG_PTR dwParam,
                                                    DWORD* pdwResult) {
  try {
    sim::Process* p = nullptr;
    auto impl = Current(&p);
    return impl ? impl->FillInFor(*p)->Command(dwCommand, dwParam, pdwResult) : E_UNEXPECTED;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

extern "C" void WINAPI SuiteStandin_VDKWSTerminate() {
  try {
    sim::Process* p = nullptr;
    if (auto impl = Current(&p)) impl->FillInFor(*p)->Terminate();
  } catch (...) {
    // Terminate reports nothing: a failure here cannot reach the caller.
  }
}

HRESULT STDAPICALLTYPE SuiteStandin_PmDllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  sim::Process* p = nullptr;
  auto impl = Current(&p);
  if (!impl || !impl->passwordManager) return CLASS_E_CLASSNOTAVAILABLE;
  return impl->passwordManager->GetClassObject(rclsid, riid, ppv);
}

extern "C" HRESULT WINAPI SuiteStandin_TsDllRegisterServer() {
  try {
    sim::Process* p = nullptr;
    auto impl = Current(&p);
    if (!impl) return E_UNEXPECTED;
    ++impl->tsRegistrations;
    const HRESULT hr = impl->desc.tsClient.registerResult;
    wchar_t text[48];
    std::swprintf(text, sizeof(text) / sizeof(text[0]), L"DllRegisterServer 0x%08X",
                  static_cast<unsigned>(hr));
    impl->machine.GetDesktop().Record(p->SessionId(), kTsClientKind, text);
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

// rundll32-style entry of the fast-connect component; VDRunDll.exe is what calls it.
extern "C" void WINAPI SuiteStandin_VDFCRun(HWND, HINSTANCE, LPSTR, int) {}

template <typename F>
FARPROC Proc(F* f) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(f));
}

// "HKLM\SOFTWARE\<rest>" and, on 64-bit Windows, its 32-bit view too.
std::vector<std::wstring> BothViews(bool is64, const std::wstring& softwarePath) {
  const std::wstring rest = softwarePath.substr(std::wstring(L"SOFTWARE\\").size());
  std::vector<std::wstring> out{L"HKLM\\SOFTWARE\\" + rest};
  if (is64) out.push_back(L"HKLM\\SOFTWARE\\WOW6432Node\\" + rest);
  return out;
}

}  // namespace

std::wstring SoundText(DWORD soundEvent) {
  switch (soundEvent) {
    case 1:
      return L"success";
    case 2:
      return L"failure";
    case 3:
      return L"quality";
    default:
      return std::to_wstring(soundEvent);
  }
}

SimSuiteInstallation::SimSuiteInstallation(std::shared_ptr<Impl> impl) : m_impl(std::move(impl)) {}

SimSuiteInstallation::~SimSuiteInstallation() {
  {
    std::lock_guard lk(g_mu);
    g_installations.erase(&m_impl->machine);
  }
  auto& m = m_impl->machine;
  for (const auto& path : m_impl->modules) m.Modules().Uninstall(path);
  for (const auto& path : m_impl->files) m.Files().Delete(path);
  for (const auto& v : m_impl->values) {
    const auto cut = v.find(L'\n');
    m.Registry().DeleteValue(v.substr(0, cut), v.substr(cut + 1));
  }
  for (const auto& key : m_impl->keys) m.Registry().DeleteKey(key);
}

const SuiteDescription& SimSuiteInstallation::Description() const { return m_impl->desc; }
const std::wstring& SimSuiteInstallation::SoundLibraryPath() const { return m_impl->soundPath; }
const std::wstring& SimSuiteInstallation::FillInPath() const { return m_impl->fillInPath; }
const std::wstring& SimSuiteInstallation::PasswordManagerPath() const { return m_impl->pmPath; }
const std::wstring& SimSuiteInstallation::BinDir() const { return m_impl->binDir; }
const std::wstring& SimSuiteInstallation::TsClientPath() const { return m_impl->tsClientPath; }
int SimSuiteInstallation::TsClientRegistrations() const { return m_impl->tsRegistrations; }

std::shared_ptr<CFillInComponent> SimSuiteInstallation::FillIn(DWORD processId) const {
  std::lock_guard lk(m_impl->mu);
  auto it = m_impl->fillIns.find(processId);
  return it == m_impl->fillIns.end() ? nullptr : it->second;
}

int SimSuiteInstallation::PostReply(WPARAM kind, LPARAM value, DWORD processId) {
  std::vector<std::shared_ptr<CFillInComponent>> targets;
  {
    std::lock_guard lk(m_impl->mu);
    for (const auto& [pid, c] : m_impl->fillIns)
      if (processId == 0 || pid == processId) targets.push_back(c);
  }
  int posted = 0;
  for (const auto& c : targets) posted += c->PostReply(kind, value) ? 1 : 0;
  return posted;
}

CPasswordManagerServer* SimSuiteInstallation::PasswordManager() {
  return m_impl->passwordManager.get();
}

std::unique_ptr<SimSuiteInstallation> InstallSuiteStandIns(sim::Machine& machine,
                                                           SuiteDescription desc) {
  {
    std::lock_guard lk(g_mu);
    auto it = g_installations.find(&machine);
    if (it != g_installations.end() && !it->second.expired())
      throw std::logic_error("the suite's stand-ins are already installed on this machine");
  }
  const bool is64 = machine.Description().is64BitWindows;
  const std::wstring suite =
      std::wstring(is64 ? L"C:\\Program Files (x86)" : L"C:\\Program Files") + L"\\Veridane";
  auto impl = std::make_shared<SimSuiteInstallation::Impl>(machine, std::move(desc));
  impl->soundPath = L"C:\\Windows\\system32\\" + std::wstring(kVDNXUtilsLibrary);
  impl->fillInPath = suite + L"\\PasswordManager\\VDKwsPlugin.dll";
  impl->pmPath = suite + L"\\PasswordManager\\VDPwdMgr.dll";
  impl->binDir = suite + L"\\Bin";
  impl->tsClientPath = L"C:\\Windows\\system32\\VDTSClnt.dll";
  const SuiteDescription& d = impl->desc;
  auto& reg = machine.Registry();
  auto& files = machine.Files();

  if (d.sounds) {
    machine.Modules().Install(impl->soundPath,
                              {{kVDPlayEventSoundExport, Proc(&SuiteStandin_VDPlayEventSound)}});
    impl->modules.push_back(impl->soundPath);
  }
  if (d.fillIn.installed) {
    machine.Modules().Install(impl->fillInPath,
                              {{"VDKWSInit", Proc(&SuiteStandin_VDKWSInit)},
                               {"VDKWSCommand", Proc(&SuiteStandin_VDKWSCommand)},
                               {"VDKWSTerminate", Proc(&SuiteStandin_VDKWSTerminate)}});
    impl->modules.push_back(impl->fillInPath);
    files.WriteFile(impl->fillInPath, "MZ");
    impl->files.push_back(impl->fillInPath);
    for (const auto& key : BothViews(is64, kVDKwsPluginKey)) {
      reg.SetString(key, L"", impl->fillInPath);
      impl->keys.push_back(key);
    }
  }
  if (d.passwordManager.installed) {
    impl->passwordManager = std::make_unique<CPasswordManagerServer>(
        d.passwordManager, std::make_shared<SimPasswordManagerSite>(machine));
    machine.Modules().Install(impl->pmPath,
                              {{"DllGetClassObject", Proc(&SuiteStandin_PmDllGetClassObject)}});
    impl->modules.push_back(impl->pmPath);
    files.WriteFile(impl->pmPath, "MZ");
    impl->files.push_back(impl->pmPath);
    const std::wstring clsid = support::GuidToString(CLSID_VDPasswordManager);
    std::vector<std::wstring> classKeys{L"HKCR\\CLSID\\" + clsid};
    if (is64) classKeys.push_back(L"HKCR\\Wow6432Node\\CLSID\\" + clsid);
    for (const auto& key : classKeys) {
      reg.SetString(key + L"\\InprocServer32", L"", impl->pmPath);
      reg.SetString(key + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
      impl->keys.push_back(key);
    }
  }
  if (d.fastConnect) {
    const std::wstring dll = impl->binDir + L"\\" + kVDFastConnectDll;
    const std::wstring exe = impl->binDir + L"\\" + kVDRunDllExe;
    machine.Modules().Install(dll, {{"VDFCRun", Proc(&SuiteStandin_VDFCRun)}});
    impl->modules.push_back(dll);
    for (const auto& f : {dll, exe}) {
      files.WriteFile(f, "MZ");
      impl->files.push_back(f);
    }
    for (const auto& key : BothViews(is64, L"SOFTWARE\\Veridane\\Applications")) {
      reg.SetString(key, L"BinDir", impl->binDir);
      impl->values.push_back(key + L"\nBinDir");
    }
  }
  if (d.tsClient.installed) {
    machine.Modules().Install(impl->tsClientPath,
                              {{"DllRegisterServer", Proc(&SuiteStandin_TsDllRegisterServer)}});
    impl->modules.push_back(impl->tsClientPath);
  }
  {
    std::lock_guard lk(g_mu);
    g_installations[&machine] = impl;
  }
  return std::unique_ptr<SimSuiteInstallation>(new SimSuiteInstallation(std::move(impl)));
}

}  // namespace suite_standin
