#include "server/modem_subsystem.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

#include "common/book_records.h"
#include "common/modem_record.h"
#include "common/record_file.h"
#include "common/settings.h"
#include "common/status_codes.h"
#include "platform/tempfile.h"
#include "server/faxserver.h"
#include "server/syslog.h"
#include "server/trace.h"

namespace korvo {

ModemSubsystem* g_ModemSubsystem = nullptr;

namespace {

uint32_t gMonitorPeriodMs = ModemSubsystem::kMonitorPeriodMs;

std::timed_mutex gCounterMutex;
uint32_t gSessionCount = 0;

std::string Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(" \t");
  return std::string(text.substr(first, last - first + 1));
}

}  // namespace

std::string GetModemsPath() {
  char root[260];
  // An empty root would put the file at the top of the file system.
  if (!KvGetServerRoot(root, sizeof root) || !root[0]) return {};
  return std::string(root) + "/Config/Modems.dbs";
}

bool FaxSessionCounter::Change(int delta) {
  if (delta > 0) {
    if (!gCounterMutex.try_lock_for(std::chrono::milliseconds(1000))) return false;
    ++gSessionCount;
  } else {
    gCounterMutex.lock();
    if (gSessionCount > 0) --gSessionCount;
  }
  gCounterMutex.unlock();
  return true;
}

uint32_t FaxSessionCounter::Count() {
  std::lock_guard hold(gCounterMutex);
  return gSessionCount;
}

void FaxSessionCounter::Reset() {
  std::lock_guard hold(gCounterMutex);
  gSessionCount = 0;
}

void ModemSubsystem::SetMonitorPeriod(uint32_t ms) { gMonitorPeriodMs = ms; }

ModemSubsystem::ModemSubsystem(LockedDatabase* junkSenders, int* ok)
    : deniedText_("\r\n"),
      modems_(GetModemsPath().c_str(), sizeof(ModemRecord), CompareModemIds),
      junkSenders_(junkSenders),
      monitorPeriodMs_(gMonitorPeriodMs) {
  *ok = 0;
  UpdateDeniedList();
  if (!modems_.IsOpen()) {
    if (g_SysLog) g_SysLog->Error("Modem database initialization failed");
    return;
  }
  FaxSessionCounter::Reset();
  suspended_ = false;
  LoadPorts();
  try {
    monitor_ = std::thread([this] { MonitorThread(); });
  } catch (const std::exception&) {
    if (g_SysLog) g_SysLog->Error("Cannot create PortMonThread !");
    return;
  }
  *ok = 1;
}

ModemSubsystem::~ModemSubsystem() {
  stop_.Set();
  if (monitor_.joinable()) monitor_.join();
  StopSessions();
  for (size_t i = ports_.size(); i-- > 0;) ports_[i].reset();
  ports_.clear();
  stop_.Close();
  lock_.Close();
  modems_.Close();
}

void ModemSubsystem::StopSessions() {
  suspended_ = true;
  // Sessions may wait for the subsystem lock themselves: they are joined
  // without it. No port goes meanwhile, the requests have ended.
  std::vector<ModemPort*> ports;
  {
    platform::MutexLock hold(lock_, platform::kInfinite);
    for (auto& port : ports_) ports.push_back(port.get());
  }
  for (ModemPort* port : ports) port->StopSession();
}

void ModemSubsystem::LoadPorts() {
  if (!modems_.Open()) return;
  const int count = modems_.GetCount();
  if (count == 0 && g_SysLog) g_SysLog->Info("No installed modems found in database !");
  for (int i = 0; i < count && static_cast<int>(ports_.size()) < kMaxPorts; ++i) {
    ModemRecord record;
    if (!modems_.GetAt(i, &record) || !record.enabled) continue;
    ports_.push_back(std::make_unique<ModemPort>(record));
  }
  if (ports_.empty() && g_SysLog) g_SysLog->Info("No enabled modems found in database !");
  modems_.Close();
  // The modems are initialised side by side, each in a thread of its own:
  // start-up waits for the slowest modem, not for all of them in turn.
  std::vector<std::thread> starting;
  for (auto& port : ports_) {
    try {
      starting.emplace_back([p = port.get()] { p->StartUp(); });
    } catch (const std::system_error&) {
      port->StartUp();
    }
  }
  for (auto& thread : starting) thread.join();
}

