#include "platform/sim/process_ui.h"

#include "platform/sim/desktop.h"
#include "platform/sim/machine.h"
#include "platform/sim/object_manager.h"
#include "platform/sim/session_manager.h"

namespace sim {

ProcessUi::ProcessUi(Process& p) : m_process(p), m_wm(p.GetMachine().Windows()) {}

ProcessUi::~ProcessUi() { m_wm.ProcessExited(m_process.Pid()); }

ATOM ProcessUi::RegisterClassExW(const WNDCLASSEXW* lpwcx) {
  return m_wm.RegisterClassExW(Caller(), lpwcx);
}

// Classes are told apart by name within the process; the instance handle is not part of
// the key here.
BOOL ProcessUi::UnregisterClassW(LPCWSTR lpClassName, HINSTANCE) {
  return m_wm.UnregisterClassW(Caller(), lpClassName);
}

HWND ProcessUi::CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName,
                                DWORD dwStyle, int X, int Y, int nWidth, int nHeight,
                                HWND hWndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID lpParam) {
  return m_wm.CreateWindowExW(Caller(), dwExStyle, lpClassName, lpWindowName, dwStyle, X, Y, nWidth,
                              nHeight, hWndParent, hMenu, hInstance, lpParam);
}

BOOL ProcessUi::DestroyWindow(HWND hWnd) { return m_wm.DestroyWindow(Caller(), hWnd); }
BOOL ProcessUi::IsWindow(HWND hWnd) { return m_wm.IsWindow(Caller(), hWnd); }

LRESULT ProcessUi::DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return m_wm.DefWindowProcW(hWnd, Msg, wParam, lParam);
}

namespace {

// A window procedure is a plain function: it finds the machine through the process whose
// window is being served (set for the duration of every delivery).
LRESULT CALLBACK SimDefWindowProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  Process* p = CurrentProcess();
  return p ? p->GetMachine().Windows().DefWindowProcW(h, msg, wp, lp) : 0;
}

}  // namespace

WNDPROC ProcessUi::DefWindowProcAddress() { return &SimDefWindowProc; }

LONG_PTR ProcessUi::GetWindowLongPtrW(HWND hWnd, int nIndex) {
  return m_wm.GetWindowLongPtrW(Caller(), hWnd, nIndex);
}

LONG_PTR ProcessUi::SetWindowLongPtrW(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
  return m_wm.SetWindowLongPtrW(Caller(), hWnd, nIndex, dwNewLong);
}

BOOL ProcessUi::ShowWindow(HWND hWnd, int nCmdShow) {
  return m_wm.ShowWindow(Caller(), hWnd, nCmdShow);
}

HWND ProcessUi::FindWindowW(LPCWSTR lpClassName, LPCWSTR lpWindowName) {
  return m_wm.FindWindowW(Caller(), lpClassName, lpWindowName);
}

BOOL ProcessUi::SetForegroundWindow(HWND hWnd) { return m_wm.SetForegroundWindow(Caller(), hWnd); }
HWND ProcessUi::GetForegroundWindow() { return m_wm.GetForegroundWindow(Caller()); }
HWND ProcessUi::SetFocus(HWND hWnd) { return m_wm.SetFocus(Caller(), hWnd); }

DWORD ProcessUi::GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId) {
  return m_wm.GetWindowThreadProcessId(Caller(), hWnd, lpdwProcessId);
}

// There are no cursors to draw: any cursor is a distinct non-null token.
HCURSOR ProcessUi::LoadCursorW(HINSTANCE, LPCWSTR lpCursorName) {
  const ULONG_PTR id =
      IS_INTRESOURCE(lpCursorName) ? reinterpret_cast<ULONG_PTR>(lpCursorName) : 0xFFFF;
  return reinterpret_cast<HCURSOR>(0x10000 + id);
}

BOOL ProcessUi::PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return m_wm.PostMessageW(Caller(), hWnd, Msg, wParam, lParam);
}

BOOL ProcessUi::PostThreadMessageW(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return m_wm.PostThreadMessageW(idThread, Msg, wParam, lParam);
}

LRESULT ProcessUi::SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return m_wm.SendMessageW(Caller(), hWnd, Msg, wParam, lParam);
}

LRESULT ProcessUi::SendMessageTimeoutW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam,
                                       UINT fuFlags, UINT uTimeout, PDWORD_PTR lpdwResult) {
  return m_wm.SendMessageTimeoutW(Caller(), hWnd, Msg, wParam, lParam, fuFlags, uTimeout,
                                  lpdwResult);
}

DWORD ProcessUi::MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll,
                                           DWORD dwMilliseconds, DWORD dwWakeMask) {
  if (nCount > 1 || (nCount == 1 && !pHandles) || fWaitAll) {
    m_process.GetMachine().LastError() = ERROR_INVALID_PARAMETER;
    return WAIT_FAILED;
  }
  std::shared_ptr<KernelObject> object;
  if (nCount == 1) {
    object = m_process.GetMachine().Objects().Lookup(m_process.Pid(), pHandles[0]);
    if (!object) {
      m_process.GetMachine().LastError() = ERROR_INVALID_HANDLE;
      return WAIT_FAILED;
    }
  }
  return m_wm.MsgWait(std::move(object), dwMilliseconds, dwWakeMask);
}

BOOL ProcessUi::GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
  return m_wm.GetMessageW(Caller(), lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax);
}

BOOL ProcessUi::PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax,
                             UINT wRemoveMsg) {
  return m_wm.PeekMessageW(Caller(), lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, wRemoveMsg);
}

