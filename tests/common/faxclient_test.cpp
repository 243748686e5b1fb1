#include "common/faxclient.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "common/archive.h"
#include "common/settings.h"
#include "common/status_codes.h"
#include "common/userenvironment.h"
#include "platform/username.h"
#include "tests/common/faxclient_cases.h"
#include "tests/support/sandbox.h"

namespace korvo {
namespace {

namespace fs = std::filesystem;
using test::FakeServer;
using test::FakeSession;
using test::Encoded;
using test::kEsc;
using test::Nul;
using test::Ok;
using test::OkBytes;
using test::OkText;
using test::Refuse;
using test::SampleAddress;
using test::SampleUser;

std::string LoginName() {
  char name[260] = {};
  platform::GetUserName(name, sizeof name);
  return name;
}

class Client : public ::testing::Test {
 protected:
  void SetUp() override {
    RequestExchange::SetDisconnectPause(std::chrono::milliseconds(0));
    data = box.path("data/jane").string() + "/";
    ASSERT_EQ(KvWriteRegUserStr(nullptr, "DataPath", data.c_str()), 1);
    ASSERT_EQ(GetUserEnvironment().GetDataPath(), data);
  }
  void TearDown() override { RequestExchange::SetDisconnectPause(std::chrono::milliseconds(100)); }

  std::unique_ptr<FakeServer> Serve(FakeServer::Handler h) {
    auto s = std::make_unique<FakeServer>(box.pipeDir().string() + "/Korvo", std::move(h));
    EXPECT_TRUE(s->ok());
    return s;
  }
  // Files left in the data folder (temporary files must be gone).
  std::vector<std::string> DataFiles() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(data)) {
      if (e.is_regular_file()) names.push_back(e.path().filename().string());
    }
    return names;
  }

  test::Sandbox box;
  std::string data;
  FaxClient client;
};


TEST_F(Client, EachMethodSendsItsRequestAndReadsItsReply) {
  const auto cases = test::EachMethodCases(".");
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto server = Serve(c.reply);
    test::ExpectRowAnswered(c, client, *server);
  }
}

TEST_F(Client, ErrorRepliesLeaveOutValuesAlone) {
  auto server = Serve(Refuse(kStatusNoPermission, "User has no permissions to perform this command."));
  int32_t id = 5;
  uint32_t word = 5;
  int flag = 5;
  RegisteredUserEntry user = SampleUser();
  ConnectionSettings params;
  params.stationId = "keep";
  std::vector<RequestResult> results = {
      client.AddAddress(".", SampleAddress(), id),      client.AddJunkSender(".", JunkSenderEntry(), id),
      client.AddModem(".", ModemRecord(), id),          client.GetUser(".", "x", user),
      client.GetServerTime(".", word),                  client.GetServerVersion(".", word),
      client.GetServerParameters(".", params),          client.IsServerSuspended(".", flag),
      client.GetPermissions(".", word),
  };
  for (const auto& r : results) {
    EXPECT_EQ(r.status, kStatusNoPermission);
    EXPECT_EQ(r.text, GetStatusText(kStatusServerErrorIndicationText) + "\nUser has no permissions to perform this command.");
  }
  EXPECT_EQ(id, 5);
  EXPECT_EQ(word, 5u);
  EXPECT_EQ(flag, 5);
  EXPECT_EQ(user.fullName, "Jane Roe");
  EXPECT_EQ(params.stationId, "keep");
}

TEST_F(Client, AShortNumberReplyIsAWrongMessage) {
  auto server = Serve(OkBytes("ab"));
  uint32_t time = 5;
  EXPECT_EQ(client.GetServerTime(".", time).status, kStatusServerWrongMessage);
  EXPECT_EQ(client.GetServerVersion(".", time).status, kStatusServerWrongMessage);
  EXPECT_EQ(time, 5u);
}

