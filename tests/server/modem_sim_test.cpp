// The fax engine against the modem simulator: initialisation of each kind of
// modem, flow control, DSR loss, and a real call ringing a port until the
// reception entry takes it over.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <string>
#include <thread>
#include <vector>

#include "common/database.h"
#include "server/modem_port.h"
#include "server/modem_subsystem.h"
#include "tests/server/engine_fixture.h"
#include "tools/modemsim/exchange.h"

namespace korvo {
namespace {

namespace sim = korvo::modemsim;

std::atomic<int64_t> gNow{3000000};
int64_t TestClock() { return gNow.load(); }

enum Modem : size_t { kClass20, kClass2, kClass1, kNotFax, kSilent, kCaller, kVanishing };

sim::ExchangeConfig Config() {
  sim::ExchangeConfig cfg;
  cfg.ringPeriod = std::chrono::milliseconds(200);
  cfg.modems.push_back({.name = "c20", .number = "100"});
  cfg.modems.push_back({.name = "c2", .number = "200", .classes = "0,1,2"});
  cfg.modems.push_back({.name = "c1", .number = "300", .faults = {.class1Only = true}});
  cfg.modems.push_back({.name = "nf", .number = "400", .faults = {.notFax = true}});
  cfg.modems.push_back({.name = "sil", .number = "500", .faults = {.silent = true}});
  cfg.modems.push_back({.name = "cal", .number = "600"});
  cfg.modems.push_back({.name = "van", .number = "700"});
  return cfg;
}

class ModemSimTest : public test::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ModemPort::SetClock(TestClock);
  }
  void TearDown() override {
    ModemPort::SetClock(nullptr);
    ModemPort::SetSessionEntryPoints(nullptr, nullptr);
    EngineTest::TearDown();
  }
  ModemRecord Record(size_t modem, int usage = ModemPort::kUsageBoth) {
    ModemRecord r;
    r.portName.Assign(exchange_.portPath(modem).string());
    r.usage = usage;
    r.id = static_cast<int32_t>(modem + 1);
    return r;
  }
  std::vector<std::string> Commands(size_t modem) { return exchange_.commands(modem); }
  static bool Has(const std::vector<std::string>& commands, const std::string& c) {
    return std::find(commands.begin(), commands.end(), c) != commands.end();
  }

  sim::Exchange exchange_{Config()};
};

TEST_F(ModemSimTest, EachKindOfModemIsDrivenOrRefused) {
  const struct {
    Modem modem;
    bool ok;
    const char* select;  // the class command, or null when none is sent
    const char* logged;
  } cases[] = {
      {kClass20, true, "AT+FCLASS=2.0", nullptr},
      {kClass2, true, "AT+FCLASS=2", nullptr},
      {kClass1, false, nullptr, "<MODEM ON PORT %s IS A CLASS 1 FAX MODEM (NOT SUPPORTED)>!"},
      {kNotFax, false, nullptr, "<MODEM ON PORT %s IS NOT RECOGNIZED AS A FAX MODEM>!"},
      {kSilent, false, nullptr, nullptr},
  };
  for (const auto& c : cases) {
    ModemPort port(Record(c.modem));
    EXPECT_EQ(port.StartUp(), c.ok) << c.modem;
    EXPECT_EQ(port.GetState(), c.ok ? PortState::Ready : PortState::OutOfService);
    const auto commands = Commands(c.modem);
    if (c.select) {
      EXPECT_TRUE(Has(commands, c.select)) << c.modem;
      EXPECT_EQ(port.Commands().IsClass20(), std::string(c.select) == "AT+FCLASS=2.0");
    } else {
      EXPECT_FALSE(Has(commands, "AT+FCLASS=2.0") || Has(commands, "AT+FCLASS=2")) << c.modem;
    }
    if (c.logged) {
      char text[256];
      std::snprintf(text, sizeof text, c.logged, port.GetPortName());
      EXPECT_TRUE(Logged(text)) << text;
    }
  }
  // The silent modem cost its two plain commands and no more.
  EXPECT_EQ(Commands(kSilent), (std::vector<std::string>{"ATZ", "ATQ0V1E0X0&D2&C1L1S0=0H0"}));
}

TEST_F(ModemSimTest, DataRateAndFlowControlOnAClass2Modem) {
  ModemRecord r = Record(kClass2);
  r.faxSpeed = 9;
  r.flowControl = 0;
  ModemPort port(r);
  ASSERT_TRUE(port.Initialise());
  EXPECT_EQ(port.Configuration().faxSpeed, 0);
  const auto commands = Commands(kClass2);
  EXPECT_TRUE(Has(commands, "AT+FDCC=1,0,0,2,0,0,0,0"));
  const auto revision = std::find(commands.begin(), commands.end(), "AT+FREV?");
  ASSERT_NE(revision, commands.end());
  EXPECT_EQ(std::vector<std::string>(revision + 1, commands.end()), (std::vector<std::string>{"AT&H4", "AT&H3"}));
  EXPECT_TRUE(Has(commands, "AT+FLID=\"KORVO TEST\""));
}

