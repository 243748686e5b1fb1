// Starting programs (posix_spawn). The caller reaps what it starts.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace korvo::platform {

// Starts argv[0] (looked up in PATH when it has no '/') with the process's
// environment; returns its pid, or -1 with the last error set.
pid_t StartProcess(const std::vector<std::string>& argv);
// The same with standard input, output and error from the given descriptors
// (-1 keeps the process's own).
pid_t StartProcessWithStdio(const std::vector<std::string>& argv, int in, int out, int err);
// Starts argv as another user: that user's groups (initgroups' list), group
// and user ids, HOME, USER and LOGNAME, in the home folder (or / where it
// cannot be entered); the rest of the environment is the process's own.
struct Invoker;
pid_t StartProcessAs(const std::vector<std::string>& argv, const Invoker& user);
// Waits for a started process; true with its exit code (128 + signal when it
// was killed).
bool WaitProcess(pid_t pid, int& exitCode);
// Starts argv and waits for it; true when it ran and exited with 0.
bool RunProcess(const std::vector<std::string>& argv);
// Ends a started process at once (SIGKILL) and reaps it, also when it has
// already ended; false when it is no child of this process.
bool TerminateProcess(pid_t pid);

// Full file name of the running program.
std::string ModuleFileName();

// Raises the process's soft limit of open descriptors to its hard limit (a
// server holds a descriptor for every client and modem); the soft limit in
// force afterwards, 0 when it cannot be read.
unsigned long RaiseDescriptorLimit();

// Caps the allocator's per-thread memory pools: a server with a thread for
// every port otherwise keeps one pool, and its free memory, per core and more.
void LimitMemoryPools(int pools);

}  // namespace korvo::platform

namespace korvo::platform {

// Starts argv with its standard output read into out and waits for it; true
// when it ran and exited with 0.
bool RunProcessOutput(const std::vector<std::string>& argv, std::string& out);

}  // namespace korvo::platform
