#include "manager/folder_tree.h"

#include <cctype>

namespace korvo::manager {

namespace {

struct NodeRow {
  const char* text;
  const ListClass* listClass;
  uint32_t right;  // 0: always shown
};

const NodeRow kPersonalRows[] = {
    {"Input Box", &kUserInBoxClass, 0},
    {"Output Box", &kUserOutBoxClass, 0},
    {"Sent Faxes", &kUserSentFaxesClass, 0},
    {"Returned Faxes", &kUserReturnedFaxesClass, 0},
    {"Dispatch Box", &kUserDispatchBoxClass, kRightDispatch},
    {"Address Book", &kLocalAddrBookClass, 0},
};

const NodeRow kServerRows[] = {
    {"Global Address Book", &kGlobalAddrBookClass, 0},
    {"Registered Users", &kRegUsersBookClass, 0},
    {"Denied Access Book", &kJunkSendersBookClass, 0},
    {"Modems", &kModemsListClass, kRightAdministration},
    {"Global Receiving Queue", &kServerGlobalRxQueueClass, kRightAdministration},
    {"Global Sending Queue", &kServerGlobalTxQueueClass, kRightAdministration},
    {"Global Journal", &kServerGlobalJournalClass, kRightAdministration},
    {"Personal Receiving Queue", &kServerPersonalRxQueueClass, 0},
    {"Personal Sending Queue", &kServerPersonalTxQueueClass, 0},
    {"Personal Journal", &kServerPersonalJournalClass, 0},
    {"Event Log", &kServerLogClass, kRightAdministration},
};

template <size_t N>
FolderNodeList Pick(const NodeRow (&rows)[N], const Rights& rights, size_t capacity) {
  FolderNodeList list;
  list.reserve(capacity);
  for (const NodeRow& row : rows)
    if (row.right == 0 || rights.Has(row.right)) list.push_back({row.text, row.listClass});
  return list;
}

void InsertAll(TreeControl& tree, TreeControl::Item parent, const FolderNodeList& nodes) {
  for (const FolderNode& node : nodes) tree.InsertItem(parent, TreeControl::kLast, node.text, node.listClass);
}

}  // namespace

FolderNodeList PersonalFolderNodes(const Rights& rights) { return Pick(kPersonalRows, rights, 6); }
FolderNodeList ServerFolderNodes(const Rights& rights) { return Pick(kServerRows, rights, 11); }

std::string UpperCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

FolderTree::FolderTree(const std::string& defaultServer)
    : personalRoot_{"Personal Folders", &kUserFoldersClass}, serversRoot_{"Fax Servers", &kListOfServersClass} {
  // Without a default server there is no name to show for it.
  if (!defaultServer.empty()) names_.push_back(UpperCase(defaultServer));
}

std::vector<std::string> FolderTree::ServerNames() {
  std::lock_guard<std::mutex> guard(lock_);
  return names_;
}

TreeControl::Item FolderTree::AddPersonalFolders(TreeControl& tree, const std::string& defaultServer,
                                                 const RightsQuery& rights) {
  const TreeControl::Item personal =
      tree.InsertItem(TreeControl::kRoot, TreeControl::kLast, personalRoot_.text, personalRoot_.listClass);
  InsertAll(tree, personal, PersonalFolderNodes(rights(defaultServer)));
  const TreeControl::Item servers =
      tree.InsertItem(TreeControl::kRoot, TreeControl::kLast, serversRoot_.text, serversRoot_.listClass);
  AddServerFolders(tree, servers, TreeControl::kLast, rights);
  return servers;
}

void FolderTree::AddServerFolders(TreeControl& tree, TreeControl::Item parent, TreeControl::Item after,
                                  const RightsQuery& rights) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    for (const std::string& name : names_) {
      const TreeControl::Item server = tree.InsertItem(parent, after, name, &kServerFoldersClass);
      // Each next server goes after the one before, keeping the list's order.
      after = server;
      InsertAll(tree, server, ServerFolderNodes(rights(name)));
    }
  }
  SnapshotServers();
}

void FolderTree::SnapshotServers() {
  std::lock_guard<std::mutex> guard(lock_);
  snapshot_ = names_;
}

bool FolderTree::ServersChanged() {
  std::lock_guard<std::mutex> guard(lock_);
  return names_ != snapshot_;
}

}  // namespace korvo::manager