TEST_F(Client, RecordsThatDoNotFitTheirBufferAreRefusedUnsent) {
  auto server = Serve(OkText("1"));
  AddressEntry longAddress = SampleAddress();
  longAddress.comment = std::string(250, 'c');
  RegisteredUserEntry bigUser = SampleUser();
  bigUser.description = std::string(300, 'd');  // over 256, within 512
  RegisteredUserEntry hugeUser = SampleUser();
  hugeUser.description = std::string(520, 'd');
  JunkSenderEntry longJunk;
  longJunk.description = std::string(260, 'j');
  ConnectionSettings longParams;
  longParams.stationId = std::string(255, 's');
  int32_t id = 5;
  struct Case {
    const char* name;
    std::function<RequestResult()> call;
    Status status;
  } cases[] = {
      {"server address", [&] { return client.AddAddress(".", longAddress, id); }, kStatusDbDataTooLarge},
      {"local address", [&] { return client.AddAddress(nullptr, longAddress, id); }, kStatusDbDataTooLarge},
      {"address edit", [&] { return client.ChangeAddress(".", 7030, longAddress); }, kStatusDbDataTooLarge},
      {"junk sender", [&] { return client.ChangeJunkSender(".", 7830, longJunk); }, kStatusDbDataTooLarge},
      {"parameters", [&] { return client.SetServerParameters(".", longParams); }, kStatusDbDataTooLarge},
      {"huge user", [&] { return client.ChangeUser(".", 7530, hugeUser); }, kStatusDbDataTooLarge},
      {"user name", [&] { RegisteredUserEntry u; return client.GetUser(".", std::string(5000, 'u').c_str(), u); }, kStatusDbDataTooLarge},
      {"selector", [&] { return client.DownloadList(".", 5000, std::string(5000, 's').c_str(), data + "list"); }, kStatusDbDataTooLarge},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    RequestResult r = c.call();
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.text, GetStatusText(c.status));
  }
  EXPECT_EQ(id, 5);
  EXPECT_EQ(server->connections(), 0);
  EXPECT_FALSE(fs::exists(GetUserEnvironment().GetLocalBookPath()));
  EXPECT_EQ(client.ChangeUser(".", 7530, bigUser).status, 0u);
  EXPECT_EQ(server->requests().size(), 1u);
}

TEST_F(Client, ServerMethodsNeedAServerName) {
  auto server = Serve(Ok());
  uint32_t word = 0;
  EXPECT_EQ(client.GetPermissions(nullptr, word).status, kStatusCannotConnect);
  EXPECT_EQ(client.SendCommand(nullptr, 3000).status, kStatusCannotConnect);
  EXPECT_EQ(client.GetFax(nullptr, 1, data + "h", data + "i").status, kStatusCannotConnect);
  EXPECT_EQ(client.SendFaxFiles(nullptr, data + "h", data + "i").status, kStatusCannotConnect);
  EXPECT_EQ(server->connections(), 0);
}

TEST_F(Client, ThisMachineByNameIsTheLocalServer) {
  auto server = Serve(OkText("2"));
  uint32_t bits = 0;
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  EXPECT_EQ(client.GetPermissions(host, bits).status, 0u);
  EXPECT_EQ(bits, 2u);
}

TEST_F(Client, DownloadListWritesTheFileAndSendsTheSelector) {
  std::string list = "line one\r\nline two\r\n" + std::string(9000, 'x');
  auto server = Serve([list](FakeSession& s, FakeServer::Request&) {
    s.Send(0);
    s.SendFile(list);
  });
  std::string path = data + "list.txt";
  uint32_t counter = 9;
  EXPECT_EQ(client.DownloadList(".", 5000, nullptr, path).status, 0u);
  EXPECT_EQ(test::Sandbox::readFile(path), list);
  EXPECT_EQ(client.DownloadListCounted(".", 5010, "0", path, counter).status, 0u);
  EXPECT_EQ(counter, 0u);
  auto requests = server->requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].message.tag, 5000u);
  EXPECT_EQ(requests[0].message.length, 0u);
  EXPECT_EQ(requests[1].message.payload, Nul("0"));
}

