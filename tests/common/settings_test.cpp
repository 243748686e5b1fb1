#include "common/settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/lasterror.h"
#include "platform/registry.h"
#include "tests/support/sandbox.h"

namespace {

using korvo::test::Sandbox;

constexpr char kBase[] = "[HKEY_LOCAL_MACHINE\\Software\\Velmora Technologies\\Korvo]\n";

class Settings : public ::testing::Test {
 protected:
  // A machine hive whose base key holds the given lines (DebugFlags 1 by default).
  void MachineHive(const std::string& lines = "\"DebugFlags\"=dword:00000001\n") {
    Sandbox::writeFile(box_.machineHive(), std::string("REGEDIT4\n\n") + kBase + lines);
  }
  std::string Trace() const { return Sandbox::readFile(box_.traceFile()); }
  std::string MachineText() const { return Sandbox::readFile(box_.machineHive()); }

  Sandbox box_;
  char buf_[260] = {};
};

TEST_F(Settings, MissingSubkeyFailsWithItsTrace) {
  MachineHive();
  EXPECT_EQ(KvReadRegStr("NoSuchKey", "RootPath", buf_, sizeof buf_), 0);
  EXPECT_EQ(Trace(), "Read RegOpenKeyEx 'NoSuchKey'\n");
}

TEST_F(Settings, MissingBaseKeyAndValueFailWithTheirTraces) {
  MachineHive();
  uint32_t x = 0;
  EXPECT_EQ(KvReadRegUserDword(nullptr, "Anything", &x), 0);  // user hive missing: no base key
  EXPECT_EQ(KvReadRegDword("", "Missing", &x), 0);
  EXPECT_EQ(Trace(),
            "Read RegOpenKeyEx E:No such file or directory\n"
            "Read RegOpenKeyEx 'Software\\Velmora Technologies\\Korvo'\n"
            "Read RegQueryValueEx '':'Missing'\n");
}

TEST_F(Settings, ValueLargerThanTheBufferFails) {
  MachineHive();
  ASSERT_EQ(KvWriteRegStr("Server", "Korvo", "abcdef"), 1);
  std::memset(buf_, 'x', sizeof buf_);
  EXPECT_EQ(KvReadRegStr("Server", "Korvo", buf_, 6), 0);  // needs 7 with the NUL
  EXPECT_EQ(korvo::platform::GetLastError(), korvo::platform::kErrorMoreData);
  EXPECT_EQ(Trace(), "Read RegQueryValueEx 'Server':'Korvo'\n");
  EXPECT_EQ(KvReadRegStr("Server", "Korvo", buf_, 7), 1);
  EXPECT_STREQ(buf_, "abcdef");

  const uint8_t blob[5] = {1, 2, 3, 4, 5};
  ASSERT_EQ(KvWriteRegUserBinary("Blob", "b", blob, sizeof blob), 1);
  uint8_t out[5] = {};
  EXPECT_EQ(KvReadRegUserBinary("Blob", "b", out, 4), 0);
  EXPECT_EQ(KvReadRegUserBinary("Blob", "b", out, 5), 1);
  EXPECT_EQ(std::memcmp(out, blob, 5), 0);
  uint32_t x;
  EXPECT_EQ(KvReadRegUserDword("Blob", "b", &x), 0);  // 5 bytes do not fit a DWORD
}

TEST_F(Settings, ReadsOfHandWrittenValuesAreTerminatedAndWhole) {
  // A string stored without its NUL still reads as a terminated text (it needs
  // the room for the NUL); a DWORD read of a shorter value does not keep stale bytes.
  MachineHive("\"NoNul\"=hex(1):61,62\n\"Short\"=hex:05\n");
  std::memset(buf_, 'x', sizeof buf_);
  EXPECT_EQ(KvReadRegStr(nullptr, "NoNul", buf_, 2), 0);
  EXPECT_EQ(KvReadRegStr(nullptr, "NoNul", buf_, 3), 1);
  EXPECT_STREQ(buf_, "ab");
  uint32_t x = 0xFFFFFFFF;
  EXPECT_EQ(KvReadRegDword(nullptr, "Short", &x), 1);
  EXPECT_EQ(x, 5u);
}

TEST_F(Settings, EmptySubkeyIsTheBaseKey) {
  ASSERT_EQ(KvWriteRegStr("", "InstallPath", "/opt/korvo/"), 1);
  ASSERT_EQ(KvWriteRegDword(nullptr, "SetupServer", 0x11E), 1);
  EXPECT_EQ(MachineText(), std::string("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software]\n\n"
                                       "[HKEY_LOCAL_MACHINE\\Software\\Velmora Technologies]\n\n") +
                               kBase + "\"InstallPath\"=\"/opt/korvo/\"\n\"SetupServer\"=dword:0000011e\n\n");
  EXPECT_EQ(KvReadRegStr(nullptr, "InstallPath", buf_, sizeof buf_), 1);
  EXPECT_STREQ(buf_, "/opt/korvo/");
  uint32_t v = 0;
  EXPECT_EQ(KvGetKorvoServer(&v), 1);
  EXPECT_EQ(v, 0x11Eu);
}

TEST_F(Settings, TransportFlagsAreOneForAnyNonZeroValue) {
  struct Case {
    const char* value;  // the value line, or null for none
    int result;
    uint32_t flag;
  } cases[] = {{"dword:00000005", 1, 1}, {"dword:00000001", 1, 1}, {"dword:00000000", 1, 0}, {nullptr, 0, 7}};
  for (const Case& c : cases) {
    std::string lines = c.value ? std::string("\"Pipes\"=") + c.value + "\n\"TcpIp\"=" + c.value + "\n" : "";
    Sandbox::writeFile(box_.machineHive(), std::string("REGEDIT4\n\n") + kBase +
                                               "\n[HKEY_LOCAL_MACHINE\\Software\\Velmora Technologies\\Korvo\\Server]\n" +
                                               lines);
    uint32_t pipes = 7, tcp = 7;
    EXPECT_EQ(KvGetServerPipes(&pipes), c.result) << (c.value ? c.value : "missing");
    EXPECT_EQ(pipes, c.flag) << (c.value ? c.value : "missing");
    EXPECT_EQ(KvGetServerTcpIp(&tcp), c.result);
    EXPECT_EQ(tcp, c.flag);
  }
}

// One process per case: the switch is read once per process.
class SettingsTraceSwitch : public Settings, public ::testing::WithParamInterface<const char*> {};

TEST_P(SettingsTraceSwitch, NoTracesWhenDebugFlagsIsZeroOrMissing) {
  MachineHive(GetParam());
  uint32_t v;
  EXPECT_EQ(KvReadRegStr("NoSuchKey", "x", buf_, sizeof buf_), 0);
  EXPECT_EQ(KvReadRegUserDword(nullptr, "x", &v), 0);
  EXPECT_EQ(KvWriteRegDword("Bad\\\\Name", "x", 1), 0);
  EXPECT_FALSE(std::filesystem::exists(box_.traceFile()));
  EXPECT_EQ(GetDebugFlags(), 0u);
}

INSTANTIATE_TEST_SUITE_P(ZeroOrMissing, SettingsTraceSwitch,
                         ::testing::Values("\"DebugFlags\"=dword:00000000\n", "\"Other\"=dword:00000001\n"),
                         [](const auto& info) { return info.index == 0 ? "Zero" : "Missing"; });

TEST_F(Settings, DebugFlagsIsReadOnceAndCanBeSet) {
  MachineHive("\"DebugFlags\"=dword:00000003\n");
  uint32_t v = 0;
  EXPECT_EQ(ReadDebugFlags(&v), 1);
  EXPECT_EQ(v, 3u);
  EXPECT_EQ(GetDebugFlags(), 3u);
  ASSERT_EQ(KvWriteRegDword(nullptr, "DebugFlags", 0), 1);
  EXPECT_EQ(GetDebugFlags(), 3u);  // cached
  SetDebugFlags(0);
  EXPECT_EQ(GetDebugFlags(), 0u);
  EXPECT_EQ(KvReadRegStr("NoSuchKey", "x", buf_, sizeof buf_), 0);
  EXPECT_EQ(Trace(), "");
}

TEST_F(Settings, WritesCreateKeysAndFailOnABrokenHive) {
  ASSERT_EQ(KvWriteRegUserStr("Korvo Manager\\Inbox", "Columns", "1,2,3"), 1);
  EXPECT_EQ(KvReadRegUserStr("korvo manager\\INBOX", "columns", buf_, sizeof buf_), 1);
  EXPECT_STREQ(buf_, "1,2,3");

  const std::string broken = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Velmora Technologies\\Korvo]\n\"DebugFlags\"=1\n";
  Sandbox::writeFile(box_.machineHive(), broken);
  SetDebugFlags(1);
  EXPECT_EQ(KvWriteRegStr("Server", "RootPath", "/srv/korvo"), 0);
  EXPECT_EQ(KvReadRegStr("Server", "RootPath", buf_, sizeof buf_), 0);
  EXPECT_EQ(MachineText(), broken);
  std::string trace = Trace();
  EXPECT_NE(trace.find("does not parse (line 3)"), std::string::npos) << trace;
  EXPECT_NE(trace.find("Write RegCreateKeyEx E:Bad message\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find("Read RegOpenKeyEx (ROOT) E:Bad message\n"), std::string::npos) << trace;

  // A subkey name the hive cannot hold fails at the subkey step.
  Sandbox::writeFile(box_.machineHive(), "");
  EXPECT_EQ(KvWriteRegDword("Bad\\\\Name", "x", 1), 0);
  EXPECT_NE(Trace().find("RegCreateKeyEx2 E:Invalid argument\n"), std::string::npos);
}

TEST_F(Settings, StringsRoundTripExactly) {
  const char* texts[] = {"", "C:\\Korvo\\Data\\", "say \"hi\"", "two\r\nlines\n", "Pošalji faks – čćžšđ",
                         "ends with backslash\\", "\"", "tab\there"};
  for (const char* text : texts) {
    ASSERT_EQ(KvWriteRegStr("Server", "Organization", text), 1) << text;
    ASSERT_EQ(KvWriteRegUserStr(nullptr, "SendFaxToLast", text), 1) << text;
    std::memset(buf_, 'x', sizeof buf_);
    EXPECT_EQ(KvReadRegStr("Server", "Organization", buf_, sizeof buf_), 1);
    EXPECT_STREQ(buf_, text);
    EXPECT_EQ(KvGetSendFaxToLast(buf_, sizeof buf_), 1);
    EXPECT_STREQ(buf_, text);
  }
}

TEST_F(Settings, NamedAccessorsUseTheirValues) {
  using GetS = int (*)(char*, uint32_t);
  using SetS = int (*)(const char*);
  struct StringCase {
    GetS get;
    SetS set;
    bool user;
    const char* subkey;
    const char* name;
  } strings[] = {
      {KvGetDataPath, KvSetDataPath, true, nullptr, "DataPath"},
      {KvGetInBoxPath, KvSetInBoxPath, true, nullptr, "InBoxPath"},
      {KvGetOutBoxPath, KvSetOutBoxPath, true, nullptr, "OutBoxPath"},
      {KvGetLocAddrBookName, KvSetLocAddrBookName, true, nullptr, "LocAddrBook"},
      {KvGetDefaultServer, KvSetDefaultServer, true, nullptr, "DefaultServer"},
      {KvGetSendFaxToLast, KvSetSendFaxToLast, true, nullptr, "SendFaxToLast"},
      {GetSendFaxToServerLast, SetSendFaxToServerLast, true, nullptr, "SendFaxToServerLast"},
      {KvGetSendFaxTitleLast, KvSetSendFaxTitleLast, true, nullptr, "SendFaxTitleLast"},
      {KvGetKorvoCoreName, KvSetKorvoCoreName, false, nullptr, "KorvoCore"},
      {GetKorvoCoreNameQuiet, KvSetKorvoCoreName, false, nullptr, "KorvoCore"},
      {KvGetKorvoLensName, KvSetKorvoLensName, false, nullptr, "KorvoLens"},
      {KvGetKorvoDeskName, KvSetKorvoDeskName, false, nullptr, "KorvoDesk"},
      {KvGetKorvoInstallPath, KvSetKorvoInstallPath, false, nullptr, "InstallPath"},
      {KvGetKorvoDefaultUsersDataPath, KvSetKorvoDefaultUsersDataPath, false, nullptr, "DefaultUsersDataPath"},
      {KvGetKorvoDefaultServer, KvSetKorvoDefaultServer, false, nullptr, "DefaultServer"},
      {KvGetServerRoot, KvSetServerRoot, false, "Server", "RootPath"},
      {KvGetServerExe, KvSetServerExe, false, "Server", "Korvo"},
      {KvGetServiceName, KvSetServiceName, false, "Server", "Service"},
      {GetStationIdentifier, SetStationIdentifier, false, "Server", "StationIdentifier"},
  };
  int i = 0;
  for (const StringCase& c : strings) {
    std::string text = std::string(c.name) + " " + std::to_string(++i);
    ASSERT_EQ(c.set(text.c_str()), 1) << c.name;
    ASSERT_EQ((c.user ? KvReadRegUserStr : KvReadRegStr)(c.subkey, c.name, buf_, sizeof buf_), 1) << c.name;
    EXPECT_EQ(buf_, text);
    buf_[0] = 0;
    ASSERT_EQ(c.get(buf_, sizeof buf_), 1) << c.name;
    EXPECT_EQ(buf_, text);
  }
  using GetD = int (*)(uint32_t*);
  using SetD = int (*)(uint32_t);
  struct DwordCase {
    GetD get;
    SetD set;
    const char* subkey;
    const char* name;
  } dwords[] = {
      {KvGetKorvoWorkstation, KvSetKorvoWorkstation, nullptr, "SetupWorkstation"},
      {KvGetKorvoServer, KvSetKorvoServer, nullptr, "SetupServer"},
      {GetReadTimeout, SetReadTimeout, nullptr, "ReadTimeout"},
      {KvGetServerMaxReq, KvSetServerMaxReq, "Server", "MaxReq"},
      {KvGetServerMaxImg, KvSetServerMaxImg, "Server", "MaxImg"},
      {KvGetServerMaxLog, KvSetServerMaxLog, "Server", "MaxLog"},
      {GetRetryTimeout, SetRetryTimeout, "Server", "RetryTimeout"},
      {GetRetryAttempts, SetRetryAttempts, "Server", "RetryAttempts"},
  };
  uint32_t n = 1000;
  for (const DwordCase& c : dwords) {
    ASSERT_EQ(c.set(++n), 1) << c.name;
    uint32_t v = 0;
    ASSERT_EQ(KvReadRegDword(c.subkey, c.name, &v), 1) << c.name;
    EXPECT_EQ(v, n);
    v = 0;
    ASSERT_EQ(c.get(&v), 1) << c.name;
    EXPECT_EQ(v, n);
  }
  ASSERT_EQ(KvSetServerPipes(5), 1);
  ASSERT_EQ(KvSetServerTcpIp(0), 1);
  uint32_t v = 9;
  EXPECT_EQ(KvReadRegDword("Server", "Pipes", &v), 1);
  EXPECT_EQ(v, 5u);
  EXPECT_EQ(KvReadRegDword("Server", "TcpIp", &v), 1);
  EXPECT_EQ(v, 0u);
}

// Writers on threads of one process lose nothing either: each write locks
// the hive through its own open of the lock file, which excludes other
// threads as well as other processes. Readers meanwhile see whole hives.
TEST_F(Settings, ConcurrentWriterThreadsLoseNoValue) {
  constexpr int kWriters = 4, kWrites = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kWriters; ++t)
    threads.emplace_back([t] {
      for (int n = 0; n < kWrites; ++n) {
        std::string name = "t" + std::to_string(t) + "_" + std::to_string(n);
        EXPECT_EQ((t % 2 ? KvWriteRegUserDword : KvWriteRegDword)("Threads", name.c_str(), uint32_t(n)), 1) << name;
      }
    });
  threads.emplace_back([] {
    uint32_t v;
    for (int i = 0; i < 50; ++i) {
      KvReadRegDword("Threads", "t0_0", &v);
      EXPECT_NE(korvo::platform::GetLastError(), korvo::platform::kErrorBadHive);
    }
  });
  for (auto& th : threads) th.join();
  for (int t = 0; t < kWriters; ++t)
    for (int n = 0; n < kWrites; ++n) {
      std::string name = "t" + std::to_string(t) + "_" + std::to_string(n);
      uint32_t v = 0xFFFFFFFF;
      EXPECT_EQ((t % 2 ? KvReadRegUserDword : KvReadRegDword)("Threads", name.c_str(), &v), 1) << name;
      EXPECT_EQ(v, uint32_t(n)) << name;
    }
}

TEST_F(Settings, StationIdentifierStringReadsThrough64Bytes) {
  std::string id = "unchanged";
  EXPECT_EQ(GetStationIdentifierString(id), 0);
  EXPECT_EQ(id, "unchanged");
  ASSERT_EQ(SetStationIdentifierString(std::string(63, 'A')), 1);
  EXPECT_EQ(GetStationIdentifierString(id), 1);
  EXPECT_EQ(id, std::string(63, 'A'));
  ASSERT_EQ(SetStationIdentifierString(std::string(64, 'B')), 1);
  EXPECT_EQ(GetStationIdentifierString(id), 0);
}

TEST_F(Settings, QuietReaderTracesOnlyAMissingRootOrBaseKey) {
  // No hive at all: no base key, traced regardless of the switch.
  EXPECT_EQ(GetKorvoCoreNameQuiet(buf_, sizeof buf_), 0);
  EXPECT_EQ(Trace(), "Read RegOpenKeyEx\n");
  MachineHive("");  // the key is there, the value is not: silent
  EXPECT_EQ(GetKorvoCoreNameQuiet(buf_, sizeof buf_), 0);
  EXPECT_EQ(Trace(), "Read RegOpenKeyEx\n");
  ASSERT_EQ(KvSetKorvoCoreName("/usr/lib/libkorvocore.so"), 1);
  EXPECT_EQ(GetKorvoCoreNameQuiet(buf_, sizeof buf_), 1);
  EXPECT_STREQ(buf_, "/usr/lib/libkorvocore.so");
}

TEST_F(Settings, ProductKeyNeeds39Bytes) {
  EXPECT_EQ(KvGetRegProductKey(buf_, 38), 0);
  EXPECT_EQ(KvGetRegProductKey(buf_, 39), 1);
  EXPECT_STREQ(buf_, "Software\\Velmora Technologies\\Korvo");
}

}  // namespace
