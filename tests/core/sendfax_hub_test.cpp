// The Send Fax road against a real korvohub: a print job captured into the
// OutBox (made by prnstream) becomes a header file and a fax file, is
// submitted with request 4000 (retried on the user's word), and leaves the
// OutBox, the SentBox and the viewer as the user chose. The Send Fax To
// list is filled from the local book, the server's book and its users.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/cover_page.h"
#include "common/fax_header.h"
#include "common/settings.h"
#include "common/tiff_reader.h"
#include "common/tiff_writer.h"
#include "common/userenvironment.h"
#include "core/sendfax/send_fax_model.h"
#include "core/sendfax/send_fax_to_model.h"
#include "platform/process.h"
#include "platform/tempfile.h"
#include "tests/core/sendfax_prompts.h"
#include "tests/server/hub_fixture.h"
#include "tests/server/queue_fixture.h"

namespace korvo::sendfax {
namespace {

namespace fs = std::filesystem;
using desktop::Answer;

// The window's part, played by the test: statuses, the other dialogs and
// what the OutBox pair holds when the Status dialog shows.
class Host : public SendFaxHost {
 public:
  void StatusChanged(const std::string& text) override { statuses.push_back(text); }
  bool RunOptions(SendFaxJob& job) override { return options && options(job); }
  bool RunSendFaxTo(SendFaxJob& job) override { return sendFaxTo && sendFaxTo(job); }
  void RunStatus(SendFaxJob& job, bool success) override {
    results.push_back(success);
    sentHeader = FaxHeader();
    headerRead = sentHeader.LoadFromFile(job.headerPath) == 1;
    imageAtStatus = job.faxImagePath;
    if (!keepImageAt.empty()) fs::copy_file(job.faxImagePath, keepImageAt, fs::copy_options::overwrite_existing);
  }
  bool Saw(const std::string& text) const { return std::find(statuses.begin(), statuses.end(), text) != statuses.end(); }