TEST_F(Client, CountedDownloadZeroesItsCounterOnFailureToo) {
  auto server = Serve(Refuse(kStatusCreateList, "Could not create the requested list."));
  uint32_t counter = 9;
  EXPECT_EQ(client.DownloadListCounted(".", 5026, nullptr, data + "l", counter).status, kStatusCreateList);
  EXPECT_EQ(counter, 0u);
}

TEST_F(Client, GetFaxReceivesHeaderThenImage) {
  auto server = Serve([](FakeSession& s, FakeServer::Request& r) {
    s.Send(0);
    s.SendFile("header bytes");
    s.SendFile(std::string(8192, 'i'));
    test::WireMessage last;
    r.notes.push_back(s.Receive(last) ? std::to_string(last.tag) + "/" + std::to_string(last.length) : "none");
  });
  std::string header = data + "InBox/FAX0001.kvf", image = data + "InBox/FAX0001.fax";
  EXPECT_EQ(client.GetFax(".", -1, header, image).status, 0u);
  EXPECT_EQ(test::Sandbox::readFile(header), "header bytes");
  EXPECT_EQ(test::Sandbox::readFile(image), std::string(8192, 'i'));
  auto requests = server->requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].message.tag, 4010u);
  EXPECT_EQ(requests[0].message.payload, Nul("-1"));
  EXPECT_EQ(requests[0].notes, std::vector<std::string>{"0/0"});  // the client's closing Ok
}

TEST_F(Client, SendFaxSendsTheSavedHeaderThenTheImageAndDeletesTheHeader) {
  std::string received[2];
  auto server = Serve([&received](FakeSession& s, FakeServer::Request&) {
    s.Send(0);
    s.ReceiveFile(received[0]);
    s.ReceiveFile(received[1]);
    s.Send(0);
  });
  FaxHeader header;
  header.subject = "Quarterly";
  header.priority = FaxHeader::kPriorityNormal;
  header.recipients.AddTail(FaxSenderOrRecipient("012345", 0, "Ana", "Velmora", "0123", "012345"));
  std::string image = data + "OutBox/CPT0001.fax";
  test::Sandbox::writeFile(image, std::string(5000, 'p'));
  std::string expected = data + "expected.kvf";
  FaxHeader copy(header);
  ASSERT_EQ(copy.SaveToFile(expected), 1);
  std::string expectedBytes = test::Sandbox::readFile(expected);
  fs::remove(expected);

  EXPECT_EQ(client.SendFax(".", header, image).status, 0u);
  server->requests();
  EXPECT_EQ(received[0], expectedBytes);
  EXPECT_EQ(received[1], std::string(5000, 'p'));
  EXPECT_TRUE(DataFiles().empty());
}

TEST_F(Client, ADataFolderThatCannotHoldTemporaryFilesOpensNoConnection) {
  auto server = Serve(Ok());
  std::string image = box.path("img.fax").string();
  test::Sandbox::writeFile(image, "p");
  // The data folder is gone and a file holds its name.
  fs::remove_all(data);
  test::Sandbox::writeFile(box.path("data/jane"), "a file");
  RequestResult sent = client.SendFax(".", FaxHeader(), image);
  EXPECT_EQ(sent.status, kStatusCreateFaxHeader);
  EXPECT_EQ(sent.text, GetStatusText(kStatusCreateFaxHeader));
  UserEntryList list(1);
  RequestResult listed = client.GetUserList(".", list);
  EXPECT_EQ(listed.status, kStatusGetFileFromServer);
  EXPECT_EQ(list.size(), 1u);
  EXPECT_EQ(server->connections(), 0);
}

