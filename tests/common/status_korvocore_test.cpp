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

void SetKorvoCore(const std::string& name) {
  ASSERT_EQ(KvWriteRegStr(nullptr, "KorvoCore", name.c_str()), 1);
}

TEST_F(StatusTextWithoutTable, FindsTextsInTheKorvoCoreLibrary) {
  SetKorvoCore(KORVO_CORE_LIBRARY);
  struct Row {
    Status code;
    std::string text;
  };
  const Row rows[] = {
      {kStatusSuccess, "Success."},
      {kStatusCategoryModem, "Modem."},
      {kStatusServerTooBusy, "Server is too busy."},
      {kStatusNotRegisteredUser,
       "User has no permissions to perform this command.\r\n(User is not a registered user at this Korvo server)."},
      {EACCES, "Permission denied"},
      {0xC0001234, "Error: 4660 (C0001234), error description string not found."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << std::hex << row.code);
    EXPECT_EQ(GetStatusText(row.code), row.text);
  }
  sandbox_.setEnv("LANG", "hr_HR.UTF-8");
  EXPECT_EQ(GetStatusText(kStatusServerTooBusy), "Poslužitelj je prezauzet.");
  EXPECT_EQ(GetStatusText(kStatusCategoryServer), "Posluzitelj.");
}

// A "KorvoCore" value that names nothing usable is as good as none.
TEST_F(StatusTextWithoutTable, KorvoCoreWithoutTableFallsThrough) {
  const std::string notLibrary = sandbox_.path("KorvoCore.so").string();
  test::Sandbox::writeFile(notLibrary, "not a shared library\n");
  const std::string names[] = {
      "",
      sandbox_.path("missing/libkorvocore.so").string(),
      notLibrary,
      "libm.so.6",  // a library, but without a message table
  };
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    SetKorvoCore(name);
    EXPECT_EQ(GetStatusText(kStatusServerTooBusy), kTooBusyFallBack);
    EXPECT_EQ(GetStatusText(kStatusCategoryModem), "No such file or directory");
  }
}

}  // namespace
}  // namespace korvo
