// Networking over real loopback sockets, every wait bounded: framed messages split at awkward
// points or running round the receive ring's end arrive whole and in order, queued sends leave as
// the exact byte stream, a peer's close closes the connection, bad handles and hostile lengths are
// refused, and the dormant layer does nothing; a pump's looks at the sockets do not grow with the
// connections or the notifications, and what one connection holds is capped in each direction.
#include "host/network.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "loopback_peer.h"
#include "platform/winsock/winsock.h"
#include "system/tracked_memory.h"

namespace {

std::string Frame(const std::string& message) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>(message.size() >> (8 * i));
  return out + message;
}

std::string Pattern(std::size_t size, int seed) {
  std::string out(size, '\0');
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<char>((i * 31 + seed) & 0xFF);
  return out;
}

class NetworkTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    ASSERT_EQ(InitializeEngine(), 0);
    ASSERT_EQ(StartNetWorkForTest(1), 0);
    listener = ListenNetWorkForTest(&port);
    ASSERT_NE(listener, -1);
    peer = loopback::Connect(port);
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(PumpUntil([] { return GetLastAcceptedNetWork() != -1; }))
        << "the connection was never accepted";
    connection = GetLastAcceptedNetWork();
  }
  void TearDown() override {
    loopback::Close(peer);
    EngineFixture::TearDown();
  }
  // Runs the per-frame pump until `done` holds, for at most five seconds (or as given).
  bool PumpUntil(const std::function<bool()>& done, int milliseconds = 5000) {
    loopback::Deadline deadline(milliseconds);
    while (!done()) {
      if (deadline.Passed()) return false;
      ProcessWindowMessages();
    }
    return true;
  }
  // The next whole message, pumping for it for at most five seconds.
  bool Receive(std::string* message) {
    std::vector<char> buffer(2 * 1024 * 1024);
    int got = -1;
    if (!PumpUntil([&] {
          got = TakeNetWorkMessage(connection, buffer.data(), static_cast<int>(buffer.size()));
          return got >= 0;
        }))
      return false;
    message->assign(buffer.data(), static_cast<std::size_t>(got));
    return true;
  }
  bool Logged(const std::string& text) {
    const auto lines = LogLines();
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
      return line.find(text) != std::string::npos;
    });
  }
  int port = 0;
  int peer = -1;
  EngineHandle listener = -1;
  EngineHandle connection = -1;
};

TEST_F(NetworkTest, MessagesSplitAtAwkwardPointsArriveWholeAndInOrder) {
  const std::vector<std::string> messages = {"first", "", Pattern(1024 * 1024, 7), "last"};
  std::string stream;
  for (const auto& m : messages) stream += Frame(m);
  // The first header in 1 + 3 bytes, then the rest in uneven pieces, each taken by the engine
  // before the next is sent.
  const std::size_t cuts[] = {1, 4, 6, 9, 9 + 4 + 2, 5000, 70000, 700000, stream.size()};
  std::size_t at = 0;
  for (std::size_t cut : cuts) {
    ASSERT_TRUE(loopback::SendAll(peer, stream.data() + at, cut - at, 5000));
    at = cut;
    for (int i = 0; i < 3; ++i) ProcessWindowMessages();
  }
  for (const auto& expected : messages) {
    std::string got;
    ASSERT_TRUE(Receive(&got)) << "a message of " << expected.size() << " bytes never came";
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
  }
}

TEST_F(NetworkTest, LengthsAndMessagesRunningRoundTheRingsEndArriveWhole) {
  // Small messages taken as they come keep the ring at its first size while the stream passes
  // its end again and again: frames of 5 to 7 bytes put lengths and messages across the end at
  // every split point.
  std::string stream;
  std::vector<std::string> messages;
  for (int i = 0; stream.size() < 300 * 1024; ++i) {
    messages.push_back(Pattern(static_cast<std::size_t>(1 + i % 3), i));
    stream += Frame(messages.back());
  }
  std::size_t sent = 0, taken = 0;
  char buffer[8];
  loopback::Deadline deadline(60000);
  while (taken < messages.size() && !deadline.Passed()) {
    if (sent < stream.size()) {
      const std::size_t piece = std::min<std::size_t>(997, stream.size() - sent);
      ASSERT_TRUE(loopback::SendAll(peer, stream.data() + sent, piece, 5000));
      sent += piece;
    }
    ProcessWindowMessages();
    for (int got; (got = TakeNetWorkMessage(connection, buffer, sizeof buffer)) >= 0; ++taken) {
      ASSERT_LT(taken, messages.size());
      ASSERT_EQ(std::string(buffer, static_cast<std::size_t>(got)), messages[taken])
          << "message " << taken;
    }
  }
  EXPECT_EQ(taken, messages.size()) << "not every message came within a minute";
}

