#include "core/setup/install_engine.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <vector>

#include "common/settings.h"
#include "common/trace.h"
#include "core/install/install.h"
#include "core/install/users.h"
#include "core/setup/manifest.h"
#include "core/setup/suite_files.h"
#include "platform/file_io.h"
#include "platform/lasterror.h"
#include "platform/print_spooler.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/service.h"
#include "platform/system_root.h"

namespace korvo {
namespace {

using desktop::Answer;
using desktop::Buttons;
using desktop::Icon;
using platform::WithSlash;

// Set once per process: the printer settings program was started, and the
// client files were copied (a second copy in the same run is skipped).
std::atomic<bool> gControlPanelOpened{false};
std::atomic<bool> gClientFilesCopied{false};

constexpr uint32_t kPathSize = 260;

// The manager's help book: a folder of the suite's list, copied beside the
// manager, its contents file first.
constexpr const char* kHelpBook = "korvodesk.hhp";
// The server's program, which its unit names.
constexpr const char* kServerProgram = "korvohub";

constexpr const char* kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Korvo";

std::string BaseKey() {
  char key[64] = {};
  KvGetRegProductKey(key, sizeof key);
  return key;
}

void DeleteRegKey(platform::RegistryHive hive, const std::string& key) {
  platform::UpdateRegistryHive(hive, [&](platform::RegistryHiveData& data) { return data.DeleteKey(key); });
}

// The unit of the server's service is there: it can be opened.
// The printer settings program of the desktop, where it is installed.
constexpr const char* kPrinterSettings = "system-config-printer";

bool PrinterSettingsFound() {
  const char* path = std::getenv("PATH");
  std::string_view rest = path ? path : "";
  while (!rest.empty()) {
    const size_t colon = rest.find(':');
    const std::string dir(rest.substr(0, colon));
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    std::error_code ec;
    if (!dir.empty() && std::filesystem::is_regular_file(std::filesystem::path(dir) / kPrinterSettings, ec)) return true;
  }
  return false;
}

std::string DeletePrinterText() {
  if (PrinterSettingsFound())
    return std::string("Please delete \"Korvo Printer\" in ") + kPrinterSettings + "\nand then click on OK to continue.";
  return "Please delete \"Korvo Printer\" from the printers of CUPS (lpadmin -x Korvo_Printer)\n"
         "and then click on OK to continue.";
}

// A client on another machine runs the relay by name over SSH; sshd gives
// a login a PATH that starts with /usr/local/bin.
constexpr const char* kRelayLink = "/usr/local/bin/korvo-relay";

// Links the installed relay there; a file of another's of that name is left
// alone. A link that cannot be made costs remote clients only: traced.
void LinkRelay(const std::string& relay) {
  namespace fs = std::filesystem;
  const fs::path link = platform::SystemPath(kRelayLink);
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(link, ec);
  if (fs::exists(status) && !fs::is_symlink(status)) {
    DebugPrint("LinkRelay: %s is not a link; left as it is\n", link.c_str());
    return;
  }
  fs::create_directories(link.parent_path(), ec);
  fs::remove(link, ec);
  fs::create_symlink(relay, link, ec);
  if (ec) DebugPrint("LinkRelay: %s: %s\n", link.c_str(), ec.message().c_str());
}

// Removes the link when it names this installation's relay.
void UnlinkRelay(const std::string& relay) {
  namespace fs = std::filesystem;
  const fs::path link = platform::SystemPath(kRelayLink);
  std::error_code ec;
  if (fs::is_symlink(fs::symlink_status(link, ec)) && fs::read_symlink(link, ec) == fs::path(relay)) fs::remove(link, ec);
}

bool PartFound(const SetupSettings& settings, SuitePart part);

bool ServiceInstalled() {
  const uint32_t saved = platform::GetLastError();
  const bool open = platform::OpenService("Korvo");
  platform::SetLastError(saved);
  return open;
}

}  // namespace

InstallEngine::InstallEngine(SetupSettings& settings, desktop::Prompter& prompts, Pause pause)
    : settings_(settings), prompts_(prompts), pause_(std::move(pause)) {}

InstallEngine::~InstallEngine() {
  RequestStop();
  Join();
}

void InstallEngine::Run(bool (InstallEngine::*body)()) {
  if (worker_.joinable()) return;
  worker_ = std::thread([this, body] { (this->*body)(); });
}

void InstallEngine::StartInstall() { Run(&InstallEngine::Install); }
void InstallEngine::StartRemove() { Run(&InstallEngine::Remove); }

void InstallEngine::RequestStop() {
  std::lock_guard<std::mutex> hold(stopLock_);
  stop_ = true;
  stopWake_.notify_all();
}

bool InstallEngine::StopRequested() const {
  std::lock_guard<std::mutex> hold(stopLock_);
  return stop_;
}

void InstallEngine::Join() {
  if (worker_.joinable()) worker_.join();
}

bool InstallEngine::ConfirmStop(const std::function<bool()>& question) {
  std::lock_guard<std::mutex> hold(lock_);
  const bool stop = question();
  if (stop) RequestStop();
  return stop;
}

void InstallEngine::Wait(std::chrono::milliseconds time) {
  if (pause_) {
    pause_(time);
    return;
  }
  std::unique_lock<std::mutex> hold(stopLock_);
  stopWake_.wait_for(hold, time, [this] { return stop_; });
}

bool InstallEngine::Progress(const char* format, ...) {
  char line[256];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line, format, args);
  va_end(args);
  {
    std::lock_guard<std::mutex> hold(textLock_);
    pending_ = line;
  }
  // Waits here while the wizard's cancel question is open.
  { std::lock_guard<std::mutex> hold(lock_); }
  if (StopRequested()) return false;
  {
    std::lock_guard<std::mutex> hold(textLock_);
    last_ = line;
    haveLast_ = true;
  }
  if (sheet_) {
    sheet_->ProgressText(line);
    sheet_->ProgressStep();
  }
  return true;
}

