#include "common/stream.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "platform/lasterror.h"

namespace korvo {

namespace {
Stream* NewStream() { return new (std::nothrow) Stream(); }
}  // namespace

const RuntimeClass Stream::kRuntimeClass = {"Stream", sizeof(Stream), 0xFFFF, &NewStream, nullptr};

Stream* RuntimeClass::CreateObject() const {
  if (!createObject) return nullptr;
  try {
    return createObject();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

bool RuntimeClass::IsDerivedFrom(const RuntimeClass& other) const {
  for (const RuntimeClass* c = this; c; c = c->base)
    if (c == &other) return true;
  return false;
}

Stream::Stream() = default;

Stream::Stream(const char* name, uint32_t access, uint32_t share, uint32_t creation, uint32_t flags) {
  if (name) Stream::Open(name, access, share, creation, flags);
}

Stream::Stream(Handle handle) : ownsHandle_(0) { SetHandle(handle); }

Stream::~Stream() {
  if (ownsHandle_ && handle_ != kInvalidHandle) Stream::Close();
}

void Stream::SetHandle(Handle h) {
  handle_ = h;
  socketKind_ = -1;
}

bool Stream::IsSocket() {
  if (socketKind_ < 0) socketKind_ = platform::IsSocketHandle(handle_) ? 1 : 0;
  return socketKind_ == 1;
}

int Stream::FailWith(uint32_t error) {
  platform::SetLastError(error);
  return NoteError();
}

Handle Stream::ReleaseHandle() {
  Handle h = handle_;
  SetHandle(kInvalidHandle);
  return h;
}

int Stream::Open(const char* name, uint32_t access, uint32_t, uint32_t creation, uint32_t) {
  // Reopening must not leak the handle held so far.
  if (handle_ != kInvalidHandle && ownsHandle_) Stream::Close();
  Handle h = platform::OpenFileHandle(name, (access & kGenericRead) != 0, (access & kGenericWrite) != 0, creation);
  if (h == kInvalidHandle) return NoteError();
  SetHandle(h);
  ownsHandle_ = 1;
  return 1;
}

int Stream::Close() {
  if (handle_ == kInvalidHandle) return 0;
  int ok = 1;
  if (!platform::IsValidHandle(handle_)) {
    platform::SetLastErrorFromErrno();
    ok = NoteError();
  } else if (!platform::CloseHandle(handle_)) {
    ok = NoteError();
  }
  SetHandle(kInvalidHandle);
  return ok;
}

int Stream::Create(const char*) { return 0; }
int Stream::Delete() { return 0; }
int Stream::ConnectAndIntroduce(const char*, uint32_t) { return 1; }
int Stream::Disconnect() { return 1; }
int Stream::WaitForClient() { return 1; }
int Stream::GiveHandle(Stream& target) { return target.TakeHandle(this); }
int Stream::HandOver(Stream& target) { return target.TakeHandle(this); }

int Stream::TakeHandle(Stream* source) {
  if (!source) return 0;
  SetHandle(source->handle_);
  return 1;
}

int Stream::Read(void* buffer, uint32_t count, uint32_t* done) {
  uint32_t got = 0;
  if (done) *done = 0;
  truncated_ = false;
  if (handle_ == kInvalidHandle) return 0;
  bool ok = platform::ReadHandle(handle_, IsSocket(), buffer, count, &got, &truncated_);
  if (done) *done = got;
  if (!ok) return NoteError();
  if (truncated_) {
    platform::SetLastError(platform::kErrorMoreData);
    return NoteErrorAndContinue();
  }
  return 1;
}

int Stream::Write(const void* buffer, uint32_t count, uint32_t* done) {
  uint32_t put = 0;
  if (done) *done = 0;
  if (handle_ == kInvalidHandle) return 0;
  bool ok = platform::WriteHandle(handle_, IsSocket(), buffer, count, &put);
  if (done) *done = put;
  return ok ? 1 : NoteError();
}

int Stream::ReadEx(void* buffer, uint32_t count, const Completion& completion) {
  if (handle_ == kInvalidHandle) return 0;
  uint32_t done = 0;
  int ok = Read(buffer, count, &done);
  if (completion) completion(ok ? 0 : lastError_, done);
  return ok;
}

int Stream::WriteEx(const void* buffer, uint32_t count, const Completion& completion) {
  if (handle_ == kInvalidHandle) return 0;
  uint32_t done = 0;
  int ok = Write(buffer, count, &done);
  if (completion) completion(ok ? 0 : lastError_, done);
  return ok;
}

int Stream::ReadLine(char*, uint32_t) { return 0; }
int Stream::WriteLine(const char*) { return 0; }

uint32_t Stream::GetSize() {
  uint64_t size = 0;
  if (handle_ == kInvalidHandle) return 0;
  if (!platform::HandleSize(handle_, &size)) {
    NoteError();
    return 0xFFFFFFFFu;
  }
  return static_cast<uint32_t>(size);
}

int Stream::SetSize(uint32_t size) {
  if (Seek(size, kFileBegin) < 0) return 0;
  if (!platform::TruncateHandle(handle_)) return NoteError();
  return 1;
}

int64_t Stream::Seek(int64_t distance, uint32_t method) {
  if (handle_ == kInvalidHandle) return 0;
  int64_t pos = platform::SeekHandle(handle_, distance, method);
  if (pos < 0) NoteError();
  return pos;
}

int64_t Stream::SeekToEnd() { return Seek(0, kFileEnd); }
int64_t Stream::SeekToBegin() { return Seek(0, kFileBegin); }
int64_t Stream::GetPosition() { return Seek(0, kFileCurrent); }

int Stream::NoteErrorAndContinue() {
  lastError_ = platform::GetLastError();
  return 1;
}

int Stream::NoteError() {
  lastError_ = platform::GetLastError();
  return 0;
}

int Stream::GetErrorText(char* buffer, uint32_t size) {
  if (!buffer || size == 0) return 0;
  std::string text = platform::SystemErrorText(lastError_);
  size_t n = std::min<size_t>(text.size(), size - 1);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return 1;
}

void Stream::ReportError(const std::function<void(const char*)>& callback) {
  char text[256];
  GetErrorText(text, sizeof text);
  if (callback) callback(text);
}

int Stream::ReadByte(uint8_t* value) {
  uint32_t done = 0;
  return Read(value, 1, &done) && done == 1;
}

int Stream::ReadLong(uint32_t* value) {
  uint8_t b[4];
  uint32_t done = 0;
  if (!Read(b, 4, &done) || done != 4) return 0;
  *value = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
  return 1;
}

int Stream::ReadBlock(void* buffer, uint32_t* capacity) {
  uint32_t length = 0;
  if (!ReadLong(&length) || length > *capacity) return 0;
  *capacity = length;
  if (length == 0) return 0;
  uint32_t got = 0;
  auto* p = static_cast<uint8_t*>(buffer);
  while (got < length) {
    uint32_t done = 0;
    if (!Read(p + got, length - got, &done)) return 0;
    got += done;
  }
  return 1;
}

int Stream::ReadString(std::string* text) {
  uint32_t length = 0;
  if (!ReadLong(&length)) return 0;
  // The length comes from outside: grow with the bytes that really arrive.
  std::string s;
  char block[4096];
  while (s.size() < length) {
    uint32_t want = static_cast<uint32_t>(std::min<size_t>(sizeof block, length - s.size()));
    uint32_t done = 0;
    if (!Read(block, want, &done)) return 0;
    s.append(block, done);
  }
  if (auto nul = s.find('\0'); nul != std::string::npos) s.resize(nul);
  *text = std::move(s);
  return 1;
}

int Stream::WriteByte(uint8_t value) {
  uint32_t done = 0;
  return Write(&value, 1, &done);
}

int Stream::WriteLong(uint32_t value) {
  uint8_t b[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
                  static_cast<uint8_t>(value >> 24)};
  uint32_t done = 0;
  return Write(b, 4, &done);
}

int Stream::WriteString(const char* text) {
  if (!text) text = "";
  uint32_t length = static_cast<uint32_t>(std::strlen(text)) + 1;
  uint32_t done = 0;
  return WriteLong(length) && Write(text, length, &done);
}

int Stream::WriteBlocks(const void* buffer, uint32_t count, uint32_t block, uint32_t* done) {
  *done = 0;
  const auto* p = static_cast<const char*>(buffer);
  while (*done < count) {
    const uint32_t piece = std::min(block, count - *done);
    uint32_t put = 0;
    if (!Write(p + *done, piece, &put)) return 0;
    *done += piece;
  }
  return 1;
}

int Stream::ReadBlocks(void* buffer, uint32_t count, uint32_t block, uint32_t* done) {
  *done = 0;
  auto* p = static_cast<char*>(buffer);
  while (*done < count) {
    const uint32_t want = std::min(block, count - *done);
    uint32_t got = 0;
    if (!Read(p + *done, want, &got)) return 0;
    // A short block, or a message socket dropping the rest of a longer
    // message, would be lost data.
    if (got < want || truncated_) return FailWith(got < want ? platform::kErrorHandleEof : platform::kErrorMoreData);
    *done += got;
  }
  return 1;
}

int Stream::SendBlocksBatched(const void* buffer, uint32_t count, uint32_t block, uint32_t* done,
                              const CallReady& ready) {
  *done = 0;
  if (handle_ == kInvalidHandle) return 0;
  if (!IsSocket()) return Stream::WriteBlocks(buffer, count, block, done);
  const auto* p = static_cast<const char*>(buffer);
  while (*done < count) {
    if (ready && !ready()) return NoteError();
    uint32_t put = 0;
    const bool ok = platform::SendMessages(handle_, p + *done, count - *done, block, &put);
    *done += put;
    if (!ok) return NoteError();
  }
  return 1;
}

int Stream::ReceiveBlocksBatched(void* buffer, uint32_t count, uint32_t block, uint32_t* done,
                                 const CallReady& ready) {
  *done = 0;
  truncated_ = false;
  if (handle_ == kInvalidHandle) return 0;
  if (!IsSocket()) return Stream::ReadBlocks(buffer, count, block, done);
  auto* p = static_cast<char*>(buffer);
  while (*done < count) {
    if (ready && !ready()) return NoteError();
    uint32_t got = 0;
    const bool ok = platform::ReceiveMessages(handle_, p + *done, count - *done, block, &got);
    *done += got;
    if (!ok) {
      truncated_ = platform::GetLastError() == platform::kErrorMoreData;
      return NoteError();
    }
  }
  return 1;
}

int Stream::CopyTo(Stream& target, uint32_t count) {
  // On a channel every block of 4096 bytes is one message; a file is read
  // and written in batches of blocks, which saves most of the system calls,
  // and a channel sends and receives a batch in as few calls as it can.
  constexpr uint32_t kBlock = 4096;
  constexpr uint32_t kBatch = 16 * kBlock;
  const bool fileSource = handle_ != kInvalidHandle && !IsSocket();
  const bool fileTarget = target.handle_ != kInvalidHandle && !target.IsSocket();
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kBatch]);
  if (!buffer) return FailWith(ENOMEM);
  uint32_t copied = 0;
  while (copied < count) {
    const uint32_t chunk = std::min(kBatch, count - copied);
    uint32_t filled = 0;
    bool ok = true;
    if (fileSource) {
      while (ok && filled < chunk) {
        uint32_t done = 0;
        if (!Read(buffer.get() + filled, chunk - filled, &done)) {
          ok = false;
        } else if (done < chunk - filled) {
          // The file ended early (it shrank since its size was sent).
          FailWith(platform::kErrorHandleEof);
          ok = false;
        } else {
          filled += done;
        }
      }
    } else {
      ok = ReadBlocks(buffer.get(), chunk, kBlock, &filled) != 0;
    }
    // Whole blocks that came before a failure are kept.
    if (filled != 0) {
      uint32_t put = 0;
      if (!(fileTarget ? target.Write(buffer.get(), filled, &put) : target.WriteBlocks(buffer.get(), filled, kBlock, &put)))
        return 0;
    }
    if (!ok) return 0;
    copied += filled;
  }
  return 1;
}

int TextFile::Open(const char* name, uint32_t access, uint32_t share, uint32_t creation, uint32_t flags) {
  if (name) name_ = name;
  return Stream::Open(name_.c_str(), access, share, creation, flags);
}

int TextFile::Create(const char* name) {
  if (name) name_ = name;
  return Stream::Open(name_.c_str(), kGenericRead | kGenericWrite, kFileShareRead, kCreateAlways, kFileAttributeNormal);
}

void TextFile::Adopt(Handle handle, const std::string& name) {
  if (handle_ != kInvalidHandle && ownsHandle_) Stream::Close();
  SetHandle(handle);
  ownsHandle_ = 1;
  name_ = name;
}

int TextFile::Delete() {
  if (!platform::DeleteFileByName(name_.c_str())) return NoteError();
  return 1;
}

int TextFile::WriteLine(const char* text) {
  uint32_t done = 0;
  if (text && *text && !Write(text, static_cast<uint32_t>(std::strlen(text)), &done)) return 0;
  return Write("\r\n", 2, &done);
}

int TextFile::ReadLine(char* buffer, uint32_t size, uint32_t* count) {
  if (!buffer || size == 0) return 0;
  uint32_t stored = 0;
  uint32_t consumed = 0;
  while (consumed < size) {
    char c;
    uint32_t done = 0;
    bool truncated = false;
    bool ok = handle_ != kInvalidHandle && platform::ReadHandle(handle_, IsSocket(), &c, 1, &done, &truncated);
    if (count) *count = done;
    if (!ok) {
      if (handle_ != kInvalidHandle && platform::GetLastError() == platform::kErrorHandleEof) break;
      NoteError();
      buffer[0] = '\0';
      return 0;
    }
    ++consumed;
    if (c == '\n') {
      buffer[std::min(stored, size - 1)] = '\0';
      return 1;
    }
    if (c == '\r') continue;
    if (stored == size - 1 && stored > 0) {
      // No room left: the byte goes back to the file for the next call, so
      // the pieces of a long line join up to the whole line. (With size 1
      // nothing can ever be stored, and the byte is dropped to get on.)
      Seek(-1, kFileCurrent);
      break;
    }
    if (stored < size - 1) buffer[stored++] = c;
  }
  stored = std::min(stored, size - 1);
  buffer[stored] = '\0';
  if (consumed < size && stored == 0) {
    platform::SetLastError(platform::kErrorHandleEof);
    NoteError();
    return 0;
  }
  return 1;
}

}  // namespace korvo
