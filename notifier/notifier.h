// KorvoBell's behaviour without windows: the poll state, one timer tick, the
// checks of the user's lists on the server, the two message lines, the icon
// toggles, the tones asked for, the Configure rules and the menu commands.
// The view calls Tick() from its 5-second timer and acts on what it returns.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/faxclient.h"
#include "notifier/notify_options.h"

namespace korvo::notifier {

// Command ids of the tray menu, dialogs and icons.
inline constexpr int kIconNormal = 129;
inline constexpr int kIconAlert = 130;
inline constexpr int kCmdCheckNow = 32771;
inline constexpr int kCmdConfigure = 32772;
inline constexpr int kCmdExit = 32773;
inline constexpr int kCmdAbout = 32774;
inline constexpr int kTickMs = 5000;
// Window texts and tips hold at most this many bytes.
inline constexpr size_t kTextLimit = 63;

// The lists a poll checks.
enum class ListKind { DispatchBox, InBox, Returned };
uint32_t RequestCode(ListKind kind);

// Lines of a list reply: each ends at LF, CR is no part of it, a last line
// without LF counts when it is not empty. A line of any length counts once.
uint32_t CountListLines(std::string_view text);

// The text cut to at most kTextLimit bytes, never inside a UTF-8 character.
std::string LimitText(std::string_view text);

// What one tick asks of the view.
struct TickResult {
  bool polled = false;
  bool beep = false;       // the three tones (sound on, new messages)
  bool alert = false;      // new messages: show the icon, tip, title and window below
  int trayIcon = kIconNormal;
  bool openMessage = false;    // open the message window
  bool updateMessage = false;  // update and raise the open one
  int messageIcon = kIconNormal;  // the icon the message window shows now
};

class Notifier {
 public:
  // The options as loaded; the folder of the "NTF" reply files.
  Notifier(NotifyOptions options, std::string dataPath);

  TickResult Tick();
  // One check of a list; true when it raised the new-message flag.
  bool Check(ListKind kind);

  const NotifyOptions& options() const { return options_; }
  const std::string& line1() const { return line1_; }
  const std::string& line2() const { return line2_; }
  std::string Tip() const { return LimitText(line2_); }
  bool newMessage() const { return newMessage_; }
  int seconds() const { return seconds_; }
  uint32_t rights() const { return rights_; }
  // The client every request goes through, under the process's login.
  FaxClient& client() { return client_; }

  // The message window. Opening or updating it gives the icon it shows next
  // (alternating between the two); closing it clears the flag and resets the
  // lines.
  bool messageOpen() const { return messageOpen_; }
  int ShowMessage();
  void MessageClosed();

  // Check Now, also the tray icon's double click: the message window opens,
  // or the open one is updated and raised.
  int CheckNow() { return ShowMessage(); }
  int DoubleClick() { return CheckNow(); }

  // Exit: the first pass ends the open dialogs and asks again (false); the
  // second one ends the program (true).
  bool Exit();

  // Configure: the choices of the interval box and the one to select for an
  // interval: the first that begins with its digits (-1: none does).
  static const std::vector<std::string>& IntervalChoices();
  static int IntervalSelection(int interval);
  // On opening the options are read again from the hive.
  void ConfigureOpened();
  // OK: the chosen text becomes the interval (an empty text, no selection,
  // keeps it), the check the sound; saved with the mask unchanged.
  bool ConfigureOk(const std::string& intervalText, bool sound);
  std::string ConfigureTitle() const;
  std::string MessageTitle() const;

 private:
  void ResetLines();

  NotifyOptions options_;
  std::string dataPath_;
  FaxClient client_;
  std::string line1_, line2_;
  bool newMessage_ = false;
  bool messageOpen_ = false;
  int exitPasses_ = 0;
  uint32_t rights_ = 0;
  // The poll state: the first poll comes at the first tick.
  int seconds_ = 60;
  uint32_t lastSize_[3] = {0, 0, 0};
  int trayToggle_ = 1;
  int windowToggle_ = 0;
};

}  // namespace korvo::notifier
