#include "policy/user_session.h"

#include <utility>

#include "auth/credential.h"
#include "auth/tokens.h"
#include "core/messages.h"
#include "support/trace/trace.h"

namespace {

// ERROR_NONE_MAPPED: a user without account name or SID.
constexpr HRESULT kNoUsableUser = static_cast<HRESULT>(0x80070523L);

}  // namespace

CUserSession::CUserSession(core::CAgentProcess& process, IUserSessionHost& host)
    : m_process(process), m_host(host), m_log(process.Platform()) {}

CUserSession::~CUserSession() { Dispose(); }

void CUserSession::Dispose() { ClearPromises(); }

void CUserSession::OnReady(HWND hWnd) {
  VDTraceNS::CScope ts("CUserSessionHandler<class CVdAgentMain>::OnReady");
  m_hWnd = hWnd;
  if (m_host.IsKioskSession()) return;
  CUser user = CUser::FromWindows(m_process.Platform(), m_process.AuthLibrary());
  if (user != m_user) SetUser(std::move(user));
  m_host.CheckUserPasswordReset(m_user);
}

void CUserSession::SetUser(CUser user) {
  VDTraceNS::CScope ts("CUserSessionHandler<class CVdAgentMain>::SetUser");
  m_user = std::move(user);
  if (m_user.AccountName().empty() && m_user.Sid().empty()) {
    ts.Result("SetUser", kNoUsableUser);
    return;
  }
  m_process.Platform().Ui().PostMessageW(m_hWnd, core::WM_VD_USER_CHANGED, 0, 0);
  FetchUserCredentials(true);
}

void CUserSession::OnEndSession(WPARAM wParam, LPARAM lParam) {
  VDTraceNS::CScope ts("CUserSessionHandler<class CVdAgentMain>::OnEndSession");
  if (!(static_cast<DWORD>(lParam) & ENDSESSION_LOGOFF)) return;
  ts.Msg("ENDSESSION_LOGOFF");
  if (!wParam) return;  // another program cancelled the log-off
  if (m_host.IsKioskSession()) return;
  LogEvent e(kVDEventSessionLoggedOff, kVDEventSourceAgent);
  e.AddString(m_user.AccountName().c_str());
  m_log.Log(e);
}

void CUserSession::OnSessionChange(WPARAM code) {
  VDTraceNS::CScope ts("CUserSessionHandler<class CVdAgentMain>::OnSessionChange");
  switch (code) {
    case WTS_CONSOLE_DISCONNECT:
    case WTS_REMOTE_DISCONNECT:
      ts.Msg("Session is disconnected (%d)", static_cast<int>(code));
      break;
    case WTS_SESSION_LOCK:
      if (m_host.IsKioskSession()) break;
      ts.Msg("WTS_SESSION_LOCK");
      {
        LogEvent e(kVDEventSessionLocked, kVDEventSourceAgent);
        e.AddString(m_user.AccountName().c_str());
        m_log.Log(e);
      }
      break;
    case WTS_SESSION_UNLOCK:
      ts.Msg("WTS_SESSION_UNLOCK");
      FetchUserCredentials(false);
      break;
    default:
      break;
  }
}

void CUserSession::OnVDSettingsChanged() {
  VDTraceNS::CScope ts("CUserSessionHandler<class CVdAgentMain>::OnVDSettingsChanged");
  FetchUserCredentials(false);
}

