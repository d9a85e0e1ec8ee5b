#include "platform/sim/process_ui.h"

#include "platform/sim/clock.h"
#include "platform/sim/desktop.h"
#include "platform/sim/machine.h"
#include "platform/sim/menus.h"
#include "platform/sim/object_manager.h"
#include "platform/sim/process_kernel.h"
#include "platform/sim/screen.h"
#include "platform/sim/session_manager.h"

namespace sim {

ProcessUi::ProcessUi(Process& p)
    : m_process(p), m_wm(p.GetMachine().Windows()), m_dialogs(std::make_unique<DialogManager>(p)) {}

ProcessUi::~ProcessUi() {
  m_wm.ProcessExited(m_process.Pid());
  m_process.GetMachine().GetDesktop().ProcessExited(m_process.Pid());
}

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
  HWND h = m_wm.CreateWindowExW(Caller(), dwExStyle, lpClassName, lpWindowName, dwStyle, X, Y,
                                nWidth, nHeight, hWndParent, hMenu, hInstance, lpParam);
  // A window created where it should be is placed there (CW_USEDEFAULT leaves it unplaced).
  if (h && X != CW_USEDEFAULT && nWidth != CW_USEDEFAULT && !(dwStyle & WS_CHILD))
    m_process.GetMachine().GetScreen().SetRect(h, RECT{X, Y, X + nWidth, Y + nHeight});
  return h;
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
  const BOOL was = m_wm.ShowWindow(Caller(), hWnd, nCmdShow);
  NoteLayeredShown(hWnd, was != FALSE);
  return was;
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
  // Windows takes at most MAXIMUM_WAIT_OBJECTS - 1 handles here (one slot is the queue's).
  constexpr DWORD kMaxHandles = 63;
  if (nCount > kMaxHandles || (nCount > 0 && !pHandles) || fWaitAll) {
    m_process.GetMachine().LastError() = ERROR_INVALID_PARAMETER;
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<KernelObject>> objects;
  for (DWORD i = 0; i < nCount; ++i) {
    auto object = m_process.GetMachine().Objects().Lookup(m_process.Pid(), pHandles[i]);
    if (!object) {
      m_process.GetMachine().LastError() = ERROR_INVALID_HANDLE;
      return WAIT_FAILED;
    }
    objects.push_back(std::move(object));
  }
  const DWORD r = m_wm.MsgWait(objects, dwMilliseconds, dwWakeMask);
  if (dwMilliseconds != 0) static_cast<ProcessKernel&>(m_process.Kernel()).NoteWaitEnded();
  return r;
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

HMENU ProcessUi::CreatePopupMenu() {
  return m_process.GetMachine().GetDesktop().Menus().Create(m_process.Pid());
}

BOOL ProcessUi::AppendMenuW(HMENU hMenu, UINT uFlags, UINT_PTR uIDNewItem, LPCWSTR lpNewItem) {
  if (m_process.GetMachine().GetDesktop().Menus().Append(hMenu, uFlags, uIDNewItem, lpNewItem))
    return TRUE;
  m_process.GetMachine().LastError() = ERROR_INVALID_MENU_HANDLE;
  return FALSE;
}

BOOL ProcessUi::SetMenuDefaultItem(HMENU hMenu, UINT uItem, UINT fByPos) {
  auto& menus = m_process.GetMachine().GetDesktop().Menus();
  if (!menus.Items(hMenu)) {
    m_process.GetMachine().LastError() = ERROR_INVALID_MENU_HANDLE;
    return FALSE;
  }
  return menus.SetDefault(hMenu, uItem, fByPos != FALSE) ? TRUE : FALSE;
}

int ProcessUi::GetMenuItemCount(HMENU hMenu) {
  auto items = m_process.GetMachine().GetDesktop().Menus().Items(hMenu);
  if (!items) {
    m_process.GetMachine().LastError() = ERROR_INVALID_MENU_HANDLE;
    return -1;
  }
  return static_cast<int>(items->size());
}

UINT ProcessUi::GetMenuItemID(HMENU hMenu, int nPos) {
  auto items = m_process.GetMachine().GetDesktop().Menus().Items(hMenu);
  if (!items) {
    m_process.GetMachine().LastError() = ERROR_INVALID_MENU_HANDLE;
    return static_cast<UINT>(-1);
  }
  if (nPos < 0 || static_cast<size_t>(nPos) >= items->size() || ((*items)[nPos].flags & MF_POPUP))
    return static_cast<UINT>(-1);
  return static_cast<UINT>((*items)[nPos].id);
}

BOOL ProcessUi::DeleteMenu(HMENU hMenu, UINT uPosition, UINT uFlags) {
  auto& menus = m_process.GetMachine().GetDesktop().Menus();
  if (!menus.Items(hMenu)) {
    m_process.GetMachine().LastError() = ERROR_INVALID_MENU_HANDLE;
    return FALSE;
  }
  if (menus.Delete(hMenu, uPosition, (uFlags & MF_BYPOSITION) != 0)) return TRUE;
  m_process.GetMachine().LastError() = ERROR_MENU_ITEM_NOT_FOUND;
  return FALSE;
}

BOOL ProcessUi::DestroyMenu(HMENU hMenu) {
  if (m_process.GetMachine().GetDesktop().Menus().Destroy(hMenu)) return TRUE;
  m_process.GetMachine().LastError() = ERROR_INVALID_MENU_HANDLE;
  return FALSE;
}

void ProcessUi::ModalWait(ULONGLONG openMs) {
  if (openMs == 0) return;  // closed at once: nothing of the caller's runs inside
  Clock& clock = m_process.GetMachine().GetClock();
  const ULONGLONG end = clock.NowMs() + openMs;
  for (;;) {
    MSG msg{};
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        // The menu closes; the quit is the caller's loop's to see.
        PostQuitMessage(static_cast<int>(msg.wParam));
        return;
      }
      DispatchMessageW(&msg);
    }
    const ULONGLONG now = clock.NowMs();
    if (now >= end) return;
    ULONGLONG next = end;
    if (const auto due = clock.NextDue(); due && *due > now && *due < next) next = *due;
    m_process.Kernel().Sleep(static_cast<DWORD>(next - now));  // moves the virtual clock
  }
}