TEST_F(ModemSimTest, DsrLossTakesAReadyPortOutOfServiceAndItsReturnBack) {
  ModemPort port(Record(kVanishing));
  ASSERT_TRUE(port.StartUp());
  exchange_.unplug(kVanishing);
  // The simulator lets go of the line on its own thread.
  for (int i = 0; i < 500 && port.Serial().IsDsrOn(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(port.CheckService(), PortState::OutOfService);
  EXPECT_EQ(port.CheckService(), PortState::OutOfService);
  exchange_.plug(kVanishing);
  EXPECT_EQ(port.CheckService(), PortState::Ready);
  EXPECT_TRUE(Logged(std::string("<<< Modem on port ") + port.GetPortName() +
                     " is OUT_OF_SERVICE [end of time interval] !"));
}

struct Answered {
  std::mutex m;
  std::condition_variable cv;
  bool taken = false;
  PortState state = PortState::OutOfService;
};
Answered gAnswered;

TEST_F(ModemSimTest, ACallRingsThePortUntilTheReceptionEntryTakesIt) {
  ModemPort::SetSessionEntryPoints(nullptr, [](ModemPort& port) {
    std::lock_guard hold(gAnswered.m);
    gAnswered.taken = true;
    gAnswered.state = port.GetState();
    gAnswered.cv.notify_all();
  });
  ModemRecord r = Record(kClass20);
  r.ringsBeforeAnswer = 2;
  ModemPort callee(r);
  ASSERT_TRUE(callee.StartUp());
  ModemPort caller(Record(kCaller, ModemPort::kUsageSend));
  ASSERT_TRUE(caller.Initialise());
  auto list = std::make_shared<SendRequestList>();
  list->Add(SendRequestEntry{});
  ASSERT_TRUE(caller.PrepareSend("100", list));
  ASSERT_TRUE(caller.Dial());
  // Monitor passes, each one sample of the line; the clock moves a second a
  // pass, so rings (every 200 ms, eight passes) count as eight seconds apart.
  for (int pass = 0; pass < 800 && callee.GetState() != PortState::Busy; ++pass) {
    gNow += 1;
    callee.CheckRing(5);
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  std::unique_lock hold(gAnswered.m);
  ASSERT_TRUE(gAnswered.cv.wait_for(hold, std::chrono::seconds(20), [] { return gAnswered.taken; }));
  EXPECT_EQ(gAnswered.state, PortState::Busy);
  EXPECT_EQ(callee.GetPortIndex(), 5);
  EXPECT_EQ(callee.GetRingCounter(), 2);
}

TEST_F(ModemSimTest, ASuspendedSubsystemLetsTheLineRing) {
  ModemPort::SetSessionEntryPoints(nullptr, [](ModemPort& port) {
    std::lock_guard hold(gAnswered.m);
    gAnswered.taken = true;
    gAnswered.state = port.GetState();
    gAnswered.cv.notify_all();
  });
  {
    Database db(GetModemsPath().c_str(), sizeof(ModemRecord), CompareModemIds);
    ASSERT_TRUE(db.Open());
    ModemRecord r = Record(kClass20);
    ASSERT_GE(db.Add(&r), 0);
  }
  ModemSubsystem::SetMonitorPeriod(platform::kInfinite);
  int ok = 0;
  ModemSubsystem subsystem(nullptr, &ok);
  ASSERT_EQ(ok, 1);
  subsystem.Suspend();
  ModemPort caller(Record(kCaller, ModemPort::kUsageSend));
  ASSERT_TRUE(caller.Initialise());
  auto list = std::make_shared<SendRequestList>();
  list->Add(SendRequestEntry{});
  ASSERT_TRUE(caller.PrepareSend("100", list));
  ASSERT_TRUE(caller.Dial());
  EXPECT_FALSE(subsystem.StartSend(0, "100", list));
  for (int pass = 0; pass < 40; ++pass) {  // a few rings go by
    gNow += 1;
    subsystem.MonitorPass();
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  EXPECT_EQ(subsystem.GetPort(0)->GetState(), PortState::Ready);
  EXPECT_FALSE(gAnswered.taken);
  subsystem.Resume();
  for (int pass = 0; pass < 800 && subsystem.GetPort(0)->GetState() != PortState::Busy; ++pass) {
    gNow += 1;
    subsystem.MonitorPass();
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  std::unique_lock hold(gAnswered.m);
  ASSERT_TRUE(gAnswered.cv.wait_for(hold, std::chrono::seconds(20), [] { return gAnswered.taken; }));
  EXPECT_EQ(gAnswered.state, PortState::Busy);
}

}  // namespace
}  // namespace korvo
