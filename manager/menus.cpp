#include "manager/menus.h"

#include "manager/list_model.h"
#include "manager/manager_ids.h"

namespace korvo::manager {
namespace {

// Every list with a server behind it can refresh itself periodically.
constexpr MenuItem kSeparator{0, ""};
constexpr MenuItem kEnable{kCmdEnableRefresh, "&Enable Periodical Refresh"};
constexpr MenuItem kDisable{kCmdDisableRefresh, "&Disable Periodical Refresh"};
constexpr MenuItem kInterval{kCmdChangeRefreshInterval, "&Change Refresh Interval"};

}  // namespace

const MenuResource& ListPopups() {
  static const MenuResource menu = {
      {"InBox",
       {{32775, "&View"}, {32776, "&Delete"}, {32872, "&Forward"}, kSeparator, kEnable, kDisable, kInterval}},
      {"OutBox",
       {{32775, "&View"}, {32776, "&Delete"}, {32778, "&Send"}, {32872, "&Forward"}, {32870, "Show &All Recipients"},
        kSeparator, kEnable, kDisable, kInterval}},
      {"SentFaxes",
       {{32775, "&View"}, {32776, "&Delete"}, {32864, "&Resend"}, {32872, "&Forward"},
        {32870, "Show &All Recipients"}, kSeparator, kEnable, kDisable, kInterval}},
      {"DispatchBox", {{32775, "&View"}, {32793, "&Dispatch"}, kSeparator, kEnable, kDisable, kInterval}},
      {"ServerFaxes", {{32782, "&Delete"}, kSeparator, kEnable, kDisable, kInterval}},
      {"AddrList", {{32783, "&Add"}, {32869, "&Copy"}, {32785, "&Edit"}, {32784, "&Delete"}}},
      {"RegUsers", {{32786, "&Add"}, {32787, "&Delete"}, {32788, "&Edit"}}},
      {"Modems", {{32789, "&Add"}, {32808, "&Copy"}, {32791, "&Edit"}, {32790, "&Delete"}}},
      {"StringList", {{32803, "&Open"}}},
      {"EventLog", {{32856, "&Clear Log"}, kSeparator, kEnable, kDisable, kInterval}},
      {"GlobalJournal",
       {{32857, "&Clear Journal"}, {32865, "&Total Usage Time"}, kSeparator, kEnable, kDisable, kInterval}},
      {"PersonalJournal", {{32865, "&Total Usage Time"}, kSeparator, kEnable, kDisable, kInterval}},
      {"JunkSenders", {{32866, "&Add"}, {32867, "&Delete"}, {32868, "&Edit"}}},
  };
  return menu;
}

const MenuResource& TreePopups() {
  static const MenuResource menu = {
      {"&Server",
       {{kCmdStartServer, "&Start"},
        {kCmdShutDownConditionally, "Shut Down &Conditionally"},
        {kCmdShutDownUnconditionally, "Shut Down &Unconditionally"},
        {kCmdSuspendServer, "Sus&pend"},
        {kCmdResumeServer, "&Resume"},
        kSeparator,
        {kCmdServerParameters, "S&how / Change Parameters"}}},
      {"&Default", {{kCmdRefreshList, "&Refresh List"}}},
  };
  return menu;
}

}  // namespace korvo::manager
