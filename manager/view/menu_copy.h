// Menus built from the manager's menu tables, and the rule by which a list
// or the tree puts its popup into the main menu.
#pragma once

#include <string>

#include "manager/menus.h"

class wxMenu;
class wxMenuBar;

namespace korvo::manager {

// A new wx menu with the popup's items (a separator for id 0).
wxMenu* CopyPopup(const PopupMenu& popup);

// Makes the entry at position of target a copy of popup index of resource,
// under caption (the popup's own text when empty). Nothing happens for a
// negative index or a position the menu bar does not have.
void ReplaceMenuPopup(const MenuResource& resource, int index, wxMenuBar* target, int position,
                      const std::string& caption);

}  // namespace korvo::manager
