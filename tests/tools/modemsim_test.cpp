#include "tools/modemsim/exchange.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <sstream>

#include "tests/support/sandbox.h"
#include "tests/tools/terminal.h"

namespace {

using namespace std::chrono_literals;
using korvo::test::Stuff;
using korvo::test::Terminal;
using namespace korvo::modemsim;
using Lines = std::vector<std::string>;
using korvo::test::Sandbox;

constexpr char kDle = Terminal::kDle;

ExchangeConfig Config(Faults caller = {}, Faults callee = {}) {
  ExchangeConfig cfg;
  cfg.ringPeriod = 20ms;
  cfg.modems.push_back({.name = "m1", .number = "100", .faults = caller});
  cfg.modems.push_back({.name = "m2", .number = "200", .faults = callee});
  return cfg;
}

// A page with every byte value, DLE, XON and XOFF included.
std::string TestPage(std::size_t size = 600) {
  std::string p;
  for (std::size_t i = 0; i < size; ++i) p += static_cast<char>((i * 7 + 3) % 256);
  return p + std::string(8, kDle) + "\x11\x13";
}

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::string Reversed(std::string s) {
  auto v = Bytes(s);
  ReverseBits(v);
  return {v.begin(), v.end()};
}

// ---- commands outside a call ----

TEST(ModemCommands, AnswersTheInitialisationOfEitherClass) {
  ExchangeConfig cfg = Config();
  cfg.modems[0].manufacturer = "Acme";
  cfg.modems[0].model = "FX-14";
  cfg.modems[0].revision = "3.1";
  Exchange ex(cfg);
  Terminal t(ex.portPath(0));
  struct Case { const char* command; Lines response; };
  const Case cases[] = {
      {"ATZ", {"ATZ", "OK"}},  // echo is on after a reset
      {"ATQ0V1E0X0&D2&C1L1S0=0H0", {"ATQ0V1E0X0&D2&C1L1S0=0H0", "OK"}},  // echoed before E0 acts
      {"ATL2M1", {"OK"}},
      {"AT+FCLASS=?", {"0,1,2,2.0", "OK"}},
      {"AT+FCLASS=2.0", {"OK"}},
      {"AT+FCLASS?", {"2.0", "OK"}},
      {"AT+FCC=1,5,0,2,0,0,0,0", {"OK"}},
      {"AT+FCC=,3", {"OK"}},
      {"AT+FCC?", {"1,3,0,2,0,0,0,0", "OK"}},
      {"AT+FCC=?", {"(0,1),(0-5),(0-2),(0-2),(0,1),(0),(0),(0-7)", "OK"}},
      {"AT+FNR=1,1,1,0", {"OK"}},
      {"AT+FLI=\"KORVO 1\"", {"OK"}},
      {"AT+FLI?", {"\"KORVO 1\"", "OK"}},
      {"AT+FCR=1", {"OK"}},
      {"AT+FMI?", {"Acme", "OK"}},
      {"AT+FMM?", {"FX-14", "OK"}},
      {"AT+FMR?", {"3.1", "OK"}},
      {"AT+FLO=1", {"OK"}},
      {"AT+FLO?", {"1", "OK"}},
      {"AT&H4", {"OK"}},
      {"AT\\Q3", {"OK"}},
      {"ATS58=2S68=255", {"OK"}},
      {"AT+FCLASS=2", {"OK"}},
      {"AT+FDCC=1,3,0,2,0,0,0,0", {"OK"}},
      {"AT+FDIS?", {"1,3,0,2,0,0,0,0", "OK"}},
      {"AT+FLID=\"KORVO 2\"", {"OK"}},
      {"AT+FBOR=1", {"OK"}},
      {"AT+FBOR?", {"1", "OK"}},
      {"AT+FMFR?", {"Acme", "OK"}},
      {"AT+FMDL?", {"FX-14", "OK"}},
      {"AT+FREV?", {"3.1", "OK"}},
      {"AT+FCLASS=3", {"ERROR"}},
      {"AT+FDT", {"ERROR"}},  // no call
      {"AT+FDR", {"ERROR"}},
      {"AT+FET=2", {"ERROR"}},
      {"ATA", {"NO CARRIER"}},  // nothing rings
      {"AT&", {"ERROR"}},
      {"ATV0", {}},
  };
  for (const auto& c : cases) {
    t.command(c.command);
    Lines got;
    for (std::size_t i = 0; i < c.response.size(); ++i) got.push_back(t.line());
    EXPECT_EQ(got, c.response) << c.command;
  }
  // Numeric result codes after V0.
  t.command("AT");
  EXPECT_EQ(t.byte(), '0');
  EXPECT_EQ(t.byte(), '\r');
}

TEST(ModemCommands, FaultsChangeTheAnswers) {
  struct Case {
    const char* name;
    Faults faults;
    const char* command;
    Lines response;
  };
  const Case cases[] = {
      {"default", {}, "AT+FCLASS=?", {"0,1,2,2.0", "OK"}},
      {"class 1 only", {.class1Only = true}, "AT+FCLASS=?", {"0,1", "OK"}},
      {"class 1 only", {.class1Only = true}, "AT+FCLASS=2", {"ERROR"}},
      {"not a fax modem", {.notFax = true}, "AT+FCLASS=?", {"0", "OK"}},
      {"not a fax modem", {.notFax = true}, "AT+FMFR?", {"ERROR"}},
      {"error to a command", {.errorOn = {"AT+FCR"}}, "AT+FCR=1", {"ERROR"}},
      {"error to a command", {.errorOn = {"AT+FCR"}}, "AT+FCLASS=2", {"OK"}},
      {"error is case-blind", {.errorOn = {"at&h4"}}, "AT&H4", {"ERROR"}},
  };
  for (const auto& c : cases) {
    Exchange ex(Config(c.faults));
    Terminal t(ex.portPath(0));
    t.ask("ATE0");
    EXPECT_EQ(t.ask(c.command), c.response) << c.name;
  }
}

TEST(ModemCommands, SilentModemSaysNothing) {
  Exchange ex(Config({.silent = true}));
  Terminal t(ex.portPath(0));
  t.command("ATZ");
  t.command("AT+FCLASS=?");
  // Once the exchange has taken both lines, whatever it answered is in the port.
  while (ex.commands(0).size() < 2) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(ex.commands(0), (Lines{"ATZ", "AT+FCLASS=?"}));
  EXPECT_FALSE(t.pending());
}

TEST(ModemCommands, ClassListOfTheConfiguration) {
  ExchangeConfig cfg = Config();
  cfg.modems[0].classes = "0,2";
  Exchange ex(cfg);
  Terminal t(ex.portPath(0));
  t.ask("ATE0");
  EXPECT_EQ(t.ask("AT+FCLASS=?"), (Lines{"0,2", "OK"}));
  EXPECT_EQ(t.ask("AT+FCLASS=2.0"), (Lines{"ERROR"}));
}

TEST(Exchange, RefusesPortPathsLongerThanAModemRecordHolds) {
  ExchangeConfig cfg = Config();
  cfg.dir = "/tmp/korvo-modemsim-much-too-long-folder";
  EXPECT_THROW(Exchange{cfg}, std::invalid_argument);
  EXPECT_FALSE(std::filesystem::exists(cfg.dir / "m1"));
  std::filesystem::remove_all(cfg.dir);
}

TEST(Exchange, PortsGoAwayWithTheExchange) {
  std::filesystem::path port;
  {
    Exchange ex(Config());
    port = ex.portPath(0);
    EXPECT_LE(port.string().size(), 31u);
    EXPECT_TRUE(std::filesystem::is_symlink(port));
  }
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(port)));
  EXPECT_FALSE(std::filesystem::exists(port.parent_path()));
}