std::string InstallEngine::lastProgressText() const {
  std::lock_guard<std::mutex> hold(textLock_);
  return last_;
}

std::string InstallEngine::pendingProgressText() const {
  std::lock_guard<std::mutex> hold(textLock_);
  return pending_;
}

desktop::Answer InstallEngine::Ask(const std::string& text, const std::string& caption, desktop::Buttons buttons,
                                   desktop::Icon icon) {
  if (!sheet_) return prompts_.Message(nullptr, text, caption, buttons, icon);
  // A box is answered with the ordinary pointer, not the wait cursor.
  if (busy_) sheet_->Busy(false);
  const desktop::Answer answer = sheet_->Ask(text, caption, buttons, icon);
  if (busy_) sheet_->Busy(true);
  return answer;
}

void InstallEngine::ReportError(const std::string& step) {
  if (lastError_ == 0) lastError_ = platform::GetLastError();
  std::string text = "Error in " + step + ": " + lastProgressText();
  if (!lastRefusal_.empty()) {
    text += "\n(" + lastRefusal_ + ")";
  } else if (lastError_ != 0) {
    std::string system = std::strerror(static_cast<int>(lastError_));
    system = system.substr(0, system.find('\r'));
    text += "\n(" + system + ")";
  }
  lastRefusal_.clear();
  Ask(text, removing_ ? "Korvo Uninstall Error" : "Korvo Setup Error", desktop::Buttons::Ok, desktop::Icon::Error);
}


// --- Install -----------------------------------------------------------------

