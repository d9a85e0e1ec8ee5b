// Message maps of the main window's handler mixins.
//
// A mixin's map offers each message to its handlers in order. Before a handler runs the
// window's handled flag is set; a handler of a broadcast event clears it so the message
// goes on down the chain, a handler of a message it owns leaves it set and so consumes it.
//
//   VD_BEGIN_MSG_MAP()
//     VD_MESSAGE_HANDLER(uMsg == core::WM_VD_READY, OnReady)
//   VD_END_MSG_MAP()
//
// The mixin provides `Self()` (the final window) and handlers `LRESULT OnX(UINT, WPARAM,
// LPARAM)`.
#pragma once

#include "platform/win_types.h"

#define VD_BEGIN_MSG_MAP()                                                            \
  BOOL ProcessHandlerMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam,      \
                             LRESULT& lResult) {                                      \
    (void)hWnd;                                                                       \
    (void)lResult;                                                                    \
    auto& vdWindow_ = this->Self();

#define VD_MESSAGE_HANDLER(cond, func)           \
  if (cond) {                                    \
    vdWindow_.SetMsgHandled(TRUE);               \
    lResult = func(uMsg, wParam, lParam);        \
    if (vdWindow_.IsMsgHandled()) return TRUE;   \
  }

#define VD_END_MSG_MAP() \
  return FALSE;          \
  }

// A handler of an event that the mixin receives but does nothing with yet beyond tracing
// it: the message goes on down the chain.
#define VD_TRACED_EVENT(func, scopeName)      \
  LRESULT func(UINT, WPARAM, LPARAM) {         \
    VDTraceNS::CScope ts(scopeName);           \
    this->Self().SetMsgHandled(FALSE);         \
    return 0;                                  \
  }

// A handler of a message the mixin owns and consumes, traced.
#define VD_TRACED_OWN_MESSAGE(func, scopeName) \
  LRESULT func(UINT, WPARAM, LPARAM) {          \
    VDTraceNS::CScope ts(scopeName);            \
    return 0;                                   \
  }

// The one handler of WM_DESTROY and WM_ENDSESSION: runs `Dispose` at destroy and at a real
// end of session (wParam TRUE), and lets the message go on either way.
#define VD_DISPOSE_ON_DESTROY(func)                    \
  LRESULT func(UINT uMsg, WPARAM wParam, LPARAM) {     \
    this->Self().SetMsgHandled(FALSE);                 \
    if (uMsg == WM_ENDSESSION && !wParam) return 0;    \
    this->Dispose();                                   \
    return 0;                                          \
  }
