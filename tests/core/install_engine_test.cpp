// The install engine on media packed as setup finds them, in a sandbox: what
// each run asks, reports and leaves behind. The printer's steps run against a
// private cupsd (root); without one the spooler counts as stopped.
#include "core/setup/install_engine.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <cstring>
#include <memory>
#include <thread>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "common/faxclient.h"
#include "common/settings.h"
#include "core/install/install.h"
#include "core/setup/setup_settings.h"
#include "platform/registry.h"
#include "tests/capture/cups_server.h"
#include "tests/core/install_files.h"
#include "tests/core/sendfax_prompts.h"
#include "tests/server/hub_fixture.h"
#include "tests/server/ssh_server.h"
#include "tests/support/sandbox.h"

namespace korvo {
namespace {

namespace fs = std::filesystem;
using desktop::Answer;
using desktop::Buttons;
using test::Sandbox;

constexpr int kBoundMs = 120000;

// The wizard as the worker sees it: every line, step and result, boxes
// through the recorded prompts, the wait cursor's depth.
class Sheet final : public SetupSheet {
 public:
  explicit Sheet(test::RecordedPrompts& prompts) : prompts_(prompts) {}
  void ProgressText(const std::string& line) override {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      lines_.push_back(line);
    }
    // On the worker's thread, before it goes on: a test acts at a step of its
    // choice without racing the worker past it.
    if (onLine_) onLine_(line);
  }
  void OnLine(std::function<void(const std::string&)> action) { onLine_ = std::move(action); }
  void ProgressStep() override {
    std::lock_guard<std::mutex> hold(mutex_);
    ++steps_;
  }
  void Finished(int result) override {
    std::lock_guard<std::mutex> hold(mutex_);
    results_.push_back(result);
  }
  Answer Ask(const std::string& text, const std::string& caption, Buttons buttons, desktop::Icon icon) override {
    EXPECT_EQ(busy_, 0) << "a box under the wait cursor: " << text;
    return prompts_.Message(nullptr, text, caption, buttons, icon);
  }
  void Busy(bool on) override {
    busy_ += on ? 1 : -1;
    EXPECT_GE(busy_, 0);
  }

  std::vector<std::string> lines() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return lines_;
  }
  int steps() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return steps_;
  }
  std::vector<int> results() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return results_;
  }
  int busy() const { return busy_; }

 private:
  test::RecordedPrompts& prompts_;
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  int steps_ = 0;
  std::vector<int> results_;
  int busy_ = 0;
  std::function<void(const std::string&)> onLine_;
};

// The engine's clock: records each pause; a held clock keeps the worker in
// its pause until released.
class Pauses {
 public:
  void operator()(std::chrono::milliseconds time) {
    std::unique_lock<std::mutex> hold(mutex_);
    taken_.push_back(static_cast<int>(time.count()));
    wake_.notify_all();
    wake_.wait(hold, [&] { return !held_; });
  }
  void Hold() {
    std::lock_guard<std::mutex> hold(mutex_);
    held_ = true;
  }
  void Release() {
    std::lock_guard<std::mutex> hold(mutex_);
    held_ = false;
    wake_.notify_all();
  }
  bool WaitForPause() {
    std::unique_lock<std::mutex> hold(mutex_);
    return wake_.wait_for(hold, std::chrono::milliseconds(kBoundMs), [&] { return !taken_.empty(); });
  }
  std::vector<int> taken() {
    std::lock_guard<std::mutex> hold(mutex_);
    return taken_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<int> taken_;
  bool held_ = false;
};

std::string Str(const char* subkey, const char* name) {
  char buffer[260] = {};
  return KvReadRegStr(subkey, name, buffer, sizeof buffer) ? buffer : "<missing>";
}

uint32_t Dword(const char* subkey, const char* name) {
  uint32_t value = 0xFFFFFFFF;
  KvReadRegDword(subkey, name, &value);
  return value;
}

// A string value of any key of a hive, "<missing>" when it is not there.
std::string HiveStr(platform::RegistryHive hive, const std::string& key, const std::string& name) {
  platform::RegistryHiveData data;
  if (!platform::LoadRegistryHive(hive, data)) return "<unreadable>";
  const platform::RegistryValue* v = data.FindValue(key, name);
  if (!v || v->data.empty()) return "<missing>";
  return std::string(v->data.begin(), v->data.end() - 1);
}

bool HasKey(platform::RegistryHive hive, const std::string& key) {
  platform::RegistryHiveData data;
  return platform::LoadRegistryHive(hive, data) && data.HasKey(key);
}

const std::string kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Korvo";
const std::string kBaseKey = "Software\\Velmora Technologies\\Korvo";

const std::vector<std::string> kClientFiles = {"libkorvocore.so", "korvodesk",    "korvolens",   "korvoprep",
                                               "README.TXT",      "korvobell",    "korvocapture", "install.html"};

// The help book of the media: its contents file first, the others in order.
constexpr const char* kHelpFiles[] = {"korvodesk.hhp", "index.html", "korvodesk.hhc"};

// Progress lines of the parts of a first installation, the group with the
// notifier in Startup.
std::vector<std::string> WorkstationLines() {
  std::vector<std::string> lines = {"Creating Directories ...", "Making Directories", "Copying files ..."};
  for (const std::string& f : kClientFiles) lines.push_back("Copying " + f + " file");
  for (const char* f : kHelpFiles) lines.push_back("Copying help/" + std::string(f) + " file");
  for (const char* l : {"Installing Korvo Print", "Installing Korvo Print Driver ...",
                        "Installing Korvo Print Monitor ...", "Installing Korvo Printer ...",
                        "Setting Workstation Registry Keys"})
    lines.push_back(l);
  return lines;
}
const std::vector<std::string> kGroupLines = {
    "Adding Korvo Manager item into Korvo group",           "Adding Korvo Notify item into Korvo group",
    "Adding Korvo Viewer item into Korvo group",            "Adding Korvo Readme text file item into Korvo group",
    "Adding Korvo Installation Guide item into Korvo group", "Adding Korvo Online help item into Korvo group",
    "Adding Korvo Remove item into Korvo group",
    "Adding Korvo Notifier item into Startup group",
    "Writing uninstall information ..."};
// The client files were copied by the workstation part before.
const std::vector<std::string> kServerLines = {"Setting Server Registry Keys",
                                               "Adding Korvo Server keys into Registry ...",
                                               "Creating Directories",
                                               "Making Directories",
                                               "Copying files ...",
                                               "Copying Server files",
                                               "Removing Korvo Service ...",
                                               "Copying korvohub file",
                                               "Copying korvo-relay file",
                                               "Updating the Registry for Korvo Service ...",
                                               "Installing Korvo Service",
                                               "Removing Korvo service ...",
                                               "Installing Korvo service ...",
                                               "Starting Korvo service ...",
                                               "Waiting for Korvo service to start ...",
                                               "Adding Adiministrators ..."};

// A desktop entry's value of the key, "" when it has none.
std::string EntryValue(const std::string& text, const std::string& key) {
  const size_t at = text.find("\n" + key + "=");
  if (at == std::string::npos) return "";
  const size_t start = at + key.size() + 2;
  return text.substr(start, text.find('\n', start) - start);
}

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A sandbox with the installation media as the current folder: the real
// printer files packed (cupsd takes them), stand-ins for the programs
// (libkorvocore.so, korvoprep and README.TXT plain, as the media script
// leaves them, the others packed). `left` is left off the media.
class InstallEngineRun : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = fs::current_path();
    media_ = box_.path("media");
    // As on a real system, where sshd's PATH for a login starts with it.
    fs::create_directories(box_.systemRoot() / "usr/local/bin");
    // No cupsd unless a test starts one: the spooler then is stopped.
    box_.setEnv("CUPS_SERVER", box_.path("no-cups.sock").string());
    SetDebugFlags(1);
  }
  void TearDown() override { fs::current_path(saved_); }

  // The media with stand-ins for the programs, but for those named real,
  // which are the built ones.
  void MakeMedia(const std::set<std::string>& left = {}, const std::set<std::string>& real = {}) {
    std::vector<fs::path> packed;
    for (const fs::path& real : {test::BuildDir() / "capture/rastertokvf", test::BuildDir() / "capture/kvf",
                                 test::SourceDir() / "capture/Korvo_Printer.ppd"})
      if (!left.count(real.filename().string())) packed.push_back(real);
    fs::create_directories(box_.path("standin"));
    for (const char* name : {"korvodesk", "korvolens", "korvobell", "korvo-relay", "korvohub", "korvocapture", "install.html"}) {
      if (left.count(name)) continue;
      if (real.count(name)) {
        packed.push_back(std::string(name) == "korvohub" ? test::BuildDir() / "server/korvohub"
                                                         : test::BuildDir() / "relay" / name);
        continue;
      }
      Sandbox::writeFile(box_.path("standin") / name, std::string("program ") + name + "\n");
      // Programs as the build makes them: the menus run them.
      if (std::string(name) != "install.html")
        fs::permissions(box_.path("standin") / name, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                        fs::perm_options::add);
      packed.push_back(box_.path("standin") / name);
    }
    test::PackMedia(media_, packed);
    for (const char* name : {"libkorvocore.so", "korvoprep", "README.TXT"})
      if (!left.count(name)) Sandbox::writeFile(media_ / name, std::string("plain ") + name + "\n");
    if (!left.count("help")) {
      fs::create_directories(media_ / "help");
      for (const char* name : kHelpFiles) Sandbox::writeFile(media_ / "help" / name, std::string("help ") + name);
    }
    fs::current_path(media_);
  }

  std::string Root() const { return box_.path("opt/korvo").string() + "/"; }
  SetupSettings Settings() {
    SetupSettings s = SetupSettings::Load();
    s.rootDirectory = box_.path("opt/korvo").string();
    s.defaultServer = "faxhost";
    return s;
  }

  Sandbox box_;
  fs::path saved_;
  fs::path media_;
  test::RecordedPrompts prompts_;
  Pauses pauses_;
};

