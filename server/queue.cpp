#include "server/queue.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <algorithm>
#include <exception>
#include <filesystem>

#include "common/cover_page.h"
#include "common/fields.h"
#include "common/imaging_exceptions.h"
#include "common/settings.h"
#include "common/status_codes.h"
#include "common/tiff_reader.h"
#include "common/tiff_writer.h"
#include "platform/durable_file.h"
#include "platform/file_io.h"
#include "platform/tempfile.h"
#include "server/fax_session.h"
#include "server/faxserver.h"
#include "server/journal.h"
#include "server/modem_subsystem.h"
#include "server/syslog.h"
#include "server/trace.h"

namespace korvo {

Queue* g_Queue = nullptr;

namespace {

constexpr char kNobody[] = "~nobody";

// Files of this run are younger: what start-up repair leaves alone.
const std::filesystem::file_time_type kRunStart = std::filesystem::file_time_type::clock::now();

// The server's modem subsystem, whichever exists at the time of the call.
class ModemSubsystemPorts : public SendPorts {
 public:
  int FindFreePort() override { return g_ModemSubsystem ? g_ModemSubsystem->FindFreePort() : -1; }
  bool StartSend(int port, const char* number, std::shared_ptr<SendRequestList> list) override {
    return g_ModemSubsystem && g_ModemSubsystem->StartSend(port, number, std::move(list));
  }
  void ReleasePort(int port) override {
    if (g_ModemSubsystem) g_ModemSubsystem->ReleasePort(port);
  }
  bool QueryPort(int port, uint32_t jobId, int32_t* pages, int32_t* seconds, int32_t* state) override {
    return g_ModemSubsystem && g_ModemSubsystem->QueryPort(port, jobId, pages, seconds, state);
  }
  bool AbortRequest(int port, uint32_t jobId) override {
    return g_ModemSubsystem && g_ModemSubsystem->AbortRequest(port, jobId);
  }
};

ModemSubsystemPorts gModemPorts;

// RetryTimeout 1-60 (else 3) and RetryAttempts 1-10 (else 5), replaced values written back.
void RetrySettings(uint32_t* interval, uint32_t* attempts) {
  uint32_t v = 0;
  if (!GetRetryTimeout(&v) || v < 1 || v > 60) {
    v = 3;
    SetRetryTimeout(v);
  }
  *interval = v;
  if (!GetRetryAttempts(&v) || v < 1 || v > 10) {
    v = 5;
    SetRetryAttempts(v);
  }
  *attempts = v;
}

// The field mark and line ends would split a list line for its reader.
std::string FieldText(std::string text) {
  for (char& c : text)
    if (c == kFieldEnd || c == '\r' || c == '\n') c = ' ';
  return text;
}

template <size_t N>
bool CopyPath(char (&field)[N], const std::string& path) {
  if (path.size() >= N) return false;
  std::snprintf(field, N, "%s", path.c_str());
  return true;
}

void DeleteFile(const std::string& path) {
  if (!path.empty()) platform::DeleteFileByName(path.c_str());
}

template <class Images, class Jobs>
void EncodeList(Archive& ar, uint32_t imageCounter, uint32_t jobCounter, Images& images, Jobs& jobs) {
  ar.WriteDword(imageCounter);
  ar.WriteDword(jobCounter);
  ar.WriteWord(Queue::kListVersion);
  ar.WriteCount(static_cast<uint32_t>(images.size()));
  for (auto& image : images) image.Serialize(ar);
  ar.WriteCount(static_cast<uint32_t>(jobs.size()));
  for (auto& job : jobs) job.Serialize(ar);
}

// A change log record: its length and check, then the submission's image
// and jobs as the list stores them. A record cut short or damaged by a crash
// ends the log: it was never acknowledged.
constexpr size_t kRecordHead = 8;
// The log is taken into Queue.lst once it outgrows the list, or this: a
// rewrite then costs each submission about the bytes of its own record.
constexpr uint64_t kLogFloor = 16 * 1024;

uint32_t RecordCheck(std::string_view bytes) {
  uint32_t h = 2166136261u;
  for (unsigned char c : bytes) h = (h ^ c) * 16777619u;
  return h;
}

void PutWord(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}

uint32_t GetWord(const std::string& in, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<unsigned char>(in[at + i])) << (8 * i);
  return v;
}

// Before the first job not due earlier whose priority the new job beats, as
// the queue orders its jobs.
void InsertOrdered(std::list<FaxReq>& jobs, FaxReq&& job) {
  auto at = jobs.begin();
  for (; at != jobs.end(); ++at)
    if (at->dueTime >= job.dueTime && job.priority < at->priority) break;
  jobs.insert(at, std::move(job));
}

// Adds the log's records of submissions the list does not hold (image ids
// above the list's own counter); the number of records added.
int ReplayLog(const std::string& log, uint32_t listImageCounter, uint32_t* imageCounter, uint32_t* jobCounter,
              std::list<FaxImg>* images, std::list<FaxReq>* jobs) {
  int added = 0;
  for (size_t at = 0; log.size() - at >= kRecordHead;) {
    const uint32_t length = GetWord(log, at);
    if (length > log.size() - at - kRecordHead) break;
    const std::string_view payload(log.data() + at + kRecordHead, length);
    if (RecordCheck(payload) != GetWord(log, at + 4)) break;
    at += kRecordHead + length;
    try {
      Archive ar(payload);
      FaxImg image;
      image.Serialize(ar);
      const uint32_t count = ar.ReadCount();
      if (count > ar.Remaining()) break;  // each job takes bytes
      std::vector<FaxReq> loaded(count);
      for (auto& job : loaded) job.Serialize(ar);
      if (image.id <= listImageCounter) continue;
      *imageCounter = std::max(*imageCounter, image.id);
      images->push_back(std::move(image));
      for (auto& job : loaded) {
        *jobCounter = std::max(*jobCounter, job.jobId);
        InsertOrdered(*jobs, std::move(job));
      }
      ++added;
    } catch (const ArchiveException&) {
      break;
    }
  }
  return added;
}

}  // namespace

