#include "platform/eventlog.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/lasterror.h"
#include "platform/registry.h"
#include "tests/support/private_mounts.h"
#include "tests/support/sandbox.h"

namespace korvo::platform {
namespace {

std::vector<EventRecord> ReadAll(EventLog& log) {
  std::vector<EventRecord> out;
  EXPECT_TRUE(log.ReadNewestFirst([&](const EventRecord& r) {
    out.push_back(r);
    return true;
  }));
  return out;
}

class EventLogTest : public ::testing::Test {
 protected:
  test::Sandbox sandbox_;
};

TEST_F(EventLogTest, RecordsComeBackNewestFirstWithEveryField) {
  {
    EventLog log;
    ASSERT_TRUE(log.Open("Korvo"));
    ASSERT_TRUE(log.Report("Korvo Server", kEventInformation, 1, 9000, {"first"}));
    ASSERT_TRUE(log.Report("Korvo Server", kEventError, 0, 9005, {"two", "", "strings\x1b"}));
    ASSERT_TRUE(log.Report("other", kEventWarning, 7, 42, {}));
  }
  EXPECT_TRUE(std::filesystem::exists(sandbox_.logDir() / "Korvo.evt"));
  EventLog log;
  ASSERT_TRUE(log.Open("Korvo"));
  auto all = ReadAll(log);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].eventId, 42u);
  EXPECT_EQ(all[0].type, kEventWarning);
  EXPECT_EQ(all[0].category, 7);
  EXPECT_EQ(all[0].source, "other");
  EXPECT_TRUE(all[0].strings.empty());
  EXPECT_EQ(all[1].strings, (std::vector<std::string>{"two", "", "strings\x1b"}));
  EXPECT_EQ(all[1].type, kEventError);
  EXPECT_EQ(all[2].strings, std::vector<std::string>{"first"});
  EXPECT_EQ(all[2].source, "Korvo Server");
  EXPECT_EQ(all[2].recordNumber + 2, all[0].recordNumber);
  EXPECT_GT(all[2].timeWritten, 1700000000u);

  int seen = 0;
  log.ReadNewestFirst([&](const EventRecord&) { return ++seen < 2; });
  EXPECT_EQ(seen, 2) << "the visit stops when asked";
}

// The entries as syslog receives them: a child process with a /dev/log of
// its own (a private mount namespace) reports and hands the datagrams back,
// one a line. Where that namespace cannot be made (no privilege for it, or a
// chroot whose root is no mount point), mounted is false and text says why.
struct Datagrams {
  bool mounted = true;
  std::string text;
};
Datagrams SyslogDatagramsOf(void (*report)()) {
  constexpr int kNoPrivateMount = 4;
  int fds[2];
  if (pipe(fds) != 0) return {true, "pipe"};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    auto cannot = [&](const char* step) {
      const std::string why = std::string(step) + ": " + std::strerror(errno);
      (void)!write(fds[1], why.data(), why.size());
      _exit(kNoPrivateMount);
    };
    const std::string problem = test::EnterPrivateMounts();
    if (!problem.empty()) {
      (void)!write(fds[1], problem.data(), problem.size());
      _exit(kNoPrivateMount);
    }
    if (mount("tmpfs", "/dev", "tmpfs", 0, nullptr) != 0) cannot("mounting a tmpfs on /dev");
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, "/dev/log");
    const int s = socket(AF_UNIX, SOCK_DGRAM, 0);
    if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) _exit(2);
    report();
    char buf[2048];
    for (ssize_t n; (n = recv(s, buf, sizeof buf, MSG_DONTWAIT)) > 0;) {
      if (write(fds[1], buf, static_cast<size_t>(n)) != n || write(fds[1], "\n", 1) != 1) _exit(3);
    }
    _exit(0);
  }
  close(fds[1]);
  std::string out;
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == kNoPrivateMount) return {false, out};
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {true, "child failed"};
  return {true, out};
}

TEST_F(EventLogTest, EveryEntryIsMirroredToSyslog) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for a /dev/log of its own";
  const Datagrams got = SyslogDatagramsOf([] {
    EventLog log;
    log.Open("Korvo");
    log.Report("Korvo Server", kEventError, 0, 9005, {"Could not start\r\n"});
    log.Report("Korvo", kEventWarning, 1, 9000, {"two", "strings"});
    log.Report("Korvo", kEventInformation, 1, 9000, {"[ana] Add a registered user"});
    // The store cannot take it; the system journal still does.
    EventLog closed;
    closed.Report("Korvo", kEventInformation, 1, 9000, {"not stored"});
  });
  if (!got.mounted) GTEST_SKIP() << "no private /dev/log can be mounted here (" << got.text << ")";
  const std::string& seen = got.text;
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = seen.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(seen.substr(at, end - at));
  ASSERT_EQ(lines.size(), 4u) << seen;
  // Daemon facility (3 << 3) with the priority of the type.
  const std::pair<const char*, const char*> expect[] = {{"<27>", "Korvo Server: Could not start"},
                                                         {"<28>", "Korvo: two strings"},
                                                         {"<30>", "Korvo: [ana] Add a registered user"},
                                                         {"<30>", "Korvo: not stored"}};
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].rfind(expect[i].first, 0), 0u) << lines[i];
    const std::string tail = expect[i].second;
    EXPECT_TRUE(lines[i].size() >= tail.size() && lines[i].compare(lines[i].size() - tail.size(), tail.size(), tail) == 0)
        << lines[i];
  }
}

