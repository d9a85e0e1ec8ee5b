#include "ext/launchers.h"

#include <utility>
#include <vector>

#include "platform/handles.h"
#include "support/guid_string.h"
#include "support/result_error.h"
#include "support/trace/trace.h"

namespace {

constexpr const wchar_t* kDashBoardKey = L"SOFTWARE\\Veridane\\Applications\\DashBoard";
constexpr const wchar_t* kAppLauncherValue = L"AppLauncher";
// KEY_READ | KEY_WRITE, as the dashboard opens its own key.
constexpr REGSAM kDashBoardAccess = 0x2001F;

}  // namespace

CLauncherContainer CLauncherContainer::LoadLunchers(core::CAgentProcess& process) {
  VDTraceNS::CScope ts("CLauncherContainer::LoadLunchers");
  platform::IPlatform& plat = process.Platform();
  platform::IRegistry& reg = plat.Registry();
  platform::UniqueHKey key(reg);
  LSTATUS st = reg.RegOpenKeyExW(HKEY_CURRENT_USER, kDashBoardKey, 0, kDashBoardAccess, key.put());
  if (st != ERROR_SUCCESS) throw CResultError(ts.Result("RegOpenKeyExW", HRESULT_FROM_WIN32(st)));

  DWORD type = 0;
  DWORD cb = 0;
  st = reg.RegQueryValueExW(key.get(), kAppLauncherValue, nullptr, &type, nullptr, &cb);
  if (st != ERROR_SUCCESS)
    throw CResultError(ts.Result("RegQueryValueExW", HRESULT_FROM_WIN32(st)));
  if (type != REG_BINARY || cb == 0) {
    ts.Msg("AppLauncher: type %u, %u bytes", static_cast<unsigned>(type),
           static_cast<unsigned>(cb));
    throw CResultError(ts.Result("AppLauncher", HRESULT_FROM_WIN32(ERROR_INVALID_DATA)));
  }
  std::vector<BYTE> data(cb, 0);
  st = reg.RegQueryValueExW(key.get(), kAppLauncherValue, nullptr, &type, data.data(), &cb);
  if (st != ERROR_SUCCESS)
    throw CResultError(ts.Result("RegQueryValueExW", HRESULT_FROM_WIN32(st)));
  // The value may have been rewritten between the two reads.
  if (type != REG_BINARY || cb == 0)
    throw CResultError(ts.Result("AppLauncher", HRESULT_FROM_WIN32(ERROR_INVALID_DATA)));
  data.resize(cb);

  CLauncherContainer launchers(plat);
  launchers.Unserialize(CCryptBlob(std::move(data)));
  return launchers;
}

void CLauncherContainer::Unserialize(const CCryptBlob& table) {
  VDTraceNS::CScope ts("CLauncherContainer::Unserialize");
  // Decoded aside, so a table that fails half-way leaves the container as it was.
  CLauncherContainer loaded(m_plat);
  CVDSequenceBlob groups = CVDSequenceBlob::Decode(m_plat, table);
  for (size_t g = 0; g < groups.Count(); ++g) {
    CVDSequenceBlob group = CVDSequenceBlob::Decode(m_plat, groups.Next());
    const BYTE groupKey = CVDULongBlob(group.Next()).Key(m_plat);
    for (size_t e = 1; e < group.Count(); ++e) {
      CVDSequenceBlob entry = CVDSequenceBlob::Decode(m_plat, group.Next());
      const BYTE slotKey = CVDULongBlob(entry.Next()).Key(m_plat);
      auto launcher = loaded.CreateLauncher(entry.Next());
      if (!launcher) {
        ts.Msg("Group %u slot %u: unknown launcher skipped", static_cast<unsigned>(groupKey),
               static_cast<unsigned>(slotKey));
        continue;
      }
      loaded.InsertLauncher(groupKey, slotKey, std::move(launcher));
    }
  }
  m_groups = std::move(loaded.m_groups);
}

CCryptBlob CLauncherContainer::Serialize() const {
  CVDSequenceBlob table;
  for (const auto& [groupKey, group] : m_groups) {
    CVDSequenceBlob groupSeq;
    groupSeq.Append(CVDULongBlob(m_plat, groupKey));
    for (const auto& [slotKey, launcher] : group) {
      CVDSequenceBlob record;
      launcher->Serialize(record);
      CVDSequenceBlob entry;
      entry.Append(CVDULongBlob(m_plat, slotKey));
      entry.Append(record.Encode(m_plat));
      groupSeq.Append(entry.Encode(m_plat));
    }
    table.Append(groupSeq.Encode(m_plat));
  }
  return table.Encode(m_plat);
}

std::shared_ptr<CLauncherImpl> CLauncherContainer::CreateLauncher(const CCryptBlob& record) {
  VDTraceNS::CScope ts("CLauncherContainer::CreateLauncher");
  CVDSequenceBlob fields = CVDSequenceBlob::Decode(m_plat, record);
  const GUID type = CVDGUIDBlob(fields.Next()).Value(m_plat);
  std::shared_ptr<CLauncherImpl> launcher;
  if (type == kPwdManagerLauncherType) {
    launcher = std::make_shared<CPwdManagerLauncher>(m_plat);
  } else if (type == kWebLinkLauncherType) {
    launcher = std::make_shared<CWebLinkLauncher>(m_plat);
  } else if (type == kAppLauncherType) {
    launcher = std::make_shared<CAppLauncher>(m_plat);
  } else {
    ts.Msg(L"Unknown launcher type %ls", support::GuidToString(type).c_str());
    return nullptr;
  }
  fields.Reset();
  launcher->Unserialize(fields);
  return launcher;
}

void CLauncherContainer::InsertLauncher(BYTE groupKey, BYTE slotKey,
                                        std::shared_ptr<CLauncherImpl> launcher) {
  if (!launcher) return;
  m_groups[groupKey][slotKey] = std::move(launcher);
}

void CLauncherContainer::PerformLauncher(BYTE groupKey) {
  VDTraceNS::CScope ts("CLauncherContainer::PerformLauncher");
  auto it = m_groups.find(groupKey);
  if (it == m_groups.end()) {
    ts.Msg("No group %u", static_cast<unsigned>(groupKey));
    return;
  }
  for (const auto& [slotKey, launcher] : it->second) {
    ts.Msg(L"Slot %u: %ls", static_cast<unsigned>(slotKey), launcher->Description().c_str());
    launcher->PerformAction();
  }
}