TEST_F(InstallEngineRun, SettingsStartFromWhatAnEarlierInstallationStored) {
  {
    SetupSettings s = SetupSettings::Load();
    const SetupSettings fresh;
    EXPECT_EQ(s.server, 1);
    EXPECT_EQ(s.workstation, 1);
    EXPECT_EQ(s.rootDirectory, "/opt/korvo");
    EXPECT_EQ(s.groupName, "Velmora Korvo");
    EXPECT_EQ(s.stationIdentifier, "");
    EXPECT_EQ(s.managerInStartup, 0);
    EXPECT_EQ(s.notifierInStartup, 1);
    EXPECT_EQ(s.retryTimeout, 3);
    EXPECT_EQ(s.retryAttempts, 5);
    // Out-of-range retry values are mended in the hive too.
    EXPECT_EQ(Dword("Server", "RetryTimeout"), 3u);
    EXPECT_EQ(Dword("Server", "RetryAttempts"), 5u);
  }
  ASSERT_TRUE(KvSetKorvoServer(0x11E) && KvSetKorvoWorkstation(0x102));
  ASSERT_TRUE(KvWriteRegDword("Server", "RetryTimeout", 61) && KvWriteRegDword("Server", "RetryAttempts", 10));
  ASSERT_TRUE(KvWriteRegDword("Server", "MaxImgId", 77) && KvWriteRegDword("Server", "MaxReqId", 88));
  ASSERT_TRUE(KvWriteRegStr("Server", "StationIdentifier", "an identifier over twenty"));
  ASSERT_TRUE(KvSetKorvoDefaultServer("machinehost") && KvSetDefaultServer("userhost"));
  ASSERT_TRUE(KvSetKorvoInstallPath("/srv/korvo/") && KvSetKorvoDefaultUsersDataPath("/srv/korvo/Users"));
  for (const char* name : {"Organization", "MainFaxNumber", "MainPhoneNumber", "ContactPerson", "AutoDispatchTo",
                           "ServiceAccount", "MapiProfile"})
    ASSERT_TRUE(KvWriteRegStr("Server", name, (std::string("v-") + name).c_str()));
  SetupSettings s = SetupSettings::Load();
  EXPECT_EQ(s.server, 0x11E);
  EXPECT_EQ(s.workstation, 0x102);
  EXPECT_EQ(s.retryTimeout, 3);
  EXPECT_EQ(s.retryAttempts, 10);
  EXPECT_EQ(Dword("Server", "RetryTimeout"), 3u);
  EXPECT_EQ(s.maxImgId, 77);
  EXPECT_EQ(s.maxReqId, 88);
  // Too long: the user's default server, written back.
  EXPECT_EQ(s.stationIdentifier, "userhost");
  EXPECT_EQ(Str("Server", "StationIdentifier"), "userhost");
  EXPECT_EQ(s.rootDirectory, "/srv/korvo/");
  EXPECT_EQ(s.defaultServer, "machinehost");
  EXPECT_EQ(s.usersDataPath, "/srv/korvo/Users");
  EXPECT_EQ(s.organization, "v-Organization");
  EXPECT_EQ(s.mainFaxNumber, "v-MainFaxNumber");
  EXPECT_EQ(s.mainPhoneNumber, "v-MainPhoneNumber");
  EXPECT_EQ(s.contactPerson, "v-ContactPerson");
  EXPECT_EQ(s.autoDispatchTo, "v-AutoDispatchTo");
  EXPECT_EQ(s.serviceAccount, "v-ServiceAccount");
  EXPECT_EQ(s.servicePassword, "");
  EXPECT_EQ(s.mapiProfile, "v-MapiProfile");
}

