#include "platform/durable_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/lasterror.h"
#include "tests/support/sandbox.h"

namespace korvo::platform {
namespace fs = std::filesystem;

namespace {

DiskStep gFailing;
int FailOne(DiskStep step, const std::string&) { return step == gFailing ? ENOSPC : 0; }

struct HookGuard {
  explicit HookGuard(DiskStep step) {
    gFailing = step;
    SetDiskFaultHook(FailOne);
  }
  ~HookGuard() { SetDiskFaultHook(nullptr); }
};

}  // namespace

// Whichever step of a replacement the disk fails, the caller is told so
// (a folder not flushed after the rename included: the new name may be
// lost), the error is the disk's and no temporary file is left.
TEST(DurableFile, EveryFailedStepOfAReplacementIsAFailure) {
  test::Sandbox box;
  const std::string path = box.path("Queue.lst").string();
  const struct {
    DiskStep step;
    bool replaced;  // the new bytes are under the name all the same
  } cases[] = {
      {DiskStep::kCreate, false}, {DiskStep::kWrite, false},      {DiskStep::kFlush, false},
      {DiskStep::kRename, false}, {DiskStep::kFolderFlush, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.step));
    ASSERT_TRUE(ReplaceFileDurably(path, "old"));
    {
      HookGuard fail(c.step);
      SetLastError(0);
      EXPECT_FALSE(ReplaceFileDurably(path, "new bytes"));
      EXPECT_EQ(GetLastError(), static_cast<uint32_t>(ENOSPC));
    }
    EXPECT_EQ(test::Sandbox::readFile(path), c.replaced ? "new bytes" : "old");
    EXPECT_FALSE(fs::exists(path + ".new"));
  }
}

// An append the disk fails midway is a failure whose bytes the caller cuts
// back; a failed flush too.
TEST(DurableFile, AFailedAppendIsAFailure) {
  test::Sandbox box;
  const std::string path = box.path("Queue.log").string();
  const int fd = OpenForAppend(path);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(AppendDurably(fd, path, "1234"));
  for (DiskStep step : {DiskStep::kWrite, DiskStep::kFlush}) {
    HookGuard fail(step);
    EXPECT_FALSE(AppendDurably(fd, path, "5678"));
  }
  ::close(fd);
  EXPECT_EQ(test::Sandbox::readFile(path), "1234565678");
  {
    HookGuard fail(DiskStep::kCreate);
    EXPECT_LT(OpenForAppend(box.path("other.log").string()), 0);
  }
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
}

}  // namespace korvo::platform
