#include "core/sendfax/send_fax_model.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "common/cover_page.h"
#include "common/prn2tiff.h"
#include "common/settings.h"
#include "common/status.h"
#include "common/status_codes.h"
#include "common/trace.h"
#include "common/userenvironment.h"
#include "core/sendfax/last_settings.h"
#include "platform/process.h"
#include "platform/tempfile.h"
#include "platform/username.h"

namespace korvo::sendfax {
namespace {

constexpr const char* kCaption = "Send Fax";

std::string TrimLeft(const std::string& text) {
  size_t at = text.find_first_not_of(' ');
  return at == std::string::npos ? std::string() : text.substr(at);
}

void DeleteFile(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
}

// Copies the file to a new name; false when the target exists or the copy fails
// (a partial target is removed).
bool CopyNew(const std::string& from, const std::string& to) {
  std::error_code ec;
  if (std::filesystem::copy_file(from, to, std::filesystem::copy_options::none, ec)) return true;
  if (ec != std::errc::file_exists) DeleteFile(to);
  return false;
}

}  // namespace

int64_t SystemClock() { return static_cast<int64_t>(std::time(nullptr)); }

bool ChangeNameExtension(std::string& name, const std::string& extension) {
  // Only a '.' of the file's own name counts, not one of a folder above it.
  const size_t slash = name.rfind('/');
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  name.resize(dot + 1);
  name += extension;
  return true;
}

SendFaxModel::SendFaxModel(SendFaxJob& job, SendFaxHost& host, desktop::Prompter& prompts, Clock clock)
    : job_(job), host_(host), prompts_(prompts), clock_(std::move(clock)) {
  LoadLastSettings(job_);
  if (job_.server.empty()) {
    char server[platform::kMaxPath] = {};
    if (!KvGetDefaultServer(server, sizeof server) || !server[0]) KvGetKorvoDefaultServer(server, sizeof server);
    job_.server = server;
  }
  if (job_.server.empty())
    prompts_.Message(nullptr, "Please enter Server name in 'Options' before sending fax.", "Send Fax Check:",
                     desktop::Buttons::Ok, desktop::Icon::None);
  job_.sendTime = static_cast<int32_t>(clock_());
  job_.sendTimeText = "NOW";
  job_.recipientsHeader = std::make_unique<FaxHeader>();
  job_.viewerProcess = -1;
  UpdateButtons();
}

SendFaxModel::~SendFaxModel() {
  std::lock_guard lock(job_.serverNamesLock);
  job_.serverNames.clear();
}

void SendFaxModel::SetName(const std::string& text) {
  name_ = text;
  UpdateButtons();
}

void SendFaxModel::SetNumber(const std::string& text) {
  number_ = text;
  UpdateButtons();
}

void SendFaxModel::SetSelection(const std::vector<int>& rows) {
  selection_.clear();
  for (int row : rows)
    if (row >= 0 && row < static_cast<int>(entries_.size())) selection_.push_back(row);
  SelectionChanged();
}

void SendFaxModel::UpdateButtons() {
  sendEnabled_ = !TrimLeft(number_).empty() || !entries_.empty();
  addRemoveEnabled_ = !TrimLeft(number_).empty() && !TrimLeft(name_).empty();
  if (addRemoveEnabled_) addRemoveLabel_ = kAdd;
}

void SendFaxModel::SelectionChanged() {
  addRemoveEnabled_ = !selection_.empty();
  addRemoveLabel_ = selection_.empty() ? kAdd : kRemove;
}

void SendFaxModel::ShowEntry(const FaxSenderOrRecipient& recipient, int data) {
  entries_.push_back({recipient.GetLabelLan(), data});
}

void SendFaxModel::AddOrRemove() {
  RecipientList& list = job_.recipientsHeader->recipients;
  if (addRemoveLabel_ != kAdd) {
    std::vector<bool> gone(static_cast<size_t>(list.GetCount()), false);
    for (auto row = entries_.size(); row-- > 0;) {
      if (std::find(selection_.begin(), selection_.end(), static_cast<int>(row)) == selection_.end()) continue;
      gone[static_cast<size_t>(entries_[row].data)] = true;
      entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(row));
    }
    // The list keeps its order; what is left moves up, and so do the rows' positions.
    RecipientList kept;
    std::vector<int> moved(gone.size(), -1);
    for (int i = 0; i < list.GetCount(); ++i)
      if (!gone[static_cast<size_t>(i)]) {
        moved[static_cast<size_t>(i)] = kept.GetCount();
        kept.AddTail(list[i]);
      }
    list = kept;
    for (Entry& e : entries_) e.data = moved[static_cast<size_t>(e.data)];
    selection_.clear();
    SelectionChanged();
  } else {
    FaxSenderOrRecipient recipient(number_, 0, name_, "", "", "");
    list.AddTail(recipient);
    ShowEntry(recipient, list.GetCount() - 1);
    name_.clear();
    number_.clear();
  }
  UpdateButtons();
}

