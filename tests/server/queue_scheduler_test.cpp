// The scheduler pass against a literal walk of the job list (every port
// handed out looks for the first due job from the start and walks on from it
// to the next job not yet due) on many random queues: the same calls to the
// ports in the same order, the same batches, and the same Queue.lst
// afterwards. And a fax submitted while the pass waits for a port goes out in
// the same pass.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <list>
#include <map>
#include <random>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/fax_header.h"
#include "common/job_state.h"
#include "common/settings.h"
#include "tests/server/queue_fixture.h"
#include "platform/durable_file.h"
#include "platform/file_io.h"
#include "platform/sync.h"
#include "server/modem_port.h"
#include "server/queue.h"
#include "tests/support/sandbox.h"

namespace korvo {
namespace {

constexpr int64_t kNow = 1700000000;
int64_t Clock() { return kNow; }

// Ports whose answers depend only on the calls made so far, with every call
// written down.
class ScriptedPorts : public SendPorts {
 public:
  ScriptedPorts(int freePorts, int refuseEvery) : refuseEvery_(refuseEvery) {
    for (int i = 0; i < freePorts; ++i) free_.insert(i);
  }
  int FindFreePort() override {
    if (whileFinding) whileFinding();
    // A port comes free during the pass now and then.
    if (++finds_ % 37 == 0) free_.insert(100 + finds_);
    if (free_.empty()) {
      log.push_back("find -1");
      return -1;
    }
    const int port = *free_.begin();
    free_.erase(free_.begin());
    log.push_back("find " + std::to_string(port));
    return port;
  }
  bool StartSend(int port, const char* number, std::shared_ptr<SendRequestList> list) override {
    std::string line = "send " + std::to_string(port) + " " + number;
    for (const auto& e : *list)
      line += " " + std::to_string(e.jobId) + "/" + std::to_string(e.pages) + "/" + std::to_string(e.saferDialing) +
              "/" + e.imagePath + "/" + e.coverPath;
    const bool refused = refuseEvery_ != 0 && ++sends_ % refuseEvery_ == 0;
    log.push_back(line + (refused ? " refused" : ""));
    return !refused;
  }
  void ReleasePort(int port) override {
    log.push_back("release " + std::to_string(port));
    free_.insert(port);
  }
  bool QueryPort(int, uint32_t, int32_t*, int32_t*, int32_t*) override { return false; }
  bool AbortRequest(int, uint32_t) override { return false; }

  std::vector<std::string> log;
  std::function<void()> whileFinding;  // runs as a port is looked for, the queue unlocked

 private:
  std::set<int> free_;
  int refuseEvery_;
  int finds_ = 0;
  int sends_ = 0;
};

// The pass as a plain walk: for the first due job a port, and from that job
// on to the next job not yet due, the jobs of its number; again until no due
// job or no port is left.
class ListWalk {
 public:
  ListWalk(std::list<FaxImg> images, std::list<FaxReq> jobs, SendPorts& ports)
      : images_(std::move(images)), jobs_(std::move(jobs)), ports_(ports) {}

  void Pass() {
    for (auto& job : jobs_) {
      if (job.direction != 1 || job.sending || job.drop) continue;
      const int t = Time(job);
      if (t == 0 && !job.recipient.lan && job.recipient.address.size() >= ModemPort::kDialNumberSize) {
        job.state = JobState::CommunicationError;
        job.direction = 0;
        job.returned = 1;
      } else if (t == 2) {
        if (Image(job.imageId)) job.state = JobState::Expired;
        job.drop = 1;
      }
    }
    std::set<uint32_t> started;
    while (NextDue(started) != jobs_.end()) {
      const int port = ports_.FindFreePort();
      if (port < 0) break;
      const auto first = NextDue(started);
      started.insert(first->jobId);
      Batch(first, port);
    }
    for (auto it = jobs_.begin(); it != jobs_.end();) {
      if (!it->drop) {
        ++it;
        continue;
      }
      if (FaxImg* image = Image(it->imageId); image && image->refCount > 0) --image->refCount;
      it = jobs_.erase(it);
    }
    for (auto it = images_.begin(); it != images_.end();) it = it->refCount == 0 ? images_.erase(it) : std::next(it);
  }

  std::vector<FaxImg> Images() const { return {images_.begin(), images_.end()}; }
  std::vector<FaxReq> Jobs() const { return {jobs_.begin(), jobs_.end()}; }

