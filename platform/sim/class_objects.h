// The machine's table of running class objects, as the COM service keeps it: every
// CoRegisterClassObject of every simulated process, by cookie, with the class, the contexts
// it serves, the owning process and one reference on the object. A process's end revokes
// what it left registered, as the COM service does when a server dies.
//
//   auto& table = machine.ClassObjects();
//   EXPECT_EQ(table.Count(agent->Pid()), 1u);    // the agent's toast activator is up
//
// Objects are released and factories called without the table's lock held, so a class
// object may call back into COM from its Release or CreateInstance.
#pragma once

#include <map>
#include <mutex>

#include "platform/com.h"

namespace sim {

class ClassObjectTable {
 public:
  ClassObjectTable() = default;
  ~ClassObjectTable();
  ClassObjectTable(const ClassObjectTable&) = delete;
  ClassObjectTable& operator=(const ClassObjectTable&) = delete;

  // Takes one reference on `object`; the cookie is never 0 and never reused.
  DWORD Register(const CLSID& clsid, IUnknown* object, DWORD clsContext, DWORD flags, DWORD pid);
  // False when the cookie is not registered (or revoked already) or another process owns it.
  bool Revoke(DWORD cookie, DWORD pid);
  // Revokes every registration of a process; returns how many there were.
  size_t RevokeProcess(DWORD pid);

  enum class Owner { ThisProcess, OtherProcess };
  // The class object registered for `clsid` by `pid` (ThisProcess) or by any other process
  // (OtherProcess) whose contexts share a bit with `clsContext`, with a reference for the
  // caller; null when there is none. A single-use registration serves one caller, then
  // stays registered but out of reach, as REGCLS_SINGLEUSE does.
  IUnknown* Find(const CLSID& clsid, DWORD clsContext, DWORD pid, Owner owner);

  // Registrations of a process (every process when 0).
  size_t Count(DWORD pid = 0) const;

 private:
  struct Entry {
    CLSID clsid;
    IUnknown* object;
    DWORD clsContext;
    DWORD flags;
    DWORD pid;
    bool used = false;
  };
  mutable std::mutex m_mu;
  DWORD m_nextCookie = 1;
  std::map<DWORD, Entry> m_entries;  // by cookie, in registration order
};

}  // namespace sim
