// The renderer bases and the movie frame renderer: the draw policy, pause completion, end of
// stream, positions in media time, and frames arriving top row first.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <map>
#include <thread>
#include <vector>

#include "dshow_test_filters.h"
#include "media/dshow_position.h"
#include "media/movie_frame_renderer.h"
#include "platform/clock.h"
#include "platform/win32/user.h"
#include "system/tracked_memory.h"

using namespace dshow_test;

namespace {

// A reference clock the test moves by hand; advises fire when it passes their time.
class ManualClock final : public IReferenceClock {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IReferenceClock || riid == IID_IUnknown) {
      *object = this;
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT GetTime(REFERENCE_TIME* time) override {
    // One caller can be held here a while, to catch it inside what it was doing.
    if (holdNext.exchange(false)) {
      SetEvent(held);
      Sleep(20);
    }
    K_CAutoLock guard(lock_.Get());
    *time = now_;
    return S_OK;
  }
  HRESULT AdviseTime(REFERENCE_TIME base, REFERENCE_TIME offset, HANDLE event,
                     DWORD_PTR* cookie) override {
    K_CAutoLock guard(lock_.Get());
    *cookie = nextCookie_++;
    advises_[*cookie] = {base + offset, event};
    FireDue();
    return S_OK;
  }
  HRESULT AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HANDLE, DWORD_PTR*) override {
    return E_NOTIMPL;
  }
  HRESULT Unadvise(DWORD_PTR cookie) override {
    K_CAutoLock guard(lock_.Get());
    return advises_.erase(cookie) == 1 ? S_OK : S_FALSE;
  }
  void Set(REFERENCE_TIME time) {
    K_CAutoLock guard(lock_.Get());
    now_ = time;
    FireDue();
  }
  std::atomic<bool> holdNext{false};
  HANDLE held = nullptr;

 private:
  void FireDue() {
    for (auto it = advises_.begin(); it != advises_.end();) {
      if (it->second.first <= now_) {
        SetEvent(it->second.second);
        it = advises_.erase(it);
      } else {
        ++it;
      }
    }
  }
  K_CCritSec lock_;
  REFERENCE_TIME now_ = 0;
  DWORD_PTR nextCookie_ = 1;
  std::map<DWORD_PTR, std::pair<REFERENCE_TIME, HANDLE>> advises_;
};

std::vector<BYTE> VideoInfo(LONG width, LONG height, size_t size = sizeof(VIDEOINFOHEADER)) {
  VIDEOINFOHEADER header{};
  header.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  header.bmiHeader.biWidth = width;
  header.bmiHeader.biHeight = height;
  header.bmiHeader.biBitCount = 24;
  std::vector<BYTE> block(size);
  std::memcpy(block.data(), &header, std::min(size, sizeof(header)));
  return block;
}

MediaTypeObject Rgb24(LONG width, LONG height) {
  return MakeType(MEDIATYPE_Video, MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, VideoInfo(width, height));
}

TEST(MovieFrameRenderer, AcceptsOnlyWholeRgb24VideoInfoTypes) {
  HRESULT created = E_FAIL;
  MovieFrameRenderer* renderer = CreateMovieRenderer(nullptr, &created);
  ASSERT_NE(renderer, nullptr);
  EXPECT_EQ(created, S_OK);
  renderer->AsBaseFilter()->AddRef();
  struct Case {
    const char* name;
    MediaTypeObject type;
    HRESULT result;
  };
  Case cases[] = {
      {"rgb24", Rgb24(320, 240), S_OK},
      {"top-down rgb24", Rgb24(320, -240), S_OK},
      {"rgb32", MakeType(MEDIATYPE_Video, MEDIASUBTYPE_RGB32, FORMAT_VideoInfo, VideoInfo(8, 8)),
       E_FAIL},
      {"audio", MakeType(MEDIATYPE_Audio, MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, VideoInfo(8, 8)),
       E_FAIL},
      {"wave format", MakeType(MEDIATYPE_Video, MEDIASUBTYPE_RGB24, FORMAT_WaveFormatEx),
       E_INVALIDARG},
      {"short block",
       MakeType(MEDIATYPE_Video, MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, VideoInfo(8, 8, 60)),
       E_INVALIDARG},
      {"zero width", Rgb24(0, 8), E_INVALIDARG},
      {"most negative height", Rgb24(8, INT32_MIN), E_INVALIDARG},
      {"overflowing size", Rgb24(100000, 100000), E_INVALIDARG},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(renderer->AcceptsMediaType(&c.type), c.result);
    ReleaseMediaTypeContents(&c.type);
  }
  EXPECT_EQ(renderer->AcceptsMediaType(nullptr), E_POINTER);
  renderer->AsBaseFilter()->Release();
}

