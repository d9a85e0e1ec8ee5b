#include "platform/sim/window_manager.h"

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <cwctype>
#include <utility>

#include "platform/sim/desktop.h"
#include "platform/sim/machine.h"
#include "platform/sim/object_manager.h"
#include "platform/sim/process.h"
#include "platform/sim/session_manager.h"
#include "platform/sim/thread_pool.h"

namespace sim {

namespace {

constexpr wchar_t kShellClass[] = L"Shell_TrayWnd";
constexpr wchar_t kToolbarClass[] = L"ToolbarWindow32";

LRESULT CALLBACK CommonControlProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  Process* p = CurrentProcess();
  return p ? p->GetMachine().Windows().DefWindowProcW(h, msg, wp, lp) : 0;
}
const HWND kThreadMessagesOnly = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1));

std::wstring Lower(const std::wstring& s) {
  std::wstring r = s;
  for (auto& ch : r) ch = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(ch)));
  return r;
}

bool EqualNoCase(const std::wstring& a, const std::wstring& b) { return Lower(a) == Lower(b); }

// USER32 values the platform header does not carry.
constexpr DWORD kErrorWindowOfOtherThread = 1408;
constexpr UINT kHotKeyModifiers = MOD_ALT | MOD_CONTROL | MOD_SHIFT | MOD_WIN;
constexpr DWORD kBsfQuery = 0x00000001;
constexpr DWORD kBsfKnown = 0x000007FF;  // BSF_QUERY .. BSF_LUID
constexpr DWORD kBsmAllDesktops = 0x00000010;
constexpr DWORD kBsmKnown = 0x0000001F;  // BSM_VXDS .. BSM_ALLDESKTOPS
constexpr LRESULT kBroadcastQueryDeny = 0x424D5144;

LPARAM HotKeyLParam(UINT modifiers, UINT vk) {
  return static_cast<LPARAM>((static_cast<DWORD>(vk & 0xFFFF) << 16) | (modifiers & 0xFFFF));
}

bool InRange(UINT msg, UINT min, UINT max) {
  return (min == 0 && max == 0) || (msg >= min && msg <= max);
}

// The taskbar itself: it agrees to everything and ignores the rest.
LRESULT ShellTrayProc(HWND, UINT msg, WPARAM, LPARAM) {
  switch (msg) {
    case WM_NCCREATE:
    case WM_QUERYENDSESSION:
      return TRUE;
    default:
      return 0;
  }
}

}  // namespace

std::wstring HotKeyText(UINT modifiers, UINT vk) {
  std::wstring r;
  if (modifiers & MOD_CONTROL) r += L"Ctrl+";
  if (modifiers & MOD_ALT) r += L"Alt+";
  if (modifiers & MOD_SHIFT) r += L"Shift+";
  if (modifiers & MOD_WIN) r += L"Win+";
  wchar_t key[16];
  std::swprintf(key, sizeof(key) / sizeof(key[0]), L"0x%02X", vk);
  return r + key;
}

struct WindowManager::Class {
  std::wstring name;
  ATOM atom = 0;
  WNDPROC proc = nullptr;
  UINT style = 0;
  HINSTANCE inst = nullptr;
  int windows = 0;
};

struct WindowManager::Window {
  HWND hwnd = nullptr;
  DWORD pid = 0;
  DWORD tid = 0;
  DWORD session = 0;
  std::wstring className;
  ATOM atom = 0;
  std::wstring title;
  DWORD style = 0;
  DWORD exStyle = 0;
  HWND parent = nullptr;
  bool messageOnly = false;
  WNDPROC proc = nullptr;
  std::shared_ptr<SimWndProc> simProc;  // windows of the simulation
  LONG_PTR userData = 0;
  HINSTANCE inst = nullptr;
  HMENU menu = nullptr;
  bool destroying = false;
  std::shared_ptr<Class> cls;
};

struct WindowManager::ThreadQueue {
  DWORD tid = 0;
  std::deque<MSG> posted;
  std::deque<std::shared_ptr<SentMessage>> sent;
  bool quit = false;
  int quitCode = 0;
  std::optional<int> quitSeen;  // met by the machine pump
  std::condition_variable cv;
  uint64_t version = 0;
  int waiting = 0;
  int inIdleDriver = 0;
  IdleDriver driver;
  // Set while the owner is blocked in MsgWait: marks it busy once input it waits for has
  // come, before it runs again, so the machine never sees it idle with that input unread.
  std::function<void()> onInput;

  // Lock held.
  void Changed() {
    ++version;
    if (onInput) onInput();
    cv.notify_all();
  }
};

struct WindowManager::SentMessage {
  HWND hwnd;
  UINT msg;
  WPARAM wp;
  LPARAM lp;
  std::shared_ptr<ThreadQueue> sender;
  bool started = false;
  bool done = false;
  bool failed = false;
  bool timedOut = false;
  LRESULT result = 0;
};

struct WindowManager::Timer {
  TimerKey key{};
  DWORD tid = 0;  // the thread whose queue receives WM_TIMER
  DWORD pid = 0;
  UINT elapse = 0;
  TIMERPROC proc = nullptr;
  uint64_t serial = 0;
  uint64_t clockItem = 0;
  bool pending = false;
  uint64_t pendingSeq = 0;
};

WindowManager::WindowManager(Machine& m) : m_machine(m) {
  // Sessions that exist from boot start with their shell running.
  for (const auto& s : m_machine.Sessions().All()) {
    if (s.loggedOn) CreateShellWindow(s.id);
  }
}

WindowManager::~WindowManager() {
  std::vector<uint64_t> items;
  {
    std::lock_guard lk(m_mu);
    for (auto& [key, t] : m_timers) items.push_back(t->clockItem);
    m_timers.clear();
  }
  for (auto id : items) m_machine.GetClock().Cancel(id);
}

// ---- Helpers ------------------------------------------------------------------------------

DWORD WindowManager::Tid() const { return m_machine.CurrentThreadId(); }

void WindowManager::SetError(DWORD e) const { m_machine.LastError() = e; }

std::shared_ptr<WindowManager::ThreadQueue> WindowManager::QueueLocked(DWORD tid) {
  auto& q = m_queues[tid];
  if (!q) {
    q = std::make_shared<ThreadQueue>();
    q->tid = tid;
  }
  return q;
}

std::shared_ptr<WindowManager::Window> WindowManager::FindLocked(HWND h) const {
  auto it = m_windows.find(reinterpret_cast<uintptr_t>(h));
  return it == m_windows.end() ? nullptr : it->second;
}

std::shared_ptr<WindowManager::Window> WindowManager::FindInSessionLocked(HWND h,
                                                                          DWORD session) const {
  auto w = FindLocked(h);
  // Window handles do not cross sessions: each session has its own window station.
  return w && w->session == session ? w : nullptr;
}

bool WindowManager::IsTopLevelLocked(const Window& w) const {
  return !w.messageOnly && (w.style & WS_CHILD) == 0;
}

std::vector<HWND> WindowManager::TopLevelLocked(DWORD session) const {
  std::vector<HWND> r;
  for (const auto& [v, w] : m_windows) {
    if (w->session == session && IsTopLevelLocked(*w)) r.push_back(w->hwnd);
  }
  return r;
}

bool WindowManager::MatchesFilterLocked(HWND msgHwnd, HWND filter) const {
  if (!filter) return true;
  if (filter == kThreadMessagesOnly) return msgHwnd == nullptr;
  // A window filter also takes the messages of its child windows.
  for (HWND h = msgHwnd; h;) {
    if (h == filter) return true;
    auto w = FindLocked(h);
    if (!w || (w->style & WS_CHILD) == 0) return false;
    h = w->parent;
  }
  return false;
}

ATOM WindowManager::AddAtomLocked(const std::wstring& lowerName) {
  auto it = m_atoms.find(lowerName);
  if (it != m_atoms.end()) return it->second;
  if (m_nextAtom == 0) return 0;  // the table is full (0xC000..0xFFFF used up)
  const ATOM a = m_nextAtom++;
  m_atoms.emplace(lowerName, a);
  return a;
}

