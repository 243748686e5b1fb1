#include "manager/list_classes.h"

#include "manager/address_book.h"
#include "manager/folder_tree.h"
#include "manager/junk_senders_book.h"
#include "manager/modems_list.h"
#include "manager/reg_users_book.h"
#include "manager/server_fax_list.h"
#include "manager/server_log.h"
#include "manager/string_list.h"
#include "manager/user_fax_list.h"

namespace korvo::manager {

const ListClass* FindListClass(std::string_view name) {
  static const ListClass* const kClasses[] = {
      &kListContextClass,         &kStringListClass,           &kUserFoldersClass,
      &kServerFoldersClass,       &kListOfServersClass,        &kLocalAddrBookClass,
      &kGlobalAddrBookClass,      &kRegUsersBookClass,         &kJunkSendersBookClass,
      &kModemsListClass,          &kServerLogClass,            &kServerGlobalRxQueueClass,
      &kServerPersonalRxQueueClass, &kServerGlobalTxQueueClass, &kServerPersonalTxQueueClass,
      &kServerGlobalJournalClass, &kServerPersonalJournalClass, &kUserInBoxClass,
      &kUserOutBoxClass,          &kUserSentFaxesClass,        &kUserReturnedFaxesClass,   &kUserDispatchBoxClass};
  for (const ListClass* c : kClasses)
    if (name == c->name) return c;
  return nullptr;
}

}  // namespace korvo::manager
