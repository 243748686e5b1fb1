#include "platform/registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/lasterror.h"
#include "platform/trace.h"

namespace korvo::platform {

namespace {

unsigned char Fold(char c) {
  // '\' sorts before every other character so that a key's subkeys follow it
  // directly (tree order in the file).
  if (c == '\\') return 1;
  unsigned char u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u - 'A' + 'a') : u;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Fold(a[i]) != Fold(b[i])) return false;
  return true;
}

bool HasLineEnd(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

bool ValidKeyPath(std::string_view path) {
  if (path.empty()) return true;
  if (HasLineEnd(path) || path.find('\0') != std::string_view::npos) return false;
  size_t start = 0;
  for (;;) {
    size_t end = path.find('\\', start);
    if (end == start || start == path.size()) return false;  // empty component
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

// ---- text form -------------------------------------------------------------

void AppendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
}

void AppendHex(std::string& out, const std::vector<uint8_t>& data) {
  static const char kDigits[] = "0123456789abcdef";
  for (size_t i = 0; i < data.size(); ++i) {
    if (i) out += ',';
    out += kDigits[data[i] >> 4];
    out += kDigits[data[i] & 15];
  }
}

bool IsPlainString(const std::vector<uint8_t>& data) {
  if (data.empty() || data.back() != 0) return false;
  for (size_t i = 0; i + 1 < data.size(); ++i)
    if (data[i] == 0 || data[i] == '\r' || data[i] == '\n') return false;
  return true;
}

void AppendValue(std::string& out, std::string_view name, const RegistryValue& v) {
  if (name.empty()) out += '@';
  else AppendQuoted(out, name);
  out += '=';
  char buf[32];
  if (v.type == kRegSz && IsPlainString(v.data)) {
    AppendQuoted(out, std::string_view(reinterpret_cast<const char*>(v.data.data()), v.data.size() - 1));
  } else if (v.type == kRegDword && v.data.size() == 4) {
    uint32_t x = uint32_t(v.data[0]) | uint32_t(v.data[1]) << 8 | uint32_t(v.data[2]) << 16 | uint32_t(v.data[3]) << 24;
    std::snprintf(buf, sizeof buf, "dword:%08x", x);
    out += buf;
  } else {
    if (v.type == kRegBinary) out += "hex:";
    else {
      std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
      out += buf;
    }
    AppendHex(out, v.data);
  }
  out += '\n';
}

class Parser {
 public:
  explicit Parser(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string_view::npos) end = text.size();
      std::string_view line = text.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      lines_.push_back(line);
      start = end + 1;
    }
  }

  bool Run(RegistryHiveData& out, std::string_view root, size_t* errorLine) {
    out = RegistryHiveData();
    bool header = false;
    bool inKey = false;
    std::string key;
    for (line_ = 0; line_ < lines_.size(); ++line_) {
      std::string_view l = Trim(lines_[line_]);
      if (l.empty() || l[0] == ';') continue;
      if (!header) {
        if (l != "REGEDIT4") return Fail(errorLine);
        header = true;
      } else if (l[0] == '[') {
        if (l.back() != ']') return Fail(errorLine);
        std::string_view full = l.substr(1, l.size() - 2);
        if (!EqualNoCase(full.substr(0, root.size()), root)) return Fail(errorLine);
        std::string_view rest = full.substr(root.size());
        if (!rest.empty()) {
          if (rest[0] != '\\') return Fail(errorLine);
          rest.remove_prefix(1);
        }
        if (!out.CreateKey(rest)) return Fail(errorLine);
        key = rest;
        inKey = true;
      } else {
        if (!inKey) return Fail(errorLine);
        std::string name;
        RegistryValue value;
        size_t pos = 0;
        if (l[0] == '@') pos = 1;
        else if (!Quoted(l, pos, name) || name.empty()) return Fail(errorLine);
        if (pos >= l.size() || l[pos] != '=') return Fail(errorLine);
        ++pos;
        if (!Data(l, pos, value)) return Fail(errorLine);
        if (!out.SetValue(key, name, std::move(value))) return Fail(errorLine);
      }
    }
    return true;
  }

 private:
  static std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    return s;
  }

  bool Fail(size_t* errorLine) const {
    if (errorLine) *errorLine = line_ + 1;
    return false;
  }

  static bool Quoted(std::string_view l, size_t& pos, std::string& out) {
    if (pos >= l.size() || l[pos] != '"') return false;
    for (++pos; pos < l.size(); ++pos) {
      char c = l[pos];
      if (c == '"') {
        ++pos;
        return true;
      }
      if (c == '\\') {
        if (++pos >= l.size() || (l[pos] != '\\' && l[pos] != '"')) return false;
        c = l[pos];
      }
      out += c;
    }
    return false;
  }

  static bool StartsWithNoCase(std::string_view l, size_t pos, std::string_view word) {
    return EqualNoCase(l.substr(pos, word.size()), word);
  }

  static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  // Up to `max` hex digits at pos, at least one.
  static bool HexNumber(std::string_view l, size_t& pos, size_t max, uint32_t& out) {
    out = 0;
    size_t n = 0;
    while (pos < l.size() && n < max && HexDigit(l[pos]) >= 0) {
      out = out << 4 | static_cast<uint32_t>(HexDigit(l[pos]));
      ++pos;
      ++n;
    }
    return n > 0;
  }

  bool Data(std::string_view l, size_t pos, RegistryValue& v) {
    if (pos < l.size() && l[pos] == '"') {
      std::string text;
      if (!Quoted(l, pos, text) || pos != l.size()) return false;
      v.type = kRegSz;
      v.data.assign(text.begin(), text.end());
      v.data.push_back(0);
      return true;
    }
    if (StartsWithNoCase(l, pos, "dword:")) {
      pos += 6;
      uint32_t x;
      if (!HexNumber(l, pos, 8, x) || pos != l.size()) return false;
      v.type = kRegDword;
      v.data = {uint8_t(x), uint8_t(x >> 8), uint8_t(x >> 16), uint8_t(x >> 24)};
      return true;
    }
    if (!StartsWithNoCase(l, pos, "hex")) return false;
    pos += 3;
    v.type = kRegBinary;
    if (pos < l.size() && l[pos] == '(') {
      ++pos;
      if (!HexNumber(l, pos, 8, v.type) || pos >= l.size() || l[pos] != ')') return false;
      ++pos;
    }
    if (pos >= l.size() || l[pos] != ':') return false;
    ++pos;
    return HexBytes(l, pos, v.data);
  }

  // Comma-separated bytes; a line ending in '\' continues on the next line.
  bool HexBytes(std::string_view l, size_t pos, std::vector<uint8_t>& out) {
    bool expectByte = false;  // after a comma
    for (;;) {
      while (pos < l.size() && (l[pos] == ' ' || l[pos] == '\t')) ++pos;
      if (pos == l.size()) return !expectByte;
      if (l[pos] == '\\' && Trim(l.substr(pos + 1)).empty()) {
        if (line_ + 1 >= lines_.size()) return false;
        l = Trim(lines_[++line_]);
        pos = 0;
        continue;
      }
      if (!out.empty() && !expectByte) {
        if (l[pos] != ',') return false;
        ++pos;
        expectByte = true;
        continue;
      }
      uint32_t b;
      if (!HexNumber(l, pos, 2, b)) return false;
      out.push_back(static_cast<uint8_t>(b));
      expectByte = false;
    }
  }

  std::vector<std::string_view> lines_;
  size_t line_ = 0;
};

