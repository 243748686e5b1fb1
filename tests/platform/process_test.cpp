#include "platform/process.h"

#include <gtest/gtest.h>

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

TEST(ProcessTest, ModuleFileNameIsThisProgram) {
  const std::string name = ModuleFileName();
  ASSERT_FALSE(name.empty());
  EXPECT_EQ(name.front(), '/');
  EXPECT_NE(name.find("process_test"), std::string::npos) << name;
}

}  // namespace
}  // namespace korvo::platform
