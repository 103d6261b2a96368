// FindWindowA, including the windows of other processes: while a process has a top-level window
// of a class it holds an abstract UNIX socket named after the class, the user and the display,
// which the system releases when the process ends, however it ends. Another process finds the
// name taken. Headless windows are on no display, so other processes do not see them unless a
// test asks for it.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/win32/user_internal.h"

using namespace user_detail;

namespace {

struct ClassMarker {
  std::string key;  // upper-cased class name
  int socket;
  int windows;
};

std::vector<ClassMarker>& Markers() {
  static auto* markers = new std::vector<ClassMarker>;
  return *markers;
}

std::atomic<int> acrossProcesses{-1};

bool SeenAcrossProcesses() {
  int mode = acrossProcesses.load();
  return mode < 0 ? !IsPlatformHeadless() : mode != 0;
}

std::string UpperCase(const std::string& name) {
  std::string key = name;
  for (char& c : key)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return key;
}

// The socket address for a class: FNV-1a of the upper-cased name keeps any name within the
// address's length.
sockaddr_un MarkerAddress(const std::string& key, socklen_t& length) {
  std::string named = key;
  const char* display = std::getenv("DISPLAY");
  if (!display) display = std::getenv("WAYLAND_DISPLAY");
  named += '\n';
  named += display ? display : "";
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char c : named) {
    hash ^= c;
    hash *= 0x100000001b3ull;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  char name[80];
  int n = std::snprintf(name, sizeof name, "win32-window-class-%u-%016llx",
                        static_cast<unsigned>(getuid()), static_cast<unsigned long long>(hash));
  std::memcpy(address.sun_path + 1, name, n);
  length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
  return address;
}

// Binds a socket to the class's name: the socket, or -1 when the name is taken or sockets fail.
int BindMarker(const std::string& key, bool& taken) {
  taken = false;
  int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return -1;
  socklen_t length;
  sockaddr_un address = MarkerAddress(key, length);
  if (bind(s, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    taken = errno == EADDRINUSE;
    close(s);
    return -1;
  }
  return s;
}

// A handle that no window of this process ever has (own handles are multiples of 16).
HWND const ForeignWindow = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(0x7FFF0001));

}  // namespace

namespace user_detail {

// Called without the registry's mutex; the markers have their own.
std::mutex& MarkerMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}

void MarkClassWindowCreated(const std::string& className) {
  std::lock_guard lock(MarkerMutex());
  std::string key = UpperCase(className);
  for (auto& marker : Markers()) {
    if (marker.key == key) {
      ++marker.windows;
      return;
    }
  }
  bool taken;
  int s = SeenAcrossProcesses() ? BindMarker(key, taken) : -1;
  Markers().push_back(ClassMarker{key, s, 1});
}

void MarkClassWindowDestroyed(const std::string& className) {
  std::lock_guard lock(MarkerMutex());
  std::string key = UpperCase(className);
  auto& markers = Markers();
  for (auto it = markers.begin(); it != markers.end(); ++it) {
    if (it->key != key) continue;
    if (--it->windows == 0) {
      if (it->socket >= 0) close(it->socket);
      markers.erase(it);
    }
    return;
  }
}

}  // namespace user_detail

HWND FindWindowA(LPCSTR className, LPCSTR windowName) {
  if (!className && !windowName) return nullptr;
  {
    std::lock_guard lock(State().mutex);
    for (auto& [handle, record] : State().windows) {
      if (record->parent || record->destroyed) continue;
      if (className && !EqualNoCase(record->className, className)) continue;
      if (windowName && record->title != windowName) continue;
      return record->handle;
    }
  }
  if (!className || windowName || !SeenAcrossProcesses()) return nullptr;
  std::lock_guard lock(MarkerMutex());
  std::string key = UpperCase(className);
  for (auto& marker : Markers())
    if (marker.key == key) return nullptr;  // our own name, held only while our window lives
  bool taken;
  int s = BindMarker(key, taken);
  if (s >= 0) close(s);
  return taken ? ForeignWindow : nullptr;
}

void SetPlatformWindowsSeenAcrossProcesses(int mode) { acrossProcesses = mode; }
