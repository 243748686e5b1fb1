#include "platform/registry.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/lasterror.h"
#include "tests/support/sandbox.h"

namespace korvo::platform {
namespace {

using test::Sandbox;

constexpr std::string_view kMachineRoot = "HKEY_LOCAL_MACHINE";

RegistryValue Str(std::string_view s) {
  RegistryValue v{kRegSz, std::vector<uint8_t>(s.begin(), s.end())};
  v.data.push_back(0);
  return v;
}
RegistryValue Dword(uint32_t x) { return {kRegDword, {uint8_t(x), uint8_t(x >> 8), uint8_t(x >> 16), uint8_t(x >> 24)}}; }
RegistryValue Bin(std::vector<uint8_t> b) { return {kRegBinary, std::move(b)}; }

uint32_t DwordOf(const RegistryValue* v) {
  return v ? uint32_t(v->data[0]) | uint32_t(v->data[1]) << 8 | uint32_t(v->data[2]) << 16 | uint32_t(v->data[3]) << 24
           : 0xFFFFFFFFu;
}

TEST(RegistryText, TrickyValuesRoundTrip) {
  RegistryHiveData data;
  const std::string key = "Software\\Velmora Technologies\\Korvo\\Server";
  ASSERT_TRUE(data.CreateKey(key));
  ASSERT_TRUE(data.CreateKey("Software\\Other [x] \"q\""));
  std::vector<std::pair<std::string, RegistryValue>> values = {
      {"plain", Str("C:\\Korvo\\")},
      {"quotes \"and\" \\slashes\\", Str("say \"hi\" \\\\server\\share\\")},
      {"lines", Str("one\ntwo\r\nthree\n")},
      {"utf8", Str("Pošalji faks – čćžšđ ☎")},
      {"empty", Str("")},
      {"", Str("default value")},
      {"dword", Dword(0xDEADBEEF)},
      {"binary", Bin({0, 1, 0x7F, 0x80, 0xFF, 0})},
      {"empty binary", Bin({})},
      {"no nul", {kRegSz, {'a', 'b'}}},
      {"multi", {7, {'a', 0, 'b', 0, 0}}},
      {"short dword", {kRegDword, {1, 2}}},
  };
  for (auto& [name, value] : values) ASSERT_TRUE(data.SetValue(key, name, value)) << name;
  ASSERT_TRUE(data.SetValue("Software\\Other [x] \"q\"", "x", Dword(1)));

  std::string text = data.Serialize(kMachineRoot);
  RegistryHiveData back;
  size_t line = 0;
  ASSERT_TRUE(back.Parse(text, kMachineRoot, &line)) << "line " << line << "\n" << text;
  EXPECT_EQ(back, data) << text;
  for (auto& [name, value] : values) {
    const RegistryValue* got = back.FindValue(key, name);
    ASSERT_NE(got, nullptr) << name;
    EXPECT_EQ(*got, value) << name;
  }
  // The file keeps the REGEDIT4 forms; a string with line ends goes as hex(1).
  EXPECT_EQ(text.rfind("REGEDIT4\n\n", 0), 0u);
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Software\\Velmora Technologies\\Korvo\\Server]\n"), std::string::npos);
  EXPECT_NE(text.find("\"plain\"=\"C:\\\\Korvo\\\\\"\n"), std::string::npos);
  EXPECT_NE(text.find("\"dword\"=dword:deadbeef\n"), std::string::npos);
  EXPECT_NE(text.find("\"binary\"=hex:00,01,7f,80,ff,00\n"), std::string::npos);
  EXPECT_NE(text.find("@=\"default value\"\n"), std::string::npos);
  EXPECT_NE(text.find("\"lines\"=hex(1):6f,6e,65,0a,"), std::string::npos);
}

TEST(RegistryText, ReadsWhatRegeditWrites) {
  // CRLF line ends, a byte order mark, comments, blank lines, continued hex
  // lines, letter case differing from the file.
  std::string text =
      "\xEF\xBB\xBFREGEDIT4\r\n\r\n; a comment\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Velmora Technologies\\Korvo\\Server]\r\n"
      "\"Pipes\"=dword:1\r\n"
      "\"Blob\"=hex:01,02,\\\r\n  03,04\r\n"
      "\"Name\"=\"a \\\"b\\\"\"\r\n\r\n";
  RegistryHiveData data;
  ASSERT_TRUE(data.Parse(text, kMachineRoot));
  EXPECT_TRUE(data.HasKey("software\\velmora technologies\\KORVO"));
  EXPECT_TRUE(data.HasKey("Software"));
  EXPECT_FALSE(data.HasKey("Software\\Velmora"));
  EXPECT_EQ(DwordOf(data.FindValue("SOFTWARE\\Velmora Technologies\\Korvo\\server", "pipes")), 1u);
  EXPECT_EQ(*data.FindValue("Software\\Velmora Technologies\\Korvo\\Server", "Blob"), Bin({1, 2, 3, 4}));
  EXPECT_EQ(*data.FindValue("Software\\Velmora Technologies\\Korvo\\Server", "Name"), Str("a \"b\""));
}

TEST(RegistryText, ParsedHivesWriteBackToTheSameContents) {
  // Texts that parse must write back to text that parses into the same
  // contents and writes back identically.
  const char* texts[] = {
      "REGEDIT4\n[HKEY_LOCAL_MACHINE]\n",    // an empty root section
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\]\n",  // the same, spelt with a separator
      "REGEDIT4\n[hkey_local_machine]\n[HKEY_LOCAL_MACHINE\\a]\n\"x\"=dword:1\n",
      "REGEDIT4\n[HKEY_LOCAL_MACHINE]\n@=\"root\"\n[HKEY_LOCAL_MACHINE\\a]\n",
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\a]\n\"X\"=\"1\"\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex(1):0d,00\n",
  };
  for (const char* text : texts) {
    RegistryHiveData first;
    ASSERT_TRUE(first.Parse(text, kMachineRoot)) << text;
    std::string written = first.Serialize(kMachineRoot);
    RegistryHiveData second;
    ASSERT_TRUE(second.Parse(written, kMachineRoot)) << text << "wrote\n" << written;
    EXPECT_EQ(second, first) << text << "wrote\n" << written;
    EXPECT_EQ(second.Serialize(kMachineRoot), written) << text;
  }
  // The root exists whether or not it was created.
  RegistryHiveData created;
  ASSERT_TRUE(created.CreateKey(""));
  EXPECT_TRUE(created.HasKey(""));
  EXPECT_EQ(created, RegistryHiveData());
}

