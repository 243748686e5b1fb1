#include "viewer/command_line.h"

namespace korvo {

namespace {

constexpr char kFirstPageOnly[] = "First_Page_Only";

}  // namespace

ViewerCommandLine ParseViewerCommandLine(const std::vector<std::string>& args) {
  ViewerCommandLine line;
  bool haveFile = false;
  for (const std::string& a : args) {
    const bool flag = a.size() > 1 && (a[0] == '-' || (a[0] == '/' && a.substr(1) == kFirstPageOnly));
    if (flag) {
      if (a.substr(1) == kFirstPageOnly) line.firstPageOnly = true;
    } else if (!haveFile) {
      line.file = a;
      haveFile = true;
    }
  }
  return line;
}

}  // namespace korvo
