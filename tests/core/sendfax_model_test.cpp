// The Send Fax dialogs' rules that need no server: the last settings kept
// in the user hive, the buttons' enabling while recipients are typed, added
// and removed, the quarter-hour send times of the Options dialog, and the
// Status dialog's lines.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "common/settings.h"
#include "core/sendfax/last_settings.h"
#include "core/sendfax/options_model.h"
#include "core/sendfax/send_fax_model.h"
#include "core/sendfax/status_model.h"
#include "tests/core/sendfax_prompts.h"
#include "tests/support/sandbox.h"

namespace korvo::sendfax {
namespace {

class NoHost : public SendFaxHost {
 public:
  void StatusChanged(const std::string&) override {}
  bool RunOptions(SendFaxJob&) override { return false; }
  bool RunSendFaxTo(SendFaxJob&) override { return false; }
  void RunStatus(SendFaxJob&, bool) override {}
};

std::string Value() {
  char buffer[1024] = {};
  return KvGetSendFaxToLast(buffer, sizeof buffer) ? buffer : "<none>";
}

class SendFaxModelTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(KvSetDefaultServer("."), 1); }
  test::Sandbox sandbox_;
  test::RecordedPrompts prompts_;
  NoHost host_;
  SendFaxJob job_;
};

TEST_F(SendFaxModelTest, LastSettingsAreNineFieldsOfWhichSaferDialingAndTextsAreNotKept) {
  job_.documentTitle = "";
  job_.subject = "Quarterly";
  job_.server = "hub";
  job_.highPriority = job_.keepSentFax = job_.preview = job_.useGlobalAddressBook = 1;
  job_.saferDialing = job_.sendCoverPage = 1;
  ASSERT_TRUE(SaveLastSettings(job_));
  EXPECT_EQ(Value(), "\x1BQuarterly\x1Bhub\x1B" "1\x1B" "1\x1B" "1\x1B" "1\x1B" "1\x1B" "1\x1B");

  SendFaxJob loaded;
  loaded.subject = "old";
  loaded.saferDialing = 1;
  ASSERT_TRUE(LoadLastSettings(loaded));
  EXPECT_EQ(loaded.subject, "");
  EXPECT_EQ(loaded.server, "hub");
  EXPECT_EQ(loaded.highPriority + loaded.keepSentFax + loaded.preview + loaded.useGlobalAddressBook, 4);
  EXPECT_EQ(loaded.saferDialing, 0);
  EXPECT_EQ(loaded.sendCoverPage, 1);
  // A flag is set when its text reads as a number other than 0.
  SendFaxJob other;
  DecodeLastSettings("\x1B\x1Bs\x1B" "7\x1Bx\x1B-1\x1B" "0\x1B" "1\x1B", other);
  EXPECT_EQ(other.highPriority, 1);
  EXPECT_EQ(other.keepSentFax, 0);
  EXPECT_EQ(other.preview, 1);
  EXPECT_EQ(other.useGlobalAddressBook, 0);
  EXPECT_EQ(other.sendCoverPage, 0);
}

// Texts too long for the 512-character value: the record stays within it,
// each field keeps its place, and the fields that fit (the flags) are kept.
TEST_F(SendFaxModelTest, LastSettingsTooLongForTheValueAreCutAtAFieldBoundary) {
  struct Case {
    size_t subject;
    size_t server;
    bool serverKept;
  };
  for (const Case& c : std::vector<Case>{{600, 5, true}, {498, 5, true}, {499, 5, true}, {5, 600, false}, {400, 200, true}}) {
    SCOPED_TRACE(testing::Message() << c.subject << " " << c.server);
    job_.subject = std::string(c.subject, 's');
    job_.server = std::string(c.server, 'h');
    job_.keepSentFax = job_.sendCoverPage = 1;
    const std::string record = EncodeLastSettings(job_);
    EXPECT_LT(record.size(), kLastSettingsSize);
    EXPECT_EQ(std::count(record.begin(), record.end(), '\x1B'), 9);
    ASSERT_TRUE(SaveLastSettings(job_));
    SendFaxJob loaded;
    ASSERT_TRUE(LoadLastSettings(loaded));
    EXPECT_EQ(loaded.server, c.serverKept ? job_.server : "");
    EXPECT_EQ(loaded.keepSentFax, 1);
    EXPECT_EQ(loaded.sendCoverPage, 1);
  }
}

