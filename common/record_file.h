// The file object of the record databases: binary slot I/O for Database and
// line-oriented record texts for the lists written from a database.
#pragma once

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>

namespace korvo {

// A file that could not be opened, read, written or sized; error is the errno.
class FileException : public std::runtime_error {
 public:
  FileException(const std::string& what, int error) : std::runtime_error(what), error_(error) {}
  int error() const { return error_; }

 private:
  int error_;
};

class RecordFile {
 public:
  enum OpenFlag : unsigned {
    kRead = 0x01,
    kWrite = 0x02,
    kReadWrite = kRead | kWrite,
    kCreate = 0x04,      // create the file; truncates it unless kNoTruncate
    kNoTruncate = 0x08,
    // Lines end in CR LF on disk, as the Windows text mode writes them; CR LF
    // reads back as a plain line end.
    kText = 0x10,
  };

  RecordFile() = default;
  ~RecordFile();
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;

  // True when the file can be opened for reading.
  static bool Exists(const std::string& path);

  void SetPath(std::string path) { path_ = std::move(path); }
  const std::string& GetPath() const { return path_; }
  void SetOpenFlags(unsigned flags) { flags_ = flags; }
  void SetLineLength(int length) { lineLength_ = length; }
  void SetStripNewline(bool strip) { stripNewline_ = strip; }

  // Opens the stored path with the stored flags, or the given ones; throws
  // FileException on failure.
  void Open();
  void Open(const std::string& path, unsigned flags);
  bool IsOpen() const { return file_ != nullptr; }
  bool AtEnd() const { return atEnd_; }
  // Closes when open; failures are swallowed.
  void Close();

  // Reads at most the line length; with strip-newline on, the text is cut at
  // the line end. False (and the end flag set) at the end of the file.
  bool ReadLine(std::string& line);
  // Writes the text and, with strip-newline on, a line end.
  void WriteLine(std::string_view text);
  // A line and its decimal value; false at the end of the file.
  bool ReadNumber(long& value);
  // n bytes; true when all of them came.
  bool ReadExact(void* buffer, std::size_t n);
  // Writes n bytes; throws FileException on failure.
  void Write(const void* buffer, std::size_t n);

  void Seek(int64_t offset);
  int64_t GetLength();
  void SetLength(int64_t length);

 private:
  [[noreturn]] void Fail(const char* what, int error) const;

  std::FILE* file_ = nullptr;
  int lineLength_ = 128;
  unsigned flags_ = kWrite;
  bool stripNewline_ = true;
  bool atEnd_ = false;
  std::string path_;
};

}  // namespace korvo
