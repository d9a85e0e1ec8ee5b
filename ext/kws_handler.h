// The password-manager fill-in component and its replies.
// A mixin of the main window: it receives the window's events in chain order and hands them
// to CKwsFillIn. The window provides `Process()`, `m_hWnd`, `KwsHost()` (IKwsHost&) and
// `PasswordManager()` (the process's CPasswordManager&).
#pragma once

#include <memory>

#include "core/message_map.h"
#include "core/messages.h"
#include "ext/kws_fillin.h"

template <class T>
class CKwsHandler {
 public:
  VD_BEGIN_MSG_MAP()
  VD_MESSAGE_HANDLER(uMsg == core::WM_VD_READY, OnReady)
  VD_MESSAGE_HANDLER(uMsg == WM_DESTROY || uMsg == WM_ENDSESSION, OnDestroy)
  VD_MESSAGE_HANDLER(uMsg == core::WM_VD_KWS, OnKwsMessage)
  VD_END_MSG_MAP()

  // Releases the component; safe to run twice (end of session, then destroy).
  void Dispose() { Kws().Dispose(); }

  // For quick actions and finger events: commands, the lock-after-fill-in flag.
  CKwsFillIn& Kws() {
    if (!m_kws)
      m_kws = std::make_unique<CKwsFillIn>(Self().Process(), Self().KwsHost(),
                                           Self().PasswordManager());
    return *m_kws;
  }

 protected:
  T& Self() { return static_cast<T&>(*this); }

 private:
  LRESULT OnReady(UINT, WPARAM, LPARAM) {
    Self().SetMsgHandled(FALSE);
    Kws().OnReady(Self().m_hWnd);
    return 0;
  }
  VD_DISPOSE_ON_DESTROY(OnDestroy)
  LRESULT OnKwsMessage(UINT, WPARAM wParam, LPARAM lParam) {
    Kws().OnKwsMessage(wParam, lParam);
    return 0;
  }

  std::unique_ptr<CKwsFillIn> m_kws;
};
