// KorvoPrep on a real display: the full-screen title window as it is
// painted, and its start-up in this process on compressed media made from the
// built programs: the setup wizard of the media's libkorvocore.so driven by
// real clicks and keys installs both parts into a sandbox (with a private
// cupsd), and the manager and the notifier are started afterwards; the
// server answers from its installed unit, the printer and the menu entries
// are there; the menu's
// "Remove Korvo" then removes it from a copy of the launcher in a private
// folder, a process of its own whose windows get real keys.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <optional>
#include <string>
#include <vector>

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/display.h>
#include <wx/image.h>
#include <wx/radiobut.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include "common/faxclient.h"
#include "common/settings.h"
#include "desktop/prompt.h"
#include "desktop/screenshot.h"
#include "launcher/app/title_window.h"
#include "platform/process.h"
#include "tests/capture/cups_server.h"
#include "tests/core/install_files.h"
#include "tests/support/gui/window_test.h"
#include "tests/support/sandbox.h"

// Last: Xlib's macros clash with names above.
#include <X11/Xlib.h>
#undef Bool
#undef Status
#undef None

namespace korvo::test {
namespace {

using launcher::TitleWindow;

class KorvoPrepWindow : public WindowTest {
 protected:
  void SetUp() override { g_object_set(gtk_settings_get_default(), "gtk-enable-animations", FALSE, nullptr); }
};

TEST_F(KorvoPrepWindow, TitleWindowFillsTheScreenWithTheProductName) {
  auto* title = new TitleWindow;
  EXPECT_FALSE(title->IsShown());
  title->ShowMaximized();
  const wxRect screen = wxDisplay(0u).GetClientArea();
  ASSERT_TRUE(WaitFor([&] { return title->IsShown() && title->GetSize().x >= screen.width * 9 / 10; },
                      "the title window over the screen"));
  EXPECT_EQ(title->GetTitle(), "Velmora Korvo Setup");
  EXPECT_TRUE(title->GetIcon().IsOk());
  const wxImage shot(Screenshot(title, "setup", "title").string(), wxBITMAP_TYPE_PNG);
  ASSERT_TRUE(shot.IsOk());
  EXPECT_GE(shot.GetWidth(), screen.width * 9 / 10);
  // The background, and white text in the upper left, starting 1/32 in.
  const wxSize client = title->GetClientSize();
  int white = 0, other = 0;
  const int top = shot.GetHeight() - client.y;  // the client area is the bottom of the shot
  for (int y = top; y < top + client.y / 32 + 40 && y < shot.GetHeight(); ++y)
    for (int x = 0; x < client.x / 2 && x < shot.GetWidth(); ++x) {
      const bool isWhite = shot.GetRed(x, y) > 200 && shot.GetGreen(x, y) > 200 && shot.GetBlue(x, y) > 200;
      const bool isBackground = shot.GetRed(x, y) == 0x80 && shot.GetGreen(x, y) == 0 && shot.GetBlue(x, y) == 0x40;
      if (isWhite) {
        ++white;
        EXPECT_GE(x, client.x / 32 - 1);
        EXPECT_GE(y - top, client.y / 32 - 1);
      } else if (!isBackground) {
        ++other;
      }
    }
  EXPECT_GT(white, 50);
  EXPECT_EQ(shot.GetRed(shot.GetWidth() - 5, shot.GetHeight() - 5), 0x80);
  EXPECT_EQ(shot.GetBlue(shot.GetWidth() - 5, shot.GetHeight() - 5), 0x40);
  title->Destroy();
}

namespace fs = std::filesystem;

// The wizard's sheet (its window id) and the controls it keeps.
constexpr int kSheet = 113;
constexpr int kServerOption = 509;
constexpr int kRootDirectory = 511;
constexpr int kDefaultServer = 515;

// The boxes of the media's library (its own copy of desktop::Prompts(),
// installed into it by name), recorded and answered so that setup goes on or
// ends: Retry and OK/Cancel boxes are cancelled, Yes/No answered Yes (the
// cancel question then ends the sheet), an OK box acknowledged.
class RecordingPrompter final : public desktop::Prompter {
 public:
  desktop::Answer Message(wxWindow*, const std::string& text, const std::string& caption, desktop::Buttons buttons,
                          desktop::Icon) override {
    boxes.push_back(caption + ": " + text);
    switch (buttons) {
      case desktop::Buttons::Ok: return desktop::Answer::Ok;
      case desktop::Buttons::YesNo:
      case desktop::Buttons::YesNoDefaultNo: return desktop::Answer::Yes;
      default: return desktop::Answer::Cancel;
    }
  }
  std::optional<std::string> ChooseFile(wxWindow*, const desktop::FileRequest&) override { return std::nullopt; }
  std::vector<std::string> boxes;
};

// Installs the prompter into the loaded library; null gives back its own.
void InstallPrompter(const fs::path& library, desktop::Prompter* prompter) {
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(handle, nullptr) << library;
  using Set = desktop::Prompter* (*)(desktop::Prompter*);
  auto set = reinterpret_cast<Set>(dlsym(handle, "_ZN5korvo7desktop10SetPromptsEPNS0_8PrompterE"));
  ASSERT_NE(set, nullptr);
  set(prompter);
  dlclose(handle);
}

wxWindow* SheetWindow() {
  for (wxWindow* w : wxTopLevelWindows)
    if (w->GetId() == kSheet && w->IsShown()) return w;
  return nullptr;
}

// The sheet's title is the caption of its page.
bool OnPage(const char* caption) {
  return WaitFor([&] { return SheetWindow() && SheetWindow()->GetLabel() == caption; }, caption,
                 std::chrono::seconds(120));
}

// The drawn page, once it holds still.
void PageShot(wxWindow* sheet, const std::string& name) {
  wxImage last;
  int alike = 0;
  WaitFor([&] {
    wxImage now = desktop::CaptureWindow(sheet);
    const bool same = last.IsOk() && now.IsOk() && now.GetSize() == last.GetSize() &&
                      std::equal(now.GetData(), now.GetData() + now.GetWidth() * now.GetHeight() * 3, last.GetData());
    alike = same ? alike + 1 : 0;
    last = now;
    return alike >= 3;
  }, "the page drawn");
  Screenshot(sheet, "setup", name);
}

// Another process's window may go between the listing and the look at it:
// its BadWindow is dropped here instead of reaching GDK's handler, which ends
// the test program.
class IgnoreXErrors {
 public:
  explicit IgnoreXErrors(Display* dpy) : dpy_(dpy) {
    XSync(dpy_, False);
    old_ = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  }
  ~IgnoreXErrors() {
    XSync(dpy_, False);
    XSetErrorHandler(old_);
  }
  IgnoreXErrors(const IgnoreXErrors&) = delete;
  IgnoreXErrors& operator=(const IgnoreXErrors&) = delete;

