#include "common/entries.h"

#include "common/fields.h"

namespace korvo {

RegisteredUserEntry::RegisteredUserEntry(std::string_view text) {
  std::vector<std::string> f(kFieldCount);
  DecodeFields(text, f);
  userName = f[0];
  fullName = f[1];
  rights = ParseUnsignedDecimal(f[2]);
  description = f[3];
  email = f[4];
  company = f[5];
  faxNumber = f[6];
  phoneNumber = f[7];
}

std::vector<std::string> RegisteredUserEntry::ToArray() const {
  return {userName, fullName, std::to_string(rights), description, email, company, faxNumber, phoneNumber};
}

std::string RegisteredUserEntry::GetDisplayName() const { return fullName.empty() ? userName : fullName; }

std::string RegisteredUserEntry::GetLabel() const {
  return fullName.empty() ? userName : fullName + ": " + userName;
}

AddressEntry::AddressEntry(std::string_view text) {
  std::vector<std::string> f(kFieldCount);
  DecodeFields(text, f);
  firstName = f[0];
  lastName = f[1];
  company = f[2];
  faxNumber = f[3];
  phoneNumber = f[4];
  address = f[5];
  further1 = f[6];
  further2 = f[7];
  comment = f[8];
  id = ParseDecimal(f[9]);
}

std::vector<std::string> AddressEntry::ToArray() const {
  return {firstName, lastName, company, faxNumber, phoneNumber, address, further1, further2, comment,
          std::to_string(id)};
}

std::string AddressEntry::GetFullName() const {
  if (!firstName.empty() && !lastName.empty()) return firstName + " " + lastName;
  if (!firstName.empty()) return firstName;
  if (!lastName.empty()) return lastName;
  return company;
}

std::string AddressEntry::GetSortName() const {
  if (!firstName.empty() && !lastName.empty()) return lastName + ", " + firstName;
  return GetFullName();
}

JunkSenderEntry::JunkSenderEntry(std::string_view text) {
  std::vector<std::string> f(kFieldCount);
  DecodeFields(text, f);
  stationId = f[0];
  description = f[1];
  id = ParseDecimal(f[2]);
}

std::vector<std::string> JunkSenderEntry::ToArray() const { return {stationId, description, std::to_string(id)}; }

}  // namespace korvo
