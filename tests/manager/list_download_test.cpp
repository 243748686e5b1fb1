// A list over a real korvohub (tests/manager/sender_list.h): rows from the
// download, refused requests and file errors, the confirmed delete.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "common/entries.h"
#include "common/userenvironment.h"
#include "manager/list_model.h"
#include "tests/manager/fake_ui.h"
#include "tests/manager/sender_list.h"
#include "tests/server/hub_fixture.h"

namespace korvo::test {
namespace {

class ListDownloadTest : public HubFixture {
 protected:
  void SetUp() override {
    HubFixture::SetUp();
    SenderList::failAtRow = -1;
    GetUserEnvironment().Load();
  }
  void AddSenders(std::initializer_list<const char*> ids) {
    for (const char* id : ids) {
      JunkSenderEntry e;
      e.stationId = id;
      e.description = std::string("about ") + id;
      int32_t newId = 0;
      ASSERT_EQ(client_.AddJunkSender(".", e, newId).status, 0u) << id;
    }
  }
  std::set<std::string> Shown(manager::ListModel& model) {
    std::set<std::string> out;
    for (int i = 0; i < model.RowCount(); ++i) out.insert(model.CellText(i, 0));
    return out;
  }
  std::set<std::string> OnServer() {
    manager::ListModel model(ui_);
    model.Open(kSenderList, kSenderNode);
    return Shown(model);
  }
  // The data folder holds no list file.
  int ListFiles() {
    int n = 0;
    for (auto& f : std::filesystem::directory_iterator(GetUserEnvironment().GetDataPath()))
      if (f.path().filename().string().rfind("LST", 0) == 0) ++n;
    return n;
  }

  FakeUi ui_;
};

TEST_F(ListDownloadTest, RowsComeFromTheServersListAndTheFileGoes) {
  StartHub();
  AddSenders({"+385 1 111", "+385 1 222", "+385 1 333"});
  manager::ListModel model(ui_);
  model.Open(kSenderList, kSenderNode);
  EXPECT_EQ(Shown(model), (std::set<std::string>{"+385 1 111", "+385 1 222", "+385 1 333"}));
  EXPECT_EQ(model.CellText(0, 1), "about " + model.CellText(0, 0));
  EXPECT_EQ(model.current()->GetServerName(), ".");
  EXPECT_TRUE(ui_.boxes.empty());
  EXPECT_EQ(ListFiles(), 0);
}

TEST_F(ListDownloadTest, AnEmptyListGivesNoRowsAndNoMessage) {
  StartHub();
  manager::ListModel model(ui_);
  model.Open(kSenderList, kSenderNode);
  EXPECT_EQ(model.RowCount(), 0);
  EXPECT_TRUE(ui_.boxes.empty());
  EXPECT_EQ(ListFiles(), 0);
}

// A server that is down is asked on every refresh tick: each refused request
// says why and leaves no list file behind.
TEST_F(ListDownloadTest, ARefusedRequestShowsItsTextAndLeavesNoFile) {
  manager::ListModel model(ui_);
  model.Open(kSenderList, kSenderNode);
  model.Refill();
  model.Refill();
  EXPECT_EQ(model.RowCount(), 0);
  ASSERT_EQ(ui_.boxes.size(), 3u);
  EXPECT_FALSE(ui_.boxes[0].text.empty());
  EXPECT_EQ(ui_.boxes[1].text, ui_.boxes[0].text);
  EXPECT_EQ(ListFiles(), 0);
}

// A list whose file fails to read after its second row: the file's
// descriptor is made one of a folder, whose reads fail (EISDIR).
class BrokenReadList : public SenderList {
 public:
  int AddItemFromText(int row, const char* line, int parameter) override {
    if (row == 1) BreakListFile();
    return SenderList::AddItemFromText(row, line, parameter);
  }

