#include "platform/sim/module_table.h"

#include <cwctype>

namespace sim {

std::wstring ModuleTable::Key(const std::wstring& path) {
  std::wstring k;
  k.reserve(path.size());
  for (wchar_t c : path) k.push_back(c == L'/' ? L'\\' : static_cast<wchar_t>(std::towlower(c)));
  return k;
}

void ModuleTable::Install(const std::wstring& path, Exports exports) {
  std::lock_guard lk(m_mu);
  m_modules[Key(path)] = std::move(exports);
}

void ModuleTable::Uninstall(const std::wstring& path) {
  std::lock_guard lk(m_mu);
  m_modules.erase(Key(path));
}

void ModuleTable::RemoveExport(const std::wstring& path, const std::string& name) {
  std::lock_guard lk(m_mu);
  auto it = m_modules.find(Key(path));
  if (it != m_modules.end()) it->second.erase(name);
}

std::optional<ModuleTable::Exports> ModuleTable::Find(const std::wstring& path) const {
  std::lock_guard lk(m_mu);
  auto it = m_modules.find(Key(path));
  if (it == m_modules.end()) return std::nullopt;
  return it->second;
}

}  // namespace sim
