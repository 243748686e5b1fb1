// The manager's document and tree model over a real korvohub in a sandbox,
// with the tree in memory and the boxes recorded. The discovery walks a
// neighbourhood made for the test, which holds nothing until the test puts
// machines into it.
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "common/settings.h"
#include "manager/manager_doc.h"
#include "manager/tree_model.h"
#include "platform/lasterror.h"
#include "platform/local_socket.h"
#include "tests/manager/fake_ui.h"
#include "tests/manager/memory_tree.h"
#include "tests/server/hub_fixture.h"

namespace korvo::test {

// One network ("Microsoft Windows Network") with the machines the test
// lists; each listed machine runs a server. Shared with the test, as the
// document owns the neighbourhood.
struct TestNetwork {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<std::string> machines;  // "\\name"
  int walks = 0;
  int probes = 0;
  bool hold = false;  // a walk waits at the network while set
};

class TestNeighbourhood final : public platform::Neighbourhood {
 public:
  explicit TestNeighbourhood(std::shared_ptr<TestNetwork> net) : net_(std::move(net)) {}
  std::unique_ptr<platform::NetEnumeration> OpenEnum(const platform::NetResource* below) override {
    std::vector<platform::NetResource> entries;
    std::unique_lock<std::mutex> guard(net_->lock);
    net_->changed.wait(guard, [&] { return !net_->hold; });
    if (!below) {
      entries.push_back({platform::kResourceUsageContainer, "", "Microsoft Windows Network", "", kProvider});
    } else {
      for (const auto& m : net_->machines) entries.push_back({platform::kResourceUsageContainer, "", m, "", kProvider});
      ++net_->walks;
      net_->changed.notify_all();
    }
    return std::make_unique<Enum>(std::move(entries));
  }
  std::unique_ptr<platform::ServerConnection> OpenServer(const std::string&) override {
    std::lock_guard<std::mutex> guard(net_->lock);
    ++net_->probes;
    net_->changed.notify_all();
    return std::make_unique<platform::ServerConnection>();
  }

 private:
  static constexpr const char* kProvider = "Microsoft Windows Network";
  struct Enum : platform::NetEnumeration {
    explicit Enum(std::vector<platform::NetResource> e) : entries(std::move(e)) {}
    bool Next(platform::NetResource& entry, size_t) override {
      if (next >= entries.size()) {
        platform::SetLastError(platform::kErrorNoMoreItems);
        return false;
      }
      entry = entries[next++];
      return true;
    }
    bool Close() override { return true; }
    std::vector<platform::NetResource> entries;
    size_t next = 0;
  };
  std::shared_ptr<TestNetwork> net_;
};

class ManagerFixture : public HubFixture {
 protected:
  // This machine under the name the registry gives it: lower case, as a
  // host name usually is.
  static std::string Host() { return platform::ComputerName(); }

  void SetUp() override {
    HubFixture::SetUp();
    ASSERT_EQ(KvWriteRegStr(nullptr, "DefaultServer", Host().c_str()), 1);
    // Status texts come from the built library, as on an installed machine.
    ASSERT_EQ(KvWriteRegStr(nullptr, "KorvoCore", (BuildDir() / "core" / "libkorvocore.so").c_str()), 1);
  }
  void TearDown() override {
    model_.reset();
    doc_.reset();
    HubFixture::TearDown();
  }
  // The document, its discovery done, and the tree built for the test's login.
  void OpenDocument() {
    doc_ = std::make_unique<manager::ManagerDoc>(Host(), std::make_unique<TestNeighbourhood>(net_));
    manager::TreeModel::Frame frame;
    frame.replaceServerMenu = [this](const std::string& caption) { captions_.push_back(caption); };
    frame.openParameters = [this](const ConnectionSettings&, uint16_t version, const std::string& server) {
      parameters_.push_back(server + " " + std::to_string(version));
    };
    model_ = std::make_unique<manager::TreeModel>(*doc_, tree_, ui_, manager::SystemServiceControl(), frame);
    doc_->AddView(model_.get());
  }
  void SetNetwork(const std::vector<std::string>& machines, bool hold) {
    std::lock_guard<std::mutex> guard(net_->lock);
    net_->machines = machines;
    net_->hold = hold;
    net_->changed.notify_all();
  }
  void WaitForDiscovery() {
    for (int i = 0; i < 6000 && !doc_->DiscoveryDone(); ++i) {
      std::unique_lock<std::mutex> guard(net_->lock);
      net_->changed.wait_for(guard, std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(doc_->DiscoveryDone());
  }
  // The node at a path of texts from the top ("Fax Servers", "VM", "Modems").
  MemoryTree::Item Node(const std::vector<std::string>& path) {
    MemoryTree::Item item = MemoryTree::kRoot;
    for (const auto& text : path) {
      item = tree_.Find(item, text);
      if (item == MemoryTree::kRoot) ADD_FAILURE() << "no node " << text;
    }
    return item;
  }
  void Select(const std::vector<std::string>& path) {
    tree_.Select(Node(path));
    model_->OnSelectionChanged();
  }
  // A registered user of the server with the given rights.
  void RegisterUser(const std::string& name, int rights) {
    bool ok = false;
    UserDatabase users((root_ / "Config" / "RegUsers.dbs").string(), &ok);
    ASSERT_TRUE(ok);
    std::string text;
    EncodeFields(&text, {name, "", std::to_string(rights), "", "", "", "", ""}, 8);
    ASSERT_TRUE(users.AddUser(text));
  }

  std::shared_ptr<TestNetwork> net_ = std::make_shared<TestNetwork>();
  MemoryTree tree_;
  FakeUi ui_;
  std::vector<std::string> captions_;
  std::vector<std::string> parameters_;
  std::unique_ptr<manager::ManagerDoc> doc_;
  std::unique_ptr<manager::TreeModel> model_;
};

}  // namespace korvo::test
