#include "manager/address_book.h"

#include "manager/list_formats.h"

namespace korvo::manager {

const ListClass kLocalAddrBookClass{"LocalAddrBook", &CreateList<LocalAddrBook>};
const ListClass kGlobalAddrBookClass{"GlobalAddrBook", &CreateList<GlobalAddrBook>};

namespace {

std::string AddressText(const AddressEntry& e, int column) {
  switch (column) {
    case 0: return e.GetSortName();
    case 1: return e.company;
    case 2: return e.faxNumber;
    case 3: return e.phoneNumber;
    case 4: return e.address;
    case 5: return e.comment;
    default: return {};
  }
}

int CompareAddresses(ItemValue a, ItemValue b, uint32_t sortParameter) {
  const int column = static_cast<int>(sortParameter & 0xFFFF);
  if (column > 5) return 0;
  return Ordered(CompareNoCase(AddressText(*reinterpret_cast<const AddressEntry*>(a), column),
                               AddressText(*reinterpret_cast<const AddressEntry*>(b), column)),
                 sortParameter);
}

}  // namespace

void CopyAddressTexts(const AddressEntry& from, AddressEntry& to) {
  to.firstName = from.firstName;
  to.lastName = from.lastName;
  to.company = from.company;
  to.faxNumber = from.faxNumber;
  to.phoneNumber = from.phoneNumber;
  to.address = from.address;
  to.comment = from.comment;
}

std::string AddressBook::GetItemText(int, ItemValue item, int tableColumn) {
  return AddressText(*reinterpret_cast<const AddressEntry*>(item), tableColumn);
}

CompareFunction AddressBook::GetCompareFunction() { return &CompareAddresses; }

ColumnTable AddressBook::GetColumnTable() {
  static const ColumnDescriptor kColumns[] = {{"Name", 150}, {"Company", 150}, {"Fax", 96},
                                              {"Phone", 96}, {"Address", 140}, {"Comment", 140}};
  return {kColumns, 6};
}

const char* AddressBook::BookServer() {
  bookServer_ = GetBookServer();
  return bookServer_.empty() ? nullptr : bookServer_.c_str();
}

RequestResult AddressBook::DeleteItemOnServer(int row, int) {
  return client_.ChangeAddress(BookServer(), FaxClient::kDeleteAddress, EntryAt(row));
}

void AddressBook::AddWithDialog(const AddressEntry& start, const std::string& title) {
  AddressEntry typed = start;
  if (!model_->ui().EditAddress(typed, title)) return;
  // Only the seven texts: the new entry's further texts stay empty and its
  // id comes from the book.
  auto entry = std::make_unique<AddressEntry>();
  CopyAddressTexts(typed, *entry);
  int32_t id = 0;
  if (!Accepted(client_.AddAddress(BookServer(), *entry, id))) return;
  entry->id = id;
  Append(std::move(entry));
}

void AddressBook::Edit(int row) {
  AddressEntry local = EntryAt(row);
  AddressEntry typed = local;
  if (!model_->ui().EditAddress(typed, "Edit Address")) return;
  CopyAddressTexts(typed, local);
  if (!Accepted(client_.ChangeAddress(BookServer(), FaxClient::kEditAddress, local))) return;
  EntryAt(row) = local;
  model_->UpdateRow(row);
}

void LocalAddrBook::Fill() { DownloadList({}, 0, "0", 0); }

void GlobalAddrBook::Fill() { DownloadList(serverName_, 7000, "0", 0); }

}  // namespace korvo::manager