struct FrameFixture : testing::Test {
  void SetUp() override {
    renderer = CreateMovieRenderer(nullptr, nullptr);
    renderer->AsBaseFilter()->AddRef();
    allocator = new K_CMemoryAllocator(nullptr);
    allocator->AddRef();
    ALLOCATOR_PROPERTIES request{1, 964 * 4, 1, 0}, actual;
    ASSERT_EQ(allocator->SetProperties(&request, &actual), S_OK);
    ASSERT_EQ(allocator->Commit(), S_OK);
  }
  void TearDown() override {
    BYTE* buffer = renderer->frameBuffer;
    renderer->AsBaseFilter()->Release();
    TrackedFree(buffer);
    allocator->Decommit();
    allocator->Release();
  }
  IMediaSample* Frame(int rows, int pitch, LONG length) {
    IMediaSample* sample = nullptr;
    allocator->GetBuffer(&sample, nullptr, nullptr, 0);
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    for (int row = 0; row < rows; ++row) std::memset(data + row * pitch, 0x10 + row, pitch);
    sample->SetActualDataLength(length);
    return sample;
  }
  MovieFrameRenderer* renderer = nullptr;
  K_CMemoryAllocator* allocator = nullptr;
};

TEST_F(FrameFixture, FramesLandTopRowFirstWithTheirPitch) {
  IMediaSample* early = Frame(4, 964, 964 * 4);
  EXPECT_EQ(renderer->RenderSample(early), S_OK);  // before any type: accepted and ignored
  EXPECT_EQ(renderer->newFrame, 0);
  early->Release();
  struct Case {
    LONG height;
    int firstRowValue;
  };
  for (const Case c : {Case{4, 0x13}, Case{-4, 0x10}}) {
    SCOPED_TRACE(c.height);
    auto type = Rgb24(321, c.height);
    ASSERT_EQ(renderer->TakeMediaType(&type), S_OK);
    ReleaseMediaTypeContents(&type);
    EXPECT_EQ(renderer->pitch, 964);
    EXPECT_EQ(renderer->height, 4);
    EXPECT_EQ(renderer->bottomUp, c.height > 0 ? 1 : 0);
    IMediaSample* sample = Frame(4, 964, 964 * 4);
    ASSERT_EQ(renderer->RenderSample(sample), S_OK);
    sample->Release();
    EXPECT_EQ(renderer->newFrame, 1);
    EXPECT_EQ(renderer->frameBuffer[0], c.firstRowValue);
    EXPECT_EQ(renderer->frameBuffer[963], c.firstRowValue);
    EXPECT_EQ(renderer->frameBuffer[964 * 3], c.height > 0 ? 0x10 : 0x13);
  }
  // A sample shorter than the frame is skipped, not read past.
  renderer->newFrame = 0;
  IMediaSample* shortSample = Frame(4, 964, 964 * 3);
  EXPECT_EQ(renderer->RenderSample(shortSample), S_OK);
  EXPECT_EQ(renderer->newFrame, 0);
  shortSample->Release();
}

TEST(VideoRendererPolicy, QualityNoticesSetTheThrottle) {
  MovieFrameRenderer* renderer = CreateMovieRenderer(nullptr, nullptr);
  renderer->AsBaseFilter()->AddRef();
  const std::pair<LONG, REFERENCE_TIME> cases[] = {{500, 253028}, {1000, 0}, {-167, 0}, {0, 0}};
  for (const auto& [proportion, throttle] : cases) {
    SCOPED_TRACE(proportion);
    EXPECT_EQ(renderer->Notify(nullptr, Quality{Famine, proportion, 0, 0}), S_OK);
    EXPECT_EQ(renderer->stats.throttle, throttle);
  }
  renderer->AsBaseFilter()->Release();
}