void ModemSubsystem::MonitorThread() {
  // The ports were just started: the first pass comes one period later.
  while (!stop_.Wait(monitorPeriodMs_))
    if (!suspended_) MonitorPass();
}

void ModemSubsystem::MonitorPass() {
  // Ports out of service are reserved (Busy) under the lock and brought back
  // after it: a silent modem would keep the scheduler and the requests
  // waiting for the lock.
  std::vector<ModemPort*> recover;
  {
    platform::MutexLock hold(lock_, kMonitorLockMs);
    if (!hold.locked()) return;
    if (suspended_) return;
    for (size_t i = 0; i < ports_.size(); ++i) {
      if (stop_.IsSet()) break;
      ModemPort& port = *ports_[i];
      if (port.NeedsService()) {
        port.SetState(PortState::Busy);
        recover.push_back(&port);
      } else {
        port.CheckRing(static_cast<int>(i));
      }
    }
  }
  for (ModemPort* port : recover) {
    if (stop_.IsSet())
      port->SetState(PortState::OutOfService);
    else
      port->Recover();
  }
}

int ModemSubsystem::IndexOfPort(const ModemPort* port) {
  for (size_t i = 0; i < ports_.size(); ++i)
    if (ports_[i].get() == port) return static_cast<int>(i);
  return -1;
}

int ModemSubsystem::IndexOfModemId(int32_t id) {
  for (size_t i = 0; i < ports_.size(); ++i)
    if (ports_[i]->GetModemId() == id) return static_cast<int>(i);
  return -1;
}

int ModemSubsystem::GetPortCount() {
  platform::MutexLock hold(lock_, platform::kInfinite);
  return static_cast<int>(ports_.size());
}

ModemPort* ModemSubsystem::GetPort(int index) {
  platform::MutexLock hold(lock_, platform::kInfinite);
  return index >= 0 && index < static_cast<int>(ports_.size()) ? ports_[index].get() : nullptr;
}

bool ModemSubsystem::IsPortNameInUse(const char* name, int except) {
  for (size_t i = 0; i < ports_.size(); ++i)
    if (static_cast<int>(i) != except && std::strcmp(ports_[i]->GetPortName(), name) == 0) return true;
  return false;
}

void ModemSubsystem::DeletePortAt(int index) { ports_.erase(ports_.begin() + index); }

