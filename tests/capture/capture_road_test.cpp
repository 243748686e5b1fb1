// The fax printer on a private cupsd: lp to Korvo_Printer, the filter, the
// backend, the user's capture agent (its model here, and the program
// korvocapture) and the port functions of libkorvocore.so.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <filesystem>
#include <string>
#include <thread>

#include "capture/capture_agent.h"
#include "tests/capture/cups_server.h"
#include "tests/capture/documents.h"
#include "tests/capture/programs.h"
#include "tests/capture/stream_records.h"
#include "tests/support/file_wait.h"
#include "tests/support/sandbox.h"

// The documents are drawn with cairo, whose fontconfig keeps its font cache
// for the life of the process; the Send Fax dialog's toolkit, started without a
// display, keeps its stock lists the same way.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:wxInitializeStockLists\n";
}

namespace {

using namespace korvo::test;
namespace fs = std::filesystem;

constexpr char kDeadDisplay[] = ":4093";

class CaptureRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "the private cupsd runs the backend as root: run as root";
    fs::create_directories(RuntimeFolder());
    fs::permissions(RuntimeFolder(), fs::perms::owner_all);
    box_.setEnv("XDG_RUNTIME_DIR", RuntimeFolder().string());
    // A display that no X server answers: the agent takes jobs, and their
    // Send Fax dialogs cannot open.
    box_.setEnv("DISPLAY", kDeadDisplay);
    box_.setEnv("WAYLAND_DISPLAY", "");
    Sandbox::writeFile(box_.machineHive(),
                       "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Velmora Technologies\\Korvo]\n"
                       "\"DebugFlags\"=dword:00000001\n\"KorvoCore\"=\"" KORVO_CORE_LIBRARY "\"\n"
                       "\"DefaultUsersDataPath\"=\"" + box_.path("users").string() + "/\"\n");
    cups_ = std::make_unique<CupsServer>(box_, box_.path("runtime-root"));
    ASSERT_TRUE(cups_->Running());
    ASSERT_NO_FATAL_FAILURE(cups_->AddFaxPrinter());
  }
  void TearDown() override {
    if (agentThread_.joinable()) {
      agent_.Stop();
      agentThread_.join();
    }
  }

  fs::path RuntimeFolder() const { return box_.path("runtime-root") / std::to_string(getuid()); }

  // The job's line of lpstat -l.
  std::string JobStatus(int job) {
    EXPECT_EQ(cups_->Run({"lpstat", "-l", "-o", "Korvo_Printer"}), 0);
    const std::string all = cups_->Output();
    const size_t at = all.find("Korvo_Printer-" + std::to_string(job) + " ");
    if (at == std::string::npos) return {};
    const size_t next = all.find("\nKorvo_Printer-", at);
    return all.substr(at, next == std::string::npos ? std::string::npos : next - at);
  }

  // The capture files in the user's OutBox.
  std::vector<fs::path> Captures() const {
    std::vector<fs::path> files;
    const fs::path outBox = box_.path("users/root/OutBox");
    if (fs::exists(outBox))
      for (const auto& e : fs::directory_iterator(outBox))
        if (e.path().extension() == ".TMP") files.push_back(e.path());
    return files;
  }
  static size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }

  void StartAgent() {
    ASSERT_TRUE(agent_.Start()) << agent_.Problem();
    agentThread_ = std::thread([this] { agent_.Run(); });
  }

  Sandbox box_;
  std::unique_ptr<CupsServer> cups_;
  korvo::capture::CaptureAgent agent_;
  std::thread agentThread_;
};

TEST_F(CaptureRoad, TheQueueHasEveryFilterItNeeds) {
  ASSERT_EQ(cups_->Run({"lpstat", "-l", "-p", "Korvo_Printer"}), 0);
  const std::string status = cups_->Output();
  EXPECT_NE(status.find("Description: Korvo Printer"), std::string::npos) << status;
  EXPECT_EQ(status.find("missing-filter"), std::string::npos) << status;
}

