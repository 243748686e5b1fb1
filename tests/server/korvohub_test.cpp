// KorvoHub as a process: command line, console mode, service mode under a
// stand-in for systemd's notification socket, start-up and shutdown.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/faxclient.h"
#include "common/settings.h"
#include "common/status_codes.h"
#include "platform/eventlog.h"
#include "server/faxserver.h"
#include "server/queue.h"
#include "tests/server/hub_fixture.h"
#include "tests/server/queue_fixture.h"
#include "tests/server/systemd_notify.h"
#include "tests/support/sandbox.h"

extern char** environ;

namespace korvo {
namespace {

namespace fs = std::filesystem;

using Hub = test::HubProcess;

using test::Notify;

struct Entry {
  uint32_t id;
  uint16_t type;
  std::string text;
};

// The entries of a log, oldest first.
std::vector<Entry> LogEntries(const char* logName) {
  std::vector<Entry> out;
  platform::EventLog log;
  if (!log.Open(logName)) return out;
  log.ReadNewestFirst([&](const platform::EventRecord& r) {
    out.insert(out.begin(), Entry{r.eventId, r.type, r.strings.empty() ? "" : r.strings[0]});
    return true;
  });
  return out;
}

std::vector<uint32_t> Ids(const std::vector<Entry>& entries) {
  std::vector<uint32_t> ids;
  for (const auto& e : entries) ids.push_back(e.id);
  return ids;
}

std::vector<std::string> Texts(const std::vector<Entry>& entries) {
  std::vector<std::string> texts;
  for (const auto& e : entries) texts.push_back(e.text);
  return texts;
}

// Positions of the lines in the text, in the order given; npos for a
// missing one.
bool InOrder(const std::string& text, const std::vector<std::string>& lines) {
  size_t at = 0;
  for (const auto& line : lines) {
    at = text.find(line, at);
    if (at == std::string::npos) {
      ADD_FAILURE() << "missing or out of order: \"" << line << "\" in\n" << text;
      return false;
    }
    at += line.size();
  }
  return true;
}

class KorvoHubTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("NOTIFY_SOCKET");
    unsetenv("INVOCATION_ID");
    root_ = sandbox_.path("server");
  }
  void SetRoot() {
    ASSERT_EQ(KvWriteRegStr("Server", "RootPath", root_.c_str()), 1);
    ASSERT_EQ(KvWriteRegDword("Server", "TcpIp", 0), 1);
    ASSERT_EQ(KvWriteRegDword("Server", "Pipes", 1), 1);
  }
  // A fresh server root with a fax image of `pages` in Temp, and a forked
  // process that serves on it with `serve` (given the write end of a pipe and
  // the image; it never returns). The pipe's read end is in *confirmations.
  pid_t ForkServer(int pages, const std::function<void(int confirm, const std::string& image)>& serve,
                   int* confirmations) {
    fs::remove_all(root_);
    SetRoot();
    fs::create_directories(root_ / "Temp");
    const std::string image = (root_ / "Temp" / "FAX0001.TMP").string();
    test::WriteFaxFile(image, pages);
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      serve(fds[1], image);
      _exit(0);
    }
    close(fds[1]);
    *confirmations = fds[0];
    return pid;
  }

  test::Sandbox sandbox_;
  fs::path root_;
};

