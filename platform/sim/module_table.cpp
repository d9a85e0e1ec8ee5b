#include "platform/sim/module_table.h"

#include <cwctype>

namespace sim {

namespace {
// comctl32's scaled icon loader is answered by IGdi itself; the entry only has to exist.
LONG_PTR LoadIconWithScaleDownEntry() { return 0; }
}  // namespace

ModuleTable::ModuleTable() {
  Install(L"C:\\Windows\\system32\\uxtheme.dll", {});
  Install(L"C:\\Windows\\system32\\comctl32.dll",
          {{"LoadIconWithScaleDown", &LoadIconWithScaleDownEntry}});
}

std::wstring ModuleTable::Key(const std::wstring& path) {
  std::wstring k;
  k.reserve(path.size());
  for (wchar_t c : path) k.push_back(c == L'/' ? L'\\' : static_cast<wchar_t>(std::towlower(c)));
  return k;
}

void ModuleTable::Install(const std::wstring& path, Exports exports, Strings strings) {
  std::lock_guard lk(m_mu);
  m_modules[Key(path)] = Image{std::move(exports), std::move(strings), {}, {}, {}};
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

void ModuleTable::SetIcon(const std::wstring& path, UINT id, std::vector<IconImage> images) {
  std::lock_guard lk(m_mu);
  auto& icons = m_modules[Key(path)].icons;
  if (images.empty()) {
    icons.erase(id);
  } else {
    icons[id] = std::move(images);
  }
}

void ModuleTable::SetDialog(const std::wstring& path, UINT id, DialogTemplate dialog) {
  std::lock_guard lk(m_mu);
  m_modules[Key(path)].dialogs[id] = std::move(dialog);
}

void ModuleTable::SetBitmap(const std::wstring& path, UINT id, IconImage bitmap) {
  std::lock_guard lk(m_mu);
  auto& bitmaps = m_modules[Key(path)].bitmaps;
  if (bitmap.argb.empty()) {
    bitmaps.erase(id);
  } else {
    bitmaps[id] = std::move(bitmap);
  }
}

std::optional<ModuleTable::Image> ModuleTable::Find(const std::wstring& path) const {
  std::lock_guard lk(m_mu);
  auto it = m_modules.find(Key(path));
  if (it == m_modules.end()) return std::nullopt;
  return it->second;
}

}  // namespace sim