// The draw policy, from a known state of the statistics and the clock.
TEST(VideoRendererPolicy, DecideDrawNowDrawsWaitsOrDrops) {
  struct Case {
    const char* name;
    REFERENCE_TIME now, start, stop;
    REFERENCE_TIME averageRenderTime, frameEstimate, lastFrameLength, lastDrawTime;
    int lateRun;
    HRESULT result;
    REFERENCE_TIME startAfter;
    int lateRunAfter;
  };
  const Case cases[] = {
      // First frame, on time: the estimate is the frame, so it waits for its time stamp.
      {"early first frame waits", 0, 400000, 800000, 0, -1, 0, -1000, 0, S_FALSE, 320000, 1},
      // Estimate above frame + frame/16 and not far early: draw at once.
      {"late frame draws now", 500000, 400000, 800000, 0, 500000, 400000, 0, 0, S_OK, 320000, 0},
      // Rendering slower than a third of the estimate, half a frame late: dropped.
      {"far late frame drops", 2000000, 400000, 800000, 200000, 400000, 400000, 1500000, 0, E_FAIL,
       320000, -1},
      // After a drop the next frame is drawn as soon as possible.
      {"after a drop draws asap", 2000000, 400000, 800000, 0, 400000, 400000, 1500000, -1, S_OK,
       320000, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MovieFrameRenderer* renderer = CreateMovieRenderer(nullptr, nullptr);
    renderer->AsBaseFilter()->AddRef();
    ManualClock clock;
    clock.Set(c.now);
    renderer->SetSyncSource(&clock);
    renderer->stats.averageRenderTime = c.averageRenderTime;
    renderer->stats.frameEstimate = c.frameEstimate;
    renderer->stats.lastFrameLength = c.lastFrameLength;
    renderer->stats.lastDrawTime = c.lastDrawTime;
    renderer->stats.lateRun = c.lateRun;
    K_CMemoryAllocator* allocator = new K_CMemoryAllocator(nullptr);
    allocator->AddRef();
    ALLOCATOR_PROPERTIES request{1, 16, 1, 0}, actual;
    allocator->SetProperties(&request, &actual);
    allocator->Commit();
    IMediaSample* sample = nullptr;
    allocator->GetBuffer(&sample, nullptr, nullptr, 0);
    REFERENCE_TIME start = c.start, stop = c.stop;
    EXPECT_EQ(renderer->DecideDrawNow(sample, &start, &stop), c.result);
    if (c.result == S_FALSE) {
      EXPECT_EQ(start, c.startAfter);
    } else {
      EXPECT_EQ(renderer->stats.adjustedStart, c.startAfter);
    }
    EXPECT_EQ(renderer->stats.lateRun, c.lateRunAfter);
    sample->Release();
    allocator->Decommit();
    allocator->Release();
    renderer->SetSyncSource(nullptr);
    renderer->AsBaseFilter()->Release();
  }
}

// A source pin that answers seeking: its positions are fixed, its time format media time.
class SeekingSource final : public StubSeeking {
 public:
  HRESULT GetDuration(LONGLONG* d) override {
    *d = 50000000;
    return S_OK;
  }
  HRESULT GetStopPosition(LONGLONG* s) override {
    *s = 40000000;
    return S_OK;
  }
  HRESULT GetCurrentPosition(LONGLONG* c) override {
    *c = 777;
    return S_OK;
  }
  HRESULT ConvertTimeFormat(LONGLONG* target, const GUID*, LONGLONG source, const GUID*) override {
    *target = source;
    return S_OK;
  }
  HRESULT SetRate(double) override {
    ++rateCalls;
    return S_OK;
  }
  int rateCalls = 0;
};

using SeekingOutputPin = SeekingTestOutputPin<SeekingSource>;

struct StreamFixture : testing::Test {
  void SetUp() override {
    source = TestFilter::Make(u"Source");
    out = new SeekingOutputPin(source, source->Lock(), u"Out", &log);
    source->AddPin(out);
    auto type = Rgb24(4, 2);
    out->Offer(type);
    out->bufferSize = 16 * 2;
    renderer = CreateMovieRenderer(nullptr, nullptr);
    renderer->AsBaseFilter()->AddRef();
    renderer->JoinFilterGraph(&graph, u"MovieRenderer");
  }
  void TearDown() override {
    source->Stop();
    if (renderer != nullptr) {
      renderer->Stop();
      out->Disconnect();
      renderer->InputPin()->Disconnect();
      renderer->JoinFilterGraph(nullptr, nullptr);
      BYTE* buffer = renderer->frameBuffer;
      EXPECT_EQ(renderer->AsBaseFilter()->Release(), 0u);
      TrackedFree(buffer);
    }
    EXPECT_EQ(source->AsBaseFilter()->Release(), 0u);
  }
  HRESULT Deliver(REFERENCE_TIME start, REFERENCE_TIME stop) {
    IMediaSample* sample = nullptr;
    HRESULT result = out->TakeDeliveryBuffer(&sample, nullptr, nullptr, 0);
    if (FAILED(result)) return result;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    std::memset(data, static_cast<int>(start / 1000000), 32);
    sample->SetActualDataLength(32);
    sample->SetTime(&start, &stop);
    result = out->DeliverSample(sample);
    sample->Release();
    return result;
  }
  CallLog log;
  EventRecorder graph;
  TestFilter* source = nullptr;
  SeekingOutputPin* out = nullptr;
  MovieFrameRenderer* renderer = nullptr;
};

TEST_F(StreamFixture, PauseCompletesWithTheFirstSampleAndRunRendersIt) {
  ASSERT_EQ(out->Connect(renderer->InputPin(), nullptr), S_OK);
  EXPECT_EQ(renderer->width, 4);
  IMediaSeeking* seeking = nullptr;
  ASSERT_EQ(renderer->AsBaseFilter()->QueryInterface(IID_IMediaSeeking,
                                                     reinterpret_cast<void**>(&seeking)),
            S_OK);
  ASSERT_EQ(source->Pause(), S_OK);
  EXPECT_EQ(renderer->Pause(), S_FALSE);
  FILTER_STATE state;
  EXPECT_EQ(renderer->GetState(0, &state), VFW_S_STATE_INTERMEDIATE);
  EXPECT_EQ(state, State_Paused);

  std::thread streaming([&] { EXPECT_EQ(Deliver(20000000, 21000000), S_OK); });
  EXPECT_EQ(renderer->GetState(10000, &state), S_OK);  // the sample completed the pause
  EXPECT_EQ(renderer->newFrame, 0);
  ASSERT_EQ(source->Run(0), S_OK);
  ASSERT_EQ(renderer->Run(0), S_OK);  // no clock: the pending sample renders at once
  streaming.join();
  EXPECT_EQ(renderer->newFrame, 1);
  EXPECT_EQ(renderer->frameBuffer[0], 20);

  LONGLONG position = 0;
  ASSERT_EQ(seeking->GetCurrentPosition(&position), S_OK);
  EXPECT_EQ(position, 20000000);  // the media time of the frame shown, not the source's own
  EXPECT_EQ(seeking->SetRate(0), E_INVALIDARG);
  EXPECT_EQ(out->seeking.rateCalls, 0);
  LONGLONG duration = 0;
  ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, 50000000);

  // End of stream with no clock is complete at once, and the position becomes the stop.
  ASSERT_EQ(out->PassEndOfStream(), S_OK);
  const auto events = graph.Snapshot();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].code, EC_COMPLETE);
  EXPECT_EQ(events[0].second, reinterpret_cast<LONG_PTR>(renderer->AsBaseFilter()));
  ASSERT_EQ(seeking->GetCurrentPosition(&position), S_OK);
  EXPECT_EQ(position, 40000000);

  // After a stop, the position is asked upstream again.
  renderer->Stop();
  ASSERT_EQ(seeking->GetCurrentPosition(&position), S_OK);
  EXPECT_EQ(position, 777);
  seeking->Release();
}

