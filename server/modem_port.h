// One configured fax modem: its serial line, its state, the AT command steps
// and response waits of its fax class, ring counting, and the hand-over of a
// send batch or an incoming call to a session thread of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/modem_record.h"
#include "platform/serial_port.h"
#include "server/command_set.h"
#include "server/send_request.h"

namespace korvo {

class Database;

enum class PortState : int32_t {
  OutOfService = 0,  // initialisation failed or DSR was lost; the monitor retries
  Ready = 1,         // line open, modem initialised, rings are watched
  Busy = 2,          // a session runs, or the scheduler picked the port
  OnDemand = 4,      // send only: the line stays closed until the port is picked
};

// The slow waits of a port. Tests shorten them.
struct ModemPortTiming {
  platform::SerialPort::Timing serial;
  uint32_t reinitialisePauseMs = 2000;  // between closing and reopening the line
  uint32_t callWaitingPauseMs = 1000;   // around the ATH0 after a call-waiting code
};

class ModemPort {
 public:
  // A session body; it runs on the port's own thread and leaves the port in
  // its next state (Restart or Reinitialise).
  using SessionFn = void (*)(ModemPort& port);
  // Seconds since 1970, for ring counting.
  using Clock = int64_t (*)();

  static constexpr int kDialNumberSize = 32;
  static constexpr int kUsageSend = 0;
  static constexpr int kUsageReceive = 1;
  static constexpr int kUsageBoth = 2;

  // The entry points the send and reception threads run; without one, the
  // thread counts as not created.
  static void SetSessionEntryPoints(SessionFn send, SessionFn receive);
  // Process-wide defaults for the ports created afterwards (timing) and for
  // every ring counted (clock).
  static void SetDefaultTiming(const ModemPortTiming& timing);
  static const ModemPortTiming& DefaultTiming();
  static void SetClock(Clock clock);

  // Reads record index of the open database, then StartUp.
  ModemPort(Database& modems, int index);
  // A copy of the record; the caller runs StartUp.
  explicit ModemPort(const ModemRecord& record);
  // Ends a running session (its line I/O fails at once), joins its thread and
  // closes the line.
  ~ModemPort();
  ModemPort(const ModemPort&) = delete;
  ModemPort& operator=(const ModemPort&) = delete;

  // ---- life cycle ----
  bool StartUp();
  bool Restart();
  bool Reinitialise();
  bool Initialise();
  // A picked send-only port: Initialise; when it fails the line is closed
  // and the port goes out of service, for the monitor to retry.
  bool InitialiseOnDemand();
  // A port picked for a batch that was not handed to it goes back to where
  // it was (OnDemand with its line closed, or Ready): nothing touched the modem.
  void PutBack();
  // Whether the port is out of service (a Ready port whose DSR went off is
  // taken out first); quick, no modem wait.
  bool NeedsService();
  // Brings the modem of a port out of service back: Ready (OnDemand for a
  // send-only port) or still OutOfService. Waits on the modem.
  PortState Recover();
  // A port whose call has ended (or never began): Reinitialise, then Ready,
  // or out of service with the line a lost modem writes, for the monitor to
  // retry.
  void ReturnToService();
  // NeedsService, then Recover when it does.
  PortState CheckService();
  // Counts a ring of a Ready port and starts the reception at its threshold;
  // a port out of service is left to Recover.
  void CheckRing(int portIndex);
  bool CountRing();
  bool StartSendThread(int portIndex, const char* number, std::shared_ptr<SendRequestList> list);
  bool PrepareSend(const char* number, std::shared_ptr<SendRequestList> list);
  // Lets go of a batch once its results are reported. A batch handed to the
  // port since (the port went back into service before the report) stays.
  void ReleaseRequests(const std::shared_ptr<SendRequestList>& list);
  bool QueryJob(uint32_t jobId, int32_t& pages, int32_t& seconds, int32_t& state);
  bool AbortJob(uint32_t jobId);
  void UpdateConfiguration(const ModemRecord& record);
  // Makes the line I/O of a running session fail at once and waits for its
  // thread (used at shutdown).
  void StopSession();
  // True while StopSession ends the running session (the server's own stop).
  bool IsStopping() const { return stopping_; }

