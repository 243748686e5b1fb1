// The manager's command ids, the numbers its menus, toolbar and accelerators
// carry, and the ids of its menus and dialogs. A list's own commands are
// named in its class (UserFaxList::kCmdView is the toolbar's View too).
#pragma once

namespace korvo::manager {

// Commands of the list view.
enum ListCommand : int {
  kCmdRefreshList = 32804,
  kCmdAddItem = 32848,
  kCmdEditItem = 32849,
  kCmdDeleteItems = 32850,
  kCmdDisableRefresh = 32860,
  kCmdEnableRefresh = 32861,
  kCmdChangeRefreshInterval = 32863,
};

enum ManagerCommand : int {
  // Server commands (menu 141, popup 0).
  kCmdStartServer = 32796,
  kCmdShutDownConditionally = 32798,
  kCmdShutDownUnconditionally = 32799,
  kCmdSuspendServer = 32800,
  kCmdResumeServer = 32801,
  kCmdServerParameters = 32854,
  // Frame, view and application commands.
  kCmdAbout = 57664,
  kCmdExit = 57665,
  kCmdHelpTopics = 57667,
  kCmdHelpUsing = 57668,
  kCmdContextHelp = 57669,
  kCmdHelp = 57670,
  kCmdHelpIndex = 57671,
  kCmdSplit = 57653,
  kCmdNextPane = 57680,
  kCmdPrevPane = 57681,
  kCmdViewToolbar = 59392,
  kCmdViewStatusBar = 59393,
  kCmdPlaceholder = 65535,
};

inline constexpr int kMenuMain = 128;
inline constexpr int kMenuListPopups = 131;
inline constexpr int kMenuTreePopups = 141;
inline constexpr int kDlgAbout = 100;
inline constexpr int kAboutVersionText = 101;
inline constexpr int kStatusItemCountPane = 59142;
inline constexpr int kStatusSortPane = 59143;

}  // namespace korvo::manager
