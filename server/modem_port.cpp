#include "server/modem_port.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "common/connection_settings.h"
#include "common/database.h"
#include "common/dial_string.h"
#include "common/huffman.h"
#include "server/faxserver.h"
#include "server/syslog.h"
#include "server/trace.h"

namespace korvo {

namespace {

ModemPort::SessionFn gSendEntry = nullptr;
ModemPort::SessionFn gReceiveEntry = nullptr;
ModemPortTiming gDefaultTiming;
std::atomic<ModemPort::Clock> gClock{nullptr};

int64_t Now() {
  if (auto clock = gClock.load()) return clock();
  return static_cast<int64_t>(std::time(nullptr));
}

#define LOG_ERROR(...) \
  do {                  \
    if (g_SysLog) g_SysLog->Error(__VA_ARGS__); \
  } while (0)
#define LOG_INFO(...) \
  do {                 \
    if (g_SysLog) g_SysLog->Info(__VA_ARGS__); \
  } while (0)

bool StartsWith(const char* line, const char* prefix) {
  return std::strncmp(line, prefix, std::strlen(prefix)) == 0;
}

// The text after the first colon, or null when the line has none.
const char* AfterColon(const char* line) {
  const char* colon = std::strchr(line, ':');
  return colon ? colon + 1 : nullptr;
}

// A report parameter up to the first blank (as "%s" reads it), cut to size.
template <size_t N>
void RecordWord(char (&field)[N], const char* line) {
  field[0] = '\0';
  const char* text = AfterColon(line);
  if (!text) return;
  while (*text == ' ' || *text == '\t') ++text;
  size_t n = std::strcspn(text, " \t\r\n");
  if (n > N - 1) n = N - 1;
  std::memcpy(field, text, n);
  field[n] = '\0';
}

// The whole text after the colon, cut to the field (the TSI).
template <size_t N>
void RecordText(char (&field)[N], const char* line) {
  field[0] = '\0';
  const char* text = AfterColon(line);
  if (!text) return;
  std::snprintf(field, N, "%s", text);
}

int DecimalAfterColon(const char* line, int missing) {
  const char* text = AfterColon(line);
  return text ? static_cast<int>(std::strtol(text, nullptr, 10)) : missing;
}

uint32_t HexAfterColon(const char* line, uint32_t missing) {
  const char* text = AfterColon(line);
  return text ? static_cast<uint32_t>(std::strtoul(text, nullptr, 16)) : missing;
}

void TraceSerial(const char* text) { DebugTrace("%s", text); }

}  // namespace

void ModemPort::SetSessionEntryPoints(SessionFn send, SessionFn receive) {
  gSendEntry = send;
  gReceiveEntry = receive;
}

void ModemPort::SetDefaultTiming(const ModemPortTiming& timing) { gDefaultTiming = timing; }
const ModemPortTiming& ModemPort::DefaultTiming() { return gDefaultTiming; }
void ModemPort::SetClock(Clock clock) { gClock.store(clock); }

ModemPort::ModemPort(const ModemRecord& record) : config_(record) {
  SetTiming(gDefaultTiming);
  serial_.SetTrace(TraceSerial);
}

ModemPort::ModemPort(Database& modems, int index) {
  SetTiming(gDefaultTiming);
  serial_.SetTrace(TraceSerial);
  if (!modems.GetAt(index, &config_)) config_.SetDefaults();
  StartUp();
}

ModemPort::~ModemPort() {
  StopSession();
  serial_.Close();
}

void ModemPort::SetTiming(const ModemPortTiming& timing) {
  timing_ = timing;
  serial_.SetTiming(timing.serial);
}

void ModemPort::SleepMs(uint32_t ms) {
  // In slices, so that a session being stopped does not sit out its pauses.
  while (ms && !stopping_) {
    const uint32_t slice = ms < 50 ? ms : 50;
    std::this_thread::sleep_for(std::chrono::milliseconds(slice));
    ms -= slice;
  }
}

std::shared_ptr<SendRequestList> ModemPort::Requests() {
  std::lock_guard hold(requestsMutex_);
  return requests_;
}

// ---------------------------------------------------------------------------
// Life cycle

bool ModemPort::StartUp() {
  if (config_.usage == kUsageSend) {
    serial_.Close();
    SetState(PortState::OnDemand);
    return false;
  }
  if (Initialise()) {
    SetState(PortState::Ready);
    LOG_INFO("Port %s initialization done !", GetPortName());
    DebugTrace("Port %s initialization .....done.\n", GetPortName());
    return true;
  }
  InitialisationFailed();
  return false;
}

void ModemPort::InitialisationFailed() {
  SetState(PortState::OutOfService);
  LOG_ERROR("Port %s initialization failed !", GetPortName());
  LOG_INFO(">>> Modem on port %s is OUT_OF_SERVICE [start of time interval] !", GetPortName());
  DebugTrace("Port %s initialization .....FAILED !\n", GetPortName());
}

bool ModemPort::Restart() {
  if (config_.usage == kUsageSend) {
    serial_.Close();
    SetState(PortState::OnDemand);
    return false;
  }
  if (Reinitialise()) {
    SetState(PortState::Ready);
    LOG_INFO("Port %s initialization done !", GetPortName());
    DebugTrace("Port %s initialization .....done.\n", GetPortName());
    return true;
  }
  SetState(PortState::OutOfService);
  LOG_ERROR("Port %s initialization failed !", GetPortName());
  DebugTrace("Port %s initialization .....FAILED !\n", GetPortName());
  return false;
}

bool ModemPort::InitialiseOnDemand() {
  if (Initialise()) return true;
  serial_.Close();
  InitialisationFailed();
  return false;
}

void ModemPort::PutBack() {
  if (config_.usage == kUsageSend) {
    serial_.Close();
    SetState(PortState::OnDemand);
  } else {
    SetState(PortState::Ready);
  }
}

bool ModemPort::Reinitialise() {
  try {
    serial_.Close();
    SleepMs(timing_.reinitialisePauseMs);
    if (Initialise()) return true;
    serial_.Close();
    return false;
  } catch (...) {
    return true;
  }
}

bool ModemPort::OpenLine() {
  const int rate = InRange(config_.portSpeed, 0, 6) ? config_.GetPortSpeedValue() : 0;
  if (serial_.Open(GetPortName(), rate, config_.flowControl, static_cast<uint32_t>(config_.inputBufferSize),
                   static_cast<uint32_t>(config_.outputBufferSize)))
    return true;
  using Step = platform::SerialPort::SetupStep;
  switch (serial_.FailedStep()) {
    case Step::kBuffers: LOG_ERROR("Port %s initialization failed! [i/o buffers]", GetPortName()); break;
    case Step::kTimeouts: LOG_ERROR("Port %s initialization failed! [Time outs]", GetPortName()); break;
    case Step::kGetState:
      LOG_ERROR("Get comm properties failed (DCB)!");
      LOG_ERROR("Port %s initialization failed! [DCB]", GetPortName());
      break;
    case Step::kLine: LOG_ERROR("Port %s initialization failed! [DCB]", GetPortName()); break;
    case Step::kPurge: LOG_ERROR("Port %s initialization failed! [Purge comm]", GetPortName()); break;
    default: break;  // the device itself could not be opened
  }
  return false;
}

bool ModemPort::Initialise() {
  if (!OpenLine()) return false;
  return InitialiseModem();
}

void ModemPort::OutOfServiceFromReady() {
  LOG_INFO(">>> Modem on port %s is OUT_OF_SERVICE [start of time interval] !", GetPortName());
  SetState(PortState::OutOfService);
}

void ModemPort::ReturnToService() {
  if (Reinitialise())
    SetState(PortState::Ready);
  else
    OutOfServiceFromReady();
}

bool ModemPort::NeedsService() {
  const PortState state = GetState();
  if (state == PortState::Busy || state == PortState::OnDemand) return false;
  // A port out of service is retried on every pass, also when DSR stayed
  // on (a modem that failed its first initialisation, or its on-demand one).
  if (state == PortState::OutOfService) return true;
  if (serial_.IsDsrOn()) return false;
  OutOfServiceFromReady();
  return true;
}

PortState ModemPort::Recover() {
  bool ok;
  if (config_.usage == kUsageSend) {
    // Tried as the scheduler would try it; the line stays closed until picked.
    ok = Initialise();
    serial_.Close();
  } else {
    ok = Reinitialise();
  }
  if (ok) {
    LOG_INFO("<<< Modem on port %s is OUT_OF_SERVICE [end of time interval] !", GetPortName());
    SetState(config_.usage == kUsageSend ? PortState::OnDemand : PortState::Ready);
  } else {
    SetState(PortState::OutOfService);
  }
  return GetState();
}

PortState ModemPort::CheckService() {
  if (NeedsService()) return Recover();
  return GetState();
}

void ModemPort::CheckRing(int portIndex) {
  // A port that needs its modem brought back is left to the monitor, which
  // does that without holding the subsystem lock.
  if (NeedsService() || GetState() != PortState::Ready) return;
  if (config_.usage != kUsageReceive && config_.usage != kUsageBoth) return;
  if (!serial_.IsRingOn()) return;
  DebugTrace("RINGING ...\n");
  if (!CountRing()) return;
  DebugTrace("ACCEPTING THE CALL >>>\n");
  SetState(PortState::Busy);
  portIndex_ = portIndex;
  if (!StartSession(gReceiveEntry)) {
    LOG_ERROR("Cannot create ReceptionThread !");
    ReturnToService();
  }
}

bool ModemPort::CountRing() {
  const int64_t now = Now();
  if (now - lastRingTime_ > 15) {
    ringCounter_ = 0;
    DebugTrace("RESET ringCounter !\n");
  }
  lastRingTime_ = now;
  ++ringCounter_;
  DebugTrace("ringCounter = %d\n", ringCounter_);
  return ringCounter_ >= config_.ringsBeforeAnswer;
}

bool ModemPort::StartSendThread(int portIndex, const char* number, std::shared_ptr<SendRequestList> list) {
  portIndex_ = portIndex;
  if (!PrepareSend(number, std::move(list))) return false;
  if (StartSession(gSendEntry)) return true;
  LOG_ERROR("Cannot create SendThread !");
  if (config_.usage == kUsageBoth) ReturnToService();
  return false;
}

bool ModemPort::PrepareSend(const char* number, std::shared_ptr<SendRequestList> list) {
  const std::string plain = number ? number : "";
  bool safer = false;
  if (list)
    for (const auto& entry : *list) safer = safer || entry.saferDialing != 0;
  std::string dial = plain;
  // The comma is the modem's dial pause: a slower, safer dial. Every retry is
  // dialled so, and a number too long for its pauses is dialled without them,
  // since refusing it would keep its jobs from ever being sent or returned.
  if (safer && plain.size() * 2 < sizeof dialNumber_) {
    dial.clear();
    for (char c : plain) {
      dial += c;
      dial += ',';
    }
  } else if (safer) {
    DebugTrace("No dial pauses, the number is too long for them: %s\n", plain.c_str());
  }
  {
    std::lock_guard hold(requestsMutex_);
    requests_ = list;
  }
  documentsPending_ = list ? list->GetCount() : 0;
  // A number that does not fit would be dialled cut short, reaching a wrong
  // party: it is refused instead.
  if (dial.size() >= sizeof dialNumber_) {
    dialNumber_[0] = '\0';
    DebugTrace("Dial number too long: %s\n", plain.c_str());
    return false;
  }
  std::snprintf(dialNumber_, sizeof dialNumber_, "%s", dial.c_str());
  if (!list || list->IsEmpty()) return false;
  currentJobId_ = (*list)[0].jobId;
  return true;
}

void ModemPort::ReleaseRequests(const std::shared_ptr<SendRequestList>& list) {
  std::lock_guard hold(requestsMutex_);
  if (requests_ != list) return;
  requests_.reset();
  documentsPending_ = 0;
  dialNumber_[0] = '\0';
}

bool ModemPort::QueryJob(uint32_t jobId, int32_t& pages, int32_t& seconds, int32_t& state) {
  std::lock_guard hold(requestsMutex_);
  if (!requests_) return false;
  for (const auto& entry : *requests_) {
    if (entry.jobId != jobId) continue;
    pages = entry.pages;
    seconds = entry.seconds;
    state = entry.cancelled ? kJobUserCanceled : entry.state;
    return true;
  }
  return false;
}

bool ModemPort::AbortJob(uint32_t jobId) {
  std::lock_guard hold(requestsMutex_);
  if (!requests_) return false;
  for (auto& entry : *requests_) {
    if (entry.jobId == jobId && !entry.sent) {
      entry.cancelled = 1;
      return true;
    }
  }
  return false;
}

void ModemPort::UpdateConfiguration(const ModemRecord& record) { config_ = record; }

bool ModemPort::StartSession(SessionFn fn) {
  if (!fn) return false;
  ReapSessions();
  auto done = std::make_shared<std::atomic<bool>>(false);
  try {
    std::thread thread([this, fn, done] {
      fn(*this);
      done->store(true);
    });
    sessions_.push_back({std::move(thread), std::move(done)});
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

void ModemPort::ReapSessions() {
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    if (it->done->load()) {
      it->thread.join();
      it = sessions_.erase(it);
    } else {
      ++it;
    }
  }
}

void ModemPort::StopSession() {
  if (sessions_.empty()) return;
  stopping_ = true;
  serial_.Cancel();
  for (auto& session : sessions_) session.thread.join();
  sessions_.clear();
  serial_.ResetCancel();
  stopping_ = false;
}

// ---------------------------------------------------------------------------
// Command steps

void ModemPort::LogFailure(const char* step) {
  LOG_ERROR("Modem command on port %s failed [%s]!", GetPortName(), step);
}

bool ModemPort::ReadResponse(char* line) {
  const bool ok = serial_.ReadLine(line);
  if (!ok) line[0] = '\0';
  DebugTrace("%s\n", line);
  return ok;
}

bool ModemPort::SendCommandWaitOk(const char* text) {
  if (!serial_.SendCommand(text)) return false;
  return WaitOk();
}

bool ModemPort::Answer() {
  if (serial_.SendCommand(BasicCommandSet::Get(BasicCommandSet::kAnswer))) return true;
  LogFailure("Answer");
  return false;
}

bool ModemPort::Dial() {
  DebugTrace("\nCalling the other side:\n");
  // The number goes into the command line as it is: anything but a dial
  // string would reach the modem as commands of its own.
  if (!IsDialableNumber(dialNumber_)) {
    LOG_ERROR("Port %s: fax number refused, it is empty or holds characters that cannot be dialed", GetPortName());
    return false;
  }
  const bool ok = serial_.DialWrite("%s%s%s\r", GetDialCommand(), GetDialPrefix(), dialNumber_);
  DebugTrace("%s%s%s\n", GetDialCommand(), GetDialPrefix(), dialNumber_);
  if (!ok) LogFailure("Dial");
  return ok;
}

bool ModemPort::CallWaiting(int flag) {
  const std::string code = config_.GetCallWaitingCommand(flag != 0);
  DebugTrace(flag ? "Enable Call Waiting: %s ..." : "Disable Call Waiting: %s ...", code.c_str());
  if (!serial_.SendCommand(code.c_str())) {
    DebugTrace("failed !\n");
    return false;
  }
  DebugTrace("done.\n");
  SleepMs(timing_.callWaitingPauseMs);
  serial_.SendCommand(BasicCommandSet::Get(BasicCommandSet::kHangUp));
  SleepMs(timing_.callWaitingPauseMs);
  return true;
}

// Up to five lines for an OK; ERROR or no OK fails.
bool ModemPort::WaitStepOk(const char* step) {
  char line[platform::SerialPort::kMaxLine + 1];
  for (int i = 0; i < 5; ++i) {
    ReadResponse(line);
    if (StartsWith(line, "OK")) return true;
    if (StartsWith(line, "ERROR")) break;
  }
  DebugTrace("No response or wrong response to modem command [%s]!\n", step);
  return false;
}

bool ModemPort::FaxSelectDataBitOrder(int order) {
  if (!commands_->Has(FaxCommandSet::kDataBitOrder)) return true;
  DebugTrace(order ? "AT+FBOR=1\n" : "AT+FBOR=0\n");
  const std::string command = std::string(commands_->Get(FaxCommandSet::kDataBitOrder)) + (order ? "1" : "0");
  if (!serial_.SendCommand(command.c_str())) {
    LogFailure("FaxSelectDataBitOrder");
    return false;
  }
  return WaitStepOk("FaxSelectDataBitOrder");
}

bool ModemPort::FaxClass20FlowControl(bool software) {
  if (!commands_->Has(FaxCommandSet::kFlowControl)) return false;
  DebugTrace(software ? "AT+FLO=1\n" : "AT+FLO=2\n");
  const std::string command = std::string(commands_->Get(FaxCommandSet::kFlowControl)) + (software ? "1" : "2");
  if (!serial_.SendCommand(command.c_str())) {
    LogFailure("FaxClass20FlowControl");
    return false;
  }
  return WaitStepOk("FaxClass20FlowControl");
}

bool ModemPort::SelectFlowControl(int software) {
  if (software) {
    DebugTrace("\nSW flow control (XON/XOFF) selected\n");
    if (FaxClass20FlowControl(true)) return true;
    for (int row = BasicCommandSet::kFlowFirst + 1; row < BasicCommandSet::kCount; row += 2)
      if (SendCommandWaitOk(BasicCommandSet::Get(row))) return true;
    return false;
  }
  DebugTrace("\nHW flow control (RTS/CTS) selected\n");
  if (FaxClass20FlowControl(false)) return true;
  // A modem that knows AT&H4 speaks the &H family: its hardware twin decides.
  if (SendCommandWaitOk(BasicCommandSet::Get(BasicCommandSet::kFlowFirst + 1)))
    return SendCommandWaitOk(BasicCommandSet::Get(BasicCommandSet::kFlowFirst));
  for (int row = BasicCommandSet::kFlowFirst + 2; row < BasicCommandSet::kCount; row += 2)
    if (SendCommandWaitOk(BasicCommandSet::Get(row))) return true;
  return false;
}

bool ModemPort::FaxClassQuerry() {
  if (!serial_.SendCommand(BasicCommandSet::Get(BasicCommandSet::kClassQuery))) {
    LogFailure("FaxClassQuerry");
    return false;
  }
  char line[platform::SerialPort::kMaxLine + 1];
  std::string classes;
  bool ok = false;
  for (int i = 0; i < 5; ++i) {
    ReadResponse(line);
    if (StartsWith(line, "ER") || StartsWith(line, "RI")) continue;
    if (StartsWith(line, "OK")) {
      ok = i < 4;
      break;
    }
    if (line[0]) classes = line;
  }
  if (!ok) {
    DebugTrace("No response or wrong response to modem command [FaxClassQuerry]!\n");
    return false;
  }
  if (classes.find("2.0") != std::string::npos) {
    commands_ = &FaxCommandSet::Class20();
    responses_ = &FaxResponseSet::Class20();
    DebugTrace("\nFaxClass = 2.0\n");
    return true;
  }
  if (classes.find('2') != std::string::npos) {
    commands_ = &FaxCommandSet::Class2();
    responses_ = &FaxResponseSet::Class2();
    DebugTrace("\nFaxClass = 2\n");
    return true;
  }
  if (classes.find('1') != std::string::npos) {
    LOG_ERROR("<MODEM ON PORT %s IS A CLASS 1 FAX MODEM (NOT SUPPORTED)>!", GetPortName());
    DebugTrace("<MODEM ON PORT %s IS A CLASS 1 FAX MODEM (NOT SUPPORTED)>!\n", GetPortName());
    return false;
  }
  LOG_ERROR("<MODEM ON PORT %s IS NOT RECOGNIZED AS A FAX MODEM>!", GetPortName());
  DebugTrace("<MODEM ON PORT %s IS NOT RECOGNIZED AS A FAX MODEM>!\n", GetPortName());
  return false;
}

bool ModemPort::SpeakerCommand() {
  const std::string command = config_.BuildSpeakerCommand();
  if (command.empty()) return true;
  return SendCommandWaitOk(command.c_str());
}

bool ModemPort::FaxEndThePageOrDocument(int code) {
  if (code < 0 || code > 2) code = kPpmEop;
  if (commands_->Has(FaxCommandSet::kEndPage)) {
    serial_.WriteByte(0x10);
    serial_.WriteByte(0x03);
    char line[platform::SerialPort::kMaxLine + 1];
    bool ok = false;
    for (int i = 0; i < 5; ++i) {
      ReadResponse(line);
      if (StartsWith(line, "OK")) {
        ok = i < 4;
        break;
      }
    }
    if (!ok) {
      DebugTrace("'Wait for OK response' FAILED!\n");
      hangUpCode = 0x41;
      return false;
    }
    const std::string command = std::string(commands_->Get(FaxCommandSet::kEndPage)) + std::to_string(code);
    if (!serial_.SendCommand(command.c_str())) {
      LogFailure("FaxEndThePageOrDocument");
      hangUpCode = 0x50;
      return false;
    }
    return true;
  }
  const uint8_t* rtc = nullptr;
  uint32_t rtcLength = 0;
  InitRtcBits();
  GetRtcBits(rtc, rtcLength);
  for (uint32_t i = 0; i < rtcLength; ++i) serial_.WriteByte(rtc[i]);
  static constexpr uint8_t kEnd[] = {',', ';', '.'};
  serial_.WriteByte(0x10);
  serial_.WriteByte(kEnd[code]);
  return true;
}

// Software flow control paces only what the computer sends: the modem's XOFF
// is obeyed while pages go out, and the bytes of pages coming in are data.
bool ModemPort::TransmitPage() {
  serial_.ObeyXonXoff(true);
  return serial_.SendCommand(commands_->Get(FaxCommandSet::kTransmitPage));
}
bool ModemPort::ReceivePage() {
  serial_.ObeyXonXoff(false);
  return serial_.SendCommand(commands_->Get(FaxCommandSet::kReceivePage));
}

bool ModemPort::InitialiseModem() {
  const char* name = GetPortName();
  if (!SendCommandWaitOk(BasicCommandSet::Get(BasicCommandSet::kReset)))
    DebugTrace("Modem on port %s doesn't respond (Check if properly connected)!\n", name);
  if (!SendCommandWaitOk(BasicCommandSet::Get(BasicCommandSet::kBasicInit))) {
    DebugTrace("Modem command on port %s failed [BasicInit]!\n", name);
    return false;
  }
  if (!SpeakerCommand()) {
    LogFailure("SpeakerVolume");
    DebugTrace("Modem command on port %s failed [SpeakerVolume]!\n", name);
  }
  if (!FaxClassQuerry()) return false;
  if (!SendCommandWaitOk(commands_->Get(FaxCommandSet::kSelectClass))) {
    LogFailure("FaxClassCmd");
    return false;
  }
  if (!InRange(config_.faxSpeed, 0, 5)) config_.faxSpeed = 0;
  DebugTrace("FaxModemDataRateIx[0-5] = %ld\n", static_cast<long>(config_.faxSpeed));
  const std::string capabilities =
      std::string(commands_->Get(FaxCommandSet::kCapabilities)) + "1," + std::to_string(config_.faxSpeed) + ",0,2,0,0,0,0";
  if (!SendCommandWaitOk(capabilities.c_str())) {
    LogFailure("FaxConfigCtrl");
    return false;
  }
  if (commands_->Has(FaxCommandSet::kNegotiationReporting)) {
    const std::string reporting = std::string(commands_->Get(FaxCommandSet::kNegotiationReporting)) + "1,1,1,0";
    if (!SendCommandWaitOk(reporting.c_str())) {
      LogFailure("FaxNgtMsgCtrl");
      return false;
    }
  }
  ConnectionSettings settings;
  settings.LoadDefaults();
  const std::string localId = std::string(commands_->Get(FaxCommandSet::kLocalId)) + "\"" + settings.stationId + "\"";
  if (!SendCommandWaitOk(localId.c_str())) LogFailure("FaxSetLocalId");
  if (config_.usage == kUsageReceive || config_.usage == kUsageBoth) {
    if (!SendCommandWaitOk(commands_->Get(FaxCommandSet::kEnableReception))) LogFailure("FaxRxEnable");
  }
  if (!SendCommandWaitOk(commands_->Get(FaxCommandSet::kManufacturer))) LogFailure("FaxModemManufacturer");
  if (!SendCommandWaitOk(commands_->Get(FaxCommandSet::kModel))) LogFailure("FaxModemModel");
  if (!SendCommandWaitOk(commands_->Get(FaxCommandSet::kRevision))) LogFailure("FaxModemRevision");
  if (!SelectFlowControl(config_.flowControl)) LOG_ERROR("Modem on port %s is without flow control !", name);
  if (!config_.initString.Empty()) {
    DebugTrace("\nAdditional Init: %s\n", config_.initString.data);
    if (!SendCommandWaitOk(config_.initString.data)) {
      LogFailure("AdditionalInit");
      return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// Response waits

bool ModemPort::WaitOk() {
  char line[platform::SerialPort::kMaxLine + 1];
  for (int i = 0; i < 3; ++i) {
    ReadResponse(line);
    if (StartsWith(line, "OK")) return i < 2;
    if (StartsWith(line, "ERROR")) return false;
  }
  return false;
}

bool ModemPort::WaitFaxConnect() {
  char line[platform::SerialPort::kMaxLine + 1];
  for (int i = 0; i < 16; ++i) {
    ReadResponse(line);
    if (responses_->Matches(FaxResponseSet::kConnection, line)) return true;
    if (responses_->Matches(FaxResponseSet::kHangUp, line) || StartsWith(line, "ERROR") ||
        StartsWith(line, "NO CARRIER"))
      return false;
  }
  DebugTrace("'Wait for Fax connect message (+FCO)' FAILED!\n");
  return false;
}

bool ModemPort::WaitNssTsiDcs() {
  char line[platform::SerialPort::kMaxLine + 1];
  for (int i = 0; i < 12; ++i) {
    ReadResponse(line);
    if (std::strcmp(line, "OK") == 0) return true;
    if (responses_->Matches(FaxResponseSet::kHangUp, line) || StartsWith(line, "ERROR")) return false;
    if (responses_->Matches(FaxResponseSet::kConnection, line)) continue;
    if (responses_->Matches(FaxResponseSet::kNss, line)) RecordWord(nss, line);
    else if (responses_->Matches(FaxResponseSet::kTsi, line)) RecordText(tsi, line);
    else if (responses_->Matches(FaxResponseSet::kDcs, line)) RecordWord(dcs, line);
  }
  DebugTrace("'Wait for [NSS],[TSI] and DCS message(s)' FAILED!\n");
  return false;
}

bool ModemPort::WaitNsfCsiDis() {
  char line[platform::SerialPort::kMaxLine + 1];
  for (int i = 0; i < 20; ++i) {
    ReadResponse(line);
    if (std::strcmp(line, "OK") == 0) return true;
    if (StartsWith(line, "ERROR")) {
      hangUpCode = 0x24;
      break;
    }
    if (responses_->Matches(FaxResponseSet::kNsf, line)) RecordWord(nsf, line);
    else if (responses_->Matches(FaxResponseSet::kCsi, line)) RecordWord(csi, line);
    else if (responses_->Matches(FaxResponseSet::kDis, line)) RecordWord(dis, line);
    else if (responses_->Matches(FaxResponseSet::kDcs, line)) RecordWord(dcs, line);
  }
  DebugTrace("'Wait for [NSF],[CSI] and DIS message(s)' FAILED!\n");
  return false;
}

bool ModemPort::WaitConnect() {
  char line[platform::SerialPort::kMaxLine + 1];
  for (int i = 0; i < 12; ++i) {
    ReadResponse(line);
    if (StartsWith(line, "CONNECT")) return true;
    if (responses_->Matches(FaxResponseSet::kHangUp, line)) {
      hangUpCode = HexAfterColon(line, hangUpCode);
      return false;
    }
    if (StartsWith(line, "ERROR")) return false;
    if (responses_->Matches(FaxResponseSet::kDcs, line)) RecordWord(dcs, line);
  }
  return false;
}

int ModemPort::WaitPageTransferStatus() {
  char line[platform::SerialPort::kMaxLine + 1];
  for (int i = 0; i < 12; ++i) {
    ReadResponse(line);
    if (responses_->Matches(FaxResponseSet::kPageStatus, line)) {
      DebugTrace("\nCheck transmit page transfer status response:\n");
      postPageResponse = DecimalAfterColon(line, kPprRtn);
      DebugTrace("%s[ppr=%d]!\n", PostPageResponseName(postPageResponse), postPageResponse);
      continue;
    }
    if (responses_->Matches(FaxResponseSet::kHangUp, line)) {
      hangUpCode = HexAfterColon(line, 0x50);
      if (hangUpCode != 0) return -1;
      ReadResponse(line);
      if (StartsWith(line, "OK")) return 0;
      DebugTrace("Wait for 'CallTerminationStatus' FAILED!\n");
      return -1;
    }
    if (StartsWith(line, "OK")) return i < 11 ? 0 : -1;  // not on the last line
    if (StartsWith(line, "ERROR")) {
      DebugTrace("AT+FPS?\n");
      hangUpCode = 0x51;
      if (!serial_.SendCommand("AT+FPS?")) return -1;
      for (int j = 0; j < 3; ++j) {
        ReadResponse(line);
        postPageResponse = static_cast<int>(std::strtol(line, nullptr, 10));
        DebugTrace("%s[ppr=%d]!\n", PostPageResponseName(postPageResponse), postPageResponse);
        if (StartsWith(line, "1OK") || StartsWith(line, "3OK") || StartsWith(line, "5OK")) break;
      }
      return -2;
    }
  }
  return -1;
}

int ModemPort::WaitPageStatus() {
  postPageResponse = 0;
  for (auto& v : pageStatusValues) v = 0;
  char line[platform::SerialPort::kMaxLine + 1];
  for (int i = 0; i < 5; ++i) {
    ReadResponse(line);
    if (responses_->Matches(FaxResponseSet::kPageStatus, line)) {
      if (i == 4) return -1;
      const char* text = AfterColon(line);
      if (!text) {
        postPageResponse = kPprRtn;
        return 0;
      }
      int values[5] = {kPprRtn, 0, 0, 0, 0};
      const int n = std::sscanf(text, "%d,%d,%d,%d,%d", &values[0], &values[1], &values[2], &values[3], &values[4]);
      postPageResponse = n >= 1 ? values[0] : kPprRtn;
      for (int k = 0; k < 4; ++k) pageStatusValues[k] = values[k + 1];
      return 0;
    }
    if (responses_->Matches(FaxResponseSet::kHangUp, line)) {
      hangUpCode = HexAfterColon(line, hangUpCode);
      return -1;
    }
    if (StartsWith(line, "ERROR")) return -2;
  }
  return -1;
}

int ModemPort::WaitPostPageMessage() {
  char line[platform::SerialPort::kMaxLine + 1];
  for (int i = 0; i < 7; ++i) {
    ReadResponse(line);
    if (responses_->Matches(FaxResponseSet::kPostPageMessage, line)) {
      if (i == 6) return -1;
      postPageMessage = DecimalAfterColon(line, kPpmEop);
      if (postPageMessage < 0 || postPageMessage > 3) postPageMessage = kPpmEop;
      DebugTrace("%s[ppmr=%d] !\n", PostPageMessageName(postPageMessage), postPageMessage);
      return WaitOkAfterPostPage();
    }
    if (responses_->Matches(FaxResponseSet::kHangUp, line)) {
      hangUpCode = HexAfterColon(line, hangUpCode);
      return -1;
    }
    if (StartsWith(line, "ERROR")) return -2;
  }
  return -1;
}

int ModemPort::WaitOkAfterPostPage() {
  char line[platform::SerialPort::kMaxLine + 1];
  for (int i = 0; i < 5; ++i) {
    ReadResponse(line);
    if (std::strcmp(line, "OK") == 0) return i < 4 ? 0 : -1;
    if (StartsWith(line, "ERROR")) return -2;
  }
  return -1;
}

bool ModemPort::WaitCallTermination() {
  char line[platform::SerialPort::kMaxLine + 1];
  for (int i = 0; i < 5; ++i) {
    ReadResponse(line);
    if (StartsWith(line, "OK")) return i < 4;
    if (responses_->Matches(FaxResponseSet::kHangUp, line)) {
      if (!AfterColon(line)) return false;
      hangUpCode = HexAfterColon(line, hangUpCode);
    }
  }
  return false;
}

void ModemPort::CleanRemoteId() { korvo::CleanRemoteId(remoteId, sizeof remoteId); }

}  // namespace korvo
