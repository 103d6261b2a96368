// The far end of a loopback TCP connection, in plain POSIX calls, for tests of the socket layers.
// Every wait has a bound in milliseconds and reports whether what it waited for came.
#pragma once

#include <cstddef>
#include <string>

namespace loopback {

// A blocking connection to 127.0.0.1:port, or -1.
int Connect(int port);
void Close(int fd);
// Shrinks the kernel's buffers, so that short sends and receives happen.
void SetBuffers(int fd, int sendBytes, int receiveBytes);
// Sends every byte, waiting at most `milliseconds` for room.
bool SendAll(int fd, const void* data, std::size_t size, int milliseconds);
// Reads exactly `size` bytes, waiting at most `milliseconds` in all.
bool ReceiveExactly(int fd, void* data, std::size_t size, int milliseconds);
// Reads what is there, up to `size` bytes, waiting at most `milliseconds` for the first; the count
// (0 when nothing came).
int ReceiveSome(int fd, void* data, std::size_t size, int milliseconds);
// Sends what the socket takes now, without waiting; the count (0 when it had no room).
std::size_t SendNow(int fd, const void* data, std::size_t size);
// True once the other end has closed (a read gives end of file) within `milliseconds`.
bool WaitForEndOfFile(int fd, int milliseconds);

// A point `milliseconds` from now on the monotonic clock, for the bounded waits of tests.
class Deadline {
 public:
  explicit Deadline(int milliseconds);
  bool Passed() const;

 private:
  long long end_;
};

}  // namespace loopback
