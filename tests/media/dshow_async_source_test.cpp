// The asynchronous source's pull protocol on a real worker thread: aligned requests, requests
// cut at the end of the stream, a flush with a read under way, stopping with requests queued,
// and the connection's demand that the peer pulls through IAsyncReader.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "dshow_test_filters.h"
#include "media/dshow_async_source.h"

using namespace dshow_test;

namespace {

constexpr LONGLONG kTimePerByte = 10000000;
// Bounds every wait of these tests; a correct reader answers in microseconds.
constexpr DWORD kBound = 10000;

int ThreadCount() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
    ++count;
  return count;
}

// Waits (bounded) for the threads of this process to come back to a count.
int ThreadCountAfterSettling(int expected) {
  int count = ThreadCount();
  for (int i = 0; i < 5000 && count > expected; ++i) {
    Sleep(1);
    count = ThreadCount();
  }
  return count;
}

BYTE ByteAt(LONGLONG position) { return static_cast<BYTE>(position * 7 + 1); }

// A stream over memory with a chosen alignment, whose reads can be held at a gate.
class GatedStream final : public K_CAsyncSourceStream {
 public:
  GatedStream(LONGLONG length, DWORD alignment)
      : length_(length),
        alignment_(alignment),
        gate_(CreateEventA(nullptr, TRUE, TRUE, nullptr)),
        readStarted_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~GatedStream() override {
    CloseHandle(gate_);
    CloseHandle(readStarted_);
  }
  HRESULT SetPosition(LONGLONG position) override {
    if (position < 0 || position > length_) return S_FALSE;
    position_ = position;
    return S_OK;
  }
  HRESULT Read(BYTE* buffer, DWORD bytes, BOOL, DWORD* read) override {
    SetEvent(readStarted_);
    WaitForSingleObject(gate_, kBound);
    const DWORD count = static_cast<DWORD>(std::min<LONGLONG>(bytes, length_ - position_));
    for (DWORD i = 0; i < count; ++i) buffer[i] = ByteAt(position_ + i);
    position_ += count;
    *read = count;
    ++reads;
    return S_OK;
  }
  LONGLONG GetLength(LONGLONG* available) override {
    if (available != nullptr) *available = length_;
    return length_;
  }
  DWORD GetAlignment() override { return alignment_; }
  void Lock() override { EnterCriticalSection(lock_.Get()); }
  void Unlock() override { LeaveCriticalSection(lock_.Get()); }

  void CloseGate() { ResetEvent(gate_); }
  void OpenGate() { SetEvent(gate_); }
  bool WaitForReadToStart() { return WaitForSingleObject(readStarted_, kBound) == WAIT_OBJECT_0; }

  std::atomic<int> reads{0};

 private:
  K_CCritSec lock_;
  LONGLONG length_;
  LONGLONG position_ = 0;
  DWORD alignment_;
  HANDLE gate_;
  HANDLE readStarted_;
};

