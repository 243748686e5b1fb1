// The scheduler: each pass hands the due jobs to free ports in batches per
// fax number, expires what was held too long and removes what is done.
#include <algorithm>
#include <cstdio>
#include <set>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "server/faxserver.h"
#include "server/modem_port.h"
#include "server/queue.h"
#include "server/syslog.h"
#include "server/trace.h"

namespace korvo {

namespace {

template <size_t N>
bool CopyPath(char (&field)[N], const std::string& path) {
  if (path.size() >= N) return false;
  std::snprintf(field, N, "%s", path.c_str());
  return true;
}

}  // namespace

int Queue::TimeTest(const FaxReq& job, int64_t now) const {
  const int64_t delta = now - job.dueTime;
  if (delta <= kHoldingTime) return delta < 0 ? 1 : 0;
  return 2;
}

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

}  // namespace korvo
