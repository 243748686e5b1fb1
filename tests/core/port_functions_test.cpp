// The port functions as the capture agent drives them, against a private
// cupsd whose fax printer holds the job (the queue is stopped, so the job
// waits as it would while the backend hands it over).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/settings.h"
#include "core/ports/port_functions.h"
#include "core/sendfax/send_fax_dialog.h"
#include "platform/lasterror.h"
#include "platform/username.h"
#include "tests/capture/cups_server.h"
#include "tests/support/sandbox.h"

// The Send Fax dialog's entry points, recorded: the test stands in for them.
namespace korvo::sendfax {
std::vector<std::pair<std::string, std::string>> gDialogCalls;
int gNoPagesReports = 0;
bool gDisplay = true;  // whether the dialog can show
DialogEnd RunSendFaxDialog(const std::string& imagePath, const std::string& headerPath) {
  gDialogCalls.emplace_back(imagePath, headerPath);
  return gDisplay ? DialogEnd::kCancelled : DialogEnd::kNotShown;
}
bool ReportNoPages() {
  ++gNoPagesReports;
  return gDisplay;
}
}  // namespace korvo::sendfax

namespace {

using namespace korvo::test;
using korvo::sendfax::gDialogCalls;
using korvo::sendfax::gDisplay;
using korvo::sendfax::gNoPagesReports;
namespace fs = std::filesystem;

class PortFunctions : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "the private cupsd runs the backend as root: run as root";
    Sandbox::writeFile(box_.machineHive(),
                       "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Velmora Technologies\\Korvo]\n"
                       "\"DebugFlags\"=dword:00000001\n\"DefaultUsersDataPath\"=\"" +
                           box_.path("users").string() + "/\"\n");
    cups_ = std::make_unique<CupsServer>(box_, box_.path("runtime-root"));
    ASSERT_NO_FATAL_FAILURE(cups_->AddFaxPrinter());
    ASSERT_EQ(cups_->Run({"cupsdisable", "Korvo_Printer"}), 0) << cups_->Output();
    Sandbox::writeFile(box_.path("job.txt"), "a job to capture\n");
  }

  int QueueJob() {
    const int job = cups_->Print(box_.path("job.txt"));
    EXPECT_GT(job, 0) << cups_->Output();
    return job;
  }
  std::vector<fs::path> OutBox() const {
    std::vector<fs::path> files;
    const fs::path box = box_.path("users") / LoginName() / "OutBox";
    if (fs::exists(box))
      for (const auto& e : fs::directory_iterator(box)) files.push_back(e.path());
    return files;
  }
  static std::string LoginName() {
    char name[256];
    return korvo::platform::GetUserName(name, sizeof name) ? name : "";
  }
  std::string Trace() const { return Sandbox::readFile(box_.traceFile()); }
  static std::string Hex(const void* p) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)));
    return text;
  }

  Sandbox box_;
  std::unique_ptr<CupsServer> cups_;
  KvPortRecord port_{0x4B56, nullptr, 0, -1, nullptr};
};

TEST_F(PortFunctions, CaptureTheJobIntoTheOutBoxCancelItAndHandTheFilesToTheDialog) {
  const int job = QueueJob();
  ASSERT_TRUE(cups_->Spooled(job));
  ASSERT_EQ(KvStartDocPort(&port_, "Korvo_Printer", job, 2, nullptr), 1) << Trace();
  EXPECT_EQ(port_.monitor, 0x4B56u);
  ASSERT_NE(port_.job, nullptr);
  ASSERT_NE(port_.captureFile, -1);
  EXPECT_EQ(port_.jobId, static_cast<uint32_t>(job));
  const std::string capture = port_.job->captureName, companion = port_.job->companionName;
  EXPECT_EQ(OutBox(), std::vector<fs::path>{capture});
  const std::string name = fs::path(capture).filename().string();
  EXPECT_TRUE(name.size() == 11 && name.substr(0, 3) == "CPT" && name.substr(7) == ".TMP" &&
              name.find_first_not_of("0123456789ABCDEF", 3) == 7)
      << name;
  EXPECT_EQ(companion, capture.substr(0, capture.size() - 3) + "TMR");
  EXPECT_EQ(fs::status(capture).permissions(), fs::perms::owner_read | fs::perms::owner_write);

  uint32_t done = 0;
  for (const std::string piece : {"BDBP", "CF\x05", "EPED"}) {
    ASSERT_EQ(KvWritePort(&port_, piece.data(), static_cast<uint32_t>(piece.size()), &done), 1);
    EXPECT_EQ(done, piece.size());
  }
  EXPECT_EQ(port_.job->total, 11u);
  EXPECT_EQ(KvEndDocPort(&port_), 1);

  ASSERT_EQ(gDialogCalls.size(), 1u);
  EXPECT_EQ(gDialogCalls[0], std::make_pair(capture, companion));
  EXPECT_EQ(Sandbox::readFile(capture), std::string("BDBPCF\x05" "EPED", 11));
  EXPECT_FALSE(fs::exists(companion));
  EXPECT_EQ(port_.captureFile, -1);
  EXPECT_EQ(port_.job, nullptr);
  EXPECT_EQ(port_.printer, nullptr);
  // The spooler keeps nothing of the job.
  EXPECT_FALSE(cups_->Spooled(job));
  EXPECT_NE(cups_->Log().find("[Job " + std::to_string(job) + "] Purged by"), std::string::npos);

  const std::string p = Hex(&port_);
  const std::string expected = "KvStartDocPort(" + p + "), Printer='Korvo_Printer',JobId=" + std::to_string(job) +
                               ",Level=2\n";
  const std::string trace = Trace();
  size_t at = 0;
  for (const std::string& line :
       {expected, "KvWritePort(" + p + ") written 4 of 4, total 4\n", "KvWritePort(" + p + ") written 3 of 3, total 7\n",
        "KvWritePort(" + p + ") written 4 of 4, total 11\n", "KvEndDocPort(" + p + ")\n"}) {
    at = trace.find(line, at);
    ASSERT_NE(at, std::string::npos) << line << " in\n" << trace;
  }
}