 private:
  static int Time(const FaxReq& job) {
    const int64_t delta = kNow - job.dueTime;
    return delta > Queue::kHoldingTime ? 2 : delta < 0 ? 1 : 0;
  }
  std::list<FaxReq>::iterator NextDue(const std::set<uint32_t>& started) {
    for (auto it = jobs_.begin(); it != jobs_.end(); ++it)
      if (it->direction == 1 && !it->sending && !it->drop && !it->recipient.lan && Time(*it) == 0 &&
          !started.count(it->jobId))
        return it;
    return jobs_.end();
  }
  FaxImg* Image(uint32_t id) {
    for (auto& image : images_)
      if (image.id == id) return &image;
    return nullptr;
  }

  void Batch(std::list<FaxReq>::iterator first, int port) {
    auto list = std::make_shared<SendRequestList>();
    const std::string number = first->recipient.address;
    std::vector<FaxReq*> batch;
    for (auto it = first; it != jobs_.end(); ++it) {
      FaxReq& job = *it;
      if (job.direction != 1 || job.sending || job.drop) continue;
      const int t = Time(job);
      if (t == 1) break;
      if (t == 2 || job.recipient.lan) continue;
      const FaxImg* image = Image(job.imageId);
      if (!image) continue;
      if (image->pageCount == 0) {
        job.drop = 1;
        continue;
      }
      if (job.recipient.address != number) continue;
      SendRequestEntry entry;
      entry.state = JobState::Scheduled;
      entry.jobId = job.jobId;
      entry.saferDialing = job.saferDialing;
      if (job.coverPath.size() >= sizeof entry.coverPath || image->path.size() >= sizeof entry.imagePath) continue;
      std::snprintf(entry.coverPath, sizeof entry.coverPath, "%s", job.coverPath.c_str());
      std::snprintf(entry.imagePath, sizeof entry.imagePath, "%s", image->path.c_str());
      entry.pages = job.pages;
      list->Add(entry);
      batch.push_back(&job);
    }
    if (list->IsEmpty() || !ports_.StartSend(port, number.c_str(), list)) {
      ports_.ReleasePort(port);
      return;
    }
    for (FaxReq* job : batch) {
      job->sending = 1;
      job->port = port;
      job->state = JobState::Sending;
    }
  }

