// What setup does to the system, in one sandbox with a private cupsd: the
// programs from compressed media, the fax printer, the program group with
// its Startup item and the server's unit installed, then removed, which
// leaves the sandbox as it was before.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
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

// Everything in the sandbox but cupsd's own folder, the answers of its
// client programs and the trace.
std::vector<std::string> Tree(const fs::path& dir) { return test::Tree(dir, {"cups", "client.", "trace.log"}); }

TEST(InstallRoad, PrinterGroupStartupAndUnitFromPackedMediaAndBackToNothing) {
  if (geteuid() != 0) GTEST_SKIP() << "cupsd and its ServerBin need root";
  Sandbox box;
  SetDebugFlags(1);
  const fs::path media = box.path("media");
  test::PackMedia(media, {test::BuildDir() / "capture/rastertokvf", test::BuildDir() / "capture/kvf",
                          test::BuildDir() / "capture/korvocapture", test::BuildDir() / "server/korvohub",
                          test::SourceDir() / "capture/Korvo_Printer.ppd"});
  ASSERT_FALSE(HasFatalFailure());
  const fs::path saved = fs::current_path();
  fs::current_path(media);
  {
    test::CupsServer cups(box, box.path("runtime"), box.systemRoot() / "usr/lib/cups");
    const std::string root = box.path("opt/korvo").string() + "/";
    ASSERT_EQ(KvMakeDirectories(root.c_str()), 1);
    for (const char* program : {"korvohub", "korvocapture"})
      ASSERT_EQ(KvCopy((std::string(program).substr(0, std::string(program).size() - 1) + "?").c_str(),
                       (root + program).c_str()),
                1)
          << program;
    const std::vector<std::string> before = Tree(box.root());

    int running = 0;
    ASSERT_EQ(IsServerServiceRunning(nullptr, &running, "Spooler"), 1);
    ASSERT_EQ(running, 1);
    ASSERT_EQ(InstallPrintDriver(), 0u) << Sandbox::readFile(box.traceFile());
    ASSERT_EQ(InstallPortMonitor(root.c_str()), 0u) << Sandbox::readFile(box.traceFile());
    ASSERT_EQ(AddFaxPrinter(), 0u) << Sandbox::readFile(box.traceFile());
    uint32_t id = 0;
    ASSERT_EQ(KvShellCommandsStart(&id), 1);
    EXPECT_EQ(KvSendShellCommand(id, "[CreateGroup(\"Velmora Korvo\",1)]"), 1);
    EXPECT_EQ(KvSendShellCommand(id, "[AddItem(\"%skorvohub\",\"Korvo Server\")]", root.c_str()), 1);
    EXPECT_EQ(KvSendShellCommand(id, "[ExitProgman(0)]"), 1);
    EXPECT_EQ(KvSendShellCommand(id, "[ShowGroup(Startup,7,1)]"), 1);
    EXPECT_EQ(KvSendShellCommand(id, "[AddItem(\"%skorvohub\",\"Korvo Notifier\")]", root.c_str()), 1);
    EXPECT_EQ(KvSendShellCommand(id, "[ExitProgman(0)]"), 1);
    EXPECT_EQ(KvShellCommandsEnd(id), 1);
    ASSERT_EQ(InstallServerService(nullptr, (root + "korvohub").c_str(), nullptr, nullptr), 1)
        << platform::GetLastError();

    EXPECT_EQ(IsFaxPrinterInstalled(), 0u);
    EXPECT_EQ(cups.Run({"lpstat", "-v"}), 0);
    EXPECT_EQ(cups.Output(), "device for Korvo_Printer: kvf:/\n");
    for (const fs::path& file :
         {box.systemRoot() / "usr/local/share/applications/korvo-velmora-korvo-korvo-server.desktop",
          box.systemRoot() / "etc/xdg/autostart/korvo-korvo-notifier.desktop",
          box.systemRoot() / "etc/xdg/autostart/korvo-korvo-capture-agent.desktop",
          box.systemdDir() / "korvo.service", box.systemdDir() / "multi-user.target.wants/korvo.service"})
      EXPECT_TRUE(fs::exists(file)) << file;

    EXPECT_EQ(RemoveServerService(nullptr), 1) << platform::GetLastError();
    ASSERT_EQ(KvShellCommandsStart(&id), 1);
    EXPECT_EQ(KvSendShellCommand(id, "[ShowGroup(Startup,7,1)]"), 1);
    EXPECT_EQ(KvSendShellCommand(id, "[DeleteItem(\"Korvo Notifier\")]"), 1);
    EXPECT_EQ(KvSendShellCommand(id, "[ExitProgman(0)]"), 1);
    EXPECT_EQ(KvSendShellCommand(id, "[DeleteGroup(\"Velmora Korvo\",1)]"), 1);
    EXPECT_EQ(KvShellCommandsEnd(id), 1);
    EXPECT_EQ(RemoveFaxPrinter(), 0u);
    EXPECT_EQ(RemovePortMonitor(), 0u);
    EXPECT_EQ(RemovePrintDriver(), 0u);
    EXPECT_EQ(Tree(box.root()), before);
  }
  fs::current_path(saved);
}

}  // namespace
}  // namespace korvo
