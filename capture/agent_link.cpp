#include "capture/agent_link.h"

#include <cstdlib>

namespace korvo::capture {

namespace {
constexpr char kMagic[] = "KVJ1";
constexpr size_t kMaxPrinterName = 255;
}  // namespace

std::string RuntimeRoot() {
  const char* root = std::getenv("KORVO_RUNTIME_ROOT");
  return root && *root == '/' ? root : "/run/user";
}

std::string AgentFolderForUser(uint32_t uid) { return RuntimeRoot() + "/" + std::to_string(uid) + "/korvo"; }
std::string AgentSocketForUser(uint32_t uid) { return AgentFolderForUser(uid) + "/capture"; }

std::string OwnAgentFolder() {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  return dir && *dir == '/' ? std::string(dir) + "/korvo" : std::string();
}

std::string OwnAgentSocket() {
  const std::string folder = OwnAgentFolder();
  return folder.empty() ? folder : folder + "/capture";
}

std::string EncodeAnnouncement(const JobAnnouncement& job) {
  std::string m(kMagic, 4);
  for (int i = 0; i < 4; ++i) m += static_cast<char>(job.jobId >> (8 * i) & 0xFF);
  m += job.printer.substr(0, kMaxPrinterName);
  return m;
}

bool DecodeAnnouncement(const std::string& message, JobAnnouncement& job) {
  if (message.size() < 8 || message.compare(0, 4, kMagic) != 0 || message.size() > 8 + kMaxPrinterName) return false;
  job.jobId = 0;
  for (int i = 0; i < 4; ++i) job.jobId |= static_cast<uint32_t>(static_cast<uint8_t>(message[4 + i])) << (8 * i);
  job.printer = message.substr(8);
  return job.printer.find('\0') == std::string::npos;
}

}  // namespace korvo::capture
