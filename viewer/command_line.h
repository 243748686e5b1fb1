// The viewer's command line. Paths here start with "/", so a parameter is a
// flag only when it starts with "-", or with "/" followed by a flag name the
// viewer knows; anything else is the file, and the first file counts.
#pragma once

#include <string>
#include <vector>

namespace korvo {

struct ViewerCommandLine {
  bool firstPageOnly = false;
  std::string file;
};

ViewerCommandLine ParseViewerCommandLine(const std::vector<std::string>& args);

}  // namespace korvo
