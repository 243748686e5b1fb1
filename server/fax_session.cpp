#include "server/fax_session.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "common/bits.h"
#include "common/fax_header.h"
#include "common/huffman.h"
#include "common/imaging_exceptions.h"
#include "common/job_state.h"
#include "common/settings.h"
#include "common/tiff_reader.h"
#include "common/tiff_writer.h"
#include "platform/tempfile.h"
#include "server/faxserver.h"
#include "server/modem_subsystem.h"
#include "server/queue.h"
#include "server/syslog.h"
#include "server/trace.h"

namespace korvo {

namespace {

FaxSessionTiming gTiming;

constexpr uint8_t kDle = 0x10;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kDc2 = 0x12;
constexpr size_t kStagingSlack = 8192;
// How much of a page too large for the buffer is read on for its end.
constexpr uint64_t kDroppedPageLimit = 64ull << 20;

#define LOG_ERROR(...) \
  do {                  \
    if (g_SysLog) g_SysLog->Error(__VA_ARGS__); \
  } while (0)
#define LOG_INFO(...) \
  do {                 \
    if (g_SysLog) g_SysLog->Info(__VA_ARGS__); \
  } while (0)

void Sleep(uint32_t ms) {
  if (ms) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int64_t Now() { return static_cast<int64_t>(std::time(nullptr)); }

// The server's Temp folder, also before the server object has set its paths.
std::string TempFolder() {
  std::string temp = GetServerPaths().tempDir;
  char root[260];
  if (temp.empty() && KvGetServerRoot(root, sizeof root) && root[0]) temp = std::string(root) + "/Temp";
  return temp;
}

void TraceTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[96];
  std::strftime(text, sizeof text, "%H:%M:%S, %A, %B %d, %Y", &local);
  DebugTrace("Time and date:\t\t%s\n", text);
}

// The duration between two "Time and date" traces, as the transmit and
// receive times are shown.
void TraceDuration(const char* label, int32_t seconds) {
  TraceTime();
  DebugTrace("\n%s:  [%02d:%02d].\n", label, seconds / 60, seconds % 60);
  TraceTime();
}

// A page the end of a call takes back; a count never goes below 0.
void TakeBackPage(int32_t& pages) {
  if (pages > 0) --pages;
}

// The page status after the end of a page: the receiver confirmed it. A
// page it judged bad (RTN, PIN) was not delivered and counts as not sent.
bool PageConfirmed(ModemPort& port) {
  port.postPageResponse = kPprMcf;
  if (port.WaitPageTransferStatus() != 0) return false;
  if (port.postPageResponse != kPprRtn && port.postPageResponse != kPprPin) return true;
  DebugTrace("Page rejected by the receiver [ppr=%d] !\n", port.postPageResponse);
  return false;
}

// Whether the session parameters (vr,br,wd,...) are those of fine resolution.
// A session without them is the one the capabilities asked for: fine.
bool FineSession(const char* dcs) {
  int vr = 1;
  std::sscanf(dcs, "%d", &vr);
  return vr != 0;
}

// The coded lines of a page of 98 lines per inch with every line twice, so
// that the page keeps its height on a session at 196. A line is its EOL
// (eleven zeros and a one) with the codes up to the next EOL; an EOL with no
// code after it (the page's end) goes once.
std::vector<uint8_t> DoubleLines(const uint8_t* data, uint32_t size) {
  const uint64_t bits = static_cast<uint64_t>(size) * 8;
  auto bit = [data](uint64_t i) { return (data[i >> 3] >> (i & 7)) & 1; };
  std::vector<uint64_t> eols;
  uint32_t zeros = 0;
  for (uint64_t i = 0; i < bits; ++i) {
    if (!bit(i)) {
      ++zeros;
      continue;
    }
    if (zeros >= 11) eols.push_back(i - 11);
    zeros = 0;
  }
  std::vector<uint8_t> out;
  out.reserve(2 * static_cast<size_t>(size) + 1);
  uint64_t written = 0;
  auto put = [&](uint64_t from, uint64_t to) {
    for (uint64_t i = from; i < to; ++i, ++written) {
      if ((written & 7) == 0) out.push_back(0);
      if (bit(i)) out.back() = static_cast<uint8_t>(out.back() | 1u << (written & 7));
    }
  };
  put(0, eols.empty() ? bits : eols.front());
  for (size_t k = 0; k < eols.size(); ++k) {
    const uint64_t from = eols[k], to = k + 1 < eols.size() ? eols[k + 1] : bits;
    put(from, to);
    bool codes = false;
    for (uint64_t i = from + 12; i < to && !codes; ++i) codes = bit(i);
    if (codes) put(from, to);
  }
  return out;
}

template <size_t N>
void CopyText(char (&field)[N], const char* text) {
  std::snprintf(field, N, "%s", text ? text : "");
}

}  // namespace

void SetFaxSessionTiming(const FaxSessionTiming& timing) { gTiming = timing; }

void InstallFaxSessions() { ModemPort::SetSessionEntryPoints(SendThread, ReceptionThread); }

// ---------------------------------------------------------------------------
// Sending

namespace {

// Puts the port back into service and reports its batch. The batch and its
// number are taken first: back in service, the port may be handed the next
// batch at once.
void RestartAndReport(ModemPort& port) {
  const auto list = port.Requests();
  const std::string number = port.GetDialNumber();
  port.Restart();
  ReportResults(port, list, number);
}

}  // namespace

void SendThread(ModemPort& port) {
  if (!FaxSessionCounter::Change(+1)) {
    // No session runs, but the jobs were handed over: they are reported (and
    // so rescheduled) and the port goes back into service.
    DebugTrace("SendThread: fax session not counted in !\n");
    RestartAndReport(port);
    return;
  }
  SendSession(port);
  FaxSessionCounter::Change(-1);
}

bool SendSession(ModemPort& port) {
  const bool ok = Transmit(port);
  RestartAndReport(port);
  return ok;
}

bool Transmit(ModemPort& port) {
  const bool callWaiting = !port.Configuration().GetCallWaitingCommand(false).empty();
  if (callWaiting) port.CallWaiting(0);
  const bool ok = Fax_Tx_Procedure_status(port);
  DebugTrace(ok ? "\nSending fax messages .....done.\n\n" : "Sending fax messages .....failed.\n\n");
  if (callWaiting) port.CallWaiting(1);
  return ok;
}

bool Fax_Tx_Procedure_status(ModemPort& port) {
  auto list = port.Requests();
  if (!list) return false;
  SendRequestEntry* first = nullptr;
  {
    std::lock_guard hold(port.RequestsMutex());
    for (auto& request : *list) {
      if (request.cancelled) {
        request.sent = 1;
        request.state = JobState::UserCanceled;
      } else if (!first) {
        first = &request;
        request.state = JobState::Dialing;
      }
    }
  }
  if (!first) return false;
  port.Serial().Purge();
  if (!port.Dial()) return false;
  Sleep(gTiming.afterDialMs);
  if (!port.WaitFaxConnect()) return false;
  {
    std::lock_guard hold(port.RequestsMutex());
    first->state = JobState::Connecting;
  }
  const bool ok = SendDocuments(port);
  DebugTrace(ok ? "Fax_Tx_Procedure_status: OK !\n" : "Fax_Tx_Procedure_status: ERROR !\n");
  return ok;
}

bool SendDocuments(ModemPort& port) {
  auto list = port.Requests();
  if (!list) return false;
  std::mutex& lock = port.RequestsMutex();
  port.hangUpCode = 0;
  const int64_t start = Now();
  TraceTime();
  if (!port.WaitNsfCsiDis()) return false;

  auto pendingAfter = [&](size_t index) {
    int pending = 0;
    std::lock_guard hold(lock);
    for (size_t k = index + 1; k < static_cast<size_t>(list->GetCount()); ++k)
      if (!(*list)[k].cancelled) ++pending;
    return pending;
  };
  const size_t count = static_cast<size_t>(list->GetCount());
  {
    int pending = 0;
    std::lock_guard hold(lock);
    for (const auto& request : *list)
      if (!request.cancelled) ++pending;
    DebugTrace("Nr. of documents to send: %d \n", pending);
  }

  SendRequestEntry* last = nullptr;
  auto endFailed = [&](SendRequestEntry& request, bool statusWait) {
    port.hangUpCode = kHangUpEndOfPage;
    {
      std::lock_guard hold(lock);
      request.sent = 0;
      TakeBackPage(request.pages);
    }
    DebugTrace("FaxDocument_Tx_status: ERROR !\n");
    if (statusWait) DebugTrace("'Wait for page transfer status response' FAILED!\n");
  };

  for (size_t i = 0; i < count; ++i) {
    SendRequestEntry& request = (*list)[i];
    {
      std::lock_guard hold(lock);
      if (request.cancelled) {
        request.sent = 1;
        request.state = JobState::UserCanceled;
        continue;
      }
      CopyText(port.imagePath, request.imagePath);
      CopyText(port.coverImagePath, request.coverPath);
      port.pageCounter = static_cast<uint16_t>(request.pages);
      request.state = JobState::Negotiating;
    }
    last = &request;
    if (request.saferDialing) {
      const std::string command = std::string(port.Commands().Get(FaxCommandSet::kCapabilities)) + "1,1,0,2,0,0,0,0";
      if (!port.SendCommandWaitOk(command.c_str())) {
        LOG_ERROR("Modem command on port %s failed [FaxConfigCtrl]!", port.GetPortName());
        DebugTrace("Modem command on port %s failed [FaxConfigCtrl]!\n", port.GetPortName());
      }
    }
    if (SendDocumentPages(port, request) != 0) {
      {
        std::lock_guard hold(lock);
        request.state = JobState::CommunicationError;
      }
      DebugTrace("FaxDocument_Tx_status: ERROR !\n");
      return false;
    }
    {
      std::lock_guard hold(lock);
      request.state = JobState::Done;
      request.sent = 1;
    }
    DebugTrace("FaxDocument_Tx: Done\n");
    const int pending = pendingAfter(i);
    DebugTrace("Number of fax documents pending: %d !\n", pending);
    if (pending == 0) break;
    DebugTrace("\nSend EOM (Another document)\n");
    if (!port.FaxEndThePageOrDocument(kPpmEom)) {
      endFailed(request, false);
      break;
    }
    if (!PageConfirmed(port)) {
      endFailed(request, true);
      break;
    }
    const int32_t seconds = static_cast<int32_t>(Now() - start);
    {
      std::lock_guard hold(lock);
      request.seconds = seconds;
    }
    TraceDuration("Tx_time", seconds);
  }

  DebugTrace("\nSend EOP (End of procedure/No more pages or documents)\n");
  if (!port.FaxEndThePageOrDocument(kPpmEop)) {
    if (last) endFailed(*last, false);
  } else if (!PageConfirmed(port)) {
    if (last) endFailed(*last, true);
  }
  const int32_t seconds = static_cast<int32_t>(Now() - start);
  if (last) {
    std::lock_guard hold(lock);
    last->seconds = seconds;
  }
  TraceDuration("Tx_time", seconds);
  port.sessionSeconds = seconds;
  return port.hangUpCode == 0;
}

uint32_t SendDocumentPages(ModemPort& port, SendRequestEntry& request) {
  std::mutex& lock = port.RequestsMutex();
  port.hangUpCode = 0;
  PageDescriptor descriptor;
  std::unique_ptr<FaxImagePair> document;
  uint16_t documentPages = 0;
  try {
    document = std::make_unique<FaxImagePair>(port.coverImagePath, port.imagePath);
    document->CountPages(documentPages, descriptor);
  } catch (Exception* e) {
    delete e;
    document.reset();
  } catch (const std::exception&) {
    document.reset();
  }
  if (!document) {
    DebugTrace("OpenDocument failed !\n");
    DebugTrace("Fax_Tx_status: ERROR !\n");
    port.hangUpCode = kHangUpImage;
    return port.hangUpCode;
  }
  port.documentPages = documentPages;

  int32_t startPage = 0;
  {
    std::lock_guard hold(lock);
    startPage = request.pages < 0 ? 0 : request.pages;
    request.pages = startPage;
  }
  std::vector<uint8_t> staging;
  bool first = true;
  for (int32_t page = startPage; page < documentPages;) {
    if (!port.TransmitPage()) {
      port.hangUpCode = first ? kHangUpFirstFdt : kHangUpImage;
      break;
    }
    first = false;
    if (!port.WaitConnect()) {
      DebugTrace("'Wait for CONNECT message' FAILED!\n");
      port.hangUpCode = kHangUpImage;
      break;
    }
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    bool read = false;
    try {
      uint16_t index = static_cast<uint16_t>(page);
      read = document->ReadPage(kPageAtIndex, index, descriptor, data, size);
    } catch (Exception* e) {
      delete e;
    } catch (const std::exception&) {
    }
    if (!read) {
      DebugTrace("ReadPage failed !\n");
      DebugTrace("Fax_Tx_status: ERROR !\n");
      port.hangUpCode = kHangUpImage;
      break;
    }
    // The session runs at fine resolution: a normal page goes at its true
    // height rather than squashed to half of it.
    std::vector<uint8_t> doubled;
    if (descriptor.yResolution < 196 && FineSession(port.dcs)) {
      doubled = DoubleLines(data, size);
      data = doubled.data();
      size = static_cast<uint32_t>(doubled.size());
    }
    Sleep(gTiming.beforePageMs);
    {
      std::lock_guard hold(lock);
      request.state = JobState::Sending;
    }
    DebugTrace("Sending fax image [page: %d of %d] .....", page + 1, documentPages);

    // Every DLE of the data goes doubled, so the modem does not take it for
    // the start of a command; the staging buffer is sized for the page in hand.
    size_t dles = 0;
    for (uint32_t k = 0; k < size; ++k) dles += data[k] == kDle;
    staging.clear();
    staging.reserve(size + (dles > kStagingSlack ? dles : kStagingSlack));
    auto stage = [&](const uint8_t* bytes, uint32_t n) {
      for (uint32_t k = 0; k < n; ++k) {
        staging.push_back(bytes[k]);
        if (bytes[k] == kDle) staging.push_back(kDle);
      }
    };
    stage(data, size);
    if (port.Commands().Has(FaxCommandSet::kEndPage)) {
      // A Class 2 page ends with DLE ETX alone; without RTC after it the
      // receiver cannot tell where the last line ends and loses it.
      const uint8_t* rtc = nullptr;
      uint32_t rtcLength = 0;
      InitRtcBits();
      GetRtcBits(rtc, rtcLength);
      stage(rtc, rtcLength);
    }
    if (!port.Serial().WriteBlock(staging.data(), static_cast<uint32_t>(staging.size()))) {
      DebugTrace("failed!\n");
      LOG_ERROR("SendFaxImage [page: %d] failed !", page + 1);
      port.hangUpCode = kHangUpPageWrite;
      break;
    }
    DebugTrace("done.\n");
    ++page;
    ++port.pageCounter;
    {
      std::lock_guard hold(lock);
      ++request.pages;
    }
    if (page >= documentPages) break;

    bool aborted = false;
    {
      std::lock_guard hold(lock);
      if (request.cancelled) {
        request.sent = 1;
        request.state = JobState::UserCanceled;
        aborted = true;
      } else {
        request.state = JobState::Negotiating;
      }
    }
    if (aborted) {
      // The page just sent ends the document; the caller closes it with EOM or EOP.
      port.hangUpCode = 0;
      break;
    }
    DebugTrace("\nSend MPS (Multipage signal/Another page, same document)\n");
    bool ok = port.FaxEndThePageOrDocument(kPpmMps);
    if (ok && !PageConfirmed(port)) {
      DebugTrace("'Wait for page transfer status response' FAILED!\n");
      ok = false;
    }
    if (!ok) {
      port.hangUpCode = kHangUpEndOfPage;
      --page;
      if (port.pageCounter > 0) --port.pageCounter;
      std::lock_guard hold(lock);
      TakeBackPage(request.pages);
      break;
    }
  }
  document->Close();
  return port.hangUpCode;
}

void ReportResults(ModemPort& port, const std::shared_ptr<SendRequestList>& list, const std::string& number) {
  if (!list) return;
  std::vector<SendRequestEntry> requests;
  {
    std::lock_guard hold(port.RequestsMutex());
    requests.assign(list->begin(), list->end());
  }
  for (const auto& request : requests) {
    const int32_t pages = request.pages < 0 ? 0 : request.pages;
    if (request.sent || request.cancelled) {
      const int32_t state = request.cancelled ? JobState::UserCanceled : JobState::Ok;
      port.lastResultState = state;
      if (g_Queue) g_Queue->SetJobResult(request.jobId, 1, state, pages, request.seconds);
      LOG_INFO("FAX to '%s' pages %d, %d sec, on %s, %s.", number.c_str(), pages, request.seconds,
               port.GetPortName(), state == JobState::Ok ? "OK" : "UserCanceled");
    } else if (port.IsStopping()) {
      // Ended by the server's own stop, not by the call: no attempt is
      // counted. The job stays handed out, which start-up repair queues again.
      DebugTrace("FAX to '%s': job %u left for the next start !\n", number.c_str(), request.jobId);
    } else {
      int32_t state;
      if (pages > 0) {
        state = JobState::CommunicationError;
        LOG_ERROR("FAX to '%s' pages %d, %d sec, on %s, %s.", number.c_str(), pages, request.seconds,
                  port.GetPortName(), "CommunicationError");
      } else {
        state = JobState::NoResponse;
        LOG_INFO("FAX to '%s' pages %d, %d sec, on %s, %s.", number.c_str(), pages, request.seconds,
                 port.GetPortName(), "NoResponse");
      }
      port.lastResultState = state;
      if (g_Queue) g_Queue->RetryJob(request.jobId, state, pages, request.seconds);
    }
  }
  port.ReleaseRequests(list);
}

// ---------------------------------------------------------------------------
// Receiving

void ReceptionThread(ModemPort& port) {
  if (!FaxSessionCounter::Change(+1)) {
    // The call is not taken: the port goes back into service, and the
    // re-initialisation drops the line.
    DebugTrace("ReceptionThread: fax session not counted in !\n");
    port.ReturnToService();
    return;
  }
  ReceiveSession(port);
  FaxSessionCounter::Change(-1);
}

bool ReceiveSession(ModemPort& port) {
  std::unique_ptr<SendRequestList> received;
  try {
    received = std::make_unique<SendRequestList>();
  } catch (const std::bad_alloc&) {
    LOG_ERROR("Memory allocation failed !");
    port.ReturnToService();
    return false;
  }
  port.tsi[0] = '\0';
  port.remoteId[0] = '\0';
  const bool ok = ReceiveCall(port, *received);
  port.ReturnToService();
  const bool filed = FileReceivedDocuments(port, *received);
  return filed && ok;
}

bool ReceiveCall(ModemPort& port, SendRequestList& received) {
  DebugTrace("\nResponding to remote call:\n");
  const bool standard = port.Configuration().class2BitOrder == 0;
  if (standard) port.FaxSelectDataBitOrder(1);
  const bool ok = AnswerAndReceive(port, received);
  DebugTrace(ok ? "Receiving fax image .....done.\n\n" : "Receiving fax image .....failed.\n\n");
  if (standard) port.FaxSelectDataBitOrder(0);
  return ok;
}

bool AnswerAndReceive(ModemPort& port, SendRequestList& received) {
  port.pageCounter = 0;
  SendRequestEntry entry;
  entry.state = 0;
  port.Serial().Purge();
  entry.state = JobState::Answering;
  if (!port.Answer()) return false;
  if (!port.WaitFaxConnect()) return false;
  entry.state = JobState::Connecting;
  return ReceiveProcedure(port, entry, received);
}

bool ReceiveProcedure(ModemPort& port, SendRequestEntry& entry, SendRequestList& received) {
  const int64_t start = Now();
  TraceTime();
  port.hangUpCode = 0;
  if (!port.WaitNssTsiDcs()) {
    port.hangUpCode = kHangUpReceiveFile;
    entry.cancelled = 1;
    return false;
  }
  CopyText(port.remoteId, port.tsi);
  const bool denied = g_ModemSubsystem ? g_ModemSubsystem->IsDenied(port) : false;
  if (denied) {
    DebugTrace("Access denied to [%s] !\n\n", port.remoteId);
    port.hangUpCode = kHangUpReceiveFile;
    entry.cancelled = 1;
    LOG_ERROR("FAX from '%s', pages %d, %d sec, on %s, %s.", port.remoteId, entry.pages,
              static_cast<int>(Now() - start), port.GetPortName(), "Access Denied");
    return false;
  }
  entry.state = JobState::Negotiating;
  for (;;) {
    const uint32_t code = ReceiveDocument(port, entry);
    if (code != 0) {
      entry.sent = 0;
      entry.state = JobState::CommunicationError;
      DebugTrace("FaxDocument_Rx_status: ERROR !\n");
      break;
    }
    entry.sent = 1;
    entry.state = JobState::Done;
    DebugTrace("FaxDocument_Rx_status: OK !\n");
    if (port.postPageMessage != kPpmEom) break;
    entry.seconds = static_cast<int32_t>(Now() - start);
    received.Add(entry);
    TraceDuration("Rx_time", entry.seconds);
    DebugTrace("\n%d page(s) received OK!\n", entry.pages);
    DebugTrace("FaxDocument_Rx_status: OK !\n");
    // The next document starts afresh.
    entry.pages = 0;
    entry.sent = 0;
    entry.cancelled = 0;
    entry.imagePath[0] = '\0';
    port.pageCounter = 0;
  }
  if (port.hangUpCode == 0) {
    const bool sent = port.ReceivePage();
    if (!sent || !port.WaitCallTermination()) {
      if (!sent) DebugTrace("Modem command: FaxRxData ... FAILED!\n");
      DebugTrace("'WaitForCallTerminationStatus' ... FAILED!\n");
      port.hangUpCode = kHangUpCallTermination;
    }
  }
  entry.seconds = static_cast<int32_t>(Now() - start);
  TraceDuration("Rx_time", entry.seconds);
  port.sessionSeconds = entry.seconds;
  received.Add(entry);
  if (port.hangUpCode == 0) {
    DebugTrace("Fax_Rx_Procedure_status: OK !\n");
    return true;
  }
  DebugTrace("Fax_Rx_Procedure_status: ERROR !\n");
  return false;
}

uint32_t ReceiveDocument(ModemPort& port, SendRequestEntry& entry) {
  std::vector<uint8_t>& buffer = port.pageBuffer;
  PageDescriptor descriptor;
  // With AT+FBOR=1 (chosen for a standard Class 2 modem) the modem hands the
  // page data over in reversed bit order; the file keeps the line's order.
  const bool reversed = port.Commands().Has(FaxCommandSet::kDataBitOrder) && port.Configuration().class2BitOrder == 0;

  std::string name;
  if (platform::GetTempFileName(TempFolder() + "/", "REC", 0, name) == 0) {
    DebugTrace("Create unique filew name failed !\n");
    name.clear();
  }
  TiffWriter writer;
  try {
    writer.Open(name);
  } catch (const std::exception&) {
    DebugTrace("OpenDocument failed !\n");
    entry.cancelled = 1;
    if (!name.empty()) std::remove(name.c_str());
    return port.hangUpCode = kHangUpReceiveFile;
  }
  CopyText(entry.imagePath, name.c_str());
  CopyText(port.imagePath, name.c_str());

  auto failBeforePage = [&](uint32_t code) {
    port.hangUpCode = code;
    if (port.pageCounter == 0) entry.cancelled = 1;
  };
  bool documentEnded = false;
  while (!documentEnded) {
    entry.state = JobState::Negotiating;
    if (!port.ReceivePage()) {
      DebugTrace("CmdFaxRxData ................. FAILED!\n");
      failBeforePage(kHangUpReceiveData);
      break;
    }
    if (!port.WaitConnect()) {
      DebugTrace("'Wait for CONNECT message' FAILED!\n");
      failBeforePage(kHangUpReceiveData);
      break;
    }
    ParseSessionParameters(port.dcs, descriptor);
    port.Serial().Purge();
    ++port.pageCounter;
    DebugTrace("Receiving fax image [page #%d] .....", port.pageCounter);
    port.Serial().WriteByte(kDc2);
    entry.state = JobState::Receiving;

    // Page data up to DLE ETX; DLE DLE is one DLE, any other DLE pair is dropped.
    uint32_t length = 0;
    buffer.clear();
    bool dle = false;
    bool complete = false;
    bool overflow = false;
    bool noMemory = false;
    uint32_t position = 0;
    uint8_t byte = 0;
    // A page that does not fit is read on to its end all the same, and
    // dropped: the modem leaves its data mode only there, and until then
    // takes no command, so the call could not be ended nor the port reset.
    uint64_t dropped = 0;
    while (port.Serial().ReadByte(byte)) {
      ++position;
      if (dle) {
        dle = false;
        if (byte == kEtx) {
          complete = true;
          break;
        }
        if (byte != kDle) {
          if (!overflow && !noMemory) DebugTrace("<DLE><0x%X>, %d\n", byte, static_cast<int>(position));
          continue;
        }
      } else if (byte == kDle) {
        dle = true;
        continue;
      }
      if (overflow || noMemory) {
        if (++dropped > kDroppedPageLimit) break;
        continue;
      }
      if (length == kReceivedPageBufferSize) {
        overflow = true;
        continue;
      }
      if (length == buffer.capacity()) {
        try {
          buffer.reserve(std::min<size_t>(std::max<size_t>(2 * buffer.capacity(), 16384), kReceivedPageBufferSize));
        } catch (const std::bad_alloc&) {
          noMemory = true;
          continue;
        }
      }
      buffer.push_back(byte);
      ++length;
    }
    if (noMemory) {
      DebugTrace("FAILED !\n");
      --port.pageCounter;
      failBeforePage(kHangUpReceiveFile);
      break;
    }
    if (overflow) {
      // Nothing is written past the buffer: the page, and with it the
      // document and the call, ends here.
      DebugTrace("FAILED !\n");
      DebugTrace("Page larger than %u bytes !\n", static_cast<unsigned>(kReceivedPageBufferSize));
      --port.pageCounter;
      port.hangUpCode = kHangUpReceiveData;
      break;
    }
    if (!complete) {
      DebugTrace("FAILED !\n");
      --port.pageCounter;
      port.hangUpCode = kHangUpReceiveData;
      break;
    }
    DebugTrace("done.\n");
    if (reversed)
      for (uint32_t k = 0; k < length; ++k) buffer[k] = ReverseBits(buffer[k]);
    try {
      writer.WriteReceivedPage(descriptor, buffer.data(), length);
    } catch (...) {
      DebugTrace("WritePage failed !\n");
      DebugTrace("Fax_Rx_status: ERROR !\n");
      port.hangUpCode = kHangUpReceiveFile;
      break;
    }
    entry.state = JobState::Negotiating;

    DebugTrace("\nWaiting for page transfer status:\n");
    const int status = port.WaitPageStatus();
    if (status == -2) {
      DebugTrace("\nError response received from modem\n");
      Sleep(gTiming.afterErrorMs);
      continue;
    }
    if (status == -1) {
      DebugTrace("'Wait for PageTransferStatus' FAILED!\n");
      port.hangUpCode = kHangUpNoPageStatus;
      break;
    }
    entry.pages = port.pageCounter;
    DebugTrace("\nWaiting for post page message response:\n");
    const int message = port.WaitPostPageMessage();
    if (message == -2) {
      DebugTrace("\nError response received from modem\n");
      port.hangUpCode = kHangUpNoPageStatus;
      break;
    }
    if (message == -1) {
      DebugTrace("'Wait for PostPageMsgResponse' FAILED!\n");
      port.hangUpCode = kHangUpNoPostPage;
      break;
    }
    if (port.postPageMessage != kPpmMps) documentEnded = true;
  }
  try {
    writer.Close();
  } catch (...) {
    if (port.hangUpCode == 0) port.hangUpCode = kHangUpReceiveFile;
  }
  return port.hangUpCode;
}

FaxHeader ReceivedFaxHeader(const char* remoteId) {
  FaxHeader header;
  header.priority = FaxHeader::kPriorityNormal;
  if (remoteId && remoteId[0]) {
    header.sender = FaxSenderOrRecipient(remoteId, 0, "", "", "", "");
    header.subject = std::string("Fax from ") + remoteId;
  } else {
    header.sender = FaxSenderOrRecipient("Modem", 0, "", "", "", "");
    header.subject = "Received Fax";
  }
  header.sendTime = ScheduleTimeInfo(0, static_cast<int32_t>(std::time(nullptr)));
  char dispatchTo[260] = {};
  const bool dispatch = KvReadRegStr("Server", "AutoDispatchTo", dispatchTo, sizeof dispatchTo) && dispatchTo[0];
  header.recipients.AddTail(FaxSenderOrRecipient(dispatch ? dispatchTo : "~nobody", 1, "", "", "", ""));
  return header;
}

bool FileReceivedDocuments(ModemPort& port, SendRequestList& received) {
  FaxHeader header = ReceivedFaxHeader(port.remoteId);

  const char* from = header.sender.address.c_str();
  bool ok = true;
  for (auto& entry : received) {
    // A document broken off before any page was kept has nothing to file.
    const bool empty = entry.imagePath[0] && CountTiffPages(entry.imagePath) == 0;
    if (entry.cancelled || (!entry.sent && empty) || !entry.imagePath[0]) {
      port.lastResultState = JobState::CommunicationError;
      LOG_ERROR("FAX from '%s', pages %d, %d sec, on %s, %s.", from, entry.pages, entry.seconds, port.GetPortName(),
                "Communication error");
      if (entry.imagePath[0]) std::remove(entry.imagePath);
      continue;
    }
    int32_t state;
    if (entry.sent) {
      state = JobState::Ok;
      LOG_INFO("FAX from '%s', pages %d, %d sec, on %s, %s.", from, entry.pages, entry.seconds, port.GetPortName(),
               "OK");
    } else {
      state = JobState::PartiallyReceived;
      header.subject = "<Partially received Fax>";
      DebugTrace("Fax Rx failed/partially received [File_name=%s] !\n", port.imagePath);
      LOG_ERROR("FAX from '%s', pages %d, %d sec, on %s, %s.", from, entry.pages, entry.seconds, port.GetPortName(),
                "Partially received fax");
    }
    port.lastResultState = state;
    if (!g_Queue || !g_Queue->InsertFax(entry.imagePath, header, Queue::kKindReceived, entry.seconds, state)) {
      LOG_ERROR("Fax insertion in queue failed [File_name=%s] !", entry.imagePath);
      ok = false;
      break;
    }
  }
  return ok;
}

}  // namespace korvo
