// The Denied Access Book of a server: the senders whose faxes the server
// refuses, by station identifier, with a name or comment.
#pragma once

#include "common/entries.h"
#include "manager/book_list.h"

namespace korvo::manager {

class JunkSendersBook : public BookList<JunkSenderEntry> {
 public:
  void Fill() override;
  std::string GetItemText(int row, ItemValue item, int tableColumn) override;
  CompareFunction GetCompareFunction() override;
  int GetDefaultSortColumn() override { return 0; }
  int GetMenuIndex() override { return 12; }
  ColumnTable GetColumnTable() override;
  RequestResult DeleteItemOnServer(int row, int parameter) override;

 protected:
  BookCommands Commands() const override { return {32866, 0, 32868, 32867}; }
  void Add() override;
  void Edit(int row) override;
};

extern const ListClass kJunkSendersBookClass;

}  // namespace korvo::manager
