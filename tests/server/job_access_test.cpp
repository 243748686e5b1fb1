// Who may fetch (4010), delete (4030) and submit (4000) which fax, asked by
// real logins over their own connections to a real korvohub: the owner of
// a job, another user, a dispatcher, an administrator and root.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/entries.h"
#include "common/fax_header.h"
#include "common/fields.h"
#include "common/status_codes.h"
#include "tests/server/hub_fixture.h"
#include "tests/server/queue_fixture.h"

namespace korvo {
namespace {

using test::Fax;
using test::Lan;

constexpr const char* kServer = ".";

// Requesters: system accounts every Debian system has, registered here with
// the rights of their part; root is root.
struct Requester {
  const char* part;
  const char* login;
  uint32_t rights;
};
const Requester kRequesters[] = {
    {"owner", "daemon", kRightRegistered},
    {"other", "bin", kRightRegistered},
    {"dispatcher", "sys", kRightRegistered | kRightDispatch},
    {"administrator", "games", kRightRegistered | kRightAdministration},
    {"root", "root", 0},
};

// The jobs, each made afresh for every request that may consume it.
enum Job { kOwnIncoming, kOthersIncoming, kNobodys, kOwnOutgoing, kOthersOutgoing, kJobCount };
const char* const kJobNames[] = {"owner's incoming", "other's incoming", "~nobody's", "owner's outgoing",
                                 "other's outgoing"};

// What a request does to a job: served (and the job is gone), refused for
// want of permission (the job stays), or the bare error tag of a job that
// cannot be fetched (the job stays).
enum Outcome { kServed, kRefused, kNotFetchable };

class JobAccessTest : public test::HubFixture {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to connect as other logins";
    for (const Requester& r : kRequesters) {
      const passwd* pw = getpwnam(r.login);
      if (!pw) GTEST_SKIP() << "no login " << r.login;
      uids_[r.login] = pw->pw_uid;
    }
    HubFixture::SetUp();
    // Every login reaches the socket; each has a folder of its own for the
    // files it sends and fetches.
    std::filesystem::permissions(sandbox_.root(), std::filesystem::perms(0755));
    for (const Requester& r : kRequesters) {
      const auto dir = Folder(r.login);
      std::filesystem::create_directories(dir);
      ASSERT_EQ(chown(dir.c_str(), uids_[r.login], 0), 0);
    }
    StartHub();
    for (const Requester& r : kRequesters) {
      if (r.rights == 0) continue;
      RegisteredUserEntry user;
      user.userName = r.login;
      user.rights = r.rights;
      ASSERT_EQ(client_.ChangeUser(kServer, FaxClient::kAddUser, user).status, 0u) << r.login;
    }
  }

  std::filesystem::path Folder(const std::string& login) { return sandbox_.path("as-" + login); }

  // Runs the body on a thread of its own whose effective user is the login,
  // so its connections carry that login's credentials.
  template <class Body>
  void As(const std::string& login, Body body) {
    std::thread t([&] {
      if (uids_[login] != 0) {
        ASSERT_EQ(syscall(SYS_setresuid, -1, uids_[login], -1), 0);
      }
      body();
    });
    t.join();
  }

  // The header and image of a fax from the sender to one recipient, in the
  // login's folder and its own.
  void WriteFax(const std::string& login, const FaxSenderOrRecipient& sender, const FaxSenderOrRecipient& to,
                std::string* headerFile, std::string* imageFile) {
    *headerFile = (Folder(login) / "fax.kvf").string();
    *imageFile = (Folder(login) / "fax.tif").string();
    FaxHeader header;
    header.sender = sender;
    header.recipients.AddTail(to);
    header.subject = "Access";
    ASSERT_EQ(header.SaveToFile(*headerFile), 1);
    test::WriteFaxFile(*imageFile, 1);
    for (const auto* f : {headerFile, imageFile}) ASSERT_EQ(chown(f->c_str(), uids_[login], 0), 0);
  }

  // The ids of every job in the queue.
  std::set<uint32_t> JobIds() {
    std::set<uint32_t> ids;
    for (uint32_t code : {5000u, 6000u}) {
      const std::string path = TempPath("list.txt");
      EXPECT_EQ(client_.DownloadList(kServer, code, nullptr, path).status, 0u);
      for (const auto& line : test::ListLines(test::Sandbox::readFile(path)))
        if (!line.empty()) ids.insert(static_cast<uint32_t>(std::stoul(test::ListField(line, 1))));
    }
    return ids;
  }

  // Queues the job (root submits it, whoever its sender is) and gives its id.
  uint32_t MakeJob(Job job) {
    const auto before = JobIds();
    const std::map<Job, std::pair<FaxSenderOrRecipient, FaxSenderOrRecipient>> parties = {
        {kOwnIncoming, {Lan("root"), Lan("daemon")}},   {kOthersIncoming, {Lan("root"), Lan("bin")}},
        {kNobodys, {Lan("root"), Lan("~nobody")}},      {kOwnOutgoing, {Lan("daemon"), Fax("5550100")}},
        {kOthersOutgoing, {Lan("bin"), Fax("5550100")}},
    };
    std::string header, image;
    WriteFax("root", parties.at(job).first, parties.at(job).second, &header, &image);
    EXPECT_EQ(client_.SendFaxFiles(kServer, header, image).status, 0u);
    const auto after = JobIds();
    for (uint32_t id : after)
      if (!before.count(id)) return id;
    ADD_FAILURE() << "no job queued";
    return 0;
  }

