#include "core/sendfax/last_settings.h"

#include <vector>

#include "common/fields.h"
#include "common/settings.h"

namespace korvo::sendfax {
namespace {
constexpr int kFieldCount = 9;
}

// A record too long for the value loses whole texts, never part of one and
// never a field's place: first the ones that are not read back (title,
// subject), then the server; the flags always fit.
std::string EncodeLastSettings(const SendFaxJob& job) {
  auto flag = [](int f) { return std::string(f ? "1" : "0"); };
  std::vector<std::string> fields = {job.documentTitle,        flag(job.highPriority), flag(job.keepSentFax),
                                     flag(job.preview),        flag(job.useGlobalAddressBook),
                                     flag(job.saferDialing),   flag(job.sendCoverPage)};
  fields.insert(fields.begin() + 1, {job.subject, job.server});
  std::string out;
  for (int dropped = 0; dropped <= 3; ++dropped) {
    if (dropped > 0) fields[static_cast<size_t>(dropped - 1)].clear();
    out.clear();
    EncodeFields(&out, fields, kFieldCount);
    if (out.size() < kLastSettingsSize) break;
  }
  return out;
}

void DecodeLastSettings(const std::string& text, SendFaxJob& job) {
  std::vector<std::string> f(kFieldCount);
  DecodeFields(text, f);
  auto set = [](const std::string& s) { return ParseDecimal(s) != 0 ? 1 : 0; };
  job.documentTitle.clear();
  job.subject.clear();
  job.server = f[2];
  job.highPriority = set(f[3]);
  job.keepSentFax = set(f[4]);
  job.preview = set(f[5]);
  job.useGlobalAddressBook = set(f[6]);
  job.saferDialing = 0;
  job.sendCoverPage = set(f[8]);
}

bool LoadLastSettings(SendFaxJob& job) {
  char buffer[kLastSettingsSize] = {};
  if (!KvGetSendFaxToLast(buffer, sizeof buffer)) return false;
  DecodeLastSettings(buffer, job);
  return true;
}

bool SaveLastSettings(const SendFaxJob& job) { return KvSetSendFaxToLast(EncodeLastSettings(job).c_str()) == 1; }

}  // namespace korvo::sendfax
