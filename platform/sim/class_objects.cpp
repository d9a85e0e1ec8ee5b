#include "platform/sim/class_objects.h"

#include <cstring>
#include <vector>

namespace sim {

namespace {
bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
// REGCLS_MULTI_SEPARATE: many clients too, only in-process ones get their own object.
constexpr DWORD kMultiSeparate = 2;
}  // namespace

ClassObjectTable::~ClassObjectTable() {
  for (auto& [cookie, e] : m_entries) e.object->Release();
}

DWORD ClassObjectTable::Register(const CLSID& clsid, IUnknown* object, DWORD clsContext,
                                 DWORD flags, DWORD pid) {
  object->AddRef();
  std::lock_guard lk(m_mu);
  const DWORD cookie = m_nextCookie++;
  m_entries.emplace(cookie, Entry{clsid, object, clsContext, flags, pid});
  return cookie;
}

bool ClassObjectTable::Revoke(DWORD cookie, DWORD pid) {
  IUnknown* object = nullptr;
  {
    std::lock_guard lk(m_mu);
    auto it = m_entries.find(cookie);
    if (it == m_entries.end() || it->second.pid != pid) return false;
    object = it->second.object;
    m_entries.erase(it);
  }
  object->Release();
  return true;
}

size_t ClassObjectTable::RevokeProcess(DWORD pid) {
  std::vector<IUnknown*> objects;
  {
    std::lock_guard lk(m_mu);
    for (auto it = m_entries.begin(); it != m_entries.end();) {
      if (it->second.pid == pid) {
        objects.push_back(it->second.object);
        it = m_entries.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (IUnknown* o : objects) o->Release();
  return objects.size();
}

IUnknown* ClassObjectTable::Find(const CLSID& clsid, DWORD clsContext, DWORD pid, Owner owner) {
  std::lock_guard lk(m_mu);
  for (auto& [cookie, e] : m_entries) {
    if (!SameGuid(e.clsid, clsid) || (e.clsContext & clsContext) == 0) continue;
    if ((e.pid == pid) != (owner == Owner::ThisProcess)) continue;
    // A single-use object went to its one client; its own process still reaches it.
    const bool singleUse = (e.flags & (REGCLS_MULTIPLEUSE | kMultiSeparate)) == 0;
    if (singleUse && e.used && owner == Owner::OtherProcess) continue;
    if (owner == Owner::OtherProcess) e.used = true;
    // The table's reference keeps the object alive until the caller has its own.
    e.object->AddRef();
    return e.object;
  }
  return nullptr;
}

size_t ClassObjectTable::Count(DWORD pid) const {
  std::lock_guard lk(m_mu);
  size_t n = 0;
  for (auto& [cookie, e] : m_entries) n += (pid == 0 || e.pid == pid) ? 1 : 0;
  return n;
}

}  // namespace sim
