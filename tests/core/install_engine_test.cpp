// The install engine on media packed as setup finds them, in a sandbox: what
// each run asks, reports and leaves behind. The printer's steps run against a
// private cupsd (root); without one the spooler counts as stopped.
#include "core/setup/install_engine.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "common/settings.h"
#include "core/install/install.h"
#include "core/setup/setup_settings.h"
#include "platform/registry.h"
#include "tests/capture/cups_server.h"
#include "tests/core/install_files.h"
#include "tests/core/sendfax_prompts.h"
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
    std::lock_guard<std::mutex> hold(mutex_);
    lines_.push_back(line);
  }
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

const std::vector<std::string> kClientFiles = {"libkorvocore.so", "korvodesk", "korvolens",   "korvoprep",
                                               "README.TXT",      "korvobell", "korvocapture"};

// Progress lines of the parts of a first installation, the group with the
// notifier in Startup.
std::vector<std::string> WorkstationLines() {
  std::vector<std::string> lines = {"Creating Directories ...", "Making Directories", "Copying files ..."};
  for (const std::string& f : kClientFiles) lines.push_back("Copying " + f + " file");
  for (const char* l : {"Installing Korvo Print", "Installing Korvo Print Driver ...",
                        "Installing Korvo Print Monitor ...", "Installing Korvo Printer ...",
                        "Setting Workstation Registry Keys"})
    lines.push_back(l);
  return lines;
}
const std::vector<std::string> kGroupLines = {
    "Adding Korvo Manager item into Korvo group",           "Adding Korvo Notify item into Korvo group",
    "Adding Korvo Viewer item into Korvo group",            "Adding Korvo Readme text file item into Korvo group",
    "Adding Korvo Remove item into Korvo group",            "Adding Korvo Notifier item into Startup group",
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
                                               "Updating Windows Registry for Korvo Service ...",
                                               "Installing Korvo Service",
                                               "Removing Korvo service ...",
                                               "Installing Korvo service ...",
                                               "Starting Korvo service ...",
                                               "Waiting for Korvo service to start ...",
                                               "Adding Adiministrators ..."};

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A sandbox with the installation media as the current folder: the real
// printer files, agent and server packed, stand-ins for the other programs
// (libkorvocore.so, korvoprep and README.TXT plain, as the media script
// leaves them). `left` is left off the media.
class Setup : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = fs::current_path();
    media_ = box_.path("media");
    // No cupsd unless a test starts one: the spooler then is stopped.
    box_.setEnv("CUPS_SERVER", box_.path("no-cups.sock").string());
    SetDebugFlags(1);
  }
  void TearDown() override { fs::current_path(saved_); }

  void MakeMedia(const std::set<std::string>& left = {}) {
    std::vector<fs::path> packed;
    for (const fs::path& real : {test::BuildDir() / "capture/rastertokvf", test::BuildDir() / "capture/kvf",
                                 test::BuildDir() / "capture/korvocapture", test::BuildDir() / "server/korvohub",
                                 test::SourceDir() / "capture/Korvo_Printer.ppd"})
      if (!left.count(real.filename().string())) packed.push_back(real);
    fs::create_directories(box_.path("standin"));
    for (const char* name : {"korvodesk", "korvolens", "korvobell", "korvo-relay"}) {
      if (left.count(name)) continue;
      Sandbox::writeFile(box_.path("standin") / name, std::string("program ") + name + "\n");
      packed.push_back(box_.path("standin") / name);
    }
    test::PackMedia(media_, packed);
    for (const char* name : {"libkorvocore.so", "korvoprep", "README.TXT"})
      if (!left.count(name)) Sandbox::writeFile(media_ / name, std::string("plain ") + name + "\n");
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

TEST_F(Setup, SettingsStartFromWhatAnEarlierInstallationStored) {
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

TEST_F(Setup, FirstInstallationOfBothPartsThenRemovalLeavesOnlyTheData) {
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
  EXPECT_EQ(Sandbox::readFile(root + "korvohub"), Sandbox::readFile(test::BuildDir() / "server/korvohub"));
  EXPECT_TRUE(fs::is_regular_file(root + "korvo-relay"));
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
  const fs::path apps = box_.systemRoot() / "usr/local/share/applications";
  for (const char* item : {"korvo-manager", "korvo-notifier", "korvo-viewer", "readme", "remove-korvo"})
    EXPECT_TRUE(fs::exists(apps / ("korvo-velmora-korvo-" + std::string(item) + ".desktop"))) << item;
  EXPECT_TRUE(fs::exists(box_.systemRoot() / "etc/xdg/autostart/korvo-korvo-notifier.desktop"));
  EXPECT_FALSE(fs::exists(box_.systemRoot() / "etc/xdg/autostart/korvo-korvo-manager.desktop"));

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
  EXPECT_FALSE(HasKey(platform::RegistryHive::LocalMachine, kUninstallKey));
  EXPECT_FALSE(HasKey(platform::RegistryHive::LocalMachine, kBaseKey));
  EXPECT_FALSE(HasKey(platform::RegistryHive::CurrentUser, kBaseKey));
  // Only the server's data, the users' folders and the hives stay.
  const std::set<std::string> was(before.begin(), before.end());
  for (const std::string& p : test::Tree(box_.root(), {"cups", "client.", "trace.log"})) {
    if (was.count(p)) continue;
    const bool kept = p == "opt" || p == "opt/korvo" || p.rfind("opt/korvo/Server", 0) == 0 ||
                      p.rfind("opt/korvo/Users", 0) == 0 || p.rfind("machine.reg", 0) == 0 ||
                      p.rfind("user.reg", 0) == 0;
    EXPECT_TRUE(kept) << p;
  }
}

}  // namespace
}  // namespace korvo
