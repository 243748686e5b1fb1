// The list view in a real window, as a new user meets it: a list of denied
// senders downloaded from a real korvohub, sorted by header clicks, rows
// picked with the mouse and deleted with the Delete key, the Refresh
// Interval dialog, the settings kept over closing and reopening, the popup
// in the main menu and under the right button, the refresh timer.
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <wx/app.h>
#include <wx/frame.h>
#include <wx/headerctrl.h>
#include <wx/menu.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>
#include <wx/vlbox.h>

#include "common/book_records.h"
#include "common/userenvironment.h"
#include "desktop/command_id.h"
#include "desktop/screenshot.h"
#include "manager/view/list_view.h"
#include "manager/view/refresh_interval_dialog.h"
#include "tests/manager/sender_list.h"
#include "tests/server/hub_fixture.h"
#include "tests/support/gui/scripted_prompter.h"
#include "tests/support/gui/window_test.h"

namespace korvo::test {
namespace {

using manager::ListView;

class ListViewWindowTest : public HubFixture {
 protected:
  void SetUp() override {
    HubFixture::SetUp();
    SenderList::failAtRow = -1;
    SenderList::opened.clear();
    GetUserEnvironment().Load();
    StartHub();
  }
  void TearDown() override {
    for (wxWindow* window : wxTopLevelWindows) window->Destroy();
    WaitFor([] { return wxTopLevelWindows.empty(); }, "the windows deleted");
    HubFixture::TearDown();
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
  // The station identifiers in Config/Denied.dbs.
  std::set<std::string> Denied() {
    std::set<std::string> out;
    Database db((root_ / "Config" / "Denied.dbs").c_str(), sizeof(JunkSenderRecord), CompareSerialIds);
    if (!db.Open()) return out;
    JunkSenderRecord r;
    for (int i = 0; db.GetAt(i, &r); ++i) out.insert(r.stationId.Str());
    db.Close();
    return out;
  }

  // A frame with the manager's first two menus and the view over the senders.
  void Start() {
    frame_ = new wxFrame(nullptr, wxID_ANY, "Denied Access Book", wxDefaultPosition, wxSize(520, 300));
    auto* bar = new wxMenuBar;
    auto* managerMenu = new wxMenu;
    managerMenu->Append(wxID_EXIT, "E&xit");
    bar->Append(managerMenu, "&Manager");
    auto* context = new wxMenu;
    context->Append(wxID_ANY, "Context");
    bar->Append(context, "&Context");
    frame_->SetMenuBar(bar);
    view_ = new ListView(frame_);
    frame_->Bind(wxEVT_MENU, [this](wxCommandEvent& e) {
      if (!view_->DoCommand(NumberOfWxId(e.GetId()))) e.Skip();
    });
    view_->OpenList(kSenderList, kSenderNode);
    ShowAndWait(frame_);
  }
  std::vector<std::string> Column(int c) {
    std::vector<std::string> out;
    for (int i = 0; i < view_->model().RowCount(); ++i) out.push_back(view_->model().CellText(i, c));
    return out;
  }
  void ClickAt(const wxPoint& at, int modifiers = wxMOD_NONE) {
    wxUIActionSimulator sim;
    sim.MouseMove(at);
    WaitFor([&] { return wxGetMousePosition() == at; }, "the pointer in place");
    if (modifiers & wxMOD_CONTROL) sim.KeyDown(WXK_CONTROL);
    sim.MouseClick();
    if (modifiers & wxMOD_CONTROL) sim.KeyUp(WXK_CONTROL);
  }
  // The middle of a header column, on the screen.
  wxPoint HeaderCell(int column) {
    int left = 0;
    for (int c = 0; c < column; ++c) left += view_->model().GetColumn(c).width;
    const wxRect r = view_->header()->GetScreenRect();
    return {r.x + left + view_->model().GetColumn(column).width / 2, r.y + r.height / 2};
  }
  wxPoint RowPoint(int row) {
    const wxRect r = view_->rows()->GetItemRect(static_cast<size_t>(row));
    return view_->rows()->ClientToScreen(wxPoint(r.x + 40, r.y + r.height / 2));
  }

  wxDialog* Shown(int dialogId) {
    wxDialog* found = nullptr;
    WaitFor([&] {
      for (wxWindow* w : wxTopLevelWindows)
        if (w->GetId() == dialogId && w->IsShown()) found = static_cast<wxDialog*>(w);
      return found != nullptr;
    }, "dialog " + std::to_string(dialogId));
    if (found) ShowAndWait(found);
    return found;
  }

  ScriptedPrompter prompts_;
  wxFrame* frame_ = nullptr;
  ListView* view_ = nullptr;
};

TEST_F(ListViewWindowTest, ANewUserSortsDeletesAndFindsTheSettingsAgain) {
  AddSenders({"+385 1 222", "+385 1 111", "+385 1 333"});
  Start();
  ListView& view = *view_;
  manager::ListModel& model = view.model();
  ASSERT_EQ(model.RowCount(), 3);
  EXPECT_EQ(view.rows()->GetItemCount(), 3u);
  EXPECT_EQ(model.GetSortCaption(), "Sort: None");

  // The main menu's second entry is the list's popup under its caption.
  wxMenuBar* bar = frame_->GetMenuBar();
  EXPECT_EQ(bar->GetMenuLabel(1), "S&ender");
  wxMenu* popup = bar->GetMenu(1);
  ASSERT_EQ(popup->GetMenuItemCount(), 3u);
  const std::vector<std::pair<int, std::string>> items = {{32866, "&Add"}, {32867, "&Delete"}, {32868, "&Edit"}};
  for (size_t i = 0; i < items.size(); ++i) {
    const wxMenuItem* item = popup->FindItemByPosition(i);
    EXPECT_EQ(NumberOfWxId(item->GetId()), items[i].first);
    EXPECT_EQ(item->GetItemLabel().utf8_string(), items[i].second);
  }

  // A header click sorts, the second inverts.
  ClickAt(HeaderCell(0));
  ASSERT_TRUE(WaitFor([&] { return model.GetSortCaption() == "Sort: Station Identifier"; }, "the sort by id"));
  EXPECT_EQ(Column(0), (std::vector<std::string>{"+385 1 111", "+385 1 222", "+385 1 333"}));
  ClickAt(HeaderCell(0));
  ASSERT_TRUE(WaitFor([&] { return model.GetSortCaption() == "Sort: Station Identifier (inv.)"; }, "inverted"));
  EXPECT_EQ(Column(0), (std::vector<std::string>{"+385 1 333", "+385 1 222", "+385 1 111"}));

  // The first column is dragged wider by its right edge.
  const int before = model.GetColumn(0).width;
  {
    const wxRect r = view.header()->GetScreenRect();
    const wxPoint edge(r.x + before - 1, r.y + r.height / 2);
    wxUIActionSimulator sim;
    sim.MouseMove(edge);
    WaitFor([&] { return wxGetMousePosition() == edge; }, "the pointer on the edge");
    sim.MouseDown();
    WaitFor([&] { return view.header()->HasCapture(); }, "the header resizing");
    sim.MouseMove(edge + wxPoint(60, 0));
    WaitFor([&] { return model.GetColumn(0).width > before + 30; }, "the column wider");
    sim.MouseUp();
    WaitFor([&] { return !view.header()->HasCapture(); }, "the resize done");
  }
  const int widened = model.GetColumn(0).width;
  EXPECT_GT(widened, before);

  // Two rows picked with the mouse, then the Delete key, answered Yes.
  ClickAt(RowPoint(0));
  ClickAt(RowPoint(2), wxMOD_CONTROL);
  ASSERT_TRUE(WaitFor([&] { return model.SelectedCount() == 2 || view.rows()->GetSelectedCount() == 2; },
                      "two rows selected"));
  desktop::SaveScreenshot(frame_, BuildDir() / "artifacts" / "manager-list-view.png");
  prompts_.Answer(desktop::Answer::Yes);
  PressKey(WXK_DELETE);
  ASSERT_TRUE(WaitFor([&] { return model.RowCount() == 1; }, "the deleted rows gone"));
  ASSERT_EQ(prompts_.prompts().size(), 1u);
  EXPECT_EQ(prompts_.prompts()[0].caption, "Confirm Delete Item(s)");
  EXPECT_EQ(prompts_.prompts()[0].text, "Are you sure you want to delete selected item(s)?");
  EXPECT_EQ(Column(0), (std::vector<std::string>{"+385 1 222"}));
  EXPECT_EQ(view.rows()->GetItemCount(), 1u);
  EXPECT_EQ(Denied(), (std::set<std::string>{"+385 1 222"}));

  // The Refresh Interval dialog refuses 2 seconds and takes 120.
  prompts_.Answer(desktop::Answer::Ok);
  WithModal([&] { view.DoCommand(manager::kCmdChangeRefreshInterval); }, [&] {
    wxDialog* dialog = Shown(manager::kRefreshIntervalDialog);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->GetTitle(), "Refresh Interval");
    auto* edit = static_cast<wxTextCtrl*>(dialog->FindWindow(manager::kRefreshIntervalEdit));
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->GetValue(), "60");
    Screenshot(dialog, "manager", "refresh-interval");
    for (const char* typed : {"2", "120"}) {
      edit->SetFocus();
      edit->SelectAll();
      for (const char* c = typed; *c; ++c) PressKey(*c);
      ASSERT_TRUE(WaitFor([&] { return edit->GetValue() == typed; }, std::string("the interval ") + typed));
      Click(dialog->FindWindow(wxID_OK));
      if (std::string(typed) == "2") {
        ASSERT_TRUE(WaitFor([&] { return prompts_.prompts().size() == 2; }, "the refusal"));
        EXPECT_TRUE(dialog->IsModal());
      }
    }
  });
  ASSERT_EQ(prompts_.prompts().size(), 2u);
  EXPECT_EQ(prompts_.prompts()[1].text, "Please enter an integer between 3 and 36000.");
  EXPECT_EQ(model.refresh().interval, 120);
  view.DoCommand(manager::kCmdEnableRefresh);