const std::vector<std::string> kStartupLines = {
    "Opening server event log  .....done.\n",
    "Fax Server: Starting Version 1.30\n",
    "Opening journal database  .....",
    "Fax Server: Journal database module started\n",
    "done.\n",
    "Opening reg. users database  .....",
    "Fax Server: User administration module started\n",
    "done.\n",
    "done.\n",
    "done.\n",
    "Starting modem subsystem  .....",
    "No installed modems found in database !\n",
    "Fax Server: Modem Subsystem Started\n",
    "done.\n",
    "Starting spooler queue  .....",
    "Fax Server: Spooler Queue Started\n",
    "done.\n",
    "Starting IPC server  .....",
    "Fax Server: Named Pipes protocol enabled\n",
    "Fax Server: IPC Started\n",
    "done.\n",
    "Fax Server: Started\n",
    "Fax Server Daemon started.\n",
};
// The same steps in the trace channel, which has no log lines.
const std::vector<std::string> kStartupTraces = {
    "Opening server event log  .....", "done.\n", "Opening journal database  .....", "done.\n",
    "Opening reg. users database  .....", "done.\n", "done.\n", "done.\n", "Starting modem subsystem  .....",
    "done.\n", "Starting spooler queue  .....", "done.\n", "Starting IPC server  .....", "done.\n",
    "Fax Server Daemon started.\n"};
const std::vector<std::string> kShutdownTraces = {"DELETE IpcServer !\n", "DELETE FaxQue !\n", "DELETE FaxModem !\n", "DELETE JunkBook !\n",
                                                  "DELETE AddrBook !\n", "DELETE UAdmin !\n",
                                                  "DELETE Journal !\n", "DELETE SysLog !\n",
                                                  "Fax Server Daemon Stoped.\n"};
const std::vector<std::string> kShutdownLines = {
    "Fax Server: Shutdown\n",
    "DELETE IpcServer !\n",
    "DELETE FaxQue !\n",
    "DELETE FaxModem !\n",
    "DELETE JunkBook !\n",
    "DELETE AddrBook !\n",
    "DELETE UAdmin !\n",
    "DELETE Journal !\n",
    "DELETE SysLog !\n",
    "Fax Server Daemon Stoped.\n",
};

TEST_F(KorvoHubTest, DebugRunsInTheConsoleAndStopsOnCtrlCOrCtrlBreak) {
  for (int sig : {SIGINT, SIGQUIT}) {
    SCOPED_TRACE(sig);
    fs::remove_all(root_);
    fs::remove_all(sandbox_.logDir());
    SetRoot();
    Hub hub({"-debug"});
    ASSERT_TRUE(hub.started());
    ASSERT_TRUE(hub.WaitFor("Fax Server Daemon started.\n")) << hub.output();
    EXPECT_TRUE(InOrder(hub.output(), kStartupLines));
    for (const char* dir : {"", "Queue", "Config", "Books", "Temp"}) EXPECT_TRUE(fs::is_directory(root_ / dir)) << dir;
    for (const char* file : {"Config/Journal.dbs", "Config/RegUsers.dbs", "Books/Address.bok", "Config/Denied.dbs"})
      EXPECT_TRUE(fs::exists(root_ / file)) << file;

    hub.Signal(sig);
    EXPECT_EQ(hub.Wait(), 0);
    EXPECT_TRUE(InOrder(hub.output(), kShutdownLines));
    EXPECT_TRUE(fs::exists(root_ / "Queue" / "Queue.lst"));
    // The server's own log has its lines; the shell writes nothing in console mode.
    EXPECT_EQ(Texts(LogEntries("Korvo")),
              (std::vector<std::string>{"Fax Server: Starting Version 1.30", "Fax Server: Journal database module started",
                                        "Fax Server: User administration module started",
                                        "No installed modems found in database !",
                                        "No enabled modems found in database !",
                                        "Fax Server: Modem Subsystem Started", "Fax Server: Spooler Queue Started",
                                        "Fax Server: Named Pipes protocol enabled", "Fax Server: IPC Started",
                                        "Fax Server: Started",
                                        "Fax Server: Shutdown"}));
    EXPECT_TRUE(LogEntries("System").empty());
  }
}

