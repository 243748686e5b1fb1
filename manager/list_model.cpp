#include "manager/list_model.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "common/settings.h"
#include "common/status_codes.h"

namespace korvo::manager {
namespace {

std::string Format(const char* format, int value) {
  char text[260];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

void Inform(UiServices& ui, const std::string& text) {
  ui.Message(text, "Korvo Manager", desktop::Buttons::Ok, desktop::Icon::Information);
}

constexpr const char* kAborted =
    "Processing of selected items aborted because an error occured;\n%d selected item(s) left unprocessed.";

}  // namespace

ListModel::~ListModel() { Close(); }

void ListModel::Open(const ListClass& cls, const TreeSelection& tree) {
  Close();
  list_ = cls.create();
  list_->Attach(this, tree);
  list_->LoadColumns();
  ui_.BeginWaitCursor();
  list_->Fill();
  LoadSortSettings();
  LoadRefreshSettings();
  Sort();
  FocusFirstIfNoneSelected();
  ui_.EndWaitCursor();
}

void ListModel::Close() {
  if (!list_) return;
  SaveRefreshSettings();
  SaveSortSettings();
  list_->SaveColumnWidths();
  list_->Clear();
  list_.reset();
  sort_ = {};
  refresh_ = {};
}

void ListModel::Refill() {
  if (!list_) return;
  ui_.BeginWaitCursor();
  list_->FreeAllItemData();
  DeleteAllRows();
  list_->Fill();
  Sort();
  FocusFirstIfNoneSelected();
  ui_.EndWaitCursor();
}

bool ListModel::OnCommand(int id) {
  switch (id) {
    case kCmdRefreshList: Refill(); return true;
    case kCmdAddItem: if (list_) list_->OnAddItem(); return true;
    case kCmdEditItem: if (list_) list_->OnEditItem(); return true;
    case kCmdDeleteItems: if (list_) list_->OnDeleteItems(); return true;
    case kCmdEnableRefresh: EnableRefresh(); return true;
    case kCmdDisableRefresh: DisableRefresh(); return true;
    case kCmdChangeRefreshInterval:
      if (const std::optional<int> seconds = ui_.AskRefreshInterval(refresh_.interval)) SetRefreshInterval(*seconds);
      return true;
    default: return list_ && list_->HandleCommand(id);
  }
}

bool ListModel::OnUpdateCommand(int id, CommandUi& ui) {
  switch (id) {
    case kCmdRefreshList: ui.Enable(list_ != nullptr); return true;
    case kCmdAddItem:
    case kCmdEditItem:
    case kCmdDeleteItems:
      ui.Enable(false);
      if (list_ && id == kCmdAddItem) list_->OnUpdateAddItem(ui);
      if (list_ && id == kCmdEditItem) list_->OnUpdateEditItem(ui);
      if (list_ && id == kCmdDeleteItems) list_->OnUpdateDeleteItems(ui);
      return true;
    case kCmdEnableRefresh: ui.Enable(!refresh_.enabled); return true;
    case kCmdDisableRefresh: ui.Enable(refresh_.enabled != 0); return true;
    case kCmdChangeRefreshInterval: return false;  // always available
    default: return list_ && list_->UpdateCommand(id, ui);
  }
}

void ListModel::OnEnter() {
  if (list_ && SelectedCount() == 1) list_->OpenItem(FirstSelected());
}

void ListModel::OnDoubleClick(int row) {
  if (list_ && row >= 0 && row < RowCount()) list_->OpenItem(row);
}

bool ListModel::InsertRow(int index, ItemValue item) {
  if (index < 0) return false;
  const size_t at = std::min(static_cast<size_t>(index), rows_.size());
  rows_.insert(rows_.begin() + static_cast<ptrdiff_t>(at), Row{item, 0});
  return true;
}

bool ListModel::AddRow(ItemValue item) {
  if (!InsertRow(RowCount(), item)) return false;
  if (RowCount() == 1 && FirstSelected() < 0) SetRowState(0, kRowFocused);
  Sort();
  return true;
}

void ListModel::UpdateRow(int /*index*/) { Sort(); }

void ListModel::DeleteRow(int index) {
  if (index < 0 || index >= RowCount()) return;
  ClearRowState(index, kRowSelected | kRowFocused);
  if (list_) list_->DeleteItemData(rows_[static_cast<size_t>(index)].item);
  rows_.erase(rows_.begin() + index);
}

bool ListModel::IsSelected(int row) const {
  return row >= 0 && row < RowCount() && (rows_[static_cast<size_t>(row)].state & kRowSelected);
}

bool ListModel::IsFocused(int row) const {
  return row >= 0 && row < RowCount() && (rows_[static_cast<size_t>(row)].state & kRowFocused);
}

int ListModel::FirstSelected() const {
  for (int i = 0; i < RowCount(); ++i)
    if (IsSelected(i)) return i;
  return -1;
}

int ListModel::LastSelected() const {
  for (int i = RowCount() - 1; i >= 0; --i)
    if (IsSelected(i)) return i;
  return -1;
}

int ListModel::FirstFocused() const {
  for (int i = 0; i < RowCount(); ++i)
    if (IsFocused(i)) return i;
  return -1;
}

int ListModel::SelectedCount() const {
  return static_cast<int>(std::count_if(rows_.begin(), rows_.end(), [](const Row& r) { return r.state & kRowSelected; }));
}

void ListModel::FocusRowIfNoneSelected(int row) {
  if (RowCount() > 0 && FirstSelected() < 0) SetRowState(row, kRowFocused);
}

void ListModel::SetRowState(int row, uint32_t bits) {
  if (row < 0 || row >= RowCount()) return;
  // One row at most has the focus.
  if (bits & kRowFocused)
    for (Row& r : rows_) r.state &= ~kRowFocused;
  rows_[static_cast<size_t>(row)].state |= bits;
}

void ListModel::ClearRowState(int row, uint32_t bits) {
  if (row >= 0 && row < RowCount()) rows_[static_cast<size_t>(row)].state &= ~bits;
}

std::string ListModel::CellText(int row, int displayPosition) {
  if (!list_ || row < 0 || row >= RowCount()) return {};
  return list_->GetItemText(row, rows_[static_cast<size_t>(row)].item, list_->TableColumn(displayPosition));
}

void ListModel::InsertColumn(int position, const std::string& title, int width, Align align) {
  const size_t at = std::min(static_cast<size_t>(std::max(position, 0)), columns_.size());
  columns_.insert(columns_.begin() + static_cast<ptrdiff_t>(at), Column{title, width, align});
}

void ListModel::DeleteColumn(int position) {
  if (position >= 0 && position < ColumnCount()) columns_.erase(columns_.begin() + position);
}

void ListModel::ProcessSelectedRows(const RowOperation& operation, int parameter) {
  if (!list_) return;
  // Rows not yet handled: neither removed nor marked for deletion.
  int unprocessed = SelectedCount();
  int lastRemoved = -1;
  int lastMarked = -1;
  int marked = 0;
  for (int row = RowCount() - 1; row >= 0; --row) {
    if (!IsSelected(row)) continue;
    const RequestResult result = operation(*list_, row, parameter);
    if (result.status == 0) {
      DeleteRow(row);
      lastRemoved = row;
      // The walk goes upwards, so a removal moves the marked row up by one.
      if (lastMarked > row) --lastMarked;
      --unprocessed;
    } else if (result.status == kStatusMarkedForDeletion) {
      ClearRowState(row, kRowSelected | kRowFocused);
      lastMarked = row;
      ++marked;
      --unprocessed;
    } else {
      ShowText(ui_, result.text);
      ShowText(ui_, Format(kAborted, unprocessed));
      break;
    }
  }
  if (marked > 0) {
    FocusRowIfNoneSelected(lastMarked);
    Inform(ui_, Format("Not all items were deleted: %d item(s) marked for deletion.", marked));
  } else {
    FocusRowIfNoneSelected(lastRemoved <= 1 ? 0 : lastRemoved - 1);
  }
}

void ListModel::RunOnSelectedRows(const RowOperation& function, int parameter) {
  if (!list_) return;
  const int total = SelectedCount();
  int unprocessed = total;
  int last = -1;
  for (int row = RowCount() - 1; row >= 0; --row) {
    if (!IsSelected(row)) continue;
    const RequestResult result = function(*list_, row, parameter);
    if (result.status != 0) {
      ShowText(ui_, result.text);
      ShowText(ui_, Format(kAborted, unprocessed));
      break;
    }
    ClearRowState(row, kRowSelected | kRowFocused);
    last = row;
    --unprocessed;
  }
  if (last >= 0) FocusRowIfNoneSelected(last);
  if (unprocessed == 0) Inform(ui_, Format("%d item(s) successfully processed", total));
}

void ListModel::ClickColumn(int displayPosition) {
  if (displayPosition == sort_.column) {
    sort_.descending = sort_.descending ? 0 : 1;
  } else {
    sort_.column = displayPosition;
    sort_.descending = 0;
  }
  Sort();
}

void ListModel::Sort() {
  if (!list_ || sort_.column < 0 || sort_.column >= ColumnCount()) return;
  const CompareFunction compare = list_->GetCompareFunction();
  if (!compare) return;
  const uint32_t parameter = (static_cast<uint32_t>(sort_.descending) << 16) +
                             (static_cast<uint32_t>(list_->TableColumn(sort_.column)) & 0xFFFF);
  std::stable_sort(rows_.begin(), rows_.end(),
                   [&](const Row& a, const Row& b) { return compare(a.item, b.item, parameter) < 0; });
}

std::string ListModel::GetSortCaption() const {
  if (!list_ || sort_.column < 0 || sort_.column >= ColumnCount()) return "Sort: None";
  return "Sort: " + GetColumn(sort_.column).title + (sort_.descending ? " (inv.)" : "");
}

void ListModel::LoadSortSettings() {
  const std::string key = list_->SettingsKey();
  uint32_t value = 0;
  // A column beyond the shown ones (an edited hive, a list that shows fewer
  // columns now) is as a missing setting.
  if (KvReadRegUserDword(key.c_str(), "Sort Column", &value) && static_cast<int32_t>(value) >= -1 &&
      static_cast<int32_t>(value) < ColumnCount()) {
    sort_.column = static_cast<int32_t>(value);
  } else {
    const int fallback = list_->GetDefaultSortColumn();
    sort_.column = fallback < 0 ? -1 : list_->DisplayPosition(fallback);
  }
  sort_.descending = KvReadRegUserDword(key.c_str(), "Sort Order", &value) ? (value != 0) : 0;
}

void ListModel::SaveSortSettings() {
  const std::string key = list_->SettingsKey();
  KvWriteRegUserDword(key.c_str(), "Sort Column", static_cast<uint32_t>(sort_.column));
  KvWriteRegUserDword(key.c_str(), "Sort Order", static_cast<uint32_t>(sort_.descending));
}

void ListModel::LoadRefreshSettings() {
  const std::string key = list_->SettingsKey();
  uint32_t value = 0;
  refresh_.interval = KvReadRegUserDword(key.c_str(), "Auto Refresh Interval", &value) &&
                              RefreshIntervalAccepted(static_cast<int32_t>(value))
                          ? static_cast<int>(value)
                          : kDefaultInterval;
  refresh_.enabled = KvReadRegUserDword(key.c_str(), "Auto Refresh Enabled", &value) ? (value != 0) : 0;
  refresh_.busy = 0;
  if (refresh_.enabled) StartTimer();
}

void ListModel::SaveRefreshSettings() {
  const std::string key = list_->SettingsKey();
  KvWriteRegUserDword(key.c_str(), "Auto Refresh Interval", static_cast<uint32_t>(refresh_.interval));
  KvWriteRegUserDword(key.c_str(), "Auto Refresh Enabled", static_cast<uint32_t>(refresh_.enabled));
  if (refresh_.enabled) ui_.StopTimer();
  refresh_.enabled = 0;
  refresh_.busy = 0;
}

void ListModel::StartTimer() {
  if (!ui_.StartTimer(refresh_.interval * 1000)) ShowText(ui_, "Couldn't set the timer for automatic list updating");
}

void ListModel::EnableRefresh() {
  refresh_.enabled = 1;
  StartTimer();
}

void ListModel::DisableRefresh() {
  refresh_.enabled = 0;
  ui_.StopTimer();
}

void ListModel::SetRefreshInterval(int seconds) {
  refresh_.interval = seconds;
  if (refresh_.enabled) {
    ui_.StopTimer();
    StartTimer();
  }
}

void ListModel::OnTimer(int id) {
  if (id != kTimerId || !refresh_.enabled) return;
  if (refresh_.busy) {
    refresh_.enabled = 0;
    ui_.StopTimer();
    ShowText(ui_,
             "Periodical list refresh has been disabled because\na refresh operation had been attempted while "
             "preceding\nrefresh operation is pending.");
    return;
  }
  refresh_.busy = 1;
  Refill();
  refresh_.busy = 0;
}

bool RefreshIntervalAccepted(long seconds) {
  return seconds >= ListModel::kMinInterval && seconds <= ListModel::kMaxInterval;
}

std::string ShortenText(const std::string& text, int width, int offset,
                        const std::function<int(const std::string&)>& measure, bool* shortened) {
  if (shortened) *shortened = false;
  if (measure(text) + offset <= width) return text;
  if (shortened) *shortened = true;
  const int dots = measure("...");
  auto isContinuation = [&](size_t i) { return (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80; };
  // Whole characters (UTF-8) go from the end; the first one always stays.
  size_t firstEnd = std::min<size_t>(1, text.size());
  while (firstEnd < text.size() && isContinuation(firstEnd)) ++firstEnd;
  size_t end = text.size();
  while (end > firstEnd) {
    do --end;
    while (end > firstEnd && isContinuation(end));
    if (measure(text.substr(0, end)) + dots + offset <= width) break;
  }
  return text.substr(0, end) + "...";
}

CellPlacement PlaceCellText(const std::string& text, int width, int offset, Align align,
                            const std::function<int(const std::string&)>& measure) {
  bool shortened = false;
  CellPlacement cell{ShortenText(text, width, offset, measure, &shortened), offset / 2};
  if (shortened || align == Align::Left) return cell;
  const int room = width - offset - measure(cell.text);
  cell.x += align == Align::Right ? room : room / 2;
  return cell;
}

}  // namespace korvo::manager
