// The server's requests through FaxClient against a real korvohub: one table
// of cases per request family (success, refusal, bad payload), and the edge
// cases of parameters, journal and shutdown.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "common/entries.h"
#include "common/modem_record.h"
#include "common/status_codes.h"
#include "server/journal.h"
#include "tests/server/hub_fixture.h"

namespace korvo {
namespace {

using test::HubFixture;
using test::ServerLogged;

constexpr const char* kServer = ".";

std::string ReadAll(const std::string& path) { return test::Sandbox::readFile(path); }

class HandlersTest : public HubFixture {};

// Lists: each source through an "FTR" file; a selector the books do not take
// is refused with "Could not create the requested list." and logged.
TEST_F(HandlersTest, ListRequests) {
  StartHub();
  AddressEntry address;
  address.firstName = "Ana";
  address.faxNumber = "555";
  int32_t id = 0;
  ASSERT_EQ(client_.AddAddress(kServer, address, id).status, 0u);
  JunkSenderEntry junk;
  junk.stationId = "SPAMMER";
  ASSERT_EQ(client_.AddJunkSender(kServer, junk, id).status, 0u);
  struct Case {
    uint32_t code;
    const char* selector;
    Status expect;
    const char* contains;  // in the list on success
  };
  const Case cases[] = {
      {7000, "0", 0, "Ana"},
      {7000, "x", 0, ""},  // a text selector lists nothing
      {7000, "-", kStatusCreateList, nullptr},
      {7500, "0", 0, "Administrator"},
      {7500, "?", kStatusCreateList, nullptr},
      {7800, "0", 0, "SPAMMER"},
      {8000, nullptr, 0, ""},
      {2200, nullptr, 0, "Fax Server: Started"},
      {2210, nullptr, 0, ""},
      {2220, nullptr, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.code << " " << (c.selector ? c.selector : "(none)"));
    const std::string path = TempPath("list.txt");
    RequestResult r = client_.DownloadList(kServer, c.code, c.selector, path);
    EXPECT_EQ(r.status, c.expect) << r.text;
    if (c.expect == 0) {
      EXPECT_NE(ReadAll(path).find(c.contains), std::string::npos) << ReadAll(path);
      if (!*c.contains && c.code == 7000) {
        EXPECT_EQ(ReadAll(path), "");
      }
    }
    std::filesystem::remove(path);
  }
  EXPECT_TRUE(ServerLogged("[" + test::OwnLogin() + "] Operation 'Get list of address book entries' failed."));
  // No list file is left in the server's temporary folder.
  ASSERT_EQ(client_.SendCommand(kServer, 3000).status, 0u);
  EXPECT_EQ(hub_->Wait(), 0);
  EXPECT_TRUE(std::filesystem::is_empty(root_ / "Temp"));
}

// Record changes: Ok, or the bare error tag (a server error indication on
// the client) with the failure logged; adds answer the new id.
TEST_F(HandlersTest, RecordRequests) {
  StartHub();
  AddressEntry address;
  address.lastName = "Horvat";
  int32_t addressId = 0;
  ASSERT_EQ(client_.AddAddress(kServer, address, addressId).status, 0u);
  EXPECT_GT(addressId, 0);
  address.id = addressId;
  JunkSenderEntry junk;
  junk.stationId = "+385 1 555";
  int32_t junkId = 0;
  ASSERT_EQ(client_.AddJunkSender(kServer, junk, junkId).status, 0u);
  EXPECT_GT(junkId, 0);
  junk.id = junkId;
  RegisteredUserEntry user;
  user.userName = "marko";
  user.rights = kRightRegistered;
  AddressEntry missing;
  missing.id = 9999;
  JunkSenderEntry missingJunk;
  missingJunk.id = 9999;
  RegisteredUserEntry admin;
  admin.userName = "Administrator";
  RegisteredUserEntry nameless;

  struct Case {
    const char* what;
    std::function<RequestResult()> run;
    Status expect;
  };
  const std::vector<Case> cases = {
      {"add user", [&] { return client_.ChangeUser(kServer, FaxClient::kAddUser, user); }, 0},
      {"add the same user again", [&] { return client_.ChangeUser(kServer, FaxClient::kAddUser, user); },
       kStatusServerErrorIndication},
      {"add a nameless user", [&] { return client_.ChangeUser(kServer, FaxClient::kAddUser, nameless); },
       kStatusServerErrorIndication},
      {"edit user",
       [&] {
         RegisteredUserEntry edited = user;
         edited.fullName = "Marko Marulic";
         return client_.ChangeUser(kServer, FaxClient::kEditUser, edited);
       },
       0},
      {"delete the administrator", [&] { return client_.ChangeUser(kServer, FaxClient::kDeleteUser, admin); },
       kStatusServerErrorIndication},
      {"edit address",
       [&] {
         AddressEntry edited = address;
         edited.company = "Brod d.d.";
         return client_.ChangeAddress(kServer, FaxClient::kEditAddress, edited);
       },
       0},
      {"edit a missing address", [&] { return client_.ChangeAddress(kServer, FaxClient::kEditAddress, missing); },
       kStatusServerErrorIndication},
      {"delete address", [&] { return client_.ChangeAddress(kServer, FaxClient::kDeleteAddress, address); }, 0},
      {"delete it again", [&] { return client_.ChangeAddress(kServer, FaxClient::kDeleteAddress, address); },
       kStatusServerErrorIndication},
      {"edit junk sender",
       [&] {
         JunkSenderEntry edited = junk;
         edited.description = "ads";
         return client_.ChangeJunkSender(kServer, FaxClient::kEditJunkSender, edited);
       },
       0},
      {"delete a missing junk sender",
       [&] { return client_.ChangeJunkSender(kServer, FaxClient::kDeleteJunkSender, missingJunk); },
       kStatusServerErrorIndication},
      {"delete junk sender", [&] { return client_.ChangeJunkSender(kServer, FaxClient::kDeleteJunkSender, junk); },
       0},
  };
  for (const Case& c : cases) {
    RequestResult r = c.run();
    EXPECT_EQ(r.status, c.expect) << c.what << ": " << r.text;
  }
  RegisteredUserEntry got;
  ASSERT_EQ(client_.GetUser(kServer, "MARKO", got).status, 0u);
  EXPECT_EQ(got.userName, "marko");
  EXPECT_EQ(got.fullName, "Marko Marulic");
  EXPECT_EQ(client_.GetUser(kServer, "nobody", got).status, kStatusRecordNotFound);

  // A registered user without the book rights is refused before any handler.
  FaxClient marko = ClientFor("marko");
  EXPECT_EQ(marko.ChangeUser(kServer, FaxClient::kDeleteUser, user).status, kStatusNoPermission);
  int32_t id = 0;
  EXPECT_EQ(marko.AddAddress(kServer, address, id).status, kStatusNoPermission);
  EXPECT_TRUE(ServerLogged("[" + test::OwnLogin() + "] Operation 'Add a registered user' failed."));
  EXPECT_TRUE(ServerLogged("[" + test::OwnLogin() + "] Operation 'Delete an address book entry' failed."));
}

// Modems: the add answers the id, edit and delete answer their status.
TEST_F(HandlersTest, ModemRequests) {
  StartHub();
  ModemRecord modem;
  modem.portName.Assign("/dev/korvo-none");
  modem.modemName.Assign("Spare");
  modem.enabled = 0;
  int32_t id = 0;
  ASSERT_EQ(client_.AddModem(kServer, modem, id).status, 0u);
  EXPECT_GT(id, 0);
  modem.id = id;
  const std::string path = TempPath("modems.txt");
  ASSERT_EQ(client_.DownloadList(kServer, 8000, nullptr, path).status, 0u);
  EXPECT_NE(ReadAll(path).find("Spare"), std::string::npos);

  modem.modemName.Assign("Renamed");
  EXPECT_EQ(client_.EditModem(kServer, modem).status, 0u);
  ASSERT_EQ(client_.DownloadList(kServer, 8000, nullptr, path).status, 0u);
  EXPECT_NE(ReadAll(path).find("Renamed"), std::string::npos);
  ModemRecord missing = modem;
  missing.id = 4242;
  EXPECT_NE(client_.EditModem(kServer, missing).status, 0u);
  EXPECT_EQ(client_.DeleteModem(kServer, modem).status, 0u);
  EXPECT_NE(client_.DeleteModem(kServer, modem).status, 0u);
  ASSERT_EQ(client_.DownloadList(kServer, 8000, nullptr, path).status, 0u);
  EXPECT_EQ(ReadAll(path).find("Renamed"), std::string::npos);
}

// Requests that run one operation and answer its status.
TEST_F(HandlersTest, StatusRequests) {
  StartHub();
  struct Case {
    uint32_t code;
    Status expect;
    int suspended;  // 3040 afterwards
  };
  const Case cases[] = {
      {3030, kStatusServerNotSuspended, 0},
      {3020, 0, 1},
      {3020, kStatusServerSuspended, 1},
      {3030, 0, 0},
      {2212, 0, 0},
      {2202, 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(client_.SendCommand(kServer, c.code).status, c.expect) << c.code;
    int flag = -1;
    ASSERT_EQ(client_.IsServerSuspended(kServer, flag).status, 0u);
    EXPECT_EQ(flag, c.suspended) << c.code;
  }
  EXPECT_EQ(client_.SendDebugMessage(kServer).status, 0u);
  EXPECT_EQ(client_.SendNumber(kServer, 90, 0).status, 0u);
  // The cleared log holds nothing from before.
  EXPECT_FALSE(ServerLogged("Fax Server: Started"));
}

// Parameters: stored as given, their bounds applied (and written back) when
// they are read.
TEST_F(HandlersTest, ServerParameters) {
  ASSERT_EQ(KvSetKorvoDefaultServer("faxhost"), 1);
  StartHub();
  struct Case {
    ConnectionSettings set;
    ConnectionSettings expect;
  };
  const Case cases[] = {
      {{"+385 1 234", 2, 10}, {"+385 1 234", 2, 10}},
      {{"+385 1 234", 0, 10}, {"+385 1 234", 5, 10}},
      {{"+385 1 234", 11, 61}, {"+385 1 234", 5, 3}},
      {{"123456789012345678901", 3, 1}, {"faxhost", 3, 1}},  // 21 characters
      {{"", 10, 60}, {"faxhost", 10, 60}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.set.stationId + " " + std::to_string(c.set.retryAttempts));
    ASSERT_EQ(client_.SetServerParameters(kServer, c.set).status, 0u);
    for (int read = 0; read < 2; ++read) {  // the second read sees what the first wrote back
      ConnectionSettings got;
      ASSERT_EQ(client_.GetServerParameters(kServer, got).status, 0u);
      EXPECT_EQ(got.stationId, c.expect.stationId);
      EXPECT_EQ(got.retryAttempts, c.expect.retryAttempts);
      EXPECT_EQ(got.retryInterval, c.expect.retryInterval);
    }
  }
  uint32_t stored = 0;
  ASSERT_EQ(KvReadRegDword("Server", "RetryAttempts", &stored), 1);
  EXPECT_EQ(stored, 10u);
}

JournalRecord Entry(uint32_t jobId, const char* sender, const char* recipient) {
  JournalRecord r;
  r.jobId = jobId;
  std::snprintf(r.senderAddress, sizeof r.senderAddress, "%s", sender);
  std::snprintf(r.senderName, sizeof r.senderName, "%s", sender);
  std::snprintf(r.recipientAddress, sizeof r.recipientAddress, "%s", recipient);
  std::snprintf(r.recipientName, sizeof r.recipientName, "%s", recipient);
  return r;
}

int LineCount(const std::string& text) {
  int n = 0;
  for (size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos; at += 2) ++n;
  return n;
}

// The journal lists, all or the user's own; 2222 clears only the user's own
// entries, 2212 all of them.
TEST_F(HandlersTest, JournalRequests) {
  const std::string me = test::OwnLogin();
  {
    int ok = 0;
    Journal journal((root_ / "Config" / "Journal.dbs").c_str(), &ok);
    ASSERT_EQ(ok, 1);
    ASSERT_EQ(journal.Add(Entry(1, me.c_str(), "555 1234")), 0u);
    ASSERT_EQ(journal.Add(Entry(2, "ivana", "555 9876")), 0u);
    ASSERT_EQ(journal.Add(Entry(3, "~nobody", me.c_str())), 0u);
  }
  StartHub();
  const std::string path = TempPath("journal.txt");
  struct Case {
    uint32_t code;  // a command first, then both lists
    int all;
    int mine;
  };
  const Case cases[] = {
      {0, 3, 2},
      {2222, 1, 0},
      {2212, 0, 0},
  };
  for (const Case& c : cases) {
    if (c.code) {
      ASSERT_EQ(client_.SendCommand(kServer, c.code).status, 0u) << c.code;
    }
    ASSERT_EQ(client_.DownloadList(kServer, 2210, nullptr, path).status, 0u);
    EXPECT_EQ(LineCount(ReadAll(path)), c.all) << c.code;
    ASSERT_EQ(client_.DownloadList(kServer, 2220, nullptr, path).status, 0u);
    EXPECT_EQ(LineCount(ReadAll(path)), c.mine) << c.code;
  }
}

// One more session held open by a client that only did its handshake.
class IdleClient {
 public:
  IdleClient() {
    link_.Open(".");
    link_.SendText(kTagIntroduce, test::OwnLogin().c_str());
    const uint8_t version[4] = {uint8_t(kProtocolVersion), uint8_t(kProtocolVersion >> 8), 0, 0};
    link_.SendData(kTagReportClientVersion, version, 4);
    // A request answered proves the session runs.
    link_.SendText(90, nullptr);
    ReceivedMessage reply;
    link_.Receive(&reply);
  }

 private:
  ClientMessageLink link_;
};

TEST_F(HandlersTest, GracefulShutdownWaitsForOtherClients) {
  StartHub();
  {
    IdleClient other;
    EXPECT_EQ(client_.SendCommand(kServer, 3010).status, kStatusShutdownConnectionsActive);
    // Unconditional: stops with the other client still there.
    EXPECT_EQ(client_.SendCommand(kServer, 3000).status, 0u);
    EXPECT_EQ(hub_->Wait(), 0);
  }
}

TEST_F(HandlersTest, GracefulShutdownAlone) {
  StartHub();
  EXPECT_EQ(client_.SendCommand(kServer, 3010).status, 0u);
  EXPECT_EQ(hub_->Wait(), 0);
  EXPECT_NE(hub_->output().find("Fax Server Daemon Stoped."), std::string::npos);
}

}  // namespace
}  // namespace korvo
