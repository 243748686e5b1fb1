// Registered users: the 360-byte record of Config/RegUsers.dbs and its book.
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

inline constexpr char kAdministratorName[] = "Administrator";
inline constexpr uint32_t kAdministratorRights = 63;

// Text form: user name, full name, rights (unsigned decimal), description,
// e-mail address, organisation, fax number, phone number.
struct UserRecord {
  static constexpr int kFieldCount = 8;

  UserRecord() { Clear(); }
  // Whether a login fits the user name field whole: 1 to 31 bytes without
  // control bytes (0x1B ends a record's field). A login that does not is
  // nobody's record: cut, it could be another user's name.
  static bool FitsName(std::string_view name);

  void Clear();
  // A cleared record with these four fields.
  void Set(std::string_view name, std::string_view fullName, std::string_view description, uint32_t rights);
  // The 8 fields of the text into the record, each cut to its array.
  bool Decode(std::string_view text);
  std::string Encode() const;

  uint32_t rights;
  StoredText<field_size::kUserName> userName;  // the key, compared without regard to case
  StoredText<field_size::kUserText> fullName;
  StoredText<field_size::kUserText> description;
  StoredText<field_size::kUserText> email;
  StoredText<field_size::kUserText> organisation;
  StoredText<field_size::kUserNumber> faxNumber;
  StoredText<field_size::kUserNumber> phoneNumber;
  uint32_t reserved;  // zero
};
static_assert(sizeof(UserRecord) == 360);
static_assert(offsetof(UserRecord, userName) == 4 && offsetof(UserRecord, fullName) == 36 &&
              offsetof(UserRecord, description) == 100 && offsetof(UserRecord, email) == 164 &&
              offsetof(UserRecord, organisation) == 228 && offsetof(UserRecord, faxNumber) == 292 &&
              offsetof(UserRecord, phoneNumber) == 324 && offsetof(UserRecord, reserved) == 356);

// Case-insensitive order of the user names, as Windows sorted them.
int CompareUserNames(const void* a, const void* b);

class UserDatabase : public LockedDatabase {
 public:
  // success: the file opened and holds at least the administrator.
  UserDatabase(const std::string& path, bool* success);

  // Adds "Administrator" with rights 63 when the book holds no record.
  bool EnsureAdministrator();
  // False for an empty user name, a name already present or a failure.
  bool AddUser(std::string_view text);
  // Replaces the user of that name. The administrator keeps its name and
  // its rights 63, whatever else the edit changes.
  bool EditUser(std::string_view text);
  // The administrator (in any letter case) is never deleted.
  bool DeleteUser(std::string_view text);
  // The rights word; 0 for an unknown user or on any failure.
  uint32_t GetRights(std::string_view name);
  // The rights of a login, whose name must match the registered name
  // exactly, as the system compares logins; the built-in administrator's
  // record is no login's (it is root's). 0 when none matches.
  uint32_t GetLoginRights(std::string_view login);
  // The user with the server's organisation, phone and fax numbers filled
  // in where the record leaves them empty. 0xC00013EC when the book is
  // busy, 0xC000140F for an unknown user, 0xC000140A when the file fails.
  Status GetUser(std::string_view name, UserRecord* user);

 protected:
  void WriteRecordText(int index, RecordFile& file) override;
};

}  // namespace korvo
