// Popup menus of the simulated machine: the handles CreatePopupMenu gives, their items, and
// how many each process holds (a menu that is never destroyed shows as a live handle).
//
//   sim::MenuTable& menus = machine.GetDesktop().Menus();
//   EXPECT_EQ(menus.LiveCount(agent->Pid()), 0);    // every menu built was destroyed
//
// The user at a menu is the desktop's menu user (Desktop::SetMenuUser): it sees the menu as
// a `ShownMenu` and picks an item or dismisses it.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace sim {

namespace desktop_kind {
// shown at (1800,1060): 32788 "Open"*, -, 57664 "About"   picked 32788 "Open"   dismissed
inline constexpr wchar_t kMenu[] = L"menu";
}  // namespace desktop_kind

struct MenuItem {
  UINT_PTR id = 0;  // 0 for a separator
  std::wstring text;
  UINT flags = 0;  // MF_SEPARATOR, MF_GRAYED, MF_DISABLED, MF_CHECKED, MF_POPUP as given
  bool isDefault = false;

  bool IsSeparator() const { return (flags & MF_SEPARATOR) != 0; }
  // An item the user can choose.
  bool Pickable() const {
    return !IsSeparator() && !(flags & (MF_GRAYED | MF_DISABLED | MF_POPUP));
  }
};

// A menu as the user sees it while TrackPopupMenu shows it.
struct ShownMenu {
  DWORD sessionId = 0;
  DWORD processId = 0;
  HWND owner = nullptr;
  POINT at{};
  UINT flags = 0;  // TPM_*
  std::vector<MenuItem> items;

  // The items as the desktop records them: `32788 "Open"*, -, 57664 "About"`.
  std::wstring Render() const;
};

// The user's answer: an item's id, or nothing to dismiss the menu. `openMs` is how long the
// menu stays up first (virtual time, the caller's messages served meanwhile).
struct MenuChoice {
  std::optional<UINT_PTR> pick;
  ULONGLONG openMs = 0;
};

class MenuTable {
 public:
  MenuTable() = default;
  MenuTable(const MenuTable&) = delete;
  MenuTable& operator=(const MenuTable&) = delete;

  HMENU Create(DWORD pid);
  // False when the handle is not a live menu (ERROR_INVALID_MENU_HANDLE for the caller).
  bool Destroy(HMENU h);
  bool Append(HMENU h, UINT flags, UINT_PTR id, const wchar_t* text);
  // fByPos: `item` is a position, else a command id; (UINT)-1 clears the default.
  bool SetDefault(HMENU h, UINT item, bool byPosition);
  // One item, by position or by command id; false when there is no such item.
  bool Delete(HMENU h, UINT item, bool byPosition);
  std::optional<std::vector<MenuItem>> Items(HMENU h) const;
  // Live menus of a process; of the whole machine when pid is 0.
  int LiveCount(DWORD pid = 0) const;
  // The process ended: its menus go.
  void ProcessExited(DWORD pid);

 private:
  struct Menu {
    DWORD pid = 0;
    std::vector<MenuItem> items;
  };
  mutable std::mutex m_mu;  // a leaf
  uintptr_t m_next = 0x30010;
  std::map<HMENU, Menu> m_menus;
};

}  // namespace sim
