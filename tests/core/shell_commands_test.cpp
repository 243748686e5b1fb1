// Program Manager commands as setup sends them, carried out on freedesktop
// menus below the sandbox's system root: the entries desktop-file-validate
// accepts, a launcher that hands each path over whole, and a removal that
// leaves nothing.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "core/install/install.h"
#include "platform/process.h"
#include "tests/support/sandbox.h"

namespace korvo {
namespace {

namespace fs = std::filesystem;
using test::Sandbox;

constexpr const char* kGroup = "Velmora Korvo";

std::vector<std::string> Tree(const fs::path& dir) {
  std::vector<std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec); it != fs::recursive_directory_iterator(); ++it)
    out.push_back(fs::relative(it->path(), dir).string());
  std::sort(out.begin(), out.end());
  return out;
}

class ShellCommands : public ::testing::Test {
 protected:
  // An installation folder with the programs the items start (each one a
  // script that writes its arguments, one a line, beside the test's files)
  // and the documents they open.
  void Install(const fs::path& root) {
    fs::create_directories(root);
    for (const char* program : {"korvodesk", "korvobell", "korvolens", "korvoprep"}) {
      Sandbox::writeFile(root / program, "#!/bin/sh\nfor a; do printf '%s\\n' \"$a\"; done > \"$ARGS_FILE\"\n");
      fs::permissions(root / program, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                          fs::perms::others_read | fs::perms::others_exec);
    }
    Sandbox::writeFile(root / "README.TXT", "read me");
    Sandbox::writeFile(root / "korvodesk.html", "<html></html>");
  }

  // The group and Startup items as setup makes them; the root ends with '/'.
  void AddGroup(const std::string& root) {
    uint32_t id = 0;
    ASSERT_EQ(KvShellCommandsStart(&id), 1);
    const char* r = root.c_str();
    EXPECT_EQ(KvSendShellCommand(id, "[DeleteGroup(\"Korvo\",1)]"), 1);
    EXPECT_EQ(KvSendShellCommand(id, "[CreateGroup(\"%s\",1)]", kGroup), 1);
    EXPECT_EQ(KvSendShellCommand(id, "[ShowGroup(\"%s\",7,1)]", kGroup), 1);
    EXPECT_EQ(KvSendShellCommand(id, "[AddItem(\"%s%s\",\"Korvo Manager\")]", r, "korvodesk"), 1);
    EXPECT_EQ(KvSendShellCommand(id, "[AddItem(\"%s%s\",\"Korvo Notifier\")]", r, "korvobell"), 1);
    EXPECT_EQ(KvSendShellCommand(id, "[AddItem(\"%s%s\",\"Korvo Viewer\")]", r, "korvolens"), 1);
    EXPECT_EQ(KvSendShellCommand(id, "[AddItem(\"%s%s\",\"Readme\")]", r, "README.TXT"), 1);
    EXPECT_EQ(KvSendShellCommand(id, "[AddItem(\"%s%s\",Help)]", r, "korvodesk.html"), 1);
    EXPECT_EQ(KvSendShellCommand(id, "[AddItem(\"%s%s\" /uninstall,Remove Korvo,\"%s%s\",1)]", r, "korvoprep", r,
                                 "korvoprep"),
              1);
    EXPECT_EQ(KvSendShellCommand(id, "[ExitProgman(0)]"), 1);
    EXPECT_EQ(KvSendShellCommand(id, "[ShowGroup(Startup,7,1)]"), 1);
    EXPECT_EQ(KvSendShellCommand(id, "[ReplaceItem(\"Korvo Notifier\")]"), 1);
    EXPECT_EQ(KvSendShellCommand(id, "[AddItem(\"%s%s\",\"Korvo Notifier\")]", r, "korvobell"), 1);
    EXPECT_EQ(KvSendShellCommand(id, "[ExitProgman(0)]"), 1);
    EXPECT_EQ(KvShellCommandsEnd(id), 1);
  }

  // The removal of the old group, as setup sends it.
  void RemoveGroup() {
    uint32_t id = 0;
    ASSERT_EQ(KvShellCommandsStart(&id), 1);
    KvSendShellCommand(id, "[CreateGroup(\"Startup\",1)]");
    KvSendShellCommand(id, "[DeleteItem(\"Korvo Notifier\")]");
    KvSendShellCommand(id, "[DeleteItem(\"Korvo Manager\")]");
    KvSendShellCommand(id, "[ExitProgman(0)]");
    EXPECT_EQ(KvSendShellCommand(id, "[DeleteGroup(\"%s\",1)]", kGroup), 1);
    KvShellCommandsEnd(id);
  }

