// The LAN neighbourhood as the server discovery walks it: a tree of network
// resources in the shape of the Windows network enumeration. The real one
// holds one network ("Microsoft Windows Network", as the walk only follows
// that provider) with this machine and the hosts that announce a Korvo server
// by DNS-SD ("_korvo._tcp", browsed with avahi-browse where an mDNS responder
// runs); machines are named "\\HOST" like UNC names.
#pragma once

#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace korvo::platform {

inline constexpr uint32_t kResourceUsageConnectable = 0x01;
inline constexpr uint32_t kResourceUsageContainer = 0x02;
inline constexpr uint32_t kResourceUsageAttached = 0x10;

// The last error when an enumeration has given every entry.
inline constexpr uint32_t kErrorNoMoreItems = ENODATA;

struct NetResource {
  uint32_t usage = 0;
  std::string localName;
  std::string remoteName;
  std::string comment;
  std::string provider;
};

// Bytes one entry takes in a Windows enumeration buffer: the fixed part and
// its four texts with their NULs. An entry larger than the caller's buffer is
// not delivered.
size_t NetResourceSize(const NetResource& resource);

class NetEnumeration {
 public:
  virtual ~NetEnumeration() = default;
  // The next entry, when it fits in bufferSize bytes. False at the end
  // (kErrorNoMoreItems) or for an entry that does not fit (kErrorMoreData).
  virtual bool Next(NetResource& entry, size_t bufferSize) = 0;
  virtual bool Close() = 0;
};

// An open connection to a server socket, closed when the object goes.
class ServerConnection {
 public:
  virtual ~ServerConnection() = default;
};

class Neighbourhood {
 public:
  virtual ~Neighbourhood() = default;
  // Enumerates the resources below one (null: the top of the network). Null
  // with the last error set when that resource cannot be enumerated.
  virtual std::unique_ptr<NetEnumeration> OpenEnum(const NetResource* below) = 0;
  // Opens the server named by a pipe name "\\HOST\PIPE\Korvo". Null with the
  // last error set when nothing answers there.
  virtual std::unique_ptr<ServerConnection> OpenServer(const std::string& pipeName) = 0;
};

// A host found by DNS-SD: its machine name (the host name without its
// domain), address and port of the announced server.
struct AnnouncedHost {
  std::string machine;
  std::string address;
  uint16_t port = 0;
  std::string hostName;  // as announced ("hub.local"), which ssh is given
};

// The name a server is reached by for a name as the server lists show it
// (in upper case): the host name it announced, or a configured name (the
// default server's, as the user wrote it); the first name remembered for a
// server stays. ssh matches its Host patterns by letter case, and a machine
// may be known to the resolver only by its announced .local name.
void RememberServerName(const std::string& server, const std::string& reachAs);
// The remembered name, or the name itself when none is.
std::string ServerNameToReach(const std::string& server);

// The resolved entries ("=" lines) of avahi-browse's parsable output.
std::vector<AnnouncedHost> ParseAnnouncements(const std::string& browseOutput);

class LanNeighbourhood : public Neighbourhood {
 public:
  // The browse program is run as "<program> -p -r -t -k _korvo._tcp"; when it
  // is missing or fails, only this machine is in the network.
  explicit LanNeighbourhood(std::string browseProgram = "avahi-browse");
  std::unique_ptr<NetEnumeration> OpenEnum(const NetResource* below) override;
  std::unique_ptr<ServerConnection> OpenServer(const std::string& pipeName) override;

  // The name under which this machine appears (the host name without its domain).
  static std::string ThisMachine();

 private:
  std::string browseProgram_;
  std::vector<AnnouncedHost> announced_;  // from the last walk of the network
};

}  // namespace korvo::platform
