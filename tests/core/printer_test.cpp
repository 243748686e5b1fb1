// The fax printer installed from compressed media as setup installs it: the
// driver and the port monitor below the sandbox's system root, the queue on
// a private cupsd whose ServerBin is there, and a removal that leaves the
// system root as it was.
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/settings.h"
#include "core/install/install.h"
#include "platform/lasterror.h"
#include "tests/capture/cups_server.h"
#include "tests/core/install_files.h"
#include "tests/support/sandbox.h"

namespace korvo {
namespace {

namespace fs = std::filesystem;
using test::Sandbox;

using test::Mode;
using test::Tree;

class FaxPrinter : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "cupsd and its ServerBin need root";
    SetDebugFlags(1);
    // The media: the printer's files packed as setup finds them.
    const fs::path media = box_.path("media");
    test::PackMedia(media, {test::BuildDir() / "capture/rastertokvf", test::BuildDir() / "capture/kvf",
                            test::SourceDir() / "capture/Korvo_Printer.ppd"});
    if (HasFatalFailure()) return;
    saved_ = fs::current_path();
    fs::current_path(media);
    cups_ = std::make_unique<test::CupsServer>(box_, box_.path("runtime"), serverBin());
  }
  void TearDown() override {
    cups_.reset();
    if (!saved_.empty()) fs::current_path(saved_);
  }

  fs::path serverBin() const { return box_.systemRoot() / "usr/lib/cups"; }
  fs::path autostartEntry() const { return box_.systemRoot() / "etc/xdg/autostart/korvo-korvo-capture-agent.desktop"; }
  std::string trace() const { return Sandbox::readFile(box_.traceFile()); }

  uint32_t InstallAll(const std::string& root) {
    if (uint32_t e = InstallPrintDriver()) return e;
    if (uint32_t e = InstallPortMonitor(root.c_str())) return e;
    return AddFaxPrinter();
  }

  // The queue's operation policy as cupsd tells it.
  static std::string OpPolicy(const char* queue) {
    http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED, 1, 30000, nullptr);
    if (!http) return "(no cupsd)";
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    const std::string uri = std::string("ipp://localhost/printers/") + queue;
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "printer-op-policy");
    ipp_t* response = cupsDoRequest(http, request, "/");
    ipp_attribute_t* policy = ippFindAttribute(response, "printer-op-policy", IPP_TAG_NAME);
    const std::string text = policy && ippGetString(policy, 0, nullptr) ? ippGetString(policy, 0, nullptr) : "";
    ippDelete(response);
    httpClose(http);
    return text;
  }
  std::string Lpstat(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"lpstat"};
    argv.insert(argv.end(), args.begin(), args.end());
    EXPECT_EQ(cups_->Run(argv), 0) << cups_->Output();
    return cups_->Output();
  }

  Sandbox box_;
  fs::path saved_;
  std::unique_ptr<test::CupsServer> cups_;
};

