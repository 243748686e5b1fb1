// A real korvohub -debug in a sandbox, for tests that talk to it with
// FaxClient: the server root, a registered user for the test's own login
// with every right, the hub process and its console output.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/faxclient.h"
#include "common/fields.h"
#include "common/request_exchange.h"
#include "common/settings.h"
#include "common/user_record.h"
#include "platform/eventlog.h"
#include "platform/username.h"
#include "tests/server/modem_table.h"
#include "tests/support/sandbox.h"

extern char** environ;

namespace korvo::test {

// The hub as a child process (korvohub with the given options) with its
// standard output in a pipe. The destructor kills and reaps it when the test
// did not.
class HubProcess {
 public:
  static constexpr int kPatienceMs = 60000;  // only ever reached when something hangs

  // The built korvohub, or the program given (an installed one).
  explicit HubProcess(const std::vector<std::string>& args = {"-debug"}, const std::string& program = "") {
    std::vector<std::string> argvText = {program.empty() ? (BuildDir() / "server" / "korvohub").string() : program};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argvText) argv.push_back(a.data());
    argv.push_back(nullptr);
    int fds[2];
    if (pipe(fds) != 0) return;
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
      // A test that dies takes its server with it, and the server never
      // holds the test's output open after that.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(127);
      dup2(fds[1], STDOUT_FILENO);
      close(fds[0]);
      close(fds[1]);
      execve(argv[0], argv.data(), environ);
      _exit(127);
    }
    close(fds[1]);
    out_ = fds[0];
  }
  ~HubProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      Wait();
    }
    if (out_ >= 0) close(out_);
  }
  HubProcess(const HubProcess&) = delete;
  HubProcess& operator=(const HubProcess&) = delete;

  bool started() const { return pid_ > 0; }
  void Signal(int sig) { kill(pid_, sig); }

  // Reads output until it holds the text; false at end of output.
  bool WaitFor(const std::string& text) {
    while (output_.find(text) == std::string::npos)
      if (!ReadMore()) return false;
    return true;
  }
  // Reaps the process after the rest of its output; its exit code, -1 when
  // it did not exit normally.
  int Wait() {
    while (ReadMore()) {
    }
    int status = 0;
    while (pid_ > 0 && waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  const std::string& output() const { return output_; }

 private:
  bool ReadMore() {
    if (out_ < 0) return false;
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, kPatienceMs) <= 0) return false;
    char buf[4096];
    ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) return false;
    output_.append(buf, static_cast<size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  std::string output_;
};

// Runs the body on a thread of its own whose effective user is nobody, so
// that its connections carry nobody's credentials (the thread's own, not
// the process's: the raw call changes only the calling thread).
inline void AsNobody(const std::function<void()>& body) {
  std::thread t([&] {
    ASSERT_EQ(syscall(SYS_setresuid, -1, 65534, -1), 0);
    body();
  });
  t.join();
}

inline std::string OwnLogin() {
  char name[64] = {};
  platform::GetUserName(name, sizeof name);
  return name;
}

// The server's log entries, oldest first.
inline std::vector<std::string> ServerLog() {
  std::vector<std::string> out;
  platform::EventLog log;
  if (!log.Open("Korvo")) return out;
  log.ReadNewestFirst([&](const platform::EventRecord& r) {
    out.insert(out.begin(), r.strings.empty() ? "" : r.strings[0]);
    return true;
  });
  return out;
}

inline bool ServerLogged(const std::string& line) {
  auto texts = ServerLog();
  return std::find(texts.begin(), texts.end(), line) != texts.end();
}

class HubFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("NOTIFY_SOCKET");
    unsetenv("INVOCATION_ID");
    root_ = sandbox_.path("server");
    ASSERT_EQ(KvWriteRegStr("Server", "RootPath", root_.c_str()), 1);
    ASSERT_EQ(KvWriteRegDword("Server", "TcpIp", 0), 1);
    ASSERT_EQ(KvWriteRegDword("Server", "Pipes", 1), 1);
    // The client's data folder, where FaxClient makes its temporary files.
    ASSERT_EQ(KvWriteRegUserStr(nullptr, "DataPath", sandbox_.path("client").c_str()), 1);
    RequestExchange::SetDisconnectPause(std::chrono::milliseconds(0));
    std::filesystem::create_directories(root_ / "Config");
    // The test's own login administers the server.
    bool ok = false;
    UserDatabase users((root_ / "Config" / "RegUsers.dbs").string(), &ok);
    ASSERT_TRUE(ok);
    std::string text;
    EncodeFields(&text, {OwnLogin(), "", "63", "", "", "", "", ""}, 8);
    ASSERT_TRUE(users.AddUser(text));
  }
  void TearDown() override {
    hub_.reset();
    RequestExchange::SetDisconnectPause(std::chrono::milliseconds(100));
  }
  void StartHub() {
    hub_ = std::make_unique<HubProcess>();
    ASSERT_TRUE(hub_->WaitFor("Fax Server Daemon started.\n")) << hub_->output();
  }
  // A client acting for another registered user.
  FaxClient ClientFor(const char* user) {
    FaxClient client;
    EXPECT_EQ(client.ActForUser(".", user), 1) << user;
    return client;
  }
  std::string TempPath(const std::string& name) { return sandbox_.path(name).string(); }

  Sandbox sandbox_;
  std::filesystem::path root_;
  std::unique_ptr<HubProcess> hub_;
  FaxClient client_;
};

}  // namespace korvo::test
