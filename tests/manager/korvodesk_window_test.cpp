// KorvoDesk as a new user meets it, under Xvfb against a real korvohub with
// fresh hives: the window's place and size, the folders, the "&Server"
// caption, the server commands through the menus, the window state kept over
// a restart, the splash on a clock the test turns, the help after setup, and
// the program itself closing normally on SIGTERM and SIGHUP.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <wx/app.h>
#include <wx/display.h>
#include <wx/html/helpctrl.h>
#include <wx/html/helpwnd.h>
#include <wx/menu.h>
#include <wx/splitter.h>
#include <wx/uiaction.h>

#include "common/settings.h"
#include "common/userenvironment.h"
#include "desktop/command_id.h"
#include "desktop/screenshot.h"
#include "manager/app/main_frame.h"
#include "manager/app/manager_app.h"
#include "manager/app/tree_view.h"
#include "manager/folder_tree.h"
#include "manager/manager_ids.h"
#include "manager/startup.h"
#include "manager/window_state.h"
#include "platform/local_socket.h"
#include "tests/manager/x_window.h"
#include "tests/server/hub_fixture.h"
#include "tests/support/gui/scripted_prompter.h"
#include "tests/support/gui/window_manager.h"
#include "tests/support/gui/window_test.h"

namespace korvo::test {
namespace {

using namespace manager;

// The system's service control, counting the questions asked of it.
class CountingService final : public ServiceControl {
 public:
  bool IsRunning(const std::string& machine, bool& running) override {
    ++queries;
    return SystemServiceControl().IsRunning(machine, running);
  }
  bool Start(const std::string& machine) override { return SystemServiceControl().Start(machine); }
  int queries = 0;
};

class KorvoDeskWindowTest : public HubFixture {
 protected:
  void SetUp() override {
    HubFixture::SetUp();
    // As scripts/run.sh sets up the machine: the default server, the status
    // texts of the built library.
    ASSERT_EQ(KvWriteRegStr(nullptr, "DefaultServer", platform::ComputerName().c_str()), 1);
    ASSERT_EQ(KvWriteRegStr(nullptr, "KorvoCore", (BuildDir() / "core" / "libkorvocore.so").c_str()), 1);
    GetUserEnvironment().Load();
  }
  void TearDown() override {
    app_.reset();
    for (wxWindow* window : wxTopLevelWindows) window->Destroy();
    WaitFor([] { return wxTopLevelWindows.empty(); }, "the windows deleted");
    HubFixture::TearDown();
  }
  void Start(const std::vector<std::string>& arguments = {}) {
    app_ = std::make_unique<ManagerApp>([this] { return now_; });
    app_->SetHelpBook((BuildDir() / "manager" / "help" / "korvodesk.hhp").string());
    ASSERT_TRUE(app_->InitInstance(arguments, service_));
    ShowAndWait(frame());
  }
  // The window manager frames the window after it shows, which moves its
  // contents: clicks and placements wait until it stands where it was put.
  // The X server's word, not the toolkit's, which counts the frame before the
  // manager has put it around the window.
  void WaitPlaced() {
    const Rect p = frame()->placement();
    const ScreenBox wanted{p.left, p.top, p.width(), p.height()};
    WaitFor([&] { return ShownWindowBox("Korvo Manager", getpid()) == wanted && Placed() == p; },
            "the window at its placement");
  }
  Rect Placed() {
    const wxRect r = frame()->GetRect();
    return Rect({r.x, r.y, r.x + r.width, r.y + r.height});
  }
  MainFrame* frame() { return app_->frame(); }
  TreeView* tree() { return frame()->tree(); }
  wxTreeItemId Node(const std::vector<std::string>& path) {
    wxTreeItemId item = tree()->GetRootItem();
    for (const auto& text : path) item = tree()->FindChild(item, text);
    return item;
  }
  // A real click on the node's label.
  void ClickNode(const wxTreeItemId& item) {
    tree()->EnsureVisible(item);
    WaitPlaced();
    // The control lays out its nodes when idle: the point is taken once the
    // node is found there.
    wxPoint at;
    ASSERT_TRUE(WaitFor([&] {
      wxRect r;
      if (!tree()->GetBoundingRect(item, r, true) || r.height <= 0) return false;
      at = r.GetPosition() + wxPoint(r.width / 2, r.height / 2);
      int flags = 0;
      return tree()->HitTest(at, flags) == item;
    }, "the node shown"));
    wxUIActionSimulator sim;
    sim.MouseMove(tree()->ClientToScreen(at));
    WaitFor([&] { return wxGetMousePosition() == tree()->ClientToScreen(at); }, "the pointer on the node");
    sim.MouseClick();
    WaitFor([&] { return tree()->GetSelection() == item; }, "the node selected");
  }
  // The server popup inside the "&Server" menu, as the tree put it there.
  wxMenuItem* ServerEntry() { return frame()->GetMenuBar()->GetMenu(2)->FindItemByPosition(0); }
  // The menu opens: its items are enabled as the server answers now.
  std::map<int, bool> OpenServerMenu() {
    wxMenu* menu = ServerEntry()->GetSubMenu();
    EXPECT_NE(menu, nullptr);
    std::map<int, bool> enabled;
    if (!menu) return enabled;
    wxMenuEvent open(wxEVT_MENU_OPEN, 0, menu);
    frame()->ProcessWindowEvent(open);
    for (int id : {kCmdStartServer, kCmdSuspendServer, kCmdResumeServer, kCmdShutDownUnconditionally})
      enabled[id] = menu->IsEnabled(WxId(id));
    return enabled;
  }
  void Choose(int id) {
    wxCommandEvent e(wxEVT_MENU, WxId(id));
    e.SetEventObject(frame());
    frame()->ProcessWindowEvent(e);
  }
  bool Suspended() {
    int flag = 0;
    EXPECT_EQ(client_.IsServerSuspended(".", flag).status, 0u);
    return flag != 0;
  }
  static Size Screen() {
    const wxRect r = wxDisplay(0u).GetGeometry();
    return {r.width, r.height};
  }

