#include "server/modem_subsystem.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "common/book_records.h"
#include "common/database.h"
#include "common/status_codes.h"
#include "server/faxserver.h"
#include "tests/server/engine_fixture.h"
#include "tests/server/fake_modem.h"

namespace korvo {
namespace {

using test::FakeModem;

std::atomic<int64_t> gNow{2000000};
int64_t TestClock() { return gNow.load(); }

ModemRecord Record(const std::string& port, int usage = ModemPort::kUsageBoth, bool enabled = true) {
  ModemRecord r;
  r.portName.Assign(port);
  r.usage = usage;
  r.enabled = enabled;
  return r;
}

std::string Text(const ModemRecord& r) { return r.Encode(); }

// Session entries that note the hand-over and block until released, so
// a test sees the port while its session runs.
struct Sessions {
  std::mutex m;
  std::condition_variable cv;
  int sends = 0;
  int receptions = 0;
  PortState stateSeen = PortState::OutOfService;
  int indexSeen = -1;
  bool release = false;
};
Sessions gSessions;

void Enter(ModemPort& port, int& counter) {
  std::unique_lock hold(gSessions.m);
  ++counter;
  gSessions.stateSeen = port.GetState();
  gSessions.indexSeen = port.GetPortIndex();
  gSessions.cv.notify_all();
  gSessions.cv.wait(hold, [] { return gSessions.release; });
}
void SendEntry(ModemPort& port) {
  FaxSessionCounter::Change(+1);
  Enter(port, gSessions.sends);
  port.Restart();
  FaxSessionCounter::Change(-1);
}
void ReceiveEntry(ModemPort& port) {
  Enter(port, gSessions.receptions);
  port.SetState(port.Reinitialise() ? PortState::Ready : PortState::OutOfService);
}
bool WaitForSessions(int& counter, int n) {
  std::unique_lock hold(gSessions.m);
  return gSessions.cv.wait_for(hold, std::chrono::seconds(20), [&] { return counter >= n; });
}
void ReleaseSessions() {
  std::lock_guard hold(gSessions.m);
  gSessions.release = true;
  gSessions.cv.notify_all();
}

class ModemSubsystemTest : public test::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ModemSubsystem::SetMonitorPeriod(platform::kInfinite);  // the tests drive the passes
    ModemPort::SetClock(TestClock);
    ModemPort::SetSessionEntryPoints(SendEntry, ReceiveEntry);
  }
  void TearDown() override {
    ReleaseSessions();
    subsystem_.reset();
    ModemPort::SetSessionEntryPoints(nullptr, nullptr);
    ModemPort::SetClock(nullptr);
    EngineTest::TearDown();
  }
  // Stores the records in Modems.dbs with ids 1, 2, ...
  void Store(std::vector<ModemRecord> records) {
    Database db(GetModemsPath().c_str(), sizeof(ModemRecord), CompareModemIds);
    ASSERT_TRUE(db.Open());
    for (auto& r : records) {
      r.id = static_cast<int32_t>(db.NextSerial());
      ASSERT_GE(db.Add(&r), 0);
    }
    db.Close();
  }
  int StoredCount() {
    Database db(GetModemsPath().c_str(), sizeof(ModemRecord), CompareModemIds);
    if (!db.Open()) return -1;
    const int n = db.GetCount();
    db.Close();
    return n;
  }
  ModemSubsystem& Start(LockedDatabase* book = nullptr) {
    int ok = 0;
    subsystem_ = std::make_unique<ModemSubsystem>(book, &ok);
    EXPECT_EQ(ok, 1);
    return *subsystem_;
  }
  std::vector<int32_t> PortIds() {
    std::vector<int32_t> ids;
    for (int i = 0; i < subsystem_->GetPortCount(); ++i) ids.push_back(subsystem_->GetPort(i)->GetModemId());
    return ids;
  }
  std::shared_ptr<SendRequestList> Jobs(std::initializer_list<uint32_t> ids) {
    auto list = std::make_shared<SendRequestList>();
    for (uint32_t id : ids) {
      SendRequestEntry e;
      e.jobId = id;
      list->Add(e);
    }
    return list;
  }

  std::unique_ptr<ModemSubsystem> subsystem_;
};

