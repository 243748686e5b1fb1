#include "common/user_record.h"

#include <gtest/gtest.h>

#include <cstring>

#include "common/fields.h"
#include "common/settings.h"
#include "common/status_codes.h"
#include "tests/support/sandbox.h"

namespace korvo {
namespace {

std::string Le32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
  return s;
}

// A text of its array's size, NUL-padded.
std::string Field(const std::string& text, std::size_t size) { return text + std::string(size - text.size(), '\0'); }

std::string AdministratorSlot() {
  return std::string(1, '\0') + Le32(63) + Field("Administrator", 32) + std::string(64 * 4 + 32 * 2 + 4, '\0');
}

std::string Header(uint32_t count) {
  return Le32(0xDB01) + Le32(361) + Le32(count) + Le32(0) + std::string(16, '\0');
}

std::string UserText(std::vector<std::string> fields) {
  std::string text;
  EncodeFields(&text, fields, 8);
  return text;
}

class UserDatabaseTest : public ::testing::Test {
 protected:
  std::string Path() const { return sandbox_.path("RegUsers.dbs").string(); }
  test::Sandbox sandbox_;
};

TEST(UserRecord, LayoutOfTheDecodedRecord) {
  UserRecord r;
  ASSERT_TRUE(r.Decode(UserText({"jane", "Jane Doe", "10", "desc", "j@x", "Velmora", "55", "56"})));
  const std::string expected = Le32(10) + Field("jane", 32) + Field("Jane Doe", 64) + Field("desc", 64) +
                               Field("j@x", 64) + Field("Velmora", 64) + Field("55", 32) + Field("56", 32) +
                               std::string(4, '\0');
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r), sizeof r), expected);
  EXPECT_EQ(r.Encode(), UserText({"jane", "Jane Doe", "10", "desc", "j@x", "Velmora", "55", "56"}));
}

TEST(UserRecord, LongTextsAreCutToTheirArrays) {
  UserRecord r;
  r.Decode(UserText({std::string(40, 'n'), std::string(100, 'f'), "x", "", "", "", std::string(32, '9'), ""}));
  EXPECT_EQ(r.userName.Get(), std::string(31, 'n'));
  EXPECT_EQ(r.fullName.Get(), std::string(63, 'f'));
  EXPECT_EQ(r.faxNumber.Get(), std::string(31, '9'));
  EXPECT_EQ(r.rights, 0u);
  EXPECT_EQ(r.fullName.data[63], '\0');
  // A damaged record without its NUL reads only its own array.
  std::memset(r.userName.data, 'z', 32);
  EXPECT_EQ(r.userName.Get(), std::string(31, 'z'));
}

TEST(CompareUserNames, WordSortOrder) {
  // Each name sorts before the next one.
  const char* names[] = {"", "_x", "1", "9", "a", "A_B", "a1", "Ab", "co-op", "coop", "coops", "zed", "\xC5\xBD" "an"};
  UserRecord a, b;
  for (std::size_t i = 0; i + 1 < std::size(names); ++i) {
    a.Set(names[i], "", "", 0);
    b.Set(names[i + 1], "", "", 0);
    EXPECT_LT(CompareUserNames(&a, &b), 0) << names[i] << " " << names[i + 1];
    EXPECT_GT(CompareUserNames(&b, &a), 0) << names[i] << " " << names[i + 1];
  }
  a.Set("JaNe", "", "", 0);
  b.Set("jane", "", "", 0);
  EXPECT_EQ(CompareUserNames(&a, &b), 0);
}

