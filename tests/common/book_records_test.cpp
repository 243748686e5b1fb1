#include "common/book_records.h"

#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <thread>

#include "common/fields.h"
#include "common/status_codes.h"
#include "tests/support/sandbox.h"

namespace korvo {
namespace {

std::string Le32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
  return s;
}

std::string Field(const std::string& text, std::size_t size) { return text + std::string(size - text.size(), '\0'); }

std::string Header(uint32_t stored, uint32_t count, uint32_t serial) {
  return Le32(0xDB01) + Le32(stored) + Le32(count) + Le32(serial) + std::string(16, '\0');
}

std::string Text(std::vector<std::string> fields, int count) {
  std::string text;
  EncodeFields(&text, fields, count);
  return text;
}

TEST(JunkSenderDatabase, IdsComeFromTheSerialCounter) {
  test::Sandbox sandbox;
  const std::string path = sandbox.path("Denied.dbs").string();
  bool ok = false;
  JunkSenderDatabase book(path, &ok);
  ASSERT_TRUE(ok);
  int32_t id = -1;
  EXPECT_EQ(book.Add(Text({"+385 1 555 0101", "spam"}, 3), &id), kStatusSuccess);
  EXPECT_EQ(id, 1);
  EXPECT_EQ(book.Add(Text({std::string(30, 'S'), "more", "77"}, 3), &id), kStatusSuccess);
  EXPECT_EQ(id, 2);  // the text's id is replaced
  const std::string first = std::string(1, '\0') + Field("+385 1 555 0101", 21) + Field("spam", 64) +
                            std::string(3, '\0') + Le32(1);
  const std::string second = std::string(1, '\0') + Field(std::string(20, 'S'), 21) + Field("more", 64) +
                             std::string(3, '\0') + Le32(2);
  EXPECT_EQ(test::Sandbox::readFile(path), Header(93, 2, 2) + first + second);

  EXPECT_TRUE(book.Edit(Text({"X", "edited", "1"}, 3)));
  EXPECT_FALSE(book.Edit(Text({"X", "", "9"}, 3)));
  EXPECT_TRUE(book.Remove(Text({"", "", "2"}, 3)));
  EXPECT_FALSE(book.Remove(Text({"", "", "2"}, 3)));
  const std::string list = sandbox.path("denied.lst").string();
  ASSERT_EQ(book.WriteList("0", list.c_str()), kStatusSuccess);
  EXPECT_EQ(test::Sandbox::readFile(list), Text({"X", "edited", "1"}, 3) + "\r\n");
}

TEST(JunkSenderDatabase, AddFailsWithItsStatus) {
  test::Sandbox sandbox;
  const std::string path = sandbox.path("Denied.dbs").string();
  bool ok = false;
  JunkSenderDatabase book(path, &ok);
  sandbox.writeFile(path, Header(93, 0, 0xFFFFFFFF));  // serial exhausted
  int32_t id = -1;
  EXPECT_EQ(book.Add(Text({"x"}, 3), &id), kStatusAddJunkSender);
  EXPECT_EQ(id, 0);
  JunkSenderDatabase closed("", &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(closed.Add(Text({"x"}, 3), &id), kStatusAddJunkSender);
}

TEST(AddressDatabase, ConcurrentAddsGetDistinctIdsAndAllArrive) {
  test::Sandbox sandbox;
  bool ok = false;
  AddressDatabase book(sandbox.path("Address.bok").string(), &ok);
  constexpr int kThreads = 4, kEach = 25;
  std::vector<std::vector<int32_t>> ids(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        int32_t id = 0;
        if (book.Add(Text({"T" + std::to_string(t)}, 10), &id) == kStatusSuccess) ids[t].push_back(id);
      }
    });
  }
  for (auto& th : threads) th.join();
  std::set<int32_t> all;
  for (const auto& v : ids) all.insert(v.begin(), v.end());
  EXPECT_EQ(all.size(), static_cast<std::size_t>(kThreads * kEach));
  EXPECT_EQ(*all.begin(), 1);
  EXPECT_EQ(*all.rbegin(), kThreads * kEach);
  EXPECT_EQ(book.GetCount(), kThreads * kEach);
}

