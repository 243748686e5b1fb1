// The spool queue: one scheduler pass over queues of growing size with 128
// ports, and submissions per second when every one is saved durably (the
// whole Queue.lst rewritten, fsynced and renamed), for queues of growing size
// and one or many clients, beside the disk's own bound.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/page_descriptor.h"
#include "common/settings.h"
#include "common/tiff_writer.h"
#include "platform/durable_file.h"
#include "platform/sync.h"
#include "server/queue.h"

namespace {

namespace fs = std::filesystem;

constexpr int kPorts = 128;
int64_t gNow = 1700000000;
int64_t Clock() { return gNow; }

// Ports that take every batch and drop it.
class Ports : public korvo::SendPorts {
 public:
  int FindFreePort() override { return next_ < kPorts ? next_++ : -1; }
  bool StartSend(int, const char*, std::shared_ptr<korvo::SendRequestList>) override { return true; }
  void ReleasePort(int) override {}
  bool QueryPort(int, uint32_t, int32_t*, int32_t*, int32_t*) override { return false; }
  bool AbortRequest(int, uint32_t) override { return false; }
  void Reset() { next_ = 0; }

 private:
  int next_ = 0;
};

// A folder on the disk (fsync costs nothing on tmpfs): $KORVO_BENCH_DIR or /var/tmp.
class Folder {
 public:
  Folder() {
    const char* base = getenv("KORVO_BENCH_DIR");
    std::string dir = std::string(base ? base : "/var/tmp") + "/korvo-queue-XXXXXX";
    if (!mkdtemp(dir.data())) std::abort();
    path_ = dir;
    // The hives go here too, so the retry settings never touch a real one.
    setenv("KORVO_MACHINE_HIVE", (path_ / "machine.reg").c_str(), 1);
    setenv("KORVO_USER_HIVE", (path_ / "user.reg").c_str(), 1);
  }
  ~Folder() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

korvo::QueueConfig Config(const Folder& folder, Ports* ports) {
  korvo::QueueConfig c;
  c.listPath = (folder.path() / "Queue.lst").string();
  c.queueDir = folder.path().string();
  c.ports = ports;
  c.clock = Clock;
  c.periodMs = korvo::platform::kInfinite;
  return c;
}

// Queue.lst with n due outgoing jobs to 1000 numbers, 10 jobs to an image.
void WriteQueue(const Folder& folder, int n) {
  std::vector<korvo::FaxImg> images;
  std::vector<korvo::FaxReq> jobs;
  for (int i = 0; i < n; ++i) {
    if (i % 10 == 0) {
      korvo::FaxImg image;
      image.id = static_cast<uint32_t>(images.size() + 1);
      image.path = (folder.path() / ("FAX" + std::to_string(image.id) + ".TMP")).string();
      image.pageCount = 2;
      image.subject = "Offer";
      image.sender = korvo::FaxSenderOrRecipient("alice", 1, "Alice", "", "", "");
      images.push_back(image);
    }
    images.back().refCount++;
    korvo::FaxReq job;
    job.direction = 1;
    job.imageId = images.back().id;
    job.jobId = static_cast<uint32_t>(i + 1);
    job.recipient = korvo::FaxSenderOrRecipient("+385 1 555 " + std::to_string(i % 1000), 0, "", "", "", "");
    job.submitTime = job.dueTime = static_cast<int32_t>(gNow - 60);
    job.priority = 100;
    job.retryInterval = 3;
    job.attemptsAllowed = 5;
    job.state = korvo::JobState::Queued;
    jobs.push_back(job);
  }
  const std::string bytes =
      korvo::Queue::Encode(static_cast<uint32_t>(images.size()), static_cast<uint32_t>(n), images, jobs);
  if (!korvo::platform::ReplaceFileDurably((folder.path() / "Queue.lst").string(), bytes)) std::abort();
}

// A pass that hands out all 128 ports: 128 batch walks over the due jobs.
void BM_SchedulerPassStartingBatches(benchmark::State& state) {
  Folder folder;
  WriteQueue(folder, static_cast<int>(state.range(0)));
  Ports ports;
  for (auto _ : state) {
    state.PauseTiming();
    int ok = 0;
    auto queue = std::make_unique<korvo::Queue>(Config(folder, &ports), &ok);
    ports.Reset();
    state.ResumeTiming();
    benchmark::DoNotOptimize(queue->SchedulerPass());
    state.PauseTiming();
    queue.reset();
    WriteQueue(folder, static_cast<int>(state.range(0)));  // the destructor saved the sending jobs
    state.ResumeTiming();
  }
  state.SetLabel("jobs=" + std::to_string(state.range(0)) + " ports=128");
}
BENCHMARK(BM_SchedulerPassStartingBatches)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The usual pass: every port busy, every due job looks for one in vain.
void BM_SchedulerPassAllPortsBusy(benchmark::State& state) {
  Folder folder;
  WriteQueue(folder, static_cast<int>(state.range(0)));
  Ports ports;
  int ok = 0;
  korvo::Queue queue(Config(folder, &ports), &ok);
  queue.SchedulerPass();  // takes the 128 ports
  for (auto _ : state) benchmark::DoNotOptimize(queue.SchedulerPass());
  state.SetLabel("jobs=" + std::to_string(state.range(0)) + " ports=128");
}
BENCHMARK(BM_SchedulerPassAllPortsBusy)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Encoding Queue.lst of n jobs, which every save does under the queue lock.
void BM_QueueListEncode(benchmark::State& state) {
  Folder folder;
  WriteQueue(folder, static_cast<int>(state.range(0)));
  Ports ports;
  int ok = 0;
  korvo::Queue queue(Config(folder, &ports), &ok);
  std::vector<korvo::FaxImg> images = queue.Images();
  std::vector<korvo::FaxReq> jobs = queue.Jobs();
  size_t bytes = 0;
  for (auto _ : state) {
    const std::string list = korvo::Queue::Encode(queue.ImageCounter(), queue.JobCounter(), images, jobs);
    bytes = list.size();
    benchmark::DoNotOptimize(list.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.SetLabel("jobs=" + std::to_string(state.range(0)));
}
BENCHMARK(BM_QueueListEncode)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The one-page image every submission writes anew, as a client's upload does.
std::string ImageBytes(const Folder& folder) {
  const std::string path = (folder.path() / "FAX.TMP").string();
  korvo::TiffWriter writer;
  writer.Open(path);
  korvo::PageDescriptor page;
  page.length = 1;
  const uint8_t line[] = {0x00, 0x80, 0xB2, 0x59, 0x01};
  writer.WritePage(page, line, sizeof line);
  writer.Close();
  std::string bytes;
  if (!korvo::platform::ReadWholeFile(path, bytes)) std::abort();
  return bytes;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) std::abort();
}

// Faxes (one recipient each) from a number of clients at once into a queue
// of n jobs, each on the disk before InsertFax returns: its image flushed,
// Queue.lst rewritten, flushed and renamed. Beside it, timed in turn in every
// iteration, the physical bound of one client: the same Queue.lst bytes
// written, flushed and renamed, and a record appended and fdatasynced.
// "vs rewrite" is submissions per second over rewrites per second.
void BM_DurableSubmission(benchmark::State& state) {
  const int queued = static_cast<int>(state.range(0));
  const int clients = static_cast<int>(state.range(1));
  constexpr int kPerClientAndRound = 16;
  Folder folder;
  WriteQueue(folder, queued);
  SetRetryTimeout(3);
  SetRetryAttempts(5);
  // Every queued job is alice's: her share of the queue may hold them all
  // (what working out that share costs is measured with the rest).
  KvWriteRegDword("Server", "MaxQueueJobsPerSender", 0xFFFFFFFFu);
  KvWriteRegDword("Server", "MaxQueueKBPerSender", 0xFFFFFFFFu);
  korvo::ClientLimits::Load();
  const std::string image = ImageBytes(folder);
  Ports ports;
  int ok = 0;
  korvo::Queue queue(Config(folder, &ports), &ok);
  korvo::FaxHeader header;
  header.sender = korvo::FaxSenderOrRecipient("alice", 1, "", "", "", "");
  header.subject = "Offer";
  header.priority = 100;
  header.sendTime = korvo::ScheduleTimeInfo(2, static_cast<int32_t>(gNow + 3600));
  header.recipients.AddTail(korvo::FaxSenderOrRecipient("+385 1 555 0000", 0, "", "", "", ""));
  const std::string bound = (folder.path() / "Bound.lst").string();
  const std::string log = (folder.path() / "Bound.log").string();
  const int logFd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (logFd < 0) std::abort();
  const std::string record(128, 'r');
  using Clock = std::chrono::steady_clock;
  Clock::duration submitting{}, rewriting{}, appending{};
  int64_t submitted = 0, rewrites = 0, appends = 0;
  std::atomic<int> serial{0};
  std::atomic<bool> failed{false};
  for (auto _ : state) {
    const auto t0 = Clock::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c)
      threads.emplace_back([&] {
        for (int i = 0; i < kPerClientAndRound; ++i) {
          const std::string path = (folder.path() / ("FAX" + std::to_string(++serial) + ".TMP")).string();
          WriteFile(path, image);
          if (queue.InsertFax(path.c_str(), header, korvo::Queue::kKindSubmitted, 0, korvo::JobState::Queued) != 1)
            failed = true;
        }
      });
    for (auto& t : threads) t.join();
    const auto t1 = Clock::now();
    state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    submitting += t1 - t0;
    submitted += clients * kPerClientAndRound;
    if (failed) {
      state.SkipWithError("InsertFax failed");
      break;
    }
    // The bound at the queue's present size, as often as there were rounds of writes.
    std::vector<korvo::FaxImg> images = queue.Images();
    std::vector<korvo::FaxReq> jobs = queue.Jobs();
    const std::string bytes = korvo::Queue::Encode(queue.ImageCounter(), queue.JobCounter(), images, jobs);
    const auto t2 = Clock::now();
    for (int i = 0; i < kPerClientAndRound; ++i)
      if (!korvo::platform::ReplaceFileDurably(bound, bytes)) std::abort();
    const auto t3 = Clock::now();
    for (int i = 0; i < kPerClientAndRound; ++i)
      if (::write(logFd, record.data(), record.size()) != static_cast<ssize_t>(record.size()) || ::fdatasync(logFd) != 0)
        std::abort();
    const auto t4 = Clock::now();
    rewriting += t3 - t2;
    appending += t4 - t3;
    rewrites += kPerClientAndRound;
    appends += kPerClientAndRound;
  }
  ::close(logFd);
  auto rate = [](int64_t n, Clock::duration d) { return static_cast<double>(n) / std::chrono::duration<double>(d).count(); };
  const double submissions = rate(submitted, submitting);
  state.counters["submissions/s"] = submissions;
  state.counters["rewrites/s"] = rate(rewrites, rewriting);
  state.counters["appends/s"] = rate(appends, appending);
  state.counters["vs rewrite"] = submissions / rate(rewrites, rewriting);
  state.counters["queued at end"] = static_cast<double>(queue.Jobs().size());
  state.SetItemsProcessed(submitted);
  state.SetLabel("queued=" + std::to_string(queued) + " clients=" + std::to_string(clients));
}
BENCHMARK(BM_DurableSubmission)
    ->ArgsProduct({{0, 1000, 10000}, {1, 16}})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

}  // namespace
