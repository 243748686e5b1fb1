#include "manager/folder_tree.h"

#include <gtest/gtest.h>

#include <thread>

#include "manager/list_model.h"
#include "manager/manager_ids.h"
#include "manager/user_fax_list.h"
#include "tests/manager/manager_fixture.h"

namespace korvo::test {
namespace {

using manager::ListClass;
using Texts = std::vector<std::string>;

const Texts kAllPersonal = {"Input Box",      "Output Box",   "Sent Faxes", "Returned Faxes",
                            "Dispatch Box",   "Address Book"};
const Texts kAllServer = {"Global Address Book",      "Registered Users",       "Denied Access Book",
                          "Modems",                   "Global Receiving Queue", "Global Sending Queue",
                          "Global Journal",           "Personal Receiving Queue", "Personal Sending Queue",
                          "Personal Journal",         "Event Log"};

class FolderTreeTest : public ManagerFixture {};

// Which folders a login sees: the rights of the default server pick the
// personal ones, each server's rights its own; a server that does not answer
// shows every folder.
TEST_F(FolderTreeTest, FoldersFollowTheRightsOfEachServer) {
  struct Case {
    const char* what;
    const char* login;  // null: the test's own login (every right)
    bool serverRuns;
    Texts personal;
    Texts server;
  };
  const Case cases[] = {
      {"administrator", nullptr, true, kAllPersonal, kAllServer},
      {"own boxes and journal only (0x22)", "clerk", true,
       {"Input Box", "Output Box", "Sent Faxes", "Returned Faxes", "Address Book"},
       {"Global Address Book", "Registered Users", "Denied Access Book", "Personal Receiving Queue",
        "Personal Sending Queue", "Personal Journal"}},
      {"server stopped", nullptr, false, kAllPersonal, kAllServer},
  };
  RegisterUser("clerk", 0x22);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.serverRuns) StartHub();
    tree_ = MemoryTree();
    OpenDocument();
    if (c.login) {
      ASSERT_EQ(model_->client().ActForUser(".", c.login), 1);
    }
    model_->Build();
    EXPECT_EQ(tree_.Texts(MemoryTree::kRoot), (Texts{"Personal Folders", "Fax Servers"}));
    EXPECT_EQ(tree_.Texts(Node({"Personal Folders"})), c.personal);
    EXPECT_EQ(tree_.Texts(Node({"Fax Servers"})), Texts{manager::UpperCase(Host())});
    EXPECT_EQ(tree_.Texts(Node({"Fax Servers", manager::UpperCase(Host())})), c.server);
    model_.reset();
    doc_.reset();
    hub_.reset();
  }
}

TEST_F(FolderTreeTest, NodesCarryTheClassOfTheirList) {
  StartHub();
  OpenDocument();
  model_->Build();
  const std::string host = manager::UpperCase(Host());
  const std::pair<Texts, const ListClass*> cases[] = {
      {{"Personal Folders"}, &manager::kUserFoldersClass},
      {{"Personal Folders", "Input Box"}, &manager::kUserInBoxClass},
      {{"Personal Folders", "Dispatch Box"}, &manager::kUserDispatchBoxClass},
      {{"Personal Folders", "Address Book"}, &manager::kLocalAddrBookClass},
      {{"Fax Servers"}, &manager::kListOfServersClass},
      {{"Fax Servers", host}, &manager::kServerFoldersClass},
      {{"Fax Servers", host, "Denied Access Book"}, &manager::kJunkSendersBookClass},
      {{"Fax Servers", host, "Event Log"}, &manager::kServerLogClass},
  };
  for (const auto& [path, cls] : cases) {
    EXPECT_EQ(tree_.Class(Node(path)), cls) << path.back();
    EXPECT_STREQ(tree_.Class(Node(path))->name, cls->name);
  }
  // A box opens as its own list.
  EXPECT_NE(dynamic_cast<manager::UserInBox*>(manager::kUserInBoxClass.create().get()), nullptr);
}