TEST_F(InstallEngineRun, FirstInstallationOfBothPartsThenRemovalLeavesOnlyTheData) {
  if (geteuid() != 0) GTEST_SKIP() << "cupsd and its ServerBin need root";
  MakeMedia();
  ASSERT_FALSE(HasFatalFailure());
  test::CupsServer cups(box_, box_.path("runtime"), box_.systemRoot() / "usr/lib/cups");
  const std::vector<std::string> before = test::Tree(box_.root(), {"cups", "client.", "trace.log"});
  {
    SetupSettings settings = Settings();
    InstallEngine engine(settings, prompts_, std::ref(pauses_));
    Sheet sheet(prompts_);
    engine.SetSheet(&sheet);
    engine.StartInstall();
    engine.Join();
    EXPECT_EQ(sheet.results(), std::vector<int>{1}) << Sandbox::readFile(box_.traceFile());
    EXPECT_EQ(sheet.lines(), Join({WorkstationLines(), kGroupLines, kServerLines}));
    EXPECT_EQ(sheet.steps(), static_cast<int>(sheet.lines().size()));
    EXPECT_EQ(sheet.busy(), 0);
    EXPECT_TRUE(prompts_.boxes.empty()) << prompts_.boxes.front().text;
    // The service never answered: ten half-second rounds, then on.
    EXPECT_EQ(pauses_.taken(), std::vector<int>(10, 500));
  }
  const std::string root = Root();
  for (const std::string& f : kClientFiles) EXPECT_TRUE(fs::is_regular_file(root + f)) << f;
  EXPECT_EQ(Sandbox::readFile(root + "korvodesk"), "program korvodesk\n");
  // The help book beside the manager, as the manager reads it.
  for (const char* f : kHelpFiles) EXPECT_EQ(Sandbox::readFile(root + "help/" + f), std::string("help ") + f);
  EXPECT_EQ(Sandbox::readFile(root + "korvohub"), "program korvohub\n");
  EXPECT_TRUE(fs::is_regular_file(root + "korvo-relay"));
  // Where an SSH login finds it by name.
  EXPECT_EQ(fs::read_symlink(box_.systemRoot() / "usr/local/bin/korvo-relay"), fs::path(root + "korvo-relay"));
  EXPECT_TRUE(fs::is_regular_file(root + "Server/Config/RegUsers.dbs"));
  EXPECT_EQ(test::Mode(root + "Users"), 01777u);
  EXPECT_EQ(Dword(nullptr, "SetupServer"), 0x11Eu);
  EXPECT_EQ(Dword(nullptr, "SetupWorkstation"), 0x11Eu);
  EXPECT_EQ(Str(nullptr, "InstallPath"), root);
  EXPECT_EQ(Str(nullptr, "DefaultUsersDataPath"), root + "Users");
  EXPECT_EQ(Str(nullptr, "DefaultServer"), "faxhost");
  EXPECT_EQ(Str(nullptr, "KorvoCore"), root + "libkorvocore.so");
  EXPECT_EQ(Str(nullptr, "KorvoDesk"), root + "korvodesk");
  EXPECT_EQ(Str(nullptr, "KorvoLens"), root + "korvolens");
  EXPECT_EQ(Str("Server", "RootPath"), root + "Server");
  EXPECT_EQ(Str("Server", "Korvo"), root + "korvohub");
  EXPECT_EQ(Dword("Server", "Pipes"), 1u);
  EXPECT_EQ(Dword("Server", "TcpIp"), 0u);
  EXPECT_EQ(HiveStr(platform::RegistryHive::LocalMachine, kUninstallKey, "DisplayName"), "Velmora Korvo 1.30");
  EXPECT_EQ(HiveStr(platform::RegistryHive::LocalMachine, kUninstallKey, "UninstallString"),
            root + "korvoprep /uninstall");
  EXPECT_EQ(IsFaxPrinterInstalled(), 0u);
  EXPECT_TRUE(fs::exists(box_.systemdDir() / "korvo.service"));
  // Every entry's name and command as the desktop shows and runs them.
  const fs::path apps = box_.systemRoot() / "usr/local/share/applications";
  const fs::path autostart = box_.systemRoot() / "etc/xdg/autostart";
  const struct {
    fs::path file;
    std::string name, exec;
  } entries[] = {
      {apps / "korvo-velmora-korvo-korvo-manager.desktop", "Korvo Manager", root + "korvodesk"},
      {apps / "korvo-velmora-korvo-korvo-notifier.desktop", "Korvo Notifier", root + "korvobell"},
      {apps / "korvo-velmora-korvo-korvo-viewer.desktop", "Korvo Viewer", root + "korvolens"},
      {apps / "korvo-velmora-korvo-readme.desktop", "Readme", ""},
      {apps / "korvo-velmora-korvo-installation-guide.desktop", "Installation Guide", ""},
      {apps / "korvo-velmora-korvo-help.desktop", "Help", ""},
      {apps / "korvo-velmora-korvo-remove-korvo.desktop", "Remove Korvo", root + "korvoprep /uninstall"},
      {autostart / "korvo-korvo-notifier.desktop", "Korvo Notifier", root + "korvobell"},
  };
  for (const auto& e : entries) {
    SCOPED_TRACE(e.file.string());
    const std::string text = Sandbox::readFile(e.file);
    EXPECT_EQ(EntryValue(text, "Name"), e.name) << text;
    EXPECT_EQ(EntryValue(text, "Exec"), e.exec) << text;
  }
  EXPECT_FALSE(fs::exists(autostart / "korvo-korvo-manager.desktop"));
  // An administrator's own files beside the installed ones.
  Sandbox::writeFile(root + "help/local-notes.html", "ours");
  Sandbox::writeFile(root + "site.conf", "ours");

  {
    SetupSettings settings = SetupSettings::Load();
    ASSERT_EQ(settings.server, 0x11E);
    InstallEngine engine(settings, prompts_, std::ref(pauses_));
    Sheet sheet(prompts_);
    engine.SetSheet(&sheet);
    prompts_.Answer(Answer::Ok);  // delete the printer
    engine.StartRemove();
    engine.Join();
    EXPECT_EQ(sheet.results(), std::vector<int>{1}) << Sandbox::readFile(box_.traceFile());
    ASSERT_EQ(prompts_.boxes.size(), 1u);
    EXPECT_EQ(prompts_.boxes[0].caption, "Korvo Setup Remove \"Korvo Printer\" Instructions");
    const std::vector<std::string> lines = sheet.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "Remove Korvo service  ...");
    EXPECT_EQ(lines.back(), "Mark Workstation not installed ...");
  }
  EXPECT_NE(IsFaxPrinterInstalled(), 0u);
  EXPECT_EQ(Sandbox::readFile(root + "help/local-notes.html"), "ours");
  EXPECT_EQ(Sandbox::readFile(root + "site.conf"), "ours");
  EXPECT_FALSE(HasKey(platform::RegistryHive::LocalMachine, kUninstallKey));
  EXPECT_FALSE(HasKey(platform::RegistryHive::LocalMachine, kBaseKey));
  EXPECT_FALSE(HasKey(platform::RegistryHive::CurrentUser, kBaseKey));
  // Only the server's data, the users' folders and the hives stay.
  const std::set<std::string> was(before.begin(), before.end());
  for (const std::string& p : test::Tree(box_.root(), {"cups", "client.", "trace.log"})) {
    if (was.count(p)) continue;
    const bool kept = p == "opt" || p == "opt/korvo" || p.rfind("opt/korvo/Server", 0) == 0 ||
                      p == "opt/korvo/help" || p == "opt/korvo/help/local-notes.html" || p == "opt/korvo/site.conf" ||
                      p.rfind("opt/korvo/Users", 0) == 0 || p.rfind("machine.reg", 0) == 0 ||
                      p.rfind("user.reg", 0) == 0;
    EXPECT_TRUE(kept) << p;
  }
}

