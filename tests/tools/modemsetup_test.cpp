// The demonstration's configuration tool: a modem table of one send-only and
// one receive-only modem, and the login that may use them.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/database.h"
#include "common/entries.h"
#include "common/fields.h"
#include "common/modem_record.h"
#include "common/user_record.h"
#include "tests/support/sandbox.h"

namespace korvo {
namespace {

int RunModemSetup(const std::vector<std::string>& args) {
  std::vector<std::string> text = {(test::BuildDir() / "tools" / "modemsetup").string()};
  text.insert(text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : text) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ModemSetup, WritesTheModemsAndRegistersTheLoginOnce) {
  test::Sandbox box;
  const auto config = box.path("server/Config");
  std::filesystem::create_directories(config);
  const std::string modems = (config / "Modems.dbs").string();
  const std::string users = (config / "RegUsers.dbs").string();

  ASSERT_EQ(RunModemSetup({modems, "/tmp/kvA/tx", "/tmp/kvA/rx"}), 0);
  EXPECT_FALSE(std::filesystem::exists(users));  // no login, no user

  ASSERT_EQ(RunModemSetup({modems, "/tmp/kvB/tx", "/tmp/kvB/rx", "ana"}), 0);
  {
    Database db(modems.c_str(), sizeof(ModemRecord), CompareModemIds);
    ASSERT_TRUE(db.Open());
    ASSERT_EQ(db.GetCount(), 2);  // the table was replaced, not added to
    struct Expected {
      const char* port;
      int usage;
    } expected[] = {{"/tmp/kvB/tx", 0}, {"/tmp/kvB/rx", 1}};
    for (int i = 0; i < 2; ++i) {
      ModemRecord r;
      ASSERT_TRUE(db.GetAt(i, &r));
      EXPECT_EQ(std::string(r.portName.Get()), expected[i].port);
      EXPECT_EQ(r.usage, expected[i].usage);
      EXPECT_EQ(r.enabled, 1);
    }
    db.Close();
  }
  {
    bool ok = false;
    UserDatabase book(users, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(book.GetRights("ana"), kAdministratorRights);
    // An administrator's later change of the user's rights stays.
    std::string text;
    EncodeFields(&text, {"ana", "Ana", std::to_string(kRightRegistered), "", "", "", "", ""}, 8);
    ASSERT_TRUE(book.EditUser(text));
  }
  ASSERT_EQ(RunModemSetup({modems, "/tmp/kvC/tx", "/tmp/kvC/rx", "ana"}), 0);
  bool ok = false;
  UserDatabase book(users, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(book.GetRights("ana"), kRightRegistered);

  EXPECT_EQ(RunModemSetup({modems, "/tmp/kvC/tx"}), 2);
  // A port name cut to fit the record would name another device: refused,
  // and the table stays as it was.
  EXPECT_EQ(RunModemSetup({modems, "/tmp/kvC/tx", "/tmp/" + std::string(27, 'x')}), 2);
  Database db(modems.c_str(), sizeof(ModemRecord), CompareModemIds);
  ASSERT_TRUE(db.Open());
  EXPECT_EQ(db.GetCount(), 2);
  ModemRecord r;
  ASSERT_TRUE(db.GetAt(1, &r));
  EXPECT_EQ(std::string(r.portName.Get()), "/tmp/kvC/rx");
  db.Close();
}

}  // namespace
}  // namespace korvo