bool InstallEngine::Install() {
  removing_ = false;
  bool ok = true;
  if (settings_.workstation != 0 && !InstallWorkstation()) {
    Fail("Install Workstation");
    ok = false;
  }
  if (ok && !InstallProgramGroup()) {
    Fail("Install Common Group");
    ok = false;
  }
  if (ok && settings_.server != 0) {
    if (InstallServer()) {
      if (Progress("Adding Adiministrators ...")) ImportUsers();
      else ok = false;
    } else {
      Fail("Install Server");
      ok = false;
    }
  }
  return Finish(ok);
}

void InstallEngine::ImportUsers() {
  std::vector<std::string> skipped;
  install::ImportUsers(WithSlash(settings_.rootDirectory).c_str(), &skipped);
  if (skipped.empty()) return;
  // A login left out cannot use the server: whoever runs setup learns which.
  std::string text = "These logins were not added as users of the fax server:";
  for (const std::string& line : skipped) text += "\n" + line;
  Ask(text, "Korvo Setup", desktop::Buttons::Ok, desktop::Icon::Warning);
}

void InstallEngine::Fail(const std::string& step) {
  if (!StopRequested()) ReportError(step);
}

bool InstallEngine::Finish(bool ok) {
  if (StopRequested()) return false;
  if (sheet_) sheet_->Finished(ok ? 1 : 0);
  return ok;
}

// Nothing to do: true. The answer to a newer version may skip the part.
bool InstallEngine::VersionCheck(bool server, bool& skip) {
  skip = false;
  uint32_t version = 0;
  if (!(server ? KvGetKorvoServer(&version) : KvGetKorvoWorkstation(&version))) return true;
  DebugPrint(server ? "VerServ:%d ? %d\n" : "Ver:%d ? %d\n", static_cast<int>(version), kSetupVersion);
  if (version > static_cast<uint32_t>(kSetupVersion)) {
    skip = Ask("Install over NEWER version?", "Korvo Version Check", Buttons::YesNo, Icon::None) != Answer::Yes;
  } else if (version != 0 && version < (server ? 0x104u : 0x103u)) {
    Ask(server ? "Please remove ALL EXISTING server configuration files before continuing"
               : "Please remove ALL EXISTING user files before continuing",
        "Korvo Version Check", Buttons::Ok, Icon::None);
  }
  return true;
}

bool InstallEngine::InstallWorkstation() {
  bool skip = false;
  VersionCheck(false, skip);
  if (skip) return true;
  if (!Progress("Creating Directories ...") || !MakeRootDirectories()) return false;
  // Where the manifest is, for a removal after a cancel part-way.
  if (!KvSetKorvoInstallPath(WithSlash(settings_.rootDirectory).c_str())) return false;
  const bool copied = UnderWaitCursor([&] { return Progress("Copying files ...") && CopyClientFiles(); });
  if (!copied) return false;
  if (!Progress("Installing Korvo Print") || !InstallPrinter()) return false;
  if (!Progress("Setting Workstation Registry Keys") || !WriteWorkstationValues()) return false;
  return KvSetKorvoWorkstation(kSetupVersion) != 0;
}

bool InstallEngine::InstallServer() {
  bool skip = false;
  VersionCheck(true, skip);
  if (skip) return true;
  if (!Progress("Setting Server Registry Keys") || !WriteServerValues()) return false;
  if (!Progress("Creating Directories") || !MakeRootDirectories()) return false;
  const bool copied = UnderWaitCursor([&] { return Progress("Copying files ...") && CopyClientFiles(); });
  if (!copied) return false;
  if (!Progress("Copying Server files") || !CopyServerFiles()) return false;
  if (!Progress("Installing Korvo Service")) return false;
  // A part that does not finish takes its unit back: removal would not take
  // a part never marked installed, and the unit would outlive its program.
  if (InstallService() && KvSetKorvoServer(kSetupVersion)) return true;
  const uint32_t code = lastError_ ? lastError_ : platform::GetLastError();
  RemoveService();
  lastError_ = code;
  return false;
}

bool InstallEngine::UnderWaitCursor(const std::function<bool()>& work) {
  Busy(true);
  const bool ok = work();
  Busy(false);
  return ok;
}

