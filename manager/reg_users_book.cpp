#include "manager/reg_users_book.h"

#include "manager/list_formats.h"

namespace korvo::manager {

const ListClass kRegUsersBookClass{"RegUsersBook", &CreateList<RegUsersBook>};

namespace {

constexpr uint32_t kRightAlwaysWritten = 0x20;

std::string UserText(const RegisteredUserEntry& e, int column) {
  switch (column) {
    case 0: return e.userName;
    case 1: return e.fullName;
    case 2: return e.description;
    case 3: return PermissionsText(e.rights);
    case 4: return e.email;
    default: return {};
  }
}

int CompareUsers(ItemValue a, ItemValue b, uint32_t sortParameter) {
  const auto& x = *reinterpret_cast<const RegisteredUserEntry*>(a);
  const auto& y = *reinterpret_cast<const RegisteredUserEntry*>(b);
  const int column = static_cast<int>(sortParameter & 0xFFFF);
  int r = 0;
  if (column == 3)
    r = CompareNumbers(x.rights, y.rights);
  else if (column <= 4)
    r = CompareNoCase(UserText(x, column), UserText(y, column));
  return Ordered(r, sortParameter);
}

// The dialog's fields into the entry; company, fax and phone stay.
void TakeDialogFields(const RegisteredUserEntry& typed, RegisteredUserEntry& to) {
  to.userName = typed.userName;
  to.fullName = typed.fullName;
  to.description = typed.description;
  to.email = typed.email;
  to.rights = RightsFromChecks(typed.rights & kRightGlobalBook, typed.rights & kRightDispatch,
                               typed.rights & kRightAdministration);
}

}  // namespace

std::string PermissionsText(uint32_t rights) {
  std::string text;
  if (rights & kRightAdministration) text += "Adm. ";
  if (rights & kRightDispatch) text += "Disp. ";
  if (rights & kRightGlobalBook) text += "Addr. ";
  return text;
}

uint32_t RightsFromChecks(bool globalBook, bool dispatch, bool administration) {
  return kRightRegistered | kRightAlwaysWritten | (globalBook ? kRightGlobalBook : 0) |
         (dispatch ? kRightDispatch : 0) | (administration ? kRightAdministration : 0);
}

void RegUsersBook::Fill() { DownloadList(serverName_, FaxClient::kListUsers, "0", 0); }

std::string RegUsersBook::GetItemText(int, ItemValue item, int tableColumn) {
  return UserText(*reinterpret_cast<const RegisteredUserEntry*>(item), tableColumn);
}

CompareFunction RegUsersBook::GetCompareFunction() { return &CompareUsers; }

ColumnTable RegUsersBook::GetColumnTable() {
  static const ColumnDescriptor kColumns[] = {
      {"User Name", 96}, {"Full Name", 96}, {"Description", 120}, {"Permissions", 115}, {"Email Address", 120}};
  return {kColumns, 5};
}

RequestResult RegUsersBook::DeleteItemOnServer(int row, int) {
  return client_.ChangeUser(serverName_.c_str(), FaxClient::kDeleteUser, EntryAt(row));
}

void RegUsersBook::Add() {
  RegisteredUserEntry typed;
  if (!model_->ui().EditUser(typed, false)) return;
  auto entry = std::make_unique<RegisteredUserEntry>();
  TakeDialogFields(typed, *entry);
  if (!Accepted(client_.ChangeUser(serverName_.c_str(), FaxClient::kAddUser, *entry))) return;
  Append(std::move(entry));
}

void RegUsersBook::Edit(int row) {
  RegisteredUserEntry local = EntryAt(row);
  RegisteredUserEntry typed = local;
  if (!model_->ui().EditUser(typed, true)) return;
  TakeDialogFields(typed, local);
  if (!Accepted(client_.ChangeUser(serverName_.c_str(), FaxClient::kEditUser, local))) return;
  EntryAt(row) = local;
  model_->UpdateRow(row);
}

}  // namespace korvo::manager
