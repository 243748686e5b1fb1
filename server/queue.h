// The spool queue: every fax the server has not finished with (outgoing jobs
// waiting to be sent or retried, received faxes, faxes delivered on the LAN,
// returned faxes), saved in Queue/Queue.lst, and the scheduler thread that
// hands due jobs to free modem ports in batches per fax number.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <mutex>
#include <optional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "common/archive.h"
#include "common/fax_header.h"
#include "common/job_state.h"
#include "common/status.h"
#include "platform/sync.h"
#include "server/queue_ledger.h"
#include "server/client_limits.h"
#include "server/send_request.h"

namespace korvo {

class Queue;
extern Queue* g_Queue;

// One image file with what all jobs of one submission share.
struct FaxImg {
  uint32_t id = 0;
  std::string path;
  uint16_t pageCount = 0;  // never 0 for a stored image
  std::string subject;
  FaxSenderOrRecipient sender;
  uint32_t flags = 0;  // the header's option flags
  uint16_t refCount = 0;  // jobs that use the image
  // Not saved: the image file's size, once measured (for its sender's share).
  std::optional<uint64_t> bytes;

  void Serialize(Archive& ar);
};

// One job for one recipient.
struct FaxReq {
  int32_t direction = 0;  // 1 outgoing and not finished; 0 incoming, LAN-delivered or returned
  uint32_t imageId = 0;
  uint32_t jobId = 0;
  FaxSenderOrRecipient recipient;
  int32_t submitTime = 0;  // seconds since 1970
  int32_t dueTime = 0;
  int32_t seconds = 0;  // of connection, over all attempts
  uint8_t priority = 0;  // 0 urgent, 100 normal, one more per retry
  uint32_t retryInterval = 0;  // minutes
  uint32_t attemptsAllowed = 0;
  int32_t attemptsMade = 0;
  uint16_t pages = 0;
  int32_t state = JobState::Undefined;
  int32_t port = 0;
  std::string coverPath;  // the job's own cover page file, empty when none
  int32_t sending = 0;
  int32_t checkedOut = 0;
  int32_t saferDialing = 0;
  int32_t drop = 0;
  int32_t returned = 0;
  // Not saved: the save that first puts the job on the disk. Until then no
  // port sends it and no client fetches it, as its submission may yet fail.
  uint64_t saveTicket = 0;

  void Serialize(Archive& ar);
};

// The modem subsystem's side of scheduling, so the queue can be driven
// against any set of ports.
class SendPorts {
 public:
  virtual ~SendPorts() = default;
  // A free port, now reserved, or -1.
  virtual int FindFreePort() = 0;
  // On true the list belongs to the port's send thread.
  virtual bool StartSend(int port, const char* number, std::shared_ptr<SendRequestList> list) = 0;
  virtual void ReleasePort(int port) = 0;
  virtual bool QueryPort(int port, uint32_t jobId, int32_t* pages, int32_t* seconds, int32_t* state) = 0;
  virtual bool AbortRequest(int port, uint32_t jobId) = 0;
};

// Draws one cover page into a new fax file at path; 0 on success.
using CoverPageDrawer = Status (*)(const std::string& path, const FaxSenderOrRecipient& sender,
                                   const FaxSenderOrRecipient& recipient, const std::string& subject, int32_t sendTime,
                                   uint16_t pageCount);

// The server's drawer: one cover page for the recipient, with the page count,
// into a new fax file at path; kStatusCreateCoverPage when it fails.
Status DrawCoverPageFile(const std::string& path, const FaxSenderOrRecipient& sender,
                         const FaxSenderOrRecipient& recipient, const std::string& subject, int32_t sendTime,
                         uint16_t pageCount);

struct QueueConfig {
  std::string listPath;  // Queue/Queue.lst
  std::string queueDir;  // where the cover page files go
  // The server's Temp folder, repaired at start-up; empty: left alone.
  std::string tempDir;
  SendPorts* ports = nullptr;  // not owned; null: the server's modem subsystem
  int64_t (*clock)() = nullptr;  // seconds since 1970; null: the system clock
  uint32_t lockTimeoutMs = 10000;  // how long an operation waits for the queue
  // Between scheduler passes; platform::kInfinite runs none (tests call
  // SchedulerPass themselves).
  uint32_t periodMs = 5000;
  CoverPageDrawer drawCoverPage = nullptr;  // null: jobs go without a cover page file
};

class Queue {
 public:
  static constexpr uint32_t kLockTimeout = 10000;
  static constexpr uint16_t kListVersion = 3;
  static constexpr int64_t kSavePeriod = 300;  // seconds between the periodic saves
  static constexpr int64_t kHoldingTime = 2592000;  // 30 days
  static constexpr int kKindReceived = 0;
  static constexpr int kKindSubmitted = 1;
  // Beside the Temp folder: where start-up repair moves the files of Temp
  // that no job names.
  static constexpr char kKeptFolder[] = "Recovered";