TEST_F(StreamFixture, EndOfStreamWaitsByTimerWhenFiftyMillisecondsOrMoreRemain) {
  ManualClock clock;
  renderer->SetSyncSource(&clock);
  ASSERT_EQ(out->Connect(renderer->InputPin(), nullptr), S_OK);
  ASSERT_EQ(source->Run(0), S_OK);
  ASSERT_EQ(renderer->Run(0), S_OK);
  // The sample is due at once (8 ms early), and ends 100 ms from now.
  std::thread streaming([&] { EXPECT_EQ(Deliver(0, 1000000), S_OK); });
  streaming.join();
  EXPECT_EQ(renderer->newFrame, 1);
  ASSERT_EQ(out->PassEndOfStream(), S_OK);
  // A timer of the remaining time is pending; while the clock stands still it finds the time
  // not yet come and waits again.
  EXPECT_TRUE(graph.Snapshot().empty());
  clock.Set(1000000);
  for (int i = 0; i < 10000 && graph.Snapshot().empty(); ++i) Sleep(1);  // waits for the timer
  const auto events = graph.Snapshot();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].code, EC_COMPLETE);
  renderer->Stop();
  renderer->SetSyncSource(nullptr);
}

TEST_F(StreamFixture, ARendererGoneWithItsEndOfStreamTimerPendingIsNeverCalledBack) {
  ManualClock clock;
  renderer->SetSyncSource(&clock);
  ASSERT_EQ(out->Connect(renderer->InputPin(), nullptr), S_OK);
  ASSERT_EQ(source->Run(0), S_OK);
  ASSERT_EQ(renderer->Run(0), S_OK);
  std::thread streaming([&] { EXPECT_EQ(Deliver(0, 1000000), S_OK); });
  streaming.join();
  ASSERT_EQ(out->PassEndOfStream(), S_OK);
  ASSERT_TRUE(graph.Snapshot().empty());  // a timer of 100 ms is pending
  // The time comes, but the source lets go of the renderer, which goes while still running.
  clock.Set(1000000);
  source->Stop();
  ASSERT_EQ(out->Disconnect(), S_OK);
  BYTE* buffer = renderer->frameBuffer;
  EXPECT_EQ(renderer->AsBaseFilter()->Release(), 0u);
  renderer = nullptr;
  TrackedFree(buffer);
  Sleep(300);  // three times the timer's delay: a late callback would touch freed memory
  EXPECT_TRUE(graph.Snapshot().empty());
}