// The server the commands act on, and the caption of the "&Server" popup,
// for each kind of node; the default server is known whatever the case the
// registry gives its name in.
TEST_F(FolderTreeTest, CurrentServerAndCaptionFollowTheSelection) {
  StartHub();
  OpenDocument();
  {
    std::lock_guard<std::mutex> guard(doc_->folderTree().lock());
    doc_->folderTree().serverNames().push_back("FARHOST");
  }
  model_->Build();
  const std::string host = manager::UpperCase(Host());
  struct Case {
    Texts path;
    std::string server;
    std::string caption;
  };
  const Case cases[] = {
      {{"Personal Folders"}, Host(), "&" + Host() + " (Default server)"},
      {{"Personal Folders", "Sent Faxes"}, Host(), "&" + Host() + " (Default server)"},
      {{"Fax Servers"}, Host(), "&" + Host() + " (Default server)"},
      {{"Fax Servers", host}, host, "&" + host + " (Default server)"},
      {{"Fax Servers", host, "Modems"}, host, "&" + host + " (Default server)"},
      {{"Fax Servers", "FARHOST"}, "FARHOST", "&FARHOST"},
      {{"Fax Servers", "FARHOST", "Event Log"}, "FARHOST", "&FARHOST"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.back());
    captions_.clear();
    Select(c.path);
    EXPECT_EQ(model_->GetCurrentServer(), c.server);
    EXPECT_EQ(captions_, Texts{c.caption});
    EXPECT_EQ(model_->GetSelectedText(), c.path.back());
    EXPECT_EQ(model_->PopupIndex(), c.path.size() == 2 && c.path[0] == "Fax Servers" ? 0 : 1);
  }
  EXPECT_EQ(manager::ServerCaption("VM", "vm"), "&VM (Default server)");
}

TEST_F(FolderTreeTest, FolderListsAreFilledWithTheChildrenAndOpenOne) {
  StartHub();
  OpenDocument();
  model_->Build();
  tree_.Select(Node({"Personal Folders"}));
  EXPECT_EQ(model_->ChildTexts(), kAllPersonal);
  // What an opened folder list receives.
  EXPECT_EQ(model_->GetSelection().children, kAllPersonal);
  model_->SelectChild(2);
  EXPECT_EQ(model_->GetSelectedText(), "Sent Faxes");
  model_->SelectChild(0);  // Sent Faxes has no children: nothing moves
  EXPECT_EQ(model_->GetSelectedText(), "Sent Faxes");
}

// Selecting or expanding "Fax Servers" rebuilds the server nodes only when
// the discovery found a new name: without one the nodes and their expansion
// stay.
TEST_F(FolderTreeTest, RefreshServersRebuildsOnlyOnANewName) {
  StartHub();
  SetNetwork({}, true);
  OpenDocument();
  model_->Build();
  const std::string host = manager::UpperCase(Host());
  const auto before = Node({"Fax Servers", host});
  tree_.Expand(before);
  Select({"Fax Servers"});
  model_->OnExpanding(Node({"Fax Servers"}));
  EXPECT_EQ(Node({"Fax Servers", host}), before);
  EXPECT_TRUE(tree_.IsExpanded(before));

  // The discovery goes on and meets another fax server.
  SetNetwork({"\\\\" + Host(), "\\\\faraway"}, false);
  WaitForDiscovery();
  EXPECT_TRUE(doc_->folderTree().ServersChanged());
  Select({"Fax Servers"});
  EXPECT_EQ(tree_.Texts(Node({"Fax Servers"})), (Texts{host, "FARAWAY"}));
  EXPECT_NE(Node({"Fax Servers", host}), before);
  // The new server does not answer here: all of its folders show.
  EXPECT_EQ(tree_.Texts(Node({"Fax Servers", "FARAWAY"})), kAllServer);
  EXPECT_FALSE(doc_->folderTree().ServersChanged());
}

// The tree names the default server in upper case; requests reach it by the
// name as the user wrote it, which ssh's Host patterns match by case.
TEST_F(FolderTreeTest, TheDefaultServerIsReachedByTheNameAsWritten) {
  SetNetwork({}, false);
  manager::ManagerDoc doc("kvserver-written", std::make_unique<TestNeighbourhood>(net_));
  EXPECT_EQ(platform::ServerNameToReach(manager::UpperCase("kvserver-written")), "kvserver-written");
}

// The document ends its discovery before the folder tree goes, also in the
// middle of a long walk.
TEST_F(FolderTreeTest, TheDocumentStopsItsDiscoveryWhenDestroyed) {
  {
    std::lock_guard<std::mutex> guard(net_->lock);
    for (int i = 0; i < 5000; ++i) net_->machines.push_back("\\\\host" + std::to_string(i));
  }
  OpenDocument();
  {
    std::unique_lock<std::mutex> guard(net_->lock);
    ASSERT_TRUE(net_->changed.wait_for(guard, std::chrono::seconds(60), [&] { return net_->probes > 0; }));
  }
  model_.reset();
  doc_.reset();
  std::lock_guard<std::mutex> guard(net_->lock);
  EXPECT_LT(net_->probes, 5 * 5000);
}

TEST_F(FolderTreeTest, WithoutOtherServersTheDiscoveryEndsWithTheDefaultAlone) {
  OpenDocument();
  WaitForDiscovery();
  EXPECT_EQ(doc_->folderTree().ServerNames(), Texts{manager::UpperCase(Host())});
  EXPECT_EQ(net_->walks, 5);
}

}  // namespace
}  // namespace korvo::test
