#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/huffman.h"
#include "common/imaging_exceptions.h"
#include "common/status_codes.h"
#include "common/tiff_reader.h"
#include "common/tiff_writer.h"
#include "tests/common/fax_pages.h"
#include "tests/support/sandbox.h"

namespace korvo {
namespace {

using Bytes = std::vector<uint8_t>;

uint16_t Get16(const std::string& f, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(f[at]) | static_cast<uint8_t>(f[at + 1]) << 8);
}
uint32_t Get32(const std::string& f, size_t at) { return Get16(f, at) | static_cast<uint32_t>(Get16(f, at + 2)) << 16; }
void Put16(std::string& f, size_t at, uint16_t v) {
  f[at] = static_cast<char>(v);
  f[at + 1] = static_cast<char>(v >> 8);
}
void Put32(std::string& f, size_t at, uint32_t v) {
  Put16(f, at, static_cast<uint16_t>(v));
  Put16(f, at + 2, static_cast<uint16_t>(v >> 16));
}
// File offset of the entry with `tag` in the first directory.
size_t EntryAt(const std::string& f, uint16_t tag) {
  const uint32_t ifd = Get32(f, 4);
  for (uint32_t i = 0; i < Get16(f, ifd); ++i)
    if (Get16(f, ifd + 2 + 12 * i) == tag) return ifd + 2 + 12 * i;
  ADD_FAILURE() << "no tag " << tag;
  return 0;
}

// Catches the heap exception object the reader raises; -1 when none.
template <typename E>
int64_t CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (E* e) {
    int64_t code = 0;
    if constexpr (requires { e->Code(); }) code = e->Code();
    delete e;
    return code;
  }
  return -1;
}

class TiffFiles : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) { return box_.path(name).string(); }

  // A file of `pages` text pages; page i uses seed i + seed0.
  std::string WriteFile(const std::string& name, int pages, uint32_t seed0 = 1, PageDescriptor d = {}) {
    TiffWriter w;
    w.Open(Path(name));
    for (int i = 0; i < pages; ++i) {
      const Bytes coded = PageData(seed0 + i);
      d.length = 300;
      w.WritePage(d, coded.data(), static_cast<uint32_t>(coded.size()));
    }
    w.Close();
    return Path(name);
  }
  static Bytes PageBitmap(uint32_t seed) { return test::TextPage(1728, 300, seed); }
  static Bytes PageData(uint32_t seed) { return test::EncodePage(PageBitmap(seed), 1728, 300); }

  test::Sandbox box_;
};

TEST_F(TiffFiles, WriterLayoutIsExact) {
  const Bytes strip = {0x00, 0x80, 0x01};  // odd length: a pad byte follows
  TiffWriter w;
  w.Open(Path("a.fax"));
  PageDescriptor d;
  d.length = 1;
  w.WritePage(d, strip.data(), 3);
  w.Close();
  const std::string f = test::Sandbox::readFile(Path("a.fax"));
  EXPECT_EQ(f.substr(0, 4), std::string("II\x2A\0", 4));
  EXPECT_EQ(f.substr(8, 3), std::string("\x00\x80\x01", 3));
  EXPECT_EQ(f[11], '\0');
  EXPECT_EQ(Get32(f, 12), 204u);  // XResolution
  EXPECT_EQ(Get32(f, 16), 1u);
  EXPECT_EQ(Get32(f, 20), 196u);  // YResolution
  EXPECT_EQ(f.substr(28, 23), std::string("KV Generic Tiff Writer\0", 23));
  const uint32_t ifd = 52;  // after the text and one pad byte
  ASSERT_EQ(Get32(f, 4), ifd);
  ASSERT_EQ(Get16(f, ifd), 17);
  struct Entry {
    uint16_t tag, type;
    uint32_t count, value;
  };
  const std::vector<Entry> expected = {
      {254, 4, 1, 2},   {256, 3, 1, 1728}, {257, 3, 1, 1},  {258, 3, 1, 1},  {259, 3, 1, 3},  {262, 3, 1, 0},
      {266, 3, 1, 2},   {273, 4, 1, 8},    {277, 3, 1, 1},  {278, 4, 1, 1},  {279, 4, 1, 3},  {282, 5, 1, 12},
      {283, 5, 1, 20},  {292, 4, 1, 4},    {296, 3, 1, 2},  {297, 3, 2, 0x10000}, {305, 2, 23, 28},
  };
  for (size_t i = 0; i < expected.size(); ++i) {
    const size_t e = ifd + 2 + 12 * i;
    EXPECT_EQ(Get16(f, e), expected[i].tag) << i;
    EXPECT_EQ(Get16(f, e + 2), expected[i].type) << i;
    EXPECT_EQ(Get32(f, e + 4), expected[i].count) << i;
    EXPECT_EQ(Get32(f, e + 8), expected[i].value) << i;
  }
  EXPECT_EQ(Get32(f, ifd + 2 + 17 * 12), 0u);
  EXPECT_EQ(f.size(), ifd + 2 + 17 * 12 + 4u);
}

