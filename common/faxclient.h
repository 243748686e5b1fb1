// The client side of every request to the fax server: one method per request
// code, each over a connection of its own, each returning a RequestResult.
// The address-book methods and the list downloads also work without a
// server (a null server name) on the user's local address book.
//
// Record payloads are built in fixed buffers (256 bytes for address-book,
// junk-sender, modem and parameter records, 512 for registered users); a
// record whose text does not fit is refused with 0xC0001F5E and nothing is
// sent. Out values are written only on success, except the counter of
// DownloadListCounted (0 in every case) and the id of a local AddAddress
// (written as soon as the book assigned it). A method that needs a server
// and is given none returns 0xC000044C without connecting.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/connection_settings.h"
#include "common/entries.h"
#include "common/fax_header.h"
#include "common/modem_record.h"
#include "common/request_exchange.h"
#include "common/stream.h"

namespace korvo {

// Version word: major * 256 + minor.
constexpr uint32_t MakeVersion(uint32_t major, uint32_t minor) { return major * 256 + minor; }

// The registered users of a server, in the order the server listed them.
using UserEntryList = std::vector<RegisteredUserEntry>;

class FaxClient {
 public:
  // Request codes of the methods that take one from the caller, and of the
  // methods themselves.
  static constexpr uint32_t kDebugMessage = 88;
  static constexpr uint32_t kGetPermissions = 2020;
  static constexpr uint32_t kGetServerParameters = 2120;
  static constexpr uint32_t kSetServerParameters = 2130;
  static constexpr uint32_t kGetServerVersion = 2140;
  static constexpr uint32_t kGetServerTime = 2150;
  static constexpr uint32_t kIsServerSuspended = 3040;
  static constexpr uint32_t kSendFax = 4000;
  static constexpr uint32_t kGetFax = 4010;
  static constexpr uint32_t kAddAddress = 7010;
  static constexpr uint32_t kDeleteAddress = 7020;
  static constexpr uint32_t kEditAddress = 7030;
  static constexpr uint32_t kListUsers = 7500;
  static constexpr uint32_t kAddUser = 7510;
  static constexpr uint32_t kDeleteUser = 7520;
  static constexpr uint32_t kEditUser = 7530;
  static constexpr uint32_t kGetUser = 7540;
  static constexpr uint32_t kAddJunkSender = 7810;
  static constexpr uint32_t kDeleteJunkSender = 7820;
  static constexpr uint32_t kEditJunkSender = 7830;
  static constexpr uint32_t kAddModem = 8020;
  static constexpr uint32_t kEditModem = 8030;
  static constexpr uint32_t kDeleteModem = 8040;

  // Buffer sizes of the record payloads.
  static constexpr size_t kRecordBufferSize = 256;
  static constexpr size_t kUserBufferSize = 512;
  // The name field: a registered user's name holds at most 31 characters.
  static constexpr size_t kUserNameSize = 32;

  // Takes the process's login name (empty when it does not fit the field).
  FaxClient();

  const char* GetUserName() const { return userName_; }

  RequestResult AddAddress(const char* server, const AddressEntry& entry, int32_t& id);
  // code: 7020 delete, 7030 edit.
  RequestResult ChangeAddress(const char* server, uint32_t code, const AddressEntry& entry);
  // code: 7510 add, 7520 delete, 7530 edit.
  RequestResult ChangeUser(const char* server, uint32_t code, const RegisteredUserEntry& user);
  RequestResult GetUser(const char* server, const char* userName, RegisteredUserEntry& user);
  RequestResult AddJunkSender(const char* server, const JunkSenderEntry& entry, int32_t& id);
  // code: 7820 delete, 7830 edit.
  RequestResult ChangeJunkSender(const char* server, uint32_t code, const JunkSenderEntry& entry);
  RequestResult AddModem(const char* server, const ModemRecord& modem, int32_t& id);
  RequestResult EditModem(const char* server, const ModemRecord& modem);
  RequestResult DeleteModem(const char* server, const ModemRecord& modem);
  // The number travels as unsigned decimal text.
  RequestResult SendNumber(const char* server, uint32_t code, uint32_t number);
  RequestResult GetServerTime(const char* server, uint32_t& time);
  RequestResult GetServerVersion(const char* server, uint32_t& version);
  RequestResult GetServerParameters(const char* server, ConnectionSettings& settings);
  RequestResult SetServerParameters(const char* server, const ConnectionSettings& settings);
  // A list request; the list arrives as a file (a path, or an open file
  // that is emptied first). A null selector sends no payload. Without a
  // server the local book is listed, into a file given by its path only.
  RequestResult DownloadList(const char* server, uint32_t code, const char* selector, const FileRef& file);
  RequestResult DownloadListCounted(const char* server, uint32_t code, const char* selector, const FileRef& file,
                                    uint32_t& counter);
  // Appends the server's registered users to the list, through a temporary
  // "LST" file in the data folder (0xC000046A when none can be made there).
  RequestResult GetUserList(const char* server, UserEntryList& list);
  // Sends two files with request 4000: the fax header file, then the image.
  RequestResult SendFaxFiles(const char* server, const FileRef& file1, const FileRef& file2);
  // The same with the header saved to a temporary file of the data folder.
  RequestResult SendFax(const char* server, const FaxHeader& header, const FileRef& imageFile);
  RequestResult GetFax(const char* server, int32_t faxId, const FileRef& headerFile, const FileRef& imageFile);
  RequestResult IsServerSuspended(const char* server, int& flag);
  // code: 2202, 2212, 3000, 3010, 3020 or 3030.
  RequestResult SendCommand(const char* server, uint32_t code);
  RequestResult SendDebugMessage(const char* server);
  RequestResult GetPermissions(const char* server, uint32_t& bits);

  // Goes back to the caller's own name, then takes the given one for later
  // requests when the caller holds the administration right. 1 when it did;
  // 0 otherwise, also for a null name or one longer than 31 characters.
  int ActForUser(const char* server, const char* userName);

  // A new empty file "<prefix>XXXX.TMP" in the folder; empty when none can
  // be made, or no folder is given.
  static std::string MakeTempFileName(const std::string& folder, const char* prefix);
  // The same, with the new file (0600) left open in file, which is how it
  // is filled and read: the name is never opened again. False when none can
  // be made.
  static bool MakeTempFile(const std::string& folder, const char* prefix, TextFile& file);
  // Nothing for an empty name.
  static void DeleteTempFile(const std::string& name);

 private:
  RequestResult Plain(const char* server, uint32_t code, const char* payload, std::string* reply);
  RequestResult SendRecord(const char* server, uint32_t code, const std::string& text, size_t bufferSize,
                           std::string* reply);
  RequestResult AddRecord(const char* server, uint32_t code, const std::string& text, int32_t& id);
  RequestResult LocalAdd(const AddressEntry& entry, int32_t& id);
  RequestResult LocalChange(uint32_t code, const AddressEntry& entry);
  RequestResult LocalList(const char* selector, const FileRef& file);
  void TakeOwnName();

  char userName_[kUserNameSize] = {};
};

}  // namespace korvo