void SendFaxModel::Options() {
  if (host_.RunOptions(job_)) UpdateButtons();
}

void SendFaxModel::AddressBook() {
  std::unique_ptr<FaxHeader> aside = std::move(job_.recipientsHeader);
  job_.recipientsHeader = std::make_unique<FaxHeader>();
  if (host_.RunSendFaxTo(job_)) {
    for (const FaxSenderOrRecipient& r : job_.recipientsHeader->recipients) {
      aside->recipients.AddTail(r);
      ShowEntry(r, aside->recipients.GetCount() - 1);
    }
    UpdateButtons();
  }
  job_.recipientsHeader = std::move(aside);
}

void SendFaxModel::SetStatus(const std::string& text) {
  status_ = text.substr(0, kStatusSize - 1);
  ++steps_;
  DebugPrint("Text:'%s'\n", status_.c_str());
  host_.StatusChanged(status_);
}

void SendFaxModel::Send() {
  if (firstPress_)
    FirstPress();
  else
    SecondPress();
}

void SendFaxModel::FirstPress() {
  const std::string number = TrimLeft(number_);
  if (!number.empty()) job_.recipientsHeader->recipients.AddTail(FaxSenderOrRecipient(number, 0, name_, "", "", ""));
  firstPress_ = false;
  job_.viewerProcess = -1;
  SaveLastSettings(job_);
  sendEnabled_ = numberEnabled_ = optionsEnabled_ = nameEnabled_ = addressBookEnabled_ = listEnabled_ = false;
  addRemoveEnabled_ = false;

  SetStatus("Converting document ...");
  SetStatus("Building header file ...");
  if (!BuildHeaderFile()) return;
  if (header_.recipients.IsEmpty()) {
    prompts_.Message(nullptr, "There are no fax recipients", "Korvo Send Fax To Check", desktop::Buttons::Ok,
                     desktop::Icon::Warning);
    firstPress_ = true;
    numberEnabled_ = optionsEnabled_ = addressBookEnabled_ = true;
    SetStatus("Ready");
    return;
  }
  SetStatus("Converting to fax format ...");
  if (!ConvertDocument()) return;
  if (!job_.preview) {
    SecondPress();
    return;
  }
  SetStatus("Previewing fax. Please wait ...");
  char viewer[platform::kMaxPath] = {};
  KvGetKorvoLensName(viewer, sizeof viewer);
  pid_t pid = viewer[0] ? platform::StartProcess({viewer, job_.faxImagePath}) : -1;
  if (pid <= 0) {
    SetStatus("Error: Could not start Korvo Viewer!");
    return;
  }
  job_.viewerProcess = pid;
  SetStatus("Press Continue to send fax ...");
  sendEnabled_ = true;
  sendLabel_ = kContinue;
}

void SendFaxModel::StopViewer() {
  if (job_.viewerProcess > 0) platform::TerminateProcess(job_.viewerProcess);
  job_.viewerProcess = -1;
}

void SendFaxModel::SecondPress() {
  StopViewer();
  sendEnabled_ = false;
  SetStatus("Sending fax to " + job_.server + " ...");
  const RequestResult result = SendWithRetry();
  const bool sent = result.status == 0;
  host_.RunStatus(job_, sent);
  if (sent && job_.keepSentFax) KeepSentCopy();
  if (sent || prompts_.Message(nullptr, "Do you want to keep the fax in OutBox\nand send the fax later manually ?",
                               kCaption, desktop::Buttons::YesNo, desktop::Icon::Question) != desktop::Answer::Yes) {
    DeleteFile(job_.faxImagePath);
    DeleteFile(job_.headerPath);
  }
  end_ = End::Ok;
}

RequestResult SendFaxModel::SendWithRetry() {
  for (;;) {
    RequestResult r = client_.SendFaxFiles(job_.server.c_str(), job_.headerPath, job_.faxImagePath);
    DebugPrint("---> SendFax to '%s', rc=%d\n", job_.server.c_str(), static_cast<int>(r.status));
    if (r.status == 0) return r;
    if (prompts_.Message(nullptr, r.text + "\nRetry send fax?", kCaption, desktop::Buttons::RetryCancel,
                         desktop::Icon::Information) != desktop::Answer::Retry)
      return r;
  }
}

// A sent pair copied into the SentBox. A copy that fails is traced and shown
// in the status line, and leaves no half pair behind.
void SendFaxModel::KeepSentCopy() {
  SetStatus("Saving sent fax copy ...");
  std::string temp;
  const std::string& box = GetUserEnvironment().GetSentBoxPath();
  if (box.empty() || platform::GetTempFileName(box, "CPT", 0, temp) == 0) {
    DebugPrintLastError("KVCOPY GetTempFileName");
    SetStatus("Error: Could not save sent fax copy!");
    return;
  }
  std::string fax = temp, kvf = temp;
  ChangeNameExtension(fax, "FAX");
  ChangeNameExtension(kvf, "KVF");
  const bool faxCopied = CopyNew(job_.faxImagePath, fax);
  const bool kvfCopied = faxCopied && CopyNew(job_.headerPath, kvf);
  DebugPrint("KVCOPY %s %d %d\n", kvf.c_str(), faxCopied, kvfCopied);
  DeleteFile(temp);
  if (!kvfCopied) {
    if (faxCopied) DeleteFile(fax);
    SetStatus("Error: Could not save sent fax copy!");
  }
}

