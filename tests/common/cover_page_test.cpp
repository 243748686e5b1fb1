#include "common/cover_page.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "common/page_renderer.h"
#include "common/prn2tiff.h"
#include "common/status_codes.h"
#include "common/tiff_reader.h"
#include "platform/page_surface.h"
#include "tests/common/page_pixels.h"
#include "tests/support/sandbox.h"

namespace korvo {
namespace {

using test::Ink;
using test::InkBox;
using test::PageBits;

// Seconds since 1970 of a UTC date and time.
std::time_t Utc(int year, int month, int day, int hour, int minute) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  return timegm(&t);
}

// The rectangles of the drawn page.
constexpr PageRect kTitle{50, 50, 1678, 198};
constexpr PageRect kFromFrame{50, 224, 852, 391};
constexpr PageRect kToFrame{877, 224, 1678, 391};
constexpr PageRect kSubjectFrame{50, 417, 1678, 546};
constexpr PageRect kFromLabels{70, 234, 304, 391}, kFromValues{305, 234, 852, 391};
constexpr PageRect kToLabels{897, 234, 1131, 391}, kToValues{1132, 234, 1678, 391};
constexpr PageRect kSubjectLabels{70, 427, 271, 546}, kSubjectValues{272, 427, 1678, 546};
constexpr PageRect kFooter{60, 559, 1668, 620};

const FaxSenderOrRecipient kSender{"jsmith", 1, "John Smith", "Velmora & Sons", "+385 1 555 0100", "+385 1 555 0101"};
const FaxSenderOrRecipient kRecipient{"0015550199", 0, "Ana Horvat", "R&&D Ltd", "555 0198", "555 0199"};

class CoverPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    box_.setEnv("TZ", "UTC0");
    tzset();
  }
  void TearDown() override { tzset(); }

  std::string Path(const std::string& name) const { return box_.path(name).string(); }

  // Draws the page into a file of its own and reads it back as a fax machine
  // would get it.
  PageBits Drawn(const CoverPageInfo& info) {
    TiffWriter writer;
    writer.Open(Path("cover.fax"));
    EXPECT_EQ(DrawCoverPage(writer, info), 0u);
    writer.Close();
    TiffReader reader;
    uint16_t count = 0;
    PageDescriptor d;
    reader.Open(Path("cover.fax"), count, d);
    EXPECT_EQ(count, 1);
    uint16_t index = 0;
    const uint8_t* bitmap = nullptr;
    uint32_t size = 0;
    EXPECT_TRUE(reader.ReadPageBitmap(kPageFirst, index, d, bitmap, size));
    EXPECT_EQ(d.width, 1728);
    EXPECT_EQ(d.length, 620);
    EXPECT_EQ(d.xResolution, 204);
    EXPECT_EQ(d.yResolution, 196);
    EXPECT_EQ(d.photometric, 0u);
    EXPECT_EQ(d.fillOrder, 2u);
    EXPECT_EQ(size, 216u * 620);
    PageBits bits{1728, 620, std::vector<uint8_t>(bitmap, bitmap + size)};
    return bits;
  }

  // The text set alone in 12 pt in the rectangle of a blank page.
  static PageBits Alone(const std::string& text, const PageRect& r, bool labels) {
    PageRenderer page(1728, 620);
    page.SetFontSize(12);
    page.DrawText(text, r, TextAlignment::Left, labels);
    return PageBits::Of(page);
  }

  // Compares the text rectangle less its last column and row, where a frame
  // may run.
  static bool SameIn(const PageBits& a, const PageBits& b, const PageRect& text) {
    const PageRect r = text.Shrunk(0, 0, 1, 1);
    for (int32_t y = r.top; y < r.bottom; ++y)
      for (int32_t x = r.left; x < r.right; ++x)
        if (a.IsBlack(x, y) != b.IsBlack(x, y)) return false;
    return true;
  }

  test::Sandbox box_;
};

TEST_F(CoverPageTest, DateAndTimeAreOnTheTwelveHourClock) {
  const std::pair<std::time_t, const char*> cases[] = {
      {Utc(2001, 2, 3, 0, 5), "2/03/01 12:05 AM"},    {Utc(2001, 2, 3, 12, 30), "2/03/01 12:30 PM"},
      {Utc(2001, 2, 3, 11, 59), "2/03/01 11:59 AM"},  {Utc(2001, 2, 3, 23, 0), "2/03/01 11:00 PM"},
      {Utc(1999, 12, 31, 9, 7), "12/31/99 9:07 AM"},  {Utc(2010, 10, 10, 13, 0), "10/10/10 1:00 PM"},
  };
  for (const auto& [time, text] : cases) EXPECT_EQ(FormatFaxDateTime(time), text);
  // The time is the local one.
  box_.setEnv("TZ", "KVT-1");
  tzset();
  EXPECT_EQ(FormatFaxDateTime(Utc(2001, 2, 3, 23, 30)), "2/04/01 12:30 AM");
}