TEST_F(TiffFiles, ThreePagesReadBackWithTheirNumbers) {
  PageDescriptor d;
  d.xResolution = 300;  // the file says 204 whatever the descriptor says
  d.yResolution = 98;
  const std::string path = WriteFile("three.fax", 3, 1, d);
  TiffReader r;
  uint16_t count = 0;
  PageDescriptor first;
  r.Open(path, count, first);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(first.xResolution, 204);
  EXPECT_EQ(first.yResolution, 98);
  for (uint16_t i = 0; i < 3; ++i) {
    uint16_t index = i;
    PageDescriptor pd;
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    ASSERT_TRUE(r.ReadPage(kPageAtIndex, index, pd, data, size));
    EXPECT_EQ(index, i);
    EXPECT_EQ(Bytes(data, data + size), PageData(1 + i));
    EXPECT_EQ(pd.length, 300);
  }
  const std::string f = test::Sandbox::readFile(path);
  uint32_t ifd = Get32(f, 4);
  for (uint16_t i = 0; i < 3; ++i) {
    EXPECT_EQ(Get16(f, ifd + 2 + 15 * 12 + 8), i);
    EXPECT_EQ(Get16(f, ifd + 2 + 15 * 12 + 10), 3);
    ifd = Get32(f, ifd + 2 + 17 * 12);
  }
  EXPECT_EQ(ifd, 0u);
  EXPECT_EQ(CountTiffPages(path), 3);
}

TEST_F(TiffFiles, ReadPageModes) {
  const std::string path = WriteFile("modes.fax", 3);
  TiffReader r;
  uint16_t count = 0;
  PageDescriptor d;
  r.Open(path, count, d);
  const uint8_t* data = nullptr;
  uint32_t size = 0;
  struct Case {
    uint32_t mode;
    uint16_t index;
    bool ok;
    uint16_t result;
  };
  const std::vector<Case> cases = {
      {kPageAtIndex, 1, true, 1}, {kPageFirst, 2, true, 0},     {kPageLast, 0, true, 2},
      {kPageNext, 1, true, 2},    {kPageNext, 2, false, 2},     {kPagePrevious, 1, true, 0},
      {kPagePrevious, 0, false, 0}, {kPageAtIndex, 3, false, 3}, {9, 1, false, 1},
  };
  for (const auto& c : cases) {
    uint16_t index = c.index;
    EXPECT_EQ(r.ReadPage(c.mode, index, d, data, size), c.ok) << c.mode << " " << c.index;
    EXPECT_EQ(index, c.result) << c.mode << " " << c.index;
    if (c.ok) {
      EXPECT_EQ(Bytes(data, data + size), PageData(1 + c.result));
    }
  }
}

TEST_F(TiffFiles, ReadPageBitmapGivesThePixels) {
  const std::string path = WriteFile("bitmap.fax", 2);
  TiffReader r;
  uint16_t count = 0;
  PageDescriptor d;
  r.Open(path, count, d);
  uint16_t index = 1;
  const uint8_t* bitmap = nullptr;
  uint32_t size = 0;
  ASSERT_TRUE(r.ReadPageBitmap(kPageAtIndex, index, d, bitmap, size));
  ASSERT_EQ(size, 216u * 300);
  Bytes expected = PageBitmap(2);
  for (auto& b : expected) b = static_cast<uint8_t>(~b);  // white bits are 1
  EXPECT_EQ(Bytes(bitmap, bitmap + size), expected);
}

TEST_F(TiffFiles, UnclosedFileIsRefused) {
  TiffWriter w;
  w.Open(Path("open.fax"));
  const Bytes coded = PageData(1);
  PageDescriptor d;
  d.length = 300;
  w.WritePage(d, coded.data(), static_cast<uint32_t>(coded.size()));
  std::filesystem::copy_file(Path("open.fax"), Path("copy.fax"));
  w.Close();
  TiffReader r;
  uint16_t count;
  EXPECT_EQ(CodeOf<TiffException>([&] { r.Open(Path("copy.fax"), count, d); }), kTiffNotFaxPage);
  EXPECT_FALSE(r.IsOpen());
  EXPECT_EQ(CountTiffPages(Path("copy.fax")), 0);
  EXPECT_EQ(CountTiffPages(Path("open.fax")), 1);
}

