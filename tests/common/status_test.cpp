// GetStatusText in a program that carries its own message table.
#include "common/status.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstring>
#include <set>
#include <string>

#include "common/message_table.h"
#include "common/status_codes.h"
#include "platform/lasterror.h"
#include "tests/support/sandbox.h"

extern "C" const KvMessages KvMessageTable;

namespace korvo {
namespace {

bool IsUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    auto c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

// Line ends only as CR LF inside a text, never at its end.
bool LineEndsSound(const std::string& s) {
  if (s.empty() || s.back() == '\r' || s.back() == '\n') return false;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r' && (i + 1 >= s.size() || s[i + 1] != '\n')) return false;
    if (s[i] == '\n' && (i == 0 || s[i - 1] != '\r')) return false;
  }
  return true;
}

const KvMessage* Find(Status code) {
  for (uint32_t i = 0; i < KvMessageTable.count; ++i)
    if (KvMessageTable.entries[i].code == code) return &KvMessageTable.entries[i];
  return nullptr;
}

bool IsEventMessage(Status code) { return code >= 0x2328 && code <= 0x2380; }

TEST(MessageTable, HoldsEveryCodeOnceWithBothTexts) {
  ASSERT_EQ(KvMessageTable.count, 109u);
  std::set<Status> codes;
  for (uint32_t i = 0; i < KvMessageTable.count; ++i) {
    const KvMessage& m = KvMessageTable.entries[i];
    SCOPED_TRACE(testing::Message() << std::hex << m.code);
    EXPECT_TRUE(codes.insert(m.code).second) << "duplicate";
    if (i > 0) {
      EXPECT_LT(KvMessageTable.entries[i - 1].code, m.code) << "not ascending";
    }
    ASSERT_NE(m.english, nullptr);
    ASSERT_NE(m.croatian, nullptr);
    EXPECT_TRUE(LineEndsSound(m.english)) << m.english;
    EXPECT_TRUE(LineEndsSound(m.croatian)) << m.croatian;
    EXPECT_TRUE(IsUtf8(m.croatian)) << m.croatian;
    // Only the event-log rows read alike in both languages.
    if (IsEventMessage(m.code)) {
      EXPECT_STREQ(m.english, "%1.");
      EXPECT_STREQ(m.croatian, "%1.");
    } else {
      EXPECT_STRNE(m.english, m.croatian) << "untranslated";
    }
  }
}

TEST(MessageTable, TextsAreTheSystemsOwn) {
  struct Row {
    Status code;
    const char* english;
    const char* croatian;  // null: any translation
  };
  const Row rows[] = {
      {kStatusSuccess, "Success.", "Uspjeh."},
      {kStatusCategoryServer, "Server.", "Posluzitelj."},
      {kStatusCategoryModem, "Modem.", "Slikokaz."},
      {kStatusCategoryConnection, "Connection.", "Korisnicki Spoj."},
      {kStatusEvent9000, "%1.", "%1."},
      {kStatusEvent9088, "%1.", "%1."},
      {kStatusMarkedForDeletion, "Item is marked for deletion.", nullptr},
      {kStatusDisconnect, "Disconnect.", nullptr},
      {kStatusServerErrorIndicationText, "Operation failed. Server sent an error indication:", nullptr},
      {kStatusServerVersionIncompatible,
       "Server version is not compatible with this client.\r\nPlease update your server.", nullptr},
      {kStatusNotRegisteredUser,
       "User has no permissions to perform this command.\r\n(User is not a registered user at this Korvo server).",
       nullptr},
      {kStatusServerTooBusy, "Server is too busy.", "Poslužitelj je prezauzet."},
      {kStatusResourceNotFree, "Requested resource is currently not free.", nullptr},
      {kStatusMissingIntroduction, "Missing an introducting message.", nullptr},
      {kStatusDbNoOutputWindow, "Database error: No Window created for output.", nullptr},
      {kStatusGetFileFromClient, "Server could not get file from client.", "Pogreska."},
      {kStatusPutFileToClient, "Server could not put file to client.", "Pogreska."},
      {kStatusPutBlockToClient, "Server could not put block (part of message) to client.", "Pogreska."},
      {kStatusLocalBookAdd, "Could not add address entry into local book.", "Pogreska."},
      {kStatusLocalBookRemove, "Could not remove address entry from local book.", "Pogreska."},
      {kStatusLocalBookEdit, "Could not edit a local book entry.", "Pogreska."},
      {kStatusLocalBookGetPage, "Could not get a page from a local book.", "Pogreska."},
      {kStatusShutdownConnectionsActive, "Shutdown, some connections are still active.", "Pogreska."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << std::hex << row.code);
    const KvMessage* m = Find(row.code);
    ASSERT_NE(m, nullptr);
    EXPECT_STREQ(m->english, row.english);
    if (row.croatian) {
      EXPECT_STREQ(m->croatian, row.croatian);
    }
  }
  // Exactly those eight rows carry the generic Croatian text.
  int generic = 0;
  for (uint32_t i = 0; i < KvMessageTable.count; ++i)
    generic += std::strcmp(KvMessageTable.entries[i].croatian, "Pogreska.") == 0;
  EXPECT_EQ(generic, 8);
}

TEST(MessageTable, IsVisibleToRunTimeLookUp) {
  void* self = dlopen(nullptr, RTLD_NOW);
  ASSERT_NE(self, nullptr);
  EXPECT_EQ(dlsym(self, kMessageTableSymbol), &KvMessageTable);
  dlclose(self);
}

class StatusText : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) sandbox_.setEnv(name, "");
  }
  test::Sandbox sandbox_;
};