// A new port, reserved (Busy) until the caller has started it up without the lock.
ModemPort* ModemSubsystem::AppendPort(const ModemRecord& record) {
  try {
    ports_.push_back(std::make_unique<ModemPort>(record));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  ports_.back()->SetState(PortState::Busy);
  return ports_.back().get();
}

// A full port table refuses one more port before anything is stored; the log
// says why, as the status alone ("Not enough memory.") would not.
bool ModemSubsystem::TableFull(const ModemRecord& record) {
  if (static_cast<int>(ports_.size()) < kMaxPorts) return false;
  if (g_SysLog)
    g_SysLog->Error("Modem on port %s not enabled: all %d modem ports are in use !", record.portName.data, kMaxPorts);
  return true;
}

bool ModemSubsystem::DecodeRecord(const char* text, ModemRecord& record) {
  return text && record.Decode(text);
}

// ---------------------------------------------------------------------------
// Requests

Status ModemSubsystem::WriteModemList(const char* path) {
  platform::MutexLock hold(lock_, kRequestLockMs);
  if (!hold.locked()) return kStatusResourceNotFree;
  RecordFile list;
  try {
    list.Open(path ? path : "", RecordFile::kReadWrite | RecordFile::kCreate | RecordFile::kText);
    if (!modems_.Open()) throw DBException(DBException::kReadFailed);
    const int count = modems_.GetCount();
    if (count == 0 && g_SysLog) g_SysLog->Info("No installed modems found in database !");
    for (int i = 0; i < count; ++i) {
      ModemRecord record;
      if (!modems_.GetAt(i, &record)) throw DBException(DBException::kReadFailed);
      list.WriteLine(record.Encode());
    }
    modems_.Close();
    list.Close();
  } catch (const FileException&) {
    modems_.Close();
    list.Close();
    return kStatusDatabaseError;
  } catch (const DBException&) {
    modems_.Close();
    list.Close();
    return kStatusDatabaseError;
  }
  return kStatusSuccess;
}

Status ModemSubsystem::AddModem(const char* text, int32_t* id) {
  platform::MutexLock hold(lock_, kRequestLockMs);
  if (!hold.locked()) return kStatusServerTooBusy;
  ModemRecord record;
  if (!DecodeRecord(text, record)) return kStatusDatabaseError;
  if (record.enabled) {
    if (IsPortNameInUse(record.portName.data)) return kStatusPortAlreadyEnabled;
    if (TableFull(record)) return kStatusNotEnoughMemory;
  }
  if (!modems_.Open()) return kStatusDatabaseError;
  const uint32_t serial = modems_.NextSerial();
  record.id = static_cast<int32_t>(serial);
  const bool stored = serial != 0 && modems_.Add(&record) >= 0;
  modems_.Close();
  if (!stored) return kStatusDatabaseError;
  if (id) *id = record.id;
  if (!record.enabled) return kStatusSuccess;
  ModemPort* port = AppendPort(record);
  if (!port) return kStatusNotEnoughMemory;
  hold.unlock();
  port->StartUp();
  return kStatusSuccess;
}

Status ModemSubsystem::EditModem(const char* text) {
  platform::MutexLock hold(lock_, kRequestLockMs);
  if (!hold.locked()) return kStatusServerTooBusy;
  ModemRecord record;
  if (!DecodeRecord(text, record)) return kStatusDatabaseError;
  const int index = IndexOfModemId(record.id);
  if (index >= 0 && ports_[index]->GetState() == PortState::Busy) return kStatusModemBusy;
  if (record.enabled) {
    // Another port on the same line would fight this one for it.
    if (IsPortNameInUse(record.portName.data, index)) return kStatusPortAlreadyEnabled;
    if (index < 0 && TableFull(record)) return kStatusNotEnoughMemory;
  }
  if (!modems_.Open()) return kStatusDatabaseError;
  const bool stored = modems_.Replace(&record) >= 0;
  modems_.Close();
  if (!stored) return kStatusDatabaseError;
  if (record.enabled && index >= 0) {
    // Reserved while its modem restarts, which happens without the lock.
    ModemPort* port = ports_[index].get();
    port->UpdateConfiguration(record);
    port->SetState(PortState::Busy);
    hold.unlock();
    port->Restart();
  } else if (record.enabled) {
    ModemPort* port = AppendPort(record);
    if (!port) return kStatusNotEnoughMemory;
    hold.unlock();
    port->StartUp();
  } else if (index >= 0) {
    DeletePortAt(index);
  }
  return kStatusSuccess;
}

Status ModemSubsystem::DeleteModem(const char* idText) {
  platform::MutexLock hold(lock_, kRequestLockMs);
  if (!hold.locked()) return kStatusServerTooBusy;
  ModemRecord key;
  key.id = static_cast<int32_t>(std::strtol(idText ? idText : "", nullptr, 10));
  const int index = IndexOfModemId(key.id);
  if (index >= 0 && ports_[index]->GetState() == PortState::Busy) return kStatusModemBusy;
  if (!modems_.Open()) return kStatusServerTooBusy;
  const bool deleted = modems_.Delete(&key) >= 0;
  modems_.Close();
  if (!deleted) return kStatusServerTooBusy;
  if (index >= 0) DeletePortAt(index);
  return kStatusSuccess;
}

// ---------------------------------------------------------------------------
// The scheduler's side

int ModemSubsystem::FindFreePort() {
  for (;;) {
    ModemPort* candidate = nullptr;
    {
      // The monitor may be sampling a ready port; the pick waits for its pass.
      platform::MutexLock hold(lock_, kRequestLockMs);
      if (!hold.locked() || suspended_) return -1;
      for (auto& port : ports_) {
        if (port->GetUsage() == ModemPort::kUsageSend && port->GetState() == PortState::OnDemand) {
          candidate = port.get();
          break;
        }
      }
      if (!candidate) {
        for (size_t i = 0; i < ports_.size(); ++i) {
          ModemPort& port = *ports_[i];
          if (port.GetUsage() == ModemPort::kUsageBoth && port.GetState() == PortState::Ready) {
            port.SetState(PortState::Busy);
            return static_cast<int>(i);
          }
        }
        return -1;
      }
      candidate->SetState(PortState::Busy);
    }
    // Reserved, the modem is initialised with no lock held: a silent one
    // would keep the monitor and every request waiting meanwhile. One that
    // fails goes out of service for the monitor to retry, so the next picks
    // do not wait for it again.
    const bool ready = candidate->InitialiseOnDemand();
    platform::MutexLock hold(lock_, platform::kInfinite);
    if (ready) return IndexOfPort(candidate);
  }
}

bool ModemSubsystem::StartSend(int portIndex, const char* number, std::shared_ptr<SendRequestList> list) {
  if (suspended_ || portIndex < 0) return false;
  platform::MutexLock hold(lock_, kRequestLockMs);
  // Asked again under the lock: shutdown suspends before it stops the sessions.
  if (!hold.locked() || suspended_ || portIndex >= static_cast<int>(ports_.size())) return false;
  return ports_[portIndex]->StartSendThread(portIndex, number, std::move(list));
}

void ModemSubsystem::ReleasePort(int portIndex) {
  if (portIndex < 0) return;
  platform::MutexLock hold(lock_, kRequestLockMs);
  if (!hold.locked() || portIndex >= static_cast<int>(ports_.size())) return;
  ports_[portIndex]->PutBack();
}

bool ModemSubsystem::QueryPort(int portIndex, uint32_t jobId, int32_t* pages, int32_t* seconds, int32_t* state) {
  platform::MutexLock hold(lock_, kRequestLockMs);
  if (!hold.locked() || portIndex < 0 || portIndex >= static_cast<int>(ports_.size())) return false;
  int32_t p = 0, s = 0, st = 0;
  if (!ports_[portIndex]->QueryJob(jobId, p, s, st)) return false;
  if (pages) *pages = p;
  if (seconds) *seconds = s;
  if (state) *state = st;
  return true;
}

bool ModemSubsystem::AbortRequest(int portIndex, uint32_t jobId) {
  platform::MutexLock hold(lock_, kRequestLockMs);
  if (!hold.locked() || portIndex < 0 || portIndex >= static_cast<int>(ports_.size())) return false;
  if (!ports_[portIndex]->AbortJob(jobId)) return false;
  if (g_SysLog) g_SysLog->Info("ABORT REQUEST [%X] !", jobId);
  DebugTrace("ABORT REQUEST [%X] !\n", jobId);
  return true;
}

// ---------------------------------------------------------------------------
// Junk senders

void ModemSubsystem::UpdateDeniedList() {
  bool ok = false;
  std::string name;
  std::string temp = GetServerPaths().tempDir;
  char root[260];
  if (temp.empty() && KvGetServerRoot(root, sizeof root) && root[0]) temp = std::string(root) + "/Temp";
  if (!junkSenders_) {
    // No book: nobody is denied.
    std::lock_guard hold(deniedLock_);
    deniedText_ = "\r\n";
    return;
  }
  if (!temp.empty() && platform::GetTempFileName(temp + "/", "DAL", 0, name) != 0 &&
      junkSenders_->WriteList("0", name.c_str()) == kStatusSuccess) {
    RecordFile file;
    try {
      file.SetLineLength(512);
      file.Open(name, RecordFile::kRead | RecordFile::kText);
      std::string text = "\r\n";
      std::string line;
      while (file.ReadLine(line)) {
        JunkSenderRecord record;
        if (!record.Decode(line)) continue;
        const std::string id = Trim(record.stationId.Get());
        if (id.empty()) continue;
        text += id;
        text += "\r\n";
      }
      file.Close();
      std::lock_guard hold(deniedLock_);
      deniedText_ = std::move(text);
      ok = true;
    } catch (const FileException&) {
      file.Close();
    }
  }
  if (!ok && g_SysLog) g_SysLog->Error("Update current denied access list ... FAILED!");
  if (!name.empty()) std::remove(name.c_str());
}

bool ModemSubsystem::IsDenied(ModemPort& port) {
  port.CleanRemoteId();
  std::string text = port.remoteId;
  // Line ends in the identifier would let it match across two listed ones.
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  const std::string id = Trim(text);
  if (id.empty()) return false;
  // A caller is refused when its identifier occurs anywhere within a listed
  // one (also as its middle part); a longer identifier that merely contains
  // a listed one is another station.
  std::lock_guard hold(deniedLock_);
  return deniedText_.find(id) != std::string::npos;
}

}  // namespace korvo
