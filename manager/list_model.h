// What the list control holds and what the list view does with it, without
// windows: rows with their item values and state bits, the shown columns and
// their widths, sorting, the batches over selected rows, the sort and
// refresh settings and the refresh timer. The window draws from it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "manager/list_context.h"
#include "manager/manager_ids.h"
#include "manager/ui_services.h"

namespace korvo::manager {

// Row state bits, as the list control numbers them.
inline constexpr uint32_t kRowFocused = 0x1;
inline constexpr uint32_t kRowSelected = 0x2;

// How a column places its texts.
enum class Align { Left, Right, Centre };

class ListModel {
 public:
  struct Row {
    ItemValue item = 0;
    uint32_t state = 0;
  };
  struct Column {
    std::string title;
    int width = 0;
    Align align = Align::Left;
  };
  struct SortState {
    int column = -1;  // display position, -1 none
    int descending = 0;
  };
  struct RefreshState {
    int enabled = 0;
    int interval = 60;  // seconds
    int busy = 0;
  };

  static constexpr int kMinInterval = 3;
  static constexpr int kMaxInterval = 36000;
  static constexpr int kDefaultInterval = 60;
  static constexpr int kTimerId = 1;

  explicit ListModel(UiServices& ui) : ui_(ui) {}
  ~ListModel();
  ListModel(const ListModel&) = delete;
  ListModel& operator=(const ListModel&) = delete;

  // Closes the open list, then opens one made from the class record.
  void Open(const ListClass& cls, const TreeSelection& tree);
  // Saves the list's settings and widths, removes rows and columns, deletes it.
  void Close();
  // "Refresh List" and the timer: the rows again, settings kept.
  void Refill();
  ListContext* current() const { return list_.get(); }
  UiServices& ui() { return ui_; }

  // The view's commands, then the open list's own. True when handled.
  bool OnCommand(int id);
  bool OnUpdateCommand(int id, CommandUi& ui);
  // Enter opens the row when exactly one is selected; a double click opens
  // the row under the pointer (-1: none).
  void OnEnter();
  void OnDoubleClick(int row);
  // A folder list's row opened: the tree selects the child at that
  // position. The handler must not close the list while it runs (the tree
  // opens the child's list later, as the view does).
  void SetOpenRowHandler(std::function<void(int row)> handler) { openRow_ = std::move(handler); }
  void OpenRow(int row) {
    if (openRow_) openRow_(row);
  }

  // Rows.
  bool InsertRow(int index, ItemValue item);
  bool AddRow(ItemValue item);
  void UpdateRow(int index);
  void DeleteRow(int index);
  void DeleteAllRows() { rows_.clear(); }
  int RowCount() const { return static_cast<int>(rows_.size()); }
  const Row& GetRow(int index) const { return rows_[static_cast<size_t>(index)]; }
  bool IsSelected(int row) const;
  bool IsFocused(int row) const;
  int FirstSelected() const;
  int LastSelected() const;
  int FirstFocused() const;
  int SelectedCount() const;
  void FocusRowIfNoneSelected(int row);
  void SetRowState(int row, uint32_t bits);
  void ClearRowState(int row, uint32_t bits);
  // The text of a cell at a display position, asked of the list.
  std::string CellText(int row, int displayPosition);

  // Columns, at display positions.
  void InsertColumn(int position, const std::string& title, int width, Align align = Align::Left);
  void DeleteColumn(int position);
  int ColumnCount() const { return static_cast<int>(columns_.size()); }
  const Column& GetColumn(int position) const { return columns_[static_cast<size_t>(position)]; }
  void SetColumnWidth(int position, int width) { columns_[static_cast<size_t>(position)].width = width; }

  // The per-row batches; operation and function get the list, the row and
  // the parameter.
  using RowOperation = std::function<RequestResult(ListContext&, int row, int parameter)>;
  void ProcessSelectedRows(const RowOperation& operation, int parameter);
  void RunOnSelectedRows(const RowOperation& function, int parameter);

  // Sorting.
  void ClickColumn(int displayPosition);
  void Sort();
  std::string GetSortCaption() const;
  const SortState& sort() const { return sort_; }
  void LoadSortSettings();
  void SaveSortSettings();

  // Periodic refresh.
  void LoadRefreshSettings();
  void SaveRefreshSettings();
  void EnableRefresh();
  void DisableRefresh();
  // Takes a new interval (the dialog has checked it) and restarts the timer
  // when refresh is on.
  void SetRefreshInterval(int seconds);
  void OnTimer(int id);
  const RefreshState& refresh() const { return refresh_; }

 private:
  void StartTimer();
  void FocusFirstIfNoneSelected() { FocusRowIfNoneSelected(0); }

  UiServices& ui_;
  std::unique_ptr<ListContext> list_;
  std::vector<Row> rows_;
  std::vector<Column> columns_;
  SortState sort_;
  RefreshState refresh_;
  std::function<void(int)> openRow_;
};

// The Refresh Interval dialog's check of its one number.
bool RefreshIntervalAccepted(long seconds);

// A cell text fitted into width pixels with offset pixels of margin, as
// measured by measure: whole when it fits, else cut from the end with "..."
// appended, at least one character kept. shortened tells whether it was cut.
std::string ShortenText(const std::string& text, int width, int offset,
                        const std::function<int(const std::string&)>& measure, bool* shortened = nullptr);

// A cell's text as drawn into a column width pixels wide: shortened with
// offset pixels of margin, and x, where it starts from the column's left
// edge, offset / 2 in from either side by the column's alignment. A text that
// had to be shortened starts at the left, whatever the alignment.
struct CellPlacement {
  std::string text;
  int x = 0;
};
CellPlacement PlaceCellText(const std::string& text, int width, int offset, Align align,
                            const std::function<int(const std::string&)>& measure);

}  // namespace korvo::manager
