// The notification-area icon, its menu, balloons and toasts.
// A mixin of the main window: it receives the window's events in chain order.
#pragma once

#include <functional>
#include <string>

#include "core/message_map.h"
#include "core/messages.h"
#include "support/trace/trace.h"

template <class T>
class CTrayIconHandler {
 public:
  VD_BEGIN_MSG_MAP()
    VD_MESSAGE_HANDLER(uMsg == WM_CREATE, OnCreate)
    VD_MESSAGE_HANDLER(uMsg == WM_DESTROY || uMsg == WM_ENDSESSION, OnDestroy)
    VD_MESSAGE_HANDLER(uMsg == Self().Process().Messages().vdSettingsChanged, OnSettingsChanged)
    VD_MESSAGE_HANDLER(uMsg == Self().Process().Messages().taskbarCreated, OnTaskbarCreated)
    VD_MESSAGE_HANDLER(uMsg == WM_SYSCOLORCHANGE || uMsg == WM_THEMECHANGED, OnAmbientChange)
    VD_MESSAGE_HANDLER(uMsg == core::WM_VD_TRAY_CALLBACK, OnTrayCallback)
  VD_END_MSG_MAP()

  // Releases what the handler holds; safe to run twice (end of session, then destroy).
  void Dispose() { VDTraceNS::CScope ts("CTrayIconHandler<class CVdAgentMain>::Dispose"); }

  // ---- What the readers and quick actions ask of the icon ----
  // The icon itself is not drawn yet: these record what was asked, so the readers and
  // quick actions can already be followed in the trace.
  using BalloonCallback = std::function<void()>;
  // Shows the icon with base image `index` (0: no working reader, 1: a reader).
  void Show(UINT index) {
    VDTraceNS::CScope ts("CTrayIconHandler<class CVdAgentMain>::Show");
    ts.Msg("index = %u", index);
  }
  // One flash sequence for a finger touch.
  void Flash() { VDTraceNS::CScope ts("CTrayIconHandler<class CVdAgentMain>::Flash"); }
  // Queues a notification; a timeout of 0 is the default 25000 ms. The callback runs when
  // the user clicks it. True when it was queued.
  bool Notify(const std::wstring& title, const std::wstring& message, LPARAM param,
              BalloonCallback callback, DWORD flags, UINT timeoutMs, UINT id) {
    VDTraceNS::CScope ts("CTrayIconHandler<class CVdAgentMain>::Notify");
    if (timeoutMs == 0) timeoutMs = kDefaultBalloonTimeoutMs;
    ts.Msg("title = '%ls', message = '%ls', param = %ld, flags = 0x%X, timeout = %u, id = %u%s",
           title.c_str(), message.c_str(), static_cast<long>(param), static_cast<unsigned>(flags),
           timeoutMs, id, callback ? ", click action" : "");
    m_lastClick = std::move(callback);
    return true;
  }
  // The click action of the last notification asked for (empty when it has none).
  const BalloonCallback& LastBalloonClick() const { return m_lastClick; }

  static constexpr UINT kDefaultBalloonTimeoutMs = 25000;

 protected:
  T& Self() { return static_cast<T&>(*this); }

 private:
  VD_TRACED_EVENT(OnCreate, "CTrayIconHandler<class CVdAgentMain>::OnCreate")
  VD_DISPOSE_ON_DESTROY(OnDestroy)
  VD_TRACED_EVENT(OnSettingsChanged, "CTrayIconHandler<class CVdAgentMain>::OnSettingsChanged")
  VD_TRACED_EVENT(OnTaskbarCreated, "CTrayIconHandler<class CVdAgentMain>::OnTaskbarCreated")
  VD_TRACED_EVENT(OnAmbientChange, "CTrayIconHandler<class CVdAgentMain>::OnAmbientChange")
  VD_TRACED_OWN_MESSAGE(OnTrayCallback, "CTrayIconHandler<class CVdAgentMain>::OnTrayCallback")

  BalloonCallback m_lastClick;
};