// A client on another machine reaches the server setup installed, naming
// nothing but the host: a private sshd, whose sessions get sshd's own PATH
// under the sandbox's system root, runs the relay by name for a registered
// login. Removal takes the relay's link away again.
TEST_F(InstallEngineRun, ARemoteClientReachesTheInstalledServerThroughTheRelayByName) {
  if (!test::SshServer::Available()) GTEST_SKIP() << "needs root, sshd and ssh-keygen";
  test::ThrowawayLogin login;
  if (!login.made()) GTEST_SKIP() << "no throwaway login could be made";
  MakeMedia({}, {"korvohub", "korvo-relay"});
  ASSERT_FALSE(HasFatalFailure());
  SetupSettings settings = Settings();
  settings.workstation = 0;
  {
    InstallEngine engine(settings, prompts_, std::ref(pauses_));
    Sheet sheet(prompts_);
    engine.SetSheet(&sheet);
    engine.StartInstall();
    engine.Join();
    ASSERT_EQ(sheet.results(), std::vector<int>{1}) << Sandbox::readFile(box_.traceFile());
  }
  // Setup registered the machine's ordinary accounts, the login among them.
  // The installed server, as its unit starts it; every login reaches its
  // socket, as on a server machine.
  fs::permissions(box_.root(), fs::perms(0755));
  test::HubProcess hub({"-debug"}, Root() + "korvohub");
  ASSERT_TRUE(hub.WaitFor("Fax Server Daemon started.\n")) << hub.output();
  test::SshServer ssh;
  ssh.SetSessionPath((box_.systemRoot() / "usr/local/bin").string() + ":/usr/bin:/bin");
  std::string why;
  ASSERT_TRUE(ssh.Start(box_.path("ssh"), {{"korvo-installed", login.name()}}, box_.pipeDir().string(), &why)) << why;
  ASSERT_EQ(SetRemoteSshOptions(ssh.sshOptions().c_str()), 1);
  uint32_t version = 0;
  const RequestResult answer = FaxClient().GetServerVersion("korvo-installed", version);
  EXPECT_EQ(answer.status, 0u) << answer.text << Sandbox::readFile(box_.traceFile());
  EXPECT_EQ(version, 0x011Eu);
  hub.Signal(SIGINT);
  EXPECT_EQ(hub.Wait(), 0);
  ssh.Stop();

  SetupSettings installed = SetupSettings::Load();
  // Only the workstation part stores the folder (InstallPath).
  installed.rootDirectory = settings.rootDirectory;
  InstallEngine engine(installed, prompts_, std::ref(pauses_));
  Sheet sheet(prompts_);
  engine.SetSheet(&sheet);
  engine.StartRemove();
  engine.Join();
  EXPECT_EQ(sheet.results(), std::vector<int>{1}) << Sandbox::readFile(box_.traceFile());
  std::error_code ec;
  EXPECT_FALSE(fs::exists(fs::symlink_status(box_.systemRoot() / "usr/local/bin/korvo-relay", ec)));
  EXPECT_TRUE(fs::is_directory(box_.systemRoot() / "usr/local/bin"));
}

// Runs one body on the engine's worker with the sheet; the sheet's results.
std::vector<int> RunWorker(InstallEngine& engine, Sheet& sheet, bool remove) {
  engine.SetSheet(&sheet);
  if (remove) engine.StartRemove();
  else engine.StartInstall();
  engine.Join();
  return sheet.results();
}

// The program the unit's ExecStart names, "" without a unit.
std::string UnitProgram(const fs::path& unit) {
  const std::string text = Sandbox::readFile(unit);
  const size_t at = text.find("\nExecStart=\"");
  if (at == std::string::npos) return "";
  const size_t start = at + 12;
  return text.substr(start, text.find('"', start) - start);
}

