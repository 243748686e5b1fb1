// The server's requests through FaxClient against a real korvohub: one table
// of cases per request family (success, refusal, bad payload), and the edge
// cases of parameters, journal and shutdown.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/entries.h"
#include "common/userenvironment.h"
#include "common/cover_page.h"
#include "common/fax_header.h"
#include "common/modem_record.h"
#include "common/tiff_reader.h"
#include "common/status_codes.h"
#include "server/journal.h"
#include "server/modem_port.h"
#include "server/requestcode.h"
#include "tests/server/hub_fixture.h"
#include "tests/server/queue_fixture.h"
#include "tools/modemsim/exchange.h"

namespace korvo {
namespace {

using test::HubFixture;
using test::ServerLogged;
using test::Fax;
using test::Lan;
using test::WriteFaxFile;

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
  // The whole list, through a temporary file of the client's data folder
  // that does not stay.
  UserEntryList users;
  ASSERT_EQ(client_.GetUserList(kServer, users).status, 0u);
  std::set<std::string> names;
  for (const auto& u : users) names.insert(u.userName);
  EXPECT_EQ(names, (std::set<std::string>{"Administrator", "marko", test::OwnLogin()}));
  for (const auto& e : std::filesystem::directory_iterator(GetUserEnvironment().GetDataPath()))
    EXPECT_TRUE(e.is_directory()) << e.path();

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