TEST_F(ModemSubsystemTest, EnabledRecordsGivePortsInRecordOrder) {
  FakeModem m1, m3;
  Store({Record(m1.path()), Record("/nonexistent/m2", ModemPort::kUsageBoth, false), Record(m3.path())});
  auto& subsystem = Start();
  EXPECT_FALSE(Logged("No enabled modems found in database !"));
  EXPECT_EQ(PortIds(), (std::vector<int32_t>{1, 3}));
  EXPECT_EQ(subsystem.GetPort(0)->GetState(), PortState::Ready);
  EXPECT_EQ(subsystem.GetPort(1)->GetState(), PortState::Ready);
  EXPECT_EQ(subsystem.IndexOfModemId(3), 1);
  EXPECT_EQ(subsystem.IndexOfModemId(2), -1);
}

TEST_F(ModemSubsystemTest, EmptyAndMissingDatabases) {
  Start();
  EXPECT_EQ(subsystem_->GetPortCount(), 0);
  EXPECT_TRUE(Logged("No installed modems found in database !"));
  EXPECT_TRUE(Logged("No enabled modems found in database !"));
  subsystem_.reset();

  ASSERT_EQ(KvSetServerRoot(sandbox_.path("root/missing").c_str()), 1);
  int ok = 1;
  ModemSubsystem broken(nullptr, &ok);
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(broken.GetPortCount(), 0);
  EXPECT_TRUE(Logged("Modem database initialization failed"));
}

TEST_F(ModemSubsystemTest, AddingOnAPortNameInUseStoresNothing) {
  FakeModem m1;
  auto& subsystem = Start();
  int32_t id = 0;
  ASSERT_EQ(subsystem.AddModem(Text(Record(m1.path())).c_str(), &id), kStatusSuccess);
  EXPECT_EQ(id, 1);
  EXPECT_EQ(subsystem.GetPort(0)->GetState(), PortState::Ready);
  EXPECT_EQ(subsystem.AddModem(Text(Record(m1.path())).c_str(), &id), kStatusPortAlreadyEnabled);
  EXPECT_EQ(StoredCount(), 1);
  EXPECT_EQ(subsystem.GetPortCount(), 1);
  // A disabled record may name a port in use; it gets no port.
  ASSERT_EQ(subsystem.AddModem(Text(Record(m1.path(), ModemPort::kUsageBoth, false)).c_str(), &id), kStatusSuccess);
  EXPECT_EQ(id, 2);
  EXPECT_EQ(StoredCount(), 2);
  EXPECT_EQ(subsystem.GetPortCount(), 1);

  const auto list = sandbox_.path("modems.lst");
  ASSERT_EQ(subsystem.WriteModemList(list.c_str()), kStatusSuccess);
  const std::string text = test::Sandbox::readFile(list);
  ModemRecord first = Record(m1.path());
  first.id = 1;
  EXPECT_EQ(text.substr(0, text.find("\r\n")), first.Encode());
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
}