 private:
  Display* dpy_;
  XErrorHandler old_;
};

// The top-level X window of another process with this title, or 0.
unsigned long FindXWindow(const std::string& title) {
  auto* dpy = static_cast<Display*>(wxGetDisplayInfo().dpy);
  IgnoreXErrors ignore(dpy);
  Window root = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  unsigned long found = 0;
  if (!XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &count)) return 0;
  for (unsigned i = 0; i < count && !found; ++i) {
    char* name = nullptr;
    XWindowAttributes attributes;
    if (XFetchName(dpy, children[i], &name) && name) {
      if (title == name && XGetWindowAttributes(dpy, children[i], &attributes) && attributes.map_state == IsViewable)
        found = children[i];
      XFree(name);
    }
  }
  if (children) XFree(children);
  return found;
}

// The titles of the shown top-level windows, for a failure's message.
std::string ShownTitles() {
  auto* dpy = static_cast<Display*>(wxGetDisplayInfo().dpy);
  IgnoreXErrors ignore(dpy);
  Window root = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  std::string titles;
  if (!XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &count)) return titles;
  for (unsigned i = 0; i < count; ++i) {
    char* name = nullptr;
    XWindowAttributes attributes;
    if (XFetchName(dpy, children[i], &name) && name) {
      if (XGetWindowAttributes(dpy, children[i], &attributes) && attributes.map_state == IsViewable)
        titles += std::string("\"") + name + "\" ";
      XFree(name);
    }
  }
  if (children) XFree(children);
  return titles;
}

