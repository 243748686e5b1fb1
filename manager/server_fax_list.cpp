#include "manager/server_fax_list.h"

#include <vector>

#include "common/fields.h"
#include "common/job_state.h"
#include "common/status_codes.h"
#include "manager/list_formats.h"
#include "manager/list_model.h"

namespace korvo::manager {

const ListClass kServerGlobalRxQueueClass{"ServerGlobalRxQueue", &CreateList<ServerGlobalRxQueue>};
const ListClass kServerPersonalRxQueueClass{"ServerPersonalRxQueue", &CreateList<ServerPersonalRxQueue>};
const ListClass kServerGlobalTxQueueClass{"ServerGlobalTxQueue", &CreateList<ServerGlobalTxQueue>};
const ListClass kServerPersonalTxQueueClass{"ServerPersonalTxQueue", &CreateList<ServerPersonalTxQueue>};
const ListClass kServerGlobalJournalClass{"ServerGlobalJournal", &CreateList<ServerGlobalJournal>};
const ListClass kServerPersonalJournalClass{"ServerPersonalJournal", &CreateList<ServerPersonalJournal>};

namespace {

enum Column {
  kFrom, kTo, kTransport, kSubject, kArrival, kSchedule, kUsage, kTotalPages, kSentPages, kStatus, kAttempts,
  kPriority, kOrigTo
};

const char* const kReturnedFrom = "Korvo Server (LAN)";

const QueueListEntry& EntryOf(ItemValue item) { return *reinterpret_cast<const QueueListEntry*>(item); }

void TotalUsageTime(UiServices& ui, bool selected, int64_t seconds) {
  ui.ShowTotalUsageTime(selected, FormatDuration(seconds));
}

}  // namespace

QueueListEntry::QueueListEntry(const std::string& line) {
  std::vector<std::string> f(15);
  DecodeFields(line, f);
  imageId = ParseDecimal(f[0]);
  jobId = ParseDecimal(f[1]);
  sender = CutToBytes(f[2], 31);
  recipient = CutToBytes(f[3], 31);
  subject = CutToBytes(f[4], 79);
  submitTime = ParseDecimal(f[5]);
  dueTime = ParseDecimal(f[6]);
  seconds = ParseDecimal(f[7]);
  totalPages = ParseDecimal(f[8]);
  sentPages = ParseDecimal(f[9]);
  state = ParseDecimal(f[10]);
  attempts = ParseDecimal(f[11]);
  priority = ParseDecimal(f[12]);
  returned = ParseDecimal(f[13]);
  transport = f[14];
}

const char* PriorityName(int32_t priority) {
  if (priority < 86) return "Urgent";
  if (priority >= 171) return "Low";
  return "Normal";
}

std::string QueueColumnText(const QueueListEntry& e, int tableColumn) {
  switch (tableColumn) {
    case kFrom: return e.returned ? kReturnedFrom : e.sender;
    case kTo: return e.returned ? e.sender : e.recipient;
    case kTransport: return e.transport;
    case kSubject: return e.subject;
    case kArrival: return FormatListDate(static_cast<uint32_t>(e.submitTime));
    case kSchedule: return FormatListDate(static_cast<uint32_t>(e.dueTime));
    case kUsage: return FormatDuration(e.seconds);
    case kTotalPages: return std::to_string(e.totalPages);
    case kSentPages: return std::to_string(e.sentPages);
    case kStatus: return JobState::Name(e.state);
    case kAttempts: return std::to_string(e.attempts);
    case kPriority: return PriorityName(e.priority);
    case kOrigTo: return e.returned ? e.recipient : "--";
    default: return {};
  }
}

int CompareQueueEntries(ItemValue a, ItemValue b, uint32_t sortParameter) {
  const QueueListEntry& x = EntryOf(a);
  const QueueListEntry& y = EntryOf(b);
  const int column = static_cast<int>(sortParameter & 0xFFFF);
  int r = 0;
  switch (column) {
    case kFrom:
    case kTo:
    case kTransport:
    case kSubject:
    case kStatus:
    case kOrigTo: r = CompareNoCase(QueueColumnText(x, column), QueueColumnText(y, column)); break;
    case kArrival: r = CompareNumbers(x.submitTime, y.submitTime); break;
    case kSchedule: r = CompareNumbers(x.dueTime, y.dueTime); break;
    case kUsage: r = CompareNumbers(x.seconds, y.seconds); break;
    case kTotalPages: r = CompareNumbers(x.totalPages, y.totalPages); break;
    case kSentPages: r = CompareNumbers(x.sentPages, y.sentPages); break;
    case kAttempts: r = CompareNumbers(x.attempts, y.attempts); break;
    case kPriority: r = CompareNumbers(x.priority, y.priority); break;
    default: break;
  }
  return Ordered(r, sortParameter);
}

void ServerFaxList::Fill() { DownloadList(serverName_, RequestCode(), nullptr, 0); }

std::string ServerFaxList::GetItemText(int, ItemValue item, int tableColumn) {
  return QueueColumnText(EntryOf(item), tableColumn);
}

void ServerFaxList::DeleteItemData(ItemValue item) { delete reinterpret_cast<QueueListEntry*>(item); }

ColumnTable ServerFaxList::GetColumnTable() {
  static const ColumnDescriptor kColumns[] = {
      {"From", 110},       {"To", 110},         {"Tx / Rx", 75},    {"Subject", 180},
      {"Arrival Time", 110}, {"Schedule Time", 110}, {"Usage Time", 110}, {"Total Pages", 75},
      {"Sent Pages", 75},  {"Status", 80},      {"Unsuccessful Attempts", 125}, {"Priority", 60},
      {"Orig. To", 110}};
  return {kColumns, 13};
}

int ServerFaxList::AddItemFromText(int rowIndex, const char* line, int) {
  auto* entry = new QueueListEntry(line);
  if (model_->InsertRow(rowIndex, reinterpret_cast<ItemValue>(entry))) return 1;
  delete entry;
  return 0;
}

const QueueListEntry& ServerFaxList::Entry(int row) const { return EntryOf(model_->GetRow(row).item); }

void ServerFaxList::OnDeleteItems() { ConfirmDeleteSelected(IsGlobalList() ? 4020 : 4030); }

void ServerFaxList::OnUpdateDeleteItems(CommandUi& ui) { ui.Enable(model_->SelectedCount() > 0); }

RequestResult ServerFaxList::DeleteItemOnServer(int row, int parameter) {
  const RequestResult result =
      client_.SendNumber(serverName_.c_str(), static_cast<uint32_t>(parameter), static_cast<uint32_t>(Entry(row).jobId));
  // The job was being sent: its transmission is aborted and it stays listed.
  if (result.status == kStatusMarkedForDeletion)
    reinterpret_cast<QueueListEntry*>(model_->GetRow(row).item)->state = JobState::UserCanceled;
  return result;
}

bool ServerFaxList::HandleCommand(int id) {
  if (id == kCmdDelete && !IsJournal()) {
    OnDeleteItems();
    return true;
  }
  if (id == kCmdTotalUsageTime && IsJournal()) {
    ShowTotalUsageTime();
    return true;
  }
  return false;
}

bool ServerFaxList::UpdateCommand(int id, CommandUi& ui) {
  if (id == kCmdDelete && !IsJournal()) {
    OnUpdateDeleteItems(ui);
    return true;
  }
  if (id == kCmdTotalUsageTime && IsJournal()) {
    ui.Enable(model_->RowCount() > 0);
    return true;
  }
  return false;
}

void ServerFaxList::ShowTotalUsageTime() {
  const bool selected = model_->SelectedCount() > 0;
  int64_t seconds = 0;
  for (int i = 0; i < model_->RowCount(); ++i)
    if (!selected || model_->IsSelected(i)) seconds += Entry(i).seconds;
  TotalUsageTime(model_->ui(), selected, seconds);
}

bool ServerGlobalJournal::HandleCommand(int id) {
  if (id != kCmdClearJournal) return ServerJournal::HandleCommand(id);
  ClearJournal();
  return true;
}

bool ServerGlobalJournal::UpdateCommand(int id, CommandUi& ui) {
  if (id != kCmdClearJournal) return ServerJournal::UpdateCommand(id, ui);
  ui.Enable(true);
  return true;
}

void ServerGlobalJournal::ClearJournal() {
  UiServices& ui = model_->ui();
  if (ui.Message("Are you sure you want to delete the journal?", "Confirm Delete Journal", desktop::Buttons::YesNo,
                 desktop::Icon::Question) != desktop::Answer::Yes)
    return;
  ui.BeginWaitCursor();
  const RequestResult result = client_.SendCommand(serverName_.c_str(), 2212);
  if (result.status != 0)
    ShowText(ui, result.text);
  else
    model_->OnCommand(kCmdRefreshList);
  ui.EndWaitCursor();
}

namespace {
template <size_t N>
ColumnOrder Order(const int (&entries)[N]) {
  return {entries, static_cast<int>(N)};
}
}  // namespace

ColumnOrder ServerGlobalRxQueue::GetColumnOrder() {
  static const int kOrder[] = {kFrom, kTo, kSubject, kArrival, kTotalPages, kStatus, kPriority, kOrigTo};
  return Order(kOrder);
}

ColumnOrder ServerPersonalRxQueue::GetColumnOrder() {
  static const int kOrder[] = {kFrom, kSubject, kArrival, kTotalPages, kStatus, kPriority, kOrigTo};
  return Order(kOrder);
}

ColumnOrder ServerGlobalTxQueue::GetColumnOrder() {
  static const int kOrder[] = {kFrom,      kTo,      kSubject,  kArrival, kSchedule,
                               kTotalPages, kSentPages, kStatus, kAttempts, kPriority};
  return Order(kOrder);
}

ColumnOrder ServerPersonalTxQueue::GetColumnOrder() {
  static const int kOrder[] = {kTo, kSubject, kArrival, kSchedule, kTotalPages, kSentPages, kStatus, kAttempts,
                               kPriority};
  return Order(kOrder);
}

}  // namespace korvo::manager
