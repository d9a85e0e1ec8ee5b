// The dashboard's launcher table: applications, web links and password-manager entries in
// numbered groups, stored per user under HKCU "SOFTWARE\Veridane\Applications\DashBoard",
// binary value "AppLauncher". A quick action loads the table and performs one group.
//
//   auto launchers = CLauncherContainer::LoadLunchers(process);   // raises CResultError
//   launchers.PerformLauncher(groupKey);                          // returns at once
//
// Stored format (DER, elements in crypt_blobs.h, records in launcher_impl.h):
//   table  = SEQUENCE of group
//   group  = SEQUENCE { group key, entry, entry, ... }
//   entry  = SEQUENCE { slot key, launcher record }
// Keys are unsigned INTEGERs of one byte; another width reads as key 0.
//
// Decisions where the stored table is not what the dashboard writes:
// - A record whose type GUID is none of the three launchers is skipped (traced) and the
//   rest of the table loads: a newer dashboard's launcher kind must not cost the user the
//   launchers this agent knows.
// - Keys that repeat: the later entry replaces the earlier one in its slot, and two groups
//   with the same key are one group. This is what InsertLauncher does for any caller.
// - Anything else malformed (bad DER, a short sequence, a GUID that is not 16 bytes, a
//   number of more than 4 bytes, text that is not a string) fails the whole load with the
//   traced decode error, and the container keeps what it held before.
//
// Threads: everything here runs on the window's thread. Launchers that still run when the
// container goes keep themselves alive until their action ends (see CLauncherImpl).
#pragma once

#include <map>
#include <memory>

#include "core/agent_process.h"
#include "ext/crypt_blobs.h"
#include "ext/launcher_impl.h"

class CLauncherContainer {
 public:
  using Group = std::map<BYTE, std::shared_ptr<CLauncherImpl>>;  // by slot key
  using Groups = std::map<BYTE, Group>;                          // by group key

  explicit CLauncherContainer(platform::IPlatform& plat) : m_plat(plat) {}

  // Reads and decodes the user's table. Raises the reason it cannot: the registry's error
  // (0x80070002 when there is no table), HRESULT_FROM_WIN32(ERROR_INVALID_DATA) (0x8007000D)
  // for a value that is not REG_BINARY or is empty, or the decode error.
  static CLauncherContainer LoadLunchers(core::CAgentProcess& process);

  // Replaces the content with the decoded table; raises the decode error (content kept).
  void Unserialize(const CCryptBlob& table);
  // The table as stored.
  CCryptBlob Serialize() const;
  // The launcher of one record, or null for an unknown type GUID; raises decode errors.
  std::shared_ptr<CLauncherImpl> CreateLauncher(const CCryptBlob& record);
  void InsertLauncher(BYTE groupKey, BYTE slotKey, std::shared_ptr<CLauncherImpl> launcher);
  // Starts every launcher of the group in ascending slot order; a group not in the table
  // does nothing.
  void PerformLauncher(BYTE groupKey);
  void Clear() { m_groups.clear(); }

  bool Empty() const { return m_groups.empty(); }
  const Groups& GetGroups() const { return m_groups; }

 private:
  platform::IPlatform& m_plat;
  Groups m_groups;
};
