// Winsock over POSIX sockets: socket numbers of the layer's own (never a descriptor, so a stale
// notification cannot reach a new socket that reuses one), the notification state of
// WSAAsyncSelect, and the look at readiness that turns it into posted messages.
#include "platform/winsock/winsock.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/win32/user_internal.h"
#include "platform/winsock/posix_socket.h"

namespace {

struct SocketRecord {
  int fd = -1;
  bool listening = false;
  HWND window = nullptr;
  DWORD thread = 0;  // the window's, so a look need not ask the window table
  UINT message = 0;
  long events = 0;
  bool readPosted = false;    // FD_READ waits for a recv
  int availableAtRecv = 0;    // what the last recv left unread
  bool recvFilled = false;    // the last recv got all it asked for: the caller may want more
  bool acceptPosted = false;  // FD_ACCEPT waits for an accept
  bool writeArmed = false;    // FD_WRITE is due when the socket can send
  bool closePosted = false;
};

struct SocketTable {
  std::mutex mutex;
  std::map<SOCKET, SocketRecord> sockets;
  SOCKET next = 0x100;
  std::atomic<int> selected{0};  // sockets with notifications, so an idle look costs nothing
  std::atomic<long long> polls{0};
  std::atomic<long long> socketsLooked{0};
};

SocketTable& Table() {
  static auto* table = new SocketTable;
  return *table;
}

thread_local int lastError = 0;

int Fail(int error) {
  lastError = error;
  return SOCKET_ERROR;
}

// With the table's mutex held.
SocketRecord* Find(SOCKET s) {
  auto it = Table().sockets.find(s);
  return it == Table().sockets.end() ? nullptr : &it->second;
}

SOCKET AddLocked(int fd, bool listening) {
  SOCKET s = Table().next++;
  SocketRecord record;
  record.fd = fd;
  record.listening = listening;
  Table().sockets[s] = record;
  return s;
}

bool IsSelected(const SocketRecord& record) { return record.window && record.events; }

// Gives the record its notifications (none with a null window or no events), keeping the count
// of selected sockets; a count walked over the table would make every open and close cost as
// much as all the others together.
void SelectLocked(SocketRecord& record, HWND window, UINT message, long events) {
  if (IsSelected(record)) --Table().selected;
  record.window = events ? window : nullptr;
  record.message = message;
  record.events = events;
  record.thread = record.window ? GetWindowThreadProcessId(record.window, nullptr) : 0;
  if (IsSelected(record)) ++Table().selected;
}

// After its FD_CLOSE a socket can earn only FD_WRITE, and only once a send came up short: until
// then a look passes it by, so connections that the program has yet to close cost nothing.
bool CanEarnNotification(const SocketRecord& record) {
  return !record.closePosted || record.writeArmed;
}

LPARAM Notification(long event, int error) {
  return static_cast<LPARAM>(MAKELONG(static_cast<WORD>(event), static_cast<WORD>(error)));
}

}  // namespace

int WSAStartup(WORD, LPWSADATA data) {
  if (data) {
    std::memset(data, 0, sizeof *data);
    data->wVersion = 0x0202;
    data->wHighVersion = 0x0202;
    std::strcpy(data->szDescription, "POSIX sockets");
    std::strcpy(data->szSystemStatus, "Running");
  }
  return 0;
}

int WSACleanup() { return 0; }

int WSAGetLastError() { return lastError; }

int WSAAsyncSelect(SOCKET s, HWND window, UINT message, long events) {
  std::lock_guard lock(Table().mutex);
  SocketRecord* record = Find(s);
  if (!record) return Fail(WSAENOTSOCK);
  int error = 0;
  if (posix_socket::SetNonBlocking(record->fd, &error) != 0) return Fail(error);
  if (events && !IsWindow(window)) return Fail(WSAEINVAL);
  SelectLocked(*record, window, message, events);
  record->readPosted = false;
  record->availableAtRecv = 0;
  record->acceptPosted = false;
  record->writeArmed = true;
  record->closePosted = false;
  return 0;
}

int closesocket(SOCKET s) {
  HWND window;
  UINT message;
  {
    std::lock_guard lock(Table().mutex);
    SocketRecord* record = Find(s);
    if (!record) return Fail(WSAENOTSOCK);
    posix_socket::Close(record->fd);
    window = record->window;
    message = record->message;
    if (IsSelected(*record)) --Table().selected;
    Table().sockets.erase(s);
  }
  if (window) {
    using namespace user_detail;
    std::lock_guard lock(State().mutex);
    if (auto windowRecord = FindRecordLocked(window)) {
      auto& posted = windowRecord->queue->posted;
      posted.erase(std::remove_if(posted.begin(), posted.end(),
                                  [&](const MSG& m) {
                                    return m.hwnd == window && m.message == message &&
                                           m.wParam == s;
                                  }),
                   posted.end());
    }
  }
  return 0;
}

