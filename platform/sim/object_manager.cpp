#include "platform/sim/object_manager.h"

#include <functional>

#include <algorithm>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/sim_text.h"

namespace sim {

class ObjectManager::SyncObject : public KernelObject {
 public:
  SyncObject(Kind k, bool manualReset, bool signalled)
      : KernelObject(k), manualReset(manualReset), signalled(signalled) {}
  // Guarded by the object manager's lock.
  bool manualReset;
  bool signalled;       // events
  DWORD owner = 0;      // mutexes: owning thread id, 0 when free
  DWORD recursion = 0;  // mutexes: times the owner has acquired it
  std::list<WaitPtr> waiters;
};

namespace {
bool IsSync(const std::shared_ptr<KernelObject>& o) {
  if (!o) return false;
  switch (o->GetKind()) {
    case KernelObject::Kind::kMutex:
    case KernelObject::Kind::kEvent:
    case KernelObject::Kind::kProcess:
    case KernelObject::Kind::kThread:
      return true;
    default:
      return false;
  }
}
}  // namespace

ObjectManager::ObjectManager(Machine& m) : m_machine(m) {}

ObjectManager::~ObjectManager() {
  // Objects still open belong to processes that outlive the machine's parts only in a
  // broken test; drop the table outside the lock so their destructors may run freely.
  std::map<HANDLE, HandleEntry> handles;
  {
    std::lock_guard lk(m_mu);
    handles.swap(m_handles);
    m_names.clear();
  }
}

// ---------------------------------------------------------------------------------------
// Handle table

ULONG_PTR ObjectManager::NewHandleValue() {
  std::lock_guard lk(m_mu);
  const ULONG_PTR v = m_nextHandle;
  m_nextHandle += 4;  // Windows handle values are multiples of four
  return v;
}

HANDLE ObjectManager::AddHandleLocked(DWORD pid, std::shared_ptr<KernelObject> obj) {
  auto h = reinterpret_cast<HANDLE>(m_nextHandle);
  m_nextHandle += 4;
  ++obj->m_handles;
  m_handles.emplace(h, HandleEntry{pid, std::move(obj)});
  return h;
}

HANDLE ObjectManager::AddHandle(DWORD pid, std::shared_ptr<KernelObject> obj) {
  std::lock_guard lk(m_mu);
  return AddHandleLocked(pid, std::move(obj));
}

std::shared_ptr<KernelObject> ObjectManager::Lookup(DWORD pid, HANDLE h) const {
  std::lock_guard lk(m_mu);
  auto it = m_handles.find(h);
  if (it == m_handles.end() || it->second.pid != pid) return nullptr;
  return it->second.object;
}

void ObjectManager::ReleaseHandleLocked(HandleEntry& e) {
  KernelObject& o = *e.object;
  // The name goes with the last handle, even if something else (a registry watch, a pool
  // wait) still holds the object itself.
  if (--o.m_handles == 0 && !o.m_nameKey.empty()) {
    auto it = m_names.find(o.m_nameKey);
    if (it != m_names.end() && it->second.lock().get() == &o) m_names.erase(it);
    o.m_nameKey.clear();
  }
}

bool ObjectManager::CloseHandle(DWORD pid, HANDLE h) {
  std::shared_ptr<KernelObject> dropLater;
  std::lock_guard lk(m_mu);
  auto it = m_handles.find(h);
  if (it == m_handles.end() || it->second.pid != pid) return false;
  ReleaseHandleLocked(it->second);
  dropLater = std::move(it->second.object);
  m_handles.erase(it);
  return true;
}

void ObjectManager::CloseProcessHandles(DWORD pid) {
  std::vector<std::shared_ptr<KernelObject>> dropLater;
  std::lock_guard lk(m_mu);
  for (auto it = m_handles.begin(); it != m_handles.end();) {
    if (it->second.pid == pid) {
      ReleaseHandleLocked(it->second);
      dropLater.push_back(std::move(it->second.object));
      it = m_handles.erase(it);
    } else {
      ++it;
    }
  }
}

size_t ObjectManager::HandleCount(DWORD pid) const {
  std::lock_guard lk(m_mu);
  return static_cast<size_t>(std::count_if(m_handles.begin(), m_handles.end(),
                                           [&](const auto& e) { return e.second.pid == pid; }));
}

// ---------------------------------------------------------------------------------------
// Names

std::wstring ObjectManager::NameKey(DWORD sessionId, const wchar_t* name) {
  if (!name || !*name) return {};
  std::wstring_view n(name);
  constexpr std::wstring_view kGlobal = L"Global\\";
  constexpr std::wstring_view kLocal = L"Local\\";
  if (n.size() >= kGlobal.size() && text::IEquals(n.substr(0, kGlobal.size()), kGlobal))
    return L"\\BaseNamedObjects\\" + std::wstring(n.substr(kGlobal.size()));
  if (n.size() >= kLocal.size() && text::IEquals(n.substr(0, kLocal.size()), kLocal))
    n.remove_prefix(kLocal.size());
  return L"\\Sessions\\" + std::to_wstring(sessionId) + L"\\BaseNamedObjects\\" + std::wstring(n);
}

bool ObjectManager::NameExists(DWORD sessionId, const std::wstring& name) const {
  const std::wstring key = NameKey(sessionId, name.c_str());
  std::lock_guard lk(m_mu);
  auto it = m_names.find(key);
  return it != m_names.end() && !it->second.expired();
}

HANDLE ObjectManager::CreateNamedLocked(DWORD pid, const std::wstring& key, KernelObject::Kind kind,
                                        const std::function<std::shared_ptr<SyncObject>()>& make,
                                        DWORD* lastError) {
  if (!key.empty()) {
    auto it = m_names.find(key);
    if (it != m_names.end()) {
      if (auto existing = it->second.lock()) {
        // A name held by another kind of object cannot be opened as this kind.
        if (existing->GetKind() != kind) {
          *lastError = ERROR_INVALID_HANDLE;
          return nullptr;
        }
        // An existing object is opened as it is: its type, state and owner stay.
        *lastError = ERROR_ALREADY_EXISTS;
        return AddHandleLocked(pid, existing);
      }
    }
  }
  auto obj = make();
  obj->m_nameKey = key;
  if (!key.empty()) m_names[key] = obj;
  *lastError = ERROR_SUCCESS;
  return AddHandleLocked(pid, std::move(obj));
}

HANDLE ObjectManager::CreateMutex(DWORD pid, DWORD sessionId, DWORD tid, bool initialOwner,
                                  const wchar_t* name, DWORD* lastError) {
  const std::wstring key = NameKey(sessionId, name);
  std::lock_guard lk(m_mu);
  return CreateNamedLocked(
      pid, key, KernelObject::Kind::kMutex,
      [&] {
        auto m = std::make_shared<SyncObject>(KernelObject::Kind::kMutex, false, false);
        if (initialOwner) {
          m->owner = tid;
          m->recursion = 1;
        }
        return m;
      },
      lastError);
}

HANDLE ObjectManager::CreateEvent(DWORD pid, DWORD sessionId, bool manualReset, bool initialState,
                                  const wchar_t* name, DWORD* lastError) {
  const std::wstring key = NameKey(sessionId, name);
  std::lock_guard lk(m_mu);
  return CreateNamedLocked(
      pid, key, KernelObject::Kind::kEvent,
      [&] {
        return std::make_shared<SyncObject>(KernelObject::Kind::kEvent, manualReset, initialState);
      },
      lastError);
}

HANDLE ObjectManager::OpenEvent(DWORD pid, DWORD sessionId, const wchar_t* name, DWORD* lastError) {
  const std::wstring key = NameKey(sessionId, name);
  if (key.empty()) {
    *lastError = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  std::lock_guard lk(m_mu);
  auto it = m_names.find(key);
  std::shared_ptr<KernelObject> existing = it == m_names.end() ? nullptr : it->second.lock();
  if (!existing) {
    *lastError = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  if (existing->GetKind() != KernelObject::Kind::kEvent) {
    *lastError = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  *lastError = ERROR_SUCCESS;
  return AddHandleLocked(pid, std::move(existing));
}

// ---------------------------------------------------------------------------------------
// Signalling

bool ObjectManager::AvailableLocked(const SyncObject& o, DWORD tid) const {
  if (o.GetKind() == KernelObject::Kind::kMutex) return o.owner == 0 || o.owner == tid;
  return o.signalled;
}

void ObjectManager::TakeLocked(SyncObject& o, DWORD tid) {
  if (o.GetKind() == KernelObject::Kind::kMutex) {
    o.owner = tid;
    ++o.recursion;
  } else if (!o.manualReset) {
    o.signalled = false;
  }
}

void ObjectManager::SatisfyWaitersLocked(SyncObject& o) {
  for (auto it = o.waiters.begin(); it != o.waiters.end();) {
    const WaitPtr w = *it;
    if (!AvailableLocked(o, w->tid)) {
      ++it;
      continue;
    }
    TakeLocked(o, w->tid);
    it = o.waiters.erase(it);
    w->done = true;
    if (w->clockItem) m_machine.GetClock().Cancel(w->clockItem);
    if (w->onDone) w->onDone(false);
  }
}

void ObjectManager::WakeAll() { m_machine.GetClock().Notify(); }

bool ObjectManager::SetEvent(const std::shared_ptr<KernelObject>& obj) {
  if (!obj || obj->GetKind() != KernelObject::Kind::kEvent) return false;
  {
    std::lock_guard lk(m_mu);
    auto& e = static_cast<SyncObject&>(*obj);
    e.signalled = true;
    SatisfyWaitersLocked(e);
  }
  WakeAll();
  return true;
}

std::shared_ptr<KernelObject> ObjectManager::NewEndObject(KernelObject::Kind kind) {
  // A manual-reset event that nobody can reset: every waiter, now and later, gets through.
  return std::make_shared<SyncObject>(kind, true, false);
}

void ObjectManager::SignalEnded(const std::shared_ptr<KernelObject>& obj) {
  if (!IsSync(obj)) return;
  {
    std::lock_guard lk(m_mu);
    auto& o = static_cast<SyncObject&>(*obj);
    o.signalled = true;
    SatisfyWaitersLocked(o);
  }
  WakeAll();
}

bool ObjectManager::ResetEvent(const std::shared_ptr<KernelObject>& obj) {
  if (!obj || obj->GetKind() != KernelObject::Kind::kEvent) return false;
  std::lock_guard lk(m_mu);
  static_cast<SyncObject&>(*obj).signalled = false;
  return true;
}

DWORD ObjectManager::ReleaseMutex(const std::shared_ptr<KernelObject>& obj, DWORD tid) {
  if (!obj || obj->GetKind() != KernelObject::Kind::kMutex) return ERROR_INVALID_HANDLE;
  {
    std::lock_guard lk(m_mu);
    auto& m = static_cast<SyncObject&>(*obj);
    if (m.owner != tid || m.recursion == 0) return ERROR_NOT_OWNER;
    if (--m.recursion == 0) {
      m.owner = 0;
      SatisfyWaitersLocked(m);
    }
  }
  WakeAll();
  return ERROR_SUCCESS;
}

bool ObjectManager::TryAcquire(const std::shared_ptr<KernelObject>& obj, DWORD tid) {
  if (!IsSync(obj)) return true;  // files and the like are always signalled
  std::lock_guard lk(m_mu);
  auto& o = static_cast<SyncObject&>(*obj);
  if (!AvailableLocked(o, tid)) return false;
  TakeLocked(o, tid);
  return true;
}

bool ObjectManager::IsSignalled(const std::shared_ptr<KernelObject>& obj) const {
  if (!IsSync(obj)) return true;
  std::lock_guard lk(m_mu);
  const auto& o = static_cast<const SyncObject&>(*obj);
  return o.GetKind() == KernelObject::Kind::kMutex ? o.owner == 0 : o.signalled;
}

// ---------------------------------------------------------------------------------------
// Waiting

ObjectManager::WaitPtr ObjectManager::ArmWait(std::shared_ptr<KernelObject> obj, DWORD tid,
                                              DWORD timeoutMs, std::function<void(bool)> onDone,
                                              const std::function<void()>& beforeQueue) {
  auto w = std::make_shared<WaitBlock>();
  w->tid = tid;
  w->onDone = std::move(onDone);
  const bool sync = IsSync(obj);
  std::lock_guard lk(m_mu);
  if (obj && !sync) {
    // Not a waitable kind we model: always signalled.
    w->done = true;
    if (w->onDone) w->onDone(false);
    return w;
  }
  if (sync) {
    auto& o = static_cast<SyncObject&>(*obj);
    if (AvailableLocked(o, tid)) {
      TakeLocked(o, tid);
      w->done = true;
      if (w->onDone) w->onDone(false);
      return w;
    }
  }
  if (timeoutMs == 0) {
    w->done = true;
    w->timedOut = true;
    if (w->onDone) w->onDone(true);
    return w;
  }
  if (sync) {
    w->object = obj;
    static_cast<SyncObject&>(*obj).waiters.push_back(w);
  }
  // The deadline is fixed before the caller stops counting as busy: from then on the
  // clock may move on.
  if (timeoutMs != INFINITE) {
    Clock& clock = m_machine.GetClock();
    std::weak_ptr<WaitBlock> weak = w;
    w->clockItem = clock.ScheduleAt(clock.NowMs() + timeoutMs, [this, weak] {
      if (auto block = weak.lock()) {
        {
          std::lock_guard inner(m_mu);
          TimeOutLocked(block);
        }
        WakeAll();
      }
    });
  }
  if (beforeQueue) beforeQueue();
  return w;
}

void ObjectManager::TimeOutLocked(const WaitPtr& w) {
  if (w->done) return;
  if (w->object) {
    auto& o = static_cast<SyncObject&>(*w->object);
    o.waiters.remove(w);
    w->object.reset();
  }
  w->done = true;
  w->timedOut = true;
  if (w->onDone) w->onDone(true);
}

bool ObjectManager::CancelWait(const WaitPtr& w) {
  if (!w) return false;
  uint64_t item = 0;
  {
    std::lock_guard lk(m_mu);
    if (w->done) return false;
    if (w->object) {
      static_cast<SyncObject&>(*w->object).waiters.remove(w);
      w->object.reset();
    }
    w->done = true;
    item = w->clockItem;
  }
  if (item) m_machine.GetClock().Cancel(item);
  return true;
}

bool ObjectManager::IsDone(const WaitPtr& w) const {
  std::lock_guard lk(m_mu);
  return w->done;
}

size_t ObjectManager::WaiterCount(DWORD pid, HANDLE h) const {
  std::lock_guard lk(m_mu);
  auto it = m_handles.find(h);
  if (it == m_handles.end() || it->second.pid != pid || !IsSync(it->second.object)) return 0;
  return static_cast<const SyncObject&>(*it->second.object).waiters.size();
}

// ---------------------------------------------------------------------------------------
// Thread descriptions

void ObjectManager::SetThreadDescription(DWORD tid, std::wstring description) {
  std::lock_guard lk(m_mu);
  m_threadDescriptions[tid] = std::move(description);
}

std::optional<std::wstring> ObjectManager::ThreadDescription(DWORD tid) const {
  std::lock_guard lk(m_mu);
  auto it = m_threadDescriptions.find(tid);
  if (it == m_threadDescriptions.end()) return std::nullopt;
  return it->second;
}

}  // namespace sim

namespace sim {

void ObjectManager::GiveBack(const std::shared_ptr<KernelObject>& obj, DWORD tid) {
  if (!IsSync(obj)) return;
  {
    std::lock_guard lk(m_mu);
    auto& o = static_cast<SyncObject&>(*obj);
    if (o.GetKind() == KernelObject::Kind::kEvent && !o.manualReset) {
      o.signalled = true;
    } else if (o.GetKind() == KernelObject::Kind::kMutex && o.owner == tid && o.recursion > 0) {
      if (--o.recursion == 0) o.owner = 0;
    } else {
      return;  // manual-reset events, ended programs and threads were not consumed
    }
    SatisfyWaitersLocked(o);
  }
  WakeAll();
}

// ---------------------------------------------------------------------------------------
// Mailslot names

bool ObjectManager::AddMailslotName(const std::wstring& name,
                                    const std::shared_ptr<KernelObject>& slot) {
  const std::wstring key = text::Upper(name);
  std::lock_guard lk(m_mu);
  auto& entry = m_mailslots[key];
  if (entry.lock()) return false;
  entry = slot;
  return true;
}

std::shared_ptr<KernelObject> ObjectManager::FindMailslot(const std::wstring& name) const {
  std::lock_guard lk(m_mu);
  auto it = m_mailslots.find(text::Upper(name));
  return it == m_mailslots.end() ? nullptr : it->second.lock();
}

}  // namespace sim
