#include "platform/neighbourhood.h"
#include "platform/remote_pipe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>

#include "common/serverfinder.h"
#include "platform/lasterror.h"
#include "tests/support/sandbox.h"

namespace korvo::platform {
namespace {

// A listening server socket at $KORVO_PIPE_DIR/Korvo.
class LocalServer {
 public:
  explicit LocalServer(const std::string& path) {
    fd_ = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(::listen(fd_, 8), 0);
  }
  ~LocalServer() { ::close(fd_); }

 private:
  int fd_;
};

class TcpServer {
 public:
  TcpServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    EXPECT_EQ(::listen(fd_, 8), 0);
  }
  ~TcpServer() { ::close(fd_); }
  uint16_t port = 0;

 private:
  int fd_;
};

std::vector<NetResource> All(NetEnumeration& e) {
  std::vector<NetResource> out;
  NetResource r;
  while (e.Next(r, 512)) out.push_back(r);
  return out;
}

class Lan : public ::testing::Test {
 protected:
  test::Sandbox box;
  std::string self = LanNeighbourhood::ThisMachine();

  // A browse program that prints the given lines, as avahi-browse -p would.
  std::string Browser(const std::string& output) {
    std::string path = box.path("browse").string();
    test::Sandbox::writeFile(box.path("browse.out"), output);
    test::Sandbox::writeFile(path, "#!/bin/sh\ncat '" + box.path("browse.out").string() + "'\n");
    ::chmod(path.c_str(), 0755);
    return path;
  }
  std::vector<std::string> Machines(LanNeighbourhood& lan) {
    auto top = lan.OpenEnum(nullptr);
    auto networks = All(*top);
    EXPECT_EQ(networks.size(), 1u);
    std::vector<std::string> names;
    if (networks.empty()) return names;
    auto below = lan.OpenEnum(&networks[0]);
    for (const auto& m : All(*below)) {
      EXPECT_EQ(m.usage, kResourceUsageContainer);
      EXPECT_EQ(m.provider, "Microsoft Windows Network");
      names.push_back(m.remoteName);
    }
    return names;
  }
};

TEST(Announcements, ResolvedKorvoServicesGiveTheirHostsOnce) {
  std::string output =
      "+;eth0;IPv4;Korvo on hub;_korvo._tcp;local\n"
      "=;eth0;IPv4;Korvo on hub;_korvo._tcp;local;hub.local;192.168.1.5;4510;\"txtvers=1\"\n"
      "=;eth0;IPv6;Korvo on hub;_korvo._tcp;local;hub.local;fe80::1;4510;\n"
      "=;eth0;IPv4;Printer;_ipp._tcp;local;printer.local;192.168.1.9;631;\n"
      "=;eth0;IPv4;Broken;_korvo._tcp;local;bad.local;192.168.1.7;0;\n"
      "=;eth0;IPv4;Broken;_korvo._tcp;local;bad2.local;192.168.1.8;port;\n"
      "=;eth0;IPv4;Short;_korvo._tcp;local;short.local\n"
      "=;eth1;IPv6;Korvo on Office;_korvo._tcp;local;Office.local;fe80::2;4510;\n"
      "=;eth1;IPv4;Korvo on Office;_korvo._tcp;local;Office.local;10.0.0.2;4510;\n"
      "=;eth1;IPv6;Korvo on Office;_korvo._tcp;local;office.local;fe80::3;4510;\n"
      "garbage\n";
  auto hosts = ParseAnnouncements(output);
  ASSERT_EQ(hosts.size(), 2u);
  EXPECT_EQ(hosts[0].machine, "hub");
  EXPECT_EQ(hosts[0].address, "192.168.1.5");
  EXPECT_EQ(hosts[0].port, 4510);
  EXPECT_EQ(hosts[0].hostName, "hub.local");
  EXPECT_EQ(hosts[1].machine, "Office");
  EXPECT_EQ(hosts[1].address, "10.0.0.2");
  EXPECT_TRUE(ParseAnnouncements("").empty());
}

TEST_F(Lan, WithoutABrowserTheNetworkHoldsThisMachine) {
  LanNeighbourhood lan(box.path("no-such-browser").string());
  EXPECT_EQ(Machines(lan), std::vector<std::string>{"\\\\" + self});
}

TEST_F(Lan, AnnouncedHostsJoinThisMachineOnce) {
  std::string upper = self;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  LanNeighbourhood lan(Browser("=;lo;IPv4;Korvo;_korvo._tcp;local;faxhub.local;127.0.0.1;4510;\n"
                               "=;lo;IPv4;Korvo;_korvo._tcp;local;" + upper + ".local;127.0.0.1;4510;\n"));
  EXPECT_EQ(Machines(lan), (std::vector<std::string>{"\\\\" + self, "\\\\faxhub"}));
}

TEST_F(Lan, ProbingOpensTheServerSocketOfThisMachine) {
  LanNeighbourhood lan(box.path("no-such-browser").string());
  EXPECT_EQ(lan.OpenServer("\\\\.\\PIPE\\Korvo"), nullptr);
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  LocalServer server(box.pipeDir().string() + "/Korvo");
  for (const std::string& name : std::vector<std::string>{"\\\\.\\PIPE\\Korvo", "\\\\" + self + "\\PIPE\\Korvo", "\\\\" + self + "\\pipe\\korvo"}) {
    EXPECT_NE(lan.OpenServer(name), nullptr) << name;
  }
  for (const std::string& name : std::vector<std::string>{"\\\\unknown\\PIPE\\Korvo", "\\\\.\\PIPE\\Other", "//./PIPE/Korvo", "\\\\\\PIPE\\Korvo", ""}) {
    EXPECT_EQ(lan.OpenServer(name), nullptr) << name;
  }
}

TEST_F(Lan, ProbingAnAnnouncedHostConnectsToItsPort) {
  TcpServer server;
  uint16_t gonePort;
  {
    TcpServer gone;
    gonePort = gone.port;
  }
  LanNeighbourhood lan(Browser("=;lo;IPv4;Korvo;_korvo._tcp;local;faxhub.local;127.0.0.1;" +
                               std::to_string(server.port) + ";\n=;lo;IPv4;Korvo;_korvo._tcp;local;quiet.local;127.0.0.1;" +
                               std::to_string(gonePort) + ";\n"));
  EXPECT_EQ(lan.OpenServer("\\\\faxhub\\PIPE\\Korvo"), nullptr);  // not announced yet
  Machines(lan);
  EXPECT_NE(lan.OpenServer("\\\\FAXHUB\\PIPE\\Korvo"), nullptr);
  EXPECT_EQ(lan.OpenServer("\\\\quiet\\PIPE\\Korvo"), nullptr);
}

// The lists show servers in upper case; ssh is given the name a server
// announced (a configured name given first stays), as its Host patterns
// match by letter case and the resolver may know only the .local name.
TEST_F(Lan, AnAnnouncedServerIsReachedByTheHostNameItAnnounced) {
  RememberServerName("Office", "office");
  LanNeighbourhood lan(Browser("=;lo;IPv4;Korvo;_korvo._tcp;local;kvserver.local;127.0.0.1;4510;\n"
                               "=;lo;IPv4;Korvo;_korvo._tcp;local;Office.local;127.0.0.1;4510;\n"));
  EXPECT_EQ(ServerNameToReach("KVSERVER"), "KVSERVER") << "not announced yet";
  Machines(lan);
  EXPECT_EQ(ServerNameToReach("KVSERVER"), "kvserver.local");
  EXPECT_EQ(ServerNameToReach("OFFICE"), "office");
  EXPECT_EQ(ServerNameToReach("elsewhere"), "elsewhere");
  // ssh, a stand-in that writes its command line, is given that name.
  const std::string args = box.path("ssh.args").string();
  const std::string ssh = box.path("ssh").string();
  test::Sandbox::writeFile(ssh, "#!/bin/sh\n[ \"$1\" = -G ] && exit 0\necho \"$@\" >> '" + args + "'\nexit 255\n");
  ::chmod(ssh.c_str(), 0755);
  RemoteOptions options;
  options.sshProgram = ssh;
  Handle end = kInvalidHandle;
  std::string said;
  EXPECT_EQ(RemotePipe::Connect("KVSERVER", options, &end, &said), nullptr);
  EXPECT_NE(test::Sandbox::readFile(args).find(" -- kvserver.local "), std::string::npos) << test::Sandbox::readFile(args);
}

TEST_F(Lan, TheFinderListsThisMachineWhenItsServerListens) {
  std::vector<std::string> list;
  std::mutex lock;
  LanNeighbourhood lan(box.path("no-such-browser").string());
  {
    ServerFinder finder(list, lock, lan);
    finder.FindAll();
    EXPECT_TRUE(list.empty());
  }
  LocalServer server(box.pipeDir().string() + "/Korvo");
  ServerFinder finder(list, lock, lan);
  finder.FindAll();
  std::string upper = self;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(list, std::vector<std::string>{upper});
}

}  // namespace
}  // namespace korvo::platform
