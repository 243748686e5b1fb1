// The cover page: the first page of a fax, drawn from its sender, recipient,
// subject, send time and page count. A fax for several recipients gets a page
// with placeholders, which the server replaces by a page drawn for each.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "common/fax_header.h"
#include "common/status.h"
#include "common/tiff_writer.h"

namespace korvo {

class CoverPageInfo {
 public:
  static constexpr uint32_t kRecipientGiven = 0x1;
  static constexpr uint32_t kPageCountGiven = 0x2;

  // Without kRecipientGiven the recipient is the placeholder party, without
  // kPageCountGiven the page count is "@P".
  CoverPageInfo(const FaxSenderOrRecipient& sender, const FaxSenderOrRecipient& recipient, std::string subject,
                int32_t sendTime, int32_t pageCount, uint32_t flags);

  // The recipient of a page drawn for several: name "@N", company "@C",
  // phone "@PH", fax number and address "@F".
  static FaxSenderOrRecipient PlaceholderRecipient();

  FaxSenderOrRecipient sender;
  FaxSenderOrRecipient recipient;
  std::string subject;
  int32_t sendTime;  // seconds since 1970
  std::string pageCount;
};

inline constexpr uint32_t kCoverPageWidth = 1728;
inline constexpr uint32_t kCoverPageLines = 620;

// Draws the cover page and appends it to the writer as one page of 620 lines
// at 204 x 196: 0, or kStatusCreateCoverPage (the writer is then closed).
Status DrawCoverPage(TiffWriter& writer, const CoverPageInfo& info);

// The local time as "M/DD/YY H:MM AM" (12-hour clock, 0 shows as 12).
std::string FormatFaxDateTime(std::time_t time);

}  // namespace korvo