// A pause arriving before, while or after the end-of-stream timer fires: the timer reports
// completion at most once and never after the pause has returned, and the run that follows
// reports it exactly once more. Neither side waits for the other forever.
TEST_F(StreamFixture, PauseRacingTheEndOfStreamTimerReportsCompletionOncePerRun) {
  struct Round {
    DWORD sleepMs;    // before the pause, with a timer of 50 ms pending
    bool catchTimer;  // instead: pause while the timer's callback is inside, asking the clock
  };
  std::vector<Round> rounds;
  for (DWORD ms = 40; ms <= 60; ms += 2) rounds.push_back({ms, false});
  for (int i = 0; i < 4; ++i) rounds.push_back({0, true});
  ManualClock clock;
  clock.held = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  renderer->SetSyncSource(&clock);
  ASSERT_EQ(out->Connect(renderer->InputPin(), nullptr), S_OK);
  IMediaSeeking* seeking = nullptr;
  ASSERT_EQ(renderer->AsBaseFilter()->QueryInterface(IID_IMediaSeeking,
                                                     reinterpret_cast<void**>(&seeking)),
            S_OK);
  for (const Round& round : rounds) {
    SCOPED_TRACE(testing::Message() << round.sleepMs << " ms, caught " << round.catchTimer);
    clock.Set(0);
    ASSERT_EQ(source->Run(0), S_OK);
    ASSERT_EQ(renderer->Run(0), S_OK);
    std::thread streaming([&] { EXPECT_EQ(Deliver(0, 1000000), S_OK); });
    streaming.join();
    // 50 ms are left: the end of stream starts a timer, which finds the time come when it fires.
    clock.Set(500000);
    const size_t before = graph.Snapshot().size();
    ASSERT_EQ(out->PassEndOfStream(), S_OK);
    EXPECT_EQ(graph.Snapshot().size(), before);
    clock.Set(1000000);
    if (round.catchTimer) {
      clock.holdNext = true;
      ASSERT_EQ(WaitForSingleObject(clock.held, 10000), WAIT_OBJECT_0);  // the timer fired
    } else {
      Sleep(round.sleepMs);
    }
    ASSERT_EQ(renderer->Pause(), S_OK);
    const size_t paused = graph.Snapshot().size();
    EXPECT_LE(paused - before, 1u);
    if (round.catchTimer) {
      EXPECT_EQ(paused - before, 1u);  // the callback had begun: it finished first
    }
    // The stream's end is the position once completion was reported.
    LONGLONG position = 0;
    ASSERT_EQ(seeking->GetCurrentPosition(&position), S_OK);
    EXPECT_EQ(position, paused > before ? 40000000 : 0);
    ASSERT_EQ(renderer->Run(0), S_OK);  // the end has come: completion at once
    const auto events = graph.Snapshot();
    ASSERT_EQ(events.size(), paused + 1);
    EXPECT_EQ(events.back().code, EC_COMPLETE);
    ASSERT_EQ(seeking->GetCurrentPosition(&position), S_OK);
    EXPECT_EQ(position, 40000000);
    renderer->Stop();
    source->Stop();
  }
  seeking->Release();
  renderer->SetSyncSource(nullptr);
  CloseHandle(clock.held);
}

