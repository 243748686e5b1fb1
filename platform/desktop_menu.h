// Program groups as freedesktop menus: a group is a menu folder (a
// .directory file and a merge file in menus/applications-merged/), an item a
// .desktop entry in the applications folder, Type=Link for a document. The
// group "Startup" is the XDG autostart folder. Common groups go under
// /usr/local/share and /etc/xdg (below the system root), personal ones under
// the user's XDG data and configuration folders. Our files are named
// "korvo-..." so that nothing else in those folders is ever touched.
#pragma once

#include <string>
#include <vector>

namespace korvo::platform {

// "Startup", in any letter case.
bool IsStartupGroup(const std::string& group);

// Makes the menu folder (nothing for Startup); an existing one is kept.
bool CreateMenuGroup(const std::string& group, bool common);
// Removes the folder's files and every item of the group (of Startup: our
// items only), then the folders that leaves empty.
bool DeleteMenuGroup(const std::string& group, bool common);
// Writes the item's entry for the command line (the program, or the
// document, and its arguments: each word as it is to reach the program),
// replacing one of that name. EINVAL for a name or word with a line break.
bool AddMenuItem(const std::string& group, bool common, const std::string& name,
                 const std::vector<std::string>& commandLine);
// Removes the item's entry; an item that is not there counts as removed.
bool DeleteMenuItem(const std::string& group, bool common, const std::string& name);

// The files of a group and of one of its items.
std::string MenuDirectoryFile(const std::string& group, bool common);
std::string MenuMergeFile(const std::string& group, bool common);
std::string MenuItemFile(const std::string& group, bool common, const std::string& name);

// A desktop entry's Exec value for the words (quoted where the entry rules
// want it, '%' doubled, then escaped as a string value).
std::string DesktopExec(const std::vector<std::string>& words);

}  // namespace korvo::platform
