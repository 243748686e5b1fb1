// Arbitrary bytes as Queue/Queue.lst: decoding never crashes or reads past
// the bytes, every decoded job gives a list line of 15 fields, and what a
// decoded queue stores decodes back to the same bytes (the input itself may
// use the longer length forms, so it need not be stored back as it was).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/fields.h"
#include "server/queue.h"

namespace {

std::string Stored(uint32_t imageCounter, uint32_t jobCounter, const std::list<korvo::FaxImg>& images,
                   const std::list<korvo::FaxReq>& jobs) {
  std::vector<korvo::FaxImg> i(images.begin(), images.end());
  std::vector<korvo::FaxReq> j(jobs.begin(), jobs.end());
  return korvo::Queue::Encode(imageCounter, jobCounter, i, j);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  uint32_t imageCounter = 0, jobCounter = 0;
  std::list<korvo::FaxImg> images;
  std::list<korvo::FaxReq> jobs;
  if (!korvo::Queue::Decode(bytes, &imageCounter, &jobCounter, &images, &jobs)) return 0;
  for (const auto& job : jobs) {
    const std::string line = korvo::Queue::ListLine(job, images.empty() ? korvo::FaxImg{} : images.front());
    std::vector<std::string> fields(16);
    if (line.size() < 2 || line.substr(line.size() - 2) != "\r\n") std::abort();
    if (korvo::DecodeFields(std::string_view(line).substr(0, line.size() - 2), fields) != 15) std::abort();
  }
  const std::string once = Stored(imageCounter, jobCounter, images, jobs);
  std::list<korvo::FaxImg> images2;
  std::list<korvo::FaxReq> jobs2;
  if (!korvo::Queue::Decode(once, &imageCounter, &jobCounter, &images2, &jobs2)) std::abort();
  if (Stored(imageCounter, jobCounter, images2, jobs2) != once) std::abort();
  return 0;
}