Status DrawCoverPageFile(const std::string& path, const FaxSenderOrRecipient& sender,
                         const FaxSenderOrRecipient& recipient, const std::string& subject, int32_t sendTime,
                         uint16_t pageCount) {
  try {
    TiffWriter writer;
    writer.Open(path);
    const Status status = DrawCoverPage(writer, CoverPageInfo(sender, recipient, subject, sendTime, pageCount,
                                                              CoverPageInfo::kRecipientGiven |
                                                                  CoverPageInfo::kPageCountGiven));
    if (status != kStatusSuccess) return status;
    writer.Close();
    return kStatusSuccess;
  } catch (...) {
    TraceCaughtException();
  }
  return kStatusCreateCoverPage;
}

void FaxImg::Serialize(Archive& ar) {
  ar.Transfer(id);
  ar.Transfer(pageCount);
  ar.Transfer(refCount);
  ar.Transfer(path);
  ar.Transfer(subject);
  ar.Transfer(flags);
  sender.Serialize(ar);
}

void FaxReq::Serialize(Archive& ar) {
  ar.Transfer(direction);
  ar.Transfer(imageId);
  ar.Transfer(jobId);
  ar.Transfer(submitTime);
  ar.Transfer(dueTime);
  ar.Transfer(seconds);
  ar.Transfer(priority);
  ar.Transfer(retryInterval);
  ar.Transfer(attemptsAllowed);
  ar.Transfer(attemptsMade);
  ar.Transfer(pages);
  ar.Transfer(state);
  ar.Transfer(port);
  ar.Transfer(coverPath);
  ar.Transfer(sending);
  ar.Transfer(checkedOut);
  ar.Transfer(saferDialing);
  ar.Transfer(drop);
  ar.Transfer(returned);
  recipient.Serialize(ar);
}

Queue::Queue(const QueueConfig& config, int* ok) : config_(config), ports_(config.ports ? config.ports : &gModemPorts) {
  *ok = 0;
  Load();
  RepairTemp();
  lastSave_ = Now();
  try {
    scheduler_ = std::thread([this] { SchedulerThread(); });
    *ok = 1;
  } catch (const std::exception&) {
    DebugTrace("Cannot create scheduler thread !\n");
  }
}

Queue::~Queue() {
  StopScheduler();
  uint64_t ticket = 0;
  {
    platform::MutexLock hold(mutex_, platform::kInfinite);
    ticket = RequestSave(false);
  }
  Commit(ticket);
  if (logFd_ >= 0) ::close(logFd_);
  mutex_.Lock(platform::kInfinite);
  mutex_.Close();
  stop_.Close();
}

void Queue::StopScheduler() {
  stop_.Set();
  if (scheduler_.joinable() && scheduler_.get_id() != std::this_thread::get_id()) scheduler_.join();
}

int64_t Queue::Now() const { return config_.clock ? config_.clock() : static_cast<int64_t>(std::time(nullptr)); }

// ---- Queue.lst ----

std::string Queue::Encode(uint32_t imageCounter, uint32_t jobCounter, std::vector<FaxImg>& images,
                          std::vector<FaxReq>& jobs) {
  Archive ar;
  EncodeList(ar, imageCounter, jobCounter, images, jobs);
  return ar.TakeBytes();
}

bool Queue::Decode(const std::string& bytes, uint32_t* imageCounter, uint32_t* jobCounter, std::list<FaxImg>* images,
                   std::list<FaxReq>* jobs) {
  try {
    Archive ar(bytes);
    const uint32_t imageCount = ar.ReadDword();
    const uint32_t jobCount = ar.ReadDword();
    if (ar.ReadWord() != kListVersion) return false;
    std::list<FaxImg> loadedImages;
    for (uint32_t n = ar.ReadCount(); n > 0; --n) {
      FaxImg image;
      image.Serialize(ar);
      loadedImages.push_back(std::move(image));
    }
    std::list<FaxReq> loadedJobs;
    for (uint32_t n = ar.ReadCount(); n > 0; --n) {
      FaxReq job;
      job.Serialize(ar);
      loadedJobs.push_back(std::move(job));
    }
    *imageCounter = imageCount;
    *jobCounter = jobCount;
    *images = std::move(loadedImages);
    *jobs = std::move(loadedJobs);
    return true;
  } catch (const ArchiveException&) {
    return false;
  }
}

std::string Queue::LogPath(const std::string& listPath) {
  return std::filesystem::path(listPath).replace_extension(".log").string();
}

bool Queue::ReadSaved(const std::string& listPath, uint32_t* imageCounter, uint32_t* jobCounter,
                      std::list<FaxImg>* images, std::list<FaxReq>* jobs) {
  std::string log, list;
  std::error_code ec;
  if (std::filesystem::exists(LogPath(listPath), ec) && !platform::ReadWholeFile(LogPath(listPath), log)) return false;
  uint32_t imageCount = 0, jobCount = 0;
  std::list<FaxImg> loadedImages;
  std::list<FaxReq> loadedJobs;
  if (std::filesystem::exists(listPath, ec) &&
      (!platform::ReadWholeFile(listPath, list) || !Decode(list, &imageCount, &jobCount, &loadedImages, &loadedJobs)))
    return false;
  ReplayLog(log, imageCount, &imageCount, &jobCount, &loadedImages, &loadedJobs);
  *imageCounter = imageCount;
  *jobCounter = jobCount;
  *images = std::move(loadedImages);
  *jobs = std::move(loadedJobs);
  return true;
}