TEST_F(FaxPrinter, InstalledTwiceFromPackedMediaAndRemovedWithoutTrace) {
  const std::vector<std::string> before = Tree(box_.systemRoot());
  int running = 0;
  ASSERT_EQ(IsServerServiceRunning(nullptr, &running, "Spooler"), 1);
  EXPECT_EQ(running, 1);
  EXPECT_EQ(IsFaxPrinterInstalled(), static_cast<uint32_t>(ENOENT));

  // Blanks, quotes and '%' stay one path in the agent's command.
  const std::string root = box_.path("opt/korvo 100% \"a\"").string() + "/";
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round ? "installed again" : "first install");
    ASSERT_EQ(InstallAll(root), 0u) << trace() << cups_->Log();
    EXPECT_EQ(IsFaxPrinterInstalled(), 0u);

    // Programs compared whole, not printed.
    EXPECT_TRUE(Sandbox::readFile(serverBin() / "filter/rastertokvf") ==
                Sandbox::readFile(test::BuildDir() / "capture/rastertokvf"));
    EXPECT_EQ(Mode(serverBin() / "filter/rastertokvf"), 0755u);
    EXPECT_TRUE(Sandbox::readFile(serverBin() / "backend/kvf") == Sandbox::readFile(test::BuildDir() / "capture/kvf"));
    EXPECT_EQ(Mode(serverBin() / "backend/kvf"), 0700u) << "cupsd runs it as root";
    const fs::path ppd = box_.systemRoot() / "usr/share/ppd/korvo/Korvo_Printer.ppd";
    EXPECT_EQ(Sandbox::readFile(ppd), Sandbox::readFile(test::SourceDir() / "capture/Korvo_Printer.ppd"));
    EXPECT_EQ(Mode(ppd), 0644u);

    const std::string entry = Sandbox::readFile(autostartEntry());
    EXPECT_NE(entry.find("Exec=\"" + box_.path("opt/korvo 100%% \\\\\"a\\\\\"").string() + "/korvocapture\"\n"),
              std::string::npos)
        << entry;
    EXPECT_EQ(test::RunProgram({{"desktop-file-validate", autostartEntry().string()},
                                "/dev/null",
                                box_.path("validate.out"),
                                box_.path("validate.out"),
                                {}}),
              0)
        << Sandbox::readFile(box_.path("validate.out"));

    const std::string status = Lpstat({"-l", "-p", "Korvo_Printer"});
    EXPECT_NE(status.find("Description: Korvo Printer\n"), std::string::npos) << status;
    EXPECT_NE(status.find("Location: Fax Printer\n"), std::string::npos) << status;
    EXPECT_NE(status.find("enabled"), std::string::npos) << status;
    EXPECT_EQ(status.find("cups-missing-filter-warning"), std::string::npos) << status;
    EXPECT_EQ(Lpstat({"-v"}), "device for Korvo_Printer: kvf:/\n");
    // Job-creating operations authenticate the local peer: a job's user is
    // the login that printed it.
    EXPECT_EQ(OpPolicy("Korvo_Printer"), "authenticated");
    EXPECT_NE(Lpstat({"-a", "Korvo_Printer"}).find("Korvo_Printer accepting requests"), std::string::npos);
  }

  EXPECT_EQ(RemoveFaxPrinter(), 0u) << trace();
  EXPECT_EQ(RemovePortMonitor(), 0u) << trace();
  EXPECT_EQ(RemovePrintDriver(), 0u) << trace();
  EXPECT_EQ(IsFaxPrinterInstalled(), static_cast<uint32_t>(ENOENT));
  EXPECT_EQ(Tree(box_.systemRoot()), before);
  cups_->Run({"lpstat", "-v"});
  EXPECT_NE(cups_->Output().find("No destinations"), std::string::npos) << cups_->Output();

  // Removing again finds nothing to remove.
  EXPECT_EQ(RemoveFaxPrinter(), static_cast<uint32_t>(ENOENT));
  EXPECT_EQ(RemovePrintDriver(), static_cast<uint32_t>(ENOENT));
  EXPECT_NE(trace().find("DeletePrinter E:" + platform::SystemErrorText(ENOENT)), std::string::npos) << trace();
}

TEST_F(FaxPrinter, AStoppedSpoolerIsNotRunningAndRefusesThePrinter) {
  ASSERT_EQ(InstallPrintDriver(), 0u) << trace();
  cups_->Stop();
  int running = 1;
  ASSERT_EQ(IsServerServiceRunning(nullptr, &running, "Spooler"), 1);
  EXPECT_EQ(running, 0);
  EXPECT_EQ(AddFaxPrinter(), static_cast<uint32_t>(ECONNREFUSED));
  EXPECT_NE(trace().find("AddPrinter E:" + platform::SystemErrorText(ECONNREFUSED)), std::string::npos) << trace();
  EXPECT_EQ(IsFaxPrinterInstalled(), static_cast<uint32_t>(ECONNREFUSED));
  EXPECT_EQ(RemovePrintDriver(), 0u);
}

TEST_F(FaxPrinter, AMissingMediaFileInstallsNothing) {
  for (const auto& e : fs::directory_iterator(fs::current_path())) fs::remove(e.path());
  const std::vector<std::string> before = Tree(box_.systemRoot());
  EXPECT_EQ(InstallPrintDriver(), static_cast<uint32_t>(ENOENT));
  EXPECT_NE(trace().find("KvCopy rastertokvf E:"), std::string::npos) << trace();
  EXPECT_EQ(InstallPortMonitor("/opt/korvo/"), static_cast<uint32_t>(ENOENT));
  EXPECT_NE(trace().find("InstallPortMonitor:KvCopy E:"), std::string::npos) << trace();
  EXPECT_EQ(Tree(box_.systemRoot()), before);
}

}  // namespace
}  // namespace korvo