// The simulated keyboard makes no key messages, so there is never a character to make.
BOOL ProcessUi::TranslateMessage(const MSG*) { return FALSE; }

LRESULT ProcessUi::DispatchMessageW(const MSG* lpMsg) { return m_wm.DispatchMessageW(lpMsg); }
void ProcessUi::PostQuitMessage(int nExitCode) { m_wm.PostQuitMessage(nExitCode); }

UINT ProcessUi::RegisterWindowMessageW(LPCWSTR lpString) {
  return m_wm.RegisterWindowMessageW(lpString);
}

BOOL ProcessUi::ChangeWindowMessageFilter(UINT message, DWORD dwFlag) {
  return m_wm.ChangeWindowMessageFilter(Caller(), message, dwFlag);
}

UINT_PTR ProcessUi::SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
  return m_wm.SetTimer(Caller(), hWnd, nIDEvent, uElapse, lpTimerFunc);
}

BOOL ProcessUi::KillTimer(HWND hWnd, UINT_PTR uIDEvent) {
  return m_wm.KillTimer(Caller(), hWnd, uIDEvent);
}

// Not modelled yet.
HMENU ProcessUi::CreatePopupMenu() {
  m_process.GetMachine().LastError() = ERROR_CALL_NOT_IMPLEMENTED;
  return nullptr;
}
BOOL ProcessUi::AppendMenuW(HMENU, UINT, UINT_PTR, LPCWSTR) { return FALSE; }
BOOL ProcessUi::SetMenuDefaultItem(HMENU, UINT, UINT) { return FALSE; }
int ProcessUi::GetMenuItemCount(HMENU) { return -1; }
BOOL ProcessUi::TrackPopupMenu(HMENU, UINT, int, int, int, HWND, const RECT*) { return FALSE; }
BOOL ProcessUi::DestroyMenu(HMENU) { return FALSE; }
BOOL ProcessUi::GetCursorPos(LPPOINT) { return FALSE; }
UINT ProcessUi::GetDoubleClickTime() { return 500; }
HDESK ProcessUi::OpenInputDesktop(DWORD, BOOL, ACCESS_MASK) { return nullptr; }
BOOL ProcessUi::CloseDesktop(HDESK) { return FALSE; }

int ProcessUi::GetSystemMetrics(int nIndex) {
  Machine& m = m_process.GetMachine();
  switch (nIndex) {
    case SM_CXSCREEN:
      return 1920;
    case SM_CYSCREEN:
      return 1080;
    case SM_CLEANBOOT:
      return m.Description().cleanBoot;
    case SM_REMOTESESSION: {
      auto s = m.Sessions().Find(m_process.SessionId());
      return s && s->remote ? 1 : 0;
    }
    default:
      return 0;
  }
}

int ProcessUi::MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT) {
  Machine& m = m_process.GetMachine();
  const std::wstring caption = lpCaption ? lpCaption : L"Error";
  const std::wstring text = lpText ? lpText : L"";
  m.GetDesktop().Record(m_process.SessionId(), L"dialog", caption + L": " + text);
  if (auto user = m.GetDesktop().GetDialogUser()) return user(hWnd, caption, text);
  return IDOK;
}

BOOL ProcessUi::RegisterHotKey(HWND hWnd, int id, UINT fsModifiers, UINT vk) {
  return m_wm.RegisterHotKey(Caller(), hWnd, id, fsModifiers, vk);
}

BOOL ProcessUi::UnregisterHotKey(HWND hWnd, int id) {
  return m_wm.UnregisterHotKey(Caller(), hWnd, id);
}

// A session that shows no desktop (locked, disconnected) has no keyboard of its own: the
// lock screen reads the keys, and programs of the session see none down.
SHORT ProcessUi::GetAsyncKeyState(int vKey) {
  Machine& m = m_process.GetMachine();
  const DWORD session = m_process.SessionId();
  auto s = m.Sessions().Find(session);
  if (!s || s->State() != SessionState::Active) return 0;
  constexpr SHORT kDown = static_cast<SHORT>(0x8000u);  // the high bit
  return m.GetDesktop().IsKeyDown(session, vKey) ? kDown : 0;
}

long ProcessUi::BroadcastSystemMessageW(DWORD flags, LPDWORD lpInfo, UINT Msg, WPARAM wParam,
                                        LPARAM lParam) {
  return m_wm.BroadcastSystemMessageW(Caller(), flags, lpInfo, Msg, wParam, lParam);
}

// Only the screen saver's state is asked for; any other action is one this machine does
// not know.
BOOL ProcessUi::SystemParametersInfoW(UINT uiAction, UINT, PVOID pvParam, UINT) {
  Machine& m = m_process.GetMachine();
  if (uiAction != SPI_GETSCREENSAVERRUNNING) {
    m.LastError() = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  if (!pvParam) {
    m.LastError() = ERROR_NOACCESS;
    return FALSE;
  }
  *static_cast<BOOL*>(pvParam) = m.GetDesktop().ScreenSaverRunning(m_process.SessionId());
  return TRUE;
}

BOOL ProcessUi::LockWorkStation() {
  Machine& m = m_process.GetMachine();
  const DWORD session = m_process.SessionId();
  auto s = m.Sessions().Find(session);
  if (!s || !s->loggedOn) {
    m.LastError() = ERROR_ACCESS_DENIED;
    return FALSE;
  }
  m.GetDesktop().NoteLockRequest(session);
  // Already locked: nothing changes, and Windows still reports success.
  m.Sessions().Lock(session);
  return TRUE;
}

}  // namespace sim
