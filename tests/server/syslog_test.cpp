#include "server/syslog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/settings.h"
#include "common/status_codes.h"
#include "platform/eventlog.h"
#include "platform/registry.h"
#include "tests/support/sandbox.h"

namespace korvo {
namespace {

constexpr char kLogKey[] = "System\\CurrentControlSet\\Services\\EventLog\\Korvo";
constexpr char kSourceKey[] = "System\\CurrentControlSet\\Services\\EventLog\\System\\Korvo Server";

std::vector<std::string> Split(const std::string& text, const std::string& sep) {
  std::vector<std::string> out;
  size_t at = 0;
  for (size_t next; (next = text.find(sep, at)) != std::string::npos; at = next + sep.size())
    out.push_back(text.substr(at, next - at));
  if (at < text.size()) out.push_back(text.substr(at));
  return out;
}

class SysLogTest : public ::testing::Test {
 protected:
  SysLog& Log() {
    if (!log_) {
      int ok = 0;
      log_ = std::make_unique<SysLog>("unused.log", 0x80000, &ok);
      EXPECT_EQ(ok, 1);
    }
    return *log_;
  }
  std::string Dump(Status expect = kStatusSuccess) {
    const auto file = sandbox_.path("dump.lst");
    if (!std::filesystem::exists(file)) test::Sandbox::writeFile(file, "");
    EXPECT_EQ(Log().DumpToFile(file.c_str()), expect);
    return test::Sandbox::readFile(file);
  }
  static uint32_t Dword(const platform::RegistryHiveData& hive, const char* key, const char* name) {
    const auto* v = hive.FindValue(key, name);
    if (!v || v->data.size() != 4) return 0xDEADBEEF;
    return v->data[0] | (v->data[1] << 8) | (v->data[2] << 16) | (uint32_t(v->data[3]) << 24);
  }