// The program korvocapture, started as the desktop session starts it, with
// its messages in a file; stopped by SIGTERM.
class AgentProgram {
 public:
  AgentProgram(const fs::path& messages, const fs::path& suppressions) {
    // Without a display the toolkit keeps its stock lists for good.
    Sandbox::writeFile(suppressions, "leak:libfontconfig.so\nleak:wxInitializeStockLists\n");
    pid_ = StartProgram({{(BuildDir() / "capture/korvocapture").string()},
                         "/dev/null",
                         "/dev/null",
                         messages,
                         {"LSAN_OPTIONS=suppressions=" + suppressions.string()}});
  }
  ~AgentProgram() {
    if (pid_ > 0) Stop();
  }
  bool Started() const { return pid_ > 0; }
  // Its exit code after SIGTERM.
  int Stop() {
    kill(pid_, SIGTERM);
    const int rc = WaitForProgram(pid_);
    pid_ = -1;
    return rc;
  }

 private:
  pid_t pid_ = -1;
};

// A job printed while no agent runs is held, saying why; the agent releases
// it when it starts, and only it: a job the user held on purpose waits on.
// An agent that takes a job and ends without its dialog's end leaves it
// held, and the next agent that starts offers it again: here no dialog can
// open (no X server answers), which leaves the job to the spooler the same
// way. An agent without any display takes no job at all.
TEST_F(CaptureRoad, AJobNoAgentCouldShowIsHeldUntilAnAgentStartsAndOfferedAgain) {
  WritePdf(box_.path("doc.pdf"), kA4, {"ONE", "TWO"});
  const int kept = cups_->Print(box_.path("doc.pdf"), {"-H", "indefinite"});
  ASSERT_GT(kept, 0) << cups_->Output();
  const int job = cups_->Print(box_.path("doc.pdf"));
  ASSERT_GT(job, 0) << cups_->Output();
  ASSERT_TRUE(cups_->WaitForJobLog(job, "Job held")) << cups_->Log();
  std::string status = JobStatus(job);
  EXPECT_NE(status.find("Status: Held: no capture agent runs for root"), std::string::npos) << status;
  EXPECT_NE(status.find("lp -i " + std::to_string(job) + " -H resume"), std::string::npos) << status;
  EXPECT_TRUE(cups_->Spooled(job));

  // Without a display the agent releases nothing and takes nothing.
  {
    box_.setEnv("DISPLAY", "");
    AgentProgram agent(box_.path("agent0.txt"), box_.path("lsan.supp"));
    box_.setEnv("DISPLAY", kDeadDisplay);
    ASSERT_TRUE(agent.Started());
    ASSERT_TRUE(WaitForText(box_.path("agent0.txt"), "korvocapture: no display"));
    ASSERT_EQ(cups_->Run({"lp", "-i", std::to_string(job), "-H", "resume"}), 0) << cups_->Output();
    ASSERT_TRUE(WaitForFolder(box_.path("cups/log"), [&] {
      return Count(cups_->Log(), "[Job " + std::to_string(job) + "] Job held") == 2;
    })) << cups_->Log();
    EXPECT_NE(JobStatus(job).find("runs without a display for the Send Fax dialog"), std::string::npos);
    EXPECT_EQ(agent.Stop(), 0);
    EXPECT_TRUE(cups_->Spooled(job));
    EXPECT_TRUE(Captures().empty());
    EXPECT_EQ(Sandbox::readFile(box_.traceFile()).find("JobId=" + std::to_string(job) + ","), std::string::npos);
  }

  // Each agent that starts offers the job again; its dialog cannot open, so
  // the job stays held for the next.
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE("agent " + std::to_string(round));
    const fs::path messages = box_.path("agent" + std::to_string(round) + ".txt");
    AgentProgram agent(messages, box_.path("lsan.supp"));
    ASSERT_TRUE(agent.Started());
    ASSERT_TRUE(WaitForFolder(box_.root(), [&] {
      return Count(Sandbox::readFile(box_.traceFile()), "RunSendFaxDialog: no display") == static_cast<size_t>(round);
    })) << Sandbox::readFile(messages);
    ASSERT_TRUE(WaitForFolder(box_.path("cups/log"), [&] {
      return Count(cups_->Log(), "[Job " + std::to_string(job) + "] Job held") == static_cast<size_t>(2 + round);
    })) << cups_->Log();
    EXPECT_EQ(agent.Stop(), 0) << Sandbox::readFile(messages);
    EXPECT_NE(Sandbox::readFile(messages).find("korvocapture: released held job " + std::to_string(job) + "\n"),
              std::string::npos)
        << Sandbox::readFile(messages);
    status = JobStatus(job);
    EXPECT_NE(status.find("Handed to the Korvo capture agent of root"), std::string::npos) << status;
    EXPECT_TRUE(cups_->Spooled(job));
    EXPECT_TRUE(Captures().empty());
  }
  EXPECT_EQ(Count(Sandbox::readFile(box_.traceFile()), "JobId=" + std::to_string(job) + ","), 2u);
  // The job held on purpose is still there, not captured.
  EXPECT_EQ(Sandbox::readFile(box_.traceFile()).find("JobId=" + std::to_string(kept) + ","), std::string::npos);
  EXPECT_TRUE(cups_->Spooled(kept));
  EXPECT_NE(JobStatus(kept), "");
}

