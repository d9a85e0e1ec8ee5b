// The agent's hotkey and the modifier-key capture that selects a quick action.
// A mixin of the main window: it receives the window's events in chain order.
#pragma once

#include "core/message_map.h"
#include "core/messages.h"
#include "support/trace/trace.h"

template <class T>
class CKeyboardHandler {
 public:
  VD_BEGIN_MSG_MAP()
    VD_MESSAGE_HANDLER(uMsg == core::WM_VD_READY, OnReady)
    VD_MESSAGE_HANDLER(uMsg == WM_DESTROY || uMsg == WM_ENDSESSION, OnDestroy)
    VD_MESSAGE_HANDLER(uMsg == Self().Process().Messages().vdSettingsChanged, OnSettingsChanged)
    VD_MESSAGE_HANDLER(uMsg == WM_HOTKEY, OnHotkeyMessage)
  VD_END_MSG_MAP()

  // Releases what the handler holds; safe to run twice (end of session, then destroy).
  void Dispose() { VDTraceNS::CScope ts("CKeyboardHandler<class CVdAgentMain>::Dispose"); }

 protected:
  T& Self() { return static_cast<T&>(*this); }

 private:
  VD_TRACED_EVENT(OnReady, "CKeyboardHandler<class CVdAgentMain>::OnReady")
  VD_DISPOSE_ON_DESTROY(OnDestroy)
  VD_TRACED_EVENT(OnSettingsChanged, "CKeyboardHandler<class CVdAgentMain>::OnSettingsChanged")
  VD_TRACED_EVENT(OnHotkeyMessage, "CKeyboardHandler<class CVdAgentMain>::OnHotkeyMessage")
};
