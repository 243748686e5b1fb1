#include "common/record_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/file_io.h"
#include "platform/lasterror.h"

namespace korvo {

namespace {

// Created through the platform's open, so a new file is its owner's alone.
std::FILE* CreatePrivate(const std::string& path, bool truncate) {
  const platform::Handle h = platform::OpenFileHandle(path.c_str(), true, true,
                                                      truncate ? platform::kCreateAlways : platform::kOpenAlways);
  if (h == platform::kInvalidHandle) {
    errno = static_cast<int>(platform::GetLastError());
    return nullptr;
  }
  std::FILE* file = ::fdopen(h, "w+b");
  if (!file) {
    const int error = errno;
    platform::CloseHandle(h);
    errno = error;
  }
  return file;
}

}  // namespace

RecordFile::~RecordFile() { Close(); }

bool RecordFile::Exists(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::fclose(f);
  return true;
}

void RecordFile::Fail(const char* what, int error) const {
  throw FileException(std::string(what) + " '" + path_ + "': " + std::strerror(error), error);
}

void RecordFile::Open(const std::string& path, unsigned flags) {
  path_ = path;
  flags_ = flags;
  Open();
}

void RecordFile::Open() {
  Close();
  atEnd_ = false;
  errno = 0;
  const bool write = flags_ & kWrite;
  if (!write) {
    file_ = std::fopen(path_.c_str(), "rb");
  } else if (!(flags_ & kCreate)) {
    file_ = std::fopen(path_.c_str(), "r+b");
  } else if (flags_ & kNoTruncate) {
    file_ = std::fopen(path_.c_str(), "r+b");
    if (!file_ && errno == ENOENT) file_ = CreatePrivate(path_, false);
  } else {
    file_ = CreatePrivate(path_, true);
  }
  if (!file_) Fail("cannot open", errno ? errno : EIO);
}

void RecordFile::Close() {
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

bool RecordFile::ReadLine(std::string& line) {
  line.clear();
  if (!file_ || lineLength_ <= 1) return false;
  std::vector<char> buf(static_cast<std::size_t>(lineLength_));
  if (!std::fgets(buf.data(), lineLength_, file_)) {
    atEnd_ = true;
    return false;
  }
  line.assign(buf.data());
  if (stripNewline_) {
    const auto lf = line.find('\n');
    if (lf != std::string::npos) line.resize(lf);
    if ((flags_ & kText) && !line.empty() && line.back() == '\r') line.pop_back();
  }
  return true;
}

void RecordFile::WriteLine(std::string_view text) {
  Write(text.data(), text.size());
  if (stripNewline_) {
    if (flags_ & kText) Write("\r\n", 2);
    else Write("\n", 1);
  }
}

bool RecordFile::ReadNumber(long& value) {
  std::string line;
  if (!ReadLine(line)) return false;
  value = std::strtol(line.c_str(), nullptr, 10);
  return true;
}

bool RecordFile::ReadExact(void* buffer, std::size_t n) {
  if (!file_) return false;
  const std::size_t got = std::fread(buffer, 1, n, file_);
  if (got < n && std::feof(file_)) atEnd_ = true;
  return got == n;
}

void RecordFile::Write(const void* buffer, std::size_t n) {
  if (!file_) Fail("not open", EBADF);
  if (n && std::fwrite(buffer, 1, n, file_) != n) Fail("cannot write", errno ? errno : EIO);
}

void RecordFile::Seek(int64_t offset) {
  if (!file_) Fail("not open", EBADF);
  if (fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) Fail("cannot seek", errno);
  atEnd_ = false;
}

int64_t RecordFile::GetLength() {
  if (!file_) Fail("not open", EBADF);
  std::fflush(file_);
  std::error_code ec;
  const auto size = std::filesystem::file_size(path_, ec);
  if (ec) Fail("cannot size", ec.value());
  return static_cast<int64_t>(size);
}

void RecordFile::SetLength(int64_t length) {
  if (!file_) Fail("not open", EBADF);
  if (std::fflush(file_) != 0) Fail("cannot write", errno);
  std::error_code ec;
  std::filesystem::resize_file(path_, static_cast<std::uintmax_t>(length), ec);
  if (ec) Fail("cannot truncate", ec.value());
}

}  // namespace korvo