void InstallEngine::Busy(bool on) {
  busy_ = on;
  if (sheet_) sheet_->Busy(on);
}

bool InstallEngine::MakeRootDirectories() {
  if (!Progress("Making Directories")) return false;
  settings_.rootDirectory = WithSlash(settings_.rootDirectory);
  DebugPrint("PATH: '%s'\n", settings_.rootDirectory.c_str());
  return KvMakeDirectories(settings_.rootDirectory.c_str()) != 0;
}

bool InstallEngine::CopyWithRetry(const std::string& pattern, const std::string& destination) {
  for (;;) {
    const int copied = KvCopy(pattern.c_str(), destination.c_str());
    // A code stored by an earlier copy must not show in a later error box.
    lastError_ = copied ? 0 : platform::GetLastError();
    if (copied) return true;
    if (Ask("Could not copy " + destination + " file.\nRetry copy ?", "Korvo Setup", Buttons::RetryCancel,
            Icon::Question) != Answer::Retry)
      return false;
  }
}

// Copies the media files of one part of the suite's list into the root
// folder, each recorded in the manifest once it is there.
bool InstallEngine::CopyPart(SuitePart part) {
  const std::string root = WithSlash(settings_.rootDirectory);
  for (const SuiteFile& file : kSuiteFiles) {
    if (file.part != part) continue;
    if (IsFolder(file)) {
      if (!CopyFolder(file.name)) return false;
      continue;
    }
    if (!Progress("Copying %s file", file.name)) return false;
    if (!CopyWithRetry(MediaPattern(file.name), root + file.name) || !Record(file.name)) return false;
  }
  return true;
}

bool InstallEngine::Record(const std::string& relative) {
  if (Manifest(settings_.rootDirectory).Record(relative)) return true;
  lastError_ = platform::GetLastError();
  return false;
}

bool InstallEngine::CopyClientFiles() {
  if (gClientFilesCopied) return true;
  if (!CopyPart(SuitePart::Client)) return false;
  gClientFilesCopied = true;
  return true;
}

// A folder of the media (the manager's help book): its files, the book's
// contents file first. The folder is recorded when this run made it.
bool InstallEngine::CopyFolder(const std::string& name) {
  const std::string folder = WithSlash(settings_.rootDirectory) + name;
  std::error_code ec;
  const bool made = !std::filesystem::exists(folder, ec);
  if (!KvMakeDirectories(folder.c_str())) return false;
  if (made && !Record(name)) return false;
  const std::string media = name.substr(0, name.size() - 1);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(media, ec))
    if (entry.is_regular_file(ec)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return (a == kHelpBook) != (b == kHelpBook) ? a == kHelpBook : a < b;
  });
  for (const std::string& file : names) {
    const std::string relative = name + file;
    if (!Progress("Copying %s file", (media + "/" + file).c_str())) return false;
    if (!CopyWithRetry(media + "/" + file, folder + file) || !Record(relative)) return false;
  }
  return true;
}

bool InstallEngine::CopyServerFiles() {
  if (!Progress("Removing Korvo Service ...") || !RemoveService()) return false;
  char serverRoot[kPathSize] = {};
  if (!KvGetServerRoot(serverRoot, sizeof serverRoot) || !KvMakeDirectories(serverRoot)) return false;
  if (!CopyPart(SuitePart::Server)) return false;
  LinkRelay(WithSlash(settings_.rootDirectory) + "korvo-relay");
  if (!Progress("Updating the Registry for Korvo Service ...")) return false;
  return KvSetServerExe((WithSlash(settings_.rootDirectory) + kServerProgram).c_str()) != 0;
}

