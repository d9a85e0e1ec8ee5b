// The agent's hotkey and the modifier-key capture that selects a quick action.
// A mixin of the main window: it receives the window's events in chain order and routes
// them to the hotkey reader and the quick actions (actions/quick_actions.h).
//
// The window provides `CQuickActions* QuickActions()` (null until the quick actions exist)
// and `void OnHotKey()`.
#pragma once

#include <optional>

#include "actions/hotkey.h"
#include "actions/quick_actions.h"
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

  // From the reader handlers at the first event of a touch or tap.
  void StartCapture() {
    if (CQuickActions* qa = Self().QuickActions()) qa->Keyboard().StartCapture();
  }
  DWORD CompleteCapture() {
    CQuickActions* qa = Self().QuickActions();
    return qa ? qa->Keyboard().CompleteCapture() : 0;
  }

  // Unregisters the hotkey and ends the capture; safe to run twice (end of session, then
  // destroy).
  void Dispose() {
    VDTraceNS::CScope ts("CKeyboardHandler<class CVdAgentMain>::Dispose");
    if (m_hotKey) m_hotKey->Unregister();
    CompleteCapture();
  }

  const CReadHotKey* HotKey() const { return m_hotKey ? &*m_hotKey : nullptr; }

 protected:
  T& Self() { return static_cast<T&>(*this); }

 private:
  LRESULT OnReady(UINT, WPARAM, LPARAM) {
    VDTraceNS::CScope ts("CKeyboardHandler<class CVdAgentMain>::OnReady");
    Self().SetMsgHandled(FALSE);
    HotKeyReader().Register(Self().m_hWnd);
    return 0;
  }
  VD_DISPOSE_ON_DESTROY(OnDestroy)
  LRESULT OnSettingsChanged(UINT, WPARAM, LPARAM) {
    VDTraceNS::CScope ts("CKeyboardHandler<class CVdAgentMain>::OnSettingsChanged");
    Self().SetMsgHandled(FALSE);
    HotKeyReader().Reregister(Self().m_hWnd);
    return 0;
  }
  LRESULT OnHotkeyMessage(UINT, WPARAM wParam, LPARAM) {
    Self().SetMsgHandled(FALSE);
    CQuickActions* qa = Self().QuickActions();
    if (!qa) {
      VDTraceNS::CScope ts("CKeyboardHandler<class CVdAgentMain>::OnHotkeyMessage");
      return 0;
    }
    // AcceptHotKey traces under this handler's scope name.
    if (qa->AcceptHotKey(wParam)) Self().OnHotKey();
    return 0;
  }

  CReadHotKey& HotKeyReader() {
    if (!m_hotKey) m_hotKey.emplace(Self().Process());
    return *m_hotKey;
  }

  std::optional<CReadHotKey> m_hotKey;
};