  uint32_t now_ = 1000;
  CountingService service_;
  std::unique_ptr<ManagerApp> app_;
  ScriptedPrompter prompter_;
};

TEST_F(KorvoDeskWindowTest, ANewUserRunsTheServerFromTheManager) {
  StartHub();
  Start();
  const std::string host = UpperCase(platform::ComputerName());

  // An eighth of the screen in, three quarters in size; the tree a quarter.
  const Rect expected = DefaultRect(Screen());
  WaitPlaced();
  EXPECT_EQ(Placed(), expected);
  EXPECT_EQ(frame()->splitter()->GetSashPosition(), expected.width() / 4);

  EXPECT_EQ(tree()->GetChildrenCount(Node({"Personal Folders"}), false), 6u);
  EXPECT_EQ(tree()->GetChildrenCount(Node({"Fax Servers", host}), false), 11u);
  EXPECT_EQ(frame()->GetStatusBar()->GetFieldsCount(), 3);

  tree()->Expand(Node({"Fax Servers"}));
  tree()->Expand(Node({"Fax Servers", host}));
  ClickNode(Node({"Fax Servers", host}));
  EXPECT_EQ(ServerEntry()->GetItemLabel().utf8_string(), "&" + host + " (Default server)");
  // The server node's list shows its folders.
  WaitFor([&] { return frame()->StatusText(1) == "11 item(s)"; }, "the item count");
  Screenshot(frame(), "manager", "main");
  EXPECT_TRUE(desktop::SaveScreenshot(frame(), BuildDir() / "artifacts" / "manager-main.png"));

  auto enabled = OpenServerMenu();
  EXPECT_FALSE(enabled[kCmdStartServer]);
  EXPECT_TRUE(enabled[kCmdSuspendServer]);
  EXPECT_FALSE(enabled[kCmdResumeServer]);
  Choose(kCmdSuspendServer);
  EXPECT_TRUE(Suspended());
  enabled = OpenServerMenu();
  EXPECT_FALSE(enabled[kCmdSuspendServer]);
  EXPECT_TRUE(enabled[kCmdResumeServer]);
  Choose(kCmdResumeServer);
  EXPECT_FALSE(Suspended());

  enabled = OpenServerMenu();
  EXPECT_TRUE(enabled[kCmdShutDownUnconditionally]);
  prompter_.Answer(desktop::Answer::Yes);
  Choose(kCmdShutDownUnconditionally);
  EXPECT_EQ(hub_->Wait(), 0);
  ASSERT_EQ(prompter_.prompts().size(), 1u);
  EXPECT_EQ(prompter_.prompts()[0].text, "Are you sure you want to shut down the server?");
  EXPECT_EQ(prompter_.prompts()[0].caption, "Confirm Server Shut Down");
  // Stopped: only Start is offered.
  enabled = OpenServerMenu();
  EXPECT_TRUE(enabled[kCmdStartServer]);
  EXPECT_FALSE(enabled[kCmdSuspendServer]);
  EXPECT_FALSE(enabled[kCmdShutDownUnconditionally]);
}

// The server commands ask the server when their menu opens, never while the
// program is idle.
TEST_F(KorvoDeskWindowTest, ServerQueriesRunWhenTheMenuOpensOnly) {
  StartHub();
  Start();
  ClickNode(Node({"Fax Servers", UpperCase(platform::ComputerName())}));
  int idles = 0;
  auto count = [&](wxIdleEvent& e) {
    ++idles;
    e.Skip();
  };
  wxTheApp->Bind(wxEVT_IDLE, count);
  for (int round = 0; round < 3; ++round) {
    const int before = idles;
    wxWakeUpIdle();
    WaitFor([&] { return idles > before; }, "an idle pass");
  }
  wxTheApp->Unbind(wxEVT_IDLE, count);
  EXPECT_EQ(service_.queries, 0);
  OpenServerMenu();
  // Start, both shut downs and the parameters ask the service; suspend and
  // resume ask the server (3040).
  EXPECT_EQ(service_.queries, 4);
}

TEST_F(KorvoDeskWindowTest, ARestartRestoresTheRectangleAndSplitter) {
  Start();
  frame()->SetSize(100, 80, 800, 520);
  frame()->splitter()->SetSashPosition(180);
  WaitFor([&] { return frame()->normalRect() == Rect{100, 80, 900, 600}; }, "the window moved");
  WaitFor([&] { return frame()->splitter()->GetSashPosition() == 180; }, "the sash moved");
  frame()->Close();
  WaitFor([&] { return app_->frame() == nullptr; }, "the window closed");
  char text[64] = {};
  ASSERT_EQ(KvReadRegUserStr(kWindowStateSection, "Rect", text, sizeof text), 1);
  EXPECT_STREQ(text, "0100 0080 0900 0600");

  app_.reset();
  Start();
  WaitPlaced();
  EXPECT_EQ(Placed(), (Rect{100, 80, 900, 600}));
  EXPECT_EQ(frame()->splitter()->GetSashPosition(), 180);
}

// The splash is the About dialog; it goes at the first idle moment after
// 2500 ms of the clock.
TEST_F(KorvoDeskWindowTest, TheSplashStaysItsTimeAndGoesAtTheNextIdle) {
  Start();
  ASSERT_NE(app_->splash(), nullptr);
  ShowAndWait(app_->splash());
  EXPECT_EQ(app_->splash()->GetTitle(), "About Korvo Manager");
  EXPECT_EQ(wxWindow::FindWindowById(kAboutVersionText, app_->splash())->GetLabel(), "Version 1.30");
  EXPECT_TRUE(desktop::SaveScreenshot(app_->splash(), BuildDir() / "artifacts" / "manager-about.png"));
  Screenshot(app_->splash(), "manager", "about");
  // While it waits, idle passes ask for no more: the loop sleeps until the
  // splash timer wakes it instead of spinning.
  wxIdleEvent waiting;
  wxTheApp->ProcessEvent(waiting);
  EXPECT_FALSE(waiting.MoreRequested());
  EXPECT_NE(app_->splash(), nullptr);
  now_ += 2500;
  wxWakeUpIdle();
  int idles = 0;
  auto count = [&](wxIdleEvent& e) {
    ++idles;
    e.Skip();
  };
  wxTheApp->Bind(wxEVT_IDLE, count);
  WaitFor([&] { return idles > 2; }, "idle time passed");
  EXPECT_NE(app_->splash(), nullptr);
  now_ += 1;
  wxWakeUpIdle();
  WaitFor([&] { return app_->splash() == nullptr; }, "the splash gone");
  wxTheApp->Unbind(wxEVT_IDLE, count);
}

TEST_F(KorvoDeskWindowTest, AfterInstallOpensTheHelpAtItsTopic) {
  const std::pair<std::vector<std::string>, bool> cases[] = {
      {{"/After_Install"}, true}, {{"/after_install"}, false}, {{}, false}};
  for (const auto& [arguments, opens] : cases) {
    SCOPED_TRACE(::testing::PrintToString(arguments));
    Start(arguments);
    wxHtmlHelpWindow* help = app_->help() ? app_->help()->GetHelpWindow() : nullptr;
    if (opens) {
      ASSERT_NE(help, nullptr);
      WaitFor([&] { return help->GetHtmlWindow()->GetOpenedPageTitle() == "After Installation"; },
              "the help at After Installation");
      app_->help()->GetFrame()->Raise();
      Screenshot(app_->help()->GetFrame(), "manager", "help-after-install");
    } else {
      EXPECT_EQ(help, nullptr);
    }
    app_.reset();
    for (wxWindow* window : wxTopLevelWindows) window->Destroy();
    WaitFor([] { return wxTopLevelWindows.empty(); }, "the windows deleted");
  }
}

// The program itself: SIGTERM and SIGHUP (the session ending) close it as
// its user would, so the window state is written, and it ends also when it
// sat idle with nothing else to wake it (the splash gone), twice for each
// signal since an X event that happens to come along would hide the fault.
TEST_F(KorvoDeskWindowTest, TheProgramClosesNormallyAtTheEndOfTheSession) {
  Sandbox::writeFile(sandbox_.path("lsan.supp"), ToolkitLeakSuppressions());
  const char* options = std::getenv("LSAN_OPTIONS");
  sandbox_.setEnv("LSAN_OPTIONS",
                  std::string(options ? options : "") + ":suppressions=" + sandbox_.path("lsan.supp").string());
  StartHub();
  for (int sig : {SIGTERM, SIGHUP, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sig);
    ASSERT_EQ(KvWriteRegUserStr(kWindowStateSection, "Rect", ""), 1);
    std::string program = (BuildDir() / "manager" / "korvodesk").string();
    char* argv[] = {program.data(), nullptr};
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ), 0);
    const bool up = WaitFor([&] { return TopLevelWindowShown("Korvo Manager", pid); }, "the manager's window") &&
                    WaitFor([&] { return TopLevelWindowShown("About Korvo Manager", pid); }, "the splash");
    const bool idle = up && WaitFor([&] { return !TopLevelWindowShown("About Korvo Manager", pid); }, "the splash gone");
    kill(pid, sig);
    int status = 0;
    const bool ended = WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, "the program ended",
                               std::chrono::seconds(30));
    if (!ended) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
    ASSERT_TRUE(idle);
    ASSERT_TRUE(ended);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    char text[64] = {};
    ASSERT_EQ(KvReadRegUserStr(kWindowStateSection, "Rect", text, sizeof text), 1);
    EXPECT_EQ(text, FormatRect(DefaultRect(Screen())));
  }
}