// ---- call set-up ----

TEST(CallSetup, OutcomesOfADial) {
  struct Case {
    const char* name;
    Faults caller, callee;
    const char* init;  // result code level
    const char* number;
    const char* result;
    const char* outcome;
  };
  const Case cases[] = {
      {"busy line", {}, {.busy = true}, "ATX4", "200", "BUSY", "busy"},
      {"busy line, basic result codes", {}, {.busy = true}, "ATX0", "200", "NO CARRIER", "busy"},
      {"no answer", {}, {.noAnswer = true}, "ATX4", "200", "NO CARRIER", "no-answer"},
      {"no carrier after dialling", {.noCarrier = true}, {}, "ATX4", "200", "NO CARRIER", "no-carrier"},
      {"unknown number", {}, {}, "ATX4", "999", "NO CARRIER", "unknown-number"},
      {"number with dial modifiers", {}, {.busy = true}, "ATX4", "T,2-0 0W", "BUSY", "busy"},
  };
  for (const auto& c : cases) {
    ExchangeConfig cfg = Config(c.caller, c.callee);
    cfg.answerTimeout = 100ms;
    Exchange ex(cfg);
    Terminal t(ex.portPath(0));
    t.ask("ATE0");
    t.ask(c.init);
    t.ask("AT+FCLASS=2");
    EXPECT_EQ(t.ask(std::string("ATD") + c.number), (Lines{c.result})) << c.name;
    ASSERT_TRUE(ex.waitForCalls(1, 10s)) << c.name;
    auto calls = ex.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].outcome, c.outcome) << c.name;
    EXPECT_EQ(calls[0].caller, "m1");
    EXPECT_FALSE(calls[0].answered);
  }
}