// A start that fails exits non-zero, for scripts and systemd, naming the
// hive it looked for.
TEST_F(KorvoHubTest, DebugWithoutRootPathSaysSoAndMakesNothing) {
  Hub hub({"/DEBUG"});
  EXPECT_EQ(hub.Wait(), 1);
  EXPECT_NE(hub.output().find("Could not start Korvo Service. The registry hive '" + sandbox_.machineHive().string() +
                              "' does not exist\n"),
            std::string::npos)
      << hub.output();
  EXPECT_EQ(hub.output().find("ALREADY"), std::string::npos) << hub.output();
  EXPECT_EQ(hub.output().find("Stoped"), std::string::npos) << "nothing had started";
  EXPECT_EQ(hub.output().find("Opening"), std::string::npos);
  EXPECT_FALSE(fs::exists(root_));
  EXPECT_TRUE(LogEntries("System").empty());
  EXPECT_TRUE(LogEntries("Korvo").empty());
}

// Two servers on one root would each save their own view of the queue over
// the other's and send the same faxes.
TEST_F(KorvoHubTest, ASecondServerOnTheSameRootDoesNotStart) {
  SetRoot();
  Hub first({"-debug"});
  ASSERT_TRUE(first.WaitFor("Fax Server Daemon started.\n")) << first.output();
  Hub second({"-debug"});
  EXPECT_EQ(second.Wait(), 1);
  EXPECT_TRUE(InOrder(second.output(), {"Server root '" + root_.string() + "' is in use by another server.\n",
                                        "Could not start Korvo Service. The Service ALREADY started?\n"}));
  EXPECT_EQ(second.output().find("Opening"), std::string::npos) << "no module was built";
  EXPECT_EQ(second.output().find("DELETE"), std::string::npos);
  const auto log = Texts(LogEntries("Korvo"));
  EXPECT_EQ(std::count(log.begin(), log.end(), "Fax Server: Starting Version 1.30"), 1);
  // The first goes on serving on its socket.
  uint32_t version = 0;
  EXPECT_EQ(FaxClient().GetServerVersion(".", version).status, 0u);
  first.Signal(SIGINT);
  EXPECT_EQ(first.Wait(), 0);
  // Once it has gone the root is free again.
  Hub third({"-debug"});
  ASSERT_TRUE(third.WaitFor("Fax Server Daemon started.\n")) << third.output();
  third.Signal(SIGINT);
  EXPECT_EQ(third.Wait(), 0);
}

TEST_F(KorvoHubTest, ServesClientsOnItsSocketUntilItStops) {
  SetRoot();
  Hub hub({"-debug"});
  ASSERT_TRUE(hub.WaitFor("Fax Server Daemon started.\n")) << hub.output();
  uint32_t version = 0;
  ASSERT_EQ(FaxClient().GetServerVersion(".", version).status, 0u);
  EXPECT_EQ(version, 0x011Eu);
  // The refusal's text comes from the server's own message table.
  RequestExchange exchange("stranger");
  ReceivedMessage reply;
  const RequestResult refused = exchange.Run(".", FaxClient::kAddUser, nullptr, &reply);
  EXPECT_EQ(refused.status, kStatusNotRegisteredUser);
  EXPECT_NE(refused.text.find("(User is not a registered user at this Korvo server)."), std::string::npos)
      << refused.text;
  hub.Signal(SIGINT);
  EXPECT_EQ(hub.Wait(), 0);
  EXPECT_NE(FaxClient().GetServerVersion(".", version).status, 0u);
  const auto texts = Texts(LogEntries("Korvo"));
  // Only root may act for another user: any other login is refused as itself.
  const std::string refusedAs = geteuid() == 0 ? "stranger" : test::OwnLogin();
  EXPECT_NE(std::find(texts.begin(), texts.end(), "[" + refusedAs + "] User has no permissions"), texts.end());
}