TEST(RegistryText, RejectsMalformedHives) {
  struct Case {
    const char* text;
    size_t line;
  } cases[] = {
      {"garbage\n", 1},
      {"REGEDIT4\n\"a\"=\"b\"\n", 2},                          // value outside a key
      {"REGEDIT4\n[HKEY_CURRENT_USER\\Software]\n", 2},         // another hive's root
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\n", 2},         // unclosed section
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\a\\\\b]\n", 2},          // empty key name
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\a]\n\"x\"=\"open\n", 3},  // unclosed string
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\a]\n\"x\"=\"\\n\"\n", 3},  // unknown escape
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\a]\n\"x\"=dword:123456789\n", 3},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\a]\n\"x\"=hex:01,,02\n", 3},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\a]\n\"x\"=hex:01,\n", 3},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\a]\n\"x\"=hex:01,\\\n", 3},  // continuation at the end
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\a]\n\"x\"=-\n", 3},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\a]\nx=\"y\"\n", 3},
  };
  for (const Case& c : cases) {
    RegistryHiveData data;
    size_t line = 0;
    EXPECT_FALSE(data.Parse(c.text, kMachineRoot, &line)) << c.text;
    EXPECT_EQ(line, c.line) << c.text;
  }
  RegistryHiveData empty;
  EXPECT_TRUE(empty.Parse("", kMachineRoot));
  EXPECT_TRUE(empty.Parse("REGEDIT4\n", kMachineRoot));
}

TEST(RegistryText, RefusesNamesTheFileCannotHold) {
  RegistryHiveData data;
  for (const char* bad : {"a\\\\b", "\\a", "a\\", "a\nb"}) {
    SetLastError(0);
    EXPECT_FALSE(data.CreateKey(bad)) << bad;
    EXPECT_EQ(GetLastError(), kErrorBadRegName);
  }
  ASSERT_TRUE(data.CreateKey("a"));
  EXPECT_FALSE(data.SetValue("a", "line\nend", Dword(1)));
  EXPECT_FALSE(data.SetValue("missing", "x", Dword(1)));
}