bool InstallEngine::WriteServerValues() {
  const SetupSettings& s = settings_;
  const std::string root = WithSlash(s.rootDirectory);
  if (!Progress("Adding Korvo Server keys into Registry ...")) return false;
  return KvSetServerRoot((root + "Server").c_str()) && KvSetServerTcpIp(0) && KvSetServerPipes(1) &&
         KvWriteRegDword("Server", "MaxImgId", static_cast<uint32_t>(s.maxImgId)) &&
         KvWriteRegDword("Server", "MaxReqId", static_cast<uint32_t>(s.maxReqId)) &&
         SetStationIdentifierString(s.stationIdentifier) && SetRetryTimeout(static_cast<uint32_t>(s.retryTimeout)) &&
         SetRetryAttempts(static_cast<uint32_t>(s.retryAttempts)) &&
         KvWriteRegStr("Server", "ServiceAccount", s.serviceAccount.c_str()) &&
         KvWriteRegStr("Server", "MapiProfile", s.mapiProfile.c_str()) &&
         KvWriteRegStr("Server", "AutoDispatchTo", s.autoDispatchTo.c_str()) &&
         KvWriteRegStr("Server", "Organization", s.organization.c_str()) &&
         KvWriteRegStr("Server", "MainFaxNumber", s.mainFaxNumber.c_str()) &&
         KvWriteRegStr("Server", "MainPhoneNumber", s.mainPhoneNumber.c_str()) &&
         KvWriteRegStr("Server", "ContactPerson", s.contactPerson.c_str());
}

bool InstallEngine::WriteWorkstationValues() {
  const std::string root = WithSlash(settings_.rootDirectory);
  settings_.usersDataPath = root + "Users";
  // Every write counts: a value that did not reach the hive fails the step.
  return KvSetKorvoInstallPath(root.c_str()) && KvSetKorvoDefaultUsersDataPath(settings_.usersDataPath.c_str()) &&
         KvSetKorvoDefaultServer(settings_.defaultServer.c_str()) &&
         KvSetKorvoCoreName((root + "libkorvocore.so").c_str()) && KvSetKorvoLensName((root + "korvolens").c_str()) &&
         KvSetKorvoDeskName((root + "korvodesk").c_str()) && KvMakeUserDefaultEnvironment();
}

bool InstallEngine::RemoveService() {
  if (!ServiceInstalled()) return true;
  for (int round = 0; round < 3; ++round) {
    StopServerService(nullptr);
    RemoveServerService(nullptr);
    Wait(std::chrono::milliseconds(500));
  }
  return !ServiceInstalled();
}

bool InstallEngine::InstallService() {
  if (!Progress("Removing Korvo service ...") || !RemoveService()) return false;
  char program[kPathSize] = {};
  if (!KvGetServerExe(program, sizeof program)) return false;
  if (!Progress("Installing Korvo service ...")) return false;
  const SetupSettings& s = settings_;
  if (!InstallServerService(nullptr, program, s.serviceAccount.empty() ? nullptr : s.serviceAccount.c_str(),
                            s.servicePassword.empty() ? nullptr : s.servicePassword.c_str()))
    return false;
  if (!Progress("Starting Korvo service ...")) return false;
  StartServerService(nullptr);
  if (!Progress("Waiting for Korvo service to start ...")) return false;
  // A service slow to report running does not fail the installation.
  for (int round = 0; round < 10; ++round) {
    Wait(std::chrono::milliseconds(500));
    if (StopRequested()) return false;
    int running = 0;
    if (IsServerServiceRunning(nullptr, &running, nullptr) && running) break;
  }
  return true;
}

void InstallEngine::RemovePrinterParts() {
  RemoveFaxPrinter();
  RemovePortMonitor();
  RemovePrintDriver();
}