void WindowManager::CallHooks(const Delivery& d) {
  std::vector<std::shared_ptr<DeliveryHook>> hooks;
  {
    std::lock_guard lk(m_mu);
    if (m_hooks.empty()) return;
    for (auto& [token, h] : m_hooks) hooks.push_back(h);
  }
  for (auto& h : hooks) (*h)(d);
}

LRESULT WindowManager::Deliver(HWND h, UINT msg, WPARAM wp, LPARAM lp, Delivery::Via via) {
  WNDPROC proc = nullptr;
  std::shared_ptr<SimWndProc> simProc;
  DWORD pid = 0;
  {
    std::lock_guard lk(m_mu);
    auto w = FindLocked(h);
    if (!w) return 0;
    proc = w->proc;
    simProc = w->simProc;
    pid = w->pid;
    UiActivity& a = m_activity[pid];
    ++(via == Delivery::Via::Sent ? a.sent : via == Delivery::Via::Posted ? a.posted : a.timers);
  }
  CallHooks(Delivery{h, msg, wp, lp, Tid(), via});
  if (simProc) return (*simProc)(h, msg, wp, lp);
  // The window's process is the one running while its procedure does (stand-ins of the
  // suite's libraries find their per-process state through it).
  Process* owner = pid ? m_machine.FindProcess(pid) : nullptr;
  CurrentProcessScope scope(owner ? owner : CurrentProcess());
  if (proc) return proc(h, msg, wp, lp);
  return DefWindowProcW(h, msg, wp, lp);
}

// ---- Classes ------------------------------------------------------------------------------

ATOM WindowManager::RegisterClassExW(const UiCaller& c, const WNDCLASSEXW* wc) {
  if (!wc || wc->cbSize != sizeof(WNDCLASSEXW) || !wc->lpszClassName ||
      IS_INTRESOURCE(wc->lpszClassName) || !*wc->lpszClassName || !wc->lpfnWndProc) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::wstring name = wc->lpszClassName;
  const std::wstring key = Lower(name);
  std::unique_lock lk(m_mu);
  auto& classes = m_classes[c.processId];
  if (classes.count(key)) {
    lk.unlock();
    SetError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  const ATOM atom = AddAtomLocked(key);
  if (!atom) {
    lk.unlock();
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  auto cls = std::make_shared<Class>();
  cls->name = name;
  cls->atom = atom;
  cls->proc = wc->lpfnWndProc;
  cls->style = wc->style;
  cls->inst = wc->hInstance;
  classes.emplace(key, std::move(cls));
  return atom;
}

BOOL WindowManager::UnregisterClassW(const UiCaller& c, LPCWSTR name) {
  std::unique_lock lk(m_mu);
  auto pit = m_classes.find(c.processId);
  DWORD error = ERROR_CLASS_DOES_NOT_EXIST;
  if (name && pit != m_classes.end()) {
    auto& classes = pit->second;
    auto it = classes.end();
    if (IS_INTRESOURCE(name)) {
      const ATOM atom = LOWORD(reinterpret_cast<ULONG_PTR>(name));
      it = std::find_if(classes.begin(), classes.end(),
                        [&](const auto& kv) { return kv.second->atom == atom; });
    } else {
      it = classes.find(Lower(name));
    }
    if (it != classes.end()) {
      if (it->second->windows == 0) {
        classes.erase(it);
        return TRUE;
      }
      error = ERROR_CLASS_HAS_WINDOWS;
    }
  }
  lk.unlock();
  SetError(error);
  return FALSE;
}

// ---- Windows ------------------------------------------------------------------------------

HWND WindowManager::CreateWindowExW(const UiCaller& c, DWORD exStyle, LPCWSTR className,
                                    LPCWSTR title, DWORD style, int x, int y, int cx, int cy,
                                    HWND parent, HMENU menu, HINSTANCE inst, LPVOID param) {
  const DWORD tid = Tid();
  HWND h = nullptr;
  {
    std::unique_lock lk(m_mu);
    std::shared_ptr<Class> cls;
    if (className) {
      auto pit = m_classes.find(c.processId);
      if (pit != m_classes.end()) {
        if (IS_INTRESOURCE(className)) {
          const ATOM atom = LOWORD(reinterpret_cast<ULONG_PTR>(className));
          for (auto& [k, v] : pit->second) {
            if (v->atom == atom) cls = v;
          }
        } else {
          auto it = pit->second.find(Lower(className));
          if (it != pit->second.end()) cls = it->second;
        }
      }
    }
    if (!cls && className && !IS_INTRESOURCE(className) && EqualNoCase(className, kToolbarClass)) {
      // A common control's class exists in every process that has the common controls; the
      // simulation's toolbar only answers as DefWindowProc does.
      auto toolbar = std::make_shared<Class>();
      toolbar->name = kToolbarClass;
      toolbar->atom = AddAtomLocked(Lower(kToolbarClass));
      toolbar->proc = &CommonControlProc;
      m_classes[c.processId].emplace(Lower(kToolbarClass), toolbar);
      cls = std::move(toolbar);
    }
    DWORD error = 0;
    if (!cls) {
      error = ERROR_CANNOT_FIND_WND_CLASS;
    } else if (parent && parent != HWND_MESSAGE && !FindInSessionLocked(parent, c.sessionId)) {
      error = ERROR_INVALID_WINDOW_HANDLE;
    } else if ((style & WS_CHILD) && (!parent || parent == HWND_MESSAGE)) {
      error = ERROR_TLW_WITH_WSCHILD;
    }
    if (error) {
      lk.unlock();
      SetError(error);
      return nullptr;
    }
    auto w = std::make_shared<Window>();
    h = reinterpret_cast<HWND>(m_nextHwnd);
    m_nextHwnd += 4;  // never reused: a stale handle stays invalid
    w->hwnd = h;
    w->pid = c.processId;
    w->tid = tid;
    w->session = c.sessionId;
    w->className = cls->name;
    w->atom = cls->atom;
    w->title = title ? title : L"";
    w->style = style;
    w->exStyle = exStyle;
    w->parent = parent;
    w->messageOnly = parent == HWND_MESSAGE;
    w->proc = cls->proc;
    w->inst = inst;
    w->menu = menu;
    w->cls = cls;
    ++cls->windows;
    m_windows.emplace(reinterpret_cast<uintptr_t>(h), std::move(w));
    QueueLocked(tid);
  }
  CREATESTRUCTW cs{param, inst,      menu,   parent, cy, cx, y, x, static_cast<LONG>(style),
                   title, className, exStyle};
  const LPARAM lp = reinterpret_cast<LPARAM>(&cs);
  if (!Deliver(h, WM_NCCREATE, 0, lp, Delivery::Via::Sent)) {
    // Refused before it existed: only WM_NCDESTROY follows.
    Deliver(h, WM_NCDESTROY, 0, 0, Delivery::Via::Sent);
    std::vector<uint64_t> cancel;
    {
      std::lock_guard lk(m_mu);
      RemoveWindowLocked(h, cancel);
    }
    AfterRemoval({h}, cancel);
    return nullptr;
  }
  if (Deliver(h, WM_CREATE, 0, lp, Delivery::Via::Sent) == -1) {
    DestroyTree(h);
    return nullptr;
  }
  std::lock_guard lk(m_mu);
  // The procedure may have destroyed its own window while creating it.
  return FindLocked(h) ? h : nullptr;
}

HWND WindowManager::CreateSimWindow(DWORD sessionId, const std::wstring& className,
                                    const std::wstring& title, SimWndProc proc) {
  HWND h = nullptr;
  {
    std::lock_guard lk(m_mu);
    auto w = std::make_shared<Window>();
    h = reinterpret_cast<HWND>(m_nextHwnd);
    m_nextHwnd += 4;
    w->hwnd = h;
    w->pid = kSimProcessId;
    w->tid = kSimThreadId;
    w->session = sessionId;
    w->className = className;
    w->atom = AddAtomLocked(Lower(className));
    w->title = title;
    w->style = WS_POPUP | WS_VISIBLE;
    w->simProc = std::make_shared<SimWndProc>(std::move(proc));
    m_windows.emplace(reinterpret_cast<uintptr_t>(h), std::move(w));
  }
  CREATESTRUCTW cs{
      nullptr,       nullptr,           nullptr, nullptr, 0, 0, 0, 0, static_cast<LONG>(WS_POPUP),
      title.c_str(), className.c_str(), 0};
  Deliver(h, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs), Delivery::Via::Sent);
  Deliver(h, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs), Delivery::Via::Sent);
  return h;
}