TEST(RegistryText, DeletesAKeyWithEverythingBelowItOnly) {
  RegistryHiveData data;
  for (const char* key : {"Soft\\Korvo", "Soft\\Korvo\\Server", "Soft\\KORVO\\Server\\Deep", "Soft\\KorvoB",
                          "Soft\\Korvo Z", "Soft\\Korvo_", "Soft\\Other"})
    ASSERT_TRUE(data.CreateKey(key)) << key;
  ASSERT_TRUE(data.SetValue("Soft\\Korvo\\Server", "Pipes", Dword(1)));
  ASSERT_TRUE(data.SetValue("Soft\\KorvoB", "Kept", Dword(2)));

  EXPECT_TRUE(data.DeleteKey("soft\\korvo"));
  for (const char* gone : {"Soft\\Korvo", "Soft\\Korvo\\Server", "Soft\\Korvo\\Server\\Deep"})
    EXPECT_FALSE(data.HasKey(gone)) << gone;
  EXPECT_EQ(data.FindValue("Soft\\Korvo\\Server", "Pipes"), nullptr);
  for (const char* kept : {"Soft", "Soft\\KorvoB", "Soft\\Korvo Z", "Soft\\Korvo_", "Soft\\Other"})
    EXPECT_TRUE(data.HasKey(kept)) << kept;
  EXPECT_EQ(DwordOf(data.FindValue("Soft\\KorvoB", "Kept")), 2u);

  SetLastError(0);
  EXPECT_FALSE(data.DeleteKey("Soft\\Korvo"));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_FALSE(data.DeleteKey(""));
  EXPECT_EQ(GetLastError(), kErrorBadRegName);
}

TEST(RegistryFiles, HivePathsFollowTheEnvironment) {
  Sandbox box;
  EXPECT_EQ(RegistryHivePath(RegistryHive::LocalMachine), box.machineHive());
  EXPECT_EQ(RegistryHivePath(RegistryHive::CurrentUser), box.userHive());
  unsetenv("KORVO_MACHINE_HIVE");
  box.setEnv("KORVO_USER_HIVE", "");
  EXPECT_EQ(RegistryHivePath(RegistryHive::LocalMachine), "/etc/korvo/machine.reg");
  EXPECT_EQ(RegistryHivePath(RegistryHive::CurrentUser), box.path("config/korvo/user.reg"));
  unsetenv("XDG_CONFIG_HOME");
  box.setEnv("HOME", box.path("home").string());
  EXPECT_EQ(RegistryHivePath(RegistryHive::CurrentUser), box.path("home/.config/korvo/user.reg"));
}

TEST(RegistryFiles, MissingHiveIsEmptyAndWriteCreatesIt) {
  Sandbox box;
  box.setEnv("KORVO_USER_HIVE", box.path("deep/er/user.reg").string());
  RegistryHiveData data;
  ASSERT_TRUE(LoadRegistryHive(RegistryHive::CurrentUser, data));
  EXPECT_EQ(data, RegistryHiveData());
  auto result = UpdateRegistryHive(RegistryHive::CurrentUser, [](RegistryHiveData& d) {
    return d.CreateKey("Software\\X") && d.SetValue("Software\\X", "v", Dword(7));
  });
  ASSERT_EQ(result, RegistryUpdate::kDone);
  ASSERT_TRUE(LoadRegistryHive(RegistryHive::CurrentUser, data));
  EXPECT_EQ(DwordOf(data.FindValue("Software\\X", "v")), 7u);
  EXPECT_EQ(Sandbox::readFile(box.path("deep/er/user.reg")), "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n\n"
                                                              "[HKEY_CURRENT_USER\\Software\\X]\n\"v\"=dword:00000007\n\n");
  // Per-user settings are private to the user.
  EXPECT_EQ(std::filesystem::status(box.path("deep/er/user.reg")).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  // A refused change writes nothing.
  EXPECT_EQ(UpdateRegistryHive(RegistryHive::LocalMachine, [](RegistryHiveData&) { return false; }),
            RegistryUpdate::kRefused);
  EXPECT_FALSE(std::filesystem::exists(box.machineHive()));
}

TEST(RegistryFiles, UnparsableHiveIsReportedAndNeverOverwritten) {
  Sandbox box;
  const std::string broken = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software]\n\"x\"=dword:zz\n";
  Sandbox::writeFile(box.machineHive(), broken);
  RegistryHiveData data;
  SetLastError(0);
  EXPECT_FALSE(LoadRegistryHive(RegistryHive::LocalMachine, data));
  EXPECT_EQ(GetLastError(), kErrorBadHive);
  bool called = false;
  EXPECT_EQ(UpdateRegistryHive(RegistryHive::LocalMachine, [&](RegistryHiveData&) { return called = true; }),
            RegistryUpdate::kOpenFailed);
  EXPECT_FALSE(called);
  EXPECT_EQ(Sandbox::readFile(box.machineHive()), broken);
  std::string trace = Sandbox::readFile(box.traceFile());
  EXPECT_NE(trace.find("Registry hive '" + box.machineHive().string() + "' does not parse (line 3)"), std::string::npos)
      << trace;
}

