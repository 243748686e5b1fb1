#include "platform/lz_expand.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" {
#include <mspack.h>
}

#include "platform/lasterror.h"

namespace korvo::platform {

namespace {

char Fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool Matches(const std::string& name, const std::string& pattern) {
  size_t i = 0;
  for (size_t p = 0; p < pattern.size(); ++p) {
    if (i == name.size()) return p + 1 == pattern.size() && pattern[p] == '?';
    if (pattern[p] != '?' && Fold(pattern[p]) != Fold(name[i])) return false;
    ++i;
  }
  return i == name.size();
}

bool NameBefore(const std::string& a, const std::string& b) {
  for (size_t i = 0; i < a.size() && i < b.size(); ++i)
    if (Fold(a[i]) != Fold(b[i])) return Fold(a[i]) < Fold(b[i]);
  return a.size() != b.size() ? a.size() < b.size() : a < b;
}

constexpr unsigned char kSzdd[] = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33};
constexpr unsigned char kSzddQBasic[] = {'S', 'Z', ' ', 0x88, 0xF0, 0x27, 0x33, 0xD1};

// errno of a failed open, as the copy reports it.
uint32_t OpenError(int e) {
  if (e == EMFILE || e == ENFILE) return EMFILE;
  if (e == ENOMEM) return ENOMEM;
  return ENOENT;
}

// libmspack reads and writes through the two open descriptors of one copy.
// Its expander hands over one byte per write, so the bytes are gathered
// here and written in large pieces.
constexpr size_t kWriteChunk = 1 << 16;
struct FdSystem {
  mspack_system sys;
  int in;
  int out;
  // The header's size: what the stream produces beyond it is not the file's.
  long long limit = 0;
  long long produced = 0;
  int writeErrno = 0;
  size_t pending = 0;
  char gathered[kWriteChunk];
};

// Writes what has gathered; false (with writeErrno) when the write fails.
bool Flush(FdSystem& s) {
  const char* p = s.gathered;
  while (s.pending > 0) {
    ssize_t n = write(s.out, p, s.pending);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      s.writeErrno = n < 0 ? errno : ENOSPC;
      return false;
    }
    p += n;
    s.pending -= static_cast<size_t>(n);
  }
  return true;
}

struct FdFile {
  int fd;
  FdSystem* owner;
};

mspack_file* SysOpen(mspack_system* self, const char*, int mode) {
  auto* s = reinterpret_cast<FdSystem*>(self);
  if (mode != MSPACK_SYS_OPEN_READ && mode != MSPACK_SYS_OPEN_WRITE) return nullptr;
  auto* f = static_cast<FdFile*>(std::malloc(sizeof(FdFile)));
  if (!f) return nullptr;
  f->fd = mode == MSPACK_SYS_OPEN_READ ? s->in : s->out;
  f->owner = s;
  return reinterpret_cast<mspack_file*>(f);
}
void SysClose(mspack_file* file) { std::free(file); }
int SysRead(mspack_file* file, void* buffer, int bytes) {
  auto* f = reinterpret_cast<FdFile*>(file);
  for (;;) {
    ssize_t n = read(f->fd, buffer, static_cast<size_t>(bytes));
    if (n >= 0 || errno != EINTR) return static_cast<int>(n);
  }
}
int SysWrite(mspack_file* file, void* buffer, int bytes) {
  FdSystem& s = *reinterpret_cast<FdFile*>(file)->owner;
  auto* p = static_cast<const char*>(buffer);
  const long long room = s.limit - s.produced;
  size_t keep = static_cast<size_t>(bytes < room ? bytes : room > 0 ? room : 0);
  s.produced += bytes;
  while (keep > 0) {
    const size_t n = std::min(keep, kWriteChunk - s.pending);
    std::memcpy(s.gathered + s.pending, p, n);
    s.pending += n;
    p += n;
    keep -= n;
    if (s.pending == kWriteChunk && !Flush(s)) return -1;
  }
  return bytes;
}
// The output's place counts the bytes still gathered.
bool FlushIfOutput(FdFile* f) { return f->fd != f->owner->out || Flush(*f->owner); }
int SysSeek(mspack_file* file, off_t offset, int mode) {
  if (!FlushIfOutput(reinterpret_cast<FdFile*>(file))) return -1;
  int whence = mode == MSPACK_SYS_SEEK_START ? SEEK_SET : mode == MSPACK_SYS_SEEK_CUR ? SEEK_CUR : SEEK_END;
  return lseek(reinterpret_cast<FdFile*>(file)->fd, offset, whence) < 0 ? -1 : 0;
}
off_t SysTell(mspack_file* file) {
  auto* f = reinterpret_cast<FdFile*>(file);
  return FlushIfOutput(f) ? lseek(f->fd, 0, SEEK_CUR) : -1;
}
void SysMessage(mspack_file*, const char*, ...) {}
void* SysAlloc(mspack_system*, size_t bytes) { return std::malloc(bytes); }
void SysFree(void* p) { std::free(p); }
void SysCopy(void* src, void* dest, size_t bytes) { std::memcpy(dest, src, bytes); }