// The backend hands each job over and ends, whatever dialog is open: both
// jobs are captured, whole and in order, while the dialog of the first has
// not even begun (the dialogs wait in the agent's queue, here untouched).
// The jobs stay held meanwhile, and the printer is free: once a backend
// waited for its job's dialog, and the printer for the backend.
TEST_F(CaptureRoad, TheAgentTakesEachJobAtOnceAndQueuesItsDialog) {
  std::vector<std::function<void()>> dialogs;
  std::mutex lock;
  ASSERT_TRUE(agent_.Start()) << agent_.Problem();
  agentThread_ = std::thread([this, &dialogs, &lock] {
    agent_.Run([&](std::function<void()> task) {
      std::lock_guard hold(lock);
      dialogs.push_back(std::move(task));
    });
  });
  WritePdf(box_.path("two.pdf"), kA4, {"ONE", "TWO"});
  WritePdf(box_.path("three.pdf"), kLetter, {"ONE", "TWO", "THREE"});
  const int first = cups_->Print(box_.path("two.pdf"));
  const int second = cups_->Print(box_.path("three.pdf"));
  ASSERT_TRUE(first > 0 && second > 0) << cups_->Output();
  ASSERT_TRUE(cups_->WaitForJobLog(second, "Job held")) << cups_->Log();
  ASSERT_TRUE(cups_->WaitForJobLog(first, "Job held")) << cups_->Log();
  for (int job : {first, second}) {
    const std::string status = JobStatus(job);
    EXPECT_NE(status.find("Handed to the Korvo capture agent of root: held until its Send Fax dialog ends"),
              std::string::npos)
        << status;
    EXPECT_TRUE(cups_->Spooled(job));
  }
  auto captures = Captures();
  ASSERT_EQ(captures.size(), 2u);
  std::vector<size_t> pages;
  for (const auto& file : captures) {
    const StreamRecords stream = ReadStreamRecords(Sandbox::readFile(file));
    EXPECT_TRUE(stream.complete);
    pages.push_back(stream.pages.size());
  }
  std::sort(pages.begin(), pages.end());
  EXPECT_EQ(pages, (std::vector<size_t>{2, 3}));
  const std::string trace = Sandbox::readFile(box_.traceFile());
  EXPECT_LT(trace.find("JobId=" + std::to_string(first) + ","), trace.find("JobId=" + std::to_string(second) + ","));
  EXPECT_EQ(trace.find("KvEndDocPort("), std::string::npos) << trace;

  // The dialogs in turn: neither can open here, so both jobs stay the
  // spooler's, to be offered again, and their capture files go.
  std::vector<std::function<void()>> queued;
  {
    std::lock_guard hold(lock);
    queued.swap(dialogs);
  }
  ASSERT_EQ(queued.size(), 2u);
  for (auto& dialog : queued) dialog();
  EXPECT_EQ(Count(Sandbox::readFile(box_.traceFile()), "RunSendFaxDialog: no display"), 2u);
  EXPECT_TRUE(Captures().empty());
  EXPECT_TRUE(cups_->Spooled(first));
  EXPECT_TRUE(cups_->Spooled(second));
}

