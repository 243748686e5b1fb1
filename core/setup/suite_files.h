// The suite's files: one list (media/files.txt) makes the media, drives the
// copies of an installation and names what its manifest may hold.
#pragma once

#include <string>

namespace korvo {

enum class SuitePart {
  Client,   // every workstation, into the installation folder
  Server,   // the server part, into the installation folder
  Printer,  // taken by the printer functions into CUPS's folders
};

struct SuiteFile {
  const char* name;  // on the media and in the installation folder; '/' ends a folder
  SuitePart part;
};

inline constexpr SuiteFile kSuiteFiles[] = {
#include "core/setup/suite_files.inc"
};

inline bool IsFolder(const SuiteFile& file) {
  const std::string name = file.name;
  return !name.empty() && name.back() == '/';
}

// A file's media pattern: its last character '?', which also matches the '_'
// of a packed file.
inline std::string MediaPattern(const std::string& name) {
  return name.empty() ? name : name.substr(0, name.size() - 1) + "?";
}

}  // namespace korvo
