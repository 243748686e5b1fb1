// The setup wizard's page rules without a display: the walk through the
// pages both ways with the server part on and off, which pages question a
// Cancel, the root directory's disk (through a replaceable file-system
// lookup, and once through the real one), the network check and the read-me.
#include "core/setup/wizard_pages.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/sandbox.h"

namespace korvo::setup {
namespace {

namespace fs = std::filesystem;
using test::Sandbox;

std::vector<Page> Walk(WizardMode mode, Page from, bool server, bool forward) {
  std::vector<Page> seen{from};
  while (true) {
    const std::optional<Page> next = forward ? NextPage(mode, seen.back(), server) : PreviousPage(mode, seen.back(), server);
    if (!next) return seen;
    seen.push_back(*next);
  }
}

TEST(SetupPages, WalkBothWaysWithTheServerPartOnAndOff) {
  using enum Page;
  const std::vector<Page> withServer = {Welcome, Readme, Options, MainInfo, WorkStation, Desktop, Final, Progress, Done};
  const std::vector<Page> without = {Welcome, Readme, Options, WorkStation, Desktop, Final, Progress, Done};
  const struct {
    bool server;
    const std::vector<Page>& pages;
  } cases[] = {{true, withServer}, {false, without}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.server);
    EXPECT_EQ(Walk(WizardMode::Install, Welcome, c.server, true), c.pages);
    EXPECT_EQ(Walk(WizardMode::Install, Done, c.server, false), std::vector<Page>(c.pages.rbegin(), c.pages.rend()));
    // Back from the Workstation page skips the Fax Service Information page without the server part.
    EXPECT_EQ(PreviousPage(WizardMode::Install, WorkStation, c.server), c.server ? MainInfo : Options);
    EXPECT_FALSE(PageShows(ServiceStartup, c.server));
  }
  EXPECT_EQ(Walk(WizardMode::Remove, RemoveWelcome, true, true),
            (std::vector<Page>{RemoveWelcome, RemoveFinal, RemoveDone}));
  EXPECT_EQ(Walk(WizardMode::Remove, RemoveDone, false, false),
            (std::vector<Page>{RemoveDone, RemoveFinal, RemoveWelcome}));
  // Every page of a mode is the sheet's, in the order it adds them.
  EXPECT_EQ(PagesOf(WizardMode::Install).size(), 10u);
  EXPECT_EQ(PagesOf(WizardMode::Install)[3], ServiceStartup);
}

TEST(SetupPages, DialogNumbersCaptionsAndCancelQuestions) {
  using enum Page;
  const struct {
    Page page;
    int dialog;
    const char* caption;
    bool asks;
  } cases[] = {
      {Welcome, 307, "Korvo Setup", false},
      {Readme, 130, "Korvo Readme", true},
      {Options, 308, "Korvo Setup Options", true},
      {ServiceStartup, 318, "Korvo Setup MAPI Integration", false},
      {MainInfo, 314, "Korvo Setup Fax Service Information", false},
      {WorkStation, 310, "Korvo Setup Workstation", true},
      {Desktop, 316, "Korvo Setup Desktop Options", false},
      {Final, 311, "Korvo Setup Final", true},
      {Progress, 132, "Korvo Setup", true},
      {Done, 312, "Korvo Setup", false},
      {RemoveWelcome, 128, "Korvo Uninstall", false},
      {RemoveFinal, 129, "Korvo Uninstall Final", false},
      {RemoveDone, 315, "Korvo Uninstall Done", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(InfoOf(c.page).page, c.page);
    EXPECT_EQ(InfoOf(c.page).dialog, c.dialog);
    EXPECT_STREQ(InfoOf(c.page).caption, c.caption);
    EXPECT_EQ(CancelAsks(c.page), c.asks) << c.caption << " " << c.dialog;
  }
}

TEST(SetupPages, RootDirectoryMustBeOnALocalFixedDiskWithRoom) {
  Sandbox box;
  const std::string existing = box.root().string();
  const std::string missingBelow = existing + "/opt/korvo";
  const struct {
    std::string root;
    std::optional<platform::FileSystemKind> kind;
    std::optional<uint64_t> free;
    RootCheck expected;
  } cases[] = {
      {missingBelow, platform::FileSystemKind{true, false}, kNeededSpace, RootCheck::Fine},
      {missingBelow, platform::FileSystemKind{true, false}, kNeededSpace - 1, RootCheck::NoSpace},
      {missingBelow, platform::FileSystemKind{true, false}, 0, RootCheck::NoSpace},
      {missingBelow, platform::FileSystemKind{true, false}, std::nullopt, RootCheck::SpaceUnknown},
      {missingBelow, platform::FileSystemKind{false, false}, kNeededSpace, RootCheck::NotFixedDisk},
      {missingBelow, platform::FileSystemKind{true, true}, kNeededSpace, RootCheck::NotFixedDisk},
      {missingBelow, std::nullopt, kNeededSpace, RootCheck::NotFixedDisk},
      {"opt/korvo", platform::FileSystemKind{true, false}, kNeededSpace, RootCheck::NotFixedDisk},
      {"", platform::FileSystemKind{true, false}, kNeededSpace, RootCheck::NotFixedDisk},
      {"C:\\Korvo", platform::FileSystemKind{true, false}, kNeededSpace, RootCheck::NotFixedDisk},
  };
  for (const auto& c : cases) {
    std::vector<std::string> asked;
    SetupProbes probes;
    probes.fileSystem = [&](const std::string& folder) {
      asked.push_back(folder);
      return c.kind;
    };
    probes.freeSpace = [&](const std::string& folder) {
      asked.push_back(folder);
      return c.free;
    };
    EXPECT_EQ(CheckRootDirectory(c.root, probes), c.expected) << c.root;
    // The machine is asked about the nearest folder that exists.
    for (const std::string& folder : asked) EXPECT_EQ(folder, existing) << c.root;
  }
  // The real lookup: the test's own folder is on a local disk with room.
  EXPECT_EQ(CheckRootDirectory(missingBelow, MachineProbes({})), RootCheck::Fine);
  EXPECT_EQ(CheckRootDirectory(existing + "/../" + box.root().filename().string() + "/x", MachineProbes({})),
            RootCheck::Fine);
  // /proc is local, but has no room for anything.
  EXPECT_EQ(CheckRootDirectory("/proc/korvo", MachineProbes({})), RootCheck::NoSpace);
}

TEST(SetupPages, NetworkCheckOfTheWelcomePage) {
  const struct {
    bool up, account;
    uint32_t code;
  } cases[] = {{true, true, 0}, {false, true, 1222}, {false, false, 1222}, {true, false, 1245}};
  for (const auto& c : cases) {
    SetupProbes probes;
    probes.networkUp = [&] { return c.up; };
    probes.hasAccount = [&] { return c.account; };
    EXPECT_EQ(NetworkCheck(probes), c.code) << c.up << c.account;
  }
}

// A file even root cannot open for writing, as on read-only media.
class Immutable {
 public:
  explicit Immutable(const fs::path& p) : path_(p) { Set(FS_IMMUTABLE_FL); }
  ~Immutable() { Set(0); }
  bool ok() const { return ok_; }

 private:
  void Set(int flags) {
    const int fd = open(path_.c_str(), O_RDONLY);
    ok_ = fd >= 0 && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0) close(fd);
  }
  fs::path path_;
  bool ok_ = false;
};

TEST(SetupPages, ReadmeIsReadOnlyCutAndShownAsText) {
  Sandbox box;
  const fs::path media = box.path("media");
  fs::create_directories(media);
  EXPECT_EQ(ReadmeText(media.string()), "Could not open Readme.txt file");
  const struct {
    std::string content;
    std::string shown;
  } cases[] = {
      {"Korvo 1.30\r\nRead me.\r\n", "Korvo 1.30\r\nRead me.\r\n"},
      {std::string(9000, 'a'), std::string(8191, 'a')},
      {"bad \xff\xfe byte", "bad \xEF\xBF\xBD\xEF\xBF\xBD byte"},
      // A character cut at the limit is not shown in halves.
      {std::string(8190, 'b') + "\xC5\xBE", std::string(8190, 'b') + "\xEF\xBF\xBD"},
      {std::string("before\0after", 12), "before"},
      {"", ""},
  };
  for (const auto& c : cases) {
    Sandbox::writeFile(media / "README.TXT", c.content);
    EXPECT_EQ(ReadmeText(media.string()), c.shown);
  }
  if (geteuid() == 0) {
    Sandbox::writeFile(media / "README.TXT", "on read-only media");
    Immutable readOnly(media / "README.TXT");
    ASSERT_TRUE(readOnly.ok());
    EXPECT_EQ(ReadmeText(media.string()), "on read-only media");
    Sandbox::writeFile(media / "README.TXT", "x");  // refused
    EXPECT_EQ(Sandbox::readFile(media / "README.TXT"), "on read-only media");
  }
  fs::remove(media / "README.TXT");
  fs::create_directories(media / "README.TXT");
  EXPECT_EQ(ReadmeText(media.string()), "Could not open Readme.txt file");
}

}  // namespace
}  // namespace korvo::setup