bool InstallEngine::InstallPrinter() {
  for (;;) {
    int running = 0;
    if (!IsServerServiceRunning(nullptr, &running, "Spooler")) return false;
    if (running) break;
    if (Ask("The Printer Spooler is not running!\nPlease make sure it is started and then continue",
            "Korvo Setup Spooler Check", Buttons::OkCancel, Icon::None) != Answer::Ok)
      return false;
  }
  while (IsFaxPrinterInstalled() == 0) {
    if (Ask("Setup has detected that \"Korvo Printer\" is ALREADY installed.\n"
            "Do you want to keep the existing Korvo Printer?",
            "Korvo Setup \"Korvo Printer\" Detected", Buttons::YesNo, Icon::None) == Answer::Yes)
      return true;
    OpenPrinterSettings();
    Ask(DeletePrinterText(), "Korvo Setup Remove \"Korvo Printer\" Instructions", Buttons::Ok, Icon::None);
    RemovePrinterParts();
  }
  RemovePrinterParts();
  const std::string root = WithSlash(settings_.rootDirectory);
  uint32_t code = 0;
  if (!Progress("Installing Korvo Print Driver ...")) return false;
  if ((code = InstallPrintDriver()) != 0) return Failed(code);
  if (!Progress("Installing Korvo Print Monitor ...")) return false;
  if ((code = InstallPortMonitor(root.c_str())) != 0) return Failed(code);
  if (!Progress("Installing Korvo Printer ...")) return false;
  if ((code = AddFaxPrinter()) != 0) return FailedAtSpooler(code, platform::SpoolerErrorText());
  return true;
}

bool InstallEngine::Failed(uint32_t code) {
  lastError_ = code;
  return false;
}

bool InstallEngine::FailedAtSpooler(uint32_t code, std::string refusal) {
  lastRefusal_ = std::move(refusal);
  return Failed(code);
}

void InstallEngine::OpenPrinterSettings() {
  if (!PrinterSettingsFound() || gControlPanelOpened.exchange(true)) return;
  platform::StartProcess({kPrinterSettings});
}

bool InstallEngine::InstallProgramGroup() {
  const bool ok = UnderWaitCursor([&] { return BuildProgramGroup(); });
  return ok;
}

void InstallEngine::RemoveOldGroup() {
  uint32_t id = 0;
  KvShellCommandsStart(&id);
  KvSendShellCommand(id, "[CreateGroup(\"Startup\",1)]");
  KvSendShellCommand(id, "[DeleteItem(\"Korvo Notifier\")]");
  KvSendShellCommand(id, "[DeleteItem(\"Korvo Manager\")]");
  KvSendShellCommand(id, "[ExitProgman(0)]");
  KvSendShellCommand(id, "[DeleteGroup(\"%s\",1)]", settings_.groupName.c_str());
  KvShellCommandsEnd(id);
}