void CUserSession::FetchUserCredentials(bool reset) {
  VDTraceNS::CScope ts("CUserSessionHandler<class CVdAgentMain>::FetchUserCredentials");
  auto& kernel = m_process.Platform().Kernel();
  if (m_credentialsStamp.IsFresh(kernel)) {
    ts.Msg("Cached value: 0x%016llX", static_cast<unsigned long long>(m_uEnrolledCredentials));
    return;
  }
  if (reset) ClearPromises();

  auto& api = m_process.AuthLibrary();
  const std::vector<GUID> tokens = EnumTokens(api);
  const std::wstring sid = m_user.Sid();
  // Replies are told apart by message number, which leaves room for 100 tokens.
  const UINT count = static_cast<UINT>(std::min<size_t>(tokens.size(), kMaxPromises));

  for (UINT i = 0; i < count; ++i) {
    Promise& promise = m_promises[i];
    CVDFPBuffer<VDFP_TOKEN_INFO_1> info(api);
    const HRESULT hr = api.VDFPTokenGetInfo(tokens[i], VDFP_TOKEN_INFO_CLASS, info.put());
    if (FAILED(hr)) {
      ts.Result("VDFPTokenGetInfo failed", hr);
      continue;
    }
    if (!info) {
      ts.Msg("No token info");
      continue;
    }
    promise.mask = info->ullCredentialMask;
    ts.Msg(L"Token 0x%016llX: %ls", static_cast<unsigned long long>(promise.mask),
           CCredential::CredentialTypeName(promise.mask));
    const HRESULT enrolled = api.VDFPTokenIsEnrolled(tokens[i], sid.c_str(), VDFP_NAME_SID);
    if (FAILED(enrolled)) ts.Result("VDFPTokenIsEnrolled failed", enrolled);
    if (enrolled == S_OK) m_uEnrolledCredentials |= promise.mask;
    ts.Msg(L"  Local info: %ls", enrolled == S_OK ? L"enrolled" : L"NOT enrolled");
  }

  for (UINT i = 0; i < count; ++i) {
    Promise& promise = m_promises[i];
    if (promise.call) {
      ts.Msg("Already have pending request");
      continue;
    }
    HVDFPASYNCCALL call = nullptr;
    const HRESULT hr = api.VDFPTokenIsEnrolledAsync(
        tokens[i], m_hWnd, core::WM_VD_TOKEN_REPORT_FIRST + i, sid.c_str(), VDFP_NAME_SID, &call);
    if (FAILED(hr))
      ts.Result("VDFPTokenIsEnrolledAsync failed", hr);
    else if (!call)
      ts.Result("Async handle is not valid", E_HANDLE);
    promise.call = call;
  }
  m_credentialsStamp.Set(kernel);
}

void CUserSession::OnTokenEnrollmentReport(UINT uMsg, WPARAM wParam, LPARAM lParam) {
  if (wParam != 0) return;
  VDTraceNS::CScope ts("CUserSessionHandler<class CVdAgentMain>::OnTokenEnrollmentReport");
  const UINT id = uMsg - core::WM_VD_TOKEN_REPORT_FIRST;
  // Whether a query waits for this message is settled before lParam is touched.
  auto it = id < kMaxPromises ? m_promises.find(id) : m_promises.end();
  if (it == m_promises.end()) {
    ts.Msg("Promise %d not found", static_cast<int>(id));
    return;
  }
  if (!it->second.call) {
    ts.Msg("Promise %d is expired", static_cast<int>(id));
    return;
  }
  HVDFPASYNCCALL call = std::exchange(it->second.call, nullptr);
  const auto* reply = reinterpret_cast<const VDFP_ASYNC_ENROLLMENT_REPLY*>(lParam);
  if (!reply) {
    ts.Msg("No fetch data returned");
  } else if (FAILED(reply->hrResult)) {
    ts.Msg("Token fetch failed");
  } else {
    const ULONGLONG mask = it->second.mask;
    const bool enrolled = reply->hrResult == S_OK;
    if (enrolled)
      m_uEnrolledCredentials |= mask;
    else
      m_uEnrolledCredentials &= ~mask;
    ts.Msg(L"%ls (0x%016llX) is %ls", CCredential::CredentialTypeName(mask),
           static_cast<unsigned long long>(mask), enrolled ? L"enrolled" : L"NOT enrolled");
  }
  // Answered or failed, the query is over: a failed one is asked again at the next fetch
  // rather than waited for for good.
  m_promises.erase(it);
  m_process.AuthLibrary().VDFPAsyncDestroyCall(call);
}

bool CUserSession::UserHasCredentials(ULONGLONG mask) const {
  VDTraceNS::CScope ts("CUserSessionHandler<class CVdAgentMain>::UserHasCredentials");
  const bool has = (m_uEnrolledCredentials & mask) == mask;
  ts.Msg("0x%016llX in 0x%016llX: %d", static_cast<unsigned long long>(mask),
         static_cast<unsigned long long>(m_uEnrolledCredentials), has ? 1 : 0);
  return has;
}

bool CUserSession::UserHasEnoughCredentials() {
  VDTraceNS::CScope ts("CUserSessionHandler<class CVdAgentMain>::UserHasEnoughCredentials");
  const CPolicy policy = m_host.RefreshedPolicy();
  const bool enough = policy.IsSatisfied(m_uEnrolledCredentials);
  ts.Msg(enough ? "Enough" : "NOT enough");
  return enough;
}

size_t CUserSession::PendingQueries() const {
  size_t n = 0;
  for (const auto& [id, promise] : m_promises)
    if (promise.call) ++n;
  return n;
}

void CUserSession::ClearPromises() {
  auto promises = std::exchange(m_promises, {});
  for (auto& [id, promise] : promises)
    if (promise.call) m_process.AuthLibrary().VDFPAsyncDestroyCall(promise.call);
}