TEST_F(EventLogTest, FullLogOverwritesTheOldestRecords) {
  EventLog log;
  ASSERT_TRUE(log.Open("Korvo"));
  const std::string text(200, 'x');
  const int total = 6000;  // well over twice the size limit
  for (int i = 0; i < total; ++i) ASSERT_TRUE(log.Report("s", kEventInformation, 1, 9000, {std::to_string(i), text}));
  auto all = ReadAll(log);
  ASSERT_GT(all.size(), 1000u);
  ASSERT_LT(all.size(), static_cast<size_t>(total));
  // The newest records survive, contiguous, and nothing older than a dropped one.
  for (size_t i = 0; i < all.size(); ++i) ASSERT_EQ(all[i].strings.at(0), std::to_string(total - 1 - static_cast<int>(i)));
  EXPECT_LE(std::filesystem::file_size(sandbox_.logDir() / "Korvo.evt"), kDefaultEventLogSize);
  // The ring uses its whole limit: at most two records' worth lies unused (the
  // tail before the wrap and the gap before the oldest record).
  size_t held = 0;
  for (const auto& r : all) held += 22 + 2 + r.strings[0].size() + 1 + text.size() + 1 + 4;
  EXPECT_GE(held + 2 * 240, kDefaultEventLogSize - 32);
}

TEST_F(EventLogTest, TheRegisteredSizeLimitIsKeptAndANewOneKeepsTheNewest) {
  auto setLimit = [](uint32_t size) {
    return UpdateRegistryHive(RegistryHive::LocalMachine, [&](RegistryHiveData& hive) {
      const std::string key = std::string(kEventLogKey) + "\\Korvo";
      return hive.CreateKey(key) &&
             hive.SetValue(key, "MaxSize", {kRegDword, {uint8_t(size), uint8_t(size >> 8), uint8_t(size >> 16), uint8_t(size >> 24)}});
    }) == RegistryUpdate::kDone;
  };
  const auto file = sandbox_.logDir() / "Korvo.evt";
  EventLog log;
  ASSERT_TRUE(log.Open("Korvo"));
  for (int i = 0; i < 2000; ++i) ASSERT_TRUE(log.Report("s", kEventInformation, 1, 1, {std::to_string(i) + std::string(100, 'x')}));
  const size_t before = ReadAll(log).size();
  ASSERT_EQ(before, 2000u);

  ASSERT_TRUE(setLimit(0x10000));
  ASSERT_TRUE(log.Report("s", kEventInformation, 1, 1, {"2000"}));
  auto all = ReadAll(log);
  ASSERT_LT(all.size(), before);
  EXPECT_LE(std::filesystem::file_size(file), 0x10000u);
  for (size_t i = 0; i < all.size(); ++i) ASSERT_EQ(all[i].strings[0].substr(0, 4), std::to_string(2000 - i).substr(0, 4));

  // Out of range values are brought into range; a value of another type is ignored.
  for (auto [size, expect] : {std::pair{0x100u, kMinEventLogSize}, std::pair{0xFFFFFFFFu, kMaxEventLogSize},
                              std::pair{0x30000u, 0x30000u}}) {
    ASSERT_TRUE(setLimit(size));
    EXPECT_EQ(EventLog::SizeLimit("Korvo"), expect);
  }
  EXPECT_EQ(EventLog::SizeLimit("Other"), kDefaultEventLogSize);
}

TEST_F(EventLogTest, ClearEmptiesTheLogAndNumbersGoOn) {
  EventLog log;
  ASSERT_TRUE(log.Open("Korvo"));
  ASSERT_TRUE(log.Report("s", kEventInformation, 1, 1, {"a"}));
  ASSERT_TRUE(log.Report("s", kEventInformation, 1, 1, {"b"}));
  uint32_t count = 9;
  ASSERT_TRUE(log.Clear());
  ASSERT_TRUE(log.Count(count));
  EXPECT_EQ(count, 0u);
  ASSERT_TRUE(log.Report("s", kEventInformation, 1, 1, {"c"}));
  auto all = ReadAll(log);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].recordNumber, 3u);
}