  std::function<bool(SendFaxJob&)> options;
  std::function<bool(SendFaxJob&)> sendFaxTo;
  std::vector<std::string> statuses;
  std::vector<bool> results;
  FaxHeader sentHeader;
  bool headerRead = false;
  std::string imageAtStatus;
  std::string keepImageAt;  // a copy of the fax as it was sent
};

int PageCount(const std::string& path) {
  TiffReader reader;
  uint16_t count = 0;
  PageDescriptor d;
  reader.Open(path, count, d);
  return count;
}

// A page's pixels, empty when there is no such page.
std::string PageBitmap(const std::string& path, uint16_t index) {
  TiffReader reader;
  uint16_t count = 0;
  PageDescriptor d;
  reader.Open(path, count, d);
  const uint8_t* bitmap = nullptr;
  uint32_t size = 0;
  if (!reader.ReadPageBitmap(kPageAtIndex, index, d, bitmap, size)) return {};
  return std::string(reinterpret_cast<const char*>(bitmap), size);
}

class SendFaxHubTest : public test::HubFixture {
 protected:
  void SetUp() override {
    HubFixture::SetUp();
    ASSERT_EQ(KvSetDefaultServer("."), 1);
    outBox_ = GetUserEnvironment().GetOutBoxPath();
    ASSERT_FALSE(outBox_.empty());
  }
  // A captured print job of the given pages in the OutBox, as the print
  // capture leaves it: CPTxxxx.TMP and the companion name CPTxxxx.TMR.
  void Capture(const std::string& text = "Hello fax") {
    std::string name;
    ASSERT_NE(platform::GetTempFileName(outBox_, "CPT", 0, name), 0u);
    const std::string source = TempPath("print.txt");
    test::Sandbox::writeFile(source, text + "\n");
    ASSERT_TRUE(platform::RunProcess({(test::BuildDir() / "tools" / "prnstream").string(), "-t", source, name}));
    fs::remove(source);
    job_->faxImagePath = name;
    job_->headerPath = name.substr(0, name.size() - 3) + "TMR";
    base_ = name.substr(0, name.size() - 4);
  }
  std::unique_ptr<SendFaxModel> Make(Clock clock = SystemClock) {
    return std::make_unique<SendFaxModel>(*job_, host_, prompts_, std::move(clock));
  }
  // The files of a folder, by name.
  static std::vector<std::string> Files(const std::string& folder) {
    std::vector<std::string> out;
    for (auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }
  std::string Name(const std::string& ext) const { return fs::path(base_ + ext).filename().string(); }
  size_t Queued() {
    const std::string path = TempPath("list.txt");
    EXPECT_EQ(client_.DownloadList(".", 6020, nullptr, path).status, 0u);
    size_t n = test::ListLines(test::Sandbox::readFile(path)).size();
    fs::remove(path);
    return n;
  }

  // A job of its own for each dialog run (a job holds its lock, so it is
  // never copied or replaced).
  void NewJob() { job_ = &jobs_.emplace_back(); }

  std::deque<SendFaxJob> jobs_{1};
  SendFaxJob* job_ = &jobs_.front();
  Host host_;
  test::RecordedPrompts prompts_;
  std::string outBox_;
  std::string base_;
};

TEST_F(SendFaxHubTest, ATypedNumberWithoutAddIsTheOnlyRecipient) {
  StartHub();
  Capture();
  auto model = Make();
  model->SetName("Ana");
  model->SetNumber(" 555-01");
  model->Send();
  EXPECT_EQ(model->end(), SendFaxModel::End::Ok);
  ASSERT_EQ(host_.results, std::vector<bool>{true});
  ASSERT_TRUE(host_.headerRead);
  ASSERT_EQ(host_.sentHeader.recipients.GetCount(), 1);
  EXPECT_EQ(host_.sentHeader.recipients[0], FaxSenderOrRecipient("555-01", 0, "Ana", "", "", ""));
  EXPECT_EQ(host_.sentHeader.sender.address, test::OwnLogin());
  EXPECT_EQ(host_.sentHeader.sender.lan, 1);
  EXPECT_EQ(host_.sentHeader.priority, FaxHeader::kPriorityNormal);
  EXPECT_EQ(host_.imageAtStatus, base_ + ".FAX");
  const std::vector<std::string> road = {"Converting document ...", "Building header file ...",
                                         "Converting to fax format ...", "Changing FAX file extension",
                                         "Converting fax ...", "Converting fax page 1",
                                         "Changing FAX header file extension", "Renaming file",
                                         "Sending fax to . ..."};
  EXPECT_EQ(host_.statuses, road);
  EXPECT_EQ(model->steps(), static_cast<int>(road.size()));
  // Sent: the pair has left the OutBox, and the server holds the job.
  EXPECT_TRUE(Files(outBox_).empty());
  EXPECT_EQ(Queued(), 1u);
  EXPECT_TRUE(prompts_.boxes.empty());
  // The options were kept for next time.
  char last[512] = {};
  ASSERT_EQ(KvGetSendFaxToLast(last, sizeof last), 1);
  EXPECT_EQ(std::string(last), "\x1B\x1B.\x1B" "0\x1B" "0\x1B" "0\x1B" "0\x1B" "0\x1B" "0\x1B");
}

TEST_F(SendFaxHubTest, NoRecipientsAfterTheHeaderIsWrittenGoesBackToReady) {
  StartHub();
  Capture();
  auto model = Make();
  model->SetName("Only a name");
  EXPECT_FALSE(model->sendEnabled());
  EXPECT_FALSE(model->addRemoveEnabled());
  prompts_.Answer(Answer::Ok);
  model->Send();
  ASSERT_EQ(prompts_.boxes.size(), 1u);
  EXPECT_EQ(prompts_.boxes[0].text, "There are no fax recipients");
  EXPECT_EQ(prompts_.boxes[0].caption, "Korvo Send Fax To Check");
  EXPECT_EQ(prompts_.boxes[0].icon, desktop::Icon::Warning);
  EXPECT_EQ(model->status(), "Ready");
  EXPECT_EQ(model->end(), SendFaxModel::End::None);
  EXPECT_TRUE(model->numberEnabled() && model->optionsEnabled() && model->addressBookEnabled());
  EXPECT_TRUE(fs::exists(job_->headerPath));  // written before the check
  EXPECT_EQ(job_->headerPath, base_ + ".TMR");
  // Typing a number now sends as a first press again.
  model->SetNumber("200");
  EXPECT_TRUE(model->sendEnabled());
  model->Send();
  EXPECT_EQ(model->end(), SendFaxModel::End::Ok);
  EXPECT_EQ(host_.results, std::vector<bool>{true});
  EXPECT_EQ(Queued(), 1u);
}

// The header's send time is the chosen time (also "NOW") in the server's
// clock, always of kind 2: here the local clock runs an hour behind.
TEST_F(SendFaxHubTest, SendTimeIsShiftedToTheServersClock) {
  StartHub();
  Capture();
  const int64_t before = SystemClock();
  auto model = Make([] { return SystemClock() - 3600; });
  EXPECT_EQ(job_->sendTimeText, "NOW");
  model->SetNumber("200");
  model->Send();
  const int64_t after = SystemClock();
  ASSERT_TRUE(host_.headerRead);
  EXPECT_EQ(host_.sentHeader.sendTime.kind, ScheduleTimeInfo::kAtChosenTime);
  EXPECT_GE(host_.sentHeader.sendTime.time, before - 1);
  EXPECT_LE(host_.sentHeader.sendTime.time, after + 1);
  // The job keeps the local time, which the Status dialog shows.
  EXPECT_LE(job_->sendTime, after - 3600);
}

// The cover page is page 1 of the fax: drawn for the one recipient, or with
// the placeholders for several (the server draws one for each).
TEST_F(SendFaxHubTest, CoverPageCarriesTheRecipientOrThePlaceholders) {
  StartHub();
  size_t queued = 0;
  for (int recipients : {1, 2}) {
    SCOPED_TRACE(recipients);
    NewJob();
    host_ = Host();
    host_.keepImageAt = TempPath("sent.fax");
    Capture();
    ASSERT_EQ(KvSetSendFaxToLast("\x1B\x1B.\x1B" "1\x1B" "0\x1B" "0\x1B" "0\x1B" "0\x1B" "1\x1B"), 1);
    auto model = Make();
    EXPECT_EQ(job_->sendCoverPage, 1);
    job_->subject = "Cover";
    for (int i = 0; i < recipients; ++i) {
      model->SetName("Person " + std::to_string(i));
      model->SetNumber("20" + std::to_string(i));
      model->AddOrRemove();
    }
    model->Send();
    ASSERT_TRUE(host_.headerRead);
    EXPECT_TRUE(host_.Saw("Creating fax cover page"));
    EXPECT_TRUE(host_.Saw("Converting fax page 2"));  // the cover page counts as page 1
    EXPECT_FALSE(host_.Saw("Converting fax page 1"));
    const FaxHeader& h = host_.sentHeader;
    EXPECT_EQ(h.flags, FaxHeader::kSendCoverPage);
    EXPECT_EQ(h.priority, FaxHeader::kPriorityUrgent);
    EXPECT_EQ(h.subject, "Cover");
    queued += static_cast<size_t>(recipients);
    EXPECT_EQ(Queued(), queued);

    // The expected cover page, drawn alone, against page 1 of the sent fax.
    const std::string expected = TempPath("expected.tif");
    {
      TiffWriter writer;
      writer.Open(expected);
      CoverPageInfo info(h.sender, h.recipients[0], h.subject, h.sendTime.time, 0,
                         recipients == 1 ? CoverPageInfo::kRecipientGiven : 0);
      ASSERT_EQ(DrawCoverPage(writer, info), 0u);
      writer.Close();
    }
    EXPECT_EQ(PageBitmap(expected, 0), PageBitmap(host_.keepImageAt, 0));
    EXPECT_NE(PageBitmap(expected, 0), PageBitmap(host_.keepImageAt, 1));
    EXPECT_EQ(PageCount(host_.keepImageAt), 2);
    fs::remove(expected);
    fs::remove(host_.keepImageAt);
  }
}

// A send that fails asks to retry; after Cancel the Status dialog shows the
// failure and the user keeps the pair in the OutBox or lets it go.
TEST_F(SendFaxHubTest, FailedSendRetriesThenKeepsOrDeletesTheOutBoxPair) {
  struct Case {
    int retries;  // failed attempts answered Retry before Cancel
    Answer keep;
    bool pairKept;
  };
  for (const Case& c : {Case{0, Answer::Yes, true}, Case{2, Answer::No, false}}) {
    SCOPED_TRACE(c.retries);
    NewJob();
    host_ = Host();
    prompts_ = test::RecordedPrompts();
    Capture();
    auto model = Make();  // no server runs
    model->SetNumber("200");
    for (int i = 0; i < c.retries; ++i) prompts_.Answer(Answer::Retry);
    prompts_.Answer(Answer::Cancel);
    prompts_.Answer(c.keep);
    model->Send();
    EXPECT_EQ(model->end(), SendFaxModel::End::Ok);
    EXPECT_EQ(host_.results, std::vector<bool>{false});
    ASSERT_EQ(prompts_.boxes.size(), static_cast<size_t>(c.retries) + 2);
    for (int i = 0; i <= c.retries; ++i) {
      EXPECT_EQ(prompts_.boxes[i].text, "Client could not connect to Korvo Server.\nRetry send fax?");
      EXPECT_EQ(prompts_.boxes[i].caption, "Send Fax");
      EXPECT_EQ(prompts_.boxes[i].buttons, desktop::Buttons::RetryCancel);
      EXPECT_EQ(prompts_.boxes[i].icon, desktop::Icon::Information);
    }
    EXPECT_EQ(prompts_.boxes.back().text, "Do you want to keep the fax in OutBox\nand send the fax later manually ?");
    EXPECT_EQ(prompts_.boxes.back().buttons, desktop::Buttons::YesNo);
    EXPECT_EQ(prompts_.boxes.back().icon, desktop::Icon::Question);
    if (c.pairKept) {
      EXPECT_EQ(Files(outBox_), (std::vector<std::string>{Name(".FAX"), Name(".KVF")}));
      FaxHeader kept;
      EXPECT_EQ(kept.LoadFromFile(base_ + ".KVF"), 1);
      for (auto& f : Files(outBox_)) fs::remove(outBox_ + f);
    } else {
      EXPECT_TRUE(Files(outBox_).empty());
    }
  }
}

// Retry after the server came up sends the fax.
TEST_F(SendFaxHubTest, RetrySendsOnceTheServerRuns) {
  Capture();
  auto model = Make();
  model->SetNumber("200");
  prompts_.Answer(Answer::Retry, [&] { StartHub(); });
  model->Send();
  EXPECT_EQ(host_.results, std::vector<bool>{true});
  EXPECT_EQ(prompts_.boxes.size(), 1u);
  EXPECT_EQ(Queued(), 1u);
  EXPECT_TRUE(Files(outBox_).empty());
}

TEST_F(SendFaxHubTest, KeepSentFaxCopiesThePairIntoTheSentBox) {
  StartHub();
  Capture();
  ASSERT_EQ(KvSetSendFaxToLast("\x1B\x1B.\x1B" "0\x1B" "1\x1B"), 1);
  auto model = Make();
  model->SetNumber("200");
  model->Send();
  EXPECT_EQ(host_.results, std::vector<bool>{true});
  const std::string sentBox = GetUserEnvironment().GetSentBoxPath();
  auto files = Files(sentBox);
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].substr(0, 3), "CPT");
  EXPECT_EQ(files[0].substr(files[0].size() - 4), ".FAX");
  EXPECT_EQ(files[1], files[0].substr(0, files[0].size() - 4) + ".KVF");
  FaxHeader copy;
  ASSERT_EQ(copy.LoadFromFile(sentBox + files[1]), 1);
  EXPECT_EQ(copy, host_.sentHeader);
  EXPECT_EQ(PageCount(sentBox + files[0]), 1);
  EXPECT_EQ(model->status(), "Saving sent fax copy ...");
  EXPECT_TRUE(Files(outBox_).empty());
}

// A SentBox copy that cannot be made is shown in the status line and traced;
// the fax was sent, so the OutBox pair still goes.
TEST_F(SendFaxHubTest, AFailedSentBoxCopyIsShownAndTraced) {
  ASSERT_EQ(KvWriteRegDword(nullptr, "DebugFlags", 1), 1);
  StartHub();
  Capture();
  const std::string sentBox = GetUserEnvironment().GetSentBoxPath();
  fs::remove_all(sentBox);
  test::Sandbox::writeFile(sentBox.substr(0, sentBox.size() - 1), "not a folder");
  ASSERT_EQ(KvSetSendFaxToLast("\x1B\x1B.\x1B" "0\x1B" "1\x1B"), 1);
  auto model = Make();
  model->SetNumber("200");
  model->Send();
  EXPECT_EQ(host_.results, std::vector<bool>{true});
  EXPECT_EQ(model->status(), "Error: Could not save sent fax copy!");
  EXPECT_TRUE(host_.Saw("Saving sent fax copy ..."));
  EXPECT_NE(test::Sandbox::readFile(sandbox_.traceFile()).find("KVCOPY"), std::string::npos);
  EXPECT_TRUE(Files(outBox_).empty());
  fs::remove(sentBox.substr(0, sentBox.size() - 1));
}

// A print stream the conversion refuses: its status text, and every file of
// the job goes; only Cancel remains.
TEST_F(SendFaxHubTest, AFailedConversionShowsItsTextAndRemovesTheFiles) {
  StartHub();
  Capture();
  test::Sandbox::writeFile(job_->faxImagePath, "BPBLxx garbage");
  auto model = Make();
  model->SetNumber("200");
  prompts_.Answer(Answer::Ok);
  model->Send();
  ASSERT_EQ(prompts_.boxes.size(), 1u);
  EXPECT_EQ(prompts_.boxes[0].caption, "Send Fax");
  EXPECT_EQ(prompts_.boxes[0].icon, desktop::Icon::Error);
  EXPECT_FALSE(prompts_.boxes[0].text.empty());
  EXPECT_EQ(model->end(), SendFaxModel::End::None);
  EXPECT_FALSE(model->sendEnabled() || model->numberEnabled() || model->optionsEnabled() ||
               model->addressBookEnabled() || model->listEnabled() || model->nameEnabled());
  EXPECT_TRUE(Files(outBox_).empty());
  EXPECT_EQ(Queued(), 0u);
  EXPECT_TRUE(host_.results.empty());
  // Cancel: No keeps the dialog, Yes ends it.
  prompts_.Answer(Answer::No);
  model->Cancel();
  EXPECT_EQ(model->end(), SendFaxModel::End::None);
  prompts_.Answer(Answer::Yes);
  model->Cancel();
  EXPECT_EQ(model->end(), SendFaxModel::End::Cancel);
  EXPECT_EQ(prompts_.boxes[1].text, "Do you want to cancel sending fax ?");
  EXPECT_EQ(prompts_.boxes[1].caption, "Cancel Send Fax ?");
  EXPECT_EQ(prompts_.boxes[1].buttons, desktop::Buttons::YesNoDefaultNo);
  EXPECT_EQ(prompts_.boxes[1].icon, desktop::Icon::Warning);
}

// The preview starts the program named by "KorvoLens" on the fax file (a
// stand-in that records its command line and waits); Continue ends it and
// sends. A viewer that cannot start leaves the pair and only Cancel.
TEST_F(SendFaxHubTest, PreviewStartsTheViewerAndContinueEndsItAndSends) {
  StartHub();
  const std::string viewer = TempPath("viewer.sh");
  const std::string args = TempPath("viewer.args");
  test::Sandbox::writeFile(viewer, "#!/bin/sh\nprintf '%s\\n' \"$@\" > " + args + ".tmp\nmv " + args + ".tmp " + args +
                                       "\nexec sleep 600\n");
  fs::permissions(viewer, fs::perms::owner_all);
  ASSERT_EQ(KvSetKorvoLensName(viewer.c_str()), 1);
  Capture();
  ASSERT_EQ(KvSetSendFaxToLast("\x1B\x1B.\x1B" "0\x1B" "0\x1B" "1\x1B"), 1);
  auto model = Make();
  model->SetNumber("200");
  model->Send();
  EXPECT_EQ(model->status(), "Press Continue to send fax ...");
  EXPECT_TRUE(host_.Saw("Previewing fax. Please wait ..."));
  EXPECT_EQ(model->sendLabel(), "C&ontinue");
  EXPECT_TRUE(model->sendEnabled());
  ASSERT_GT(job_->viewerProcess, 0);
  const pid_t viewerPid = job_->viewerProcess;
  for (int i = 0; i < 6000 && !fs::exists(args); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(test::Sandbox::readFile(args), base_ + ".FAX\n");
  EXPECT_TRUE(host_.results.empty());
  model->Send();  // Continue
  EXPECT_EQ(job_->viewerProcess, -1);
  EXPECT_NE(kill(viewerPid, 0), 0);  // ended and reaped
  EXPECT_EQ(host_.results, std::vector<bool>{true});
  EXPECT_EQ(model->end(), SendFaxModel::End::Ok);

  NewJob();
  host_ = Host();
  ASSERT_EQ(KvSetKorvoLensName(TempPath("no-such-viewer").c_str()), 1);
  Capture();
  auto stuck = Make();
  stuck->SetNumber("200");
  stuck->Send();
  EXPECT_EQ(stuck->status(), "Error: Could not start Korvo Viewer!");
  EXPECT_FALSE(stuck->sendEnabled());
  EXPECT_EQ(Files(outBox_), (std::vector<std::string>{Name(".FAX"), Name(".KVF")}));
  prompts_.Answer(Answer::Yes);
  stuck->Cancel();
  EXPECT_EQ(stuck->end(), SendFaxModel::End::Cancel);
  EXPECT_EQ(Files(outBox_).size(), 2u);  // a cancelled job leaves its files
  for (auto& f : Files(outBox_)) fs::remove(outBox_ + f);
}

// Options and Address Book run their dialogs on the job; the recipients the
// Send Fax To dialog picked join the list.
TEST_F(SendFaxHubTest, AddressBookRecipientsJoinTheList) {
  StartHub();
  Capture();
  auto model = Make();
  model->SetName("Ana");
  model->SetNumber("100");
  model->AddOrRemove();
  host_.sendFaxTo = [](SendFaxJob& job) {
    EXPECT_TRUE(job.recipientsHeader->recipients.IsEmpty());  // a new, empty one
    job.recipientsHeader->recipients.AddTail(test::Lan("ivo"));
    job.recipientsHeader->recipients.AddTail(test::Fax("300", "Eva"));
    return true;
  };
  model->AddressBook();
  host_.sendFaxTo = [](SendFaxJob& job) {
    job.recipientsHeader->recipients.AddTail(test::Fax("999"));
    return false;  // Cancel
  };
  model->AddressBook();
  ASSERT_EQ(model->entries().size(), 3u);
  EXPECT_EQ(model->entries()[1].text, "ivo (LAN)");
  EXPECT_EQ(model->entries()[2].text, "Eva: 300");
  EXPECT_EQ(job_->recipientsHeader->recipients.GetCount(), 3);
  host_.options = [](SendFaxJob& job) {
    job.subject = "From options";
    return true;
  };
  model->Options();
  model->Send();
  ASSERT_TRUE(host_.headerRead);
  EXPECT_EQ(host_.sentHeader.subject, "From options");
  EXPECT_EQ(host_.sentHeader.recipients.GetCount(), 3);
  EXPECT_EQ(host_.sentHeader.recipients[1], test::Lan("ivo"));
}

// Send Fax To: the local book alone, then with the global book the server's
// users on top, its book next and the local book last.
TEST_F(SendFaxHubTest, SendFaxToListsUsersThenTheGlobalBookThenTheLocalBook) {
  StartHub();
  int32_t id = 0;
  auto address = [](const char* first, const char* last, const char* fax) {
    AddressEntry e;
    e.firstName = first;
    e.lastName = last;
    e.faxNumber = fax;
    e.company = "Co";
    return e;
  };
  ASSERT_EQ(client_.AddAddress(nullptr, address("Lo", "Cal", "111"), id).status, 0u);
  ASSERT_EQ(client_.AddAddress(nullptr, address("Lo", "Two", "112"), id).status, 0u);
  ASSERT_EQ(client_.AddAddress(".", address("Glo", "Bal", "222"), id).status, 0u);
  RegisteredUserEntry user;
  user.userName = "ivo";
  user.fullName = "Ivo Ivic";
  user.rights = 2;
  user.faxNumber = "333";
  ASSERT_EQ(client_.ChangeUser(".", FaxClient::kAddUser, user).status, 0u);

  job_->server = ".";
  job_->recipientsHeader = std::make_unique<FaxHeader>();
  std::vector<std::string> local = {"Lo Cal: 111", "Lo Two: 112"};
  {
    SendFaxToModel to(*job_);
    std::vector<std::string> texts;
    for (auto& e : to.entries()) texts.push_back(e.text);
    EXPECT_EQ(texts, local);
    EXPECT_FALSE(to.useGlobal());
    to.Apply({});  // nothing selected: no recipient
    EXPECT_TRUE(job_->recipientsHeader->recipients.IsEmpty());
  }
  SendFaxToModel to(*job_);
  to.SetUseGlobal(true);
  EXPECT_EQ(job_->useGlobalAddressBook, 1);
  std::vector<std::string> texts;
  for (auto& e : to.entries()) texts.push_back(e.text);
  // The users in the server's order, then the books.
  UserEntryList users;
  ASSERT_EQ(client_.GetUserList(".", users).status, 0u);
  std::vector<std::string> expected;
  for (auto& u : users) expected.push_back(u.GetLabel());
  for (const char* e : {"Glo Bal: 222", "Lo Cal: 111", "Lo Two: 112"}) expected.push_back(e);
  EXPECT_EQ(texts, expected);
  const size_t n = users.size();
  ASSERT_EQ(texts.size(), n + 3);
  // Unchecked: the flag goes, the entries stay.
  to.SetUseGlobal(false);
  EXPECT_EQ(to.entries().size(), n + 3);
  const int ivo = static_cast<int>(std::find(texts.begin(), texts.end(), "Ivo Ivic: ivo") - texts.begin());
  ASSERT_LT(ivo, static_cast<int>(n));
  to.Apply({static_cast<int>(n) + 1, ivo, static_cast<int>(n)});
  EXPECT_EQ(job_->useGlobalAddressBook, 0);
  const RecipientList& got = job_->recipientsHeader->recipients;
  ASSERT_EQ(got.GetCount(), 3);
  EXPECT_EQ(got[0], FaxSenderOrRecipient("ivo", 1, "Ivo Ivic", "", "", "333"));
  EXPECT_EQ(got[1], FaxSenderOrRecipient("222", 0, "Glo Bal", "Co", "", "222"));
  EXPECT_EQ(got[2], FaxSenderOrRecipient("111", 0, "Lo Cal", "Co", "", "111"));
  // No "LST" file stays in the data folder.
  for (auto& f : Files(GetUserEnvironment().GetDataPath())) EXPECT_NE(f.substr(0, 3), "LST") << f;
}

// A registered user's list line can be longer than 256 bytes (every field
// full): it is still one entry, with all its fields. An address-book line
// (a record of at most 255 characters) beside it.
TEST_F(SendFaxHubTest, SendFaxToReadsLongEntriesWhole) {
  StartHub();
  AddressEntry a;
  a.firstName = std::string(31, 'f');
  a.lastName = std::string(63, 'l');
  a.company = std::string(63, 'c');
  a.faxNumber = std::string(31, '1');
  a.phoneNumber = std::string(31, '2');
  int32_t id = 0;
  ASSERT_EQ(client_.AddAddress(nullptr, a, id).status, 0u);
  ASSERT_EQ(client_.AddAddress(".", a, id).status, 0u);
  RegisteredUserEntry u;
  u.userName = std::string(31, 'u');
  u.fullName = std::string(63, 'n');
  u.description = std::string(63, 'd');
  u.email = std::string(63, 'e');
  u.company = std::string(63, 'c');
  u.faxNumber = std::string(31, '3');
  u.phoneNumber = std::string(31, '4');
  u.rights = 2;
  ASSERT_EQ(client_.ChangeUser(".", FaxClient::kAddUser, u).status, 0u);
  UserEntryList users;
  ASSERT_EQ(client_.GetUserList(".", users).status, 0u);

  job_->server = ".";
  job_->useGlobalAddressBook = 1;
  job_->recipientsHeader = std::make_unique<FaxHeader>();
  SendFaxToModel to(*job_);
  ASSERT_EQ(to.entries().size(), users.size() + 2);
  EXPECT_EQ(to.recipients().GetCount(), static_cast<int>(users.size()) + 2);
  const std::string book = a.GetFullName() + ": " + a.faxNumber;
  EXPECT_EQ(to.entries()[users.size()].text, book);
  EXPECT_EQ(to.entries()[users.size() + 1].text, book);
  std::vector<int> all;
  for (size_t i = 0; i < to.entries().size(); ++i) all.push_back(static_cast<int>(i));
  to.Apply(all);
  const RecipientList& got = job_->recipientsHeader->recipients;
  EXPECT_EQ(got[static_cast<int>(users.size())], FaxSenderOrRecipient(a));
  bool userFound = false;
  for (const auto& r : got) userFound = userFound || r == FaxSenderOrRecipient(u);
  EXPECT_TRUE(userFound);
}

}  // namespace
}  // namespace korvo::sendfax
