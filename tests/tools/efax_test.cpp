// The proof that the simulated modems pass for real ones: efax sends a fax through
// the exchange to a second efax, which must receive the very pixels sent.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <thread>

#include "tests/support/sandbox.h"
#include "tools/modemsim/exchange.h"

namespace {

using namespace std::chrono_literals;
using korvo::test::Sandbox;
using namespace korvo::modemsim;

constexpr int kWidth = 1728, kRows = 64, kRowBytes = kWidth / 8;

// A page of bands and blocks, different for each page number. The top rows stay
// white: efax draws its page header over them.
std::vector<std::string> Pixels(int page) {
  std::vector<std::string> rows(8, std::string(kRowBytes, '\0'));
  for (int y = 8; y < kRows; ++y) {
    std::string row(kRowBytes, '\0');
    for (int x = 200; x < 1500; ++x)
      if ((x / 24 + y / 8 + page) % 3 == 0) row[x / 8] = static_cast<char>(row[x / 8] | 0x80 >> (x % 8));
    rows.push_back(row);
  }
  return rows;
}

void WritePbm(const std::filesystem::path& p, const std::vector<std::string>& rows) {
  std::string data = "P4\n" + std::to_string(kWidth) + " " + std::to_string(rows.size()) + "\n";
  for (auto& r : rows) data += r;
  Sandbox::writeFile(p, data);
}

std::vector<std::string> ReadTiff(const std::filesystem::path& p) {
  std::vector<std::string> rows;
  TIFF* tif = TIFFOpen(p.c_str(), "r");
  if (!tif) return rows;
  std::uint32_t width = 0, height = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  if (width == static_cast<std::uint32_t>(kWidth)) {
    std::string row(static_cast<std::size_t>(TIFFScanlineSize(tif)), '\0');
    for (std::uint32_t y = 0; y < height; ++y) {
      if (TIFFReadScanline(tif, row.data(), y, 0) < 0) break;
      rows.push_back(row.substr(0, kRowBytes));
    }
  }
  TIFFClose(tif);
  return rows;
}

// An efax process; killed and reaped if the test ends before it does.
class Efax {
 public:
  Efax(const std::vector<std::string>& args, const std::filesystem::path& log) {
    pid_ = fork();
    if (pid_ == 0) {
      int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(fd, 1);
      dup2(fd, 2);
      std::vector<char*> argv;
      static std::string name = "efax";
      argv.push_back(name.data());
      for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execvp("efax", argv.data());
      _exit(127);
    }
  }
  ~Efax() {
    if (pid_ > 0 && status_ < 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  // Exit code, or -1 when it did not end in time.
  int wait(std::chrono::steady_clock::time_point deadline) {
    while (status_ < 0) {
      int st = 0;
      pid_t r = waitpid(pid_, &st, WNOHANG);
      if (r == pid_) {
        status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128;
        break;
      }
      if (std::chrono::steady_clock::now() > deadline) return -1;
      std::this_thread::sleep_for(20ms);
    }
    return status_;
  }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

struct EfaxClass {
  const char* name;
  const char* sender;
  const char* receiver;
};

void PrintTo(const EfaxClass& c, std::ostream* os) { *os << c.name; }

class EfaxToEfax : public ::testing::TestWithParam<EfaxClass> {};

TEST_P(EfaxToEfax, ReceivedPagesDecodeToThePixelsSent) {
  Sandbox box;
  ExchangeConfig cfg;
  cfg.ringPeriod = 200ms;
  cfg.pace = true;                // efax checks that XOFF paces it
  cfg.minPageTime = 1000ms;       // efax divides by the page time
  cfg.modems.push_back({.name = "tx", .number = "100"});
  cfg.modems.push_back({.name = "rx", .number = "200"});
  Exchange ex(cfg);

  const std::vector<std::string> pages[] = {Pixels(0), Pixels(1)};
  WritePbm(box.path("p1.pbm"), pages[0]);
  WritePbm(box.path("p2.pbm"), pages[1]);
  const auto deadline = std::chrono::steady_clock::now() + 120s;

  Efax sender({"-d", ex.portPath(0).string(), GetParam().sender, "-l", "+1 555 0100", "-h", " ", "-vewinc", "-t", "200",
               box.path("p1.pbm").string(), box.path("p2.pbm").string()},
              box.path("tx.log"));
  // Like a fax program started on RING, the receiver comes when the line rings.
  ASSERT_TRUE(ex.waitForRing(1, 60s)) << Sandbox::readFile(box.path("tx.log"));
  Efax receiver({"-d", ex.portPath(1).string(), GetParam().receiver, "-l", "+1 555 0200", "-vewinc", "-r",
                 box.path("rx").string()},
                box.path("rx.log"));
  EXPECT_EQ(sender.wait(deadline), 0) << Sandbox::readFile(box.path("tx.log"));
  EXPECT_EQ(receiver.wait(deadline), 0) << Sandbox::readFile(box.path("rx.log"));

  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE("page " + std::to_string(k + 1));
    auto got = ReadTiff(box.path("rx.00" + std::to_string(k + 1)));
    // efax puts its header lines above the image.
    ASSERT_GE(got.size(), static_cast<std::size_t>(kRows));
    std::vector<std::string> image(got.end() - kRows, got.end());
    EXPECT_TRUE(image == pages[k]) << "received pixels differ";
  }
  ASSERT_TRUE(ex.waitForCalls(1, 10s));
  auto call = ex.calls().at(0);
  EXPECT_EQ(call.outcome, "completed");
  EXPECT_NE(call.tsi.find("+1 555 0100"), std::string::npos);
  EXPECT_NE(call.csi.find("+1 555 0200"), std::string::npos);
  ASSERT_EQ(call.pages.size(), 2u);
  EXPECT_EQ(call.pages[0].ppm, 0);
  EXPECT_EQ(call.pages[1].ppm, 2);
  EXPECT_EQ(call.pages[0].ppr, 1);
  EXPECT_EQ(call.pages[1].ppr, 1);
}

// efax reverses received Class 2 data unless -or; the simulated modems keep the
// order AT+FBOR chose, so the Class 2 receiver is told not to.
INSTANTIATE_TEST_SUITE_P(Classes, EfaxToEfax,
                         ::testing::Values(EfaxClass{"Class2", "-o2", "-o2r"}, EfaxClass{"Class20", "-o0", "-o0"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