void Queue::Load() {
  images_.clear();
  imageIndex_.clear();
  jobs_.clear();
  imageCounter_ = jobCounter_ = 0;
  logPath_ = LogPath(config_.listPath);
  // The log first: what a full save took from it is then in the list.
  std::string log, bytes;
  std::error_code ec;
  if (std::filesystem::exists(logPath_, ec) && !platform::ReadWholeFile(logPath_, log))
    DebugTrace("Queue log unreadable: %s\n", logPath_.c_str());
  const bool present = std::filesystem::exists(config_.listPath, ec);
  if (present && (!platform::ReadWholeFile(config_.listPath, bytes) ||
                  !Decode(bytes, &imageCounter_, &jobCounter_, &images_, &jobs_))) {
    KeepDamagedList();
    images_.clear();
    jobs_.clear();
    imageCounter_ = jobCounter_ = 0;
  }
  listBytes_ = bytes.size();
  // Submissions acknowledged after the last full save; the next save takes
  // them (and drops whatever a crash cut short) into the list.
  const int replayed = ReplayLog(log, imageCounter_, &imageCounter_, &jobCounter_, &images_, &jobs_);
  if (replayed) DebugTrace("Queue log: %d submission(s) taken from %s\n", replayed, logPath_.c_str());
  fullSaveWanted_ = std::filesystem::exists(logPath_, ec);
  // Ids are never given twice: the journal refuses a job id it holds, and
  // a list lost or damaged would otherwise start them again at 1.
  RaiseCountersAboveKnownIds();
  for (auto& image : images_) imageIndex_[image.id] = &image;
  // No port holds a job after a restart: what was being sent is queued again.
  // Nor does any client: a download cut off by the restart must not leave
  // its fax locked for good.
  for (auto& job : jobs_) {
    job.sending = 0;
    job.checkedOut = 0;
    if (JobState::IsActive(job.state)) job.state = JobState::Queued;
  }
}

void Queue::KeepDamagedList() {
  std::string kept = config_.listPath + ".damaged";
  std::error_code ec;
  for (int n = 2; std::filesystem::exists(kept, ec); ++n) kept = config_.listPath + ".damaged." + std::to_string(n);
  std::filesystem::rename(config_.listPath, kept, ec);
  if (ec) kept.clear();
  DebugTrace("Queue list unreadable, starting empty: %s\n", config_.listPath.c_str());
  if (g_SysLog)
    g_SysLog->Error("Queue list %s is damaged, the queue starts empty; %s%s", config_.listPath.c_str(),
                    kept.empty() ? "the file could not be kept" : "kept as ", kept.c_str());
}

void Queue::RaiseCountersAboveKnownIds() {
  uint32_t jobId = 0, imageId = 0;
  if (g_Journal) g_Journal->HighestIds(&jobId, &imageId);
  imageCounter_ = std::max(imageCounter_, imageId);
  jobCounter_ = std::max(jobCounter_, jobId);
  // The counters at the head of every list in the queue folder, damaged
  // ones included (their heads usually survive a cut).
  const std::filesystem::path list(config_.listPath);
  const std::string name = list.filename().string();
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(list.parent_path(), ec)) {
    if (entry.path().filename().string().rfind(name, 0) != 0) continue;
    std::FILE* file = std::fopen(entry.path().c_str(), "rb");
    if (!file) continue;
    uint8_t head[8];
    if (std::fread(head, 1, sizeof head, file) == sizeof head) {
      const uint32_t images = head[0] | head[1] << 8 | head[2] << 16 | static_cast<uint32_t>(head[3]) << 24;
      const uint32_t jobs = head[4] | head[5] << 8 | head[6] << 16 | static_cast<uint32_t>(head[7]) << 24;
      // A value near the top is damage, not a count: it would wrap at once.
      if (images < 0x80000000u) imageCounter_ = std::max(imageCounter_, images);
      if (jobs < 0x80000000u) jobCounter_ = std::max(jobCounter_, jobs);
    }
    std::fclose(file);
  }
  for (const auto& image : images_) imageCounter_ = std::max(imageCounter_, image.id);
  for (const auto& job : jobs_) jobCounter_ = std::max(jobCounter_, job.jobId);
}

void Queue::RepairTemp() {
  if (config_.tempDir.empty()) return;
  namespace fs = std::filesystem;
  std::set<std::string> used;
  auto key = [](const std::string& path) {
    std::error_code ec;
    const fs::path canonical = fs::weakly_canonical(path, ec);
    return ec ? path : canonical.string();
  };
  for (const auto& image : images_) used.insert(key(image.path));
  for (const auto& job : jobs_)
    if (!job.coverPath.empty()) used.insert(key(job.coverPath));
  std::vector<std::string> received, unused;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(config_.tempDir, ec)) {
    const std::string name = entry.path().filename().string();
    // Only the server's own temporary files, and only those of an earlier
    // run: a reception of this run may be writing its file already.
    if (!entry.is_regular_file(ec) || name.size() < 4 || name.compare(name.size() - 4, 4, ".TMP") != 0) continue;
    if (entry.last_write_time(ec) >= kRunStart || ec) continue;
    if (used.count(key(entry.path().string()))) continue;
    if (name.rfind("REC", 0) == 0 && CountTiffPages(entry.path().string()) > 0)
      received.push_back(entry.path().string());
    else
      unused.push_back(entry.path().string());
  }
  int filed = 0;
  for (const auto& path : received) {
    // Whether its call ended well is not known: the dispatchers see it as
    // partially received.
    FaxHeader header = ReceivedFaxHeader("");
    header.subject = "<Partially received Fax>";
    if (InsertFax(path.c_str(), header, kKindReceived, 0, JobState::PartiallyReceived) == 1)
      ++filed;
    else
      unused.push_back(path);
  }
  int removed = 0;
  for (const auto& path : unused) removed += platform::DeleteFileByName(path.c_str()) ? 1 : 0;
  if ((filed || removed) && g_SysLog)
    g_SysLog->Info("Start-up repair of %s: %d received fax(es) filed, %d unused temporary file(s) removed",
                   config_.tempDir.c_str(), filed, removed);
}

uint64_t Queue::RequestSave(bool change) {
  // Every change of the jobs goes through here: a scheduler pass that let go
  // of the lock meanwhile indexes the jobs again.
  if (change) ++changes_;
  fullSaveWanted_ = true;
  return ++saveTickets_;
}

uint64_t Queue::RequestInsertionSave(FaxImg image, std::vector<FaxReq>& jobs) {
  ++changes_;
  Archive ar;
  image.Serialize(ar);
  ar.WriteCount(static_cast<uint32_t>(jobs.size()));
  for (auto& job : jobs) job.Serialize(ar);
  const std::string payload = ar.TakeBytes();
  PutWord(pendingLog_, static_cast<uint32_t>(payload.size()));
  PutWord(pendingLog_, RecordCheck(payload));
  pendingLog_ += payload;
  return ++saveTickets_;
}

