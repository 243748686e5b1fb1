// The whole print-to-fax road on a desktop: lp of a two-page PDF to
// Korvo_Printer on a private cupsd, its filter and backend, the capture agent
// (jobs taken on a thread of their own, each job's dialog on the toolkit's
// thread), the real Send Fax dialog typed into and clicked under Xvfb, and a
// real korvohub that queues the fax, sends it over the simulated line and
// receives it on its other modem. The received pages are read back with
// libtiff and compared with the document as the printer's queue renders it.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/eventfilter.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "capture/capture_agent.h"
#include "common/fields.h"
#include "common/settings.h"
#include "common/userenvironment.h"
#include "core/sendfax/app/dialogs.h"
#include "tests/capture/cups_server.h"
#include "tests/capture/documents.h"
#include "tests/capture/fax_pages.h"
#include "tests/capture/programs.h"
#include "tests/support/file_wait.h"
#include "tests/server/line_hub_fixture.h"
#include "tests/support/gui/window_test.h"

namespace {

using namespace korvo;
using namespace korvo::test;
namespace fs = std::filesystem;
namespace id = korvo::sendfax::id;

// The user at the desk: each step runs inside the modal loop of the dialog
// it names, once that dialog shows, in the order given. A step that fails
// closes its dialog, so that the road ends instead of waiting for a user.
class User : public wxEventFilter {
 public:
  using Step = std::pair<wxString, std::function<void(wxDialog&)>>;
  explicit User(std::vector<Step> steps) : steps_(std::move(steps)) { wxEvtHandler::AddFilter(this); }
  ~User() override { wxEvtHandler::RemoveFilter(this); }
  int FilterEvent(wxEvent& event) override {
    auto* dialog = dynamic_cast<wxDialog*>(event.GetEventObject());
    if (event.GetEventType() == wxEVT_SHOW && dialog && dialog->IsModal() && shown_ < steps_.size() &&
        dialog->GetTitle() == steps_[shown_].first) {
      auto step = steps_[shown_++].second;
      wxTheApp->CallAfter([this, step, dialog] {
        ShowAndWait(dialog);
        step(*dialog);
        if (::testing::Test::HasFailure() && dialog->IsModal()) dialog->EndModal(wxID_CANCEL);
        ++done_;
      });
    }
    return Event_Skip;
  }
  size_t done() const { return done_; }

 private:
  std::vector<Step> steps_;
  size_t shown_ = 0;
  size_t done_ = 0;
};

template <typename T>
T* Control(wxWindow& dialog, int control) {
  T* found = dynamic_cast<T*>(dialog.FindWindow(control));
  EXPECT_NE(found, nullptr) << "control " << control << " of " << dialog.GetLabel().utf8_string();
  return found;
}

class PrintRoad : public LineHubFixture {
 protected:
  // The user's moves in the Send Fax dialog: a number typed, Send Fax
  // clicked, and the dialog's end; `first` runs before them.
  User::Step SendTo200(std::function<void(wxDialog&)> first = {}) {
    return {"Send Fax", [first](wxDialog& dialog) {
              if (first) first(dialog);
              auto* number = Control<wxTextCtrl>(dialog, id::kNumber);
              auto* send = Control<wxButton>(dialog, id::kSend);
              ASSERT_TRUE(number && send);
              EXPECT_FALSE(send->IsEnabled());
              Type(number, "200");
              EXPECT_EQ(number->GetValue(), "200");
              ASSERT_TRUE(send->IsEnabled());
              Click(send);
              WaitFor([&] { return !dialog.IsModal(); }, "the Send Fax dialog's end", std::chrono::seconds(120));
            }};
  }
  // The Status dialog read and closed with OK.
  static User::Step StatusRead(std::string& line) {
    return {"Send Fax Status", [&line](wxDialog& status) {
              if (auto* first = Control<wxStaticText>(status, id::kFirstLine)) line = first->GetLabel().utf8_string();
              auto* ok = Control<wxButton>(status, wxID_OK);
              ASSERT_NE(ok, nullptr);
              Click(ok);
            }};
  }
  std::string Trace() const { return Sandbox::readFile(sandbox_.traceFile()); }

  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "the private cupsd runs the backend as root: run as root";
    LineHubFixture::SetUp();
    const fs::path runtime = sandbox_.path("runtime-root") / std::to_string(getuid());
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    sandbox_.setEnv("XDG_RUNTIME_DIR", runtime.string());
    ASSERT_EQ(KvSetKorvoCoreName(KORVO_CORE_LIBRARY), 1);
    ASSERT_EQ(KvWriteRegDword(nullptr, "DebugFlags", 1), 1);
    ASSERT_EQ(KvSetDefaultServer("."), 1);
    cups_ = std::make_unique<CupsServer>(sandbox_, sandbox_.path("runtime-root"));
    ASSERT_TRUE(cups_->Running());
    ASSERT_NO_FATAL_FAILURE(cups_->AddFaxPrinter());
    if (!inProcessAgent_) return;
    ASSERT_TRUE(agent_.Start()) << agent_.Problem();
    // Each job's end, where its dialog runs, goes to this (the toolkit's)
    // thread, one after the other as korvocapture runs them: a dialog's
    // modal loop runs no other job's end.
    agentThread_ = std::thread([this] {
      agent_.Run([this](std::function<void()> task) {
        {
          std::lock_guard hold(tasksLock_);
          tasks_.push_back(std::move(task));
        }
        wxTheApp->CallAfter([this] { RunTasks(); });
      });
      agentDone_ = true;
    });
  }
  void TearDown() override {
    if (agentThread_.joinable()) {
      agent_.Stop();
      WaitFor([this] { return agentDone_.load(); }, "the agent's end");
      agentThread_.join();
    }
    cups_.reset();
    LineHubFixture::TearDown();
  }

