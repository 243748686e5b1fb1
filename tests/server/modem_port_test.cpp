#include "server/modem_port.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/huffman.h"
#include "server/fax_session.h"
#include "tests/server/engine_fixture.h"
#include "tests/server/fake_modem.h"

namespace korvo {
namespace {

using test::FakeModem;

std::atomic<int64_t> gNow{1000000};
int64_t TestClock() { return gNow.load(); }

ModemRecord Record(const std::string& port, int usage = ModemPort::kUsageBoth) {
  ModemRecord r;
  r.portName.Assign(port);
  r.usage = usage;
  r.id = 7;
  return r;
}

class ModemPortTest : public test::EngineTest {
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
  // The commands after the revision query: the flow-control choice and what follows.
  static std::vector<std::string> AfterRevision(const std::vector<std::string>& commands) {
    auto it = std::find_if(commands.begin(), commands.end(),
                           [](const std::string& c) { return c == "AT+FMR?" || c == "AT+FREV?"; });
    return it == commands.end() ? std::vector<std::string>{} : std::vector<std::string>(it + 1, commands.end());
  }
};

TEST_F(ModemPortTest, TheClassListChoosesTheCommandSet) {
  const struct {
    std::string classes;
    std::vector<std::string> rings;
    bool ok;
    const char* select;  // class command sent, or null
    const char* logged;  // the error entry, or null
  } cases[] = {
      {"0,1,2,2.0", {}, true, "AT+FCLASS=2.0", nullptr},
      {"0,1,2", {}, true, "AT+FCLASS=2", nullptr},
      {"(0,1,2,2.0)", {"RING", "RING"}, true, "AT+FCLASS=2.0", nullptr},
      {"0,1,2", {"RING", "ERROR", "RING"}, false, nullptr, nullptr},  // OK comes fifth
      {"0,1", {}, false, nullptr, "<MODEM ON PORT %s IS A CLASS 1 FAX MODEM (NOT SUPPORTED)>!"},
      {"0", {}, false, nullptr, "<MODEM ON PORT %s IS NOT RECOGNIZED AS A FAX MODEM>!"},
  };
  for (const auto& c : cases) {
    FakeModem::Behaviour b;
    b.classes = c.classes;
    b.ringsBeforeClasses = c.rings;
    FakeModem modem(b);
    ModemPort port(Record(modem.path()));
    EXPECT_EQ(port.Initialise(), c.ok) << c.classes;
    const auto commands = modem.commands();
    ASSERT_GE(commands.size(), 3u);
    EXPECT_EQ(commands[0], "ATZ");
    EXPECT_EQ(commands[1], "ATQ0V1E0X0&D2&C1L1S0=0H0");
    EXPECT_EQ(commands[2], "ATL2M1");  // medium volume, on until carrier
    if (c.select) {
      EXPECT_EQ(commands[4], c.select) << c.classes;
      EXPECT_EQ(port.Commands().IsClass20(), std::string(c.select) == "AT+FCLASS=2.0");
    } else {
      EXPECT_EQ(commands.size(), 4u) << "nothing after the class query";
    }
    if (c.logged) {
      char text[256];
      std::snprintf(text, sizeof text, c.logged, modem.path().c_str());
      EXPECT_TRUE(Logged(text)) << text;
    }
  }
}

TEST_F(ModemPortTest, Class20InitialisationSequence) {
  FakeModem modem;
  ModemRecord r = Record(modem.path(), ModemPort::kUsageReceive);
  r.faxSpeed = 9;  // out of range: sent as 0 and kept as 0
  r.flowControl = 1;
  r.initString.Assign("ATS7=60");
  ModemPort port(r);
  ASSERT_TRUE(port.Initialise());
  EXPECT_EQ(port.Configuration().faxSpeed, 0);
  const std::vector<std::string> expected = {
      "ATZ",      "ATQ0V1E0X0&D2&C1L1S0=0H0", "ATL2M1",    "AT+FCLASS=?", "AT+FCLASS=2.0",
      "AT+FCC=1,0,0,2,0,0,0,0",              "AT+FNR=1,1,1,0", "AT+FLI=\"KORVO TEST\"", "AT+FCR=1",
      "AT+FMI?",  "AT+FMM?",                  "AT+FMR?",   "AT+FLO=1",    "ATS7=60",
  };
  EXPECT_EQ(modem.commands(), expected);
}

TEST_F(ModemPortTest, FlowControlSelection) {
  const struct {
    const char* classes;
    int software;
    std::set<std::string> errors;
    std::vector<std::string> sent;
    bool flowOk;
  } cases[] = {
      // A Class 2 modem that accepts AT&H4 decides by AT&H3 alone.
      {"0,1,2", 0, {}, {"AT&H4", "AT&H3"}, true},
      {"0,1,2", 0, {"AT&H3"}, {"AT&H4", "AT&H3"}, false},
      {"0,1,2", 0, {"AT&H4"}, {"AT&H4", "AT&H1&I0&R2"}, true},
      {"0,1,2", 1, {"AT&H4", "AT&H2&I2&R1"}, {"AT&H4", "AT&H2&I2&R1", "AT\\Q1"}, true},
      {"0,1,2,2.0", 0, {}, {"AT+FLO=2"}, true},
      {"0,1,2,2.0", 1, {"AT+FLO=1"}, {"AT+FLO=1", "AT&H4"}, true},
  };
  for (const auto& c : cases) {
    FakeModem::Behaviour b;
    b.classes = c.classes;
    b.errors = c.errors;
    FakeModem modem(b);
    ModemRecord r = Record(modem.path());
    r.flowControl = c.software;
    r.id = static_cast<int32_t>(&c - cases);
    ModemPort port(r);
    ASSERT_TRUE(port.Initialise());
    EXPECT_EQ(AfterRevision(modem.commands()), c.sent);
    EXPECT_EQ(Logged("Modem on port " + modem.path() + " is without flow control !"), !c.flowOk);
  }
}

TEST_F(ModemPortTest, ASilentModemFailsWithinItsLineCounts) {
  FakeModem::Behaviour b;
  b.silent = true;
  FakeModem modem(b);
  ModemPort port(Record(modem.path()));
  EXPECT_FALSE(port.StartUp());
  EXPECT_EQ(port.GetState(), PortState::OutOfService);
  EXPECT_EQ(modem.commands(), (std::vector<std::string>{"ATZ", "ATQ0V1E0X0&D2&C1L1S0=0H0"}));
  const std::string name = modem.path();
  EXPECT_TRUE(Logged("Port " + name + " initialization failed !"));
  EXPECT_TRUE(Logged(">>> Modem on port " + name + " is OUT_OF_SERVICE [start of time interval] !"));
}

TEST_F(ModemPortTest, StartUpByUsage) {
  FakeModem modem;
  ModemPort sendOnly(Record(modem.path(), ModemPort::kUsageSend));
  EXPECT_FALSE(sendOnly.StartUp());
  EXPECT_EQ(sendOnly.GetState(), PortState::OnDemand);
  EXPECT_FALSE(sendOnly.Serial().IsOpen());
  EXPECT_TRUE(modem.commands().empty());

  ModemPort both(Record(modem.path()));
  EXPECT_TRUE(both.StartUp());
  EXPECT_EQ(both.GetState(), PortState::Ready);
  EXPECT_TRUE(Logged("Port " + modem.path() + " initialization done !"));
}

TEST_F(ModemPortTest, ModemErrorsThatEndOrOnlyLogTheInitialisation) {
  const struct {
    const char* failing;
    bool ok;
    const char* logged;
  } cases[] = {
      {"ATZ", true, nullptr},
      {"ATQ0V1E0X0&D2&C1L1S0=0H0", false, nullptr},
      {"ATL2M1", true, "SpeakerVolume"},
      {"AT+FCLASS=2.0", false, "FaxClassCmd"},
      {"AT+FCC=1,5,0,2,0,0,0,0", false, "FaxConfigCtrl"},
      {"AT+FNR=1,1,1,0", false, "FaxNgtMsgCtrl"},
      {"AT+FLI=\"KORVO TEST\"", true, "FaxSetLocalId"},
      {"AT+FCR=1", true, "FaxRxEnable"},
      {"AT+FMM?", true, "FaxModemModel"},
      {"ATS7=60", false, "AdditionalInit"},
  };
  for (const auto& c : cases) {
    FakeModem::Behaviour b;
    b.errors = {c.failing};
    FakeModem modem(b);
    ModemRecord r = Record(modem.path());
    r.initString.Assign("ATS7=60");
    ModemPort port(r);
    EXPECT_EQ(port.Initialise(), c.ok) << c.failing;
    if (c.logged) {
      EXPECT_TRUE(Logged("Modem command on port " + modem.path() + " failed [" + c.logged + "]!")) << c.failing;
    }
  }
}

TEST_F(ModemPortTest, RingsTenSecondsApartCountOnSixteenRestart) {
  ModemRecord r = Record("/nonexistent");
  r.ringsBeforeAnswer = 3;
  ModemPort port(r);
  gNow = 5000;
  EXPECT_FALSE(port.CountRing());
  EXPECT_EQ(port.GetRingCounter(), 1);
  gNow += 10;
  EXPECT_FALSE(port.CountRing());
  EXPECT_EQ(port.GetRingCounter(), 2);
  gNow += 16;
  EXPECT_FALSE(port.CountRing());
  EXPECT_EQ(port.GetRingCounter(), 1);
  gNow += 15;
  EXPECT_FALSE(port.CountRing());
  gNow += 1;
  EXPECT_TRUE(port.CountRing());
  EXPECT_EQ(port.GetRingCounter(), 3);
}

struct Handover {
  std::mutex m;
  std::condition_variable cv;
  int calls = 0;
  PortState state = PortState::OutOfService;
  int index = -1;
};
Handover gHandover;

void RecordHandover(ModemPort& port) {
  std::lock_guard hold(gHandover.m);
  ++gHandover.calls;
  gHandover.state = port.GetState();
  gHandover.index = port.GetPortIndex();
  gHandover.cv.notify_all();
}

bool WaitForHandover(int calls) {
  std::unique_lock hold(gHandover.m);
  return gHandover.cv.wait_for(hold, std::chrono::seconds(20), [&] { return gHandover.calls >= calls; });
}

TEST_F(ModemPortTest, TheRingThresholdHandsTheCallToTheReceptionEntry) {
  ModemPort::SetSessionEntryPoints(nullptr, RecordHandover);
  FakeModem modem;
  ModemRecord r = Record(modem.path());
  r.ringsBeforeAnswer = 2;
  ModemPort port(r);
  ASSERT_TRUE(port.StartUp());
  port.CheckRing(3);  // no ring waiting
  EXPECT_EQ(port.GetRingCounter(), 0);
  gNow = 9000;
  modem.Send("\r\nRING\r\n");
  port.CheckRing(3);
  EXPECT_EQ(port.GetState(), PortState::Ready);
  gNow += 6;
  modem.Send("\r\nRING\r\n");
  port.CheckRing(3);
  ASSERT_TRUE(WaitForHandover(1));
  EXPECT_EQ(gHandover.state, PortState::Busy);
  EXPECT_EQ(gHandover.index, 3);
  EXPECT_EQ(port.GetState(), PortState::Busy);
  port.CheckRing(3);  // a busy port is left alone
  EXPECT_EQ(gHandover.calls, 1);
}

TEST_F(ModemPortTest, WithoutAReceptionEntryTheCallIsLeftAndThePortReady) {
  FakeModem modem;
  ModemPort port(Record(modem.path()));
  ASSERT_TRUE(port.StartUp());
  modem.Send("\r\nRING\r\n");
  port.CheckRing(0);
  EXPECT_EQ(port.GetState(), PortState::Ready);
  EXPECT_TRUE(Logged("Cannot create ReceptionThread !"));
}

TEST_F(ModemPortTest, DsrLossTakesAReadyPortOutOfServiceUntilTheModemReturns) {
  FakeModem modem;
  ModemPort port(Record(modem.path()));
  ASSERT_TRUE(port.StartUp());
  EXPECT_EQ(port.CheckService(), PortState::Ready);
  modem.Unplug();
  EXPECT_EQ(port.CheckService(), PortState::OutOfService);
  const std::string name = modem.path();
  EXPECT_TRUE(Logged(">>> Modem on port " + name + " is OUT_OF_SERVICE [start of time interval] !"));
  EXPECT_EQ(port.CheckService(), PortState::OutOfService);  // retried on every pass
  modem.Plug();
  EXPECT_EQ(port.CheckService(), PortState::Ready);
  EXPECT_TRUE(Logged("<<< Modem on port " + name + " is OUT_OF_SERVICE [end of time interval] !"));
}

std::shared_ptr<SendRequestList> Jobs(std::initializer_list<uint32_t> ids, bool safer = false) {
  auto list = std::make_shared<SendRequestList>();
  for (uint32_t id : ids) {
    SendRequestEntry e;
    e.jobId = id;
    e.saferDialing = safer;
    list->Add(e);
  }
  return list;
}

TEST_F(ModemPortTest, PrepareSendExpandsSaferNumbersThatFitAndRefusesWhatDoesNotFit) {
  const struct {
    std::string number;
    bool safer;
    bool ok;
    std::string dial;
  } cases[] = {
      {"123", false, true, "123"},
      {"123", true, true, "1,2,3,"},
      {std::string(15, '5'), true, true, [] {
         std::string s;
         for (int i = 0; i < 15; ++i) s += "5,";
         return s;
       }()},
      // No room for the pauses: the number as it is, not a refusal.
      {std::string(16, '5'), true, true, std::string(16, '5')},
      {std::string(31, '5'), true, true, std::string(31, '5')},
      {std::string(32, '5'), true, false, ""},
      {std::string(31, '7'), false, true, std::string(31, '7')},
      {std::string(32, '7'), false, false, ""},
  };
  for (const auto& c : cases) {
    ModemPort port(Record("/nonexistent"));
    EXPECT_EQ(port.PrepareSend(c.number.c_str(), Jobs({41, 42}, c.safer)), c.ok) << c.number;
    EXPECT_EQ(port.GetDialNumber(), c.dial);
    if (c.ok) {
      EXPECT_EQ(port.GetCurrentJobId(), 41u);
      EXPECT_EQ(port.GetDocumentsPending(), 2);
    }
  }
  ModemPort port(Record("/nonexistent"));
  EXPECT_FALSE(port.PrepareSend("123", Jobs({})));
  EXPECT_FALSE(port.PrepareSend("123", nullptr));
}

// A send session reports its batch after the port went back into service,
// where the scheduler may already have handed it the next one.
TEST_F(ModemPortTest, AReportedBatchIsLetGoOfWithoutTheNextOne) {
  ModemPort port(Record("/nonexistent"));
  const auto first = Jobs({1});
  (*first)[0].sent = 1;
  ASSERT_TRUE(port.PrepareSend("100", first));
  const auto next = Jobs({2, 3});
  ASSERT_TRUE(port.PrepareSend("200", next));
  ReportResults(port, first, "100");
  EXPECT_TRUE(Logged("FAX to '100' pages 0, 0 sec, on /nonexistent, OK."));
  EXPECT_EQ(port.Requests(), next);
  EXPECT_STREQ(port.GetDialNumber(), "200");
  EXPECT_EQ(port.GetDocumentsPending(), 2);
  port.ReleaseRequests(next);
  EXPECT_EQ(port.Requests(), nullptr);
  EXPECT_STREQ(port.GetDialNumber(), "");
  EXPECT_EQ(port.GetDocumentsPending(), 0);
}

TEST_F(ModemPortTest, QueryAndAbortWalkTheCurrentList) {
  ModemPort port(Record("/nonexistent"));
  int32_t pages = -1, seconds = -1, state = -1;
  EXPECT_FALSE(port.QueryJob(5, pages, seconds, state));
  EXPECT_FALSE(port.AbortJob(5));
  auto list = Jobs({5, 6});
  (*list)[0].pages = 3;
  (*list)[0].seconds = 40;
  (*list)[0].state = 140;
  (*list)[1].sent = 1;
  ASSERT_TRUE(port.PrepareSend("100", list));
  ASSERT_TRUE(port.QueryJob(5, pages, seconds, state));
  EXPECT_EQ(pages, 3);
  EXPECT_EQ(seconds, 40);
  EXPECT_EQ(state, 140);
  EXPECT_FALSE(port.AbortJob(6));  // already sent
  EXPECT_TRUE(port.AbortJob(5));
  ASSERT_TRUE(port.QueryJob(5, pages, seconds, state));
  EXPECT_EQ(state, kJobUserCanceled);
  EXPECT_FALSE(port.QueryJob(9, pages, seconds, state));
}

TEST_F(ModemPortTest, StartSendHandsTheBatchToTheSendEntry) {
  gHandover.calls = 0;
  FakeModem modem;
  ModemPort port(Record(modem.path()));
  EXPECT_FALSE(port.StartSendThread(1, "200", Jobs({1})));  // no send entry yet
  EXPECT_TRUE(Logged("Cannot create SendThread !"));
  EXPECT_EQ(port.GetState(), PortState::Ready);  // usage Both: reinitialised
  ModemPort::SetSessionEntryPoints(RecordHandover, nullptr);
  port.SetState(PortState::Busy);
  EXPECT_TRUE(port.StartSendThread(2, "200", Jobs({1})));
  ASSERT_TRUE(WaitForHandover(1));
  EXPECT_EQ(gHandover.state, PortState::Busy);
  EXPECT_EQ(gHandover.index, 2);
}

// A port whose modem answers nothing, so that the test feeds the lines.
class ResponseWaitTest : public ModemPortTest {
 protected:
  void Open(const char* classes) {
    FakeModem::Behaviour b;
    b.classes = classes;
    modem_ = std::make_unique<FakeModem>(b);
    port_ = std::make_unique<ModemPort>(Record(modem_->path()));
    ASSERT_TRUE(port_->Initialise());
    b.silent = true;
    modem_->SetBehaviour(b);
    // The test pushes every line before the port reads it: no read waits long.
    ModemPortTiming quick = ModemPort::DefaultTiming();
    quick.serial.readTimeoutMs = 50;
    port_->SetTiming(quick);
    modem_->ClearCommands();
  }
  // The commands since the last clear, once the modem has taken n of them.
  std::vector<std::string> WaitForCommands(size_t n) {
    for (int i = 0; i < 500 && modem_->commands().size() < n; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return modem_->commands();
  }
  std::unique_ptr<FakeModem> modem_;
  std::unique_ptr<ModemPort> port_;
};

std::string Repeat(const std::string& text, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += text;
  return out;
}

// Each wait reads at most its number of lines, a line that matches nothing
// using up a turn; where the end may not come on the last line, one that comes
// there still fails the wait.
TEST_F(ResponseWaitTest, EveryWaitGivesUpAfterItsLines) {
  Open("0,1,2,2.0");
  ModemPort& port = *port_;
  const struct {
    const char* name;
    std::function<bool()> wait;
    int lines;
    bool lastLineCounts;
    const char* end;
  } cases[] = {
      {"WaitOk", [&] { return port.WaitOk(); }, 3, false, "OK"},
      {"WaitFaxConnect", [&] { return port.WaitFaxConnect(); }, 16, true, "+FCO"},
      {"WaitNssTsiDcs", [&] { return port.WaitNssTsiDcs(); }, 12, true, "OK"},
      {"WaitNsfCsiDis", [&] { return port.WaitNsfCsiDis(); }, 20, true, "OK"},
      {"WaitConnect", [&] { return port.WaitConnect(); }, 12, true, "CONNECT"},
      {"WaitPageTransferStatus", [&] { return port.WaitPageTransferStatus() == 0; }, 12, false, "OK"},
      {"WaitPageStatus", [&] { return port.WaitPageStatus() == 0; }, 5, false, "+FPS:1"},
      {"WaitOkAfterPostPage", [&] { return port.WaitOkAfterPostPage() == 0; }, 5, false, "OK"},
      {"WaitCallTermination", [&] { return port.WaitCallTermination(); }, 5, false, "OK"},
  };
  for (const auto& c : cases) {
    const int last = c.lastLineCounts ? c.lines : c.lines - 1;  // the latest line the end may come on
    for (const int at : {last, last + 1}) {
      port.Serial().Purge();
      modem_->Send(Repeat("\r\nNOISE\r\n", at - 1) + "\r\n" + c.end + "\r\n");
      EXPECT_EQ(c.wait(), at == last) << c.name << ", end on line " << at;
    }
  }
  // The post-page message waits for its OK in turn.
  port.Serial().Purge();
  modem_->Send(Repeat("\r\nNOISE\r\n", 5) + "\r\n+FET:0\r\n" + Repeat("\r\nNOISE\r\n", 3) + "\r\nOK\r\n");
  EXPECT_EQ(port.WaitPostPageMessage(), 0);
  EXPECT_EQ(port.postPageMessage, kPpmMps);
  port.Serial().Purge();
  modem_->Send(Repeat("\r\nNOISE\r\n", 6) + "\r\n+FET:0\r\n\r\nOK\r\n");
  EXPECT_EQ(port.WaitPostPageMessage(), -1);
}

TEST_F(ResponseWaitTest, WaitOkCountsLines) {
  Open("0,1,2,2.0");
  const struct {
    const char* lines;
    bool ok;
  } cases[] = {
      {"\r\nOK\r\n", true},
      {"\r\nAT+FMI?\r\n\r\nOK\r\n", true},
      {"\r\nKorvo\r\n\r\nModel\r\n\r\nOK\r\n", false},  // OK on the last line
      {"\r\nERROR\r\n", false},
      {"", false},
  };
  for (const auto& c : cases) {
    port_->Serial().Purge();
    modem_->Send(c.lines);
    EXPECT_EQ(port_->WaitOk(), c.ok) << c.lines;
  }
}


TEST_F(ResponseWaitTest, PageTransferStatusAndHangUpCodes) {
  Open("0,1,2");
  const struct {
    std::string lines;
    int result;
    uint32_t hangUp;
    int ppr;
  } cases[] = {
      {"\r\n+FPTS:1\r\n\r\nOK\r\n", 0, 0, 1},
      {"\r\n+FPTS\r\n\r\nOK\r\n", 0, 0, 2},
      {"\r\n+FHNG\r\n", -1, 0x50, 0},
      {"\r\n+FHNG:0\r\n\r\nOK\r\n", 0, 0, 0},
      {"\r\n+FHNG:0\r\n\r\nERROR\r\n", -1, 0, 0},
      {"\r\n+FHNG:43\r\n", -1, 0x43, 0},
      // Status lines use up turns: an OK on the twelfth line is one too late.
      {Repeat("\r\n+FPTS:3\r\n", 10) + "\r\nOK\r\n", 0, 0, 3},
      {Repeat("\r\n+FPTS:3\r\n", 11) + "\r\nOK\r\n", -1, 0, 3},
  };
  for (const auto& c : cases) {
    port_->Serial().Purge();
    port_->hangUpCode = 0;
    port_->postPageResponse = 0;
    modem_->Send(c.lines);
    EXPECT_EQ(port_->WaitPageTransferStatus(), c.result) << c.lines;
    EXPECT_EQ(port_->hangUpCode, c.hangUp) << c.lines;
    EXPECT_EQ(port_->postPageResponse, c.ppr) << c.lines;
  }
}

TEST_F(ResponseWaitTest, ReportsAreRecordedFromTheirLines) {
  Open("0,1,2,2.0");
  modem_->Send("\r\n+FNF:AB CD\r\n\r\n+FCI: \"CALLED 1\"\r\n\r\n+FIS:1,5,0,2,0,0,0,0\r\n\r\nOK\r\n");
  ASSERT_TRUE(port_->WaitNsfCsiDis());
  EXPECT_STREQ(port_->nsf, "AB");
  EXPECT_STREQ(port_->csi, "\"CALLED");
  EXPECT_STREQ(port_->dis, "1,5,0,2,0,0,0,0");
  modem_->Send("\r\n+FCO\r\n\r\n+FTI: \"  REMOTE 9\"\r\n\r\n+FCS:0,3,0,2,0,0,0,0\r\n\r\nOK\r\n");
  ASSERT_TRUE(port_->WaitNssTsiDcs());
  EXPECT_STREQ(port_->tsi, " \"  REMOTE 9\"");
  EXPECT_STREQ(port_->dcs, "0,3,0,2,0,0,0,0");
  std::snprintf(port_->remoteId, sizeof port_->remoteId, "%s", port_->tsi);
  port_->CleanRemoteId();
  EXPECT_STREQ(port_->remoteId, "  REMOTE 9");
  modem_->Send("\r\n+FPS:1,1100,0,0,0\r\n");
  EXPECT_EQ(port_->WaitPageStatus(), 0);
  EXPECT_EQ(port_->postPageResponse, 1);
  EXPECT_EQ(port_->pageStatusValues[0], 1100);
  modem_->Send("\r\n+FET:7\r\n\r\nOK\r\n");
  EXPECT_EQ(port_->WaitPostPageMessage(), 0);
  EXPECT_EQ(port_->postPageMessage, kPpmEop);
  modem_->Send("\r\nERROR\r\n");
  EXPECT_EQ(port_->WaitPostPageMessage(), -2);
  modem_->Send("\r\n+FHS:25\r\n\r\nOK\r\n");
  EXPECT_TRUE(port_->WaitCallTermination());
  EXPECT_EQ(port_->hangUpCode, 0x25u);
  modem_->Send("\r\n+FHS\r\n");
  EXPECT_FALSE(port_->WaitCallTermination());
}

TEST_F(ResponseWaitTest, Class20EndOfDocumentWritesRtcAndDoesNotWait) {
  Open("0,1,2,2.0");
  EXPECT_TRUE(port_->FaxEndThePageOrDocument(kPpmEop));
  const uint8_t* rtc = nullptr;
  uint32_t length = 0;
  InitRtcBits();
  GetRtcBits(rtc, length);
  std::string expected(reinterpret_cast<const char*>(rtc), length);
  expected += "\x10.";
  for (int i = 0; i < 100 && modem_->raw().size() < expected.size(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(modem_->raw(), expected);
}

TEST_F(ResponseWaitTest, Class2EndOfPageNeedsOkAfterDleEtx) {
  Open("0,1,2");
  modem_->Send("\r\nOK\r\n");
  EXPECT_TRUE(port_->FaxEndThePageOrDocument(kPpmMps));
  for (int i = 0; i < 100 && modem_->commands().empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(modem_->raw(), "\x10\x03" "AT+FET=0\r");
  EXPECT_FALSE(port_->FaxEndThePageOrDocument(kPpmEop));  // no OK this time
  EXPECT_EQ(port_->hangUpCode, 0x41u);
}

TEST_F(ResponseWaitTest, DialAnswerAndCallWaitingWriteTheirTexts) {
  Open("0,1,2");
  ModemRecord r = port_->Configuration();
  r.dialPrefix.Assign("9,");
  r.callWaiting = 1;
  port_->UpdateConfiguration(r);
  ASSERT_TRUE(port_->PrepareSend("12345", Jobs({1})));
  EXPECT_TRUE(port_->Dial());
  EXPECT_TRUE(port_->Answer());
  EXPECT_TRUE(port_->CallWaiting(0));
  EXPECT_TRUE(port_->CallWaiting(1));
  r.dialMode = 0;
  port_->UpdateConfiguration(r);
  EXPECT_TRUE(port_->Dial());
  EXPECT_EQ(WaitForCommands(7),
            (std::vector<std::string>{"ATDT9,12345", "ATA", "ATD *70", "ATH0", "ATD *71", "ATH0", "ATDP9,12345"}));
}

TEST_F(ResponseWaitTest, DataBitOrderIsAClass2Step) {
  Open("0,1,2");
  modem_->Send("\r\nOK\r\n");
  EXPECT_TRUE(port_->FaxSelectDataBitOrder(1));
  modem_->Send("\r\nERROR\r\n");
  EXPECT_FALSE(port_->FaxSelectDataBitOrder(0));
  EXPECT_EQ(WaitForCommands(2), (std::vector<std::string>{"AT+FBOR=1", "AT+FBOR=0"}));

  Open("0,1,2,2.0");
  EXPECT_TRUE(port_->FaxSelectDataBitOrder(1));
  EXPECT_TRUE(modem_->commands().empty());
}

TEST_F(ResponseWaitTest, ConnectWaits) {
  Open("0,1,2,2.0");
  const struct {
    const char* lines;
    bool fax;     // WaitFaxConnect
    bool data;    // WaitConnect on the same lines
    uint32_t hangUp;
  } cases[] = {
      {"\r\n+FCO\r\n", true, false, 0},
      {"\r\nNO CARRIER\r\n", false, false, 0},
      {"\r\n+FCS:1,5,0,2,0,0,0,0\r\n\r\nCONNECT\r\n", false, true, 0},
      {"\r\n+FHS:48\r\n", false, false, 0x48},
  };
  for (const auto& c : cases) {
    port_->Serial().Purge();
    modem_->Send(c.lines);
    EXPECT_EQ(port_->WaitFaxConnect(), c.fax) << c.lines;
    port_->Serial().Purge();
    port_->hangUpCode = 0;
    modem_->Send(c.lines);
    EXPECT_EQ(port_->WaitConnect(), c.data) << c.lines;
    EXPECT_EQ(port_->hangUpCode, c.hangUp) << c.lines;
  }
  EXPECT_STREQ(port_->dcs, "1,5,0,2,0,0,0,0");
}

}  // namespace
}  // namespace korvo
