#include "tests/support/sandbox.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace korvo::test {

Sandbox::Sandbox() {
  const char* tmp = std::getenv("TMPDIR");
  std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/korvo-test-XXXXXX";
  if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
  root_ = templ;
  for (const char* dir : {"run", "log", "systemd", "config", "data", "runtime", "system"}) std::filesystem::create_directories(root_ / dir);
  setEnv("KORVO_MACHINE_HIVE", machineHive().string());
  setEnv("KORVO_USER_HIVE", userHive().string());
  setEnv("KORVO_PIPE_DIR", pipeDir().string());
  setEnv("KORVO_LOG_DIR", logDir().string());
  setEnv("KORVO_SYSTEMD_DIR", systemdDir().string());
  setEnv("KORVO_TRACE", traceFile().string());
  setEnv("KORVO_SYSTEM_ROOT", systemRoot().string());
  setEnv("XDG_CONFIG_HOME", (root_ / "config").string());
  setEnv("XDG_DATA_HOME", (root_ / "data").string());
  std::filesystem::permissions(root_ / "runtime", std::filesystem::perms::owner_all);
  setEnv("XDG_RUNTIME_DIR", (root_ / "runtime").string());
}

Sandbox::~Sandbox() {
  for (auto& [name, value] : saved_) {
    if (value) setenv(name.c_str(), value->c_str(), 1);
    else unsetenv(name.c_str());
  }
  std::error_code ec;
  std::filesystem::remove_all(root_, ec);
}

void Sandbox::setEnv(const std::string& name, const std::string& value) {
  if (!saved_.count(name)) {
    const char* old = std::getenv(name.c_str());
    saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
  }
  setenv(name.c_str(), value.c_str(), 1);
}

std::string Sandbox::readFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void Sandbox::writeFile(const std::filesystem::path& p, const std::string& data) {
  if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << data;
}

std::filesystem::path BuildDir() {
  const char* d = std::getenv("KORVO_BUILD_DIR");
  return d ? d : ".";
}

std::filesystem::path SourceDir() {
  const char* d = std::getenv("KORVO_SOURCE_DIR");
  return d ? d : ".";
}

}  // namespace korvo::test
