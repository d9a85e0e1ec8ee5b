// The kiosk handler's behaviour: the person in front of a shared kiosk session (the kiosk
// user), telling other programs when it changes, the unlock script, and the fast-connect
// logon component at the session's turning points.
//
//   struct Host : IKioskHost { HWND KioskWindow() override; CVDLog& KioskEventLog() override; };
//   CKioskSessionLogic kiosk(process, host);
//   kiosk.OnReady();                                  // at the ready message
//   kiosk.OnSessionChange(WTS_SESSION_UNLOCK);        // from WM_WTSSESSION_CHANGE
//   kiosk.ChangeKioskUser(identified, false, pid);    // a finger or a card named someone
//
// Every method runs on the main window's thread; the unlock script blocks it up to 20 s.
#pragma once

#include "auth/user.h"
#include "core/agent_process.h"
#include "support/event_log.h"

// What the kiosk logic needs from the main window.
class IKioskHost {
 public:
  virtual ~IKioskHost() = default;
  // The main window: it is told with WM_VD_USER_CHANGED that the kiosk user changed.
  virtual HWND KioskWindow() = 0;
  // The window's event-log writer.
  virtual CVDLog& KioskEventLog() = 0;
};

class CKioskSessionLogic {
 public:
  CKioskSessionLogic(core::CAgentProcess& process, IKioskHost& host);
  CKioskSessionLogic(const CKioskSessionLogic&) = delete;
  CKioskSessionLogic& operator=(const CKioskSessionLogic&) = delete;

  // ---- Window events; each does nothing outside a kiosk session ----
  // Starts the fast-connect logon and takes the kiosk user the session's key names.
  void OnReady();
  // WM_WTSSESSION_CHANGE's event code.
  void OnSessionChange(WPARAM code);
  // WM_ENDSESSION: a real end of a log-off is recorded in the event log.
  void OnEndSession(WPARAM wParam, LPARAM lParam);

  // The plug-in framework's broadcast (wParam 8) named a kiosk user; lParam is the process
  // that identified the person.
  void OnVDKioskUserIdentified(LPARAM lParam);

  // Takes `user` as the kiosk user when it is valid and differs from the current one, tells
  // every program (with `processId`) and, when asked, runs the unlock script. True when the
  // kiosk user changed.
  bool ChangeKioskUser(const CUser& user, bool runScript, DWORD processId);
  // Posts "VDNX_BROADCAST_NOTIFICATION" (wParam 9, lParam `processId`) to every program,
  // then WM_VD_USER_CHANGED to the main window.
  void BroadcastKioskUserChanged(DWORD processId);

  const CUser& KioskUser() const { return m_kioskUser; }

  // WPARAM of the broadcast that announces a changed kiosk user.
  static constexpr WPARAM kVdnxKioskUserChanged = 9;

 private:
  DWORD OwnProcessId() const;
  CUser KioskUserFromSession();

  core::CAgentProcess& m_process;
  IKioskHost& m_host;
  CUser m_kioskUser;  // the empty user until the first identification
};
