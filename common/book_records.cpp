#include "common/book_records.h"

#include <cstring>
#include <vector>

#include "common/fields.h"
#include "common/status_codes.h"
#include "common/userenvironment.h"

namespace korvo {

namespace {

// Ordered without the overflow a plain difference has at the extremes.
int CompareIds(int32_t a, int32_t b) { return (a > b) - (a < b); }

// The next id and the add, in one hold of the book.
template <typename Record>
bool AddWithSerial(Database& db, Record& record, int32_t* id) {
  const uint32_t serial = db.NextSerial();
  record.id = static_cast<int32_t>(serial);
  if (id) *id = record.id;
  return serial != 0 && db.Add(&record) >= 0;
}

}  // namespace

void JunkSenderRecord::Clear() { std::memset(this, 0, sizeof *this); }

bool JunkSenderRecord::Decode(std::string_view text) {
  Clear();
  std::vector<std::string> f(kFieldCount);
  DecodeFields(text, f);
  stationId.Assign(f[0]);
  description.Assign(f[1]);
  id = ParseDecimal(f[2]);
  return true;
}

std::string JunkSenderRecord::Encode() const {
  std::string text;
  EncodeFields(&text, {stationId.Str(), description.Str(), std::to_string(id)}, kFieldCount);
  return text;
}

void AddressRecord::Clear() { std::memset(this, 0, sizeof *this); }

bool AddressRecord::Decode(std::string_view text) {
  Clear();
  std::vector<std::string> f(kFieldCount);
  DecodeFields(text, f);
  firstName.Assign(f[0]);
  lastName.Assign(f[1]);
  company.Assign(f[2]);
  faxNumber.Assign(f[3]);
  phoneNumber.Assign(f[4]);
  address.Assign(f[5]);
  further1.Assign(f[6]);
  further2.Assign(f[7]);
  comment.Assign(f[8]);
  id = ParseDecimal(f[9]);
  return true;
}

std::string AddressRecord::Encode() const {
  std::string text;
  EncodeFields(&text,
               {firstName.Str(), lastName.Str(), company.Str(), faxNumber.Str(), phoneNumber.Str(), address.Str(),
                further1.Str(), further2.Str(), comment.Str(), std::to_string(id)},
               kFieldCount);
  return text;
}

int CompareSerialIds(const void* a, const void* b) {
  return CompareIds(static_cast<const JunkSenderRecord*>(a)->id, static_cast<const JunkSenderRecord*>(b)->id);
}

int CompareAddressIds(const void* a, const void* b) {
  return CompareIds(static_cast<const AddressRecord*>(a)->id, static_cast<const AddressRecord*>(b)->id);
}

JunkSenderDatabase::JunkSenderDatabase(const std::string& path, bool* success)
    : LockedDatabase(path.c_str(), sizeof(JunkSenderRecord), CompareSerialIds) {
  if (success) *success = IsOpen();
}

Status JunkSenderDatabase::Add(std::string_view text, int32_t* id) {
  JunkSenderRecord record;
  if (!record.Decode(text)) return kStatusAddJunkSender;
  Access db(*this);
  if (!db || !AddWithSerial(*db, record, id)) return kStatusAddJunkSender;
  return kStatusSuccess;
}

bool JunkSenderDatabase::Edit(std::string_view text) {
  JunkSenderRecord record;
  return record.Decode(text) && Replace(&record);
}

bool JunkSenderDatabase::Remove(std::string_view text) {
  JunkSenderRecord record;
  return record.Decode(text) && Delete(&record);
}

void JunkSenderDatabase::WriteRecordText(int index, RecordFile& file) {
  JunkSenderRecord record;
  if (!Db().GetAt(index, &record)) throw DBException(DBException::kReadFailed);
  file.WriteLine(record.Encode());
}

AddressDatabase::AddressDatabase(const std::string& path, bool* success)
    : LockedDatabase(path.c_str(), sizeof(AddressRecord), CompareAddressIds) {
  if (success) *success = IsOpen();
}

Status AddressDatabase::Add(std::string_view text, int32_t* id) {
  AddressRecord record;
  if (!record.Decode(text)) return kStatusAddAddress;
  Access db(*this);
  if (!db || !AddWithSerial(*db, record, id)) return kStatusAddAddress;
  return kStatusSuccess;
}

bool AddressDatabase::Edit(std::string_view text) {
  AddressRecord record;
  return record.Decode(text) && Replace(&record);
}

bool AddressDatabase::Remove(std::string_view text) {
  AddressRecord record;
  return record.Decode(text) && Delete(&record);
}

void AddressDatabase::WriteRecordText(int index, RecordFile& file) {
  AddressRecord record;
  if (!Db().GetAt(index, &record)) throw DBException(DBException::kReadFailed);
  file.WriteLine(record.Encode());
}

LocalAddressDatabase::LocalAddressDatabase(bool* success)
    : AddressDatabase(GetUserEnvironment().GetLocalBookPath(), success) {}

}  // namespace korvo
