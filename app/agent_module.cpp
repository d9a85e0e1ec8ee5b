#include "app/agent_module.h"

#include <cwchar>
#include <utility>

#include "app/agent_registration.h"
#include "app/res/resource_ids.h"
#include "platform/handles.h"
#include "platform/shell_link.h"
#include "support/branding_strings.h"
#include "support/registry_read.h"
#include "support/toast_contract.h"
#include "support/trace/trace.h"

CVdAgentModule::CVdAgentModule(core::CAgentProcess& process,
                               CToastActivator::CommandHandler commands)
    : m_process(process), m_commands(std::move(commands)) {}

CVdAgentModule::~CVdAgentModule() {
  if (m_cookie) Term();
}

HRESULT CVdAgentModule::Init() {
  VDTraceNS::CScope ts("CVdAgentModule::Init");
  auto& plat = m_process.Platform();
  // COM holds its own reference on the class object until it is revoked.
  platform::ComPtr<IClassFactory> factory = CToastActivator::CreateFactory(m_commands);
  DWORD cookie = 0;
  HRESULT hr = plat.Com().CoRegisterClassObject(CLSID_ToastActivator, factory.get(),
                                                CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie);
  if (FAILED(hr)) return ts.Result("Registering COM Server clases", hr);
  m_cookie = cookie;
  // Only the grouping of the toasts depends on it, and systems before Windows 7 do not know
  // it: the agent runs without.
  const HRESULT aumid = plat.Shell().SetCurrentProcessExplicitAppUserModelID(kAgentAppUserModelId);
  if (FAILED(aumid)) ts.Result("Setting AppUserModelID for process", aumid);
  return hr;
}

void CVdAgentModule::Term() {
  VDTraceNS::CScope ts("CVdAgentModule::Term");
  if (!m_cookie) return;
  ts.Result("CoRevokeClassObject",
            m_process.Platform().Com().CoRevokeClassObject(std::exchange(m_cookie, 0)));
}