TEST_F(NetworkTest, QueuedSendsBeyondWhatTheSocketTakesLeaveAsTheExactStream) {
  // The peer reads nothing until all is queued: 16 MiB is more than the kernel buffers hold, so
  // sends come up short and the rest leaves on FD_WRITE.
  std::string expected;
  for (int i = 0; i < 160; ++i) {
    std::string message = Pattern(100 * 1024 + i, i);
    ASSERT_EQ(QueueNetWorkSend(connection, message.data(), static_cast<int>(message.size())), 0);
    expected += Frame(message);
  }
  std::string got(expected.size(), '\0');
  std::size_t at = 0;
  loopback::Deadline deadline(20000);
  while (at < got.size() && !deadline.Passed()) {
    // The peer takes what has come, then the engine gets a frame to send more.
    while (int n = loopback::ReceiveSome(peer, got.data() + at, got.size() - at, 1))
      at += static_cast<std::size_t>(n);
    ProcessWindowMessages();
  }
  ASSERT_EQ(at, got.size()) << "the peer did not receive every byte within twenty seconds";
  EXPECT_TRUE(got == expected);
}

TEST_F(NetworkTest, APeersCloseClosesTheConnectionOnceItsMessagesAreTaken) {
  // What follows the last whole message: nothing, part of a length, or a length and part of its
  // message. A message the close cut short can never be taken and does not keep the connection.
  const std::string tails[] = {"", std::string("\x64\x00", 2),
                               Frame(Pattern(100, 3)).substr(0, 14)};
  for (const std::string& tail : tails) {
    SCOPED_TRACE(tail.size());
    const std::string stream = Frame("bye") + tail;
    ASSERT_TRUE(loopback::SendAll(peer, stream.data(), stream.size(), 2000));
    loopback::Close(peer);
    peer = -1;
    std::string got;
    ASSERT_TRUE(Receive(&got));
    EXPECT_EQ(got, "bye");
    ASSERT_TRUE(PumpUntil([&] { return GetNetWorkLiveCount() == 1; }))
        << "the closed connection was never closed";
    EXPECT_EQ(RecvSocket(connection), -1);
    EXPECT_EQ(CloseNetWork(connection), -1);
    peer = loopback::Connect(port);
    ASSERT_TRUE(PumpUntil([&] { return GetLastAcceptedNetWork() != connection; }));
    connection = GetLastAcceptedNetWork();
  }
}

TEST_F(NetworkTest, AHostileLengthIsRefusedWithoutALargeAllocation) {
  const std::int64_t before = GetTrackedTotalBytes();
  const unsigned char headers[][4] = {{0xFF, 0xFF, 0xFF, 0x7F}, {0x00, 0x00, 0x00, 0x80}};
  for (const auto& header : headers) {
    SCOPED_TRACE(static_cast<int>(header[3]));
    if (GetLastAcceptedNetWork() != connection) connection = GetLastAcceptedNetWork();
    ASSERT_TRUE(loopback::SendAll(peer, header, 4, 2000));
    ASSERT_TRUE(PumpUntil([&] { return GetNetWorkLiveCount() == 1; }))
        << "the connection with a bad length was not closed";
    EXPECT_LT(GetTrackedTotalBytes() - before, 1024 * 1024);
    EXPECT_EQ(SendSocket(connection), -1);
    loopback::Close(peer);
    peer = loopback::Connect(port);
    ASSERT_TRUE(PumpUntil([&] { return GetLastAcceptedNetWork() != connection; }));
  }
}

