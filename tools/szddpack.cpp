// szddpack: compresses files for the installation media in the SZDD format
// of COMPRESS.EXE, which KvCopy (libmspack) and msexpand expand.
//   szddpack FILE...
// Each FILE is written compressed beside it under its name with the last
// character replaced by '_' (the character is kept in the header), with the
// FILE's mode bits; FILE itself stays.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr size_t kWindow = 4096;
constexpr size_t kMinMatch = 3;
constexpr size_t kMaxMatch = 18;
// Where the expander's window (filled with blanks) starts writing.
constexpr size_t kWindowStart = kWindow - 16;
constexpr size_t kMaxChain = 512;

// LZSS as COMPRESS.EXE writes it: groups of eight items after a flag byte
// (bit set: a literal byte; clear: a window position of 12 bits and a length
// of 3 to 18). Matches reach back within the window and may overlap the
// bytes they produce, which the expander copies one at a time.
std::string Pack(const std::string& in) {
  std::string out;
  std::vector<int64_t> head(1 << 16, -1), prev(in.size(), -1);
  auto hash = [&](size_t i) {
    return ((static_cast<unsigned char>(in[i]) << 8) ^ (static_cast<unsigned char>(in[i + 1]) << 4) ^
            static_cast<unsigned char>(in[i + 2])) & 0xFFFF;
  };
  auto insert = [&](size_t i) {
    if (i + kMinMatch > in.size()) return;
    size_t h = hash(i);
    prev[i] = head[h];
    head[h] = static_cast<int64_t>(i);
  };
  size_t flagAt = 0;
  int items = 8;
  size_t i = 0;
  while (i < in.size()) {
    if (items == 8) {
      flagAt = out.size();
      out += '\0';
      items = 0;
    }
    size_t bestLen = 0, bestAt = 0;
    if (i + kMinMatch <= in.size()) {
      size_t chain = 0;
      for (int64_t c = head[hash(i)]; c >= 0 && i - static_cast<size_t>(c) < kWindow && chain < kMaxChain;
           c = prev[static_cast<size_t>(c)], ++chain) {
        size_t len = 0;
        while (len < kMaxMatch && i + len < in.size() && in[static_cast<size_t>(c) + len] == in[i + len]) ++len;
        if (len > bestLen) {
          bestLen = len;
          bestAt = static_cast<size_t>(c);
          if (len == kMaxMatch) break;
        }
      }
    }
    if (bestLen >= kMinMatch) {
      const size_t pos = (kWindowStart + bestAt) % kWindow;
      out += static_cast<char>(pos & 0xFF);
      out += static_cast<char>(((pos >> 4) & 0xF0) | (bestLen - kMinMatch));
      for (size_t k = 0; k < bestLen; ++k) insert(i + k);
      i += bestLen;
    } else {
      out[flagAt] = static_cast<char>(out[flagAt] | (1 << items));
      out += in[i];
      insert(i);
      ++i;
    }
    ++items;
  }
  return out;
}

bool PackFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  struct stat st{};
  if (!file || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    std::fprintf(stderr, "szddpack: %s: cannot read it\n", path.c_str());
    return false;
  }
  const size_t slash = path.rfind('/');
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  if (base.empty() || base.back() == '_') {
    std::fprintf(stderr, "szddpack: %s: the name already ends in '_'\n", path.c_str());
    return false;
  }
  const std::string data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (data.size() > 0xFFFFFFFFu) {
    std::fprintf(stderr, "szddpack: %s: too large\n", path.c_str());
    return false;
  }
  std::string out = std::string("SZDD\x88\xF0\x27\x33", 8) + 'A' + path.back();
  const uint32_t size = static_cast<uint32_t>(data.size());
  for (int b = 0; b < 4; ++b) out += static_cast<char>((size >> (8 * b)) & 0xFF);
  out += Pack(data);

  const std::string target = path.substr(0, path.size() - 1) + "_";
  const std::string temp = target + ".tmp";
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  bool ok = fd >= 0 && write(fd, out.data(), out.size()) == static_cast<ssize_t>(out.size()) &&
            fchmod(fd, st.st_mode & 07777) == 0;
  if (fd >= 0 && close(fd) != 0) ok = false;
  if (ok && rename(temp.c_str(), target.c_str()) != 0) ok = false;
  if (!ok) {
    std::fprintf(stderr, "szddpack: %s: %s\n", target.c_str(), std::strerror(errno));
    unlink(temp.c_str());
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: szddpack FILE...\n");
    return 2;
  }
  bool ok = true;
  for (int i = 1; i < argc; ++i) ok = PackFile(argv[i]) && ok;
  return ok ? 0 : 1;
}