namespace {

// A COM apartment of the registration's own, left again only when it was entered.
class CRegistrationApartment {
 public:
  explicit CRegistrationApartment(platform::ICom& com)
      : m_com(com), m_entered(SUCCEEDED(com.CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~CRegistrationApartment() {
    if (m_entered) m_com.CoUninitialize();
  }
  CRegistrationApartment(const CRegistrationApartment&) = delete;
  CRegistrationApartment& operator=(const CRegistrationApartment&) = delete;

 private:
  platform::ICom& m_com;
  bool m_entered;
};

constexpr wchar_t kApplicationsKey[] = L"SOFTWARE\\Veridane\\Applications";

HRESULT ReadBinDir(platform::IPlatform& plat, std::wstring* dir) {
  VDTraceNS::CScope ts("Veridane::Configuration::BinDir");
  auto& reg = plat.Registry();
  platform::UniqueHKey key(reg);
  LSTATUS s = reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kApplicationsKey, 0,
                                KEY_READ | support::SuiteView(reg), key.put());
  registration::StringRead read = registration::StringRead::Failed;
  if (s == ERROR_SUCCESS)
    read = registration::ReadString(reg, key.get(), L"BinDir", dir, /*allowExpand=*/true);
  if (read != registration::StringRead::Ok) {
    ts.Msg("Cannot read BinDir");
    return s != ERROR_SUCCESS                            ? HRESULT_FROM_WIN32(s)
           : read == registration::StringRead::WrongType ? HRESULT_FROM_WIN32(ERROR_INVALID_DATA)
                                                         : HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  if (dir->empty()) {
    ts.Msg("BinDir is empty");
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  return S_OK;
}

}  // namespace

HRESULT CVdAgentModule::RegisterServer(core::CAgentProcess& process, bool lowProfile) {
  VDTraceNS::CScope ts("CVdAgentModule::RegisterServer");
  ts.Msg("lowProfile = %d", lowProfile ? 1 : 0);
  auto& plat = process.Platform();
  CRegistrationApartment apartment(plat.Com());
  std::wstring modulePath;
  HRESULT hr = registration::GetModulePath(plat, &modulePath);
  if (SUCCEEDED(hr))
    hr = registration::CRegistryScript(plat, registration::ActivatorScript(modulePath),
                                       support::SuiteView(plat.Registry()))
             .Register();
  if (FAILED(hr)) return ts.Result("Registering module", hr);

  {
    // An entry of an older installation goes, whatever its folder; the current one is then
    // there exactly once, however often the installer runs.
    userinitkey_t userinit(plat);
    userinit.removeValue(modulePath, true);
    userinit.addUniqueValue(modulePath);
  }
  citrixlogoffmodulecheck_t citrix(plat);
  citrix.removeValue(modulePath);
  if (lowProfile) return hr;

  hr = InstallEnvironment(process, modulePath);
  if (FAILED(hr)) return ts.Result("Setting environment strings", hr);
  hr = InstallShortcut(process);
  if (FAILED(hr)) return ts.Result("Installing shortcut", hr);
  hr = RegisterCPL(process, modulePath, true);
  citrix.addUniqueValue(modulePath);
  return hr;
}

HRESULT CVdAgentModule::UnregisterServer(core::CAgentProcess& process, bool lowProfile) {
  VDTraceNS::CScope ts("CVdAgentModule::UnregisterServer");
  ts.Msg("lowProfile = %d", lowProfile ? 1 : 0);
  auto& plat = process.Platform();
  CRegistrationApartment apartment(plat.Com());
  std::wstring modulePath;
  HRESULT hr = registration::GetModulePath(plat, &modulePath);
  if (FAILED(hr)) return ts.Result("Getting module path", hr);

  // Only this installation's entry: another agent's stays.
  userinitkey_t(plat).removeValue(modulePath, false);
  if (!lowProfile) {
    citrixlogoffmodulecheck_t(plat).removeValue(modulePath);
    RegisterCPL(process, modulePath, false);
    ts.Result("Uninstalling shortcut", UninstallShortcut(process));
    UninstallEnvironment(process);
  }
  return ts.Result("Unregistering module",
                   registration::CRegistryScript(plat, registration::ActivatorScript(modulePath),
                                                 support::SuiteView(plat.Registry()))
                       .Unregister());
}

HRESULT CVdAgentModule::InstallEnvironment(core::CAgentProcess& process,
                                           const std::wstring& modulePath) {
  VDTraceNS::CScope ts("CVdAgentModule::InstallEnvironment");
  auto& plat = process.Platform();
  std::wstring installDir;
  HRESULT hr = ReadBinDir(plat, &installDir);
  if (FAILED(hr)) return hr;
  ts.Msg(L"installDir = %ls", installDir.c_str());
  const std::wstring installDir32 = registration::ModuleFolder(modulePath);
  ts.Msg(L"installDir32 = %ls", installDir32.c_str());
  using Tessaline::System::Environment::WriteEnvironmentVariable;
  hr = WriteEnvironmentVariable(plat, kInstallPathVariable, installDir);
  if (FAILED(hr)) return hr;
  return WriteEnvironmentVariable(plat, kInstallPathX86Variable, installDir32);
}

void CVdAgentModule::UninstallEnvironment(core::CAgentProcess& process) {
  VDTraceNS::CScope ts("CVdAgentModule::UninstallEnvironment");
  using Tessaline::System::Environment::WriteEnvironmentVariable;
  WriteEnvironmentVariable(process.Platform(), kInstallPathVariable, L"");
  WriteEnvironmentVariable(process.Platform(), kInstallPathX86Variable, L"");
}

namespace {

constexpr wchar_t kShortcutInStartMenu[] = L"\\Programs\\Veridane\\<<%MA%>>.lnk";
constexpr wchar_t kShortNamePlaceholder[] = L"<<%MA%>>";
// When neither the branding module nor the agent's own module names the product, the link
// still gets a name rather than the bare ".lnk".
constexpr wchar_t kShortNameFallback[] = L"Veridane Dashboard";
constexpr wchar_t kShortcutArguments[] = L"/OpenConsole";
constexpr wchar_t kShortcutDescription[] = L"Protect your identity, data and communications.";
constexpr int kShortcutIcon = -3;  // icon resource 3 of the agent's executable

// The product name becomes one file name: separators, a drive colon or wildcards in a
// branded name must not move the link out of its folder or make the path unusable.
std::wstring AsFileName(const std::wstring& name) {
  std::wstring out;
  for (wchar_t c : name) {
    const bool bad = c < 32 || std::wcschr(L"\\/:*?\"<>|", c) != nullptr;
    out += bad ? L'_' : c;
  }
  while (!out.empty() && (out.back() == L' ' || out.back() == L'.')) out.pop_back();
  return out.empty() ? std::wstring(kShortNameFallback) : out;
}

}  // namespace

std::wstring CVdAgentModule::GetShortcutPath(core::CAgentProcess& process) {
  VDTraceNS::CScope ts("CVdAgentModule::GetShortcutPath");
  auto& plat = process.Platform();
  PWSTR folder = nullptr;
  const HRESULT hr = plat.Shell().SHGetKnownFolderPath(platform::kFolderIdCommonStartMenu,
                                                       KF_FLAG_DEFAULT, nullptr, &folder);
  std::wstring path = SUCCEEDED(hr) && folder ? folder : L"";
  plat.Com().CoTaskMemFree(folder);  // also a failed call's (null) answer
  if (FAILED(hr) || path.empty()) {
    ts.Result("Getting Start menu folder", FAILED(hr) ? hr : E_UNEXPECTED);
    return {};
  }
  std::wstring modulePath;
  registration::GetModulePath(plat, &modulePath);
  support::CBrandingStrings strings(plat, registration::ModuleFolder(modulePath));
  std::wstring name = kShortcutInStartMenu;
  name.replace(name.find(kShortNamePlaceholder), std::wcslen(kShortNamePlaceholder),
               AsFileName(strings.String(IDS_PRODUCT_NAME)));
  path += name;

  wchar_t canonical[MAX_PATH] = {};
  if (!plat.Shell().PathCanonicalizeW(canonical, path.c_str())) {
    const DWORD e = plat.Kernel().GetLastError();
    ts.Result("Canonicalizing path", HRESULT_FROM_WIN32(e ? e : ERROR_FILENAME_EXCED_RANGE));
    return {};
  }
  ts.Msg(L"Shortcut file: %ls", canonical);
  return canonical;
}

HRESULT CVdAgentModule::InstallShortcut(core::CAgentProcess& process) {
  VDTraceNS::CScope ts("CVdAgentModule::InstallShortcut");
  auto& plat = process.Platform();
  const std::wstring path = GetShortcutPath(process);
  if (path.empty()) return ts.Result("Empty path", E_FAIL);
  if (plat.Kernel().GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
    ts.Msg("Shortcut file exists");
    UninstallShortcut(process);
  }
  std::wstring modulePath;
  HRESULT hr = registration::GetModulePath(plat, &modulePath);
  if (FAILED(hr)) return ts.Result("Getting module path", hr);

  platform::ComPtr<IShellLinkW> link;
  hr = plat.Com().CoCreateInstance(platform::kClsidShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                   platform::kIidShellLinkW, link.put_void());
  if (FAILED(hr) || !link) return ts.Result("Creating ShellLink object", FAILED(hr) ? hr : E_POINTER);
  hr = link->SetPath(modulePath.c_str());
  if (FAILED(hr)) return ts.Result("Setting exe path", hr);
  hr = link->SetArguments(kShortcutArguments);
  if (FAILED(hr)) return ts.Result("Setting exe arguments", hr);
  hr = link->SetDescription(kShortcutDescription);
  if (FAILED(hr)) return ts.Result("Setting description", hr);
  hr = link->SetIconLocation(modulePath.c_str(), kShortcutIcon);
  if (FAILED(hr)) return ts.Result("Setting icon", hr);

  // The icon path is a plain one: an expandable copy of it would win over it in the shell.
  platform::ComPtr<IShellLinkDataList> data;
  hr = link->QueryInterface(platform::kIidShellLinkDataList, data.put_void());
  if (SUCCEEDED(hr)) hr = data->RemoveDataBlock(EXP_SZ_ICON_SIG);
  if (hr == E_NOTIMPL) {
    // A shell that cannot remove blocks (Wine): an expandable copy of the icon, if any, stays,
    // and the link still starts the agent, so the installation goes on.
    ts.Result("Removing EXP_SZ_ICON_SIG, not supported", hr);
    hr = S_OK;
  }
  if (FAILED(hr)) return ts.Result("Removing EXP_SZ_ICON_SIG", hr);
  DWORD flags = 0;
  hr = data->GetFlags(&flags);
  if (FAILED(hr)) return ts.Result("Obtaining link flags", hr);
  hr = data->SetFlags(flags & ~static_cast<DWORD>(SLDF_HAS_EXP_ICON_SZ));
  if (FAILED(hr)) return ts.Result("Removing SLDF_HAS_EXP_ICON_SZ flag", hr);

  // The toasts are grouped under the link's id, and clicking one starts its activator.
  platform::ComPtr<IPropertyStore> store;
  hr = link->QueryInterface(platform::kIidPropertyStore, store.put_void());
  if (FAILED(hr)) return ts.Result("Getting property store", hr);
  std::wstring appId = kAgentAppUserModelId;
  PROPVARIANT value{};
  value.vt = VT_LPWSTR;  // borrowed: the store keeps its own copy
  value.pwszVal = appId.data();
  hr = store->SetValue(platform::kPKeyAppUserModelId, value);
  if (FAILED(hr)) return ts.Result("Setting AppUserModelID", hr);
  CLSID activator = CLSID_ToastActivator;
  value = PROPVARIANT{};
  value.vt = VT_CLSID;
  value.puuid = &activator;
  hr = store->SetValue(platform::kPKeyAppUserModelToastActivatorClsid, value);
  if (FAILED(hr)) return ts.Result("Setting ToastActivator CLSID", hr);
  hr = store->Commit();
  if (FAILED(hr)) return ts.Result("Committing", hr);

  const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
  const int created = plat.Shell().SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  if (created != ERROR_SUCCESS && created != ERROR_ALREADY_EXISTS)
    return ts.Result("Creating folder", HRESULT_FROM_WIN32(static_cast<DWORD>(created)));
  platform::ComPtr<IPersistFile> file;
  hr = link->QueryInterface(platform::kIidPersistFile, file.put_void());
  if (FAILED(hr)) return ts.Result("Getting file object", hr);
  hr = file->Save(path.c_str(), TRUE);
  if (FAILED(hr)) return ts.Result("Saving", hr);
  return S_OK;
}

HRESULT CVdAgentModule::UninstallShortcut(core::CAgentProcess& process) {
  VDTraceNS::CScope ts("CVdAgentModule::UninstallShortcut");
  auto& k = process.Platform().Kernel();
  const std::wstring path = GetShortcutPath(process);
  if (path.empty()) return ts.Result("Empty path", E_FAIL);
  if (k.GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    ts.Msg("Shortcut does not exist");
    return S_OK;
  }
  if (!k.DeleteFileW(path.c_str()))
    return ts.Result("Deleting shortcut", HRESULT_FROM_WIN32(k.GetLastError()));
  // Asking the removal itself whether the folder is empty leaves no moment in which
  // another installer's link could be lost with it.
  const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
  if (!k.RemoveDirectoryW(folder.c_str())) {
    const DWORD e = k.GetLastError();
    if (e == ERROR_DIR_NOT_EMPTY) {
      ts.Msg("Directory is not empty");
      return S_OK;
    }
    return ts.Result("Deleting folder", HRESULT_FROM_WIN32(e));
  }
  return S_OK;
}
