#include "common/database.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <thread>

#include "common/settings.h"
#include "tests/support/sandbox.h"

namespace korvo {
namespace {

// Records of four bytes: one little-endian int, which is also the key.
int CompareInts(const void* a, const void* b) {
  int x, y;
  std::memcpy(&x, a, 4);
  std::memcpy(&y, b, 4);
  return (x > y) - (x < y);
}

std::string Le32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
  return s;
}

// Header bytes as the file holds them, then the given records (status 0).
// The previous format's version, the bytes "DD00".
constexpr uint32_t kPreviousVersion = 0x30304444;

std::string FileBytes(uint32_t count, uint32_t serial, std::initializer_list<int> records = {},
                      uint32_t version = 0xDB01, uint32_t stored = 5) {
  std::string s = Le32(version) + Le32(stored) + Le32(count) + Le32(serial) + std::string(16, '\0');
  for (int r : records) s += std::string(1, '\0') + Le32(static_cast<uint32_t>(r));
  return s;
}

class DatabaseTest : public ::testing::Test {
 protected:
  std::string Path() const { return sandbox_.path("book.dbs").string(); }
  std::string Contents() const { return test::Sandbox::readFile(Path()); }
  test::Sandbox sandbox_;
};

// Opens the database for one batch of operations, as its owners do.
struct Opened {
  explicit Opened(Database& d) : db(d) { EXPECT_TRUE(db.Open()); }
  ~Opened() { db.Close(); }
  Database& db;
};

int AddInt(Database& db, int v) { return db.Add(&v); }

TEST_F(DatabaseTest, NewFileIsAnEmptyHeader) {
  Database db(Path().c_str(), 4, CompareInts);
  EXPECT_TRUE(db.IsOpen());
  EXPECT_EQ(db.GetCount(), 0);
  EXPECT_EQ(Contents(), FileBytes(0, 0));
}

TEST_F(DatabaseTest, NullOrEmptyPathStaysClosed) {
  Database none(nullptr, 4, CompareInts);
  Database empty("", 4, CompareInts);
  EXPECT_FALSE(none.IsOpen());
  EXPECT_FALSE(empty.IsOpen());
  EXPECT_FALSE(empty.Open());
  int v = 1;
  EXPECT_EQ(empty.Add(&v), -1);
}

TEST_F(DatabaseTest, AddKeepsSlotsSortedAndRefusesDuplicates) {
  Database db(Path().c_str(), 4, CompareInts);
  {
    Opened o(db);
    EXPECT_EQ(AddInt(db, 30), 0);
    EXPECT_EQ(AddInt(db, 10), 0);
    EXPECT_EQ(AddInt(db, 20), 1);
    EXPECT_EQ(AddInt(db, 20), -1);
  }
  EXPECT_EQ(Contents(), FileBytes(3, 0, {10, 20, 30}));
}

struct FindCase {
  int key;
  bool found;
  int index;
  uint64_t reads;
};

TEST_F(DatabaseTest, SearchPositionsAndProbeCounts) {
  sandbox_.writeFile(Path(), FileBytes(7, 0, {10, 20, 30, 40, 50, 60, 70}));
  Database db(Path().c_str(), 4, CompareInts);
  Opened o(db);
  const FindCase cases[] = {
      {5, false, 0, 1},   {10, true, 0, 1},  {70, true, 6, 2},  {80, false, 7, 2}, {40, true, 3, 4},
      {20, true, 1, 8},   {60, true, 5, 8},  {45, false, 4, 10}, {15, false, 1, 8}, {65, false, 6, 10},
  };
  for (const auto& c : cases) {
    const uint64_t before = db.SlotReads();
    int index = -1;
    EXPECT_EQ(db.IndexOf(&c.key, &index), c.found) << c.key;
    EXPECT_EQ(index, c.index) << c.key;
    EXPECT_EQ(db.SlotReads() - before, c.reads) << c.key;
  }
}

TEST_F(DatabaseTest, GetReplaceAndGetAt) {
  Database db(Path().c_str(), 4, CompareInts);
  Opened o(db);
  for (int v : {3, 1, 2}) AddInt(db, v);
  int out = 0;
  int key = 2;
  EXPECT_TRUE(db.Get(&key, &out));
  EXPECT_EQ(out, 2);
  key = 9;
  EXPECT_FALSE(db.Get(&key, &out));
  EXPECT_EQ(db.Replace(&key), -1);
  key = 3;
  EXPECT_EQ(db.Replace(&key), 2);
  EXPECT_TRUE(db.GetAt(0, &out));
  EXPECT_EQ(out, 1);
  EXPECT_FALSE(db.GetAt(3, &out));
  EXPECT_FALSE(db.GetAt(-1, &out));
}

TEST_F(DatabaseTest, DeleteMovesLaterSlotsDownAndShortensTheFile) {
  Database db(Path().c_str(), 4, CompareInts);
  {
    Opened o(db);
    for (int v : {1, 2, 3}) AddInt(db, v);
    int key = 2;
    EXPECT_EQ(db.Delete(&key), 1);
    EXPECT_EQ(db.Delete(&key), -1);
  }
  EXPECT_EQ(Contents(), FileBytes(2, 0, {1, 3}));
}

TEST_F(DatabaseTest, DeletingTheOnlyRecordLeavesTheHeader) {
  Database db(Path().c_str(), 4, CompareInts);
  Opened o(db);
  AddInt(db, 5);
  int key = 5;
  EXPECT_EQ(db.Delete(&key), 0);
  db.Close();
  EXPECT_EQ(Contents(), FileBytes(0, 0));
}

TEST_F(DatabaseTest, NextSerialCountsInTheHeader) {
  Database db(Path().c_str(), 4, CompareInts);
  {
    Opened o(db);
    EXPECT_EQ(db.NextSerial(), 1u);
    EXPECT_EQ(db.NextSerial(), 2u);
  }
  EXPECT_EQ(Contents(), FileBytes(0, 2));
  sandbox_.writeFile(Path(), FileBytes(0, 0xFFFFFFFF));
  Opened o(db);
  EXPECT_EQ(db.NextSerial(), 0u);
  EXPECT_EQ(db.NextSerial(), 0u);
}

TEST_F(DatabaseTest, MarkAndCompactKeepTheFileLength) {
  Database db(Path().c_str(), 4, CompareInts);
  {
    Opened o(db);
    for (int v : {1, 2, 3, 4}) AddInt(db, v);
    int out = 0;
    ASSERT_TRUE(db.GetAt(1, &out));
    EXPECT_EQ(db.IsCurrentMarked(), 0);
    EXPECT_TRUE(db.MarkCurrent(true));
    EXPECT_EQ(db.IsCurrentMarked(&out), 1);
    EXPECT_EQ(out, 2);
    ASSERT_TRUE(db.GetAt(3, &out));
    EXPECT_TRUE(db.MarkCurrent(true));
    EXPECT_TRUE(db.Compact());
    EXPECT_EQ(db.GetCount(), 2);
  }
  // The two kept slots, then the old tail: a marked 4 behind an unmarked 4.
  std::string expected = FileBytes(2, 0, {1, 3, 3, 4});
  expected[32 + 3 * 5] = 1;
  EXPECT_EQ(Contents(), expected);
}

TEST_F(DatabaseTest, OldFormatHeaderIsUpgradedInPlace) {
  std::string old = FileBytes(2, 7, {4, 8});
  old.replace(0, 4, "DD00");
  sandbox_.writeFile(Path(), old);
  Database db(Path().c_str(), 4, CompareInts, Database::Check::kSlots);
  EXPECT_EQ(db.KeptAs(), "");
  EXPECT_TRUE(db.IsOpen());
  EXPECT_EQ(Contents(), FileBytes(2, 7, {4, 8}));
  Opened o(db);
  int out = 0;
  EXPECT_TRUE(db.GetAt(1, &out));
  EXPECT_EQ(out, 8);
}

// A file this database cannot read is never thrown away: it is kept beside
// its name (".damaged", then ".damaged.2", ...) and a fresh empty file takes
// its place. An empty file holds nothing to keep.
TEST_F(DatabaseTest, UnreadableFilesAreKeptAsideAndRecreatedEmpty) {
  struct Case {
    const char* what;
    std::string bytes;
  };
  const Case cases[] = {
      {"another record size", FileBytes(1, 3, {9}, 0xDB01, 9)},
      {"older version", FileBytes(1, 3, {9}, 0x0100)},
      {"shorter than a header", std::string("\x01\xDB", 2)},
      {"header cut after its record size", FileBytes(1, 3, {9}).substr(0, 10)},
      // Upgraded as it stands, it could never be opened.
      {"previous format of another record size", FileBytes(1, 3, {9}, kPreviousVersion, 9)},
  };
  int kept = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sandbox_.writeFile(Path(), c.bytes);
    Database db(Path().c_str(), 4, CompareInts);
    EXPECT_TRUE(db.IsOpen());
    EXPECT_EQ(Contents(), FileBytes(0, 0));
    const std::string name = Path() + (kept++ == 0 ? ".damaged" : ".damaged." + std::to_string(kept));
    EXPECT_EQ(db.KeptAs(), name);
    EXPECT_EQ(test::Sandbox::readFile(name), c.bytes);
  }
  sandbox_.writeFile(Path(), "");
  Database db(Path().c_str(), 4, CompareInts);
  EXPECT_TRUE(db.IsOpen());
  EXPECT_EQ(Contents(), FileBytes(0, 0));
  EXPECT_EQ(db.KeptAs(), "");
  EXPECT_FALSE(std::filesystem::exists(Path() + ".damaged." + std::to_string(kept + 1)));
}