TEST_F(CoverPageTest, PlaceholdersStandForWhatIsNotGiven) {
  const CoverPageInfo placeholders(kSender, kRecipient, "Offer", 0, 7, 0);
  EXPECT_EQ(placeholders.recipient, (FaxSenderOrRecipient{"@F", 0, "@N", "@C", "@PH", "@F"}));
  EXPECT_EQ(placeholders.pageCount, "@P");
  EXPECT_EQ(placeholders.sender, kSender);
  const CoverPageInfo given(kSender, kRecipient, "Offer", 0, 7,
                            CoverPageInfo::kRecipientGiven | CoverPageInfo::kPageCountGiven);
  EXPECT_EQ(given.recipient, kRecipient);
  EXPECT_EQ(given.pageCount, "7");
}

TEST_F(CoverPageTest, FramesAndTextLieAtTheirPlacesAndTheRestIsWhite) {
  const CoverPageInfo info(kSender, kRecipient, "Quarterly figures", static_cast<int32_t>(Utc(2001, 2, 3, 0, 5)), 12,
                           CoverPageInfo::kRecipientGiven | CoverPageInfo::kPageCountGiven);
  const PageBits page = Drawn(info);

  std::vector<bool> allowed(1728 * 620, false);
  auto allow = [&](const PageRect& r) {
    for (int32_t y = r.top; y < r.bottom; ++y)
      for (int32_t x = r.left; x < r.right; ++x) allowed[y * 1728 + x] = true;
  };
  for (const PageRect& f : {kTitle, kFromFrame, kToFrame, kSubjectFrame}) {
    SCOPED_TRACE(testing::Message() << f.left << "," << f.top);
    EXPECT_EQ(Ink(page, {f.left, f.top, f.right, f.top + 1}), static_cast<uint32_t>(f.right - f.left));
    EXPECT_EQ(Ink(page, {f.left, f.bottom - 1, f.right, f.bottom}), static_cast<uint32_t>(f.right - f.left));
    EXPECT_EQ(Ink(page, {f.left, f.top, f.left + 1, f.bottom}), static_cast<uint32_t>(f.bottom - f.top));
    EXPECT_EQ(Ink(page, {f.right - 1, f.top, f.right, f.bottom}), static_cast<uint32_t>(f.bottom - f.top));
    allow({f.left, f.top, f.right, f.top + 1});
    allow({f.left, f.bottom - 1, f.right, f.bottom});
    allow({f.left, f.top, f.left + 1, f.bottom});
    allow({f.right - 1, f.top, f.right, f.bottom});
  }
  for (const PageRect& t : {kFromLabels, kFromValues, kToLabels, kToValues, kSubjectLabels, kSubjectValues, kFooter}) {
    EXPECT_GT(Ink(page, t), 200u) << t.left << "," << t.top;
    allow(t);
  }
  allow(kTitle.Shrunk(1, 1, 1, 1));
  uint32_t stray = 0;
  for (int32_t y = 0; y < 620; ++y)
    for (int32_t x = 0; x < 1728; ++x) stray += page.IsBlack(x, y) && !allowed[y * 1728 + x];
  EXPECT_EQ(stray, 0u);

  // "FAX COVER" is centred across the title and hangs from its top.
  const PageRect title = InkBox(page, kTitle.Shrunk(1, 1, 1, 1));
  EXPECT_NEAR(title.left - kTitle.left, kTitle.right - title.right, 12);
  EXPECT_GT(title.right - title.left, 500);
  EXPECT_GT(title.bottom - title.top, 60);
  // The footer's 8 pt line is small.
  EXPECT_LT(InkBox(page, kFooter).bottom - kFooter.top, 26);

  // Labels and values, each in its place; the labels' "&&" shows as one
  // ampersand, the values are shown as typed.
  const std::pair<PageRect, PageBits> texts[] = {
      {kFromLabels, Alone("From:\nCompany:\nFax Number:\nPhone Number:", kFromLabels, true)},
      {kFromValues, Alone("John Smith\nVelmora & Sons\n+385 1 555 0101\n+385 1 555 0100", kFromValues, false)},
      {kToLabels, Alone("To:\nCompany:\nFax Number:\nPhone Number:", kToLabels, true)},
      {kToValues, Alone("Ana Horvat\nR&&D Ltd\n555 0199\n555 0198", kToValues, false)},
      {kSubjectLabels, Alone("Subject:\nDate & Time:\nPages:", kSubjectLabels, false)},
      {kSubjectValues, Alone("Quarterly figures\n2/03/01 12:05 AM\n12", kSubjectValues, false)},
  };
  for (const auto& [r, alone] : texts) EXPECT_TRUE(SameIn(page, alone, r)) << r.left << "," << r.top;

  std::filesystem::create_directories(test::BuildDir() / "artifacts");
  EXPECT_TRUE(platform::WritePagePng((test::BuildDir() / "artifacts" / "cover_page.png").string(), page.rows.data(),
                                     1728, 620, 216));
}