TEST(AddressDatabase, RecordLayoutAndIds) {
  test::Sandbox sandbox;
  const std::string path = sandbox.path("Address.bok").string();
  bool ok = false;
  AddressDatabase book(path, &ok);
  ASSERT_TRUE(ok);
  const std::vector<std::string> fields = {"Ana", "Kos", "Acme", "0123", "0124", "Ilica 1",
                                           std::string(25, 'a'), "f2", std::string(70, 'c'), "0"};
  int32_t id = 0;
  ASSERT_EQ(book.Add(Text(fields, 10), &id), kStatusSuccess);
  EXPECT_EQ(id, 1);
  const std::string slot = std::string(1, '\0') + Field("Ana", 32) + Field("Kos", 64) + Field("Acme", 64) +
                           Field("0123", 32) + Field("0124", 32) + Field("Ilica 1", 64) +
                           Field(std::string(20, 'a'), 21) + Field("f2", 32) + Field(std::string(66, 'c'), 67) +
                           Le32(1);
  EXPECT_EQ(test::Sandbox::readFile(path), Header(413, 1, 1) + slot);
  AddressRecord r;
  r.Decode(Text(fields, 10));
  r.id = 1;
  EXPECT_EQ(r.Encode(), Text({"Ana", "Kos", "Acme", "0123", "0124", "Ilica 1", std::string(20, 'a'), "f2",
                              std::string(66, 'c'), "1"},
                             10));
  EXPECT_TRUE(book.Edit(r.Encode()));
  EXPECT_TRUE(book.Remove(Text({"", "", "", "", "", "", "", "", "", "1"}, 10)));
  EXPECT_EQ(test::Sandbox::readFile(path), Header(413, 0, 1));
}

// A text longer than its field is cut to the field, never inside a UTF-8
// character: a record with half a character reads back as a broken text.
TEST(AddressRecord, ALongTextIsCutBetweenCharacters) {
  const std::string c = "\xC4\x8D";  // one character, two bytes
  struct Case {
    std::string firstName;  // 31 bytes fit
    std::string stored;
  } cases[] = {
      {std::string(31, 'a'), std::string(31, 'a')},
      {std::string(30, 'a') + c, std::string(30, 'a')},
      {std::string(29, 'a') + c, std::string(29, 'a') + c},
      {std::string(29, 'a') + c + "b", std::string(29, 'a') + c},
      {std::string(30, 'a') + "\xE2\x82\xAC", std::string(30, 'a')},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.firstName);
    AddressRecord r;
    r.Decode(Text({k.firstName, "", "", "", "", "", "", "", "", "1"}, 10));
    EXPECT_EQ(r.firstName.Str(), k.stored);
  }
}

TEST(AddressDatabase, ExtremeIdsStayInOrder) {
  test::Sandbox sandbox;
  bool ok = false;
  AddressDatabase book(sandbox.path("Address.bok").string(), &ok);
  AddressRecord r;
  for (int32_t id : {INT_MAX, INT_MIN, 0, -1, 1}) {
    r.id = id;
    EXPECT_TRUE(book.Add(&r)) << id;
  }
  const std::string list = sandbox.path("list").string();
  ASSERT_EQ(book.WriteList("0", list.c_str()), kStatusSuccess);
  std::string expected;
  for (int32_t id : {INT_MIN, -1, 0, 1, INT_MAX}) {
    r.id = id;
    expected += r.Encode() + "\r\n";
  }
  EXPECT_EQ(test::Sandbox::readFile(list), expected);
  r.id = INT_MIN;
  EXPECT_TRUE(book.Delete(&r));
}

TEST(LocalAddressDatabase, WorksOnTheGivenBook) {
  test::Sandbox sandbox;
  bool ok = false;
  LocalAddressDatabase book(sandbox.path("LocBook.kvb").string(), &ok);
  ASSERT_TRUE(ok);
  int32_t id = 0;
  EXPECT_EQ(book.Add(Text({"Ana"}, 10), &id), kStatusSuccess);
  EXPECT_EQ(id, 1);
}

}  // namespace
}  // namespace korvo