TEST(CallSetup, UnansweredCallRingsOncePerPeriodUntilTheCallerGivesUp) {
  ExchangeConfig cfg = Config();
  cfg.answerTimeout = 500ms;
  Exchange ex(cfg);
  Terminal caller(ex.portPath(0)), callee(ex.portPath(1));
  caller.ask("ATE0");
  caller.ask("AT+FCLASS=2");
  caller.command("ATD200");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(callee.line(), "RING");
  EXPECT_TRUE(ex.waitForRing(1, 1s));
  EXPECT_EQ(caller.line(), "NO CARRIER");
  ASSERT_TRUE(ex.waitForCalls(1, 10s));
  EXPECT_EQ(ex.calls()[0].outcome, "no-answer");
}

TEST(CallSetup, AutoAnswerAfterTheRingsOfS0) {
  Exchange ex(Config());
  Terminal caller(ex.portPath(0)), callee(ex.portPath(1));
  for (auto* t : {&caller, &callee}) {
    t->ask("ATE0");
    t->ask("AT+FCLASS=2.0");
  }
  callee.ask("ATS0=2");
  caller.command("ATD200");
  EXPECT_EQ(callee.until("+FCO"), (Lines{"RING", "RING", "+FCO"}));
  EXPECT_EQ(caller.until("OK"), (Lines{"+FCO", "+FIS:1,5,0,2,0,0,0,0", "OK"}));
}

TEST(CallSetup, ModemInACallIsBusy) {
  ExchangeConfig cfg = Config();
  cfg.modems.push_back({.name = "m3", .number = "300"});
  Exchange ex(cfg);
  Terminal a(ex.portPath(0)), b(ex.portPath(1)), c(ex.portPath(2));
  for (auto* t : {&a, &b, &c}) {
    t->ask("ATE0");
    t->ask("AT+FCLASS=2");
  }
  a.command("ATD200");
  EXPECT_EQ(b.line(), "RING");
  EXPECT_EQ(c.ask("ATD200"), (Lines{"BUSY"}));
}

// ---- sessions, in both classes ----

struct Dialect {
  const char* name;
  const char* cls;
  const char* con;
  const char* csi;
  const char* dis;
  const char* tsi;
  const char* dcs;
  const char* pts;
  const char* hng;
  const char* judge;  // the computer's page judgement command
  bool xon;           // XON after CONNECT of AT+FDT
  bool dleEtx;        // the computer ends a page with DLE ETX and AT+FET
};

void PrintTo(const Dialect& d, std::ostream* os) { *os << d.name; }

const Dialect kClass2{"Class2", "2", "+FCON", "+FCSI:", "+FDIS:", "+FTSI:", "+FDCS:", "+FPTS:", "+FHNG:", "AT+FPTS=", true, true};
const Dialect kClass20{"Class20", "2.0", "+FCO", "+FCI:", "+FIS:", "+FTI:", "+FCS:", "+FPS:", "+FHS:", "AT+FPS=", false, false};

class Session : public ::testing::TestWithParam<Dialect> {
 protected:
  const Dialect& d = GetParam();
  std::string caps = "1,5,0,2,0,0,0,0";

