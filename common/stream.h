// Stream: the one channel type for all byte traffic, to files and over the
// server's pipe. Every operation reports failure as 0 (or -1 for positions)
// and keeps the system error in the stream's last error; nothing throws.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/file_io.h"

namespace korvo {

using Handle = platform::Handle;
inline constexpr Handle kInvalidHandle = platform::kInvalidHandle;

// Open parameters, with the values callers know from Windows.
inline constexpr uint32_t kGenericRead = 0x80000000u;
inline constexpr uint32_t kGenericWrite = 0x40000000u;
inline constexpr uint32_t kFileShareRead = 0x1;
inline constexpr uint32_t kFileShareWrite = 0x2;
inline constexpr uint32_t kCreateNew = platform::kCreateNew;
inline constexpr uint32_t kCreateAlways = platform::kCreateAlways;
inline constexpr uint32_t kOpenExisting = platform::kOpenExisting;
inline constexpr uint32_t kOpenAlways = platform::kOpenAlways;
inline constexpr uint32_t kTruncateExisting = platform::kTruncateExisting;
inline constexpr uint32_t kFileAttributeNormal = 0x80;
inline constexpr uint32_t kFileFlagOverlapped = 0x40000000u;
inline constexpr uint32_t kFileBegin = platform::kSeekBegin;
inline constexpr uint32_t kFileCurrent = platform::kSeekCurrent;
inline constexpr uint32_t kFileEnd = platform::kSeekEnd;

inline constexpr uint32_t kDefaultAccess = kGenericRead | kGenericWrite;
inline constexpr uint32_t kDefaultShare = kFileShareRead;

class Stream;

// Run-time class record: lets a link create a channel knowing only its class.
struct RuntimeClass {
  const char* className;
  uint32_t objectSize;
  uint32_t schema;
  Stream* (*createObject)();  // null for classes that cannot be created so
  const RuntimeClass* base;

  // A new object of the class, or null (no creation function, no memory).
  Stream* CreateObject() const;
  bool IsDerivedFrom(const RuntimeClass& other) const;
};

class Stream {
 public:
  static const RuntimeClass kRuntimeClass;

  // Owns its handle; opens at once when a name is given.
  Stream();
  explicit Stream(const char* name, uint32_t access = kDefaultAccess, uint32_t share = kDefaultShare,
                  uint32_t creation = kOpenExisting, uint32_t flags = kFileAttributeNormal);
  // Attaches to a handle it does not own: the destructor leaves it open.
  explicit Stream(Handle handle);
  virtual ~Stream();
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  virtual const RuntimeClass* GetRuntimeClass() const { return &kRuntimeClass; }

  // The share mode is accepted for the callers' sake; files are not locked.
  virtual int Open(const char* name, uint32_t access = kDefaultAccess, uint32_t share = kDefaultShare,
                   uint32_t creation = kOpenExisting, uint32_t flags = kFileAttributeNormal);
  // 0 when already closed; the handle is -1 afterwards in every case.
  virtual int Close();
  virtual int Create(const char* name);
  virtual int Delete();
  virtual int ConnectAndIntroduce(const char* name, uint32_t reserved);
  virtual int Disconnect();
  virtual int WaitForClient();
  virtual int GiveHandle(Stream& target);
  virtual int HandOver(Stream& target);
  // Copies the source's handle, not its ownership.
  virtual int TakeHandle(Stream* source);
  // At least one byte must come; a message longer than the buffer succeeds
  // with kErrorMoreData noted (and WasTruncated() true). End of file fails.
  virtual int Read(void* buffer, uint32_t count, uint32_t* done);
  // Every byte must go; writing 0 bytes fails.
  virtual int Write(const void* buffer, uint32_t count, uint32_t* done);
  // As Read and Write, then the completion is called with the error and count.
  using Completion = std::function<void(uint32_t error, uint32_t count)>;
  virtual int ReadEx(void* buffer, uint32_t count, const Completion& done);
  virtual int WriteEx(const void* buffer, uint32_t count, const Completion& done);
  virtual int ReadLine(char* buffer, uint32_t size);
  virtual int WriteLine(const char* text);
  virtual uint32_t GetSize();
  virtual int SetSize(uint32_t size);
  virtual int64_t Seek(int64_t distance, uint32_t method);
  virtual int64_t SeekToEnd();
  virtual int64_t SeekToBegin();
  virtual int64_t GetPosition();
  virtual int NoteErrorAndContinue();
  virtual int NoteError();
  // The system's text of the last error, cut to the buffer.
  virtual int GetErrorText(char* buffer, uint32_t size);
  virtual void ReportError(const std::function<void(const char*)>& callback);
  virtual uint32_t GetError() const { return lastError_; }

