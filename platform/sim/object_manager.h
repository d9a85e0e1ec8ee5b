// Kernel objects of the simulated machine: the handle table, named mutexes and events in
// per-session and global namespaces, and waits on the virtual clock.
//
//   auto& om = machine.Objects();
//   EXPECT_TRUE(om.NameExists(1, L"Veridane Classic5.x Agent"));   // session 1's namespace
//   EXPECT_TRUE(om.NameExists(0, L"Global\\VDHostReady"));
//
// Handle values are machine-wide unique (never null, never INVALID_HANDLE_VALUE) and are
// owned by one process: another process's handle value is an invalid handle, as it would
// be on Windows. Registry keys and pool waits take their values from the same counter so
// no two handles of any kind collide.
//
// Names are case-sensitive, as Windows kernel-object names are. "Global\" names live in
// one machine-wide namespace; names with no prefix or with "Local\" live in the calling
// process's session. A name stays while any handle to its object is open.
//
// Waits: one lock guards every object's state, its queue of waiters and every ownership
// change, so a signal hands the object straight to the first waiter it satisfies (an
// auto-reset event wakes one waiter, a manual-reset event all of them). See
// `ArmWait` for how threads and pool waits block, and ProcessKernel for which threads
// move the clock while they wait.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/win_types.h"

namespace sim {

class Machine;

class KernelObject {
 public:
  // kProcess and kThread: a started program and its first thread, signalled for good when
  // the program ends.
  // kMailslot: a mailslot's server end; kMailslotClient: a writer's handle to it.
  enum class Kind { kMutex, kEvent, kFile, kProcess, kThread, kMailslot, kMailslotClient };
  explicit KernelObject(Kind k) : m_kind(k) {}
  virtual ~KernelObject() = default;
  KernelObject(const KernelObject&) = delete;
  KernelObject& operator=(const KernelObject&) = delete;
  Kind GetKind() const { return m_kind; }

 private:
  friend class ObjectManager;
  const Kind m_kind;
  // Guarded by the object manager's lock.
  std::wstring m_nameKey;  // namespace-qualified; empty when unnamed
  int m_handles = 0;
};

class ObjectManager {
 public:
  // One waiter on one object: a blocked thread or a registered pool wait.
  struct WaitBlock {
    DWORD tid = 0;  // the thread that acquires a mutex through this wait
    bool done = false;
    bool timedOut = false;
    uint64_t clockItem = 0;
    std::shared_ptr<KernelObject> object;  // null for a plain sleep
    // Runs exactly once, under the object manager's lock, when the wait ends: it may only
    // record the outcome and hand work on (pool queue, clock); it must not call back in.
    std::function<void(bool timedOut)> onDone;
  };
  using WaitPtr = std::shared_ptr<WaitBlock>;

  explicit ObjectManager(Machine& m);
  ~ObjectManager();
  ObjectManager(const ObjectManager&) = delete;
  ObjectManager& operator=(const ObjectManager&) = delete;

  // ---- Handle table ----
  ULONG_PTR NewHandleValue();
  HANDLE AddHandle(DWORD pid, std::shared_ptr<KernelObject> obj);
  std::shared_ptr<KernelObject> Lookup(DWORD pid, HANDLE h) const;
  bool CloseHandle(DWORD pid, HANDLE h);
  void CloseProcessHandles(DWORD pid);
  size_t HandleCount(DWORD pid) const;

