// The Registered Users of a server: names, descriptions and rights, added,
// edited and deleted by an administrator; the server keeps its own rules
// (no deleting "Administrator", no second user of a name).
#pragma once

#include <cstdint>
#include <string>

#include "common/entries.h"
#include "manager/book_list.h"

namespace korvo::manager {

// The Permissions column: "Adm. ", "Disp. ", "Addr. " for the rights held.
std::string PermissionsText(uint32_t rights);
// The rights the Add User dialog writes: own boxes and 0x20 always, then the
// ticked boxes.
uint32_t RightsFromChecks(bool globalBook, bool dispatch, bool administration);

class RegUsersBook : public BookList<RegisteredUserEntry> {
 public:
  void Fill() override;
  std::string GetItemText(int row, ItemValue item, int tableColumn) override;
  CompareFunction GetCompareFunction() override;
  int GetDefaultSortColumn() override { return 0; }
  int GetMenuIndex() override { return 6; }
  ColumnTable GetColumnTable() override;
  RequestResult DeleteItemOnServer(int row, int parameter) override;

 protected:
  BookCommands Commands() const override { return {32786, 0, 32788, 32787}; }
  void Add() override;
  void Edit(int row) override;
};

extern const ListClass kRegUsersBookClass;

}  // namespace korvo::manager
