// Framed loopback throughput: a peer sends a batch of framed messages that the engine receives
// through its network window and takes out whole, against the same batch received with plain
// non-blocking recv into a buffer and split into the same messages by their lengths. Every round
// sends the batch to each in turn in one process, which goes first alternating; the figures are
// medians of the rounds' times and of their ratios (engine / plain; below 1 is faster).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench/side_by_side.h"
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

// A plain connected pair on the loopback: the sending peer and the receiving end.
struct PlainPair {
  int peer = -1;
  int receiver = -1;
  PlainPair() {
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener, 1);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    peer = ConnectTo(ntohs(address.sin_port));
    receiver = accept(listener, nullptr, nullptr);
    close(listener);
  }
  ~PlainPair() {
    close(peer);
    close(receiver);
  }
};

// The engine takes the batch's messages out whole, one at a time, into `message`.
void ReceiveThroughEngine(Engine& engine, const std::string& batch, std::size_t messages,
                          std::vector<char>& message) {
  const int size = static_cast<int>(message.size());
  std::size_t sent = 0, taken = 0;
  while (taken < messages) {
    if (sent < batch.size()) sent = SendSome(engine.peer, batch, sent);
    PumpNetWorkMessages(0);
    while (TakeNetWorkMessage(engine.connection, message.data(), size) == size) ++taken;
  }
}

// The plain receiver: recv what has come after the bytes held, take each whole message out into
// `message` by its length, and move the partial rest to the front.
void ReceivePlain(PlainPair& pair, const std::string& batch, std::size_t messages,
                  std::vector<char>& buffer, std::vector<char>& message) {
  std::size_t sent = 0, taken = 0, held = 0;
  while (taken < messages) {
    if (sent < batch.size()) sent = SendSome(pair.peer, batch, sent);
    const ssize_t got =
        recv(pair.receiver, buffer.data() + held, buffer.size() - held, MSG_DONTWAIT);
    if (got <= 0) continue;
    held += static_cast<std::size_t>(got);
    std::size_t at = 0;
    while (held - at >= 4) {
      std::uint32_t length = 0;
      for (int i = 0; i < 4; ++i)
        length |= std::uint32_t{static_cast<unsigned char>(buffer[at + i])} << (8 * i);
      if (held - at - 4 < length) break;
      std::memcpy(message.data(), buffer.data() + at + 4, length);
      at += 4 + length;
      ++taken;
    }
    std::memmove(buffer.data(), buffer.data() + at, held - at);
    held -= at;
  }
  benchmark::DoNotOptimize(message.data());
}

void BM_FramedEngineOverPlain(benchmark::State& state) {
  Engine& engine = TheEngine();
  if (engine.connection == -1) {
    state.SkipWithError("the engine did not accept the connection");
    return;
  }
  PlainPair pair;
  const int size = static_cast<int>(state.range(0));
  const std::string batch = Batch(size);
  const std::size_t messages = batch.size() / (static_cast<std::size_t>(size) + 4);
  std::vector<char> message(static_cast<std::size_t>(size));
  // Room for a whole message and a large receive beside it.
  std::vector<char> buffer(static_cast<std::size_t>(size) + 4 + 256 * 1024);
  std::vector<double> engineTimes, plainTimes, ratios;
  int round = 0;
  for (auto _ : state) {
    double engineTime = 0, plainTime = 0;
    TimeInTurn(
        round++, Now,
        [&] {
          ReceiveThroughEngine(engine, batch, messages, message);
          return true;
        },
        [&] {
          ReceivePlain(pair, batch, messages, buffer, message);
          return true;
        },
        &engineTime, &plainTime);
    engineTimes.push_back(engineTime);
    plainTimes.push_back(plainTime);
    ratios.push_back(engineTime / plainTime);
  }
  const double mebibytes = static_cast<double>(batch.size()) / (1 << 20);
  state.counters["engine_MiB_per_s"] = mebibytes / Median(engineTimes);
  state.counters["plain_MiB_per_s"] = mebibytes / Median(plainTimes);
  state.counters["ratio"] = Median(ratios);
}

BENCHMARK(BM_FramedEngineOverPlain)
    ->Arg(64)
    ->Arg(64 * 1024)
    ->Iterations(1000)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