// ---- files -------------------------------------------------------------------

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

bool Lock(int fd, int how) {
  while (::flock(fd, how) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

std::string LockPath(const std::filesystem::path& hive) { return hive.string() + ".lock"; }

// Temporary files are "<hive>.tmp-XXXXXX".
constexpr std::string_view kTempInfix = ".tmp-";
constexpr size_t kTempSuffix = 6;

// Under the exclusive lock no writer is between creating its temporary file
// and renaming it, so any temporary file of this hive is left over from a
// writer that died: remove it.
void RemoveStaleTemporaries(const std::filesystem::path& hive) {
  std::string prefix = hive.filename().string() + std::string(kTempInfix);
  std::filesystem::path dir = hive.parent_path();
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir.empty() ? "." : dir, ec)) {
    std::string name = entry.path().filename().string();
    if (name.size() == prefix.size() + kTempSuffix && name.starts_with(prefix)) std::filesystem::remove(entry.path(), ec);
  }
}

mode_t DefaultMode(RegistryHive hive) { return hive == RegistryHive::LocalMachine ? 0644 : 0600; }

// Reads and parses the hive; the caller holds the lock (or has none to take).
bool ReadHive(RegistryHive hive, const std::filesystem::path& path, RegistryHiveData& out) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == ENOENT) {
      out = RegistryHiveData();
      return true;
    }
    SetLastErrorFromErrno();
    return false;
  }
  std::string text;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      SetLastErrorFromErrno();
      return false;
    }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  size_t line = 0;
  if (!out.Parse(text, RegistryRootName(hive), &line)) {
    char msg[512];
    std::snprintf(msg, sizeof msg, "Registry hive '%s' does not parse (line %zu); it is left as it is\n", path.c_str(), line);
    WriteTrace(msg);
    SetLastError(kErrorBadHive);
    return false;
  }
  return true;
}