  // Loads Queue.lst, repairs the loaded jobs and starts the scheduler thread;
  // *ok is 1 when the thread started.
  Queue(const QueueConfig& config, int* ok);
  // Stops and joins the scheduler, then saves Queue.lst. Jobs and images are
  // freed; their files stay.
  ~Queue();
  Queue(const Queue&) = delete;
  Queue& operator=(const Queue&) = delete;

  // Kind 1: a fax of request 4000 (seconds 0, state 10); kind 0: a received
  // fax (seconds of the call, state 400 or 320). 1 when queued and saved; 0
  // on failure, with *why (when given) naming the cause: an image the
  // server cannot read as a fax (kStatusOpenPrnOrTiff), no recipients
  // (kStatusUndialableNumber), a busy queue (kStatusServerTooBusy), a file
  // not written (kStatusNoQueueSpace), a submission past its sender's share
  // of the queue (ClientLimits; kStatusNoQueueSpace, and *refusal says
  // which limit).
  int InsertFax(const char* imagePath, const FaxHeader& header, int kind, int32_t seconds, int32_t state,
                Status* why = nullptr, std::string* refusal = nullptr);
  // The list lines of request 5000-6020 into the file.
  Status WriteList(uint32_t requestCode, const char* userName, const char* fileName);
  // 1 when an incoming job was checked out for a download.
  int CheckOutJob(uint32_t jobId, FaxHeader* header, std::string* imagePath, std::string* coverPath);
  void ReleaseJob(uint32_t jobId);
  // Completes a job (journal entry, removed). 0xC000178E for an unknown id.
  // A busy queue is waited for: a result is never dropped.
  Status SetJobResult(uint32_t jobId, int setResult, int32_t state, int32_t pages, int32_t seconds);
  // Reschedules a failed job from now, or returns it to its sender after the
  // last attempt; waits for a busy queue as SetJobResult does. 1 when the
  // job exists.
  int RetryJob(uint32_t jobId, int32_t state, int32_t pages, int32_t seconds);
  // Requests 4020 and 4030.
  Status DeleteJob(const char* jobIdText);
  // A job id as requests carry it: decimal digits alone, within 32 bits.
  // False for anything else, which the requests answer as an unknown id.
  static bool ParseJobId(std::string_view text, uint32_t* id);
  // Whether the user may fetch (4010) or delete (4030) the job: 0 for a job
  // of the user's own lists (5026 or 5030 to fetch, 5020 or 6020 to delete),
  // for a "~nobody" fax that a dispatcher fetches, and for any job that an
  // administrator asks for; else kStatusNoPermission. kStatusRequestAlreadyDeleted
  // for an unknown id, kStatusServerTooBusy when the queue is busy. A job's
  // recipient and sender never change, so the answer holds for the job's
  // whole life.
  Status CheckJobAccess(uint32_t jobId, uint32_t requestCode, const char* userName, uint32_t rights);
  // Server suspend and resume: the modem subsystem holds back new sends.
  void Pause() {}
  void Resume() {}

  // One scheduler pass: schedule due jobs, remove dropped jobs and unused
  // images, the periodic save. False when the queue was busy.
  bool SchedulerPass();
  // Ends the scheduler thread and waits for it (shutdown).
  void StopScheduler();

  // Copies, for inspection.
  std::vector<FaxReq> Jobs();
  std::vector<FaxImg> Images();
  uint32_t ImageCounter();
  uint32_t JobCounter();