LRESULT CALLBACK AnswerFortyTwo(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_USER) return 42;
  return DefWindowProcA(window, message, wParam, lParam);
}

// The streaming thread must hear back from a window of the thread that waits for the pause
// before it delivers the sample that completes it: the wait answers the message meanwhile.
TEST_F(StreamFixture, GetStateAnswersWhatIsSentToItsThreadWhileItWaits) {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = AnswerFortyTwo;
  windowClass.lpszClassName = "RendererWaitTestClass";
  RegisterClassExA(&windowClass);
  HWND window = CreateWindowExA(0, "RendererWaitTestClass", "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  ASSERT_EQ(out->Connect(renderer->InputPin(), nullptr), S_OK);
  ASSERT_EQ(source->Pause(), S_OK);
  EXPECT_EQ(renderer->Pause(), S_FALSE);
  std::atomic<LRESULT> answer{0};
  std::thread streaming([&] {
    answer = SendMessageA(window, WM_USER, 0, 0);
    EXPECT_EQ(Deliver(0, 1000000), S_OK);
  });
  FILTER_STATE state;
  EXPECT_EQ(renderer->GetState(5000, &state), S_OK);  // waits at most 5 s for the sample
  EXPECT_EQ(answer, 42);
  // Had the wait not answered, the sender is released here and the stop lets its sample go.
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
  renderer->Stop();
  streaming.join();
  DestroyWindow(window);
  UnregisterClassA("RendererWaitTestClass", nullptr);
}

TEST(RendererBase, AnUnconnectedRendererIsCompleteOnRun) {
  EventRecorder graph;
  MovieFrameRenderer* renderer = CreateMovieRenderer(nullptr, nullptr);
  renderer->AsBaseFilter()->AddRef();
  renderer->JoinFilterGraph(&graph, u"MovieRenderer");
  ASSERT_EQ(renderer->Run(0), S_OK);
  ASSERT_EQ(graph.events.size(), 1u);
  EXPECT_EQ(graph.events[0].code, EC_COMPLETE);
  IMediaSeeking* seeking = nullptr;
  ASSERT_EQ(renderer->AsBaseFilter()->QueryInterface(IID_IMediaSeeking,
                                                     reinterpret_cast<void**>(&seeking)),
            S_OK);
  LONGLONG value = 0;
  EXPECT_EQ(seeking->GetDuration(&value), E_NOTIMPL);
  seeking->Release();
  renderer->Stop();
  renderer->JoinFilterGraph(nullptr, nullptr);
  EXPECT_EQ(graph.events.back().code, 0x15);  // leaving the graph
  renderer->AsBaseFilter()->Release();
}

// Frames delivered at known clock times; each is drawn at once (all are late), so the renderer
// records for it the lateness behind its start moved 8 ms earlier, and the time since the last
// draw (at most 1 s). Render time stands still under virtual time, so nothing is dropped for
// slowness. Worked by hand, in ms:
//   frame       1     2     3     4     5     6
//   lateness   10     0    20    10    40  1500 (counted as 1000)
//   since draw 42.1  30    60    30    70  1500 (counted as 1000)
// The lateness sums start at the third frame drawn: 20 + 10 + 40 + 1000 = 1070, squares 1,002,100;
// the frame-time sums at the fourth: 30 + 70 + 1000 = 1100, squares 1,005,800.
//   AvgSyncOffset = 1070 / (6 - 1) = 214
//   DevSyncOffset = root of (1,002,100 - 1070 x 1070 / 5) / 4 = root of 193,280: 512, 444, 439, 439
//   Jitter = root of (1,005,800 - 1100 x 1100 / 4) / 3 = root of 234,433: 512, 484, 484, 484
//   AvgFrameRate = 100000 x 6 / 240 ms = 2500 while streaming; 2448.98 -> 2449 after 245 ms.
TEST_F(StreamFixture, QualityStatisticsOfAScriptedRunOfFrames) {
  struct VirtualTime {
    VirtualTime() { SetPlatformVirtualTime(true); }
    ~VirtualTime() { SetPlatformVirtualTime(false); }
  } virtualTime;
  ManualClock clock;
  renderer->SetSyncSource(&clock);
  ASSERT_EQ(out->Connect(renderer->InputPin(), nullptr), S_OK);
  IQualProp* quality = nullptr;
  ASSERT_EQ(
      renderer->AsBaseFilter()->QueryInterface(IID_IQualProp, reinterpret_cast<void**>(&quality)),
      S_OK);
  ASSERT_EQ(source->Run(0), S_OK);
  ASSERT_EQ(renderer->Run(0), S_OK);

  struct Frame {
    REFERENCE_TIME clockAt, start, stop;
  };
  constexpr Frame frames[] = {
      {420000, 400000, 800000},
      {720000, 800000, 1200000},
      {1320000, 1200000, 1600000},
      {1620000, 1600000, 2000000},
      {1620000, 1900000, 1800000},  // stop before start: refused and
                                    // counted as dropped
      {2320000, 2000000, 2400000},
      {17320000, 2400000, 2800000},
  };
  for (const Frame& frame : frames) {
    SCOPED_TRACE(frame.start);
    clock.Set(frame.clockAt);
    EXPECT_EQ(Deliver(frame.start, frame.stop), S_OK);
    if (frame.stop > frame.start) AdvancePlatformTime(40);
  }
  EXPECT_EQ(renderer->newFrame, 1);

  struct Expected {
    int dropped, drawn, frameRate, syncOffset, deviation, jitter;
  };
  auto check = [&](const Expected& e) {
    int value = -1;
    EXPECT_EQ(quality->get_FramesDroppedInRenderer(&value), S_OK);
    EXPECT_EQ(value, e.dropped);
    EXPECT_EQ(quality->get_FramesDrawn(&value), S_OK);
    EXPECT_EQ(value, e.drawn);
    EXPECT_EQ(quality->get_AvgFrameRate(&value), S_OK);
    EXPECT_EQ(value, e.frameRate);
    EXPECT_EQ(quality->get_AvgSyncOffset(&value), S_OK);
    EXPECT_EQ(value, e.syncOffset);
    EXPECT_EQ(quality->get_DevSyncOffset(&value), S_OK);
    EXPECT_EQ(value, e.deviation);
    EXPECT_EQ(quality->get_Jitter(&value), S_OK);
    EXPECT_EQ(value, e.jitter);
  };
  {
    SCOPED_TRACE("streaming");
    check({1, 6, 2500, 214, 439, 484});
  }
  AdvancePlatformTime(5);
  renderer->Stop();
  {
    SCOPED_TRACE("stopped: the rate over the streaming time");
    check({1, 6, 2449, 214, 439, 484});
  }
  renderer->SetSyncSource(nullptr);
  {
    SCOPED_TRACE("without a clock the timing figures are 0");
    check({1, 6, 2449, 0, 0, 0});
  }
  EXPECT_EQ(quality->get_FramesDrawn(nullptr), E_POINTER);
  quality->Release();
}

// A renderer that draws by itself still counts the frame and its lateness.
TEST(VideoRendererPolicy, AFrameRenderedDirectlyIsCountedAsDrawn) {
  MovieFrameRenderer* renderer = CreateMovieRenderer(nullptr, nullptr);
  renderer->AsBaseFilter()->AddRef();
  renderer->stats.averageRenderTime = 300000;
  for (int i = 0; i < 3; ++i) {
    renderer->stats.pendingLateness = 250000;
    renderer->OnRenderedDirectly(nullptr);
  }
  EXPECT_EQ(renderer->stats.framesDrawn, 3);
  EXPECT_EQ(renderer->stats.latenessSum, 25);  // from the third frame on
  EXPECT_EQ(renderer->stats.averageRenderTime, 0);
  EXPECT_EQ(renderer->stats.lastRenderTime, 5000000);
  renderer->AsBaseFilter()->Release();
}

}  // namespace
