#include "platform/eventlog.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "platform/lasterror.h"
#include "platform/registry.h"

namespace korvo::platform {

namespace {

// File layout, little-endian:
//   header (32 bytes): "KVEL", version 1, data capacity, oldest record offset,
//   end offset (where the next record goes), wrap offset (end of the older
//   segment while the ring is wrapped), record count, next record number.
//   data area: records, never split across its end. Unwrapped, the records lie
//   in [oldest, end); wrapped, in [oldest, wrap) and then [0, end).
//   record: length, number, time written, event id (4 bytes each), type,
//   category, string count (2 bytes each), the source and the strings each
//   NUL-terminated, and the length again, so a damaged record is recognised.
constexpr uint32_t kMagic = 0x4C45564B;  // "KVEL"
constexpr uint32_t kVersion = 1;
constexpr uint32_t kHeaderSize = 32;
constexpr uint32_t kRecordFixed = 22;
constexpr uint32_t kRecordMin = kRecordFixed + 1 + 4;

struct Header {
  uint32_t capacity = 0;
  uint32_t oldest = 0;
  uint32_t end = 0;
  uint32_t wrap = 0;  // 0 while not wrapped
  uint32_t count = 0;
  uint32_t next = 1;
};

void Put32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
void Put16(unsigned char* p, uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
uint32_t Get32(const unsigned char* p) {
  return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
uint16_t Get16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

bool ReadAt(int fd, void* buf, size_t n, off_t at) {
  auto* p = static_cast<unsigned char*>(buf);
  while (n > 0) {
    ssize_t got = pread(fd, p, n, at);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got == 0) errno = EIO;
      return false;
    }
    p += got;
    n -= static_cast<size_t>(got);
    at += got;
  }
  return true;
}

bool WriteAt(int fd, const void* buf, size_t n, off_t at) {
  const auto* p = static_cast<const unsigned char*>(buf);
  while (n > 0) {
    ssize_t put = pwrite(fd, p, n, at);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return false;
    p += put;
    n -= static_cast<size_t>(put);
    at += put;
  }
  return true;
}

bool WriteHeader(int fd, const Header& h) {
  unsigned char b[kHeaderSize] = {};
  Put32(b, kMagic);
  Put32(b + 4, kVersion);
  Put32(b + 8, h.capacity);
  Put32(b + 12, h.oldest);
  Put32(b + 16, h.end);
  Put32(b + 20, h.wrap);
  Put32(b + 24, h.count);
  Put32(b + 28, h.next);
  return WriteAt(fd, b, sizeof b, 0);
}

// False when the file holds no valid header (empty or damaged).
bool ReadHeader(int fd, Header& h) {
  unsigned char b[kHeaderSize];
  if (!ReadAt(fd, b, sizeof b, 0)) return false;
  if (Get32(b) != kMagic || Get32(b + 4) != kVersion) return false;
  h.capacity = Get32(b + 8);
  h.oldest = Get32(b + 12);
  h.end = Get32(b + 16);
  h.wrap = Get32(b + 20);
  h.count = Get32(b + 24);
  h.next = Get32(b + 28);
  const uint32_t segEnd = h.wrap ? h.wrap : h.end;
  return h.capacity >= kRecordMin && h.end <= h.capacity && h.wrap <= h.capacity && h.oldest <= segEnd &&
         (!h.wrap || h.end <= h.oldest);
}

std::vector<unsigned char> Encode(const EventRecord& r) {
  uint32_t len = kRecordFixed + static_cast<uint32_t>(r.source.size()) + 1 + 4;
  for (const auto& s : r.strings) len += static_cast<uint32_t>(s.size()) + 1;
  std::vector<unsigned char> b(len);
  Put32(&b[0], len);
  Put32(&b[4], r.recordNumber);
  Put32(&b[8], r.timeWritten);
  Put32(&b[12], r.eventId);
  Put16(&b[16], r.type);
  Put16(&b[18], r.category);
  Put16(&b[20], static_cast<uint16_t>(r.strings.size()));
  size_t at = kRecordFixed;
  auto text = [&](const std::string& s) {
    std::memcpy(&b[at], s.data(), s.size());
    at += s.size();
    b[at++] = 0;
  };
  text(r.source);
  for (const auto& s : r.strings) text(s);
  Put32(&b[at], len);
  return b;
}

bool Decode(const std::vector<unsigned char>& b, EventRecord& r) {
  if (b.size() < kRecordMin || Get32(&b[0]) != b.size() || Get32(&b[b.size() - 4]) != b.size()) return false;
  r.recordNumber = Get32(&b[4]);
  r.timeWritten = Get32(&b[8]);
  r.eventId = Get32(&b[12]);
  r.type = Get16(&b[16]);
  r.category = Get16(&b[18]);
  const uint16_t n = Get16(&b[20]);
  const char* p = reinterpret_cast<const char*>(&b[kRecordFixed]);
  const char* stop = reinterpret_cast<const char*>(&b[b.size() - 4]);
  auto text = [&](std::string& s) {
    const char* nul = static_cast<const char*>(std::memchr(p, 0, static_cast<size_t>(stop - p)));
    if (!nul) return false;
    s.assign(p, nul);
    p = nul + 1;
    return true;
  };
  if (!text(r.source)) return false;
  r.strings.assign(n, {});
  for (auto& s : r.strings)
    if (!text(s)) return false;
  return p == stop;
}

// Length of the record at a data offset, 0 when none fits there.
uint32_t LengthAt(int fd, uint32_t pos, uint32_t limit) {
  unsigned char b[4];
  if (pos + 4 > limit || !ReadAt(fd, b, 4, kHeaderSize + pos)) return 0;
  uint32_t len = Get32(b);
  return len >= kRecordMin && len <= limit - pos ? len : 0;
}

// The record at pos of the data area, when it is whole.
bool RecordAt(const std::vector<unsigned char>& data, uint32_t pos, uint32_t len, EventRecord& r) {
  return Decode(std::vector<unsigned char>(data.begin() + pos, data.begin() + pos + len), r);
}

// The records of [start, stop) of the data area, oldest first. The newest
// records are read first, backwards through the trailing lengths, and the
// older ones forwards only up to where those begin: a damaged stretch never
// hides the newest records, and a damaged length cannot make an old record
// reach into a newer one.
void LoadSegment(const std::vector<unsigned char>& data, uint32_t start, uint32_t stop, std::vector<EventRecord>& out) {
  std::vector<EventRecord> tail;
  uint32_t end = stop;
  while (end >= start + kRecordMin) {
    uint32_t len = Get32(&data[end - 4]);
    EventRecord r;
    if (len < kRecordMin || len > end - start || !RecordAt(data, end - len, len, r)) break;
    tail.push_back(std::move(r));
    end -= len;
  }
  uint32_t pos = start;
  while (pos + kRecordMin <= end) {
    uint32_t len = Get32(&data[pos]);
    EventRecord r;
    if (len < kRecordMin || len > end - pos || !RecordAt(data, pos, len, r)) break;
    out.push_back(std::move(r));
    pos += len;
  }
  out.insert(out.end(), std::make_move_iterator(tail.rbegin()), std::make_move_iterator(tail.rend()));
}

// The records in order, oldest first; only what the file holds is looked at.
std::vector<EventRecord> LoadAll(int fd, const Header& h) {
  std::vector<EventRecord> out;
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_size <= kHeaderSize) return out;
  const auto held = static_cast<uint32_t>(
      std::min<off_t>({st.st_size - kHeaderSize, kMaxEventLogSize, off_t{std::max(h.end, h.wrap)}}));
  std::vector<unsigned char> data(held);
  if (!ReadAt(fd, data.data(), held, kHeaderSize)) return out;
  auto segment = [&](uint32_t start, uint32_t stop) {
    if (start < held) LoadSegment(data, start, std::min(stop, held), out);
  };
  if (h.wrap) {
    segment(h.oldest, h.wrap);
    segment(0, h.end);
  } else {
    segment(h.oldest, h.end);
  }
  return out;
}

// Lays the newest records that fit into a fresh, unwrapped data area.
bool Rewrite(int fd, Header& h, uint32_t capacity, std::vector<EventRecord> records) {
  std::vector<std::vector<unsigned char>> encoded;
  uint32_t used = 0;
  for (auto it = records.rbegin(); it != records.rend(); ++it) {
    auto b = Encode(*it);
    if (used + b.size() > capacity) break;
    used += static_cast<uint32_t>(b.size());
    encoded.push_back(std::move(b));
  }
  std::reverse(encoded.begin(), encoded.end());
  h.capacity = capacity;
  h.oldest = 0;
  h.wrap = 0;
  h.end = 0;
  h.count = 0;
  if (!records.empty()) h.next = std::max(h.next, records.back().recordNumber + 1);
  // Empty first, so a crash part-way leaves an empty log rather than a torn one.
  if (!WriteHeader(fd, h) || ftruncate(fd, kHeaderSize) != 0) return false;
  for (const auto& b : encoded) {
    if (!WriteAt(fd, b.data(), b.size(), kHeaderSize + h.end)) return false;
    h.end += static_cast<uint32_t>(b.size());
  }
  h.count = static_cast<uint32_t>(encoded.size());
  return WriteHeader(fd, h);
}

// Takes the file's header under an exclusive lock, creating or mending it,
// and brings the data area to the log's current size limit.
bool PrepareForWrite(int fd, const std::string& name, Header& h) {
  const uint32_t capacity = EventLog::SizeLimit(name) - kHeaderSize;
  if (!ReadHeader(fd, h)) {
    h = Header{};
    return Rewrite(fd, h, capacity, {});
  }
  // A file cut short (a full disk, a crash) keeps the records before the cut.
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  const bool cut = static_cast<uint64_t>(st.st_size) < uint64_t{kHeaderSize} + std::max(h.end, h.wrap);
  if (h.capacity == capacity && !cut) return true;
  return Rewrite(fd, h, capacity, LoadAll(fd, h));
}

class FileLock {
 public:
  FileLock(int fd, int how) : fd_(fd) {
    while ((ok_ = flock(fd, how) == 0) == false && errno == EINTR) {
    }
  }
  ~FileLock() {
    if (ok_) flock(fd_, LOCK_UN);
  }
  bool ok() const { return ok_; }

