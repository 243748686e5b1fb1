// The object behind the list of the manager's right pane: where its items
// come from, its columns, how an item is drawn as text, compared, opened,
// added, edited and deleted, and its popup menu. Concrete lists override the
// virtual operations; the list model drives them.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/faxclient.h"
#include "common/request_exchange.h"

namespace korvo::manager {

class ListModel;

// A row's item value: as a rule an item object the list made and frees in
// DeleteItemData.
using ItemValue = uintptr_t;

// Sort parameter: low 16 bits the table column, high 16 bits 1 for descending.
using CompareFunction = int (*)(ItemValue a, ItemValue b, uint32_t sortParameter);

struct ColumnDescriptor {
  const char* title;
  int width;  // default width in pixels
};

// A list's offer of columns in its own fixed order; the order, when given,
// names the shown columns left to right by table index.
struct ColumnTable {
  const ColumnDescriptor* entries = nullptr;
  int count = 0;
};
struct ColumnOrder {
  const int* entries = nullptr;
  int count = 0;
};

// What the tree tells a list when it is opened: the selected node's text,
// its parent's (the server for a folder under a server node) and its
// children's, in tree order (the folder lists show them).
struct TreeSelection {
  std::string nodeText;
  bool hasParent = false;
  std::string parentText;
  std::vector<std::string> children = {};
};

// Enabling of a command in a menu or toolbar.
struct CommandUi {
  bool enabled = true;
  void Enable(bool on) { enabled = on; }
};

// Thrown by AddItemFromText (or raised while reading) when a downloaded list
// cannot be taken further; the rows added so far stay.
class ListFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ListContext {
 public:
  ListContext();
  virtual ~ListContext() = default;
  ListContext(const ListContext&) = delete;
  ListContext& operator=(const ListContext&) = delete;

  virtual void Fill() {}
  virtual void OpenItem(int /*row*/) {}
  // The cell text of an item at a table column.
  virtual std::string GetItemText(int /*row*/, ItemValue /*item*/, int /*tableColumn*/) { return {}; }
  virtual CompareFunction GetCompareFunction() { return nullptr; }
  virtual int GetDefaultSortColumn() { return -1; }
  virtual int GetMenuIndex() { return -1; }
  virtual void SetTitle();
  virtual void DeleteItemData(ItemValue /*item*/) {}
  virtual void OnAddItem() {}
  virtual void OnEditItem() {}
  virtual void OnDeleteItems() {}
  virtual void OnUpdateAddItem(CommandUi& ui) { ui.Enable(false); }
  virtual void OnUpdateEditItem(CommandUi& ui) { ui.Enable(false); }
  virtual void OnUpdateDeleteItems(CommandUi& ui) { ui.Enable(false); }
  virtual RequestResult SendItem(int /*row*/, int /*parameter*/) { return {}; }
  virtual RequestResult DispatchItem(int /*row*/, int /*parameter*/) { return {}; }
  virtual ColumnTable GetColumnTable() { return {}; }
  virtual ColumnOrder GetColumnOrder() { return {}; }
  // Nonzero when the line became a row.
  virtual int AddItemFromText(int /*rowIndex*/, const char* /*line*/, int /*parameter*/) { return 0; }
  virtual RequestResult DeleteItemOnServer(int /*row*/, int /*parameter*/) { return {}; }

  // The list's own commands (its popup menu); the base has none. True when
  // the command is the list's.
  virtual bool HandleCommand(int /*id*/) { return false; }
  virtual bool UpdateCommand(int /*id*/, CommandUi& /*ui*/) { return false; }

  void Attach(ListModel* model, const TreeSelection& tree);
  // Widths from the settings into the model's columns.
  void LoadColumns();
  void SaveColumnWidths();
  // Display position to table index and back, through the column order.
  int TableColumn(int displayPosition);
  int DisplayPosition(int tableIndex);
  void Clear();
  int FreeAllItemData();
  void ConfirmDeleteSelected(int parameter);
  // Rows added, or -1 when the request failed. An empty server name lists
  // the local address book.
  int DownloadList(const std::string& server, uint32_t code, const char* selector, int parameter);
  // The popup's caption in the main menu; empty when the list has none.
  std::string GetMenuCaption();
  std::string SettingsKey() const { return "Korvo Manager\\" + title_; }
  std::string GetTitle() const { return title_; }
  const std::string& GetServerName() const { return serverName_; }
  const std::vector<ColumnDescriptor>& GetColumns() const { return columns_; }

  static constexpr size_t kLineSize = 512;

 protected:
  ListModel* model_ = nullptr;
  TreeSelection tree_;
  std::string serverName_;
  std::string title_;
  FaxClient client_;
  std::vector<ColumnDescriptor> columns_;
};

// A run-time class record: a list context is made from the record the tree
// node carries.
struct ListClass {
  const char* name;
  std::unique_ptr<ListContext> (*create)();
};

template <class T>
std::unique_ptr<ListContext> CreateList() {
  return std::make_unique<T>();
}

extern const ListClass kListContextClass;

// One record of the server's event log list.
struct EventLogEntry {
  explicit EventLogEntry(const std::string& line);
  std::string kind;  // "Event" or "Error"
  int number = 0;
  std::string text;
};

}  // namespace korvo::manager