// A cancel confirmed at any progress line of an installation, then removal:
// the system is as it was but for the server's data, the users' folders and
// the hives. A unit never outlives its program.
TEST_F(InstallEngineRun, CancelAtEveryStepThenRemovalLeavesTheSystemAsItWas) {
  if (geteuid() != 0) GTEST_SKIP() << "cupsd and its ServerBin need root";
  MakeMedia();
  ASSERT_FALSE(HasFatalFailure());
  test::CupsServer cups(box_, box_.path("runtime"), box_.systemRoot() / "usr/lib/cups");
  const std::vector<std::string> leftOut = {"cups", "client.", "trace.log", "media", "standin", "runtime"};
  const std::vector<std::string> before = test::Tree(box_.root(), leftOut);
  const size_t lineCount = WorkstationLines().size() + kGroupLines.size() + kServerLines.size();
  const fs::path unit = box_.systemdDir() / "korvo.service";
  for (size_t stopAt = 0; stopAt < lineCount; ++stopAt) {
    SCOPED_TRACE(testing::Message() << "cancelled after line " << stopAt);
    // Each installation in a process of its own: the client files are
    // copied once per process.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      SetupSettings settings = Settings();
      test::RecordedPrompts prompts;
      InstallEngine engine(settings, prompts, [](std::chrono::milliseconds) {});
      Sheet sheet(prompts);
      size_t seen = 0;
      sheet.OnLine([&](const std::string&) {
        if (seen++ == stopAt) engine.RequestStop();
      });
      const std::vector<int> results = RunWorker(engine, sheet, false);
      _exit(results.empty() && prompts.boxes.empty() && seen == stopAt + 1 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const std::string program = UnitProgram(unit);
    EXPECT_TRUE(program.empty() || fs::exists(program)) << program;

    test::RecordedPrompts prompts;
    if (IsFaxPrinterInstalled() == 0) prompts.Answer(Answer::Ok);  // delete the printer
    SetupSettings settings = SetupSettings::Load();
    const bool found = InstallationFound(settings);
    InstallEngine engine(settings, prompts, std::ref(pauses_));
    Sheet sheet(prompts);
    const std::vector<int> results = RunWorker(engine, sheet, true);
    EXPECT_EQ(results, std::vector<int>{1});
    EXPECT_EQ(found, !sheet.lines().empty());
    EXPECT_FALSE(fs::exists(unit));
    EXPECT_NE(IsFaxPrinterInstalled(), 0u);
    EXPECT_FALSE(HasKey(platform::RegistryHive::LocalMachine, kBaseKey));
    const std::set<std::string> was(before.begin(), before.end());
    for (const std::string& p : test::Tree(box_.root(), leftOut)) {
      if (was.count(p)) continue;
      const bool kept = p == "opt" || p == "opt/korvo" || p.rfind("opt/korvo/Server", 0) == 0 ||
                        p.rfind("opt/korvo/Users", 0) == 0 || p.rfind("machine.reg", 0) == 0 ||
                        p.rfind("user.reg", 0) == 0;
      EXPECT_TRUE(kept) << p;
    }
  }
}

TEST_F(InstallEngineRun, EarlierVersionsOfTheWorkstationPart) {
  if (geteuid() != 0) GTEST_SKIP() << "cupsd and its ServerBin need root";
  struct Case {
    uint32_t stored;          // SetupWorkstation before; 0xFFFFFFFF: missing
    std::vector<Answer> answers;
    std::string box;          // the version box, "" for none
    bool installs;
  };
  const Case cases[] = {
      {0xFFFFFFFF, {}, "", true},
      {0x11E, {}, "", true},
      {0x11F, {Answer::Yes}, "Install over NEWER version?", true},
      {0x11F, {Answer::No}, "Install over NEWER version?", false},
      {0x102, {Answer::Ok}, "Please remove ALL EXISTING user files before continuing", true},
      {0x103, {}, "", true},
  };
  MakeMedia();
  ASSERT_FALSE(HasFatalFailure());
  test::CupsServer cups(box_, box_.path("runtime"), box_.systemRoot() / "usr/lib/cups");
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.stored << " " << c.answers.size());
    fs::remove_all(box_.path("opt"));
    RemoveFaxPrinter();
    if (c.stored != 0xFFFFFFFF) {
      ASSERT_TRUE(KvSetKorvoWorkstation(c.stored));
    }
    test::RecordedPrompts prompts;
    for (Answer a : c.answers) prompts.Answer(a);
    SetupSettings settings = Settings();
    settings.server = 0;
    InstallEngine engine(settings, prompts, std::ref(pauses_));
    Sheet sheet(prompts);
    EXPECT_EQ(RunWorker(engine, sheet, false), std::vector<int>{1});
    EXPECT_TRUE(prompts.Done());
    ASSERT_EQ(prompts.boxes.size(), c.box.empty() ? 0u : 1u);
    if (!c.box.empty()) {
      EXPECT_EQ(prompts.boxes[0].text, c.box);
      EXPECT_EQ(prompts.boxes[0].caption, "Korvo Version Check");
      EXPECT_EQ(prompts.boxes[0].buttons, c.answers[0] == Answer::Ok ? Buttons::Ok : Buttons::YesNo);
    }
    // (The client files are copied once a process: by the first case.)
    const std::vector<std::string> lines = sheet.lines();
    EXPECT_EQ(std::find(lines.begin(), lines.end(), "Creating Directories ...") != lines.end(), c.installs);
    EXPECT_EQ(IsFaxPrinterInstalled() == 0, c.installs);
    EXPECT_EQ(Dword(nullptr, "SetupWorkstation"), c.installs ? 0x11Eu : c.stored);
    // The group is built either way.
    EXPECT_EQ(sheet.lines().back(), "Writing uninstall information ...");
  }
}

TEST_F(InstallEngineRun, AFaxPrinterAlreadyThereIsKeptOrReplaced) {
  if (geteuid() != 0) GTEST_SKIP() << "cupsd and its ServerBin need root";
  MakeMedia();
  ASSERT_FALSE(HasFatalFailure());
  test::CupsServer cups(box_, box_.path("runtime"), box_.systemRoot() / "usr/lib/cups");
  for (const bool keep : {true, false}) {
    SCOPED_TRACE(keep ? "keep" : "replace");
    ASSERT_EQ(InstallPrintDriver(), 0u);
    ASSERT_EQ(InstallPortMonitor(Root().c_str()), 0u);
    ASSERT_EQ(AddFaxPrinter(), 0u);
    test::RecordedPrompts prompts;
    if (keep) {
      prompts.Answer(Answer::Yes);
    } else {
      prompts.Answer(Answer::No);
      prompts.Answer(Answer::Ok);
    }
    SetupSettings settings = Settings();
    settings.server = 0;
    InstallEngine engine(settings, prompts, std::ref(pauses_));
    Sheet sheet(prompts);
    EXPECT_EQ(RunWorker(engine, sheet, false), std::vector<int>{1});
    ASSERT_EQ(prompts.boxes.size(), keep ? 1u : 2u);
    EXPECT_EQ(prompts.boxes[0].text,
              "Setup has detected that \"Korvo Printer\" is ALREADY installed.\n"
              "Do you want to keep the existing Korvo Printer?");
    EXPECT_EQ(prompts.boxes[0].caption, "Korvo Setup \"Korvo Printer\" Detected");
    if (!keep) {
      EXPECT_EQ(prompts.boxes[1].caption, "Korvo Setup Remove \"Korvo Printer\" Instructions");
      EXPECT_NE(prompts.boxes[1].text.find("and then click on OK to continue."), std::string::npos);
    }
    const std::vector<std::string> lines = sheet.lines();
    const bool driver =
        std::find(lines.begin(), lines.end(), "Installing Korvo Print Driver ...") != lines.end();
    EXPECT_EQ(driver, !keep);
    EXPECT_EQ(IsFaxPrinterInstalled(), 0u);
    EXPECT_EQ(Dword(nullptr, "SetupWorkstation"), 0x11Eu);
  }
}

