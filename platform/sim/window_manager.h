// The simulated machine's windows: classes, windows, per-thread message queues, window
// timers on the virtual clock and registered messages, with Win32 semantics.
//
//   sim::WindowManager& wm = machine.Windows();
//   wm.Post(hwnd, WM_USER + 1, 0, 0);          // inject as the system would
//   machine.RunUntilIdle();                    // the test thread's windows process it
//   wm.WindowsOfClass(1, L"Shell_TrayWnd");    // look around the session
//
// Threads are real threads, identified by Machine::CurrentThreadId(). A window belongs to
// the thread that created it: posted messages and WM_TIMER wait in that thread's queue
// until it calls GetMessageW/PeekMessageW (or the machine pumps it), and a message sent
// from another thread runs on the owner thread while the sender blocks.
//
// Windows owned by the simulation itself (the shell's tray window) have no thread: what is
// posted or sent to them runs at once on the caller's thread, outside every lock.
//
// Lock discipline: one mutex guards all state; it is never held while a window procedure,
// hook, idle driver or another component (sessions, desktop, clock advance) runs.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace sim {

class Machine;
class KernelObject;

// Who calls a process-level operation: its process and session (the sim itself is pid 0).
struct UiCaller {
  DWORD processId = 0;
  DWORD sessionId = 0;
};

// A hotkey as a test sees it: held by a window, or by a thread when hwnd is null.
struct HotKeyInfo {
  DWORD sessionId = 0;
  HWND hwnd = nullptr;
  DWORD threadId = 0;
  int id = 0;
  UINT modifiers = 0;  // MOD_ALT, MOD_CONTROL, MOD_SHIFT, MOD_WIN (MOD_NOREPEAT dropped)
  UINT vk = 0;

  bool operator==(const HotKeyInfo&) const = default;
};

// "Ctrl+Alt+Shift+Win+0x48": how hotkeys read on the desktop.
std::wstring HotKeyText(UINT modifiers, UINT vk);

// What a test can see of one window.
struct WindowInfo {
  HWND hwnd = nullptr;
  DWORD processId = 0;
  DWORD threadId = 0;
  DWORD sessionId = 0;
  std::wstring className;
  std::wstring title;
  DWORD style = 0;
  DWORD exStyle = 0;
  HWND parent = nullptr;  // parent or owner; HWND_MESSAGE for message-only windows
  bool visible = false;
  bool messageOnly = false;
  bool simOwned = false;
};

// How often a process's windows were called, by the way the message came: what a test of
// the idle cost counts (every delivery is a wake-up of the owning thread).
struct UiActivity {
  uint64_t sent = 0;
  uint64_t posted = 0;
  uint64_t timers = 0;  // WM_TIMER to a window procedure or a TIMERPROC

  uint64_t Total() const { return sent + posted + timers; }
  bool operator==(const UiActivity&) const = default;
};

// One message handed to a window procedure (or to a timer's TIMERPROC).
struct Delivery {
  enum class Via { Sent, Posted, Timer };
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD threadId;  // the thread the procedure ran on
  Via via;
};

class WindowManager {
 public:
  // Called by GetMessageW when it finds nothing to return. True: it did something (moved
  // the clock, injected an event) and GetMessageW looks again; false: nothing more to do,
  // GetMessageW blocks until a message arrives.
  using IdleDriver = std::function<bool()>;
  using DeliveryHook = std::function<void(const Delivery&)>;
  using SimWndProc = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

  // The thread and process reported for windows the simulation owns. Never a machine id:
  // those are multiples of four.
  static constexpr DWORD kSimThreadId = 1;
  static constexpr DWORD kSimProcessId = 1;

  explicit WindowManager(Machine& m);
  ~WindowManager();
  WindowManager(const WindowManager&) = delete;
  WindowManager& operator=(const WindowManager&) = delete;