TEST_F(TiffFiles, MalformedFilesAreRefused) {
  const std::string good = test::Sandbox::readFile(WriteFile("good.fax", 2));
  struct Case {
    const char* name;
    std::function<void(std::string&)> damage;
    int64_t tiffCode;  // -1: a FileReadingException
  };
  const std::vector<Case> cases = {
      {"big-endian", [](std::string& f) { f[0] = f[1] = 'M'; }, kTiffBadHeader},
      {"not 42", [](std::string& f) { Put16(f, 2, 43); }, kTiffBadHeader},
      {"IFD offset below 8", [](std::string& f) { Put32(f, 4, 7); }, kTiffBadHeader},
      {"two strips", [](std::string& f) { Put32(f, EntryAt(f, 273) + 4, 2); }, kTiffTagFormat},
      {"StripOffsets as RATIONAL", [](std::string& f) { Put16(f, EntryAt(f, 273) + 2, 5); }, kTiffTagFormat},
      {"no T4Options", [](std::string& f) { Put16(f, EntryAt(f, 292), 293); }, kTiffTagMissing},
      {"out of order", [](std::string& f) { Put16(f, EntryAt(f, 256), 300); }, kTiffTagOrder},
      {"first tag 0", [](std::string& f) { Put16(f, EntryAt(f, 254), 0); }, kTiffTagOrder},
      {"200/1 across", [](std::string& f) { Put32(f, Get32(f, EntryAt(f, 282) + 8), 200); }, kTiffNotFaxPage},
      {"width 1729", [](std::string& f) { Put16(f, EntryAt(f, 256) + 8, 1729); }, kTiffNotFaxPage},
      {"rows per strip", [](std::string& f) { Put32(f, EntryAt(f, 278) + 8, 1); }, kTiffNotFaxPage},
      {"2-D coding", [](std::string& f) { Put16(f, EntryAt(f, 259) + 8, 4); }, kTiffNotFaxPage},
      {"IFD past the end", [](std::string& f) { Put32(f, 4, static_cast<uint32_t>(f.size()) + 100); }, -1},
      {"rational past the end", [](std::string& f) { Put32(f, EntryAt(f, 283) + 8, 0xFFFFFFF0); }, -1},
      {"software text of 4 GB", [](std::string& f) { Put32(f, EntryAt(f, 305) + 4, 0xFFFFFFFF); }, -1},
      {"truncated directory", [](std::string& f) { f.resize(Get32(f, 4) + 20); }, -1},
      {"short header", [](std::string& f) { f.resize(6); }, -1},
  };
  for (const auto& c : cases) {
    std::string f = good;
    c.damage(f);
    test::Sandbox::writeFile(Path("bad.fax"), f);
    TiffReader r;
    uint16_t count;
    PageDescriptor d;
    const auto open = [&] { r.Open(Path("bad.fax"), count, d); };
    if (c.tiffCode >= 0) {
      EXPECT_EQ(CodeOf<TiffException>(open), c.tiffCode) << c.name;
    } else {
      EXPECT_EQ(CodeOf<FileReadingException>(open), 0) << c.name;
    }
    EXPECT_EQ(CountTiffPages(Path("bad.fax")), 0) << c.name;
  }
}

TEST_F(TiffFiles, DamagedLaterPagesFailWhenRead) {
  const std::string good = test::Sandbox::readFile(WriteFile("good.fax", 3));
  struct Case {
    const char* name;
    std::function<void(std::string&)> damage;
    int64_t tiffCode;
  };
  const std::vector<Case> cases = {
      // The chain ends after page 0 while the total says 3.
      {"chain cut", [](std::string& f) { Put32(f, Get32(f, 4) + 2 + 17 * 12, 0); }, kTiffZeroOffset},
      {"strip past the end", [](std::string& f) { Put32(f, EntryAt(f, 279) + 8, 0x7FFFFFFF); }, -1},
  };
  for (const auto& c : cases) {
    std::string f = good;
    c.damage(f);
    test::Sandbox::writeFile(Path("bad.fax"), f);
    TiffReader r;
    uint16_t count = 0, index = 0;
    PageDescriptor d;
    const uint8_t* data;
    uint32_t size;
    const bool cut = c.tiffCode == kTiffZeroOffset;
    if (!cut) {
      EXPECT_EQ(CodeOf<FileReadingException>([&] { r.Open(Path("bad.fax"), count, d); }), -1) << c.name;
      EXPECT_EQ(CodeOf<FileReadingException>([&] { r.ReadPage(kPageFirst, index, d, data, size); }), 0) << c.name;
    } else {
      r.Open(Path("bad.fax"), count, d);
      EXPECT_TRUE(r.ReadPage(kPageFirst, index, d, data, size));
      index = 2;
      EXPECT_EQ(CodeOf<TiffException>([&] { r.ReadPage(kPageAtIndex, index, d, data, size); }), c.tiffCode);
    }
  }
}