TEST_F(PortFunctions, AJobOfNoBytesShowsNoDialogAndLeavesItsEmptyFile) {
  const int job = QueueJob();
  ASSERT_EQ(KvStartDocPort(&port_, "Korvo_Printer", job, 1, nullptr), 1) << Trace();
  const std::string capture = port_.job->captureName;
  EXPECT_EQ(KvEndDocPort(&port_), 1);
  EXPECT_TRUE(gDialogCalls.empty());
  ASSERT_TRUE(fs::exists(capture));
  EXPECT_EQ(fs::file_size(capture), 0u);
  EXPECT_FALSE(cups_->Spooled(job));
}

TEST_F(PortFunctions, ASecondJobOnThePortGetsAFileAndRecordOfItsOwn) {
  std::vector<std::string> captures;
  for (int round = 0; round < 2; ++round) {
    const int job = QueueJob();
    ASSERT_EQ(KvStartDocPort(&port_, "Korvo_Printer", job, 1, nullptr), 1) << Trace();
    ASSERT_NE(port_.captureFile, -1);
    captures.push_back(port_.job->captureName);
    uint32_t done = 0;
    ASSERT_EQ(KvWritePort(&port_, "BDBPEPED", 8, &done), 1);
    EXPECT_EQ(port_.job->total, 8u);
    EXPECT_EQ(KvEndDocPort(&port_), 1);
  }
  EXPECT_NE(captures[0], captures[1]);
  EXPECT_EQ(gDialogCalls.size(), 2u);
}

