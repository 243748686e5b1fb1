#include "common/userenvironment.h"

#include <gtest/gtest.h>

#include <filesystem>

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