// A right click in the tree opens the popup of the selected node and leaves
// the selection (and the open list) as it was.
TEST_F(KorvoDeskWindowTest, ARightClickInTheTreeKeepsTheSelection) {
  StartHub();
  Start();
  const wxTreeItemId inBox = Node({"Personal Folders", "Input Box"});
  const wxTreeItemId book = Node({"Personal Folders", "Address Book"});
  ASSERT_TRUE(inBox.IsOk() && book.IsOk());
  WaitPlaced();
  ClickNode(inBox);
  bool opened = false;
  frame()->Bind(wxEVT_MENU_OPEN, [&](wxMenuEvent& e) {
    opened = true;
    e.Skip();
    wxTheApp->CallAfter([] { PressKey(WXK_ESCAPE); });
  });
  wxRect r;
  ASSERT_TRUE(tree()->GetBoundingRect(book, r, true));
  wxUIActionSimulator sim;
  sim.MouseMove(tree()->ClientToScreen(r.GetPosition() + wxPoint(r.width / 2, r.height / 2)));
  sim.MouseClick(wxMOUSE_BTN_RIGHT);
  ASSERT_TRUE(WaitFor([&] { return opened && !tree()->popupOpen(); }, "the popup opened and closed"));
  EXPECT_EQ(tree()->GetSelection(), inBox);
}

