// The address books as lists: the user's local book (LocBook.kvb, through
// the client's local methods) and a server's global book. Every change goes
// to the book first and reaches the list when the book accepted it.
#pragma once

#include "common/entries.h"
#include "manager/book_list.h"

namespace korvo::manager {

class AddressBook : public BookList<AddressEntry> {
 public:
  std::string GetItemText(int row, ItemValue item, int tableColumn) override;
  CompareFunction GetCompareFunction() override;
  int GetDefaultSortColumn() override { return 0; }
  int GetMenuIndex() override { return 5; }
  ColumnTable GetColumnTable() override;
  RequestResult DeleteItemOnServer(int row, int parameter) override;
  // The server every book request goes to; empty: the local book.
  virtual std::string GetBookServer() { return {}; }

 protected:
  BookCommands Commands() const override { return {32783, 32869, 32785, 32784}; }
  void Add() override { AddWithDialog(AddressEntry(), "Add Address"); }
  void Copy(int row) override { AddWithDialog(EntryAt(row), "Copy Address"); }
  void Edit(int row) override;
  void AddWithDialog(const AddressEntry& start, const std::string& title);
  const char* BookServer();

 private:
  std::string bookServer_;
};

class LocalAddrBook : public AddressBook {
 public:
  void Fill() override;
};

class GlobalAddrBook : public AddressBook {
 public:
  void Fill() override;
  std::string GetBookServer() override { return serverName_; }
};

// The seven texts the Add Address dialog edits, from one entry into another.
void CopyAddressTexts(const AddressEntry& from, AddressEntry& to);

extern const ListClass kLocalAddrBookClass;
extern const ListClass kGlobalAddrBookClass;

}  // namespace korvo::manager
