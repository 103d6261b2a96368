// The far end of a loopback connection over POSIX sockets.
#include "loopback_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace loopback {

namespace {

int RemainingMilliseconds(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool WaitFor(int fd, short events, std::chrono::steady_clock::time_point deadline) {
  pollfd p{fd, events, 0};
  return ::poll(&p, 1, RemainingMilliseconds(deadline)) > 0;
}

}  // namespace

int Connect(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

void Close(int fd) {
  if (fd >= 0) ::close(fd);
}

void SetBuffers(int fd, int sendBytes, int receiveBytes) {
  if (sendBytes > 0) setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBytes, sizeof sendBytes);
  if (receiveBytes > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBytes, sizeof receiveBytes);
}

bool SendAll(int fd, const void* data, std::size_t size, int milliseconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  auto bytes = static_cast<const char*>(data);
  while (size > 0) {
    if (!WaitFor(fd, POLLOUT, deadline)) return false;
    ssize_t sent = ::send(fd, bytes, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) continue;
    bytes += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

bool ReceiveExactly(int fd, void* data, std::size_t size, int milliseconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  auto bytes = static_cast<char*>(data);
  while (size > 0) {
    if (!WaitFor(fd, POLLIN, deadline)) return false;
    ssize_t got = ::recv(fd, bytes, size, MSG_DONTWAIT);
    if (got == 0) return false;
    if (got < 0) continue;
    bytes += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

Deadline::Deadline(int milliseconds)
    : end_(std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
               .count() +
           milliseconds) {}

bool Deadline::Passed() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
             .count() > end_;
}

int ReceiveSome(int fd, void* data, std::size_t size, int milliseconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  if (!WaitFor(fd, POLLIN, deadline)) return 0;
  ssize_t got = ::recv(fd, data, size, MSG_DONTWAIT);
  return got > 0 ? static_cast<int>(got) : 0;
}

std::size_t SendNow(int fd, const void* data, std::size_t size) {
  const ssize_t sent = ::send(fd, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
  return sent > 0 ? static_cast<std::size_t>(sent) : 0;
}

bool WaitForEndOfFile(int fd, int milliseconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  char byte;
  while (WaitFor(fd, POLLIN, deadline)) {
    ssize_t got = ::recv(fd, &byte, 1, MSG_DONTWAIT);
    if (got == 0) return true;
    if (got < 0 && RemainingMilliseconds(deadline) == 0) return false;
  }
  return false;
}

}  // namespace loopback