// The program itself under the window manager: it opens where "Rect" says,
// an eighth in without one, and a damaged one pulled onto the screen (never
// saved back); the splash shows above the main window for its time.
TEST_F(KorvoDeskWindowTest, TheProgramOpensWhereItWasLeftWithTheSplashAbove) {
  ASSERT_TRUE(WindowManagerRunning());
  Sandbox::writeFile(sandbox_.path("lsan.supp"), ToolkitLeakSuppressions());
  const char* options = std::getenv("LSAN_OPTIONS");
  sandbox_.setEnv("LSAN_OPTIONS",
                  std::string(options ? options : "") + ":suppressions=" + sandbox_.path("lsan.supp").string());
  struct Case {
    const char* rect;
    Rect placed;
  };
  const Case cases[] = {
      {"", DefaultRect(Screen())},
      {"0100 0080 0900 0600", {100, 80, 900, 600}},
      {"9999 -500 99999 99999", {0, 0, Screen().width, Screen().height}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rect);
    ASSERT_EQ(KvWriteRegUserStr(kWindowStateSection, "Rect", c.rect), 1);
    std::string program = (BuildDir() / "manager" / "korvodesk").string();
    char* argv[] = {program.data(), nullptr};
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ), 0);
    const ScreenBox expected{c.placed.left, c.placed.top, c.placed.width(), c.placed.height()};
    std::optional<ScreenBox> box;
    WaitFor([&] { return (box = ShownWindowBox("Korvo Manager", pid)) == expected; }, "the window where it was left");
    EXPECT_EQ(box.value_or(ScreenBox{}), expected);
    WaitFor([&] { return TopLevelWindowShown("About Korvo Manager", pid); }, "the splash");
    const auto stacked = ManagedWindowsBottomToTop();
    EXPECT_EQ(stacked, (std::vector<std::string>{"Korvo Manager", "About Korvo Manager"}));
    WaitFor([&] { return !TopLevelWindowShown("About Korvo Manager", pid); }, "the splash gone");
    kill(pid, SIGTERM);
    int status = 0;
    if (!WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, "the program ended", std::chrono::seconds(30))) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
    char text[64] = {};
    ASSERT_EQ(KvReadRegUserStr(kWindowStateSection, "Rect", text, sizeof text), 1);
    EXPECT_EQ(text, FormatRect(c.placed));
  }
}

}  // namespace
}  // namespace korvo::test
