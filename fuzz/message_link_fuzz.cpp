// Feeds arbitrary peer messages to the receiving side of a MessageLink over a
// real message socket. Input: one mode byte (bit 0: client side; bits 1-2:
// what the link does), then messages, each a 2-byte little-endian length and
// that many bytes.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "common/request_exchange.h"
#include "common/status_codes.h"
#include "common/wire.h"

namespace {

std::string gDir;
std::string gReceived;
std::string gToSend;

void RemoveDir() {
  std::error_code ec;
  std::filesystem::remove_all(gDir, ec);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char templ[] = "/tmp/korvo-fuzz-XXXXXX";
  if (!mkdtemp(templ)) std::abort();
  gDir = templ;
  gReceived = gDir + "/received";
  gToSend = gDir + "/send";
  FILE* f = std::fopen(gToSend.c_str(), "wb");
  if (!f) std::abort();
  std::fputs("a small file to send", f);
  std::fclose(f);
  std::atexit(RemoveDir);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace korvo;
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  ++data;
  --size;
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0) std::abort();
  // The peer: never block on a full socket, the rest of the input is dropped.
  fcntl(sv[0], F_SETFL, O_NONBLOCK);
  for (int n = 0; size >= 2 && n < 256; ++n) {
    size_t len = data[0] | (data[1] << 8);
    data += 2;
    size -= 2;
    if (len > size) len = size;
    if (send(sv[0], data, len, MSG_NOSIGNAL) < 0) break;
    data += len;
    size -= len;
  }
  shutdown(sv[0], SHUT_WR);

  std::unique_ptr<NetworkChannel> channel;
  if (mode & 1) channel = std::make_unique<ClientPipe>();
  else channel = std::make_unique<ServerPipe>();
  Stream attached(sv[1]);
  channel->TakeHandle(&attached);  // the channel owns and closes it
  std::unique_ptr<MessageLink> link;
  if (mode & 1) link = std::make_unique<ClientMessageLink>();
  else link = std::make_unique<ServerMessageLink>();
  link->SetChannel(std::move(channel));

  ReceivedMessage m;
  ServerHandshake handshake;
  switch ((mode >> 1) & 3) {
    case 0:
      for (int i = 0; i < 300 && link->Receive(&m) == 0; ++i) {
        // Everything a caller would do with a message.
        volatile size_t n = m.Text().size();
        (void)n;
        uint32_t word;
        m.Word(&word);
        BuildRequestResult(kStatusServerErrorOrWrongMessage, m);
        try {
          handshake.Handle(*link, m);
        } catch (const ClientServerExchangeException&) {
        }
      }
      break;
    case 1:
      link->ReceiveFile(gReceived.c_str());
      link->ReceiveFile(gReceived.c_str());
      break;
    case 2:
      if (link->Receive(&m) == 0) link->ReceiveFile(gReceived.c_str());
      break;
    case 3:
      link->SendFile(gToSend.c_str());
      break;
  }
  link->Close();
  close(sv[0]);
  return 0;
}
