// The user interface as list model tests see it: every box recorded, the
// answers queued by the test (Yes, then OK, when none is), the refresh timer
// as a flag the test reads and may refuse, the dialogs as functions.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "manager/ui_services.h"

namespace korvo::test {

class FakeUi final : public manager::UiServices {
 public:
  struct Box {
    std::string text;
    std::string caption;
    desktop::Buttons buttons;
  };

  desktop::Answer Message(const std::string& text, const std::string& caption, desktop::Buttons buttons,
                          desktop::Icon) override {
    boxes.push_back({text, caption, buttons});
    if (!answers.empty()) {
      const desktop::Answer a = answers.front();
      answers.pop_front();
      return a;
    }
    return buttons == desktop::Buttons::YesNo ? desktop::Answer::Yes : desktop::Answer::Ok;
  }
  void BeginWaitCursor() override { ++waitDepth; }
  void EndWaitCursor() override { --waitDepth; }
  bool StartTimer(int milliseconds) override {
    if (refuseTimer) return false;
    timerMs = milliseconds;
    return true;
  }
  void StopTimer() override { timerMs = 0; }
  std::optional<int> AskRefreshInterval(int current) override {
    intervalAsked.push_back(current);
    return intervalAnswer;
  }

  void ShowTotalUsageTime(bool selected, const std::string& duration) override {
    usageShown.push_back({selected, duration});
  }
  // The dialogs do what the test's function does to the entry; without one
  // they are cancelled.
  bool EditJunkSender(JunkSenderEntry& entry, bool editMode) override {
    return senderDialog && senderDialog(entry, editMode);
  }
  bool EditAddress(AddressEntry& entry, const std::string& title) override {
    return addressDialog && addressDialog(entry, title);
  }
  bool EditUser(RegisteredUserEntry& entry, bool editMode) override { return userDialog && userDialog(entry, editMode); }
  bool EditModem(ModemRecord& record, bool editMode, const std::string& title, const std::string& server) override {
    return modemDialog && modemDialog(record, editMode, title, server);
  }

  std::optional<std::string> ChooseUser(const std::string& server, const std::string& title) override {
    choices.push_back({server, title});
    return chosenUser;
  }
  void ShowRecipients(const FaxHeader& header) override { recipientsShown.push_back(header); }

  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const Box& b : boxes) out.push_back(b.text);
    return out;
  }

  std::vector<Box> boxes;
  std::deque<desktop::Answer> answers;
  int waitDepth = 0;
  int timerMs = 0;  // 0: not running
  bool refuseTimer = false;
  std::vector<int> intervalAsked;     // the interval each dialog started at
  std::optional<int> intervalAnswer;  // nothing: Cancel
  std::vector<std::pair<bool, std::string>> usageShown;  // selected rows only, the duration
  std::function<bool(JunkSenderEntry&, bool)> senderDialog;
  std::function<bool(AddressEntry&, const std::string&)> addressDialog;
  std::function<bool(RegisteredUserEntry&, bool)> userDialog;
  std::function<bool(ModemRecord&, bool, const std::string&, const std::string&)> modemDialog;
  std::vector<std::pair<std::string, std::string>> choices;  // server and title of each Dispatch Faxes dialog
  std::optional<std::string> chosenUser;                     // nothing: Cancel
  std::vector<FaxHeader> recipientsShown;
};

}  // namespace korvo::test
