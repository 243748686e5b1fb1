#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/prn2tiff.h"
#include "common/settings.h"
#include "tests/support/sandbox.h"
#include "tests/viewer/fax_files.h"
#include "tools/prnstream/prn_stream.h"
#include "viewer/command_line.h"
#include "viewer/fax_image_document.h"
#include "viewer/print_pages.h"
#include "viewer/recent_files.h"
#include "viewer/viewer_ids.h"

namespace korvo {
namespace {

namespace id = viewer_id;

struct Message {
  std::string text, caption;
  bool operator==(const Message&) const = default;
};
void PrintTo(const Message& m, std::ostream* os) { *os << '"' << m.text << "\" (" << m.caption << ")"; }

class Document : public ::testing::Test {
 protected:
  Document() { Watch(doc_); }

  void Watch(FaxImageDocument& doc) {
    doc.SetMessageSink([this](const std::string& t, const std::string& c) { messages_.push_back({t, c}); });
    doc.SetUpdateSink([this](int32_t hint) { updates_.push_back(hint); });
  }
  std::string Path(const std::string& name) const { return box_.path(name).string(); }
  std::string ThreePages() { return test::WriteFax(Path("three.fax"), 3); }

  // The document shows page `index` of the file: its pixels and place.
  void ExpectShows(const std::vector<test::FaxPage>& pages, uint16_t index) {
    EXPECT_EQ(doc_.CurrentPage(), index);
    EXPECT_EQ(doc_.Bitmap().Index(), index);
    EXPECT_EQ(doc_.Bitmap().Width(), pages[index].width);
    EXPECT_EQ(doc_.Bitmap().Height(), pages[index].lines);
    EXPECT_EQ(doc_.Bitmap().Rows(), test::ViewerRows(pages[index]));
  }

