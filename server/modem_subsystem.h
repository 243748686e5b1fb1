// The server's fax modems: the configurations in Config/Modems.dbs, one
// ModemPort per enabled configuration, the port monitor that watches them and
// answers calls, the hand-over of send batches to free ports, the modem
// requests of the administrators, and the junk-sender check of callers.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/database.h"
#include "common/status.h"
#include "platform/sync.h"
#include "server/modem_port.h"
#include "server/send_request.h"

namespace korvo {

class ModemSubsystem;
extern ModemSubsystem* g_ModemSubsystem;

// RootPath + "/Config/Modems.dbs"; empty when RootPath cannot be read.
std::string GetModemsPath();

// The count of running send and receive sessions (process-wide).
class FaxSessionCounter {
 public:
  // +1 waits at most 1000 ms for the counter and fails when it is not had;
  // -1 waits as long as it takes and never goes below 0.
  static bool Change(int delta);
  static uint32_t Count();
  static void Reset();
};

class ModemSubsystem {
 public:
  static constexpr int kMaxPorts = 128;
  static constexpr uint32_t kMonitorPeriodMs = 3000;
  static constexpr uint32_t kMonitorLockMs = 3000;
  static constexpr uint32_t kRequestLockMs = 30000;

  // The junk-sender book is not owned (null: nobody is denied). *ok is 0
  // when the modem database cannot be opened or the monitor not started.
  ModemSubsystem(LockedDatabase* junkSenders, int* ok);
  // Stops the monitor and every session and joins their threads, then
  // deletes the ports (closing their lines).
  ~ModemSubsystem();
  ModemSubsystem(const ModemSubsystem&) = delete;
  ModemSubsystem& operator=(const ModemSubsystem&) = delete;

  // The period of the monitors created afterwards; tests that drive the
  // passes themselves (MonitorPass) use platform::kInfinite.
  static void SetMonitorPeriod(uint32_t ms);

  void Suspend() { suspended_ = true; }
  void Resume() { suspended_ = false; }
  bool IsSuspended() const { return suspended_; }

  // Administrator requests: list (8000), add (8020), edit (8030), delete (8040).
  Status WriteModemList(const char* path);
  Status AddModem(const char* text, int32_t* id);
  Status EditModem(const char* text);
  Status DeleteModem(const char* idText);

  // The scheduler's side. FindFreePort marks the port it returns Busy; it
  // initialises a send-only port's modem with no lock held. ReleasePort puts
  // a port picked but not used back into service.
  int FindFreePort();
  bool StartSend(int portIndex, const char* number, std::shared_ptr<SendRequestList> list);
  void ReleasePort(int portIndex);
  bool QueryPort(int portIndex, uint32_t jobId, int32_t* pages, int32_t* seconds, int32_t* state);
  bool AbortRequest(int portIndex, uint32_t jobId);

  void UpdateDeniedList();
  // Whether the caller on the port (its remote identifier) is a listed junk sender.
  bool IsDenied(ModemPort& port);

  int IndexOfModemId(int32_t id);
  int GetPortCount();
  ModemPort* GetPort(int index);
  // One pass of the monitor over every port.
  void MonitorPass();
  // Ends every running session and joins its thread (shutdown, before the
  // modules the sessions report to go).
  void StopSessions();

 private:
  void LoadPorts();
  void MonitorThread();
  bool IsPortNameInUse(const char* name, int except = -1);
  void DeletePortAt(int index);
  ModemPort* AppendPort(const ModemRecord& record);
  int IndexOfPort(const ModemPort* port);
  bool TableFull(const ModemRecord& record);
  bool DecodeRecord(const char* text, ModemRecord& record);

  std::mutex deniedLock_;
  std::string deniedText_;  // "\r\n" then every listed identifier followed by "\r\n"
  Database modems_;
  LockedDatabase* junkSenders_;
  std::atomic<bool> suspended_{false};
  std::vector<std::unique_ptr<ModemPort>> ports_;
  platform::Mutex lock_;
  platform::Event stop_;
  std::thread monitor_;
  uint32_t monitorPeriodMs_;
};

}  // namespace korvo