  std::map<std::string, uid_t> uids_;
};

// requester × job for 4010 and 4030: only a job of the requester's own
// lists is fetched or deleted (a "~nobody" fax is fetched by dispatchers);
// administrators and root touch any job.
TEST_F(JobAccessTest, OnlyOwnJobsAreFetchedOrDeleted) {
  struct Row {
    const char* part;
    Outcome fetch[kJobCount];
    Outcome remove[kJobCount];
  };
  const Row rows[] = {
      {"owner", {kServed, kRefused, kRefused, kRefused, kRefused}, {kServed, kRefused, kRefused, kServed, kRefused}},
      {"other", {kRefused, kServed, kRefused, kRefused, kRefused}, {kRefused, kServed, kRefused, kRefused, kServed}},
      {"dispatcher",
       {kRefused, kRefused, kServed, kRefused, kRefused},
       {kRefused, kRefused, kRefused, kRefused, kRefused}},
      {"administrator",
       {kServed, kServed, kServed, kNotFetchable, kNotFetchable},
       {kServed, kServed, kServed, kServed, kServed}},
      {"root", {kServed, kServed, kServed, kNotFetchable, kNotFetchable}, {kServed, kServed, kServed, kServed, kServed}},
  };
  for (const Row& row : rows) {
    const Requester& who = *std::find_if(std::begin(kRequesters), std::end(kRequesters),
                                         [&](const Requester& r) { return std::string(r.part) == row.part; });
    for (int j = 0; j < kJobCount; ++j) {
      for (uint32_t code : {4010u, 4030u}) {
        const Outcome expect = code == 4010 ? row.fetch[j] : row.remove[j];
        SCOPED_TRACE(std::string(row.part) + " " + std::to_string(code) + " " + kJobNames[j]);
        const uint32_t id = MakeJob(static_cast<Job>(j));
        RequestResult result;
        As(who.login, [&] {
          FaxClient client;
          const std::string dir = Folder(who.login).string();
          result = code == 4010 ? client.GetFax(kServer, static_cast<int32_t>(id), dir + "/got.kvf", dir + "/got.tif")
                                : client.SendNumber(kServer, code, id);
        });
        const Status status = expect == kServed    ? kStatusSuccess
                              : expect == kRefused ? kStatusNoPermission
                                                   : kStatusServerErrorIndication;
        EXPECT_EQ(result.status, status) << result.text;
        // A fetch completes the job after the client's final Ok, which the
        // client does not wait to see answered.
        for (int i = 0; i < 6000 && expect == kServed && JobIds().count(id); ++i)
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(JobIds().count(id), expect == kServed ? 0u : 1u) << "job " << id;
        if (expect == kServed && code == 4010) {
          EXPECT_TRUE(std::filesystem::exists(Folder(who.login) / "got.tif"));
        }
        std::filesystem::remove(Folder(who.login) / "got.tif");
      }
    }
  }
  // An id that names no job keeps its answers.
  As("daemon", [&] {
    FaxClient client;
    const std::string dir = Folder("daemon").string();
    EXPECT_EQ(client.SendNumber(kServer, 4030, 999).status, kStatusRequestAlreadyDeleted);
    EXPECT_EQ(client.GetFax(kServer, 999, dir + "/got.kvf", dir + "/got.tif").status, kStatusServerErrorIndication);
  });
}

// 4000: the sender is the session's own user; only administrators and root
// submit faxes from somebody else.
TEST_F(JobAccessTest, OnlyAdministratorsSubmitFromAnotherSender) {
  for (const Requester& who : kRequesters) {
    const bool mayActForOthers = who.rights & kRightAdministration || std::string(who.login) == "root";
    const std::string foreign = std::string(who.login) == "bin" ? "daemon" : "bin";
    for (const std::string& sender : {std::string(who.login), foreign}) {
      SCOPED_TRACE(std::string(who.part) + " sends from " + sender);
      std::string header, image;
      WriteFax(who.login, Lan(sender), Lan("sys"), &header, &image);
      const auto before = JobIds();
      RequestResult result;
      As(who.login, [&] { result = FaxClient().SendFaxFiles(kServer, header, image); });
      const bool allowed = sender == who.login || mayActForOthers;
      EXPECT_EQ(result.status, allowed ? kStatusSuccess : kStatusNoPermission) << result.text;
      EXPECT_EQ(JobIds().size(), before.size() + (allowed ? 1 : 0));
      if (!allowed) {
        EXPECT_TRUE(test::ServerLogged("[" + std::string(who.login) + "] Not allowed to send a fax from '" + sender + "'"));
      }
    }
  }
}

}  // namespace
}  // namespace korvo
