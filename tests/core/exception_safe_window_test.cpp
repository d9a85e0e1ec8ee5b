// The window procedure's exception guard: each kind of failure is traced once, and the
// message then goes on to DefWindowProc as if nothing had handled it.
#include "core/exception_safe_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/window_impl.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"

namespace {

constexpr wchar_t kClass[] = L"VdGuardTestWindow";

// Handles WM_QUERYENDSESSION and WM_CLOSE itself with a result of its own, unless `raise`
// throws first.
class CRaisingWindow : public core::CWindowImpl<CRaisingWindow> {
 public:
  using CWindowImpl::CWindowImpl;
  std::function<void()> raise;

  BOOL ProcessWindowMessage(HWND, UINT msg, WPARAM, LPARAM, LRESULT& result) override {
    if (msg != WM_QUERYENDSESSION && msg != WM_CLOSE) return FALSE;
    result = 7;
    if (raise) raise();
    return TRUE;
  }
};

class ExceptionSafeWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VDTraceNS::Bind(proc.get());
    ASSERT_TRUE(window.RegisterClassOnce(nullptr, kClass, 0, nullptr));
    ASSERT_NE(window.Create(nullptr, kClass, L"", WS_POPUP, 0), nullptr);
  }
  void TearDown() override {
    if (window.m_hWnd) window.DestroyWindow();
    VDTraceNS::Bind(nullptr);
  }
  LRESULT Send(UINT msg) { return proc->Ui().SendMessageW(window.m_hWnd, msg, 0, 0); }
  size_t Guards() {
    size_t n = 0;
    for (const auto& r : sink.Records())
      n += r.type == '>' && r.text == "CExceptionSafeWindow::ProcessWindowMessage";
    return n;
  }

  VDTraceNS::CRecordingSink sink;
  sim::Machine machine;
  std::unique_ptr<sim::Process> proc = machine.CreateProcess({});
  sim::CurrentProcessScope scope{proc.get()};
  CExceptionSafeWindow<CRaisingWindow> window{proc->Ui()};
};

struct NotAStdException {};

struct GuardCase {
  const char* name;
  std::function<void()> raise;
  char type;  // the record that tells what was caught
  const char* text;
};

TEST_F(ExceptionSafeWindowTest, EachFailureIsTracedOnceAndTheMessageGoesToDefWindowProc) {
  const GuardCase cases[] = {
      {"result error", [] { throw CResultError(E_ACCESSDENIED); }, 'E', "-2147024891 vda::wndproc"},
      {"standard exception", [] { throw std::runtime_error("boom"); }, 'U', "vda::wndproc: boom"},
      {"anything else", [] { throw NotAStdException{}; }, 'E', "-2147418113 vda::wndproc"},
  };
  // Without a failure the handler's own answer stands.
  EXPECT_EQ(Send(WM_QUERYENDSESSION), 7);
  EXPECT_EQ(Guards(), 0u);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sink.Clear();
    window.raise = c.raise;
    // DefWindowProc answers TRUE to WM_QUERYENDSESSION; the handler's 7 is gone.
    EXPECT_EQ(Send(WM_QUERYENDSESSION), TRUE);
    EXPECT_EQ(Guards(), 1u);
    const auto texts = sink.Texts(c.type);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), c.text), 1) << "records: " << texts.size();

    // Called directly, the guard reports the message unhandled with a result of 0.
    LRESULT result = 7;
    EXPECT_FALSE(window.ProcessWindowMessage(window.m_hWnd, WM_QUERYENDSESSION, 0, 0, result));
    EXPECT_EQ(result, 0);
  }
  // DefWindowProc's WM_CLOSE destroys the window, as it would for an unhandled close.
  window.raise = [] { throw CResultError(E_FAIL); };
  const HWND h = window.m_hWnd;
  Send(WM_CLOSE);
  EXPECT_FALSE(proc->Ui().IsWindow(h));
}

}  // namespace
