// Smart, contactless and proximity cards: identification, quick actions and lock on removal.
// A mixin of the main window: it only routes the window's events to CCardLogic.
//
// The window answers the logic's questions through `CardHost()` (ICardHost&); until it has
// one, the events are only traced.
#pragma once

#include <optional>

#include "auth/card_host.h"
#include "auth/card_logic.h"
#include "core/message_map.h"
#include "core/messages.h"
#include "support/trace/trace.h"

template <class T>
class CCardHandler {
 public:
  VD_BEGIN_MSG_MAP()
  VD_MESSAGE_HANDLER(uMsg == core::WM_VD_READY, OnReady)
  VD_MESSAGE_HANDLER(uMsg == WM_DESTROY, OnDestroy)
  VD_MESSAGE_HANDLER(uMsg == WM_WTSSESSION_CHANGE, OnSessionChange)
  VD_MESSAGE_HANDLER(uMsg == core::WM_VD_CARD, OnCardMessage)
  VD_END_MSG_MAP()

  // Library, readers and pending checks; safe to run twice (end of session, then destroy).
  void Dispose() {
    if (m_logic) {
      m_logic->Dispose();
    } else {
      VDTraceNS::CScope ts("CCardHandler<class CVdAgentMain>::Dispose");
    }
  }

  // The readers and the library binding (the card quick actions use it). Null before the
  // first event, and without a host.
  CCardLogic* Card() { return Logic(); }

 protected:
  T& Self() { return static_cast<T&>(*this); }

 private:
  CCardLogic* Logic() {
    if constexpr (requires(T & t) { t.CardHost(); }) {
      if (!m_logic) {
        auto& process = Self().Process();
        m_logic.emplace(process.Platform(), Self().CardHost());
      }
      return &*m_logic;
    } else {
      return nullptr;
    }
  }

  LRESULT OnReady(UINT, WPARAM, LPARAM) {
    Self().SetMsgHandled(FALSE);
    if (CCardLogic* logic = Logic()) {
      logic->OnReady();
    } else {
      VDTraceNS::CScope ts("CCardHandler<class CVdAgentMain>::OnReady");
    }
    return 0;
  }
  VD_DISPOSE_ON_DESTROY(OnDestroy)
  LRESULT OnSessionChange(UINT, WPARAM wParam, LPARAM) {
    Self().SetMsgHandled(FALSE);
    if (CCardLogic* logic = Logic()) {
      logic->OnSessionChange(wParam);
    } else {
      VDTraceNS::CScope ts("CCardHandler<class CVdAgentMain>::OnSessionChange");
    }
    return 0;
  }
  // The library's events: ours alone, marked handled.
  LRESULT OnCardMessage(UINT, WPARAM wParam, LPARAM lParam) {
    if (CCardLogic* logic = Logic()) {
      logic->OnCardMessage(wParam, lParam);
    } else {
      VDTraceNS::CScope ts("CCardHandler<class CVdAgentMain>::OnCardMessage");
    }
    return 0;
  }

  std::optional<CCardLogic> m_logic;
};
