// Program Manager commands ("[CreateGroup(...)]", "[AddItem(...)]", ...)
// carried out on the freedesktop menus. The group a session's item commands
// act in is the one its last CreateGroup or ShowGroup selected, until
// ExitProgman.
//
// A command is parsed from its format, not from the formatted text: the
// structure (brackets, commas, quotes, blanks between words) is the
// format's, and each %s argument is one piece of text inside it, whatever
// characters it holds. A root folder with blanks, quotes, commas or '%' stays
// one path, and no length is too long.
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "common/trace.h"
#include "core/install/install.h"
#include "platform/desktop_menu.h"
#include "platform/lasterror.h"

namespace {

// An argument's text marks where a %s value goes: kOpen, its index, kClose.
constexpr char kOpen = '\x01';
constexpr char kClose = '\x02';

struct Command {
  std::string text;                 // the formatted template
  std::vector<std::string> values;  // the %s values
};

// printf of the format, with every %s left as a mark.
Command Format(const char* format, va_list* args) {
  Command c;
  for (const char* p = format; *p; ++p) {
    if (*p != '%') {
      c.text += *p;
      continue;
    }
    if (p[1] == '%') {
      c.text += '%';
      ++p;
      continue;
    }
    std::string spec = "%";
    const char* q = p + 1;
    while (*q && std::string("-+ #0123456789.").find(*q) != std::string::npos) spec += *q++;
    std::string length;
    while (*q == 'l' || *q == 'h' || *q == 'z') length += *q++;
    if (!*q) break;
    const char conv = *q;
    spec += length + conv;
    std::string out;
    auto print = [&](auto value) {
      int n = std::snprintf(nullptr, 0, spec.c_str(), value);
      if (n <= 0) return;
      out.resize(static_cast<size_t>(n) + 1);
      std::snprintf(out.data(), out.size(), spec.c_str(), value);
      out.resize(static_cast<size_t>(n));
    };
    switch (conv) {
      case 's': {
        const char* s = va_arg(*args, const char*);
        print(s ? s : "(null)");
        c.text += kOpen + std::to_string(c.values.size()) + kClose;
        c.values.push_back(out);
        p = q;
        continue;
      }
      case 'c': print(va_arg(*args, int)); break;
      case 'd': case 'i':
        if (length == "l" || length == "ll" || length == "z") print(va_arg(*args, long long));
        else print(va_arg(*args, int));
        break;
      case 'u': case 'x': case 'X': case 'o':
        if (length == "l" || length == "ll" || length == "z") print(va_arg(*args, unsigned long long));
        else print(va_arg(*args, unsigned));
        break;
      default: out = spec; break;
    }
    c.text += out;
    p = q;
  }
  return c;
}

// One argument: pieces of the template, each quoted or not.
struct Piece {
  std::string text;
  bool quoted;
};
using Argument = std::vector<Piece>;

struct Call {
  std::string name;
  std::vector<Argument> args;
};

// "[Name(arg,arg,...)]" calls, one after the other; false for anything else.
bool Parse(const std::string& t, std::vector<Call>& calls) {
  size_t i = 0;
  auto skipBlanks = [&] {
    while (i < t.size() && (t[i] == ' ' || t[i] == '\t')) ++i;
  };
  for (;;) {
    skipBlanks();
    if (i == t.size()) return !calls.empty();
    if (t[i++] != '[') return false;
    skipBlanks();
    Call call;
    while (i < t.size() && t[i] != '(' && t[i] != ']' && t[i] != ' ') call.name += t[i++];
    skipBlanks();
    if (i < t.size() && t[i] == '(') {
      ++i;
      Argument arg;
      bool quoted = false;
      for (;; ++i) {
        if (i == t.size()) return false;
        const char c = t[i];
        if (c == '"') {
          quoted = !quoted;
          arg.push_back({"", quoted});
          continue;
        }
        if (!quoted && (c == ',' || c == ')')) {
          call.args.push_back(arg);
          arg.clear();
          if (c == ')') break;
          continue;
        }
        if (arg.empty() || arg.back().quoted != quoted) arg.push_back({"", quoted});
        arg.back().text += c;
      }
      ++i;
      skipBlanks();
    }
    if (i == t.size() || t[i++] != ']' || call.name.empty()) return false;
    calls.push_back(call);
  }
}

std::string Expand(const std::string& text, const std::vector<std::string>& values) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != kOpen) {
      out += text[i];
      continue;
    }
    const size_t end = text.find(kClose, i);
    if (end == std::string::npos) break;
    const size_t index = std::stoul(text.substr(i + 1, end - i - 1));
    if (index < values.size()) out += values[index];
    i = end;
  }
  return out;
}

