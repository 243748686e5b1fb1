// Lists of a tree node's children by name: the personal folders, the
// servers, a server's folders. Opening a row opens that child as if it had
// been selected in the tree (row i is the i-th child: the rows keep the
// tree's order).
#pragma once

#include <string>
#include <vector>

#include "manager/list_context.h"

namespace korvo::manager {

class StringList : public ListContext {
 public:
  static constexpr int kCmdOpen = 32803;

  void OpenItem(int row) override;
  std::string GetItemText(int row, ItemValue item, int tableColumn) override;
  int GetMenuIndex() override { return 8; }
  bool HandleCommand(int id) override;
  bool UpdateCommand(int id, CommandUi& ui) override;

 protected:
  // The rows: the selected node's children, in tree order.
  void FillWithChildren();
};

class UserFolders : public StringList {
 public:
  void Fill() override { FillWithChildren(); }
  ColumnTable GetColumnTable() override;
};

class ServerFolders : public StringList {
 public:
  void Fill() override { FillWithChildren(); }
  ColumnTable GetColumnTable() override;
  // Every server node shares one settings key.
  void SetTitle() override { title_ = "Server Folders"; }
};

class ListOfServers : public StringList {
 public:
  void Fill() override { FillWithChildren(); }
  ColumnTable GetColumnTable() override;
};

extern const ListClass kStringListClass;
extern const ListClass kUserFoldersClass;
extern const ListClass kServerFoldersClass;
extern const ListClass kListOfServersClass;

}  // namespace korvo::manager