struct DshowAsyncReader : testing::Test {
  void Open(LONGLONG length, DWORD alignment) {
    stream = std::make_unique<GatedStream>(length, alignment);
    MediaTypeObject type = MakeType(MEDIATYPE_Stream, MEDIASUBTYPE_MPEG1Audio, GUID_NULL);
    filter = new K_CAsyncSourceFilter(u"Test Reader", nullptr, stream.get(), &type);
    filter->AsBaseFilter()->AddRef();
    ASSERT_EQ(filter->PinAt(0)->QueryInterface(IID_IAsyncReader, reinterpret_cast<void**>(&reader)),
              S_OK);
    allocator = MakeAllocator({4, 32, static_cast<LONG>(alignment), 0});
  }
  IMemAllocator* MakeAllocator(ALLOCATOR_PROPERTIES properties) {
    IMemAllocator* made = nullptr;
    CreateMemoryAllocatorInstance(nullptr, IID_IMemAllocator, reinterpret_cast<void**>(&made));
    ALLOCATOR_PROPERTIES actual{};
    EXPECT_EQ(made->SetProperties(&properties, &actual), S_OK);
    EXPECT_EQ(made->Commit(), S_OK);
    allocators.push_back(made);
    return made;
  }
  // A sample of the allocator asking for the bytes [first, last).
  static IMediaSample* Ask(IMemAllocator* from, LONGLONG first, LONGLONG last) {
    IMediaSample* sample = nullptr;
    EXPECT_EQ(from->GetBuffer(&sample, nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
    REFERENCE_TIME start = first * kTimePerByte, stop = last * kTimePerByte;
    sample->SetTime(&start, &stop);
    return sample;
  }
  static std::vector<BYTE> Bytes(IMediaSample* sample) {
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    return {data, data + sample->GetActualDataLength()};
  }
  static std::vector<BYTE> Expected(LONGLONG first, LONGLONG count) {
    std::vector<BYTE> bytes;
    for (LONGLONG i = 0; i < count; ++i) bytes.push_back(ByteAt(first + i));
    return bytes;
  }
  void Close() {
    if (reader != nullptr) reader->Release();
    if (filter != nullptr) filter->AsBaseFilter()->Release();
    for (IMemAllocator* made : allocators) {
      made->Decommit();
      made->Release();
    }
    reader = nullptr;
    filter = nullptr;
    allocators.clear();
  }
  void TearDown() override { Close(); }

  std::unique_ptr<GatedStream> stream;
  K_CAsyncSourceFilter* filter = nullptr;
  IAsyncReader* reader = nullptr;
  IMemAllocator* allocator = nullptr;
  std::vector<IMemAllocator*> allocators;
};

TEST_F(DshowAsyncReader, AlignedRequestsAreReadInOrderAndOthersRefused) {
  Open(100, 4);
  // Buffers one byte past the allocator's block, so their address is off the alignment.
  IMemAllocator* offset = MakeAllocator({1, 32, 1, 1});
  struct Case {
    LONGLONG first, last;
    bool offsetBuffer;
    HRESULT result;
  };
  const Case cases[] = {
      {0, 16, false, S_OK},           {16, 48, false, S_OK},         {2, 18, false, VFW_E_BADALIGN},
      {4, 10, false, VFW_E_BADALIGN}, {8, 24, true, VFW_E_BADALIGN},
  };
  std::vector<const Case*> queued;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first);
    IMediaSample* sample = Ask(c.offsetBuffer ? offset : allocator, c.first, c.last);
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    ASSERT_EQ(reinterpret_cast<std::uintptr_t>(data) % 4 != 0, c.offsetBuffer);
    EXPECT_EQ(reader->Request(sample, reinterpret_cast<DWORD_PTR>(&c)), c.result);
    if (c.result == S_OK) {
      queued.push_back(&c);
    } else {
      EXPECT_EQ(sample->Release(), 0u);  // a refused request keeps no hold on the sample
    }
  }
  for (const Case* c : queued) {
    IMediaSample* sample = nullptr;
    DWORD_PTR user = 0;
    ASSERT_EQ(reader->WaitForNext(kBound, &sample, &user), S_OK);
    EXPECT_EQ(user, reinterpret_cast<DWORD_PTR>(c));
    EXPECT_EQ(Bytes(sample), Expected(c->first, c->last - c->first));
    EXPECT_EQ(sample->Release(), 0u);  // the caller's reference is the only one left
  }
  IMediaSample* none = nullptr;
  DWORD_PTR user = 0;
  EXPECT_EQ(reader->WaitForNext(0, &none, &user), VFW_E_TIMEOUT);
  EXPECT_EQ(none, nullptr);
}