void SendFaxModel::Cancel() {
  if (prompts_.Message(nullptr, "Do you want to cancel sending fax ?", "Cancel Send Fax ?",
                       desktop::Buttons::YesNoDefaultNo, desktop::Icon::Warning) != desktop::Answer::Yes)
    return;
  StopViewer();
  end_ = End::Cancel;
}

bool SendFaxModel::BuildHeaderFile() {
  header_ = FaxHeader();
  char user[64] = {};
  platform::GetUserName(user, sizeof user);
  RegisteredUserEntry entry;
  if (client_.GetUser(job_.server.c_str(), user, entry).status == 0)
    header_.sender = FaxSenderOrRecipient(entry);
  else
    header_.sender = FaxSenderOrRecipient(user, 1, user, "", "", "");
  header_.subject = job_.subject;
  header_.priority = job_.highPriority ? FaxHeader::kPriorityUrgent : FaxHeader::kPriorityNormal;
  header_.queueField = 0;
  header_.flags = 0;
  if (job_.saferDialing) header_.flags |= FaxHeader::kSaferDialing;
  if (job_.sendCoverPage) header_.flags |= FaxHeader::kSendCoverPage;

  // The send time in the server's clock.
  int64_t sendTime = job_.sendTime;
  uint32_t serverTime = 0;
  if (client_.GetServerTime(job_.server.c_str(), serverTime).status == 0)
    sendTime += static_cast<int64_t>(serverTime) - clock_();
  DebugPrint("SendFax Header: '%s' urgent=%d, at %s\n", header_.subject.c_str(), job_.highPriority,
             FormatLocalTime(sendTime, "%c").c_str());
  header_.sendTime = ScheduleTimeInfo(ScheduleTimeInfo::kAtChosenTime, static_cast<int32_t>(sendTime));
  for (const FaxSenderOrRecipient& r : job_.recipientsHeader->recipients) header_.recipients.AddTail(r);
  return header_.SaveToFile(job_.headerPath) == 1;
}

bool SendFaxModel::ConvertDocument() {
  const std::string print = job_.faxImagePath;
  SetStatus("Changing FAX file extension");
  if (!ChangeNameExtension(job_.faxImagePath, "FAX")) {
    DebugPrint("...KvChangeNameExtension: %s failed\n", job_.faxImagePath.c_str());
    DeleteFile(print);
    DeleteFile(job_.headerPath);
    return false;
  }
  SetStatus("Converting fax ...");
  Prn2Tiff conversion;
  Status code = conversion.Open(print, job_.faxImagePath);
  if (code == 0) {
    int pages = 0;
    if (job_.sendCoverPage) {
      SetStatus("Creating fax cover page");
      const bool one = header_.recipients.GetCount() == 1;
      CoverPageInfo info(header_.sender, header_.recipients[0], header_.subject, header_.sendTime.time, 0,
                         one ? CoverPageInfo::kRecipientGiven : 0);
      if (DrawCoverPage(conversion.Writer(), info) == 0) pages = 1;
    }
    while ((code = conversion.NextPage()) == 0) {
      SetStatus("Converting fax page " + std::to_string(pages + 1));
      if ((code = conversion.ConvertPage()) != 0) break;
      ++pages;
    }
  }
  if (code == kStatusEndOfPrnDocument) {
    DeleteFile(print);
    const std::string companion = job_.headerPath;
    auto fail = [&] {
      DeleteFile(companion);
      DeleteFile(job_.faxImagePath);
      return false;
    };
    SetStatus("Changing FAX header file extension");
    if (!ChangeNameExtension(job_.headerPath, "KVF")) {
      DebugPrint("...KvChangeNameExtension: %s failed\n", job_.headerPath.c_str());
      return fail();
    }
    SetStatus("Renaming file");
    DeleteFile(job_.headerPath);
    std::error_code ec;
    std::filesystem::rename(companion, job_.headerPath, ec);
    if (ec) {
      DebugPrint("...Rename: %s\n...To:%s failed\n", companion.c_str(), job_.headerPath.c_str());
      return fail();
    }
    return true;
  }
  prompts_.Message(nullptr, GetStatusText(code), kCaption, desktop::Buttons::Ok, desktop::Icon::Error);
  DeleteFile(print);
  DeleteFile(job_.faxImagePath);
  DeleteFile(job_.headerPath);
  return false;
}

}  // namespace korvo::sendfax
