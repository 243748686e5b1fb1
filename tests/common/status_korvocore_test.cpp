// GetStatusText in a program without a message table of its own, like the
// notifier, the viewer and every process that only loads libkorvocore.so.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <string>

#include "common/message_table.h"
#include "common/settings.h"
#include "common/status.h"
#include "common/status_codes.h"
#include "platform/lasterror.h"
#include "tests/support/sandbox.h"

namespace korvo {
namespace {

class StatusTextWithoutTable : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) sandbox_.setEnv(name, "");
  }
  test::Sandbox sandbox_;
};

const std::string kTooBusyFallBack = "Error: 5100 (C00013EC), error description string not found.";

TEST_F(StatusTextWithoutTable, ProgramHasNoTable) {
  void* self = dlopen(nullptr, RTLD_NOW);
  ASSERT_NE(self, nullptr);
  EXPECT_EQ(dlsym(self, kMessageTableSymbol), nullptr);
  dlclose(self);
}

// With no "KorvoCore" value, table codes reach the system's texts or the
// fall-back.
TEST_F(StatusTextWithoutTable, MissingKorvoCoreValueFallsThrough) {
  struct Row {
    Status code;
    std::string text;
  };
  const Row rows[] = {
      {kStatusServerTooBusy, kTooBusyFallBack},
      {kStatusCategoryModem, "No such file or directory"},  // system code 2
      {0xC0001234, "Error: 4660 (C0001234), error description string not found."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << std::hex << row.code);
    EXPECT_EQ(GetStatusText(row.code), row.text);
  }
  std::string system = GetStatusText(ENOENT);
  EXPECT_EQ(system, platform::SystemErrorText(ENOENT));
  EXPECT_EQ(system.find_first_of("\r\n"), std::string::npos);
}

}  // namespace
}  // namespace korvo