TEST_F(SendFaxModelTest, ServerFromTheLastSettingsElseTheDefaultsElseAMessage) {
  struct Case {
    const char* last;  // nullptr: no value
    const char* user;
    const char* machine;
    const char* server;
    bool message;
  };
  const Case cases[] = {{"\x1B\x1Blast\x1B", "user", "machine", "last", false},
                        {"\x1B\x1B\x1B", "user", "machine", "user", false},
                        {nullptr, "", "machine", "machine", false},
                        {nullptr, "", "", "", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.server);
    if (c.last) ASSERT_EQ(KvSetSendFaxToLast(c.last), 1);
    else ASSERT_EQ(KvSetSendFaxToLast("\x1B\x1B\x1B"), 1);
    ASSERT_EQ(KvSetDefaultServer(c.user), 1);
    ASSERT_EQ(KvSetKorvoDefaultServer(c.machine), 1);
    if (c.message) prompts_.Answer(desktop::Answer::Ok);
    SendFaxJob job;
    SendFaxModel model(job, host_, prompts_, [] { return int64_t{1700000000}; });
    EXPECT_EQ(job.server, c.server);
    EXPECT_EQ(job.sendTime, 1700000000);
    EXPECT_EQ(job.sendTimeText, "NOW");
    ASSERT_NE(job.recipientsHeader, nullptr);
    EXPECT_TRUE(prompts_.Done());
  }
  ASSERT_EQ(prompts_.boxes.size(), 1u);
  EXPECT_EQ(prompts_.boxes[0].text, "Please enter Server name in 'Options' before sending fax.");
  EXPECT_EQ(prompts_.boxes[0].caption, "Send Fax Check:");
}

// What the user types enables Send Fax and Add: each row is the state after
// setting the name and the number.
TEST_F(SendFaxModelTest, TypingEnablesSendAndAdd) {
  struct Case {
    const char* name;
    const char* number;
    bool send;
    bool add;
  };
  const Case cases[] = {{"", "", false, false},      {"Ana", "", false, false},    {"", "555", true, false},
                        {"Ana", "555", true, true},  {"  ", "555", true, false},   {"Ana", "   ", false, false},
                        {" Ana", " 5", true, true}};
  SendFaxModel model(job_, host_, prompts_);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + "|" + c.number);
    model.SetName(c.name);
    model.SetNumber(c.number);
    EXPECT_EQ(model.sendEnabled(), c.send);
    EXPECT_EQ(model.addRemoveEnabled(), c.add);
    EXPECT_EQ(model.addRemoveLabel(), "&Add");
  }
}

TEST_F(SendFaxModelTest, AddThenRemoveSelectedKeepsTheOthersInOrder) {
  SendFaxModel model(job_, host_, prompts_);
  for (const char* who : {"Ana", "Ivo", "Eva", "Lea"}) {
    model.SetName(who);
    model.SetNumber(std::string("10") + who[0]);
    model.AddOrRemove();
    EXPECT_EQ(model.name(), "");
    EXPECT_EQ(model.number(), "");
  }
  ASSERT_EQ(model.entries().size(), 4u);
  EXPECT_EQ(model.entries()[1].text, "Ivo: 10I");
  EXPECT_TRUE(model.sendEnabled());  // the list has entries
  EXPECT_FALSE(model.addRemoveEnabled());

  model.SetSelection({3, 1});
  EXPECT_EQ(model.addRemoveLabel(), "&Remove");
  EXPECT_TRUE(model.addRemoveEnabled());
  model.AddOrRemove();
  ASSERT_EQ(model.entries().size(), 2u);
  const RecipientList& list = job_.recipientsHeader->recipients;
  ASSERT_EQ(list.GetCount(), 2);
  for (int row = 0; row < 2; ++row) {
    EXPECT_EQ(list[model.entries()[static_cast<size_t>(row)].data].GetLabelLan(),
              model.entries()[static_cast<size_t>(row)].text);
  }
  EXPECT_EQ(list[0].name, "Ana");
  EXPECT_EQ(list[1].name, "Eva");
  EXPECT_EQ(list[1].address, "10E");
  EXPECT_EQ(list[1].lan, 0);
  EXPECT_EQ(model.addRemoveLabel(), "&Add");
  EXPECT_FALSE(model.addRemoveEnabled());
  // Removing the rest leaves nothing to send to.
  model.SetSelection({0, 1});
  model.AddOrRemove();
  EXPECT_TRUE(model.entries().empty());
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_FALSE(model.sendEnabled());
}