TEST_F(InstallEngineRun, StoppedSpoolerIsAskedAgainUntilCancelled) {
  MakeMedia();
  ASSERT_FALSE(HasFatalFailure());
  prompts_.Answer(Answer::Ok);
  prompts_.Answer(Answer::Cancel);
  prompts_.Answer(Answer::Ok);  // the error box
  SetupSettings settings = Settings();
  InstallEngine engine(settings, prompts_, std::ref(pauses_));
  Sheet sheet(prompts_);
  EXPECT_EQ(RunWorker(engine, sheet, false), std::vector<int>{0});
  ASSERT_EQ(prompts_.boxes.size(), 3u);
  for (int i : {0, 1}) {
    EXPECT_EQ(prompts_.boxes[i].text,
              "The Printer Spooler is not running!\nPlease make sure it is started and then continue");
    EXPECT_EQ(prompts_.boxes[i].caption, "Korvo Setup Spooler Check");
    EXPECT_EQ(prompts_.boxes[i].buttons, Buttons::OkCancel);
  }
  EXPECT_EQ(prompts_.boxes[2].caption, "Korvo Setup Error");
  EXPECT_EQ(prompts_.boxes[2].text.rfind("Error in Install Workstation: Installing Korvo Print", 0), 0u)
      << prompts_.boxes[2].text;
  EXPECT_EQ(prompts_.boxes[2].icon, desktop::Icon::Error);
  // Nothing after the failed part: no group, no server.
  EXPECT_EQ(sheet.lines().back(), "Installing Korvo Print");
  EXPECT_EQ(Dword(nullptr, "SetupWorkstation"), 0xFFFFFFFFu);
}

TEST_F(InstallEngineRun, MissingMediaFileIsOfferedAgainThenFailsThePart) {
  MakeMedia({"korvolens"});
  ASSERT_FALSE(HasFatalFailure());
  {
    // Cancel: the part fails at that file, with the copy's own code.
    test::RecordedPrompts prompts;
    prompts.Answer(Answer::Cancel);
    prompts.Answer(Answer::Ok);
    SetupSettings settings = Settings();
    InstallEngine engine(settings, prompts, std::ref(pauses_));
    Sheet sheet(prompts);
    EXPECT_EQ(RunWorker(engine, sheet, false), std::vector<int>{0});
    ASSERT_EQ(prompts.boxes.size(), 2u);
    EXPECT_EQ(prompts.boxes[0].text, "Could not copy " + Root() + "korvolens file.\nRetry copy ?");
    EXPECT_EQ(prompts.boxes[0].caption, "Korvo Setup");
    EXPECT_EQ(prompts.boxes[0].buttons, Buttons::RetryCancel);
    EXPECT_EQ(prompts.boxes[0].icon, desktop::Icon::Question);
    EXPECT_EQ(prompts.boxes[1].text,
              "Error in Install Workstation: Copying korvolens file\n(" + std::string(strerror(ENOENT)) + ")");
    EXPECT_EQ(prompts.boxes[1].caption, "Korvo Setup Error");
    EXPECT_EQ(sheet.lines().back(), "Copying korvolens file");
    EXPECT_FALSE(fs::exists(Root() + "korvobell"));
  }
  // Retry while still missing, then put it back and retry: the copy's code
  // is gone from the later error box (the spooler's failure).
  prompts_.Answer(Answer::Retry);
  prompts_.Answer(Answer::Retry, [&] { Sandbox::writeFile(media_ / "korvolens", "late\n"); });
  prompts_.Answer(Answer::Cancel);  // the spooler
  prompts_.Answer(Answer::Ok);      // the error box
  SetupSettings settings = Settings();
  InstallEngine engine(settings, prompts_, std::ref(pauses_));
  Sheet sheet(prompts_);
  EXPECT_EQ(RunWorker(engine, sheet, false), std::vector<int>{0});
  ASSERT_EQ(prompts_.boxes.size(), 4u);
  EXPECT_EQ(prompts_.boxes[1].text, "Could not copy " + Root() + "korvolens file.\nRetry copy ?");
  EXPECT_EQ(Sandbox::readFile(Root() + "korvolens"), "late\n");
  EXPECT_EQ(prompts_.boxes[3].text.rfind("Error in Install Workstation: Installing Korvo Print", 0), 0u);
  EXPECT_EQ(prompts_.boxes[3].text.find(strerror(ENOENT)), std::string::npos) << prompts_.boxes[3].text;
  EXPECT_NE(engine.lastError(), static_cast<uint32_t>(ENOENT));
}

TEST_F(InstallEngineRun, ServerPartWaitsForAServiceThatNeverRunsAndCopiesClientFilesOnce) {
  MakeMedia();
  ASSERT_FALSE(HasFatalFailure());
  SetupSettings settings = Settings();
  settings.workstation = 0;
  settings.organization = "Velmora";
  settings.stationIdentifier = "+385 1 555";
  InstallEngine engine(settings, prompts_, std::ref(pauses_));
  Sheet sheet(prompts_);
  EXPECT_EQ(RunWorker(engine, sheet, false), std::vector<int>{1});
  std::vector<std::string> expected = Join({kGroupLines, std::vector<std::string>(kServerLines.begin(), kServerLines.begin() + 5)});
  for (const std::string& f : kClientFiles) expected.push_back("Copying " + f + " file");
  for (const char* f : kHelpFiles) expected.push_back("Copying help/" + std::string(f) + " file");
  expected.insert(expected.end(), kServerLines.begin() + 5, kServerLines.end());
  EXPECT_EQ(sheet.lines(), expected);
  EXPECT_EQ(pauses_.taken(), std::vector<int>(10, 500));
  EXPECT_TRUE(prompts_.boxes.empty());
  EXPECT_EQ(Str("Server", "Organization"), "Velmora");
  EXPECT_EQ(Str("Server", "StationIdentifier"), "+385 1 555");
  EXPECT_EQ(Dword(nullptr, "SetupServer"), 0x11Eu);
  EXPECT_EQ(Dword(nullptr, "SetupWorkstation"), 0xFFFFFFFFu);

  // A second run in the same process copies no client file again.
  test::RecordedPrompts prompts;
  SetupSettings again = Settings();
  again.workstation = 0;
  InstallEngine second(again, prompts, std::ref(pauses_));
  Sheet sheet2(prompts);
  EXPECT_EQ(RunWorker(second, sheet2, false), std::vector<int>{1});
  for (const std::string& line : sheet2.lines()) EXPECT_EQ(line.find("libkorvocore"), std::string::npos);
}

