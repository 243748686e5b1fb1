// The plain record classes of the lists the clients show: registered users,
// address-book entries and junk senders, each made from its record text and
// turned back into its array of fields.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvo {

// Rights bits of a registered user.
inline constexpr uint32_t kRightRegistered = 0x02;     // own fax boxes
inline constexpr uint32_t kRightGlobalBook = 0x04;     // changing the global address book
inline constexpr uint32_t kRightDispatch = 0x08;       // dispatching faxes
inline constexpr uint32_t kRightAdministration = 0x10;

class RegisteredUserEntry {
 public:
  static constexpr int kFieldCount = 8;

  RegisteredUserEntry() = default;
  // From the 8-field record text.
  explicit RegisteredUserEntry(std::string_view text);
  // The fields in their text order, the rights in unsigned decimal.
  std::vector<std::string> ToArray() const;

  // Full name when set, else the user name.
  std::string GetDisplayName() const;
  // "<full name>: <user name>" when a full name is set, else the user name.
  std::string GetLabel() const;

  std::string userName;
  std::string fullName;
  uint32_t rights = 0;
  std::string description;
  std::string email;
  std::string company;
  std::string faxNumber;
  std::string phoneNumber;
};

class AddressEntry {
 public:
  static constexpr int kFieldCount = 10;

  AddressEntry() = default;
  explicit AddressEntry(std::string_view text);
  std::vector<std::string> ToArray() const;

  // "<first> <last>" when both are set, else the one set, else the company.
  std::string GetFullName() const;
  // "<last>, <first>" when both are set, else as GetFullName.
  std::string GetSortName() const;

  std::string firstName;
  std::string lastName;
  std::string company;
  std::string faxNumber;
  std::string phoneNumber;
  std::string address;
  // Carried through the encoding and stored unchanged; no screen shows them.
  std::string further1;
  std::string further2;
  std::string comment;
  int32_t id = 0;  // the book's record id
};

class JunkSenderEntry {
 public:
  static constexpr int kFieldCount = 3;

  JunkSenderEntry() = default;
  explicit JunkSenderEntry(std::string_view text);
  std::vector<std::string> ToArray() const;

  std::string stationId;  // the remote fax machine's identifier
  std::string description;
  int32_t id = 0;  // the book's record id
};

}  // namespace korvo
