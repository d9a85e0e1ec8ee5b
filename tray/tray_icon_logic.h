// The tray handler's behaviour: the icon follows the window and the "ShowTaskbarIcon"
// setting, mouse clicks open the menu or the console, the shell's balloon notifications
// become tasks, and notifications are shown on the icon.
//
//   CTrayIconLogic tray(process, host);        // host: ITrayHost, the window's side
//   tray.OnCreate();                            // at WM_CREATE
//   tray.OnTrayMessage(WM_LBUTTONUP);           // lParam of the shell's callback message
//   tray.Flash();                               // a finger touch
//
// Every method runs on the main window's thread, except Notify (any thread).
#pragma once

#include <memory>
#include <string>

#include "core/agent_process.h"
#include "platform/handles.h"
#include "tray/tray_balloons.h"
#include "tray/tray_host.h"
#include "tray/tray_icon.h"
#include "tray/tray_service.h"

class CTrayIconLogic : public ITrayService {
 public:
  static constexpr UINT kDefaultBalloonTimeoutMs = 25000;
  static constexpr UINT kClickSlackMs = 50;

  CTrayIconLogic(core::CAgentProcess& process, ITrayHost& host);
  ~CTrayIconLogic() override;
  CTrayIconLogic(const CTrayIconLogic&) = delete;
  CTrayIconLogic& operator=(const CTrayIconLogic&) = delete;

  // ---- Window events ----
  void OnCreate();
  // WM_DESTROY, or WM_ENDSESSION with wParam TRUE; safe to run twice.
  void OnDestroy();
  void OnAmbientChange();
  void OnTaskbarCreated();
  void OnSettingsChanged();
  // The shell's callback message: `code` is its lParam.
  void OnTrayMessage(LPARAM code);

  // ---- What the readers, quick actions and the window ask ----
  void Show(UINT index);
  void Hide();
  void Flash();
  void ShowMenu();
  bool Notify(const std::wstring& title, const std::wstring& message, LPARAM param,
              TrayNotifyCallback callback, DWORD flags, UINT timeoutMs, UINT id);
  bool Notify(const std::wstring& title, const std::wstring& message, TrayNotifyCallback callback,
              DWORD flags, UINT timeoutMs, UINT id) override;

  // "ShowTaskbarIcon" of the "KwAppSettings" section, true when absent or unreadable.
  bool ReadShowTaskbarIcon();

  CTrayIcon& Icon() { return m_icon; }
  CTrayIconBalloons& Balloons() { return m_balloons; }
  bool IsMenuOpen() const { return m_menuOpen; }
  bool IsDisposed() const { return m_disposed; }
  UINT PendingClick() const { return m_process.TrayClickTaskId; }

 private:
  void RunMenu();
  void OpenConsoleAfterDoubleClick();

  core::CAgentProcess& m_process;
  ITrayHost& m_host;
  CTrayIcon m_icon;
  CTrayIconBalloons m_balloons;
  UINT m_baseIndex = 0;
  POINT m_click{};
  bool m_balloonClick = false;
  bool m_menuOpen = false;
  bool m_disposed = false;
};

namespace tray {

// The module with the tray's images: the branding module ("DLLPath") when it loads, else
// "VdAgentRes.dll" in `agentFolder`. Loaded as a data file; empty when neither loads.
platform::UniqueModule LoadTrayResourceModule(platform::IPlatform& plat,
                                              const std::wstring& agentFolder);

}  // namespace tray
