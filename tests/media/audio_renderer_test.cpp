// The graph's default audio renderer: a PCM stream that the graph renders is heard, sample for
// sample, through the sound device's mixer (mixed by hand in virtual time, so that no busy machine
// can starve it), and with no sound device the stream still takes its time on the graph's clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include <unistd.h>

#include "dshow_test_filters.h"
#include "media/graph_filters.h"
#include "platform/clock.h"
#include "platform/dsound/dsound.h"
#include "system/log_fixture.h"

namespace {

using dshow_test::CallLog;
using dshow_test::MakeType;
using dshow_test::TestFilter;
using dshow_test::TestOutputPin;

constexpr int kRate = 44100;
constexpr int kFramesPerSample = 4410;  // a tenth of a second
constexpr int kSamples = 8;

// A stereo tone, left and right apart so that a swap would show.
std::vector<std::int16_t> Tone() {
  std::vector<std::int16_t> pcm(static_cast<size_t>(kFramesPerSample) * kSamples * 2);
  for (size_t frame = 0; frame < pcm.size() / 2; ++frame) {
    const double value = 9000.0 * std::sin(2.0 * 3.14159265358979 * 441.0 * frame / kRate);
    pcm[frame * 2] = static_cast<std::int16_t>(value);
    pcm[frame * 2 + 1] = static_cast<std::int16_t>(-value / 2);
  }
  return pcm;
}

// A graph with a PCM source of the test's own, rendered by the graph.
class AudioGraph {
 public:
  AudioGraph() {
    RegisterEngineGraphFilters();
    source_ = TestFilter::Make(u"Tone");
    pin_ = source_->AddOutput(u"Out", &log_);
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, kRate, kRate * 4, 4, 16, 0};
    std::vector<BYTE> block(sizeof(format));
    std::memcpy(block.data(), &format, sizeof(format));
    pin_->Offer(MakeType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx, block));
    pin_->bufferSize = kFramesPerSample * 4;
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                     reinterpret_cast<void**>(&graph_));
    if (graph_ == nullptr) return;
    graph_->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control_));
    graph_->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events_));
    graph_->AddFilter(source_->AsBaseFilter(), u"Tone");
    rendered_ = graph_->Render(pin_);
  }
  ~AudioGraph() {
    if (control_ != nullptr) control_->Stop();
    if (streamer_.joinable()) streamer_.join();
    if (events_ != nullptr) events_->Release();
    if (control_ != nullptr) control_->Release();
    if (graph_ != nullptr) graph_->Release();
    source_->AsBaseFilter()->Release();
  }
  // Runs the graph and streams the PCM from a thread of its own, in samples timed one after
  // the other, then the end of the stream.
  bool Play(const std::vector<std::int16_t>& pcm) {
    if (graph_ == nullptr || FAILED(rendered_) || FAILED(control_->Run())) return false;
    streamer_ = std::thread([this, pcm] {
      const size_t values = static_cast<size_t>(kFramesPerSample) * 2;
      for (size_t at = 0; at < pcm.size(); at += values) {
        IMediaSample* sample = nullptr;
        if (FAILED(pin_->TakeDeliveryBuffer(&sample, nullptr, nullptr, 0))) return;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        std::memcpy(data, pcm.data() + at, values * 2);
        sample->SetActualDataLength(static_cast<LONG>(values * 2));
        REFERENCE_TIME start = static_cast<REFERENCE_TIME>(at / 2) * 10000000 / kRate;
        REFERENCE_TIME stop =
            static_cast<REFERENCE_TIME>(at / 2 + kFramesPerSample) * 10000000 / kRate;
        sample->SetTime(&start, &stop);
        const HRESULT delivered = pin_->DeliverSample(sample);
        sample->Release();
        if (delivered != S_OK) return;
        ++delivered_;
      }
      pin_->PassEndOfStream();
      streamed_ = true;
    });
    return true;
  }
  // Whether the renderer took `samples` samples in within `milliseconds`; a sample is taken in
  // when its time comes.
  bool WaitForDeliveries(int samples, int milliseconds) {
    return WaitFor([&] { return delivered_ >= samples; }, milliseconds);
  }
  bool WaitForTheStreamsEnd(int milliseconds) {
    return WaitFor([&] { return streamed_.load(); }, milliseconds);
  }
  // The graph's completion code, or 0 when none came within `milliseconds`.
  LONG WaitForCompletion(LONG milliseconds) {
    LONG code = 0;
    return SUCCEEDED(events_->WaitForCompletion(milliseconds, &code)) ? code : 0;
  }
  HRESULT Rendered() const { return rendered_; }

 private:
  CallLog log_;
  TestFilter* source_ = nullptr;
  TestOutputPin* pin_ = nullptr;
  IGraphBuilder* graph_ = nullptr;
  IMediaControl* control_ = nullptr;
  IMediaEvent* events_ = nullptr;
  HRESULT rendered_ = E_FAIL;
  std::thread streamer_;
  std::atomic<int> delivered_{0};
  std::atomic<bool> streamed_{false};

  template <typename Done>
  static bool WaitFor(Done done, int milliseconds) {
    for (int waited = 0; waited < milliseconds && !done(); waited += 5) usleep(5000);
    return done();
  }
};

