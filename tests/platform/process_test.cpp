#include "platform/process.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>

#include <string>

#include "platform/lasterror.h"

namespace korvo::platform {
namespace {

TEST(ProcessTest, ExitCodesAndSignalsComeBack) {
  struct Case {
    std::vector<std::string> argv;
    int code;
  };
  for (const Case& c : {Case{{"true"}, 0}, Case{{"sh", "-c", "exit 7"}, 7}, Case{{"sh", "-c", "kill -TERM $$"}, 128 + 15}}) {
    pid_t pid = StartProcess(c.argv);
    ASSERT_GT(pid, 0);
    int code = -1;
    ASSERT_TRUE(WaitProcess(pid, code));
    EXPECT_EQ(code, c.code) << c.argv.back();
  }
  EXPECT_TRUE(RunProcess({"true"}));
  EXPECT_FALSE(RunProcess({"false"}));
}

TEST(ProcessTest, AMissingProgramFails) {
  EXPECT_EQ(StartProcess({"/no/such/program"}), -1);
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_EQ(StartProcess({}), -1);
  std::string out = "old";
  EXPECT_FALSE(RunProcessOutput({"/no/such/program"}, out));
  EXPECT_EQ(out, "");
}

TEST(ProcessTest, OutputIsCapturedWhole) {
  std::string out;
  ASSERT_TRUE(RunProcessOutput({"sh", "-c", "printf 'active\\n'; head -c 100000 /dev/zero | tr '\\0' x"}, out));
  EXPECT_EQ(out.size(), 7u + 100000u);
  EXPECT_EQ(out.substr(0, 7), "active\n");
  EXPECT_FALSE(RunProcessOutput({"sh", "-c", "echo partial; exit 3"}, out));
  EXPECT_EQ(out, "partial\n");
}

// The service blocks its control signals in every thread; what it starts
// must still stop on SIGTERM and Ctrl+C.
TEST(ProcessTest, AStartedProgramBlocksNoSignal) {
  sigset_t control, old;
  sigemptyset(&control);
  for (int sig : {SIGTERM, SIGINT, SIGQUIT, SIGUSR1, SIGUSR2}) sigaddset(&control, sig);
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &control, &old), 0);
  std::string out;
  const bool ran = RunProcessOutput({"sh", "-c", "grep SigBlk /proc/self/status"}, out);
  const pid_t pid = StartProcess({"sh", "-c", "kill -TERM $$; exit 0"});
  int code = -1;
  const bool waited = pid > 0 && WaitProcess(pid, code);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  ASSERT_TRUE(ran);
  EXPECT_EQ(out, "SigBlk:\t0000000000000000\n");
  ASSERT_TRUE(waited);
  EXPECT_EQ(code, 128 + SIGTERM);
}

TEST(ProcessTest, ModuleFileNameIsThisProgram) {
  const std::string name = ModuleFileName();
  ASSERT_FALSE(name.empty());
  EXPECT_EQ(name.front(), '/');
  EXPECT_NE(name.find("process_test"), std::string::npos) << name;
}

// A server started with a low soft limit (a login shell's 1024) takes all
// that its hard limit allows; the hard limit stays.
TEST(ProcessTest, TheDescriptorLimitIsRaisedToTheHardLimit) {
  rlimit before{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &before), 0);
  if (before.rlim_max < 128) GTEST_SKIP() << "hard limit too low to lower";
  rlimit low = before;
  low.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  EXPECT_EQ(RaiseDescriptorLimit(), static_cast<unsigned long>(before.rlim_max));
  rlimit after{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &after), 0);
  EXPECT_EQ(after.rlim_cur, before.rlim_max);
  EXPECT_EQ(after.rlim_max, before.rlim_max);
  // Already there: nothing changes.
  EXPECT_EQ(RaiseDescriptorLimit(), static_cast<unsigned long>(before.rlim_max));
}

}  // namespace
}  // namespace korvo::platform