BOOL ProcessUi::TrackPopupMenu(HMENU hMenu, UINT uFlags, int x, int y, int, HWND hWnd,
                               const RECT*) {
  Machine& m = m_process.GetMachine();
  Desktop& desktop = m.GetDesktop();
  const DWORD session = m_process.SessionId();
  auto items = desktop.Menus().Items(hMenu);
  if (!items) {
    m.LastError() = ERROR_INVALID_MENU_HANDLE;
    return FALSE;
  }
  if (!hWnd || !IsWindow(hWnd)) {
    m.LastError() = ERROR_INVALID_WINDOW_HANDLE;
    return FALSE;
  }
  const DWORD tid = m.CurrentThreadId();
  {
    std::lock_guard lk(m_menuMu);
    if (!m_tracking.insert(tid).second) {
      m.LastError() = ERROR_POPUP_ALREADY_ACTIVE;
      return FALSE;
    }
  }
  struct Done {
    ProcessUi* self;
    DWORD tid;
    ~Done() {
      std::lock_guard lk(self->m_menuMu);
      self->m_tracking.erase(tid);
    }
  } done{this, tid};

  ShownMenu shown{session, m_process.Pid(), hWnd, POINT{x, y}, uFlags, std::move(*items)};
  desktop.Record(
      session, desktop_kind::kMenu,
      L"shown at (" + std::to_wstring(x) + L"," + std::to_wstring(y) + L"): " + shown.Render());
  MenuChoice choice;
  if (auto user = desktop.GetMenuUser()) choice = user(shown);
  ModalWait(choice.openMs);

  const MenuItem* picked = nullptr;
  if (choice.pick) {
    for (const auto& item : shown.items) {
      if (item.Pickable() && item.id == *choice.pick) {
        picked = &item;
        break;
      }
    }
  }
  if (!picked) {
    desktop.Record(session, desktop_kind::kMenu, L"dismissed");
    m.LastError() = ERROR_SUCCESS;
    return FALSE;
  }
  desktop.Record(session, desktop_kind::kMenu,
                 L"picked " + std::to_wstring(picked->id) + L" \"" + picked->text + L"\"");
  if (uFlags & TPM_RETURNCMD) return static_cast<BOOL>(picked->id);
  PostMessageW(hWnd, WM_COMMAND, static_cast<WPARAM>(picked->id), 0);
  return TRUE;
}