// Asked to, construction also reads every slot: a file whose slots are not
// what its header says is kept aside like an unreadable one. Without the
// check, and for a sound file, the file stays as it is.
TEST_F(DatabaseTest, DamagedSlotsAreKeptAsideWhenChecked) {
  std::string badStatus = FileBytes(2, 0, {1, 2});
  badStatus[32 + 5] = '\x7F';
  const std::string cases[] = {
      FileBytes(5, 0, {1, 2}),     // count beyond the slots
      FileBytes(3, 0, {1, 7, 4}),  // out of order
      badStatus,
  };
  for (const auto& bytes : cases) {
    sandbox_.writeFile(Path(), bytes);
    {
      Database unchecked(Path().c_str(), 4, CompareInts);
      EXPECT_EQ(unchecked.KeptAs(), "");
      EXPECT_EQ(Contents(), bytes);
    }
    Database db(Path().c_str(), 4, CompareInts, Database::Check::kSlots);
    EXPECT_TRUE(db.IsOpen());
    EXPECT_EQ(db.KeptAs(), Path() + ".damaged");
    EXPECT_EQ(test::Sandbox::readFile(Path() + ".damaged"), bytes);
    EXPECT_EQ(Contents(), FileBytes(0, 0));
    std::filesystem::remove(Path() + ".damaged");
  }
  // The previous format's file is checked before its upgrade, and kept with
  // the bytes it had.
  const std::string previous = FileBytes(3, 0, {1, 7, 4}, kPreviousVersion);
  sandbox_.writeFile(Path(), previous);
  {
    Database db(Path().c_str(), 4, CompareInts, Database::Check::kSlots);
    EXPECT_EQ(db.KeptAs(), Path() + ".damaged");
    EXPECT_EQ(test::Sandbox::readFile(Path() + ".damaged"), previous);
    EXPECT_EQ(Contents(), FileBytes(0, 0));
    std::filesystem::remove(Path() + ".damaged");
  }
  // Marked slots and a tail past the count (a crash before the header was
  // rewritten) are sound.
  std::string sound = FileBytes(3, 4, {1, 2, 8}) + std::string(5, '\0');
  sound[32 + 5] = '\x01';
  sandbox_.writeFile(Path(), sound);
  Database db(Path().c_str(), 4, CompareInts, Database::Check::kSlots);
  EXPECT_TRUE(db.IsOpen());
  EXPECT_EQ(db.KeptAs(), "");
  EXPECT_EQ(Contents(), sound);
}