 private:
  static void BreakListFile() {
    const std::filesystem::path data = std::filesystem::canonical(GetUserEnvironment().GetDataPath());
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
      std::error_code ec;
      const std::filesystem::path target = std::filesystem::read_symlink(fd.path(), ec);
      if (ec || target.parent_path() != data || target.filename().string().rfind("LST", 0) != 0) continue;
      const int folder = open(data.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      ASSERT_GE(folder, 0);
      ASSERT_GE(dup2(folder, std::stoi(fd.path().filename().string())), 0);
      close(folder);
      return;
    }
    ADD_FAILURE() << "no list file open";
  }
};
const manager::ListClass kBrokenReadList{"BrokenReadList", &manager::CreateList<BrokenReadList>};

// A file error, raised while a row is added or by a read that fails midway
// (which is not the list's end), keeps the rows read so far and tells the
// user.
TEST_F(ListDownloadTest, AFileErrorKeepsTheRowsReadSoFar) {
  StartHub();
  AddSenders({"111", "222", "333"});
  struct Case {
    const char* what;
    const manager::ListClass& list;
    int failAtRow;
  };
  const Case cases[] = {{"adding the third row", kSenderList, 2},
                        {"reading after the second row", kBrokenReadList, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SenderList::failAtRow = c.failAtRow;
    ui_.boxes.clear();
    manager::ListModel model(ui_);
    model.Open(c.list, kSenderNode);
    EXPECT_EQ(model.RowCount(), 2);
    EXPECT_EQ(ui_.Texts(), (std::vector<std::string>{
                               "File error occured while processing a list received from server.\nSome items may be lost"}));
    EXPECT_EQ(ListFiles(), 0);
  }
}

TEST_F(ListDownloadTest, WithoutAServerTheLocalBookIsListed) {
  AddressEntry entry;
  entry.firstName = "Ana";
  entry.lastName = "Horvat";
  int32_t id = 0;
  ASSERT_EQ(client_.AddAddress(nullptr, entry, id).status, 0u);
  manager::ListModel model(ui_);
  model.Open(kSenderList, {"Local Address Book", false, {}});
  EXPECT_EQ(model.current()->GetServerName(), "");
  EXPECT_EQ(model.RowCount(), 1);
  EXPECT_TRUE(ui_.boxes.empty());
  EXPECT_EQ(ListFiles(), 0);
}

TEST_F(ListDownloadTest, ConfirmedDeleteRemovesTheSelectedSendersFromListAndServer) {
  StartHub();
  AddSenders({"111", "222", "333"});
  manager::ListModel model(ui_);
  model.Open(kSenderList, kSenderNode);
  ASSERT_EQ(model.RowCount(), 3);
  for (int i = 0; i < 3; ++i)
    if (model.CellText(i, 0) != "222") model.SetRowState(i, manager::kRowSelected);
  model.current()->ConfirmDeleteSelected(0);
  ASSERT_FALSE(ui_.boxes.empty());
  EXPECT_EQ(ui_.boxes[0].caption, "Confirm Delete Item(s)");
  EXPECT_EQ(ui_.boxes[0].text, "Are you sure you want to delete selected item(s)?");
  EXPECT_EQ(ui_.boxes.size(), 1u);
  EXPECT_EQ(Shown(model), (std::set<std::string>{"222"}));
  EXPECT_TRUE(model.IsFocused(0));
  EXPECT_EQ(OnServer(), (std::set<std::string>{"222"}));
}

TEST_F(ListDownloadTest, DeleteAnsweredNoKeepsEverything) {
  StartHub();
  AddSenders({"111"});
  manager::ListModel model(ui_);
  model.Open(kSenderList, kSenderNode);
  model.SetRowState(0, manager::kRowSelected);
  ui_.answers.push_back(desktop::Answer::No);
  model.current()->ConfirmDeleteSelected(0);
  EXPECT_EQ(model.RowCount(), 1);
  EXPECT_EQ(OnServer(), (std::set<std::string>{"111"}));
}

}  // namespace
}  // namespace korvo::test