  // ---- Mutexes and events ----
  // `lastError` receives ERROR_ALREADY_EXISTS or 0 on success, the failure otherwise.
  HANDLE CreateMutex(DWORD pid, DWORD sessionId, DWORD tid, bool initialOwner, const wchar_t* name,
                     DWORD* lastError);
  HANDLE CreateEvent(DWORD pid, DWORD sessionId, bool manualReset, bool initialState,
                     const wchar_t* name, DWORD* lastError);
  HANDLE OpenEvent(DWORD pid, DWORD sessionId, const wchar_t* name, DWORD* lastError);
  bool SetEvent(const std::shared_ptr<KernelObject>& obj);
  // A process or thread object, not yet signalled (no handle: add one with AddHandle).
  std::shared_ptr<KernelObject> NewEndObject(KernelObject::Kind kind);
  // The program (or thread) has ended: its object is signalled from now on.
  void SignalEnded(const std::shared_ptr<KernelObject>& obj);
  bool ResetEvent(const std::shared_ptr<KernelObject>& obj);
  // ERROR_NOT_OWNER when `tid` does not own it.
  DWORD ReleaseMutex(const std::shared_ptr<KernelObject>& obj, DWORD tid);
  // Takes the object for `tid` when it is signalled (consuming an auto-reset event).
  bool TryAcquire(const std::shared_ptr<KernelObject>& obj, DWORD tid);
  // Undoes a take that a wait on several objects made but does not report (only one object
  // is taken by a wait for any): an auto-reset event is signalled again, a mutex released.
  void GiveBack(const std::shared_ptr<KernelObject>& obj, DWORD tid);
  bool IsSignalled(const std::shared_ptr<KernelObject>& obj) const;
  // Whether a name exists in session `sessionId`'s view ("Global\..." or local).
  bool NameExists(DWORD sessionId, const std::wstring& name) const;

  // ---- Waiting ----
  // Arms a one-shot wait on `obj` (null: a plain sleep) for `tid`. When the object can be
  // taken now, it is, and onDone(false) runs before this returns. Otherwise the block is
  // queued; a later signal takes the object on its behalf, or the time-out (INFINITE:
  // none) passes on the virtual clock, and onDone runs once with the outcome.
  // `beforeQueue` runs under the lock once the block is queued and its deadline is on the
  // clock (a blocking thread uses it to stop counting as busy: nobody sees it idle while it
  // still runs, and time cannot move before its deadline is fixed).
  WaitPtr ArmWait(std::shared_ptr<KernelObject> obj, DWORD tid, DWORD timeoutMs,
                  std::function<void(bool timedOut)> onDone,
                  const std::function<void()>& beforeQueue = {});
  // True when the wait was still pending (it will never end now).
  bool CancelWait(const WaitPtr& w);
  bool IsDone(const WaitPtr& w) const;
  // Threads and pool waits queued on the object behind `h` (for tests that must know a
  // thread has reached its wait).
  size_t WaiterCount(DWORD pid, HANDLE h) const;

  // ---- Mailslot names (machine-wide, compared without regard to case) ----
  // False when a live mailslot already has the name.
  bool AddMailslotName(const std::wstring& name, const std::shared_ptr<KernelObject>& slot);
  std::shared_ptr<KernelObject> FindMailslot(const std::wstring& name) const;

  // ---- Thread descriptions (SetThreadDescription) ----
  void SetThreadDescription(DWORD tid, std::wstring description);
  std::optional<std::wstring> ThreadDescription(DWORD tid) const;

 private:
  class SyncObject;
  struct HandleEntry {
    DWORD pid;
    std::shared_ptr<KernelObject> object;
  };

  // The key of `name` in the namespace table; empty for an unnamed object.
  static std::wstring NameKey(DWORD sessionId, const wchar_t* name);
  HANDLE AddHandleLocked(DWORD pid, std::shared_ptr<KernelObject> obj);
  // Opens the object named by `key` when it exists (of the same kind), else makes one.
  HANDLE CreateNamedLocked(DWORD pid, const std::wstring& key, KernelObject::Kind kind,
                           const std::function<std::shared_ptr<SyncObject>()>& make,
                           DWORD* lastError);
  void ReleaseHandleLocked(HandleEntry& e);
  bool AvailableLocked(const SyncObject& o, DWORD tid) const;
  void TakeLocked(SyncObject& o, DWORD tid);
  void SatisfyWaitersLocked(SyncObject& o);
  void TimeOutLocked(const WaitPtr& w);
  void WakeAll();

  Machine& m_machine;
  mutable std::mutex m_mu;
  ULONG_PTR m_nextHandle = 0x1000;
  std::map<HANDLE, HandleEntry> m_handles;
  std::map<std::wstring, std::weak_ptr<KernelObject>> m_names;
  std::map<DWORD, std::wstring> m_threadDescriptions;
  std::map<std::wstring, std::weak_ptr<KernelObject>> m_mailslots;  // upper-cased names
};

}  // namespace sim
