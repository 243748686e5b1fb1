#include "server/syslog.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "common/settings.h"
#include "common/status_codes.h"
#include "common/trace.h"
#include "platform/eventlog.h"
#include "platform/lasterror.h"
#include "platform/registry.h"
#include "server/trace.h"

namespace korvo {

namespace {

std::atomic<bool> gConsoleEcho{false};

struct StringResource {
  uint32_t id;
  const char* english;
  const char* croatian;
};

constexpr StringResource kStrings[] = {
    {SysLog::kStringNoPermissions, "[%s] User has no permissions", "[%s] Korisnik nema ovlasti"},
    {SysLog::kStringOperationFailed, "[%s] Operation '%s' failed.", "[%s] Operacija '%s' nije uspjela."},
};

bool WantsCroatian() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) return std::strncmp(value, "hr", 2) == 0;
  }
  return false;
}

// vsnprintf into 256 bytes, then back to the last whole UTF-8 character when
// the text was cut.
void FormatEntry(char (&text)[256], const char* format, va_list args) {
  int n = std::vsnprintf(text, sizeof text, format, args);
  if (n < static_cast<int>(sizeof text)) return;
  size_t len = sizeof text - 1;
  size_t start = len;
  while (start > 0 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80) --start;
  if (start > 0) {
    unsigned char lead = static_cast<unsigned char>(text[start - 1]);
    size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (lead >= 0xC0 && len - (start - 1) < need) text[start - 1] = 0;
  }
}

}  // namespace

void SysLog::SetConsoleEcho(bool on) { gConsoleEcho = on; }

SysLog::SysLog(const char*, uint32_t maxSize, int* ok) {
  using namespace platform;
  const std::string logKey = std::string(kEventLogKey) + "\\" + kLogName;
  const std::string sourceKey = std::string(kEventLogKey) + "\\System\\" + kSourceName;
  char core[260];
  const bool haveCore = KvGetKorvoCoreName(core, sizeof core) == 1;
  auto dword = [](uint32_t v) {
    return RegistryValue{kRegDword, {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}};
  };
  // Only what is missing is written; values already there stay as they are.
  // False when the log's own key cannot be made.
  bool changed = false;
  auto fill = [&](RegistryHiveData& hive) {
    changed = false;
    auto add = [&](const std::string& key, const char* name, RegistryValue value) {
      if (hive.FindValue(key, name)) return;
      changed = hive.SetValue(key, name, std::move(value)) || changed;
    };
    if (!hive.HasKey(logKey)) {
      if (!hive.CreateKey(logKey)) return false;
      changed = true;
    }
    add(logKey, "MaxSize", dword(maxSize));
    add(logKey, "Retention", dword(0));
    if (!hive.HasKey(sourceKey) && hive.CreateKey(sourceKey)) changed = true;
    if (hive.HasKey(sourceKey)) {
      if (haveCore) add(sourceKey, "EventMessageFile", RegistryValue{kRegSz, {core, core + std::strlen(core) + 1}});
      add(sourceKey, "TypesSupported", dword(7));
    }
    return true;
  };
  RegistryHiveData current;
  bool done = LoadRegistryHive(RegistryHive::LocalMachine, current) && fill(current) && !changed;
  if (!done) {
    // The change is made again on the hive as it is under the write lock.
    done = UpdateRegistryHive(RegistryHive::LocalMachine, [&](RegistryHiveData& hive) { return fill(hive) && changed; }) ==
           RegistryUpdate::kDone;
  }
  if (!done) {
    DebugPrint("Could not init EventLog %d\n", static_cast<int>(GetLastError()));
    *ok = 0;
    return;
  }
  *ok = 1;
}

void SysLog::Write(uint16_t type, const char* format, va_list args) {
  char text[256];
  FormatEntry(text, format, args);
  if (gConsoleEcho) {
    std::printf("%s\n", text);
    std::fflush(stdout);
  }
  platform::LastErrorGuard keep;
  platform::EventLog log;
  // An entry that cannot be stored is lost without a message.
  if (log.Open(kLogName)) log.Report(kLogName, type, 1, kEventId, {text});
}

void SysLog::Info(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Write(platform::kEventInformation, format, args);
  va_end(args);
}

void SysLog::Error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Write(platform::kEventError, format, args);
  va_end(args);
}

void SysLog::ErrorFromResource(uint32_t stringId, ...) {
  const char* format = ResourceFormat(stringId);
  if (!format) return;
  va_list args;
  va_start(args, stringId);
  Write(platform::kEventError, format, args);
  va_end(args);
}

const char* SysLog::ResourceFormat(uint32_t stringId) {
  for (const auto& s : kStrings)
    if (s.id == stringId) return WantsCroatian() ? s.croatian : s.english;
  return nullptr;
}

Status SysLog::DumpToFile(const char* fileName) {
  std::FILE* file = fileName ? std::fopen(fileName, "r+b") : nullptr;
  if (!file) return kStatusInternalError;
  platform::EventLog log;
  if (!log.Open(kLogName)) {
    std::fclose(file);
    return kStatusOpenEventLog;
  }
  std::string out;
  uint32_t lines = 0;
  log.ReadNewestFirst([&](const platform::EventRecord& r) {
    if (r.eventId != kEventId || r.strings.size() != 1) return true;
    // The field mark and line ends in a text would split the line for the
    // reader, so they become blanks.
    std::string text = r.strings[0];
    for (char& c : text)
      if (c == '\x1B' || c == '\r' || c == '\n') c = ' ';
    out += std::to_string(r.type) + '\x1B' + std::to_string(r.timeWritten) + '\x1B' + text + "\x1B\r\n";
    return ++lines < kMaxDumpLines;
  });
  bool ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
  ok = std::fclose(file) == 0 && ok;
  // The file is cut to the dump, so nothing of an earlier content trails it.
  std::error_code ec;
  if (ok) std::filesystem::resize_file(fileName, out.size(), ec);
  return ok && !ec ? kStatusSuccess : kStatusInternalError;
}

Status SysLog::Clear() {
  platform::EventLog log;
  if (!log.Open(kLogName)) return kStatusOpenEventLog;
  return log.Clear() ? kStatusSuccess : kStatusClearEventLog;
}

}  // namespace korvo
