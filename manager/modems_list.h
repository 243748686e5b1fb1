// The Modems of a server: every field of every modem configuration in
// fifteen columns. The configuration dialog sends its own add or edit, so a
// row is added or changed once the dialog ended with OK.
#pragma once

#include <string>

#include "common/modem_record.h"
#include "manager/book_list.h"

namespace korvo::manager {

// The configuration dialog's OK: in edit mode request 8030, else 8020,
// which gives the record the id the server chose.
RequestResult SubmitModem(ModemRecord& record, bool editMode, const std::string& server);

// The shown text of a record's field, by table column.
std::string ModemColumnText(const ModemRecord& record, int tableColumn);

class ModemsList : public BookList<ModemRecord> {
 public:
  void Fill() override;
  std::string GetItemText(int row, ItemValue item, int tableColumn) override;
  CompareFunction GetCompareFunction() override;
  int GetDefaultSortColumn() override { return 0; }
  int GetMenuIndex() override { return 7; }
  ColumnTable GetColumnTable() override;
  RequestResult DeleteItemOnServer(int row, int parameter) override;

 protected:
  BookCommands Commands() const override { return {32789, 32808, 32791, 32790}; }
  void Add() override;
  void Copy(int row) override;
  void Edit(int row) override;

 private:
  void AddWithDialog(const ModemRecord& start, const std::string& title);
};

extern const ListClass kModemsListClass;

}  // namespace korvo::manager