TEST_F(KorvoHubTest, ServiceReportsToSystemdAndTakesItsControls) {
  SetRoot();
  ASSERT_EQ(KvWriteRegDword(nullptr, "DebugFlags", 1), 1);
  Notify notify(sandbox_);
  Hub hub(std::vector<std::string>{});
  ASSERT_TRUE(hub.started());
  ASSERT_TRUE(notify.WaitFor("READY=1"));
  EXPECT_EQ(notify.seen().front(), "STATUS=Starting\nEXTEND_TIMEOUT_USEC=10000000");
  // Pause and continue are logged and change nothing else; each answers with
  // the current state.
  hub.Signal(SIGUSR1);
  ASSERT_TRUE(notify.WaitFor("STATUS=Running"));
  hub.Signal(SIGUSR2);
  ASSERT_TRUE(notify.WaitFor("STATUS=Running"));
  hub.Signal(SIGTERM);
  ASSERT_TRUE(notify.WaitFor("STATUS=Stopped"));
  EXPECT_EQ(hub.Wait(), 0);
  EXPECT_EQ(notify.seen()[notify.seen().size() - 2], "STOPPING=1\nSTATUS=Stopping");

  EXPECT_TRUE(InOrder(hub.output(), {"Korvo -install          to install the service\n",
                                     "Korvo -remove           to remove the service\n",
                                     "Korvo -debug <params>   to run as a console app for debugging\n",
                                     "\nStartServiceCtrlDispatcher being called.\n",
                                     "This may take several seconds.  Please wait.\n"}));
  EXPECT_EQ(hub.output().find("Opening"), std::string::npos) << "traces reach the console only under -debug";
  // READY goes out at the end of start-up, just before 9000 is written, so
  // the pause may come first.
  auto shell = LogEntries("System");
  auto started = std::find_if(shell.begin(), shell.end(), [](const Entry& e) { return e.id == 9000; });
  ASSERT_NE(started, shell.end());
  EXPECT_EQ(started->text, "Korvo Service started");
  EXPECT_EQ(started->type, platform::kEventInformation);
  shell.erase(started);
  EXPECT_EQ(Ids(shell), (std::vector<uint32_t>{9011, 9012, 9010}));
  EXPECT_EQ(Texts(shell), (std::vector<std::string>{"Korvo Service paused", "Korvo Service resumed", "Korvo Service stopped"}));
  // The traces show the modules deleted in the reverse order of start-up.
  const std::string trace = test::Sandbox::readFile(sandbox_.traceFile());
  EXPECT_TRUE(InOrder(trace, kStartupTraces));
  EXPECT_TRUE(InOrder(trace, kShutdownTraces));
}

// No usable root: nothing is made, the service stops with 9005 and the true
// reason where it is known.
TEST_F(KorvoHubTest, WithoutRootPathNothingIsMadeAndTheServiceStops) {
  const std::string hive = sandbox_.machineHive().string();
  const std::string unset = "Could not start Korvo Service. The machine value Server\\RootPath is not set in '" + hive + "', (Error:";
  struct Case {
    const char* what;
    const char* hiveText;  // null: a hive whose RootPath is empty
    std::string text;       // how the 9005 entry starts
  };
  const Case cases[] = {
      {"missing", "REGEDIT4\r\n", unset},
      {"empty", nullptr, unset},
      {"hive that does not parse", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\r\n\"x\"=\r\n",
       "Could not start Korvo Service. The registry hive '" + hive + "' does not parse, (Error:"},
  };
  // An empty root would have been the file system's root.
  const bool queueBefore = fs::exists("/Queue"), configBefore = fs::exists("/Config");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(sandbox_.logDir());
    if (c.hiveText) {
      test::Sandbox::writeFile(hive, c.hiveText);
    } else {
      test::Sandbox::writeFile(hive, "REGEDIT4\r\n");
      ASSERT_EQ(KvWriteRegStr("Server", "RootPath", ""), 1);
    }
    Notify notify(sandbox_);
    Hub hub(std::vector<std::string>{});
    ASSERT_TRUE(hub.started());
    ASSERT_TRUE(notify.WaitFor("STATUS=Stopped"));
    EXPECT_EQ(hub.Wait(), 1);
    EXPECT_FALSE(fs::exists(root_));
    EXPECT_EQ(fs::exists("/Queue"), queueBefore);
    EXPECT_EQ(fs::exists("/Config"), configBefore);
    const auto shell = LogEntries("System");
    ASSERT_EQ(shell.size(), 1u);
    EXPECT_EQ(shell[0].id, 9005u);
    EXPECT_EQ(shell[0].type, platform::kEventError);
    EXPECT_EQ(shell[0].text.rfind(c.text, 0), 0u) << shell[0].text;
    EXPECT_TRUE(LogEntries("Korvo").empty());
    for (const auto& m : notify.seen()) EXPECT_EQ(m.find("READY=1"), std::string::npos);
  }
}

