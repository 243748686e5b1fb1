// The fax printer's files as cmake --install puts them (staged with
// DESTDIR): the filter and the backend under CUPS's ServerBin, the backend
// for root alone, the PPD, and the agent with an autostart entry where a
// desktop session looks for it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "tests/capture/programs.h"
#include "tests/support/sandbox.h"

namespace {

using namespace korvo::test;
namespace fs = std::filesystem;

unsigned Mode(const fs::path& p) {
  struct stat st{};
  return stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(PrinterInstall, FilesGoWhereCupsAndTheDesktopSessionLookForThem) {
  Sandbox box;
  int n = 0;
  for (const std::string prefix : {"/usr/local", "/usr"}) {
    SCOPED_TRACE(prefix);
    const fs::path stage = box.path("stage" + std::to_string(n++));
    ASSERT_EQ(RunProgram({{KORVO_CMAKE, "--install", BuildDir().string(), "--component", "printer", "--prefix", prefix},
                          "/dev/null",
                          box.path("install.log"),
                          box.path("install.log"),
                          {"DESTDIR=" + stage.string()}}),
              0)
        << Sandbox::readFile(box.path("install.log"));
    const fs::path root = stage / prefix.substr(1);
    EXPECT_EQ(Mode(root / "lib/cups/filter/rastertokvf"), 0755u);
    EXPECT_EQ(Mode(root / "lib/cups/backend/kvf"), 0700u) << "cupsd runs it as root only so";
    EXPECT_EQ(Sandbox::readFile(root / "share/ppd/korvo/Korvo_Printer.ppd"),
              Sandbox::readFile(SourceDir() / "capture/Korvo_Printer.ppd"));
    EXPECT_EQ(Mode(root / "bin/korvocapture"), 0755u);
    // XDG_CONFIG_DIRS is /etc/xdg unless a session says otherwise.
    const fs::path entry = stage / "etc/xdg/autostart/korvocapture.desktop";
    ASSERT_TRUE(fs::exists(entry));
    EXPECT_EQ(RunProgram({{"desktop-file-validate", entry.string()}, "/dev/null", box.path("validate.log"),
                          box.path("validate.log"), {}}),
              0)
        << Sandbox::readFile(box.path("validate.log"));
  }
}

}  // namespace
