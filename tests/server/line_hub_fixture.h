// A real korvohub -debug on one simulated line: its send-only modem "tx"
// (number 100) and its receive-only modem "rx" (number 200), so a fax sent to
// 200 goes out on one port and comes back in on the other. Tests using it link
// korvo_modemsim and depend on korvohub.
#pragma once

#include <chrono>
#include <memory>

#include "server/modem_port.h"
#include "tests/server/hub_fixture.h"
#include "tools/modemsim/exchange.h"

namespace korvo::test {

class LineHubFixture : public HubFixture {
 protected:
  void SetUp() override {
    HubFixture::SetUp();
    modemsim::ExchangeConfig cfg;
    cfg.ringPeriod = std::chrono::milliseconds(100);
    cfg.modems.push_back({.name = "tx", .number = "100"});
    cfg.modems.push_back({.name = "rx", .number = "200"});
    ConfigureLine(cfg);
    exchange_ = std::make_unique<modemsim::Exchange>(cfg);
    // The server's two modems, as an administrator would set them up.
    WriteModemTable(root_ / "Config" / "Modems.dbs", {{exchange_->portPath(0).string(), ModemPort::kUsageSend},
                                                      {exchange_->portPath(1).string(), ModemPort::kUsageReceive}});
  }
  void TearDown() override {
    HubFixture::TearDown();  // the server lets go of the ports first
    exchange_.reset();
  }

  // A test's own line settings (pacing, page times) before the line is made.
  virtual void ConfigureLine(modemsim::ExchangeConfig& /*cfg*/) {}

  std::unique_ptr<modemsim::Exchange> exchange_;
};

}  // namespace korvo::test