TEST_F(DshowAsyncReader, ARequestPastTheEndIsCutAtTheEnd) {
  struct Case {
    LONGLONG length;
    DWORD alignment;
    LONGLONG first, last;
    HRESULT requested;
    LONGLONG stopByte;
    HRESULT waited;
    LONG actual;
  };
  const Case cases[] = {
      {100, 1, 80, 90, S_OK, 90, S_OK, 10},
      {100, 1, 90, 110, S_FALSE, 100, S_OK, 10},
      // Cut at the end rounded up to the alignment; the short read ends at the stream's end.
      {98, 4, 96, 104, S_FALSE, 100, S_OK, 2},
      {100, 1, 104, 108, S_FALSE, 104, E_FAIL, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first);
    Close();
    Open(c.length, c.alignment);
    IMediaSample* sample = Ask(allocator, c.first, c.last);
    EXPECT_EQ(reader->Request(sample, 7), c.requested);
    REFERENCE_TIME start = 0, stop = 0;
    sample->GetTime(&start, &stop);
    EXPECT_EQ(start, c.first * kTimePerByte);
    EXPECT_EQ(stop, c.stopByte * kTimePerByte);
    IMediaSample* back = nullptr;
    DWORD_PTR user = 0;
    EXPECT_EQ(reader->WaitForNext(kBound, &back, &user), c.waited);
    EXPECT_EQ(back, sample);
    EXPECT_EQ(user, 7u);
    EXPECT_EQ(Bytes(sample), Expected(c.first, c.actual));
    EXPECT_EQ(sample->Release(), 0u);
  }
}

TEST_F(DshowAsyncReader, FlushWaitsForTheReadUnderWayAndLosesNoRequest) {
  Open(100, 1);
  stream->CloseGate();
  IMediaSample* samples[3] = {Ask(allocator, 0, 10), Ask(allocator, 10, 20),
                              Ask(allocator, 20, 30)};
  for (int i = 0; i < 3; ++i) ASSERT_EQ(reader->Request(samples[i], i), S_OK);
  ASSERT_TRUE(stream->WaitForReadToStart()) << "the worker never began the first read";
  std::atomic<int> readsWhenFlushReturned{-1};
  std::thread flusher([&] {
    reader->BeginFlush();
    readsWhenFlushReturned = stream->reads.load();
  });
  // Gives the flush a moment to reach its wait; the outcome does not depend on it.
  Sleep(20);
  stream->OpenGate();
  flusher.join();
  EXPECT_EQ(readsWhenFlushReturned.load(), 1);

  IMediaSample* refused = Ask(allocator, 30, 40);
  EXPECT_EQ(reader->Request(refused, 3), VFW_E_WRONG_STATE);
  EXPECT_EQ(refused->Release(), 0u);
  // Every request comes back: the one read with its bytes, the others unread.
  std::vector<DWORD_PTR> users;
  for (int i = 0; i < 3; ++i) {
    IMediaSample* sample = nullptr;
    DWORD_PTR user = 0;
    const HRESULT result = reader->WaitForNext(0, &sample, &user);
    ASSERT_NE(sample, nullptr);
    users.push_back(user);
    if (user == 0) {
      EXPECT_EQ(result, S_OK);
      EXPECT_EQ(Bytes(sample), Expected(0, 10));
    } else {
      EXPECT_TRUE(FAILED(result));
    }
    EXPECT_EQ(sample->Release(), 0u);
  }
  std::sort(users.begin(), users.end());  // the read under way lands after the flushed ones
  EXPECT_EQ(users, (std::vector<DWORD_PTR>{0, 1, 2}));
  IMediaSample* none = nullptr;
  DWORD_PTR user = 0;
  EXPECT_EQ(reader->WaitForNext(kBound, &none, &user), VFW_E_WRONG_STATE);
  EXPECT_EQ(none, nullptr);
  ASSERT_EQ(reader->EndFlush(), S_OK);
  EXPECT_EQ(reader->WaitForNext(0, &none, &user), VFW_E_TIMEOUT);

  // The flushed requests are never read later: the next read is the only one after the flush.
  IMediaSample* next = Ask(allocator, 40, 50);
  ASSERT_EQ(reader->Request(next, 9), S_OK);
  IMediaSample* back = nullptr;
  ASSERT_EQ(reader->WaitForNext(kBound, &back, &user), S_OK);
  EXPECT_EQ(user, 9u);
  EXPECT_EQ(Bytes(back), Expected(40, 10));
  EXPECT_EQ(stream->reads.load(), 2);
  back->Release();
}

