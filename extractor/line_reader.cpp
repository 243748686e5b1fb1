#include "extractor/line_reader.h"

#include <algorithm>
#include <exception>

namespace korvo::numsnip {

LineReader::LineReader(std::istream& in, size_t bufferSize) : in_(in), buffer_(std::max<size_t>(bufferSize, 1)) {}

bool LineReader::Fill() {
  if (eof_) return false;
  // One read of the underlying file at most, so a line shows as soon as it
  // arrives (a pipe need not fill the buffer first).
  std::streambuf* source = in_.rdbuf();
  try {
    if (!source || source->sgetc() == std::char_traits<char>::eof()) {
      eof_ = true;
      return false;
    }
    std::streamsize ready = std::max<std::streamsize>(source->in_avail(), 1);
    end_ = size_t(source->sgetn(buffer_.data(), std::min<std::streamsize>(ready, std::streamsize(buffer_.size()))));
  } catch (const std::exception&) {
    // The file buffer reports a failed read by throwing.
    failed_ = eof_ = true;
    return false;
  }
  pos_ = 0;
  if (end_ == 0) eof_ = true;
  return end_ > 0;
}

bool LineReader::Next(std::string& line) {
  line.clear();
  bool any = false;  // a line has begun (an empty line ended by its end counts)
  while (true) {
    if (pos_ == end_ && !Fill()) return any && !failed_;
    if (afterCr_) {
      afterCr_ = false;
      if (buffer_[pos_] == '\n') {
        ++pos_;
        continue;
      }
    }
    const char* begin = buffer_.data() + pos_;
    const char* limit = buffer_.data() + end_;
    const char* stop = std::find_if(begin, limit, [](char c) { return c == '\n' || c == '\r'; });
    line.append(begin, stop);
    pos_ += size_t(stop - begin);
    any = true;
    if (pos_ < end_) {
      afterCr_ = buffer_[pos_] == '\r';
      ++pos_;
      return true;
    }
  }
}

}  // namespace korvo::numsnip
