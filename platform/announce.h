// Announcing this machine's server on the LAN by DNS-SD, so that the server
// discovery of other machines finds it: avahi-publish (avahi-utils) runs for
// as long as the announcement stands. Where the program is missing, or no
// avahi-daemon runs (it then ends at once), nothing is announced and nothing
// fails.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace korvo::platform {

inline constexpr const char* kKorvoServiceType = "_korvo._tcp";
// Clients reach a server on another machine over SSH: the port announced.
inline constexpr uint16_t kAnnouncedPort = 22;

class ServiceAnnouncement {
 public:
  explicit ServiceAnnouncement(std::string program = "avahi-publish") : program_(std::move(program)) {}
  ~ServiceAnnouncement() { Stop(); }
  ServiceAnnouncement(const ServiceAnnouncement&) = delete;
  ServiceAnnouncement& operator=(const ServiceAnnouncement&) = delete;

  // Runs "<program> -s <name> <type> <port>"; false when it could not start.
  bool Start(const std::string& name, const std::string& type, uint16_t port);
  // Withdraws the announcement: ends the program and reaps it.
  void Stop();
  bool running() const { return pid_ > 0; }

 private:
  std::string program_;
  pid_t pid_ = -1;
};

}  // namespace korvo::platform
