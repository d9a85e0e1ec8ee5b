#include "platform/sim/menus.h"

#include <algorithm>

namespace sim {

std::wstring ShownMenu::Render() const {
  std::wstring out;
  for (const auto& item : items) {
    if (!out.empty()) out += L", ";
    if (item.IsSeparator()) {
      out += L"-";
      continue;
    }
    out += std::to_wstring(item.id) + L" \"" + item.text + L"\"";
    if (item.isDefault) out += L"*";
  }
  return out;
}

HMENU MenuTable::Create(DWORD pid) {
  std::lock_guard lk(m_mu);
  HMENU h = reinterpret_cast<HMENU>(m_next);
  m_next += 4;
  m_menus.emplace(h, Menu{pid, {}});
  return h;
}

bool MenuTable::Destroy(HMENU h) {
  std::lock_guard lk(m_mu);
  return m_menus.erase(h) != 0;
}

bool MenuTable::Append(HMENU h, UINT flags, UINT_PTR id, const wchar_t* text) {
  std::lock_guard lk(m_mu);
  auto it = m_menus.find(h);
  if (it == m_menus.end()) return false;
  MenuItem item;
  item.flags = flags;
  if (!(flags & MF_SEPARATOR)) {
    item.id = id;
    item.text = text ? text : L"";
  }
  it->second.items.push_back(std::move(item));
  return true;
}

bool MenuTable::SetDefault(HMENU h, UINT item, bool byPosition) {
  std::lock_guard lk(m_mu);
  auto it = m_menus.find(h);
  if (it == m_menus.end()) return false;
  auto& items = it->second.items;
  if (item == static_cast<UINT>(-1)) {
    for (auto& i : items) i.isDefault = false;
    return true;
  }
  size_t index = items.size();
  if (byPosition) {
    index = item;
  } else {
    auto found = std::find_if(items.begin(), items.end(),
                              [&](const MenuItem& i) { return !i.IsSeparator() && i.id == item; });
    index = static_cast<size_t>(found - items.begin());
  }
  // A separator cannot be the default item either.
  if (index >= items.size() || items[index].IsSeparator()) return false;
  for (size_t i = 0; i < items.size(); ++i) items[i].isDefault = i == index;
  return true;
}

bool MenuTable::Delete(HMENU h, UINT item, bool byPosition) {
  std::lock_guard lk(m_mu);
  auto it = m_menus.find(h);
  if (it == m_menus.end()) return false;
  auto& items = it->second.items;
  auto found = byPosition ? (item < items.size() ? items.begin() + item : items.end())
                          : std::find_if(items.begin(), items.end(), [&](const MenuItem& i) {
                              return !i.IsSeparator() && i.id == item;
                            });
  if (found == items.end()) return false;
  items.erase(found);
  return true;
}

std::optional<std::vector<MenuItem>> MenuTable::Items(HMENU h) const {
  std::lock_guard lk(m_mu);
  auto it = m_menus.find(h);
  if (it == m_menus.end()) return std::nullopt;
  return it->second.items;
}

int MenuTable::LiveCount(DWORD pid) const {
  std::lock_guard lk(m_mu);
  return static_cast<int>(std::count_if(m_menus.begin(), m_menus.end(), [&](const auto& kv) {
    return pid == 0 || kv.second.pid == pid;
  }));
}

void MenuTable::ProcessExited(DWORD pid) {
  std::lock_guard lk(m_mu);
  std::erase_if(m_menus, [&](const auto& kv) { return kv.second.pid == pid; });
}

}  // namespace sim
