// A real korvohub started on a damaged book of registered users: the
// damaged file is kept aside and named in the event log, the server starts
// on a new book, in which root administers and may register the others
// again, and a user the damaged book held is refused with the reason.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>

#include "common/fields.h"
#include "common/status_codes.h"
#include "common/user_record.h"
#include "tests/server/hub_fixture.h"

namespace korvo {
namespace {

using test::AsNobody;
using test::ServerLog;

constexpr const char* kServer = ".";

class UsersBookTest : public test::HubFixture {
 protected:
  void SetUp() override {
    HubFixture::SetUp();
    // nobody must reach the socket.
    std::filesystem::permissions(sandbox_.root(), std::filesystem::perms(0755));
    bool ok = false;
    UserDatabase users(Book(), &ok);
    ASSERT_TRUE(ok);
    std::string text;
    EncodeFields(&text, {"nobody", "", "2", "", "", "", "", ""}, 8);
    ASSERT_TRUE(users.AddUser(text));
  }
  std::string Book() const { return (root_ / "Config" / "RegUsers.dbs").string(); }
  std::string KeptLine() const {
    return "Fax Server: " + Book() + " is damaged, a new one was made; the damaged file is kept as " + Book() +
           ".damaged";
  }
  // nobody's rights as the server gives them, and the answer to a request
  // that needs a registered user.
  void AskAsNobody(uint32_t* rights, RequestResult* list) {
    AsNobody([&] {
      FaxClient client;
      ASSERT_EQ(client.GetPermissions(kServer, *rights).status, 0u);
      *list = client.DownloadList(kServer, 5010, nullptr, "/nonexistent/list.txt");
    });
  }
};

TEST_F(UsersBookTest, ASoundBookServesItsUsers) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
  StartHub();
  uint32_t rights = 0;
  RequestResult list;
  AskAsNobody(&rights, &list);
  EXPECT_EQ(rights, 2u);
  EXPECT_NE(list.status, kStatusNotRegisteredUser);
  EXPECT_FALSE(test::ServerLogged(KeptLine()));
  EXPECT_FALSE(std::filesystem::exists(Book() + ".damaged"));
}

TEST_F(UsersBookTest, ADamagedBookIsKeptAsideAndReported) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
  const std::string sound = test::Sandbox::readFile(Book());
  ASSERT_GT(sound.size(), 32u + 2 * (sizeof(UserRecord) + 1));
  struct Case {
    const char* what;
    std::function<std::string()> damage;
  };
  const Case cases[] = {
      {"cut within a record", [&] { return sound.substr(0, sound.size() - 100); }},
      {"cut within its header", [&] { return sound.substr(0, 10); }},
      {"an older version", [&] { return std::string(4, '\0') + sound.substr(4); }},
      {"another record size", [&] { return sound.substr(0, 4) + std::string("\x10\x01\0\0", 4) + sound.substr(8); }},
      {"garbage records",
       [&] {
         std::string garbage;
         for (size_t i = 32; i < sound.size(); ++i) garbage.push_back(static_cast<char>(i * 7));
         return sound.substr(0, 32) + garbage;
       }},
      {"the previous format's header over records out of order",
       [&] {
         // The second record before the first.
         const size_t slot = sizeof(UserRecord) + 1;
         return "DD00" + sound.substr(4, 28) + sound.substr(32 + slot, slot) + sound.substr(32, slot) +
                sound.substr(32 + 2 * slot);
       }},
  };
  size_t reported = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string damaged = c.damage();
    test::Sandbox::writeFile(Book(), damaged);
    StartHub();
    // The line is written before the server says it has started.
    const auto log = ServerLog();
    EXPECT_EQ(static_cast<size_t>(std::count(log.begin(), log.end(), KeptLine())), ++reported);
    EXPECT_EQ(test::Sandbox::readFile(Book() + ".damaged"), damaged);
    uint32_t rights = 0;
    RequestResult list;
    AskAsNobody(&rights, &list);
    EXPECT_EQ(rights, 0u);
    EXPECT_EQ(list.status, kStatusNotRegisteredUser);
    EXPECT_NE(list.text.find("User is not a registered user at this Korvo server"), std::string::npos) << list.text;
    // Root administers the new book.
    uint32_t mine = 0;
    EXPECT_EQ(client_.GetPermissions(kServer, mine).status, 0u);
    EXPECT_EQ(mine, 63u);
    hub_.reset();
    std::filesystem::remove(Book() + ".damaged");
    test::Sandbox::writeFile(Book(), sound);
  }
}

}  // namespace
}  // namespace korvo