  // Refusals and payloads that name nothing: the operation's own status,
  // without a failure line.
  RegisteredUserEntry user;
  user.userName = "marko";
  user.rights = kRightRegistered;
  ASSERT_EQ(client_.ChangeUser(kServer, FaxClient::kAddUser, user).status, 0u);
  FaxClient marko = ClientFor("marko");
  struct Refusal {
    FaxClient* client;
    uint32_t code;
    const char* payload;
    Status expect;
  };
  const Refusal refusals[] = {
      {&marko, 3020, nullptr, kStatusNoPermission},
      {&marko, 2212, nullptr, kStatusNoPermission},
      {&client_, 3030, nullptr, kStatusServerNotSuspended},
      {&client_, 4020, "4294967295", kStatusRequestAlreadyDeleted},
      {&client_, 4030, "job", kStatusRequestAlreadyDeleted},
      {&client_, 4020, nullptr, kStatusRequestAlreadyDeleted},
      {&client_, 8040, "77", kStatusServerTooBusy},  // nothing in the modem table to delete
      {&client_, 8040, "modem", kStatusServerTooBusy},
  };
  for (const Refusal& r : refusals) {
    RequestExchange exchange(r.client->GetUserName());
    ReceivedMessage reply;
    EXPECT_EQ(exchange.Run(kServer, r.code, r.payload, &reply).status, r.expect)
        << r.code << " " << (r.payload ? r.payload : "(none)");
  }
  for (const char* name : {"Delete a fax from queue", "Delete user's fax from queue", "Delete a modem",
                           "Resume normal server operation", "Suspend normal server operation"}) {
    EXPECT_FALSE(ServerLogged("[" + test::OwnLogin() + "] Operation '" + name + "' failed.")) << name;
  }
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

// Each family refuses a user without its right before any handler runs
// (a registered user without the right, a user who is not registered), and
// takes payloads that name nothing without harm.
TEST_F(HandlersTest, RefusalsAndPayloadsThatNameNothing) {
  StartHub();
  RegisteredUserEntry user;
  user.userName = "marko";
  user.rights = kRightRegistered;
  ASSERT_EQ(client_.ChangeUser(kServer, FaxClient::kAddUser, user).status, 0u);
  FaxClient marko = ClientFor("marko");
  FaxClient ghost = ClientFor("ghost");  // not registered
  const std::string list = TempPath("list.txt");
  const std::string image = TempPath("image.tif");
  test::WriteFaxFile(image, 1);
  FaxHeader header;
  header.sender = test::Lan("ghost");
  header.recipients.AddTail(test::Fax("555 0001"));
  int32_t id = 0;
  ConnectionSettings settings{"+385 1 234", 2, 10};
  struct Case {
    const char* what;
    std::function<RequestResult()> run;
    Status expect;
  };
  const std::vector<Case> cases = {
      {"event log", [&] { return marko.DownloadList(kServer, 2200, nullptr, list); }, kStatusNoPermission},
      {"dispatch list", [&] { return marko.DownloadList(kServer, 5010, nullptr, list); }, kStatusNoPermission},
      {"own list", [&] { return marko.DownloadList(kServer, 5020, nullptr, list); }, 0},
      {"junk sender", [&] { return marko.AddJunkSender(kServer, JunkSenderEntry(), id); }, kStatusNoPermission},
      {"modem", [&] { return marko.AddModem(kServer, ModemRecord(), id); }, kStatusNoPermission},
      {"parameters", [&] { return marko.SetServerParameters(kServer, settings); }, kStatusNoPermission},
      {"job deletion", [&] { return marko.SendNumber(kServer, 4020, 1); }, kStatusNoPermission},
      {"shutdown", [&] { return marko.SendCommand(kServer, 3000); }, kStatusNoPermission},
      {"submission", [&] { return ghost.SendFax(kServer, header, image); }, kStatusNotRegisteredUser},
      {"fetch", [&] { return ghost.GetFax(kServer, 1, TempPath("h"), TempPath("f")); }, kStatusNotRegisteredUser},
      {"own list unregistered", [&] { return ghost.DownloadList(kServer, 5020, nullptr, list); },
       kStatusNotRegisteredUser},
      {"suspend state", [&] {
         int flag = 0;
         return ghost.IsServerSuspended(kServer, flag);
       }, 0},
      // Payloads that name nothing.
      {"queue list with a selector", [&] { return client_.DownloadList(kServer, 6000, "x", list); }, 0},
      {"fetch of no number",
       [&] {
         RequestExchange exchange(client_.GetUserName());
         ReceivedMessage reply;
         return exchange.Run(kServer, 4010, "job", &reply);
       },
       kStatusServerErrorIndication},
      {"parameters without fields",
       [&] {
         RequestExchange exchange(client_.GetUserName());
         ReceivedMessage reply;
         return exchange.Run(kServer, 2130, "STATION", &reply);
       },
       0},
  };
  for (const Case& c : cases) EXPECT_EQ(c.run().status, c.expect) << c.what;
  // Nothing refused changed anything; the parameters without fields read
  // with their defaults.
  ASSERT_EQ(client_.DownloadList(kServer, 8000, nullptr, list).status, 0u);
  EXPECT_EQ(ReadAll(list), "");
  ASSERT_EQ(client_.DownloadList(kServer, 6000, nullptr, list).status, 0u);
  EXPECT_EQ(ReadAll(list), "");
  ConnectionSettings got;
  ASSERT_EQ(client_.GetServerParameters(kServer, got).status, 0u);
  EXPECT_EQ(got.stationId, "STATION");
  EXPECT_EQ(got.retryAttempts, 5);
  EXPECT_EQ(got.retryInterval, 3);
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

// The list lines of a queue or journal list, each as its fields.
std::vector<std::vector<std::string>> ListRows(FaxClient& client, uint32_t code, const std::string& path) {
  std::vector<std::vector<std::string>> rows;
  if (client.DownloadList(kServer, code, nullptr, path).status != 0) return rows;
  const std::string text = test::Sandbox::readFile(path);
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find("\r\n", at);
    if (end == std::string::npos) break;
    std::vector<std::string> fields(15);
    DecodeFields(text.substr(at, end - at), fields);
    rows.push_back(fields);
    at = end + 2;
  }
  return rows;
}

class QueueRequestsTest : public HubFixture {
 protected:
  void SetUp() override {
    HubFixture::SetUp();
    image_ = TempPath("image.tif");
    WriteFaxFile(image_, 2);
  }
  FaxHeader Header(std::vector<FaxSenderOrRecipient> to, int32_t sendTime) {
    FaxHeader header;
    header.sender = Lan(test::OwnLogin());
    header.subject = "Offer";
    for (auto& r : to) header.recipients.AddTail(r);
    header.sendTime = ScheduleTimeInfo(ScheduleTimeInfo::kAtChosenTime, sendTime);
    return header;
  }
  // The server's temporary files of one prefix; the queued images are
  // "FAX" files there.
  size_t TempFiles(const std::string& prefix) {
    size_t n = 0;
    for (auto& e : std::filesystem::directory_iterator(root_ / "Temp"))
      n += e.path().filename().string().rfind(prefix, 0) == 0;
    return n;
  }

  std::set<std::string> TempNames() {
    std::set<std::string> names;
    for (auto& e : std::filesystem::directory_iterator(root_ / "Temp")) names.insert(e.path().filename().string());
    return names;
  }

