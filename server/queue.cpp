// The queue's jobs and images: submissions, results, downloads and lists.
// The stored list and its log are in queue_store.cpp, the scheduler pass in
// queue_scheduler.cpp, start-up repair in queue_repair.cpp.
#include "server/queue.h"

#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <exception>
#include <filesystem>
#include <optional>
#include <set>
#include <system_error>

#include "common/cover_page.h"
#include "common/fields.h"
#include "common/imaging_exceptions.h"
#include "common/settings.h"
#include "common/status_codes.h"
#include "common/tiff_reader.h"
#include "common/tiff_writer.h"
#include "platform/durable_file.h"
#include "platform/file_io.h"
#include "platform/file_systems.h"
#include "platform/tempfile.h"
#include "server/fax_session.h"
#include "server/faxserver.h"
#include "server/journal.h"
#include "server/modem_subsystem.h"
#include "server/queue_internal.h"
#include "server/syslog.h"
#include "server/trace.h"

namespace korvo {

Queue* g_Queue = nullptr;

namespace {

constexpr char kNobody[] = "~nobody";

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

void DeleteFile(const std::string& path) {
  if (!path.empty()) platform::DeleteFileByName(path.c_str());
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

void queue_detail::InsertInOrder(std::list<FaxReq>& jobs, std::list<FaxReq>& from, std::list<FaxReq>::iterator job) {
  auto at = jobs.begin();
  for (; at != jobs.end(); ++at)
    if (at->dueTime >= job->dueTime && job->priority < at->priority) break;
  jobs.splice(at, from, job);
}

void queue_detail::InsertInOrder(std::list<FaxReq>& jobs, FaxReq&& job) {
  std::list<FaxReq> one;
  one.push_back(std::move(job));
  InsertInOrder(jobs, one, one.begin());
}

// ---- submission ----

ClientLimits::Held Queue::HeldForSender(const std::string& sender) {
  ClientLimits::Held held;
  std::set<uint32_t> images;
  for (FaxImg& image : images_) {
    if (!IsSubmittedBy(image, sender)) continue;
    images.insert(image.id);
    if (!image.bytes) {
      // Measured once: an image never changes in the queue.
      std::error_code ec;
      const auto size = std::filesystem::file_size(image.path, ec);
      image.bytes = ec ? 0 : size;
    }
    held.bytes += *image.bytes;
  }
  if (images.empty()) return held;
  for (const FaxReq& job : jobs_)
    if (!job.drop && images.count(job.imageId)) ++held.jobs;
  return held;
}

bool Queue::IsSubmittedBy(const FaxImg& image, const std::string& sender) {
  // Received faxes' senders are remote stations, never LAN users.
  return image.sender.lan && strcasecmp(image.sender.address.c_str(), sender.c_str()) == 0;
}

int Queue::InsertFax(const char* imagePath, const FaxHeader& header, int kind, int32_t seconds, int32_t state,
                     Status* why, std::string* refusal) {
  Status ignored = kStatusSuccess;
  if (!why) why = &ignored;
  *why = kStatusSuccess;
  auto fail = [&](Status status, const char* trace) {
    DebugTrace("Insert image failed [%s] !\n", trace);
    *why = status;
    return 0;
  };
  const std::string path = imagePath ? imagePath : "";
  const uint16_t pageCount = CountTiffPages(path);
  // What a submission adds to its sender's share, and the space left beside
  // it; measured before the queue is taken.
  const bool submitted = kind == kKindSubmitted;
  std::error_code sizeError;
  const uint64_t imageBytes = submitted ? std::filesystem::file_size(path, sizeError) : 0;
  const std::optional<uint64_t> freeBytes =
      submitted ? platform::FreeSpace(platform::FolderOf(path)) : std::optional<uint64_t>();
  // Without a job the image would only wait for the next pass to delete it.
  const bool acceptable = pageCount != 0 && !header.recipients.IsEmpty();
  // The sender is told the fax is queued only once it is on the disk, and
  // the files the saved entries name go there first. The image is flushed
  // before the queue is taken, so submissions flush side by side; its folder
  // is flushed once for all images of the save that holds it.
  const bool imageDurable = acceptable && platform::SyncFileOnly(path);
  // Cover pages are drawn and flushed before the queue is taken too: for
  // many recipients they take seconds, and the lock covers only the queue's
  // own bookkeeping. One per recipient, "" where none could be drawn.
  std::vector<std::string> covers;
  bool coversDurable = true;
  if (imageDurable && (header.flags & FaxHeader::kSendCoverPage) && config_.drawCoverPage) {
    for (const auto& recipient : header.recipients) {
      std::string cover;
      if (platform::GetTempFileName(config_.queueDir + "/", "COV", 0, cover) != 0) {
        if (config_.drawCoverPage(cover, header.sender, recipient, header.subject, header.sendTime.time,
                                  pageCount) == kStatusSuccess) {
          if (coversDurable) coversDurable = platform::SyncFileOnly(cover);
        } else {
          DeleteFile(cover);
          cover.clear();
        }
      }
      covers.push_back(cover);
    }
  }
  auto dropCovers = [&] {
    for (const auto& cover : covers) DeleteFile(cover);
  };
  platform::MutexLock hold(mutex_, config_.lockTimeoutMs);
  if (!hold.locked()) {
    dropCovers();
    return fail(kStatusServerTooBusy, "queue busy");
  }
  FaxImg image;
  image.id = ++imageCounter_;
  // An image the server cannot read as a fax (no TIFF, another kind of
  // TIFF, no pages).
  if (pageCount == 0) return fail(kStatusOpenPrnOrTiff, "totalNrOfPages == 0");
  if (header.recipients.IsEmpty()) return fail(kStatusUndialableNumber, "no recipients");
  if (!imageDurable) return fail(kStatusNoQueueSpace, "image not flushed");
  if (!coversDurable) {
    dropCovers();
    return fail(kStatusNoQueueSpace, "cover page not flushed");
  }
  // One login may hold only its share of the queue, its LAN deliveries
  // counted until they are fetched, and none may take the space kept for
  // received faxes.
  if (submitted) {
    const std::string reason = ClientLimits::Current().SubmissionRefusal(
        header.sender.address, HeldForSender(header.sender.address), sizeError ? 0 : imageBytes,
        static_cast<uint32_t>(header.recipients.GetCount()), freeBytes);
    if (!reason.empty()) {
      if (refusal) *refusal = reason;
      dropCovers();
      return fail(kStatusNoQueueSpace, "sender's share of the queue");
    }
  }
  image.path = path;
  if (submitted && !sizeError) image.bytes = imageBytes;
  image.subject = header.subject;
  image.sender = header.sender;
  image.flags = header.flags;
  image.pageCount = pageCount;
  foldersToSync_.insert(platform::FolderOf(path));
  if (!covers.empty()) foldersToSync_.insert(platform::FolderOf(config_.queueDir + "/COV"));
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
  std::vector<std::string> lanLines;
  size_t n = 0;
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
    if (n < covers.size()) job.coverPath = covers[n];
    ++n;
    made.push_back(job);
    queue_detail::InsertInOrder(jobs_, std::move(job));
    DebugTrace("Insert request = %d\n", 1);
    if (lanDelivery) {
      char line[512];
      std::snprintf(line, sizeof line, "FAX to '%s' pages %d, %d sec, on LAN, OK.", recipient.address.c_str(),
                    stored.pageCount, seconds);
      lanLines.push_back(line);
    }
  }
  stored.refCount = static_cast<uint16_t>(made.size());
  RequestInsertionSave(stored, made);
  hold.unlock();
  // On failure the write took the jobs back: they never outlive the failure
  // the sender is told of.
  if (!Commit(ticket)) return fail(kStatusNoQueueSpace, "queue list not saved");
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
}

void Queue::TakeBackInsertions(uint64_t from, uint64_t through) {
  // A submission's jobs share its ticket, and no job outlives its image.
  std::set<uint32_t> images;
  std::vector<uint32_t> jobs;
  for (const auto& job : jobs_)
    if (job.saveTicket > from && job.saveTicket <= through) {
      jobs.push_back(job.jobId);
      images.insert(job.imageId);
    }
  for (uint32_t imageId : images) TakeBackInsertion(jobs, imageId);
}

// ---- completion ----

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
  // The job is completed whatever the write does: a failed one leaves the
  // change wanted, written whole by the next write that succeeds. The
  // answer says what was done.
  Commit(ticket);
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
    queue_detail::InsertInOrder(jobs_, moving, moving.begin());
  } else {
    job.direction = 0;
    job.returned = 1;
  }
  return true;
}