// The argument as one text: blanks around its unquoted pieces dropped.
std::string Text(const Argument& arg, const std::vector<std::string>& values) {
  std::string raw;
  for (size_t k = 0; k < arg.size(); ++k) {
    std::string piece = arg[k].text;
    if (!arg[k].quoted) {
      if (k == 0) piece.erase(0, std::min(piece.find_first_not_of(" \t"), piece.size()));
      if (k + 1 == arg.size()) piece.erase(piece.find_last_not_of(" \t") + 1);
    }
    raw += piece;
  }
  return Expand(raw, values);
}

// The argument as a command line: words split at the blanks of its unquoted
// pieces.
std::vector<std::string> Words(const Argument& arg, const std::vector<std::string>& values) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  for (const Piece& p : arg) {
    if (p.quoted) {
      word += p.text;
      inWord = true;
      continue;
    }
    for (char c : p.text) {
      if (c == ' ' || c == '\t') {
        if (inWord) words.push_back(Expand(word, values));
        word.clear();
        inWord = false;
      } else {
        word += c;
        inWord = true;
      }
    }
  }
  if (inWord) words.push_back(Expand(word, values));
  return words;
}

struct Selection {
  bool selected = false;
  std::string group;
  bool common = false;
};

std::mutex gSessionsMutex;
std::map<uint32_t, Selection> gSessions;
uint32_t gNextSession = 1;

bool Common(const std::vector<Argument>& args, size_t at, const std::vector<std::string>& values) {
  return args.size() > at && Text(args[at], values) == "1";
}

// Carries out one call in the session's selection.
bool Run(const Call& call, const std::vector<std::string>& values, Selection& sel) {
  namespace platform = korvo::platform;
  const auto& a = call.args;
  auto is = [&](const char* name) { return strcasecmp(call.name.c_str(), name) == 0; };
  if (is("CreateGroup") || is("ShowGroup")) {
    if (a.empty()) return false;
    const std::string group = Text(a[0], values);
    const bool common = Common(a, is("ShowGroup") ? 2 : 1, values);
    if (group.empty()) return false;
    if (is("CreateGroup") ? !platform::CreateMenuGroup(group, common)
                          : !platform::IsStartupGroup(group) &&
                                access(platform::MenuDirectoryFile(group, common).c_str(), F_OK) != 0)
      return false;
    sel = {true, group, common};
    return true;
  }
  if (is("DeleteGroup")) {
    if (a.empty()) return false;
    const std::string group = Text(a[0], values);
    const bool common = Common(a, 1, values);
    if (sel.selected && sel.group == group && sel.common == common) sel = {};
    return !group.empty() && platform::DeleteMenuGroup(group, common);
  }
  if (is("AddItem")) {
    if (!sel.selected || a.empty()) return false;
    const std::vector<std::string> words = Words(a[0], values);
    if (words.empty()) return false;
    std::string name = a.size() > 1 ? Text(a[1], values) : "";
    if (name.empty()) {
      // Program Manager's default: the program's file name without its
      // extension.
      name = words[0].substr(words[0].rfind('/') + 1);
      if (auto dot = name.rfind('.'); dot != std::string::npos && dot > 0) name.erase(dot);
    }
    return platform::AddMenuItem(sel.group, sel.common, name, words);
  }
  if (is("DeleteItem") || is("ReplaceItem")) {
    if (!sel.selected || a.empty()) return false;
    return platform::DeleteMenuItem(sel.group, sel.common, Text(a[0], values));
  }
  if (is("ExitProgman")) {
    sel = {};
    return true;
  }
  return false;
}

}  // namespace

extern "C" {

int KvShellCommandsStart(uint32_t* instance) {
  std::lock_guard<std::mutex> lock(gSessionsMutex);
  const uint32_t id = gNextSession++;
  gSessions[id] = {};
  if (instance) *instance = id;
  return 1;
}

int KvShellCommandsEnd(uint32_t instance) {
  std::lock_guard<std::mutex> lock(gSessionsMutex);
  return gSessions.erase(instance) ? 1 : 0;
}

int KvSendShellCommand(uint32_t instance, const char* format, ...) {
  if (!format) return 0;
  va_list args;
  va_start(args, format);
  const Command command = Format(format, &args);
  va_end(args);
  std::vector<Call> calls;
  if (!Parse(command.text, calls)) {
    DebugPrint("KvSendShellCommand: not a command: '%s'\n", format);
    korvo::platform::SetLastError(EINVAL);
    return 0;
  }
  std::lock_guard<std::mutex> lock(gSessionsMutex);
  auto session = gSessions.find(instance);
  if (session == gSessions.end()) {
    korvo::platform::SetLastError(EINVAL);
    return 0;
  }
  bool ok = true;
  for (const Call& call : calls) ok = Run(call, command.values, session->second) && ok;
  return ok ? 1 : 0;
}

}