TEST_F(NetworkTest, AnAnnouncedLengthAloneDoesNotSizeTheRing) {
  const std::int64_t before = GetTrackedTotalBytes();
  std::string start = Frame(std::string(1000, 'x'));
  const int length = kMaxNetWorkMessageSize;
  for (int i = 0; i < 4; ++i) start[i] = static_cast<char>(length >> (8 * i));
  ASSERT_TRUE(loopback::SendAll(peer, start.data(), start.size(), 2000));
  for (int i = 0; i < 5; ++i) ProcessWindowMessages();
  EXPECT_LT(GetTrackedTotalBytes() - before, 1024 * 1024);
  EXPECT_EQ(GetNetWorkLiveCount(), 2) << "a length within bounds closed the connection";
}

TEST_F(NetworkTest, StaleForeignAndOutOfRangeHandlesAreRefused) {
  const EngineHandle bad[] = {
      MakeEngineHandle(kNetworkHandle, GetEngineHandleCheck(connection) + 1,
                       GetEngineHandleSlot(connection)),
      MakeEngineHandle(kSoundHandle, GetEngineHandleCheck(connection),
                       GetEngineHandleSlot(connection)),
      MakeEngineHandle(kNetworkHandle, 0, 8192),
      -1,
  };
  for (EngineHandle handle : bad) {
    SCOPED_TRACE(handle);
    EXPECT_EQ(RecvSocket(handle), -1);
    EXPECT_EQ(SendSocket(handle), -1);
    EXPECT_EQ(CloseNetWork(handle), -1);
    EXPECT_EQ(QueueNetWorkSend(handle, "x", 1), -1);
  }
  EXPECT_EQ(CloseNetWork(connection), 0);
  EXPECT_EQ(CloseNetWork(connection), -1);
  EXPECT_TRUE(loopback::WaitForEndOfFile(peer, 2000));
}

// Two thousand peers connect, then close at once: every pump looks at the sockets a few times at
// most, however many notifications it dispatches, and every lost connection is closed.
TEST_F(NetworkTest, ABurstOfClosesCostsEachPumpAFewLooks) {
  constexpr int kPeers = 2000;
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  if (files.rlim_max < 2 * kPeers + 256) GTEST_SKIP() << "too few descriptors allowed";
  files.rlim_cur = std::max<rlim_t>(files.rlim_cur, 2 * kPeers + 256);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &files), 0);
  std::vector<int> peers;
  for (int i = 0; i < kPeers; ++i) {
    peers.push_back(loopback::Connect(port));
    ASSERT_GE(peers.back(), 0) << "connection " << i;
    if (i % 50 == 49 || i == kPeers - 1) {
      ASSERT_TRUE(PumpUntil([&] { return GetNetWorkLiveCount() == i + 3; }, 60000))
          << "connection " << i << " was never accepted";
    }
  }
  for (int fd : peers) loopback::Close(fd);
  long long mostLooks = 0;
  int pumps = 0;
  ASSERT_TRUE(PumpUntil(
      [&] {
        const SocketPollCounts before = GetSocketPollCounts();
        ProcessWindowMessages();
        ++pumps;
        mostLooks = std::max(mostLooks, GetSocketPollCounts().polls - before.polls);
        return GetNetWorkLiveCount() == 2;
      },
      60000))
      << "the closed connections were not all closed; " << GetNetWorkLiveCount() << " live";
  EXPECT_LE(mostLooks, 4) << "over " << pumps << " pumps";
}

// A peer that never reads: sends are queued up to the cap, then refused, and said so; the
// connection itself stays.
TEST_F(NetworkTest, SendsQueuedToAPeerThatNeverReadsAreCapped) {
  const std::int64_t before = GetTrackedTotalBytes();
  const std::string message = Pattern(1024 * 1024 - 4, 1);
  int queued = 0;
  while (queued < 2 * kMaxNetWorkSendHeld / (1024 * 1024) &&
         QueueNetWorkSend(connection, message.data(), static_cast<int>(message.size())) == 0)
    ++queued;
  EXPECT_GE(queued, kMaxNetWorkSendHeld / (1024 * 1024) - 1);
  EXPECT_LT(queued, 2 * kMaxNetWorkSendHeld / (1024 * 1024)) << "nothing was refused";
  EXPECT_LT(GetTrackedTotalBytes() - before, 2 * static_cast<std::int64_t>(kMaxNetWorkSendHeld));
  EXPECT_TRUE(Logged("送信待ちのデータが上限"));
  for (int i = 0; i < 3; ++i) ProcessWindowMessages();
  EXPECT_EQ(GetNetWorkLiveCount(), 2);
}