TEST_F(CoverPageTest, APageForSeveralRecipientsShowsThePlaceholders) {
  const FaxSenderOrRecipient noName{"jsmith", 1, "", "Velmora", "1", "2"};
  const PageBits page = Drawn(CoverPageInfo(noName, kRecipient, "Offer", 0, 3, 0));
  EXPECT_TRUE(SameIn(page, Alone("@N\n@C\n@F\n@PH", kToValues, false), kToValues));
  EXPECT_TRUE(SameIn(page, Alone("Offer\n1/01/70 12:00 AM\n@P", kSubjectValues, false), kSubjectValues));
  // A sender without a name shows the address.
  EXPECT_TRUE(SameIn(page, Alone("jsmith\nVelmora\n2\n1", kFromValues, false), kFromValues));
}

TEST_F(CoverPageTest, TextsInAnotherCodePageDoNotCutThePageShort) {
  // A sender's company and a subject in an 8-bit code page (Windows-1250),
  // drawn before the To block and the footer.
  const FaxSenderOrRecipient sender{"0123", 0, "Ana Horvat", "Tvrtka \x8A\xE8", "1", "2"};
  const PageBits page = Drawn(CoverPageInfo(sender, kRecipient, "Ponuda \xE8", 0, 1, 3));
  EXPECT_GT(Ink(page, kFromValues), 200u);
  EXPECT_TRUE(SameIn(page, Alone("Ana Horvat\nR&&D Ltd\n555 0199\n555 0198", kToValues, false), kToValues));
  EXPECT_EQ(Ink(page, {kToFrame.left, kToFrame.bottom - 1, kToFrame.right, kToFrame.bottom}),
            static_cast<uint32_t>(kToFrame.right - kToFrame.left));
  EXPECT_GT(Ink(page, kSubjectValues), 200u);
  EXPECT_GT(Ink(page, kFooter), 50u);
}

TEST_F(CoverPageTest, TheCoverPageLeadsTheConvertedDocument) {
  std::string stream = "BDBP";
  for (int i = 0; i < 3; ++i) {
    stream += "BL";
    stream += std::string("\xd8\x00", 2) + std::string(216, '\x0f');
  }
  stream += "EPED";
  test::Sandbox::writeFile(box_.path("job.prn"), stream);
  Prn2Tiff prn;
  ASSERT_EQ(prn.Open(Path("job.prn"), Path("job.fax")), 0u);
  ASSERT_EQ(DrawCoverPage(prn.Writer(), CoverPageInfo(kSender, kRecipient, "Offer", 0, 2, 3)), 0u);
  ASSERT_EQ(prn.NextPage(), 0u);
  ASSERT_EQ(prn.ConvertPage(), 0u);
  ASSERT_EQ(prn.NextPage(), kStatusEndOfPrnDocument);
  TiffReader reader;
  uint16_t count = 0;
  PageDescriptor d;
  reader.Open(Path("job.fax"), count, d);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(d.length, 620);
  const std::string bytes = test::Sandbox::readFile(box_.path("job.fax"));
  EXPECT_NE(bytes.find(std::string("KV Fax Server\0", 14)), std::string::npos);
}

TEST_F(CoverPageTest, AFailedCoverPageClosesTheWriterAndTheDocumentFails) {
  TiffWriter never;
  EXPECT_EQ(DrawCoverPage(never, CoverPageInfo(kSender, kRecipient, "", 0, 1, 3)), kStatusCreateCoverPage);

  // A device that takes no data: the page cannot be written.
  ASSERT_TRUE(std::filesystem::exists("/dev/full"));
  test::Sandbox::writeFile(box_.path("job.prn"), "BDBPEPED");
  Prn2Tiff prn;
  ASSERT_EQ(prn.Open(Path("job.prn"), "/dev/full"), 0u);
  EXPECT_EQ(DrawCoverPage(prn.Writer(), CoverPageInfo(kSender, kRecipient, "", 0, 1, 3)), kStatusCreateCoverPage);
  EXPECT_FALSE(prn.Writer().IsOpen());
  EXPECT_EQ(prn.NextPage(), 0u);
  EXPECT_EQ(prn.ConvertPage(), kStatusPrnToTiff);
}

}  // namespace
}  // namespace korvo
