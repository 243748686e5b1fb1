#include "platform/neighbourhood.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>
#include <strings.h>

#include "platform/lasterror.h"
#include "platform/local_socket.h"

extern char** environ;

namespace korvo::platform {

namespace {

constexpr const char* kNetworkName = "Microsoft Windows Network";
constexpr const char* kServiceType = "_korvo._tcp";
// The fixed part of a Windows NETRESOURCE: four DWORDs and four pointers.
constexpr size_t kNetResourceFixedSize = 32;
constexpr int kBrowseTimeoutMs = 5000;
constexpr int kConnectTimeoutMs = 3000;

bool SameName(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

class ListEnumeration : public NetEnumeration {
 public:
  explicit ListEnumeration(std::vector<NetResource> entries) : entries_(std::move(entries)) {}
  bool Next(NetResource& entry, size_t bufferSize) override {
    if (next_ >= entries_.size()) {
      SetLastError(kErrorNoMoreItems);
      return false;
    }
    if (NetResourceSize(entries_[next_]) > bufferSize) {
      SetLastError(kErrorMoreData);
      return false;
    }
    entry = entries_[next_++];
    return true;
  }
  bool Close() override { return true; }

 private:
  std::vector<NetResource> entries_;
  size_t next_ = 0;
};

class SocketConnection : public ServerConnection {
 public:
  explicit SocketConnection(int fd) : fd_(fd) {}
  ~SocketConnection() override { CloseHandle(fd_); }

 private:
  int fd_;
};

// A busy server is not waited for: the probe only asks whether one is there.
std::unique_ptr<ServerConnection> ConnectLocal(const std::string& pipeName) {
  std::string path = PipeNameToSocketPath(pipeName.c_str());
  if (path.empty()) return nullptr;
  Handle fd = LocalSocketConnect(path, 0);
  if (fd == kInvalidHandle) return nullptr;
  return std::make_unique<SocketConnection>(fd);
}

std::unique_ptr<ServerConnection> ConnectTcp(const AnnouncedHost& host) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  std::string port = std::to_string(host.port);
  if (getaddrinfo(host.address.c_str(), port.c_str(), &hints, &found) != 0 || !found) {
    SetLastError(EHOSTUNREACH);
    return nullptr;
  }
  int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    SetLastErrorFromErrno();
    freeaddrinfo(found);
    return nullptr;
  }
  int rc = ::connect(fd, found->ai_addr, found->ai_addrlen);
  freeaddrinfo(found);
  if (rc != 0 && errno == EINPROGRESS) {
    // A host that has gone quiet must not hold the walk for long.
    pollfd p{fd, POLLOUT, 0};
    int error = ETIMEDOUT;
    if (::poll(&p, 1, kConnectTimeoutMs) == 1) {
      socklen_t length = sizeof error;
      if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    }
    rc = error == 0 ? 0 : -1;
    errno = error;
  }
  if (rc != 0) {
    SetLastErrorFromErrno();
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<SocketConnection>(fd);
}

// Runs the browse program and gives its standard output; empty when it is
// missing, fails or does not finish in time.
std::string RunBrowse(const std::string& program) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  std::string type = kServiceType;
  std::string args[] = {program, "-p", "-r", "-t", "-k", type};
  char* argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(),
                  args[4].data(), args[5].data(), nullptr};
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (rc != 0) {
    ::close(out[0]);
    return {};
  }
  std::string output;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBrowseTimeoutMs);
  bool finished = false;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{out[0], POLLIN, 0};
    int ready = ::poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    char buffer[4096];
    ssize_t n = ::read(out[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      finished = n == 0;
      break;
    }
    output.append(buffer, static_cast<size_t>(n));
  }
  ::close(out[0]);
  if (!finished) ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!finished || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  return output;
}

}  // namespace

size_t NetResourceSize(const NetResource& r) {
  return kNetResourceFixedSize + r.localName.size() + 1 + r.remoteName.size() + 1 + r.comment.size() + 1 +
         r.provider.size() + 1;
}

