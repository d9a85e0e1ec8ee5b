#include "kiosk/kiosk_logic.h"

#include <exception>

#include "core/messages.h"
#include "kiosk/kiosk_session.h"
#include "kiosk/unlock_script.h"
#include "launch/fast_connect.h"
#include "support/trace/trace.h"

namespace {

// Entries of the fast-connect component.
constexpr const wchar_t* kRunLogon = L"VDFCRunLogon";
constexpr const wchar_t* kLogoffUser = L"VDFCLogoffUser";

}  // namespace

CKioskSessionLogic::CKioskSessionLogic(core::CAgentProcess& process, IKioskHost& host)
    : m_process(process), m_host(host) {}

DWORD CKioskSessionLogic::OwnProcessId() const {
  return m_process.Platform().Kernel().GetCurrentProcessId();
}

CUser CKioskSessionLogic::KioskUserFromSession() {
  return CUser::FromKiosk(m_process.Platform(), m_process.AuthLibrary(),
                          KIOSK::IsKioskLogon(m_process));
}

void CKioskSessionLogic::OnReady() {
  VDTraceNS::CScope ts("CKioskHandler<class CVdAgentMain>::OnReady");
  if (!KIOSK::IsKioskSession(m_process)) return;
  FASTCONNECT::LaunchFastConnect_ifAvailable(m_process, kRunLogon);
  ChangeKioskUser(KioskUserFromSession(), false, OwnProcessId());
}

void CKioskSessionLogic::OnSessionChange(WPARAM code) {
  VDTraceNS::CScope ts("CKioskHandler<class CVdAgentMain>::OnSessionChange");
  if (!KIOSK::IsKioskSession(m_process)) return;
  switch (code) {
    case WTS_CONSOLE_DISCONNECT:
    case WTS_REMOTE_DISCONNECT:
      // Whoever connects next sees who the kiosk user is; the user itself stays.
      ts.Msg("Session is disconnected... Event is %d", static_cast<int>(code));
      BroadcastKioskUserChanged(OwnProcessId());
      break;
    case WTS_SESSION_LOCK:
      ts.Msg("WTS_SESSION_LOCK");
      FASTCONNECT::LaunchFastConnect_ifAvailable(m_process, kLogoffUser);
      m_host.KioskEventLog().Log(LogEvent(kVDEventKioskSessionLocked, kVDEventSourceAgent));
      break;
    case WTS_SESSION_UNLOCK:
      ts.Msg("WTS_SESSION_UNLOCK");
      FASTCONNECT::LaunchFastConnect_ifAvailable(m_process, kRunLogon);
      if (m_kioskUser.IsValid()) ChangeKioskUser(KioskUserFromSession(), true, OwnProcessId());
      break;
    default:
      break;
  }
}

void CKioskSessionLogic::OnEndSession(WPARAM wParam, LPARAM lParam) {
  VDTraceNS::CScope ts("CKioskHandler<class CVdAgentMain>::OnEndSession");
  if (!KIOSK::IsKioskSession(m_process)) return;
  // A log-off that another program vetoed (wParam FALSE) leaves the session running: no
  // log-off is recorded for it.
  if (!wParam || !(static_cast<DWORD>(lParam) & ENDSESSION_LOGOFF)) return;
  ts.Msg("ENDSESSION_LOGOFF");
  m_host.KioskEventLog().Log(LogEvent(kVDEventKioskLoggedOff, kVDEventSourceAgent));
}

void CKioskSessionLogic::OnVDKioskUserIdentified(LPARAM lParam) {
  ChangeKioskUser(CUser::FromKioskSharedMemory(m_process.AuthLibrary()), false,
                  static_cast<DWORD>(lParam));
}

bool CKioskSessionLogic::ChangeKioskUser(const CUser& user, bool runScript, DWORD processId) {
  VDTraceNS::CScope ts("CKioskHandler<class CVdAgentMain>::ChangeKioskUser");
  // An invalid user "differs" from everyone, itself included: a failed lookup would
  // otherwise clear the kiosk user, tell every program and run the script.
  if (!user.IsValid()) {
    ts.Msg("No valid kiosk user, nothing changes");
    return false;
  }
  if (!(user != m_kioskUser)) return false;
  m_kioskUser = user;
  ts.Msg("Kiosk user is %ls", m_kioskUser.ToString().c_str());
  BroadcastKioskUserChanged(processId);
  if (runScript) KIOSK::RunUnlockScript(m_process.Platform());
  return true;
}

void CKioskSessionLogic::BroadcastKioskUserChanged(DWORD processId) {
  VDTraceNS::CScope ts("CKioskHandler<class CVdAgentMain>::BroadcastKioskUserChanged");
  try {
    auto& ui = m_process.Platform().Ui();
    DWORD recipients = BSM_APPLICATIONS;
    if (ui.BroadcastSystemMessageW(BSF_POSTMESSAGE, &recipients, m_process.Messages().vdnxBroadcast,
                                   kVdnxKioskUserChanged, static_cast<LPARAM>(processId)) < 0)
      ts.Result("BroadcastSystemMessageW",
                HRESULT_FROM_WIN32(m_process.Platform().Kernel().GetLastError()));
    ui.PostMessageW(m_host.KioskWindow(), core::WM_VD_USER_CHANGED, 0, 0);
  } catch (const std::exception& e) {
    ts.Msg("%s", e.what());
  } catch (...) {
    ts.Result("BroadcastKioskUserChanged", E_UNEXPECTED);
  }
}
