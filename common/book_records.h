// Junk senders (Config/Denied.dbs) and address-book entries (Books/Address.bok
// and each user's local book): records keyed by an id from the book's serial
// counter, and their books.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/database.h"
#include "common/field_sizes.h"
#include "common/fixed_text.h"
#include "common/status.h"

namespace korvo {

static_assert(std::endian::native == std::endian::little, "stored records are little-endian");

// Text form: station identifier, description, id (decimal).
struct JunkSenderRecord {
  static constexpr int kFieldCount = 3;

  JunkSenderRecord() { Clear(); }
  void Clear();
  bool Decode(std::string_view text);
  std::string Encode() const;

  StoredText<field_size::kStationId> stationId;  // T.30 identifier of the sender
  StoredText<field_size::kSenderDescription> description;
  char reserved[3];  // zero
  int32_t id;
};
static_assert(sizeof(JunkSenderRecord) == 92);
static_assert(offsetof(JunkSenderRecord, description) == 21 && offsetof(JunkSenderRecord, id) == 88);

// Text form: first name, last name, company, fax number, phone number,
// address, further text 1, further text 2, comment, id (decimal).
struct AddressRecord {
  static constexpr int kFieldCount = 10;

  AddressRecord() { Clear(); }
  void Clear();
  bool Decode(std::string_view text);
  std::string Encode() const;

  StoredText<field_size::kAddressFirstName> firstName;
  StoredText<field_size::kAddressText> lastName;
  StoredText<field_size::kAddressText> company;
  StoredText<field_size::kAddressNumber> faxNumber;
  StoredText<field_size::kAddressNumber> phoneNumber;
  StoredText<field_size::kAddressText> address;
  StoredText<field_size::kAddressFurther1> further1;  // stored and carried unchanged
  StoredText<field_size::kAddressFurther2> further2;
  StoredText<field_size::kAddressCommentField> comment;
  int32_t id;
};
static_assert(sizeof(AddressRecord) == 412);
static_assert(offsetof(AddressRecord, lastName) == 32 && offsetof(AddressRecord, company) == 96 &&
              offsetof(AddressRecord, faxNumber) == 160 && offsetof(AddressRecord, phoneNumber) == 192 &&
              offsetof(AddressRecord, address) == 224 && offsetof(AddressRecord, further1) == 288 &&
              offsetof(AddressRecord, further2) == 309 && offsetof(AddressRecord, comment) == 341 &&
              offsetof(AddressRecord, id) == 408);

// Ascending ids.
int CompareSerialIds(const void* a, const void* b);   // junk sender records
int CompareAddressIds(const void* a, const void* b);  // address records

class JunkSenderDatabase : public LockedDatabase {
 public:
  JunkSenderDatabase(const std::string& path, bool* success);
  using LockedDatabase::Add;

  // Decodes the text, gives it the next id (stored in id at once) and adds
  // it: 0, or 0xC000140D when the id or the add fails.
  Status Add(std::string_view text, int32_t* id);
  // Replace or delete the record with the text's id.
  bool Edit(std::string_view text);
  bool Remove(std::string_view text);

 protected:
  void WriteRecordText(int index, RecordFile& file) override;
};

class AddressDatabase : public LockedDatabase {
 public:
  AddressDatabase(const std::string& path, bool* success);
  using LockedDatabase::Add;

  // As for junk senders; 0xC000140C on failure.
  Status Add(std::string_view text, int32_t* id);
  bool Edit(std::string_view text);
  bool Remove(std::string_view text);

 protected:
  void WriteRecordText(int index, RecordFile& file) override;
};

// The user's local address book, at the path the user's environment keeps;
// used for the address-book requests that name no server.
class LocalAddressDatabase : public AddressDatabase {
 public:
  explicit LocalAddressDatabase(bool* success);
  LocalAddressDatabase(const std::string& path, bool* success) : AddressDatabase(path, success) {}
};

}  // namespace korvo
