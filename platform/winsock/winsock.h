// Windows Sockets over POSIX sockets, with asynchronous window notification: a socket given to
// WSAAsyncSelect becomes non-blocking, and its readiness is posted to the window's queue as the
// window's thread looks at its queue (PeekMessageA polls the sockets of that thread's windows
// when the queue holds nothing for it).
// The calls whose names POSIX also uses live in namespace winsock, so that a source may include
// both without a clash.
#pragma once

#include <span>

#include "platform/win32/kernel.h"
#include "platform/win32/win32_types.h"

using SOCKET = UINT_PTR;
inline constexpr SOCKET INVALID_SOCKET = ~static_cast<SOCKET>(0);
constexpr int SOCKET_ERROR = -1;

struct WSADATA {
  WORD wVersion;
  WORD wHighVersion;
  char szDescription[257];
  char szSystemStatus[129];
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
};
using LPWSADATA = WSADATA*;

// The events of WSAAsyncSelect; a notification's lParam is the event in its low word and an error
// number in its high word.
constexpr long FD_READ = 0x01;
constexpr long FD_WRITE = 0x02;
constexpr long FD_ACCEPT = 0x08;
constexpr long FD_CONNECT = 0x10;
constexpr long FD_CLOSE = 0x20;
inline WORD WSAGETSELECTEVENT(LPARAM lParam) { return static_cast<WORD>(lParam & 0xFFFF); }
inline WORD WSAGETSELECTERROR(LPARAM lParam) { return static_cast<WORD>((lParam >> 16) & 0xFFFF); }

// Error numbers (WSAGetLastError). A POSIX error without a Winsock twin is 10000 + errno.
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSANOTINITIALISED = 10093;

// Always 0: the layer needs no start; the data names version 2.2.
int WSAStartup(WORD version, LPWSADATA data);
int WSACleanup();
// The calling thread's last error.
int WSAGetLastError();
// Registers (events non-zero) or cancels (0) the notifications of a socket, and makes it
// non-blocking either way. After registering, FD_WRITE comes once when the socket can send; again
// only after a send that could not take all its bytes. FD_READ comes when data arrives; after a
// recv, again when data is left and that recv got all it asked for, else only when more arrives
// (a reader waiting for a whole header is not flooded). FD_CLOSE comes once, after the peer closed
// and once no unreported data is left, or on a connection error (its number in the high word).
int WSAAsyncSelect(SOCKET socket, HWND window, UINT message, long events);
// Closes the socket and removes its notifications still queued.
int closesocket(SOCKET socket);

namespace winsock {

constexpr int AF_INET = 2;
constexpr int SOCK_STREAM = 1;
constexpr int IPPROTO_TCP = 6;
constexpr int MSG_PEEK = 0x2;
constexpr int SOMAXCONN = 0x7FFFFFFF;

struct in_addr {
  union {
    struct {
      UCHAR s_b1, s_b2, s_b3, s_b4;
    } S_un_b;
    ULONG S_addr;
  } S_un;
};

struct sockaddr {
  USHORT sa_family;
  char sa_data[14];
};

// IPv4 only. Port and address are in network byte order.
struct sockaddr_in {
  SHORT sin_family;
  USHORT sin_port;
  in_addr sin_addr;
  char sin_zero[8];
};

SOCKET socket(int family, int type, int protocol);
int bind(SOCKET socket, const sockaddr* address, int length);
int listen(SOCKET socket, int backlog);
// The new socket inherits the listening socket's notifications, as on the platform.
SOCKET accept(SOCKET socket, sockaddr* address, int* length);
int getsockname(SOCKET socket, sockaddr* address, int* length);
// 0 when the peer has closed; SOCKET_ERROR with WSAEWOULDBLOCK when nothing is there yet.
int recv(SOCKET socket, char* buffer, int length, int flags);
// Never raises SIGPIPE: a send to a closed peer fails with WSAECONNRESET.
int send(SOCKET socket, const char* buffer, int length, int flags);
USHORT htons(USHORT value);
USHORT ntohs(USHORT value);

}  // namespace winsock

// For the other stand-ins: posts the notifications that the sockets of the calling thread's
// windows have earned since the last look, in one poll over those that can still earn one; the
// count posted. PeekMessageA calls it when the queue holds nothing for it, so a burst of
// notifications costs one look, not one look per message.
int PollPlatformSockets();
// How many looks at readiness have been made (each one poll) and how many sockets they covered,
// since the process started: for tests that a pump's cost follows what is live.
struct SocketPollCounts {
  long long polls;
  long long sockets;
};
SocketPollCounts GetSocketPollCounts();
// The entry points of "ws2_32.dll" for the module table.
std::span<const PlatformModuleEntry> Ws2ModuleEntries();
