// The machine's accounts as setup imports them, read through getpwent from
// passwd and login.defs files of the test's own (bind-mounted over the
// system's in a private mount namespace of a child process), the user book
// they go into, the user's environment and the folders setup makes.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/settings.h"
#include "common/user_record.h"
#include "common/userenvironment.h"
#include "core/install/install.h"
#include "core/install/users.h"
#include "platform/file_io.h"
#include "platform/lasterror.h"
#include "platform/username.h"
#include "tests/core/install_files.h"
#include "tests/support/private_mounts.h"
#include "tests/support/sandbox.h"

namespace korvo {
namespace {

namespace fs = std::filesystem;
using test::Sandbox;

using test::Mode;

class Accounts : public ::testing::Test {
 protected:
  // Runs the body in a child that sees these files as /etc/passwd and
  // /etc/login.defs; false when the child could not set them up. The child's
  // /etc is a folder of the test's own with these two files and links to the
  // rest of the system's /etc: a file mounted over /etc/passwd itself would
  // be unmounted as soon as anyone else on the machine replaced that file
  // (useradd renames a new one over it), and the body would read the real one.
  bool WithAccounts(const std::string& passwd, const std::string& loginDefs, const std::function<void()>& body) {
    const fs::path etc = box_.path("etc"), system = box_.path("system-etc");
    fs::remove_all(etc);
    fs::create_directories(etc);
    fs::create_directories(system);
    for (const auto& e : fs::directory_iterator("/etc")) {
      const fs::path name = e.path().filename();
      if (name != "passwd" && name != "login.defs") fs::create_symlink(system / name, etc / name);
    }
    Sandbox::writeFile(etc / "passwd", passwd);
    Sandbox::writeFile(etc / "login.defs", loginDefs);
    fs::permissions(etc, fs::perms(0755));
    const pid_t pid = fork();
    if (pid == 0) {
      if (!test::EnterPrivateMounts().empty() ||
          mount("/etc", system.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0 ||
          mount(etc.c_str(), "/etc", nullptr, MS_BIND, nullptr) != 0)
        _exit(2);
      body();
      _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  // The list FindUsers makes from the files, as the child wrote it.
  std::vector<std::string> List(const std::string& passwd, const std::string& loginDefs, int* result) {
    const fs::path out = box_.path("list");
    EXPECT_TRUE(WithAccounts(passwd, loginDefs, [&] {
      std::vector<std::string> list;
      std::string text = std::to_string(install::FindUsers(nullptr, &list)) + "\n";
      for (const std::string& entry : list) text += entry + "\n";
      Sandbox::writeFile(out, text);
    }));
    std::vector<std::string> lines;
    std::string all = Sandbox::readFile(out);
    for (size_t at = 0, end; (end = all.find('\n', at)) != std::string::npos; at = end + 1)
      lines.push_back(all.substr(at, end - at));
    if (lines.empty()) return lines;
    *result = std::atoi(lines[0].c_str());
    lines.erase(lines.begin());
    return lines;
  }

  static std::string Line(const std::string& name, int uid, const std::string& gecos) {
    return name + ":x:" + std::to_string(uid) + ":100:" + gecos + ":/home/" + name + ":/bin/sh\n";
  }

  Sandbox box_;
};

void SkipWithoutPrivateMounts() {
  static const std::string why = test::PrivateMountsProblem();
  if (!why.empty()) GTEST_SKIP() << "no private mount namespace for the test's accounts (" << why << ")";
}

std::string Record(const std::string& name, const std::string& full, const std::string& desc) {
  UserRecord r;
  r.Set(name, full, desc, 2);
  return r.Encode();
}

TEST_F(Accounts, OrdinaryAccountsInTheirPlaceWithTheirGecosTexts) {
  SkipWithoutPrivateMounts();
  if (IsSkipped()) return;
  const std::string longName = std::string(62, 'x') + "\xC5\xBD" + "eljko";  // Ž across the 63rd byte
  struct Case {
    const char* what;
    std::string line;
    std::string expected;  // the list entry; "" when left out
  };
  const std::vector<Case> cases = {
      {"full name and comment", Line("ana", 2000, "Ana Horvat,Room 5,555-1234,,"),
       Record("ana", "Ana Horvat", "Room 5,555-1234,,")},
      {"no GECOS", Line("ben", 2001, ""), Record("ben", "", "")},
      {"control bytes dropped", Line("eve", 2002, "E\x1bve\x7f,line\x1b\x01two"), Record("eve", "Eve", "linetwo")},
      {"cut before a split character", Line("zel", 2003, longName), Record("zel", std::string(62, 'x'), "")},
      {"a name too long for the record", Line(std::string(32, 'n'), 2004, "Long"), ""},
      {"the highest ordinary id", Line("max", 3000, "Max"), Record("max", "Max", "")},
  };
  std::string passwd = Line("root", 0, "root") + Line("daemon", 1, "daemon") + Line("sysop", 1999, "below") +
                       Line("high", 3001, "above") + Line("nobody", 65534, "nobody");
  for (const Case& c : cases) passwd += c.line;
  int result = -1;
  const std::vector<std::string> list =
      List(passwd, "# the test's own range\nUID_MIN\t\t\t 2000\nUID_MAX   3000\n", &result);
  EXPECT_EQ(result, 0);
  ASSERT_EQ(list.size(), install::kUserListSize);
  for (size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(list[i], cases[i].expected) << cases[i].what;
  for (size_t i = cases.size(); i < list.size(); ++i) EXPECT_EQ(list[i], "");
}

// A login the user name field cannot hold whole is left out, and setup says
// which and why: cut, it would be another login's name.
TEST_F(Accounts, LoginsLeftOutAreNamedWithTheirReason) {
  SkipWithoutPrivateMounts();
  if (IsSkipped()) return;
  const std::string admin(31, 'a');
  const std::string passwd = Line(admin, 2000, "") + Line(admin + "b", 2001, "") + Line("ok", 2002, "") +
                             Line("tab\tname", 2003, "") + Line(std::string(31, 'c'), 2004, "");
  const fs::path out = box_.path("skipped");
  ASSERT_TRUE(WithAccounts(passwd, "UID_MIN 2000\n", [&] {
    std::vector<std::string> list, skipped;
    EXPECT_EQ(install::FindUsers(nullptr, &list, &skipped), 0);
    std::string text;
    for (const std::string& line : skipped) text += line + "\n";
    Sandbox::writeFile(out, text);
    EXPECT_EQ(list[0], Record(admin, "", ""));
    EXPECT_EQ(list[1], "");
    EXPECT_EQ(list[2], Record("ok", "", ""));
    EXPECT_EQ(list[3], "");
    EXPECT_EQ(list[4], Record(std::string(31, 'c'), "", ""));
  }));
  EXPECT_EQ(Sandbox::readFile(out),
            "'" + admin + "b' (uid 2001) not imported: its name is longer than 31 characters, the most a user name "
            "holds\n"
            "'tab?name' (uid 2003) not imported: its name holds control characters\n");
}

TEST_F(Accounts, TheFirst64OrdinaryAccountsOfSeventy) {
  SkipWithoutPrivateMounts();
  if (IsSkipped()) return;
  std::string passwd = Line("root", 0, "");
  for (int i = 0; i < 70; ++i) passwd += Line("user" + std::to_string(i), 1000 + i, "");
  int result = -1;
  SetDebugFlags(2);
  // No range in the file: shadow's defaults, 1000 to 60000.
  const std::vector<std::string> list = List(passwd, "", &result);
  EXPECT_EQ(result, 0);
  ASSERT_EQ(list.size(), install::kUserListSize);
  EXPECT_EQ(list.front(), Record("user0", "", ""));
  EXPECT_EQ(list.back(), Record("user63", "", ""));
  const std::string trace = Sandbox::readFile(box_.traceFile());
  EXPECT_NE(trace.find("FindUsers on 'local' host found 64 users, rc=0\n"), std::string::npos) << trace;
}

TEST(FindUsers, AnotherMachineListsNothing) {
  std::vector<std::string> list(install::kUserListSize);
  EXPECT_EQ(install::FindUsers("faxhost.example", &list), 1);
  for (const std::string& entry : list) EXPECT_EQ(entry, "");
}

class Import : public Accounts {
 protected:
  std::string root() const { return box_.path("opt/korvo").string() + "/"; }
  fs::path config() const { return box_.path("opt/korvo/Server/Config"); }

  // Imports the accounts below in a child, as the setup user the
  // environment names.
  void ImportAs(const std::vector<std::pair<const char*, std::string>>& env) {
    const std::string passwd =
        Line("root", 0, "") + Line("ana", 1000, "Ana Horvat") + Line("bob", 1001, "Bob") + Line("carol", 1002, "Carol");
    ASSERT_TRUE(WithAccounts(passwd, "", [&] {
      SetDebugFlags(1);
      unsetenv("SUDO_USER");
      unsetenv("SUDO_UID");
      for (const auto& [name, value] : env) setenv(name, value.c_str(), 1);
      EXPECT_EQ(KvImportUsers(root().c_str()), 0UL);
    }));
  }

  // The stored user of that name; rights 0 when there is none.
  UserRecord Stored(const fs::path& book, const char* name) {
    bool open = false;
    UserDatabase users(book.string(), &open);
    EXPECT_TRUE(open);
    UserRecord key, out;
    key.Set(name, "", "", 0);
    if (!users.Get(&key, &out)) out.Clear();
    return out;
  }

  // A book of an earlier setup with carol registered as a dispatcher.
  void Register(const fs::path& book) {
    fs::create_directories(book.parent_path());
    bool open = false;
    UserDatabase users(book.string(), &open);
    ASSERT_TRUE(open);
    UserRecord carol;
    carol.Set("Carol", "Carol Kovac", "dispatch", 0x10);
    ASSERT_TRUE(users.AddUser(carol.Encode()));
  }
};

TEST_F(Import, AccountsJoinTheBookAndOnlyTheSetupUserGainsAllRights) {
  SkipWithoutPrivateMounts();
  if (IsSkipped()) return;
  struct Case {
    const char* what;
    std::vector<std::pair<const char*, std::string>> env;
    uint32_t bobRights;
  };
  const std::vector<Case> cases = {
      {"sudo by bob", {{"SUDO_USER", "bob"}, {"SUDO_UID", "1001"}}, 0x3F},
      {"SUDO_USER without SUDO_UID", {{"SUDO_USER", "bob"}}, 0x3F},
      {"a SUDO_UID that is not bob's", {{"SUDO_USER", "bob"}, {"SUDO_UID", "1000"}}, 0x02},
      {"root itself", {}, 0x02},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(box_.path("opt"));
    ImportAs(c.env);
    const fs::path book = config() / "RegUsers.dbs";
    EXPECT_EQ(Mode(config()), 0700u);
    EXPECT_EQ(Mode(config().parent_path()), 0700u);
    EXPECT_EQ(Stored(book, "Administrator").rights, kAdministratorRights);
    const UserRecord ana = Stored(book, "ana");
    EXPECT_EQ(ana.rights, 0x02u);
    EXPECT_EQ(ana.fullName.Str(), "Ana Horvat");
    EXPECT_EQ(Stored(book, "bob").rights, c.bobRights);
    EXPECT_EQ(Stored(book, "root").rights, 0u) << "root's id is no ordinary account's";
  }
}

TEST_F(Import, AnEarlierBookIsRenamedAndItsUsersKeepTheirRecords) {
  SkipWithoutPrivateMounts();
  if (IsSkipped()) return;
  Register(config() / "RegUsers.bok");
  ImportAs({{"SUDO_USER", "ana"}});
  EXPECT_FALSE(fs::exists(config() / "RegUsers.bok"));
  const UserRecord carol = Stored(config() / "RegUsers.dbs", "carol");
  EXPECT_EQ(carol.rights, 0x10u);
  EXPECT_EQ(carol.userName.Str(), "Carol");
  EXPECT_EQ(carol.fullName.Str(), "Carol Kovac");
  EXPECT_EQ(carol.description.Str(), "dispatch");
  EXPECT_EQ(Stored(config() / "RegUsers.dbs", "ana").rights, 0x3Fu);
}

TEST_F(Import, AnExistingBookIsKeptAndTheEarlierOneLeftBeside) {
  SkipWithoutPrivateMounts();
  if (IsSkipped()) return;
  Register(config() / "RegUsers.dbs");
  Sandbox::writeFile(config() / "RegUsers.bok", "older");
  ImportAs({});
  EXPECT_EQ(Sandbox::readFile(config() / "RegUsers.bok"), "older");
  const std::string trace = Sandbox::readFile(box_.traceFile());
  EXPECT_NE(trace.find("KVSetup: MoveFile RegUsers error=" + std::to_string(EEXIST) + "\n"), std::string::npos) << trace;
  EXPECT_EQ(Stored(config() / "RegUsers.dbs", "carol").rights, 0x10u);
  EXPECT_EQ(Stored(config() / "RegUsers.dbs", "bob").rights, 0x02u);
}

TEST(MakeDirectories, EveryFolderAlongThePath) {
  Sandbox box;
  Sandbox::writeFile(box.path("file"), "x");
  fs::create_directories(box.path("there/already"));
  struct Case {
    std::string path;
    int expected;
    uint32_t error;
  };
  const std::vector<Case> cases = {
      {box.path("a/b c/d").string(), 1, 0},
      {box.path("e/f/").string(), 1, 0},
      {box.path("there/already").string(), 1, 0},
      {box.path("file/below").string(), 0, ENOTDIR},
      {box.path("file").string(), 0, ENOTDIR},
      {"", 0, ENOENT},
  };
  for (const Case& c : cases) {
    platform::SetLastError(0);
    EXPECT_EQ(KvMakeDirectories(c.path.c_str()), c.expected) << c.path;
    if (c.expected) EXPECT_TRUE(fs::is_directory(c.path)) << c.path;
    else EXPECT_EQ(platform::GetLastError(), c.error) << c.path;
  }
}

TEST(UserDefaultEnvironment, ServerAndDataFolderFromTheMachinesValues) {
  struct Case {
    const char* what;
    const char* machineServer;
    bool usersPath;
    const char* userServer;
    bool userDataPath;
    int expected;
  };
  const std::vector<Case> cases = {
      {"a new user", "faxhost", true, nullptr, false, 1},
      {"the user's own server stays", "faxhost", true, "mine", false, 1},
      {"the user's own folder stays", "faxhost", false, nullptr, true, 1},
      {"no server anywhere", nullptr, true, nullptr, false, 0},
      {"no users folder", "faxhost", false, nullptr, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Sandbox box;
    const std::string users = box.path("opt/korvo/Users").string(), own = box.path("home/data/korvo/").string();
    if (c.machineServer) {
      ASSERT_EQ(KvSetKorvoDefaultServer(c.machineServer), 1);
    }
    if (c.usersPath) {
      ASSERT_EQ(KvSetKorvoDefaultUsersDataPath(users.c_str()), 1);
    }
    if (c.userServer) {
      ASSERT_EQ(KvSetDefaultServer(c.userServer), 1);
    }
    if (c.userDataPath) {
      ASSERT_EQ(KvSetDataPath(own.c_str()), 1);
    }
    EXPECT_EQ(KvCheckCurrentUserRegistryKeys(), c.userServer && c.userDataPath ? 1 : 0);

    EXPECT_EQ(KvMakeUserDefaultEnvironment(), c.expected);
    if (!c.expected) continue;
    EXPECT_EQ(KvCheckCurrentUserRegistryKeys(), 1);
    char value[260] = {};
    ASSERT_EQ(KvGetDefaultServer(value, sizeof value), 1);
    EXPECT_STREQ(value, c.userServer ? c.userServer : c.machineServer);
    ASSERT_EQ(KvGetDataPath(value, sizeof value), 1);
    char login[65] = {};
    ASSERT_EQ(platform::GetUserName(login, sizeof login), 1);
    const std::string expected = c.userDataPath ? own : users + "/" + login + "/";
    EXPECT_EQ(value, expected);
    EXPECT_TRUE(fs::is_directory(expected));
    if (!c.userDataPath) {
      EXPECT_EQ(Mode(users), 01777u) << "every user makes a folder there";
      EXPECT_EQ(Mode(expected), 0700u);
    }
    // The folder is one the user's programs take as their own.
    UserEnvironment environment;
    EXPECT_EQ(environment.GetDataPath(), expected) << environment.GetDataPathProblem();
  }
}

}  // namespace
}  // namespace korvo
