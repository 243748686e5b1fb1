// What reaches the modem of a fax number: only a dial string, as the Send
// Fax dialog's fax-number edit admits it. A number with anything else is
// refused when it is submitted and again by the dial step, and the
// simulator's command record shows that nothing of it reached the modem.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/dial_string.h"
#include "common/fax_header.h"
#include "common/status_codes.h"
#include "server/modem_port.h"
#include "tests/server/engine_fixture.h"
#include "tests/server/line_hub_fixture.h"
#include "tests/server/queue_fixture.h"
#include "tools/modemsim/exchange.h"

namespace korvo {
namespace {

// Numbers a modem would take for more than a dial string: further command
// lines, a return to command mode, commands, modifiers, other letters.
const std::vector<std::string> kUndialable = {
    "9\rATZ\rATD200", "200\r", "200\nATZ", "200;", "200;&W", "&W", "200&F", "200!", "200@", "S=0", "200R",
    "t200",           "200p", "200w",      "200E", "200X",   "+385 1 200", "200.", "200/1", "200\t", "",
    "   ",
};
// Digits, tones, pauses, pulse and tone, layout and blanks.
const std::vector<std::string> kDialable = {"200", "2 0 0", "(2) 0-0", "*70,200#", "ABCD", "T200", "P200", "W200"};

TEST(DialString, OnlyTheCharactersOfTheFaxNumberEditAreDialled) {
  for (const auto& number : kUndialable) EXPECT_FALSE(IsDialableNumber(number)) << number;
  for (const auto& number : kDialable) EXPECT_TRUE(IsDialableNumber(number)) << number;
  // Every byte other than the admitted ones.
  const std::string admitted = "0123456789ABCDPTW #()*,-";
  for (int c = 0; c < 256; ++c) {
    const char ch = static_cast<char>(c);
    EXPECT_EQ(IsDialCharacter(ch), admitted.find(ch) != std::string::npos) << c;
  }
}

// The dial step, on a port of the simulator: a number that is not a dial
// string is never written, whatever brought it to the port.
class DialStepTest : public test::EngineTest {};

TEST_F(DialStepTest, RefusesAnUndialableNumberBeforeWriting) {
  modemsim::ExchangeConfig cfg;
  cfg.modems.push_back({.name = "tx", .number = "100"});
  modemsim::Exchange exchange(cfg);
  ModemRecord record;
  record.SetDefaults();
  record.portName.Assign(exchange.portPath(0).string());
  record.usage = ModemPort::kUsageSend;
  ModemPort port(record);
  ASSERT_TRUE(port.Initialise());
  auto jobs = std::make_shared<SendRequestList>();
  SendRequestEntry entry;
  entry.jobId = 1;
  jobs->Add(entry);
  const auto before = exchange.commands(0).size();
  for (const auto& number : kUndialable) {
    SCOPED_TRACE(number);
    port.PrepareSend(number.c_str(), jobs);
    EXPECT_FALSE(port.Dial());
  }
  // A dial string goes out as one command line.
  ASSERT_TRUE(port.PrepareSend("(5) 55-0", jobs));
  ASSERT_TRUE(port.Dial());
  std::vector<std::string> sent;
  for (int i = 0; i < 6000 && sent.empty(); ++i) {
    const auto all = exchange.commands(0);
    sent.assign(all.begin() + static_cast<long>(before), all.end());
    if (sent.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(sent, std::vector<std::string>{"ATDT(5) 55-0"});
  const auto log = LogLines();
  EXPECT_EQ(std::count(log.begin(), log.end(),
                       "Port " + exchange.portPath(0).string() +
                           ": fax number refused, it is empty or holds characters that cannot be dialed"),
            static_cast<long>(kUndialable.size()));
}

// Submission: 4000 refuses a fax with any undialable number and queues
// nothing; a dial string is queued, dialled as it is and reaches its modem.
class SubmittedNumberTest : public test::LineHubFixture {
 protected:
  RequestResult Submit(const std::vector<FaxSenderOrRecipient>& to) {
    FaxHeader header;
    header.sender = test::Lan(test::OwnLogin());
    header.subject = "Dial";
    for (const auto& r : to) header.recipients.AddTail(r);
    return client_.SendFax(".", header, image_);
  }
  size_t Queued() {
    const std::string path = TempPath("list.txt");
    EXPECT_EQ(client_.DownloadList(".", 6000, nullptr, path).status, 0u);
    size_t n = 0;
    for (const auto& line : test::ListLines(test::Sandbox::readFile(path))) n += !line.empty();
    return n;
  }
  std::string image_;
};

TEST_F(SubmittedNumberTest, AnUndialableNumberIsRefusedAndNeverReachesTheModem) {
  image_ = TempPath("image.tif");
  test::WriteFaxFile(image_, 1);
  StartHub();
  for (const auto& number : kUndialable) {
    SCOPED_TRACE(number);
    const RequestResult r = Submit({test::Fax(number)});
    EXPECT_EQ(r.status, kStatusUndialableNumber) << r.text;
    // One bad number refuses the whole fax, LAN recipients and all.
    EXPECT_EQ(Submit({test::Fax("200"), test::Lan(test::OwnLogin()), test::Fax(number)}).status,
              kStatusUndialableNumber);
  }
  EXPECT_EQ(Queued(), 0u);
  // A LAN recipient's address is a user name, never dialled.
  EXPECT_EQ(Submit({test::Lan("~nobody")}).status, 0u);
  ASSERT_EQ(Submit({test::Fax("(2) 0-0")}).status, 0u);
  ASSERT_TRUE(exchange_->waitForCalls(1, std::chrono::seconds(120)));
  const auto calls = exchange_->calls();
  EXPECT_EQ(calls[0].dialled, "T(2) 0-0");
  EXPECT_EQ(calls[0].callee, "rx");
  std::vector<std::string> dials;
  for (const auto& c : exchange_->commands(0))
    if (c.rfind("ATD", 0) == 0 || c.find("&W") != std::string::npos) dials.push_back(c);
  EXPECT_EQ(dials, std::vector<std::string>{"ATDT(2) 0-0"});
}

}  // namespace
}  // namespace korvo