HWND WindowManager::CreateShellWindow(DWORD sessionId) {
  HWND h = CreateSimWindow(sessionId, kShellClass, L"", &ShellTrayProc);
  m_machine.GetDesktop().Record(sessionId, desktop_kind::kShell, L"shell started");
  return h;
}

HWND WindowManager::ShellWindow(DWORD sessionId) const {
  std::lock_guard lk(m_mu);
  for (const auto& [v, w] : m_windows) {
    if (w->simProc && w->session == sessionId && !w->destroying &&
        EqualNoCase(w->className, kShellClass)) {
      return w->hwnd;
    }
  }
  return nullptr;
}

BOOL WindowManager::DestroyWindow(const UiCaller& c, HWND h) {
  const DWORD tid = Tid();
  DWORD error = 0;
  {
    std::lock_guard lk(m_mu);
    auto w = FindInSessionLocked(h, c.sessionId);
    if (!w) {
      error = ERROR_INVALID_WINDOW_HANDLE;
    } else if (w->simProc || w->tid != tid) {
      // Only the owner thread may destroy a window.
      error = ERROR_ACCESS_DENIED;
    } else if (w->destroying) {
      return TRUE;
    }
  }
  if (error) {
    SetError(error);
    return FALSE;
  }
  DestroyTree(h);
  return TRUE;
}

void WindowManager::DestroyAnyWindow(HWND h) { DestroyTree(h); }

void WindowManager::DestroyTree(HWND h) {
  std::vector<HWND> owned;
  std::vector<HWND> children;
  {
    std::lock_guard lk(m_mu);
    auto w = FindLocked(h);
    if (!w || w->destroying) return;
    w->destroying = true;
    for (const auto& [v, o] : m_windows) {
      if (o->parent != h) continue;
      ((o->style & WS_CHILD) ? children : owned).push_back(o->hwnd);
    }
  }
  // Owned windows go before their owner; children after their parent's WM_DESTROY and
  // before its WM_NCDESTROY.
  for (HWND o : owned) DestroyTree(o);
  LRESULT ignored = 0;
  SendOne(h, WM_DESTROY, 0, 0, std::nullopt, true, &ignored);
  for (HWND ch : children) DestroyTree(ch);
  SendOne(h, WM_NCDESTROY, 0, 0, std::nullopt, true, &ignored);
  std::vector<uint64_t> cancel;
  {
    std::lock_guard lk(m_mu);
    RemoveWindowLocked(h, cancel);
  }
  AfterRemoval({h}, cancel);
}

void WindowManager::RemoveWindowLocked(HWND h, std::vector<uint64_t>& cancel) {
  auto it = m_windows.find(reinterpret_cast<uintptr_t>(h));
  if (it == m_windows.end()) return;
  auto w = it->second;
  m_windows.erase(it);
  if (w->cls) --w->cls->windows;
  std::erase_if(m_hotKeys, [h](const HotKey& k) { return k.info.hwnd == h; });
  for (auto t = m_timers.begin(); t != m_timers.end();) {
    if (t->first.hwnd == h) {
      cancel.push_back(t->second->clockItem);
      t = m_timers.erase(t);
    } else {
      ++t;
    }
  }
  auto qit = m_queues.find(w->tid);
  if (qit == m_queues.end()) return;
  auto& q = *qit->second;
  std::erase_if(q.posted, [h](const MSG& m) { return m.hwnd == h; });
  std::erase_if(q.sent, [h](const std::shared_ptr<SentMessage>& s) {
    if (s->hwnd != h) return false;
    s->done = true;
    s->failed = true;
    s->sender->Changed();
    return true;
  });
  q.Changed();
}

void WindowManager::AfterRemoval(const std::vector<HWND>& gone,
                                 const std::vector<uint64_t>& cancel) {
  for (auto id : cancel) m_machine.GetClock().Cancel(id);
  for (HWND h : gone) {
    m_machine.Sessions().DropWindow(h);
    m_machine.GetDesktop().ForgetWindow(h);
  }
}

void WindowManager::ProcessExited(DWORD pid) {
  std::vector<HWND> gone;
  std::vector<uint64_t> cancel;
  {
    std::lock_guard lk(m_mu);
    for (const auto& [v, w] : m_windows) {
      if (w->pid == pid) gone.push_back(w->hwnd);
    }
    for (HWND h : gone) RemoveWindowLocked(h, cancel);
    for (auto t = m_timers.begin(); t != m_timers.end();) {
      if (t->second->pid == pid) {
        cancel.push_back(t->second->clockItem);
        t = m_timers.erase(t);
      } else {
        ++t;
      }
    }
    m_classes.erase(pid);
    m_messageFilter.erase(pid);
    std::erase_if(m_hotKeys, [pid](const HotKey& k) { return k.pid == pid; });
  }
  AfterRemoval(gone, cancel);
}

BOOL WindowManager::IsWindow(const UiCaller& c, HWND h) {
  std::lock_guard lk(m_mu);
  return FindInSessionLocked(h, c.sessionId) ? TRUE : FALSE;
}

LRESULT WindowManager::DefWindowProcW(HWND h, UINT msg, WPARAM, LPARAM lp) {
  switch (msg) {
    case WM_NCCREATE:
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_SETTEXT: {
      // The title, as SetWindowTextW sets it.
      std::lock_guard lk(m_mu);
      auto w = FindLocked(h);
      if (!w) return FALSE;
      w->title = lp ? reinterpret_cast<LPCWSTR>(lp) : L"";
      return TRUE;
    }
    case WM_CLOSE:
      DestroyTree(h);
      return 0;
    default:
      return 0;
  }
}