 private:
  int fd_;
  bool ok_;
};

void MirrorToSyslog(const std::string& source, uint16_t type, const std::vector<std::string>& strings) {
  int priority = type == kEventError ? LOG_ERR : type == kEventWarning ? LOG_WARNING : LOG_INFO;
  std::string text;
  for (const auto& s : strings) text += (text.empty() ? "" : " ") + s;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  syslog(LOG_DAEMON | priority, "%s: %s", source.c_str(), text.c_str());
}

bool Fail() {
  SetLastErrorFromErrno();
  return false;
}

}  // namespace

std::string EventLogDir() {
  const char* dir = std::getenv("KORVO_LOG_DIR");
  return dir && *dir ? dir : "/var/log/korvo";
}

std::string EventLogPath(const std::string& logName) { return EventLogDir() + "/" + logName + ".evt"; }

uint32_t EventLog::SizeLimit(const std::string& logName) {
  RegistryHiveData hive;
  const RegistryValue* v = nullptr;
  if (LoadRegistryHive(RegistryHive::LocalMachine, hive))
    v = hive.FindValue(std::string(kEventLogKey) + "\\" + logName, "MaxSize");
  if (!v || v->type != kRegDword || v->data.size() != 4) return kDefaultEventLogSize;
  return std::clamp(Get32(v->data.data()), kMinEventLogSize, kMaxEventLogSize);
}

