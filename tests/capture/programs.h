// Running the capture's programs and CUPS's tools as a spooler would: files
// on standard input and output, the environment given.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace korvo::test {

struct ProgramRun {
  std::vector<std::string> argv;
  std::filesystem::path input = "/dev/null";
  std::filesystem::path output = "/dev/null";
  std::filesystem::path errors = "/dev/null";
  std::vector<std::string> env;  // NAME=value added to the test's own
};

// Starts the program; its pid, -1 when it could not start.
inline pid_t StartProgram(const ProgramRun& run) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, run.input.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, run.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, run.errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<std::string> envText;
  for (char** e = environ; *e; ++e) envText.emplace_back(*e);
  envText.insert(envText.end(), run.env.begin(), run.env.end());
  std::vector<char*> args, envp;
  for (const auto& a : run.argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const auto& e : envText) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

// Waits for the program's end: the exit code, 128 + signal when killed.
inline int WaitForProgram(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The exit code, 128 + signal when killed, -1 when it could not start.
inline int RunProgram(const ProgramRun& run) {
  const pid_t pid = StartProgram(run);
  return pid < 0 ? -1 : WaitForProgram(pid);
}

}  // namespace korvo::test