  std::string image_;
};

// 4000: the send time moves up to now, never back; a session begun while
// suspended and a header of another version are refused, leaving no file.
TEST_F(QueueRequestsTest, SubmissionsAndTheirRefusals) {
  StartHub();
  const auto now = static_cast<int32_t>(std::time(nullptr));
  const int32_t tomorrow = now + 86400;
  ASSERT_EQ(client_.SendFax(kServer, Header({Fax("555 0001")}, now - 3600), image_).status, 0u);
  ASSERT_EQ(client_.SendFax(kServer, Header({Fax("555 0002")}, tomorrow), image_).status, 0u);
  const std::string list = TempPath("list.txt");
  auto rows = ListRows(client_, 6000, list);
  ASSERT_EQ(rows.size(), 2u);
  std::map<std::string, int64_t> due;
  for (auto& r : rows) due[r[3]] = std::stoll(r[6]);
  EXPECT_GE(due["555 0001"], now);
  EXPECT_LE(due["555 0001"], static_cast<int64_t>(std::time(nullptr)));
  EXPECT_EQ(due["555 0002"], tomorrow);

  // A header of format version 2.
  FaxHeader header = Header({Fax("555 0003")}, now);
  const std::string headerFile = TempPath("old.hdr");
  ASSERT_EQ(header.SaveToFile(headerFile), 1);
  std::string bytes = test::Sandbox::readFile(headerFile);
  ASSERT_EQ(bytes[0], 3);
  bytes[0] = 2;
  test::Sandbox::writeFile(headerFile, bytes);
  EXPECT_EQ(client_.SendFaxFiles(kServer, headerFile, image_).status, kStatusInternalError);

  ASSERT_EQ(client_.SendCommand(kServer, 3020).status, 0u);
  EXPECT_EQ(client_.SendFax(kServer, header, image_).status, kStatusServerSuspended);
  ASSERT_EQ(client_.SendCommand(kServer, 3030).status, 0u);
  EXPECT_EQ(ListRows(client_, 6000, list).size(), 2u);
  // Only the images of the two queued jobs are left.
  EXPECT_EQ(TempFiles("FAX"), 2u);
  EXPECT_EQ(TempFiles("HDR"), 0u);

  // Deleting: a job once, then it is gone.
  const std::string jobId = rows[0][1];
  EXPECT_EQ(client_.SendNumber(kServer, 4020, std::stoul(jobId)).status, 0u);
  EXPECT_NE(client_.SendNumber(kServer, 4030, std::stoul(jobId)).status, 0u);
  EXPECT_EQ(ListRows(client_, 6000, list).size(), 1u);

  EXPECT_TRUE(ServerLogged("[" + test::OwnLogin() + "] Operation 'Send a fax to server' failed."));
  ASSERT_EQ(client_.SendCommand(kServer, 3000).status, 0u);
  EXPECT_EQ(hub_->Wait(), 0);
  EXPECT_EQ(TempFiles("HDR"), 0u);
  EXPECT_EQ(TempFiles("FTR"), 0u);
}

// A connection of the test's own login past its handshake, for requests
// driven message by message.
void OpenSession(ClientMessageLink& link) {
  link.Open(".");
  link.SendText(kTagIntroduce, test::OwnLogin().c_str());
  const uint8_t version[4] = {uint8_t(kProtocolVersion), uint8_t(kProtocolVersion >> 8), 0, 0};
  link.SendData(kTagReportClientVersion, version, 4);
}

// A submission that breaks leaves neither file behind, and its failure is in
// the log by the time the files are gone: whether the client went away in the
// middle of the image, or took its files' receipts and left before the server
// refused the image (its reply then meets a closed connection).
TEST_F(QueueRequestsTest, ABrokenSubmissionLeavesNoFile) {
  struct Case {
    const char* what;
    std::function<void(ClientMessageLink&)> sendImage;
  };
  const Case cases[] = {
      {"cut in the middle of the image",
       [](ClientMessageLink& link) {
         // The header announces 2000 bytes; 1000 come, then the line drops.
         const std::string block(1000, 'i');
         WireHeader header;
         ASSERT_EQ(header.Send(*link.GetChannel(), kTagData, 2000), 1);
         uint32_t done = 0;
         ASSERT_EQ(link.GetChannel()->Send(block.data(), static_cast<uint32_t>(block.size()), &done), 1);
       }},
      {"gone before the refusal of an image without pages",
       [this](ClientMessageLink& link) {
         const std::string notTiff = TempPath("not.tif");
         test::Sandbox::writeFile(notTiff, std::string(1000, 'i'));
         ASSERT_EQ(link.SendFile(notTiff.c_str()), 0u);
       }},
  };
  StartHub();
  const std::string headerFile = TempPath("fax.hdr");
  FaxHeader header = Header({Fax("555 0001")}, static_cast<int32_t>(std::time(nullptr)));
  ASSERT_EQ(header.SaveToFile(headerFile), 1);
  const std::string failed = "[" + test::OwnLogin() + "] Operation 'Send a fax to server' failed.";
  auto failures = [&] {
    auto texts = test::ServerLog();
    return std::count(texts.begin(), texts.end(), failed);
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto before = failures();
    {
      ClientMessageLink link;
      OpenSession(link);
      link.SendText(4000, nullptr);
      ReceivedMessage reply;
      ASSERT_EQ(link.Receive(&reply), 0u);
      ASSERT_EQ(reply.tag, kTagOk);
      // Received: the server holds the header and the image's file now.
      ASSERT_EQ(link.SendFile(headerFile.c_str()), 0u);
      c.sendImage(link);
    }
    for (int i = 0; i < 3000 && TempFiles("") != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(TempFiles(""), 0u);
    EXPECT_EQ(failures(), before + 1);
  }
  EXPECT_TRUE(ListRows(client_, 6000, TempPath("list.txt")).empty());
}

// A fax the server has answered for is on the disk: killed outright right
// after the answer, the server starts again with every job of it, and with
// the image they share.
TEST_F(QueueRequestsTest, AFaxAcceptedRightBeforeAKillIsQueuedAfterTheRestart) {
  StartHub();
  const std::string me = test::OwnLogin();
  const auto tomorrow = static_cast<int32_t>(std::time(nullptr)) + 86400;
  ASSERT_EQ(client_.SendFax(kServer, Header({Fax("555 0001"), Fax("555 0002"), Lan(me)}, tomorrow), image_).status,
            0u);
  hub_->Signal(SIGKILL);
  EXPECT_EQ(hub_->Wait(), -1);

  StartHub();
  const std::string list = TempPath("list.txt");
  auto outgoing = ListRows(client_, 6000, list);
  ASSERT_EQ(outgoing.size(), 2u);
  std::map<std::string, std::vector<std::string>> byNumber;
  for (auto& row : outgoing) byNumber[row[3]] = row;
  for (const char* number : {"555 0001", "555 0002"}) {
    SCOPED_TRACE(number);
    ASSERT_EQ(byNumber.count(number), 1u);
    EXPECT_EQ(byNumber[number][4], "Offer");
    EXPECT_EQ(byNumber[number][6], std::to_string(tomorrow));
    EXPECT_EQ(byNumber[number][8], "2");
    EXPECT_EQ(byNumber[number][10], std::to_string(JobState::Queued));
  }
  auto mine = ListRows(client_, 5020, list);
  ASSERT_EQ(mine.size(), 1u);
  EXPECT_EQ(mine[0][0], outgoing[0][0]);  // one image for the three
  EXPECT_EQ(TempFiles("FAX"), 1u);
  EXPECT_FALSE(std::filesystem::exists(root_ / "Queue" / "Queue.lst.new"));
  // The job counter went on from the saved one.
  ASSERT_EQ(client_.SendFax(kServer, Header({Fax("555 0003")}, tomorrow), image_).status, 0u);
  std::set<std::string> ids;
  for (auto& row : ListRows(client_, 6000, list)) ids.insert(row[1]);
  for (auto& row : mine) ids.insert(row[1]);
  EXPECT_EQ(ids.size(), 4u);
}

// Damaged queue files found at a restart lose no acknowledged fax: every
// image stays under the server root (what no job names is moved aside), the
// intact records of the change log are queued again and the server log names
// the damage.
TEST_F(QueueRequestsTest, DamagedQueueFilesLoseNoAcknowledgedFax) {
  namespace fs = std::filesystem;
  const std::string list = (root_ / "Queue" / "Queue.lst").string();
  const std::string log = (root_ / "Queue" / "Queue.log").string();
  const std::string kept = (root_ / "Recovered").string();
  const struct {
    const char* what;
    bool listCut;  // else a byte of the log's second record is flipped
    size_t queued;
    std::vector<std::string> logged;
  } cases[] = {
      {"Queue.lst cut to half its length",
       true,
       0,
       {"Queue list " + list + " is damaged, the queue starts empty; kept as " + list + ".damaged",
        "Start-up repair of " + (root_ / "Temp").string() + ": 5 file(s) that no queued fax names moved to " + kept}},
      {"a byte in the middle of Queue.log's second record flipped",
       false,
       4,
       {"Queue log " + log + " holds damaged records, its intact records are queued again; kept as " + log +
            ".damaged",
        "Start-up repair of " + (root_ / "Temp").string() + ": 1 file(s) that no queued fax names moved to " + kept}},
  };
  const auto tomorrow = static_cast<int32_t>(std::time(nullptr)) + 86400;
  const std::string rows = TempPath("list.txt");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* folder : {"Queue", "Temp", "Recovered"}) fs::remove_all(root_ / folder);
    StartHub();
    for (int i = 0; i < 5; ++i)
      ASSERT_EQ(client_.SendFax(kServer, Header({Fax("555 000" + std::to_string(i))}, tomorrow), image_).status, 0u);
    if (c.listCut) {
      // A graceful stop takes the submissions into Queue.lst.
      ASSERT_EQ(client_.SendCommand(kServer, 3000).status, 0u);
      EXPECT_EQ(hub_->Wait(), 0);
      ASSERT_FALSE(fs::exists(log));
      const std::string bytes = test::Sandbox::readFile(list);
      test::Sandbox::writeFile(list, bytes.substr(0, bytes.size() / 2));
    } else {
      hub_->Signal(SIGKILL);
      EXPECT_EQ(hub_->Wait(), -1);
      std::string bytes = test::Sandbox::readFile(log);
      auto word = [&](size_t at) {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
        return v;
      };
      const size_t second = 8 + word(0);
      ASSERT_LT(second + 8, bytes.size());
      bytes[second + 8 + word(second) / 2] ^= 0x20;
      test::Sandbox::writeFile(log, bytes);
    }
    StartHub();
    EXPECT_EQ(ListRows(client_, 6000, rows).size(), c.queued);
    size_t images = 0;
    for (const char* folder : {"Temp", "Recovered"})
      if (fs::exists(root_ / folder))
        for (auto& e : fs::directory_iterator(root_ / folder)) images += CountTiffPages(e.path().string()) == 2;
    EXPECT_EQ(images, 5u);
    for (const auto& line : c.logged) EXPECT_TRUE(test::ServerLogged(line)) << line;
    hub_.reset();
  }
}

// A refused submission is told why: an image the server cannot read as a
// fax (a print job sent raw, a G3 TIFF of libtiff's tools, which has no page
// numbers) is not a full disk.
TEST_F(QueueRequestsTest, ARefusedSubmissionIsToldItsCause) {
  StartHub();
  const auto now = static_cast<int32_t>(std::time(nullptr));
  const std::string raw = TempPath("raw.prn");
  test::Sandbox::writeFile(raw, "BD BP BL EP ED");
  const std::string pbm = TempPath("page.pbm");
  test::Sandbox::writeFile(pbm, "P4\n1728 10\n" + std::string(216 * 10, '\0'));
  const std::string g3 = TempPath("g3.tif");
  ASSERT_EQ(std::system(("ppm2tiff -c g3 -R 204x196 " + pbm + " " + g3).c_str()), 0);
  for (const std::string& image : {raw, g3}) {
    SCOPED_TRACE(image);
    EXPECT_EQ(client_.SendFax(kServer, Header({Fax("555 0001")}, now), image).status, kStatusOpenPrnOrTiff);
  }
  EXPECT_TRUE(ListRows(client_, 6000, TempPath("list.txt")).empty());
}

// Every request that names a job takes its id as decimal digits alone: an id
// with anything around it, or past 32 bits, is an unknown id, never another
// job.
TEST_F(QueueRequestsTest, AJobIdWithTrailingCharactersIsUnknown) {
  StartHub();
  const auto tomorrow = static_cast<int32_t>(std::time(nullptr)) + 86400;
  ASSERT_EQ(client_.SendFax(kServer, Header({Fax("555 0001")}, tomorrow), image_).status, 0u);
  const std::string list = TempPath("list.txt");
  const auto rows = ListRows(client_, 6000, list);
  ASSERT_EQ(rows.size(), 1u);
  const std::string id = rows[0][1];
  for (const std::string& text :
       {id + "abc", id + " ", " " + id, "+" + id, std::string(""), std::to_string(std::stoull(id) + (1ull << 32))}) {
    for (const uint32_t code : {4010u, 4020u, 4030u}) {
      SCOPED_TRACE("'" + text + "' " + std::to_string(code));
      ClientMessageLink link;
      OpenSession(link);
      link.SendText(code, text.c_str());
      ReceivedMessage reply;
      ASSERT_EQ(link.Receive(&reply), 0u);
      EXPECT_EQ(reply.tag, kTagError);
      if (code != 4010) {
        EXPECT_EQ(static_cast<Status>(ParseDecimal(reply.Text())), kStatusRequestAlreadyDeleted);
      }
    }
  }
  ASSERT_EQ(ListRows(client_, 6000, list).size(), 1u);
  EXPECT_EQ(client_.SendNumber(kServer, 4020, static_cast<uint32_t>(std::stoul(id))).status, 0u);
  EXPECT_TRUE(ListRows(client_, 6000, list).empty());
}

// One connection that takes a fax's two files and holds back its final Ok.
class HeldDownload {
 public:
  explicit HeldDownload(uint32_t jobId, const std::string& folder) : folder_(folder) {
    OpenSession(link_);
    link_.SendText(4010, std::to_string(jobId).c_str());
    ReceivedMessage reply;
    ok_ = link_.Receive(&reply) == 0 && reply.tag == kTagOk && link_.ReceiveFile((folder + "/held.hdr").c_str()) == 0 &&
          link_.ReceiveFile((folder + "/held.tif").c_str()) == 0;
  }
  bool ok() const { return ok_; }
  void Finish(uint32_t tag) {
    link_.SendText(tag, nullptr);
    // The session answers the next request only once the fetch is done.
    link_.SendText(90, nullptr);
    ReceivedMessage reply;
    link_.Receive(&reply);
  }