bool InstallEngine::BuildProgramGroup() {
  RemoveOldGroup();
  uint32_t id = 0;
  if (!KvShellCommandsStart(&id)) return false;
  const std::string root = WithSlash(settings_.rootDirectory);
  const char* r = root.c_str();
  const char* group = settings_.groupName.c_str();
  int ok = 1;
  bool going = true;
  auto line = [&](const char* text) { going = going && Progress("%s", text); };
  KvSendShellCommand(id, "[DeleteGroup(\"Korvo\",1)]");
  KvSendShellCommand(id, "[CreateGroup(\"%s\",1)]", group);
  KvSendShellCommand(id, "[ShowGroup(\"%s\",7,1)]", group);
  // The group's items: progress line, file under the root, title. The
  // title goes into the command quoted by the format: a %s value is taken
  // as it stands, quote marks and all.
  static constexpr struct {
    const char* line;
    const char* file;
    const char* title;
  } kItems[] = {
      {"Adding Korvo Manager item into Korvo group", "korvodesk", "Korvo Manager"},
      {"Adding Korvo Notify item into Korvo group", "korvobell", "Korvo Notifier"},
      {"Adding Korvo Viewer item into Korvo group", "korvolens", "Korvo Viewer"},
      {"Adding Korvo Readme text file item into Korvo group", "README.TXT", "Readme"},
      {"Adding Korvo Installation Guide item into Korvo group", "install.html", "Installation Guide"},
      {"Adding Korvo Online help item into Korvo group", "help/index.html", "Help"},
  };
  for (const auto& item : kItems) {
    line(item.line);
    if (going) KvSendShellCommand(id, "[AddItem(\"%s%s\",\"%s\")]", r, item.file, item.title);
  }
  line("Adding Korvo Remove item into Korvo group");
  if (going)
    KvSendShellCommand(id, "[AddItem(\"%s%s\" /uninstall,Remove Korvo,\"%s%s\",1)]", r, "korvoprep", r, "korvoprep");
  if (going) ok = KvSendShellCommand(id, "[ExitProgman(0)]");
  // A program's item in the Startup group, in place of an earlier one.
  auto startup = [&](const char* text, const char* title, const char* file) {
    line(text);
    if (!going) return;
    KvSendShellCommand(id, "[ShowGroup(Startup,7,1)]");
    KvSendShellCommand(id, "[ReplaceItem(\"%s\")]", title);
    KvSendShellCommand(id, "[AddItem(\"%s%s\",\"%s\")]", r, file, title);
    ok = KvSendShellCommand(id, "[ExitProgman(0)]");
  };
  if (going && ok && settings_.managerInStartup)
    startup("Adding Korvo Manager item into Startup group", "Korvo Manager", "korvodesk");
  if (going && ok && settings_.notifierInStartup)
    startup("Adding Korvo Notifier item into Startup group", "Korvo Notifier", "korvobell");
  KvShellCommandsEnd(id);
  if (!going) return false;
  WriteUninstallEntry();
  return ok != 0;
}

bool InstallEngine::WriteUninstallEntry() {
  const std::string command = WithSlash(settings_.rootDirectory) + "korvoprep /uninstall";
  if (!Progress("Writing uninstall information ...")) return false;
  auto text = [](const std::string& s) {
    platform::RegistryValue v{platform::kRegSz, std::vector<uint8_t>(s.begin(), s.end())};
    v.data.push_back(0);
    return v;
  };
  return platform::UpdateRegistryHive(platform::RegistryHive::LocalMachine, [&](platform::RegistryHiveData& data) {
           return data.CreateKey(kUninstallKey) && data.SetValue(kUninstallKey, "DisplayName", text("Velmora Korvo 1.30")) &&
                  data.SetValue(kUninstallKey, "UninstallString", text(command));
         }) == platform::RegistryUpdate::kDone;
}

// --- Remove ------------------------------------------------------------------

bool InstallEngine::Remove() {
  removing_ = true;
  bool server = true;
  bool workstation = true;
  const bool serverFound = PartFound(settings_, SuitePart::Server);
  const bool workstationFound = PartFound(settings_, SuitePart::Client);
  if (serverFound) {
    server = RemoveServer();
    if (!server) Fail("Remove Server");
  }
  if (workstationFound) {
    workstation = RemoveWorkstation();
    if (!workstation) Fail("Remove Workstation");
  }
  if (server && workstation && !StopRequested()) {
    RemoveOldGroup();
    DeleteRegKey(platform::RegistryHive::LocalMachine, kUninstallKey);
    const std::string base = BaseKey();
    DeleteRegKey(platform::RegistryHive::LocalMachine, base + "\\Server");
    DeleteRegKey(platform::RegistryHive::LocalMachine, base);
    for (const char* program : {"\\Korvo Manager", "\\Korvo Viewer", "\\Notifier", ""})
      DeleteRegKey(platform::RegistryHive::CurrentUser, base + program);
  }
  return Finish(server && workstation);
}

bool InstallEngine::RemoveServer() {
  if (!Progress("Remove Korvo service  ...") || !RemoveService()) return false;
  UnlinkRelay(WithSlash(settings_.rootDirectory) + "korvo-relay");
  const bool removed = UnderWaitCursor([&] { return Progress("Remove Server files ...") && RemoveInstalledFiles(); });
  if (!removed) return false;
  return Progress("Mark Server not installed ...") && KvSetKorvoServer(0);
}

