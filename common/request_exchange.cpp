#include "common/request_exchange.h"

#include <atomic>
#include <thread>
#include <vector>

#include "common/fields.h"
#include "common/status_codes.h"
#include "platform/durable_file.h"
#include "platform/file_io.h"

namespace korvo {

namespace {
std::atomic<int64_t> gDisconnectPauseMs{100};
}  // namespace

RequestResult::RequestResult(Status s) : status(s), text(GetStatusText(s)) {}

RequestResult BuildRequestResult(Status status, const ReceivedMessage& lastReply) {
  if (status == kStatusSuccess) return RequestResult(0, "");
  if (status != kStatusServerErrorOrWrongMessage) return RequestResult(status);
  if (lastReply.tag != kTagError) return RequestResult(kStatusServerWrongMessage);
  std::vector<std::string> fields(2);
  DecodeFields(lastReply.Text(), fields);
  Status code = static_cast<Status>(ParseDecimal(fields[0]));
  if (code == 0 || fields[1].empty()) return RequestResult(kStatusServerErrorIndication);
  return RequestResult(code, GetStatusText(kStatusServerErrorIndicationText) + "\n" + fields[1]);
}

void RequestExchange::SetDisconnectPause(std::chrono::milliseconds pause) { gDisconnectPauseMs = pause.count(); }

std::chrono::milliseconds RequestExchange::DisconnectPause() {
  return std::chrono::milliseconds(gDisconnectPauseMs.load());
}

RequestResult RequestExchange::Run(const char* server, uint32_t code, const char* payload, ReceivedMessage* reply,
                                   uint32_t expectedTag) {
  ReceivedMessage last;
  if (reply) *reply = last;
  if (!link_.Open(server)) return RequestResult(kStatusCannotConnect);
  Status status = 0;
  try {
    link_.SendText(kTagIntroduce, userName_);
    link_.SendData(kTagGetServerVersion, nullptr, 0);
    uint32_t version = 0;
    if (link_.Receive(&last) != 0) {
      status = kStatusGetMessageFromServer;
    } else if (last.tag != kTagOk) {
      status = kStatusServerErrorOrWrongMessage;
    } else if (!last.Word(&version)) {
      // No version word: not a reply this client understands.
      status = kStatusServerErrorOrWrongMessage;
    } else if (version < kMinCompatibleVersion) {
      status = kStatusServerVersionIncompatible;
    } else {
      const uint8_t word[4] = {static_cast<uint8_t>(kProtocolVersion), static_cast<uint8_t>(kProtocolVersion >> 8), 0, 0};
      link_.SendData(kTagReportClientVersion, word, sizeof word);
      status = Transact(code, payload, &last, expectedTag);
    }
  } catch (const ClientServerExchangeException& e) {
    status = e.status;
  }
  if (auto pause = DisconnectPause(); pause.count() > 0) std::this_thread::sleep_for(pause);
  link_.Close();
  if (reply) *reply = last;
  return BuildRequestResult(status, last);
}

Status RequestExchange::Request(uint32_t code, const char* payload, ReceivedMessage* reply, uint32_t expectedTag) {
  link_.SendText(code, payload);
  if (link_.Receive(reply) != 0) return kStatusGetMessageFromServer;
  return reply->tag == expectedTag ? 0 : kStatusServerErrorOrWrongMessage;
}

Status RequestExchange::Transact(uint32_t code, const char* payload, ReceivedMessage* reply, uint32_t expectedTag) {
  return Request(code, payload, reply, expectedTag);
}

Status RequestExchange::SendFile(const FileRef& file) {
  return file.stream ? link_.SendFile(*file.stream) : link_.SendFile(file.path.c_str());
}

Status RequestExchange::ReceiveFile(const FileRef& file) {
  return file.stream ? link_.ReceiveFile(*file.stream) : link_.ReceiveFile(file.path.c_str());
}

bool RequestExchange::SyncReceived(const FileRef& file) {
  return file.stream ? platform::FlushFileBuffers(file.stream->GetHandle()) : platform::SyncFileOnly(file.path);
}

Status ReceiveFileExchange::Transact(uint32_t code, const char* payload, ReceivedMessage* reply, uint32_t) {
  if (Status s = Request(code, payload, reply, kTagOk)) return s;
  return ReceiveFile(file1_);
}

Status SendFilesExchange::Transact(uint32_t code, const char* payload, ReceivedMessage* reply, uint32_t expectedTag) {
  if (Status s = Request(code, payload, reply, expectedTag)) return s;
  if (SendFile(file1_) != 0 || SendFile(file2_) != 0) return kStatusPutFileToServer;
  if (link_.Receive(reply) != 0) return kStatusGetMessageFromServer;
  return reply->tag == expectedTag ? 0 : kStatusServerErrorOrWrongMessage;
}

Status ReceiveFilesExchange::Transact(uint32_t code, const char* payload, ReceivedMessage* reply,
                                      uint32_t expectedTag) {
  if (Status s = Request(code, payload, reply, expectedTag)) return s;
  if (Status s = ReceiveFile(file1_)) return s;
  if (Status s = ReceiveFile(file2_)) return s;
  // The server drops the job at this Ok, so the files must be on the disk
  // first: a crash after it would otherwise lose the only copy.
  if (!SyncReceived(file1_) || !SyncReceived(file2_)) return kStatusGetFileFromServer;
  link_.SendData(kTagOk, nullptr, 0);
  return 0;
}

}  // namespace korvo
