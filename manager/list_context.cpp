#include "manager/list_context.h"

#include <cstdlib>
#include <new>

#include "common/settings.h"
#include "common/status_codes.h"
#include "common/stream.h"
#include "common/userenvironment.h"
#include "manager/list_model.h"
#include "platform/file_io.h"
#include "platform/lasterror.h"

namespace korvo::manager {

const ListClass kListContextClass{"ListContext", &CreateList<ListContext>};

ListContext::ListContext() { columns_.reserve(12); }

void ListContext::SetTitle() { title_ = tree_.nodeText; }

void ListContext::Attach(ListModel* model, const TreeSelection& tree) {
  model_ = model;
  tree_ = tree;
  SetTitle();
  columns_.clear();
  const ColumnTable table = GetColumnTable();
  const ColumnOrder order = GetColumnOrder();
  if (order.entries) {
    for (int i = 0; i < order.count; ++i)
      if (order.entries[i] >= 0 && order.entries[i] < table.count) columns_.push_back(table.entries[order.entries[i]]);
  } else {
    for (int i = 0; i < table.count; ++i) columns_.push_back(table.entries[i]);
  }
  if (tree.hasParent) serverName_ = tree.parentText;
}

void ListContext::LoadColumns() {
  const std::string key = SettingsKey();
  for (size_t i = 0; i < columns_.size(); ++i) {
    uint32_t width = 0;
    int w = model_->ui().DefaultColumnWidth(columns_[i].title, columns_[i].width);
    if (KvReadRegUserDword(key.c_str(), columns_[i].title, &width)) w = static_cast<int>(width);
    model_->InsertColumn(static_cast<int>(i), columns_[i].title, w);
  }
}

void ListContext::SaveColumnWidths() {
  const std::string key = SettingsKey();
  for (size_t i = 0; i < columns_.size() && static_cast<int>(i) < model_->ColumnCount(); ++i)
    KvWriteRegUserDword(key.c_str(), columns_[i].title,
                        static_cast<uint32_t>(model_->GetColumn(static_cast<int>(i)).width));
}

int ListContext::TableColumn(int displayPosition) {
  const ColumnOrder order = GetColumnOrder();
  if (order.entries && displayPosition >= 0 && displayPosition < order.count) return order.entries[displayPosition];
  return displayPosition;
}

int ListContext::DisplayPosition(int tableIndex) {
  const ColumnOrder order = GetColumnOrder();
  if (!order.entries) return tableIndex;
  for (int i = 0; i < order.count; ++i)
    if (order.entries[i] == tableIndex) return i;
  return -1;
}

void ListContext::Clear() {
  FreeAllItemData();
  model_->DeleteAllRows();
  while (model_->ColumnCount() > 0) model_->DeleteColumn(0);
}

int ListContext::FreeAllItemData() {
  const int n = model_->RowCount();
  for (int i = 0; i < n; ++i) DeleteItemData(model_->GetRow(i).item);
  return n;
}

void ListContext::ConfirmDeleteSelected(int parameter) {
  if (model_->ui().Message("Are you sure you want to delete selected item(s)?", "Confirm Delete Item(s)",
                           desktop::Buttons::YesNo, desktop::Icon::Question) != desktop::Answer::Yes)
    return;
  model_->ProcessSelectedRows(
      [](ListContext& list, int row, int p) { return list.DeleteItemOnServer(row, p); }, parameter);
}

int ListContext::DownloadList(const std::string& server, uint32_t code, const char* selector, int parameter) {
  // The list file is made open and read through the one handle; the local
  // book writes its list by name, so that case reopens it.
  TextFile file;
  const bool made = FaxClient::MakeTempFile(GetUserEnvironment().GetDataPath(), "LST", file);
  const std::string name = made ? file.GetFileName() : std::string();
  RequestResult result(kStatusGetFileFromServer);
  if (made && server.empty()) {
    file.Close();
    result = client_.DownloadList(nullptr, code, selector, FileRef(name));
  } else if (made) {
    result = client_.DownloadList(server.c_str(), code, selector, FileRef(file));
  }
  // A refused request must not leave its file behind: every refresh tick
  // against a server that is down would add one.
  if (result.status != 0) {
    file.Close();
    FaxClient::DeleteTempFile(name);
    ShowText(model_->ui(), result.text);
    return -1;
  }
  int count = 0;
  auto fileError = [&] {
    ShowText(model_->ui(), "File error occured while processing a list received from server.\nSome items may be lost");
    file.Close();
  };
  try {
    const bool ready = server.empty() ? file.Open(name.c_str()) != 0 : file.SeekToBegin() == 0;
    if (!ready) throw ListFileError("list file");
    char line[kLineSize];
    while (file.ReadLine(line, sizeof line))
      if (AddItemFromText(count, line, parameter)) ++count;
    // A failed read ends the lines as the end of the file does; only the end
    // is no error.
    if (platform::GetLastError() != platform::kErrorHandleEof) throw ListFileError("list file read");
    file.Close();
  } catch (const ListFileError&) {
    fileError();
  } catch (const std::bad_alloc&) {
    fileError();
  }
  FaxClient::DeleteTempFile(name);
  return count;
}

std::string ListContext::GetMenuCaption() {
  // By popup index: the five fax lists, then the books, modems, folders and logs.
  static const char* const kCaptions[] = {"&Fax",   "&Fax",  "&Fax",      "&Fax",     "&Fax",     "&Address", "&User",
                                          "M&odem", "&List", "&EventLog", "&Journal", "&Journal", "S&ender"};
  const int index = GetMenuIndex();
  if (index < 0 || index >= static_cast<int>(std::size(kCaptions))) return {};
  return kCaptions[index];
}

EventLogEntry::EventLogEntry(const std::string& line) {
  std::string fields[3];
  size_t start = 0;
  for (int i = 0; i < 3 && start <= line.size(); ++i) {
    size_t end = line.find('\x1b', start);
    if (end == std::string::npos) end = line.size();
    fields[i] = line.substr(start, end - start);
    start = end + 1;
  }
  kind = std::atoi(fields[0].c_str()) == 4 ? "Event" : "Error";
  number = std::atoi(fields[1].c_str());
  text = fields[2];
}

}  // namespace korvo::manager