  void Start(ExchangeConfig cfg) {
    caller.reset();
    callee.reset();
    ex.reset();
    ex = std::make_unique<Exchange>(std::move(cfg));
    caller = std::make_unique<Terminal>(ex->portPath(0));
    callee = std::make_unique<Terminal>(ex->portPath(1));
    Init(*caller, "CALLER 100");
    Init(*callee, "CALLEE 200");
  }

  void Init(Terminal& t, const std::string& id) {
    t.ask("ATZ");
    ASSERT_EQ(t.ask("ATQ0V1E0X0&D2&C1L1S0=0H0"), (Lines{"ATQ0V1E0X0&D2&C1L1S0=0H0", "OK"}));
    ASSERT_EQ(t.ask(std::string("AT+FCLASS=") + d.cls), (Lines{"OK"}));
    ASSERT_EQ(t.ask(std::string(d.cls[1] ? "AT+FCC=" : "AT+FDCC=") + caps), (Lines{"OK"}));
    ASSERT_EQ(t.ask(std::string(d.cls[1] ? "AT+FLI=\"" : "AT+FLID=\"") + id + "\""), (Lines{"OK"}));
    ASSERT_EQ(t.ask("AT+FCR=1"), (Lines{"OK"}));
  }

  void Connect() {
    caller->command("ATDT200");
    ASSERT_EQ(callee->line(), "RING");
    callee->command("ATA");
    // The line rings on until the modem takes ATA: a slow computer sees more rings first.
    Lines answer = callee->until(d.con);
    std::erase(answer, "RING");
    ASSERT_EQ(answer, (Lines{d.con}));
    ASSERT_EQ(caller->until("OK"), (Lines{d.con, d.csi + std::string("\"CALLEE 200\""), d.dis + caps, "OK"}));
  }

  // The caller sends one page; the callee's answer to ATA completes on the first.
  void SendPage(const std::string& data, int ppm, bool first) {
    ASSERT_EQ(caller->ask("AT+FDT"), (Lines{d.dcs + caps, "CONNECT"}));
    // XON comes with CONNECT, in the same write.
    int b = caller->pending() ? caller->byte() : -1;
    if (d.xon) EXPECT_EQ(b, Terminal::kXon);
    else EXPECT_EQ(b, -1) << "nothing follows CONNECT in Class 2.0";
    if (first) {
      ASSERT_EQ(callee->until("OK"), (Lines{d.tsi + std::string("\"CALLER 100\""), d.dcs + caps, "OK"}));
    }
    if (d.dleEtx) {
      caller->write(Stuff(data) + kDle + Terminal::kEtx);
      ASSERT_EQ(caller->line(), "OK");
      caller->command("AT+FET=" + std::to_string(ppm));
    } else {
      caller->write(Stuff(data) + kDle + ",;."[ppm]);
    }
  }

  // The callee takes one page (AT+FDR already sent when `asked`).
  std::string ReceivePage(int ppm, const std::string& quality = "1", bool asked = false) {
    if (!asked) callee->command("AT+FDR");
    EXPECT_EQ(callee->until("CONNECT"), (Lines{d.dcs + caps, "CONNECT"}));
    callee->write(std::string(1, Terminal::kDc2));
    std::string data = callee->page();
    // The line idles with zero fill after the page.
    EXPECT_GE(data.size(), 2u);
    EXPECT_EQ(data.substr(data.size() - 2), std::string(2, '\0'));
    data.resize(data.size() - 2);
    EXPECT_EQ(callee->line(), d.pts + quality);
    EXPECT_EQ(callee->until("OK"), (Lines{"+FET:" + std::to_string(ppm), "OK"}));
    return data;
  }

  // The response the caller's computer gets for a page.
  Lines Response(const std::string& ppr, bool last) {
    if (last) return {d.pts + ppr, HangUp("0"), "OK"};
    return {d.pts + ppr, "OK"};
  }

  std::string HangUp(const std::string& code) { return d.hng + std::string(d.cls[1] && code.size() == 1 ? "0" : "") + code; }

  std::unique_ptr<Exchange> ex;
  std::unique_ptr<Terminal> caller, callee;
};