// Expands the SZDD stream of in into out; 0 or the errno to report.
uint32_t Expand(int in, int out) {
  FdSystem s{{SysOpen, SysClose, SysRead, SysWrite, SysSeek, SysTell, SysMessage, SysAlloc, SysFree, SysCopy, nullptr},
             in, out, 0, 0, 0, 0, {}};
  msszdd_decompressor* szdd = mspack_create_szdd_decompressor(&s.sys);
  if (!szdd) return ENOMEM;
  uint32_t error = 0;
  msszddd_header* header = szdd->open(szdd, "");
  if (!header) {
    error = szdd->last_error(szdd) == MSPACK_ERR_NOMEMORY ? ENOMEM : EIO;
  } else {
    s.limit = header->length;
    int rc = szdd->extract(szdd, header, "");
    if (rc == MSPACK_ERR_OK && !Flush(s)) rc = MSPACK_ERR_WRITE;
    if (rc == MSPACK_ERR_WRITE) error = static_cast<uint32_t>(s.writeErrno ? s.writeErrno : EIO);
    else if (rc == MSPACK_ERR_NOMEMORY) error = ENOMEM;
    else if (rc != MSPACK_ERR_OK) error = EIO;
    // libmspack expands until the stream ends, early or late, without
    // complaint: the header's size says what the file holds, and a stream
    // that ends before it is a read fault. (mscompress pads short files.)
    else if (s.produced < s.limit) error = EIO;
    szdd->close(szdd, header);
  }
  mspack_destroy_szdd_decompressor(szdd);
  return error;
}

uint32_t CopyPlain(int in, int out) {
  std::vector<char> buffer(65536);
  for (;;) {
    ssize_t n = read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return EIO;
    if (n == 0) return 0;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = write(out, buffer.data() + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return static_cast<uint32_t>(w < 0 ? errno : ENOSPC);
      done += w;
    }
  }
}

bool HasSignature(int fd) {
  unsigned char head[8];
  ssize_t n = pread(fd, head, sizeof head, 0);
  return n == static_cast<ssize_t>(sizeof head) &&
         (std::memcmp(head, kSzdd, sizeof head) == 0 || std::memcmp(head, kSzddQBasic, sizeof head) == 0);
}

}  // namespace

std::string FindFirstMatch(const std::string& folder, const std::string& pattern) {
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return {};
  std::string best;
  while (dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == ".." || !Matches(name, pattern)) continue;
    if (best.empty() || NameBefore(name, best)) best = name;
  }
  closedir(dir);
  return best;
}

bool IsCompressedFile(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool compressed = HasSignature(fd);
  close(fd);
  return compressed;
}

bool ExpandFile(const std::string& source, const std::string& destination) {
  int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st{};
  if (in < 0 || fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    SetLastError(in < 0 ? OpenError(errno) : ENOENT);
    if (in >= 0) close(in);
    return false;
  }
  std::string temp = destination + ".XXXXXX";
  int out = mkostemp(temp.data(), O_CLOEXEC);
  if (out < 0) {
    SetLastError(OpenError(errno));
    close(in);
    return false;
  }
  uint32_t error = HasSignature(in) ? Expand(in, out) : CopyPlain(in, out);
  if (!error && fchmod(out, st.st_mode & 07777) != 0) error = static_cast<uint32_t>(errno);
  if (!error && fsync(out) != 0) error = static_cast<uint32_t>(errno);
  if (close(out) != 0 && !error) error = static_cast<uint32_t>(errno);
  close(in);
  if (!error && rename(temp.c_str(), destination.c_str()) != 0) error = OpenError(errno);
  if (error) {
    unlink(temp.c_str());
    SetLastError(error);
    return false;
  }
  return true;
}

}  // namespace korvo::platform
