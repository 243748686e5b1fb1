// The shell's client tool against a real korvohub on the simulated line: a
// print job sent to 200 comes back in, is listed for the dispatchers and is
// fetched as the pages that were printed; bad command lines and refused
// requests end in failure, never in a success the user would trust.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/database.h"
#include "common/fields.h"
#include "common/prn2tiff.h"
#include "common/settings.h"
#include "common/status.h"
#include "common/status_codes.h"
#include "common/user_record.h"
#include "platform/local_socket.h"
#include "tests/server/line_hub_fixture.h"
#include "tools/prnstream/prn_stream.h"

namespace korvo {
namespace {

struct Outcome {
  int code = -1;
  std::string output;  // standard output and error
};

class FaxDemoTest : public test::LineHubFixture {
 protected:
  void SetUp() override {
    LineHubFixture::SetUp();
    // As scripts/run.sh sets it up: the machine's own name is the default
    // server, and the programs find their status texts in the library.
    ASSERT_EQ(KvSetKorvoDefaultServer(platform::ComputerName().c_str()), 1);
    ASSERT_EQ(KvWriteRegStr(nullptr, "KorvoCore", KORVO_CORE_LIBRARY), 1);
  }

  // The tool run by the test's login, or (with a uid) by that login with a
  // user hive of its own at userHive.
  static Outcome Tool(const std::string& name, const std::vector<std::string>& args, uid_t uid = 0,
                      const std::string& userHive = "") {
    std::vector<std::string> text = {(test::BuildDir() / "tools" / name).string()};
    text.insert(text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : text) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
      if (uid == 0 || std::string(*e).rfind("KORVO_USER_HIVE=", 0) != 0) env.push_back(*e);
    if (uid != 0) env.push_back("KORVO_USER_HIVE=" + userHive);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    Outcome run;
    int fds[2];
    if (pipe(fds) != 0) return run;
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(fds[1], STDOUT_FILENO);
      dup2(fds[1], STDERR_FILENO);
      close(fds[0]);
      close(fds[1]);
      if (uid != 0 && (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0)) _exit(126);
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    close(fds[1]);
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) run.output.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
  }
  static Outcome FaxDemo(const std::vector<std::string>& args) { return Tool("faxdemo", args); }
  // Whether the login may run the built tool and read the library it takes
  // its texts from: a build folder under a home of mode 0700 (root's
  // /root) is closed to other logins.
  static bool ToolsReachableBy(uid_t uid) {
    const std::string tool = (test::BuildDir() / "tools" / "faxdemo").string();
    const std::string library = (test::BuildDir() / "core" / "libkorvocore.so").string();
    const pid_t pid = fork();
    if (pid == 0) {
      if (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0) _exit(2);
      _exit(access(tool.c_str(), X_OK) == 0 && access(library.c_str(), R_OK) == 0 ? 0 : 1);
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  // The faxes `faxdemo list` shows, each split at its tabs: the lines under
  // its header, none when it says there are none.
  static std::vector<std::vector<std::string>> Listed(const std::string& list = "received") {
    const Outcome run = FaxDemo({"list", list});
    EXPECT_EQ(run.code, 0) << run.output;
    std::vector<std::vector<std::string>> rows;
    if (run.output == "no faxes\n") return rows;
    EXPECT_EQ(run.output.rfind("JOBID\tSENDER\tSUBJECT\tPAGES\tSTATE\n", 0), 0u) << run.output;
    std::istringstream lines(run.output);
    std::string header;
    std::getline(lines, header);
    for (std::string line; std::getline(lines, line);) {
      std::vector<std::string> fields;
      std::istringstream cells(line);
      for (std::string cell; std::getline(cells, cell, '\t');) fields.push_back(cell);
      rows.push_back(fields);
    }
    return rows;
  }
};

// Every page of the fax file as libtiff decodes it, rows end to end.
std::vector<std::vector<uint8_t>> TiffPages(const std::string& path) {
  std::vector<std::vector<uint8_t>> pages;
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return pages;
  do {
    uint32_t height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    std::vector<uint8_t> page, row(static_cast<size_t>(TIFFScanlineSize(tif)));
    for (uint32_t y = 0; y < height && TIFFReadScanline(tif, row.data(), y, 0) >= 0; ++y)
      page.insert(page.end(), row.begin(), row.end());
    pages.push_back(page);
  } while (TIFFReadDirectory(tif));
  TIFFClose(tif);
  return pages;
}

TEST_F(FaxDemoTest, APrintJobSentTo200IsListedAndFetchedAsThePagesPrinted) {
  StartHub();
  EXPECT_TRUE(Listed().empty());
  const std::string text = "First page of the demonstration\fSecond page";
  test::Sandbox::writeFile(TempPath("job.txt"), text);
  const std::string job = TempPath("job.prn");
  Outcome made = Tool("prnstream", {"-t", TempPath("job.txt"), job});
  ASSERT_EQ(made.code, 0) << made.output;

  Outcome sent = FaxDemo({"send", "200", job, "Demo"});
  ASSERT_EQ(sent.code, 0) << sent.output;
  EXPECT_FALSE(sent.output.empty());  // the server's answer

  ASSERT_TRUE(exchange_->waitForCalls(1, std::chrono::seconds(120)));
  std::vector<std::vector<std::string>> rows;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while ((rows = Listed()).empty() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(rows.size(), 1u);
  ASSERT_EQ(rows[0].size(), 5u) << rows[0][0];
  EXPECT_EQ(rows[0][3], "2");  // pages
  EXPECT_EQ(exchange_->calls()[0].outcome, "completed");

  const std::string fetched = TempPath("fetched.tif");
  Outcome got = FaxDemo({"fetch", rows[0][0], fetched});
  ASSERT_EQ(got.code, 0) << got.output;
  const auto printed = tools::RenderTextPages(text, tools::PageLines(tools::Paper::A4));
  const auto pages = TiffPages(fetched);
  ASSERT_EQ(pages.size(), printed.size());
  for (size_t i = 0; i < pages.size(); ++i) EXPECT_TRUE(pages[i] == printed[i]) << "page " << i;
  // A fetched fax is handed over: no longer waiting for the dispatchers, and
  // a second fetch says why it cannot be had, as it says for an unknown id.
  EXPECT_TRUE(Listed().empty());
  for (const std::string& id : {rows[0][0], std::string("4242")}) {
    Outcome again = FaxDemo({"fetch", id, TempPath("again.tif")});
    EXPECT_EQ(again.code, 1) << again.output;
    EXPECT_EQ(again.output.rfind("faxdemo: fax " + id + " cannot be fetched: it is in none of your lists", 0), 0u)
        << again.output;
    EXPECT_FALSE(std::filesystem::exists(TempPath("again.tif")));
  }
}

TEST_F(FaxDemoTest, BadCommandLinesAndRefusedRequestsFail) {
  StartHub();
  const std::string junk = TempPath("junk.txt");
  test::Sandbox::writeFile(junk, "not a print job");
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string says;
  };
  const Case cases[] = {
      {{}, 2, "usage: faxdemo"},
      // Help that was asked for is no failure.
      {{"--help"}, 0, "usage: faxdemo"},
      {{"-h"}, 0, "usage: faxdemo"},
      {{"help"}, 0, "usage: faxdemo"},
      {{"send", "200"}, 2, "usage: faxdemo"},
      {{"fetch", "x1", TempPath("out.tif")}, 2, "usage: faxdemo"},
      {{"list", "everything"}, 2, "usage: faxdemo"},
      {{"print", "200", junk}, 2, "usage: faxdemo"},
      {{"send", "200", TempPath("missing.prn")}, 1, "faxdemo: cannot read"},
      {{"send", "200", junk}, 1, "faxdemo: " + junk + ": "},
      {{"fetch", "4242", TempPath("out.tif")}, 1, "faxdemo: fax 4242 cannot be fetched"},
      // The local file's own error, before the server is asked.
      {{"fetch", "4242", TempPath("no/such/dir/out.tif")}, 1,
       "faxdemo: cannot write " + TempPath("no/such/dir/out.tif") + ": No such file or directory"},
      {{"fetch", "4242", sandbox_.root().string()}, 1,
       "faxdemo: cannot write " + sandbox_.root().string() + ": Is a directory"},
  };
  for (const auto& c : cases) {
    const Outcome run = FaxDemo(c.args);
    std::string line;
    for (auto& a : c.args) line += a + " ";
    EXPECT_EQ(run.code, c.code) << line << run.output;
    EXPECT_EQ(run.output.rfind(c.says, 0), 0u) << line << run.output;
  }
  // A number the server will not dial is refused with its reason, not
  // reported as a success.
  const std::string job = TempPath("job.prn");
  test::Sandbox::writeFile(TempPath("job.txt"), "Never sent");
  ASSERT_EQ(Tool("prnstream", {"-t", TempPath("job.txt"), job}).code, 0);
  for (const std::string& number : std::vector<std::string>{"", "9\rATZ\rATD200", "20O"}) {
    const Outcome run = FaxDemo({"send", number, job});
    EXPECT_EQ(run.code, 1) << number << run.output;
    EXPECT_NE(run.output.find(GetStatusText(kStatusUndialableNumber)), std::string::npos) << number << run.output;
  }
  // Nothing was queued by any of them: every list says so.
  for (const char* list : {"received", "mine", "sent", "outgoing"}) {
    const Outcome listed = FaxDemo({"list", list});
    EXPECT_EQ(listed.code, 0) << list << listed.output;
    EXPECT_EQ(listed.output, "no faxes\n") << list;
  }
  // The usage names every list and says that a fetch hands the fax over.
  const Outcome usage = FaxDemo({});
  for (const char* word : {"received", "mine", "sent", "outgoing", "hands"})
    EXPECT_NE(usage.output.find(word), std::string::npos) << word;
}

// A sent fax is in the sender's own list until it is gone out.
TEST_F(FaxDemoTest, ASentFaxIsListedAsTheSendersOwnAndAsOutgoing) {
  StartHub();
  const std::string job = TempPath("job.prn");
  test::Sandbox::writeFile(TempPath("job.txt"), "Listed as sent");
  ASSERT_EQ(Tool("prnstream", {"-t", TempPath("job.txt"), job}).code, 0);
  // Nobody answers 300: the fax waits in the queue.
  Outcome sent = FaxDemo({"send", "300", job, "Mine"});
  ASSERT_EQ(sent.code, 0) << sent.output;
  for (const char* list : {"sent", "outgoing"}) {
    const auto rows = Listed(list);
    ASSERT_EQ(rows.size(), 1u) << list;
    ASSERT_EQ(rows[0].size(), 5u) << list;
    EXPECT_EQ(rows[0][1], test::OwnLogin()) << list;
    EXPECT_EQ(rows[0][2], "Mine") << list;
  }
}

// A login without root sends a fax file it may read but not write (0444,
// another login's), through a data folder of its own that it makes (0700)
// in the users' parent folder.
TEST_F(FaxDemoTest, AnUnprivilegedLoginSendsAReadOnlyFaxFile) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the tool as another login";
  constexpr uid_t kNobody = 65534;
  if (!ToolsReachableBy(kNobody))
    GTEST_SKIP() << "nobody cannot reach the build folder " << test::BuildDir() << " (a checkout in a closed home)";
  std::filesystem::permissions(sandbox_.root(), std::filesystem::perms(0755));
  const std::filesystem::path users = sandbox_.path("users");
  std::filesystem::create_directory(users);
  std::filesystem::permissions(users, std::filesystem::perms(01777));
  ASSERT_EQ(KvWriteRegStr(nullptr, "DefaultUsersDataPath", users.c_str()), 1);
  {
    bool ok = false;
    UserDatabase registered((root_ / "Config" / "RegUsers.dbs").string(), &ok);
    ASSERT_TRUE(ok);
    std::string text;
    EncodeFields(&text, {"nobody", "", std::to_string(kRightRegistered), "", "", "", "", ""}, 8);
    ASSERT_TRUE(registered.AddUser(text));
  }
  StartHub();
  // A fax file of root's that others may only read.
  const std::string job = TempPath("job.prn");
  test::Sandbox::writeFile(TempPath("job.txt"), "Read-only fax");
  ASSERT_EQ(Tool("prnstream", {"-t", TempPath("job.txt"), job}).code, 0);
  const std::string fax = TempPath("readonly.tif");
  {
    Prn2Tiff conversion;
    ASSERT_EQ(conversion.Open(job, fax), 0u);
    Status status;
    while ((status = conversion.NextPage()) == 0) ASSERT_EQ(conversion.ConvertPage(), 0u);
    ASSERT_EQ(status, kStatusEndOfPrnDocument);
  }
  std::filesystem::permissions(fax, std::filesystem::perms(0444));

  const Outcome sent = Tool("faxdemo", {"send", "300", fax, "From nobody"}, kNobody, TempPath("nobody.reg"));
  EXPECT_EQ(sent.code, 0) << sent.output;
  EXPECT_EQ(sent.output, "Success.\n");
  struct stat st {};
  ASSERT_EQ(lstat((users / "nobody").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, kNobody);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  const auto rows = Listed("outgoing");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][1], "nobody");
}

// A shell without run.sh's export line finds no data folder: the message
// says where the line to use was printed.
TEST_F(FaxDemoTest, WithoutADataFolderItPointsAtRunShsExportLine) {
  ASSERT_EQ(KvWriteRegStr(nullptr, "DefaultUsersDataPath", ""), 1);
  sandbox_.setEnv("KORVO_USER_HIVE", TempPath("empty.reg"));
  const Outcome run = FaxDemo({"list"});
  EXPECT_EQ(run.code, 1) << run.output;
  EXPECT_EQ(run.output,
            "faxdemo: no data folder (user DataPath or machine DefaultUsersDataPath); for the server of "
            "scripts/run.sh, first run the export line it printed\n");
}

// Another login plants the users' folder of root as a link to a folder of
// root's: root's faxdemo refuses the data folder and writes nothing there;
// its private folder takes the planted one's place, and it says so.
TEST_F(FaxDemoTest, APlantedLinkForTheDataFolderIsRefused) {
  StartHub();
  const std::filesystem::path users = sandbox_.path("users");
  const std::filesystem::path secret = sandbox_.path("secret");
  std::filesystem::create_directories(users);
  std::filesystem::create_directories(secret);
  test::Sandbox::writeFile(secret / "keys", "root only");
  std::filesystem::create_directory_symlink(secret, users / test::OwnLogin());
  ASSERT_EQ(KvWriteRegStr(nullptr, "DefaultUsersDataPath", users.c_str()), 1);
  // A user hive without a data folder of its own: the users' folder decides.
  sandbox_.setEnv("KORVO_USER_HIVE", TempPath("root.reg"));
  const Outcome run = FaxDemo({"list"});
  EXPECT_EQ(run.code, 0) << run.output;
  const std::string own = sandbox_.path("data").string() + "/korvo/";
  EXPECT_EQ(run.output, "The Korvo data folder " + (users / test::OwnLogin()).string() +
                            "/ is a symbolic link; your faxes are kept in " + own + " instead.\nno faxes\n");
  EXPECT_TRUE(std::filesystem::is_directory(own + "InBox"));
  EXPECT_EQ(test::Sandbox::readFile(secret / "keys"), "root only");
  size_t entries = 0;
  for (auto it = std::filesystem::directory_iterator(secret); it != std::filesystem::directory_iterator(); ++it)
    ++entries;
  EXPECT_EQ(entries, 1u);
}

}  // namespace
}  // namespace korvo
