#include "common/fax_header.h"

#include <fstream>
#include <iterator>
#include <new>

namespace korvo {

FaxSenderOrRecipient::FaxSenderOrRecipient(std::string a, int32_t l, std::string n, std::string c, std::string p,
                                           std::string f)
    : address(std::move(a)), lan(l), name(std::move(n)), company(std::move(c)), phone(std::move(p)),
      fax(std::move(f)) {}

FaxSenderOrRecipient::FaxSenderOrRecipient(const RegisteredUserEntry& user)
    : address(user.userName), lan(1), name(user.fullName.empty() ? user.userName : user.fullName),
      company(user.company), phone(user.phoneNumber), fax(user.faxNumber) {}

FaxSenderOrRecipient::FaxSenderOrRecipient(const AddressEntry& entry)
    : address(entry.faxNumber), lan(0), name(entry.GetFullName()), company(entry.company),
      phone(entry.phoneNumber), fax(entry.faxNumber) {}

void FaxSenderOrRecipient::Serialize(Archive& ar) {
  ar.Transfer(address);
  ar.Transfer(lan);
  ar.Transfer(name);
  ar.Transfer(company);
  ar.Transfer(phone);
  ar.Transfer(fax);
}

std::string FaxSenderOrRecipient::GetDisplayName() const { return name.empty() ? address : name; }

std::string FaxSenderOrRecipient::GetLabel() const { return name.empty() ? address : name + ": " + address; }

std::string FaxSenderOrRecipient::GetDisplayNameLan() const {
  return lan ? GetDisplayName() + " (LAN)" : GetDisplayName();
}

std::string FaxSenderOrRecipient::GetLabelLan() const { return lan ? GetLabel() + " (LAN)" : GetLabel(); }

void ScheduleTimeInfo::Serialize(Archive& ar) {
  ar.Transfer(kind);
  ar.Transfer(time);
}

void RecipientList::Serialize(Archive& ar) {
  if (ar.IsStoring()) {
    ar.WriteCount(static_cast<uint32_t>(items_.size()));
    for (auto& party : items_) party.Serialize(ar);
    return;
  }
  // Each party takes at least nine bytes, so a damaged count ends at the
  // archive's end rather than in a huge allocation.
  for (uint32_t n = ar.ReadCount(); n > 0; --n) {
    FaxSenderOrRecipient party;
    party.Serialize(ar);
    items_.push_back(std::move(party));
  }
}

void FaxHeader::Serialize(Archive& ar) {
  if (ar.IsStoring()) version = kVersion;
  ar.Transfer(version);
  ar.Transfer(priority);
  ar.Transfer(subject);
  ar.Transfer(flags);
  ar.Transfer(queueField);
  ar.Transfer(queueWord);
  sender.Serialize(ar);
  recipients.Serialize(ar);
  sendTime.Serialize(ar);
}

bool FaxHeader::ToBytes(std::string& bytes) {
  try {
    Archive ar;
    Serialize(ar);
    bytes = ar.Bytes();
    return true;
  } catch (const ArchiveException&) {
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

int FaxHeader::SaveToFile(const std::string& path) {
  std::string bytes;
  if (!ToBytes(bytes)) return 0;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return 0;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return out ? 1 : 0;
}

int FaxHeader::SaveTo(Stream& file) {
  std::string bytes;
  uint32_t done = 0;
  return ToBytes(bytes) && file.Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &done) ? 1 : 0;
}

int FaxHeader::LoadFromBytes(const std::string& bytes) {
  try {
    Archive ar(bytes);
    FaxHeader loaded;
    loaded.Serialize(ar);
    if (loaded.version != kVersion) return 0;
    *this = std::move(loaded);
    return 1;
  } catch (const ArchiveException&) {
    return 0;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

int FaxHeader::LoadFromFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return 0;
  try {
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) return 0;
    return LoadFromBytes(bytes);
  } catch (const std::exception&) {  // a read error (a folder, a failing disk) or no memory
    return 0;
  }
}

}  // namespace korvo