TEST_P(Session, PagesAndDocumentsCrossWithIdsAndPostPageMessages) {
  Start(Config());
  Connect();
  const std::string pages[] = {TestPage(), TestPage(3000).substr(5), TestPage(100)};
  const int ppms[] = {0, 1, 2};  // MPS, EOM, EOP
  for (int k = 0; k < 3; ++k) {
    SendPage(pages[k], ppms[k], k == 0);
    EXPECT_EQ(ReceivePage(ppms[k], "1", k > 0), pages[k]);
    callee->command("AT+FDR");  // judges the page, waits for the next
    EXPECT_EQ(caller->until("OK"), Response("1", k == 2));
  }
  EXPECT_EQ(callee->until("OK"), (Lines{HangUp("0"), "OK"}));
  ASSERT_TRUE(ex->waitForCalls(1, 10s));
  auto call = ex->calls().at(0);
  EXPECT_EQ(call.outcome, "completed");
  EXPECT_TRUE(call.answered);
  EXPECT_EQ(call.callee, "m2");
  EXPECT_EQ(call.dialled, "T200");
  EXPECT_EQ(call.tsi, "CALLER 100");
  EXPECT_EQ(call.csi, "CALLEE 200");
  EXPECT_EQ(call.dis, caps);
  ASSERT_EQ(call.pages.size(), 3u);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(call.pages[k].data, Bytes(pages[k]));
    EXPECT_EQ(call.pages[k].ppm, ppms[k]);
    EXPECT_EQ(call.pages[k].ppr, 1);
    EXPECT_EQ(call.pages[k].dcs, caps);
  }
  // Both modems are back on hook and take commands.
  EXPECT_EQ(caller->ask("AT"), (Lines{"OK"}));
  EXPECT_EQ(callee->ask("AT+FDR"), (Lines{"ERROR"}));
}

TEST_P(Session, NegotiatesTheLowerCapabilities) {
  caps = "0,3,0,2,0,0,0,0";
  Start(Config());
  ASSERT_EQ(caller->ask(std::string(d.cls[1] ? "AT+FIS=" : "AT+FDIS=") + "1,5,0,1"), (Lines{"OK"}));
  Connect();
  ASSERT_EQ(caller->ask("AT+FDT"), (Lines{d.dcs + std::string("0,3,0,1,0,0,0,0"), "CONNECT"}));
}