// The spooler's job is given up only once the user has had it: its dialog
// ended, or the box saying it has no pages was shown. A stream that did not
// arrive whole (the job cancelled, or cupsd restarted, mid-transfer) opens
// nothing, and neither a dialog nor a box that could not be shown gives the
// job up: it stays spooled, to be offered again. Only the dialog's files
// stay in the OutBox.
TEST_F(PortFunctions, TheJobIsGivenUpOnlyOnceTheUserHadIt) {
  const std::string page = std::string("BP") + "CF\x05" + "EP";
  struct Case {
    const char* name;
    std::string stream;
    bool display;
    int dialogs, noPages;
    bool givenUp, fileStays;
  } cases[] = {
      {"whole, two pages", "BD" + page + page + "ED", true, 1, 0, true, true},
      {"cut inside a page", "BD" + page + "BPBL\xD8", true, 0, 0, false, false},
      {"cut between pages", "BD" + page + page, true, 0, 0, false, false},
      {"no pages", "BDED", true, 0, 1, true, false},
      {"not our stream", "%PDF-1.5\n%%EOF\n", true, 0, 1, true, false},
      {"whole, no display", "BD" + page + "ED", false, 1, 0, false, false},
      {"no pages, no display", "BDED", false, 0, 1, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    gDialogCalls.clear();
    gNoPagesReports = 0;
    gDisplay = c.display;
    const int job = QueueJob();
    ASSERT_EQ(KvStartDocPort(&port_, "Korvo_Printer", job, 1, nullptr), 1) << Trace();
    const std::string capture = port_.job->captureName;
    uint32_t done = 0;
    ASSERT_EQ(KvWritePort(&port_, c.stream.data(), static_cast<uint32_t>(c.stream.size()), &done), 1);
    EXPECT_EQ(KvEndDocPort(&port_), 1);
    EXPECT_EQ(gDialogCalls.size(), static_cast<size_t>(c.dialogs));
    EXPECT_EQ(gNoPagesReports, c.noPages);
    EXPECT_EQ(cups_->Spooled(job), !c.givenUp);
    EXPECT_EQ(fs::exists(capture), c.fileStays);
    fs::remove(capture);
    EXPECT_EQ(port_.job, nullptr);
    EXPECT_EQ(port_.printer, nullptr);
  }
}

TEST_F(PortFunctions, APrinterTheSpoolerDoesNotKnowCancelsTheStartAndLeavesNothing) {
  korvo::platform::SetLastError(0);
  EXPECT_EQ(KvStartDocPort(&port_, "No_Such_Printer", 7, 1, nullptr), 0);
  EXPECT_EQ(korvo::platform::GetLastError(), korvo::ports::kErrorPrintCancelled);
  EXPECT_EQ(port_.captureFile, -1);
  EXPECT_EQ(port_.job, nullptr);
  EXPECT_EQ(port_.printer, nullptr);
  EXPECT_TRUE(OutBox().empty());
  EXPECT_NE(Trace().find("OpenPrinter E:"), std::string::npos) << Trace();
  // The monitor may still end the document: it finds nothing to close.
  EXPECT_EQ(KvEndDocPort(&port_), 1);
  EXPECT_TRUE(gDialogCalls.empty());
}

TEST_F(PortFunctions, AnOutBoxThatCannotBeUsedCancelsTheStart) {
  // A data folder of the user's own setting that others may write is
  // refused, so there is no OutBox. (One in the users' folder has the
  // user's private folder take its place.)
  fs::create_directories(box_.path("elsewhere"));
  fs::permissions(box_.path("elsewhere"), fs::perms::all);
  ASSERT_EQ(KvWriteRegUserStr(nullptr, "DataPath", box_.path("elsewhere").c_str()), 1);
  EXPECT_EQ(KvStartDocPort(&port_, "Korvo_Printer", 7, 1, nullptr), 0);
  EXPECT_EQ(korvo::platform::GetLastError(), korvo::ports::kErrorPrintCancelled);
  EXPECT_EQ(port_.job, nullptr);
  EXPECT_NE(Trace().find("KvGetOutBoxTempName|pName E:"), std::string::npos) << Trace();
}

// Without a capture file the bytes are taken and dropped. That includes a
// stray write after the end of a job: the capture file's descriptor number
// is free again by then, and the next file opened gets it.
TEST_F(PortFunctions, WritesAndReadsWithoutACaptureFileAreFaked) {
  uint32_t done = 0;
  EXPECT_EQ(KvWritePort(&port_, "abc", 3, &done), 1);
  EXPECT_EQ(done, 3u);
  char buffer[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(KvReadPort(&port_, buffer, 4, &done), 1);
  EXPECT_EQ(done, 4u);
  EXPECT_EQ(std::string(buffer, 4), "xxxx");

  const int job = QueueJob();
  ASSERT_EQ(KvStartDocPort(&port_, "Korvo_Printer", job, 1, nullptr), 1) << Trace();
  const int used = port_.captureFile;
  EXPECT_EQ(KvEndDocPort(&port_), 1);
  const int other = open(box_.path("other.txt").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_EQ(other, used);
  EXPECT_EQ(KvWritePort(&port_, "stray", 5, &done), 1);
  close(other);
  EXPECT_EQ(fs::file_size(box_.path("other.txt")), 0u);
  const std::string trace = Trace();
  EXPECT_NE(trace.find("KvWritePort faked\n"), std::string::npos);
  EXPECT_NE(trace.find("KvReadPort faked\n"), std::string::npos);
}

TEST(PortNames, ChangeNameExtension) {
  struct Case {
    const char* name;
    size_t size;
    const char* extension;
    bool changed;
    const char* result;
  } cases[] = {
      {"OutBox/CPT1A2B.TMP", 260, "TMR", true, "OutBox/CPT1A2B.TMR"},
      {"a.b.TMP", 260, "TMR", true, "a.b.TMR"},
      {"name.", 260, "TMR", true, "name.TMR"},
      {"noextension", 260, "TMR", false, "noextension"},
      {"x.TMP", 5, "TMR", false, "x.TMP"},  // "x.TMR" and its NUL need 6 bytes
      {"x.TMP", 6, "TMR", true, "x.TMR"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    char buffer[260];
    std::snprintf(buffer, sizeof buffer, "%s", c.name);
    EXPECT_EQ(korvo::ports::KvChangeNameExtension(buffer, c.size, c.extension), c.changed);
    EXPECT_STREQ(buffer, c.result);
  }
}

}  // namespace