// The graph's completion code, polled while the renderer catches up with a virtual clock; 0 when
// none came within ten seconds.
LONG PollForCompletion(AudioGraph& graph) {
  LONG completed = 0;
  for (int i = 0; i < 2000 && completed == 0; ++i) {
    completed = graph.WaitForCompletion(0);
    if (completed == 0) usleep(5000);
  }
  return completed;
}

class AudioRendererTest : public LogFixture {
 protected:
  void SetUp() override {
    LogFixture::SetUp();
    SetPlatformVirtualTime(false);
  }
  void TearDown() override {
    SetDirectSoundOutput(DirectSoundOutputDevice);
    LogFixture::TearDown();
  }
};

TEST_F(AudioRendererTest, AGraphsPcmStreamIsHeardSampleForSample) {
  SetDirectSoundOutput(DirectSoundOutputManual);
  SetPlatformVirtualTime(true);
  const auto tone = Tone();
  {
    AudioGraph graph;
    ASSERT_EQ(graph.Rendered(), S_OK);
    ASSERT_EQ(GetDirectSoundMixRate(), kRate);
    ASSERT_TRUE(graph.Play(tone));
    // A sample goes into the ring a fifth of a second before its time. The clock moves a tenth
    // at a time, each step once the samples due by then are in, as on a machine that keeps up.
    for (int step = 0; step <= kSamples; ++step) {
      if (step > 0) AdvancePlatformTime(100);
      ASSERT_TRUE(graph.WaitForDeliveries(std::min(kSamples, step + 2), 20000))
          << "the renderer took in the samples due at " << step * 100 << " ms";
    }
    ASSERT_TRUE(graph.WaitForTheStreamsEnd(20000)) << "the streaming thread ended the stream";
    std::vector<std::int16_t> mixed(static_cast<size_t>(kRate) * 2);
    ASSERT_EQ(RenderDirectSoundOutput(mixed.data(), kRate), kRate);
    EXPECT_NE(std::search(mixed.begin(), mixed.end(), tone.begin(), tone.end()), mixed.end())
        << "the whole tone, unbroken, in a second of the mixer's output";
    // The end is reported once the device has played the ring's sound.
    AdvancePlatformTime(1000);
    EXPECT_EQ(PollForCompletion(graph), EC_COMPLETE);
  }
  EXPECT_EQ(CountDirectSoundBuffers(), 0) << "the ring goes with the graph";
}

TEST_F(AudioRendererTest, WithoutASoundDeviceTheStreamStillTakesItsTimeOnTheClock) {
  SetDirectSoundOutput(DirectSoundOutputNone);
  SetPlatformVirtualTime(true);
  AudioGraph graph;
  ASSERT_EQ(graph.Rendered(), S_OK);
  ASSERT_TRUE(graph.Play(Tone()));
  // Eight tenths of a second: at 0.7 s on the clock the stream has not ended; past its end it has.
  AdvancePlatformTime(700);
  EXPECT_EQ(graph.WaitForCompletion(0), 0);
  AdvancePlatformTime(200);
  EXPECT_EQ(PollForCompletion(graph), EC_COMPLETE);
  EXPECT_EQ(CountDirectSoundBuffers(), 0);
}

}  // namespace
