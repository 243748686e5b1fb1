// The manager's folder tree: the known server names, which the discovery
// thread fills, the snapshot the tree last showed, and the tables of the
// folder nodes with the rights rule that picks them. The tree control is
// reached through TreeControl, so the building is tested without windows.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "common/entries.h"
#include "common/request_exchange.h"
#include "manager/list_context.h"

namespace korvo::manager {

// The class records the tree's nodes carry.
extern const ListClass kUserFoldersClass;
extern const ListClass kUserInBoxClass;
extern const ListClass kUserOutBoxClass;
extern const ListClass kUserSentFaxesClass;
extern const ListClass kUserReturnedFaxesClass;
extern const ListClass kUserDispatchBoxClass;
extern const ListClass kLocalAddrBookClass;
extern const ListClass kListOfServersClass;
extern const ListClass kServerFoldersClass;
extern const ListClass kGlobalAddrBookClass;
extern const ListClass kRegUsersBookClass;
extern const ListClass kJunkSendersBookClass;
extern const ListClass kModemsListClass;
extern const ListClass kServerGlobalRxQueueClass;
extern const ListClass kServerGlobalTxQueueClass;
extern const ListClass kServerGlobalJournalClass;
extern const ListClass kServerPersonalRxQueueClass;
extern const ListClass kServerPersonalTxQueueClass;
extern const ListClass kServerPersonalJournalClass;
extern const ListClass kServerLogClass;

struct FolderNode {
  std::string text;
  const ListClass* listClass = nullptr;
};
using FolderNodeList = std::vector<FolderNode>;

// The rights bits are common/entries.h's (kRightDispatch, kRightAdministration).
using korvo::kRightAdministration;
using korvo::kRightDispatch;

// The answer of the rights query (2020) for one server.
struct Rights {
  bool known = false;  // the query succeeded
  uint32_t bits = 0;
  // A right counts when granted, and also when the query failed: then every
  // folder shows and the server refuses what the user may not do.
  bool Has(uint32_t right) const { return !known || (bits & right) != 0; }
};
using RightsQuery = std::function<Rights(const std::string& server)>;

// The folders under "Personal Folders" and under a server node, in order.
FolderNodeList PersonalFolderNodes(const Rights& defaultServerRights);
FolderNodeList ServerFolderNodes(const Rights& serverRights);

// The tree control as the folder tree fills and reads it. Item 0 is the
// invisible root above the top-level nodes.
class TreeControl {
 public:
  using Item = uintptr_t;
  static constexpr Item kRoot = 0;
  static constexpr Item kLast = ~Item{0};  // "after": as the last child

  virtual ~TreeControl() = default;
  virtual Item InsertItem(Item parent, Item after, const std::string& text, const ListClass* listClass) = 0;
  virtual void DeleteItem(Item item) = 0;
  virtual std::vector<Item> Children(Item item) const = 0;
  virtual Item Parent(Item item) const = 0;  // kRoot for a top-level node
  virtual std::string Text(Item item) const = 0;
  virtual const ListClass* Class(Item item) const = 0;
  virtual Item Selection() const = 0;  // kRoot when none
  virtual void Select(Item item) = 0;
  // Window updates held back while the server nodes are rebuilt.
  virtual void Freeze() {}
  virtual void Thaw() {}
};

class FolderTree {
 public:
  // The default server's name, upper-cased, is the first server.
  explicit FolderTree(const std::string& defaultServer);

  // For the discovery, which adds names under the lock.
  std::vector<std::string>& serverNames() { return names_; }
  std::mutex& lock() { return lock_; }
  // A copy taken under the lock.
  std::vector<std::string> ServerNames();

  const FolderNode& personalRoot() const { return personalRoot_; }
  const FolderNode& serversRoot() const { return serversRoot_; }

  // Inserts "Personal Folders" with its folders, then "Fax Servers" with its
  // server nodes; the "Fax Servers" item.
  TreeControl::Item AddPersonalFolders(TreeControl& tree, const std::string& defaultServer, const RightsQuery& rights);
  // One node per server name after `after`, each with its folders. Holds the
  // lock for the whole build, so the discovery waits until it ends.
  void AddServerFolders(TreeControl& tree, TreeControl::Item parent, TreeControl::Item after,
                        const RightsQuery& rights);
  void SnapshotServers();
  // The names differ from the snapshot in count or at any position.
  bool ServersChanged();

 private:
  std::vector<std::string> names_;
  std::mutex lock_;
  FolderNode personalRoot_;
  FolderNode serversRoot_;
  std::vector<std::string> snapshot_;
};

// Upper case, as server names are listed.
std::string UpperCase(std::string text);

}  // namespace korvo::manager