TEST_F(KorvoHubTest, AFailedStepStopsStartUpAndIsReported) {
  const std::string started = "Fax Server: Starting Version 1.30";
  const std::string journal = "Fax Server: Journal database module started";
  const std::string users = "Fax Server: User administration module started";
  const std::string failed = "Could not start Korvo Service. The Service ALREADY started?";
  struct Case {
    const char* blocker;  // a folder with content where the file belongs, or a file for a folder
    bool asFile;
    std::vector<std::string> log;
    std::vector<std::string> deleted;
  };
  for (const Case& c : {
           Case{"Config", true,
                {started, "Journal database initialization failed", "Fax Server: Failed to start journal database module!"},
                {"DELETE SysLog !\n"}},
           Case{"Config/RegUsers.dbs/x", false, {started, journal, "Fax Server: Failed to start user administration module!"},
                {"DELETE Journal !\n", "DELETE SysLog !\n"}},
           Case{"Books/Address.bok/x", false, {started, journal, users, "Fax Server: Failed to open or create the address book!"},
                {"DELETE UAdmin !\n", "DELETE Journal !\n", "DELETE SysLog !\n"}},
           Case{"Config/Denied.dbs/x", false,
                {started, journal, users, "Fax Server: Failed to open or create the junk senders book!"},
                {"DELETE AddrBook !\n", "DELETE UAdmin !\n", "DELETE Journal !\n", "DELETE SysLog !\n"}},
       }) {
    SCOPED_TRACE(c.blocker);
    fs::remove_all(root_);
    fs::remove_all(sandbox_.logDir());
    fs::remove(sandbox_.traceFile());
    SetRoot();
    ASSERT_EQ(KvWriteRegDword(nullptr, "DebugFlags", 1), 1);
    if (c.asFile) test::Sandbox::writeFile(root_ / c.blocker, "a file where the folder belongs");
    else fs::create_directories(root_ / c.blocker);
    Notify notify(sandbox_);
    Hub hub(std::vector<std::string>{});
    ASSERT_TRUE(notify.WaitFor("STATUS=Stopped"));
    EXPECT_EQ(hub.Wait(), 1);
    EXPECT_EQ(Ids(LogEntries("System")), std::vector<uint32_t>{9005});
    auto log = c.log;
    log.push_back(failed);
    log.push_back("Fax Server: Shutdown");
    EXPECT_EQ(Texts(LogEntries("Korvo")), log);
    // What was built goes again, newest first; nothing else.
    const std::string trace = test::Sandbox::readFile(sandbox_.traceFile());
    EXPECT_NE(trace.find("FAILED !\n"), std::string::npos);
    EXPECT_TRUE(InOrder(trace, c.deleted));
    size_t deletes = 0;
    for (size_t at = 0; (at = trace.find("DELETE ", at)) != std::string::npos; ++at) ++deletes;
    EXPECT_EQ(deletes, c.deleted.size());
  }
}