  // A list of the server's, one row of fields per line.
  std::vector<std::vector<std::string>> Rows(uint32_t code) {
    const std::string path = TempPath("list.txt");
    EXPECT_EQ(client_.DownloadList(".", code, nullptr, path).status, 0u) << code;
    const std::string text = Sandbox::readFile(path);
    fs::remove(path);
    std::vector<std::vector<std::string>> rows;
    for (size_t at = 0; at < text.size();) {
      size_t end = text.find("\r\n", at);
      if (end == std::string::npos) end = text.size();
      std::vector<std::string> fields(15);
      DecodeFields(text.substr(at, end - at), fields);
      rows.push_back(std::move(fields));
      at = end + 2;
    }
    return rows;
  }

  // The document's pages as the printer's queue renders them: its raster
  // through the filter and the Send Fax road's conversion.
  std::vector<TiffPage> AsPrinted(const fs::path& pdf, const Paper& paper) {
    const fs::path raster = sandbox_.path("doc.ras"), stream = sandbox_.path("doc.prn"),
                   fax = sandbox_.path("doc.fax"), log = sandbox_.path("filter.log");
    Rasterise(pdf, paper, raster, log, sandbox_.root());
    EXPECT_EQ(RunProgram({{(BuildDir() / "capture/rastertokvf").string(), "1", "root", "doc", "1", ""}, raster,
                          stream, log, {}}),
              0)
        << Sandbox::readFile(log);
    StreamToFax(stream, fax);
    return ReadTiff(fax);
  }

