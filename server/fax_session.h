// One call on one modem port: the send session, which dials and sends the
// documents of a batch of queued jobs for one number, and the receive session,
// which answers a ringing line and files every document received into the
// queue. Both run on the port's own session thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/fax_header.h"
#include "server/modem_port.h"
#include "server/send_request.h"

namespace korvo {

// The pauses of a session. Tests shorten them.
struct FaxSessionTiming {
  uint32_t afterDialMs = 5000;       // from the dial string to the first wait for the fax connection
  uint32_t beforePageMs = 500;       // from CONNECT to the first byte of page data
  uint32_t afterErrorMs = 500;       // after an ERROR in place of a page status
};
void SetFaxSessionTiming(const FaxSessionTiming& timing);

// The largest page a receive session takes in; a longer page ends its document.
inline constexpr uint32_t kReceivedPageBufferSize = 524288;

// Hang-up codes the engine sets on its own failures (EIA-592 / T.32 value space).
inline constexpr uint32_t kHangUpFirstFdt = 0x22;
inline constexpr uint32_t kHangUpDisError = 0x24;
inline constexpr uint32_t kHangUpImage = 0x40;
inline constexpr uint32_t kHangUpPageWrite = 0x41;
inline constexpr uint32_t kHangUpEndOfPage = 0x50;
inline constexpr uint32_t kHangUpPageStatusError = 0x51;
inline constexpr uint32_t kHangUpCallTermination = 0x55;
inline constexpr uint32_t kHangUpReceiveFile = 0x70;
inline constexpr uint32_t kHangUpReceiveData = 0x90;
inline constexpr uint32_t kHangUpNoPageStatus = 0xA1;
inline constexpr uint32_t kHangUpNoPostPage = 0xA2;

// The session threads' entry points (ModemPort::SetSessionEntryPoints).
void SendThread(ModemPort& port);
void ReceptionThread(ModemPort& port);
// Makes the ports run these sessions.
void InstallFaxSessions();

// Sending.
bool SendSession(ModemPort& port);
bool Transmit(ModemPort& port);
bool Fax_Tx_Procedure_status(ModemPort& port);
bool SendDocuments(ModemPort& port);
uint32_t SendDocumentPages(ModemPort& port, SendRequestEntry& request);
// Reports the results of the batch the session sent to the number. The port
// may already carry the next batch.
void ReportResults(ModemPort& port, const std::shared_ptr<SendRequestList>& list, const std::string& number);

// Receiving.
bool ReceiveSession(ModemPort& port);
bool ReceiveCall(ModemPort& port, SendRequestList& received);
bool AnswerAndReceive(ModemPort& port, SendRequestList& received);
bool ReceiveProcedure(ModemPort& port, SendRequestEntry& entry, SendRequestList& received);
uint32_t ReceiveDocument(ModemPort& port, SendRequestEntry& entry);
// The header a received fax is filed under: from the caller's identifier
// ("Modem" when it gave none), to AutoDispatchTo or the dispatchers.
FaxHeader ReceivedFaxHeader(const char* remoteId);
bool FileReceivedDocuments(ModemPort& port, SendRequestList& received);

}  // namespace korvo