  fs::path applications() const { return sandbox_.systemRoot() / "usr/local/share/applications"; }
  fs::path autostart() const { return sandbox_.systemRoot() / "etc/xdg/autostart"; }

  // Starts the entry as a desktop would and returns the arguments the
  // program got: it writes them into a FIFO, read here to its end.
  std::vector<std::string> Launch(const fs::path& entry) {
    const fs::path args = sandbox_.path("args");
    fs::remove(args);
    EXPECT_EQ(mkfifo(args.c_str(), 0600), 0);
    sandbox_.setEnv("ARGS_FILE", args.string());
    int fd = open(args.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_TRUE(platform::RunProcess({"gio", "launch", entry.string()})) << entry;
    std::string text;
    // Until the program has opened the FIFO and closed it again.
    bool writerSeen = false;
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 60000) <= 0) {
        ADD_FAILURE() << "the program never wrote its arguments";
        break;
      }
      char buf[4096];
      ssize_t n = read(fd, buf, sizeof buf);
      if (n > 0) {
        writerSeen = true;
        text.append(buf, static_cast<size_t>(n));
      } else if (n == 0 && (writerSeen || (p.revents & POLLHUP))) {
        break;
      }
    }
    close(fd);
    fs::remove(args);
    std::vector<std::string> lines;
    std::string line;
    for (char c : text) {
      if (c == '\n') {
        lines.push_back(line);
        line.clear();
      } else {
        line += c;
      }
    }
    return lines;
  }

  Sandbox sandbox_;
};

TEST_F(ShellCommands, TheGroupBecomesAMenuFolderWithValidEntries) {
  const std::vector<std::string> roots = {
      "Korvo/", "Korvo Files/", "it's \"100%\" ours, (really) $HOME `x` \\ ;/",
      // Long enough that the Remove item, which names it twice, once overran
      // a 256-byte command buffer.
      std::string(180, 'd') + "/" + std::string(75, 'e') + "/"};
  for (const std::string& relative : roots) {
    SCOPED_TRACE(relative);
    const fs::path root = sandbox_.path(relative);
    Install(root);
    const std::string before = Sandbox::readFile(root / "korvoprep");
    AddGroup(root.string() + "/");

    const std::vector<std::string> items = {
        "korvo-velmora-korvo-help.desktop",          "korvo-velmora-korvo-korvo-manager.desktop",
        "korvo-velmora-korvo-korvo-notifier.desktop", "korvo-velmora-korvo-korvo-viewer.desktop",
        "korvo-velmora-korvo-readme.desktop",         "korvo-velmora-korvo-remove-korvo.desktop"};
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(applications())) files.push_back(e.path().filename().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, items);
    const fs::path directory = sandbox_.systemRoot() / "usr/local/share/desktop-directories/korvo-velmora-korvo.directory";
    const fs::path menu = sandbox_.systemRoot() / "etc/xdg/menus/applications-merged/korvo-velmora-korvo.menu";
    const fs::path startup = autostart() / "korvo-korvo-notifier.desktop";
    for (const fs::path& f : {directory, startup}) EXPECT_TRUE(platform::RunProcess({"desktop-file-validate", f.string()})) << f;
    for (const std::string& item : items) {
      EXPECT_TRUE(platform::RunProcess({"desktop-file-validate", (applications() / item).string()})) << item;
      EXPECT_NE(Sandbox::readFile(menu).find("<Filename>" + item + "</Filename>"), std::string::npos) << item;
    }
    EXPECT_NE(Sandbox::readFile(directory).find("Name=Velmora Korvo\n"), std::string::npos);
    EXPECT_NE(Sandbox::readFile(menu).find("<Name>Velmora Korvo</Name>"), std::string::npos);

    // Documents are links to the file; programs get each path whole.
    const std::string readme = Sandbox::readFile(applications() / "korvo-velmora-korvo-readme.desktop");
    EXPECT_NE(readme.find("Type=Link\n"), std::string::npos) << readme;
    EXPECT_NE(readme.find("URL=file://"), std::string::npos) << readme;
    const std::string remove = Sandbox::readFile(applications() / "korvo-velmora-korvo-remove-korvo.desktop");
    if (relative.find('%') == std::string::npos) {
      EXPECT_EQ(Launch(applications() / "korvo-velmora-korvo-remove-korvo.desktop"),
                (std::vector<std::string>{"/uninstall"}));
      EXPECT_EQ(Launch(startup), std::vector<std::string>{});
    } else {
      // GLib looks for the program before it undoes "%%", so gio cannot
      // start it: the line itself shows the quoting.
      EXPECT_NE(remove.find("Exec=\"" + sandbox_.root().string() +
                            R"(/it's \\"100%%\\" ours, (really) \\$HOME \\`x\\` \\\\ ;//korvoprep" /uninstall)" + "\n"),
                std::string::npos)
          << remove;
    }
    EXPECT_EQ(Sandbox::readFile(root / "korvoprep"), before);

    RemoveGroup();
    EXPECT_EQ(Tree(sandbox_.systemRoot()), std::vector<std::string>{}) << "removal leaves nothing";
  }
}