// Enter into the other process's window of this title, once it shows.
bool PressEnterIn(const std::string& title) {
  unsigned long window = 0;
  if (!WaitFor([&] { return (window = FindXWindow(title)) != 0; }, title, std::chrono::seconds(120))) {
    ADD_FAILURE() << "windows shown: " << ShownTitles();
    return false;
  }
  auto* dpy = static_cast<Display*>(wxGetDisplayInfo().dpy);
  {
    IgnoreXErrors ignore(dpy);
    XSetInputFocus(dpy, window, RevertToParent, CurrentTime);
  }
  PressKey(WXK_RETURN);
  return true;
}

// Our child (after the subreaper took it) whose command line has the text.
pid_t ChildWith(const std::string& text) {
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string stat = Sandbox::readFile(entry.path() / "stat");
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    int ppid = 0;
    if (std::sscanf(stat.c_str() + close + 2, "%*c %d", &ppid) != 1 || ppid != getpid()) continue;
    if (Sandbox::readFile(entry.path() / "cmdline").find(text) != std::string::npos) return std::stoi(name);
  }
  return -1;
}

TEST_F(KorvoPrepWindow, StartUpOnTheMediaInstallsByKeysAndClicksThenTheMenusRemoveKorvoTakesItAway) {
  if (geteuid() != 0) GTEST_SKIP() << "a private cupsd needs root";
  Sandbox box;
  const fs::path media = box.path("media");
  ASSERT_TRUE(platform::RunProcess({(SourceDir() / "scripts/media.sh").string(), media.string(), "--compress"}));
  ASSERT_TRUE(fs::exists(media / "libkorvocore.so"));
  CupsServer cups(box, box.path("runtime"), box.systemRoot() / "usr/lib/cups");
  const std::string root = box.path("opt/korvo").string();
  const fs::path saved = fs::current_path();
  fs::create_directories(box.path("tmp"));
  // As on a real system: the relay's link goes there.
  fs::create_directories(box.systemRoot() / "usr/local/bin");
  // cupsd's own folder, its clients' answers and the trace are the test's.
  const std::vector<std::string> before = Tree(box.root(), {"cups", "client.", "trace.log"});

  RecordingPrompter boxes;
  WhenModal(kSheet, [&](wxDialog& sheet) {
    InstallPrompter(media / "libkorvocore.so", &boxes);
    ASSERT_TRUE(OnPage("Korvo Setup"));
    wxWindow* next = sheet.FindWindow(wxID_FORWARD);
    ASSERT_NE(next, nullptr);
    // Enter presses the default button, Next.
    PressKey(WXK_RETURN);
    ASSERT_TRUE(OnPage("Korvo Readme"));
    PageShot(&sheet, "media-readme");
    Click(next);
    ASSERT_TRUE(OnPage("Korvo Setup Options"));
    Click(sheet.FindWindow(kServerOption));
    auto* edit = dynamic_cast<wxTextCtrl*>(sheet.FindWindow(kRootDirectory));
    ASSERT_NE(edit, nullptr);
    Type(edit, "");
    PressKey('A', wxMOD_CONTROL);
    wxUIActionSimulator().Text(root.c_str());
    ASSERT_TRUE(WaitFor([&] { return edit->GetValue().utf8_string() == root; }, "the root typed"));
    Click(next);
    ASSERT_TRUE(OnPage("Korvo Setup Fax Service Information"));
    Click(next);
    ASSERT_TRUE(OnPage("Korvo Setup Workstation"));
    EXPECT_NE(dynamic_cast<wxTextCtrl*>(sheet.FindWindow(kDefaultServer))->GetValue(), "");
    Click(next);
    ASSERT_TRUE(OnPage("Korvo Setup Desktop Options"));
    Click(next);
    ASSERT_TRUE(OnPage("Korvo Setup Final"));
    Click(next);
    // The worker runs; the progress page gives way to the last one.
    ASSERT_TRUE(WaitFor([&] { return (next->GetLabel() == "Ok" && next->IsEnabled()) || !sheet.IsModal(); },
                        "the last page", std::chrono::seconds(120)));
    ASSERT_TRUE(sheet.IsModal()) << "setup ended before its last page";
    PageShot(&sheet, "media-done");
    InstallPrompter(media / "libkorvocore.so", nullptr);
    Click(next);
  });
  const launcher::LaunchResult result = launcher::RunKorvoPrep({}, media.string());
  fs::current_path(saved);
  EXPECT_EQ(result.setupResult, 0u) << Sandbox::readFile(box.traceFile());
  for (const std::string& text : boxes.boxes) ADD_FAILURE() << "box " << text;
  EXPECT_EQ(result.exitCode, 0);

  // Installed from the packed media, expanded.
  for (const char* file : {"korvodesk", "korvobell", "korvolens", "korvoprep", "libkorvocore.so", "korvohub"})
    EXPECT_TRUE(fs::exists(fs::path(root) / file)) << file;
  EXPECT_EQ(Sandbox::readFile(fs::path(root) / "korvohub"), Sandbox::readFile(BuildDir() / "server/korvohub"));
  EXPECT_EQ(cups.Run({"lpstat", "-v"}), 0);
  EXPECT_EQ(cups.Output(), "device for Korvo_Printer: kvf:/\n");

  // The manager ("/After_Install"), the notifier and the capture agent were
  // started.
  ASSERT_EQ(result.started.size(), 3u);
  for (pid_t pid : result.started) {
    const std::string cmdline = Sandbox::readFile("/proc/" + std::to_string(pid) + "/cmdline");
    EXPECT_TRUE(cmdline == root + "/korvodesk" + std::string(1, '\0') + "/After_Install" + std::string(1, '\0') ||
                cmdline == root + "/korvobell" + std::string(1, '\0') ||
                cmdline == root + "/korvocapture" + std::string(1, '\0'))
        << cmdline;
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
  }

  // The server, started from its installed unit as systemd would, answers
  // with this release's version; SIGTERM stops it.
  const std::string unit = Sandbox::readFile(box.systemdDir() / "korvo.service");
  const size_t start = unit.find("ExecStart=\"");
  ASSERT_NE(start, std::string::npos) << unit;
  const std::string program = unit.substr(start + 11, unit.find('"', start + 11) - start - 11);
  EXPECT_EQ(program, root + "/korvohub");
  EXPECT_EQ(fs::read_symlink(box.systemRoot() / "usr/local/bin/korvo-relay"), fs::path(root + "/korvo-relay"));
  box.setEnv("INVOCATION_ID", "0123456789abcdef0123456789abcdef");  // what systemd gives its services
  const pid_t hub = platform::StartProcess({program});
  ASSERT_GT(hub, 0);
  uint32_t version = 0;
  EXPECT_TRUE(WaitFor([&] { return FaxClient().GetServerVersion(".", version).status == 0; }, "the server's answer"));
  EXPECT_EQ(version, 0x011Eu);
  kill(hub, SIGTERM);
  int hubCode = -1;
  ASSERT_TRUE(platform::WaitProcess(hub, hubCode));
  EXPECT_EQ(hubCode, 0);
  // The menu group and the Startup entries.
  for (const char* entry : {"usr/local/share/applications/korvo-velmora-korvo-korvo-manager.desktop",
                            "usr/local/share/applications/korvo-velmora-korvo-korvo-notifier.desktop",
                            "etc/xdg/autostart/korvo-korvo-notifier.desktop"})
    EXPECT_TRUE(fs::exists(box.systemRoot() / entry)) << entry;

  // The menu's "Remove Korvo": the launcher copies itself into a private
  // folder and that copy, a process of its own, removes the installation;
  // its windows are found by their titles and answered with real keys.
  const std::string entry =
      Sandbox::readFile(box.systemRoot() / "usr/local/share/applications/korvo-velmora-korvo-remove-korvo.desktop");
  const size_t exec = entry.find("\nExec=");
  ASSERT_NE(exec, std::string::npos) << entry;
  std::vector<std::string> command;
  std::istringstream words(entry.substr(exec + 6, entry.find('\n', exec + 1) - exec - 6));
  for (std::string word; words >> word;) command.push_back(word);
  ASSERT_EQ(command, (std::vector<std::string>{root + "/korvoprep", "/uninstall"}));
  fs::create_directories(box.path("tmp"));
  box.setEnv("TMPDIR", box.path("tmp").string());
  // The toolkit's caches are no leak of the launcher's either.
  Sandbox::writeFile(box.path("lsan.supp"), ToolkitLeakSuppressions());
  const char* lsan = std::getenv("LSAN_OPTIONS");
  box.setEnv("LSAN_OPTIONS", std::string(lsan ? lsan : "") + ":suppressions=" + box.path("lsan.supp").string());
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  int code = -1;
  const pid_t first = platform::StartProcess(command);
  ASSERT_GT(first, 0);
  ASSERT_TRUE(platform::WaitProcess(first, code));
  EXPECT_EQ(code, 0);
  pid_t copy = -1;
  ASSERT_TRUE(WaitFor([&] { return (copy = ChildWith("/uninstall_cont")) > 0; }, "the copy"));
  EXPECT_TRUE(PressEnterIn("Korvo Uninstall"));
  // The printer is there: removal asks for it to be deleted, then deletes it.
  EXPECT_TRUE(PressEnterIn("Korvo Setup Remove \"Korvo Printer\" Instructions"));
  EXPECT_TRUE(PressEnterIn("Korvo Uninstall Done"));
  ASSERT_TRUE(platform::WaitProcess(copy, code));
  prctl(PR_SET_CHILD_SUBREAPER, 0);
  EXPECT_EQ(code, 0);

  for (const char* file : {"korvodesk", "korvobell", "korvolens", "korvoprep", "libkorvocore.so", "korvohub"})
    EXPECT_FALSE(fs::exists(fs::path(root) / file)) << file;
  EXPECT_TRUE(fs::exists(fs::path(root) / "Server"));
  EXPECT_NE(cups.Run({"lpstat", "-v"}), 0);
  EXPECT_FALSE(fs::exists(box.systemRoot() / "usr/local/share/applications/korvo-velmora-korvo-remove-korvo.desktop"));
  // The copy stays in its private folder, without the library.
  std::vector<std::string> left;
  for (const auto& e : fs::recursive_directory_iterator(box.path("tmp"))) left.push_back(fs::relative(e.path(), box.path("tmp")).string());
  // Against the listing before: only the server's data and the users'
  // folders, the hives, the event log and the launcher's copy stay (and the
  // started notifier's lock in the user's runtime folder).
  const std::vector<std::string> after = Tree(box.root(), {"cups", "client.", "trace.log", "lsan.supp"});
  for (const std::string& name : before)
    EXPECT_TRUE(std::find(after.begin(), after.end(), name) != after.end()) << "gone: " << name;
  const std::vector<std::string> staying = {"opt",        "opt/korvo", "opt/korvo/Server", "opt/korvo/Users",
                                            "machine.reg", "user.reg",  "log",              "tmp/korvoprep.",
                                            "runtime/korvo"};
  for (const std::string& name : after) {
    if (std::find(before.begin(), before.end(), name) != before.end()) continue;
    EXPECT_TRUE(std::any_of(staying.begin(), staying.end(), [&](const std::string& p) { return name.rfind(p, 0) == 0; }))
        << "left: " << name;
  }
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[0].rfind("korvoprep.", 0), 0u);
  EXPECT_EQ(fs::path(left[0] + "/korvoprep"), fs::path(left[1]).lexically_normal());
}

}  // namespace
}  // namespace korvo::test