bool Queue::AppendLog(const std::string& records) {
  bool made = false;
  // A log removed meanwhile (its folder too) would take records nobody reads.
  struct stat st;
  if (logFd_ >= 0 && (::fstat(logFd_, &st) != 0 || st.st_nlink == 0)) {
    ::close(logFd_);
    logFd_ = -1;
    logBytes_ = 0;
  }
  if (logFd_ < 0) {
    logFd_ = ::open(logPath_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (logFd_ < 0) return false;
    made = true;
  }
  size_t done = 0;
  while (done < records.size()) {
    const ssize_t n = ::write(logFd_, records.data() + done, records.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  // A new log's name must be on the disk too, or its records are not.
  if (done == records.size() && ::fdatasync(logFd_) == 0 &&
      (!made || platform::SyncFolder(platform::FolderOf(logPath_)))) {
    logBytes_ += records.size();
    return true;
  }
  // Nothing of a failed append may come back at the next start.
  if (::ftruncate(logFd_, static_cast<off_t>(logBytes_)) != 0) DebugTrace("Queue log not cut back: %s\n", logPath_.c_str());
  return false;
}

bool Queue::Commit(uint64_t ticket) {
  std::unique_lock wait(saveMutex_);
  for (;;) {
    if (savedThrough_.load() >= ticket) return true;
    if (failedThrough_ >= ticket) return false;
    if (!saving_) break;
    saveDone_.wait(wait);
  }
  saving_ = true;
  wait.unlock();
  // The lists are encoded under the queue mutex, but written and flushed
  // without it: changes go on meanwhile and wait for the next write.
  // Submissions alone go to the change log; any other change, or a log
  // grown past the list, has the whole list written (which takes the log in).
  uint64_t covered = 0;
  int64_t at = 0;
  std::set<std::string> folders;
  bool full = false;
  std::string records;
  {
    platform::MutexLock hold(mutex_, platform::kInfinite);
    covered = saveTickets_;
    folders.swap(foldersToSync_);
    at = Now();
    full = fullSaveWanted_ || logBytes_ + pendingLog_.size() > std::max(listBytes_, kLogFloor);
    if (full) {
      Archive ar = Archive::StoringInto(std::move(saveBuffer_));
      EncodeList(ar, imageCounter_, jobCounter_, images_, jobs_);
      saveBuffer_ = ar.TakeBytes();
      pendingLog_.clear();
      fullSaveWanted_ = false;
    } else {
      records.swap(pendingLog_);
    }
  }
  bool ok = true;
  for (const auto& folder : folders) ok = ok && platform::SyncFolder(folder);
  if (full) {
    ok = ok && platform::ReplaceFileDurably(config_.listPath, saveBuffer_);
    if (ok) {
      listBytes_ = saveBuffer_.size();
      // The list holds every record now; a log left by a crash here is
      // replayed without them (their ids are not above the list's).
      if (logFd_ >= 0) ::close(logFd_);
      logFd_ = -1;
      logBytes_ = 0;
      ::unlink(logPath_.c_str());
    }
  } else {
    ok = ok && AppendLog(records);
  }
  if (ok)
    lastSave_ = at;
  else
    DebugTrace("Save queue list failed: %s\n", config_.listPath.c_str());
  wait.lock();
  saving_ = false;
  if (ok)
    savedThrough_ = covered;
  else
    failedThrough_ = covered;
  saveDone_.notify_all();
  return ok;
}

// ---- lookups and order ----

FaxImg* Queue::FindImage(uint32_t imageId) {
  auto it = imageIndex_.find(imageId);
  return it == imageIndex_.end() ? nullptr : it->second;
}

Queue::JobList::iterator Queue::FindJob(uint32_t jobId) {
  for (auto it = jobs_.begin(); it != jobs_.end(); ++it)
    if (it->jobId == jobId) return it;
  return jobs_.end();
}

// Before the first job not due earlier whose priority the new job beats.
void Queue::InsertInOrder(JobList& from, JobList::iterator job) {
  auto at = jobs_.begin();
  for (; at != jobs_.end(); ++at)
    if (at != job && at->dueTime >= job->dueTime && job->priority < at->priority) break;
  jobs_.splice(at, from, job);
}

void Queue::InsertInOrder(FaxReq&& job) {
  JobList one;
  one.push_back(std::move(job));
  InsertInOrder(one, one.begin());
}

int Queue::TimeTest(const FaxReq& job, int64_t now) const {
  const int64_t delta = now - job.dueTime;
  if (delta <= kHoldingTime) return delta < 0 ? 1 : 0;
  return 2;
}

// ---- submission ----

int Queue::InsertFax(const char* imagePath, const FaxHeader& header, int kind, int32_t seconds, int32_t state) {
  const std::string path = imagePath ? imagePath : "";
  const uint16_t pageCount = CountTiffPages(path);
  // Without a job the image would only wait for the next pass to delete it.
  const bool acceptable = pageCount != 0 && !header.recipients.IsEmpty();
  // The sender is told the fax is queued only once it is on the disk, and
  // the files the saved entries name go there first. The image is flushed
  // before the queue is taken, so submissions flush side by side; its folder
  // is flushed once for all images of the save that holds it.
  const bool imageDurable = acceptable && platform::SyncFileOnly(path);
  platform::MutexLock hold(mutex_, config_.lockTimeoutMs);
  if (!hold.locked()) return 0;
  FaxImg image;
  image.id = ++imageCounter_;
  if (pageCount == 0) {
    DebugTrace("Insert image failed [totalNrOfPages == 0] !\n");
    return 0;
  }
  if (header.recipients.IsEmpty()) {
    DebugTrace("Insert image failed [no recipients] !\n");
    return 0;
  }
  if (!imageDurable) {
    DebugTrace("Insert image failed [image not flushed] !\n");
    return 0;
  }
  image.path = path;
  image.subject = header.subject;
  image.sender = header.sender;
  image.flags = header.flags;
  image.pageCount = pageCount;
  foldersToSync_.insert(platform::FolderOf(path));
  images_.push_back(image);
  FaxImg& stored = images_.back();
  imageIndex_[stored.id] = &stored;

  uint32_t interval = 0, attempts = 0;
  RetrySettings(&interval, &attempts);
  const int32_t now = static_cast<int32_t>(Now());
  // The save that will hold the new jobs, asked for once they are made; no
  // other ticket is taken before, the lock being held.
  const uint64_t ticket = saveTickets_ + 1;
  std::vector<FaxReq> made;
  std::vector<uint32_t> inserted;
  std::vector<std::string> lanLines;
  bool durable = true;
  for (const auto& recipient : header.recipients) {
    FaxReq job;
    job.jobId = ++jobCounter_;
    job.recipient = recipient;
    job.imageId = stored.id;
    job.submitTime = now;
    job.dueTime = header.sendTime.time;
    job.priority = header.priority;
    job.retryInterval = interval;
    job.attemptsAllowed = attempts;
    job.seconds = seconds;
    job.saferDialing = (header.flags & FaxHeader::kSaferDialing) ? 1 : 0;
    job.saveTicket = ticket;
    const bool lanDelivery = recipient.lan && kind == kKindSubmitted;
    if (lanDelivery) {
      job.direction = 0;
      job.state = JobState::Ok;
      job.pages = stored.pageCount;
    } else {
      job.direction = kind;
      job.state = state;
      job.pages = 0;
    }
    if ((header.flags & FaxHeader::kSendCoverPage) && config_.drawCoverPage) {
      std::string cover;
      if (platform::GetTempFileName(config_.queueDir + "/", "COV", 0, cover) != 0) {
        if (config_.drawCoverPage(cover, header.sender, recipient, header.subject, header.sendTime.time,
                                  stored.pageCount) == kStatusSuccess) {
          job.coverPath = cover;
          if (durable) durable = platform::SyncFile(cover);
        } else {
          DeleteFile(cover);
        }
      }
    }
    made.push_back(job);
    InsertInOrder(std::move(job));
    DebugTrace("Insert request = %d\n", 1);
    inserted.push_back(jobCounter_);
    if (lanDelivery) {
      char line[512];
      std::snprintf(line, sizeof line, "FAX to '%s' pages %d, %d sec, on LAN, OK.", recipient.address.c_str(),
                    stored.pageCount, seconds);
      lanLines.push_back(line);
    }
  }
  stored.refCount = static_cast<uint16_t>(inserted.size());
  const uint32_t imageId = stored.id;
  if (!durable) {
    TakeBackInsertion(inserted, imageId);
    return 0;
  }
  RequestInsertionSave(stored, made);
  hold.unlock();
  if (!Commit(ticket)) {
    // The jobs must not outlive the failure the sender is told of.
    platform::MutexLock again(mutex_, platform::kInfinite);
    if (again.locked()) TakeBackInsertion(inserted, imageId);
    return 0;
  }
  if (g_SysLog)
    for (const auto& line : lanLines) g_SysLog->Info("%s", line.c_str());
  return 1;
}

void Queue::TakeBackInsertion(const std::vector<uint32_t>& jobIds, uint32_t imageId) {
  for (uint32_t id : jobIds) {
    auto it = FindJob(id);
    if (it == jobs_.end()) continue;
    DeleteFile(it->coverPath);
    jobs_.erase(it);
  }
  imageIndex_.erase(imageId);
  for (auto it = images_.rbegin(); it != images_.rend(); ++it)
    if (it->id == imageId) {
      images_.erase(std::next(it).base());
      break;
    }
  ++changes_;  // a pass's index may hold the jobs
  fullSaveWanted_ = true;  // the disk is written whole again before more records
  DebugTrace("Insert image failed [queue list not saved] !\n");
}

// ---- scheduler ----

// The due jobs of one pass, indexed once, so that finding the next batch and
// gathering it touch only the jobs concerned. A batch walks from its first
// job to the next job not yet due (the end of a stretch): it takes the jobs of
// its number and drops the jobs of images without pages. Nothing the pass
// itself changes makes a job not yet due, nor one that was not a candidate
// into one; any other change of the jobs (made while the pass waits for a
// port) has the jobs indexed again.
struct Queue::PassIndex {
  struct Entry {
    uint32_t pos;      // in the list
    uint32_t stretch;  // jobs not yet due end a stretch
    JobList::iterator job;
    const FaxImg* image;  // null when it is gone
  };
  bool built = false;
  uint64_t changes = 0;  // the queue's count of changes when built
  // The jobs a batch may start from, in list order, and the next of them.
  std::vector<Entry> due;
  std::vector<Entry>::iterator next;
  // The batch candidates by number, in list order.
  std::unordered_map<std::string_view, std::vector<Entry>> byNumber;
  // Due jobs whose image has no pages, in list order, and per stretch the
  // first position from which they have been dropped.
  std::vector<Entry> noPages;
  std::vector<uint32_t> droppedFrom;

  static bool Waiting(const FaxReq& job) { return job.direction == 1 && !job.sending && !job.drop; }

  static std::vector<Entry>::iterator From(std::vector<Entry>& v, uint32_t pos) {
    return std::lower_bound(v.begin(), v.end(), pos, [](const Entry& e, uint32_t p) { return e.pos < p; });
  }
};

void Queue::SchedulerThread() {
  for (;;) {
    if (config_.periodMs != platform::kInfinite) SchedulerPass();
    if (stop_.Wait(config_.periodMs)) break;
  }
}

bool Queue::SchedulerPass() {
  int64_t now = 0;
  bool changed = false;
  PassIndex index;
  {
    platform::MutexLock hold(mutex_, config_.lockTimeoutMs);
    if (!hold.locked()) return false;
    now = Now();
    changed = BuildPassIndex(index, now, true);
  }
  // Each port is found with the queue unlocked, since finding one may wait
  // on a modem's initialisation: submissions, received faxes and results go
  // on meanwhile. The job it goes to is looked up again afterwards.
  std::set<uint32_t> started;
  for (;;) {
    {
      platform::MutexLock hold(mutex_, config_.lockTimeoutMs);
      if (!hold.locked()) return false;
      if (NextDueJob(now, started, index) == jobs_.end()) break;
    }
    const int port = ports_->FindFreePort();
    platform::MutexLock hold(mutex_, config_.lockTimeoutMs);
    if (!hold.locked()) {
      ports_->ReleasePort(port);
      return false;
    }
    if (port < 0) {
      if (!noFreeModems_) {
        if (g_SysLog) g_SysLog->Info("<<< No free modems [start of time interval] !");
        noFreeModems_ = true;
      }
      break;
    }
    const auto job = NextDueJob(now, started, index);
    if (job == jobs_.end()) {
      ports_->ReleasePort(port);
      break;
    }
    // A batch the port refused is not offered again in this pass.
    started.insert(job->jobId);
    StartBatch(index, port);
    if (noFreeModems_) {
      if (g_SysLog) g_SysLog->Info(">>> No free modems [end of time interval] !");
      noFreeModems_ = false;
    }
  }
  uint64_t ticket = 0;
  {
    platform::MutexLock hold(mutex_, config_.lockTimeoutMs);
    if (!hold.locked()) return false;
    changed = RemoveDropped() || changed;
    changed = DropUnusedImages() || changed;
    if (changed || now - lastSave_ >= kSavePeriod) ticket = RequestSave(false);
  }
  if (ticket) Commit(ticket);
  return true;
}

bool Queue::BuildPassIndex(PassIndex& index, int64_t now, bool expire) {
  index = PassIndex();
  index.built = true;
  index.changes = changes_;
  bool changed = false;
  uint32_t pos = 0, stretch = 0;
  // The jobs of one submission lie side by side: one look-up serves them all.
  uint32_t imageId = 0;
  const FaxImg* image = nullptr;
  for (auto it = jobs_.begin(); it != jobs_.end(); ++it) {
    FaxReq& job = *it;
    const uint32_t at = pos++;
    if (!PassIndex::Waiting(job)) continue;
    const int t = TimeTest(job, now);
    if (expire && t == 0 && !job.recipient.lan && job.recipient.address.size() >= ModemPort::kDialNumberSize) {
      // No port can dial a number longer than its dial buffer: the job would
      // be refused on every pass, never sent and never returned. It goes
      // back to its sender at once.
      if (g_SysLog) g_SysLog->Error("Fax number too long to dial: '%s'", job.recipient.address.c_str());
      job.state = JobState::CommunicationError;
      job.direction = 0;
      job.returned = 1;
      changed = true;
      continue;
    }
    if (expire && t == 2) {
      if (const FaxImg* expired = FindImage(job.imageId)) {
        job.state = JobState::Expired;
        Journalize(job, *expired);
      }
      job.drop = 1;
      continue;
    }
    if (t == 1) {
      ++stretch;
      continue;
    }
    if (t != 0 || job.recipient.lan || !Saved(job)) continue;
    if (!image || job.imageId != imageId) {
      imageId = job.imageId;
      image = FindImage(imageId);
    }
    const PassIndex::Entry entry{at, stretch, it, image};
    index.due.push_back(entry);
    if (!image) continue;
    if (image->pageCount == 0) index.noPages.push_back(entry);
    else index.byNumber[job.recipient.address].push_back(entry);
  }
  index.droppedFrom.assign(stretch + 1, UINT32_MAX);
  index.next = index.due.begin();
  return changed;
}

Queue::JobList::iterator Queue::NextDueJob(int64_t now, const std::set<uint32_t>& started, PassIndex& index) {
  if (!index.built || index.changes != changes_) BuildPassIndex(index, now, false);
  // What the pass passed over stays behind: sent, dropped or started from.
  for (; index.next != index.due.end(); ++index.next) {
    const FaxReq& job = *index.next->job;
    if (PassIndex::Waiting(job) && !started.count(job.jobId)) return index.next->job;
  }
  return jobs_.end();
}

void Queue::StartBatch(PassIndex& index, int port) {
  const PassIndex::Entry& first = *index.next;
  try {
    auto list = std::make_shared<SendRequestList>();
    const std::string number = first.job->recipient.address;
    const uint32_t pos = first.pos, stretch = first.stretch;
    std::vector<FaxReq*> batch;
    // Jobs of images without pages go, whatever their number.
    if (pos < index.droppedFrom[stretch]) {
      for (auto e = PassIndex::From(index.noPages, pos); e != index.noPages.end() && e->stretch == stretch; ++e) {
        if (e->pos >= index.droppedFrom[stretch]) break;  // dropped by an earlier batch
        if (PassIndex::Waiting(*e->job)) e->job->drop = 1;
      }
      index.droppedFrom[stretch] = pos;
    }
    if (auto group = index.byNumber.find(number); group != index.byNumber.end()) {
      for (auto e = PassIndex::From(group->second, pos); e != group->second.end() && e->stretch == stretch; ++e) {
        FaxReq& job = *e->job;
        if (!PassIndex::Waiting(job)) continue;
        SendRequestEntry entry;
        entry.state = JobState::Scheduled;
        entry.jobId = job.jobId;
        entry.saferDialing = job.saferDialing;
        // A cut path would name another file: such a job is not handed out.
        if (!CopyPath(entry.coverPath, job.coverPath) || !CopyPath(entry.imagePath, e->image->path)) {
          DebugTrace("Path too long for job %u\n", job.jobId);
          continue;
        }
        entry.pages = job.pages;
        list->Add(entry);
        batch.push_back(&job);
      }
    }
    DebugTrace("counter = %d \n", list->GetCount());
    if (list->IsEmpty()) {
      ports_->ReleasePort(port);
      return;
    }
    if (!ports_->StartSend(port, number.c_str(), list)) {
      ports_->ReleasePort(port);
      if (g_SysLog) g_SysLog->Error("Send request list to ModemSubSystem ... FAILED!");
      return;
    }
    for (FaxReq* job : batch) {
      job->sending = 1;
      job->port = port;
      job->state = JobState::Sending;
    }
  } catch (const std::exception&) {
    if (g_SysLog) g_SysLog->Error("Memory allocation failed !");
  }
}

void Queue::Journalize(const FaxReq& job, const FaxImg& image) {
  if (!g_Journal) return;
  JournalJobInfo info;
  info.imageId = job.imageId;
  info.jobId = job.jobId;
  info.recipient = job.recipient;
  info.submitTime = static_cast<uint32_t>(job.submitTime);
  info.dueTime = static_cast<uint32_t>(job.dueTime);
  info.seconds = static_cast<uint32_t>(job.seconds);
  info.pages = job.pages;
  info.state = static_cast<uint32_t>(job.state);
  info.attempts = static_cast<uint32_t>(job.attemptsMade);
  info.priority = job.priority;
  info.direction = static_cast<uint32_t>(job.direction);
  info.returned = static_cast<uint32_t>(job.returned);
  JournalImageInfo imageInfo;
  imageInfo.sender = image.sender;
  imageInfo.subject = image.subject;
  imageInfo.pageCount = image.pageCount;
  lastJournalStatus_ = g_Journal->Add(Journal::BuildRecord(info, imageInfo));
}

void Queue::ReleaseJobFiles(const FaxReq& job) {
  DeleteFile(job.coverPath);
  if (FaxImg* image = FindImage(job.imageId))
    if (image->refCount > 0) --image->refCount;
}

void Queue::CompleteJob(JobList::iterator job) {
  ReleaseJobFiles(*job);
  lastJournalStatus_ = kStatusSuccess;
  // A job whose image is gone (a damaged Queue.lst) leaves without an entry.
  if (const FaxImg* image = FindImage(job->imageId)) Journalize(*job, *image);
  jobs_.erase(job);
}

bool Queue::RemoveDropped() {
  bool any = false;
  for (auto it = jobs_.begin(); it != jobs_.end();) {
    if (!it->drop) {
      ++it;
      continue;
    }
    ReleaseJobFiles(*it);
    it = jobs_.erase(it);
    any = true;
  }
  return any;
}

bool Queue::DropUnusedImages() {
  bool any = false;
  for (auto it = images_.begin(); it != images_.end();) {
    if (it->refCount != 0) {
      ++it;
      continue;
    }
    DeleteFile(it->path);
    imageIndex_.erase(it->id);
    it = images_.erase(it);
    any = true;
  }
  return any;
}

// ---- results ----

void Queue::LockForResult(uint32_t jobId) {
  while (!mutex_.Lock(config_.lockTimeoutMs))
    if (g_SysLog) g_SysLog->Error("Queue busy: the result of job %u is retried", jobId);
}

Status Queue::SetJobResult(uint32_t jobId, int setResult, int32_t state, int32_t pages, int32_t seconds) {
  Status result = kStatusSuccess;
  uint64_t ticket = 0;
  {
    LockForResult(jobId);
    ResultLock hold(mutex_);
    auto it = FindJob(jobId);
    if (it == jobs_.end()) return kStatusRequestAlreadyDeleted;
    if (setResult == 1 && !it->recipient.lan) {
      it->pages = static_cast<uint16_t>(pages);
      it->seconds += seconds;
      it->state = state;
      it->sending = 0;
    }
    CompleteJob(it);
    result = lastJournalStatus_;
    ticket = RequestSave(true);
  }
  if (!Commit(ticket) && result == kStatusSuccess) result = kStatusInternalError;
  return result;
}

int Queue::RetryJob(uint32_t jobId, int32_t state, int32_t pages, int32_t seconds) {
  uint64_t ticket = 0;
  {
    LockForResult(jobId);
    ResultLock hold(mutex_);
    if (!RetryLocked(jobId, state, pages, seconds)) return 0;
    ticket = RequestSave(true);
  }
  Commit(ticket);
  return 1;
}

bool Queue::RetryLocked(uint32_t jobId, int32_t state, int32_t pages, int32_t seconds) {
  auto it = FindJob(jobId);
  if (it == jobs_.end()) return false;
  FaxReq& job = *it;
  job.seconds += seconds;
  job.pages = static_cast<uint16_t>(pages);
  ++job.attemptsMade;
  job.state = state;
  job.sending = 0;
  if (job.attemptsMade < static_cast<int64_t>(job.attemptsAllowed)) {
    job.saferDialing = 1;
    if (job.priority != 255) ++job.priority;
    // From now: a job that waited long past its due time would otherwise be
    // dialled again at once, its attempts spent within a few passes.
    job.dueTime = static_cast<int32_t>(Now() + static_cast<int64_t>(job.retryInterval) * 60);
    JobList moving;
    moving.splice(moving.begin(), jobs_, it);
    InsertInOrder(moving, moving.begin());
  } else {
    job.direction = 0;
    job.returned = 1;
  }
  return true;
}

Status Queue::DeleteJob(const char* jobIdText) {
  const uint32_t jobId = static_cast<uint32_t>(ParseDecimal(jobIdText ? jobIdText : ""));
  int32_t pages = 0, seconds = 0, state = 0;
  {
    platform::MutexLock hold(mutex_, config_.lockTimeoutMs);
    if (!hold.locked()) return kStatusServerTooBusy;
    auto it = FindJob(jobId);
    if (it == jobs_.end()) return kStatusRequestAlreadyDeleted;
    if (it->direction == 1 && !it->recipient.lan && it->sending) {
      ports_->AbortRequest(it->port, jobId);
      if (!ports_->QueryPort(it->port, jobId, &pages, &seconds, &state)) {
        state = JobState::UserCanceled;
        pages = it->pages;
        seconds = 0;
      }
    }
  }
  // The port completes an aborted job when it reports back.
  if (state == JobState::UserCanceled) return kStatusMarkedForDeletion;
  return SetJobResult(jobId, 1, JobState::UserCanceled, pages, seconds);
}

// ---- downloads ----

int Queue::CheckOutJob(uint32_t jobId, FaxHeader* header, std::string* imagePath, std::string* coverPath) {
  platform::MutexLock hold(mutex_, config_.lockTimeoutMs);
  if (!hold.locked()) return 0;
  auto it = FindJob(jobId);
  if (it == jobs_.end() || it->direction != 0 || it->checkedOut || !Saved(*it)) return 0;
  const FaxImg* image = FindImage(it->imageId);
  if (!image || image->pageCount == 0) return 0;
  it->checkedOut = 1;
  if (header) {
    header->sender = image->sender;
    header->subject = image->subject;
    header->priority = it->priority;
    header->sendTime = ScheduleTimeInfo(0, it->submitTime);
    header->flags = image->flags;
    header->queueField = it->returned;
    header->queueWord = image->pageCount;
    header->recipients.RemoveAll();
    header->recipients.AddTail(it->recipient);
  }
  if (imagePath) *imagePath = image->path;
  if (coverPath) *coverPath = it->coverPath;
  return 1;
}

void Queue::ReleaseJob(uint32_t jobId) {
  platform::MutexLock hold(mutex_, config_.lockTimeoutMs);
  if (!hold.locked()) return;
  auto it = FindJob(jobId);
  if (it != jobs_.end()) it->checkedOut = 0;
}

// ---- lists ----

std::string Queue::ListLine(const FaxReq& job, const FaxImg& image) {
  const char* transport = image.sender.lan && job.recipient.lan ? "Tx/Rx (LAN)"
                          : job.direction == 1                  ? "Tx (Modem)"
                                                                : "Rx (Modem)";
  std::vector<std::string> fields = {std::to_string(job.imageId),
                                     std::to_string(job.jobId),
                                     FieldText(image.sender.GetDisplayName()),
                                     FieldText(job.recipient.GetDisplayName()),
                                     FieldText(image.subject),
                                     std::to_string(job.submitTime),
                                     std::to_string(job.dueTime),
                                     std::to_string(job.seconds),
                                     std::to_string(image.pageCount),
                                     std::to_string(job.pages),
                                     std::to_string(job.state),
                                     std::to_string(job.attemptsMade),
                                     std::to_string(job.priority),
                                     std::to_string(job.returned),
                                     transport};
  std::string line;
  EncodeFields(&line, fields, static_cast<int>(fields.size()));
  return line + "\r\n";
}

bool Queue::Listed(uint32_t requestCode, const FaxReq& job, const FaxImg* image, const char* user) {
  const bool incoming = job.direction == 0;
  const bool addressedToUser = incoming && !job.returned && strcasecmp(job.recipient.address.c_str(), user) == 0;
  const bool sentByUser = image && strcasecmp(image->sender.address.c_str(), user) == 0;
  switch (requestCode) {
    case 5000: return incoming;
    case 5010: return incoming && job.recipient.address == kNobody;
    case 5026: return addressedToUser;
    case 5030: return job.returned && sentByUser;
    case 5020: return addressedToUser || (incoming && job.returned && sentByUser);
    case 6000: return job.direction == 1;
    case 6020: return job.direction == 1 && sentByUser;
    default: return false;
  }
}

Status Queue::CheckJobAccess(uint32_t jobId, uint32_t requestCode, const char* userName, uint32_t rights) {
  platform::MutexLock hold(mutex_, config_.lockTimeoutMs);
  if (!hold.locked()) return kStatusServerTooBusy;
  auto it = FindJob(jobId);
  if (it == jobs_.end()) return kStatusRequestAlreadyDeleted;
  if (rights & kRightAdministration) return kStatusSuccess;
  const FaxReq& job = *it;
  const FaxImg* image = FindImage(job.imageId);
  const char* user = userName ? userName : "";
  bool mine = false;
  if (requestCode == 4010)
    mine = Listed(5026, job, image, user) || Listed(5030, job, image, user) ||
           ((rights & kRightDispatch) && Listed(5010, job, image, user));
  else if (requestCode == 4030)
    mine = Listed(5020, job, image, user) || Listed(6020, job, image, user);
  return mine ? kStatusSuccess : kStatusNoPermission;
}

Status Queue::WriteList(uint32_t requestCode, const char* userName, const char* fileName) {
  platform::MutexLock hold(mutex_, config_.lockTimeoutMs);
  if (!hold.locked()) return kStatusResourceNotFree;
  std::FILE* file = fileName ? std::fopen(fileName, "wb") : nullptr;
  if (!file) return kStatusInternalError;
  const char* user = userName ? userName : "";
  bool ok = true;
  for (auto& job : jobs_) {
    if (job.drop) continue;
    const FaxImg* image = FindImage(job.imageId);
    // A job shows once its insertion is on disk: before, a download of it
    // is refused and a failed save still takes it back.
    const bool listed = Saved(job) && Listed(requestCode, job, image, user);
    if (!listed) continue;
    if (job.direction == 1 && job.sending) {
      int32_t pages = 0, seconds = 0, state = 0;
      if (ports_->QueryPort(job.port, job.jobId, &pages, &seconds, &state)) {
        job.pages = static_cast<uint16_t>(pages);
        job.state = state;
      }
    }
    if (!image) continue;
    const std::string line = ListLine(job, *image);
    if (std::fwrite(line.data(), 1, line.size(), file) != line.size()) {
      ok = false;
      break;
    }
  }
  ok = std::fclose(file) == 0 && ok;
  return ok ? kStatusSuccess : kStatusInternalError;
}

// ---- inspection ----

std::vector<FaxReq> Queue::Jobs() {
  platform::MutexLock hold(mutex_, platform::kInfinite);
  return std::vector<FaxReq>(jobs_.begin(), jobs_.end());
}

std::vector<FaxImg> Queue::Images() {
  platform::MutexLock hold(mutex_, platform::kInfinite);
  return std::vector<FaxImg>(images_.begin(), images_.end());
}

uint32_t Queue::ImageCounter() {
  platform::MutexLock hold(mutex_, platform::kInfinite);
  return imageCounter_;
}

uint32_t Queue::JobCounter() {
  platform::MutexLock hold(mutex_, platform::kInfinite);
  return jobCounter_;
}

}  // namespace korvo
