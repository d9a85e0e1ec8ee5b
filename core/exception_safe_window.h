// The window procedure's exception boundary: a failure in any handler is traced once and the
// message goes on to DefWindowProc, so the window lives on.
//
//   CExceptionSafeWindow<CVdAgentMain> window(process);
#pragma once

#include <exception>

#include "platform/win_types.h"
#include "support/result_error.h"
#include "support/trace/trace.h"

// The type actually created: the whole message map runs inside an exception guard, so a
// failure in any handler is logged once and the window lives on.
template <class TBase>
class CExceptionSafeWindow : public TBase {
 public:
  using TBase::TBase;

  BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam,
                            LRESULT& result) override {
    try {
      return TBase::ProcessWindowMessage(hWnd, uMsg, wParam, lParam, result);
    } catch (const CResultError& e) {
      VDTraceNS::CScope ts("CExceptionSafeWindow::ProcessWindowMessage");
      ts.Result("vda::wndproc", e.Result());
    } catch (const std::exception& e) {
      VDTraceNS::CScope ts("CExceptionSafeWindow::ProcessWindowMessage");
      ts.Msg("vda::wndproc: %s", e.what());
    } catch (...) {
      VDTraceNS::CScope ts("CExceptionSafeWindow::ProcessWindowMessage");
      ts.Result("vda::wndproc", E_UNEXPECTED);
    }
    result = 0;
    return FALSE;  // not handled: the message goes to DefWindowProc
  }
};
