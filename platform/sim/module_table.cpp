#include "platform/sim/module_table.h"

#include <cwctype>

namespace sim {

std::wstring ModuleTable::Key(const std::wstring& path) {
  std::wstring k;
  k.reserve(path.size());
  for (wchar_t c : path) k.push_back(c == L'/' ? L'\\' : static_cast<wchar_t>(std::towlower(c)));
  return k;
}

void ModuleTable::Install(const std::wstring& path, Exports exports, Strings strings) {
  std::lock_guard lk(m_mu);
  m_modules[Key(path)] = Image{std::move(exports), std::move(strings)};
}

void ModuleTable::Uninstall(const std::wstring& path) {
  std::lock_guard lk(m_mu);
  m_modules.erase(Key(path));
}

void ModuleTable::RemoveExport(const std::wstring& path, const std::string& name) {
  std::lock_guard lk(m_mu);
  auto it = m_modules.find(Key(path));
  if (it != m_modules.end()) it->second.exports.erase(name);
}

std::optional<ModuleTable::Image> ModuleTable::Find(const std::wstring& path) const {
  std::lock_guard lk(m_mu);
  auto it = m_modules.find(Key(path));
  if (it == m_modules.end()) return std::nullopt;
  return it->second;
}

}  // namespace sim