TEST_F(TiffFiles, CoverPagePairReplacesTheFirstPage) {
  const std::string cover = WriteFile("cover.fax", 1, 100);
  const std::string doc = WriteFile("doc.fax", 5, 1);
  FaxImagePair pair(cover, doc);
  uint16_t count = 0;
  PageDescriptor d;
  pair.CountPages(count, d);
  ASSERT_EQ(count, 5);
  for (uint16_t i = 0; i < 5; ++i) {
    uint16_t index = i;
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    ASSERT_TRUE(pair.ReadPage(kPageAtIndex, index, d, data, size));
    EXPECT_EQ(index, i);
    EXPECT_EQ(Bytes(data, data + size), PageData(i == 0 ? 100 : 1 + i)) << i;
  }
  uint16_t index = 4;
  const uint8_t* data;
  uint32_t size;
  EXPECT_FALSE(pair.ReadPage(kPageNext, index, d, data, size));
  EXPECT_TRUE(pair.ReadPage(kPageFirst, index, d, data, size));
  EXPECT_EQ(index, 0);
  EXPECT_TRUE(pair.ReadPage(kPageLast, index, d, data, size));
  EXPECT_EQ(index, 4);
  pair.Close();

  ASSERT_EQ(MergeFaxImages(cover, doc, Path("merged.fax")), kStatusSuccess);
  TiffReader merged;
  merged.Open(Path("merged.fax"), count, d);
  EXPECT_EQ(count, 5);
  for (uint16_t i = 0; i < 5; ++i) {
    index = i;
    ASSERT_TRUE(merged.ReadPage(kPageAtIndex, index, d, data, size));
    EXPECT_EQ(Bytes(data, data + size), PageData(i == 0 ? 100 : 1 + i)) << i;
  }
  // One file alone is copied whole.
  EXPECT_EQ(MergeFaxImages("", doc, Path("copy.fax")), kStatusSuccess);
  EXPECT_EQ(test::Sandbox::readFile(Path("copy.fax")), test::Sandbox::readFile(doc));
}

TEST_F(TiffFiles, FailedMergeLeavesNoFile) {
  const std::string doc = WriteFile("doc.fax", 3);
  std::string cut = test::Sandbox::readFile(doc);
  Put32(cut, Get32(cut, 4) + 2 + 17 * 12, 0);  // pages 1 and 2 unreachable
  test::Sandbox::writeFile(Path("cut.fax"), cut);
  for (const auto& [first, second] : std::vector<std::pair<std::string, std::string>>{
           {Path("missing.fax"), doc}, {"", Path("cut.fax")}, {doc, Path("cut.fax")}}) {
    EXPECT_EQ(MergeFaxImages(first, second, Path("out.fax")), kStatusCreateFaxImage) << first << " " << second;
    EXPECT_FALSE(std::filesystem::exists(Path("out.fax")));
  }
  EXPECT_EQ(CountTiffPages(Path("missing.fax")), 0);
}

TEST_F(TiffFiles, ReceivedPageDropsGarbageAndWhatFollowsRtc) {
  const Bytes coded = PageData(7);
  const uint8_t* rtc;
  uint32_t rtcBytes;
  GetRtcBits(rtc, rtcBytes);
  Bytes received = {0xA5, 0x3C, 0xFF};  // line noise before the first EOL
  received.insert(received.end(), coded.begin(), coded.end());
  received.insert(received.end(), rtc, rtc + rtcBytes);
  received.insert(received.end(), {0x55, 0xAA, 0x00, 0x12});
  Bytes expected = {0, 0, 0};
  expected.insert(expected.end(), coded.begin(), coded.end());
  expected.insert(expected.end(), rtc, rtc + rtcBytes);

  TiffWriter w;
  w.Open(Path("rx.fax"));
  PageDescriptor d;  // length unknown while receiving
  w.WriteReceivedPage(d, received.data(), static_cast<uint32_t>(received.size()));
  EXPECT_EQ(d.length, 300);
  w.Close();
  TiffReader r;
  uint16_t count = 0, index = 0;
  r.Open(Path("rx.fax"), count, d);
  const uint8_t* data;
  uint32_t size;
  ASSERT_TRUE(r.ReadPage(kPageFirst, index, d, data, size));
  EXPECT_EQ(Bytes(data, data + size), expected);
  EXPECT_EQ(d.length, 300);
}

TEST_F(TiffFiles, WriterFileErrors) {
  TiffWriter w;
  EXPECT_THROW(w.Open(Path("no/such/folder/x.fax")), std::system_error);
  EXPECT_FALSE(w.IsOpen());
  PageDescriptor d;
  EXPECT_THROW(w.WritePage(d, nullptr, 0), std::system_error);
  TiffReader r;
  uint16_t count;
  EXPECT_THROW(r.Open(Path("absent.fax"), count, d), std::system_error);
}

}  // namespace
}  // namespace korvo
