// The persistent fax classes every program shares, and the fax header file
// (.kvf, the pair of the image): exactly the bytes FaxHeader::Serialize
// stores, nothing before or after.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "common/archive.h"
#include "common/entries.h"
#include "common/stream.h"

namespace korvo {

// One party of a fax.
class FaxSenderOrRecipient {
 public:
  FaxSenderOrRecipient() = default;
  FaxSenderOrRecipient(std::string address, int32_t lan, std::string name, std::string company, std::string phone,
                       std::string fax);
  // A registered user, reached over the LAN.
  explicit FaxSenderOrRecipient(const RegisteredUserEntry& user);
  // An address-book entry, dialled at its fax number.
  explicit FaxSenderOrRecipient(const AddressEntry& entry);

  // Address, LAN flag, name, company, phone, fax.
  void Serialize(Archive& ar);

  // Name when set, else the address.
  std::string GetDisplayName() const;
  // "<name>: <address>" when a name is set, else the address.
  std::string GetLabel() const;
  // The same with " (LAN)" for a party on the LAN.
  std::string GetDisplayNameLan() const;
  std::string GetLabelLan() const;

  bool operator==(const FaxSenderOrRecipient&) const = default;

  std::string address;  // number to dial, or the user name of a registered user
  int32_t lan = 0;      // non-zero for a registered user reached over the LAN
  std::string name;
  std::string company;
  std::string phone;
  std::string fax;  // as printed on the cover page
};

// The send time of a fax job.
class ScheduleTimeInfo {
 public:
  static constexpr int32_t kAtChosenTime = 2;  // stored by the Send Fax dialog

  // Kind 0 at the current time.
  ScheduleTimeInfo() : time(static_cast<int32_t>(std::time(nullptr))) {}
  ScheduleTimeInfo(int32_t k, int32_t t) : kind(k), time(t) {}

  void Serialize(Archive& ar);
  bool operator==(const ScheduleTimeInfo&) const = default;

  int32_t kind = 0;
  int32_t time = 0;  // seconds since 1 January 1970
};

class RecipientList {
 public:
  void AddTail(const FaxSenderOrRecipient& party) { items_.push_back(party); }
  void RemoveAll() { items_.clear(); }
  int GetCount() const { return static_cast<int>(items_.size()); }
  bool IsEmpty() const { return items_.empty(); }
  const FaxSenderOrRecipient& operator[](int i) const { return items_[static_cast<std::size_t>(i)]; }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

  // Count, then each party; loading appends the loaded ones.
  void Serialize(Archive& ar);
  bool operator==(const RecipientList&) const = default;

 private:
  std::vector<FaxSenderOrRecipient> items_;
};

class FaxHeader {
 public:
  static constexpr uint16_t kVersion = 3;
  static constexpr uint8_t kPriorityUrgent = 0;
  static constexpr uint8_t kPriorityNormal = 100;
  static constexpr uint32_t kSaferDialing = 0x1;   // "Safer dialing and transmission"
  static constexpr uint32_t kSendCoverPage = 0x2;

  // Stores version 3 first; order: version, priority, subject, flags, queue
  // field, queue word, sender, recipients, send time.
  void Serialize(Archive& ar);

  // 1 when the file was written; 0 when it cannot be created or written.
  int SaveToFile(const std::string& path);
  // The same into an open file, at its position.
  int SaveTo(Stream& file);
  // 1 when a whole header of version 3 was read; 0 when the file cannot be
  // opened, is short or damaged, or holds another version. On 0 the header
  // is left as it was.
  int LoadFromFile(const std::string& path);
  // The same on bytes already in memory.
  int LoadFromBytes(const std::string& bytes);

  bool operator==(const FaxHeader&) const = default;

  uint16_t version = kVersion;
  FaxSenderOrRecipient sender;
  RecipientList recipients;
  uint8_t priority = 0;
  std::string subject;
  ScheduleTimeInfo sendTime;
  uint32_t flags = 0;
  // Written as 0 by the Send Fax dialog; in a header the server's queue hands
  // out with a received fax, the job's returned flag.
  int32_t queueField = 0;
  // In a header the server's queue hands out, the image's page count.
  uint16_t queueWord = 0;

 private:
  // The header's archive bytes; false when it cannot be serialised.
  bool ToBytes(std::string& bytes);
};

}  // namespace korvo
