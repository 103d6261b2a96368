// Fuzz target: a byte stream from a peer into the receive side of a connection with framing on,
// over a real loopback socket. Each input gets a fresh connection: the peer sends the bytes in
// pieces sized by the input's first byte and closes; the engine's whole messages are taken after
// every pump. The engine must close the connection, and the messages taken must be exactly the
// whole ones of the stream, in order, up to its end or to a length no peer may announce.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/network.h"
#include "system/log.h"
#include "system/system.h"

// fontconfig keeps parts of its configuration that its own parser leaked; not ours to report.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

int port = 0;

bool Start() {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  SetLogOutput(0);
  SetWindowTitle(("network fuzz " + std::to_string(getpid())).c_str());
  SetRunWhileInactive(1);
  if (InitializeEngine() != 0 || StartNetWorkForTest(1) != 0) return false;
  return ListenNetWorkForTest(&port) != -1;
}

int Connect() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// The messages a reader of the stream must get: each whole one behind its length, up to the end
// or to a length no peer may announce.
std::vector<std::string> ExpectedMessages(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> messages;
  for (std::size_t at = 0; at + 4 <= size;) {
    const std::int32_t length =
        static_cast<std::int32_t>(data[at] | data[at + 1] << 8 | data[at + 2] << 16 |
                                  static_cast<std::uint32_t>(data[at + 3]) << 24);
    if (length < 0 || length > kMaxNetWorkMessageSize ||
        size - at - 4 < static_cast<std::size_t>(length))
      break;
    messages.emplace_back(reinterpret_cast<const char*>(data + at + 4),
                          static_cast<std::size_t>(length));
    at += 4 + static_cast<std::size_t>(length);
  }
  return messages;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool started = Start();
  static std::vector<char> buffer(kMaxNetWorkMessageSize);
  if (!started || size > (256u << 10)) return 0;
  const EngineHandle before = GetLastAcceptedNetWork();
  const int peer = Connect();
  if (peer < 0) return 0;
  for (int i = 0; i < 1000 && GetLastAcceptedNetWork() == before; ++i) PumpNetWorkMessages(1);
  const EngineHandle connection = GetLastAcceptedNetWork();
  if (connection == before) abort();  // a connection made on loopback was never accepted
  std::vector<std::string> taken;
  auto pump = [&] {
    PumpNetWorkMessages(1);
    for (int got; (got = TakeNetWorkMessage(connection, buffer.data(),
                                            static_cast<int>(buffer.size()))) >= 0;)
      taken.emplace_back(buffer.data(), static_cast<std::size_t>(got));
  };
  // The first byte sizes the pieces; at most 64 of them, so that a long input cut fine does not
  // cost a pump per byte.
  const std::size_t piece = std::max<std::size_t>(size > 0 ? 1 + data[0] * 37 : 1, size / 64 + 1);
  for (std::size_t at = 0; at < size;) {
    const ssize_t sent = send(peer, data + at, std::min(piece, size - at), MSG_NOSIGNAL);
    if (sent <= 0) break;
    at += static_cast<std::size_t>(sent);
    pump();
  }
  shutdown(peer, SHUT_WR);
  // Only the listening connection is left once the engine has closed this one. Loopback delivers
  // on send, so a bounded count of pumps sees the close.
  for (int i = 0; i < 1000 && GetNetWorkLiveCount() > 1; ++i) pump();
  close(peer);
  if (GetNetWorkLiveCount() > 1) abort();              // the peer's close was never noticed
  if (taken != ExpectedMessages(data, size)) abort();  // a message lost, cut or out of order
  return 0;
}