EventLog::~EventLog() { Close(); }

bool EventLog::Open(const std::string& logName) {
  Close();
  if (logName.empty() || logName.find('/') != std::string::npos || logName[0] == '.') {
    SetLastError(EINVAL);
    return false;
  }
  std::error_code ec;
  std::filesystem::create_directories(EventLogDir(), ec);
  fd_ = open(EventLogPath(logName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0640);
  if (fd_ < 0) return Fail();
  name_ = logName;
  return true;
}

void EventLog::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool EventLog::Report(const std::string& source, uint16_t type, uint16_t category, uint32_t eventId,
                      const std::vector<std::string>& strings) {
  MirrorToSyslog(source, type, strings);
  if (fd_ < 0) {
    SetLastError(EBADF);
    return false;
  }
  FileLock lock(fd_, LOCK_EX);
  Header h;
  if (!lock.ok() || !PrepareForWrite(fd_, name_, h)) return Fail();
  EventRecord r;
  r.recordNumber = h.next;
  r.timeWritten = static_cast<uint32_t>(std::time(nullptr));
  r.eventId = eventId;
  r.type = type;
  r.category = category;
  r.source = source;
  r.strings = strings;
  const auto b = Encode(r);
  const auto len = static_cast<uint32_t>(b.size());
  if (b.size() > h.capacity) {
    SetLastError(EMSGSIZE);
    return false;
  }
  // Make room: past the end, the ring wraps; while wrapped, the oldest records
  // ahead of the write position are dropped.
  bool dropped = false;
  for (;;) {
    if (!h.wrap) {
      if (h.end + len <= h.capacity) break;
      if (h.count == 0) {
        h.oldest = h.end = 0;
        continue;
      }
      h.wrap = h.end;
      h.end = 0;
      dropped = true;
      continue;
    }
    if (h.end + len <= h.oldest) break;
    uint32_t old = LengthAt(fd_, h.oldest, h.wrap);
    if (old == 0 || h.count == 0) {
      // The older segment is damaged: let it go as a whole.
      h.count = 0;
      h.oldest = h.wrap;
    } else {
      h.oldest += old;
      --h.count;
    }
    if (h.oldest >= h.wrap) {
      h.wrap = 0;
      h.oldest = 0;
    }
    dropped = true;
  }
  // The dropped records leave the header before their bytes are overwritten.
  if (dropped && !WriteHeader(fd_, h)) return Fail();
  if (!WriteAt(fd_, b.data(), b.size(), kHeaderSize + h.end)) return Fail();
  h.end += len;
  ++h.count;
  h.next = r.recordNumber + 1;
  if (!WriteHeader(fd_, h)) return Fail();
  return true;
}

bool EventLog::ReadNewestFirst(const std::function<bool(const EventRecord&)>& visit) {
  if (fd_ < 0) {
    SetLastError(EBADF);
    return false;
  }
  std::vector<EventRecord> records;
  {
    FileLock lock(fd_, LOCK_SH);
    if (!lock.ok()) return Fail();
    Header h;
    if (ReadHeader(fd_, h)) records = LoadAll(fd_, h);
  }
  for (auto it = records.rbegin(); it != records.rend(); ++it)
    if (!visit(*it)) break;
  return true;
}

bool EventLog::Count(uint32_t& count) {
  count = 0;
  return ReadNewestFirst([&](const EventRecord&) {
    ++count;
    return true;
  });
}

bool EventLog::Clear() {
  if (fd_ < 0) {
    SetLastError(EBADF);
    return false;
  }
  FileLock lock(fd_, LOCK_EX);
  Header h;
  if (!lock.ok()) return Fail();
  if (!ReadHeader(fd_, h)) h = Header{};
  if (!Rewrite(fd_, h, SizeLimit(name_) - kHeaderSize, {})) return Fail();
  return true;
}

}  // namespace korvo::platform