  // The Queue.lst bytes of the given contents.
  static std::string Encode(uint32_t imageCounter, uint32_t jobCounter, std::vector<FaxImg>& images,
                            std::vector<FaxReq>& jobs);
  // The contents of Queue.lst bytes; false (outputs untouched) for bytes of
  // another version, cut short or damaged.
  static bool Decode(const std::string& bytes, uint32_t* imageCounter, uint32_t* jobCounter,
                     std::list<FaxImg>* images, std::list<FaxReq>* jobs);
  // Where the change log of the list at listPath lies: Queue.log beside
  // Queue.lst. Each submission is appended to it as one record and flushed;
  // a full save of Queue.lst takes the records in and removes it.
  static std::string LogPath(const std::string& listPath);
  // What a start finds: Queue.lst with the change log's records the list
  // does not hold yet. The log is read first, so a full save in the meantime
  // loses nothing. False (outputs untouched) when the list is damaged.
  static bool ReadSaved(const std::string& listPath, uint32_t* imageCounter, uint32_t* jobCounter,
                        std::list<FaxImg>* images, std::list<FaxReq>* jobs);
  // The 15-field list line of a job (also the journal's line layout).
  static std::string ListLine(const FaxReq& job, const FaxImg& image);
  // The job's sender as its recipient sees it in the lists: a LAN
  // delivery's typed name with the sending login beside it. (The fetched
  // header keeps the sender as sent: its address is that login.)
  static FaxSenderOrRecipient ShownSender(const FaxReq& job, const FaxImg& image);
  // Whether the list of request 5000-6020 for the user holds the job.
  static bool Listed(uint32_t requestCode, const FaxReq& job, const FaxImg* image, const char* user);

 private:
  using JobList = std::list<FaxReq>;

  // Holds the queue mutex once LockForResult has taken it.
  struct ResultLock {
    explicit ResultLock(platform::Mutex& m) : m_(m) {}
    ~ResultLock() { m_.Unlock(); }
    ResultLock(const ResultLock&) = delete;
    ResultLock& operator=(const ResultLock&) = delete;
    platform::Mutex& m_;
  };

  int64_t Now() const;
  // What the queue holds for the sending login: its images' bytes and their
  // jobs. Under the queue mutex.
  ClientLimits::Held HeldForSender(const std::string& sender);
  static bool IsSubmittedBy(const FaxImg& image, const std::string& sender);
  // Takes the queue mutex for a job's result, however long it is busy.
  void LockForResult(uint32_t jobId);
  void Load();
  // Moves a damaged Queue.lst aside (never overwritten by the next save) and
  // says so in the server log.
  void KeepDamagedList();
  // Keeps the change log beside it under a new name before the next save
  // removes it, and says so in the server log: a copy of the bytes read, or
  // (null) the file itself, which cannot be read.
  void KeepDamagedLog(const std::string* bytes);
  // Counters above every id the journal holds and above the counters heading
  // the lists in the queue folder.
  void RaiseCountersAboveKnownIds();
  // Files the received faxes left in Temp by a failed insertion or an
  // interrupted run, and moves the temporary files no job refers to aside
  // (empty ones are removed).
  void RepairTemp();
  // Asks for a save of the lists as they are now (a change of the jobs when
  // `change`); called under the queue mutex. The ticket is redeemed by Commit.
  uint64_t RequestSave(bool change);
  // Asks for the save of a submission alone: its record goes to the change
  // log unless a full save is due. Under the queue mutex.
  uint64_t RequestInsertionSave(FaxImg image, std::vector<FaxReq>& jobs);
  // Appends records to the change log and flushes them; on failure the log
  // is cut back to what it held. Only the thread that is saving calls it.
  bool AppendLog(const std::string& records);
  // Called without the queue mutex: waits until Queue.lst written after the
  // ticket was taken is on the disk, writing it unless a save is under way.
  // One write serves every ticket taken before it began (group commit), so
  // concurrent changes share one rewrite and flush. False (traced) when the
  // write that covered the ticket failed.
  bool Commit(uint64_t ticket);
  // Removes the jobs and the image of a submission that failed; under the
  // queue mutex.
  void TakeBackInsertion(const std::vector<uint32_t>& jobIds, uint32_t imageId);
  // Takes back every submission whose save ticket lies after `from` up to
  // `through` (a write that failed); under the queue mutex.
  void TakeBackInsertions(uint64_t from, uint64_t through);
  bool Saved(const FaxReq& job) const { return job.saveTicket <= savedThrough_.load(); }
  FaxImg* FindImage(uint32_t imageId);
  JobList::iterator FindJob(uint32_t jobId);
  int TimeTest(const FaxReq& job, int64_t now) const;
  struct PassIndex;
  // Indexes the due jobs; with `expire`, first expires the jobs held too long
  // and returns those no port can dial, true when a job changed in a way the
  // saved list must keep.
  bool BuildPassIndex(PassIndex& index, int64_t now, bool expire);
  // The first due job for a fax number that no batch of this pass started
  // from; the index's next entry is that job.
  JobList::iterator NextDueJob(int64_t now, const std::set<uint32_t>& started, PassIndex& index);
  // The batch of the index's next job.
  void StartBatch(PassIndex& index, int port);
  // RetryJob's change, under the queue mutex; false for an unknown job.
  bool RetryLocked(uint32_t jobId, int32_t state, int32_t pages, int32_t seconds);
  void Journalize(const FaxReq& job, const FaxImg& image);
  void CompleteJob(JobList::iterator job);
  void ReleaseJobFiles(const FaxReq& job);
  bool RemoveDropped();
  bool DropUnusedImages();
  void SchedulerThread();