TEST_F(KorvoHubTest, AnEventLogThatCannotBeRegisteredStopsStartUp) {
  SetRoot();
  // The machine hive stays readable but takes no change: its lock file is a
  // folder.
  const fs::path lock = sandbox_.machineHive().string() + ".lock";
  fs::remove(lock);
  fs::create_directory(lock);
  Notify notify(sandbox_);
  Hub hub(std::vector<std::string>{});
  ASSERT_TRUE(notify.WaitFor("STATUS=Stopped"));
  EXPECT_EQ(hub.Wait(), 1);
  const auto shell = LogEntries("System");
  ASSERT_EQ(Ids(shell), (std::vector<uint32_t>{9002, 9005}));
  EXPECT_EQ(shell[0].type, platform::kEventError);
  EXPECT_EQ(shell[0].text.rfind("Failed to create Event Log, (Error:", 0), 0u) << shell[0].text;
  EXPECT_TRUE(LogEntries("Korvo").empty());
  // The directories were made; no module was.
  EXPECT_TRUE(fs::is_directory(root_ / "Config"));
  EXPECT_FALSE(fs::exists(root_ / "Config" / "Journal.dbs"));
  fs::remove(lock);
}

TEST_F(KorvoHubTest, InstallAndRemoveTakeAnyPrefixAndCase) {
  const fs::path unit = sandbox_.systemdDir() / "korvo.service";
  struct Case {
    std::vector<std::string> install;
    const char* remove;
    const char* userLine;
  };
  for (const Case& c : {Case{{"-install"}, "-remove", nullptr}, Case{{"/install"}, "/REMOVE", nullptr},
                        Case{{"-INSTALL", "faxuser"}, "/Remove", "User=faxuser\n"},
                        Case{{"/InStAlL", "OFFICE\\fax", "pw"}, "-rEmOvE", "User=fax\n"}}) {
    SCOPED_TRACE(c.install[0]);
    Hub install(c.install);
    EXPECT_EQ(install.Wait(), 0);
    EXPECT_EQ(install.output(), "") << "install messages go to the log, not the console";
    const std::string text = test::Sandbox::readFile(unit);
    EXPECT_NE(text.find("ExecStart=\"" + (test::BuildDir() / "server" / "korvohub").string() + "\""), std::string::npos)
        << text;
    if (c.userLine) EXPECT_NE(text.find(c.userLine), std::string::npos) << text;
    else EXPECT_EQ(text.find("User="), std::string::npos);
    Hub again(c.install);
    EXPECT_EQ(again.Wait(), 0);
    Hub remove({c.remove});
    EXPECT_EQ(remove.Wait(), 0);
    EXPECT_FALSE(fs::exists(unit));
    Hub removeAgain({c.remove});
    EXPECT_EQ(removeAgain.Wait(), 0);

    auto entries = LogEntries("System");
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(Ids(entries), (std::vector<uint32_t>{9088, 9088, 9088, 9088}));
    EXPECT_EQ(entries[0].text, "Korvo Server installed.\n");
    EXPECT_EQ(entries[1].text, "CreateService failed - File exists (0x11)\n");
    EXPECT_EQ(entries[2].text, "Korvo Server removed.\n");
    EXPECT_EQ(entries[3].text, "OpenService failed - No such file or directory (0x2)\n");
    platform::EventLog log;
    ASSERT_TRUE(log.Open("System"));
    ASSERT_TRUE(log.Clear());
  }
}

TEST_F(KorvoHubTest, OutsideSystemdTheDispatcherFails) {
  for (std::vector<std::string> args : {std::vector<std::string>{}, {"-bogus"}, {"install"}, {"-debugx"}}) {
    SCOPED_TRACE(args.empty() ? "(none)" : args[0]);
    Hub hub(args);
    EXPECT_EQ(hub.Wait(), 1);
    EXPECT_NE(hub.output().find("This may take several seconds.  Please wait.\n"), std::string::npos);
    auto entries = LogEntries("System");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].id, 9006u);
    EXPECT_EQ(entries[0].text.rfind("StartServiceCtrlDispatcher failed., (Error:", 0), 0u) << entries[0].text;
    platform::EventLog log;
    ASSERT_TRUE(log.Open("System"));
    ASSERT_TRUE(log.Clear());
  }
}

