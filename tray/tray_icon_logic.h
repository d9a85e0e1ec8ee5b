// The tray handler's behaviour: the icon follows the window and the "ShowTaskbarIcon"
// setting, mouse clicks open the menu or the console, the shell's balloon notifications
// become tasks, and notifications are shown on the icon.
//
//   CTrayIconLogic tray(process, host);        // host: ITrayHost, the window's side
//   tray.OnCreate();                            // at WM_CREATE
//   tray.OnTrayMessage(WM_LBUTTONUP);           // lParam of the shell's callback message
//   tray.Flash();                               // a finger touch
//
// Every method runs on the main window's thread, except Notify and TaskPoster's poster (any
// thread).
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "core/agent_process.h"
#include "platform/handles.h"
#include "tray/balloon.h"
#include "tray/toast.h"
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
  // `param`: the toast's command (null: none); `callback` may be null and is held counted.
  bool Notify(const std::wstring& title, const std::wstring& message, const wchar_t* param,
              IUnknown* callback, DWORD flags, UINT timeoutMs, UINT id);
  bool Notify(const std::wstring& title, const std::wstring& message, IUnknown* callback,
              DWORD flags, UINT timeoutMs, UINT id) override;
  // WM_VD_SHOW_TOAST, a bare wake-up: displays the toasts waiting in the queue.
  void OnShowToast();
  // Posts tasks to the window until the window is destroyed, then refuses them; for
  // callbacks that outlive the window (tray/balloon.h).
  TrayTaskPoster TaskPoster();

  // "ShowTaskbarIcon" of the "KwAppSettings" section, true when absent or unreadable.
  bool ReadShowTaskbarIcon();

  CTrayIcon& Icon() { return m_icon; }
  CTrayIconBalloons& Balloons() { return m_balloons; }
  bool IsMenuOpen() const { return m_menuOpen; }
  bool IsDisposed() const { return m_disposed; }
  UINT PendingClick() const { return m_process.TrayClickTaskId; }

 private:
  // The window's task queue while the window lives.
  struct CTaskGate {
    std::mutex lock;  // guards host
    ITrayHost* host = nullptr;
  };

  void RunMenu();
  void CloseTaskGate();
  void OpenConsoleAfterDoubleClick();

  core::CAgentProcess& m_process;
  ITrayHost& m_host;
  CTrayIcon m_icon;
  CTrayIconBalloons m_balloons;
  std::shared_ptr<CTaskGate> m_gate;
  // The toast library, loaded at the first toast; shared with the toasts on show.
  std::shared_ptr<CDelayLoadLibrary> m_toastLibrary;
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