TEST_F(DshowAsyncReader, StoppingWithRequestsQueuedLeavesNoThreadBehind) {
  // A thread tool's own helper thread starts with the first thread made: let it start first.
  std::thread([] {}).join();
  const int threads = ThreadCount();
  Open(100, 1);
  IMediaSample* samples[3] = {Ask(allocator, 0, 10), Ask(allocator, 10, 20),
                              Ask(allocator, 20, 30)};
  for (int i = 0; i < 3; ++i) ASSERT_EQ(reader->Request(samples[i], i), S_OK);
  EXPECT_EQ(filter->Stop(), S_OK);
  EXPECT_EQ(ThreadCountAfterSettling(threads), threads) << "the worker outlived Stop";
  // What was asked before the stop was read, and is still there to take.
  for (int i = 0; i < 3; ++i) {
    IMediaSample* sample = nullptr;
    DWORD_PTR user = 0;
    ASSERT_EQ(reader->WaitForNext(0, &sample, &user), S_OK);
    EXPECT_EQ(user, static_cast<DWORD_PTR>(i));
    EXPECT_EQ(Bytes(sample), Expected(i * 10, 10));
    EXPECT_EQ(sample->Release(), 0u);
  }

  // A request after the stop starts the worker again; releasing the filter with it queued ends
  // the worker and gives the sample back.
  stream->CloseGate();
  IMediaSample* last = Ask(allocator, 30, 40);
  ASSERT_EQ(reader->Request(last, 3), S_OK);
  ASSERT_TRUE(stream->WaitForReadToStart()) << "no worker after the stop";
  IMediaSample* queued = Ask(allocator, 40, 50);
  ASSERT_EQ(reader->Request(queued, 4), S_OK);
  std::thread opener([&] {
    Sleep(20);
    stream->OpenGate();
  });
  reader->Release();
  reader = nullptr;
  EXPECT_EQ(filter->AsBaseFilter()->Release(), 0u);
  filter = nullptr;
  opener.join();
  EXPECT_EQ(ThreadCountAfterSettling(threads), threads) << "the worker outlived the filter";
  EXPECT_EQ(last->Release(), 0u);
  EXPECT_EQ(queued->Release(), 0u);
}

// An input pin that asks its peer for IAsyncReader when the connection completes, or not.
class PullingPin final : public TestInputPin {
 public:
  PullingPin(TestFilter* filter, CRITICAL_SECTION* lock, CallLog* log, bool pulls)
      : TestInputPin(filter, lock, u"In", log), pulls_(pulls) {
    accepted = MEDIASUBTYPE_MPEG1Audio;
  }
  HRESULT CompletePeer(IPin* pin) override {
    if (pulls_) {
      IAsyncReader* peer = nullptr;
      if (FAILED(pin->QueryInterface(IID_IAsyncReader, reinterpret_cast<void**>(&peer))))
        return E_NOINTERFACE;
      peer->Release();
    }
    return TestInputPin::CompletePeer(pin);
  }

 private:
  bool pulls_;
};

TEST_F(DshowAsyncReader, ConnectionNeedsAPeerThatAsksForTheReader) {
  Open(100, 1);
  for (const bool pulls : {false, true}) {
    SCOPED_TRACE(pulls);
    CallLog log;
    TestFilter* downstream = TestFilter::Make();
    K_CCritSec lock;
    auto* input = new PullingPin(downstream, lock.Get(), &log, pulls);
    downstream->AddPin(input);
    IPin* output = filter->PinAt(0);
    const HRESULT result = output->Connect(input, nullptr);
    EXPECT_EQ(SUCCEEDED(result), pulls) << result;
    EXPECT_EQ(filter->PinAt(0)->IsConnected(), pulls);
    if (pulls) {
      output->Disconnect();
      input->Disconnect();
    }
    downstream->AsBaseFilter()->Release();
  }
}

}  // namespace