// A server process that starts up like the hub, then submits faxes to the
// queue one after another, writing one byte to the pipe after each accepted
// one (and never returns: the test kills it).
[[noreturn]] void SubmittingServer(int confirm, const std::string& image, int count) {
  int ok = 0;
  auto* server = new FaxServer(&ok);
  for (int i = 0; ok && g_Queue && i < count; ++i) {
    FaxHeader header;
    header.sender = test::Lan("alice");
    header.subject = "Fax " + std::to_string(i);
    header.sendTime = ScheduleTimeInfo();  // due now
    header.recipients.AddTail(test::Fax("555" + std::to_string(i)));
    if (g_Queue->InsertFax(image.c_str(), header, Queue::kKindSubmitted, 0, JobState::Queued) != 1) break;
    if (write(confirm, "k", 1) != 1) break;
  }
  (void)server;
  for (;;) pause();
}

// The same with several clients at once, whose submissions share saves:
// each thread writes the number of every accepted fax to the pipe.
[[noreturn]] void ConcurrentlySubmittingServer(int confirm, const std::string& image, int threads, int each) {
  int ok = 0;
  auto* server = new FaxServer(&ok);
  for (int t = 0; ok && g_Queue && t < threads; ++t)
    std::thread([=] {
      for (int i = 0; i < each; ++i) {
        FaxHeader header;
        header.sender = test::Lan("alice");
        header.subject = "Fax";
        header.sendTime = ScheduleTimeInfo(ScheduleTimeInfo::kAtChosenTime, 2000000000);  // not due
        const std::string number = "555" + std::to_string(t) + "-" + std::to_string(i);
        header.recipients.AddTail(test::Fax(number));
        if (g_Queue->InsertFax(image.c_str(), header, Queue::kKindSubmitted, 0, JobState::Queued) != 1) return;
        const std::string line = number + "\n";  // one write, whole in a pipe
        if (write(confirm, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return;
      }
    }).detach();
  (void)server;
  for (;;) pause();
}

// The jobs a fresh start finds in the root's Queue.lst and the change log
// beside it (read from copies, so this check saves nothing itself).
std::vector<FaxReq> QueuedJobs(test::Sandbox& sandbox, const fs::path& root) {
  auto copy = sandbox.path("copy.lst");
  const std::string log = Queue::LogPath((root / "Queue" / "Queue.lst").string());
  if (fs::exists(log)) test::Sandbox::writeFile(Queue::LogPath(copy.string()), test::Sandbox::readFile(log));
  if (fs::exists(root / "Queue" / "Queue.lst"))
    test::Sandbox::writeFile(copy, test::Sandbox::readFile(root / "Queue" / "Queue.lst"));
  test::FakePorts ports(0);
  QueueConfig config;
  config.listPath = copy.string();
  config.queueDir = (root / "Queue").string();
  config.ports = &ports;
  config.periodMs = platform::kInfinite;
  int ok = 0;
  auto jobs = Queue(config, &ok).Jobs();
  fs::remove(copy);
  fs::remove(Queue::LogPath(copy.string()));
  return jobs;
}

TEST_F(KorvoHubTest, FaxesAcceptedBeforeAKillAreQueuedAfterTheRestart) {
  struct Case {
    int submit;   // faxes the server accepts
    int waitFor;  // confirmations read before the kill
  };
  // Killed idle right after an accepted fax; killed while it goes on saving.
  for (const Case c : {Case{1, 1}, Case{200, 25}}) {
    SCOPED_TRACE(c.submit);
    int confirmations = -1;
    const pid_t pid = ForkServer(
        2, [&](int confirm, const std::string& image) { SubmittingServer(confirm, image, c.submit); }, &confirmations);
    ASSERT_GT(pid, 0);
    int confirmed = 0;
    char byte;
    while (confirmed < c.waitFor && read(confirmations, &byte, 1) == 1) ++confirmed;
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    close(confirmations);
    ASSERT_EQ(confirmed, c.waitFor);

    // Whatever moment the kill hit, the list is whole and holds every
    // accepted fax; the hub starts on it and keeps them.
    auto jobs = QueuedJobs(sandbox_, root_);
    ASSERT_GE(jobs.size(), static_cast<size_t>(confirmed));
    for (size_t i = 0; i < jobs.size(); ++i) {
      EXPECT_EQ(jobs[i].jobId, i + 1);
      EXPECT_EQ(jobs[i].recipient.address, "555" + std::to_string(i));
    }
    Hub hub({"-debug"});
    ASSERT_TRUE(hub.WaitFor("Fax Server Daemon started.\n")) << hub.output();
    hub.Signal(SIGINT);
    EXPECT_EQ(hub.Wait(), 0);
    EXPECT_EQ(QueuedJobs(sandbox_, root_).size(), jobs.size());
    EXPECT_FALSE(fs::exists(root_ / "Queue" / "Queue.lst.new"));
  }
}

// Killed while eight clients submit at once, at a moment the test does not
// choose or while a full save takes the change log into Queue.lst (the
// rewritten list not yet renamed over the old one): every fax the server
// answered for is in what a restart reads, once, whichever save it shared.
TEST_F(KorvoHubTest, FaxesAcceptedFromManyClientsBeforeAKillAreQueuedAfterTheRestart) {
  constexpr int kThreads = 8;
  const fs::path rewriting = root_ / "Queue" / "Queue.lst.new";
  const struct {
    const char* name;
    int each;
    size_t least;  // answers before the kill
    std::function<bool(size_t confirmed)> killNow;
  } cases[] = {
      {"after 60 answers", 40, 60, [](size_t confirmed) { return confirmed >= 60; }},
      {"during a rewrite", 100, 20, [&](size_t confirmed) { return confirmed >= 20 && fs::exists(rewriting); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int confirmations = -1;
    const pid_t pid = ForkServer(
        1, [&](int confirm, const std::string& image) { ConcurrentlySubmittingServer(confirm, image, kThreads, c.each); },
        &confirmations);
    ASSERT_GT(pid, 0);
    fcntl(confirmations, F_SETFL, O_NONBLOCK);
    std::vector<std::string> confirmed;
    std::string pending;
    auto take = [&] {
      for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1))
        confirmed.push_back(pending.substr(0, end));
    };
    char buf[256];
    while (confirmed.size() < static_cast<size_t>(kThreads * c.each) && !c.killNow(confirmed.size())) {
      const ssize_t n = read(confirmations, buf, sizeof buf);
      if (n == 0 || (n < 0 && errno != EAGAIN)) break;
      if (n < 0)
        sched_yield();
      else
        pending.append(buf, static_cast<size_t>(n));
      take();
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    // What the server answered before the kill and is still in the pipe.
    for (ssize_t n; (n = read(confirmations, buf, sizeof buf)) > 0;) pending.append(buf, static_cast<size_t>(n));
    take();
    close(confirmations);
    ASSERT_GE(confirmed.size(), c.least);

    const auto jobs = QueuedJobs(sandbox_, root_);
    std::set<std::string> queued;
    for (const auto& job : jobs) queued.insert(job.recipient.address);
    EXPECT_EQ(queued.size(), jobs.size()) << "a fax queued twice";
    for (const auto& number : confirmed) EXPECT_EQ(queued.count(number), 1u) << number;
    Hub hub({"-debug"});
    ASSERT_TRUE(hub.WaitFor("Fax Server Daemon started.\n")) << hub.output();
    hub.Signal(SIGINT);
    EXPECT_EQ(hub.Wait(), 0);
    EXPECT_EQ(QueuedJobs(sandbox_, root_).size(), queued.size());
    EXPECT_FALSE(fs::exists(rewriting));
    EXPECT_FALSE(fs::exists(Queue::LogPath((root_ / "Queue" / "Queue.lst").string()))) << "the stop took the log in";
  }
}

}  // namespace
}  // namespace korvo