  std::list<FaxImg> images_;
  std::list<FaxReq> jobs_;
  SendPorts& ports_;
};

// A queue of every kind of job: due, not yet due and expired, to a few
// numbers, on the LAN, dropped, already sending or incoming, numbers too
// long to dial, images without pages or gone, paths too long to hand out.
void RandomQueue(std::mt19937& rng, const std::filesystem::path& dir, std::list<FaxImg>& images,
                 std::list<FaxReq>& jobs) {
  auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  const uint32_t imageCount = 1 + pick(12);
  for (uint32_t i = 1; i <= imageCount; ++i) {
    FaxImg image;
    image.id = i;
    image.path = (dir / ("FAX" + std::to_string(i) + ".TMP")).string();
    if (pick(15) == 0) image.path += std::string(300, 'x');
    image.pageCount = static_cast<uint16_t>(pick(6) == 0 ? 0 : 1 + pick(4));
    images.push_back(image);
  }
  const uint32_t numbers = 1 + pick(6);
  const uint32_t jobCount = pick(250);
  for (uint32_t j = 1; j <= jobCount; ++j) {
    FaxReq job;
    job.jobId = j;
    job.direction = pick(10) == 0 ? 0 : 1;
    job.imageId = pick(14) == 0 ? 999 : 1 + pick(imageCount);
    const uint32_t kind = pick(10);
    job.recipient = FaxSenderOrRecipient(kind == 0   ? std::string(40, '5')
                                         : kind == 1 ? "alice"
                                                     : "+385 1 " + std::to_string(pick(numbers)),
                                         kind == 1 ? 1 : 0, "", "", "", "");
    const uint32_t when = pick(8);
    job.dueTime = static_cast<int32_t>(when < 5   ? kNow - pick(600)
                                       : when < 7 ? kNow + 1 + pick(600)
                                                  : kNow - Queue::kHoldingTime - 1 - pick(60));
    job.submitTime = job.dueTime - 10;
    job.priority = static_cast<uint8_t>(pick(3) * 50);
    job.state = JobState::Queued;
    job.pages = static_cast<uint16_t>(pick(3));
    job.saferDialing = static_cast<int32_t>(pick(2));
    job.sending = pick(12) == 0;
    job.drop = pick(15) == 0;
    if (pick(5) == 0) job.coverPath = (dir / ("COV" + std::to_string(j) + ".TMP")).string();
    if (pick(25) == 0) job.coverPath = std::string(280, 'c');
    for (auto& image : images)
      if (image.id == job.imageId) ++image.refCount;
    jobs.push_back(job);
  }
}

TEST(SchedulerPass, MatchesTheListWalkOnRandomQueues) {
  test::Sandbox box;
  const auto dir = box.path("Queue");
  std::filesystem::create_directories(dir);
  std::mt19937 rng(32);
  for (int round = 0; round < 400; ++round) {
    std::list<FaxImg> images;
    std::list<FaxReq> jobs;
    RandomQueue(rng, dir, images, jobs);
    std::vector<FaxImg> imageVector(images.begin(), images.end());
    std::vector<FaxReq> jobVector(jobs.begin(), jobs.end());
    const std::string list = (dir / "Queue.lst").string();
    ASSERT_TRUE(platform::ReplaceFileDurably(list, Queue::Encode(50, 500, imageVector, jobVector)));
    // The queue's loading requeues what was being sent: the walk starts
    // from what the queue loaded.
    const int freePorts = static_cast<int>(rng() % 6);
    const int refuseEvery = static_cast<int>(rng() % 4);

    ScriptedPorts ours(freePorts, refuseEvery);
    std::string saved;
    {
      QueueConfig config;
      config.listPath = list;
      config.queueDir = dir.string();
      config.ports = &ours;
      config.clock = Clock;
      config.periodMs = platform::kInfinite;
      int ok = 0;
      Queue queue(config, &ok);
      ASSERT_EQ(ok, 1);
      const auto loadedJobs = queue.Jobs();
      const auto loadedImages = queue.Images();
      images.assign(loadedImages.begin(), loadedImages.end());
      jobs.assign(loadedJobs.begin(), loadedJobs.end());
      ASSERT_TRUE(queue.SchedulerPass());
    }
    ASSERT_TRUE(platform::ReadWholeFile(list, saved));

    ScriptedPorts theirs(freePorts, refuseEvery);
    ListWalk walk(images, jobs, theirs);
    walk.Pass();
    auto walkImages = walk.Images();
    auto walkJobs = walk.Jobs();
    ASSERT_EQ(ours.log, theirs.log) << round;
    // Whole lists differ in a few bytes: the round tells which to look at.
    ASSERT_TRUE(saved == Queue::Encode(50, 500, walkImages, walkJobs)) << "round " << round;
  }
}

TEST(SchedulerPass, AFaxSubmittedWhileAPortIsFoundGoesOutInTheSamePass) {
  test::Sandbox box;
  const auto dir = box.path("Queue");
  std::filesystem::create_directories(dir);
  SetRetryTimeout(3);
  SetRetryAttempts(5);
  ScriptedPorts ports(2, 0);
  QueueConfig config;
  config.listPath = (dir / "Queue.lst").string();
  config.queueDir = dir.string();
  config.ports = &ports;
  config.clock = Clock;
  config.periodMs = platform::kInfinite;
  int ok = 0;
  Queue queue(config, &ok);
  auto submit = [&](const std::string& number) {
    const auto image = dir / ("FAX" + number + ".TMP");
    test::WriteFaxFile(image, 1);
    FaxHeader header;
    header.sender = test::Lan("alice");
    header.sendTime = ScheduleTimeInfo(0, static_cast<int32_t>(kNow - 10));
    header.recipients.AddTail(test::Fax(number));
    ASSERT_EQ(queue.InsertFax(image.c_str(), header, Queue::kKindSubmitted, 0, JobState::Queued), 1);
  };
  submit("100");
  ports.whileFinding = [&] {
    ports.whileFinding = nullptr;
    submit("200");
  };
  ASSERT_TRUE(queue.SchedulerPass());
  ASSERT_EQ(ports.log.size(), 4u);
  const std::vector<std::string> sends = {ports.log[1].substr(0, 10), ports.log[3].substr(0, 10)};
  EXPECT_EQ(sends, (std::vector<std::string>{"send 0 100", "send 1 200"}));
  for (const auto& job : queue.Jobs()) EXPECT_EQ(job.sending, 1) << job.recipient.address;
}

}  // namespace
}  // namespace korvo