// A user without a data folder has no place for temporary files: nothing
// is made in the directory the program runs in, and nothing is sent.
TEST(ClientWithoutDataFolder, MakesNoTemporaryFileAndOpensNoConnection) {
  test::Sandbox box;
  RequestExchange::SetDisconnectPause(std::chrono::milliseconds(0));
  ASSERT_EQ(GetUserEnvironment().GetDataPath(), "");
  FakeServer server(box.pipeDir().string() + "/Korvo", [](FakeSession& s, FakeServer::Request&) { s.Send(0); });
  ASSERT_TRUE(server.ok());
  const fs::path before = fs::current_path();
  fs::current_path(box.root());
  std::string image = box.path("img.fax").string();
  test::Sandbox::writeFile(image, "p");
  FaxClient client;
  EXPECT_EQ(client.SendFax(".", FaxHeader(), image).status, kStatusCreateFaxHeader);
  UserEntryList list;
  EXPECT_EQ(client.GetUserList(".", list).status, kStatusGetFileFromServer);
  EXPECT_EQ(FaxClient::MakeTempFileName("", "LST"), "");
  std::vector<std::string> made;
  for (const auto& e : fs::directory_iterator(box.root()))
    if (e.is_regular_file() && e.path().extension() == ".TMP") made.push_back(e.path().filename().string());
  fs::current_path(before);
  EXPECT_EQ(made, std::vector<std::string>{});
  EXPECT_EQ(server.connections(), 0);
  RequestExchange::SetDisconnectPause(std::chrono::milliseconds(100));
}

TEST_F(Client, SendFaxFilesRefusedKeepsTheServersStatus) {
  auto server = Serve(Refuse(kStatusServerSuspended, "Korvo Server is in SUSPENDED mode."));
  test::Sandbox::writeFile(data + "a", "a");
  test::Sandbox::writeFile(data + "b", "b");
  EXPECT_EQ(client.SendFaxFiles(".", data + "a", data + "b").status, kStatusServerSuspended);
}

TEST_F(Client, GetUserListAppendsTheUsersAndDeletesItsFile) {
  RegisteredUserEntry admin;
  admin.userName = "Administrator";
  admin.rights = 0x1E;
  std::string file = Encoded(admin.ToArray()) + "\r\n" + Encoded(SampleUser().ToArray()) + "\r\n";
  auto server = Serve([file](FakeSession& s, FakeServer::Request&) {
    s.Send(0);
    s.SendFile(file);
  });
  RegisteredUserEntry earlier;
  earlier.userName = "earlier";
  UserEntryList list = {earlier};
  EXPECT_EQ(client.GetUserList(".", list).status, 0u);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].userName, "earlier");
  EXPECT_EQ(list[1].userName, "Administrator");
  EXPECT_EQ(list[1].rights, 0x1Eu);
  EXPECT_EQ(list[2].fullName, "Jane Roe");
  auto requests = server->requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].message.tag, 7500u);
  EXPECT_EQ(requests[0].message.payload, Nul("0"));
  EXPECT_TRUE(DataFiles().empty());
}

TEST_F(Client, AnEmptyOrRefusedUserListLeavesTheListAlone) {
  {
    auto server = Serve([](FakeSession& s, FakeServer::Request&) {
      s.Send(0);
      s.SendFile("");
    });
    UserEntryList list;
    EXPECT_EQ(client.GetUserList(".", list).status, 0u);
    EXPECT_TRUE(list.empty());
  }
  auto server = Serve(Refuse(kStatusNoPermission, "no"));
  UserEntryList list(1);
  EXPECT_EQ(client.GetUserList(".", list).status, kStatusNoPermission);
  EXPECT_EQ(list.size(), 1u);
  EXPECT_TRUE(DataFiles().empty());
}

TEST_F(Client, ActForUserNeedsTheAdministrationRight) {
  std::string own = client.GetUserName();
  EXPECT_EQ(own, LoginName().size() < 32 ? LoginName() : "");
  {
    auto server = Serve(OkText("14"));  // every right but administration
    EXPECT_EQ(client.ActForUser(".", "jane"), 0);
    EXPECT_STREQ(client.GetUserName(), own.c_str());
  }
  auto server = Serve(OkText("16"));
  EXPECT_EQ(client.ActForUser(".", std::string(32, 'n').c_str()), 0);
  EXPECT_EQ(client.ActForUser(".", nullptr), 0);
  EXPECT_STREQ(client.GetUserName(), own.c_str());
  std::string longest(31, 'm');
  EXPECT_EQ(client.ActForUser(".", longest.c_str()), 1);
  EXPECT_EQ(client.GetUserName(), longest);
  uint32_t bits = 0;
  client.GetPermissions(".", bits);
  // The next ActForUser asks with the caller's own name again.
  EXPECT_EQ(client.ActForUser(".", "jane"), 1);
  auto requests = server->requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].user, own);
  EXPECT_EQ(requests[1].user, longest);
  EXPECT_EQ(requests[2].user, own);
  EXPECT_STREQ(client.GetUserName(), "jane");
}

