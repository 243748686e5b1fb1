#include "common/user_record.h"

#include <cctype>
#include <cstring>
#include <vector>

#include "common/fields.h"
#include "common/settings.h"
#include "common/status_codes.h"

namespace korvo {

bool UserRecord::FitsName(std::string_view name) {
  if (name.empty() || name.size() > sizeof(userName) - 1) return false;
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7F) return false;
  return true;
}

void UserRecord::Clear() { std::memset(this, 0, sizeof *this); }

void UserRecord::Set(std::string_view name, std::string_view full, std::string_view desc, uint32_t r) {
  Clear();
  userName.Assign(name);
  fullName.Assign(full);
  description.Assign(desc);
  rights = r;
}

bool UserRecord::Decode(std::string_view text) {
  Clear();
  std::vector<std::string> f(kFieldCount);
  DecodeFields(text, f);
  userName.Assign(f[0]);
  fullName.Assign(f[1]);
  rights = ParseUnsignedDecimal(f[2]);
  description.Assign(f[3]);
  email.Assign(f[4]);
  organisation.Assign(f[5]);
  faxNumber.Assign(f[6]);
  phoneNumber.Assign(f[7]);
  return true;
}

std::string UserRecord::Encode() const {
  std::string text;
  EncodeFields(&text,
               {userName.Str(), fullName.Str(), std::to_string(rights), description.Str(), email.Str(),
                organisation.Str(), faxNumber.Str(), phoneNumber.Str()},
               kFieldCount);
  return text;
}

namespace {

// The order of the Windows "word sort" that user books written there are
// kept in, for 8-bit names: letter case is ignored, punctuation sorts before
// digits and digits before letters, and hyphens and apostrophes only decide
// between names that are otherwise equal.
int SortWeight(unsigned char c) {
  const int lower = std::tolower(c);
  if (std::isalpha(c)) return 0x200 + lower;
  if (std::isdigit(c)) return 0x100 + c;
  return c;  // punctuation, control characters; bytes from 0x80 go last
}

bool IgnoredAtFirst(char c) { return c == '-' || c == '\''; }

int CompareWeights(std::string_view a, std::string_view b, bool skipIgnored) {
  std::size_t i = 0, j = 0;
  for (;;) {
    if (skipIgnored) {
      while (i < a.size() && IgnoredAtFirst(a[i])) ++i;
      while (j < b.size() && IgnoredAtFirst(b[j])) ++j;
    }
    if (i == a.size() || j == b.size()) return (i < a.size()) - (j < b.size());
    int x = SortWeight(static_cast<unsigned char>(a[i])), y = SortWeight(static_cast<unsigned char>(b[j]));
    if (static_cast<unsigned char>(a[i]) >= 0x80) x += 0x300;
    if (static_cast<unsigned char>(b[j]) >= 0x80) y += 0x300;
    if (x != y) return x < y ? -1 : 1;
    ++i;
    ++j;
  }
}

int CompareNoCase(std::string_view a, std::string_view b) {
  const int c = CompareWeights(a, b, true);
  return c != 0 ? c : CompareWeights(a, b, false);
}

bool IsAdministrator(std::string_view name) { return CompareNoCase(name, kAdministratorName) == 0; }

}  // namespace

int CompareUserNames(const void* a, const void* b) {
  return CompareNoCase(static_cast<const UserRecord*>(a)->userName.Get(),
                       static_cast<const UserRecord*>(b)->userName.Get());
}

UserDatabase::UserDatabase(const std::string& path, bool* success)
    // Damaged records would refuse every user, root too: the book is read
    // whole once, and a damaged one kept aside for a new one.
    : LockedDatabase(path.c_str(), sizeof(UserRecord), CompareUserNames, Database::Check::kSlots) {
  const bool ok = IsOpen() && EnsureAdministrator();
  if (success) *success = ok;
}

bool UserDatabase::EnsureAdministrator() {
  Access db(*this);
  if (!db) return false;
  if (db->GetCount() > 0) return true;
  UserRecord admin;
  admin.Set(kAdministratorName, "", "", kAdministratorRights);
  return db->Add(&admin) >= 0;
}

// The name the record text gives, whole.
std::string NameOf(std::string_view text) {
  std::vector<std::string> f(1);
  DecodeFields(text, f);
  return f[0];
}

bool UserDatabase::AddUser(std::string_view text) {
  UserRecord user;
  // A name is never cut: cut, it would register another login's name. A
  // name of blanks names nobody, as an empty one does.
  if (!UserRecord::FitsName(NameOf(text)) || !user.Decode(text) ||
      user.userName.Get().find_first_not_of(" 	") == std::string::npos)
    return false;
  return Add(&user);
}

bool UserDatabase::EditUser(std::string_view text) {
  UserRecord user;
  if (NameOf(text).size() > sizeof user.userName - 1 || !user.Decode(text)) return false;
  if (IsAdministrator(user.userName.Get())) {
    user.userName.Assign(kAdministratorName);
    user.rights |= kAdministratorRights;
  }
  return Replace(&user);
}

bool UserDatabase::DeleteUser(std::string_view text) {
  UserRecord user;
  if (NameOf(text).size() > sizeof user.userName - 1 || !user.Decode(text) || IsAdministrator(user.userName.Get()))
    return false;
  return Delete(&user);
}

uint32_t UserDatabase::GetRights(std::string_view name) {
  UserRecord key, user;
  // Cut, a longer name would be found as another user.
  if (name.size() > sizeof key.userName - 1) return 0;
  key.Set(name, "", "", 0);
  return Get(&key, &user) ? user.rights : 0;
}

uint32_t UserDatabase::GetLoginRights(std::string_view login) {
  UserRecord key, user;
  key.Set(login, "", "", 0);
  if (!Get(&key, &user) || user.userName.Get() != login || IsAdministrator(login)) return 0;
  return user.rights;
}

namespace {

// An empty field takes the server's value when it can be read.
template <std::size_t N>
void FillFromServer(FixedText<N>& field, const char* value) {
  if (!field.Empty()) return;
  char buffer[N] = {};
  if (KvReadRegStr("Server", value, buffer, N)) field.Assign(std::string_view(buffer, strnlen(buffer, N)));
}

}  // namespace

Status UserDatabase::GetUser(std::string_view name, UserRecord* user) {
  UserRecord key, found;
  if (name.size() > sizeof key.userName - 1) return kStatusRecordNotFound;
  key.Set(name, "", "", 0);
  Access db(*this);
  if (!db.Locked()) return kStatusServerTooBusy;
  if (!db.Opened()) return kStatusDatabaseError;
  if (!db->Get(&key, &found)) return kStatusRecordNotFound;
  FillFromServer(found.organisation, "Organization");
  FillFromServer(found.phoneNumber, "MainPhoneNumber");
  FillFromServer(found.faxNumber, "MainFaxNumber");
  if (user) *user = found;
  return kStatusSuccess;
}

void UserDatabase::WriteRecordText(int index, RecordFile& file) {
  UserRecord user;
  if (!Db().GetAt(index, &user)) throw DBException(DBException::kReadFailed);
  file.WriteLine(user.Encode());
}

}  // namespace korvo
