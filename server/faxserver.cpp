#include "server/faxserver.h"

#include <cerrno>
#include <filesystem>
#include <vector>

#include "common/book_records.h"
#include "common/settings.h"
#include "common/status_codes.h"
#include "common/user_record.h"
#include "platform/announce.h"
#include "platform/eventlog.h"
#include "platform/lasterror.h"
#include "platform/local_socket.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/service.h"
#include "server/fax_session.h"
#include "server/handlers.h"
#include "server/ipcserver.h"
#include "server/journal.h"
#include "server/modem_subsystem.h"
#include "server/queue.h"
#include "server/shell.h"
#include "server/syslog.h"
#include "server/trace.h"

namespace korvo {

FaxServer* g_FaxServer = nullptr;
SysLog* g_SysLog = nullptr;
Journal* g_Journal = nullptr;
UserDatabase* g_UserDatabase = nullptr;
AddressDatabase* g_AddressBook = nullptr;
JunkSenderDatabase* g_JunkSenderBook = nullptr;

namespace {

ServerPaths gPaths;

bool StartSysLog(const ServerPaths& paths) {
  DebugTrace("Opening server event log  .....");
  int ok = 0;
  auto* log = new SysLog(paths.logFile.c_str(), kSysLogMaxSize, &ok);
  if (!ok) {
    delete log;
    AddToMessageLog(platform::kEventError, kEventLogFailed, "Failed to create Event Log");
    DebugTrace("FAILED !\n");
    return false;
  }
  g_SysLog = log;
  DebugTrace("done.\n");
  g_SysLog->Info("Fax Server: Starting Version %s", kServerVersionText);
  return true;
}

void StopSysLog() {
  delete g_SysLog;
  g_SysLog = nullptr;
}

bool StartJournal(const ServerPaths& paths) {
  DebugTrace("Opening journal database  .....");
  int ok = 0;
  auto* journal = new Journal(paths.journal.c_str(), &ok);
  if (!ok) {
    delete journal;
    g_SysLog->Error("Fax Server: Failed to start journal database module!");
    DebugTrace("FAILED !\n");
    return false;
  }
  g_Journal = journal;
  g_SysLog->Info("Fax Server: Journal database module started");
  DebugTrace("done.\n");
  return true;
}

void StopJournal() {
  delete g_Journal;
  g_Journal = nullptr;
}

// A book the server could not read was kept aside and a new one made: the
// administrator learns of it, and where the old records are.
void ReportKeptBook(const LockedDatabase& book) {
  if (!book.KeptAs().empty())
    g_SysLog->Error("Fax Server: %s is damaged, a new one was made; the damaged file is kept as %s",
                    book.GetPath().c_str(), book.KeptAs().c_str());
}

bool StartUserDatabase(const ServerPaths& paths) {
  DebugTrace("Opening reg. users database  .....");
  bool ok = false;
  auto* users = new UserDatabase(paths.regUsers, &ok);
  ReportKeptBook(*users);
  if (!ok) {
    delete users;
    g_SysLog->Error("Fax Server: Failed to start user administration module!");
    DebugTrace("FAILED !\n");
    return false;
  }
  g_UserDatabase = users;
  g_SysLog->Info("Fax Server: User administration module started");
  DebugTrace("done.\n");
  return true;
}

void StopUserDatabase() {
  delete g_UserDatabase;
  g_UserDatabase = nullptr;
}

bool StartAddressBook(const ServerPaths& paths) {
  bool ok = false;
  auto* book = new AddressDatabase(paths.addressBook, &ok);
  ReportKeptBook(*book);
  if (!ok) {
    delete book;
    g_SysLog->Error("Fax Server: Failed to open or create the address book!");
    DebugTrace("FAILED !\n");
    return false;
  }
  g_AddressBook = book;
  DebugTrace("done.\n");
  return true;
}

void StopAddressBook() {
  delete g_AddressBook;
  g_AddressBook = nullptr;
}

bool StartJunkSenderBook(const ServerPaths& paths) {
  bool ok = false;
  auto* book = new JunkSenderDatabase(paths.junkSenders, &ok);
  ReportKeptBook(*book);
  if (!ok) {
    delete book;
    g_SysLog->Error("Fax Server: Failed to open or create the junk senders book!");
    DebugTrace("FAILED !\n");
    return false;
  }
  g_JunkSenderBook = book;
  DebugTrace("done.\n");
  return true;
}

void StopJunkSenderBook() {
  delete g_JunkSenderBook;
  g_JunkSenderBook = nullptr;
}

bool StartModems(const ServerPaths&) {
  DebugTrace("Starting modem subsystem  .....");
  InstallFaxSessions();
  int ok = 0;
  auto* modems = new ModemSubsystem(g_JunkSenderBook, &ok);
  if (!ok) {
    delete modems;
    g_SysLog->Error("Fax Server: Failed to start the modem subsystem!");
    DebugTrace("FAILED !\n");
    return false;
  }
  g_ModemSubsystem = modems;
  g_SysLog->Info("Fax Server: Modem Subsystem Started");
  DebugTrace("done.\n");
  return true;
}

void StopModems() {
  delete g_ModemSubsystem;
  g_ModemSubsystem = nullptr;
}

// Sessions report to the modules started after this one, which go first.
void ModemsShutdownBegins() {
  if (g_ModemSubsystem) g_ModemSubsystem->StopSessions();
}

void SuspendModems(bool on) {
  if (!g_ModemSubsystem) return;
  if (on)
    g_ModemSubsystem->Suspend();
  else
    g_ModemSubsystem->Resume();
}

bool StartQueue(const ServerPaths& paths) {
  DebugTrace("Starting spooler queue  .....");
  QueueConfig config;
  config.listPath = paths.queueList;
  config.queueDir = paths.queueDir;
  config.tempDir = paths.tempDir;
  config.drawCoverPage = DrawCoverPageFile;
  int ok = 0;
  auto* queue = new Queue(config, &ok);
  if (!ok) {
    delete queue;
    g_SysLog->Error("Fax Server: Failed to start spooler queue!");
    DebugTrace("FAILED !\n");
    return false;
  }
  g_Queue = queue;
  g_SysLog->Info("Fax Server: Spooler Queue Started");
  DebugTrace("done.\n");
  return true;
}

void StopQueue() {
  delete g_Queue;
  g_Queue = nullptr;
}

// No batch is handed to a port once the sessions are being stopped.
void QueueShutdownBegins() {
  if (g_Queue) g_Queue->StopScheduler();
}

void SuspendQueue(bool on) {
  if (!g_Queue) return;
  if (on)
    g_Queue->Pause();
  else
    g_Queue->Resume();
}

platform::ServiceAnnouncement& Announcement() {
  static platform::ServiceAnnouncement announcement;
  return announcement;
}

bool StartIpcServer(const ServerPaths&) {
  DebugTrace("Starting IPC server  .....");
  InstallRequestHandlers();
  int ok = 0;
  auto* ipc = new IpcServer(&ok);
  if (!ok) {
    delete ipc;
    g_SysLog->Error("Fax Server:  Failed to start IPC server!");
    DebugTrace("FAILED !\n");
    return false;
  }
  g_IpcServer = ipc;
  g_SysLog->Info("Fax Server: IPC Started");
  DebugTrace("done.\n");
  // Other machines find the server by its announcement and reach it over SSH.
  uint32_t pipes = 0;
  if (KvGetServerPipes(&pipes) && pipes) {
    std::string machine = platform::ComputerName();
    machine = machine.substr(0, machine.find('.'));
    Announcement().Start("Korvo on " + machine, platform::kKorvoServiceType, platform::kAnnouncedPort);
  }
  return true;
}

void StopIpcServer() {
  Announcement().Stop();
  delete g_IpcServer;
  g_IpcServer = nullptr;
}

// Every client request ends before the other modules stop: a request that
// came later could undo their stopping (a resume lets the modem subsystem
// answer calls again, whose sessions would report to a deleted queue). The
// LAN stops seeing the server first.
void IpcShutdownBegins() {
  Announcement().Stop();
  if (g_IpcServer) g_IpcServer->Stop();
}

// The start-up order. Shutdown walks it backwards.
const std::vector<StartupStep>& Steps() {
  static const std::vector<StartupStep> steps = {
      {"DELETE SysLog !\n", StartSysLog, StopSysLog},
      {"DELETE Journal !\n", StartJournal, StopJournal},
      {"DELETE UAdmin !\n", StartUserDatabase, StopUserDatabase},
      {"DELETE AddrBook !\n", StartAddressBook, StopAddressBook},
      {"DELETE JunkBook !\n", StartJunkSenderBook, StopJunkSenderBook},
      {"DELETE FaxModem !\n", StartModems, StopModems, ModemsShutdownBegins, SuspendModems},
      {"DELETE FaxQue !\n", StartQueue, StopQueue, QueueShutdownBegins, SuspendQueue},
      {"DELETE IpcServer !\n", StartIpcServer, StopIpcServer, IpcShutdownBegins, IpcServer::SetSuspended},
  };
  return steps;
}

ServerPaths BuildPaths(const std::string& root) {
  ServerPaths p;
  p.root = root;
  p.queueDir = root + "/Queue";
  p.configDir = root + "/Config";
  p.booksDir = root + "/Books";
  p.tempDir = root + "/Temp";
  p.queueList = p.queueDir + "/Queue.lst";
  p.logFile = p.configDir + "/Korvo.log";
  p.regUsers = p.configDir + "/RegUsers.dbs";
  p.junkSenders = p.configDir + "/Denied.dbs";
  p.journal = p.configDir + "/Journal.dbs";
  p.addressBook = p.booksDir + "/Address.bok";
  return p;
}

}  // namespace

const ServerPaths& GetServerPaths() { return gPaths; }

FaxServer::FaxServer(int* ok) {
  *ok = 0;
  g_FaxServer = this;
  char root[260];
  const std::string hive = platform::RegistryHivePath(platform::RegistryHive::LocalMachine).string();
  if (!KvReadRegStr("Server", "RootPath", root, sizeof root)) {
    std::error_code ec;
    if (platform::GetLastError() == platform::kErrorBadHive)
      failureReason_ = "Could not start Korvo Service. The registry hive '" + hive + "' does not parse";
    else if (!std::filesystem::exists(hive, ec))
      failureReason_ = "Could not start Korvo Service. The registry hive '" + hive + "' does not exist";
    else
      failureReason_ = "Could not start Korvo Service. The machine value Server\\RootPath is not set in '" + hive + "'";
    return;
  }
  // An empty root is as good as none: it would put the server's folders at
  // the top of the file system.
  if (!root[0]) {
    failureReason_ = "Could not start Korvo Service. The machine value Server\\RootPath is not set in '" + hive + "'";
    return;
  }
  rootPath_ = root;
  gPaths = BuildPaths(rootPath_);
  // The root is the server's alone, whatever the umask, also when an older
  // server made it: clients get faxes and books only through requests.
  for (const auto* dir : {&gPaths.root, &gPaths.queueDir, &gPaths.configDir, &gPaths.booksDir, &gPaths.tempDir}) {
    std::error_code ec;
    std::filesystem::create_directories(*dir, ec);
    std::filesystem::permissions(*dir, std::filesystem::perms::owner_all, ec);
  }
  // A root that cannot be opened at all is left to the steps below to report.
  rootLock_ = platform::LockFolder(gPaths.root.c_str());
  if (rootLock_ == platform::kInvalidHandle && platform::GetLastError() == EWOULDBLOCK) {
    DebugTrace("Server root '%s' is in use by another server.\n", gPaths.root.c_str());
    return;
  }
  for (const auto& step : Steps()) {
    if (!step.start(gPaths)) return;
    ++built_;
  }
  ReportStatusToSCMgr(platform::kServiceRunning, 0, 0);
  g_SysLog->Info("Fax Server: Started");
  DebugTrace("Fax Server Daemon started.\n");
  *ok = 1;
}

FaxServer::~FaxServer() {
  const auto& steps = Steps();
  if (g_SysLog) g_SysLog->Info("Fax Server: Shutdown");
  for (size_t i = built_; i-- > 0;)
    if (steps[i].shutdownBegins) steps[i].shutdownBegins();
  for (size_t i = built_; i-- > 0;) {
    DebugTrace("%s", steps[i].deleteTrace);
    steps[i].stop();
  }
  // A start that built nothing had no daemon to stop.
  if (built_ > 0) DebugTrace("Fax Server Daemon Stoped.\n");
  built_ = 0;
  if (rootLock_ != platform::kInvalidHandle) platform::CloseHandle(rootLock_);
  lock_.Close();
  if (g_FaxServer == this) g_FaxServer = nullptr;
}

Status FaxServer::Suspend() {
  platform::MutexLock hold(lock_, kServerLockTimeout);
  if (!hold.locked()) return kStatusResourceNotFree;
  if (suspended_) return kStatusServerSuspended;
  suspended_ = true;
  const auto& steps = Steps();
  for (size_t i = built_; i-- > 0;)
    if (steps[i].suspend) steps[i].suspend(true);
  return kStatusSuccess;
}

Status FaxServer::Resume() {
  platform::MutexLock hold(lock_, kServerLockTimeout);
  if (!hold.locked()) return kStatusResourceNotFree;
  if (!suspended_) return kStatusServerNotSuspended;
  suspended_ = false;
  const auto& steps = Steps();
  for (size_t i = 0; i < built_; ++i)
    if (steps[i].suspend) steps[i].suspend(false);
  return kStatusSuccess;
}

bool FaxServer::StopServer() {
  if (IsConsoleMode()) {
    ServiceStop();
    return true;
  }
  // systemd answers with SIGTERM, the service's STOP.
  return platform::RunProcess({"systemctl", "--no-ask-password", "--no-block", "stop", "korvo.service"});
}

}  // namespace korvo
