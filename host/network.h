// Socket networking: connections are engine handles of type 6 whose bytes arrive through the
// network window's notifications into a ring per connection; with framing on, each message travels
// behind a 4-byte little-endian length. The program has no call that starts the layer, so every
// call returns at its first test; the start, listen, send-queue and take calls at the end exist
// for tests only.
#pragma once

#include "platform/win32/user.h"
#include "system/engine_handle.h"

// The largest message a peer may announce; a larger (or negative) length marks the connection as
// in error.
constexpr int kMaxNetWorkMessageSize = 64 * 1024 * 1024;
// What one connection may hold in each direction: room for one largest message with its length,
// so that any message a peer may send can still arrive whole and any the program may send can
// still be queued. A peer that keeps sending while the program takes nothing fills the receive
// ring to this and is then left unread until the program takes a message (TCP holds the peer
// back; RecvSocket refuses with -1 and the first time is logged). A send that would queue more
// than this for a peer that does not read is refused by QueueNetWorkSend (-1, logged).
constexpr int kMaxNetWorkReceiveHeld = kMaxNetWorkMessageSize + 4;
constexpr int kMaxNetWorkSendHeld = kMaxNetWorkMessageSize + 4;

int RecvSocket(EngineHandle handle);
int SendSocket(EngineHandle handle);
// The listening socket is the platform's socket number.
int AcceptNetWork(UINT_PTR listeningSocket);
int CloseNetWork(EngineHandle handle);
int CloseUdpNetWork(EngineHandle handle);
LRESULT HandleSocketMessage(WPARAM wParam, LPARAM lParam);
int PumpNetWorkMessages(int closeLost);
int ShutdownNetWork();
int LogNetWorkError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// For tests: the layer's start (with the framing default), a listening connection on 127.0.0.1
// (its port through `port`), the last connection accepted, a message queued and sent, the next
// whole message taken out (its length; -1 when none is whole, -2 when `size` is too small), and
// the count of live connections. A message taken from a connection whose receive ring was full
// lets it read again.
int StartNetWorkForTest(int framing);
EngineHandle ListenNetWorkForTest(int* port);
EngineHandle GetLastAcceptedNetWork();
int QueueNetWorkSend(EngineHandle handle, const void* data, int size);
int TakeNetWorkMessage(EngineHandle handle, void* buffer, int size);
int GetNetWorkLiveCount();
