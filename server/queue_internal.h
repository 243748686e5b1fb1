// What the queue's files share: the insertion order, the stored list's
// encoding and the change log's replay. Not for use outside the queue.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <utility>
#include <vector>

#include "common/archive.h"
#include "server/queue.h"
#include "server/queue_ledger.h"

namespace korvo::queue_detail {

// The queue's one order: a job goes before the first job not due earlier
// whose priority it beats. Moves `job` out of `from` into `jobs`.
void InsertInOrder(std::list<FaxReq>& jobs, std::list<FaxReq>& from, std::list<FaxReq>::iterator job);
void InsertInOrder(std::list<FaxReq>& jobs, FaxReq&& job);

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

struct LogReplay {
  int added = 0;  // records of submissions the list did not hold
  // Stretches of the log that hold no intact record (offset, length): a
  // record whose check fails, or bytes that cannot be read as records.
  std::vector<std::pair<size_t, size_t>> damaged;
};

// Adds the log's records of submissions the list does not hold (image ids
// above the list's own counter); a damaged stretch is passed over, the
// intact records after it still read.
LogReplay ReplayLog(const std::string& log, uint32_t listImageCounter, uint32_t* imageCounter, uint32_t* jobCounter,
                    std::list<FaxImg>* images, std::list<FaxReq>* jobs);

}  // namespace korvo::queue_detail