 private:
  std::string folder_;
  ClientMessageLink link_;
  bool ok_ = false;
};

// 4010: only incoming faxes, one download at a time; the job leaves the
// queue only after the client's final Ok.
TEST_F(QueueRequestsTest, Fetches) {
  StartHub();
  const std::string me = test::OwnLogin();
  const auto now = static_cast<int32_t>(std::time(nullptr));
  // To a fax number (outgoing) and to the sender's own LAN box (incoming).
  ASSERT_EQ(client_.SendFax(kServer, Header({Fax("555 0001"), Lan(me)}, now), image_).status, 0u);
  const std::string list = TempPath("list.txt");
  auto outgoing = ListRows(client_, 6000, list);
  auto incoming = ListRows(client_, 5020, list);
  ASSERT_EQ(outgoing.size(), 1u);
  ASSERT_EQ(incoming.size(), 1u);
  const uint32_t outId = std::stoul(outgoing[0][1]);
  const uint32_t inId = std::stoul(incoming[0][1]);
  const std::string header = TempPath("got.hdr");
  const std::string fax = TempPath("got.tif");

  EXPECT_EQ(client_.GetFax(kServer, static_cast<int32_t>(outId), header, fax).status, kStatusServerErrorIndication);
  EXPECT_EQ(client_.GetFax(kServer, 99999, header, fax).status, kStatusServerErrorIndication);
  {
    // A download given up halfway leaves the job for the next one.
    HeldDownload first(inId, sandbox_.root().string());
    ASSERT_TRUE(first.ok());
    EXPECT_EQ(client_.GetFax(kServer, static_cast<int32_t>(inId), header, fax).status, kStatusServerErrorIndication);
    first.Finish(kTagError);
  }
  EXPECT_EQ(ListRows(client_, 5020, list).size(), 1u);
  {
    HeldDownload second(inId, sandbox_.root().string());
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(ListRows(client_, 5020, list).size(), 1u);  // not before the final Ok
    second.Finish(kTagOk);
  }
  EXPECT_EQ(ListRows(client_, 5020, list).size(), 0u);
  EXPECT_EQ(CountTiffPages(sandbox_.root().string() + "/held.tif"), 2u);
  FaxHeader got;
  ASSERT_EQ(got.LoadFromFile(sandbox_.root().string() + "/held.hdr"), 1);
  EXPECT_EQ(got.subject, "Offer");
  EXPECT_EQ(client_.GetFax(kServer, static_cast<int32_t>(inId), header, fax).status, kStatusServerErrorIndication);
  auto journal = ListRows(client_, 2220, list);
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0][1], std::to_string(inId));
  EXPECT_TRUE(ServerLogged("[" + me + "] Operation 'Get a fax from server' failed."));

  // With a cover page the recipient's own page stands in for the first page.
  FaxHeader covered = Header({Lan(me)}, now);
  covered.flags |= FaxHeader::kSendCoverPage;
  ASSERT_EQ(client_.SendFax(kServer, covered, image_).status, 0u);
  incoming = ListRows(client_, 5020, list);
  ASSERT_EQ(incoming.size(), 1u);
  const std::set<std::string> before = TempNames();
  ASSERT_EQ(client_.GetFax(kServer, std::stoi(incoming[0][1]), header, fax).status, 0u);
  // The merged image and the header go once the server has taken the final
  // Ok, which the client does not wait for; the queue's own files may go too.
  auto left = [&] {
    std::set<std::string> extra;
    for (const std::string& name : TempNames())
      if (!before.count(name)) extra.insert(name);
    return extra;
  };
  for (int i = 0; i < 3000 && !left().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(left(), std::set<std::string>{});
  TiffReader reader;
  uint16_t pages = 0;
  PageDescriptor first;
  ASSERT_NO_THROW(reader.Open(fax, pages, first));
  EXPECT_EQ(pages, 2u);
  EXPECT_EQ(first.length, kCoverPageLines);
}

