#include "server/client_limits.h"

#include <mutex>

#include "common/settings.h"
#include "common/status_codes.h"

namespace korvo {

namespace {

std::mutex gMutex;
ClientLimits gLimits;

uint32_t ReadValue(const char* name, uint32_t fallback) {
  uint32_t value = 0;
  return KvReadRegDword("Server", name, &value) && value != 0 ? value : fallback;
}

const char* PartyFieldBeyond(const FaxSenderOrRecipient& p) {
  if (p.address.size() > ClientLimits::kMaxAddress) return "address";
  if (p.name.size() > ClientLimits::kMaxName) return "name";
  if (p.company.size() > ClientLimits::kMaxCompany) return "company";
  if (p.phone.size() > ClientLimits::kMaxPhone) return "phone";
  if (p.fax.size() > ClientLimits::kMaxFax) return "fax";
  return nullptr;
}

}  // namespace

ClientLimits ClientLimits::Current() {
  std::lock_guard hold(gMutex);
  return gLimits;
}

void ClientLimits::Load() {
  ClientLimits limits;
  limits.maxSessionsPerUser = ReadValue("MaxSessionsPerUser", kDefaultMaxSessionsPerUser);
  limits.maxFaxSize = ReadValue("MaxFaxSize", kDefaultMaxFaxSize);
  limits.transferTimeoutMs = ReadValue("TransferTimeout", kDefaultTransferTimeoutMs);
  limits.maxQueueKBPerSender = ReadValue("MaxQueueKBPerSender", kDefaultMaxQueueKBPerSender);
  limits.maxQueueJobsPerSender = ReadValue("MaxQueueJobsPerSender", kDefaultMaxQueueJobsPerSender);
  limits.receiveReserveKB = ReadValue("ReceiveReserveKB", kDefaultReceiveReserveKB);
  std::lock_guard hold(gMutex);
  gLimits = limits;
}

std::string ClientLimits::SubmissionRefusal(const std::string& sender, const Held& held, uint64_t imageBytes,
                                            uint32_t jobs, std::optional<uint64_t> freeBytes) const {
  const uint64_t totalJobs = uint64_t{held.jobs} + jobs;
  if (totalJobs > maxQueueJobsPerSender)
    return "'" + sender + "' would have " + std::to_string(totalJobs) + " jobs on the server, more than the " +
           std::to_string(maxQueueJobsPerSender) + " one sender may have.";
  const uint64_t totalKB = (held.bytes + imageBytes + 1023) / 1024;
  if (totalKB > maxQueueKBPerSender)
    return "the faxes of '" + sender + "' would take " + std::to_string(totalKB) + " KB on the server, more than the " +
           std::to_string(maxQueueKBPerSender) + " KB one sender may have.";
  if (freeBytes && *freeBytes < uint64_t{receiveReserveKB} * 1024)
    return "the last " + std::to_string(receiveReserveKB) +
           " KB of the server's free disk space are kept for received faxes.";
  return "";
}

Status ClientLimits::CheckHeader(const FaxHeader& header, std::string* why) {
  if (header.recipients.GetCount() > kMaxRecipients) {
    *why = std::to_string(header.recipients.GetCount()) + " recipients, at most " + std::to_string(kMaxRecipients);
    return kStatusNoQueueSpace;
  }
  if (header.subject.size() > kMaxSubject) {
    *why = "subject beyond its limit";
    return kStatusDbFieldTooLong;
  }
  if (const char* field = PartyFieldBeyond(header.sender)) {
    *why = std::string("sender's ") + field + " beyond its limit";
    return kStatusDbFieldTooLong;
  }
  for (int i = 0; i < header.recipients.GetCount(); ++i) {
    if (const char* field = PartyFieldBeyond(header.recipients[i])) {
      *why = "recipient " + std::to_string(i + 1) + "'s " + field + " beyond its limit";
      return kStatusDbFieldTooLong;
    }
  }
  return 0;
}

}  // namespace korvo
