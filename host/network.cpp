// Socket networking: the connection table, receiving and sending with 4-byte framing, accepting
// and closing, the network window and its per-frame pump, and the shutdown. Winsock is reached
// through the entry points the start-up looked up in "ws2_32.dll".
#include "host/network.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>

#include "host/host.h"
#include "host/window_system.h"
#include "platform/winsock/winsock.h"
#include "system/log.h"
#include "system/ring_buffer.h"
#include "system/system.h"
#include "system/text_helpers.h"
#include "system/tracked_memory.h"

namespace {

constexpr UINT kSocketMessage = 0x505;
constexpr long kConnectionEvents = FD_READ | FD_WRITE | FD_CLOSE;  // 35
constexpr int kSlotCount = 8192;
constexpr int kStateOpen = 1;  // cleared when the peer closes
// A flood of data must not keep one call in its receive loop: past this, the rest waits for the
// next notification.
constexpr int kReceiveBudget = 4 * 1024 * 1024;
// The room a receive asks the socket to fill at least; the ring grows by this or more.
constexpr int kReceivePiece = 64 * 1024;
// Nor a flood of notifications the network pump.
constexpr int kPumpMessageLimit = 4096;
constexpr char kNetWorkWindowClass[] = "NetWorkWindow";

struct NetWorkRecord {
  int udp;
  int connected;
  int error;
  int state;
  int framing;
  int option;
  int checkNumber;
  SOCKET socket;
  // Receiving: the ring holds each message behind its length; `wholeBytes` counts the bytes of
  // the whole messages at its front, and the length of the message after them, once it has come,
  // is `pendingLength` (-1 until then).
  int pendingLength;
  RingBuffer receive;
  std::int64_t wholeBytes;
  int receiveFull;        // the ring holds the cap: the socket is left unread until a take
  int receiveFullLogged;  // said once per connection
  // Sending: the ring holds each message behind its length, as it goes on the wire.
  RingBuffer send;
  std::uint32_t peerAddress;
  int peerPort;
  int readable;
  int writable;
  EngineHandle handle;
  ListNode node;
};

struct Ws2Calls {
  decltype(&WSAStartup) startup;
  decltype(&WSACleanup) cleanup;
  decltype(&WSAGetLastError) lastError;
  decltype(&WSAAsyncSelect) asyncSelect;
  decltype(&closesocket) closeSocket;
  decltype(&winsock::socket) socket;
  decltype(&winsock::bind) bind;
  decltype(&winsock::listen) listen;
  decltype(&winsock::accept) accept;
  decltype(&winsock::recv) recv;
  decltype(&winsock::send) send;
  decltype(&winsock::ntohs) ntohs;
  decltype(&winsock::htons) htons;
};

struct NetWorkState {
  int started;
  HWND window;
  int liveCount;
  int framingDefault;
  int optionDefault;
  int receiveGuard;
  int sendGuard;
  EngineHandleKind kind;
  NetWorkRecord* table[kSlotCount];
  ListNode head;
  ListNode tail;
  Ws2Calls ws2;
  EngineHandle lastAccepted;
};

NetWorkState MakeNetWorkState() {
  NetWorkState state{};
  state.framingDefault = 1;
  state.kind = MakeEngineHandleKind(kNetworkHandle);
  state.lastAccepted = -1;
  return state;
}

NetWorkState net = MakeNetWorkState();

template <class Function>
bool LookUp(Function& function, const char* name) {
  function = reinterpret_cast<Function>(GetEngineModuleEntry("ws2_32.dll", name));
  return function != nullptr;
}

NetWorkRecord* FindRecord(EngineHandle handle) {
  return FindEngineHandleRecord(handle, net.kind, net.table,
                                [](const NetWorkRecord& r) { return r.checkNumber; });
}

NetWorkRecord* FindRecordBySocket(SOCKET socket) {
  for (ListNode* node = net.head.next; node && node != &net.tail; node = node->next) {
    auto* record = static_cast<NetWorkRecord*>(node->owner);
    if (record->socket == socket) return record;
  }
  return nullptr;
}

int ReadLength(const unsigned char* bytes) {
  return static_cast<int>(
      static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
      static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24);
}

void WriteLength(unsigned char* bytes, int length) {
  auto value = static_cast<std::uint32_t>(length);
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

// A slot for a new record, linked into the list; the handle is issued by the caller on success.
NetWorkRecord* NewRecord(int* slotOut) {
  int slot = FindFreeEngineHandleSlot(net.kind, net.table, false);
  if (slot < 0) return nullptr;
  auto* record =
      static_cast<NetWorkRecord*>(TrackedAllocZeroed(sizeof(NetWorkRecord), __FILE__, __LINE__));
  if (!record) return nullptr;
  record->pendingLength = -1;
  record->socket = INVALID_SOCKET;
  record->handle = -1;
  net.table[slot] = record;
  InsertListNodeAfter(&net.head, &record->node, slot, record);
  *slotOut = slot;
  return record;
}

void DeleteRecord(int slot) {
  NetWorkRecord* record = net.table[slot];
  RingBufferFree(&record->receive);
  RingBufferFree(&record->send);
  UnlinkListNode(&record->node);
  net.table[slot] = nullptr;
  TrackedFree(record);
}

bool WouldBlock() { return net.ws2.lastError() == WSAEWOULDBLOCK; }

// The four length bytes `offset` bytes past the ring's read position (offset + 4 <= held). Every
// message's length is read here, so the positions wrap by a subtraction, not a division.
void RingLengthBytesAt(const RingBuffer& ring, std::int64_t offset, unsigned char header[4]) {
  std::int64_t at = ring.readPosition + offset;
  if (at >= ring.size) at -= ring.size;
  for (int i = 0; i < 4; ++i, ++at) {
    if (at == ring.size) at = 0;
    header[i] = static_cast<unsigned char>(ring.data[at]);
  }
}

// Walks the lengths of the bytes received past the last whole message, counting each message that
// is now whole; -1 (error flag set, logged) on a length no peer may announce.
int CountWholeMessages(NetWorkRecord* record) {
  for (;;) {
    const std::int64_t partial = record->receive.held - record->wholeBytes;
    if (record->pendingLength < 0) {
      if (partial < 4) return 0;
      unsigned char header[4];
      RingLengthBytesAt(record->receive, record->wholeBytes, header);
      const int length = ReadLength(header);
      if (length < 0 || length > kMaxNetWorkMessageSize) {
        record->error = 1;
        LogPrintf("ネットワークメッセージの長さが不正です(%d byte)", length);
        return -1;
      }
      record->pendingLength = length;
    }
    if (partial < static_cast<std::int64_t>(record->pendingLength) + 4) return 0;
    record->wholeBytes += static_cast<std::int64_t>(record->pendingLength) + 4;
    record->pendingLength = -1;
  }
}

// Takes what the socket holds in large pieces; with framing, finds the messages among the bytes
// by their lengths: a recv per length and per message would cost the system calls of three for
// every small message. The ring grows with the bytes that have come, not with the length a peer
// announced, so a length alone never sizes an allocation.
int ReceiveAvailable(NetWorkRecord* record) {
  int total = 0;
  while (total < kReceiveBudget) {
    const int room = kMaxNetWorkReceiveHeld - record->receive.held;
    if (room <= 0) {
      record->receiveFull = 1;
      if (!record->receiveFullLogged) {
        record->receiveFullLogged = 1;
        LogPrintf("受信データが上限(%d byte)に達したので、取り出されるまで受信を止めます",
                  kMaxNetWorkReceiveHeld);
      }
      return -1;
    }
    if (RingBufferReserve(&record->receive, std::min(kReceivePiece, room)) != 0) {
      record->error = 1;
      return -1;
    }
    const int want = std::min(RingBufferContiguousFree(&record->receive), room);
    const int got =
        net.ws2.recv(record->socket, record->receive.data + record->receive.writePosition, want, 0);
    if (got <= 0) return 0;
    RingBufferCommit(&record->receive, got);
    total += got;
    if (!record->framing)
      record->wholeBytes += got;
    else if (CountWholeMessages(record) != 0)
      return -1;
    if (got < want) return 0;
  }
  return 0;
}

// Sends what the send ring holds, in up to two pieces around its end, until the socket takes no
// more; 0, or -1 on a connection error. The ring holds the messages behind their lengths just as
// they go on the wire, so a length and its message leave in one send: sent apart, the message
// would wait behind the unacknowledged length for the peer's delayed acknowledgement.
int SendQueued(NetWorkRecord* record) {
  RingBuffer& ring = record->send;
  while (ring.held > 0) {
    const int piece = RingBufferContiguousHeld(&ring);
    const int sent = net.ws2.send(record->socket, ring.data + ring.readPosition, piece, 0);
    if (sent < 0) return WouldBlock() ? 0 : -1;
    RingBufferSkip(&ring, sent);
    if (sent < piece) return 0;
  }
  return 0;
}

bool HasLostPeer(const NetWorkRecord* record) {
  if (record->error) return true;
  // A message cut short by the close can never be taken: only whole ones keep the connection.
  return !(record->state & kStateOpen) && record->wholeBytes == 0;
}

LRESULT CALLBACK NetWorkWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kSocketMessage) return HandleSocketMessage(wParam, lParam);
  if (message == WM_CLOSE) {
    DestroyWindow(window);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int LogNetWorkError(const char* format, ...) {
  char text[1024];
  va_list arguments;
  va_start(arguments, format);
  FormatTextList(text, sizeof text, format, arguments);
  va_end(arguments);
  LogPrintf("ネットワークログ。%s[%d]", text, net.ws2.lastError ? net.ws2.lastError() : 0);
  return -1;
}

int RecvSocket(EngineHandle handle) {
  if (!net.started) return -1;
  NetWorkRecord* record = FindRecord(handle);
  if (!record) return -1;
  if (record->error) {
    LogWriteText("このネットワークハンドルにはエラーが発生しています in RecvSocket\n");
    return -1;
  }
  if (!record->connected) {
    LogWriteText("有効なネットワークハンドルではありません in RecvSocket\n");
    return -1;
  }
  if (net.receiveGuard) return 0;
  net.receiveGuard = 1;
  const int result = ReceiveAvailable(record);
  net.receiveGuard = 0;
  return result;
}

int SendSocket(EngineHandle handle) {
  if (!net.started) return -1;
  NetWorkRecord* record = FindRecord(handle);
  if (!record) return -1;
  if (record->error) {
    LogWriteText("このネットワークハンドルにはエラーが発生しています in SendSocket\n");
    return -1;
  }
  if (!record->connected) {
    LogWriteText("有効なネットワークハンドルではありません in SendSocket\n");
    return -1;
  }
  if (net.sendGuard) return 0;
  net.sendGuard = 1;
  int result = SendQueued(record);
  net.sendGuard = 0;
  if (result != 0) {
    record->error = 1;
    LogNetWorkError("send に失敗しました");
  }
  return result;
}

int AcceptNetWork(UINT_PTR listeningSocket) {
  if (!net.started) return -1;
  if (FindFreeEngineHandleSlot(net.kind, net.table, false) < 0) {
    LogWriteText("空きソケットデータがなかったので accept を拒否しました \n");
    return -1;
  }
  int slot = -1;
  NetWorkRecord* record = NewRecord(&slot);
  if (!record) {
    LogWriteText("ソケット用のメモリの確保に失敗しました\n");
    return -1;
  }
  record->connected = 1;
  record->state = kStateOpen;
  record->framing = net.framingDefault;
  record->option = net.optionDefault;
  winsock::sockaddr_in peer{};
  int length = sizeof peer;
  record->socket =
      net.ws2.accept(listeningSocket, reinterpret_cast<winsock::sockaddr*>(&peer), &length);
  if (record->socket == INVALID_SOCKET) {
    LogNetWorkError("acceptに失敗しました");
    DeleteRecord(slot);
    return -1;
  }
  record->peerAddress = peer.sin_addr.S_un.S_addr;
  record->peerPort = net.ws2.ntohs(peer.sin_port);
  if (net.ws2.asyncSelect(record->socket, net.window, kSocketMessage, kConnectionEvents) != 0) {
    LogNetWorkError("WSAAsyncSelectのエラー in AcceptNetWork");
    net.ws2.closeSocket(record->socket);
    DeleteRecord(slot);
    return -1;
  }
  record->handle = IssueEngineHandle(net.kind, slot, &record->checkNumber);
  ++net.liveCount;
  net.lastAccepted = record->handle;
  return 0;
}

int CloseNetWork(EngineHandle handle) {
  if (!net.started) return -1;
  NetWorkRecord* record = FindRecord(handle);
  if (!record || record->udp) return -1;
  // What is still queued gets up to a second to leave.
  const int start = GetMillisecondCount();
  while (!record->error && record->connected && record->send.held > 0 &&
         GetMillisecondCount() - start < 1000) {
    RecvSocket(handle);
    if (SendSocket(handle) != 0) break;
    if (record->send.held > 0) Sleep(1);
  }
  net.ws2.asyncSelect(record->socket, net.window, 0, 0);
  net.ws2.closeSocket(record->socket);
  DeleteRecord(GetEngineHandleSlot(handle));
  RetireEngineHandle(net.kind);
  --net.liveCount;
  return 0;
}

int CloseUdpNetWork(EngineHandle handle) {
  if (!net.started) return -1;
  NetWorkRecord* record = FindRecord(handle);
  if (!record || !record->udp) return -1;
  net.ws2.asyncSelect(record->socket, net.window, 0, 0);
  net.ws2.closeSocket(record->socket);
  DeleteRecord(GetEngineHandleSlot(handle));
  RetireEngineHandle(net.kind);
  --net.liveCount;
  return 0;
}

LRESULT HandleSocketMessage(WPARAM wParam, LPARAM lParam) {
  if (!net.started) return 0;
  NetWorkRecord* record = FindRecordBySocket(static_cast<SOCKET>(wParam));
  if (!record) {
    LogWriteText("通信エラー No.1\n");
    return 0;
  }
  const WORD event = WSAGETSELECTEVENT(lParam);
  if (record->udp) {
    if (event == FD_READ) record->readable = 1;
    if (event == FD_WRITE) record->writable = 1;
    return 1;
  }
  switch (event) {
    case FD_READ: RecvSocket(record->handle); break;
    case FD_WRITE: SendSocket(record->handle); break;
    case FD_ACCEPT: AcceptNetWork(record->socket); break;
    case FD_CONNECT:
      if (WSAGETSELECTERROR(lParam) == 0) record->connected = 1;
      break;
    case FD_CLOSE:
      record->connected = 0;
      record->state &= ~kStateOpen;
      break;
    default: break;
  }
  return 1;
}

int PumpNetWorkMessages(int closeLost) {
  if (!net.started || !net.window) return 0;
  if (closeLost) {
    // The live connections are on the list; a frame does not look at all 8,192 slots.
    for (ListNode* node = net.head.next; node && node != &net.tail;) {
      auto* record = static_cast<NetWorkRecord*>(node->owner);
      node = node->next;  // closing unlinks the record's own node
      if (!HasLostPeer(record)) continue;
      if (record->udp)
        CloseUdpNetWork(record->handle);
      else
        CloseNetWork(record->handle);
    }
  }
  MSG message;
  for (int i = 0; i < kPumpMessageLimit && PeekMessageA(&message, net.window, 0, 0, PM_REMOVE); ++i)
    DispatchMessageA(&message);
  return 0;
}

int ShutdownNetWork() {
  if (!net.started) return 0;
  LogWriteText("ネットワーク関連の終了処理を行います \n");
  for (int slot = 0; slot < kSlotCount; ++slot) {
    NetWorkRecord* record = net.table[slot];
    if (!record) continue;
    if (record->udp)
      CloseUdpNetWork(record->handle);
    else
      CloseNetWork(record->handle);
  }
  if (net.window) {
    PostMessageA(net.window, WM_CLOSE, 0, 0);
    MSG message;
    while (IsWindow(net.window)) {
      if (PeekMessageA(&message, net.window, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
      else
        DestroyWindow(net.window);
    }
  }
  UnregisterClassA(kNetWorkWindowClass, GetEngineModuleInstance());
  net.ws2.cleanup();
  const int nextCheck = net.kind.nextCheck;
  net = MakeNetWorkState();
  net.kind.nextCheck = nextCheck;
  LogWriteText("ネットワーク関連の終了処理は完了しました\n");
  return 0;
}

int StartNetWorkForTest(int framing) {
  if (net.started) return 0;
  Ws2Calls& ws2 = net.ws2;
  if (!LookUp(ws2.startup, "WSAStartup") || !LookUp(ws2.cleanup, "WSACleanup") ||
      !LookUp(ws2.lastError, "WSAGetLastError") || !LookUp(ws2.asyncSelect, "WSAAsyncSelect") ||
      !LookUp(ws2.closeSocket, "closesocket") || !LookUp(ws2.socket, "socket") ||
      !LookUp(ws2.bind, "bind") || !LookUp(ws2.listen, "listen") || !LookUp(ws2.accept, "accept") ||
      !LookUp(ws2.recv, "recv") || !LookUp(ws2.send, "send") || !LookUp(ws2.ntohs, "ntohs") ||
      !LookUp(ws2.htons, "htons"))
    return -1;
  WSADATA data;
  if (ws2.startup(0x0202, &data) != 0) return -1;
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = NetWorkWindowProc;
  windowClass.hInstance = GetEngineModuleInstance();
  windowClass.lpszClassName = kNetWorkWindowClass;
  RegisterClassExA(&windowClass);
  net.window = CreateWindowExA(0, kNetWorkWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               GetEngineModuleInstance(), nullptr);
  if (!net.window) return -1;
  InitializeList(&net.head, &net.tail);
  net.framingDefault = framing ? 1 : 0;
  net.started = 1;
  return 0;
}

EngineHandle ListenNetWorkForTest(int* port) {
  if (!net.started) return -1;
  int slot = -1;
  NetWorkRecord* record = NewRecord(&slot);
  if (!record) return -1;
  record->socket = net.ws2.socket(winsock::AF_INET, winsock::SOCK_STREAM, winsock::IPPROTO_TCP);
  winsock::sockaddr_in address{};
  address.sin_family = winsock::AF_INET;
  address.sin_addr.S_un.S_un_b = {127, 0, 0, 1};
  int length = sizeof address;
  if (record->socket == INVALID_SOCKET ||
      net.ws2.bind(record->socket, reinterpret_cast<winsock::sockaddr*>(&address), length) != 0 ||
      net.ws2.listen(record->socket, winsock::SOMAXCONN) != 0 ||
      winsock::getsockname(record->socket, reinterpret_cast<winsock::sockaddr*>(&address),
                           &length) != 0 ||
      net.ws2.asyncSelect(record->socket, net.window, kSocketMessage, FD_ACCEPT) != 0) {
    LogNetWorkError("listen に失敗しました");
    if (record->socket != INVALID_SOCKET) net.ws2.closeSocket(record->socket);
    DeleteRecord(slot);
    return -1;
  }
  if (port) *port = net.ws2.ntohs(address.sin_port);
  record->connected = 1;
  record->state = kStateOpen;
  record->handle = IssueEngineHandle(net.kind, slot, &record->checkNumber);
  ++net.liveCount;
  return record->handle;
}

EngineHandle GetLastAcceptedNetWork() { return net.lastAccepted; }

int QueueNetWorkSend(EngineHandle handle, const void* data, int size) {
  if (!net.started || size < 0 || (size > 0 && !data)) return -1;
  NetWorkRecord* record = FindRecord(handle);
  if (!record || record->error) return -1;
  const std::int64_t adding = static_cast<std::int64_t>(size) + (record->framing ? 4 : 0);
  if (record->send.held + adding > kMaxNetWorkSendHeld) {
    LogPrintf("送信待ちのデータが上限(%d byte)を超えるので送信を拒否しました(%d byte)",
              kMaxNetWorkSendHeld, size);
    return -1;
  }
  if (record->framing) {
    if (size > kMaxNetWorkMessageSize) return -1;
    unsigned char header[4];
    WriteLength(header, size);
    if (RingBufferReserve(&record->send, static_cast<std::int64_t>(size) + 4) != 0) return -1;
    RingBufferWrite(&record->send, header, 4);
  }
  if (RingBufferWrite(&record->send, data, size) != 0) return -1;
  return SendSocket(handle);
}

int TakeNetWorkMessage(EngineHandle handle, void* buffer, int size) {
  if (!net.started) return -1;
  NetWorkRecord* record = FindRecord(handle);
  if (!record) return -1;
  int taken;
  if (!record->framing) {
    taken = static_cast<int>(std::min<std::int64_t>(record->wholeBytes, size));
    if (taken <= 0) return -1;
    RingBufferRead(&record->receive, buffer, taken, 0);
    record->wholeBytes -= taken;
  } else {
    if (record->wholeBytes < 4) return -1;
    unsigned char header[4];
    RingLengthBytesAt(record->receive, 0, header);
    taken = ReadLength(header);
    if (taken > size) return -2;
    RingBufferSkip(&record->receive, 4);
    RingBufferRead(&record->receive, buffer, taken, 0);
    record->wholeBytes -= static_cast<std::int64_t>(taken) + 4;
  }
  // The socket was left unread while the ring was full, so no notification will come for what
  // waits there: read it now that there is room.
  if (record->receiveFull && record->connected && !record->error) {
    record->receiveFull = 0;
    RecvSocket(handle);
  }
  return taken;
}

int GetNetWorkLiveCount() { return net.liveCount; }
