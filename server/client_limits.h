// What one client may cost the server: how many sessions one login may hold,
// how large a submitted fax may be, how long a transfer of files may take and
// how large a submitted header may grow. The machine values are read once,
// when the IPC server starts; missing or 0 means the default.
//
//   Server\MaxSessionsPerUser  sessions one login may hold at once (root
//                              and the server's own login are not counted)
//   Server\MaxFaxSize          bytes of one submitted fax image
//   Server\TransferTimeout     ms for the whole transfer of a request's files
//                              (a submission, a download, a list)
//   Server\MaxQueueKBPerSender KB of fax images the queue may hold for one
//                              sending login (its faxes waiting to be sent,
//                              delivered on the LAN and not yet fetched, and
//                              returned)
//   Server\MaxQueueJobsPerSender jobs the queue may hold for one sending
//                              login (a recipient is a job)
//   Server\ReceiveReserveKB    KB of free space on the queue's file system
//                              that submissions leave for received faxes
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/fax_header.h"
#include "common/status.h"

namespace korvo {

struct ClientLimits {
  static constexpr uint32_t kDefaultMaxSessionsPerUser = 16;
  static constexpr uint32_t kDefaultMaxFaxSize = 64u << 20;
  static constexpr uint32_t kDefaultTransferTimeoutMs = 600000;
  // A header within the limits below is far smaller.
  static constexpr uint32_t kMaxHeaderFileSize = 1u << 20;

  // A party's texts, as wide as the widest record field they come from (the
  // name of an address-book entry is its first and last name joined).
  static constexpr size_t kMaxAddress = 63;
  static constexpr size_t kMaxName = 95;
  static constexpr size_t kMaxCompany = 63;
  static constexpr size_t kMaxPhone = 31;
  static constexpr size_t kMaxFax = 31;
  static constexpr size_t kMaxSubject = 255;
  // Every recipient is a job of its own in Queue.lst, which is written whole
  // on every change.
  static constexpr int kMaxRecipients = 256;

  // Enough for an office: a few hundred recipients of one broadcast, some
  // hundred pages waiting; and room for days of received faxes.
  static constexpr uint32_t kDefaultMaxQueueKBPerSender = 256u << 10;  // 256 MB
  static constexpr uint32_t kDefaultMaxQueueJobsPerSender = 1000;
  static constexpr uint32_t kDefaultReceiveReserveKB = 100u << 10;  // 100 MB

  uint32_t maxSessionsPerUser = kDefaultMaxSessionsPerUser;
  uint32_t maxFaxSize = kDefaultMaxFaxSize;
  uint32_t transferTimeoutMs = kDefaultTransferTimeoutMs;
  uint32_t maxQueueKBPerSender = kDefaultMaxQueueKBPerSender;
  uint32_t maxQueueJobsPerSender = kDefaultMaxQueueJobsPerSender;
  uint32_t receiveReserveKB = kDefaultReceiveReserveKB;

  // What the queue holds for one sending login.
  struct Held {
    uint64_t bytes = 0;
    uint32_t jobs = 0;
  };
  // "" when a submission of the sender (its image of imageBytes, already
  // written to the queue's file system, which has freeBytes left, unknown
  // when not given) with that many jobs fits beside what the queue holds for
  // it; else why it is refused: which limit it passes.
  std::string SubmissionRefusal(const std::string& sender, const Held& held, uint64_t imageBytes, uint32_t jobs,
                                std::optional<uint64_t> freeBytes) const;

  // The values in force (the defaults until Load).
  static ClientLimits Current();
  // Reads the machine values.
  static void Load();

  // 0 when the header is within the limits; else the status its refusal
  // carries, and *why says what is beyond its limit (the first found).
  static Status CheckHeader(const FaxHeader& header, std::string* why);
};

}  // namespace korvo
