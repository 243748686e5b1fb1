// A whole Korvo installation under one temporary folder: every KORVO_* location
// (hives, pipe, log, systemd, trace, the system root of CUPS's, the menus' and
// the autostart folders) and the XDG folders point into it while
// the sandbox lives, and it is removed with everything in it afterwards.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace korvo::test {

class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path path(const std::string& relative) const { return root_ / relative; }
  std::filesystem::path machineHive() const { return path("machine.reg"); }
  std::filesystem::path userHive() const { return path("user.reg"); }
  std::filesystem::path pipeDir() const { return path("run"); }
  std::filesystem::path logDir() const { return path("log"); }
  std::filesystem::path systemdDir() const { return path("systemd"); }
  std::filesystem::path traceFile() const { return path("trace.log"); }
  // $KORVO_SYSTEM_ROOT: "/etc/xdg/autostart" is systemRoot() / "etc/xdg/autostart".
  std::filesystem::path systemRoot() const { return path("system"); }

  // Sets an environment variable for the sandbox's lifetime.
  void setEnv(const std::string& name, const std::string& value);

  // Whole contents of a file, empty when it cannot be read.
  static std::string readFile(const std::filesystem::path& p);
  static void writeFile(const std::filesystem::path& p, const std::string& data);

 private:
  std::filesystem::path root_;
  std::map<std::string, std::optional<std::string>> saved_;
};

// The build tree and source tree, for tests that run built programs.
std::filesystem::path BuildDir();
std::filesystem::path SourceDir();

}  // namespace korvo::test
