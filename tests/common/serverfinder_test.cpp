#include "common/serverfinder.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <set>
#include <thread>

#include "common/settings.h"
#include "platform/lasterror.h"
#include "tests/support/sandbox.h"

namespace korvo {
namespace {

using platform::NetResource;
constexpr uint32_t kContainer = platform::kResourceUsageContainer;
const std::string kMs = "Microsoft Windows Network";

NetResource Res(const std::string& remote, const std::string& provider = kMs, uint32_t usage = kContainer) {
  NetResource r;
  r.usage = usage;
  r.remoteName = remote;
  r.provider = provider;
  return r;
}

// A network made for the test: the children of each resource per pass (the
// last pass given holds for later ones), the machines whose server opens, and
// a record of what the walk asked.
class TestNeighbourhood : public platform::Neighbourhood {
 public:
  std::vector<std::map<std::string, std::vector<NetResource>>> passes;
  std::set<std::string> servers;  // pipe names that open
  std::set<std::string> unlistable;
  std::vector<std::string> enumerated;
  std::vector<std::string> opened;
  std::mutex* lockToCheck = nullptr;
  bool lockFreeWhileOpening = true;
  int pass = -1;
  // A probe waits here while holdProbes is set, as on a slow network.
  std::mutex gate;
  std::condition_variable changed;
  bool holdProbes = false;
  int probes = 0;

  std::unique_ptr<platform::NetEnumeration> OpenEnum(const NetResource* below) override {
    std::string key = below ? below->remoteName : "";
    if (!below) ++pass;
    enumerated.push_back(key);
    if (unlistable.count(key)) {
      platform::SetLastError(EACCES);
      return nullptr;
    }
    const auto& tree = passes[std::min<size_t>(pass, passes.size() - 1)];
    auto it = tree.find(key);
    return std::make_unique<Enum>(it == tree.end() ? std::vector<NetResource>{} : it->second);
  }
  std::unique_ptr<platform::ServerConnection> OpenServer(const std::string& pipeName) override {
    {
      std::unique_lock<std::mutex> guard(gate);
      opened.push_back(pipeName);
      ++probes;
      changed.notify_all();
      changed.wait(guard, [&] { return !holdProbes; });
    }
    if (lockToCheck) {
      if (lockToCheck->try_lock()) lockToCheck->unlock();
      else lockFreeWhileOpening = false;
    }
    if (!servers.count(pipeName)) {
      platform::SetLastError(platform::kErrorFileNotFound);
      return nullptr;
    }
    return std::make_unique<platform::ServerConnection>();
  }

