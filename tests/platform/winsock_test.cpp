// Winsock over POSIX sockets on 127.0.0.1: notifications reach the window as the platform posts
// them (FD_ACCEPT, one FD_WRITE, FD_READ re-armed by recv, FD_CLOSE after the data), sends to a
// closed peer fail without a signal, and closing a socket removes its queued notifications.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loopback_peer.h"
#include "platform/win32/user.h"
#include "platform/winsock/winsock.h"

namespace {

constexpr UINT kNotify = WM_USER + 5;

LRESULT CALLBACK SocketWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

struct Notification {
  SOCKET socket;
  WORD event;
  WORD error;
};

class WinsockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSEXA c{};
    c.cbSize = sizeof c;
    c.lpfnWndProc = SocketWindowProc;
    c.lpszClassName = "WinsockTestClass";
    RegisterClassExA(&c);
    window = CreateWindowExA(0, "WinsockTestClass", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    listener = winsock::socket(winsock::AF_INET, winsock::SOCK_STREAM, winsock::IPPROTO_TCP);
    ASSERT_NE(listener, INVALID_SOCKET);
    winsock::sockaddr_in address{};
    address.sin_family = winsock::AF_INET;
    address.sin_addr.S_un.S_un_b = {127, 0, 0, 1};
    int length = sizeof address;
    auto* raw = reinterpret_cast<winsock::sockaddr*>(&address);
    ASSERT_EQ(winsock::bind(listener, raw, length), 0);
    ASSERT_EQ(winsock::listen(listener, 4), 0);
    ASSERT_EQ(winsock::getsockname(listener, raw, &length), 0);
    port = winsock::ntohs(address.sin_port);
    ASSERT_EQ(WSAAsyncSelect(listener, window, kNotify, FD_ACCEPT), 0);
  }
  void TearDown() override {
    loopback::Close(peer);
    if (accepted != INVALID_SOCKET) closesocket(accepted);
    closesocket(listener);
    DestroyWindow(window);
    UnregisterClassA("WinsockTestClass", nullptr);
  }
  // The notifications queued now, taken off the queue.
  std::vector<Notification> Take() {
    std::vector<Notification> out;
    MSG m;
    while (PeekMessageA(&m, window, 0, 0, PM_REMOVE))
      if (m.message == kNotify)
        out.push_back({m.wParam, WSAGETSELECTEVENT(m.lParam), WSAGETSELECTERROR(m.lParam)});
    return out;
  }
  // Takes notifications until one with `event` comes, for at most two seconds.
  bool AwaitEvent(WORD event, std::vector<Notification>* seen = nullptr) {
    loopback::Deadline deadline(2000);
    while (!deadline.Passed()) {
      for (const Notification& n : Take()) {
        if (seen) seen->push_back(n);
        if (n.event == event) return true;
      }
    }
    return false;
  }
  void Accept() {
    peer = loopback::Connect(port);
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(AwaitEvent(FD_ACCEPT)) << "no FD_ACCEPT for the connection";
    winsock::sockaddr_in from{};
    int length = sizeof from;
    accepted = winsock::accept(listener, reinterpret_cast<winsock::sockaddr*>(&from), &length);
    ASSERT_NE(accepted, INVALID_SOCKET);
    EXPECT_EQ(from.sin_addr.S_un.S_un_b.s_b1, 127);
    ASSERT_EQ(WSAAsyncSelect(accepted, window, kNotify, FD_READ | FD_WRITE | FD_CLOSE), 0);
  }
  HWND window = nullptr;
  SOCKET listener = INVALID_SOCKET;
  SOCKET accepted = INVALID_SOCKET;
  int peer = -1;
  int port = 0;
};

TEST_F(WinsockTest, ReadIsReArmedByRecvAndCloseComesAfterTheData) {
  Accept();
  std::vector<Notification> seen;
  ASSERT_TRUE(AwaitEvent(FD_WRITE, &seen)) << "no FD_WRITE after the select";
  ASSERT_TRUE(loopback::SendAll(peer, "abc", 3, 2000));
  ASSERT_TRUE(AwaitEvent(FD_READ, &seen)) << "no FD_READ for 3 bytes";
  // No second FD_READ until recv answers the first.
  ASSERT_TRUE(loopback::SendAll(peer, "def", 3, 2000));
  EXPECT_TRUE(Take().empty());
  char buffer[8] = {};
  // A peek that finds too few bytes earns no new FD_READ until more arrive.
  EXPECT_EQ(winsock::recv(accepted, buffer, 8, winsock::MSG_PEEK), 6);
  EXPECT_TRUE(Take().empty());
  EXPECT_EQ(winsock::recv(accepted, buffer, 4, 0), 4);
  ASSERT_TRUE(AwaitEvent(FD_READ)) << "no FD_READ for the 2 bytes left by a full recv";
  EXPECT_EQ(winsock::recv(accepted, buffer + 4, 4, 0), 2);
  EXPECT_EQ(std::string(buffer, 6), "abcdef");
  EXPECT_EQ(winsock::recv(accepted, buffer, 4, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);

  ASSERT_TRUE(loopback::SendAll(peer, "xy", 2, 2000));
  loopback::Close(peer);
  peer = -1;
  seen.clear();
  ASSERT_TRUE(AwaitEvent(FD_READ, &seen)) << "no FD_READ for data sent before the close";
  for (const Notification& n : seen) EXPECT_NE(n.event, FD_CLOSE);
  EXPECT_EQ(winsock::recv(accepted, buffer, 8, 0), 2);
  ASSERT_TRUE(AwaitEvent(FD_CLOSE)) << "no FD_CLOSE once the data was read";
  EXPECT_EQ(winsock::recv(accepted, buffer, 8, 0), 0);
}

TEST_F(WinsockTest, SendToAClosedPeerFailsWithoutASignal) {
  Accept();
  loopback::Close(peer);
  peer = -1;
  ASSERT_TRUE(AwaitEvent(FD_CLOSE)) << "no FD_CLOSE for the closed peer";
  std::vector<char> block(64 * 1024, 'x');
  int result = 0;
  for (int i = 0; i < 64 && result != SOCKET_ERROR; ++i)
    result = winsock::send(accepted, block.data(), static_cast<int>(block.size()), 0);
  ASSERT_EQ(result, SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
}

TEST_F(WinsockTest, ClosingASocketDropsItsQueuedNotificationsAndBadSocketsAreRefused) {
  Accept();
  ASSERT_TRUE(loopback::SendAll(peer, "abc", 3, 2000));
  // Let the notifications be posted, then close before they are taken.
  loopback::Deadline deadline(2000);
  MSG m;
  while (!deadline.Passed() && !PeekMessageA(&m, window, kNotify, kNotify, PM_NOREMOVE)) {
  }
  ASSERT_EQ(closesocket(accepted), 0);
  for (const Notification& n : Take()) EXPECT_NE(n.socket, accepted);
  char byte;
  EXPECT_EQ(winsock::recv(accepted, &byte, 1, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
  EXPECT_EQ(closesocket(accepted), SOCKET_ERROR);
  accepted = INVALID_SOCKET;
}

}  // namespace
