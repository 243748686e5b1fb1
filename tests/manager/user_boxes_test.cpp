// The user's fax boxes against a real korvohub, faxes delivered on the LAN
// to the test's login and to "~nobody": the receiving boxes fetch what came
// and say so, only whole pairs of version 3 list, Time sorts by the number,
// Send, Resend, Forward and Dispatch reach the server, View starts the
// viewer with each box's arguments and reaps it. A fetch never writes over
// a pair that lies in the folder, a failed one leaves no files and the fax
// on the server, and a file that cannot be deleted keeps its row.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/fax_header.h"
#include "common/settings.h"
#include "common/userenvironment.h"
#include "manager/list_classes.h"
#include "manager/list_model.h"
#include "manager/server_fax_list.h"
#include "manager/user_fax_list.h"
#include "platform/tempfile.h"
#include "tests/manager/manager_fixture.h"
#include "tests/server/queue_fixture.h"

namespace korvo::test {
namespace {

namespace fs = std::filesystem;
using manager::ListModel;
using manager::UserFaxList;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class UserBoxesTest : public ManagerFixture {
 protected:
  void SetUp() override {
    ManagerFixture::SetUp();
    GetUserEnvironment().Load();
    ASSERT_FALSE(GetUserEnvironment().GetInBoxPath().empty());
  }
  void TearDown() override {
    model_.Close();
    ManagerFixture::TearDown();
  }

  static FaxHeader Header(const std::string& subject, std::vector<FaxSenderOrRecipient> to, int32_t time = 0) {
    FaxHeader h;
    h.sender = Lan(OwnLogin());
    h.subject = subject;
    for (const auto& r : to) h.recipients.AddTail(r);
    h.sendTime = ScheduleTimeInfo(ScheduleTimeInfo::kAtChosenTime, time ? time : static_cast<int32_t>(std::time(nullptr)));
    return h;
  }
  // A fax on the LAN through the server to a user ("~nobody" is the
  // dispatchers').
  void Deliver(const std::string& subject, const std::string& user) {
    const std::string image = TempPath(subject + ".tif");
    WriteFaxFile(image, 2);
    ASSERT_EQ(client_.SendFax(".", Header(subject, {Lan(user)}), image).status, 0u) << subject;
  }
  // A pair written straight into a folder.
  static void PutPair(const std::string& folder, const std::string& base, const FaxHeader& header, int pages = 1) {
    FaxHeader copy(header);
    ASSERT_EQ(copy.SaveToFile(folder + base + ".kvf"), 1);
    WriteFaxFile(folder + base + ".fax", pages);
  }
  void Open(const char* className) { model_.Open(*manager::FindListClass(className), {className, true, "Personal Folders"}); }
  UserFaxList& List() { return *static_cast<UserFaxList*>(model_.current()); }
  std::vector<std::string> Column(int position) {
    std::vector<std::string> out;
    for (int i = 0; i < model_.RowCount(); ++i) out.push_back(model_.CellText(i, position));
    return out;
  }
  void SelectOnly(int row) {
    for (int i = 0; i < model_.RowCount(); ++i) model_.ClearRowState(i, manager::kRowSelected | manager::kRowFocused);
    model_.SetRowState(row, manager::kRowSelected | manager::kRowFocused);
  }
  // The subjects of a server list the test's login (or the user it acts
  // for) is given.
  std::vector<std::string> ServerList(uint32_t code, FaxClient& client) {
    const std::string file = TempPath("list.txt");
    EXPECT_EQ(client.DownloadList(".", code, nullptr, file).status, 0u);
    std::vector<std::string> subjects;
    for (const std::string& line : ListLines(ReadAll(file))) subjects.push_back(manager::QueueListEntry(line).subject);
    fs::remove(file);
    return subjects;
  }
  static std::vector<std::string> Files(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string Received(const std::string& count) { return count + " new fax(es) received from " + Host(); }

  FakeUi ui_;
  ListModel model_{ui_};
};

// Each receiving box fetches the faxes of its own list into its folder,
// says how many came, and lists them; the next refresh finds none and says
// nothing.
TEST_F(UserBoxesTest, ReceivingBoxesFetchTheirFaxesAndSayHowMany) {
  StartHub();
  struct Case {
    const char* list;
    std::string user;
    std::string folder;
  };
  const Case cases[] = {{"UserInBox", OwnLogin(), GetUserEnvironment().GetInBoxPath()},
                        {"UserDispatchBox", "~nobody", GetUserEnvironment().GetDispBoxPath()}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    ui_.boxes.clear();
    Deliver(std::string("one for ") + c.list, c.user);
    Deliver(std::string("two for ") + c.list, c.user);
    Open(c.list);
    EXPECT_EQ(ui_.Texts(), (std::vector<std::string>{Received("2")}));
    ASSERT_EQ(model_.RowCount(), 2);
    EXPECT_EQ(Column(0), (std::vector<std::string>{OwnLogin(), OwnLogin()}));
    EXPECT_EQ(Files(c.folder).size(), 4u) << "two pairs and no temporary file";
    EXPECT_TRUE(ServerList(static_cast<manager::UserReceivingBox&>(List()).RequestCode(), client_).empty()) << "the server let go of both";

    model_.Refill();
    EXPECT_EQ(ui_.Texts().size(), 1u) << "nothing new, nothing said";
    EXPECT_EQ(model_.RowCount(), 2);
  }
}

// Only a header of version 3 beside its image lists; directories, lone
// headers, lone images and other versions do not.
TEST_F(UserBoxesTest, OnlyWholePairsOfVersionThreeList) {
  const std::string out = GetUserEnvironment().GetOutBoxPath();
  PutPair(out, "whole", Header("whole", {Fax("5550100")}));
  FaxHeader lone = Header("lone header", {Fax("5550100")});
  ASSERT_EQ(lone.SaveToFile(out + "lone.kvf"), 1);
  WriteFaxFile(out + "image only.fax", 1);
  PutPair(out, "old", Header("version two", {Fax("5550100")}));
  std::string bytes = ReadAll(out + "old.kvf");
  ASSERT_EQ(bytes.substr(0, 2), std::string("\x03\x00", 2));
  bytes[0] = 2;
  std::ofstream(out + "old.kvf", std::ios::binary | std::ios::trunc) << bytes;
  fs::create_directory(out + "folder.kvf");
  WriteFaxFile(out + "folder.fax", 1);

  Open("UserOutBox");
  EXPECT_EQ(Column(1), (std::vector<std::string>{"whole"}));
  EXPECT_TRUE(ui_.boxes.empty());
}

// Time sorts by the send time, not by its text ("10/..." before "9/...");
// the To column shows one recipient, or the first and the last.
TEST_F(UserBoxesTest, TimeSortsByTheNumberAndRecipientsShowFirstAndLast) {
  const std::string out = GetUserEnvironment().GetOutBoxPath();
  auto at = [](int month, int day, int hour) {
    tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_isdst = -1;
    return static_cast<int32_t>(mktime(&t));
  };
  PutPair(out, "a", Header("october", {Fax("1", "Ana")}, at(10, 1, 0)));
  PutPair(out, "b", Header("september", {Fax("1", "Ana"), Fax("2", "Bo")}, at(9, 1, 13)));
  PutPair(out, "c", Header("february", {Fax("1", "Ana"), Fax("2", "Bo"), Fax("3")}, at(2, 5, 12)));
  Open("UserOutBox");
  EXPECT_EQ(model_.GetSortCaption(), "Sort: Time");
  EXPECT_EQ(Column(1), (std::vector<std::string>{"february", "september", "october"}));
  EXPECT_EQ(Column(0), (std::vector<std::string>{"<Ana, .. 3>", "<Ana, Bo>", "Ana"}));
  EXPECT_EQ(Column(2), (std::vector<std::string>{"2/05/26 12:00 PM", "9/01/26 1:00 PM", "10/01/26 12:00 AM"}));
  model_.ClickColumn(2);
  EXPECT_EQ(Column(1), (std::vector<std::string>{"october", "september", "february"}));
}

// Send hands the Output Box pair to the server and removes it; Resend from
// Sent Faxes sends it again and keeps it.
TEST_F(UserBoxesTest, SendRemovesTheOutBoxPairAndResendKeepsTheSentOne) {
  StartHub();
  const std::string out = GetUserEnvironment().GetOutBoxPath();
  const std::string sent = GetUserEnvironment().GetSentBoxPath();
  PutPair(out, "waiting", Header("waiting", {Fax("5550100")}));
  PutPair(sent, "done", Header("done", {Fax("5550101")}));

  Open("UserOutBox");
  ASSERT_EQ(model_.RowCount(), 1);
  SelectOnly(0);
  ASSERT_TRUE(model_.OnCommand(UserFaxList::kCmdSend));
  EXPECT_EQ(model_.RowCount(), 0);
  EXPECT_TRUE(Files(out).empty());
  EXPECT_EQ(ServerList(6020, client_), (std::vector<std::string>{"waiting"}));

  Open("UserSentFaxes");
  ASSERT_EQ(model_.RowCount(), 1);
  SelectOnly(0);
  ASSERT_TRUE(model_.OnCommand(UserFaxList::kCmdResend));
  EXPECT_EQ(model_.RowCount(), 1);
  EXPECT_EQ(Files(sent), (std::vector<std::string>{"done.fax", "done.kvf"}));
  EXPECT_EQ(ServerList(6020, client_), (std::vector<std::string>{"waiting", "done"}));
  EXPECT_EQ(ui_.Texts().back(), "1 item(s) successfully processed");
}

// Forward and Dispatch send the fax to the user chosen in the Dispatch
// Faxes dialog; Forward keeps the local pair, Dispatch removes it.
TEST_F(UserBoxesTest, ForwardAndDispatchReachTheChosenUsersInBox) {
  RegisterUser("ana", 0x02);
  StartHub();
  Deliver("mine", OwnLogin());
  Deliver("nobody's", "~nobody");
  ui_.chosenUser = "ana";
  FaxClient ana = ClientFor("ana");

  Open("UserInBox");
  ASSERT_EQ(model_.RowCount(), 1);
  SelectOnly(0);
  manager::CommandUi enabled;
  EXPECT_TRUE(model_.OnUpdateCommand(UserFaxList::kCmdForward, enabled));
  EXPECT_TRUE(enabled.enabled);
  ASSERT_TRUE(model_.OnCommand(UserFaxList::kCmdForward));
  EXPECT_EQ(model_.RowCount(), 1);
  EXPECT_EQ(Files(GetUserEnvironment().GetInBoxPath()).size(), 2u);

  Open("UserDispatchBox");
  ASSERT_EQ(model_.RowCount(), 1);
  SelectOnly(0);
  ASSERT_TRUE(model_.OnCommand(UserFaxList::kCmdDispatch));
  EXPECT_EQ(model_.RowCount(), 0);
  EXPECT_TRUE(Files(GetUserEnvironment().GetDispBoxPath()).empty());

  EXPECT_EQ(ui_.choices, (std::vector<std::pair<std::string, std::string>>{{Host(), "Forward Faxes"},
                                                                          {Host(), "Dispatch Faxes"}}));
  EXPECT_EQ(ServerList(5026, ana), (std::vector<std::string>{"mine", "nobody's"}));

  // Cancelled: nothing is sent.
  ui_.chosenUser.reset();
  Open("UserInBox");
  SelectOnly(0);
  model_.OnCommand(UserFaxList::kCmdForward);
  EXPECT_EQ(ServerList(5026, ana).size(), 2u);
}

// View starts the program "KorvoLens" names with the image, the Dispatch
// Box with "/First_Page_Only" before it, and the viewer is reaped once it
// ends (a zombie would keep its /proc entry).
TEST_F(UserBoxesTest, ViewStartsTheViewerWithEachBoxsArguments) {
  const fs::path record = sandbox_.path("viewer-args.txt");
  const fs::path viewer = sandbox_.path("viewer.sh");
  std::ofstream(viewer) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > " << record.string() << ".tmp\nmv "
                        << record.string() << ".tmp " << record.string() << "\n";
  fs::permissions(viewer, fs::perms::owner_all);
  ASSERT_EQ(KvSetKorvoLensName(viewer.c_str()), 1);
  StartHub();
  const UserEnvironment& env = GetUserEnvironment();
  struct Case {
    const char* list;
    std::string folder;
    bool firstPageOnly;
  };
  const Case cases[] = {{"UserInBox", env.GetInBoxPath(), false},
                        {"UserOutBox", env.GetOutBoxPath(), false},
                        {"UserSentFaxes", env.GetSentBoxPath(), false},
                        {"UserReturnedFaxes", env.GetReturnedPath(), false},
                        {"UserDispatchBox", env.GetDispBoxPath(), true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    PutPair(c.folder, "seen", Header("seen", {Fax("5550100")}));
    Open(c.list);
    ASSERT_EQ(model_.RowCount(), 1);
    model_.OnDoubleClick(0);
    const pid_t pid = List().lastViewer();
    ASSERT_GT(pid, 0);
    bool came = false;
    for (int i = 0; i < 3000 && !(came = fs::exists(record)); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(came);
    std::string expected = c.firstPageOnly ? "/First_Page_Only\n" : "";
    expected += c.folder + "seen.fax\n";
    EXPECT_EQ(ReadAll(record), expected);
    fs::remove(record);
    const fs::path proc = "/proc/" + std::to_string(pid);
    for (int i = 0; i < 3000 && fs::exists(proc); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(fs::exists(proc)) << "the viewer was not reaped";
    model_.Close();
    fs::remove(c.folder + "seen.fax");
    fs::remove(c.folder + "seen.kvf");
  }
}

// The fetch draws "FAX" numbers in the platform's order; the next few
// already name pairs in the folder, which the fetch must leave as they are.
TEST_F(UserBoxesTest, AFetchNeverWritesOverAPairInTheFolder) {
  StartHub();
  Deliver("new one", OwnLogin());
  const std::string in = GetUserEnvironment().GetInBoxPath();
  std::string drawn;
  const int fd = platform::CreateTempFile(in, "FAX", drawn);
  ASSERT_GE(fd, 0);
  ::close(fd);
  fs::remove(drawn);
  const unsigned number = std::stoul(fs::path(drawn).stem().string().substr(3), nullptr, 16);
  std::vector<std::string> planted;
  for (unsigned n = number + 1; n <= number + 4; ++n) {
    char base[16];
    std::snprintf(base, sizeof base, "FAX%04X", n & 0xFFFF);
    PutPair(in, base, Header(std::string("kept ") + base, {Lan(OwnLogin())}), 3);
    planted.push_back(base);
  }
  std::vector<std::string> before;
  for (const auto& base : planted) before.push_back(ReadAll(in + base + ".kvf") + ReadAll(in + base + ".fax"));

  Open("UserInBox");
  EXPECT_EQ(ui_.Texts(), (std::vector<std::string>{Received("1")}));
  EXPECT_EQ(model_.RowCount(), 5);
  for (size_t i = 0; i < planted.size(); ++i)
    EXPECT_TRUE(ReadAll(in + planted[i] + ".kvf") + ReadAll(in + planted[i] + ".fax") == before[i]) << planted[i];
  EXPECT_EQ(Files(in).size(), 10u) << "five pairs, no temporary file left";
}

// A fetch that cannot write the whole image (the file size limit stops it)
// leaves neither file, and the server keeps the fax for the next refresh.
TEST_F(UserBoxesTest, AFailedFetchLeavesNoFilesAndTheFaxOnTheServer) {
  StartHub();
  const std::string image = TempPath("big.tif");
  WriteFaxFile(image, 400);
  ASSERT_GT(fs::file_size(image), 16384u);
  ASSERT_EQ(client_.SendFax(".", Header("big", {Lan(OwnLogin())}), image).status, 0u);

  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto* oldHandler = signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 8192;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  Open("UserInBox");
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
  signal(SIGXFSZ, oldHandler);

  ASSERT_EQ(ui_.Texts().size(), 1u);
  EXPECT_NE(ui_.Texts()[0].find("file"), std::string::npos) << ui_.Texts()[0];
  EXPECT_EQ(model_.RowCount(), 0);
  EXPECT_TRUE(Files(GetUserEnvironment().GetInBoxPath()).empty());
  EXPECT_EQ(ServerList(5026, client_), (std::vector<std::string>{"big"}));

  model_.Refill();
  EXPECT_EQ(ui_.Texts().back(), Received("1"));
  ASSERT_EQ(model_.RowCount(), 1);
  EXPECT_TRUE(ReadAll(List().Item(0).imagePath) == ReadAll(image));
}

// Delete removes the pair; an image that is there but cannot be removed (a
// directory with something in it took its name) is reported with the
// system's text, and the row stays with its header.
TEST_F(UserBoxesTest, DeleteReportsAFileThatStays) {
  const std::string out = GetUserEnvironment().GetOutBoxPath();
  // The batch walks up from the last row: "goes" comes first.
  PutPair(out, "stays", Header("stays", {Fax("2")}, 1000000));
  PutPair(out, "goes", Header("goes", {Fax("1")}, 2000000));
  Open("UserOutBox");
  ASSERT_EQ(model_.RowCount(), 2);
  fs::remove(out + "stays.fax");
  fs::create_directories(out + "stays.fax/inside");
  for (int i = 0; i < 2; ++i) model_.SetRowState(i, manager::kRowSelected);
  ASSERT_TRUE(model_.OnCommand(UserFaxList::kCmdDelete));
  ASSERT_GE(ui_.boxes.size(), 2u);
  EXPECT_EQ(ui_.boxes[0].caption, "Confirm Delete Item(s)");
  EXPECT_EQ(ui_.boxes[1].text, out + "stays.fax: " + std::error_code(ENOTEMPTY, std::generic_category()).message());
  EXPECT_EQ(Column(1), (std::vector<std::string>{"stays"}));
  EXPECT_EQ(Files(out), (std::vector<std::string>{"stays.fax", "stays.kvf"}));
}

}  // namespace
}  // namespace korvo::test
