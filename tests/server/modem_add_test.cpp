// Modems added to a running server, as the manager's Modems > Add sends them
// (request 8020), are opened and used at once, without a restart: the
// simulator's pseudo-terminals stand for a real modem's device, as an
// administrator would name it.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>

#include "common/fax_header.h"
#include "common/modem_record.h"
#include "server/modem_port.h"
#include "tests/server/line_hub_fixture.h"
#include "tests/server/queue_fixture.h"
#include "tools/modemsim/exchange.h"

namespace korvo {
namespace {

class ModemAddTest : public test::LineHubFixture {};

TEST_F(ModemAddTest, ModemsAddedToARunningServerSendAndReceiveWithoutARestart) {
  // The server starts without modems.
  std::filesystem::remove(root_ / "Config" / "Modems.dbs");
  StartHub();
  for (const auto& [port, usage] :
       {std::pair{0, ModemPort::kUsageSend}, std::pair{1, ModemPort::kUsageReceive}}) {
    ModemRecord modem;
    modem.portName.Assign(exchange_->portPath(static_cast<size_t>(port)).string());
    modem.usage = usage;
    modem.enabled = 1;
    int32_t id = 0;
    ASSERT_EQ(client_.AddModem(".", modem, id).status, 0u) << port;
  }
  const std::string image = TempPath("image.tif");
  test::WriteFaxFile(image, 1);
  FaxHeader header;
  header.sender = test::Lan(test::OwnLogin());
  header.subject = "Added";
  header.recipients.AddTail(test::Fax("200"));
  ASSERT_EQ(client_.SendFax(".", header, image).status, 0u);
  ASSERT_TRUE(exchange_->waitForCalls(1, std::chrono::seconds(120)));
  const auto calls = exchange_->calls();
  EXPECT_EQ(calls[0].caller, "tx");
  EXPECT_EQ(calls[0].callee, "rx");
  EXPECT_EQ(calls[0].outcome, "completed");
  // The fax came in on the added receiving modem, for the dispatchers.
  const std::string list = TempPath("received.txt");
  bool received = false;
  for (int i = 0; i < 12000 && !received; ++i) {
    ASSERT_EQ(client_.DownloadList(".", 5010, nullptr, list).status, 0u);
    received = !test::ListLines(test::Sandbox::readFile(list)).empty();
    if (!received) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(received);
}

}  // namespace
}  // namespace korvo
