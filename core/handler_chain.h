// The handler chain of a window composed of mixins: a table of stages, each routing a
// message to one mixin's map, tried in order until one consumes the message.
//
//   using HandlerChain = core::Chain<OwnCreate,
//                                    core::Stage<CKeyboardHandler<CMyWindow>>,
//                                    OwnHandlers>;
//   return HandlerChain::Route(*this, hWnd, uMsg, wParam, lParam, result);
#pragma once

#include "platform/win_types.h"

namespace core {

// One stage of the chain: a mixin's message map, or one of the window's own maps.
template <class Mixin>
struct Stage {
  template <class W>
  static BOOL Route(W& w, HWND h, UINT m, WPARAM wp, LPARAM lp, LRESULT& r) {
    return static_cast<Mixin&>(w).Mixin::ProcessHandlerMessage(h, m, wp, lp, r);
  }
};

// The stages in order; the first that consumes a message ends its trip.
template <class... Stages>
struct Chain {
  template <class W>
  static BOOL Route(W& w, HWND h, UINT m, WPARAM wp, LPARAM lp, LRESULT& r) {
    return (... || Stages::Route(w, h, m, wp, lp, r));
  }
};

}  // namespace core
