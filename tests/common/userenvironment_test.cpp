#include "common/userenvironment.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <thread>

#include "common/settings.h"
#include "platform/username.h"
#include "tests/support/sandbox.h"

namespace korvo {
namespace fs = std::filesystem;

namespace {

std::string LoginName() {
  char name[260] = {};
  EXPECT_EQ(platform::GetUserName(name, sizeof name), 1);
  return name;
}

const char* kBoxes[] = {"InBox/", "OutBox/", "SentBox/", "Returned/", "DispBox/"};

}  // namespace

class Environment : public ::testing::Test {
 protected:
  test::Sandbox box;
  std::string users = box.path("Users").string();
};

TEST_F(Environment, DefaultUsersDataPathGivesTheFoldersButNoServerMeansInvalid) {
  ASSERT_EQ(KvWriteRegStr(nullptr, "DefaultUsersDataPath", users.c_str()), 1);
  UserEnvironment env;
  std::string data = users + "/" + LoginName() + "/";
  EXPECT_EQ(env.GetDataPath(), data);
  EXPECT_EQ(env.GetInBoxPath(), data + "InBox/");
  EXPECT_EQ(env.GetOutBoxPath(), data + "OutBox/");
  EXPECT_EQ(env.GetSentBoxPath(), data + "SentBox/");
  EXPECT_EQ(env.GetReturnedPath(), data + "Returned/");
  EXPECT_EQ(env.GetDispBoxPath(), data + "DispBox/");
  EXPECT_EQ(env.GetLocalBookPath(), data + "LocBook.kvb");
  for (const char* b : kBoxes) EXPECT_TRUE(fs::is_directory(data + b)) << b;
  EXPECT_FALSE(fs::exists(env.GetLocalBookPath()));
  EXPECT_EQ(env.GetDefaultServer(), "");
  EXPECT_EQ(env.IsValid(), 0);
}

// The users' parent folder is open to every user and sticky, the user's own
// folder private, whatever the umask.
TEST_F(Environment, TheUsersFolderIsStickyAndTheDataFolderPrivateWhenMade) {
  ASSERT_EQ(KvWriteRegStr(nullptr, "DefaultUsersDataPath", (users + "/").c_str()), 1);
  // A umask that takes nothing away: the boxes are private all the same.
  const mode_t saved = umask(0);
  UserEnvironment env;
  umask(saved);
  ASSERT_EQ(env.GetDataPath(), users + "/" + LoginName() + "/") << env.GetDataPathProblem();
  EXPECT_EQ(env.GetDataPathProblem(), "");
  EXPECT_EQ(fs::status(users).permissions(), fs::perms::all | fs::perms::sticky_bit);
  EXPECT_EQ(fs::status(env.GetDataPath()).permissions(), fs::perms::owner_all);
  for (const char* b : kBoxes) EXPECT_EQ(fs::status(env.GetDataPath() + b).permissions(), fs::perms::owner_all) << b;
  // Folders that were there keep their modes.
  fs::permissions(env.GetDataPath(), fs::perms(0750));
  fs::permissions(users, fs::perms(0755));
  UserEnvironment again;
  EXPECT_EQ(again.GetDataPath(), env.GetDataPath());
  EXPECT_EQ(fs::status(users).permissions(), fs::perms(0755));
  EXPECT_EQ(fs::status(env.GetDataPath()).permissions(), fs::perms(0750));
}

// A data folder another user could have planted or could write in is not
// used: temporary files and faxes would go wherever that user chose. Nothing
// is made in or through it, and the environment says why.
TEST_F(Environment, ADataFolderThatIsNotTheUsersOwnIsRefused) {
  ASSERT_EQ(KvWriteRegStr(nullptr, "DefaultServer", "HUB"), 1);
  // A folder of the user's own choosing, outside the users' folder.
  const std::string data = box.path("elsewhere").string() + "/" + LoginName();
  ASSERT_EQ(KvWriteRegUserStr(nullptr, "DataPath", data.c_str()), 1);
  const std::string target = box.path("target").string();
  struct Case {
    const char* name;
    std::function<void()> plant;
    const char* says;
  } cases[] = {
      {"symbolic link to a folder", [&] { fs::create_directories(target); fs::create_directory_symlink(target, data); },
       "is a symbolic link"},
      {"dangling symbolic link", [&] { fs::create_symlink(box.path("nowhere"), data); }, "is a symbolic link"},
      {"plain file", [&] { test::Sandbox::writeFile(data, "x"); }, "is not a folder"},
      {"folder of another user", [&] { fs::create_directory(data); ASSERT_EQ(chown(data.c_str(), 65534, 65534), 0); },
       "belongs to another user"},
      {"folder others may write", [&] { fs::create_directory(data); fs::permissions(data, fs::perms(0777)); },
       "may be written by other users"},
      {"folder its group may write", [&] { fs::create_directory(data); fs::permissions(data, fs::perms(0770)); },
       "may be written by other users"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(box.path("elsewhere"));
    fs::remove_all(target);
    fs::create_directories(box.path("elsewhere"));
    if (std::string(c.name) == "folder of another user" && geteuid() != 0) continue;  // needs root to chown
    c.plant();
    UserEnvironment env;
    EXPECT_EQ(env.GetDataPath(), "");
    EXPECT_EQ(env.GetInBoxPath(), "");
    EXPECT_EQ(env.GetLocalBookPath(), "");
    EXPECT_EQ(env.IsValid(), 0);
    EXPECT_EQ(env.GetDataPathProblem(), "the data folder " + data + "/ " + c.says + "; it is not used");
    EXPECT_FALSE(fs::exists(target + "/InBox"));
    EXPECT_FALSE(fs::exists(data + "/InBox"));
    EXPECT_EQ(env.GetDataPathNotice(), "");
    EXPECT_FALSE(fs::exists(box.path("data/korvo"))) << "only the users' folder has a stand-in";
  }
}

// Another login plants the victim's folder in the shared, sticky users'
// folder before the victim's first run (mkdir -m 777 users/<victim>), which
// the victim cannot remove. The victim keeps the service: its private folder
// takes the planted one's place, once said, and stays its folder; nothing
// goes into the planted one. Both are ordinary logins: the attacker nobody,
// the victim daemon.
TEST_F(Environment, AFolderPlantedInTheUsersFolderDoesNotCostItsVictimTheService) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as two other logins";
  // getpwnam's entry is overwritten by the next call.
  const passwd* victim = getpwnam("daemon");
  if (!victim) GTEST_SKIP() << "no login daemon";
  const uid_t victimUid = victim->pw_uid;
  const passwd* attacker = getpwnam("nobody");
  if (!attacker) GTEST_SKIP() << "no login nobody";
  const uid_t attackerUid = attacker->pw_uid;
  ASSERT_EQ(KvWriteRegStr(nullptr, "DefaultUsersDataPath", users.c_str()), 1);
  ASSERT_EQ(KvWriteRegStr(nullptr, "DefaultServer", "HUB"), 1);
  // What setup leaves: the users' folder open to all and sticky; the
  // sandbox's files readable by the logins, the victim's data home its own.
  fs::create_directories(users);
  fs::permissions(users, fs::perms(01777));
  fs::permissions(box.root(), fs::perms(0755));
  auto share = [&] {
    for (const auto& e : fs::recursive_directory_iterator(box.root()))
      if (e.is_regular_file()) fs::permissions(e.path(), fs::perms(0644));
  };
  share();
  const std::string home = box.path("data").string();
  fs::create_directories(home);
  ASSERT_EQ(chown(home.c_str(), victimUid, 0), 0);
  const std::string planted = users + "/daemon/";
  const std::string own = home + "/korvo/";
  auto as = [](uid_t uid, const std::function<void()>& body) {
    std::thread t([&] {
      ASSERT_EQ(syscall(SYS_setresuid, -1, uid, -1), 0);
      body();
    });
    t.join();
  };
  as(attackerUid, [&] {
    ASSERT_EQ(mkdir(planted.c_str(), 0777), 0);
    ASSERT_EQ(chmod(planted.c_str(), 0777), 0);
  });
  struct Run {
    const char* what;
    bool storedDataPath;  // setup stored the planted folder as the victim's DataPath
    std::string notice;
  } runs[] = {
      {"first run", false,
       "The Korvo data folder " + planted + " belongs to another user; your faxes are kept in " + own + " instead."},
      {"later run", false, ""},
      {"DataPath names the planted folder", true, ""},
  };
  for (const Run& r : runs) {
    SCOPED_TRACE(r.what);
    if (r.storedDataPath) {
      ASSERT_EQ(KvWriteRegUserStr(nullptr, "DataPath", planted.c_str()), 1);
    }
    share();
    as(victimUid, [&] {
      UserEnvironment env;
      EXPECT_EQ(env.IsValid(), 1) << env.GetDataPathProblem();
      EXPECT_EQ(env.GetDataPath(), own);
      EXPECT_EQ(env.GetInBoxPath(), own + "InBox/");
      EXPECT_EQ(env.GetLocalBookPath(), own + "LocBook.kvb");
      EXPECT_EQ(env.GetDataPathNotice(), r.notice);
      for (const char* b : kBoxes) EXPECT_EQ(fs::status(own + b).permissions(), fs::perms::owner_all) << b;
    });
    EXPECT_TRUE(fs::is_empty(planted));
  }
}

TEST_F(Environment, UserValuesComeBeforeMachineValues) {
  std::string mine = box.path("mine").string() + "/";
  ASSERT_EQ(KvWriteRegStr(nullptr, "DefaultUsersDataPath", users.c_str()), 1);
  ASSERT_EQ(KvWriteRegUserStr(nullptr, "DataPath", mine.c_str()), 1);
  ASSERT_EQ(KvWriteRegStr(nullptr, "DefaultServer", "HUB"), 1);
  {
    UserEnvironment env;
    EXPECT_EQ(env.GetDataPath(), mine);
    EXPECT_EQ(env.GetDefaultServer(), "HUB");
    EXPECT_EQ(env.IsValid(), 1);
    EXPECT_FALSE(fs::exists(users));
  }
  ASSERT_EQ(KvWriteRegUserStr(nullptr, "DefaultServer", "OTHER"), 1);
  UserEnvironment env;
  EXPECT_EQ(env.GetDefaultServer(), "OTHER");
}

TEST_F(Environment, ServerWithoutAnyDataPathIsInvalid) {
  ASSERT_EQ(KvWriteRegUserStr(nullptr, "DefaultServer", "HUB"), 1);
  UserEnvironment env;
  EXPECT_EQ(env.GetDataPath(), "");
  EXPECT_EQ(env.GetInBoxPath(), "");
  EXPECT_EQ(env.GetDefaultServer(), "HUB");
  EXPECT_EQ(env.IsValid(), 0);
}

TEST(EnvironmentFolders, ExistingFoldersAndTheirFilesAreKept) {
  test::Sandbox box;
  std::string data = box.path("data/jane").string() + "/";
  test::Sandbox::writeFile(data + "InBox/FAX1234.fax", "image");
  UserEnvironment env;
  env.SetDataPath(data);
  EXPECT_EQ(test::Sandbox::readFile(data + "InBox/FAX1234.fax"), "image");
  for (const char* b : kBoxes) EXPECT_TRUE(fs::is_directory(data + b)) << b;
}

TEST(EnvironmentFolders, PathWithoutClosingSlashGetsOne) {
  test::Sandbox box;
  UserEnvironment env;
  env.SetDataPath(box.path("jane").string());
  EXPECT_EQ(env.GetDataPath(), box.path("jane").string() + "/");
  EXPECT_EQ(env.GetOutBoxPath(), box.path("jane").string() + "/OutBox/");
  EXPECT_TRUE(fs::is_directory(env.GetOutBoxPath()));
}

TEST(EnvironmentFolders, MakeDirectoryPath) {
  test::Sandbox box;
  test::Sandbox::writeFile(box.path("plain"), "x");
  struct Case {
    std::string path;
    int result;
    std::string made;  // a folder that exists afterwards
  } cases[] = {
      {box.path("a/b/c/").string(), 1, box.path("a/b/c").string()},
      {box.path("d/e").string(), 1, box.path("d/e").string()},
      {box.path("a/b/c/").string(), 1, box.path("a/b/c").string()},
      {box.path("plain/sub/").string(), 0, ""},
      {"", 0, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MakeDirectoryPath(c.path), c.result) << c.path;
    if (!c.made.empty()) {
      EXPECT_TRUE(fs::is_directory(c.made)) << c.path;
    }
  }
  EXPECT_FALSE(fs::exists(box.path("plain/sub")));
}

TEST(EnvironmentFolders, NextPathComponentStepsToEachSlashThenTheLastCharacter) {
  struct Case {
    std::string path;
    std::vector<size_t> stops;
  } cases[] = {
      {"/home/jane/", {0, 5, 10}},
      {"/home/jane", {0, 5, 9}},
      {"a/b", {1, 2}},
      {"x", {0}},
      {"", {}},
  };
  for (const auto& c : cases) {
    std::vector<size_t> stops;
    size_t index = 0;
    while (NextPathComponent(c.path, index)) stops.push_back(index++);
    EXPECT_EQ(stops, c.stops) << c.path;
  }
  size_t index = 4;
  EXPECT_EQ(NextPathComponent("abc", index), 0);
  EXPECT_EQ(index, 4u);
}

}  // namespace korvo