TEST_F(ModemSubsystemTest, EditingOrDeletingABusyModemChangesNothing) {
  FakeModem m1;
  Store({Record(m1.path())});
  auto& subsystem = Start();
  ASSERT_EQ(subsystem.FindFreePort(), 0);
  ASSERT_TRUE(subsystem.StartSend(0, "100", Jobs({42})));
  ASSERT_TRUE(WaitForSessions(gSessions.sends, 1));
  EXPECT_EQ(gSessions.stateSeen, PortState::Busy);
  EXPECT_EQ(gSessions.indexSeen, 0);

  ModemRecord edited = Record(m1.path());
  edited.id = 1;
  edited.ringsBeforeAnswer = 5;
  EXPECT_EQ(subsystem.EditModem(edited.Encode().c_str()), kStatusModemBusy);
  EXPECT_EQ(subsystem.DeleteModem("1"), kStatusModemBusy);
  EXPECT_EQ(StoredCount(), 1);
  EXPECT_EQ(subsystem.GetPort(0)->Configuration().ringsBeforeAnswer, 1);

  int32_t pages = -1, seconds = -1, state = -1;
  EXPECT_TRUE(subsystem.QueryPort(0, 42, &pages, &seconds, &state));
  EXPECT_EQ(state, kJobScheduled);
  EXPECT_FALSE(subsystem.QueryPort(1, 42, &pages, &seconds, &state));
  EXPECT_TRUE(subsystem.AbortRequest(0, 42));
  EXPECT_TRUE(Logged("ABORT REQUEST [2A] !"));
  EXPECT_TRUE(subsystem.QueryPort(0, 42, &pages, &seconds, &state));
  EXPECT_EQ(state, kJobUserCanceled);
  EXPECT_FALSE(subsystem.AbortRequest(-1, 42));

  ReleaseSessions();  // the session ends with a restart
  for (int i = 0; i < 1000 && subsystem.GetPort(0)->GetState() == PortState::Busy; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(subsystem.GetPort(0)->GetState(), PortState::Ready);
  EXPECT_EQ(subsystem.EditModem(edited.Encode().c_str()), kStatusSuccess);
  EXPECT_EQ(subsystem.GetPort(0)->Configuration().ringsBeforeAnswer, 5);
  EXPECT_EQ(subsystem.DeleteModem("1"), kStatusSuccess);
  EXPECT_EQ(subsystem.GetPortCount(), 0);
  EXPECT_EQ(StoredCount(), 0);
  EXPECT_EQ(subsystem.DeleteModem("1"), kStatusServerTooBusy);  // no such record
}

TEST_F(ModemSubsystemTest, DisablingDeletesThePortAndEnablingAppendsANewOne) {
  FakeModem m1, m2;
  Store({Record(m1.path()), Record(m2.path())});
  auto& subsystem = Start();
  ASSERT_EQ(PortIds(), (std::vector<int32_t>{1, 2}));
  ModemRecord r = Record(m1.path(), ModemPort::kUsageBoth, false);
  r.id = 1;
  ASSERT_EQ(subsystem.EditModem(r.Encode().c_str()), kStatusSuccess);
  EXPECT_EQ(PortIds(), (std::vector<int32_t>{2}));
  r.enabled = 1;
  ASSERT_EQ(subsystem.EditModem(r.Encode().c_str()), kStatusSuccess);
  EXPECT_EQ(PortIds(), (std::vector<int32_t>{2, 1}));
  EXPECT_EQ(subsystem.GetPort(1)->GetState(), PortState::Ready);
  // Moving a port onto the line of another is refused.
  r.portName.Assign(m2.path());
  EXPECT_EQ(subsystem.EditModem(r.Encode().c_str()), kStatusPortAlreadyEnabled);
}

TEST_F(ModemSubsystemTest, FindFreePortPrefersTheSendOnlyPort) {
  FakeModem both, sendOnly, receiveOnly;
  Store({Record(receiveOnly.path(), ModemPort::kUsageReceive), Record(both.path()),
         Record(sendOnly.path(), ModemPort::kUsageSend)});
  auto& subsystem = Start();
  EXPECT_EQ(subsystem.GetPort(2)->GetState(), PortState::OnDemand);
  EXPECT_EQ(subsystem.FindFreePort(), 2);
  EXPECT_EQ(subsystem.GetPort(2)->GetState(), PortState::Busy);
  EXPECT_EQ(subsystem.FindFreePort(), 1);
  EXPECT_EQ(subsystem.FindFreePort(), -1);  // the receive-only port is never picked
  subsystem.ReleasePort(2);
  EXPECT_EQ(subsystem.GetPort(2)->GetState(), PortState::OnDemand);
  subsystem.ReleasePort(1);
  EXPECT_EQ(subsystem.GetPort(1)->GetState(), PortState::Ready);
  subsystem.ReleasePort(-1);

  // A send-only port whose modem does not initialise goes out of service:
  // the next picks pass it over until the monitor has brought it back.
  FakeModem::Behaviour silent;
  silent.silent = true;
  sendOnly.SetBehaviour(silent);
  EXPECT_EQ(subsystem.FindFreePort(), 1);
  EXPECT_EQ(subsystem.GetPort(2)->GetState(), PortState::OutOfService);
  EXPECT_TRUE(Logged(">>> Modem on port " + sendOnly.path() + " is OUT_OF_SERVICE [start of time interval] !"));
  subsystem.ReleasePort(1);
  sendOnly.ClearCommands();
  EXPECT_EQ(subsystem.FindFreePort(), 1);
  EXPECT_TRUE(sendOnly.commands().empty());
  subsystem.ReleasePort(1);
  sendOnly.SetBehaviour(FakeModem::Behaviour());
  subsystem.MonitorPass();
  EXPECT_EQ(subsystem.GetPort(2)->GetState(), PortState::OnDemand);
  EXPECT_TRUE(Logged("<<< Modem on port " + sendOnly.path() + " is OUT_OF_SERVICE [end of time interval] !"));
  EXPECT_EQ(subsystem.FindFreePort(), 2);
}

TEST_F(ModemSubsystemTest, TheMonitorRetriesAModemThatFailedItsFirstInitialisation) {
  FakeModem::Behaviour silent;
  silent.silent = true;
  FakeModem modem(silent);
  Store({Record(modem.path())});
  auto& subsystem = Start();
  ASSERT_EQ(subsystem.GetPort(0)->GetState(), PortState::OutOfService);
  subsystem.MonitorPass();  // DSR stays on: the modem is retried all the same
  EXPECT_EQ(subsystem.GetPort(0)->GetState(), PortState::OutOfService);
  modem.SetBehaviour(FakeModem::Behaviour());
  subsystem.MonitorPass();
  EXPECT_EQ(subsystem.GetPort(0)->GetState(), PortState::Ready);
  EXPECT_TRUE(Logged("<<< Modem on port " + modem.path() + " is OUT_OF_SERVICE [end of time interval] !"));
}

// While a silent modem is initialised (by a pick or by the monitor), the
// subsystem lock is free: requests are served and rings answered.
TEST_F(ModemSubsystemTest, NoLockIsHeldWhileASilentModemIsInitialised) {
  FakeModem::Behaviour silentBehaviour;
  silentBehaviour.silent = true;
  FakeModem silent(silentBehaviour), receiving, both, broken(silentBehaviour);
  Store({Record(silent.path(), ModemPort::kUsageSend), Record(receiving.path(), ModemPort::kUsageReceive),
         Record(both.path()), Record(broken.path())});
  auto& subsystem = Start();
  ASSERT_EQ(subsystem.GetPort(3)->GetState(), PortState::OutOfService);
  // Both silent modems keep their waits until their lines go.
  ModemPortTiming slow = ModemPort::DefaultTiming();
  slow.serial.readTimeoutMs = 600000;
  subsystem.GetPort(0)->SetTiming(slow);
  subsystem.GetPort(3)->SetTiming(slow);
  auto waitForCommand = [](FakeModem& modem) {
    for (int i = 0; i < 2000 && modem.commands().empty(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return !modem.commands().empty();
  };

  auto pick = std::async(std::launch::async, [&] { return subsystem.FindFreePort(); });
  ASSERT_TRUE(waitForCommand(silent));
  broken.ClearCommands();
  auto recovery = std::async(std::launch::async, [&] { subsystem.MonitorPass(); });
  ASSERT_TRUE(waitForCommand(broken));

  const auto list = sandbox_.path("modems.lst");
  EXPECT_EQ(subsystem.WriteModemList(list.c_str()), kStatusSuccess);
  receiving.Send("\r\nRING\r\n");
  subsystem.MonitorPass();
  EXPECT_TRUE(WaitForSessions(gSessions.receptions, 1));

  silent.Unplug();
  broken.Unplug();
  EXPECT_EQ(pick.get(), 2);  // the silent send-only port failed: the Both port
  recovery.get();
  EXPECT_EQ(subsystem.GetPort(0)->GetState(), PortState::OutOfService);
  EXPECT_EQ(subsystem.GetPort(3)->GetState(), PortState::OutOfService);
}

TEST_F(ModemSubsystemTest, RingsAreAnsweredAtTheThresholdUnlessSuspended) {
  FakeModem m1;
  ModemRecord r = Record(m1.path());
  r.ringsBeforeAnswer = 2;
  Store({r});
  auto& subsystem = Start();
  subsystem.Suspend();
  EXPECT_FALSE(subsystem.StartSend(0, "100", Jobs({1})));
  for (int ring = 0; ring < 3; ++ring) {
    gNow += 6;
    m1.Send("\r\nRING\r\n");
    subsystem.MonitorPass();
  }
  EXPECT_EQ(subsystem.GetPort(0)->GetRingCounter(), 0);
  EXPECT_EQ(subsystem.GetPort(0)->GetState(), PortState::Ready);

  subsystem.Resume();
  gNow += 20;
  m1.Send("\r\nRING\r\n");
  subsystem.MonitorPass();
  EXPECT_EQ(subsystem.GetPort(0)->GetRingCounter(), 1);
  gNow += 6;
  m1.Send("\r\nRING\r\n");
  subsystem.MonitorPass();
  ASSERT_TRUE(WaitForSessions(gSessions.receptions, 1));
  EXPECT_EQ(gSessions.stateSeen, PortState::Busy);
  EXPECT_EQ(gSessions.indexSeen, 0);
  EXPECT_EQ(subsystem.FindFreePort(), -1);  // the receiving port is busy
}

TEST_F(ModemSubsystemTest, TheMonitorTakesAPortOutOfServiceOnDsrLossAndBack) {
  ModemSubsystem::SetMonitorPeriod(20);
  FakeModem m1;
  Store({Record(m1.path())});
  auto& subsystem = Start();
  auto waitFor = [&](PortState state) {
    for (int i = 0; i < 1000 && subsystem.GetPort(0)->GetState() != state; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return subsystem.GetPort(0)->GetState() == state;
  };
  m1.Unplug();
  EXPECT_TRUE(waitFor(PortState::OutOfService));
  m1.Plug();
  EXPECT_TRUE(waitFor(PortState::Ready));
  subsystem_.reset();  // monitor stopped and joined
  EXPECT_TRUE(Logged("<<< Modem on port " + m1.path() + " is OUT_OF_SERVICE [end of time interval] !"));
}

TEST_F(ModemSubsystemTest, AFullPortTableRefusesTheNextEnabledModem) {
  auto& subsystem = Start();
  int32_t id = 0;
  for (int i = 0; i < ModemSubsystem::kMaxPorts; ++i)
    ASSERT_EQ(subsystem.AddModem(Text(Record("/nonexistent/p" + std::to_string(i))).c_str(), &id), kStatusSuccess);
  EXPECT_EQ(subsystem.GetPortCount(), 128);
  EXPECT_EQ(subsystem.AddModem(Text(Record("/nonexistent/p128")).c_str(), &id), kStatusNotEnoughMemory);
  EXPECT_TRUE(Logged("Modem on port /nonexistent/p128 not enabled: all 128 modem ports are in use !"));
  EXPECT_EQ(StoredCount(), 128);
  ASSERT_EQ(subsystem.AddModem(Text(Record("/nonexistent/p129", 2, false)).c_str(), &id), kStatusSuccess);
  ModemRecord r = Record("/nonexistent/p129");
  r.id = id;
  EXPECT_EQ(subsystem.EditModem(r.Encode().c_str()), kStatusNotEnoughMemory);
  EXPECT_EQ(subsystem.GetPortCount(), 128);
}

class DeniedTest : public ModemSubsystemTest {
 protected:
  void SetUp() override {
    ModemSubsystemTest::SetUp();
    bool ok = false;
    book_ = std::make_unique<JunkSenderDatabase>(sandbox_.path("root/Config/Denied.dbs").string(), &ok);
    ASSERT_TRUE(ok);
  }
  void AddJunk(const std::string& stationId) {
    int32_t id = 0;
    JunkSenderRecord r;
    r.stationId.Assign(stationId);
    r.description.Assign("junk");
    ASSERT_EQ(book_->Add(r.Encode(), &id), kStatusSuccess);
  }
  bool Denied(const std::string& caller) {
    ModemPort port(Record("/nonexistent"));
    std::snprintf(port.remoteId, sizeof port.remoteId, "%s", caller.c_str());
    return subsystem_->IsDenied(port);
  }
  std::unique_ptr<JunkSenderDatabase> book_;
};

TEST_F(DeniedTest, AnEmptyBookDeniesNobody) {
  Start(book_.get());
  EXPECT_FALSE(Denied("\"+385 1 555 1234\""));
  EXPECT_FALSE(Denied(""));
  subsystem_.reset();
  Start(nullptr);
  EXPECT_FALSE(Denied("ANY"));
}

// A caller is denied when its identifier lies within a listed one, not when
// it merely contains one.
TEST_F(DeniedTest, ACallerWithinAListedIdentifierIsDenied) {
  AddJunk("  +385 1 555 1234 ");
  AddJunk("JUNK CORP");
  Start(book_.get());
  const struct {
    const char* caller;
    bool denied;
  } cases[] = {
      {"\"+385 1 555 1234\"", true}, {"  JUNK CORP  ", true}, {"\"JUNK CORP\"", true},
      {"555", true},                 {"JUNK", true},          {"1 555 12", true},
      {"+385 1 555 1234 5", false},  {"JUNK CORP LTD", false}, {"1234 JUNK", false},
      {"1234\nJUNK", false},         {"\"   \"", false},       {"OTHER", false},
  };
  for (const auto& c : cases) EXPECT_EQ(Denied(c.caller), c.denied) << c.caller;

  AddJunk("OTHER");
  EXPECT_FALSE(Denied("OTHER"));
  subsystem_->UpdateDeniedList();
  EXPECT_TRUE(Denied("OTHER"));
  EXPECT_TRUE(std::filesystem::is_empty(sandbox_.path("root/Temp"))) << "the list file is removed";
}

TEST_F(DeniedTest, ABookLargerThanTheOldTextLimitIsCheckedWhole) {
  // 3500 identifiers of 20 characters are more than 65536 bytes of text.
  for (int i = 0; i < 3500; ++i) {
    char id[32];
    std::snprintf(id, sizeof id, "JUNK SENDER %08d", i);
    AddJunk(id);
  }
  Start(book_.get());
  EXPECT_TRUE(Denied("JUNK SENDER 00000000"));
  EXPECT_TRUE(Denied("JUNK SENDER 00003499"));
  EXPECT_FALSE(Denied("JUNK SENDER 00003500"));
}

TEST(FaxSessionCounterTest, CountsAndNeverGoesBelowZero) {
  FaxSessionCounter::Reset();
  EXPECT_TRUE(FaxSessionCounter::Change(+1));
  EXPECT_TRUE(FaxSessionCounter::Change(+1));
  EXPECT_EQ(FaxSessionCounter::Count(), 2u);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(FaxSessionCounter::Change(-1));
  EXPECT_EQ(FaxSessionCounter::Count(), 0u);
}

TEST_F(ModemSubsystemTest, DeletingTheSubsystemEndsRunningSessions) {
  // A session blocked in a long read ends when the subsystem goes.
  ModemPort::SetSessionEntryPoints(
      [](ModemPort& port) {
        platform::SerialPort::Timing slow = port.Serial().GetTiming();
        slow.readTimeoutMs = 600000;
        port.Serial().SetTiming(slow);
        FaxSessionCounter::Change(+1);
        uint8_t byte;
        while (port.Serial().ReadByte(byte)) {
        }
        FaxSessionCounter::Change(-1);
      },
      nullptr);
  FakeModem m1;
  Store({Record(m1.path())});
  auto& subsystem = Start();
  ASSERT_EQ(subsystem.FindFreePort(), 0);
  ASSERT_TRUE(subsystem.StartSend(0, "100", Jobs({1})));
  for (int i = 0; i < 1000 && FaxSessionCounter::Count() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(FaxSessionCounter::Count(), 1u);
  subsystem_.reset();
  EXPECT_EQ(FaxSessionCounter::Count(), 0u);
}

TEST_F(ModemSubsystemTest, TheServerStartsTheSubsystemAfterTheJunkSenderBook) {
  g_SysLog = nullptr;
  log_.reset();
  unsetenv("NOTIFY_SOCKET");
  FakeModem m1;
  Store({Record(m1.path())});
  ASSERT_EQ(KvWriteRegDword("Server", "Pipes", 1), 1);  // the IPC server needs a transport
  int ok = 0;
  {
    FaxServer server(&ok);
    ASSERT_EQ(ok, 1);
    ASSERT_NE(g_ModemSubsystem, nullptr);
    ASSERT_NE(g_JunkSenderBook, nullptr);
    EXPECT_EQ(g_ModemSubsystem->GetPortCount(), 1);
    EXPECT_EQ(server.Suspend(), kStatusSuccess);
    EXPECT_TRUE(g_ModemSubsystem->IsSuspended());
    EXPECT_EQ(server.Resume(), kStatusSuccess);
    EXPECT_FALSE(g_ModemSubsystem->IsSuspended());
  }
  EXPECT_EQ(g_ModemSubsystem, nullptr);
  EXPECT_EQ(g_JunkSenderBook, nullptr);
  EXPECT_TRUE(Logged("Fax Server: Modem Subsystem Started"));
}

}  // namespace
}  // namespace korvo
