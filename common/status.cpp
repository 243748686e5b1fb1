#include "common/status.h"

#include <dlfcn.h>
#include <link.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "common/message_table.h"
#include "common/settings.h"
#include "platform/lasterror.h"

namespace korvo {

namespace {

// The language a user-facing text is wanted in, from the locale environment
// in the order POSIX gives it precedence (an empty variable counts as unset).
bool WantsCroatian() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) return std::strncmp(value, "hr", 2) == 0;
  }
  return false;
}

std::optional<std::string> FindText(const KvMessages* table, Status code) {
  if (!table || !table->entries) return std::nullopt;
  for (uint32_t i = 0; i < table->count; ++i) {
    const KvMessage& m = table->entries[i];
    if (m.code != code) continue;
    const char* text = WantsCroatian() ? m.croatian : m.english;
    if (!text) return std::nullopt;
    return std::string(text);
  }
  return std::nullopt;
}

// The table of the main program itself. dlsym on the main program's handle
// also searches the libraries it was linked with; a table found there (for
// instance in libkorvocore.so) is not the program's own and is left to the
// "KorvoCore" lookup, which honours the registry.
const KvMessages* ProgramTable() {
  static const KvMessages* const table = [] () -> const KvMessages* {
    void* self = dlopen(nullptr, RTLD_NOW);
    if (!self) return nullptr;
    void* symbol = dlsym(self, kMessageTableSymbol);
    link_map* program = nullptr;
    link_map* owner = nullptr;
    Dl_info info;
    bool own = symbol && dlinfo(self, RTLD_DI_LINKMAP, &program) == 0 &&
               dladdr1(symbol, &info, reinterpret_cast<void**>(&owner), RTLD_DL_LINKMAP) != 0 &&
               owner == program;
    dlclose(self);
    return own ? static_cast<const KvMessages*>(symbol) : nullptr;
  }();
  return table;
}

// The table of the library named by the machine value "KorvoCore", loaded
// for this one look-up only.
std::optional<std::string> KorvoCoreText(Status code) {
  char name[260];
  if (!KvGetKorvoCoreName(name, sizeof name) || !*name) return std::nullopt;
  void* library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
  if (!library) return std::nullopt;
  auto text = FindText(static_cast<const KvMessages*>(dlsym(library, kMessageTableSymbol)), code);
  dlclose(library);
  return text;
}

}  // namespace

std::string GetStatusText(Status code) {
  // Looking a text up must not disturb the failure the caller is reporting.
  platform::LastErrorGuard guard;
  if (auto text = FindText(ProgramTable(), code)) return *text;
  if (auto text = KorvoCoreText(code)) return *text;
  if (platform::IsSystemErrorCode(code)) return platform::SystemErrorText(code);
  char buf[96];
  std::snprintf(buf, sizeof buf, "Error: %u (%08X), error description string not found.", code & 0xFFFFu, code);
  return buf;
}

}  // namespace korvo
