#include "manager/ui_services.h"

#include <thread>

#include "platform/process.h"

namespace korvo::manager {

pid_t UiServices::StartProgram(const std::vector<std::string>& argv) {
  const pid_t pid = platform::StartProcess(argv);
  if (pid < 0) return -1;
  // A thread that only waits for the program reaps it, so it never lingers
  // as a zombie while the manager runs.
  std::thread([pid] {
    int code = 0;
    platform::WaitProcess(pid, code);
  }).detach();
  return pid;
}

}  // namespace korvo::manager
