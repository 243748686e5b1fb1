#include "platform/desktop_menu.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/lasterror.h"
#include "platform/system_root.h"

namespace korvo::platform {

namespace {

std::string Home() {
  const char* home = std::getenv("HOME");
  return home ? home : "";
}

std::string DataBase(bool common) {
  if (common) return SystemPath("/usr/local/share");
  const char* d = std::getenv("XDG_DATA_HOME");
  return d && *d ? d : Home() + "/.local/share";
}

std::string ConfigBase(bool common) {
  if (common) return SystemPath("/etc/xdg");
  const char* d = std::getenv("XDG_CONFIG_HOME");
  return d && *d ? d : Home() + "/.config";
}

// Where emptied folders stop being removed: the base folder itself, except
// for a common group below a system root of its own, whose folders all came
// with the installation.
std::string Stop(bool common, const std::string& base) { return common && !SystemRoot().empty() ? "" : base; }

std::string Applications(bool common) { return DataBase(common) + "/applications"; }
std::string Directories(bool common) { return DataBase(common) + "/desktop-directories"; }
std::string Merged(bool common) { return ConfigBase(common) + "/menus/applications-merged"; }
std::string Autostart(bool common) { return ConfigBase(common) + "/autostart"; }

// A file-name part of a display name: lower-case letters and digits, any
// other run of characters one '-'.
std::string Slug(const std::string& name) {
  std::string out;
  for (unsigned char c : name) {
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) out += static_cast<char>(c);
    else if (c >= 'A' && c <= 'Z') out += static_cast<char>(c - 'A' + 'a');
    else if (!out.empty() && out.back() != '-') out += '-';
  }
  while (!out.empty() && out.back() == '-') out.pop_back();
  return out.empty() ? "item" : out;
}

bool HasLineBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

// A string value of a desktop entry: backslash escaped, control characters
// dropped (line breaks are refused before).
std::string StringValue(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '\\') out += "\\\\";
    else if (c == '\t') out += "\\t";
    else if (c >= 0x20 && c != 0x7F) out += static_cast<char>(c);
  }
  return out;
}

std::string XmlText(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string FileUrl(const std::string& path) {
  static const char* hex = "0123456789ABCDEF";
  std::string out = "file://";
  for (unsigned char c : path) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' || c == '-' ||
        c == '.' || c == '_' || c == '~')
      out += static_cast<char>(c);
    else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

bool IsDocument(const std::vector<std::string>& commandLine) {
  if (commandLine.size() != 1 || commandLine[0].empty() || commandLine[0][0] != '/') return false;
  struct stat st{};
  return stat(commandLine[0].c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0111) == 0;
}

// Writes the file whole under a temporary name and renames it into place.
bool WriteFile(const std::string& path, const std::string& text) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  if (ec) {
    SetLastError(static_cast<uint32_t>(ec.value()));
    return false;
  }
  std::string temp = path + ".XXXXXX";
  int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    SetLastErrorFromErrno();
    return false;
  }
  bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && fchmod(fd, 0644) == 0;
  if (close(fd) != 0) ok = false;
  if (ok && rename(temp.c_str(), path.c_str()) == 0) return true;
  SetLastErrorFromErrno();
  unlink(temp.c_str());
  return false;
}

bool RemoveFile(const std::string& path) {
  if (unlink(path.c_str()) == 0 || errno == ENOENT) return true;
  SetLastErrorFromErrno();
  return false;
}

std::string ItemPrefix(const std::string& group) {
  return IsStartupGroup(group) ? "korvo-" : "korvo-" + Slug(group) + "-";
}

// The group's entries in its folder, by file name.
std::vector<std::string> ItemFiles(const std::string& group, const std::string& folder) {
  std::vector<std::string> names;
  const std::string prefix = ItemPrefix(group);
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
    const std::string name = e.path().filename().string();
    if (name.rfind(prefix, 0) == 0 && name.size() > 8 && name.compare(name.size() - 8, 8, ".desktop") == 0)
      names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The menu folder lists its entries by file name: a Link entry has no
// categories to be found by.
bool WriteMergeFile(const std::string& group, bool common) {
  std::string menu =
      "<!DOCTYPE Menu PUBLIC \"-//freedesktop//DTD Menu 1.0//EN\"\n"
      " \"http://www.freedesktop.org/standards/menu-spec/1.0/menu.dtd\">\n"
      "<Menu>\n  <Name>Applications</Name>\n  <Menu>\n    <Name>" + XmlText(group) + "</Name>\n"
      "    <Directory>korvo-" + Slug(group) + ".directory</Directory>\n    <Include>\n";
  for (const std::string& name : ItemFiles(group, Applications(common)))
    menu += "      <Filename>" + XmlText(name) + "</Filename>\n";
  menu += "    </Include>\n  </Menu>\n</Menu>\n";
  return WriteFile(MenuMergeFile(group, common), menu);
}

}  // namespace

