// The notification-area icon, its menu, balloons and toasts.
// A mixin of the main window: it routes the window's events to the tray logic
// (tray/tray_icon_logic.h), letting the broadcast ones go on down the chain.
//
// The window provides `Process()`, `m_hWnd`, `Post`, `Schedule`, `CancelSchedule`,
// `ResourceString(id)` and `BuildTrayMenu()` (tray/tray_menu.h builds it).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "core/message_map.h"
#include "core/messages.h"
#include "core/own_dir.h"
#include "launch/launch_app.h"
#include "support/trace/trace.h"
#include "tray/balloon.h"
#include "tray/tray_host.h"
#include "tray/tray_icon_logic.h"

template <class T>
class CTrayIconHandler : private ITrayHost {
 public:
  VD_BEGIN_MSG_MAP()
  VD_MESSAGE_HANDLER(uMsg == WM_CREATE, OnCreate)
  VD_MESSAGE_HANDLER(uMsg == WM_DESTROY || uMsg == WM_ENDSESSION, OnDestroy)
  VD_MESSAGE_HANDLER(uMsg == Self().Process().Messages().vdSettingsChanged, OnSettingsChanged)
  VD_MESSAGE_HANDLER(uMsg == Self().Process().Messages().taskbarCreated, OnTaskbarCreated)
  VD_MESSAGE_HANDLER(uMsg == WM_SYSCOLORCHANGE || uMsg == WM_THEMECHANGED, OnAmbientChange)
  VD_MESSAGE_HANDLER(uMsg == core::WM_VD_TRAY_CALLBACK, OnTrayMessage)
  VD_MESSAGE_HANDLER(uMsg == core::WM_VD_SHOW_TOAST, OnShowToast)
  VD_END_MSG_MAP()

  // Removes the icon and forgets the balloons; safe to run twice (end of session, then
  // destroy).
  void Dispose() { TrayLogic().OnDestroy(); }

  // ---- What the readers, quick actions and the window ask of the icon ----
  using BalloonCallback = std::function<void()>;
  // Shows the icon with base image `index` (0: no working reader, 1: a reader).
  void Show(UINT index) { TrayLogic().Show(index); }
  void Hide() { TrayLogic().Hide(); }
  // One flash sequence for a finger touch.
  void Flash() { TrayLogic().Flash(); }
  void ShowMenu() { TrayLogic().ShowMenu(); }
  // Shows a notification; a timeout of 0 is the default 25000 ms. `param`: the toast's
  // command (null: none). `onClick` runs as a task on the window's thread when the user
  // clicks it. True when it was taken.
  bool Notify(const std::wstring& title, const std::wstring& message, const wchar_t* param,
              BalloonCallback onClick, DWORD flags, UINT timeoutMs, UINT id) {
    platform::ComPtr<IUnknown> callback;
    if (onClick)
      callback = CBalloon::Create(TrayLogic().TaskPoster(), [onClick = std::move(onClick)] {
        onClick();
        return S_OK;
      });
    return TrayLogic().Notify(title, message, param, callback.get(), flags, timeoutMs, id);
  }
  // The same with the requester's own callback object (may be null), held counted.
  bool Notify(const std::wstring& title, const std::wstring& message, const wchar_t* param,
              IUnknown* callback, DWORD flags, UINT timeoutMs, UINT id) {
    return TrayLogic().Notify(title, message, param, callback, flags, timeoutMs, id);
  }
  // The plug-ins' way to notify.
  ITrayService& TrayService() { return TrayLogic(); }

  // Made at first use: the window's process is not there yet while this base is built.
  CTrayIconLogic& TrayLogic() {
    if (!m_trayLogic) {
      ITrayHost& host = *this;
      m_trayLogic = std::make_unique<CTrayIconLogic>(Self().Process(), host);
    }
    return *m_trayLogic;
  }

  static constexpr UINT kDefaultBalloonTimeoutMs = CTrayIconLogic::kDefaultBalloonTimeoutMs;

 protected:
  T& Self() { return static_cast<T&>(*this); }

 private:
  LRESULT OnCreate(UINT, WPARAM, LPARAM) {
    Self().SetMsgHandled(FALSE);
    TrayLogic().OnCreate();
    return 0;
  }
  LRESULT OnDestroy(UINT uMsg, WPARAM wParam, LPARAM) {
    Self().SetMsgHandled(FALSE);
    if (uMsg == WM_ENDSESSION && !wParam) return 0;  // someone refused: the session goes on
    Dispose();
    return 0;
  }
  LRESULT OnSettingsChanged(UINT, WPARAM, LPARAM) {
    Self().SetMsgHandled(FALSE);
    TrayLogic().OnSettingsChanged();
    return 0;
  }
  LRESULT OnTaskbarCreated(UINT, WPARAM, LPARAM) {
    Self().SetMsgHandled(FALSE);
    TrayLogic().OnTaskbarCreated();
    return 0;
  }
  LRESULT OnAmbientChange(UINT, WPARAM, LPARAM) {
    Self().SetMsgHandled(FALSE);
    TrayLogic().OnAmbientChange();
    return 0;
  }
  // A wake-up only; wParam and lParam are ignored, whoever posted it.
  LRESULT OnShowToast(UINT, WPARAM, LPARAM) {
    TrayLogic().OnShowToast();
    return 0;
  }
  LRESULT OnTrayMessage(UINT, WPARAM, LPARAM lParam) {
    VDTraceNS::CScope ts("CTrayIconHandler<class CVdAgentMain>::OnTrayMessage");
    TrayLogic().OnTrayMessage(lParam);
    return 0;
  }

  // ---- ITrayHost: the window's side ----
  HWND TrayWindow() override { return Self().m_hWnd; }
  void PostTrayTask(std::function<void()> task) override { Self().Post(std::move(task)); }
  UINT ScheduleTrayTask(UINT delayMs, std::function<bool(UINT)> task) override {
    return Self().Schedule(delayMs, std::move(task));
  }
  void CancelTrayTask(UINT id) override { Self().CancelSchedule(id); }
  HINSTANCE TrayResourceModule() override {
    if (!m_resources) {
      auto& plat = Self().Process().Platform();
      wchar_t path[MAX_PATH + 1] = {};
      const DWORD n = plat.Kernel().GetModuleFileNameW(nullptr, path, MAX_PATH);
      const std::wstring folder =
          n > 0 && n < MAX_PATH ? core::ModuleFolder(std::wstring(path, n)) : std::wstring();
      m_resources =
          std::make_unique<platform::UniqueModule>(tray::LoadTrayResourceModule(plat, folder));
    }
    return m_resources->get();
  }
  std::wstring TrayString(UINT id) override { return Self().ResourceString(id); }
  HMENU BuildTrayMenu() override { return Self().BuildTrayMenu(); }
  void LaunchConsole() override {
    LAUNCHAPPID::LaunchApp(Self().Process(), LAUNCHAPPID::Console, std::wstring());
  }

  // Declared before the logic: the icon's images go before their module.
  std::unique_ptr<platform::UniqueModule> m_resources;
  std::unique_ptr<CTrayIconLogic> m_trayLogic;
};
