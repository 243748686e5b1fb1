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
#pragma once

#include <cstdint>
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

  uint32_t maxSessionsPerUser = kDefaultMaxSessionsPerUser;
  uint32_t maxFaxSize = kDefaultMaxFaxSize;
  uint32_t transferTimeoutMs = kDefaultTransferTimeoutMs;

  // The values in force (the defaults until Load).
  static ClientLimits Current();
  // Reads the machine values.
  static void Load();

  // 0 when the header is within the limits; else the status its refusal
  // carries, and *why says what is beyond its limit (the first found).
  static Status CheckHeader(const FaxHeader& header, std::string* why);
};

}  // namespace korvo