// Writer processes that each set their own values one after another; an
// update lost by a race or a torn file shows as a missing value.
pid_t SpawnWriter(int id, int count) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  for (int n = 0; count < 0 || n < count; ++n) {
    std::string name = "w" + std::to_string(id) + "_" + std::to_string(n);
    auto r = UpdateRegistryHive(RegistryHive::LocalMachine, [&](RegistryHiveData& d) {
      return d.CreateKey("Software\\T") && d.SetValue("Software\\T", name, Dword(static_cast<uint32_t>(n)));
    });
    if (r != RegistryUpdate::kDone) _exit(1);
  }
  _exit(0);
}

TEST(RegistryFiles, ConcurrentWriterProcessesLoseNoUpdate) {
  Sandbox box;
  constexpr int kWriters = 6, kWrites = 40;
  std::vector<pid_t> pids;
  for (int i = 0; i < kWriters; ++i) pids.push_back(SpawnWriter(i, kWrites));
  // Meanwhile every read sees a whole hive.
  int reads = 0;
  for (bool running = true; running; ++reads) {
    RegistryHiveData data;
    ASSERT_TRUE(LoadRegistryHive(RegistryHive::LocalMachine, data));
    running = false;
    for (pid_t& pid : pids) {
      int status;
      if (pid > 0 && waitpid(pid, &status, WNOHANG) == pid) {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        pid = 0;
      }
      running = running || pid > 0;
    }
  }
  RegistryHiveData data;
  ASSERT_TRUE(LoadRegistryHive(RegistryHive::LocalMachine, data));
  for (int i = 0; i < kWriters; ++i)
    for (int n = 0; n < kWrites; ++n)
      EXPECT_EQ(DwordOf(data.FindValue("Software\\T", "w" + std::to_string(i) + "_" + std::to_string(n))), uint32_t(n))
          << i << " " << n;
}

TEST(RegistryFiles, KilledWritersLeaveAWholeHive) {
  Sandbox box;
  constexpr int kWriters = 4;
  std::vector<pid_t> pids;
  for (int i = 0; i < kWriters; ++i) pids.push_back(SpawnWriter(i, -1));
  // Let every writer get some updates in, then kill them wherever they are.
  auto count = [](const RegistryHiveData& d, int id) {
    int n = 0;
    while (d.FindValue("Software\\T", "w" + std::to_string(id) + "_" + std::to_string(n))) ++n;
    return n;
  };
  for (bool enough = false; !enough;) {
    RegistryHiveData data;
    ASSERT_TRUE(LoadRegistryHive(RegistryHive::LocalMachine, data));
    enough = true;
    for (int i = 0; i < kWriters; ++i) enough = enough && count(data, i) >= 10;
  }
  for (pid_t pid : pids) kill(pid, SIGKILL);
  for (pid_t pid : pids) waitpid(pid, nullptr, 0);
  RegistryHiveData data;
  ASSERT_TRUE(LoadRegistryHive(RegistryHive::LocalMachine, data));
  // Each writer's values are a gapless run 0..n-1: nothing half-written, nothing lost.
  for (int i = 0; i < kWriters; ++i) {
    int n = count(data, i);
    EXPECT_GE(n, 10);
    for (int later = n + 1; later <= n + 5; ++later)
      EXPECT_EQ(data.FindValue("Software\\T", "w" + std::to_string(i) + "_" + std::to_string(later)), nullptr);
  }
  // A write still succeeds afterwards (a killed writer's lock died with it) and
  // clears what killed writers left behind, sparing other files.
  Sandbox::writeFile(box.path("machine.reg.tmp-abcdef"), "left over");
  Sandbox::writeFile(box.path("machine.reg.backup"), "mine");
  EXPECT_EQ(UpdateRegistryHive(RegistryHive::LocalMachine, [](RegistryHiveData&) { return true; }),
            RegistryUpdate::kDone);
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(box.root()))
    if (e.is_regular_file()) files.push_back(e.path().filename().string());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"machine.reg", "machine.reg.backup", "machine.reg.lock"}));
}

}  // namespace
}  // namespace korvo::platform
