#include "manager/server_log.h"

#include "manager/list_formats.h"
#include "manager/list_model.h"

namespace korvo::manager {

const ListClass kServerLogClass{"ServerLog", &CreateList<ServerLog>};

namespace {

const EventLogEntry& Entry(ItemValue item) { return *reinterpret_cast<const EventLogEntry*>(item); }

int CompareEntries(ItemValue a, ItemValue b, uint32_t sortParameter) {
  const EventLogEntry& x = Entry(a);
  const EventLogEntry& y = Entry(b);
  int r = 0;
  switch (sortParameter & 0xFFFF) {
    case 0: r = CompareNoCase(x.kind, y.kind); break;
    case 1: r = CompareNumbers(x.number, y.number); break;
    case 2: r = CompareNoCase(x.text, y.text); break;
    default: break;
  }
  return Ordered(r, sortParameter);
}

}  // namespace

void ServerLog::Fill() { DownloadList(serverName_, 2200, nullptr, 0); }

std::string ServerLog::GetItemText(int, ItemValue item, int tableColumn) {
  switch (tableColumn) {
    case 0: return Entry(item).kind;
    case 1: return FormatListDate(static_cast<uint32_t>(Entry(item).number));
    case 2: return Entry(item).text;
    default: return {};
  }
}

CompareFunction ServerLog::GetCompareFunction() { return &CompareEntries; }

void ServerLog::DeleteItemData(ItemValue item) { delete reinterpret_cast<EventLogEntry*>(item); }

ColumnTable ServerLog::GetColumnTable() {
  static const ColumnDescriptor kColumns[] = {{"Type", 60}, {"Time", 110}, {"Description", 330}};
  return {kColumns, 3};
}

int ServerLog::AddItemFromText(int rowIndex, const char* line, int) {
  auto* entry = new EventLogEntry(line);
  if (model_->InsertRow(rowIndex, reinterpret_cast<ItemValue>(entry))) return 1;
  delete entry;
  return 0;
}

bool ServerLog::HandleCommand(int id) {
  if (id != kCmdClearLog) return false;
  ClearLog();
  return true;
}

bool ServerLog::UpdateCommand(int id, CommandUi& ui) {
  if (id != kCmdClearLog) return false;
  ui.Enable(true);
  return true;
}

void ServerLog::ClearLog() {
  UiServices& ui = model_->ui();
  if (ui.Message("Are you sure you want to delete the event log?", "Confirm Delete Log", desktop::Buttons::YesNo,
                 desktop::Icon::Question) != desktop::Answer::Yes)
    return;
  ui.BeginWaitCursor();
  const RequestResult result = client_.SendCommand(serverName_.c_str(), 2202);
  if (result.status != 0)
    ShowText(ui, result.text);
  else
    model_->OnCommand(kCmdRefreshList);
  ui.EndWaitCursor();
}

}  // namespace korvo::manager