TEST_F(Client, ActForUserWithoutAServerKeepsTheOwnName) {
  EXPECT_EQ(client.ActForUser(".", "jane"), 0);
  EXPECT_EQ(client.ActForUser(nullptr, "jane"), 0);
  EXPECT_EQ(std::string(client.GetUserName()), LoginName().size() < 32 ? LoginName() : "");
}

TEST_F(Client, LocalBookWorksWithoutAServer) {
  int32_t id = 0;
  RequestResult added = client.AddAddress(nullptr, SampleAddress(), id);
  EXPECT_EQ(added.status, 0u);
  EXPECT_EQ(added.text, GetStatusText(0));
  EXPECT_NE(id, 0);
  EXPECT_TRUE(fs::exists(GetUserEnvironment().GetLocalBookPath()));

  AddressEntry edited = SampleAddress();
  edited.id = id;
  edited.comment = "edited";
  RequestResult changed = client.ChangeAddress(nullptr, 7030, edited);
  EXPECT_EQ(changed.status, 0u);
  EXPECT_EQ(changed.text, "");

  std::string list = data + "book.txt";
  uint32_t counter = 9;
  EXPECT_EQ(client.DownloadListCounted(nullptr, 7000, "0", list, counter).status, 0u);
  EXPECT_EQ(counter, 0u);
  std::string text = test::Sandbox::readFile(list);
  EXPECT_NE(text.find("edited"), std::string::npos);
  EXPECT_NE(text.find("Velmora"), std::string::npos);
  EXPECT_EQ(client.DownloadList(nullptr, 7000, "Nothing", list).status, 0u);
  EXPECT_EQ(test::Sandbox::readFile(list), "");

  struct Case {
    uint32_t code;
    Status status;
  } refused[] = {{7010, kStatusWrongMessageId}, {7500, kStatusWrongMessageId}};
  for (const auto& c : refused) {
    RequestResult r = client.ChangeAddress(nullptr, c.code, edited);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.text, GetStatusText(c.status));
  }
  EXPECT_EQ(client.ChangeAddress(nullptr, 7020, edited).status, 0u);
  EXPECT_EQ(client.ChangeAddress(nullptr, 7020, edited).status, kStatusLocalBookRemove);
  EXPECT_EQ(client.ChangeAddress(nullptr, 7030, edited).status, kStatusLocalBookEdit);
  client.DownloadList(nullptr, 7000, "0", list);
  EXPECT_EQ(test::Sandbox::readFile(list), "");
}

TEST_F(Client, LocalAddFailingGivesItsStatus) {
  // The book's file cannot be made: a folder that is not empty holds its name.
  test::Sandbox::writeFile(GetUserEnvironment().GetLocalBookPath() + "/inside", "x");
  int32_t id = 5;
  RequestResult r = client.AddAddress(nullptr, SampleAddress(), id);
  EXPECT_EQ(r.status, kStatusAddAddress);
  EXPECT_EQ(r.text, GetStatusText(kStatusAddAddress));
  EXPECT_EQ(id, 5);
}

TEST(TempFiles, MakeAndDelete) {
  test::Sandbox box;
  std::string folder = box.root().string() + "/";
  std::string name = FaxClient::MakeTempFileName(folder, "LST");
  ASSERT_FALSE(name.empty());
  EXPECT_EQ(name.rfind(folder + "LST", 0), 0u);
  EXPECT_TRUE(fs::exists(name));
  FaxClient::DeleteTempFile(name);
  EXPECT_FALSE(fs::exists(name));
  EXPECT_EQ(FaxClient::MakeTempFileName(folder + "missing/", "LST"), "");
  FaxClient::DeleteTempFile("");
}

}  // namespace
}  // namespace korvo