TEST_F(StatusText, FromTheProgramsTableElseSystemElseFallBack) {
  struct Row {
    Status code;
    std::string text;
  };
  const Row rows[] = {
      {kStatusSuccess, "Success."},
      {kStatusCategoryModem, "Modem."},  // 2 is a table code here, not the system's
      {kStatusServerTooBusy, "Server is too busy."},
      {kStatusClientVersionIncompatible,
       "Client version is not compatible with the server.\r\nPlease update your client."},
      {EACCES, "Permission denied"},
      {0xC0001234, "Error: 4660 (C0001234), error description string not found."},
      {0x40001234, "Error: 4660 (40001234), error description string not found."},
      {0x00001234, "Error: 4660 (00001234), error description string not found."},
      {0xFFFFFFFF, "Error: 65535 (FFFFFFFF), error description string not found."},
      {0xC0000000 | EACCES, "Error: 13 (C000000D), error description string not found."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << std::hex << row.code);
    EXPECT_EQ(GetStatusText(row.code), row.text);
  }
}

TEST_F(StatusText, LanguageFollowsTheLocaleEnvironment) {
  struct Row {
    const char* lcAll;
    const char* lcMessages;
    const char* lang;
    bool croatian;
  };
  const Row rows[] = {
      {"", "", "", false},
      {"", "", "hr_HR.UTF-8", true},
      {"", "", "hr", true},
      {"", "", "en_US.UTF-8", false},
      {"", "", "C", false},
      {"", "", "de_DE.UTF-8", false},
      {"", "", "HR_HR", false},
      {"", "hr_HR.UTF-8", "en_US.UTF-8", true},
      {"", "en_US.UTF-8", "hr_HR.UTF-8", false},
      {"hr_HR.UTF-8", "en_US.UTF-8", "en_US.UTF-8", true},
      {"C", "hr_HR.UTF-8", "hr_HR.UTF-8", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.lcAll << "|" << row.lcMessages << "|" << row.lang);
    sandbox_.setEnv("LC_ALL", row.lcAll);
    sandbox_.setEnv("LC_MESSAGES", row.lcMessages);
    sandbox_.setEnv("LANG", row.lang);
    EXPECT_EQ(GetStatusText(kStatusServerTooBusy), row.croatian ? "Poslužitelj je prezauzet." : "Server is too busy.");
    EXPECT_EQ(GetStatusText(kStatusSuccess), row.croatian ? "Uspjeh." : "Success.");
    // Codes outside the table read the same in either language.
    EXPECT_EQ(GetStatusText(0xC0001234), "Error: 4660 (C0001234), error description string not found.");
  }
}

TEST_F(StatusText, CroatianTwoLineTextKeepsItsLineBreak) {
  sandbox_.setEnv("LANG", "hr_HR.UTF-8");
  EXPECT_EQ(GetStatusText(kStatusServerVersionIncompatible),
            "Inačica poslužitelja nije kompatibilna s ovim klijentom.\r\nMolimo ažurirajte poslužitelj.");
}

TEST_F(StatusText, LeavesTheLastErrorAlone) {
  for (Status code : {kStatusSuccess, kStatusServerTooBusy, Status{EACCES}, Status{0xC0001234}}) {
    platform::SetLastError(platform::kErrorBrokenPipe);
    errno = EIO;
    GetStatusText(code);
    EXPECT_EQ(platform::GetLastError(), platform::kErrorBrokenPipe);
    EXPECT_EQ(errno, EIO);
  }
}

}  // namespace
}  // namespace korvo