  // ---- accessors ----
  const char* GetPortName() const { return config_.portName.data; }
  PortState GetState() const { return state_.load(); }
  void SetState(PortState state) { state_.store(state); }
  int32_t GetUsage() const { return config_.usage; }
  int32_t GetModemId() const { return config_.id; }
  const char* GetDialPrefix() const { return config_.dialPrefix.data; }
  const char* GetDialCommand() const { return config_.dialMode == 1 ? "ATDT" : "ATDP"; }
  const char* GetAdditionalInit() const { return config_.initString.data; }
  const ModemRecord& Configuration() const { return config_; }
  int GetPortIndex() const { return portIndex_; }
  const char* GetDialNumber() const { return dialNumber_; }
  uint32_t GetCurrentJobId() const { return currentJobId_; }
  int32_t GetDocumentsPending() const { return documentsPending_; }
  int32_t GetRingCounter() const { return ringCounter_; }
  const FaxCommandSet& Commands() const { return *commands_; }
  const FaxResponseSet& Responses() const { return *responses_; }
  platform::SerialPort& Serial() { return serial_; }
  std::shared_ptr<SendRequestList> Requests();
  // Guards the fields of the request list against QueryJob and AbortJob.
  std::mutex& RequestsMutex() { return requestsMutex_; }
  void SetTiming(const ModemPortTiming& timing);

  // Session data, as the last reports gave it.
  uint32_t hangUpCode = 0;
  char remoteId[80] = {};
  char nsf[256] = {};
  char nss[256] = {};
  char csi[80] = {};
  char tsi[80] = {};
  char dis[80] = {};
  char dcs[80] = {};
  int32_t postPageMessage = 0;
  int32_t postPageResponse = 0;
  int32_t pageStatusValues[4] = {};  // line count, bad lines, consecutive bad lines, lost bytes
  uint16_t documentPages = 0;
  uint16_t pageCounter = 0;
  char coverImagePath[260] = {};
  char imagePath[260] = {};
  // The page being received: grows with the data up to its limit and keeps
  // its room for the port's next page.
  std::vector<uint8_t> pageBuffer;
  int32_t lastResultState = 0;
  int32_t sessionSeconds = 0;

  // ---- command steps ----
  bool SendCommandWaitOk(const char* text);
  bool Answer();
  bool Dial();
  // flag 0 before a send (disable), 1 after it (enable); false when the code
  // cannot be written. Callers skip it when the code is empty.
  bool CallWaiting(int flag);
  bool FaxSelectDataBitOrder(int order);
  bool FaxClass20FlowControl(bool software);
  bool SelectFlowControl(int software);
  bool FaxClassQuerry();
  bool SpeakerCommand();
  bool FaxEndThePageOrDocument(int code);
  bool TransmitPage();
  bool ReceivePage();
  // The initialisation sequence on the open line.
  bool InitialiseModem();

  // ---- response waits ----
  bool WaitOk();
  bool WaitFaxConnect();
  bool WaitNssTsiDcs();
  bool WaitNsfCsiDis();
  bool WaitConnect();
  int WaitPageTransferStatus();
  int WaitPageStatus();
  int WaitPostPageMessage();
  int WaitOkAfterPostPage();
  bool WaitCallTermination();

  void CleanRemoteId();

 private:
  bool ReadResponse(char* line);
  bool WaitStepOk(const char* step);
  void LogFailure(const char* step);
  bool StartSession(SessionFn fn);
  void ReapSessions();
  bool OpenLine();
  // Out of service, with the log lines that open its interval.
  void InitialisationFailed();
  // Out of service, with the line that opens its interval.
  void OutOfServiceFromReady();
  void SleepMs(uint32_t ms);

  std::shared_ptr<SendRequestList> requests_;
  std::mutex requestsMutex_;
  uint32_t currentJobId_ = 0;
  std::atomic<PortState> state_{PortState::OutOfService};
  int64_t lastRingTime_ = 0;
  int32_t ringCounter_ = 0;
  int32_t documentsPending_ = 0;
  int portIndex_ = -1;
  char dialNumber_[kDialNumberSize] = {};
  platform::SerialPort serial_;
  ModemRecord config_;
  const FaxCommandSet* commands_ = &FaxCommandSet::Class20();
  const FaxResponseSet* responses_ = &FaxResponseSet::Class20();
  ModemPortTiming timing_;
  // Session threads not yet joined: a session that has left the port in its
  // next state may still be winding down when the port is picked again, and
  // is joined once it is done rather than waited for.
  struct Session {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::vector<Session> sessions_;
  std::atomic<bool> stopping_{false};
};

}  // namespace korvo