std::vector<AnnouncedHost> ParseAnnouncements(const std::string& browseOutput) {
  // =;interface;protocol;service name;type;domain;host name;address;port;txt
  std::vector<AnnouncedHost> hosts;
  std::istringstream lines(browseOutput);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::istringstream parts(line);
    std::string field;
    while (fields.size() < 10 && std::getline(parts, field, ';')) fields.push_back(field);
    if (fields.size() < 9 || fields[0] != "=" || fields[4] != kServiceType) continue;
    std::string machine = fields[6].substr(0, fields[6].find('.'));
    char* end = nullptr;
    unsigned long port = std::strtoul(fields[8].c_str(), &end, 10);
    if (machine.empty() || fields[7].empty() || end == fields[8].c_str() || *end || port == 0 || port > 65535) continue;
    // One entry per machine; an IPv4 address is preferred, as a link-local
    // IPv6 one is announced without the interface it needs.
    AnnouncedHost host{machine, fields[7], static_cast<uint16_t>(port), fields[6]};
    bool ipv4 = fields[2] == "IPv4";
    auto known = std::find_if(hosts.begin(), hosts.end(), [&](const AnnouncedHost& h) { return SameName(h.machine, machine); });
    if (known == hosts.end()) {
      hosts.push_back(host);
    } else if (ipv4 && known->address.find(':') != std::string::npos) {
      *known = host;
    }
  }
  return hosts;
}

namespace {

std::mutex gReachMutex;
std::vector<std::pair<std::string, std::string>> gReachAs;

}  // namespace

void RememberServerName(const std::string& server, const std::string& reachAs) {
  if (server.empty() || reachAs.empty()) return;
  std::lock_guard<std::mutex> hold(gReachMutex);
  for (const auto& known : gReachAs)
    if (SameName(known.first, server)) return;
  gReachAs.emplace_back(server, reachAs);
}

std::string ServerNameToReach(const std::string& server) {
  std::lock_guard<std::mutex> hold(gReachMutex);
  for (const auto& known : gReachAs)
    if (SameName(known.first, server)) return known.second;
  return server;
}

LanNeighbourhood::LanNeighbourhood(std::string browseProgram) : browseProgram_(std::move(browseProgram)) {}

std::string LanNeighbourhood::ThisMachine() {
  std::string machine = ComputerName();
  if (machine.empty()) return "localhost";
  return machine.substr(0, machine.find('.'));
}

std::unique_ptr<NetEnumeration> LanNeighbourhood::OpenEnum(const NetResource* below) {
  std::vector<NetResource> entries;
  if (!below) {
    entries.push_back({kResourceUsageContainer, "", kNetworkName, "", kNetworkName});
  } else if (below->remoteName == kNetworkName) {
    std::string self = ThisMachine();
    announced_ = ParseAnnouncements(RunBrowse(browseProgram_));
    for (const auto& host : announced_) RememberServerName(host.machine, host.hostName);
    entries.push_back({kResourceUsageContainer, "", "\\\\" + self, "", kNetworkName});
    for (const auto& host : announced_) {
      if (!SameName(host.machine, self)) entries.push_back({kResourceUsageContainer, "", "\\\\" + host.machine, "", kNetworkName});
    }
  } else if (below->remoteName.rfind("\\\\", 0) != 0) {
    SetLastError(kErrorFileNotFound);
    return nullptr;
  }
  // A machine holds no further containers.
  return std::make_unique<ListEnumeration>(std::move(entries));
}

std::unique_ptr<ServerConnection> LanNeighbourhood::OpenServer(const std::string& pipeName) {
  const std::string suffix = "\\PIPE\\Korvo";
  if (pipeName.rfind("\\\\", 0) != 0 || pipeName.size() <= 2 + suffix.size() ||
      strcasecmp(pipeName.c_str() + pipeName.size() - suffix.size(), suffix.c_str()) != 0) {
    SetLastError(kErrorFileNotFound);
    return nullptr;
  }
  std::string host = pipeName.substr(2, pipeName.size() - 2 - suffix.size());
  if (IsThisMachine(host.c_str())) return ConnectLocal("\\\\.\\Pipe\\Korvo");
  for (const auto& announced : announced_) {
    if (SameName(announced.machine, host)) return ConnectTcp(announced);
  }
  SetLastError(kErrorFileNotFound);
  return nullptr;
}

}  // namespace korvo::platform