TEST_F(InstallEngineRun, RemovalTakesTheServerPartOnlyWhenAVersionIsInstalled) {
  struct Case {
    uint32_t stored;  // SetupServer; 0xFFFFFFFF: missing
    bool removes;
  };
  for (const Case c : {Case{0xFFFFFFFF, false}, Case{0, false}, Case{1, false}, Case{0x11E, true}}) {
    SCOPED_TRACE(testing::Message() << std::hex << c.stored);
    fs::remove_all(box_.path("opt"));
    fs::create_directories(box_.path("opt/korvo/Server/Queue"));
    for (const char* f : {"korvohub", "korvo-relay", "README.TXT"}) Sandbox::writeFile(Root() + f, "x");
    ASSERT_TRUE(KvSetKorvoInstallPath(Root().c_str()));
    ASSERT_TRUE(InstallServerService(nullptr, (Root() + "korvohub").c_str(), nullptr, nullptr));
    if (c.stored != 0xFFFFFFFF) {
      ASSERT_TRUE(KvSetKorvoServer(c.stored));
    }
    ASSERT_TRUE(KvWriteRegUserStr("Korvo Manager", "Window", "kept?"));
    test::RecordedPrompts prompts;
    SetupSettings settings = SetupSettings::Load();
    InstallEngine engine(settings, prompts, std::ref(pauses_));
    Sheet sheet(prompts);
    EXPECT_EQ(RunWorker(engine, sheet, true), std::vector<int>{1});
    EXPECT_TRUE(prompts.boxes.empty());
    EXPECT_EQ(fs::exists(box_.systemdDir() / "korvo.service"), !c.removes);
    EXPECT_EQ(fs::exists(Root() + "korvohub"), !c.removes);
    EXPECT_EQ(fs::exists(Root() + "korvo-relay"), !c.removes);
    EXPECT_TRUE(fs::exists(box_.path("opt/korvo/Server/Queue")));
    const std::vector<std::string> lines = sheet.lines();
    if (c.removes) {
      ASSERT_GE(lines.size(), 3u);
      EXPECT_EQ(lines[0], "Remove Korvo service  ...");
      EXPECT_EQ(lines[1], "Remove Server files ...");
      // Without a manifest (an older installation): the suite's files, the
      // last of the list first.
      EXPECT_EQ(lines[2], "Removing " + Root() + "korvo-relay file ...");
      EXPECT_EQ(lines.back(), "Mark Server not installed ...");
    } else {
      EXPECT_TRUE(lines.empty()) << lines.front();
      RemoveServerService(nullptr);
    }
    // Both parts done: the keys go, with their subkeys.
    EXPECT_FALSE(HasKey(platform::RegistryHive::LocalMachine, kBaseKey));
    EXPECT_FALSE(HasKey(platform::RegistryHive::CurrentUser, kBaseKey));
  }
}

TEST_F(InstallEngineRun, FileThatCannotBeRemovedIsOfferedAgainThenFailsTheRemoval) {
  for (const bool cleared : {true, false}) {
    SCOPED_TRACE(cleared ? "cleared on retry" : "cancelled");
    fs::remove_all(box_.path("opt"));
    // A non-empty folder where a program should be.
    fs::create_directories(box_.path("opt/korvo/korvobell/inside"));
    ASSERT_TRUE(KvSetKorvoInstallPath(Root().c_str()) && KvSetKorvoServer(0x11E));
    test::RecordedPrompts prompts;
    prompts.Answer(Answer::Retry);
    if (cleared) {
      prompts.Answer(Answer::Retry, [&] { fs::remove_all(box_.path("opt/korvo/korvobell")); });
    } else {
      prompts.Answer(Answer::Cancel);
      prompts.Answer(Answer::Ok);  // the error box
    }
    SetupSettings settings = SetupSettings::Load();
    InstallEngine engine(settings, prompts, std::ref(pauses_));
    Sheet sheet(prompts);
    EXPECT_EQ(RunWorker(engine, sheet, true), std::vector<int>{cleared ? 1 : 0});
    ASSERT_EQ(prompts.boxes.size(), cleared ? 2u : 3u);
    EXPECT_EQ(prompts.boxes[0].text,
              "Could not remove: korvobell file.\nPlease make sure the file is not in use, then continue.");
    EXPECT_EQ(prompts.boxes[0].caption, "Korvo Remove");
    EXPECT_EQ(prompts.boxes[0].buttons, Buttons::RetryCancel);
    if (!cleared) {
      EXPECT_EQ(prompts.boxes[2].caption, "Korvo Uninstall Error");
      EXPECT_EQ(prompts.boxes[2].text.rfind("Error in Remove Server: Removing " + Root() + "korvobell file ...", 0),
                0u)
          << prompts.boxes[2].text;
      // Nothing is undone and the keys stay for another try.
      EXPECT_EQ(Dword(nullptr, "SetupServer"), 0x11Eu);
    } else {
      EXPECT_FALSE(HasKey(platform::RegistryHive::LocalMachine, kBaseKey));
    }
  }
}

