#include "common/cover_page.h"

#include <cstdio>

#include "common/bits.h"
#include "common/imaging_exceptions.h"
#include "common/page_descriptor.h"
#include "common/page_renderer.h"
#include "common/status_codes.h"
#include "common/trace.h"

namespace korvo {

namespace {

// One party's block: a frame, the labels and, beside them, the values.
void DrawParty(PageRenderer& page, const PageRect& block, const char* labels, const FaxSenderOrRecipient& party) {
  page.FrameRect(block);
  PageRect labelPart, valuePart;
  block.Shrunk(20, 10, 0, 0).SplitWidth(3, 10, labelPart, valuePart);
  page.DrawText(labels, labelPart, TextAlignment::Left);
  page.DrawText(party.GetDisplayName() + "\n" + party.company + "\n" + party.fax + "\n" + party.phone, valuePart,
                TextAlignment::Left, false);
}

void Draw(PageRenderer& page, const CoverPageInfo& info) {
  PageRect body, footer, title, rest, parties, subject, from, to;
  const PageRect whole{0, 0, static_cast<int32_t>(kCoverPageWidth), static_cast<int32_t>(kCoverPageLines)};
  whole.Shrunk(50, 0, 50, 0).SplitHeight(9, 10, body, footer);
  body.SplitHeight(4, 10, title, rest);
  rest.SplitHeight(23, 40, parties, subject);
  parties.SplitWidth(1, 2, from, to);

  page.SetFontSize(40);
  title = title.Shrunk(0, 50, 0, 25);
  page.DrawText("FAX COVER", title, TextAlignment::Centre);
  page.FrameRect(title);

  page.SetFontSize(12);
  DrawParty(page, from.Shrunk(0, 0, 12, 25), "From:\nCompany:\nFax Number:\nPhone Number:", info.sender);
  DrawParty(page, to.Shrunk(12, 0, 0, 25), "To:\nCompany:\nFax Number:\nPhone Number:", info.recipient);

  subject = subject.Shrunk(0, 0, 0, 12);
  page.FrameRect(subject);
  PageRect labelPart, valuePart;
  subject.Shrunk(20, 10, 0, 0).SplitWidth(1, 8, labelPart, valuePart);
  page.DrawText("Subject:\nDate && Time:\nPages:", labelPart, TextAlignment::Left);
  page.DrawText(info.subject + "\n" + FormatFaxDateTime(info.sendTime) + "\n" + info.pageCount, valuePart,
                TextAlignment::Left, false);

  page.SetFontSize(8);
  page.DrawText("Korvo Cover Page", footer.Shrunk(10, 0, 10, 0), TextAlignment::Left);
}

}  // namespace

CoverPageInfo::CoverPageInfo(const FaxSenderOrRecipient& from, const FaxSenderOrRecipient& to, std::string text,
                             int32_t time, int32_t pages, uint32_t flags)
    : sender(from),
      recipient(flags & kRecipientGiven ? to : PlaceholderRecipient()),
      subject(std::move(text)),
      sendTime(time),
      pageCount(flags & kPageCountGiven ? std::to_string(pages) : "@P") {}

FaxSenderOrRecipient CoverPageInfo::PlaceholderRecipient() { return {"@F", 0, "@N", "@C", "@PH", "@F"}; }

Status DrawCoverPage(TiffWriter& writer, const CoverPageInfo& info) {
  try {
    PageRenderer page(kCoverPageWidth, kCoverPageLines);
    if (page.Ready()) {
      Draw(page, info);
      BitBuffer output(16384, 8192, kLsbFirst);
      page.EncodeTo(output);
      const PageDescriptor descriptor{kCoverPageWidth, kCoverPageLines, 204, 196, 0, 2};
      writer.WritePage(descriptor, output.Data(), output.ByteCount());
      return 0;
    }
    DebugPrint("Cover page bitmap could not be made\n");
  } catch (...) {
    TraceCaughtException();
  }
  try {
    writer.Close();
  } catch (...) {
    TraceCaughtException();
  }
  return kStatusCreateCoverPage;
}

std::string FormatFaxDateTime(std::time_t time) {
  std::tm local{};
  if (!localtime_r(&time, &local)) return std::string();
  const int hour = local.tm_hour % 12 == 0 ? 12 : local.tm_hour % 12;
  char text[64];
  std::snprintf(text, sizeof text, "%d/%.2d/%.2d %d:%.2d %s", local.tm_mon + 1, local.tm_mday, local.tm_year % 100,
                hour, local.tm_min, local.tm_hour >= 12 ? "PM" : "AM");
  return text;
}

}  // namespace korvo
