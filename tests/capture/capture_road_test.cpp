// The fax printer on a private cupsd: lp to Korvo_Printer, the filter, the
// backend, the user's capture agent (its model here, and the program
// korvocapture) and the port functions of libkorvocore.so.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
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

class CaptureRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "the private cupsd runs the backend as root: run as root";
    fs::create_directories(RuntimeFolder());
    fs::permissions(RuntimeFolder(), fs::perms::owner_all);
    box_.setEnv("XDG_RUNTIME_DIR", RuntimeFolder().string());
    // No desktop here: the Send Fax dialog declines to open.
    box_.setEnv("DISPLAY", "");
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
TEST_F(CaptureRoad, WithoutAnAgentTheJobIsHeldAndSaysWhyUntilTheAgentStarts) {
  WritePdf(box_.path("doc.pdf"), kA4, {"ONE", "TWO"});
  const int kept = cups_->Print(box_.path("doc.pdf"), {"-H", "indefinite"});
  ASSERT_GT(kept, 0) << cups_->Output();
  const int job = cups_->Print(box_.path("doc.pdf"));
  ASSERT_GT(job, 0) << cups_->Output();
  ASSERT_TRUE(cups_->WaitForJobLog(job, "Job held")) << cups_->Log();
  ASSERT_EQ(cups_->Run({"lpstat", "-l", "-o", "Korvo_Printer"}), 0);
  const std::string status = cups_->Output();
  EXPECT_NE(status.find("Status: Held: no capture agent runs for root"), std::string::npos) << status;
  EXPECT_NE(status.find("lp -i " + std::to_string(job) + " -H resume"), std::string::npos) << status;
  EXPECT_TRUE(cups_->Spooled(job));

  // The agent starts: the held job reaches it, and the dialog (which has
  // no display here) is asked for.
  AgentProgram agent(box_.path("agent.txt"), box_.path("lsan.supp"));
  ASSERT_TRUE(agent.Started());
  ASSERT_TRUE(WaitForText(box_.traceFile(), "RunSendFaxDialog: no display")) << cups_->Log();
  ASSERT_TRUE(cups_->WaitForJobLog(job, "Purged by")) << cups_->Log();
  ASSERT_EQ(Captures().size(), 1u);
  EXPECT_EQ(ReadStreamRecords(Sandbox::readFile(Captures()[0])).pages.size(), 2u);
  EXPECT_EQ(agent.Stop(), 0) << Sandbox::readFile(box_.path("agent.txt"));
  EXPECT_NE(Sandbox::readFile(box_.path("agent.txt")).find("korvocapture: released held job " + std::to_string(job) + "\n"),
            std::string::npos)
      << Sandbox::readFile(box_.path("agent.txt"));
  // The job held on purpose is still there, not captured.
  EXPECT_EQ(Sandbox::readFile(box_.traceFile()).find("JobId=" + std::to_string(kept) + ","), std::string::npos);
  EXPECT_TRUE(cups_->Spooled(kept));
  ASSERT_EQ(cups_->Run({"lpstat", "-o", "Korvo_Printer"}), 0);
  EXPECT_NE(cups_->Output().find("Korvo_Printer-" + std::to_string(kept) + " "), std::string::npos) << cups_->Output();
}

// Two documents printed one after the other reach the agent one at a time,
// in order; each becomes a capture file with its pages, and the spooler
// keeps no copy of either.
TEST_F(CaptureRoad, TheAgentCapturesEachJobInTurn) {
  ASSERT_NO_FATAL_FAILURE(StartAgent());
  WritePdf(box_.path("two.pdf"), kA4, {"ONE", "TWO"});
  WritePdf(box_.path("three.pdf"), kLetter, {"ONE", "TWO", "THREE"});
  const int first = cups_->Print(box_.path("two.pdf"));
  const int second = cups_->Print(box_.path("three.pdf"));
  ASSERT_TRUE(first > 0 && second > 0) << cups_->Output();
  ASSERT_TRUE(cups_->WaitForJobLog(second, "Purged by")) << cups_->Log();
  // The dialog is asked for after each job's end: its second refusal is the last line.
  ASSERT_TRUE(WaitForFolder(box_.root(), [&] {
    return Count(Sandbox::readFile(box_.traceFile()), "RunSendFaxDialog: no display") == 2;
  }));

  const std::string trace = Sandbox::readFile(box_.traceFile());
  const size_t start1 = trace.find("JobId=" + std::to_string(first) + ",");
  const size_t end1 = trace.find("KvEndDocPort(", start1);
  const size_t start2 = trace.find("JobId=" + std::to_string(second) + ",");
  ASSERT_NE(start1, std::string::npos) << trace;
  ASSERT_NE(start2, std::string::npos) << trace;
  EXPECT_LT(end1, start2) << trace;

  auto captures = Captures();
  ASSERT_EQ(captures.size(), 2u);
  // Each job asked for the dialog, which has no display here.
  EXPECT_EQ(Count(trace, "RunSendFaxDialog: no display"), 2u) << trace;
  std::vector<size_t> pages;
  for (const auto& file : captures) {
    const StreamRecords stream = ReadStreamRecords(Sandbox::readFile(file));
    EXPECT_TRUE(stream.complete);
    pages.push_back(stream.pages.size());
  }
  std::sort(pages.begin(), pages.end());
  EXPECT_EQ(pages, (std::vector<size_t>{2, 3}));
  EXPECT_FALSE(cups_->Spooled(first));
  EXPECT_FALSE(cups_->Spooled(second));
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