  // ---- Process operations (sim::ProcessUi forwards here) ----
  ATOM RegisterClassExW(const UiCaller& c, const WNDCLASSEXW* wc);
  BOOL UnregisterClassW(const UiCaller& c, LPCWSTR name);
  HWND CreateWindowExW(const UiCaller& c, DWORD exStyle, LPCWSTR className, LPCWSTR title,
                       DWORD style, int x, int y, int cx, int cy, HWND parent, HMENU menu,
                       HINSTANCE inst, LPVOID param);
  BOOL DestroyWindow(const UiCaller& c, HWND h);
  BOOL IsWindow(const UiCaller& c, HWND h);
  LRESULT DefWindowProcW(HWND h, UINT msg, WPARAM wp, LPARAM lp);
  LONG_PTR GetWindowLongPtrW(const UiCaller& c, HWND h, int index);
  LONG_PTR SetWindowLongPtrW(const UiCaller& c, HWND h, int index, LONG_PTR value);
  BOOL ShowWindow(const UiCaller& c, HWND h, int cmd);
  HWND FindWindowW(const UiCaller& c, LPCWSTR className, LPCWSTR title);
  BOOL SetForegroundWindow(const UiCaller& c, HWND h);
  HWND GetForegroundWindow(const UiCaller& c);
  HWND SetFocus(const UiCaller& c, HWND h);
  DWORD GetWindowThreadProcessId(const UiCaller& c, HWND h, LPDWORD pid);
  BOOL PostMessageW(const UiCaller& c, HWND h, UINT msg, WPARAM wp, LPARAM lp);
  BOOL PostThreadMessageW(DWORD tid, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT SendMessageW(const UiCaller& c, HWND h, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT SendMessageTimeoutW(const UiCaller& c, HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT flags,
                              UINT timeoutMs, PDWORD_PTR result);
  BOOL GetMessageW(const UiCaller& c, LPMSG msg, HWND h, UINT min, UINT max);
  // MsgWaitForMultipleObjects for any one of `objects` (none: input only). WAIT_OBJECT_0 + i
  // when object i was taken (the lowest of those ready; only that one is taken),
  // WAIT_OBJECT_0 + objects.size() when input of the mask waits.
  DWORD MsgWait(const std::vector<std::shared_ptr<KernelObject>>& objects, DWORD timeoutMs,
                DWORD wakeMask);
  BOOL PeekMessageW(const UiCaller& c, LPMSG msg, HWND h, UINT min, UINT max, UINT remove);
  LRESULT DispatchMessageW(const MSG* msg);
  void PostQuitMessage(int exitCode);
  UINT RegisterWindowMessageW(LPCWSTR name);
  BOOL ChangeWindowMessageFilter(const UiCaller& c, UINT msg, DWORD flag);
  UINT_PTR SetTimer(const UiCaller& c, HWND h, UINT_PTR id, UINT elapse, TIMERPROC proc);
  BOOL KillTimer(const UiCaller& c, HWND h, UINT_PTR id);
  // Hotkeys are per session (one desktop each): a combination belongs to one window and
  // id (or one thread and id, for a null window). The same window and id registering
  // again moves its hotkey to the new combination. A window's hotkeys go with it.
  // Registrations, refusals and removals are recorded on the desktop.
  BOOL RegisterHotKey(const UiCaller& c, HWND h, int id, UINT modifiers, UINT vk);
  BOOL UnregisterHotKey(const UiCaller& c, HWND h, int id);
  // Posts (BSF_POSTMESSAGE) or sends the message to the top-level windows of the caller's
  // session (never to message-only ones); sends wait for each answer in turn, as with no
  // BSF_NOHANG flags. Recorded on the desktop.
  long BroadcastSystemMessageW(const UiCaller& c, DWORD flags, LPDWORD info, UINT msg, WPARAM wp,
                               LPARAM lp);

  // ---- Machine pump (Machine::RunUntilIdle and AdvanceBy) ----
  // Runs the calling thread's sent, posted and due-timer messages until none is left,
  // without blocking; true when anything ran. WM_QUIT is not dispatched: it is recorded
  // (QuitPosted). Inside the thread's own GetMessageW (from its idle driver) it does
  // nothing: that loop takes the messages itself.
  bool PumpCurrentThread();

  // ---- Simulation-side messaging (sessions, shell, tests injecting events) ----
  // As the system would: no caller session applies. Windows of the simulation handle
  // them inline. Send blocks until the owner thread has run the message.
  BOOL Post(HWND h, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT Send(HWND h, UINT msg, WPARAM wp, LPARAM lp);
  // Posts to every top-level window of the session (never to message-only windows).
  void Broadcast(DWORD sessionId, UINT msg, WPARAM wp, LPARAM lp);
  // The combination was pressed in the session: WM_HOTKEY (wParam the id, lParam
  // MAKELPARAM(modifiers, vk)) goes to its holder, unless the session is locked or
  // disconnected (the lock screen has the keyboard then). True when it was posted. The
  // press is recorded when it reached a holder, or always with recordUnheld.
  bool FireHotKey(DWORD sessionId, UINT modifiers, UINT vk, bool recordUnheld);
  // A top-level window owned by the simulation, whose messages `proc` handles inline.
  HWND CreateSimWindow(DWORD sessionId, const std::wstring& className, const std::wstring& title,
                       SimWndProc proc);
  // Destroys any window (WM_DESTROY, WM_NCDESTROY delivered as usual).
  void DestroyAnyWindow(HWND h);
  // The session's taskbar window ("Shell_TrayWnd"), recorded on the desktop. The session
  // manager starts and restarts shells; this only makes the window.
  HWND CreateShellWindow(DWORD sessionId);

  // The calling thread enters (or leaves) a kernel wait that serves no sent messages. A
  // SendMessageTimeoutW to its windows then lets the time-out pass on the virtual clock
  // instead of waiting for an answer that cannot come before it.
  void NoteKernelWait(bool entering);

  // ---- Idle drivers ----
  // Per thread (takes precedence) or machine-wide; an empty function removes it.
  void SetIdleDriver(DWORD threadId, IdleDriver d);
  void SetMachineIdleDriver(IdleDriver d);
  // A step for idle drivers: moves the virtual clock to its next due item, but not past
  // `limitMs` (to `limitMs` when nothing is due before), without pumping, so the looping
  // thread receives what fell due through its own GetMessageW. False when the clock is
  // already at `limitMs` with nothing due.
  bool StepClock(ULONGLONG limitMs);

  // ---- Observation ----
  // Every message delivered to a window procedure, on the delivering thread, before the
  // procedure runs. The hook must be thread-safe. Returns a token for RemoveDeliveryHook.
  int AddDeliveryHook(DeliveryHook hook);
  void RemoveDeliveryHook(int token);
  std::optional<WindowInfo> Info(HWND h) const;
  std::vector<HWND> TopLevelWindows(DWORD sessionId) const;
  std::vector<HWND> WindowsOfClass(DWORD sessionId, const std::wstring& className) const;
  std::vector<HWND> WindowsOfProcess(DWORD pid) const;
  std::vector<UINT_PTR> TimerIds(HWND h) const;
  // Window and thread timers a process has set and not killed.
  size_t TimerCount(DWORD pid) const;
  // Messages delivered to the process's windows (and its timers' callbacks) since boot.
  UiActivity Activity(DWORD pid) const;
  std::vector<HotKeyInfo> HotKeys(DWORD sessionId) const;
  // The name a registered message was first registered with; a hex number for others.
  std::wstring MessageName(UINT msg) const;
  // The exit code of a WM_QUIT the machine pump met on the thread (cleared by ClearQuit).
  std::optional<int> QuitPosted(DWORD threadId) const;
  void ClearQuit(DWORD threadId);
  // The thread is blocked in GetMessageW (or waiting for a sent message's answer).
  bool IsThreadWaiting(DWORD threadId) const;
  // Messages waiting for the thread: sent plus posted (timers not counted).
  size_t QueuedMessages(DWORD threadId) const;
  std::set<UINT> AllowedMessages(DWORD pid) const;
  // The session's shell tray window ("Shell_TrayWnd"), null when the shell is not running.
  HWND ShellWindow(DWORD sessionId) const;

  // ---- Process lifetime ----
  // A process ended: its windows, classes and timers go without any message.
  void ProcessExited(DWORD pid);

 private:
  struct Window;
  struct Class;
  struct ThreadQueue;
  struct SentMessage;
  struct Timer;
  struct TimerKey {
    HWND hwnd;
    DWORD tid;  // thread timers (no window) only
    UINT_PTR id;
    auto operator<=>(const TimerKey&) const = default;
  };
  enum class Fetched { None, Posted, Quit, Timer };

  using Lock = std::unique_lock<std::mutex>;

  DWORD Tid() const;
  void SetError(DWORD e) const;
  std::shared_ptr<ThreadQueue> QueueLocked(DWORD tid);
  std::shared_ptr<Window> FindLocked(HWND h) const;
  std::shared_ptr<Window> FindInSessionLocked(HWND h, DWORD session) const;
  bool IsTopLevelLocked(const Window& w) const;
  std::vector<HWND> TopLevelLocked(DWORD session) const;
  bool MatchesFilterLocked(HWND msgHwnd, HWND filter) const;
  ATOM AddAtomLocked(const std::wstring& name);

  LRESULT Deliver(HWND h, UINT msg, WPARAM wp, LPARAM lp, Delivery::Via via);
  void CallHooks(const Delivery& d);
  bool PostOne(HWND h, UINT msg, WPARAM wp, LPARAM lp);
  // Sends to one window from the calling thread; false when the window is gone or the
  // virtual-clock time-out passed (error set).
  bool SendOne(HWND h, UINT msg, WPARAM wp, LPARAM lp, std::optional<UINT> timeoutMs,
               bool processIncoming, LRESULT* result);
  void RunSent(const std::shared_ptr<SentMessage>& s);
  // Takes the next message for the queue under the filter. Sent messages are not taken
  // here: the caller runs those first. Lock held.
  Fetched FetchLocked(ThreadQueue& q, HWND filter, UINT min, UINT max, bool remove, MSG* out);
  // Input of the kinds in a QS_ mask waits for the queue's thread. Lock held.
  bool HasInputLocked(const ThreadQueue& q, DWORD wakeMask) const;
  // Runs sent messages until none is left; true when any ran. Re-locks.
  bool RunSentLocked(ThreadQueue& q, Lock& lk);
  // Dispatch of a fetched posted or timer message (no lock held).
  void DispatchFetched(const MSG& m);

  void DestroyTree(HWND h);
  // Removes the window and everything attached to it; no message. Lock held; returns
  // clock items to cancel once the lock is released.
  void RemoveWindowLocked(HWND h, std::vector<uint64_t>& cancel);
  void AfterRemoval(const std::vector<HWND>& gone, const std::vector<uint64_t>& cancel);

  void ArmTimerLocked(Timer& t);
  void OnTimerDue(TimerKey key, uint64_t serial);

  Machine& m_machine;
  mutable std::mutex m_mu;
  uintptr_t m_nextHwnd = 0x20020;
  uint64_t m_nextSerial = 1;
  std::map<uintptr_t, std::shared_ptr<Window>> m_windows;  // by handle value: creation order
  std::map<DWORD, std::map<std::wstring, std::shared_ptr<Class>>> m_classes;  // pid, key
  std::map<std::wstring, ATOM> m_atoms;         // shared by classes and registered messages
  std::map<ATOM, std::wstring> m_messageNames;  // as first spelled
  struct HotKey {
    HotKeyInfo info;
    DWORD pid = 0;  // the registering process: its thread hotkeys go when it ends
  };
  std::vector<HotKey> m_hotKeys;
  ATOM m_nextAtom = 0xC000;
  std::map<DWORD, std::shared_ptr<ThreadQueue>> m_queues;
  std::map<TimerKey, std::shared_ptr<Timer>> m_timers;
  UINT_PTR m_nextThreadTimerId = 1;
  uint64_t m_pendingSeq = 0;
  std::map<DWORD, std::set<UINT>> m_messageFilter;
  std::vector<std::pair<int, std::shared_ptr<DeliveryHook>>> m_hooks;
  int m_nextHookToken = 1;
  IdleDriver m_machineDriver;
  std::map<DWORD, int> m_kernelWaits;  // thread -> nested kernel waits under way
  std::map<DWORD, UiActivity> m_activity;  // by process
};

}  // namespace sim
