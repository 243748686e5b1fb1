// The test programs find the trees they were built from through the environment
// CTest gives them, whichever folder they run in.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/sandbox.h"

namespace {

namespace fs = std::filesystem;
using korvo::test::BuildDir;
using korvo::test::SourceDir;

TEST(TestEnvironment, NamesTheSourceAndTheBuildTree) {
  EXPECT_TRUE(SourceDir().is_absolute()) << SourceDir();
  EXPECT_TRUE(fs::exists(SourceDir() / "tests" / "support" / "sandbox.h")) << SourceDir();
  EXPECT_TRUE(BuildDir().is_absolute()) << BuildDir();
  EXPECT_TRUE(fs::exists(BuildDir() / "CMakeCache.txt")) << BuildDir();
}

}  // namespace
