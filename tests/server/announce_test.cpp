// The server's DNS-SD announcement, with a stand-in for avahi-publish that
// notes its arguments and its pid and then runs until it is ended, as the
// real one does while avahi-daemon runs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "platform/announce.h"
#include "platform/local_socket.h"
#include "tests/server/hub_fixture.h"

namespace korvo {
namespace {

bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 6000; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

class AnnounceTest : public test::HubFixture {
 protected:
  void SetUp() override {
    HubFixture::SetUp();
    bin_ = sandbox_.path("bin");
    std::filesystem::create_directories(bin_);
    const std::string script = (bin_ / "avahi-publish").string();
    test::Sandbox::writeFile(script, "#!/bin/sh\necho $$ > " + Path("pid") + "\necho \"$@\" > " + Path("args.tmp") +
                                         " && mv " + Path("args.tmp") + " " + Path("args") + "\nexec sleep infinity\n");
    chmod(script.c_str(), 0700);
  }
  std::string Path(const std::string& name) const { return (bin_ / name).string(); }
  // The stand-in's arguments, once it has started.
  std::string Args() {
    EXPECT_TRUE(Eventually([&] { return std::filesystem::exists(Path("args")); }));
    std::string args = test::Sandbox::readFile(Path("args"));
    while (!args.empty() && args.back() == '\n') args.pop_back();
    return args;
  }
  bool Gone() {
    const pid_t pid = std::atoi(test::Sandbox::readFile(Path("pid")).c_str());
    return pid > 0 && kill(pid, 0) != 0 && errno == ESRCH;
  }
  static std::string Machine() {
    std::string m = platform::ComputerName();
    return m.substr(0, m.find('.'));
  }

  std::filesystem::path bin_;
};

TEST_F(AnnounceTest, AnAnnouncementRunsUntilItIsWithdrawn) {
  platform::ServiceAnnouncement announcement(Path("avahi-publish"));
  ASSERT_TRUE(announcement.Start("Korvo on test", platform::kKorvoServiceType, 22));
  EXPECT_EQ(Args(), "-s Korvo on test _korvo._tcp 22");
  EXPECT_FALSE(Gone());
  announcement.Stop();
  EXPECT_TRUE(Gone());
  EXPECT_FALSE(announcement.running());
}

TEST_F(AnnounceTest, WithoutTheProgramNothingIsAnnounced) {
  platform::ServiceAnnouncement announcement(Path("no-such-publisher"));
  EXPECT_FALSE(announcement.Start("Korvo on test", platform::kKorvoServiceType, 22));
  EXPECT_FALSE(announcement.running());
  announcement.Stop();
}

// The server announces itself while it serves, and withdraws when it stops.
TEST_F(AnnounceTest, TheServerAnnouncesItselfWhileItRuns) {
  const char* path = std::getenv("PATH");
  sandbox_.setEnv("PATH", bin_.string() + ":" + (path ? path : "/usr/bin:/bin"));
  StartHub();
  EXPECT_EQ(Args(), "-s Korvo on " + Machine() + " _korvo._tcp 22");
  EXPECT_FALSE(Gone());
  hub_->Signal(SIGINT);
  EXPECT_EQ(hub_->Wait(), 0) << hub_->output();
  EXPECT_TRUE(Gone()) << "the announcement outlived the server";
}

}  // namespace
}  // namespace korvo