namespace winsock {

SOCKET socket(int family, int type, int protocol) {
  if (family != AF_INET) {
    lastError = WSAEAFNOSUPPORT;
    return INVALID_SOCKET;
  }
  if (type != SOCK_STREAM || (protocol != 0 && protocol != IPPROTO_TCP)) {
    lastError = WSAEINVAL;
    return INVALID_SOCKET;
  }
  int error = 0;
  int fd = posix_socket::OpenStream(&error);
  if (fd < 0) {
    lastError = error;
    return INVALID_SOCKET;
  }
  std::lock_guard lock(Table().mutex);
  return AddLocked(fd, false);
}

int bind(SOCKET s, const sockaddr* address, int length) {
  if (!address || length < static_cast<int>(sizeof(sockaddr_in))) return Fail(WSAEFAULT);
  sockaddr_in in;
  std::memcpy(&in, address, sizeof in);
  if (in.sin_family != AF_INET) return Fail(WSAEAFNOSUPPORT);
  std::lock_guard lock(Table().mutex);
  SocketRecord* record = Find(s);
  if (!record) return Fail(WSAENOTSOCK);
  int error = 0;
  if (posix_socket::Bind(record->fd, in.sin_addr.S_un.S_addr, in.sin_port, &error) != 0)
    return Fail(error);
  return 0;
}

int listen(SOCKET s, int backlog) {
  std::lock_guard lock(Table().mutex);
  SocketRecord* record = Find(s);
  if (!record) return Fail(WSAENOTSOCK);
  int error = 0;
  if (posix_socket::Listen(record->fd, backlog, &error) != 0) return Fail(error);
  record->listening = true;
  return 0;
}

SOCKET accept(SOCKET s, sockaddr* address, int* length) {
  std::unique_lock lock(Table().mutex);
  SocketRecord* record = Find(s);
  if (!record) {
    lastError = WSAENOTSOCK;
    return INVALID_SOCKET;
  }
  record->acceptPosted = false;
  if (address && (!length || *length < static_cast<int>(sizeof(sockaddr_in)))) {
    lastError = WSAEFAULT;
    return INVALID_SOCKET;
  }
  std::uint32_t peer = 0;
  std::uint16_t port = 0;
  int error = 0;
  int fd = posix_socket::Accept(record->fd, &peer, &port, &error);
  if (fd < 0) {
    lastError = error;
    return INVALID_SOCKET;
  }
  if (address) {
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = port;
    in.sin_addr.S_un.S_addr = peer;
    std::memcpy(address, &in, sizeof in);
    *length = sizeof in;
  }
  HWND window = record->window;
  UINT message = record->message;
  long events = record->events;
  SOCKET accepted = AddLocked(fd, false);
  if (window) {
    SocketRecord& child = *Find(accepted);
    SelectLocked(child, window, message, events);
    child.writeArmed = true;
  }
  // As on the platform, an accept with more connections waiting earns the next FD_ACCEPT at
  // once: a burst of connections is then taken one message each, without a look at every socket
  // between them.
  if (window && (events & FD_ACCEPT)) {
    std::vector<posix_socket::Readiness> listening(1);
    listening[0].fd = record->fd;
    posix_socket::PollReadiness(listening);
    ++Table().polls;
    ++Table().socketsLooked;
    if (listening[0].readable) {
      record->acceptPosted = true;
      lock.unlock();
      PostMessageA(window, message, static_cast<WPARAM>(s), Notification(FD_ACCEPT, 0));
    }
  }
  return accepted;
}

int getsockname(SOCKET s, sockaddr* address, int* length) {
  if (!address || !length || *length < static_cast<int>(sizeof(sockaddr_in)))
    return Fail(WSAEFAULT);
  std::lock_guard lock(Table().mutex);
  SocketRecord* record = Find(s);
  if (!record) return Fail(WSAENOTSOCK);
  std::uint32_t local = 0;
  std::uint16_t port = 0;
  int error = 0;
  if (posix_socket::LocalName(record->fd, &local, &port, &error) != 0) return Fail(error);
  sockaddr_in in{};
  in.sin_family = AF_INET;
  in.sin_port = port;
  in.sin_addr.S_un.S_addr = local;
  std::memcpy(address, &in, sizeof in);
  *length = sizeof in;
  return 0;
}

int recv(SOCKET s, char* buffer, int length, int flags) {
  std::lock_guard lock(Table().mutex);
  SocketRecord* record = Find(s);
  if (!record) return Fail(WSAENOTSOCK);
  if (length > 0 && !buffer) return Fail(WSAEFAULT);
  int error = 0;
  int got = posix_socket::Receive(record->fd, buffer, length, (flags & MSG_PEEK) != 0, &error);
  // Every recv answers the outstanding FD_READ; the next one is earned by new data.
  record->readPosted = false;
  record->recvFilled = got > 0 && got == length;
  // A peek leaves what it saw; a recv that got less than it asked for emptied the socket, so
  // whatever is there afterwards is new.
  record->availableAtRecv = (flags & MSG_PEEK) && got > 0 ? got : 0;
  return got < 0 ? Fail(error) : got;
}

int send(SOCKET s, const char* buffer, int length, int) {
  std::lock_guard lock(Table().mutex);
  SocketRecord* record = Find(s);
  if (!record) return Fail(WSAENOTSOCK);
  if (length > 0 && !buffer) return Fail(WSAEFAULT);
  int error = 0;
  int sent = posix_socket::Send(record->fd, buffer, length, &error);
  if (sent < 0) {
    if (error == WSAEWOULDBLOCK) record->writeArmed = true;
    return Fail(error);
  }
  // A send that took part of its bytes is answered by FD_WRITE too, so that a caller that stops
  // on a short send is told when to go on.
  if (sent < length) record->writeArmed = true;
  return sent;
}

USHORT htons(USHORT value) { return static_cast<USHORT>((value >> 8) | (value << 8)); }
USHORT ntohs(USHORT value) { return htons(value); }

}  // namespace winsock