TEST_F(EventLogTest, ConcurrentWritersInSeveralProcessesLoseNothing) {
  const int kProcs = 4, kEach = 300;
  std::vector<pid_t> kids;
  for (int p = 0; p < kProcs; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      EventLog log;
      bool ok = log.Open("Korvo");
      for (int i = 0; ok && i < kEach; ++i) ok = log.Report("s", kEventInformation, 1, 9000, {std::to_string(p)});
      _exit(ok ? 0 : 1);
    }
    kids.push_back(pid);
  }
  for (pid_t pid : kids) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EventLog log;
  ASSERT_TRUE(log.Open("Korvo"));
  auto all = ReadAll(log);
  ASSERT_EQ(all.size(), static_cast<size_t>(kProcs * kEach));
  for (size_t i = 1; i < all.size(); ++i) EXPECT_EQ(all[i - 1].recordNumber, all[i].recordNumber + 1);
}

TEST_F(EventLogTest, DamagedFilesAreReadAsFarAsTheyGoAndMended) {
  struct Case {
    const char* name;
    size_t cutTo;   // truncate the file to this size (0: leave)
    bool garbage;   // overwrite the header
    size_t damageAt;  // overwrite 4 bytes there (0: leave)
    uint32_t headerEnd;  // the header's end of data (0: leave)
    std::vector<std::string> expectRead;  // newest first
  };
  // Each record below is 32 bytes: "one" at 32..64 of the file, "two" after
  // it, and so is the "thr" written afterwards. A header end of 60 leaves
  // "two" reaching 4 bytes past it, where "thr" then begins with the very
  // length that "two" ends with.
  for (const Case& c : {Case{"truncated record", 32 + 40, false, 0, 0, {"one"}},
                        Case{"header garbage", 0, true, 0, 0, {}}, Case{"empty file", 1, false, 0, 0, {}},
                        Case{"damaged older record", 0, false, 60, 0, {"two"}},
                        Case{"damaged newer record", 0, false, 64, 0, {"one"}},
                        Case{"record past the end", 0, false, 0, 60, {"one"}}}) {
    SCOPED_TRACE(c.name);
    const auto path = sandbox_.logDir() / "Korvo.evt";
    std::filesystem::remove(path);
    {
      EventLog log;
      ASSERT_TRUE(log.Open("Korvo"));
      ASSERT_TRUE(log.Report("s", kEventInformation, 1, 1, {"one"}));
      ASSERT_TRUE(log.Report("s", kEventInformation, 1, 1, {"two"}));
    }
    if (c.cutTo) std::filesystem::resize_file(path, c.cutTo);
    if (c.garbage) {
      auto data = test::Sandbox::readFile(path);
      data.replace(0, 8, "garbage!");
      test::Sandbox::writeFile(path, data);
    }
    if (c.damageAt) {
      auto data = test::Sandbox::readFile(path);
      data.replace(c.damageAt, 4, "\xFF\xFF\xFF\x7F");
      test::Sandbox::writeFile(path, data);
    }
    if (c.headerEnd) {
      auto data = test::Sandbox::readFile(path);
      for (int i = 0; i < 4; ++i) data[16 + i] = static_cast<char>(c.headerEnd >> (8 * i));
      test::Sandbox::writeFile(path, data);
    }
    EventLog log;
    ASSERT_TRUE(log.Open("Korvo"));
    std::vector<std::string> read;
    for (const auto& r : ReadAll(log)) read.push_back(r.strings.at(0));
    EXPECT_EQ(read, c.expectRead);
    ASSERT_TRUE(log.Report("s", kEventInformation, 1, 1, {"thr"}));
    auto all = ReadAll(log);
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all[0].strings.at(0), "thr");
  }
}

TEST_F(EventLogTest, BadNamesAndOversizedRecordsAreRefused) {
  EventLog log;
  for (const char* bad : {"", "../x", "a/b", ".hidden"}) {
    EXPECT_FALSE(log.Open(bad)) << bad;
    EXPECT_EQ(GetLastError(), static_cast<uint32_t>(EINVAL));
  }
  ASSERT_TRUE(log.Open("Korvo"));
  EXPECT_FALSE(log.Report("s", kEventError, 1, 1, {std::string(kDefaultEventLogSize, 'x')}));
  EXPECT_EQ(GetLastError(), static_cast<uint32_t>(EMSGSIZE));
  uint32_t count = 1;
  ASSERT_TRUE(log.Count(count));
  EXPECT_EQ(count, 0u);
}

TEST_F(EventLogTest, AnUnwritableFolderFailsToOpen) {
  sandbox_.setEnv("KORVO_LOG_DIR", (sandbox_.root() / "file" / "sub").string());
  test::Sandbox::writeFile(sandbox_.path("file"), "not a folder");
  EventLog log;
  EXPECT_FALSE(log.Open("Korvo"));
  EXPECT_NE(GetLastError(), 0u);
}

}  // namespace
}  // namespace korvo::platform
