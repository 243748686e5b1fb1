// The server's event log as a list: kind, time and text of every entry,
// opened sorted by time; an administrator can clear it.
#pragma once

#include "manager/list_context.h"

namespace korvo::manager {

class ServerLog : public ListContext {
 public:
  static constexpr int kCmdClearLog = 32856;

  void Fill() override;
  std::string GetItemText(int row, ItemValue item, int tableColumn) override;
  CompareFunction GetCompareFunction() override;
  int GetDefaultSortColumn() override { return 1; }
  int GetMenuIndex() override { return 9; }
  void DeleteItemData(ItemValue item) override;
  ColumnTable GetColumnTable() override;
  int AddItemFromText(int rowIndex, const char* line, int parameter) override;
  bool HandleCommand(int id) override;
  bool UpdateCommand(int id, CommandUi& ui) override;

  void ClearLog();
};

extern const ListClass kServerLogClass;

}  // namespace korvo::manager