  void RunTasks() {
    if (runningTask_) return;
    runningTask_ = true;
    for (;;) {
      std::function<void()> task;
      {
        std::lock_guard hold(tasksLock_);
        if (tasks_.empty()) break;
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task();
      ++ended_;
    }
    runningTask_ = false;
  }

  bool inProcessAgent_ = true;
  std::unique_ptr<CupsServer> cups_;
  capture::CaptureAgent agent_;
  std::mutex tasksLock_;
  std::deque<std::function<void()>> tasks_;
  bool runningTask_ = false;
  std::thread agentThread_;
  std::atomic<bool> agentDone_{false};
  int ended_ = 0;  // jobs whose end (and dialog) has run
};

TEST_F(PrintRoad, APrintedDocumentIsFaxedFromTheSendFaxDialogAndReceived) {
  StartHub();
  const fs::path pdf = sandbox_.path("doc.pdf");
  WritePdf(pdf, kA4, {"ONE", "TWO"});
  const std::vector<TiffPage> printed = AsPrinted(pdf, kA4);
  ASSERT_EQ(printed.size(), 2u);

  std::string statusLine;
  User user({SendTo200(), StatusRead(statusLine)});
  const int job = cups_->Print(pdf);
  ASSERT_GT(job, 0) << cups_->Output();
  ASSERT_TRUE(WaitFor([&] { return ended_ == 1; }, "the printed job's dialog", std::chrono::seconds(180)))
      << cups_->Log();
  EXPECT_EQ(user.done(), 2u);
  EXPECT_EQ(statusLine, "Success. Fax sent to ..");
  // Sent: the pair has left the OutBox, and the spooler kept no copy.
  EXPECT_TRUE(fs::is_empty(GetUserEnvironment().GetOutBoxPath()));
  EXPECT_FALSE(cups_->Spooled(job));

  // The server sends it to 200, the line's other modem, which receives it.
  ASSERT_TRUE(exchange_->waitForCalls(1, std::chrono::seconds(180)));
  const auto calls = exchange_->calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].outcome, "completed");
  EXPECT_EQ(calls[0].pages.size(), 2u);
  std::vector<std::vector<std::string>> received;
  ASSERT_TRUE(WaitFor([&] { return !(received = Rows(5010)).empty(); }, "the received fax filed",
                      std::chrono::seconds(120)));
  ASSERT_EQ(received.size(), 1u);
  const std::string header = TempPath("got.kvf"), image = TempPath("got.tif");
  // A received fax is listed before its entry is on the disk, and can be
  // fetched only once it is.
  ASSERT_TRUE(WaitFor([&] { return client_.GetFax(".", std::stoi(received[0][1]), header, image).status == 0; },
                      "the received fax fetched", std::chrono::seconds(120)));

  // What came in is what was printed, pixel for pixel.
  const std::vector<TiffPage> got = ReadTiff(image);
  ASSERT_EQ(got.size(), printed.size());
  for (size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE("page " + std::to_string(i + 1));
    // The printed page shows its text, so equal pages are no accident of blank ones.
    EXPECT_GT(printed[i].InkOfRows(Line(kTextTop), Line(kTextBottom)), 2000u);
    EXPECT_EQ(got[i].width, 1728u);
    EXPECT_EQ(got[i].length, printed[i].length);
    ASSERT_FALSE(got[i].rows.empty());
    EXPECT_TRUE(got[i].rows == printed[i].rows);
  }
  EXPECT_FALSE(printed[0].rows == printed[1].rows);
  fs::remove(header);
  fs::remove(image);
}

// Two documents printed one after the other come to the desktop one at a
// time, in order: while the first one's dialog is open, the second job is
// handed over and its backend ends (the printer is free for anyone's next
// job), and its dialog opens once the first one's has ended.
TEST_F(PrintRoad, JobsComeToTheDesktopOneAtATimeInOrder) {
  StartHub();
  WritePdf(sandbox_.path("one.pdf"), kA4, {"ONE"});
  WritePdf(sandbox_.path("two.pdf"), kA4, {"ONE", "TWO"});
  int second = 0;
  std::string firstStatus, secondStatus;
  User user({SendTo200([&](wxDialog&) {
               ASSERT_TRUE(WaitFor([&] { return second > 0; }, "the second job printed"));
               ASSERT_TRUE(WaitFor(
                   [&] {
                     return cups_->Log().find("[Job " + std::to_string(second) + "] Handed to the Korvo capture agent") !=
                            std::string::npos;
                   },
                   "the second job handed over", std::chrono::seconds(120)))
                   << cups_->Log();
               ASSERT_TRUE(WaitFor([&] { return cups_->Log().find("[Job " + std::to_string(second) + "] Job held") !=
                                                std::string::npos; },
                                   "the second job's backend ended", std::chrono::seconds(120)));
               EXPECT_NE(Trace().find("JobId=" + std::to_string(second) + ","), std::string::npos);
             }),
             StatusRead(firstStatus), SendTo200(), StatusRead(secondStatus)});
  const int first = cups_->Print(sandbox_.path("one.pdf"));
  ASSERT_GT(first, 0) << cups_->Output();
  second = cups_->Print(sandbox_.path("two.pdf"));
  ASSERT_GT(second, 0) << cups_->Output();
  ASSERT_TRUE(WaitFor([&] { return ended_ == 2; }, "both jobs' dialogs", std::chrono::seconds(240))) << cups_->Log();
  EXPECT_EQ(user.done(), 4u);
  EXPECT_EQ(firstStatus, "Success. Fax sent to ..");
  EXPECT_EQ(secondStatus, "Success. Fax sent to ..");

  // The second job was taken while the first one's dialog was open (before
  // its fax was sent), and its own end, where its dialog runs, came after.
  const std::string trace = Trace();
  const size_t start2 = trace.find("JobId=" + std::to_string(second) + ",");
  const size_t sent1 = trace.find("---> SendFax to");
  const size_t end1 = trace.find("KvEndDocPort(");
  const size_t end2 = trace.find("KvEndDocPort(", end1 + 1);
  ASSERT_NE(start2, std::string::npos) << trace;
  ASSERT_NE(sent1, std::string::npos) << trace;
  EXPECT_LT(end1, start2) << trace;
  EXPECT_LT(start2, sent1) << trace;
  ASSERT_NE(end2, std::string::npos) << trace;
  EXPECT_GT(end2, sent1) << trace;
  EXPECT_FALSE(cups_->Spooled(first));
  EXPECT_FALSE(cups_->Spooled(second));
  EXPECT_TRUE(fs::is_empty(GetUserEnvironment().GetOutBoxPath()));
}

