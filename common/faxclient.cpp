#include "common/faxclient.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "common/book_records.h"
#include "common/fields.h"
#include "common/status_codes.h"
#include "common/stream.h"
#include "common/userenvironment.h"
#include "platform/tempfile.h"
#include "platform/username.h"

namespace korvo {

namespace {

constexpr size_t kPayloadSize = 4096;
constexpr size_t kLineBufferSize = 512;
constexpr const char* kDebugText = "Debug message !!!";

std::string Encode(const std::vector<std::string>& fields) {
  std::string text;
  EncodeFields(&text, fields, static_cast<int>(fields.size()));
  return text;
}

// The reply's text up to its NUL (a text payload counts its NUL).
std::string ReplyText(const std::string& payload) { return std::string(payload.c_str()); }

bool ReadLong(const std::string& payload, uint32_t& value) {
  if (payload.size() < 4) return false;
  const auto* b = reinterpret_cast<const unsigned char*>(payload.data());
  value = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
  return true;
}

}  // namespace

FaxClient::FaxClient() { TakeOwnName(); }

void FaxClient::TakeOwnName() {
  if (!platform::GetUserName(userName_, sizeof userName_)) userName_[0] = '\0';
}

RequestResult FaxClient::Plain(const char* server, uint32_t code, const char* payload, std::string* reply) {
  if (!server) return RequestResult(kStatusCannotConnect);
  if (payload && std::strlen(payload) + 1 > kPayloadSize) return RequestResult(kStatusDbDataTooLarge);
  RequestExchange exchange(userName_);
  ReceivedMessage message;
  RequestResult result = exchange.Run(server, code, payload, &message);
  if (result.status == 0 && reply) {
    if (message.payload) reply->assign(reinterpret_cast<const char*>(message.payload), message.length);
    else reply->clear();
  }
  return result;
}

RequestResult FaxClient::SendRecord(const char* server, uint32_t code, const std::string& text, size_t bufferSize,
                                    std::string* reply) {
  // The text with its NUL must fit the record buffer; cutting it would
  // store a different record than the one the user entered.
  if (text.size() + 1 > bufferSize) return RequestResult(kStatusDbDataTooLarge);
  return Plain(server, code, text.c_str(), reply);
}

RequestResult FaxClient::AddRecord(const char* server, uint32_t code, const std::string& text, int32_t& id) {
  std::string reply;
  RequestResult result = SendRecord(server, code, text, kRecordBufferSize, &reply);
  if (result.status == 0) id = ParseDecimal(ReplyText(reply));
  return result;
}

RequestResult FaxClient::AddAddress(const char* server, const AddressEntry& entry, int32_t& id) {
  if (!server) return LocalAdd(entry, id);
  return AddRecord(server, kAddAddress, Encode(entry.ToArray()), id);
}

RequestResult FaxClient::ChangeAddress(const char* server, uint32_t code, const AddressEntry& entry) {
  if (!server) return LocalChange(code, entry);
  return SendRecord(server, code, Encode(entry.ToArray()), kRecordBufferSize, nullptr);
}

RequestResult FaxClient::LocalAdd(const AddressEntry& entry, int32_t& id) {
  std::string text = Encode(entry.ToArray());
  if (text.size() + 1 > kRecordBufferSize) return RequestResult(kStatusDbDataTooLarge);
  bool opened = false;
  LocalAddressDatabase book(GetUserEnvironment().GetLocalBookPath(), &opened);
  int32_t newId = 0;
  Status status = book.Add(text, &newId);
  // The book hands its new id out before the add itself can fail.
  if (newId != 0) id = newId;
  if (status != 0) return RequestResult(kStatusAddAddress);
  return RequestResult(kStatusSuccess);
}

RequestResult FaxClient::LocalChange(uint32_t code, const AddressEntry& entry) {
  std::string text = Encode(entry.ToArray());
  if (text.size() + 1 > kRecordBufferSize) return RequestResult(kStatusDbDataTooLarge);
  bool opened = false;
  LocalAddressDatabase book(GetUserEnvironment().GetLocalBookPath(), &opened);
  if (code == kDeleteAddress) {
    if (!book.Remove(text)) return RequestResult(kStatusLocalBookRemove);
  } else if (code == kEditAddress) {
    if (!book.Edit(text)) return RequestResult(kStatusLocalBookEdit);
  } else {
    return RequestResult(kStatusWrongMessageId);
  }
  return RequestResult(kStatusSuccess, "");
}

RequestResult FaxClient::ChangeUser(const char* server, uint32_t code, const RegisteredUserEntry& user) {
  return SendRecord(server, code, Encode(user.ToArray()), kUserBufferSize, nullptr);
}

RequestResult FaxClient::GetUser(const char* server, const char* userName, RegisteredUserEntry& user) {
  std::string reply;
  RequestResult result = Plain(server, kGetUser, userName, &reply);
  if (result.status == 0) user = RegisteredUserEntry(ReplyText(reply));
  return result;
}

RequestResult FaxClient::AddJunkSender(const char* server, const JunkSenderEntry& entry, int32_t& id) {
  return AddRecord(server, kAddJunkSender, Encode(entry.ToArray()), id);
}

RequestResult FaxClient::ChangeJunkSender(const char* server, uint32_t code, const JunkSenderEntry& entry) {
  return SendRecord(server, code, Encode(entry.ToArray()), kRecordBufferSize, nullptr);
}

RequestResult FaxClient::AddModem(const char* server, const ModemRecord& modem, int32_t& id) {
  return AddRecord(server, kAddModem, modem.Encode(), id);
}

RequestResult FaxClient::EditModem(const char* server, const ModemRecord& modem) {
  return SendRecord(server, kEditModem, modem.Encode(), kRecordBufferSize, nullptr);
}

RequestResult FaxClient::DeleteModem(const char* server, const ModemRecord& modem) {
  return Plain(server, kDeleteModem, std::to_string(modem.id).c_str(), nullptr);
}

RequestResult FaxClient::SendNumber(const char* server, uint32_t code, uint32_t number) {
  return Plain(server, code, std::to_string(number).c_str(), nullptr);
}

RequestResult FaxClient::GetServerTime(const char* server, uint32_t& time) {
  std::string reply;
  RequestResult result = Plain(server, kGetServerTime, nullptr, &reply);
  if (result.status == 0 && !ReadLong(reply, time)) return RequestResult(kStatusServerWrongMessage);
  return result;
}

RequestResult FaxClient::GetServerVersion(const char* server, uint32_t& version) {
  std::string reply;
  RequestResult result = Plain(server, kGetServerVersion, nullptr, &reply);
  if (result.status == 0 && !ReadLong(reply, version)) return RequestResult(kStatusServerWrongMessage);
  return result;
}

RequestResult FaxClient::GetServerParameters(const char* server, ConnectionSettings& settings) {
  std::string reply;
  RequestResult result = Plain(server, kGetServerParameters, nullptr, &reply);
  if (result.status == 0) {
    std::vector<std::string> fields(ConnectionSettings::kFieldCount);
    DecodeFields(ReplyText(reply), fields);
    settings.stationId = fields[0];
    settings.retryAttempts = ParseDecimal(fields[1]);
    settings.retryInterval = ParseDecimal(fields[2]);
  }
  return result;
}

RequestResult FaxClient::SetServerParameters(const char* server, const ConnectionSettings& settings) {
  std::string text = Encode({settings.stationId, std::to_string(settings.retryAttempts),
                             std::to_string(settings.retryInterval)});
  return SendRecord(server, kSetServerParameters, text, kRecordBufferSize, nullptr);
}

RequestResult FaxClient::LocalList(const char* selector, const FileRef& file) {
  // The book writes its list by name.
  if (file.stream) return RequestResult(kStatusCreateList);
  bool opened = false;
  LocalAddressDatabase book(GetUserEnvironment().GetLocalBookPath(), &opened);
  return RequestResult(book.WriteList(selector, file.path.c_str()));
}

RequestResult FaxClient::DownloadList(const char* server, uint32_t code, const char* selector, const FileRef& file) {
  if (!server) return LocalList(selector, file);
  if (selector && std::strlen(selector) + 1 > kPayloadSize) return RequestResult(kStatusDbDataTooLarge);
  ReceiveFileExchange exchange(userName_, file);
  return exchange.Run(server, code, selector, nullptr);
}

RequestResult FaxClient::DownloadListCounted(const char* server, uint32_t code, const char* selector,
                                             const FileRef& file, uint32_t& counter) {
  counter = 0;
  return DownloadList(server, code, selector, file);
}

RequestResult FaxClient::GetUserList(const char* server, UserEntryList& list) {
  TextFile file;
  if (!MakeTempFile(GetUserEnvironment().GetDataPath(), "LST", file)) return RequestResult(kStatusGetFileFromServer);
  RequestResult result = DownloadList(server, kListUsers, "0", file);
  if (result.status == 0 && file.SeekToBegin() == 0) {
    try {
      char line[kLineBufferSize];
      while (file.ReadLine(line, sizeof line, nullptr)) list.push_back(RegisteredUserEntry(line));
    } catch (const std::bad_alloc&) {
      result = RequestResult(kStatusReadFile);
    }
  }
  file.Close();
  DeleteTempFile(file.GetFileName());
  return result;
}

RequestResult FaxClient::SendFaxFiles(const char* server, const FileRef& file1, const FileRef& file2) {
  if (!server) return RequestResult(kStatusCannotConnect);
  SendFilesExchange exchange(userName_, file1, file2);
  return exchange.Run(server, kSendFax, nullptr, nullptr);
}

RequestResult FaxClient::SendFax(const char* server, const FaxHeader& header, const FileRef& imageFile) {
  TextFile file;
  const bool made = MakeTempFile(GetUserEnvironment().GetDataPath(), "HDR", file);
  FaxHeader copy(header);
  RequestResult result(kStatusCreateFaxHeader);
  if (made && copy.SaveTo(file)) result = SendFaxFiles(server, file, imageFile);
  file.Close();
  DeleteTempFile(file.GetFileName());
  return result;
}

RequestResult FaxClient::GetFax(const char* server, int32_t faxId, const FileRef& headerFile,
                                const FileRef& imageFile) {
  if (!server) return RequestResult(kStatusCannotConnect);
  ReceiveFilesExchange exchange(userName_, headerFile, imageFile);
  return exchange.Run(server, kGetFax, std::to_string(faxId).c_str(), nullptr);
}

RequestResult FaxClient::IsServerSuspended(const char* server, int& flag) {
  std::string reply;
  RequestResult result = Plain(server, kIsServerSuspended, nullptr, &reply);
  if (result.status == 0) flag = !reply.empty() && reply[0] == 'Y' ? 1 : 0;
  return result;
}

RequestResult FaxClient::SendCommand(const char* server, uint32_t code) { return Plain(server, code, nullptr, nullptr); }

RequestResult FaxClient::SendDebugMessage(const char* server) { return Plain(server, kDebugMessage, kDebugText, nullptr); }

RequestResult FaxClient::GetPermissions(const char* server, uint32_t& bits) {
  std::string reply;
  RequestResult result = Plain(server, kGetPermissions, nullptr, &reply);
  if (result.status == 0) bits = static_cast<uint32_t>(ParseDecimal(ReplyText(reply)));
  return result;
}

int FaxClient::ActForUser(const char* server, const char* userName) {
  TakeOwnName();
  if (!userName || std::strlen(userName) >= kUserNameSize) return 0;
  uint32_t bits = 0;
  if (GetPermissions(server, bits).status != 0 || !(bits & kRightAdministration)) return 0;
  std::memcpy(userName_, userName, std::strlen(userName) + 1);
  return 1;
}

std::string FaxClient::MakeTempFileName(const std::string& folder, const char* prefix) {
  // No folder (a user without a data folder) is no place: the name would
  // land in whatever directory the program happens to run in.
  if (folder.empty()) return {};
  std::string name;
  if (!platform::GetTempFileName(folder, prefix ? prefix : "", 0, name)) return {};
  return name;
}

bool FaxClient::MakeTempFile(const std::string& folder, const char* prefix, TextFile& file) {
  if (folder.empty()) return false;
  std::string name;
  const Handle handle = platform::CreateTempFile(folder, prefix ? prefix : "", name);
  if (handle == kInvalidHandle) return false;
  file.Adopt(handle, name);
  return true;
}

void FaxClient::DeleteTempFile(const std::string& name) {
  if (!name.empty()) std::remove(name.c_str());
}

}  // namespace korvo
