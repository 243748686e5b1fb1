#include "common/fax_header.h"

#include <gtest/gtest.h>

#include "tests/support/sandbox.h"

namespace korvo {
namespace {

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int v : b) s.push_back(static_cast<char>(v));
  return s;
}

// A header of one sender and one LAN recipient, byte by byte.
const std::string kHeaderFile = Bytes({
    0x03, 0x00,                    // version
    0x64,                          // priority normal
    0x02, 'H', 'i',                // subject
    0x03, 0x00, 0x00, 0x00,        // safer dialing, cover page
    0x01, 0x00, 0x00, 0x00,        // queue field
    0x05, 0x00,                    // queue word
    0x03, '1', '0', '1',           // sender address
    0x00, 0x00, 0x00, 0x00,        // not on the LAN
    0x03, 'A', 'n', 'a',           // name
    0x00,                          // company
    0x01, '7',                     // phone
    0x00,                          // fax
    0x01, 0x00,                    // one recipient
    0x04, 'j', 'a', 'n', 'e',      // address: a user name
    0x01, 0x00, 0x00, 0x00,        // on the LAN
    0x00, 0x00, 0x00, 0x00,        // name, company, phone, fax
    0x02, 0x00, 0x00, 0x00,        // send time kind: chosen
    0x00, 0x10, 0x5E, 0x5F,        // 1600000000
});

FaxHeader SampleHeader() {
  FaxHeader h;
  h.priority = FaxHeader::kPriorityNormal;
  h.subject = "Hi";
  h.flags = FaxHeader::kSaferDialing | FaxHeader::kSendCoverPage;
  h.queueField = 1;
  h.queueWord = 5;
  h.sender = FaxSenderOrRecipient("101", 0, "Ana", "", "7", "");
  h.recipients.AddTail(FaxSenderOrRecipient("jane", 1, "", "", "", ""));
  h.sendTime = ScheduleTimeInfo(ScheduleTimeInfo::kAtChosenTime, 1600000000);
  return h;
}

TEST(FaxHeader, FileHoldsExactlyTheSerializedBytes) {
  test::Sandbox sandbox;
  const std::string path = sandbox.path("CPT0001.kvf").string();
  FaxHeader h = SampleHeader();
  h.version = 9;  // storing always writes version 3
  ASSERT_EQ(h.SaveToFile(path), 1);
  EXPECT_EQ(test::Sandbox::readFile(path), kHeaderFile);

  FaxHeader loaded;
  ASSERT_EQ(loaded.LoadFromFile(path), 1);
  EXPECT_EQ(loaded, SampleHeader());
}

TEST(FaxHeader, RefusesOtherVersionsShortFilesAndMissingFiles) {
  test::Sandbox sandbox;
  const std::string path = sandbox.path("h.kvf").string();
  FaxHeader untouched;
  untouched.subject = "keep";

  std::string other = kHeaderFile;
  other[0] = 2;
  sandbox.writeFile(path, other);
  FaxHeader h = untouched;
  EXPECT_EQ(h.LoadFromFile(path), 0);
  EXPECT_EQ(h, untouched);

  for (std::size_t n = 0; n < kHeaderFile.size(); ++n) {
    sandbox.writeFile(path, kHeaderFile.substr(0, n));
    EXPECT_EQ(h.LoadFromFile(path), 0) << n;
    EXPECT_EQ(h, untouched) << n;
  }
  EXPECT_EQ(h.LoadFromFile(sandbox.path("missing.kvf").string()), 0);
  EXPECT_EQ(h.LoadFromFile(sandbox.root().string()), 0);
  EXPECT_EQ(h.SaveToFile(sandbox.path("no/such/folder.kvf").string()), 0);
}

TEST(FaxHeader, DamagedRecipientCountEndsAtTheFileEnd) {
  std::string damaged = kHeaderFile;
  damaged[32] = '\xFF';  // count 0xFFFF: a 32-bit count follows
  damaged[33] = '\xFF';
  FaxHeader h;
  EXPECT_EQ(h.LoadFromBytes(damaged), 0);
}

TEST(FaxHeader, NewHeaderIsEmptyAndCopiesRecipients) {
  const FaxHeader fresh;
  EXPECT_EQ(fresh.version, 3);
  EXPECT_TRUE(fresh.recipients.IsEmpty());
  EXPECT_EQ(fresh.subject, "");
  EXPECT_EQ(fresh.sendTime.kind, 0);
  EXPECT_NE(fresh.sendTime.time, 0);
  const FaxHeader h = SampleHeader();
  const FaxHeader copy = h;
  ASSERT_EQ(copy.recipients.GetCount(), 1);
  EXPECT_EQ(copy.recipients[0].address, "jane");
}

TEST(FaxSenderOrRecipient, FromRegisteredUsersAndAddressEntries) {
  RegisteredUserEntry user;
  user.userName = "jane";
  user.company = "Velmora";
  user.faxNumber = "55";
  user.phoneNumber = "56";
  FaxSenderOrRecipient party(user);
  EXPECT_EQ(party, FaxSenderOrRecipient("jane", 1, "jane", "Velmora", "56", "55"));
  user.fullName = "Jane Doe";
  EXPECT_EQ(FaxSenderOrRecipient(user).name, "Jane Doe");

  AddressEntry entry;
  entry.company = "Acme";
  entry.faxNumber = "0123";
  entry.phoneNumber = "0124";
  EXPECT_EQ(FaxSenderOrRecipient(entry), FaxSenderOrRecipient("0123", 0, "Acme", "Acme", "0124", "0123"));
}

TEST(FaxSenderOrRecipient, DisplayTexts) {
  struct Case {
    FaxSenderOrRecipient party;
    const char* display;
    const char* label;
    const char* displayLan;
    const char* labelLan;
  };
  const Case cases[] = {
      {{"0123", 0, "Ana", "", "", ""}, "Ana", "Ana: 0123", "Ana", "Ana: 0123"},
      {{"0123", 0, "", "", "", ""}, "0123", "0123", "0123", "0123"},
      {{"jane", 1, "Jane", "", "", ""}, "Jane", "Jane: jane", "Jane (LAN)", "Jane: jane (LAN)"},
      {{"jane", 1, "", "", "", ""}, "jane", "jane", "jane (LAN)", "jane (LAN)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.party.GetDisplayName(), c.display);
    EXPECT_EQ(c.party.GetLabel(), c.label);
    EXPECT_EQ(c.party.GetDisplayNameLan(), c.displayLan);
    EXPECT_EQ(c.party.GetLabelLan(), c.labelLan);
  }
}

}  // namespace
}  // namespace korvo