// The capture agent program on this display, killed while a job's Send Fax
// dialog is open (a crash, a logout, the X server gone): the job stays held
// in the spooler, and the agent started next offers it again. Once the job
// was purged before its dialog opened, and lost with the agent.
class PrintRoadAgentProgram : public PrintRoad {
 protected:
  PrintRoadAgentProgram() { inProcessAgent_ = false; }
  // Kills the agent, as a crash would; its exit code.
  struct Agent {
    pid_t pid = -1;
    int Kill() {
      kill(pid, SIGKILL);
      const int rc = WaitForProgram(pid);
      pid = -1;
      return rc;
    }
    ~Agent() {
      if (pid > 0) Kill();
    }
  };

  pid_t StartAgent(const std::string& name) {
    Sandbox::writeFile(sandbox_.path("lsan.supp"), ToolkitLeakSuppressions());
    return StartProgram({{(BuildDir() / "capture/korvocapture").string()},
                         "/dev/null",
                         "/dev/null",
                         sandbox_.path(name),
                         {"LSAN_OPTIONS=suppressions=" + sandbox_.path("lsan.supp").string()}});
  }
  // Waits for the job's n-th dialog to be under way in the agent.
  bool DialogOpening(int job, size_t n) {
    return WaitForFolder(sandbox_.root(), [&] {
      const std::string trace = Trace();
      size_t count = 0;
      for (size_t at = trace.find("JobId=" + std::to_string(job) + ","); at != std::string::npos;
           at = trace.find("JobId=" + std::to_string(job) + ",", at + 1))
        ++count;
      return count >= n && trace.rfind("KvEndDocPort(") > trace.rfind("JobId=" + std::to_string(job) + ",") &&
             trace.rfind("KvEndDocPort(") != std::string::npos;
    });
  }
};

TEST_F(PrintRoadAgentProgram, AJobWhoseAgentDiedWithItsDialogOpenIsOfferedAgain) {
  WritePdf(sandbox_.path("doc.pdf"), kA4, {"ONE"});
  Agent first{StartAgent("agent1.txt")};
  ASSERT_GT(first.pid, 0);
  ASSERT_TRUE(WaitForText(sandbox_.path("agent1.txt"), "korvocapture: listening"));
  const int job = cups_->Print(sandbox_.path("doc.pdf"));
  ASSERT_GT(job, 0) << cups_->Output();
  ASSERT_TRUE(DialogOpening(job, 1)) << Trace() << cups_->Log();
  ASSERT_TRUE(cups_->WaitForJobLog(job, "Job held")) << cups_->Log();
  EXPECT_EQ(first.Kill(), 128 + SIGKILL);
  EXPECT_TRUE(cups_->Spooled(job));
  ASSERT_EQ(cups_->Run({"lpstat", "-l", "-o", "Korvo_Printer"}), 0);
  EXPECT_NE(cups_->Output().find("Handed to the Korvo capture agent"), std::string::npos) << cups_->Output();

  Agent second{StartAgent("agent2.txt")};
  ASSERT_GT(second.pid, 0);
  EXPECT_TRUE(DialogOpening(job, 2)) << Trace() << cups_->Log();
  EXPECT_NE(Sandbox::readFile(sandbox_.path("agent2.txt")).find("released held job " + std::to_string(job)),
            std::string::npos);
  EXPECT_EQ(second.Kill(), 128 + SIGKILL);
  EXPECT_TRUE(cups_->Spooled(job));
}

}  // namespace