  int ReadByte(uint8_t* value);
  int ReadLong(uint32_t* value);
  // A 4-byte length (at most *capacity), then that many bytes; *capacity
  // becomes the length. 1 when the length is not 0.
  int ReadBlock(void* buffer, uint32_t* capacity);
  // A 4-byte length, then that many bytes; the text ends at the first NUL.
  int ReadString(std::string* text);
  int WriteByte(uint8_t value);
  int WriteLong(uint32_t value);
  // Length + 1, then the text with its NUL; a null text is written as "".
  int WriteString(const char* text);
  // count bytes as messages of block bytes, the last one shorter: every
  // block one Write (or Read, which must deliver the block whole). Channels
  // on a message socket send and receive many blocks in one system call.
  // *done counts the whole blocks; a short or longer block fails after them.
  virtual int WriteBlocks(const void* buffer, uint32_t count, uint32_t block, uint32_t* done);
  virtual int ReadBlocks(void* buffer, uint32_t count, uint32_t block, uint32_t* done);
  // Copies count bytes in blocks of 4096 (one message each on a channel); a
  // short block fails.
  int CopyTo(Stream& target, uint32_t count);

  Handle GetHandle() const { return handle_; }
  bool IsOpen() const { return handle_ != kInvalidHandle; }
  bool OwnsHandle() const { return ownsHandle_ != 0; }
  // Gives up the handle without closing it; the stream is closed afterwards.
  Handle ReleaseHandle();
  // The last Read delivered only the start of a longer message.
  bool WasTruncated() const { return truncated_; }

 protected:
  void SetHandle(Handle h);
  bool IsSocket();
  int FailWith(uint32_t error);
  // WriteBlocks and ReadBlocks on the handle's message socket, a batch of
  // messages per system call. ready (when given) is asked before every call,
  // as a channel's own Read and Write prepare theirs; false (with the error
  // set) ends the transfer.
  using CallReady = std::function<bool()>;
  int SendBlocksBatched(const void* buffer, uint32_t count, uint32_t block, uint32_t* done,
                        const CallReady& ready = nullptr);
  int ReceiveBlocksBatched(void* buffer, uint32_t count, uint32_t block, uint32_t* done,
                           const CallReady& ready = nullptr);

  int ownsHandle_ = 1;
  uint32_t lastError_ = 0;
  Handle handle_ = kInvalidHandle;
  bool truncated_ = false;

 private:
  int socketKind_ = -1;  // -1 not yet known
};

// A named disk file with line operations.
class TextFile : public Stream {
 public:
  TextFile() = default;
  ~TextFile() override = default;

  int Open(const char* name, uint32_t access = kDefaultAccess, uint32_t share = kDefaultShare,
           uint32_t creation = kOpenExisting, uint32_t flags = kFileAttributeNormal) override;
  // Read and write access, CREATE_ALWAYS.
  int Create(const char* name) override;
  // Deletes the file of the stored name.
  int Delete() override;
  // The text (skipped when empty), then CR LF.
  int WriteLine(const char* text) override;
  // One line without its LF; CR is dropped. A line longer than size - 1
  // ends after size bytes were consumed and the rest stays for the next call
  // (a byte read without room is put back), so the pieces join up to the
  // line.
  // 0 on a failed read or at end of file with nothing stored.
  int ReadLine(char* buffer, uint32_t size, uint32_t* count);
  int ReadLine(char* buffer, uint32_t size) override { return ReadLine(buffer, size, nullptr); }

  const std::string& GetFileName() const { return name_; }
  // Takes an open handle of the named file as its own (closed with the
  // file); the one held so far is closed first.
  void Adopt(Handle handle, const std::string& name);

 private:
  std::string name_;
};

}  // namespace korvo
