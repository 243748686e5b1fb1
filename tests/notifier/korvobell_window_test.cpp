// KorvoBell on a real display: docked in trayer's panel, its menu opened by a
// real click on the icon, the message window, Configure and About, the icon
// flashing while faxes wait, Exit with the message window open, the
// minimised frame where no tray host runs, and a second start.
#include <spawn.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include <wx/app.h>
#include <wx/checkbox.h>
#include <wx/combobox.h>
#include <wx/image.h>
#include <wx/imagpng.h>
#include <wx/stattext.h>
#include <wx/uiaction.h>

#include "common/settings.h"
#include "desktop/title_width.h"
#include "notifier/app/notifier_frame.h"
#include "tests/server/hub_fixture.h"
#include "tests/server/queue_fixture.h"
#include "tests/support/gui/window_test.h"

// Last: Xlib's macros clash with names above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#undef Bool
#undef Status
constexpr Window kNoWindow = 0;
#undef None

extern char** environ;

namespace korvo::test {
namespace {

using notifier::NotifierFrame;

// A child process, killed and reaped with the object.
class Child {
 public:
  explicit Child(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawnp(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
  }
  ~Child() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      Wait();
    }
  }
  int Wait() {
    int status = 0;
    while (pid_ > 0 && waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  bool Exited() {
    int status = 0;
    if (pid_ > 0 && waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return pid_ < 0;
  }
  int code() const { return code_; }

 private:
  pid_t pid_ = -1;
  int code_ = -1;
};

// The X side of the tray: the host's selection, trayer's panel and the icons
// docked in it.
class X {
 public:
  X() : display_(XOpenDisplay(nullptr)) {}
  ~X() {
    if (display_) XCloseDisplay(display_);
  }
  bool TrayOwned() {
    return XGetSelectionOwner(display_, XInternAtom(display_, "_NET_SYSTEM_TRAY_S0", False)) != kNoWindow;
  }
  std::string Class(Window w) { return Hint(w).second; }
  // res_name and res_class.
  std::pair<std::string, std::string> Hint(Window w) {
    XClassHint hint{};
    std::pair<std::string, std::string> out;
    if (XGetClassHint(display_, w, &hint)) {
      out = {hint.res_name ? hint.res_name : "", hint.res_class ? hint.res_class : ""};
      if (hint.res_name) XFree(hint.res_name);
      if (hint.res_class) XFree(hint.res_class);
    }
    return out;
  }
  void Walk(Window w, const std::function<void(Window, Window)>& visit, Window top = kNoWindow) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(display_, w, &root, &parent, &children, &n)) return;
    for (unsigned i = 0; i < n; ++i) {
      Window t = top == kNoWindow ? children[i] : top;
      visit(children[i], t);
      Walk(children[i], visit, t);
    }
    if (children) XFree(children);
  }
  // The mapped windows inside trayer's panel whose class is the given one.
  std::vector<Window> Docked(const std::string& cls) {
    std::vector<Window> panels, out;
    Walk(DefaultRootWindow(display_), [&](Window w, Window) {
      if (Hint(w) == std::pair<std::string, std::string>("panel", "trayer")) panels.push_back(w);
    });
    for (Window panel : panels)
      Walk(panel, [&](Window w, Window) {
        XWindowAttributes a{};
        if (Class(w) == cls && XGetWindowAttributes(display_, w, &a) && a.map_state == IsViewable && a.width > 1)
          out.push_back(w);
      });
    return out;
  }
  // The window's middle on the screen.
  wxPoint Middle(Window w) {
    XWindowAttributes a{};
    XGetWindowAttributes(display_, w, &a);
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(display_, w, DefaultRootWindow(display_), a.width / 2, a.height / 2, &x, &y, &child);
    return {x, y};
  }
  Window Panel() {
    Window panel = kNoWindow;
    Walk(DefaultRootWindow(display_), [&](Window w, Window) {
      if (Hint(w) == std::pair<std::string, std::string>("panel", "trayer")) panel = w;
    });
    return panel;
  }
  // The window's pixels as the screen shows them (an embedded icon may have
  // a depth of its own, so they are read from the root window).
  std::vector<unsigned long> Pixels(Window w) {
    XWindowAttributes a{};
    std::vector<unsigned long> out;
    if (!XGetWindowAttributes(display_, w, &a)) return out;
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(display_, w, DefaultRootWindow(display_), 0, 0, &x, &y, &child);
    XImage* image = XGetImage(display_, DefaultRootWindow(display_), x, y, a.width, a.height, AllPlanes, ZPixmap);
    if (!image) return out;
    for (int row = 0; row < a.height; ++row)
      for (int col = 0; col < a.width; ++col) out.push_back(XGetPixel(image, col, row));
    XDestroyImage(image);
    return out;
  }
  // The window as build/artifacts/notifier/<name>.png (a 24-bit screen).
  void Save(Window w, const std::string& name) {
    XWindowAttributes a{};
    XGetWindowAttributes(display_, w, &a);
    const std::vector<unsigned long> pixels = Pixels(w);
    ASSERT_EQ(pixels.size(), static_cast<size_t>(a.width) * a.height);
    wxImage image(a.width, a.height);
    for (int y = 0; y < a.height; ++y)
      for (int x = 0; x < a.width; ++x) {
        const unsigned long p = pixels[static_cast<size_t>(y) * a.width + x];
        image.SetRGB(x, y, (p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
      }
    const auto dir = BuildDir() / "artifacts" / "notifier";
    std::filesystem::create_directories(dir);
    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
    EXPECT_TRUE(image.SaveFile(wxString((dir / (name + ".png")).string()), wxBITMAP_TYPE_PNG));
  }

 private:
  Display* display_;
};

// This program's window class, as GTK gives it to the icon's window.
std::string OwnClass() {
  std::string name = wxTheApp->GetAppName().utf8_string();
  if (!name.empty()) name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
  return name;
}

class KorvoBellWindowTest : public HubFixture {
 protected:
  void SetUp() override {
    HubFixture::SetUp();
    ASSERT_EQ(KvSetDefaultServer("."), 1);
    // Tones go to a file, never to a real device.
    const std::string conf = sandbox_.path("asound.conf").string();
    Sandbox::writeFile(conf, "pcm.!default { type file slave.pcm { type null } file \"" +
                                 sandbox_.path("tones.raw").string() + "\" format \"raw\" }\n");
    sandbox_.setEnv("ALSA_CONFIG_PATH", conf);
    dataPath_ = sandbox_.path("client").string() + "/";
    std::filesystem::create_directories(dataPath_);
  }
  void TearDown() override {
    if (frame_) frame_->Destroy();
    WaitFor([] { return wxTopLevelWindows.IsEmpty(); }, "every window gone");
    trayer_.reset();
    HubFixture::TearDown();
  }
  void StartTrayer() {
    trayer_ = std::make_unique<Child>(std::vector<std::string>{"trayer", "--edge", "bottom", "--align", "left",
                                                              "--widthtype", "pixel", "--width", "120",
                                                              "--height", "32", "--SetDockType", "false"});
    WaitFor([&] { return x_.TrayOwned(); }, "trayer owning the tray");
  }
  void Make() {
    notifier::NotifyOptions options;
    options.Load();
    frame_ = new NotifierFrame(options, dataPath_);
  }
  // A LAN fax to the test's own login, waiting in its inbox.
  void SendToSelf() {
    const std::string image = TempPath("image.tif");
    WriteFaxFile(image, 1);
    FaxHeader header;
    header.sender = Lan(OwnLogin());
    header.recipients.AddTail(Lan(OwnLogin()));
    header.sendTime = ScheduleTimeInfo(ScheduleTimeInfo::kAtChosenTime, static_cast<int32_t>(std::time(nullptr)));
    ASSERT_EQ(client_.SendFax(".", header, image).status, 0u);
    auto listed = [&] {
      const std::string path = TempPath("list.txt");
      client_.DownloadList(".", 5026, nullptr, path);
      const bool one = ListLines(Sandbox::readFile(path)).size() == 1;
      std::filesystem::remove(path);
      return one;
    };
    ASSERT_TRUE(WaitFor(listed, "the fax in the inbox"));
  }

  // Not one plain colour: the icon is on the screen.
  bool Drawn(Window icon) {
    auto p = x_.Pixels(icon);
    return !p.empty() && std::count(p.begin(), p.end(), p[0]) != static_cast<long>(p.size());
  }

  X x_;
  std::unique_ptr<Child> trayer_;
  std::string dataPath_;
  NotifierFrame* frame_ = nullptr;
};

TEST_F(KorvoBellWindowTest, WithoutATrayHostTheFrameIsMinimised) {
  Make();
  EXPECT_FALSE(wxTaskBarIcon::IsAvailable());
  EXPECT_EQ(frame_->tray(), nullptr);
  // Shown, asking to be minimised (which takes a window manager, none runs here).
  EXPECT_TRUE(frame_->IsShown());
  EXPECT_EQ(frame_->GetTitle(), "Korvo Notify");
}

TEST_F(KorvoBellWindowTest, DocksAndAClickOpensTheMenuWhoseCheckNowShowsTheMessage) {
  StartTrayer();
  Make();
  ASSERT_TRUE(wxTaskBarIcon::IsAvailable());
  ASSERT_NE(frame_->tray(), nullptr);
  EXPECT_TRUE(frame_->tray()->IsIconInstalled());
  EXPECT_FALSE(frame_->IsShown());
  ASSERT_TRUE(WaitFor([&] { return x_.Docked(OwnClass()).size() == 1; }, "one icon docked in trayer"));
  const Window icon = x_.Docked(OwnClass())[0];
  ASSERT_TRUE(WaitFor([&] { return Drawn(icon); }, "the icon drawn"));
  x_.Save(x_.Panel(), "tray");

  // A real left click on the icon; Check Now is the menu's first item. The
  // menu runs its own loop until it closes, so the keys are sent from a timer
  // that fires inside it.
  wxUIActionSimulator sim;
  const wxPoint at = x_.Middle(icon);
  sim.MouseMove(at);
  WaitFor([&] { return wxGetMousePosition() == at; }, "the pointer over the icon");
  bool keysSent = false;
  wxTimer keys;
  keys.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    if (keysSent || frame_->tray()->menusOpened() == 0) return;
    keysSent = true;
    sim.Char(WXK_DOWN);
    sim.Char(WXK_RETURN);
  });
  keys.Start(50);
  sim.MouseClick();
  ASSERT_TRUE(WaitFor([&] { return frame_->message() != nullptr; }, "the message window"));
  ShowAndWait(frame_->message());
  auto* line1 = dynamic_cast<wxStaticText*>(frame_->message()->FindWindow(notifier::kIdLine1));
  auto* line2 = dynamic_cast<wxStaticText*>(frame_->message()->FindWindow(notifier::kIdLine2));
  ASSERT_TRUE(line1 && line2);
  EXPECT_EQ(line1->GetLabel(), "Server .:");
  EXPECT_EQ(line2->GetLabel(), "No messages.");
  EXPECT_EQ(frame_->message()->GetTitle(), "Korvo Notifier Message (Server=.)");
  Screenshot(frame_->message(), "notifier", "message");
}

// A real double click on the icon runs Check Now, the menu's first item,
// without opening the menu.
TEST_F(KorvoBellWindowTest, ADoubleClickOnTheIconRunsCheckNow) {
  StartTrayer();
  Make();
  ASSERT_NE(frame_->tray(), nullptr);
  ASSERT_TRUE(WaitFor([&] { return x_.Docked(OwnClass()).size() == 1; }, "one icon docked in trayer"));
  const Window icon = x_.Docked(OwnClass())[0];
  ASSERT_TRUE(WaitFor([&] { return Drawn(icon); }, "the icon drawn"));
  wxUIActionSimulator sim;
  const wxPoint at = x_.Middle(icon);
  sim.MouseMove(at);
  WaitFor([&] { return wxGetMousePosition() == at; }, "the pointer over the icon");
  sim.MouseDblClick();
  ASSERT_TRUE(WaitFor([&] { return frame_->message() != nullptr; }, "the message window"));
  auto* line2 = dynamic_cast<wxStaticText*>(frame_->message()->FindWindow(notifier::kIdLine2));
  ASSERT_NE(line2, nullptr);
  EXPECT_EQ(line2->GetLabel(), "No messages.");
  EXPECT_EQ(frame_->tray()->menusOpened(), 0);
}

TEST_F(KorvoBellWindowTest, WaitingFaxFlashesTheIconAndExitWithTheMessageOpenEndsCleanly) {
  StartHub();
  SendToSelf();
  StartTrayer();
  Make();
  ASSERT_TRUE(WaitFor([&] { return x_.Docked(OwnClass()).size() == 1; }, "the icon docked"));
  const Window icon = x_.Docked(OwnClass())[0];
  ASSERT_TRUE(WaitFor([&] { return Drawn(icon); }, "the icon drawn"));
  const std::vector<unsigned long> blank = x_.Pixels(icon);
  frame_->Tick();  // the first tick polls
  ASSERT_TRUE(frame_->model().newMessage());
  ASSERT_NE(frame_->message(), nullptr);
  EXPECT_EQ(frame_->trayIconShown(), notifier::kIconAlert);
  EXPECT_EQ(frame_->GetTitle(), "You have received 1 new fax.");
  WaitFor([&] { return x_.Docked(OwnClass()).size() == 1 && x_.Pixels(x_.Docked(OwnClass())[0]) != blank; },
          "the alert icon drawn");
  EXPECT_FALSE(Sandbox::readFile(sandbox_.path("tones.raw")).empty()) << "the alert tones";
  x_.Save(x_.Panel(), "tray-alert");
  ShowAndWait(frame_->message());
  Screenshot(frame_->message(), "notifier", "message-new-fax");
  std::vector<std::vector<unsigned long>> shots;
  for (int tick = 0; tick < 3; ++tick) {
    const int shown = frame_->trayIconShown();
    auto pixels = [&] {
      auto docked = x_.Docked(OwnClass());
      return docked.empty() ? std::vector<unsigned long>{} : x_.Pixels(docked[0]);
    };
    WaitFor([&] { return !pixels().empty() && (shots.empty() || pixels() != shots.back()); }, "the icon drawn anew");
    shots.push_back(pixels());
    frame_->Tick();
    EXPECT_NE(frame_->trayIconShown(), shown);
  }
  EXPECT_NE(shots[0], shots[1]);
  EXPECT_EQ(shots[0], shots[2]);

  // Exit: the open message window ends first, then the program.
  NotifierFrame* frame = frame_;
  frame_ = nullptr;
  wxCommandEvent exit(wxEVT_MENU, notifier::MenuId(notifier::kCmdExit));
  frame->GetEventHandler()->ProcessEvent(exit);
  ASSERT_TRUE(WaitFor([] { return wxTopLevelWindows.IsEmpty(); }, "the program's windows gone"));
}

TEST_F(KorvoBellWindowTest, ConfigureAndAbout) {
  ASSERT_EQ(KvWriteRegUserStr(nullptr, "NotifyOptions", "1\x1B" "7\x1B" "1\x1B"), 1);
  StartTrayer();
  Make();
  frame_->CallAfter([this] {
    wxDialog* dialog = frame_->configure();
    ASSERT_NE(dialog, nullptr);
    ShowAndWait(dialog);
    EXPECT_EQ(dialog->GetTitle(), "Korvo Notifier Configure (Server=.)");
    auto* interval = dynamic_cast<wxComboBox*>(dialog->FindWindow(notifier::kIdInterval));
    auto* sound = dynamic_cast<wxCheckBox*>(dialog->FindWindow(notifier::kIdSound));
    ASSERT_TRUE(interval && sound);
    EXPECT_EQ(interval->GetSelection(), wxNOT_FOUND);  // 7 is no entry
    EXPECT_TRUE(sound->GetValue());
    EXPECT_GE(dialog->GetSize().x, desktop::TitleBarWidth(*dialog, dialog->GetTitle()));
    Screenshot(dialog, "notifier", "configure");
    sound->SetValue(false);
    dialog->EndModal(wxID_OK);
  });
  frame_->Configure();
  char value[256] = {};
  ASSERT_EQ(KvReadRegUserStr(nullptr, "NotifyOptions", value, sizeof value), 1);
  EXPECT_STREQ(value, "0\x1B" "7\x1B" "1\x1B");  // no selection: the interval kept

  frame_->CallAfter([this] {
    wxDialog* dialog = frame_->about();
    ASSERT_NE(dialog, nullptr);
    ShowAndWait(dialog);
    EXPECT_EQ(dialog->GetTitle(), "About Korvo Notifier");
    EXPECT_GE(dialog->GetSize().x, desktop::TitleBarWidth(*dialog, dialog->GetTitle()));
    Screenshot(dialog, "notifier", "about");
    dialog->EndModal(wxID_OK);
  });
  frame_->About();
}

// A second korvobell of the same user ends at once, with status 0, and only
// the first icon docks.
TEST_F(KorvoBellWindowTest, ASecondStartExitsAtOnce) {
  StartTrayer();
  const std::string program = (BuildDir() / "notifier" / "korvobell").string();
  Child first({program});
  WaitFor([&] { return !x_.Docked("Korvobell").empty() || first.Exited(); }, "the first icon docked");
  ASSERT_FALSE(first.Exited());
  Child second({program});
  ASSERT_TRUE(WaitFor([&] { return second.Exited(); }, "the second start ended"));
  EXPECT_EQ(second.code(), 0);
  EXPECT_EQ(x_.Docked("Korvobell").size(), 1u);
  EXPECT_FALSE(first.Exited());
}

}  // namespace
}  // namespace korvo::test