// A throwaway ordinary login, removed again with the object.
class Login {
 public:
  explicit Login(const std::string& name) : name_(name + "-" + std::to_string(getpid())) {
    made_ = RunProgram({{"useradd", "-M", "-N", "-d", "/nonexistent", "-s", "/bin/sh", name_}, "/dev/null", "/dev/null", "/dev/null", {}}) == 0;
    if (const passwd* pw = made_ ? getpwnam(name_.c_str()) : nullptr) {
      uid_ = pw->pw_uid;
      gid_ = pw->pw_gid;
    }
  }
  ~Login() {
    if (made_) RunProgram({{"userdel", name_}, "/dev/null", "/dev/null", "/dev/null", {}});
  }
  bool made() const { return made_ && uid_ != 0; }
  const std::string& name() const { return name_; }
  // Runs the program as this login; its exit code.
  int Run(const std::vector<std::string>& argv, const fs::path& output) const {
    const pid_t pid = fork();
    if (pid == 0) {
      const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      if (out < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0 || setgroups(0, nullptr) != 0 || setgid(gid_) != 0 ||
          setuid(uid_) != 0)
        _exit(126);
      setenv("HOME", "/nonexistent", 1);
      execvp(args[0], args.data());
      _exit(127);
    }
    return pid < 0 ? -1 : WaitForProgram(pid);
  }

 private:
  std::string name_;
  bool made_ = false;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
};

// lp -U names another login: the queue's operation policy authenticates the
// local peer, so the job is the printing login's own and goes to that login's
// agent (here: none, so it is held for it), never to the named one's. The
// job was once the named login's, to be sent under that name from their
// desktop.
TEST_F(CaptureRoad, AJobIsTheLoginsThatPrintedItWhateverNameItGives) {
  Login mallory("korvo-mallory"), alice("korvo-alice");
  ASSERT_TRUE(mallory.made() && alice.made());
  Sandbox::writeFile(box_.path("note.txt"), "pay Mallory\n");
  fs::permissions(box_.path("note.txt"), fs::perms(0644));
  const int rc = mallory.Run({"lp", "-U", alice.name(), "-d", "Korvo_Printer", box_.path("note.txt").string()},
                             box_.path("lp.txt"));
  const std::string said = Sandbox::readFile(box_.path("lp.txt"));
  if (rc == 0) {
    const size_t at = said.find("Korvo_Printer-");
    ASSERT_NE(at, std::string::npos) << said;
    const int job = std::atoi(said.c_str() + at + 14);
    ASSERT_TRUE(cups_->WaitForJobLog(job, "Job held")) << cups_->Log();
    const std::string status = JobStatus(job);
    EXPECT_NE(status.find(" " + mallory.name() + " "), std::string::npos) << status;
    EXPECT_NE(status.find("no capture agent runs for " + mallory.name()), std::string::npos) << status;
  }
  EXPECT_EQ(cups_->Log().find("agent runs for " + alice.name()), std::string::npos) << said;
  EXPECT_EQ(cups_->Log().find("capture agent of " + alice.name()), std::string::npos) << said;
}

// A job of no bytes (no page of the document is in the printed range) is
// captured as nothing: no dialog, and its empty capture file stays in the
// OutBox.
TEST_F(CaptureRoad, AnEmptyJobOpensNoDialogAndLeavesItsEmptyFile) {
  ASSERT_NO_FATAL_FAILURE(StartAgent());
  WritePdf(box_.path("two.pdf"), kA4, {"ONE", "TWO"});
  const int job = cups_->Print(box_.path("two.pdf"), {"-o", "page-ranges=9"});
  ASSERT_GT(job, 0) << cups_->Output();
  ASSERT_TRUE(WaitForText(box_.traceFile(), "KvEndDocPort(")) << cups_->Log();
  ASSERT_TRUE(cups_->WaitForJobLog(job, "Purged by")) << cups_->Log();
  ASSERT_EQ(Captures().size(), 1u);
  EXPECT_EQ(fs::file_size(Captures()[0]), 0u);
  EXPECT_EQ(Sandbox::readFile(box_.traceFile()).find("RunSendFaxDialog"), std::string::npos);
}

}  // namespace