Status Queue::DeleteJob(const char* jobIdText) {
  uint32_t jobId = 0;
  if (!ParseJobId(jobIdText ? jobIdText : "", &jobId)) return kStatusRequestAlreadyDeleted;
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

bool Queue::ParseJobId(std::string_view text, uint32_t* id) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > UINT32_MAX) return false;
  *id = static_cast<uint32_t>(value);
  return true;
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

FaxSenderOrRecipient Queue::ShownSender(const FaxReq& job, const FaxImg& image) {
  FaxSenderOrRecipient sender = image.sender;
  // A name is typed by the sender; on the LAN the recipient sees beside it
  // the login that sent the fax.
  if (image.sender.lan && job.recipient.lan && !sender.name.empty() &&
      strcasecmp(sender.name.c_str(), sender.address.c_str()) != 0)
    sender.name += " (" + sender.address + ")";
  return sender;
}

std::string Queue::ListLine(const FaxReq& job, const FaxImg& image) {
  const char* transport = image.sender.lan && job.recipient.lan ? "Tx/Rx (LAN)"
                          : job.direction == 1                  ? "Tx (Modem)"
                                                                : "Rx (Modem)";
  std::vector<std::string> fields = {std::to_string(job.imageId),
                                     std::to_string(job.jobId),
                                     FieldText(ShownSender(job, image).GetDisplayName()),
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