  test::Sandbox box_;
  FaxImageDocument doc_;
  std::vector<Message> messages_;
  std::vector<int32_t> updates_;
};

TEST_F(Document, PagesAndTheirCommands) {
  const std::vector<test::FaxPage> pages = {{1728, 300, 196, 1}, {2048, 120, 98, 2}, {2432, 77, 196, 3}};
  ASSERT_TRUE(doc_.Open(test::WriteFax(Path("mixed.fax"), pages)));
  EXPECT_TRUE(updates_.empty()) << "opening shows the first page without redrawing";
  EXPECT_EQ(doc_.PageCount(), 3);
  ExpectShows(pages, 0);
  EXPECT_EQ(doc_.PageText(), "Page 1 of 3");

  struct Step {
    int32_t command;
    uint16_t page;
    std::vector<int32_t> enabled, disabled;
  } const steps[] = {
      {id::kNextPage, 1, {id::kNextPage, id::kPreviousPage, id::kFirstPage, id::kLastPage, id::kGoToPage}, {}},
      {id::kNextPage, 2, {id::kPreviousPage, id::kFirstPage, id::kGoToPage}, {id::kNextPage, id::kLastPage}},
      {id::kNextPage, 2, {id::kPreviousPage}, {id::kNextPage}},  // past the end: nothing changes
      {id::kFirstPage, 0, {id::kNextPage, id::kLastPage}, {id::kPreviousPage, id::kFirstPage}},
      {id::kPreviousPage, 0, {id::kNextPage}, {id::kPreviousPage}},
      {id::kLastPage, 2, {id::kFirstPage}, {id::kLastPage}},
      {id::kPreviousPage, 1, {id::kNextPage, id::kPreviousPage}, {}},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE("command " + std::to_string(s.command) + " to page " + std::to_string(s.page));
    EXPECT_TRUE(doc_.Execute(s.command));
    ExpectShows(pages, s.page);
    for (int32_t c : s.enabled) EXPECT_TRUE(doc_.IsEnabled(c)) << c;
    for (int32_t c : s.disabled) EXPECT_FALSE(doc_.IsEnabled(c)) << c;
    EXPECT_EQ(doc_.PageText(), "Page " + std::to_string(s.page + 1) + " of 3");
  }
  EXPECT_EQ(updates_, std::vector<int32_t>(5, 0)) << "a move that goes nowhere redraws nothing";
  EXPECT_TRUE(messages_.empty());
  // Page 2 is a normal-resolution page: its lines are shown twice.
  EXPECT_EQ(doc_.Zoom().YFactor(), 1u);
  EXPECT_EQ(doc_.Zoom().XFactor(), 2u);
  EXPECT_TRUE(doc_.GoToPage(kPageAtIndex, 0));
  EXPECT_EQ(doc_.Zoom().XFactor(), 1u);
}

TEST_F(Document, AOnePageFaxOffersNoPageCommands) {
  ASSERT_TRUE(doc_.Open(test::WriteFax(Path("one.fax"), 1)));
  for (int32_t c : {id::kNextPage, id::kPreviousPage, id::kFirstPage, id::kLastPage, id::kGoToPage})
    EXPECT_FALSE(doc_.IsEnabled(c)) << c;
  for (int32_t c : {id::kRotateLeft, id::kRotateRight, id::kFlip, id::kSaveZoom, 32780, 32785})
    EXPECT_TRUE(doc_.IsEnabled(c)) << c;
  EXPECT_EQ(doc_.PageText(), "Page 1 of 1");
}

TEST_F(Document, WithoutAFileOnlyZoomIsOffered) {
  for (int32_t c : {id::kNextPage, id::kGoToPage, id::kRotateLeft, id::kFlip}) EXPECT_FALSE(doc_.IsEnabled(c)) << c;
  EXPECT_TRUE(doc_.IsEnabled(32783));
  EXPECT_EQ(doc_.PageText(), "");
  EXPECT_EQ(doc_.ZoomText(), "25%");
}

TEST_F(Document, TheDispatcherSeesOnlyTheFirstPage) {
  doc_.SetFirstPageOnly(true);
  ASSERT_TRUE(doc_.Open(ThreePages()));
  const Message refused{kDispatcherMessage, "Korvo Viewer"};
  struct {
    uint32_t mode;
    uint16_t index;
    bool moves;
    size_t messages;
  } const cases[] = {
      {kPageNext, 0, false, 1}, {kPageLast, 0, false, 1}, {kPageAtIndex, 1, false, 1},
      {kPageFirst, 0, true, 0}, {kPageAtIndex, 0, true, 0},
      {kPageAtIndex, 7, false, 0},  // outside the file: refused without the message
      {kPagePrevious, 0, false, 0},
  };
  for (const auto& c : cases) {
    messages_.clear();
    EXPECT_EQ(doc_.GoToPage(c.mode, c.index), c.moves) << c.mode << " " << c.index;
    EXPECT_EQ(doc_.CurrentPage(), 0);
    ASSERT_EQ(messages_.size(), c.messages);
    if (c.messages) {
      EXPECT_EQ(messages_[0], refused);
    }
  }
  // Printing follows the same rule.
  PrintPages print(doc_);
  EXPECT_NE(print.Page(1), nullptr);
  messages_.clear();
  EXPECT_EQ(print.Page(2), nullptr);
  EXPECT_EQ(messages_, std::vector<Message>{refused});
}

TEST_F(Document, EachPageKeepsItsRotation) {
  ASSERT_TRUE(doc_.Open(ThreePages()));
  const std::vector<uint8_t> upright = doc_.Bitmap().Rows();
  struct {
    int32_t command;
    int32_t value;
  } const turns[] = {
      {id::kRotateLeft, -1}, {id::kRotateLeft, 2}, {id::kRotateRight, -1},  // left twice, right once
      {id::kFlip, 1}, {id::kFlip, -1}, {id::kRotateRight, 0},
      {id::kRotateRight, 1}, {id::kRotateRight, 2}, {id::kRotateRight, -1}, {id::kRotateRight, 0},
  };
  for (const auto& t : turns) {
    doc_.Execute(t.command);
    EXPECT_EQ(doc_.Rotation(0), t.value) << t.command;
  }
  EXPECT_EQ(doc_.Bitmap().Rows(), upright);

  // Rotating page 2, going to page 3 and back shows page 2 still turned.
  doc_.GoToPage(kPageNext);
  doc_.Execute(id::kRotateRight);
  const PageBitmap turned = doc_.Bitmap();
  EXPECT_EQ(turned.Width(), 300u);
  doc_.GoToPage(kPageNext);
  EXPECT_EQ(doc_.Bitmap().Width(), 1728u);
  doc_.GoToPage(kPagePrevious);
  EXPECT_EQ(doc_.Rotation(1), 1);
  EXPECT_EQ(doc_.Bitmap().Rows(), turned.Rows());
  EXPECT_EQ(doc_.Bitmap().Width(), 300u);
  EXPECT_EQ(doc_.Bitmap().Descriptor().xResolution, 196);
  EXPECT_EQ(updates_.back(), 0);
  doc_.Execute(id::kFlip);
  EXPECT_EQ(updates_.back(), 2) << "a turn tells the views how far, so they keep their place";
}

TEST_F(Document, ZoomIsSavedInTheProfile) {
  struct {
    bool write;
    uint32_t saved;
    uint32_t starts;
  } const cases[] = {{false, 0, 25}, {true, 60, 25}, {true, 75, 75}, {true, 300, 300}, {true, 0, 25}};
  for (const auto& c : cases) {
    if (c.write) {
      ASSERT_TRUE(KvWriteRegUserDword("Korvo Viewer\\Settings", "Zoom", c.saved));
    }
    FaxImageDocument doc;
    EXPECT_EQ(doc.Zoom().Percent(), c.starts) << c.saved;
    EXPECT_EQ(doc.ZoomText(), std::to_string(c.starts) + "%");
    EXPECT_TRUE(doc.IsChecked(ZoomByPercent(c.starts)->command));
  }
  doc_.SetZoom(32784);
  EXPECT_TRUE(doc_.IsChecked(32784));
  EXPECT_FALSE(doc_.IsChecked(32780));
  EXPECT_EQ(updates_, std::vector<int32_t>{0});
  doc_.SetZoom(32784);
  EXPECT_EQ(updates_.size(), 1u) << "choosing the current zoom again changes nothing";
  EXPECT_TRUE(doc_.Execute(id::kSaveZoom));
  uint32_t saved = 0;
  ASSERT_TRUE(KvReadRegUserDword("Korvo Viewer\\Settings", "Zoom", &saved));
  EXPECT_EQ(saved, 200u);
  EXPECT_EQ(FaxImageDocument().Zoom().Percent(), 200u);
}

TEST_F(Document, BrokenFilesDoNotOpen) {
  const std::string good = test::Sandbox::readFile(ThreePages());
  struct {
    const char* name;
    std::string bytes;
    Message message;
  } const cases[] = {
      {"text", "This is not a fax\n", {"Error reading TIFF file", "Opening"}},
      {"short", good.substr(0, 6), {"Error reading file: less bytes than expected", "Opening"}},
      {"big-endian", "MM" + good.substr(2), {"Error reading TIFF file", "Opening"}},
      {"cut", good.substr(0, 100), {"Error reading file: less bytes than expected", "Opening"}},
  };
  for (const auto& c : cases) {
    messages_.clear();
    const std::string path = Path(std::string(c.name) + ".fax");
    test::Sandbox::writeFile(path, c.bytes);
    EXPECT_FALSE(doc_.Open(path)) << c.name;
    EXPECT_FALSE(doc_.IsOpen());
    EXPECT_EQ(doc_.PageCount(), 0);
    EXPECT_EQ(messages_, std::vector<Message>{c.message}) << c.name;
  }
  messages_.clear();
  EXPECT_FALSE(doc_.Open(Path("missing.fax")));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_NE(messages_[0].text.find("missing.fax"), std::string::npos);
  // A folder reads as a file of no bytes; the user is told what it is.
  messages_.clear();
  std::filesystem::create_directory(Path("folder.fax"));
  EXPECT_FALSE(doc_.Open(Path("folder.fax")));
  EXPECT_EQ(messages_, (std::vector<Message>{{"cannot open " + Path("folder.fax") + ": Is a directory", kViewerAppName}}));
}

TEST_F(Document, AFileThatEndsBeforeItsLastPageKeepsThePageShown) {
  // The first page claims a second one that the chain does not hold.
  const std::string path = test::WriteFax(Path("one.fax"), 1);
  std::string f = test::Sandbox::readFile(path);
  const uint32_t ifd = static_cast<uint8_t>(f[4]) | static_cast<uint8_t>(f[5]) << 8;
  for (uint32_t i = 0; i < 17; ++i)
    if (static_cast<uint8_t>(f[ifd + 2 + 12 * i]) == (297 & 0xFF)) f[ifd + 2 + 12 * i + 10] = 2;
  test::Sandbox::writeFile(path, f);
  ASSERT_TRUE(doc_.Open(path));
  EXPECT_EQ(doc_.PageCount(), 2);
  EXPECT_FALSE(doc_.GoToPage(kPageNext));
  EXPECT_EQ(messages_, (std::vector<Message>{{"Error reading TIFF file", "Opening"}}));
  EXPECT_EQ(doc_.CurrentPage(), 0);
  EXPECT_TRUE(doc_.Bitmap().Loaded());
  EXPECT_EQ(doc_.Bitmap().Index(), 0);
}

// Page numbers the pages carry that are not their places: the document keeps
// the place it asked for.
TEST_F(Document, PagesNumberedWronglyKeepTheirPlaces) {
  const std::vector<std::vector<uint16_t>> numberings = {{7, 7, 7}, {0, 0, 0}, {2, 1, 0}, {65535, 3, 9}};
  for (const auto& numbers : numberings) {
    SCOPED_TRACE(numbers[0]);
    const std::string path = ThreePages();
    test::SetPageNumbers(path, numbers);
    ASSERT_TRUE(doc_.Open(path));
    const std::vector<test::FaxPage> pages = {{1728, 300, 196, 1}, {1728, 300, 196, 2}, {1728, 300, 196, 3}};
    for (uint16_t page : {1, 2}) {
      ASSERT_TRUE(doc_.GoToPage(kPageNext));
      ExpectShows(pages, page);
      EXPECT_EQ(doc_.PageText(), "Page " + std::to_string(page + 1) + " of 3");
      doc_.Rotate(1);
      EXPECT_EQ(doc_.Rotation(page), 1);
    }
    EXPECT_FALSE(doc_.GoToPage(kPageNext)) << "Next stops at the last page";
    EXPECT_FALSE(doc_.IsEnabled(id::kNextPage));
    EXPECT_TRUE(doc_.GoToPage(kPageFirst));
    EXPECT_EQ(doc_.CurrentPage(), 0);
  }
}

TEST_F(Document, APageWithoutLinesShowsEmpty) {
  const std::vector<test::FaxPage> pages = {{1728, 300, 196, 1}, {1728, 0, 196, 0}};
  ASSERT_TRUE(doc_.Open(test::WriteFax(Path("empty.fax"), pages)));
  ASSERT_TRUE(doc_.GoToPage(kPageNext));
  EXPECT_TRUE(doc_.Bitmap().Loaded());
  EXPECT_EQ(doc_.Bitmap().Width(), 1728u);
  EXPECT_EQ(doc_.Bitmap().Height(), 0u);
  EXPECT_TRUE(doc_.IsEnabled(id::kRotateRight));
  doc_.Rotate(1);
  doc_.Rotate(2);
  EXPECT_EQ(doc_.Bitmap().Width(), 0u);
  EXPECT_EQ(doc_.PageText(), "Page 2 of 2");
  EXPECT_TRUE(messages_.empty());
  PrintPages print(doc_);
  const RgbImage* preview = print.PreviewImage(2, 240, 339);
  ASSERT_NE(preview, nullptr);
  for (size_t i = 0; i < preview->pixels.size(); ++i) ASSERT_EQ(preview->pixels[i], 0xFF) << "paper stays white";
}

TEST_F(Document, ThePreviewImageIsDrawnOncePerPageShown) {
  ASSERT_TRUE(doc_.Open(ThreePages()));
  PrintPages print(doc_);
  struct {
    uint32_t page;
    uint32_t draws;
  } const shown[] = {{1, 1}, {1, 1}, {2, 2}, {2, 2}, {3, 3}, {1, 4}, {1, 4}};
  for (const auto& s : shown) {
    const RgbImage* image = print.PreviewImage(s.page, 480, 678);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 480u);
    EXPECT_EQ(print.PreviewDraws(), s.draws) << "page " << s.page;
  }
  EXPECT_EQ(print.PreviewImage(4, 480, 678), nullptr);
  print.End();
  EXPECT_NE(print.PreviewImage(1, 480, 678), nullptr);
  EXPECT_EQ(print.PreviewDraws(), 5u);
  // The page shown is printed from the screen's bitmap; others are read.
  EXPECT_EQ(print.Page(1), &doc_.Bitmap());
  EXPECT_NE(print.Page(2), &doc_.Bitmap());
  EXPECT_EQ(doc_.CurrentPage(), 0);
  EXPECT_EQ(print.Page(0), nullptr);
  EXPECT_EQ(print.Page(4), nullptr);
}

TEST_F(Document, OpensTheFaxesThePrintStreamConversionMakes) {
  tools::PrnStreamWriter stream;
  stream.BeginDocument(tools::Paper::A4);
  for (const auto& page : tools::RenderTextPages("Hello from page one\fAnd page two", tools::kA4Lines)) stream.Page(page);
  stream.EndDocument();
  const std::string prn = Path("job.prn"), fax = Path("job.fax");
  test::Sandbox::writeFile(prn, stream.Bytes());
  {
    Prn2Tiff conversion;
    ASSERT_EQ(conversion.Open(prn, fax), 0u);
    while (conversion.NextPage() == 0) ASSERT_EQ(conversion.ConvertPage(), 0u);
  }

  ASSERT_TRUE(doc_.Open(fax));
  EXPECT_EQ(doc_.PageCount(), 2);
  for (uint16_t page : {0, 1}) {
    ASSERT_TRUE(doc_.GoToPage(kPageAtIndex, page));
    const PageBitmap& b = doc_.Bitmap();
    EXPECT_EQ(b.Width(), 1728u);
    size_t black = 0;
    for (uint32_t y = 0; y < b.Height(); ++y)
      for (uint32_t x = 0; x < b.Width(); ++x) black += !b.IsWhite(x, y);
    EXPECT_GT(black, 100u) << "page " << page + 1 << " shows its text";
  }
  EXPECT_TRUE(messages_.empty());
}

TEST(GoToPage, AcceptsWholeNumbersWithinThePages) {
  struct {
    const char* text;
    int page;  // 0: refused
    const char* message;
  } const cases[] = {
      {"2", 2, ""},          {" 3 ", 3, ""}, {"1", 1, ""},
      {"0", 0, "Please enter an integer between 1 and 3."},
      {"4", 0, "Please enter an integer between 1 and 3."},
      {"-1", 0, "Please enter an integer between 1 and 3."},
      {"99999999999", 0, "Please enter an integer between 1 and 3."},
      {"", 0, "Please enter an integer."}, {"two", 0, "Please enter an integer."}, {"2.5", 0, "Please enter an integer."},
  };
  for (const auto& c : cases) {
    const GoToEntry e = ParseGoToPage(c.text, 3);
    EXPECT_EQ(e.page.value_or(0), c.page) << c.text;
    EXPECT_EQ(e.message, c.message) << c.text;
  }
}

TEST(CommandLine, OnlyDashesAndKnownSlashFlagsAreFlags) {
  struct {
    std::vector<std::string> args;
    bool firstPageOnly;
    std::string file;
  } const cases[] = {
      {{"/First_Page_Only", "/home/x/fax one.fax"}, true, "/home/x/fax one.fax"},
      {{"-First_Page_Only", "a.fax"}, true, "a.fax"},
      {{"/first_page_only", "a.fax"}, false, "/first_page_only"},  // case counts: a path
      {{"/tmp/a.fax", "/First_Page_Only"}, true, "/tmp/a.fax"},
      {{"--verbose", "/tmp/a.fax", "/tmp/b.fax"}, false, "/tmp/a.fax"},
      {{"/p"}, false, "/p"},
      {{}, false, ""},
  };
  for (const auto& c : cases) {
    const ViewerCommandLine line = ParseViewerCommandLine(c.args);
    EXPECT_EQ(line.firstPageOnly, c.firstPageOnly) << c.file;
    EXPECT_EQ(line.file, c.file);
  }
}

TEST(RecentFiles, KeepsTheFourNewestInTheProfile) {
  test::Sandbox box;
  RecentFileList list;
  list.Load();
  EXPECT_TRUE(list.Files().empty());
  for (const char* f : {"/a.fax", "/b.fax", "/c.fax", "/d.fax", "/e.fax", "/c.fax"}) list.Add(f);
  const std::vector<std::string> expected = {"/c.fax", "/e.fax", "/d.fax", "/b.fax"};
  EXPECT_EQ(list.Files(), expected);
  char buffer[260];
  ASSERT_TRUE(KvReadRegUserStr("Korvo Viewer\\Recent File List", "File1", buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "/c.fax");
  RecentFileList again;
  again.Load();
  EXPECT_EQ(again.Files(), expected);
  again.Remove("/e.fax");
  RecentFileList third;
  third.Load();
  EXPECT_EQ(third.Files(), (std::vector<std::string>{"/c.fax", "/d.fax", "/b.fax"}));
}

TEST(CommandTexts, StatusTextsAndToolTips) {
  EXPECT_STREQ(FindCommandText(id::kNextPage)->statusText, "Displays the next page of the document\nNext page");
  EXPECT_STREQ(FindCommandText(32782)->statusText, "Zooms the image to 75% of its original size");
  EXPECT_STREQ(FindCommandText(id::kSaveZoom)->statusText, "Saves the current zoom factor as application's default");
  EXPECT_STREQ(FindCommandText(id::kRotateRight)->menuText, "Rotate &Right");
  EXPECT_EQ(FindCommandText(id::kFileOpen), nullptr);
}

}  // namespace
}  // namespace korvo
