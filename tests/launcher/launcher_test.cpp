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
#include <functional>
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
    // A suite run under sudo or pkexec is not the launcher under them: the
    // cases that want that say so.
    for (const char* name : {"SUDO_UID", "SUDO_GID", "SUDO_USER", "PKEXEC_UID"}) unsetenv(name);
    // Programs started for another user must reach their files; only the
    // recorders' folder is open for writing (the launcher refuses a folder
    // above its files that others could change).
    fs::permissions(box.root(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::replace);
    fs::create_directories(media);
    fs::create_directories(installed);
    fs::create_directories(out);
    fs::permissions(out, fs::perms::all);
    fs::create_directories(tmp);
    fs::copy_file(KORVO_FAKE_CORE, media / kCoreLibraryName);
    WriteRecorder(installed / "korvodesk", out);
    WriteRecorder(installed / "korvobell", out);
    WriteRecorder(installed / "korvocapture", out);
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
  // No pkexec: the box says how to get the rights.
  fs::create_directories(box.path("bin"));
  box.setEnv("PATH", box.path("bin").string());
  box.setEnv("DISPLAY", ":99");
  const std::string self = (media / kLauncherName).string();
  const struct {
    LaunchMode mode;
    std::string command;
  } cases[] = {{LaunchMode::Install, self}, {LaunchMode::Uninstall, self + " /uninstall"},
               {LaunchMode::UninstallContinue, self}};
  for (const auto& c : cases) {
    RecordingTitle t;
    const LaunchResult result = RunLauncher(c.mode, t, options);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.started.empty());
    EXPECT_EQ(t.boxes, std::vector<std::string>{"Korvo Setup: Setup requires Administrator's rights.\nRun it as root: sudo " +
                                                c.command});
    EXPECT_EQ(t.shown, 0);
  }
  EXPECT_EQ(Log(), "");
  EXPECT_TRUE(test::Tree(tmp).empty());
  EXPECT_TRUE(fs::exists(media / kCoreLibraryName));
}

// "Remove Korvo" from a desktop's menu: the launcher runs itself again
// through pkexec with the display passed on; pkexec's refusal (the password
// not given) ends in the stop box.
TEST_F(LauncherStart, WithoutRightsOnADesktopThroughPkexec) {
  options.isAdministrator = [] { return false; };
  fs::create_directories(box.path("bin"));
  box.setEnv("PATH", box.path("bin").string() + ":/usr/bin:/bin");
  box.setEnv("DISPLAY", ":99");
  box.setEnv("XAUTHORITY", "/home/ana/.Xauthority");
  const fs::path pkexec = box.path("bin/pkexec");
  for (const int code : {0, 3, 126}) {
    SCOPED_TRACE(code);
    Sandbox::writeFile(pkexec, "#!/bin/sh\necho \"$*\" > '" + (out / "pkexec").string() + "'\nexit " +
                                   std::to_string(code) + "\n");
    fs::permissions(pkexec, fs::perms::owner_all);
    RecordingTitle t;
    const LaunchResult result = RunLauncher(LaunchMode::Uninstall, t, options);
    EXPECT_EQ(Sandbox::readFile(out / "pkexec"), "env DISPLAY=:99 XAUTHORITY=/home/ana/.Xauthority " +
                                                     (media / kLauncherName).string() + " /uninstall\n");
    EXPECT_EQ(result.exitCode, code == 126 ? 1 : code);
    EXPECT_EQ(t.boxes.size(), code == 126 ? 1u : 0u);
    EXPECT_EQ(t.shown, 0);
  }
  // Without a display there is nobody to ask for the password.
  unsetenv("DISPLAY");
  fs::remove(out / "pkexec");
  RecordingTitle t;
  EXPECT_EQ(RunLauncher(LaunchMode::Uninstall, t, options).exitCode, 1);
  EXPECT_FALSE(fs::exists(out / "pkexec"));
  EXPECT_EQ(t.boxes.size(), 1u);
}