  // Closed and opened again: widths, sort and refresh as they were.
  view.CloseList();
  EXPECT_EQ(model.RowCount(), 0);
  view.OpenList(kSenderList, kSenderNode);
  EXPECT_EQ(model.GetColumn(0).width, widened);
  EXPECT_EQ(model.GetSortCaption(), "Sort: Station Identifier (inv.)");
  EXPECT_EQ(model.refresh().enabled, 1);
  EXPECT_EQ(model.refresh().interval, 120);
  EXPECT_TRUE(prompts_.Done());
}

TEST_F(ListViewWindowTest, EnterAndDoubleClickOpenARowAndTheRightButtonShowsThePopup) {
  AddSenders({"111", "222", "333"});
  Start();
  ListView& view = *view_;
  ClickAt(RowPoint(1));
  ASSERT_TRUE(WaitFor([&] { return view.model().SelectedCount() == 1; }, "one row selected"));
  PressKey(WXK_RETURN);
  ASSERT_TRUE(WaitFor([&] { return SenderList::opened.size() == 1; }, "the row opened by Enter"));
  EXPECT_EQ(SenderList::opened[0], 1);
  // With two rows selected Enter opens nothing.
  ClickAt(RowPoint(2), wxMOD_CONTROL);
  ASSERT_TRUE(WaitFor([&] { return view.model().SelectedCount() == 2; }, "two rows selected"));
  PressKey(WXK_RETURN);
  {
    wxUIActionSimulator sim;
    sim.MouseDblClick();
  }
  ASSERT_TRUE(WaitFor([&] { return SenderList::opened.size() == 2; }, "the row opened by a double click"));
  EXPECT_EQ(SenderList::opened, (std::vector<int>{1, 2}));

  // The right button opens the popup; its Delete reaches the list, which asks.
  bool seen = false;
  view.rows()->Bind(wxEVT_MENU_OPEN, [&](wxMenuEvent& e) {
    seen = view.popupOpen();
    e.Skip();
    wxTheApp->CallAfter([] { PressKey('d'); });
  });
  prompts_.Answer(desktop::Answer::No);
  {
    wxUIActionSimulator sim;
    sim.MouseClick(wxMOUSE_BTN_RIGHT);
  }
  ASSERT_TRUE(WaitFor([&] { return prompts_.prompts().size() == 1; }, "the popup's Delete asking"));
  EXPECT_TRUE(seen);
  EXPECT_FALSE(view.popupOpen());
  EXPECT_EQ(prompts_.prompts()[0].caption, "Confirm Delete Item(s)");
  EXPECT_EQ(view.model().RowCount(), 3);
}

// A list without a popup shows none under the right button and leaves the
// main menu's list popup as the list before put it.
class PopuplessList : public SenderList {
 public:
  int GetMenuIndex() override { return -1; }
};
const manager::ListClass kPopuplessList{"PopuplessList", &manager::CreateList<PopuplessList>};

TEST_F(ListViewWindowTest, AListWithoutAPopupLeavesTheMainMenuAndShowsNone) {
  AddSenders({"111"});
  Start();
  wxMenuBar* bar = frame_->GetMenuBar();
  const wxMenu* before = bar->GetMenu(1);
  view_->OpenList(kPopuplessList, kSenderNode);
  ASSERT_EQ(view_->model().RowCount(), 1);
  EXPECT_EQ(bar->GetMenu(1), before);
  EXPECT_EQ(bar->GetMenuLabel(1), "S&ender");
  EXPECT_EQ(view_->MakeRowPopup(), nullptr);

  int menusOpened = 0;
  bool clicked = false;
  view_->rows()->Bind(wxEVT_MENU_OPEN, [&](wxMenuEvent& e) {
    ++menusOpened;
    e.Skip();
  });
  // Bound last, so called first: the click is seen before the view's own
  // handler, and once that has returned.
  view_->rows()->Bind(wxEVT_RIGHT_DOWN, [&](wxMouseEvent& e) {
    e.Skip();
    wxTheApp->CallAfter([&] { clicked = !view_->popupOpen(); });
  });
  wxUIActionSimulator sim;
  sim.MouseMove(RowPoint(0));
  WaitFor([&] { return wxGetMousePosition() == RowPoint(0); }, "the pointer on the row");
  sim.MouseClick(wxMOUSE_BTN_RIGHT);
  ASSERT_TRUE(WaitFor([&] { return clicked; }, "the right click handled"));
  EXPECT_EQ(menusOpened, 0);
  EXPECT_TRUE(prompts_.prompts().empty());
}

// A list with periodic refresh on shows what the server got in the meantime.
TEST_F(ListViewWindowTest, TheRefreshTimerRefillsTheList) {
  AddSenders({"111"});
  ASSERT_EQ(KvWriteRegUserDword("Korvo Manager\\Denied Access Book", "Auto Refresh Interval", 3), 1);
  ASSERT_EQ(KvWriteRegUserDword("Korvo Manager\\Denied Access Book", "Auto Refresh Enabled", 1), 1);
  Start();
  ASSERT_EQ(view_->model().RowCount(), 1);
  EXPECT_EQ(view_->model().refresh().enabled, 1);
  AddSenders({"222"});
  ASSERT_TRUE(WaitFor([&] { return view_->model().RowCount() == 2; }, "the timer's refill"));
  EXPECT_EQ(view_->rows()->GetItemCount(), 2u);
  EXPECT_TRUE(prompts_.prompts().empty());
}

}  // namespace
}  // namespace korvo::test
