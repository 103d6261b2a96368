// The POSIX calls behind the Winsock stand-in, with plain types only, so that winsock.cpp never
// sees the POSIX declarations whose names Winsock shares. Failures return -1 and store the
// Winsock error number in *error.
#pragma once

#include <cstdint>
#include <vector>

namespace posix_socket {

int OpenStream(int* error);
// address and port in network byte order.
int Bind(int fd, std::uint32_t address, std::uint16_t port, int* error);
int Listen(int fd, int backlog, int* error);
// The new descriptor, non-blocking and closed on exec; the peer's address and port in network
// byte order.
int Accept(int fd, std::uint32_t* address, std::uint16_t* port, int* error);
int LocalName(int fd, std::uint32_t* address, std::uint16_t* port, int* error);
int Receive(int fd, char* buffer, int length, bool peek, int* error);
int Send(int fd, const char* buffer, int length, int* error);
int SetNonBlocking(int fd, int* error);
void Close(int fd);
// Bytes waiting to be read (0 when unknown).
int Available(int fd);

struct Readiness {
  int fd;
  bool readable = false;
  bool writable = false;
  bool hangUp = false;  // the peer will send nothing more
  int errorNumber = 0;  // a pending connection error, as a Winsock number
};
// Looks at every descriptor without waiting.
void PollReadiness(std::vector<Readiness>& sockets);

}  // namespace posix_socket