TEST_F(LauncherStart, InstallRunsFromTheMediaFolderAndStartsTheDesktopProgramsOnlyWhenFinished) {
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
    // A library that cannot be loaded is said so, with the loader's reason.
    if (c.result) {
      EXPECT_TRUE(t.boxes.empty());
    } else {
      ASSERT_EQ(t.boxes.size(), 1u);
      EXPECT_EQ(t.boxes[0].rfind("Korvo Setup: Setup could not load " + (media / kCoreLibraryName).string() + ":\n", 0),
                0u)
          << t.boxes[0];
    }
    EXPECT_EQ(Log(), c.result ? "install " + media.string() + "\n" : "");
    EXPECT_EQ(fs::current_path(), media);
    ASSERT_EQ(result.started.size(), c.started ? 3u : 0u);
    const std::vector<std::string> ran = Reaped(result);
    if (!c.started) {
      EXPECT_TRUE(ran.empty());
      continue;
    }
    // The capture agent too: jobs printed to the fax printer wait for it.
    EXPECT_EQ(ran, (std::vector<std::string>{"korvobell", "korvocapture", "korvodesk"}));
    // Not under sudo, the programs run as the launcher's own user.
    const std::string uid = " uid=" + std::to_string(geteuid()) + " ";
    const std::string desk = (installed / "korvodesk").string() + " /After_Install" + uid;
    EXPECT_EQ(Sandbox::readFile(out / "korvodesk").substr(0, desk.size()), desk);
    for (const char* program : {"korvobell", "korvocapture"}) {
      const std::string line = (installed / program).string() + " " + uid;
      EXPECT_EQ(Sandbox::readFile(out / program).substr(0, line.size()), line);
    }
  }
  EXPECT_EQ(settled, 3);
}

TEST_F(LauncherStart, UnderSudoOrPkexecTheProgramsRunAsTheInvokingUserInTheirHome) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to start programs as another user";
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  const std::string uid = std::to_string(nobody->pw_uid), gid = std::to_string(nobody->pw_gid);
  const std::string home = nobody->pw_dir;
  box.setEnv("KORVO_FAKE_CORE_RESULT", "0");
  for (const bool sudo : {true, false}) {
    SCOPED_TRACE(sudo ? "sudo" : "pkexec");
    if (sudo) {
      box.setEnv("SUDO_UID", uid);
      box.setEnv("SUDO_GID", gid);
      box.setEnv("SUDO_USER", "nobody");
    } else {
      unsetenv("SUDO_UID");
      unsetenv("SUDO_GID");
      unsetenv("SUDO_USER");
      box.setEnv("PKEXEC_UID", uid);
    }
    for (const auto& f : test::Tree(out)) fs::remove(out / f);
    const LaunchResult result = RunLauncher(LaunchMode::Install, title, options);
    ASSERT_EQ(result.started.size(), 3u);
    EXPECT_EQ(Reaped(result), (std::vector<std::string>{"korvobell", "korvocapture", "korvodesk"}));
    // nobody's home does not exist: the program starts in /.
    const std::string cwd = fs::exists(home) ? home : "/";
    const std::string as = " uid=" + uid + " gid=" + gid + " home=" + home + " cwd=" + cwd + "\n";
    EXPECT_EQ(Sandbox::readFile(out / "korvodesk"), (installed / "korvodesk").string() + " /After_Install" + as);
    for (const char* program : {"korvobell", "korvocapture"})
      EXPECT_EQ(Sandbox::readFile(out / program), (installed / program).string() + " " + as);
  }
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

TEST_F(LauncherStart, UninstallContinueDeletesOnlyTheLibraryOfRemovalsOwnCopy) {
  // The copy as removal makes it: a private folder in the temporary one.
  WriteRecorder(media / kLauncherName, out);
  const LaunchResult started = RunLauncher(LaunchMode::Uninstall, title, options);
  ASSERT_EQ(started.exitCode, 0);
  EXPECT_EQ(Reaped(started), std::vector<std::string>{kLauncherName});
  const fs::path copy = started.copyFolder;
  for (const char* result : {"0", "1"}) {
    SCOPED_TRACE(result);
    box.setEnv("KORVO_FAKE_CORE_RESULT", result);
    // Started from the copy, from the media, from a folder of that name
    // elsewhere: only the copy's library goes.
    const fs::path lookalike = box.path("korvoprep.lookalike");
    fs::create_directories(lookalike);
    fs::permissions(lookalike, fs::perms::owner_all, fs::perm_options::replace);
    for (const fs::path& folder : {copy, media, lookalike}) {
      SCOPED_TRACE(folder.string());
      if (!fs::exists(folder / kCoreLibraryName)) fs::copy_file(KORVO_FAKE_CORE, folder / kCoreLibraryName);
      fs::remove(box.path("core.log"));
      options.ownFolder = folder.string();
      RecordingTitle t;
      const LaunchResult r = RunLauncher(LaunchMode::UninstallContinue, t, options);
      EXPECT_EQ(r.setupResult, result[0] == '0' ? 0u : 1u);
      EXPECT_EQ(r.exitCode, result[0] == '0' ? 0 : 1);
      EXPECT_EQ(t.shown, 1);
      EXPECT_TRUE(t.boxes.empty());
      EXPECT_TRUE(r.started.empty());
      EXPECT_EQ(Log(), "remove " + folder.string() + "\n");
      EXPECT_EQ(fs::exists(folder / kCoreLibraryName), folder != copy);
      EXPECT_TRUE(fs::exists(folder / kLauncherName) || folder == lookalike);
    }
  }
  // Without its library nothing is called, the launcher says why and
  // nothing is deleted.
  RecordingTitle t;
  fs::remove(box.path("core.log"));
  options.ownFolder = copy.string();
  EXPECT_EQ(RunLauncher(LaunchMode::UninstallContinue, t, options).setupResult, kNoSetupLibrary);
  EXPECT_EQ(Log(), "");
  ASSERT_EQ(t.boxes.size(), 1u);
  EXPECT_EQ(t.boxes[0].rfind("Korvo Setup: Setup could not load " + (copy / kCoreLibraryName).string() + ":\n", 0), 0u)
      << t.boxes[0];
  EXPECT_EQ(test::Tree(copy), std::vector<std::string>{kLauncherName});
}

