// Record databases: files of fixed-size records kept sorted by a compare
// function, behind a 32-byte versioned header, with a status byte before
// every record. The file is opened per operation and closed between them.
//
//   offset 0  version 0xDB01        offset 12 serial counter (last id given)
//   offset 4  record size + 1       offset 16 16 zero bytes
//   offset 8  record count          offset 32 the slots, count x (size + 1)
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "common/record_file.h"
#include "common/status.h"

namespace korvo {

// Failure inside Database; its public operations catch it.
class DBException {
 public:
  enum Code : int {
    kNotCreated = 2,
    kAppendFailed = 4,
    kWriteFailed = 5,
    kReadFailed = 6,
    kInsertBeyondCount = 7,
    kShortHeader = 8,
    kWrongVersion = 9,
  };
  explicit DBException(int code) : code_(code) {}
  int code() const { return code_; }

 private:
  int code_;
};

class Database {
 public:
  // Negative, 0 or positive, on two records without their status bytes
  // (each aligned as new aligns).
  using CompareFn = int (*)(const void* a, const void* b);

  static constexpr uint32_t kVersion = 0xDB01;
  // "DD00", the header of the previous format, upgraded in place.
  static constexpr uint32_t kOldVersion = 0x30304444;
  static constexpr uint32_t kSerialExhausted = 0xFFFFFFFF;
  static constexpr int kHeaderSize = 32;

  // What construction reads of an existing file before using it.
  enum class Check {
    kHeader,  // the header only
    kSlots,   // also every slot: status bytes, order, the count's slots there
  };

  // Checks an existing file, then creates the file when missing. A file
  // that fails the check (an old or incompatible header, damaged slots) is
  // kept aside under a new name and replaced by an empty one. A null or
  // empty path leaves the database closed.
  Database(const char* path, int recordSize, CompareFn compare, Check check = Check::kHeader);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Set when construction found or made a usable file.
  bool IsOpen() const { return open_; }
  // The record count of the header last read.
  int GetCount() const { return static_cast<int>(header_.count); }
  int GetRecordSize() const { return size_; }
  const std::string& GetPath() const { return path_; }
  // Where construction kept a file it could not use ("<path>.damaged",
  // then ".damaged.2", ...); empty when it kept none.
  const std::string& KeptAs() const { return keptAs_; }

  // Opens the file and reads its header (refreshing the count); false when
  // the file cannot be opened or its header is not of this database.
  bool Open();
  void Close();
  // Writes a new empty file (truncating an existing one); false on failure.
  bool Create();

  // The file must be open for everything below.
  // Next id of the serial counter, header rewritten; 0 when exhausted or on failure.
  uint32_t NextSerial();
  // Inserts the record in order; its index, or -1 for a duplicate or failure.
  int Add(const void* record);
  // Copies the record equal to key into out; false when there is none.
  bool Get(const void* key, void* out);
  // Record at index into out and makes index current; false when out of range.
  bool GetAt(int index, void* out);
  // True when found; index is the match or the insertion point.
  bool IndexOf(const void* key, int* index);
  // Overwrites the equal record; its index, or -1 when not found.
  int Replace(const void* record);
  // Removes the equal record and shortens the file; its index, or -1.
  int Delete(const void* key);
  // Status byte of the current slot (1 marked), record copied when out is
  // given; -1 on failure.
  int IsCurrentMarked(void* out = nullptr);
  bool MarkCurrent(bool mark);
  // Drops the marked slots, keeping the others in order; the file length stays.
  bool Compact();

  int CurrentIndex() const { return current_; }
  // Slots read from disk since construction (each probe of a search is one).
  uint64_t SlotReads() const { return slotReads_; }

 private:
  struct Header {
    uint32_t version = 0;
    uint32_t storedSize = 0;
    uint32_t count = 0;
    uint32_t serial = 0;
    unsigned char reserved[16] = {};
  };

  void CheckFile(Check check);
  // Every slot the header counts is there, with a status byte of 0 or 1,
  // and in order (equal neighbours are what a cut-off move leaves).
  bool SlotsSound();
  void ReadHeader();
  void WriteHeader(int failureCode);
  int64_t SlotOffset(int64_t index) const { return kHeaderSize + index * (size_ + 1); }
  void ReadSlot(int index, unsigned char* slot);
  void WriteSlot(int index, const unsigned char* slot, int failureCode = DBException::kWriteFailed);
  int CompareRange(int lo, int hi);
  bool Find();
  void InsertAt(int index);
  void SetKey(const void* record);

  bool open_ = false;
  std::string path_;
  std::string keptAs_;
  RecordFile file_;
  Header header_;
  int size_;
  std::vector<unsigned char> record_;  // status byte + record, see Slot()
  std::vector<unsigned char> search_;  // status byte + key
  CompareFn compare_;
  int current_ = 0;
  uint64_t slotReads_ = 0;
};

// A Database whose every operation holds an in-process mutex (30000 ms wait)
// and opens and closes the file around itself. The record-type databases
// derive from it.
class LockedDatabase {
 public:
  static constexpr std::chrono::milliseconds kLockTimeout{30000};

  LockedDatabase(const char* path, int recordSize, Database::CompareFn compare,
                 Database::Check check = Database::Check::kHeader);
  virtual ~LockedDatabase() = default;

  bool IsOpen() const { return db_.IsOpen(); }
  const std::string& GetPath() const { return db_.GetPath(); }
  const std::string& KeptAs() const { return db_.KeptAs(); }

  // False on lock time-out or failure.
  bool Add(const void* record);
  bool Replace(const void* record);
  bool Delete(const void* key);
  bool Get(const void* key, void* out);
  // Current record count, -1 on lock time-out or failure.
  int GetCount();
  // 0 on lock time-out or failure.
  uint32_t NextSerial();

  // Writes the records as text lines into the file at path. The selector is
  // a decimal number (every record is listed) or a text beginning with a
  // letter (no record is listed). 0 on success; 0xC00001FE for another
  // selector, 0xC00013EE when the lock is not free, 0xC000140A when the
  // file or the database fails (the list file is then deleted).
  Status WriteList(const char* selector, const char* path);

 protected:
  // Writes record index as one line; throws DBException or FileException.
  virtual void WriteRecordText(int index, RecordFile& file) = 0;

  // Holds the mutex and the open file for one operation.
  class Access {
   public:
    explicit Access(LockedDatabase& owner);
    ~Access();
    Access(const Access&) = delete;
    Access& operator=(const Access&) = delete;
    bool Locked() const { return locked_; }
    bool Opened() const { return opened_; }
    explicit operator bool() const { return locked_ && opened_; }
    Database* operator->() { return &owner_.db_; }
    Database& operator*() { return owner_.db_; }

   private:
    LockedDatabase& owner_;
    bool locked_ = false;
    bool opened_ = false;
  };

  // The wait for the mutex; tests shorten it.
  void SetLockTimeout(std::chrono::milliseconds timeout) { lockTimeout_ = timeout; }
  std::timed_mutex& Mutex() { return mutex_; }
  Database& Db() { return db_; }

 private:
  Database db_;
  std::timed_mutex mutex_;
  std::chrono::milliseconds lockTimeout_ = kLockTimeout;
};

}  // namespace korvo