TEST_P(Session, PageJudgement) {
  struct Case {
    int rtnPage;        // fault of the receiving modem
    const char* judge;  // the receiving computer's judgement, if any
    const char* quality, *ppr;
  };
  const Case cases[] = {
      {0, "", "1", "1"}, {1, "", "2", "2"}, {0, "2", "1", "2"}, {0, "3", "1", "3"}, {1, "1", "2", "2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("rtn page ") + std::to_string(c.rtnPage) + ", judgement " + c.judge);
    Start(Config({}, {.rtnPage = c.rtnPage}));
    Connect();
    SendPage(TestPage(), 2, true);
    ReceivePage(2, c.quality);
    if (*c.judge) {
      EXPECT_EQ(callee->ask(d.judge + std::string(c.judge)), (Lines{"OK"}));
    }
    EXPECT_EQ(callee->ask("AT+FDR"), (Lines{HangUp("0"), "OK"}));
    EXPECT_EQ(caller->until("OK"), Response(c.ppr, true));
    // The query a computer makes when its end of page was answered ERROR.
    EXPECT_EQ(caller->ask("AT+FPS?"), (Lines{c.ppr, "OK"}));
    ASSERT_TRUE(ex->waitForCalls(1, 10s));
    EXPECT_EQ(ex->calls().at(0).pages.at(0).ppr, std::atoi(c.ppr));
  }
}

TEST_P(Session, LineDropsAfterThePageOfTheFault) {
  Start(Config({}, {.hangUpAfterPage = 1}));
  Connect();
  SendPage(TestPage(), 0, true);
  ReceivePage(0);
  EXPECT_EQ(callee->ask("AT+FDR"), (Lines{HangUp("90"), "OK"}));
  EXPECT_EQ(caller->until("OK"), Response("1", false)) << "page 1 was confirmed";
  EXPECT_EQ(caller->ask("AT+FDT"), (Lines{HangUp("40"), "OK"}));
  ASSERT_TRUE(ex->waitForCalls(1, 10s));
  auto call = ex->calls().at(0);
  EXPECT_EQ(call.outcome, "dropped");
  EXPECT_EQ(call.pages.size(), 1u);
}

TEST_P(Session, HangUpByTheComputerReachesTheFarEnd) {
  Start(Config());
  Connect();
  EXPECT_EQ(caller->ask("ATH0"), (Lines{"OK"}));
  EXPECT_EQ(callee->until("OK"), (Lines{HangUp("70"), "OK"})) << "the answer to ATA";
  ASSERT_TRUE(ex->waitForCalls(1, 10s));
  EXPECT_EQ(ex->calls().at(0).outcome, "dropped");
}

TEST_P(Session, BitOrderOfEachEnd) {
  struct Case {
    int callerBor, calleeBor;
    bool delivered, recorded;  // reversed against what the caller wrote
  };
  const Case cases[] = {{0, 0, false, false}, {0, 1, true, false}, {1, 0, true, true}, {1, 1, false, true}};
  const std::string page = TestPage();
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.callerBor) + " to " + std::to_string(c.calleeBor));
    Start(Config());
    const std::string bor = d.cls[1] ? "AT+FBO=" : "AT+FBOR=";
    ASSERT_EQ(caller->ask(bor + std::to_string(c.callerBor)), (Lines{"OK"}));
    ASSERT_EQ(callee->ask(bor + std::to_string(c.calleeBor)), (Lines{"OK"}));
    Connect();
    SendPage(page, 2, true);
    EXPECT_EQ(ReceivePage(2), c.delivered ? Reversed(page) : page);
    callee->command("AT+FDR");
    EXPECT_EQ(caller->until("OK"), Response("1", true));
    EXPECT_EQ(ex->calls().at(0).pages.at(0).data, Bytes(c.recorded ? Reversed(page) : page));
  }
}

TEST_P(Session, DamagedLine) {
  Start(Config({.corruptEvery = 4}));
  Connect();
  const std::string page = TestPage();
  SendPage(page, 2, true);
  std::string got = ReceivePage(2);
  ASSERT_EQ(got.size(), page.size());
  for (std::size_t i = 0; i < page.size(); ++i)
    EXPECT_EQ(static_cast<int>(got[i] ^ page[i]), i % 4 == 3 ? 0x24 : 0) << "byte " << i;
}

TEST_P(Session, ModemVanishesDuringTheCall) {
  Start(Config({}, {.vanishOn = "AT+FDR"}));
  Connect();
  SendPage(TestPage(), 2, true);
  callee->command("AT+FDR");
  EXPECT_TRUE(callee->hungUp());
  EXPECT_EQ(caller->until("OK"), (Lines{HangUp("54"), "OK"}));
  ASSERT_TRUE(ex->waitForCalls(1, 10s));
  EXPECT_EQ(ex->calls().at(0).outcome, "dropped");
  callee.reset();
  EXPECT_THROW(Terminal{ex->portPath(1)}, std::runtime_error);
  ex->plug(1);
  Terminal again(ex->portPath(1));
  EXPECT_EQ(again.ask("AT"), (Lines{"AT", "OK"})) << "a fresh modem echoes";
}