// Root's launcher loads and installs nothing that another login could have
// changed: the library's constructor (it writes a marker) never runs.
TEST_F(LauncherStart, RefusesALibraryOrMediaThatAnotherLoginCouldChange) {
  if (geteuid() != 0) GTEST_SKIP() << "files of another login need root";
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  const fs::path marker = box.path("marker");
  box.setEnv("KORVO_MARKER_FILE", marker.string());
  Sandbox::writeFile(media / "korvohu_", "packed");
  fs::create_directories(media / "help");
  Sandbox::writeFile(media / "help/index.html", "help");
  const auto own = [](const fs::path& p, uid_t uid) { ASSERT_EQ(lchown(p.c_str(), uid, static_cast<gid_t>(-1)), 0) << p; };
  const auto mode = [](const fs::path& p, fs::perms perms) { fs::permissions(p, perms, fs::perm_options::replace); };
  const fs::perms folder = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec;
  const fs::perms file = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read;
  const struct {
    const char* what;
    std::function<void()> spoil;  // what another login could change
    std::string named;            // the path the box names
    std::function<void()> mend;
  } cases[] = {
      {"the media folder owned by another login", [&] { own(media, nobody->pw_uid); }, media.string(),
       [&] { own(media, 0); }},
      {"the media folder writable by everyone", [&] { mode(media, fs::perms::all); }, media.string(),
       [&] { mode(media, folder); }},
      {"a folder above writable by its group",
       [&] {
         ASSERT_EQ(chown(box.root().c_str(), static_cast<uid_t>(-1), nobody->pw_gid), 0);
         mode(box.root(), folder | fs::perms::group_write);
       },
       box.root().string(),
       [&] {
         mode(box.root(), folder);
         ASSERT_EQ(chown(box.root().c_str(), static_cast<uid_t>(-1), 0), 0);
       }},
      {"the library owned by another login", [&] { own(media / kCoreLibraryName, nobody->pw_uid); },
       (media / kCoreLibraryName).string(), [&] { own(media / kCoreLibraryName, 0); }},
      {"a media file writable by everyone", [&] { mode(media / "korvohu_", file | fs::perms::others_write); },
       (media / "korvohu_").string(), [&] { mode(media / "korvohu_", file); }},
      {"a file of a media folder owned by another login", [&] { own(media / "help/index.html", nobody->pw_uid); },
       (media / "help/index.html").string(), [&] { own(media / "help/index.html", 0); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    c.spoil();
    for (LaunchMode m : {LaunchMode::Install, LaunchMode::UninstallContinue}) {
      if (m == LaunchMode::UninstallContinue && c.named.find("/help") != std::string::npos) continue;
      if (m == LaunchMode::UninstallContinue && c.named.find("korvohu_") != std::string::npos) continue;
      RecordingTitle t;
      const LaunchResult r = RunLauncher(m, t, options);
      EXPECT_EQ(r.exitCode, 1);
      EXPECT_EQ(r.setupResult, 0u);
      EXPECT_TRUE(r.started.empty());
      ASSERT_EQ(t.boxes.size(), 1u);
      EXPECT_EQ(t.boxes[0].rfind("Korvo Setup: Setup does not use files that another login could change.\n" + c.named + " ", 0),
                0u)
          << t.boxes[0];
      EXPECT_EQ(t.shown, 0);
      EXPECT_FALSE(fs::exists(marker));
      EXPECT_TRUE(fs::exists(media / kCoreLibraryName));
    }
    c.mend();
  }
  // A sticky folder open to all (as /tmp) holding root's own files is fine.
  mode(media, fs::perms::all | fs::perms::sticky_bit);
  RecordingTitle t;
  RunLauncher(LaunchMode::Install, t, options);
  EXPECT_TRUE(t.boxes.empty()) << t.boxes.front();
  EXPECT_TRUE(fs::exists(marker));
}

}  // namespace
}  // namespace korvo::launcher
