#include "manager/startup.h"

#include <chrono>

namespace korvo::manager {

uint32_t TickCount() {
  using namespace std::chrono;
  return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool IsAfterInstall(const std::vector<std::string>& arguments) {
  std::string line;
  for (size_t i = 0; i < arguments.size(); ++i) line += (i ? " " : "") + arguments[i];
  return line == "/After_Install";
}

std::string ItemCountText(int selected, int rows) {
  return selected > 0 ? std::to_string(selected) + " item(s) selected" : std::to_string(rows) + " item(s)";
}

}  // namespace korvo::manager