TEST_F(DatabaseTest, RemovalIsTraced) {
  SetDebugFlags(1);
  sandbox_.writeFile(Path(), FileBytes(0, 0, {}, 0xDB01, 9));
  { Database db(Path().c_str(), 4, CompareInts); }
  sandbox_.writeFile(Path(), FileBytes(0, 0, {}, 0x0100));
  { Database db(Path().c_str(), 4, CompareInts); }
  const std::string trace = test::Sandbox::readFile(sandbox_.traceFile());
  EXPECT_NE(trace.find("Database record size mismatch: new=4 old=9, remove:1,error=0\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find("Database: " + Path() + " old version : 256. Removed=1\n"), std::string::npos) << trace;
}

TEST_F(DatabaseTest, NewerVersionIsKeptButNotUsed) {
  const std::string newer = FileBytes(1, 0, {9}, 0xDB02);
  sandbox_.writeFile(Path(), newer);
  Database db(Path().c_str(), 4, CompareInts);
  EXPECT_FALSE(db.IsOpen());
  EXPECT_FALSE(db.Open());
  EXPECT_EQ(Contents(), newer);
}

TEST_F(DatabaseTest, CountBeyondTheSlotsFailsWithoutHarm) {
  Database db(Path().c_str(), 4, CompareInts);
  const std::string damaged = FileBytes(5, 0, {1, 2});
  sandbox_.writeFile(Path(), damaged);
  Opened o(db);
  int key = 9, out = 0;
  EXPECT_EQ(db.Add(&key), -1);
  EXPECT_FALSE(db.Get(&key, &out));
  EXPECT_EQ(db.Delete(&key), -1);
  EXPECT_FALSE(db.GetAt(4, &out));
  EXPECT_FALSE(db.Compact());
  db.Close();
  EXPECT_EQ(Contents(), damaged);
}

TEST_F(DatabaseTest, FileOfAnotherRecordSizeIsNotReadAfterConstruction) {
  Database db(Path().c_str(), 4, CompareInts);
  const std::string other = FileBytes(1, 0, {}, 0xDB01, 9) + std::string(9, 'x');
  sandbox_.writeFile(Path(), other);
  EXPECT_FALSE(db.Open());
  EXPECT_EQ(Contents(), other);
}

TEST_F(DatabaseTest, OperationsFailWhenTheFileIsGone) {
  Database db(Path().c_str(), 4, CompareInts);
  std::filesystem::remove(Path());
  EXPECT_FALSE(db.Open());
  int key = 1;
  EXPECT_EQ(db.Add(&key), -1);
  EXPECT_EQ(db.NextSerial(), 0u);
  EXPECT_FALSE(std::filesystem::exists(Path()));
}

// A list writer over int records, one decimal line each.
class IntBook : public LockedDatabase {
 public:
  explicit IntBook(const std::string& path) : LockedDatabase(path.c_str(), 4, CompareInts) {}
  using LockedDatabase::Mutex;
  using LockedDatabase::SetLockTimeout;

 protected:
  void WriteRecordText(int index, RecordFile& file) override {
    int v = 0;
    if (!Db().GetAt(index, &v)) throw DBException(DBException::kReadFailed);
    file.WriteLine(std::to_string(v) + "\x1B");
  }
};

TEST_F(DatabaseTest, LockedOperationsOpenAndCloseAroundThemselves) {
  IntBook book(Path());
  int a = 5, b = 3;
  EXPECT_TRUE(book.Add(&a));
  EXPECT_TRUE(book.Add(&b));
  EXPECT_FALSE(book.Add(&b));
  EXPECT_EQ(book.GetCount(), 2);
  EXPECT_EQ(book.NextSerial(), 1u);
  EXPECT_TRUE(book.Replace(&a));
  EXPECT_TRUE(book.Delete(&b));
  EXPECT_FALSE(book.Delete(&b));
  int out = 0;
  EXPECT_TRUE(book.Get(&a, &out));
  EXPECT_EQ(Contents(), FileBytes(1, 1, {5}));
}

TEST_F(DatabaseTest, LockTimeOutLeavesTheFileAlone) {
  IntBook book(Path());
  book.SetLockTimeout(std::chrono::milliseconds(0));
  std::unique_lock held(book.Mutex());
  bool added = true;
  uint32_t serial = 1;
  Status listed = 0;
  std::thread([&] {
    int v = 1;
    added = book.Add(&v);
    serial = book.NextSerial();
    listed = book.WriteList("0", (sandbox_.path("list.txt")).c_str());
  }).join();
  EXPECT_FALSE(added);
  EXPECT_EQ(serial, 0u);
  EXPECT_EQ(listed, 0xC00013EEu);
  EXPECT_EQ(Contents(), FileBytes(0, 0));
  EXPECT_FALSE(std::filesystem::exists(sandbox_.path("list.txt")));
}

TEST_F(DatabaseTest, WriteListSelectors) {
  IntBook book(Path());
  for (int v : {20, 10}) book.Add(&v);
  const std::string list = sandbox_.path("list.txt").string();
  struct Case {
    const char* selector;
    Status status;
    const char* contents;  // null: no file
  };
  const Case cases[] = {
      {"0", 0, "10\x1B\r\n20\x1B\r\n"}, {"17", 0, "10\x1B\r\n20\x1B\r\n"}, {"Users", 0, ""},
      {"12x", 0xC00001FE, nullptr},     {"", 0xC00001FE, nullptr},         {"-", 0xC00001FE, nullptr},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(list);
    EXPECT_EQ(book.WriteList(c.selector, list.c_str()), c.status) << c.selector;
    if (c.contents) EXPECT_EQ(test::Sandbox::readFile(list), c.contents) << c.selector;
    else EXPECT_FALSE(std::filesystem::exists(list)) << c.selector;
  }
}

TEST_F(DatabaseTest, WriteListFailureDeletesTheList) {
  IntBook book(Path());
  const std::string list = sandbox_.path("list.txt").string();
  sandbox_.writeFile(Path(), FileBytes(3, 0, {1}));  // count beyond the slots
  EXPECT_EQ(book.WriteList("0", list.c_str()), 0xC000140Au);
  EXPECT_FALSE(std::filesystem::exists(list));
  std::filesystem::remove(Path());
  EXPECT_EQ(book.WriteList("0", list.c_str()), 0xC000140Au);
  EXPECT_FALSE(std::filesystem::exists(list));
}

}  // namespace
}  // namespace korvo
