// One instance per user: the lock in the runtime folder is held by one
// holder at a time and let go by the kernel when its holder dies.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/instance_lock.h"
#include "tests/support/sandbox.h"

namespace korvo::platform {
namespace {

TEST(InstanceLock, OneHolderAtATime) {
  test::Sandbox sandbox;
  const std::string path = InstanceLock::PathFor("KorvoNotifier");
  EXPECT_EQ(path, sandbox.path("runtime/korvo/KorvoNotifier.lock").string());
  {
    InstanceLock first("KorvoNotifier");
    ASSERT_TRUE(first.held());
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    InstanceLock second("KorvoNotifier");
    EXPECT_FALSE(second.held());
    InstanceLock other("KorvoOther");
    EXPECT_TRUE(other.held());
  }
  InstanceLock again("KorvoNotifier");
  EXPECT_TRUE(again.held());
}

TEST(InstanceLock, ADeadHolderLetsGo) {
  test::Sandbox sandbox;
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  if (child == 0) {
    InstanceLock lock("KorvoNotifier");
    char c = lock.held() ? '1' : '0';
    if (write(ready[1], &c, 1) != 1) _exit(2);
    pause();
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  EXPECT_EQ(c, '1');
  EXPECT_FALSE(InstanceLock("KorvoNotifier").held());
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  close(ready[0]);
  close(ready[1]);
  EXPECT_TRUE(InstanceLock("KorvoNotifier").held());
}

}  // namespace
}  // namespace korvo::platform
