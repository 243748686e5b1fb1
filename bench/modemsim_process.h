// The modemsim program as a child of a benchmark: started with its arguments,
// its ports read from its "port NAME PATH" lines up to "ready", stopped and
// reaped with the object. The benchmark's .cmake defines KORVO_MODEMSIM.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace korvo::bench {

class ModemsimProcess {
 public:
  // `args` follow the program's name ("--set", "dir ...", "--modem", ...).
  explicit ModemsimProcess(std::vector<std::string> args) {
    args.insert(args.begin(), "modemsim");
    int out[2];
    if (pipe(out) != 0) std::abort();
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(KORVO_MODEMSIM, argv.data());
      _exit(127);
    }
    close(out[1]);
    FILE* in = fdopen(out[0], "r");
    char line[512];
    while (in && std::fgets(line, sizeof line, in)) {
      if (std::string(line).rfind("ready", 0) == 0) break;
      char name[64], path[400];
      if (std::sscanf(line, "port %63s %399s", name, path) == 2) ports.emplace_back(name, path);
    }
    if (in) std::fclose(in);
  }
  ~ModemsimProcess() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  ModemsimProcess(const ModemsimProcess&) = delete;
  ModemsimProcess& operator=(const ModemsimProcess&) = delete;

  std::vector<std::pair<std::string, std::string>> ports;  // name, path

 private:
  pid_t pid_ = -1;
};

}  // namespace korvo::bench