bool IsStartupGroup(const std::string& group) { return strcasecmp(group.c_str(), "Startup") == 0; }

std::string MenuDirectoryFile(const std::string& group, bool common) {
  return Directories(common) + "/korvo-" + Slug(group) + ".directory";
}

std::string MenuMergeFile(const std::string& group, bool common) {
  return Merged(common) + "/korvo-" + Slug(group) + ".menu";
}

std::string MenuItemFile(const std::string& group, bool common, const std::string& name) {
  if (IsStartupGroup(group)) return Autostart(common) + "/korvo-" + Slug(name) + ".desktop";
  return Applications(common) + "/korvo-" + Slug(group) + "-" + Slug(name) + ".desktop";
}

std::string DesktopExec(const std::vector<std::string>& words) {
  std::string exec;
  for (const std::string& word : words) {
    if (!exec.empty()) exec += ' ';
    const bool quote = word.empty() || word.find_first_of(" \t\"'\\><~|&;$*?#()`") != std::string::npos;
    std::string arg;
    for (char c : word) {
      if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) arg += '\\';
      arg += c;
      if (c == '%') arg += '%';
    }
    exec += quote ? "\"" + arg + "\"" : arg;
  }
  return StringValue(exec);
}

bool CreateMenuGroup(const std::string& group, bool common) {
  if (HasLineBreak(group)) {
    SetLastError(EINVAL);
    return false;
  }
  if (IsStartupGroup(group)) return true;
  const std::string directory = "[Desktop Entry]\nType=Directory\nName=" + StringValue(group) + "\n";
  return WriteFile(MenuDirectoryFile(group, common), directory) && WriteMergeFile(group, common);
}

bool DeleteMenuGroup(const std::string& group, bool common) {
  bool ok = true;
  const std::string folder = IsStartupGroup(group) ? Autostart(common) : Applications(common);
  for (const std::string& name : ItemFiles(group, folder)) ok = RemoveFile(folder + "/" + name) && ok;
  if (!IsStartupGroup(group)) {
    ok = RemoveFile(MenuDirectoryFile(group, common)) && ok;
    ok = RemoveFile(MenuMergeFile(group, common)) && ok;
    RemoveEmptyFolders(Directories(common), Stop(common, DataBase(common)));
    RemoveEmptyFolders(Merged(common), Stop(common, ConfigBase(common)));
  }
  RemoveEmptyFolders(folder, Stop(common, IsStartupGroup(group) ? ConfigBase(common) : DataBase(common)));
  return ok;
}

bool AddMenuItem(const std::string& group, bool common, const std::string& name,
                 const std::vector<std::string>& commandLine) {
  bool bad = HasLineBreak(name) || commandLine.empty();
  for (const auto& w : commandLine) bad = bad || HasLineBreak(w);
  if (bad) {
    SetLastError(EINVAL);
    return false;
  }
  std::string text = "[Desktop Entry]\n";
  if (IsDocument(commandLine)) text += "Type=Link\nName=" + StringValue(name) + "\nURL=" + FileUrl(commandLine[0]) + "\n";
  else text += "Type=Application\nName=" + StringValue(name) + "\nExec=" + DesktopExec(commandLine) + "\n";
  if (!WriteFile(MenuItemFile(group, common, name), text)) return false;
  return IsStartupGroup(group) || WriteMergeFile(group, common);
}

bool DeleteMenuItem(const std::string& group, bool common, const std::string& name) {
  const std::string file = MenuItemFile(group, common, name);
  if (!RemoveFile(file)) return false;
  RemoveEmptyFolders(std::filesystem::path(file).parent_path().string(),
                     Stop(common, IsStartupGroup(group) ? ConfigBase(common) : DataBase(common)));
  // The menu folder lists what is left, when it is there.
  if (IsStartupGroup(group) || access(MenuMergeFile(group, common).c_str(), F_OK) != 0) return true;
  return WriteMergeFile(group, common);
}

}  // namespace korvo::platform