// While the session shows the lock screen or nobody's screen, the cursor is not ours to read.
BOOL ProcessUi::GetCursorPos(LPPOINT lpPoint) {
  Machine& m = m_process.GetMachine();
  auto s = m.Sessions().Find(m_process.SessionId());
  if (!s || s->State() != SessionState::Active) {
    m.LastError() = ERROR_ACCESS_DENIED;
    return FALSE;
  }
  if (!lpPoint) {
    m.LastError() = ERROR_NOACCESS;
    return FALSE;
  }
  *lpPoint = m.GetDesktop().Cursor(m_process.SessionId());
  return TRUE;
}

UINT ProcessUi::GetDoubleClickTime() {
  return m_process.GetMachine().GetDesktop().DoubleClickTime();
}

HDESK ProcessUi::OpenInputDesktop(DWORD, BOOL, ACCESS_MASK) {
  Machine& m = m_process.GetMachine();
  HDESK h = m.GetDesktop().OpenInputDesktop(m_process.Pid(), m_process.SessionId());
  if (!h) m.LastError() = ERROR_ACCESS_DENIED;
  return h;
}

BOOL ProcessUi::CloseDesktop(HDESK hDesktop) {
  Machine& m = m_process.GetMachine();
  if (m.GetDesktop().CloseDesktop(m_process.Pid(), hDesktop)) return TRUE;
  m.LastError() = ERROR_INVALID_HANDLE;
  return FALSE;
}

int ProcessUi::GetSystemMetrics(int nIndex) {
  Machine& m = m_process.GetMachine();
  switch (nIndex) {
    case SM_CXSCREEN:
      return Screen::kWidth;
    case SM_CYSCREEN:
      return Screen::kHeight;
    // The client area of a maximised window: the work area less a 23-pixel caption.
    case SM_CXFULLSCREEN: {
      const RECT a = m.GetScreen().WorkArea();
      return a.right - a.left;
    }
    case SM_CYFULLSCREEN: {
      const RECT a = m.GetScreen().WorkArea();
      return a.bottom - a.top - 23;
    }
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
  if (uiAction == SPI_GETWORKAREA && pvParam) {
    *static_cast<RECT*>(pvParam) = m.GetScreen().WorkArea();
    return TRUE;
  }
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

// Modal dialogs are the dialog manager's (platform/sim/dialog_manager.h).
namespace sim {

INT_PTR ProcessUi::DialogBoxParamW(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent,
                                   DLGPROC lpDialogFunc, LPARAM dwInitParam) {
  return m_dialogs->DialogBoxParamW(hInstance, lpTemplateName, hWndParent, lpDialogFunc,
                                    dwInitParam);
}

BOOL ProcessUi::EndDialog(HWND hDlg, INT_PTR nResult) {
  return m_dialogs->EndDialog(hDlg, nResult);
}

HWND ProcessUi::GetDlgItem(HWND hDlg, int nIDDlgItem) {
  return m_dialogs->GetDlgItem(hDlg, nIDDlgItem);
}

BOOL ProcessUi::SetDlgItemTextW(HWND hDlg, int nIDDlgItem, LPCWSTR lpString) {
  return m_dialogs->SetDlgItemTextW(hDlg, nIDDlgItem, lpString);
}

BOOL ProcessUi::CheckDlgButton(HWND hDlg, int nIDButton, UINT uCheck) {
  return m_dialogs->CheckDlgButton(hDlg, nIDButton, uCheck);
}

UINT ProcessUi::IsDlgButtonChecked(HWND hDlg, int nIDButton) {
  return m_dialogs->IsDlgButtonChecked(hDlg, nIDButton);
}

}  // namespace sim