INSTANTIATE_TEST_SUITE_P(Classes, Session, ::testing::Values(kClass2, kClass20),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- line speed, unplugging ----

TEST(Pacing, XoffHoldsTheComputerWhileTheLineIsBehind) {
  ExchangeConfig cfg = Config();
  cfg.pace = true;
  Exchange ex(cfg);
  Terminal caller(ex.portPath(0)), callee(ex.portPath(1));
  for (auto* t : {&caller, &callee}) {
    t->ask("ATE0");
    t->ask("AT+FCLASS=2.0");
    t->ask("AT+FLO=1");
  }
  caller.command("ATD200");
  ASSERT_EQ(callee.line(), "RING");
  callee.command("ATA");
  caller.until("OK");
  ASSERT_EQ(caller.ask("AT+FDT").back(), "CONNECT");
  const std::string page(4000, '\x55');
  caller.write(page + kDle + '.');
  // The line carries nothing until the callee takes the page: XOFF.
  EXPECT_EQ(caller.byte(), Terminal::kXoff);
  callee.until("OK");
  callee.command("AT+FDR");
  callee.until("CONNECT");
  callee.write(std::string(1, Terminal::kDc2));
  // 4000 bytes take about two seconds at 14400 bit/s; XON once the buffer drained.
  EXPECT_EQ(caller.byte(), Terminal::kXon);
  EXPECT_EQ(callee.page(), page + std::string(2, '\0'));
}

// The receiving computer paces the page with XOFF and XON under software flow
// control; under hardware flow control those bytes mean nothing to the modem.
TEST(Pacing, XoffFromTheReceivingComputerHoldsThePageUntilXon) {
  for (const char* flow : {"AT+FLO=1", "AT+FLO=2"}) {
    SCOPED_TRACE(flow);
    const bool software = flow[7] == '1';
    Exchange ex(Config());
    Terminal caller(ex.portPath(0)), callee(ex.portPath(1));
    for (auto* t : {&caller, &callee}) {
      t->ask("ATE0");
      t->ask("AT+FCLASS=2.0");
      t->ask(flow);
    }
    caller.command("ATD200");
    ASSERT_EQ(callee.line(), "RING");
    callee.command("ATA");
    caller.until("OK");
    ASSERT_EQ(caller.ask("AT+FDT").back(), "CONNECT");
    const std::string page = TestPage();
    caller.write(Stuff(page) + kDle + '.');
    callee.until("OK");
    callee.command("AT+FDR");
    callee.until("CONNECT");
    callee.write(std::string{Terminal::kDc2, Terminal::kXoff});
    if (software) {
      EXPECT_EQ(callee.byte(200ms), -1) << "nothing while held";
      callee.write(std::string(1, Terminal::kXon));
    }
    EXPECT_EQ(callee.page(), page + std::string(2, '\0'));
  }
}

// The receiving computer's XON releases a held modem also once the modem is
// back in command mode: efax's XON may come after the caller's post-page
// message, which ends the page and queues +FET behind the hold.
TEST(Pacing, XonAfterThePostPageMessageReleasesTheHeldModem) {
  Exchange ex(Config());
  Terminal caller(ex.portPath(0)), callee(ex.portPath(1));
  for (auto* t : {&caller, &callee}) {
    t->ask("ATE0");
    t->ask("AT+FCLASS=2");
    t->ask("AT+FLO=1");
  }
  caller.command("ATD200");
  ASSERT_EQ(callee.line(), "RING");
  callee.command("ATA");
  caller.until("OK");
  ASSERT_EQ(caller.ask("AT+FDT").back(), "CONNECT");
  const std::string page = TestPage();
  caller.write(Stuff(page) + kDle + Terminal::kEtx);
  ASSERT_EQ(caller.line(), "OK");
  callee.until("OK");
  callee.command("AT+FDR");
  callee.until("CONNECT");
  callee.write(std::string(1, Terminal::kDc2));
  EXPECT_EQ(callee.page(), page + std::string(2, '\0'));
  EXPECT_EQ(callee.line(), "+FPTS:1");
  // Held before the caller's end of page comes.
  callee.write(std::string(1, Terminal::kXoff));
  caller.command("AT+FET=2");
  EXPECT_EQ(callee.byte(200ms), -1) << "nothing while held";
  callee.write(std::string(1, Terminal::kXon));
  EXPECT_EQ(callee.until("OK"), (Lines{"+FET:2", "OK"}));
}

TEST(Exchange, UnplugTakesTheTerminalAwayAndPlugBringsAFreshOne) {
  Exchange ex(Config());
  {
    Terminal t(ex.portPath(0));
    t.ask("ATE0");
    ex.unplug(0);
    EXPECT_TRUE(t.hungUp());
  }
  EXPECT_THROW(Terminal{ex.portPath(0)}, std::runtime_error);
  ex.plug(0);
  Terminal t(ex.portPath(0));
  EXPECT_EQ(t.ask("AT"), (Lines{"AT", "OK"}));
  EXPECT_EQ(ex.index("m2"), 1);
  EXPECT_EQ(ex.index("m9"), -1);
}

// ---- configuration ----

TEST(Config, ParsesSettingsAndModems) {
  std::istringstream in(
      "# test exchange\n"
      "dir /tmp/kvconf\n"
      "ring-ms 250\n"
      "answer-timeout-ms 1500\n"
      "dial-delay-ms 10\n"
      "pace 1\n"
      "min-page-ms 1000  # efax on either end\n"
      "fill-after-page 0\n"
      "modem name=a number=100 classes=0,2 manufacturer=\"Acme Corp\" model=X revision=2\n"
      "modem name=b number=200 busy no-answer no-carrier silent class1 not-fax hangup-after-page=2 "
      "rtn-page=3 corrupt-every=9 error=AT+FCR error=ATA vanish=AT+FDT\n");
  ExchangeConfig cfg = ParseConfig(in);
  EXPECT_EQ(cfg.dir, "/tmp/kvconf");
  EXPECT_EQ(cfg.ringPeriod, 250ms);
  EXPECT_EQ(cfg.answerTimeout, 1500ms);
  EXPECT_EQ(cfg.dialDelay, 10ms);
  EXPECT_TRUE(cfg.pace);
  EXPECT_EQ(cfg.minPageTime, 1000ms);
  EXPECT_EQ(cfg.fillAfterPage, 0u);
  ASSERT_EQ(cfg.modems.size(), 2u);
  EXPECT_EQ(cfg.modems[0].name, "a");
  EXPECT_EQ(cfg.modems[0].classes, "0,2");
  EXPECT_EQ(cfg.modems[0].manufacturer, "Acme Corp");
  EXPECT_EQ(cfg.modems[0].revision, "2");
  const Faults& f = cfg.modems[1].faults;
  EXPECT_TRUE(f.busy && f.noAnswer && f.noCarrier && f.silent && f.class1Only && f.notFax);
  EXPECT_EQ(f.hangUpAfterPage, 2);
  EXPECT_EQ(f.rtnPage, 3);
  EXPECT_EQ(f.corruptEvery, 9);
  EXPECT_EQ(f.errorOn, (Lines{"AT+FCR", "ATA"}));
  EXPECT_EQ(f.vanishOn, "AT+FDT");
}

TEST(Config, RefusesWhatItDoesNotKnow) {
  const char* bad[] = {
      "ring-ms fast\n", "ring-ms -5\n", "colour blue\n", "pace\n", "modem number=1\n",
      "modem name=a bogus\n", "modem name=a busy=1\n", "modem name=a rtn-page\n",
      "modem name=a\nmodem name=a\n", "modem name=\"a\n", "modem name=x/y\n",
  };
  for (const char* text : bad) {
    std::istringstream in(text);
    EXPECT_THROW(ParseConfig(in), std::invalid_argument) << text;
  }
}

// ---- the program ----

TEST(Program, RunsTheExchangeUntilTerminated) {
  korvo::test::Sandbox box;
  const auto record = box.path("calls.txt");
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    const std::string prog = (korvo::test::BuildDir() / "tools" / "modemsim").string();
    execl(prog.c_str(), prog.c_str(), "--set", "ring-ms 20", "--modem", "name=a number=100", "--modem",
          "name=b number=200 busy", "--record", record.c_str(), nullptr);
    _exit(127);
  }
  close(out[1]);
  FILE* f = fdopen(out[0], "r");
  std::vector<std::string> lines;
  char buf[256];
  while (fgets(buf, sizeof buf, f)) {
    lines.emplace_back(buf);
    if (lines.back() == "ready\n") break;
  }
  ASSERT_EQ(lines.size(), 3u);
  std::istringstream port(lines[0]);
  std::string word, name, path;
  port >> word >> name >> path;
  EXPECT_EQ(word, "port");
  EXPECT_EQ(name, "a");
  {
    Terminal t(path);
    t.ask("ATE0");
    t.ask("AT+FCLASS=2");
    EXPECT_EQ(t.ask("ATD200"), (Lines{"BUSY"}));
  }
  // The record follows each ended call.
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (Sandbox::readFile(record).find("outcome=busy") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(5ms);
  kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  fclose(f);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_NE(Sandbox::readFile(record).find("call caller=a callee=b dialled=\"200\" outcome=busy ended=1"),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(path)));
}

}  // namespace
