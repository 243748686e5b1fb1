// The sessions against a fax program that is not ours: a fax sent by the
// server is received by efax, and a fax sent by efax is received and filed by
// the server, both decoding to the pixels sent.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/server/session_fixture.h"

namespace korvo {
namespace {

using namespace std::chrono_literals;
using test::ModemClass;
using test::Sandbox;
namespace sim = korvo::modemsim;

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
      if (waitpid(pid_, &st, WNOHANG) == pid_) {
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
  ModemClass server;
  const char* sendOption;     // efax's class option as a sender
  const char* receiveOption;  // as a receiver: a Class 2 modem here keeps the line's bit order
};
void PrintTo(const EfaxClass& c, std::ostream* os) { *os << c.server.name; }

class EfaxSessionTest : public test::SessionTest, public ::testing::WithParamInterface<EfaxClass> {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    sim::ExchangeConfig cfg;
    cfg.pace = true;               // efax checks that XOFF paces it
    cfg.minPageTime = 1000ms;      // efax divides by the page time
    StartEngine(GetParam().server.classes, cfg);
  }
};

// The last n rows of a page.
std::vector<std::vector<uint8_t>> Tail(std::vector<std::vector<uint8_t>> rows, size_t n) {
  if (rows.size() < n) return rows;
  return {rows.end() - static_cast<std::ptrdiff_t>(n), rows.end()};
}

TEST_P(EfaxSessionTest, AFaxFromTheServerArrivesAtEfaxAsThePixelsSent) {
  const uint32_t job = Submit(2, 5, "300");
  const auto deadline = std::chrono::steady_clock::now() + 120s;
  ASSERT_TRUE(queue_->SchedulerPass());
  ASSERT_TRUE(exchange_->waitForRing(kFar, 60s));
  Efax receiver({"-d", exchange_->portPath(kFar).string(), GetParam().receiveOption, "-l", "+1 555 0300", "-vewinc",
                 "-r", sandbox_.path("rx").string()},
                sandbox_.path("rx.log"));
  EXPECT_EQ(receiver.wait(deadline), 0) << Sandbox::readFile(sandbox_.path("rx.log"));
  ASSERT_TRUE(WaitIdle(1));
  EXPECT_FALSE(HasJob(job)) << "completed";
  EXPECT_EQ(LogStarting("FAX to '300' pages 2, ").size(), 1u);
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE("page " + std::to_string(k + 1));
    const auto got = test::TiffRows(sandbox_.path("rx.00" + std::to_string(k + 1)).string(), 0);
    ASSERT_GE(got.size(), test::kPageLines);
    EXPECT_TRUE(Tail(got, test::kPageLines) == PageRows(5, k)) << "received pixels differ";
  }
  const auto call = exchange_->calls().at(0);
  EXPECT_EQ(call.outcome, "completed");
  EXPECT_NE(call.csi.find("+1 555 0300"), std::string::npos);
}

TEST_P(EfaxSessionTest, AFaxFromEfaxIsFiledForNobodyAndReadsInLibtiff) {
  constexpr int kRows = 64, kRowBytes = test::kPageWidth / 8;
  // Bands and blocks below white top rows, which efax's page header covers.
  std::vector<std::vector<uint8_t>> pixels(8, std::vector<uint8_t>(kRowBytes, 0));
  for (int y = 8; y < kRows; ++y) {
    std::vector<uint8_t> row(kRowBytes, 0);
    for (int x = 200; x < 1500; ++x)
      if ((x / 24 + y / 8) % 3 == 0) row[x / 8] = static_cast<uint8_t>(row[x / 8] | 0x80 >> (x % 8));
    pixels.push_back(row);
  }
  std::string pbm = "P4\n" + std::to_string(test::kPageWidth) + " " + std::to_string(kRows) + "\n";
  for (auto& r : pixels) pbm.append(r.begin(), r.end());
  Sandbox::writeFile(sandbox_.path("p1.pbm"), pbm);

  const auto deadline = std::chrono::steady_clock::now() + 120s;
  Efax sender({"-d", exchange_->portPath(kFar).string(), GetParam().sendOption, "-l", "+1 555 0300", "-h", " ",
               "-vewinc", "-t", "200", sandbox_.path("p1.pbm").string()},
              sandbox_.path("tx.log"));
  EXPECT_EQ(sender.wait(deadline), 0) << Sandbox::readFile(sandbox_.path("tx.log"));
  ASSERT_TRUE(WaitIdle(1));
  const auto in = Incoming();
  ASSERT_EQ(in.size(), 1u);
  EXPECT_EQ(in[0].recipient.address, "~nobody");
  EXPECT_EQ(in[0].state, JobState::Ok);
  const FaxImg image = ImageOf(in[0]);
  // The identifier as the modem reports it (efax right-aligns it in 20 places).
  EXPECT_EQ(image.sender.address, "         +1 555 0300");
  EXPECT_EQ(image.subject, "Fax from " + image.sender.address);
  const auto got = test::TiffRows(image.path, 0);
  ASSERT_GE(got.size(), static_cast<size_t>(kRows));
  EXPECT_TRUE(Tail(got, kRows) == pixels) << "received pixels differ";
}

INSTANTIATE_TEST_SUITE_P(Classes, EfaxSessionTest,
                         ::testing::Values(EfaxClass{{"Class2", "0,1,2"}, "-o2", "-o2r"},
                                           EfaxClass{{"Class20", "0,1,2,2.0"}, "-o0", "-o0"}),
                         [](const auto& info) { return std::string(info.param.server.name); });

}  // namespace
}  // namespace korvo