int PollPlatformSockets() {
  if (Table().selected.load() == 0) return 0;
  struct Pending {
    HWND window;
    UINT message;
    SOCKET socket;
    LPARAM lParam;
  };
  std::vector<Pending> pending;
  {
    std::lock_guard lock(Table().mutex);
    std::vector<posix_socket::Readiness> readiness;
    std::vector<SOCKET> order;
    DWORD thread = GetCurrentThreadId();
    for (auto& [s, record] : Table().sockets) {
      if (!IsSelected(record) || record.thread != thread || !CanEarnNotification(record)) continue;
      posix_socket::Readiness r;
      r.fd = record.fd;
      readiness.push_back(r);
      order.push_back(s);
    }
    if (readiness.empty()) return 0;
    posix_socket::PollReadiness(readiness);
    ++Table().polls;
    Table().socketsLooked += static_cast<long long>(readiness.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
      SocketRecord& record = *Find(order[i]);
      const posix_socket::Readiness& r = readiness[i];
      auto post = [&](long event, int error) {
        pending.push_back(
            Pending{record.window, record.message, order[i], Notification(event, error)});
      };
      if (record.listening) {
        if (r.readable && (record.events & FD_ACCEPT) && !record.acceptPosted) {
          record.acceptPosted = true;
          post(FD_ACCEPT, 0);
        }
        continue;
      }
      int available = r.readable ? posix_socket::Available(record.fd) : 0;
      // A recv that left bytes for want of room earns FD_READ again at once; one that found too
      // few (a peek at a partial header) only when more arrive, so a stalled reader is not
      // flooded.
      bool newData = available > 0 && (available != record.availableAtRecv || record.recvFilled);
      if (newData && (record.events & FD_READ) && !record.readPosted) {
        record.readPosted = true;
        post(FD_READ, 0);
      }
      if (r.writable && (record.events & FD_WRITE) && record.writeArmed) {
        record.writeArmed = false;
        post(FD_WRITE, 0);
      }
      bool ended = r.hangUp || r.errorNumber;
      if (ended && (record.events & FD_CLOSE) && !record.closePosted &&
          (r.errorNumber || (!record.readPosted && !newData))) {
        record.closePosted = true;
        post(FD_CLOSE, r.errorNumber);
      }
    }
  }
  for (const Pending& p : pending)
    PostMessageA(p.window, p.message, static_cast<WPARAM>(p.socket), p.lParam);
  return static_cast<int>(pending.size());
}

SocketPollCounts GetSocketPollCounts() {
  return SocketPollCounts{Table().polls.load(), Table().socketsLooked.load()};
}

std::span<const PlatformModuleEntry> Ws2ModuleEntries() {
  static const PlatformModuleEntry entries[] = {
      {"WSAStartup", AsFarProc(WSAStartup)},
      {"WSACleanup", AsFarProc(WSACleanup)},
      {"WSAGetLastError", AsFarProc(WSAGetLastError)},
      {"WSAAsyncSelect", AsFarProc(WSAAsyncSelect)},
      {"closesocket", AsFarProc(closesocket)},
      {"socket", AsFarProc(winsock::socket)},
      {"bind", AsFarProc(winsock::bind)},
      {"listen", AsFarProc(winsock::listen)},
      {"accept", AsFarProc(winsock::accept)},
      {"getsockname", AsFarProc(winsock::getsockname)},
      {"recv", AsFarProc(winsock::recv)},
      {"send", AsFarProc(winsock::send)},
      {"htons", AsFarProc(winsock::htons)},
      {"ntohs", AsFarProc(winsock::ntohs)},
  };
  return entries;
}
