#include "manager/junk_senders_book.h"

#include "manager/list_formats.h"

namespace korvo::manager {

const ListClass kJunkSendersBookClass{"JunkSendersBook", &CreateList<JunkSendersBook>};

namespace {

int CompareSenders(ItemValue a, ItemValue b, uint32_t sortParameter) {
  const auto& x = *reinterpret_cast<const JunkSenderEntry*>(a);
  const auto& y = *reinterpret_cast<const JunkSenderEntry*>(b);
  int r = 0;
  switch (sortParameter & 0xFFFF) {
    case 0: r = CompareNoCase(x.stationId, y.stationId); break;
    case 1: r = CompareNoCase(x.description, y.description); break;
    default: break;
  }
  return Ordered(r, sortParameter);
}

}  // namespace

void JunkSendersBook::Fill() { DownloadList(serverName_, 7800, "0", 0); }

std::string JunkSendersBook::GetItemText(int, ItemValue item, int tableColumn) {
  const auto& e = *reinterpret_cast<const JunkSenderEntry*>(item);
  return tableColumn == 0 ? e.stationId : tableColumn == 1 ? e.description : std::string();
}

CompareFunction JunkSendersBook::GetCompareFunction() { return &CompareSenders; }

ColumnTable JunkSendersBook::GetColumnTable() {
  static const ColumnDescriptor kColumns[] = {{"Station Identifier", 130}, {"Name / Comment", 120}};
  return {kColumns, 2};
}

RequestResult JunkSendersBook::DeleteItemOnServer(int row, int) {
  return client_.ChangeJunkSender(serverName_.c_str(), FaxClient::kDeleteJunkSender, EntryAt(row));
}

void JunkSendersBook::Add() {
  JunkSenderEntry typed;
  if (!model_->ui().EditJunkSender(typed, false)) return;
  auto entry = std::make_unique<JunkSenderEntry>();
  entry->stationId = typed.stationId;
  entry->description = typed.description;
  int32_t id = 0;
  if (!Accepted(client_.AddJunkSender(serverName_.c_str(), *entry, id))) return;
  entry->id = id;
  Append(std::move(entry));
}

void JunkSendersBook::Edit(int row) {
  JunkSenderEntry copy = EntryAt(row);
  if (!model_->ui().EditJunkSender(copy, true)) return;
  if (!Accepted(client_.ChangeJunkSender(serverName_.c_str(), FaxClient::kEditJunkSender, copy))) return;
  EntryAt(row) = copy;
  model_->UpdateRow(row);
}

}  // namespace korvo::manager