bool WriteHive(RegistryHive hive, const std::filesystem::path& path, std::string_view text) {
  std::string tmp = path.string() + std::string(kTempInfix) + std::string(kTempSuffix, 'X');
  Fd fd(::mkostemp(tmp.data(), O_CLOEXEC));
  if (fd.get() < 0) {
    SetLastErrorFromErrno();
    return false;
  }
  struct stat st;
  mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : DefaultMode(hive);
  bool ok = ::fchmod(fd.get(), mode) == 0 && WriteAll(fd.get(), text) && ::fsync(fd.get()) == 0;
  if (ok) ok = ::close(fd.release()) == 0;
  if (ok) ok = ::rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) {
    SetLastErrorFromErrno();
    ::unlink(tmp.c_str());
    return false;
  }
  // Make the rename itself durable; the new hive is in place either way.
  std::filesystem::path dir = path.parent_path();
  Fd dfd(::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dfd.get() >= 0) ::fsync(dfd.get());
  return true;
}

}  // namespace

bool RegistryHiveData::PathLess::operator()(std::string_view a, std::string_view b) const {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = Fold(a[i]), y = Fold(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

bool RegistryHiveData::HasKey(std::string_view path) const { return path.empty() || keys_.find(path) != keys_.end(); }

bool RegistryHiveData::CreateKey(std::string_view path) {
  if (!ValidKeyPath(path)) {
    SetLastError(kErrorBadRegName);
    return false;
  }
  // The root exists without an entry: an entry for it would make a hive with an
  // empty root section differ from the same hive written back (which skips it).
  if (path.empty()) return true;
  for (size_t end = 0; end != std::string_view::npos;) {
    end = path.find('\\', end ? end + 1 : 0);
    std::string_view prefix = path.substr(0, end);
    if (keys_.find(prefix) == keys_.end()) keys_.emplace(std::string(prefix), Values());
  }
  return true;
}

bool RegistryHiveData::DeleteKey(std::string_view path) {
  if (path.empty()) {
    SetLastError(kErrorBadRegName);
    return false;
  }
  auto k = keys_.find(path);
  if (k == keys_.end()) {
    SetLastError(kErrorFileNotFound);
    return false;
  }
  // Names sharing the key's name as a prefix may sort between its subkeys,
  // so every key is looked at (hives are small).
  for (k = keys_.begin(); k != keys_.end();) {
    const std::string_view name = k->first;
    const bool below = name.size() == path.size() || (name.size() > path.size() && name[path.size()] == '\\');
    if (below && EqualNoCase(name.substr(0, path.size()), path)) k = keys_.erase(k);
    else ++k;
  }
  return true;
}

const RegistryValue* RegistryHiveData::FindValue(std::string_view key, std::string_view name) const {
  auto k = keys_.find(key);
  if (k == keys_.end()) return nullptr;
  for (auto& [n, v] : k->second)
    if (EqualNoCase(n, name)) return &v;
  return nullptr;
}

bool RegistryHiveData::SetValue(std::string_view key, std::string_view name, RegistryValue value) {
  if (HasLineEnd(name) || name.find('\0') != std::string_view::npos) {
    SetLastError(kErrorBadRegName);
    return false;
  }
  auto k = keys_.find(key);
  if (k == keys_.end()) {
    if (!key.empty()) {
      SetLastError(kErrorFileNotFound);
      return false;
    }
    k = keys_.emplace(std::string(), Values()).first;
  }
  for (auto& [n, v] : k->second) {
    if (EqualNoCase(n, name)) {
      v = std::move(value);
      return true;
    }
  }
  k->second.emplace_back(std::string(name), std::move(value));
  return true;
}

bool RegistryHiveData::Parse(std::string_view text, std::string_view root, size_t* errorLine) {
  return Parser(text).Run(*this, root, errorLine);
}

std::string RegistryHiveData::Serialize(std::string_view root) const {
  std::string out = "REGEDIT4\n\n";
  for (auto& [path, values] : keys_) {
    if (path.empty() && values.empty()) continue;
    out += '[';
    out += root;
    if (!path.empty()) {
      out += '\\';
      out += path;
    }
    out += "]\n";
    for (auto& [name, value] : values) AppendValue(out, name, value);
    out += '\n';
  }
  return out;
}

std::string_view RegistryRootName(RegistryHive hive) {
  return hive == RegistryHive::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

std::filesystem::path RegistryHivePath(RegistryHive hive) {
  auto env = [](const char* name) -> const char* {
    const char* v = std::getenv(name);
    return v && *v ? v : nullptr;
  };
  if (hive == RegistryHive::LocalMachine) {
    const char* p = env("KORVO_MACHINE_HIVE");
    return p ? p : "/etc/korvo/machine.reg";
  }
  if (const char* p = env("KORVO_USER_HIVE")) return p;
  if (const char* x = env("XDG_CONFIG_HOME"); x && x[0] == '/') return std::filesystem::path(x) / "korvo/user.reg";
  std::filesystem::path home;
  if (const char* h = env("HOME")) {
    home = h;
  } else {
    struct passwd pw, *found = nullptr;
    char buf[4096];
    if (getpwuid_r(::getuid(), &pw, buf, sizeof buf, &found) == 0 && found && found->pw_dir) home = found->pw_dir;
    else home = "/";
  }
  return home / ".config/korvo/user.reg";
}

bool LoadRegistryHive(RegistryHive hive, RegistryHiveData& out) {
  std::filesystem::path path = RegistryHivePath(hive);
  // Writers replace the hive by rename, so a reader without a lock file (none
  // written yet, or no right to create one) still sees a whole hive.
  Fd lock(::open(LockPath(path).c_str(), O_RDONLY | O_CLOEXEC));
  if (lock.get() >= 0 && !Lock(lock.get(), LOCK_SH)) {
    SetLastErrorFromErrno();
    return false;
  }
  return ReadHive(hive, path, out);
}

RegistryUpdate UpdateRegistryHive(RegistryHive hive, const std::function<bool(RegistryHiveData&)>& change) {
  std::filesystem::path path = RegistryHivePath(hive);
  if (path.has_parent_path()) {
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    if (ec) {
      SetLastError(static_cast<uint32_t>(ec.value()));
      return RegistryUpdate::kOpenFailed;
    }
  }
  Fd lock(::open(LockPath(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, DefaultMode(hive)));
  if (lock.get() < 0 || !Lock(lock.get(), LOCK_EX)) {
    SetLastErrorFromErrno();
    return RegistryUpdate::kOpenFailed;
  }
  RegistryHiveData data;
  if (!ReadHive(hive, path, data)) return RegistryUpdate::kOpenFailed;
  RemoveStaleTemporaries(path);
  if (!change(data)) return RegistryUpdate::kRefused;
  if (!WriteHive(hive, path, data.Serialize(RegistryRootName(hive)))) return RegistryUpdate::kWriteFailed;
  return RegistryUpdate::kDone;
}

}  // namespace korvo::platform