class TimeZone {
 public:
  explicit TimeZone(const char* tz) {
    if (const char* old = std::getenv("TZ")) before_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~TimeZone() {
    if (before_.empty()) unsetenv("TZ");
    else setenv("TZ", before_.c_str(), 1);
    tzset();
  }

 private:
  std::string before_;
};

// The send times offered: "NOW", then quarter hours until 23:00 of the UTC day.
TEST_F(SendFaxModelTest, SendTimesAreQuarterHoursUntilAnHourBeforeTheUtcDayEnds) {
  constexpr int64_t kDay = 1700006400;  // 00:00 UTC
  struct Case {
    const char* tz;
    int64_t secondOfDay;
    size_t count;  // "NOW" included
    const char* first;
    const char* last;
  };
  const Case cases[] = {
      {"UTC0", 22 * 3600 + 40 * 60, 2, "22:45:00", "22:45:00"},
      {"CET-1", 22 * 3600 + 40 * 60, 2, "23:45:00", "23:45:00"},  // shown in local time
      {"UTC0", 23 * 3600, 1, nullptr, nullptr},
      {"UTC0", 22 * 3600 + 45 * 60 + 1, 1, nullptr, nullptr},
      {"UTC0", 23 * 3600 + 59 * 60, 1, nullptr, nullptr},
      {"UTC0", 0, 1, nullptr, nullptr},  // exactly the start of a day
      {"UTC0", 1, 92, "00:15:00", "22:45:00"},
      {"UTC0", 10 * 3600, 53, "10:00:00", "22:45:00"},  // at a quarter hour: itself
      {"UTC0", 10 * 3600 + 60, 52, "10:15:00", "22:45:00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.tz << " " << c.secondOfDay);
    TimeZone zone(c.tz);
    const int64_t now = kDay + c.secondOfDay;
    auto times = SendTimes(now);
    ASSERT_EQ(times.size(), c.count);
    EXPECT_EQ(times[0].text, "NOW");
    EXPECT_EQ(times[0].time, now);
    if (!c.first) continue;
    EXPECT_EQ(times[1].text, c.first);
    EXPECT_EQ(times.back().text, c.last);
    EXPECT_EQ(times.back().time % 86400, 22 * 3600 + 45 * 60);
    for (size_t i = 1; i < times.size(); ++i) EXPECT_EQ(times[i].time % 900, 0);
  }
}

TEST_F(SendFaxModelTest, OptionsTakeTheJobsValuesAndGiveThemBackOnlyOnOk) {
  TimeZone zone("UTC0");
  const int64_t now = 1700006400 + 9 * 3600;
  job_.subject = "S";
  job_.server = "a";
  job_.sendTime = static_cast<int32_t>(now - 5);
  job_.sendTimeText = "09:30:00";
  job_.serverNames = {"a", "b"};
  {
    OptionsModel options(job_, now);
    EXPECT_EQ(options.serverNames(), job_.serverNames);
    ASSERT_EQ(options.selected(), 3);  // NOW, 09:00, 09:15, 09:30
    options.Select(99);  // no entry: nothing changes
    EXPECT_EQ(options.sendTime, now - 5);
    options.Select(2);
    options.subject = "New";
    options.server = "b";
    options.highPriority = options.preview = 1;
  }  // Cancel
  EXPECT_EQ(job_.subject, "S");
  EXPECT_EQ(job_.sendTimeText, "09:30:00");

  OptionsModel options(job_, now);
  options.Select(2);
  options.subject = "New";
  options.server = "b";
  options.highPriority = options.keepSentFax = options.sendCoverPage = options.saferDialing = 1;
  options.Apply();
  EXPECT_EQ(job_.subject, "New");
  EXPECT_EQ(job_.server, "b");
  EXPECT_EQ(job_.sendTime, now + 15 * 60);
  EXPECT_EQ(job_.sendTimeText, "09:15:00");
  EXPECT_EQ(job_.highPriority + job_.keepSentFax + job_.sendCoverPage + job_.saferDialing, 4);
  EXPECT_EQ(job_.preview, 0);
  // "NOW" is found again by its text.
  job_.sendTimeText = "NOW";
  EXPECT_EQ(OptionsModel(job_, now).selected(), 0);
}

TEST_F(SendFaxModelTest, StatusLinesShowTheServerAndTheChosenLocalTime) {
  TimeZone zone("CET-1");
  job_.server = "hub";
  job_.sendTime = 1700006400 + 9 * 3600;  // 09:00 UTC
  StatusLines ok(job_, true);
  EXPECT_EQ(ok.first, "Success. Fax sent to hub.");
  EXPECT_EQ(ok.second, "Scheduled for delivery at 10:00:00");
  EXPECT_FALSE(ok.beep);
  StatusLines failed(job_, false);
  EXPECT_EQ(failed.first, "Send fax to hub failed.");
  EXPECT_EQ(failed.second, "");
  EXPECT_TRUE(failed.beep);
  job_.server = std::string(100, 'h');
  EXPECT_EQ(StatusLines(job_, true).first.size(), 63u);
}

TEST_F(SendFaxModelTest, ChangeNameExtensionTakesTheFilesOwnDotOnly) {
  struct Case {
    const char* in;
    bool ok;
    const char* out;
  };
  const Case cases[] = {{"/o/CPT0001.TMP", true, "/o/CPT0001.FAX"},
                        {"/o.d/CPT0001.TMR", true, "/o.d/CPT0001.FAX"},
                        {"/o.d/CPT0001", false, "/o.d/CPT0001"},
                        {"CPT", false, "CPT"},
                        {"a.b.c", true, "a.b.FAX"}};
  for (const Case& c : cases) {
    std::string name = c.in;
    EXPECT_EQ(ChangeNameExtension(name, "FAX"), c.ok) << c.in;
    EXPECT_EQ(name, c.out);
  }
}

}  // namespace
}  // namespace korvo::sendfax
