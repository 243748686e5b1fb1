#include "common/modem_record.h"

#include <gtest/gtest.h>

#include <cstring>

#include "common/fields.h"

namespace korvo {
namespace {

std::string Le32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
  return s;
}

std::string Field(const std::string& text, std::size_t size) { return text + std::string(size - text.size(), '\0'); }

std::string Bytes(const ModemRecord& r) { return std::string(reinterpret_cast<const char*>(&r), sizeof r); }

// The defaults as the file holds them.
const std::string kDefaultBytes = Field("COM1", 32) + Le32(3) + Le32(0) + Le32(4096) + Le32(4096) +
                                  Field("Standard Fax Modem", 32) + Le32(2) + Le32(5) + Le32(1) +
                                  std::string(64, '\0') + Le32(1) + Le32(1) + Le32(0) + Le32(1) + Le32(3) +
                                  Le32(5) + Le32(1) + Le32(0) + Le32(0);

const std::vector<std::string> kDefaultText = {"COM1", "3", "2", "1", "", "",  "Standard Fax Modem",
                                               "5",    "0", "0", "1", "1", "3", "5", "1", "4096", "4096",
                                               "1",    "0", "0"};

std::string Text(const std::vector<std::string>& fields) {
  std::string text;
  EncodeFields(&text, fields, 20);
  return text;
}

TEST(ModemRecord, DefaultsLayoutAndText) {
  ModemRecord r;
  EXPECT_EQ(Bytes(r), kDefaultBytes);
  EXPECT_EQ(r.Encode(), Text(kDefaultText));
  // An empty text: empty texts are kept, and only the numbers for which 0
  // is out of range take their defaults.
  ModemRecord empty;
  empty.Decode("");
  const std::string expected = std::string(32, '\0') + Le32(0) + Le32(0) + Le32(4096) + Le32(4096) +
                               std::string(32, '\0') + Le32(0) + Le32(0) + Le32(0) + std::string(64, '\0') +
                               Le32(0) + Le32(0) + Le32(0) + Le32(0) + Le32(3) + Le32(0) + Le32(1) + Le32(0) +
                               Le32(0);
  EXPECT_EQ(Bytes(empty), expected);
}

TEST(ModemRecord, DecodeKeepsValidFieldsInTheirPlaces) {
  const std::vector<std::string> fields = {"/dev/ttyS1", "6", "0", "0", "9,", "AT&F", "Acme 336", "3", "1",
                                           "2",          "0", "3", "10", "300", "10", "1024", "524288", "0", "1",
                                           "-5"};
  ModemRecord r;
  ASSERT_TRUE(r.Decode(Text(fields)));
  EXPECT_EQ(r.portName.Get(), "/dev/ttyS1");
  EXPECT_EQ(r.portSpeed, 6);
  EXPECT_EQ(r.usage, 0);
  EXPECT_EQ(r.dialMode, 0);
  EXPECT_EQ(r.dialPrefix.Get(), "9,");
  EXPECT_EQ(r.initString.Get(), "AT&F");
  EXPECT_EQ(r.modemName.Get(), "Acme 336");
  EXPECT_EQ(r.faxSpeed, 3);
  EXPECT_EQ(r.flowControl, 1);
  EXPECT_EQ(r.callWaiting, 2);
  EXPECT_EQ(r.speakerVolume, 0);
  EXPECT_EQ(r.speakerMode, 3);
  EXPECT_EQ(r.furtherNumber1, 10);
  EXPECT_EQ(r.furtherNumber2, 300);
  EXPECT_EQ(r.ringsBeforeAnswer, 10);
  EXPECT_EQ(r.inputBufferSize, 1024);
  EXPECT_EQ(r.outputBufferSize, 524288);
  EXPECT_EQ(r.enabled, 0);
  EXPECT_EQ(r.class2BitOrder, 1);
  EXPECT_EQ(r.id, -5);
  EXPECT_EQ(r.Encode(), Text(fields));
}

TEST(ModemRecord, InvalidFieldsTakeTheirDefaults) {
  struct Case {
    int field;
    const char* text;
  };
  const Case cases[] = {
      {0, "COM1234567890123456789012345678901234567"},  // 40 characters
      {1, "7"}, {1, "-1"}, {2, "3"}, {3, "2"}, {6, "Modem name longer than thirty-one c"},
      {7, "6"}, {8, "2"}, {9, "4"}, {10, "7"}, {11, "4"}, {12, "0"}, {12, "11"}, {13, "301"},
      {14, "0"}, {15, "1023"}, {16, "524289"}, {17, "2"}, {18, "-1"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> fields = kDefaultText;
    fields[static_cast<std::size_t>(c.field)] = c.text;
    ModemRecord r;
    r.Decode(Text(fields));
    EXPECT_EQ(r.Encode(), Text(kDefaultText)) << c.field << " " << c.text;
  }
  // The defaults of the numbers that may not be 0, from a record of zeros.
  std::vector<std::string> zeros(20, "0");
  ModemRecord r;
  r.Decode(Text(zeros));
  EXPECT_EQ(r.inputBufferSize, 4096);
  EXPECT_EQ(r.furtherNumber1, 3);
  EXPECT_EQ(r.ringsBeforeAnswer, 1);
  EXPECT_EQ(r.portName.Get(), "0");
  // A non-number reads as 0, which is a valid index.
  std::vector<std::string> words = kDefaultText;
  words[1] = "fast";
  r.Decode(Text(words));
  EXPECT_EQ(r.portSpeed, 0);
}

TEST(ModemRecord, OrderedById) {
  ModemRecord a, b;
  a.id = -2147483647 - 1;
  b.id = 2147483647;
  EXPECT_LT(CompareModemIds(&a, &b), 0);
  EXPECT_GT(CompareModemIds(&b, &a), 0);
  EXPECT_EQ(CompareModemIds(&a, &a), 0);
}

TEST(ModemNames, Tables) {
  ModemRecord r;
  const char* usage[] = {"Send", "Receive", "Both", ""};
  for (int i = 0; i < 4; ++i) {
    r.usage = i;
    EXPECT_EQ(r.GetModemUsageName(), usage[i]);
  }
  const char* ports[] = {"2400", "4800", "9600", "19200", "38400", "57600", "115200"};
  const int32_t speeds[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200};
  for (int i = 0; i < 7; ++i) {
    r.portSpeed = i;
    EXPECT_EQ(r.GetPortSpeedName(), ports[i]);
    EXPECT_EQ(r.GetPortSpeedValue(), speeds[i]);
  }
  for (int bad : {-1, 7, 100}) {
    r.portSpeed = bad;
    EXPECT_EQ(r.GetPortSpeedValue(), 3);
    EXPECT_EQ(r.GetPortSpeedName(), "");
  }
  const char* fax[] = {"2400", "4800", "7200", "9600", "12000", "14400", ""};
  for (int i = 0; i < 7; ++i) {
    r.faxSpeed = i;
    EXPECT_EQ(r.GetFaxSpeedName(), fax[i]);
  }
  const char* volumes[] = {"Low", "Medium", "High", ""};
  for (int i = 0; i < 4; ++i) {
    r.speakerVolume = i;
    EXPECT_EQ(r.GetSpeakerVolumeName(), volumes[i]);
  }
  const char* modes[] = {"Always off", "On until carrier", "Always on", "On after dialing until carrier", ""};
  for (int i = 0; i < 5; ++i) {
    r.speakerMode = i;
    EXPECT_EQ(r.GetSpeakerModeName(), modes[i]);
  }
}

TEST(ModemNames, CallWaitingCommands) {
  struct Case {
    int choice;
    const char *name, *clear, *set;
  };
  const Case cases[] = {
      {0, "None", "", ""},
      {1, "*70", "ATD *70", "ATD *71"},
      {2, "70#", "ATD 70#", "ATD 71#"},
      {3, "1170", "ATD 1170", "ATD 1171"},
      {4, "", "", ""},
  };
  ModemRecord r;
  for (const auto& c : cases) {
    r.callWaiting = c.choice;
    EXPECT_EQ(r.GetCallWaitingName(), c.name);
    EXPECT_EQ(r.GetCallWaitingCommand(false), c.clear);
    EXPECT_EQ(r.GetCallWaitingCommand(true), c.set);
  }
}

TEST(ModemNames, SpeakerCommand) {
  ModemRecord r;
  EXPECT_EQ(r.BuildSpeakerCommand(), "ATL2M1");
  r.speakerVolume = 0;
  r.speakerMode = 3;
  EXPECT_EQ(r.BuildSpeakerCommand(), "ATL1M3");
  r.speakerVolume = 2;
  r.speakerMode = 0;
  EXPECT_EQ(r.BuildSpeakerCommand(), "ATL3M0");
}

TEST(ModemNames, InRange) {
  EXPECT_EQ(InRange(1024, 1024, 524288), 1);
  EXPECT_EQ(InRange(1023, 1024, 524288), 0);
  EXPECT_EQ(InRange(-1, 0, 6), 0);
  EXPECT_EQ(InRange(4294967295u, 0u, 6u), 0);
  EXPECT_EQ(InRange(6u, 0u, 6u), 1);
}

}  // namespace
}  // namespace korvo
