#include "common/database.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "common/status_codes.h"
#include "common/trace.h"
#include "platform/lasterror.h"

namespace korvo {

namespace {

uint32_t GetLe32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// A slot buffer holds the status byte just before an aligned record, so the
// compare functions may read the record's fields in place.
constexpr std::size_t kRecordOffset = 8;
unsigned char* Slot(std::vector<unsigned char>& buf) { return buf.data() + kRecordOffset - 1; }
unsigned char* Rec(std::vector<unsigned char>& buf) { return buf.data() + kRecordOffset; }

void PutLe32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// Moves a file the database cannot use out of its way, to the first free
// name of "<path>.damaged", "<path>.damaged.2", ...: whatever it held can
// still be recovered. A hard link never replaces a file that is there. An empty
// file holds nothing and is only removed. The kept name, or empty.
std::string MoveAside(const std::string& path, bool* moved) {
  *moved = false;
  std::error_code ec;
  if (std::filesystem::file_size(path, ec) == 0 && !ec) {
    *moved = std::filesystem::remove(path, ec);
  } else {
    for (int n = 1; n < 1000 && !*moved; ++n) {
      std::string kept = path + ".damaged" + (n == 1 ? "" : "." + std::to_string(n));
      std::filesystem::create_hard_link(path, kept, ec);
      if (ec == std::errc::file_exists) continue;
      if (ec) break;
      *moved = std::filesystem::remove(path, ec);
      if (*moved) return kept;
      std::error_code ignored;
      std::filesystem::remove(kept, ignored);
      break;
    }
  }
  if (ec) platform::SetLastError(static_cast<uint32_t>(ec.value()));
  return {};
}

}  // namespace

Database::Database(const char* path, int recordSize, CompareFn compare, Check check)
    : size_(recordSize > 0 ? recordSize : 0), compare_(compare) {
  record_.assign(static_cast<std::size_t>(size_) + kRecordOffset, 0);
  search_.assign(static_cast<std::size_t>(size_) + kRecordOffset, 0);
  // Without a path (or a usable record type) every operation fails.
  if (!path || !*path || size_ == 0 || !compare) return;
  path_ = path;
  CheckFile(check);
  if (RecordFile::Exists(path_)) {
    open_ = Open();
    Close();
  } else {
    open_ = Create();
  }
}

Database::~Database() { Close(); }

void Database::CheckFile(Check check) {
  unsigned char raw[kHeaderSize] = {};
  bool whole = false;
  {
    RecordFile f;
    try {
      f.Open(path_, RecordFile::kRead);
    } catch (const FileException&) {
      return;
    }
    whole = f.ReadExact(raw, sizeof raw);  // a short file leaves zeros
  }
  const uint32_t version = GetLe32(raw);
  const uint32_t stored = GetLe32(raw + 4);
  bool moved = false;
  if (version < kVersion) {
    keptAs_ = MoveAside(path_, &moved);
    DebugPrint("Database: %s old version : %d. Removed=%d\n", path_.c_str(), static_cast<int>(version),
               static_cast<int>(moved));
    return;
  }
  // A header cut short could never be opened: it goes as a mismatch does.
  // The previous format's header ("DD00") is checked as a current one: a
  // file of another record size could never be opened once upgraded.
  if (stored != static_cast<uint32_t>(size_) + 1 || !whole) {
    keptAs_ = MoveAside(path_, &moved);
    const uint32_t error = moved ? 0 : platform::GetLastError();
    DebugPrint("Database record size mismatch: new=%d old=%d, remove:%d,error=%d\n", size_, static_cast<int>(stored),
               static_cast<int>(moved), static_cast<int>(error));
    return;
  }
  // Slots are checked before the upgrade, so a damaged file is kept with
  // the bytes it had. A newer version is left as it is, unused.
  const bool previous = version == kOldVersion;
  if (check == Check::kSlots && (version == kVersion || previous) && !SlotsSound()) {
    keptAs_ = MoveAside(path_, &moved);
    DebugPrint("Database: %s has damaged slots. Kept as '%s'\n", path_.c_str(), keptAs_.c_str());
    return;
  }
  if (!previous) return;
  PutLe32(raw, kVersion);
  try {
    RecordFile f;
    f.Open(path_, RecordFile::kWrite | RecordFile::kCreate | RecordFile::kNoTruncate);
    f.Write(raw, sizeof raw);
  } catch (const FileException&) {
  }
}

bool Database::SlotsSound() {
  const int64_t slot = size_ + 1;
  try {
    RecordFile f;
    f.Open(path_, RecordFile::kRead);
    unsigned char raw[kHeaderSize];
    if (!f.ReadExact(raw, sizeof raw)) return false;
    const uint32_t count = GetLe32(raw + 8);
    if (count > static_cast<uint32_t>(INT_MAX)) return false;
    // Two slot buffers in turn, each aligned for the compare function.
    std::vector<unsigned char> a(record_.size()), b(record_.size());
    std::vector<unsigned char>* previous = nullptr;
    std::vector<unsigned char>* current = &a;
    for (uint32_t i = 0; i < count; ++i) {
      if (!f.ReadExact(Slot(*current), static_cast<std::size_t>(slot))) return false;
      if (Slot(*current)[0] > 1) return false;
      if (previous && compare_(Rec(*previous), Rec(*current)) > 0) return false;
      previous = current;
      current = current == &a ? &b : &a;
    }
  } catch (const FileException&) {
    return false;
  }
  return true;
}

bool Database::Create() {
  if (path_.empty()) return false;
  try {
    try {
      file_.Open(path_, RecordFile::kReadWrite | RecordFile::kCreate);
      header_ = Header{};
      header_.version = kVersion;
      header_.storedSize = static_cast<uint32_t>(size_) + 1;
      WriteHeader(DBException::kNotCreated);
      current_ = 0;
      file_.Close();
    } catch (const FileException&) {
      throw DBException(DBException::kNotCreated);
    }
  } catch (const DBException&) {
    file_.Close();
    return false;
  }
  return true;
}

bool Database::Open() {
  if (path_.empty()) return false;
  try {
    file_.Open(path_, RecordFile::kReadWrite);
    ReadHeader();
    current_ = 0;
    return true;
  } catch (const FileException&) {
  } catch (const DBException&) {
  }
  file_.Close();
  return false;
}

void Database::Close() { file_.Close(); }

void Database::ReadHeader() {
  unsigned char raw[kHeaderSize];
  try {
    file_.Seek(0);
  } catch (const FileException&) {
    throw DBException(DBException::kReadFailed);
  }
  if (!file_.ReadExact(raw, sizeof raw)) throw DBException(DBException::kShortHeader);
  Header h;
  h.version = GetLe32(raw);
  h.storedSize = GetLe32(raw + 4);
  h.count = GetLe32(raw + 8);
  h.serial = GetLe32(raw + 12);
  std::memcpy(h.reserved, raw + 16, sizeof h.reserved);
  if (h.version != kVersion) throw DBException(DBException::kWrongVersion);
  // A file of another record size would be read out of step; a count beyond
  // int cannot be addressed. Both mean a header not of this database.
  if (h.storedSize != static_cast<uint32_t>(size_) + 1) throw DBException(DBException::kWrongVersion);
  if (h.count > static_cast<uint32_t>(INT_MAX)) throw DBException(DBException::kShortHeader);
  header_ = h;
}

void Database::WriteHeader(int failureCode) {
  unsigned char raw[kHeaderSize];
  PutLe32(raw, header_.version);
  PutLe32(raw + 4, header_.storedSize);
  PutLe32(raw + 8, header_.count);
  PutLe32(raw + 12, header_.serial);
  std::memcpy(raw + 16, header_.reserved, sizeof header_.reserved);
  try {
    file_.Seek(0);
    file_.Write(raw, sizeof raw);
  } catch (const FileException&) {
    throw DBException(failureCode);
  }
}

void Database::ReadSlot(int index, unsigned char* slot) {
  ++slotReads_;
  try {
    file_.Seek(SlotOffset(index));
  } catch (const FileException&) {
    throw DBException(DBException::kReadFailed);
  }
  if (!file_.ReadExact(slot, static_cast<std::size_t>(size_) + 1)) throw DBException(DBException::kReadFailed);
}

void Database::WriteSlot(int index, const unsigned char* slot, int failureCode) {
  try {
    file_.Seek(SlotOffset(index));
    file_.Write(slot, static_cast<std::size_t>(size_) + 1);
  } catch (const FileException&) {
    throw DBException(failureCode);
  }
}

void Database::SetKey(const void* record) {
  Slot(search_)[0] = 0;
  std::memcpy(Rec(search_), record, static_cast<std::size_t>(size_));
}

// -1 key equal to lo, -2 below lo, 1 equal to hi, 0 between, 2 above hi.
int Database::CompareRange(int lo, int hi) {
  ReadSlot(lo, Slot(record_));
  int c = compare_(Rec(search_), Rec(record_));
  if (c == 0) return -1;
  if (c < 0) return -2;
  ReadSlot(hi, Slot(record_));
  c = compare_(Rec(search_), Rec(record_));
  if (c == 0) return 1;
  if (c > 0) return 2;
  return 0;
}

// On a match record_ holds the found slot.
bool Database::Find() {
  const int count = GetCount();
  if (count == 0) {
    current_ = 0;
    return false;
  }
  int lo = 0;
  int hi = count - 1;
  switch (CompareRange(lo, hi)) {
    case -1: current_ = 0; return true;
    case -2: current_ = 0; return false;
    case 1: current_ = hi; return true;
    case 2: current_ = count; return false;
    default: break;
  }
  while (hi - lo > 1) {
    const int mid = (lo + hi + 1) >> 1;
    const int r = CompareRange(lo, mid);
    if (r == -1) {
      current_ = lo;
      return true;
    }
    if (r == 1) {
      current_ = mid;
      return true;
    }
    if (r == 0) {
      hi = mid;
    } else if (CompareRange(mid, hi) == 1) {
      current_ = hi;
      return true;
    } else {
      lo = mid;
    }
  }
  current_ = hi;
  return false;
}

void Database::InsertAt(int index) {
  const int count = GetCount();
  if (index > count) throw DBException(DBException::kInsertBeyondCount);
  // search_ holds the incoming slot; each displaced slot moves one up.
  std::vector<unsigned char> incoming = search_;
  Slot(incoming)[0] = 0;
  for (int i = index; i < count; ++i) {
    ReadSlot(i, Slot(record_));
    WriteSlot(i, Slot(incoming));
    incoming.swap(record_);
  }
  WriteSlot(count, Slot(incoming), DBException::kAppendFailed);
  ++header_.count;
  WriteHeader(DBException::kAppendFailed);
}

uint32_t Database::NextSerial() {
  try {
    if (header_.serial == kSerialExhausted) return 0;
    ++header_.serial;
    WriteHeader(DBException::kWriteFailed);
    return header_.serial;
  } catch (const DBException&) {
    return 0;
  }
}

int Database::Add(const void* record) {
  try {
    SetKey(record);
    if (Find()) return -1;
    const int index = current_;
    InsertAt(index);
    return index;
  } catch (const DBException&) {
    return -1;
  }
}

bool Database::Get(const void* key, void* out) {
  try {
    SetKey(key);
    if (!Find()) return false;
    std::memcpy(out, Rec(record_), static_cast<std::size_t>(size_));
    return true;
  } catch (const DBException&) {
    return false;
  }
}

bool Database::GetAt(int index, void* out) {
  if (index < 0 || index >= GetCount()) return false;
  try {
    current_ = index;
    ReadSlot(index, Slot(record_));
    std::memcpy(out, Rec(record_), static_cast<std::size_t>(size_));
    return true;
  } catch (const DBException&) {
    return false;
  }
}

bool Database::IndexOf(const void* key, int* index) {
  try {
    SetKey(key);
    const bool found = Find();
    if (index) *index = current_;
    return found;
  } catch (const DBException&) {
    return false;
  }
}

int Database::Replace(const void* record) {
  try {
    SetKey(record);
    if (!Find()) return -1;
    WriteSlot(current_, Slot(search_));
    return current_;
  } catch (const DBException&) {
    return -1;
  }
}

int Database::Delete(const void* key) {
  try {
    SetKey(key);
    if (!Find()) return -1;
    const int index = current_;
    const int count = GetCount();
    for (int i = index + 1; i < count; ++i) {
      ReadSlot(i, Slot(record_));
      WriteSlot(i - 1, Slot(record_));
    }
    --header_.count;
    WriteHeader(DBException::kWriteFailed);
    try {
      file_.SetLength(SlotOffset(header_.count));
    } catch (const FileException&) {
      throw DBException(DBException::kWriteFailed);
    }
    return index;
  } catch (const DBException&) {
    return -1;
  }
}

int Database::IsCurrentMarked(void* out) {
  if (current_ < 0 || current_ >= GetCount()) return -1;
  try {
    ReadSlot(current_, Slot(record_));
    if (out) std::memcpy(out, Rec(record_), static_cast<std::size_t>(size_));
    return Slot(record_)[0];
  } catch (const DBException&) {
    return -1;
  }
}

bool Database::MarkCurrent(bool mark) {
  if (current_ < 0 || current_ >= GetCount()) return false;
  const unsigned char status = mark ? 1 : 0;
  try {
    file_.Seek(SlotOffset(current_));
    file_.Write(&status, 1);
    return true;
  } catch (const FileException&) {
    return false;
  }
}

bool Database::Compact() {
  try {
    const int count = GetCount();
    int kept = 0;
    for (int i = 0; i < count; ++i) {
      ReadSlot(i, Slot(record_));
      if (Slot(record_)[0] != 0) continue;
      if (kept != i) WriteSlot(kept, Slot(record_));
      ++kept;
    }
    header_.count = static_cast<uint32_t>(kept);
    WriteHeader(DBException::kWriteFailed);
    if (current_ > kept) current_ = kept;
    return true;
  } catch (const DBException&) {
    return false;
  }
}

// ---------------------------------------------------------------------------

LockedDatabase::LockedDatabase(const char* path, int recordSize, Database::CompareFn compare, Database::Check check)
    : db_(path, recordSize, compare, check) {}

LockedDatabase::Access::Access(LockedDatabase& owner) : owner_(owner) {
  locked_ = owner_.mutex_.try_lock_for(owner_.lockTimeout_);
  if (locked_) opened_ = owner_.db_.Open();
}

LockedDatabase::Access::~Access() {
  if (opened_) owner_.db_.Close();
  if (locked_) owner_.mutex_.unlock();
}

bool LockedDatabase::Add(const void* record) {
  Access db(*this);
  return db && db->Add(record) >= 0;
}

bool LockedDatabase::Replace(const void* record) {
  Access db(*this);
  return db && db->Replace(record) >= 0;
}

bool LockedDatabase::Delete(const void* key) {
  Access db(*this);
  return db && db->Delete(key) >= 0;
}

bool LockedDatabase::Get(const void* key, void* out) {
  Access db(*this);
  return db && db->Get(key, out);
}

int LockedDatabase::GetCount() {
  Access db(*this);
  return db ? db->GetCount() : -1;
}

uint32_t LockedDatabase::NextSerial() {
  Access db(*this);
  return db ? db->NextSerial() : 0;
}

namespace {

// A decimal number with nothing after its digits.
bool IsWholeNumber(const char* text) {
  errno = 0;
  char* end = nullptr;
  std::strtol(text, &end, 10);
  if (end == text || *end != '\0') return false;
  for (const char* p = text; p < end; ++p)
    if (std::isdigit(static_cast<unsigned char>(*p))) return true;
  return false;
}

}  // namespace

Status LockedDatabase::WriteList(const char* selector, const char* path) {
  if (!selector || !path || !*path) return kStatusInternalError;
  const bool letter = std::isalpha(static_cast<unsigned char>(selector[0]));
  if (!letter && !IsWholeNumber(selector)) return kStatusInternalError;
  if (!mutex_.try_lock_for(lockTimeout_)) return kStatusResourceNotFree;
  int result = 0;
  RecordFile list;
  try {
    list.Open(path, RecordFile::kReadWrite | RecordFile::kCreate | RecordFile::kText);
    if (!db_.Open()) throw DBException(DBException::kReadFailed);
    // A letter selector names no records: the list stays empty.
    if (!letter) {
      const int count = db_.GetCount();
      for (int i = 0; i < count; ++i) WriteRecordText(i, list);
      result = count > 0 ? 1 : 0;
    }
    list.Close();
    db_.Close();
  } catch (const FileException&) {
    result = -1;
  } catch (const DBException&) {
    result = -1;
  }
  if (result < 0) {
    list.Close();
    db_.Close();
    std::remove(path);
  }
  mutex_.unlock();
  return result < 0 ? kStatusDatabaseError : kStatusSuccess;
}

}  // namespace korvo
