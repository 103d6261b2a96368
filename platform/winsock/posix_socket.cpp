// The POSIX side of the Winsock stand-in.
#include "platform/winsock/posix_socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace posix_socket {

namespace {

int WinsockError(int number) {
  switch (number) {
    case EAGAIN: return 10035;  // WSAEWOULDBLOCK (EWOULDBLOCK is the same number)
    case EINPROGRESS: return 10036;
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: return 10024;
    case ENOTSOCK: return 10038;
    case EMSGSIZE: return 10040;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case ENETDOWN: return 10050;
    case ECONNABORTED: return 10053;
    case ECONNRESET:
    case EPIPE: return 10054;
    case ENOBUFS: return 10055;
    case ENOTCONN: return 10057;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    default: return 10000 + number;
  }
}

int Fail(int* error) {
  if (error) *error = WinsockError(errno);
  return -1;
}

}  // namespace

int OpenStream(int* error) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  return fd < 0 ? Fail(error) : fd;
}

int Bind(int fd, std::uint32_t address, std::uint16_t port, int* error) {
  sockaddr_in in{};
  in.sin_family = AF_INET;
  in.sin_port = port;
  in.sin_addr.s_addr = address;
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  return ::bind(fd, reinterpret_cast<sockaddr*>(&in), sizeof in) == 0 ? 0 : Fail(error);
}

int Listen(int fd, int backlog, int* error) {
  if (backlog > SOMAXCONN || backlog < 0) backlog = SOMAXCONN;
  return ::listen(fd, backlog) == 0 ? 0 : Fail(error);
}

int Accept(int fd, std::uint32_t* address, std::uint16_t* port, int* error) {
  sockaddr_in in{};
  socklen_t length = sizeof in;
  int accepted =
      ::accept4(fd, reinterpret_cast<sockaddr*>(&in), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (accepted < 0) return Fail(error);
  *address = in.sin_addr.s_addr;
  *port = in.sin_port;
  return accepted;
}

int LocalName(int fd, std::uint32_t* address, std::uint16_t* port, int* error) {
  sockaddr_in in{};
  socklen_t length = sizeof in;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&in), &length) != 0) return Fail(error);
  *address = in.sin_addr.s_addr;
  *port = in.sin_port;
  return 0;
}

int Receive(int fd, char* buffer, int length, bool peek, int* error) {
  if (length < 0) {
    *error = 10022;
    return -1;
  }
  ssize_t got;
  do {
    got = ::recv(fd, buffer, static_cast<size_t>(length), peek ? MSG_PEEK : 0);
  } while (got < 0 && errno == EINTR);
  return got < 0 ? Fail(error) : static_cast<int>(got);
}

int Send(int fd, const char* buffer, int length, int* error) {
  if (length < 0) {
    *error = 10022;
    return -1;
  }
  ssize_t sent;
  do {
    sent = ::send(fd, buffer, static_cast<size_t>(length), MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return sent < 0 ? Fail(error) : static_cast<int>(sent);
}

int SetNonBlocking(int fd, int* error) {
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return Fail(error);
  return 0;
}

void Close(int fd) { ::close(fd); }

int Available(int fd) {
  int count = 0;
  return ioctl(fd, FIONREAD, &count) == 0 && count > 0 ? count : 0;
}

void PollReadiness(std::vector<Readiness>& sockets) {
  std::vector<pollfd> fds(sockets.size());
  for (std::size_t i = 0; i < sockets.size(); ++i)
    fds[i] = pollfd{sockets[i].fd, POLLIN | POLLOUT | POLLRDHUP, 0};
  if (fds.empty() || ::poll(fds.data(), fds.size(), 0) <= 0) return;
  for (std::size_t i = 0; i < sockets.size(); ++i) {
    short revents = fds[i].revents;
    Readiness& r = sockets[i];
    r.readable = (revents & POLLIN) != 0;
    r.writable = (revents & POLLOUT) != 0 && (revents & (POLLERR | POLLHUP)) == 0;
    r.hangUp = (revents & (POLLRDHUP | POLLHUP)) != 0;
    if (revents & POLLERR) {
      int code = 0;
      socklen_t length = sizeof code;
      getsockopt(r.fd, SOL_SOCKET, SO_ERROR, &code, &length);
      r.errorNumber = code ? WinsockError(code) : 10054;
    }
  }
}

}  // namespace posix_socket
