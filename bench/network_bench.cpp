// Framed loopback throughput: a peer sends batches of framed messages that the engine receives
// through its network window and takes out whole, against the same bytes sent and received with
// plain send and recv, side by side in one process. Bytes per second; the ratio is what counts.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "host/host.h"
#include "host/network.h"
#include "system/log.h"
#include "system/system.h"

namespace {

constexpr int kBatchBytes = 1 << 20;

int ConnectTo(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  return fd;
}

// A batch of framed messages of one size, about a mebibyte in all.
std::string Batch(int messageSize) {
  std::string frame(4, '\0');
  for (int i = 0; i < 4; ++i) frame[i] = static_cast<char>(messageSize >> (8 * i));
  frame += std::string(static_cast<std::size_t>(messageSize), 'm');
  std::string batch;
  while (batch.size() + frame.size() <= kBatchBytes) batch += frame;
  return batch;
}

// Sends what the socket takes now; the rest waits for the receiver.
std::size_t SendSome(int fd, const std::string& bytes, std::size_t at) {
  ssize_t sent = send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL | MSG_DONTWAIT);
  return sent > 0 ? at + static_cast<std::size_t>(sent) : at;
}

struct Engine {
  int port = 0;
  int peer = -1;
  EngineHandle connection = -1;
  Engine() {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    SetLogOutput(0);
    SetWindowTitle(("network bench " + std::to_string(getpid())).c_str());
    SetRunWhileInactive(1);
    InitializeEngine();
    StartNetWorkForTest(1);
    ListenNetWorkForTest(&port);
    peer = ConnectTo(port);
    for (int i = 0; i < 1000000 && GetLastAcceptedNetWork() == -1; ++i) PumpNetWorkMessages(0);
    connection = GetLastAcceptedNetWork();
  }
};

Engine& TheEngine() {
  static Engine engine;
  return engine;
}

void FramedThroughEngine(benchmark::State& state) {
  Engine& engine = TheEngine();
  const int size = static_cast<int>(state.range(0));
  const std::string batch = Batch(size);
  const std::size_t messages = batch.size() / (size + 4);
  std::vector<char> message(static_cast<std::size_t>(size));
  for (auto _ : state) {
    std::size_t sent = 0, taken = 0;
    while (taken < messages) {
      if (sent < batch.size()) sent = SendSome(engine.peer, batch, sent);
      PumpNetWorkMessages(0);
      while (TakeNetWorkMessage(engine.connection, message.data(), size) == size) ++taken;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(batch.size()));
}

void PlainSendRecv(benchmark::State& state) {
  Engine& engine = TheEngine();  // the same process state as the engine's run
  (void)engine;
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
  listen(listener, 1);
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  int peer = ConnectTo(ntohs(address.sin_port));
  int receiver = accept(listener, nullptr, nullptr);
  const std::string batch = Batch(static_cast<int>(state.range(0)));
  std::vector<char> buffer(65536);
  for (auto _ : state) {
    std::size_t sent = 0, received = 0;
    while (received < batch.size()) {
      if (sent < batch.size()) sent = SendSome(peer, batch, sent);
      ssize_t got = recv(receiver, buffer.data(), buffer.size(), MSG_DONTWAIT);
      if (got > 0) received += static_cast<std::size_t>(got);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(batch.size()));
  close(peer);
  close(receiver);
  close(listener);
}

BENCHMARK(FramedThroughEngine)->Arg(64)->Arg(64 * 1024)->UseRealTime()->Repetitions(5);
BENCHMARK(PlainSendRecv)->Arg(64)->Arg(64 * 1024)->UseRealTime()->Repetitions(5);

}  // namespace

BENCHMARK_MAIN();
