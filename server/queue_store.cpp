// The stored list (Queue/Queue.lst), its change log (Queue/Queue.log) and
// the group commit that writes them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "platform/durable_file.h"
#include "server/queue.h"
#include "server/queue_internal.h"
#include "server/trace.h"

namespace korvo {

using queue_detail::EncodeList;

namespace {

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

}  // namespace

namespace queue_detail {

namespace {

// The record at `at` when its length fits and its check and contents hold.
bool ReadRecord(const std::string& log, size_t at, FaxImg* image, std::vector<FaxReq>* jobs, size_t* next) {
  if (log.size() - at < kRecordHead) return false;
  const uint32_t length = GetWord(log, at);
  if (length > log.size() - at - kRecordHead) return false;
  const std::string_view payload(log.data() + at + kRecordHead, length);
  if (RecordCheck(payload) != GetWord(log, at + 4)) return false;
  try {
    Archive ar(payload);
    image->Serialize(ar);
    const uint32_t count = ar.ReadCount();
    if (count > ar.Remaining()) return false;  // each job takes bytes
    jobs->assign(count, FaxReq());
    for (auto& job : *jobs) job.Serialize(ar);
  } catch (const ArchiveException&) {
    return false;
  }
  *next = at + kRecordHead + length;
  return true;
}

}  // namespace

LogReplay ReplayLog(const std::string& log, uint32_t listImageCounter, uint32_t* imageCounter, uint32_t* jobCounter,
                    std::list<FaxImg>* images, std::list<FaxReq>* jobs) {
  LogReplay replay;
  FaxImg image;
  std::vector<FaxReq> loaded;
  for (size_t at = 0, next = 0; at < log.size(); at = next) {
    if (!ReadRecord(log, at, &image, &loaded, &next)) {
      // A damaged record: the intact ones after it are found again where
      // its length says it ends, or else by their own heads and checks.
      size_t from = at + 1;
      if (log.size() - at >= kRecordHead) {
        const uint64_t end = at + kRecordHead + uint64_t{GetWord(log, at)};
        if (end == log.size() || (end < log.size() && ReadRecord(log, end, &image, &loaded, &next))) from = end;
      }
      for (; from < log.size() && !ReadRecord(log, from, &image, &loaded, &next); ++from) {
      }
      replay.damaged.push_back({at, from - at});
      if (from >= log.size()) break;
    }
    if (image.id <= listImageCounter) continue;
    *imageCounter = std::max(*imageCounter, image.id);
    images->push_back(std::move(image));
    for (auto& job : loaded) {
      *jobCounter = std::max(*jobCounter, job.jobId);
      InsertInOrder(*jobs, std::move(job));
    }
    image = FaxImg();
    ++replay.added;
  }
  return replay;
}

void CommitLedger::End(uint64_t through, bool ok) {
  if (!ok)
    for (uint64_t t = endedThrough_ + 1; t <= through; ++t) failed_.insert(t);
  endedThrough_ = through;
}

CommitLedger::Outcome CommitLedger::Take(uint64_t ticket) {
  if (ticket > endedThrough_) return Outcome::kPending;
  return failed_.erase(ticket) ? Outcome::kFailed : Outcome::kSaved;
}

}  // namespace queue_detail

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
  queue_detail::ReplayLog(log, imageCount, &imageCount, &jobCount, &loadedImages, &loadedJobs);
  *imageCounter = imageCount;
  *jobCounter = jobCount;
  *images = std::move(loadedImages);
  *jobs = std::move(loadedJobs);
  return true;
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
    logFd_ = platform::OpenForAppend(logPath_);
    if (logFd_ < 0) return false;
    made = true;
  }
  // A new log's name must be on the disk too, or its records are not.
  if (platform::AppendDurably(logFd_, logPath_, records) &&
      (!made || platform::SyncFolder(platform::FolderOf(logPath_)))) {
    logBytes_ += records.size();
    return true;
  }
  // Nothing of a failed append may come back at the next start; a new log
  // whose name may not be on the disk is made again by the next append.
  if (made) {
    ::close(logFd_);
    logFd_ = -1;
    ::unlink(logPath_.c_str());
  } else if (::ftruncate(logFd_, static_cast<off_t>(logBytes_)) != 0) {
    DebugTrace("Queue log not cut back: %s\n", logPath_.c_str());
  }
  return false;
}

bool Queue::Commit(uint64_t ticket) {
  std::unique_lock wait(saveMutex_);
  for (;;) {
    const auto outcome = ledger_.Take(ticket);
    if (outcome != queue_detail::CommitLedger::Outcome::kPending)
      return outcome == queue_detail::CommitLedger::Outcome::kSaved;
    if (!saving_) break;
    saveDone_.wait(wait);
  }
  saving_ = true;
  // The tickets after it are this write's: no other write ends meanwhile.
  const uint64_t from = ledger_.EndedThrough();
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
  if (ok) {
    lastSave_ = at;
  } else {
    DebugTrace("Save queue list failed: %s\n", config_.listPath.c_str());
    // Before any later write can succeed: the jobs of the submissions this
    // write held must never pass as saved, and what it would have saved is
    // written whole by the next one.
    platform::MutexLock hold(mutex_, platform::kInfinite);
    fullSaveWanted_ = true;
    TakeBackInsertions(from, covered);
  }
  wait.lock();
  saving_ = false;
  ledger_.End(covered, ok);
  if (ok) savedThrough_ = covered;
  saveDone_.notify_all();
  return ok;
}

}  // namespace korvo