TEST_F(UserDatabaseTest, NewBookHoldsTheAdministrator) {
  bool ok = false;
  UserDatabase users(Path(), &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(test::Sandbox::readFile(Path()), Header(1) + AdministratorSlot());
  EXPECT_EQ(users.GetRights("administrator"), 63u);
  UserDatabase again(Path(), &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(again.GetCount(), 1);
}

TEST_F(UserDatabaseTest, AdministratorIsNeverDeleted) {
  bool ok = false;
  UserDatabase users(Path(), &ok);
  for (const char* name : {"Administrator", "administrator", "ADMINISTRATOR", "aDmInIsTrAtOr"}) {
    EXPECT_FALSE(users.DeleteUser(UserText({name}))) << name;
  }
  EXPECT_EQ(users.GetCount(), 1);
  // Other users go, and the administrator comes back only into an empty book.
  ASSERT_TRUE(users.AddUser(UserText({"jane", "", "2"})));
  EXPECT_TRUE(users.DeleteUser(UserText({"JANE"})));
  EXPECT_FALSE(users.DeleteUser(UserText({"jane"})));
}

TEST_F(UserDatabaseTest, AddEditAndRights) {
  bool ok = false;
  UserDatabase users(Path(), &ok);
  EXPECT_TRUE(users.AddUser(UserText({"jane", "Jane", "6"})));
  EXPECT_FALSE(users.AddUser(UserText({"Jane", "Other", "2"})));  // names match in any case
  // A name of blanks is as empty as no name: it would list as an empty row.
  for (const char* blank : {"", " ", "   ", "\t "}) EXPECT_FALSE(users.AddUser(UserText({blank, "Nobody", "2"}))) << '"' << blank << '"';
  EXPECT_EQ(users.GetRights("JANE"), 6u);
  EXPECT_TRUE(users.EditUser(UserText({"jane", "Jane D", "14"})));
  EXPECT_FALSE(users.EditUser(UserText({"bob", "", "14"})));
  EXPECT_EQ(users.GetRights("jane"), 14u);
  EXPECT_EQ(users.GetRights("bob"), 0u);
  UserRecord user;
  EXPECT_EQ(users.GetUser("bob", &user), kStatusRecordNotFound);
  ASSERT_EQ(users.GetUser("Jane", &user), kStatusSuccess);
  EXPECT_EQ(user.fullName.Get(), "Jane D");
}

// A login is a registered user only in its registered spelling, and no
// login is the built-in administrator (that record is root's).
TEST_F(UserDatabaseTest, LoginsMatchTheirRegisteredNameExactly) {
  bool ok = false;
  UserDatabase users(Path(), &ok);
  ASSERT_TRUE(users.AddUser(UserText({"jane", "", "6"})));
  const struct {
    const char* login;
    uint32_t rights;
  } cases[] = {{"jane", 6}, {"Jane", 0}, {"JANE", 0}, {"jane ", 0}, {"bob", 0},
               {"Administrator", 0}, {"administrator", 0}, {"ADMINISTRATOR", 0}};
  for (const auto& c : cases) EXPECT_EQ(users.GetLoginRights(c.login), c.rights) << c.login;
  const std::string longLogin = "jane" + std::string(40, 'x');
  ASSERT_TRUE(users.AddUser(UserText({longLogin.substr(0, 31), "", "2"})));
  EXPECT_EQ(users.GetLoginRights(longLogin), 0u) << "a longer login is not its cut name";
  EXPECT_EQ(users.GetLoginRights(longLogin.substr(0, 31)), 2u);
}

// A name the record cannot hold whole is refused, never cut: cut, it would
// add, change or delete the user whose name is its first 31 characters.
TEST_F(UserDatabaseTest, ANameTooLongForTheRecordIsRefusedNotCut) {
  bool ok = false;
  UserDatabase users(Path(), &ok);
  const std::string admin(31, 'a');
  ASSERT_TRUE(users.AddUser(UserText({admin, "Admin", "18"})));
  const std::string longer = admin + "b";
  EXPECT_FALSE(users.AddUser(UserText({longer, "", "18"})));
  EXPECT_FALSE(users.AddUser(UserText({"tab\tname", "", "2"}))) << "control bytes are no login's";
  EXPECT_FALSE(users.EditUser(UserText({longer, "Taken", "63"})));
  EXPECT_FALSE(users.DeleteUser(UserText({longer})));
  EXPECT_EQ(users.GetRights(longer), 0u);
  UserRecord user;
  EXPECT_EQ(users.GetUser(longer, &user), kStatusRecordNotFound);
  ASSERT_EQ(users.GetUser(admin, &user), kStatusSuccess);
  EXPECT_EQ(user.fullName.Get(), "Admin");
  EXPECT_EQ(user.rights, 18u);
}

// The administrator always holds its rights 63: an edit in any spelling
// changes its other fields, its name and rights stay.
TEST_F(UserDatabaseTest, AnEditOfTheAdministratorKeepsItsNameAndRights) {
  bool ok = false;
  UserDatabase users(Path(), &ok);
  for (const char* spelling : {"Administrator", "administrator"}) {
    SCOPED_TRACE(spelling);
    ASSERT_TRUE(users.EditUser(UserText({spelling, "Chief", "2", "", "chief@example.org"})));
    UserRecord admin;
    ASSERT_EQ(users.GetUser("Administrator", &admin), kStatusSuccess);
    EXPECT_EQ(admin.userName.Get(), "Administrator");
    EXPECT_EQ(admin.rights, 63u);
    EXPECT_EQ(admin.fullName.Get(), "Chief");
    EXPECT_EQ(admin.email.Get(), "chief@example.org");
  }
  ASSERT_TRUE(users.EditUser(UserText({"Administrator", "", "127"})));
  EXPECT_EQ(users.GetRights("Administrator"), 127u) << "bits beyond the built-in ones may be added";
}

TEST_F(UserDatabaseTest, ListsEveryUserAsOneLine) {
  bool ok = false;
  UserDatabase users(Path(), &ok);
  users.AddUser(UserText({"zoe", "Zoe", "2"}));
  users.AddUser(UserText({"bob", "", "8"}));
  const std::string list = sandbox_.path("users.lst").string();
  ASSERT_EQ(users.WriteList("0", list.c_str()), kStatusSuccess);
  EXPECT_EQ(test::Sandbox::readFile(list),
            UserText({"Administrator", "", "63"}) + "\r\n" + UserText({"bob", "", "8"}) + "\r\n" +
                UserText({"zoe", "Zoe", "2"}) + "\r\n");
}

TEST_F(UserDatabaseTest, EmptyFieldsTakeTheServerValues) {
  ASSERT_TRUE(KvWriteRegStr("Server", "Organization", "Velmora Technologies"));
  KvWriteRegStr("Server", "MainPhoneNumber", "01 555 000");
  KvWriteRegStr("Server", "MainFaxNumber", std::string(40, '9').c_str());  // does not fit: stays empty
  bool ok = false;
  UserDatabase users(Path(), &ok);
  users.AddUser(UserText({"jane", "", "2", "", "", "", "", "123"}));
  users.AddUser(UserText({"ivo", "", "2", "", "", "Own Ltd", "77", ""}));
  UserRecord user;
  ASSERT_EQ(users.GetUser("jane", &user), kStatusSuccess);
  EXPECT_EQ(user.organisation.Get(), "Velmora Technologies");
  EXPECT_EQ(user.phoneNumber.Get(), "123");
  EXPECT_EQ(user.faxNumber.Get(), "");
  ASSERT_EQ(users.GetUser("ivo", &user), kStatusSuccess);
  EXPECT_EQ(user.organisation.Get(), "Own Ltd");
  EXPECT_EQ(user.phoneNumber.Get(), "01 555 000");
  EXPECT_EQ(user.faxNumber.Get(), "77");
}

}  // namespace
}  // namespace korvo
