// The behaviour of the Send Fax dialog without its window: the recipients
// being typed and listed, the enabling of the controls, and the road from the
// first press of Send Fax to the end (header file, conversion, preview,
// sending with retry, the SentBox copy and the OutBox pair). The window shows
// what the model holds after every call and runs the other dialogs when the
// model asks for them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/fax_header.h"
#include "common/faxclient.h"
#include "core/sendfax/send_fax_job.h"
#include "desktop/prompt.h"

namespace korvo::sendfax {

// Seconds since 1970; tests move it.
using Clock = std::function<int64_t()>;
int64_t SystemClock();

// What the model asks of its window.
class SendFaxHost {
 public:
  virtual ~SendFaxHost() = default;
  // The status line changed (the progress bar steps once for each).
  virtual void StatusChanged(const std::string& text) = 0;
  // The modal Options and Send Fax To dialogs on the job; true on OK.
  virtual bool RunOptions(SendFaxJob& job) = 0;
  virtual bool RunSendFaxTo(SendFaxJob& job) = 0;
  // The modal Send Fax Status dialog.
  virtual void RunStatus(SendFaxJob& job, bool success) = 0;
};

class SendFaxModel {
 public:
  enum class End { None, Ok, Cancel };
  struct Entry {
    std::string text;
    int data;  // the recipient's position in the job's recipient list
  };

  static constexpr const char* kAdd = "&Add";
  static constexpr const char* kRemove = "&Remove";
  static constexpr const char* kSendFax = "&Send Fax";
  static constexpr const char* kContinue = "C&ontinue";
  // The status line holds at most this many characters.
  static constexpr size_t kStatusSize = 64;

  // Loads the last settings (and says when no server is known), the send
  // time "NOW" and an empty recipient list.
  SendFaxModel(SendFaxJob& job, SendFaxHost& host, desktop::Prompter& prompts, Clock clock = SystemClock);
  ~SendFaxModel();
  SendFaxModel(const SendFaxModel&) = delete;
  SendFaxModel& operator=(const SendFaxModel&) = delete;

  // The edits and the list's selection as the user changes them.
  void SetName(const std::string& text);
  void SetNumber(const std::string& text);
  void SetSelection(const std::vector<int>& rows);

  void AddOrRemove();
  void Options();
  void AddressBook();
  // The Send Fax (or Continue) button.
  void Send();
  // The Cancel button: asks, and ends with Cancel on Yes.
  void Cancel();

  const std::string& name() const { return name_; }
  const std::string& number() const { return number_; }
  const std::vector<Entry>& entries() const { return entries_; }
  const std::vector<int>& selection() const { return selection_; }
  const std::string& status() const { return status_; }
  int steps() const { return steps_; }
  End end() const { return end_; }

  bool sendEnabled() const { return sendEnabled_; }
  const std::string& sendLabel() const { return sendLabel_; }
  bool addRemoveEnabled() const { return addRemoveEnabled_; }
  const std::string& addRemoveLabel() const { return addRemoveLabel_; }
  bool numberEnabled() const { return numberEnabled_; }
  bool nameEnabled() const { return nameEnabled_; }
  bool optionsEnabled() const { return optionsEnabled_; }
  bool addressBookEnabled() const { return addressBookEnabled_; }
  bool listEnabled() const { return listEnabled_; }

  SendFaxJob& job() { return job_; }
  // The header written to the header file.
  const FaxHeader& header() const { return header_; }

 private:
  void UpdateButtons();
  void SelectionChanged();
  void ShowEntry(const FaxSenderOrRecipient& recipient, int data);
  void SetStatus(const std::string& text);
  void FirstPress();
  void SecondPress();
  bool BuildHeaderFile();
  bool ConvertDocument();
  RequestResult SendWithRetry();
  void KeepSentCopy();
  void StopViewer();

  SendFaxJob& job_;
  SendFaxHost& host_;
  desktop::Prompter& prompts_;
  Clock clock_;
  FaxClient client_;
  FaxHeader header_;
  bool firstPress_ = true;

  std::string name_;
  std::string number_;
  std::vector<Entry> entries_;
  std::vector<int> selection_;
  std::string status_;
  int steps_ = 0;
  End end_ = End::None;

  bool sendEnabled_ = false;
  std::string sendLabel_ = kSendFax;
  bool addRemoveEnabled_ = false;
  std::string addRemoveLabel_ = kAdd;
  bool numberEnabled_ = true;
  bool nameEnabled_ = true;
  bool optionsEnabled_ = true;
  bool addressBookEnabled_ = true;
  bool listEnabled_ = true;
};

// "<name>.<extension>" in place of the name's last extension; false when the
// name has no '.'.
bool ChangeNameExtension(std::string& name, const std::string& extension);

}  // namespace korvo::sendfax