bool InstallEngine::RemoveWorkstation() {
  if (!Progress("Removing Korvo Print ...") || !RemovePrinter()) return false;
  const bool removed = UnderWaitCursor([&] { return Progress("Remove Workstation files and directories ...") && RemoveInstalledFiles(); });
  if (!removed) return false;
  return Progress("Mark Workstation not installed ...") && KvSetKorvoWorkstation(0);
}

bool InstallEngine::RemovePrinter() {
  bool asked = false;
  while (IsFaxPrinterInstalled() == 0) {
    Ask(DeletePrinterText(), "Korvo Setup Remove \"Korvo Printer\" Instructions", Buttons::Ok, Icon::None);
    asked = true;
    // A printer CUPS will not delete would be asked about for ever.
    const uint32_t code = RemoveFaxPrinter();
    // Taken before the check below asks cupsd again and replaces it.
    std::string refusal = platform::SpoolerErrorText();
    if (code != 0 && IsFaxPrinterInstalled() == 0) return FailedAtSpooler(code, std::move(refusal));
    RemovePortMonitor();
    RemovePrintDriver();
  }
  // The printer was deleted by hand: its backend, filter and agent entry go too.
  if (!asked) {
    RemovePortMonitor();
    RemovePrintDriver();
  }
  return true;
}

bool InstallEngine::RemoveInstalledFile(const std::string& root, const std::string& name) {
  if (!Progress("Removing %s%s file ...", root.c_str(), name.c_str())) return false;
  const std::string path = root + name;
  while (!platform::DeleteFileByName(path.c_str())) {
    if (platform::GetLastError() == ENOENT) break;
    if (Ask("Could not remove: " + name + " file.\nPlease make sure the file is not in use, then continue.",
            "Korvo Remove", Buttons::RetryCancel, Icon::Question) != Answer::Retry)
      return false;
  }
  return true;
}

// What the manifest names, the last made first (a folder after its files;
// one that still holds files of someone else's stays), then the manifest.
// Without a manifest (an installation older than it): the plain files of
// the suite's list. Once per run: both parts call it.
bool InstallEngine::RemoveInstalledFiles() {
  if (filesRemoved_) return true;
  const std::string root = WithSlash(settings_.rootDirectory);
  const Manifest manifest(root);
  std::vector<std::string> entries;
  if (manifest.exists()) {
    entries = manifest.Entries();
    std::reverse(entries.begin(), entries.end());
  } else {
    for (const SuiteFile& file : kSuiteFiles)
      if (file.part != SuitePart::Printer && !IsFolder(file)) entries.insert(entries.begin(), file.name);
  }
  for (const std::string& name : entries) {
    if (name.back() == '/') {
      std::error_code ec;
      std::filesystem::remove(root + name, ec);
      continue;
    }
    if (!RemoveInstalledFile(root, name)) return false;
  }
  if (!manifest.Delete()) {
    lastError_ = platform::GetLastError();
    return false;
  }
  filesRemoved_ = true;
  return true;
}

namespace {

// A part that was installed, or that an installation began (its files are in
// the manifest): removal takes it.
bool PartFound(const SetupSettings& settings, SuitePart part) {
  if (part == SuitePart::Server ? settings.server >= 2 : settings.workstation > 1) return true;
  for (const std::string& entry : Manifest(settings.rootDirectory).Entries())
    for (const SuiteFile& file : kSuiteFiles)
      if (file.part == part && (entry == file.name || (IsFolder(file) && entry.rfind(file.name, 0) == 0)))
        return true;
  return false;
}

}  // namespace

bool InstallationFound(const SetupSettings& settings) {
  return PartFound(settings, SuitePart::Server) || PartFound(settings, SuitePart::Client);
}

}  // namespace korvo