LONG_PTR WindowManager::GetWindowLongPtrW(const UiCaller& c, HWND h, int index) {
  std::unique_lock lk(m_mu);
  auto w = FindInSessionLocked(h, c.sessionId);
  if (!w) {
    lk.unlock();
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  switch (index) {
    case GWLP_USERDATA:
      return w->userData;
    case GWLP_WNDPROC:
      return reinterpret_cast<LONG_PTR>(w->proc);
    case GWL_STYLE:
      return static_cast<LONG_PTR>(w->style);
    case GWL_EXSTYLE:
      return static_cast<LONG_PTR>(w->exStyle);
    case GWLP_HINSTANCE:
      return reinterpret_cast<LONG_PTR>(w->inst);
    case GWLP_ID:
      return reinterpret_cast<LONG_PTR>(w->menu);
    default:
      lk.unlock();
      SetError(ERROR_INVALID_INDEX);
      return 0;
  }
}

LONG_PTR WindowManager::SetWindowLongPtrW(const UiCaller& c, HWND h, int index, LONG_PTR value) {
  std::unique_lock lk(m_mu);
  auto w = FindInSessionLocked(h, c.sessionId);
  DWORD error = 0;
  if (!w) {
    error = ERROR_INVALID_WINDOW_HANDLE;
  } else if (w->pid != c.processId) {
    error = ERROR_ACCESS_DENIED;  // another process's window
  } else {
    switch (index) {
      case GWLP_USERDATA:
        return std::exchange(w->userData, value);
      case GWLP_WNDPROC:
        return reinterpret_cast<LONG_PTR>(std::exchange(w->proc, reinterpret_cast<WNDPROC>(value)));
      case GWL_STYLE:
        return static_cast<LONG_PTR>(std::exchange(w->style, static_cast<DWORD>(value)));
      case GWL_EXSTYLE:
        return static_cast<LONG_PTR>(std::exchange(w->exStyle, static_cast<DWORD>(value)));
      default:
        error = ERROR_INVALID_INDEX;
    }
  }
  lk.unlock();
  SetError(error);
  return 0;
}

BOOL WindowManager::ShowWindow(const UiCaller& c, HWND h, int cmd) {
  std::unique_lock lk(m_mu);
  auto w = FindInSessionLocked(h, c.sessionId);
  if (!w) {
    lk.unlock();
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  const bool was = (w->style & WS_VISIBLE) != 0;
  if (cmd == SW_HIDE) {
    w->style &= ~static_cast<DWORD>(WS_VISIBLE);
  } else {
    w->style |= WS_VISIBLE;
  }
  return was ? TRUE : FALSE;
}

HWND WindowManager::FindWindowW(const UiCaller& c, LPCWSTR className, LPCWSTR title) {
  std::lock_guard lk(m_mu);
  for (const auto& [v, w] : m_windows) {
    if (w->session != c.sessionId || !IsTopLevelLocked(*w)) continue;
    if (className) {
      if (IS_INTRESOURCE(className)) {
        if (w->atom != LOWORD(reinterpret_cast<ULONG_PTR>(className))) continue;
      } else if (!EqualNoCase(w->className, className)) {
        continue;
      }
    }
    if (title && !EqualNoCase(w->title, title)) continue;
    return w->hwnd;
  }
  return nullptr;
}

BOOL WindowManager::SetForegroundWindow(const UiCaller& c, HWND h) {
  std::wstring cls;
  {
    std::lock_guard lk(m_mu);
    auto w = FindInSessionLocked(h, c.sessionId);
    if (w) cls = w->className;
  }
  if (cls.empty()) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  m_machine.GetDesktop().SetForeground(c.sessionId, h, cls);
  return TRUE;
}

HWND WindowManager::GetForegroundWindow(const UiCaller& c) {
  return m_machine.GetDesktop().Foreground(c.sessionId);
}

HWND WindowManager::SetFocus(const UiCaller& c, HWND h) {
  std::wstring cls;
  if (h) {
    std::lock_guard lk(m_mu);
    auto w = FindInSessionLocked(h, c.sessionId);
    if (w) cls = w->className;
  }
  if (h && cls.empty()) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return m_machine.GetDesktop().SetFocus(c.sessionId, h, cls);
}

DWORD WindowManager::GetWindowThreadProcessId(const UiCaller& c, HWND h, LPDWORD pid) {
  std::unique_lock lk(m_mu);
  auto w = FindInSessionLocked(h, c.sessionId);
  if (!w) {
    lk.unlock();
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (pid) *pid = w->pid;
  return w->tid;
}

// ---- Posting and sending ------------------------------------------------------------------

bool WindowManager::PostOne(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  std::unique_lock lk(m_mu);
  auto w = FindLocked(h);
  if (!w) {
    lk.unlock();
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  if (w->simProc) {
    lk.unlock();
    Deliver(h, msg, wp, lp, Delivery::Via::Posted);
    return true;
  }
  auto q = QueueLocked(w->tid);
  q->posted.push_back(
      MSG{h, msg, wp, lp, static_cast<DWORD>(m_machine.GetClock().NowMs()), POINT{0, 0}});
  q->Changed();
  return true;
}

BOOL WindowManager::PostMessageW(const UiCaller& c, HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (!h) {
    // The caller is using the window system, so it has a queue from now on.
    const DWORD tid = Tid();
    {
      std::lock_guard lk(m_mu);
      QueueLocked(tid);
    }
    return PostThreadMessageW(tid, msg, wp, lp);
  }
  if (h == HWND_BROADCAST) {
    Broadcast(c.sessionId, msg, wp, lp);
    return TRUE;
  }
  {
    std::lock_guard lk(m_mu);
    if (!FindInSessionLocked(h, c.sessionId)) h = nullptr;
  }
  if (!h) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return PostOne(h, msg, wp, lp) ? TRUE : FALSE;
}

BOOL WindowManager::PostThreadMessageW(DWORD tid, UINT msg, WPARAM wp, LPARAM lp) {
  std::unique_lock lk(m_mu);
  auto it = m_queues.find(tid);
  // Like Windows, a thread that never used a window function has no queue to post to.
  if (it == m_queues.end()) {
    lk.unlock();
    SetError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  it->second->posted.push_back(
      MSG{nullptr, msg, wp, lp, static_cast<DWORD>(m_machine.GetClock().NowMs()), POINT{0, 0}});
  it->second->Changed();
  return TRUE;
}

BOOL WindowManager::Post(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  return PostOne(h, msg, wp, lp) ? TRUE : FALSE;
}

void WindowManager::Broadcast(DWORD sessionId, UINT msg, WPARAM wp, LPARAM lp) {
  std::vector<HWND> targets;
  {
    std::lock_guard lk(m_mu);
    targets = TopLevelLocked(sessionId);
  }
  for (HWND h : targets) PostOne(h, msg, wp, lp);
}

void WindowManager::RunSent(const std::shared_ptr<SentMessage>& s) {
  bool alive = false;
  {
    std::lock_guard lk(m_mu);
    alive = FindLocked(s->hwnd) != nullptr;
  }
  // The sender is answered even when the procedure throws.
  struct Complete {
    WindowManager* self;
    const std::shared_ptr<SentMessage>& s;
    bool alive;
    LRESULT result = 0;
    ~Complete() {
      std::lock_guard lk(self->m_mu);
      s->result = result;
      s->failed = !alive;
      s->done = true;
      s->sender->Changed();
    }
  } complete{this, s, alive};
  if (alive) complete.result = Deliver(s->hwnd, s->msg, s->wp, s->lp, Delivery::Via::Sent);
}

bool WindowManager::RunSentLocked(ThreadQueue& q, Lock& lk) {
  bool ran = false;
  while (!q.sent.empty()) {
    auto s = q.sent.front();
    q.sent.pop_front();
    s->started = true;
    lk.unlock();
    RunSent(s);
    lk.lock();
    ran = true;
  }
  return ran;
}

bool WindowManager::SendOne(HWND h, UINT msg, WPARAM wp, LPARAM lp, std::optional<UINT> timeoutMs,
                            bool processIncoming, LRESULT* result) {
  const DWORD tid = Tid();
  Lock lk(m_mu);
  auto w = FindLocked(h);
  if (!w) {
    lk.unlock();
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  if (w->simProc || w->tid == tid) {
    lk.unlock();
    *result = Deliver(h, msg, wp, lp, Delivery::Via::Sent);
    return true;
  }
  // Another thread's window: queue it for that thread and wait for the answer, meanwhile
  // answering what others send to this thread (as Windows does, so two threads sending
  // to each other do not deadlock).
  auto self = QueueLocked(tid);
  auto target = QueueLocked(w->tid);
  auto s = std::make_shared<SentMessage>(SentMessage{h, msg, wp, lp, self});
  target->sent.push_back(s);
  target->Changed();
  uint64_t deadline = 0;
  if (timeoutMs) {
    Clock& clock = m_machine.GetClock();
    deadline = clock.ScheduleAt(clock.NowMs() + *timeoutMs, [this, s] {
      std::lock_guard g(m_mu);
      if (!s->done) {
        s->timedOut = true;
        s->sender->Changed();
      }
    });
  }
  const DWORD receiver = w->tid;
  const ULONGLONG deadlineMs = timeoutMs ? m_machine.GetClock().NowMs() + *timeoutMs : 0;
  const bool mayDriveClock = timeoutMs && !m_machine.Pool().IsWorkerThread();
  ++self->waiting;
  for (;;) {
    if (s->done) break;
    if (!s->timedOut && !s->started && mayDriveClock && m_kernelWaits.count(receiver)) {
      // The receiver sits in a wait that serves no sent messages (joining a thread, say):
      // it cannot answer before the time-out, which passes on the virtual clock as any
      // finite wait of this thread does, one due item at a time.
      lk.unlock();
      Clock& clock = m_machine.GetClock();
      const auto next = clock.NextDue();
      const ULONGLONG now = clock.NowMs();
      clock.AdvanceTo(next && *next < deadlineMs ? std::max(*next, now) : deadlineMs);
      lk.lock();
      continue;
    }
    if (s->timedOut) {
      // Withdrawn when not yet picked up, so the receiver never sees parameters that
      // point into a frame the sender has left.
      if (!s->started) std::erase(target->sent, s);
      break;
    }
    if (processIncoming && !self->sent.empty()) {
      --self->waiting;
      RunSentLocked(*self, lk);
      ++self->waiting;
      continue;
    }
    const uint64_t v = self->version;
    self->cv.wait(lk, [&] { return self->version != v; });
  }
  --self->waiting;
  const bool ok = s->done && !s->failed;
  const DWORD error = ok ? 0 : s->done ? ERROR_INVALID_WINDOW_HANDLE : ERROR_TIMEOUT;
  const LRESULT r = s->result;
  lk.unlock();
  if (deadline) m_machine.GetClock().Cancel(deadline);
  if (!ok) {
    SetError(error);
    return false;
  }
  *result = r;
  return true;
}

LRESULT WindowManager::SendMessageW(const UiCaller& c, HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  LRESULT r = 0;
  if (h == HWND_BROADCAST) {
    std::vector<HWND> targets;
    {
      std::lock_guard lk(m_mu);
      targets = TopLevelLocked(c.sessionId);
    }
    for (HWND t : targets) SendOne(t, msg, wp, lp, std::nullopt, true, &r);
    return 0;
  }
  {
    std::lock_guard lk(m_mu);
    if (!FindInSessionLocked(h, c.sessionId)) h = nullptr;
  }
  if (!h) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return SendOne(h, msg, wp, lp, std::nullopt, true, &r) ? r : 0;
}

LRESULT WindowManager::SendMessageTimeoutW(const UiCaller& c, HWND h, UINT msg, WPARAM wp,
                                           LPARAM lp, UINT flags, UINT timeoutMs,
                                           PDWORD_PTR result) {
  const bool processIncoming = (flags & SMTO_BLOCK) == 0;
  LRESULT r = 0;
  if (h == HWND_BROADCAST) {
    std::vector<HWND> targets;
    {
      std::lock_guard lk(m_mu);
      targets = TopLevelLocked(c.sessionId);
    }
    for (HWND t : targets) SendOne(t, msg, wp, lp, timeoutMs, processIncoming, &r);
    if (result) *result = 0;
    return TRUE;
  }
  {
    std::lock_guard lk(m_mu);
    if (!FindInSessionLocked(h, c.sessionId)) h = nullptr;
  }
  if (!h) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (!SendOne(h, msg, wp, lp, timeoutMs, processIncoming, &r)) return 0;
  if (result) *result = static_cast<DWORD_PTR>(r);
  return TRUE;
}

LRESULT WindowManager::Send(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  LRESULT r = 0;
  return SendOne(h, msg, wp, lp, std::nullopt, true, &r) ? r : 0;
}

// ---- Receiving ----------------------------------------------------------------------------

WindowManager::Fetched WindowManager::FetchLocked(ThreadQueue& q, HWND filter, UINT min, UINT max,
                                                  bool remove, MSG* out) {
  for (auto it = q.posted.begin(); it != q.posted.end(); ++it) {
    if (MatchesFilterLocked(it->hwnd, filter) && InRange(it->message, min, max)) {
      *out = *it;
      if (remove) q.posted.erase(it);
      return Fetched::Posted;
    }
  }
  const DWORD now = static_cast<DWORD>(m_machine.GetClock().NowMs());
  // WM_QUIT ignores the filters, and comes only when no matching posted message waits.
  if (q.quit) {
    *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(q.quitCode), 0, now, POINT{0, 0}};
    if (remove) q.quit = false;
    return Fetched::Quit;
  }
  if (!InRange(WM_TIMER, min, max)) return Fetched::None;
  // Timers last, oldest pending first.
  Timer* best = nullptr;
  for (auto& [key, t] : m_timers) {
    if (t->tid != q.tid || !t->pending || !MatchesFilterLocked(key.hwnd, filter)) continue;
    if (!best || t->pendingSeq < best->pendingSeq) best = t.get();
  }
  if (!best) return Fetched::None;
  *out = MSG{best->key.hwnd, WM_TIMER, best->key.id, reinterpret_cast<LPARAM>(best->proc), now,
             POINT{0, 0}};
  if (remove) best->pending = false;
  return Fetched::Timer;
}

BOOL WindowManager::GetMessageW(const UiCaller& c, LPMSG msg, HWND h, UINT min, UINT max) {
  if (!msg) {
    SetError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  const DWORD tid = Tid();
  Lock lk(m_mu);
  if (h && h != kThreadMessagesOnly && !FindInSessionLocked(h, c.sessionId)) {
    lk.unlock();
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return -1;
  }
  auto q = QueueLocked(tid);
  bool driverIdle = false;
  for (;;) {
    RunSentLocked(*q, lk);
    MSG m{};
    if (FetchLocked(*q, h, min, max, true, &m) != Fetched::None) {
      *msg = m;
      return m.message == WM_QUIT ? 0 : 1;
    }
    IdleDriver driver = q->driver ? q->driver : m_machineDriver;
    if (driver && !driverIdle) {
      struct Depth {
        ThreadQueue& q;
        Lock& lk;
        ~Depth() {
          if (!lk.owns_lock()) lk.lock();
          --q.inIdleDriver;
        }
      } depth{*q, lk};
      ++q->inIdleDriver;
      lk.unlock();
      const bool more = driver();
      lk.lock();
      driverIdle = !more;
      continue;
    }
    // Nothing to do: block the real thread until the queue changes.
    const uint64_t v = q->version;
    ++q->waiting;
    q->cv.wait(lk, [&] { return q->version != v; });
    --q->waiting;
    driverIdle = false;  // something happened: the driver gets another turn
  }
}

bool WindowManager::HasInputLocked(const ThreadQueue& q, DWORD wakeMask) const {
  if ((wakeMask & QS_SENDMESSAGE) && !q.sent.empty()) return true;
  if ((wakeMask & (QS_POSTMESSAGE | QS_ALLPOSTMESSAGE)) && (!q.posted.empty() || q.quit))
    return true;
  if (wakeMask & QS_TIMER) {
    for (const auto& [key, t] : m_timers)
      if (t->tid == q.tid && t->pending) return true;
  }
  return false;
}

DWORD WindowManager::MsgWait(const std::vector<std::shared_ptr<KernelObject>>& objects,
                             DWORD timeoutMs, DWORD wakeMask) {
  ObjectManager& objects_ = m_machine.Objects();
  ThreadPool& pool = m_machine.Pool();
  const DWORD tid = Tid();
  const auto count = static_cast<DWORD>(objects.size());
  const DWORD inputReady = WAIT_OBJECT_0 + count;
  std::shared_ptr<ThreadQueue> q;
  {
    std::lock_guard lk(m_mu);
    q = QueueLocked(tid);
  }
  auto inputWaits = [&] {
    std::lock_guard lk(m_mu);
    return HasInputLocked(*q, wakeMask);
  };
  // The lowest object that can be taken now, taken.
  auto takeFirst = [&]() -> std::optional<DWORD> {
    for (DWORD i = 0; i < count; ++i)
      if (objects_.TryAcquire(objects[i], tid)) return WAIT_OBJECT_0 + i;
    return std::nullopt;
  };
  // Never under our lock: the object manager calls back into it (below).
  if (auto taken = takeFirst()) return *taken;
  if (inputWaits()) return inputReady;
  if (timeoutMs == 0) return WAIT_TIMEOUT;

  if (timeoutMs != INFINITE && !pool.IsWorkerThread()) {
    // This thread drives the clock, as a finite kernel wait does: one due item at a time.
    Clock& clock = m_machine.GetClock();
    const ULONGLONG deadline = clock.NowMs() + timeoutMs;
    for (;;) {
      const ULONGLONG now = clock.NowMs();
      if (now >= deadline) return WAIT_TIMEOUT;
      const auto next = clock.NextDue();
      clock.AdvanceTo(next && *next < deadline ? std::max(*next, now) : deadline);
      if (auto taken = takeFirst()) return *taken;
      if (inputWaits()) return inputReady;
    }
  }

  // Block until one of the armed waits ends (an object is taken, or the time-out passes on
  // whoever moves the clock), or the queue changes. One wait per object, never timing out,
  // and last a plain sleep that carries the time-out. Like a kernel wait, the thread counts
  // as idle meanwhile and busy again from the moment something wakes it.
  const auto self = std::this_thread::get_id();
  // Under the object manager's lock: whether we stopped counting as busy, and how many
  // waits have ended (a wait that ends before the last is armed means: do not block).
  // `blocked` is also read under ours, by onInput.
  auto blocked = std::make_shared<std::atomic<bool>>(false);
  auto endedCount = std::make_shared<int>(0);
  auto ended = std::make_shared<bool>(false);  // under ours
  std::weak_ptr<ThreadQueue> weakQueue = q;
  auto onDone = [this, &pool, self, blocked, endedCount, ended, weakQueue](bool) {
    ++*endedCount;
    if (*blocked) pool.MarkWoken(self);
    // The object manager's lock is held here, so ours is taken after it, and the
    // object manager is never called with ours held.
    std::lock_guard lk(m_mu);
    *ended = true;
    if (auto queue = weakQueue.lock()) queue->Changed();
  };
  std::vector<ObjectManager::WaitPtr> waits;
  waits.reserve(count);
  for (const auto& object : objects) waits.push_back(objects_.ArmWait(object, tid, INFINITE, onDone));
  // The object manager's lock is held here, and ours may be taken after it (see onDone).
  auto timer = objects_.ArmWait(nullptr, tid, timeoutMs, onDone, [&, blocked, endedCount] {
    if (*endedCount) return;
    std::lock_guard lk(m_mu);
    if (HasInputLocked(*q, wakeMask)) return;  // it will not block: stays busy
    *blocked = true;
    pool.MarkBlocking();
  });
  bool input = false;
  {
    Lock lk(m_mu);
    ++q->waiting;
    // Messages only: once posted or sent they stay until this thread takes them. A timer's
    // pending mark may be withdrawn by KillTimer before the thread wakes, which would leave
    // it counted busy while it sleeps on; a timer wake is marked when the wait returns.
    q->onInput = [&, blocked] {
      if (*blocked && HasInputLocked(*q, wakeMask & ~QS_TIMER)) pool.MarkWoken(self);
    };
    q->cv.wait(lk, [&] { return *ended || (input = HasInputLocked(*q, wakeMask)); });
    q->onInput = nullptr;
    --q->waiting;
  }
  // Whatever has not ended is withdrawn; of the objects taken meanwhile the lowest is
  // reported and the others given back, so a wait for any consumes one object at most.
  objects_.CancelWait(timer);
  std::optional<DWORD> result;
  for (DWORD i = 0; i < count; ++i) {
    if (objects_.CancelWait(waits[i]) || waits[i]->timedOut) continue;
    if (!result) {
      result = WAIT_OBJECT_0 + i;
    } else {
      objects_.GiveBack(objects[i], tid);
    }
  }
  // Read after every wait is withdrawn: no callback can change it any more.
  if (*blocked) pool.MarkWoken(self);
  if (result) return *result;
  if (input || !timer->timedOut) return inputReady;
  return WAIT_TIMEOUT;
}

BOOL WindowManager::PeekMessageW(const UiCaller& c, LPMSG msg, HWND h, UINT min, UINT max,
                                 UINT remove) {
  if (!msg) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const DWORD tid = Tid();
  Lock lk(m_mu);
  if (h && h != kThreadMessagesOnly && !FindInSessionLocked(h, c.sessionId)) {
    lk.unlock();
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  auto q = QueueLocked(tid);
  RunSentLocked(*q, lk);
  MSG m{};
  if (FetchLocked(*q, h, min, max, (remove & PM_REMOVE) != 0, &m) == Fetched::None) return FALSE;
  *msg = m;
  return TRUE;
}

LRESULT WindowManager::DispatchMessageW(const MSG* msg) {
  if (!msg) return 0;
  const DWORD tid = Tid();
  if (msg->message == WM_TIMER && msg->lParam) {
    // Only a callback that belongs to a live timer is called (Windows refuses others).
    TIMERPROC proc = nullptr;
    {
      std::lock_guard lk(m_mu);
      const TimerKey key =
          msg->hwnd ? TimerKey{msg->hwnd, 0, msg->wParam} : TimerKey{nullptr, tid, msg->wParam};
      auto it = m_timers.find(key);
      if (it != m_timers.end() && reinterpret_cast<LPARAM>(it->second->proc) == msg->lParam) {
        proc = it->second->proc;
        ++m_activity[it->second->pid].timers;
      }
    }
    if (!proc) return 0;
    CallHooks(Delivery{msg->hwnd, WM_TIMER, msg->wParam, msg->lParam, tid, Delivery::Via::Timer});
    proc(msg->hwnd, WM_TIMER, msg->wParam, static_cast<DWORD>(m_machine.GetClock().NowMs()));
    return 0;
  }
  if (!msg->hwnd) return 0;  // a thread message has no procedure
  DWORD error = 0;
  {
    std::lock_guard lk(m_mu);
    auto w = FindLocked(msg->hwnd);
    if (!w) {
      error = ERROR_INVALID_WINDOW_HANDLE;
    } else if (!w->simProc && w->tid != tid) {
      error = ERROR_ACCESS_DENIED;
    }
  }
  if (error) {
    SetError(error);
    return 0;
  }
  return Deliver(msg->hwnd, msg->message, msg->wParam, msg->lParam,
                 msg->message == WM_TIMER ? Delivery::Via::Timer : Delivery::Via::Posted);
}

void WindowManager::PostQuitMessage(int exitCode) {
  const DWORD tid = Tid();
  std::lock_guard lk(m_mu);
  auto q = QueueLocked(tid);
  q->quit = true;
  q->quitCode = exitCode;
  q->Changed();
}

bool WindowManager::PumpCurrentThread() {
  const DWORD tid = Tid();
  Lock lk(m_mu);
  auto q = QueueLocked(tid);
  if (q->inIdleDriver) return false;
  bool any = false;
  for (;;) {
    if (RunSentLocked(*q, lk)) any = true;
    MSG m{};
    const Fetched f = FetchLocked(*q, nullptr, 0, 0, true, &m);
    if (f == Fetched::None) return any;
    if (m.message == WM_QUIT) {
      // A message loop would end here: record it and stop.
      q->quitSeen = static_cast<int>(m.wParam);
      return true;
    }
    any = true;
    lk.unlock();
    DispatchMessageW(&m);
    lk.lock();
  }
}

// ---- Registered messages and filters -------------------------------------------------------

UINT WindowManager::RegisterWindowMessageW(LPCWSTR name) {
  if (!name || !*name) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::lock_guard lk(m_mu);
  const ATOM atom = AddAtomLocked(Lower(name));
  if (atom) m_messageNames.try_emplace(atom, name);
  return atom;
}

std::wstring WindowManager::MessageName(UINT msg) const {
  {
    std::lock_guard lk(m_mu);
    auto it = m_messageNames.find(static_cast<ATOM>(msg));
    if (msg >= 0xC000 && msg <= 0xFFFF && it != m_messageNames.end()) return it->second;
  }
  wchar_t number[16];
  std::swprintf(number, sizeof(number) / sizeof(number[0]), L"0x%04X", msg);
  return number;
}

BOOL WindowManager::ChangeWindowMessageFilter(const UiCaller& c, UINT msg, DWORD flag) {
  std::unique_lock lk(m_mu);
  if (flag == MSGFLT_ADD) {
    m_messageFilter[c.processId].insert(msg);
    return TRUE;
  }
  if (flag == MSGFLT_REMOVE) {
    m_messageFilter[c.processId].erase(msg);
    return TRUE;
  }
  lk.unlock();
  SetError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

// ---- Timers -------------------------------------------------------------------------------

void WindowManager::ArmTimerLocked(Timer& t) {
  Clock& clock = m_machine.GetClock();
  const TimerKey key = t.key;
  const uint64_t serial = t.serial;
  t.clockItem =
      clock.ScheduleAt(clock.NowMs() + t.elapse, [this, key, serial] { OnTimerDue(key, serial); });
}

void WindowManager::OnTimerDue(TimerKey key, uint64_t serial) {
  std::lock_guard lk(m_mu);
  auto it = m_timers.find(key);
  if (it == m_timers.end() || it->second->serial != serial) return;  // killed or replaced
  Timer& t = *it->second;
  // At most one WM_TIMER waits per timer: a tick that finds one pending is lost.
  if (!t.pending) {
    t.pending = true;
    t.pendingSeq = ++m_pendingSeq;
    QueueLocked(t.tid)->Changed();
  }
  ArmTimerLocked(t);
}

UINT_PTR WindowManager::SetTimer(const UiCaller& c, HWND h, UINT_PTR id, UINT elapse,
                                 TIMERPROC proc) {
  elapse = std::clamp<UINT>(elapse, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
  const DWORD tid = Tid();
  uint64_t oldItem = 0;
  UINT_PTR result = 0;
  DWORD error = 0;
  {
    std::lock_guard lk(m_mu);
    TimerKey key{};
    DWORD owner = tid;
    if (h) {
      auto w = FindInSessionLocked(h, c.sessionId);
      if (!w) {
        error = ERROR_INVALID_WINDOW_HANDLE;
      } else if (w->pid != c.processId || w->simProc) {
        error = ERROR_ACCESS_DENIED;  // a window of another process
      } else {
        key = TimerKey{h, 0, id};
        owner = w->tid;
        result = id ? id : 1;
      }
    } else {
      // A thread timer: the id is the system's unless it names an existing one.
      if (!id || !m_timers.count(TimerKey{nullptr, tid, id})) {
        do {
          id = m_nextThreadTimerId++;
        } while (!id || m_timers.count(TimerKey{nullptr, tid, id}));
      }
      key = TimerKey{nullptr, tid, id};
      result = id;
    }
    if (!error) {
      auto& slot = m_timers[key];
      if (slot) oldItem = slot->clockItem;  // same id: replaced and restarted
      slot = std::make_shared<Timer>();
      slot->key = key;
      slot->tid = owner;
      slot->pid = c.processId;
      slot->elapse = elapse;
      slot->proc = proc;
      slot->serial = m_nextSerial++;
      ArmTimerLocked(*slot);
    }
  }
  if (oldItem) m_machine.GetClock().Cancel(oldItem);
  if (error) {
    SetError(error);
    return 0;
  }
  return result;
}

BOOL WindowManager::KillTimer(const UiCaller& c, HWND h, UINT_PTR id) {
  const DWORD tid = Tid();
  uint64_t item = 0;
  DWORD error = 0;
  {
    std::lock_guard lk(m_mu);
    if (h) {
      auto w = FindInSessionLocked(h, c.sessionId);
      if (!w) {
        error = ERROR_INVALID_WINDOW_HANDLE;
      } else if (w->pid != c.processId) {
        error = ERROR_ACCESS_DENIED;
      }
    }
    if (!error) {
      auto it = m_timers.find(h ? TimerKey{h, 0, id} : TimerKey{nullptr, tid, id});
      if (it == m_timers.end()) {
        error = ERROR_INVALID_PARAMETER;
      } else {
        // A pending WM_TIMER goes with the timer.
        item = it->second->clockItem;
        m_timers.erase(it);
      }
    }
  }
  if (error) {
    SetError(error);
    return FALSE;
  }
  m_machine.GetClock().Cancel(item);
  return TRUE;
}

// ---- Hotkeys ------------------------------------------------------------------------------

BOOL WindowManager::RegisterHotKey(const UiCaller& c, HWND h, int id, UINT modifiers, UINT vk) {
  const DWORD tid = Tid();
  const UINT mods = modifiers & kHotKeyModifiers;
  DWORD error = 0;
  HotKeyInfo key{c.sessionId, h, tid, id, mods, vk};
  {
    std::lock_guard lk(m_mu);
    if (h) {
      auto w = FindInSessionLocked(h, c.sessionId);
      if (!w) {
        error = ERROR_INVALID_WINDOW_HANDLE;
      } else if (w->simProc || w->tid != tid) {
        error = kErrorWindowOfOtherThread;
      }
    }
    auto same = [&](const HotKey& k) {
      return k.info.sessionId == c.sessionId && k.info.hwnd == h && k.info.id == id &&
             (h || k.info.threadId == tid);
    };
    if (!error) {
      for (const auto& k : m_hotKeys) {
        if (k.info.sessionId == c.sessionId && k.info.modifiers == mods && k.info.vk == vk &&
            !same(k)) {
          error = ERROR_HOTKEY_ALREADY_REGISTERED;
        }
      }
    }
    if (!error) {
      auto it = std::find_if(m_hotKeys.begin(), m_hotKeys.end(), same);
      if (it != m_hotKeys.end()) {
        it->info = key;  // moved to the new combination
      } else {
        m_hotKeys.push_back(HotKey{key, c.processId});
      }
    }
  }
  const std::wstring text = HotKeyText(mods, vk) + L" id " + std::to_wstring(id);
  if (error == ERROR_HOTKEY_ALREADY_REGISTERED) {
    m_machine.GetDesktop().Record(c.sessionId, desktop_kind::kHotKey,
                                  L"refused " + text + L": held by another window");
  } else if (!error) {
    m_machine.GetDesktop().Record(c.sessionId, desktop_kind::kHotKey, L"registered " + text);
  }
  if (error) {
    SetError(error);
    return FALSE;
  }
  return TRUE;
}

BOOL WindowManager::UnregisterHotKey(const UiCaller& c, HWND h, int id) {
  const DWORD tid = Tid();
  DWORD error = 0;
  HotKeyInfo removed;
  {
    std::lock_guard lk(m_mu);
    if (h && !FindInSessionLocked(h, c.sessionId)) {
      error = ERROR_INVALID_WINDOW_HANDLE;
    } else {
      auto it = std::find_if(m_hotKeys.begin(), m_hotKeys.end(), [&](const HotKey& k) {
        return k.info.sessionId == c.sessionId && k.info.hwnd == h && k.info.id == id &&
               (h || k.info.threadId == tid);
      });
      if (it == m_hotKeys.end()) {
        error = ERROR_HOTKEY_NOT_REGISTERED;
      } else {
        removed = it->info;
        m_hotKeys.erase(it);
      }
    }
  }
  if (error) {
    SetError(error);
    return FALSE;
  }
  m_machine.GetDesktop().Record(
      c.sessionId, desktop_kind::kHotKey,
      L"unregistered " + HotKeyText(removed.modifiers, removed.vk) + L" id " + std::to_wstring(id));
  return TRUE;
}

bool WindowManager::FireHotKey(DWORD sessionId, UINT modifiers, UINT vk, bool recordUnheld) {
  const UINT mods = modifiers & kHotKeyModifiers;
  const auto session = m_machine.Sessions().Find(sessionId);
  const wchar_t* hidden = nullptr;
  if (!session || !session->loggedOn) {
    hidden = L"no one is logged on";
  } else if (!session->connected) {
    hidden = L"session disconnected";
  } else if (session->locked) {
    hidden = L"session locked";
  }
  std::optional<HotKeyInfo> holder;
  {
    std::lock_guard lk(m_mu);
    for (const auto& k : m_hotKeys) {
      if (k.info.sessionId == sessionId && k.info.modifiers == mods && k.info.vk == vk) {
        holder = k.info;
      }
    }
  }
  std::wstring text = L"pressed " + HotKeyText(mods, vk);
  bool posted = false;
  if (holder && !hidden) {
    const WPARAM wp = static_cast<WPARAM>(holder->id);
    const LPARAM lp = HotKeyLParam(mods, vk);
    posted = holder->hwnd ? PostOne(holder->hwnd, WM_HOTKEY, wp, lp)
                          : PostThreadMessageW(holder->threadId, WM_HOTKEY, wp, lp) != FALSE;
    text += L" id " + std::to_wstring(holder->id);
  } else if (hidden) {
    text += std::wstring(L", ignored: ") + hidden;
  } else {
    text += L", not registered";
  }
  if (holder || recordUnheld) {
    m_machine.GetDesktop().Record(sessionId, desktop_kind::kHotKey, text);
  }
  return posted;
}

std::vector<HotKeyInfo> WindowManager::HotKeys(DWORD sessionId) const {
  std::lock_guard lk(m_mu);
  std::vector<HotKeyInfo> r;
  for (const auto& k : m_hotKeys) {
    if (k.info.sessionId == sessionId) r.push_back(k.info);
  }
  return r;
}

// ---- System broadcasts --------------------------------------------------------------------

long WindowManager::BroadcastSystemMessageW(const UiCaller& c, DWORD flags, LPDWORD info, UINT msg,
                                            WPARAM wp, LPARAM lp) {
  const DWORD recipients = info ? *info : BSM_ALLCOMPONENTS;
  const bool post = (flags & BSF_POSTMESSAGE) != 0;
  if ((flags & ~kBsfKnown) || (recipients & ~kBsmKnown) || (post && (flags & kBsfQuery))) {
    SetError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  // Only programs are simulated: no drivers or network components to reach.
  const bool toApplications =
      recipients == BSM_ALLCOMPONENTS || (recipients & (BSM_APPLICATIONS | kBsmAllDesktops)) != 0;
  std::vector<HWND> targets;
  if (toApplications) {
    std::lock_guard lk(m_mu);
    for (HWND h : TopLevelLocked(c.sessionId)) {
      auto w = FindLocked(h);
      if ((flags & BSF_IGNORECURRENTTASK) && w->pid == c.processId) continue;
      targets.push_back(h);
    }
  }
  if (info) *info = toApplications ? BSM_APPLICATIONS : 0;

  long result = 1;
  size_t reached = 0;
  for (HWND h : targets) {
    if (post) {
      reached += PostOne(h, msg, wp, lp) ? 1 : 0;
      continue;
    }
    LRESULT answer = 0;
    // A window that died meanwhile is skipped, as Windows skips it.
    if (!SendOne(h, msg, wp, lp, std::nullopt, true, &answer)) continue;
    ++reached;
    if ((flags & kBsfQuery) && answer == kBroadcastQueryDeny) {
      result = 0;
      break;
    }
  }

  wchar_t params[96];
  std::swprintf(params, sizeof(params) / sizeof(params[0]), L" wParam %llu lParam %lld to %zu",
                static_cast<unsigned long long>(wp), static_cast<long long>(lp), reached);
  std::wstring text = (post ? L"posted " : L"sent ") + MessageName(msg) + params +
                      (reached == 1 ? L" window" : L" windows");
  if (result == 0) text += L", denied";
  m_machine.GetDesktop().Record(c.sessionId, desktop_kind::kBroadcast, text);
  return result;
}

// ---- Idle drivers -------------------------------------------------------------------------

void WindowManager::SetIdleDriver(DWORD threadId, IdleDriver d) {
  std::lock_guard lk(m_mu);
  auto q = QueueLocked(threadId);
  q->driver = std::move(d);
  q->Changed();
}

void WindowManager::SetMachineIdleDriver(IdleDriver d) {
  std::lock_guard lk(m_mu);
  m_machineDriver = std::move(d);
  for (auto& [tid, q] : m_queues) q->Changed();
}

bool WindowManager::StepClock(ULONGLONG limitMs) {
  Clock& clock = m_machine.GetClock();
  const ULONGLONG now = clock.NowMs();
  const auto next = clock.NextDue();
  if (next && *next <= limitMs) {
    clock.AdvanceTo(std::max(*next, now));
    return true;
  }
  if (now < limitMs) {
    clock.AdvanceTo(limitMs);
    return true;
  }
  return false;
}

// ---- Observation --------------------------------------------------------------------------

int WindowManager::AddDeliveryHook(DeliveryHook hook) {
  std::lock_guard lk(m_mu);
  const int token = m_nextHookToken++;
  m_hooks.emplace_back(token, std::make_shared<DeliveryHook>(std::move(hook)));
  return token;
}

void WindowManager::RemoveDeliveryHook(int token) {
  std::lock_guard lk(m_mu);
  std::erase_if(m_hooks, [token](const auto& p) { return p.first == token; });
}

std::optional<WindowInfo> WindowManager::Info(HWND h) const {
  std::lock_guard lk(m_mu);
  auto w = FindLocked(h);
  if (!w) return std::nullopt;
  return WindowInfo{w->hwnd,        w->pid,
                    w->tid,         w->session,
                    w->className,   w->title,
                    w->style,       w->exStyle,
                    w->parent,      (w->style & WS_VISIBLE) != 0,
                    w->messageOnly, w->simProc != nullptr};
}

std::vector<HWND> WindowManager::TopLevelWindows(DWORD sessionId) const {
  std::lock_guard lk(m_mu);
  return TopLevelLocked(sessionId);
}

std::vector<HWND> WindowManager::WindowsOfClass(DWORD sessionId,
                                                const std::wstring& className) const {
  std::lock_guard lk(m_mu);
  std::vector<HWND> r;
  for (const auto& [v, w] : m_windows) {
    if (w->session == sessionId && EqualNoCase(w->className, className)) r.push_back(w->hwnd);
  }
  return r;
}

std::vector<HWND> WindowManager::WindowsOfProcess(DWORD pid) const {
  std::lock_guard lk(m_mu);
  std::vector<HWND> r;
  for (const auto& [v, w] : m_windows) {
    if (w->pid == pid) r.push_back(w->hwnd);
  }
  return r;
}

size_t WindowManager::TimerCount(DWORD pid) const {
  std::lock_guard lk(m_mu);
  return static_cast<size_t>(std::count_if(m_timers.begin(), m_timers.end(),
                                           [&](const auto& kv) { return kv.second->pid == pid; }));
}

UiActivity WindowManager::Activity(DWORD pid) const {
  std::lock_guard lk(m_mu);
  auto it = m_activity.find(pid);
  return it == m_activity.end() ? UiActivity{} : it->second;
}

std::vector<UINT_PTR> WindowManager::TimerIds(HWND h) const {
  std::lock_guard lk(m_mu);
  std::vector<UINT_PTR> r;
  for (const auto& [key, t] : m_timers) {
    if (key.hwnd == h && h) r.push_back(key.id);
  }
  return r;
}

std::optional<int> WindowManager::QuitPosted(DWORD threadId) const {
  std::lock_guard lk(m_mu);
  auto it = m_queues.find(threadId);
  return it == m_queues.end() ? std::nullopt : it->second->quitSeen;
}

void WindowManager::ClearQuit(DWORD threadId) {
  std::lock_guard lk(m_mu);
  auto it = m_queues.find(threadId);
  if (it != m_queues.end()) it->second->quitSeen.reset();
}

void WindowManager::NoteKernelWait(bool entering) {
  const DWORD tid = Tid();
  std::lock_guard lk(m_mu);
  if (entering) {
    ++m_kernelWaits[tid];
  } else if (auto it = m_kernelWaits.find(tid); it != m_kernelWaits.end() && --it->second == 0) {
    m_kernelWaits.erase(it);
  }
  // Senders waiting for an answer look again at whom they wait for.
  for (auto& [id, q] : m_queues) {
    if (q->waiting > 0) q->Changed();
  }
}

bool WindowManager::IsThreadWaiting(DWORD threadId) const {
  std::lock_guard lk(m_mu);
  auto it = m_queues.find(threadId);
  return it != m_queues.end() && it->second->waiting > 0;
}

size_t WindowManager::QueuedMessages(DWORD threadId) const {
  std::lock_guard lk(m_mu);
  auto it = m_queues.find(threadId);
  return it == m_queues.end() ? 0 : it->second->sent.size() + it->second->posted.size();
}

std::set<UINT> WindowManager::AllowedMessages(DWORD pid) const {
  std::lock_guard lk(m_mu);
  auto it = m_messageFilter.find(pid);
  return it == m_messageFilter.end() ? std::set<UINT>{} : it->second;
}

}  // namespace sim
