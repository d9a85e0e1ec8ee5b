#include "policy/policy_logic.h"

#include <cwctype>
#include <utility>

#include "core/messages.h"
#include "policy/user_policy.h"
#include "support/settings/settings_section.h"
#include "support/trace/trace.h"

namespace {

bool EqualNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  return true;
}

}  // namespace

CPolicyLogic::CPolicyLogic(core::CAgentProcess& process, IPolicyHost& host)
    : m_process(process), m_host(host) {}

CPolicyLogic::~CPolicyLogic() { Dispose(); }

void CPolicyLogic::OnReady(HWND hWnd) {
  m_hWnd = hWnd;
  if (m_disposed || m_watcher) return;
  platform::IPlatform& plat = m_process.Platform();
  HKEY key = nullptr;
  if (plat.Registry().RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPolicyKey, 0, kPolicyKeyAccess, &key) !=
      ERROR_SUCCESS)
    return;
  platform::IUi& ui = plat.Ui();
  // Runs on the watcher thread: only the broadcast, which reaches this agent's window too.
  m_watcher = std::make_unique<CRegKeyWatcher>(plat, key, /*watchSubtree=*/true, [&ui] {
    VDTraceNS::CScope ts("[registryChanged](HKLM/Veridane/Policies)");
    DWORD_PTR result = 0;
    ui.SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                           reinterpret_cast<LPARAM>(kPolicyArea), SMTO_NORMAL, kBroadcastTimeoutMs,
                           &result);
  });
  m_watcher->Start();
}

void CPolicyLogic::OnSettingChange(LPARAM lParam) {
  VDTraceNS::CScope ts("CPolicyHandler<class CVdAgentMain>::OnSettingChange");
  const auto* area = reinterpret_cast<const wchar_t*>(lParam);
  if (!area) {
    ts.Msg("No setting name");
    return;
  }
  if (m_disposed || !EqualNoCase(area, kPolicyArea)) return;
  RefreshPolicy();
}

void CPolicyLogic::OnSessionChange(WPARAM code) {
  VDTraceNS::CScope ts("CPolicyHandler<class CVdAgentMain>::OnSessionChange");
  if (code == WTS_SESSION_UNLOCK && !m_disposed) RefreshPolicy();
}

void CPolicyLogic::OnUserChanged() {
  VDTraceNS::CScope ts("CPolicyHandler<class CVdAgentMain>::OnUserChanged");
  if (m_disposed) return;
  m_policy = FetchUserPolicy(PolicyUser());
}

void CPolicyLogic::Dispose() {
  VDTraceNS::CScope ts("CPolicyHandler<class CVdAgentMain>::Dispose");
  m_disposed = true;
  // Destroying the watcher stops its thread; meanwhile this thread answers the watcher's
  // broadcast, which is sent to this very window.
  if (auto watcher = std::move(m_watcher)) watcher->Stop();
}

CUser CPolicyLogic::PolicyUser() {
  return m_host.IsKioskSession() ? m_host.KioskUser() : m_host.SessionUser();
}

std::wstring CPolicyLogic::CacheKey(const CUser& user) {
  std::wstring sid = user.Sid();
  if (!sid.empty()) {
    for (auto& c : sid) c = static_cast<wchar_t>(std::towupper(c));
    return L"S:" + sid;
  }
  std::wstring name = user.AccountName();
  for (auto& c : name) c = static_cast<wchar_t>(std::towupper(c));
  return L"N" + std::to_wstring(user.NameFormat()) + L":" + name;
}

CPolicy CPolicyLogic::FetchUserPolicy(const CUser& user) {
  VDTraceNS::CScope ts("CPolicyHandler<class CVdAgentMain>::FetchUserPolicy");
  platform::IKernel& kernel = m_process.Platform().Kernel();
  std::wstring key = CacheKey(user);
  // Only the same user's answer is reused: a new kiosk user must not get the last one's.
  if (key == m_fetchedFor && m_fetchStamp.IsFresh(kernel)) {
    ts.Msg(L"Cached value: %ls", m_fetched.GetText().c_str());
    return m_fetched;
  }
  CPolicy policy;
  if (SUCCEEDED(::FetchUserPolicy(m_process.AuthLibrary(), user, policy))) {
    m_fetched = policy;
    m_fetchedFor = std::move(key);
    m_fetchStamp.Set(kernel);
  }
  return policy;
}

void CPolicyLogic::RefreshPolicy() {
  VDTraceNS::CScope ts("CPolicyHandler<class CVdAgentMain>::FetchUserPolicy");
  CPolicy fetched = FetchUserPolicy(PolicyUser());
  const std::wstring now = fetched.GetText();
  const std::wstring last = m_policy.GetText();
  ts.Msg(L"User policy: %ls", now.c_str());
  ts.Msg(L"Last policy: %ls", last.c_str());
  if (EqualNoCase(now, last)) return;
  m_policy = std::move(fetched);
  m_process.Platform().Ui().PostMessageW(m_hWnd, core::WM_VD_POLICY_CHANGED, 0, 0);
}

ULONGLONG CPolicyLogic::GetSuggestedCredentials() {
  VDTraceNS::CScope ts("CPolicyHandler<class CVdAgentMain>::GetSuggestedCredentials");
  RefreshPolicy();
  CKwAppSettings settings(m_process.Platform());
  const ULONGLONG last = settings.GetLastLogonPolicyTokens();
  const ULONGLONG mask = m_policy.TokensMask();
  const ULONGLONG suggestion = mask & ~last;
  ts.Msg("User policy: 0x%016llX, last suggestion=0x%016llX, current suggestion=0x%016llX",
         static_cast<unsigned long long>(mask), static_cast<unsigned long long>(last),
         static_cast<unsigned long long>(suggestion));
  settings.SetLastLogonPolicyTokens(mask);
  return suggestion;
}