  test::Sandbox sandbox_;
  std::unique_ptr<SysLog> log_;
};

TEST_F(SysLogTest, RegistersTheLogAndLeavesExistingValues) {
  ASSERT_EQ(KvWriteRegStr(nullptr, "KorvoCore", "/opt/korvo/libkorvocore.so"), 1);
  Log();
  platform::RegistryHiveData hive;
  ASSERT_TRUE(platform::LoadRegistryHive(platform::RegistryHive::LocalMachine, hive));
  EXPECT_EQ(Dword(hive, kLogKey, "MaxSize"), 0x80000u);
  EXPECT_EQ(Dword(hive, kLogKey, "Retention"), 0u);
  EXPECT_EQ(Dword(hive, kSourceKey, "TypesSupported"), 7u);
  const auto* file = hive.FindValue(kSourceKey, "EventMessageFile");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(std::string(file->data.begin(), file->data.end()), std::string("/opt/korvo/libkorvocore.so", 27));

  // Values an administrator set stay; only what is missing is written.
  ASSERT_EQ(platform::UpdateRegistryHive(platform::RegistryHive::LocalMachine,
                                         [](platform::RegistryHiveData& h) {
                                           h.SetValue(kLogKey, "MaxSize", {platform::kRegDword, {0, 0, 2, 0}});
                                           h.SetValue(kLogKey, "Retention", {platform::kRegDword, {9, 0, 0, 0}});
                                           h.SetValue(kSourceKey, "EventMessageFile", {platform::kRegSz, {'x', 0}});
                                           h.SetValue(kSourceKey, "TypesSupported", {platform::kRegDword, {1, 0, 0, 0}});
                                           return true;
                                         }),
            platform::RegistryUpdate::kDone);
  int ok = 0;
  SysLog again("unused.log", 0x80000, &ok);
  EXPECT_EQ(ok, 1);
  ASSERT_TRUE(platform::LoadRegistryHive(platform::RegistryHive::LocalMachine, hive));
  EXPECT_EQ(Dword(hive, kLogKey, "MaxSize"), 0x20000u);
  EXPECT_EQ(Dword(hive, kLogKey, "Retention"), 9u);
  EXPECT_EQ(Dword(hive, kSourceKey, "TypesSupported"), 1u);
  EXPECT_EQ(hive.FindValue(kSourceKey, "EventMessageFile")->data, (std::vector<uint8_t>{'x', 0}));
  // The store keeps to the registered size.
  EXPECT_EQ(platform::EventLog::SizeLimit("Korvo"), 0x20000u);
}

TEST_F(SysLogTest, AnUnwritableRegistryFailsTheLog) {
  sandbox_.setEnv("KORVO_MACHINE_HIVE", sandbox_.path("no-such-dir-file").string() + "/sub/machine.reg");
  test::Sandbox::writeFile(sandbox_.path("no-such-dir-file"), "a file, not a folder");
  int ok = 1;
  SysLog log("unused.log", 0x80000, &ok);
  EXPECT_EQ(ok, 0);
}

TEST_F(SysLogTest, DumpHoldsTheNewest1024ServerEntries) {
  {
    platform::EventLog other;
    ASSERT_TRUE(other.Open("Korvo"));
    // Entries of other writers: other ids, or more than one string.
    ASSERT_TRUE(other.Report("Korvo Server", platform::kEventInformation, 0, 9010, {"Korvo Service stopped"}));
    ASSERT_TRUE(other.Report("Korvo", platform::kEventInformation, 1, 9000, {"two", "strings"}));
  }
  for (int i = 0; i < 2000; ++i) {
    if (i % 2) Log().Info("entry %d", i);
    else Log().Error("entry %d", i);
  }
  {
    platform::EventLog other;
    ASSERT_TRUE(other.Open("Korvo"));
    ASSERT_TRUE(other.Report("Korvo Server", platform::kEventError, 0, 9005, {"newest, other id"}));
  }
  const auto lines = Split(Dump(), "\r\n");
  ASSERT_EQ(lines.size(), 1024u);
  for (size_t i = 0; i < lines.size(); ++i) {
    const int n = 1999 - static_cast<int>(i);
    const auto fields = Split(lines[i], "\x1B");
    ASSERT_EQ(fields.size(), 3u) << lines[i];
    EXPECT_EQ(lines[i].back(), '\x1B');
    EXPECT_EQ(fields[0], n % 2 ? "4" : "1");
    EXPECT_GT(std::stoul(fields[1]), 1700000000u);
    EXPECT_EQ(fields[2], "entry " + std::to_string(n));
  }
}

TEST_F(SysLogTest, DumpFailures) {
  Log().Info("one");
  EXPECT_EQ(Log().DumpToFile(sandbox_.path("missing.lst").c_str()), kStatusInternalError);
  EXPECT_FALSE(std::filesystem::exists(sandbox_.path("missing.lst"))) << "the file must exist already";
  // A longer earlier content does not trail the dump.
  test::Sandbox::writeFile(sandbox_.path("dump.lst"), std::string(500, 'z'));
  EXPECT_EQ(Split(Dump(), "\r\n").size(), 1u);
  EXPECT_EQ(Dump().find('z'), std::string::npos);

  sandbox_.setEnv("KORVO_LOG_DIR", sandbox_.path("dump.lst").string());  // a file, not a folder
  EXPECT_EQ(Log().DumpToFile(sandbox_.path("dump.lst").c_str()), kStatusOpenEventLog);
  EXPECT_EQ(Log().Clear(), kStatusOpenEventLog);
}

TEST_F(SysLogTest, TextsCannotSplitTheirDumpLine) {
  Log().Error("[%s] Operation '%s' failed.", "eve\x1B" "4\r\nforged", "x");
  EXPECT_EQ(Split(Dump(), "\r\n").size(), 1u);
  EXPECT_NE(Dump().find("\x1B[eve 4  forged] Operation 'x' failed.\x1B\r\n"), std::string::npos);
}

TEST_F(SysLogTest, ClearEmptiesTheLog) {
  Log().Info("a");
  Log().Error("b");
  EXPECT_EQ(Log().Clear(), kStatusSuccess);
  EXPECT_EQ(Dump(), "");
  Log().Info("after");
  EXPECT_EQ(Split(Dump(), "\r\n").size(), 1u);
}

TEST_F(SysLogTest, TextsAreCutTo255CharactersOnACharacterBoundary) {
  struct Case {
    std::string text;
    size_t keep;
  };
  const std::string c = "\xC4\x8D";  // č, two bytes
  for (const Case& t : {Case{std::string(300, 'a'), 255}, Case{std::string(255, 'a'), 255},
                        Case{std::string(254, 'a') + c, 254}, Case{std::string(253, 'a') + c + "x", 255},
                        Case{std::string(252, 'a') + "\xE2\x82\xAC" + "x", 255},
                        Case{std::string(253, 'a') + "\xE2\x82\xAC", 253}}) {
    ASSERT_EQ(Log().Clear(), kStatusSuccess);
    Log().Info("%s", t.text.c_str());
    const auto fields = Split(Split(Dump(), "\r\n").at(0), "\x1B");
    ASSERT_EQ(fields.size(), 3u);
    EXPECT_EQ(fields[2], t.text.substr(0, t.keep));
  }
}

TEST_F(SysLogTest, ErrorsFromTheStringResources) {
  struct Case {
    const char* lang;
    uint32_t id;
    const char* expect;  // nullptr: no entry
  };
  for (const Case& c : {Case{"C", 9000, "[ana] User has no permissions"},
                        Case{"en_US.UTF-8", 9001, "[ana] Operation 'Clear journal' failed."},
                        Case{"hr_HR.UTF-8", 9001, "[ana] Operacija 'Clear journal' nije uspjela."},
                        Case{"hr_HR.UTF-8", 9000, "[ana] Korisnik nema ovlasti"}, Case{"C", 9002, nullptr}}) {
    SCOPED_TRACE(c.id);
    sandbox_.setEnv("LC_ALL", c.lang);
    ASSERT_EQ(Log().Clear(), kStatusSuccess);
    Log().ErrorFromResource(c.id, "ana", "Clear journal");
    const std::string dump = Dump();
    if (!c.expect) {
      EXPECT_EQ(dump, "");
      continue;
    }
    EXPECT_EQ(dump.substr(0, 2), "1\x1B");
    EXPECT_NE(dump.find(std::string("\x1B") + c.expect + "\x1B\r\n"), std::string::npos) << dump;
  }
}

}  // namespace
}  // namespace korvo
