#include "launch/help_viewer.h"

#include <algorithm>
#include <cwctype>
#include <utility>

#include "core/own_dir.h"
#include "support/registry_read.h"
#include "support/trace/trace.h"

namespace launch {

namespace {

constexpr wchar_t kFallbackLanguage[] = L"en-US";
constexpr wchar_t kInvisibleParent[] = L"VDInvisibleParent";

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", braces optional: the braced form, else empty.
std::wstring BracedGuid(const std::wstring& text) {
  std::wstring s = text;
  if (s.size() == 38 && s.front() == L'{' && s.back() == L'}') s = s.substr(1, 36);
  if (s.size() != 36) return std::wstring();
  for (size_t i = 0; i < s.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? s[i] != L'-' : !std::iswxdigit(s[i])) return std::wstring();
  }
  return L"{" + s + L"}";
}

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  return true;
}

}  // namespace

std::vector<std::wstring> PreferredUILanguages(platform::IKernel& kernel) {
  VDTraceNS::CScope ts("PreferredUILanguages");
  ULONG count = 0, size = 0;
  if (!kernel.GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, nullptr, &size) || size == 0) {
    ts.Result("GetUserPreferredUILanguages", HRESULT_FROM_WIN32(kernel.GetLastError()));
    return {};
  }
  std::wstring buf(size, L'\0');
  if (!kernel.GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, buf.data(), &size)) {
    ts.Result("GetUserPreferredUILanguages", HRESULT_FROM_WIN32(kernel.GetLastError()));
    return {};
  }
  // A list of names each ended by a null, the list by one more; the size given back bounds
  // the walk whatever the list holds.
  std::vector<std::wstring> names;
  size_t i = 0;
  const size_t end = std::min<size_t>(size, buf.size());
  while (i < end && buf[i] != L'\0') {
    size_t j = i;
    while (j < end && buf[j] != L'\0') ++j;
    names.emplace_back(buf, i, j - i);
    i = j + 1;
  }
  return names;
}

std::unique_ptr<CHelpViewer> CHelpViewer::Create(platform::IPlatform& plat, HINSTANCE instance,
                                                 std::wstring agentFolder,
                                                 const std::wstring& helpId) {
  VDTraceNS::CScope ts("CHelpViewer::Create");
  std::wstring guid = BracedGuid(helpId);
  if (guid.empty()) {
    ts.Msg("Help ID is not a GUID: %ls", helpId.c_str());
    return nullptr;
  }
  return std::unique_ptr<CHelpViewer>(
      new CHelpViewer(plat, instance, std::move(agentFolder), std::move(guid)));
}

CHelpViewer::CHelpViewer(platform::IPlatform& plat, HINSTANCE instance, std::wstring agentFolder,
                         std::wstring guid)
    : m_plat(plat),
      m_instance(instance),
      m_agentFolder(std::move(agentFolder)),
      m_guid(std::move(guid)) {}

CHelpViewer::~CHelpViewer() {
  if (!m_owner) return;
  auto& ui = m_plat.Ui();
  ui.DestroyWindow(m_owner);
  ui.UnregisterClassW(kInvisibleParent, m_instance);
}

std::vector<std::wstring> CHelpViewer::HelpFiles() const {
  std::vector<std::wstring> languages;
  const auto preferred = PreferredUILanguages(m_plat.Kernel());
  // A language name is a folder name here: one that could leave the help folder is ignored.
  if (!preferred.empty() && preferred[0].find_first_of(L"\\/:.") == std::wstring::npos)
    languages.push_back(preferred[0]);
  if (languages.empty() || !EqualsNoCase(languages[0], kFallbackLanguage))
    languages.push_back(kFallbackLanguage);
  std::wstring folder = m_agentFolder;
  if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
  std::vector<std::wstring> files;
  for (const auto& l : languages)
    files.push_back(folder + L"Help\\" + l + L"\\" + m_guid + L".chm");
  return files;
}

bool CHelpViewer::Show() {
  VDTraceNS::CScope ts("CHelpViewer::Show");
  auto& ui = m_plat.Ui();
  if (!m_owner) {
    // The owner keeps the viewer out of the taskbar; the window does nothing but exist.
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = ui.DefWindowProcAddress();
    wc.hInstance = m_instance;
    wc.lpszClassName = kInvisibleParent;
    ui.RegisterClassExW(&wc);
    m_owner = ui.CreateWindowExW(0, kInvisibleParent, L"", WS_POPUP | WS_DISABLED, 0, 0, 1, 1,
                                 nullptr, nullptr, m_instance, nullptr);
  }
  const HWND owner = m_owner;
  for (const auto& file : HelpFiles()) {
    if (m_plat.Shell().HtmlHelpW(owner, file.c_str(), HH_DISPLAY_TOPIC, 0)) {
      ts.Msg("Help shown: %ls", file.c_str());
      return true;
    }
    ts.Msg("No help at %ls", file.c_str());
  }
  return false;
}

bool ShowHelp(core::CAgentProcess& process, std::unique_ptr<CHelpViewer>& viewer) {
  VDTraceNS::CScope ts("ShowHelp");
  auto& plat = process.Platform();
  if (!viewer) {
    const std::wstring helpId =
        support::ReadString(plat.Registry(), HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veridane\\Help",
                            L"UserDashboardHelpID", KEY_WOW64_32KEY, MAX_PATH)
            .value_or(L"");
    wchar_t exe[MAX_PATH + 1] = {};
    const DWORD n = plat.Kernel().GetModuleFileNameW(nullptr, exe, MAX_PATH);
    const std::wstring folder =
        n > 0 && n < MAX_PATH ? core::ModuleFolder(std::wstring(exe, n)) : L"";
    viewer = CHelpViewer::Create(plat, process.Instance(), folder, helpId);
  }
  const bool shown = viewer && viewer->Show();
  if (!shown) ts.Msg("Failed to create HtmlHelp.");
  return shown;
}

}  // namespace launch