// No code of the request table is left without its handler. Left out: the
// protocol tags and the handshake, which get no reply, and the requests that
// stop or suspend the server; the others are harmless without a payload.
TEST_F(HandlersTest, EveryRequestIsServed) {
  StartHub();
  const std::string me = test::OwnLogin();
  size_t count = 0;
  const RequestCode* table = RequestCode::Table(&count);
  for (size_t i = 0; i < count; ++i) {
    const uint32_t code = table[i].code;
    if (code < 100 || code == 2000 || code == 2010 || code == 3000 || code == 3010 || code == 3020) continue;
    RequestExchange exchange(me.c_str());
    ReceivedMessage reply;
    RequestResult r = exchange.Run(kServer, code, nullptr, &reply);
    EXPECT_NE(r.status, kStatusUnsupportedMessage) << code;
  }
}

// One more session held open by a client that only did its handshake.
class IdleClient {
 public:
  IdleClient() {
    OpenSession(link_);
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

// A modem in a call counts as much as a client: 3010 waits for it, 3000 does not.
TEST_F(HandlersTest, GracefulShutdownWaitsForASendingModem) {
  modemsim::ExchangeConfig cfg;
  cfg.ringPeriod = std::chrono::milliseconds(100);
  cfg.answerTimeout = std::chrono::minutes(10);  // the call rings until the server gives up
  cfg.modems.push_back({.name = "tx", .number = "100"});
  cfg.modems.push_back({.name = "far", .number = "200", .faults = {.noAnswer = true}});
  modemsim::Exchange exchange(cfg);
  test::WriteModemTable(root_ / "Config" / "Modems.dbs", {{exchange.portPath(0).string(), ModemPort::kUsageSend}});
  StartHub();
  FaxHeader header;
  header.sender = test::Lan(test::OwnLogin());
  header.recipients.AddTail(test::Fax("200"));
  header.sendTime = ScheduleTimeInfo(ScheduleTimeInfo::kAtChosenTime, static_cast<int32_t>(std::time(nullptr)));
  const std::string image = TempPath("image.tif");
  WriteFaxFile(image, 1);
  ASSERT_EQ(client_.SendFax(kServer, header, image).status, 0u);
  // The send session has dialled once the exchange knows the call.
  for (int i = 0; i < 6000 && exchange.calls().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(exchange.calls().size(), 1u);
  EXPECT_EQ(client_.SendCommand(kServer, 3010).status, kStatusShutdownConnectionsActive);
  EXPECT_EQ(client_.SendCommand(kServer, 3000).status, 0u);
  EXPECT_EQ(hub_->Wait(), 0);
}

TEST_F(HandlersTest, GracefulShutdownAlone) {
  StartHub();
  EXPECT_EQ(client_.SendCommand(kServer, 3010).status, 0u);
  EXPECT_EQ(hub_->Wait(), 0);
  EXPECT_NE(hub_->output().find("Fax Server Daemon Stoped."), std::string::npos);
}

}  // namespace
}  // namespace korvo