 private:
  struct Enum : platform::NetEnumeration {
    explicit Enum(std::vector<NetResource> e) : entries(std::move(e)) {}
    bool Next(NetResource& entry, size_t size) override {
      if (next >= entries.size()) return false;
      if (platform::NetResourceSize(entries[next]) > size) return false;
      entry = entries[next++];
      return true;
    }
    bool Close() override { return true; }
    std::vector<NetResource> entries;
    size_t next = 0;
  };
};

class Finder : public ::testing::Test {
 protected:
  test::Sandbox box;
  TestNeighbourhood net;
  std::vector<std::string> list;
  std::mutex lock;
  std::vector<std::string> Find() {
    ServerFinder finder(list, lock, net);
    EXPECT_EQ(finder.FindAll(), 0);
    return list;
  }
};

TEST_F(Finder, FivePassesAddLateMachinesOnceInUpperCaseInTheOrderFound) {
  net.passes = {
      {{"", {Res(kMs)}}, {kMs, {Res("WORKGROUP"), Res("OFFICE")}}, {"WORKGROUP", {Res("\\\\hub")}}},
      {{"", {Res(kMs)}}, {kMs, {Res("WORKGROUP"), Res("OFFICE")}}, {"WORKGROUP", {Res("\\\\hub")}}},
      {{"", {Res(kMs)}},
       {kMs, {Res("WORKGROUP"), Res("OFFICE")}},
       {"WORKGROUP", {Res("\\\\Hub"), Res("\\\\late")}},
       {"OFFICE", {Res("\\\\HUB")}}},
  };
  net.servers = {"\\\\hub\\PIPE\\Korvo", "\\\\Hub\\PIPE\\Korvo", "\\\\HUB\\PIPE\\Korvo", "\\\\late\\PIPE\\Korvo"};
  EXPECT_EQ(Find(), (std::vector<std::string>{"HUB", "LATE"}));
  EXPECT_EQ(std::count(net.enumerated.begin(), net.enumerated.end(), ""), 5);
  EXPECT_EQ(std::count(net.opened.begin(), net.opened.end(), "\\\\late\\PIPE\\Korvo"), 3);
}

TEST_F(Finder, OnlyContainersOfMicrosoftProvidersAreFollowed) {
  net.passes = {{
      {"", {Res("NetWare Services", "NetWare"), Res("Lowercase", "microsoft network"), Res(kMs)}},
      {"NetWare Services", {Res("\\\\novell", "NetWare")}},
      {"Lowercase", {Res("\\\\lower", kMs)}},
      {kMs,
       {Res("\\\\printer", kMs, platform::kResourceUsageConnectable), Res("\\\\other", "NFS Network"),
        Res("\\\\fax", "Microsoft")}},
  }};
  net.servers = {"\\\\novell\\PIPE\\Korvo", "\\\\lower\\PIPE\\Korvo", "\\\\printer\\PIPE\\Korvo",
                 "\\\\other\\PIPE\\Korvo", "\\\\fax\\PIPE\\Korvo"};
  EXPECT_EQ(Find(), (std::vector<std::string>{"FAX"}));
  for (const auto& e : net.enumerated) EXPECT_TRUE(e == "" || e == kMs) << e;
  for (const auto& o : net.opened) EXPECT_EQ(o, "\\\\fax\\PIPE\\Korvo");
}

TEST_F(Finder, MachinesWithoutServerAreSkippedSilently) {
  SetDebugFlags(1);
  net.passes = {{{"", {Res(kMs)}}, {kMs, {Res("\\\\desk1"), Res("\\\\hub"), Res("\\\\desk2")}}}};
  net.servers = {"\\\\hub\\PIPE\\Korvo"};
  EXPECT_EQ(Find(), (std::vector<std::string>{"HUB"}));
  EXPECT_EQ(net.opened.size(), 15u);
  EXPECT_EQ(test::Sandbox::readFile(box.traceFile()), "");
}

TEST_F(Finder, AnEntryTooLargeForTheBufferEndsItsLevel) {
  net.passes = {{{"", {Res(kMs)}}, {kMs, {Res("\\\\first"), Res("\\\\" + std::string(480, 'x')), Res("\\\\after")}}}};
  net.servers = {"\\\\first\\PIPE\\Korvo", "\\\\after\\PIPE\\Korvo"};
  EXPECT_EQ(Find(), (std::vector<std::string>{"FIRST"}));
}

TEST_F(Finder, AnUnlistableContainerIsTracedAndPassedOver) {
  SetDebugFlags(1);
  net.passes = {{{"", {Res("LOCKED"), Res(kMs)}}, {kMs, {Res("\\\\hub")}}}};
  net.unlistable = {"LOCKED"};
  net.servers = {"\\\\hub\\PIPE\\Korvo"};
  EXPECT_EQ(Find(), (std::vector<std::string>{"HUB"}));
  std::string once = "WnetOpenEnum failed E:" + platform::SystemErrorText(EACCES) + "\n";
  std::string trace;
  for (int i = 0; i < 5; ++i) trace += once;
  EXPECT_EQ(test::Sandbox::readFile(box.traceFile()), trace);
}

TEST_F(Finder, NamesAlreadyListedAreKeptAndNotRepeated) {
  list = {"HUB", "ELSEWHERE"};
  net.passes = {{{"", {Res(kMs)}}, {kMs, {Res("\\\\hub"), Res("\\\\new")}}}};
  net.servers = {"\\\\hub\\PIPE\\Korvo", "\\\\new\\PIPE\\Korvo"};
  EXPECT_EQ(Find(), (std::vector<std::string>{"HUB", "ELSEWHERE", "NEW"}));
}

TEST_F(Finder, TheListLockIsNotHeldWhileTheNetworkIsAsked) {
  net.passes = {{{"", {Res(kMs)}}, {kMs, {Res("\\\\hub")}}}};
  net.servers = {"\\\\hub\\PIPE\\Korvo"};
  net.lockToCheck = &lock;
  EXPECT_EQ(Find(), (std::vector<std::string>{"HUB"}));
  EXPECT_TRUE(net.lockFreeWhileOpening);
}

TEST_F(Finder, AStoppedWalkProbesNoFurtherMachine) {
  net.passes = {{{"", {Res(kMs)}}, {kMs, {Res("\\\\slow"), Res("\\\\hub"), Res("\\\\other")}}}};
  net.servers = {"\\\\slow\\PIPE\\Korvo", "\\\\hub\\PIPE\\Korvo"};
  net.holdProbes = true;
  ServerFinder finder(list, lock, net);
  std::thread walk([&] { finder.FindAll(); });
  {
    std::unique_lock<std::mutex> guard(net.gate);
    ASSERT_TRUE(net.changed.wait_for(guard, std::chrono::seconds(60), [&] { return net.probes == 1; }));
    finder.Stop();
    net.holdProbes = false;
    net.changed.notify_all();
  }
  walk.join();
  EXPECT_TRUE(finder.stopped());
  EXPECT_EQ(net.opened, (std::vector<std::string>{"\\\\slow\\PIPE\\Korvo"}));
  EXPECT_EQ(std::count(net.enumerated.begin(), net.enumerated.end(), ""), 1);
}

}  // namespace
}  // namespace korvo