// A peer that sends while the program takes nothing: the engine holds up to the cap and then
// leaves the socket unread, so the peer is held back; once the program takes, every message
// arrives whole and in order.
TEST_F(NetworkTest, APeerSendingWhileNothingIsTakenIsHeldBackAndLosesNothing) {
  const std::int64_t before = GetTrackedTotalBytes();
  constexpr std::size_t kFrame = 1024 * 1024;
  constexpr std::size_t kPlenty = 2 * kMaxNetWorkReceiveHeld;  // far past the cap
  auto frameOf = [](int i) { return Frame(Pattern(kFrame - 4, i)); };
  std::size_t sent = 0;
  int sentFrames = 0;
  std::string current = frameOf(0);
  std::size_t at = 0;
  // Send until the peer has found no room through many pumps in a row.
  for (int blocked = 0; blocked < 50 && sent < kPlenty;) {
    const std::size_t n = loopback::SendNow(peer, current.data() + at, current.size() - at);
    blocked = n ? 0 : blocked + 1;
    at += n;
    sent += n;
    if (at == current.size()) {
      current = frameOf(++sentFrames);
      at = 0;
    }
    ProcessWindowMessages();
  }
  ASSERT_LT(sent, kPlenty) << "the peer was never held back";
  EXPECT_GE(sent, static_cast<std::size_t>(kMaxNetWorkReceiveHeld) - kFrame);
  EXPECT_LT(GetTrackedTotalBytes() - before, 2 * static_cast<std::int64_t>(kMaxNetWorkReceiveHeld));
  EXPECT_TRUE(Logged("受信データが上限"));
  EXPECT_EQ(GetNetWorkLiveCount(), 2);
  // The program now takes; the peer finishes the message it was part way through.
  std::vector<char> buffer(kFrame);
  const int total = sentFrames + (at ? 1 : 0);
  loopback::Deadline deadline(20000);
  for (int taken = 0; taken < total;) {
    ASSERT_FALSE(deadline.Passed()) << taken << " of " << total << " messages taken";
    if (at) at += loopback::SendNow(peer, current.data() + at, current.size() - at);
    if (at == current.size()) at = 0;
    const int got = TakeNetWorkMessage(connection, buffer.data(), static_cast<int>(buffer.size()));
    if (got < 0) {
      ProcessWindowMessages();
      continue;
    }
    ASSERT_EQ(static_cast<std::size_t>(got), kFrame - 4);
    ASSERT_TRUE(std::string(buffer.data(), kFrame - 4) == Pattern(kFrame - 4, taken))
        << "message " << taken;
    ++taken;
  }
}

using DormantNetworkTest = EngineFixture;

TEST_F(DormantNetworkTest, WithoutAStartEveryCallReturnsAtOnce) {
  ASSERT_EQ(InitializeEngine(), 0);
  const EngineHandle handle = MakeEngineHandle(kNetworkHandle, 0, 0);
  EXPECT_EQ(RecvSocket(handle), -1);
  EXPECT_EQ(SendSocket(handle), -1);
  EXPECT_EQ(CloseNetWork(handle), -1);
  EXPECT_EQ(AcceptNetWork(0), -1);
  EXPECT_EQ(PumpNetWorkMessages(1), 0);
  EXPECT_EQ(ShutdownNetWork(), 0);
  EXPECT_EQ(ShutdownEngine(), 0);
  for (const std::string& line : LogLines())
    EXPECT_EQ(line.find("\x83\x6C\x83\x62\x83\x67"), std::string::npos);
}

}  // namespace
