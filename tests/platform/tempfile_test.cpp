#include "platform/tempfile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "platform/lasterror.h"
#include "tests/support/sandbox.h"

namespace korvo::platform {
namespace fs = std::filesystem;

class TempFile : public ::testing::Test {
 protected:
  test::Sandbox box;
  std::string folder = box.root().string() + "/";
};

TEST_F(TempFile, ChosenNameIsCreatedEmptyWithPrefixAndHexDigits) {
  std::string name;
  uint32_t u = GetTempFileName(folder, "LSTXYZ", 0, name);
  ASSERT_NE(u, 0u);
  char hex[5];
  std::snprintf(hex, sizeof hex, "%04X", u);
  EXPECT_EQ(name, folder + "LST" + hex + ".TMP");
  ASSERT_TRUE(fs::exists(name));
  EXPECT_EQ(fs::file_size(name), 0u);
}

TEST_F(TempFile, FolderWithoutSlashGetsOne) {
  std::string name;
  ASSERT_NE(GetTempFileName(box.root().string(), "HDR", 0, name), 0u);
  EXPECT_EQ(fs::path(name).parent_path(), box.root());
}

TEST_F(TempFile, TakenNamesAreSkipped) {
  std::string first;
  uint32_t u = GetTempFileName(folder, "FAX", 0, first);
  ASSERT_NE(u, 0u);
  // The next two numbers are taken by someone else: the call must go past them.
  std::string taken1, taken2;
  GetTempFileName(folder, "FAX", u + 1, taken1);
  GetTempFileName(folder, "FAX", u + 2, taken2);
  test::Sandbox::writeFile(taken1, "keep");
  test::Sandbox::writeFile(taken2, "keep");
  std::string next;
  ASSERT_NE(GetTempFileName(folder, "FAX", 0, next), 0u);
  EXPECT_NE(next, taken1);
  EXPECT_NE(next, taken2);
  EXPECT_EQ(test::Sandbox::readFile(taken1), "keep");
  EXPECT_EQ(test::Sandbox::readFile(taken2), "keep");
}

// A temporary file is its maker's alone, and a name someone planted (a
// link to a file of the user's) is never taken over.
TEST_F(TempFile, NewFilesArePrivateAndPlantedLinksAreSkipped) {
  const mode_t saved = umask(0);
  std::string first;
  const uint32_t u = GetTempFileName(folder, "LST", 0, first);
  ASSERT_NE(u, 0u);
  EXPECT_EQ(fs::status(first).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  const std::string target = folder + "precious";
  test::Sandbox::writeFile(target, "keep");
  for (uint32_t next : {u + 1, u + 2}) {
    std::string planted;
    GetTempFileName(folder, "LST", next, planted);
    fs::create_symlink(target, planted);
  }
  std::string name;
  const int fd = CreateTempFile(folder, "LST", name);
  umask(saved);
  ASSERT_GE(fd, 0);
  EXPECT_FALSE(fs::is_symlink(name)) << name;
  EXPECT_EQ(fs::status(name).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  // The handle is the file: written through it, read back by name.
  ASSERT_EQ(write(fd, "list", 4), 4);
  close(fd);
  EXPECT_EQ(test::Sandbox::readFile(name), "list");
  EXPECT_EQ(test::Sandbox::readFile(target), "keep");

  std::string unchanged = "unchanged";
  EXPECT_LT(CreateTempFile(folder + "missing/", "LST", unchanged), 0);
  EXPECT_EQ(unchanged, "unchanged");
  EXPECT_EQ(GetLastError(), static_cast<uint32_t>(ENOENT));
}

TEST_F(TempFile, ManyNamesAreDistinct) {
  std::set<std::string> names;
  for (int i = 0; i < 300; ++i) {
    std::string name;
    ASSERT_NE(GetTempFileName(folder, "CPT", 0, name), 0u);
    EXPECT_TRUE(names.insert(name).second) << name;
  }
}

TEST_F(TempFile, GivenNumberBuildsNameOnly) {
  std::string name;
  EXPECT_EQ(GetTempFileName(folder, "COV", 0x1ABCD, name), 0xABCDu);
  EXPECT_EQ(name, folder + "COVABCD.TMP");
  EXPECT_FALSE(fs::exists(name));
}

TEST_F(TempFile, FailuresLeaveTheNameAndSetTheLastError) {
  struct Case {
    std::string folder;
    uint32_t error;
  } cases[] = {
      {folder + "missing/", ENOENT},
      {folder + std::string(300, 'd') + "/", ENAMETOOLONG},
  };
  for (const auto& c : cases) {
    std::string name = "unchanged";
    SetLastError(0);
    EXPECT_EQ(GetTempFileName(c.folder, "NTF", 0, name), 0u);
    EXPECT_EQ(name, "unchanged");
    EXPECT_EQ(GetLastError(), c.error);
  }
}

}  // namespace korvo::platform
