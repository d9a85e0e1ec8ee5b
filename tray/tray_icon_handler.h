// The notification-area icon, its menu, balloons and toasts.
// A mixin of the main window: it receives the window's events in chain order.
#pragma once

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

 protected:
  T& Self() { return static_cast<T&>(*this); }

 private:
  VD_TRACED_EVENT(OnCreate, "CTrayIconHandler<class CVdAgentMain>::OnCreate")
  VD_DISPOSE_ON_DESTROY(OnDestroy)
  VD_TRACED_EVENT(OnSettingsChanged, "CTrayIconHandler<class CVdAgentMain>::OnSettingsChanged")
  VD_TRACED_EVENT(OnTaskbarCreated, "CTrayIconHandler<class CVdAgentMain>::OnTaskbarCreated")
  VD_TRACED_EVENT(OnAmbientChange, "CTrayIconHandler<class CVdAgentMain>::OnAmbientChange")
  VD_TRACED_OWN_MESSAGE(OnTrayCallback, "CTrayIconHandler<class CVdAgentMain>::OnTrayCallback")
};
