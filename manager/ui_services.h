// What a list needs from the user interface: message boxes, the wait cursor,
// the refresh timer, the lists' dialogs and the programs they start. The window gives them through
// desktop::Prompts(), a wxTimer and its dialogs; model tests answer them.
// The header needs no wx.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "common/entries.h"
#include "common/fax_header.h"
#include "common/modem_record.h"
#include "desktop/prompt.h"

namespace korvo::manager {

class UiServices {
 public:
  virtual ~UiServices() = default;
  virtual desktop::Answer Message(const std::string& text, const std::string& caption, desktop::Buttons buttons,
                                  desktop::Icon icon) = 0;
  // A column's width when the user has set none: the table's, in pixels of
  // the font the tables were made for; a window fits it to its own font.
  virtual int DefaultColumnWidth(const std::string& /*title*/, int tableWidth) { return tableWidth; }
  virtual void BeginWaitCursor() {}
  virtual void EndWaitCursor() {}
  // The list's refresh timer (id 1); false when it cannot be set.
  virtual bool StartTimer(int milliseconds) = 0;
  virtual void StopTimer() = 0;
  // The Refresh Interval dialog, starting at current; the new interval on OK.
  virtual std::optional<int> AskRefreshInterval(int current) = 0;

  // The lists' dialogs; a user interface without them shows nothing and
  // cancels. The Total Usage Time box: dialog 166 for the selected rows,
  // else 165.
  virtual void ShowTotalUsageTime(bool /*selected*/, const std::string& /*duration*/) {}
  // The books' dialogs edit the entry in place; false on Cancel.
  virtual bool EditJunkSender(JunkSenderEntry& /*entry*/, bool /*editMode*/) { return false; }
  virtual bool EditAddress(AddressEntry& /*entry*/, const std::string& /*title*/) { return false; }
  virtual bool EditUser(RegisteredUserEntry& /*entry*/, bool /*editMode*/) { return false; }
  // The modem dialog sends its own add or edit to the server and stays open
  // while the server refuses; true when it ended with OK (the request done).
  virtual bool EditModem(ModemRecord& /*record*/, bool /*editMode*/, const std::string& /*title*/,
                         const std::string& /*server*/) {
    return false;
  }
  // The Dispatch Faxes dialog under the title, its users fetched from the
  // server; the chosen user name on OK.
  virtual std::optional<std::string> ChooseUser(const std::string& /*server*/, const std::string& /*title*/) {
    return std::nullopt;
  }
  // The Fax Recipients dialog on a fax's header.
  virtual void ShowRecipients(const FaxHeader& /*header*/) {}
  // Starts a program (argv[0] its path) that lives on its own; it is reaped
  // when it ends. Its pid, -1 when it did not start.
  virtual pid_t StartProgram(const std::vector<std::string>& argv);
};

// A plain box with an OK button, as the lists show request and file errors.
inline void ShowText(UiServices& ui, const std::string& text) {
  ui.Message(text, "Korvo Manager", desktop::Buttons::Ok, desktop::Icon::Warning);
}

}  // namespace korvo::manager
