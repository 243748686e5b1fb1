// The shell's client tool against a real korvohub on the simulated line: a
// print job sent to 200 comes back in, is listed for the dispatchers and is
// fetched as the pages that were printed; bad command lines and refused
// requests end in failure, never in a success the user would trust.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/settings.h"
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
    // As scripts/run.sh sets it up: the machine's own name is the default server.
    ASSERT_EQ(KvSetKorvoDefaultServer(platform::ComputerName().c_str()), 1);
  }

  static Outcome Tool(const std::string& name, const std::vector<std::string>& args) {
    std::vector<std::string> text = {(test::BuildDir() / "tools" / name).string()};
    text.insert(text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : text) argv.push_back(a.data());
    argv.push_back(nullptr);
    Outcome run;
    int fds[2];
    if (pipe(fds) != 0) return run;
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(fds[1], STDOUT_FILENO);
      dup2(fds[1], STDERR_FILENO);
      close(fds[0]);
      close(fds[1]);
      execv(argv[0], argv.data());
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

  // The lines of `faxdemo list`, each split at its tabs.
  static std::vector<std::vector<std::string>> Listed() {
    const Outcome run = FaxDemo({"list"});
    EXPECT_EQ(run.code, 0) << run.output;
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(run.output);
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
  // A fetched fax is no longer waiting for the dispatchers.
  EXPECT_TRUE(Listed().empty());
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
      {{"send", "200"}, 2, "usage: faxdemo"},
      {{"fetch", "x1", TempPath("out.tif")}, 2, "usage: faxdemo"},
      {{"list", "everything"}, 2, "usage: faxdemo"},
      {{"print", "200", junk}, 2, "usage: faxdemo"},
      {{"send", "200", TempPath("missing.prn")}, 1, "faxdemo: cannot read"},
      {{"send", "200", junk}, 1, "faxdemo: " + junk + ": "},
      {{"fetch", "4242", TempPath("out.tif")}, 1, "faxdemo: "},
  };
  for (const auto& c : cases) {
    const Outcome run = FaxDemo(c.args);
    std::string line;
    for (auto& a : c.args) line += a + " ";
    EXPECT_EQ(run.code, c.code) << line << run.output;
    EXPECT_EQ(run.output.rfind(c.says, 0), 0u) << line << run.output;
  }
  // Nothing was queued by any of them.
  const Outcome outgoing = FaxDemo({"list", "outgoing"});
  EXPECT_EQ(outgoing.code, 0) << outgoing.output;
  EXPECT_EQ(outgoing.output, "");
}

}  // namespace
}  // namespace korvo