TEST_F(InstallEngineRun, PrinterThatCupsWillNotDeleteFailsTheRemoval) {
  if (geteuid() != 0) GTEST_SKIP() << "cupsd and its ServerBin need root";
  MakeMedia();
  ASSERT_FALSE(HasFatalFailure());
  test::CupsServer cups(box_, box_.path("runtime"), box_.systemRoot() / "usr/lib/cups");
  ASSERT_EQ(InstallPrintDriver(), 0u);
  ASSERT_EQ(InstallPortMonitor(Root().c_str()), 0u);
  ASSERT_EQ(AddFaxPrinter(), 0u);
  // Deleting a printer is for another user from now on (cupsd checks its
  // default policy for that).
  cups.Restart(
      "<Policy nodelete>\n<Limit CUPS-Delete-Printer>\nAuthType Default\nRequire user nobody\nOrder deny,allow\n"
      "</Limit>\n<Limit All>\nOrder deny,allow\n</Limit>\n</Policy>\nDefaultPolicy nodelete\n");
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_EQ(IsFaxPrinterInstalled(), 0u);
  ASSERT_TRUE(KvSetKorvoInstallPath(Root().c_str()) && KvSetKorvoWorkstation(0x11E));
  prompts_.Answer(Answer::Ok);  // delete the printer
  prompts_.Answer(Answer::Ok);  // the error box
  SetupSettings settings = SetupSettings::Load();
  InstallEngine engine(settings, prompts_, std::ref(pauses_));
  Sheet sheet(prompts_);
  EXPECT_EQ(RunWorker(engine, sheet, true), std::vector<int>{0});
  ASSERT_EQ(prompts_.boxes.size(), 2u);
  EXPECT_EQ(prompts_.boxes[0].caption, "Korvo Setup Remove \"Korvo Printer\" Instructions");
  EXPECT_EQ(prompts_.boxes[1].caption, "Korvo Uninstall Error");
  EXPECT_EQ(prompts_.boxes[1].text.rfind("Error in Remove Workstation: Removing Korvo Print ...", 0), 0u)
      << prompts_.boxes[1].text;
  // cupsd's own words for the refusal, not an errno's text.
  EXPECT_EQ(prompts_.boxes[1].text.find("Input/output error"), std::string::npos) << prompts_.boxes[1].text;
  EXPECT_EQ(prompts_.boxes[1].text.find("Permission denied"), std::string::npos) << prompts_.boxes[1].text;
  EXPECT_EQ(IsFaxPrinterInstalled(), 0u);
  EXPECT_EQ(Dword(nullptr, "SetupWorkstation"), 0x11Eu);
}

// The server part alone on the worker, held in its wait for the service.
class CancelQuestion : public InstallEngineRun {
 protected:
  void Start() {
    MakeMedia();
    ASSERT_FALSE(HasFatalFailure());
    settings_ = Settings();
    settings_.workstation = 0;
    pauses_.Hold();
    engine_ = std::make_unique<InstallEngine>(settings_, prompts_, std::ref(pauses_));
    sheet_ = std::make_unique<Sheet>(prompts_);
    engine_->SetSheet(sheet_.get());
    engine_->StartInstall();
    ASSERT_TRUE(pauses_.WaitForPause());
  }
  // The question, open while the worker goes on to its next line.
  bool Question(bool answer) {
    pauses_.Release();
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBoundMs);
    while (engine_->pendingProgressText() != "Adding Adiministrators ...") {
      if (std::chrono::steady_clock::now() > end) {
        ADD_FAILURE() << "the worker did not reach its next line";
        break;
      }
      std::this_thread::yield();
    }
    // It waits there: the line has not been sent.
    EXPECT_EQ(sheet_->lines().back(), "Waiting for Korvo service to start ...");
    return answer;
  }

  SetupSettings settings_;
  std::unique_ptr<InstallEngine> engine_;
  std::unique_ptr<Sheet> sheet_;
};

TEST_F(CancelQuestion, PausesTheWorkerWhileOpen) {
  Start();
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_FALSE(engine_->ConfirmStop([&] { return Question(false); }));
  engine_->Join();
  EXPECT_EQ(sheet_->lines().back(), "Adding Adiministrators ...");
  EXPECT_EQ(sheet_->results(), std::vector<int>{1});
  EXPECT_TRUE(fs::exists(Root() + "Server/Config/RegUsers.dbs"));
}

TEST_F(CancelQuestion, ConfirmedStopsTheWorkerAtItsNextLineWithoutABox) {
  Start();
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_TRUE(engine_->ConfirmStop([&] { return Question(true); }));
  engine_->Join();
  EXPECT_EQ(sheet_->lines().back(), "Waiting for Korvo service to start ...");
  EXPECT_TRUE(sheet_->results().empty());
  EXPECT_TRUE(prompts_.boxes.empty());
  EXPECT_FALSE(fs::exists(Root() + "Server/Config/RegUsers.dbs"));
  // The engine goes with the worker ended; a running one is stopped and joined too.
  engine_.reset();
  SetupSettings settings = Settings();
  settings.workstation = 0;
  test::RecordedPrompts prompts;
  {
    Sheet sheet(prompts);
    InstallEngine engine(settings, prompts);  // waits on its own clock, woken by the stop
    engine.SetSheet(&sheet);
    engine.StartInstall();
  }
  EXPECT_TRUE(prompts.boxes.empty());
}

TEST_F(InstallEngineRun, AnyFailedWorkstationValueFailsThePart) {
  if (geteuid() != 0) GTEST_SKIP() << "cupsd and its ServerBin need root";
  MakeMedia();
  ASSERT_FALSE(HasFatalFailure());
  test::CupsServer cups(box_, box_.path("runtime"), box_.systemRoot() / "usr/lib/cups");
  // The user has an environment already, so its set-up has nothing to write;
  // the machine hive no longer takes writes once the files are copied.
  fs::create_directories(box_.path("data-path"));
  ASSERT_TRUE(KvSetDefaultServer("faxhost") && KvSetDataPath((box_.path("data-path").string() + "/").c_str()));
  SetupSettings settings = Settings();
  settings.server = 0;
  prompts_.Answer(Answer::Ok);  // the error box
  InstallEngine engine(settings, prompts_, std::ref(pauses_));
  Sheet sheet(prompts_);
  // The hive is spoilt while the printer is installed.
  sheet.OnLine([&](const std::string& line) {
    if (line == "Installing Korvo Print") Sandbox::writeFile(box_.machineHive(), "not a hive\n");
  });
  engine.SetSheet(&sheet);
  engine.StartInstall();
  engine.Join();
  EXPECT_EQ(sheet.results(), std::vector<int>{0});
  ASSERT_EQ(prompts_.boxes.size(), 1u);
  EXPECT_EQ(prompts_.boxes[0].text.rfind("Error in Install Workstation: Setting Workstation Registry Keys", 0), 0u)
      << prompts_.boxes[0].text;
}

}  // namespace
}  // namespace korvo