// The items land where the program's own path says, whatever the root holds:
// the launched program is the one in that folder.
TEST_F(ShellCommands, ThePathOfTheProgramReachesTheLauncherWhole) {
  const fs::path root = sandbox_.path("a \"b\" $c `d` \\e");
  Install(root);
  Sandbox::writeFile(root / "korvodesk", "#!/bin/sh\nprintf '%s\\n' \"$0\" > \"$ARGS_FILE\"\n");
  AddGroup(root.string() + "/");
  EXPECT_EQ(Launch(applications() / "korvo-velmora-korvo-korvo-manager.desktop"),
            std::vector<std::string>{(root / "korvodesk").string()});
  RemoveGroup();
}

TEST_F(ShellCommands, WhatProgramManagerWouldRefuseGivesZero) {
  // The commands come as they are, not as formats of the test's.
  int (*send)(uint32_t, const char*, ...) = KvSendShellCommand;
  uint32_t id = 0;
  ASSERT_EQ(KvShellCommandsStart(&id), 1);
  struct Case {
    const char* command;
    int result;
  };
  for (const Case& c : {Case{"[FormatDisk(\"C\")]", 0}, Case{"AddItem(\"/bin/true\",x)", 0}, Case{"[AddItem(\"/bin/true\"", 0},
                        Case{"[AddItem(\"/bin/true\",\"True\")]", 0}, Case{"[DeleteItem(\"True\")]", 0},
                        Case{"[ShowGroup(\"Never Made\",7,1)]", 0}, Case{"[ExitProgman(0)]", 1}, Case{"", 0}}) {
    SCOPED_TRACE(c.command);
    EXPECT_EQ(send(id, c.command), c.result);
  }
  EXPECT_EQ(KvShellCommandsEnd(id), 1);
  EXPECT_EQ(KvShellCommandsEnd(id), 0);
  EXPECT_EQ(KvSendShellCommand(id, "[ExitProgman(0)]"), 0) << "an ended session";
  EXPECT_EQ(Tree(sandbox_.systemRoot()), std::vector<std::string>{});
}

// Personal groups go to the user's own XDG folders.
TEST_F(ShellCommands, APersonalGroupIsTheUsersOwn) {
  const fs::path root = sandbox_.path("Korvo");
  Install(root);
  uint32_t id = 0;
  ASSERT_EQ(KvShellCommandsStart(&id), 1);
  EXPECT_EQ(KvSendShellCommand(id, "[CreateGroup(\"Mine\")]"), 1);
  EXPECT_EQ(KvSendShellCommand(id, "[AddItem(\"%s/korvolens\",Viewer)]", root.c_str()), 1);
  EXPECT_TRUE(fs::exists(sandbox_.path("data/applications/korvo-mine-viewer.desktop")));
  EXPECT_TRUE(fs::exists(sandbox_.path("data/desktop-directories/korvo-mine.directory")));
  EXPECT_TRUE(fs::exists(sandbox_.path("config/menus/applications-merged/korvo-mine.menu")));
  EXPECT_EQ(KvSendShellCommand(id, "[DeleteGroup(\"Mine\")]"), 1);
  EXPECT_FALSE(fs::exists(sandbox_.path("data/applications")));
  EXPECT_FALSE(fs::exists(sandbox_.path("config/menus")));
  EXPECT_TRUE(fs::exists(sandbox_.path("data"))) << "the user's own folders stay";
  KvShellCommandsEnd(id);
  EXPECT_EQ(Tree(sandbox_.systemRoot()), std::vector<std::string>{});
}

}  // namespace
}  // namespace korvo
