// KorvoPrep's start-up without a display: the modes of the command line, the
// rights check, the setup library opened from the launcher's folder (here a
// stand-in that records its calls), the programs started after an install
// (scripts that record who ran them) and removal's private copy.
#include "launcher/launcher.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/settings.h"
#include "tests/core/install_files.h"
#include "tests/support/sandbox.h"

namespace korvo::launcher {
namespace {

namespace fs = std::filesystem;
using test::Sandbox;

TEST(LauncherMode, WholeArgumentTextIgnoringCase) {
  const struct {
    std::vector<std::string> args;
    LaunchMode mode;
  } cases[] = {
      {{}, LaunchMode::Install},
      {{"/uninstall"}, LaunchMode::Uninstall},
      {{"/UNINSTALL"}, LaunchMode::Uninstall},
      {{"/Uninstall_Cont"}, LaunchMode::UninstallContinue},
      {{"/uninstall_cont"}, LaunchMode::UninstallContinue},
      {{"/uninstall", "now"}, LaunchMode::Install},
      {{"/uninstallx"}, LaunchMode::Install},
      {{"-uninstall"}, LaunchMode::Install},
      {{"/After_Install"}, LaunchMode::Install},
      {{""}, LaunchMode::Install},
  };
  for (const auto& c : cases) {
    std::string line;
    for (const auto& a : c.args) line += "[" + a + "]";
    EXPECT_EQ(ModeOf(c.args), c.mode) << line;
  }
}

class RecordingTitle : public TitleView {
 public:
  void ShowMaximized() override { ++shown; }
  void StopBox(const std::string& text, const std::string& caption) override {
    boxes.push_back(caption + ": " + text);
  }
  int shown = 0;
  std::vector<std::string> boxes;
};

// A program that writes its arguments, user id and HOME into <out>/<name>.
void WriteRecorder(const fs::path& program, const fs::path& out) {
  Sandbox::writeFile(program, "#!/bin/sh\necho \"$0 $* uid=$(id -u) gid=$(id -g) home=$HOME cwd=$(pwd)\" > '" +
                                  (out / program.filename()).string() + "'\n");
  fs::permissions(program, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
}

int Reap(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class LauncherStart : public ::testing::Test {
 protected:
  void SetUp() override {
    // A suite run under sudo is not the launcher under sudo: the cases that
    // want that say so.
    for (const char* name : {"SUDO_UID", "SUDO_GID", "SUDO_USER"}) unsetenv(name);
    // Programs started for another user must reach their files.
    fs::permissions(box.root(), fs::perms::all, fs::perm_options::replace);
    fs::create_directories(media);
    fs::create_directories(installed);
    fs::create_directories(out);
    fs::permissions(out, fs::perms::all);
    fs::create_directories(tmp);
    fs::copy_file(KORVO_FAKE_CORE, media / kCoreLibraryName);
    WriteRecorder(installed / "korvodesk", out);
    WriteRecorder(installed / "korvobell", out);
    ASSERT_EQ(KvSetKorvoDeskName((installed / "korvodesk").c_str()), 1);
    ASSERT_EQ(KvSetKorvoInstallPath((installed.string() + "/").c_str()), 1);
    box.setEnv("KORVO_FAKE_CORE_LOG", box.path("core.log").string());
    box.setEnv("TMPDIR", tmp.string());
    options.ownFolder = media.string();
    options.isAdministrator = [] { return true; };
    options.settle = [this] { ++settled; };
    start = fs::current_path();
  }
  void TearDown() override { fs::current_path(start); }

  std::string Log() { return Sandbox::readFile(box.path("core.log")); }
  std::vector<std::string> Reaped(const LaunchResult& result) {
    for (pid_t pid : result.started) EXPECT_EQ(Reap(pid), 0);
    return test::Tree(out);
  }

  Sandbox box;
  fs::path media = box.path("media"), installed = box.path("opt/korvo"), out = box.path("out"),
           tmp = box.path("tmp");
  LauncherOptions options;
  RecordingTitle title;
  int settled = 0;
  fs::path start;
};

TEST_F(LauncherStart, WithoutRightsOnlyTheStopBoxInEveryMode) {
  options.isAdministrator = [] { return false; };
  for (LaunchMode mode : {LaunchMode::Install, LaunchMode::Uninstall, LaunchMode::UninstallContinue}) {
    RecordingTitle t;
    const LaunchResult result = RunLauncher(mode, t, options);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.started.empty());
    EXPECT_EQ(t.boxes, std::vector<std::string>{"Korvo Setup: Setup requires Administrator's rights."});
    EXPECT_EQ(t.shown, 0);
  }
  EXPECT_EQ(Log(), "");
  EXPECT_TRUE(test::Tree(tmp).empty());
  EXPECT_TRUE(fs::exists(media / kCoreLibraryName));
}

TEST_F(LauncherStart, InstallRunsFromTheMediaFolderAndStartsManagerAndNotifierOnlyWhenFinished) {
  const struct {
    const char* result;  // of the entry point; null: no library on the media
    uint32_t setupResult;
    bool started;
  } cases[] = {{"0", 0, true}, {"1", 1, false}, {nullptr, kNoSetupLibrary, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.result ? c.result : "no library");
    fs::remove(box.path("core.log"));
    for (const auto& f : test::Tree(out)) fs::remove(out / f);
    if (c.result) box.setEnv("KORVO_FAKE_CORE_RESULT", c.result);
    else fs::remove(media / kCoreLibraryName);
    RecordingTitle t;
    const LaunchResult result = RunLauncher(LaunchMode::Install, t, options);
    EXPECT_EQ(result.setupResult, c.setupResult);
    EXPECT_EQ(result.exitCode, c.started ? 0 : 1);
    EXPECT_EQ(t.shown, 1);
    EXPECT_TRUE(t.boxes.empty());
    EXPECT_EQ(Log(), c.result ? "install " + media.string() + "\n" : "");
    EXPECT_EQ(fs::current_path(), media);
    ASSERT_EQ(result.started.size(), c.started ? 2u : 0u);
    const std::vector<std::string> ran = Reaped(result);
    if (!c.started) {
      EXPECT_TRUE(ran.empty());
      continue;
    }
    EXPECT_EQ(ran, (std::vector<std::string>{"korvobell", "korvodesk"}));
    // Not under sudo, the programs run as the launcher's own user.
    const std::string uid = " uid=" + std::to_string(geteuid()) + " ";
    const std::string desk = (installed / "korvodesk").string() + " /After_Install" + uid;
    const std::string bell = (installed / "korvobell").string() + " " + uid;
    EXPECT_EQ(Sandbox::readFile(out / "korvodesk").substr(0, desk.size()), desk);
    EXPECT_EQ(Sandbox::readFile(out / "korvobell").substr(0, bell.size()), bell);
  }
  EXPECT_EQ(settled, 3);
}

TEST_F(LauncherStart, UnderSudoTheProgramsRunAsTheInvokingUserInTheirHome) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to start programs as another user";
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  const std::string uid = std::to_string(nobody->pw_uid), gid = std::to_string(nobody->pw_gid);
  const std::string home = nobody->pw_dir;
  box.setEnv("SUDO_UID", uid);
  box.setEnv("SUDO_GID", gid);
  box.setEnv("SUDO_USER", "nobody");
  box.setEnv("KORVO_FAKE_CORE_RESULT", "0");
  const LaunchResult result = RunLauncher(LaunchMode::Install, title, options);
  ASSERT_EQ(result.started.size(), 2u);
  EXPECT_EQ(Reaped(result), (std::vector<std::string>{"korvobell", "korvodesk"}));
  // nobody's home does not exist: the program starts in /.
  const std::string cwd = fs::exists(home) ? home : "/";
  EXPECT_EQ(Sandbox::readFile(out / "korvodesk"), (installed / "korvodesk").string() + " /After_Install uid=" + uid +
                                                      " gid=" + gid + " home=" + home + " cwd=" + cwd + "\n");
  EXPECT_EQ(Sandbox::readFile(out / "korvobell"),
            (installed / "korvobell").string() + "  uid=" + uid + " gid=" + gid + " home=" + home + " cwd=" + cwd + "\n");
}

TEST_F(LauncherStart, UninstallCopiesIntoAPrivateFolderAndStartsTheCopy) {
  WriteRecorder(media / kLauncherName, out);
  // A file of the old fixed name, laid in the shared folder, is not touched.
  Sandbox::writeFile(tmp / kCoreLibraryName, "someone else's");
  const LaunchResult result = RunLauncher(LaunchMode::Uninstall, title, options);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(title.shown, 0);
  ASSERT_EQ(result.started.size(), 1u);
  const fs::path copy = result.copyFolder;
  EXPECT_EQ(copy.parent_path(), tmp);
  EXPECT_EQ(copy.filename().string().rfind("korvoprep.", 0), 0u) << copy;
  EXPECT_EQ(test::Mode(copy), 0700u);
  EXPECT_EQ(Reaped(result), std::vector<std::string>{kLauncherName});
  EXPECT_EQ(Sandbox::readFile(out / kLauncherName).substr(0, (copy / kLauncherName).string().size() + 17),
            (copy / kLauncherName).string() + " /uninstall_cont ");
  EXPECT_EQ(Sandbox::readFile(copy / kCoreLibraryName), Sandbox::readFile(media / kCoreLibraryName));
  EXPECT_EQ(Sandbox::readFile(tmp / kCoreLibraryName), "someone else's");
  EXPECT_EQ(Log(), "");
}

TEST_F(LauncherStart, UninstallWhoseCopyFailsStartsNothingAndLeavesNoFolder) {
  // No launcher beside the library: the second copy fails.
  const LaunchResult result = RunLauncher(LaunchMode::Uninstall, title, options);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.started.empty());
  EXPECT_TRUE(result.copyFolder.empty());
  EXPECT_TRUE(test::Tree(tmp).empty());
  // No shared folder to copy into.
  options.tempFolder = box.path("missing").string();
  WriteRecorder(media / kLauncherName, out);
  EXPECT_EQ(RunLauncher(LaunchMode::Uninstall, title, options).exitCode, 1);
  EXPECT_TRUE(test::Tree(out).empty());
}

TEST_F(LauncherStart, UninstallContinueRemovesFromItsFolderAndDeletesOnlyTheLibrary) {
  WriteRecorder(media / kLauncherName, out);
  for (const char* result : {"0", "1"}) {
    SCOPED_TRACE(result);
    fs::remove(box.path("core.log"));
    if (!fs::exists(media / kCoreLibraryName)) fs::copy_file(KORVO_FAKE_CORE, media / kCoreLibraryName);
    box.setEnv("KORVO_FAKE_CORE_RESULT", result);
    RecordingTitle t;
    const LaunchResult r = RunLauncher(LaunchMode::UninstallContinue, t, options);
    EXPECT_EQ(r.setupResult, result[0] == '0' ? 0u : 1u);
    EXPECT_EQ(r.exitCode, result[0] == '0' ? 0 : 1);
    EXPECT_EQ(t.shown, 1);
    EXPECT_TRUE(r.started.empty());
    EXPECT_EQ(Log(), "remove " + media.string() + "\n");
    EXPECT_EQ(test::Tree(media), std::vector<std::string>{kLauncherName});
  }
  // Without its library nothing is called, and nothing is deleted but it.
  RecordingTitle t;
  fs::remove(box.path("core.log"));
  EXPECT_EQ(RunLauncher(LaunchMode::UninstallContinue, t, options).setupResult, kNoSetupLibrary);
  EXPECT_EQ(Log(), "");
  EXPECT_EQ(test::Tree(media), std::vector<std::string>{kLauncherName});
}

}  // namespace
}  // namespace korvo::launcher
