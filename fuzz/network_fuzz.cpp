// Fuzz target: a byte stream from a peer into the receive side of a connection with framing on,
// over a real loopback socket. Each input gets a fresh connection: the peer sends the bytes in
// pieces sized by the input's first byte and closes; the engine takes every whole message until
// it closes the connection (or, failing that within a bound, the target closes it).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/network.h"
#include "system/log.h"
#include "system/system.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool started = Start();
  static std::vector<char> message(kMaxNetWorkMessageSize);
  if (!started || size > (256u << 10)) return 0;
  const EngineHandle before = GetLastAcceptedNetWork();
  const int peer = Connect();
  if (peer < 0) return 0;
  for (int i = 0; i < 100000 && GetLastAcceptedNetWork() == before; ++i) PumpNetWorkMessages(1);
  const EngineHandle connection = GetLastAcceptedNetWork();
  if (connection == before) {
    close(peer);
    return 0;
  }
  const std::size_t piece = size > 0 ? 1 + data[0] * 37 : 1;
  for (std::size_t at = 0; at < size;) {
    const std::size_t n = std::min(piece, size - at);
    const ssize_t sent = send(peer, data + at, n, MSG_NOSIGNAL);
    if (sent <= 0) break;
    at += static_cast<std::size_t>(sent);
    PumpNetWorkMessages(1);
  }
  shutdown(peer, SHUT_WR);
  // Only the listening connection is left once the engine has closed this one.
  for (int i = 0; i < 100000 && GetNetWorkLiveCount() > 1; ++i) {
    PumpNetWorkMessages(1);
    while (TakeNetWorkMessage(connection, message.data(), static_cast<int>(message.size())) >= 0) {
    }
  }
  CloseNetWork(connection);
  close(peer);
  return 0;
}
