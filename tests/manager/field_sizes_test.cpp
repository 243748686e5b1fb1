// Texts that fill their record fields, in Croatian letters (two bytes each)
// with one byte to spare filled by an ASCII letter, go through the book
// models to a real korvohub as an administrator who is not root, and every
// field of the server's records holds them whole; a station identifier
// fills its 20 bytes through Server Parameters and one letter more is
// refused before anything is sent.
#include <pwd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "common/book_records.h"
#include "common/database.h"
#include "common/entries.h"
#include "common/field_sizes.h"
#include "common/modem_record.h"
#include "common/user_record.h"
#include "common/userenvironment.h"
#include "manager/list_classes.h"
#include "manager/list_model.h"
#include "manager/modems_list.h"
#include "manager/server_parameters.h"
#include "tests/manager/fake_ui.h"
#include "tests/manager/hub_files.h"
#include "tests/server/hub_fixture.h"

namespace korvo::test {
namespace {

namespace fs = std::filesystem;
using manager::ListModel;

constexpr const char* kAdmin = "sys";  // a system login every Debian system has

// Croatian letters and, for an odd size, an ASCII letter: exactly `bytes`.
std::string Full(size_t bytes, char last = 'a') {
  static const char* const letters[] = {"Ž", "Đ", "Ć", "Č", "Š"};
  std::string out;
  for (size_t i = 0; out.size() + 2 <= bytes; ++i) out += letters[i % 5];
  if (out.size() < bytes) out += last;
  return out;
}

class FieldSizesTest : public HubFixture {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another login";
    HubFixture::SetUp();
    const passwd* pw = getpwnam(kAdmin);
    if (!pw) GTEST_SKIP() << "no login " << kAdmin;
    bool ok = false;
    UserDatabase users((root_ / "Config" / "RegUsers.dbs").string(), &ok);
    ASSERT_TRUE(ok);
    std::string text;
    EncodeFields(&text,
                 {kAdmin, "", std::to_string(kRightRegistered | kRightGlobalBook | kRightAdministration), "", "",
                  "", "", ""},
                 8);
    ASSERT_TRUE(users.AddUser(text));
    // The login reaches the socket and reads the hives; it has a data folder.
    fs::permissions(sandbox_.root(), fs::perms(0755));
    for (const fs::path& hive : {sandbox_.userHive(), sandbox_.machineHive()}) fs::permissions(hive, fs::perms(0644));
    const fs::path data = sandbox_.path("data-admin");
    fs::create_directories(data);
    ASSERT_EQ(chown(data.c_str(), pw->pw_uid, pw->pw_gid), 0);
    ASSERT_EQ(KvWriteRegUserStr(nullptr, "DataPath", data.c_str()), 1);
  }
  // The body on a thread whose effective user is the administrator.
  void AsAdmin(const std::function<void()>& body) {
    std::thread t([&] {
      ASSERT_EQ(syscall(SYS_setresuid, -1, getpwnam(kAdmin)->pw_uid, -1), 0);
      GetUserEnvironment().Load();
      body();
    });
    t.join();
  }
  static void Open(ListModel& model, const char* className, const char* node) {
    const manager::ListClass* cls = manager::FindListClass(className);
    ASSERT_NE(cls, nullptr) << className;
    model.Open(*cls, {node, true, "."});
  }
  fs::path Config(const char* name) { return root_ / "Config" / name; }
};

TEST_F(FieldSizesTest, TextsThatFillTheirFieldsAreStoredWhole) {
  StartHub();
  AsAdmin([&] {
    FakeUi ui;
    ListModel model(ui);
    Open(model, "RegUsersBook", "Registered Users");
    ui.userDialog = [](RegisteredUserEntry& e, bool) {
      e.userName = Full(field_size::kUserName);
      e.fullName = Full(field_size::kUserText, 'f');
      e.description = Full(field_size::kUserText, 'd');
      e.email = Full(field_size::kUserText, 'e');
      return true;
    };
    model.OnCommand(32786);
    Open(model, "JunkSendersBook", "Denied Access Book");
    ui.senderDialog = [](JunkSenderEntry& e, bool) {
      e.stationId = Full(field_size::kStationId);
      e.description = Full(field_size::kSenderDescription);
      return true;
    };
    model.OnCommand(32866);
    Open(model, "GlobalAddrBook", "Global Address Book");
    ui.addressDialog = [](AddressEntry& e, const std::string&) {
      e.firstName = Full(field_size::kAddressFirstName, 'f');
      e.lastName = Full(field_size::kAddressText, 'l');
      // The whole entry goes in one request of 256 bytes, which all fields
      // full would not fit: company and address stay empty.
      e.faxNumber = "200";
      e.comment = Full(field_size::kAddressComment, 'm');
      return true;
    };
    model.OnCommand(32783);
    Open(model, "ModemsList", "Modems");
    ui.modemDialog = [](ModemRecord& r, bool edit, const std::string&, const std::string& server) {
      r.portName.Assign(Full(field_size::kModemText, 'p'));
      r.modemName.Assign(Full(field_size::kModemText, 'n'));
      r.initString.Assign(Full(field_size::kModemText, 'i'));
      r.dialPrefix.Assign(Full(field_size::kModemText, 'x'));
      r.enabled = 0;
      return manager::SubmitModem(r, edit, server).status == 0;
    };
    model.OnCommand(32789);
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{});
    model.Close();
  });

