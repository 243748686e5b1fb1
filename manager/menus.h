// The manager's popup menus as tables, without windows: the list popups
// (menu 131, indexed by a list's GetMenuIndex) from which the list view and
// the main frame build their menus.
#pragma once

#include <vector>

namespace korvo::manager {

struct MenuItem {
  int id;  // 0: a separator
  const char* text;
};

struct PopupMenu {
  const char* text;
  std::vector<MenuItem> items;
};

// A menu resource: its popups by index.
using MenuResource = std::vector<PopupMenu>;

inline constexpr int kListPopupMenu = 131;

// Menu 131, the popups of the lists.
const MenuResource& ListPopups();

inline constexpr int kTreePopupMenu = 141;

// Menu 141, the popups of the tree: 0 the server commands, 1 the others'.
const MenuResource& TreePopups();

}  // namespace korvo::manager
