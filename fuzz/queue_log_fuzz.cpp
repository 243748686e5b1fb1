// Arbitrary bytes as Queue/Queue.log: the replay never crashes or reads past
// the bytes, the damaged stretches it reports lie within them in order and
// apart, and every submission it takes back has its jobs in the queue's order.
#include <cstdint>
#include <cstdlib>
#include <list>
#include <string>

#include "server/queue_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  uint32_t imageCounter = 0, jobCounter = 0;
  std::list<korvo::FaxImg> images;
  std::list<korvo::FaxReq> jobs;
  const auto replay = korvo::queue_detail::ReplayLog(bytes, 0, &imageCounter, &jobCounter, &images, &jobs);
  if (replay.added < 0 || static_cast<size_t>(replay.added) != images.size()) std::abort();
  size_t end = 0;
  for (const auto& [at, length] : replay.damaged) {
    if (at < end || length == 0 || at + length > size) std::abort();
    end = at + length;
  }
  for (const auto& image : images)
    if (image.id > imageCounter) std::abort();
  // Before the first job not due earlier whose priority it beats: no job is
  // due earlier than one before it of a lower priority.
  for (auto it = jobs.begin(); it != jobs.end(); ++it) {
    if (it->jobId > jobCounter) std::abort();
    for (auto before = jobs.begin(); before != it; ++before)
      if (before->dueTime >= it->dueTime && it->priority < before->priority) std::abort();
  }
  return 0;
}
