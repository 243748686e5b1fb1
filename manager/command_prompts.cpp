#include "manager/command_prompts.h"

#include "manager/list_model.h"
#include "manager/manager_ids.h"

namespace korvo::manager {

std::string CommandPrompt(int id) {
  switch (id) {
    case kCmdAddItem: return "Adds a new list item\nAdd Item";
    case kCmdEditItem: return "Edits the selected list item\nEdit Item";
    case kCmdDeleteItems: return "Deletes selected list item(s)\nDelete Item(s)";
    case 32775: return "Views the selected fax\nView";
    // The fax boxes, the queues and the journals.
    case 32776: return "Deletes the selected faxes\nDelete";
    case 32778: return "Sends the selected faxes\nSend";
    case 32864: return "Sends the selected faxes again\nResend";
    case 32872: return "Forwards the selected faxes to a registered user\nForward";
    case 32870: return "Shows all recipients of the selected fax\nShow All Recipients";
    case 32793: return "Hands the selected faxes to a registered user\nDispatch";
    case 32782: return "Deletes the selected faxes from the server's queue\nDelete";
    case 32857: return "Deletes all items in the journal\nClear Journal";
    case 32865: return "Shows the total time of the listed (or selected) fax transmissions\nTotal Usage Time";
    case kCmdEnableRefresh: return "Refreshes the list periodically\nEnable Periodical Refresh";
    case kCmdDisableRefresh: return "Stops refreshing the list periodically\nDisable Periodical Refresh";
    case kCmdChangeRefreshInterval: return "Changes the interval of the periodical refresh\nChange Refresh Interval";
    case kCmdRefreshList: return "Updates the right pane contents\nRefresh List";
    case kCmdAbout: return "Displays program information, version number and copyright\nAbout";
    case kCmdExit: return "Quits the application\nExit";
    case kCmdStartServer: return "Starts the Korvo server";
    case kCmdShutDownConditionally:
      return "Shuts down the server if it is idle (no active user connections and modem jobs)";
    case kCmdShutDownUnconditionally: return "Shuts down the server regardless of its current activity";
    case kCmdSuspendServer: return "Suspends the server: no faxes are sent or received until it is resumed";
    case kCmdResumeServer: return "Resumes the suspended server";
    case kCmdServerParameters: return "Shows and changes the server's parameters";
    case kCmdViewToolbar: return "Shows or hides the toolbar\nToggle ToolBar";
    case kCmdViewStatusBar: return "Shows or hides the status bar\nToggle StatusBar";
    case kCmdNextPane: return "Switches to the next window pane\nNext Pane";
    case kCmdSplit: return "Splits the active window into panes\nSplit";
    case kCmdPrevPane: return "Switches back to the previous window pane\nPrevious Pane";
    case kCmdHelpTopics: return "Lists Help topics\nHelp Topics";
    // The books, the modems, the folder lists and the event log.
    case 32783: return "Adds an item to the address book";
    case 32869: return "Adds an item to the address book by copying existing one";
    case 32785: return "Edits an item of the address book";
    case 32784: return "Deletes one or more items from the address book";
    case 32786: return "Adds a user to the book of registered users";
    case 32787: return "Deletes one or more registered users";
    case 32788: return "Edits a registered user's data";
    case 32866: return "Adds a fax sender to the denied access book";
    case 32867: return "Deletes one or more fax senders from the denied access book";
    case 32868: return "Edits a fax sender's data";
    case 32789: return "Adds a new modem configuration";
    case 32808: return "Adds a new modem configuration by copying existing one";
    case 32791: return "Edits a modem configuration data";
    case 32790: return "Deletes one or more modem configurations";
    case 32803: return "Opens the selected list (displays it in the right window pane)\nOpen List";
    case 32856: return "Deletes all items in the event log";
    default: return {};
  }
}

std::string PromptMessage(int id) {
  const std::string prompt = CommandPrompt(id);
  return prompt.substr(0, prompt.find('\n'));
}

std::string PromptTip(int id) {
  const std::string prompt = CommandPrompt(id);
  const size_t cut = prompt.find('\n');
  return cut == std::string::npos ? std::string() : prompt.substr(cut + 1);
}

}  // namespace korvo::manager