  QueueConfig config_;
  SendPorts* ports_;
  std::list<FaxImg> images_;
  std::unordered_map<uint32_t, FaxImg*> imageIndex_;
  JobList jobs_;
  uint32_t imageCounter_ = 0;
  uint32_t jobCounter_ = 0;
  bool noFreeModems_ = false;
  Status lastJournalStatus_ = 0;  // of the last journal entry written
  std::atomic<int64_t> lastSave_{0};
  uint64_t changes_ = 0;  // saved changes of the jobs, for the scheduler pass's index
  uint64_t saveTickets_ = 0;  // taken so far, under the queue mutex
  platform::Mutex mutex_;
  // The group commit, never held while waiting for the queue mutex.
  std::mutex saveMutex_;
  std::condition_variable saveDone_;
  bool saving_ = false;  // a thread is writing Queue.lst
  // The last write that succeeded covered the tickets up to it; those of
  // failed writes below it have had their jobs taken back.
  std::atomic<uint64_t> savedThrough_{0};
  queue_detail::CommitLedger ledger_;
  std::set<std::string> foldersToSync_;  // of new images, flushed by the next write; under the queue mutex
  std::string saveBuffer_;  // the writer's, reused so saves do not grow it anew
  // The change log. Under the queue mutex: the records not yet written and
  // whether the next save must be a full one. The saving thread's alone: the
  // log's descriptor and length, and the size of the last Queue.lst.
  std::string logPath_;
  std::string pendingLog_;
  bool fullSaveWanted_ = false;
  int logFd_ = -1;
  uint64_t logBytes_ = 0;
  uint64_t listBytes_ = 0;
  platform::Event stop_;
  std::thread scheduler_;
};

// The check-out of a job for a download, released when it goes out of scope
// unless the download succeeded.
class QueueJobLock {
 public:
  QueueJobLock(Queue& queue, uint32_t jobId, FaxHeader* header, std::string* imagePath, std::string* coverPath)
      : queue_(queue), jobId_(jobId), locked_(queue.CheckOutJob(jobId, header, imagePath, coverPath) == 1) {}
  ~QueueJobLock() {
    if (locked_ && !downloaded_) queue_.ReleaseJob(jobId_);
  }
  QueueJobLock(const QueueJobLock&) = delete;
  QueueJobLock& operator=(const QueueJobLock&) = delete;

  bool IsLocked() const { return locked_; }
  void Downloaded() { downloaded_ = true; }

 private:
  Queue& queue_;
  uint32_t jobId_;
  bool locked_;
  bool downloaded_ = false;
};

}  // namespace korvo
