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
  LRESULT OnCreate(UINT, WPARAM, LPARAM) {
    VDTraceNS::CScope ts("CTrayIconHandler<class CVdAgentMain>::OnCreate");
    Self().SetMsgHandled(FALSE);
    return 0;
  }
  // WM_ENDSESSION with wParam FALSE: the session goes on, nothing to release.
  LRESULT OnDestroy(UINT uMsg, WPARAM wParam, LPARAM) {
    Self().SetMsgHandled(FALSE);
    if (uMsg == WM_ENDSESSION && !wParam) return 0;
    Dispose();
    return 0;
  }
  LRESULT OnSettingsChanged(UINT, WPARAM, LPARAM) {
    VDTraceNS::CScope ts("CTrayIconHandler<class CVdAgentMain>::OnSettingsChanged");
    Self().SetMsgHandled(FALSE);
    return 0;
  }
  LRESULT OnTaskbarCreated(UINT, WPARAM, LPARAM) {
    VDTraceNS::CScope ts("CTrayIconHandler<class CVdAgentMain>::OnTaskbarCreated");
    Self().SetMsgHandled(FALSE);
    return 0;
  }
  LRESULT OnAmbientChange(UINT, WPARAM, LPARAM) {
    VDTraceNS::CScope ts("CTrayIconHandler<class CVdAgentMain>::OnAmbientChange");
    Self().SetMsgHandled(FALSE);
    return 0;
  }
  LRESULT OnTrayCallback(UINT, WPARAM, LPARAM) {
    VDTraceNS::CScope ts("CTrayIconHandler<class CVdAgentMain>::OnTrayCallback");
    return 0;
  }
};