  bool userFound = false;
  for (auto& r : Records<UserRecord>(Config("RegUsers.dbs"), CompareUserNames)) {
    if (r.userName.Str() != Full(field_size::kUserName)) continue;
    userFound = true;
    EXPECT_EQ(r.fullName.Str(), Full(field_size::kUserText, 'f'));
    EXPECT_EQ(r.description.Str(), Full(field_size::kUserText, 'd'));
    EXPECT_EQ(r.email.Str(), Full(field_size::kUserText, 'e'));
  }
  EXPECT_TRUE(userFound) << "no user named " << Full(field_size::kUserName);
  const auto senders = Records<JunkSenderRecord>(Config("Denied.dbs"), CompareSerialIds);
  ASSERT_EQ(senders.size(), 1u);
  EXPECT_EQ(senders[0].stationId.Str(), Full(field_size::kStationId));
  EXPECT_EQ(senders[0].description.Str(), Full(field_size::kSenderDescription));
  const auto addresses = Records<AddressRecord>(root_ / "Books" / "Address.bok", CompareAddressIds);
  ASSERT_EQ(addresses.size(), 1u);
  EXPECT_EQ(addresses[0].firstName.Str(), Full(field_size::kAddressFirstName, 'f'));
  EXPECT_EQ(addresses[0].lastName.Str(), Full(field_size::kAddressText, 'l'));
  EXPECT_EQ(addresses[0].comment.Str(), Full(field_size::kAddressComment, 'm'));
  const auto modems = Records<ModemRecord>(Config("Modems.dbs"), CompareModemIds);
  ASSERT_EQ(modems.size(), 1u);
  EXPECT_EQ(modems[0].portName.Str(), Full(field_size::kModemText, 'p'));
  EXPECT_EQ(modems[0].modemName.Str(), Full(field_size::kModemText, 'n'));
  EXPECT_EQ(modems[0].initString.Str(), Full(field_size::kModemText, 'i'));
  EXPECT_EQ(modems[0].dialPrefix.Str(), Full(field_size::kModemText, 'x'));
}

TEST_F(FieldSizesTest, ServerParametersTakeTwentyBytesOfLettersAndRefuseMore) {
  StartHub();
  AsAdmin([&] {
    FakeUi ui;
    ConnectionSettings settings;
    settings.retryAttempts = 5;
    settings.retryInterval = 3;
    manager::ServerParameters params(ui, settings, 0x105, ".");
    const std::string ten = Full(ConnectionSettings::kStationIdLength);  // 10 letters
    ASSERT_TRUE(params.Apply(ten, "5", "3")) << ui.Texts().front();
    int focus = 0;
    EXPECT_FALSE(params.Apply(ten + "Ž", "6", "3", &focus));
    EXPECT_EQ(focus, manager::kServerParametersStationId);
    FaxClient client;
    ConnectionSettings stored;
    ASSERT_EQ(client.GetServerParameters(".", stored).status, 0u);
    EXPECT_EQ(stored.stationId, ten);
    EXPECT_EQ(stored.retryAttempts, 5);
  });
}

}  // namespace
}  // namespace korvo::test
