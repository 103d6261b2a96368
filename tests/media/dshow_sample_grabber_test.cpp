// The sample grabber driven through its control interface between framework-built test pins:
// the accepted type, the callback's times and result, and samples placed in a buffer of the
// caller's own.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "dshow_test_filters.h"
#include "media/dshow_sample_grabber.h"

using namespace dshow_test;

namespace {

constexpr HRESULT kTypeRefused = static_cast<HRESULT>(0x80040248u);

std::vector<BYTE> MonoPcmFormat() {
  // Tag 1, 1 channel, 8,000 Hz, 16,000 bytes a second, blocks of 2, 16 bits, no extra bytes.
  return {0x01, 0x00, 0x01, 0x00, 0x40, 0x1F, 0x00, 0x00, 0x80,
          0x3E, 0x00, 0x00, 0x02, 0x00, 0x10, 0x00, 0x00, 0x00};
}

// What the callback was told, and what it answers.
struct CallbackLog {
  struct Call {
    REFERENCE_TIME start;
    REFERENCE_TIME stop;
    BOOL typeChanged;
    std::vector<BYTE> bytes;
  };
  std::vector<Call> calls;
  int answer = 0;
};

int RecordSample(IMediaSample* sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                 BOOL typeChanged, void* user) {
  auto* log = static_cast<CallbackLog*>(user);
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  log->calls.push_back(
      {*start, *stop, typeChanged, std::vector<BYTE>(data, data + sample->GetActualDataLength())});
  return log->answer;
}

// Source pin -> grabber -> sink pin, all stopped and unconnected at first.
struct DshowGrabberFixture : testing::Test {
  void SetUp() override {
    liveBefore = LiveFrameworkObjectCount();
    source = TestFilter::Make(u"Source");
    sink = TestFilter::Make(u"Sink");
    out = source->AddOutput(u"Out", &log);
    in = sink->AddInput(u"In", &log);
    in->accepted = MEDIASUBTYPE_PCM;
    HRESULT result = E_FAIL;
    grabber = CreateSampleGrabber(nullptr, &result);
    ASSERT_EQ(result, S_OK);
    grabber->AsBaseFilter()->AddRef();
    grabber->JoinFilterGraph(&events, u"SampleGrabber");
    ASSERT_EQ(grabber->AsBaseFilter()->QueryInterface(IID_K_ISampleGrabberControl,
                                                      reinterpret_cast<void**>(&control)),
              S_OK);
  }
  void TearDown() override {
    if (control != nullptr) control->Release();
    source->Stop();
    grabber->Stop();
    sink->Stop();
    out->Disconnect();
    in->Disconnect();
    if (grabber->PinAt(0) != nullptr) {
      grabber->PinAt(0)->Disconnect();
      grabber->PinAt(1)->Disconnect();
    }
    EXPECT_EQ(source->AsBaseFilter()->Release(), 0u);
    EXPECT_EQ(grabber->AsBaseFilter()->Release(), 0u);
    EXPECT_EQ(sink->AsBaseFilter()->Release(), 0u);
    EXPECT_EQ(LiveFrameworkObjectCount(), liveBefore);
  }
  IPin* GrabberIn() { return grabber->PinAt(0); }
  IPin* GrabberOut() { return grabber->PinAt(1); }
  void ConnectBoth() {
    ASSERT_EQ(out->Connect(GrabberIn(), nullptr), S_OK);
    ASSERT_EQ(GrabberOut()->Connect(in, nullptr), S_OK);
  }
  void PauseAll() {
    ASSERT_EQ(sink->Pause(), S_OK);
    ASSERT_EQ(grabber->Pause(), S_OK);
    ASSERT_EQ(source->Pause(), S_OK);
  }
  HRESULT Send(std::vector<BYTE> bytes, REFERENCE_TIME start, REFERENCE_TIME stop) {
    IMediaSample* sample = nullptr;
    HRESULT result = out->TakeDeliveryBuffer(&sample, nullptr, nullptr, 0);
    if (FAILED(result)) return result;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    std::memcpy(data, bytes.data(), bytes.size());
    sample->SetActualDataLength(static_cast<LONG>(bytes.size()));
    sample->SetTime(&start, &stop);
    sentBuffer = data;
    result = out->DeliverSample(sample);
    sample->Release();
    return result;
  }

  LONG liveBefore = 0;
  CallLog log;
  EventRecorder events;
  TestFilter* source = nullptr;
  TestFilter* sink = nullptr;
  TestOutputPin* out = nullptr;
  TestInputPin* in = nullptr;
  K_CSampleGrabber* grabber = nullptr;
  K_ISampleGrabberControl* control = nullptr;
  BYTE* sentBuffer = nullptr;
};

TEST_F(DshowGrabberFixture, AFormatGuidWithoutABlockAcceptsAnyMatchingFormat) {
  MediaTypeObject accepted = MakeType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx);
  ASSERT_EQ(control->SetAcceptedType(&accepted), S_OK);
  out->acceptAny = true;
  struct Case {
    const char* what;
    MediaTypeObject type;
    HRESULT result;
  };
  Case cases[] = {
      {"another subtype",
       MakeType(MEDIATYPE_Audio, MEDIASUBTYPE_MPEG1Audio, FORMAT_WaveFormatEx, MonoPcmFormat()),
       kTypeRefused},
      {"another format type", MakeType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_VideoInfo),
       kTypeRefused},
      {"PCM with its format block",
       MakeType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx, MonoPcmFormat()), S_OK},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(out->Connect(GrabberIn(), &c.type), c.result);
    ReleaseMediaTypeContents(&c.type);
  }
  MediaTypeObject connection;
  ClearMediaType(&connection);
  ASSERT_EQ(control->GetConnectionType(&connection), S_OK);
  EXPECT_EQ(connection.cbFormat, MonoPcmFormat().size());
  ReleaseMediaTypeContents(&connection);
  ReleaseMediaTypeContents(&accepted);
}

TEST_F(DshowGrabberFixture, TheInputOffersTheAcceptedTypeAlone) {
  MediaTypeObject accepted = MakeType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, GUID_NULL);
  ASSERT_EQ(control->SetAcceptedType(&accepted), S_OK);
  IEnumMediaTypes* types = nullptr;
  ASSERT_EQ(GrabberIn()->EnumMediaTypes(&types), S_OK);
  AM_MEDIA_TYPE* offered[2] = {};
  ULONG fetched = 0;
  EXPECT_EQ(types->Next(2, offered, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  EXPECT_TRUE(MediaTypesEqual(*offered[0], accepted));
  DeleteMediaType(offered[0]);
  types->Release();
  // Nothing is connected yet: there is no connection type to report.
  MediaTypeObject connection;
  EXPECT_EQ(control->GetConnectionType(&connection), VFW_E_NOT_CONNECTED);
}

TEST_F(DshowGrabberFixture, TheCallbackHearsStreamTimesAndItsAnswerIsPassedBack) {
  MediaTypeObject accepted = MakeType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, GUID_NULL);
  ASSERT_EQ(control->SetAcceptedType(&accepted), S_OK);
  out->Offer(MakeType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx, MonoPcmFormat()));
  CallbackLog calls;
  ASSERT_EQ(control->SetSampleCallback(RecordSample, &calls), S_OK);
  ConnectBoth();
  PauseAll();
  ASSERT_EQ(out->PassNewSegment(5000000, 9000000, 1.0), S_OK);

  struct Case {
    int answer;
    HRESULT result;
    int delivered;
  };
  // 0 passes the sample on; any other answer keeps it and is the sender's result.
  const Case cases[] = {{0, S_OK, 1}, {1, S_FALSE, 0}, {int(E_FAIL), E_FAIL, 0}};
  REFERENCE_TIME start = 1000;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    calls.answer = c.answer;
    const int before = in->received;
    EXPECT_EQ(Send({1, 2, 3, 4}, start, start + 500), c.result);
    EXPECT_EQ(in->received - before, c.delivered);
    start += 500;
  }
  ASSERT_EQ(calls.calls.size(), 3u);
  EXPECT_EQ(calls.calls[0].start, 5001000);
  EXPECT_EQ(calls.calls[0].stop, 5001500);
  EXPECT_EQ(calls.calls[2].start, 5002000);
  EXPECT_EQ(calls.calls[0].bytes, (std::vector<BYTE>{1, 2, 3, 4}));
  // The new connection type is told once.
  EXPECT_TRUE(calls.calls[0].typeChanged);
  EXPECT_FALSE(calls.calls[1].typeChanged);
  EXPECT_FALSE(calls.calls[2].typeChanged);
  ReleaseMediaTypeContents(&accepted);
}

TEST_F(DshowGrabberFixture, OwnBufferIsSetOnlyWhileUnconnected) {
  alignas(16) BYTE buffer[96] = {};
  ALLOCATOR_PROPERTIES two{2, 64, 16, 16};
  ALLOCATOR_PROPERTIES one{1, 64, 16, 16};
  struct Case {
    const char* what;
    ALLOCATOR_PROPERTIES* properties;
    BYTE* buffer;
    HRESULT result;
  };
  const Case cases[] = {{"no properties", nullptr, buffer, E_POINTER},
                        {"two buffers", &two, buffer, E_INVALIDARG},
                        {"no buffer", &one, nullptr, E_POINTER},
                        {"one buffer", &one, buffer, S_OK}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(control->SetOwnBuffer(c.properties, c.buffer), c.result);
  }
  // The input asks upstream for exactly the stored properties.
  IMemInputPin* memInput = nullptr;
  ASSERT_EQ(GrabberIn()->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&memInput)),
            S_OK);
  ALLOCATOR_PROPERTIES wanted{};
  EXPECT_EQ(memInput->GetAllocatorRequirements(&wanted), S_OK);
  EXPECT_EQ(std::memcmp(&wanted, &one, sizeof(one)), 0);
  memInput->Release();

  out->Offer(MakeType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx, MonoPcmFormat()));
  out->bufferCount = 1;
  out->bufferSize = 64;
  ConnectBoth();
  EXPECT_EQ(control->SetOwnBuffer(&one, buffer), E_INVALIDARG);
  PauseAll();
  ASSERT_EQ(Send({7, 8, 9}, 0, 10), S_OK);
  // The source filled the caller's buffer, after the prefix.
  EXPECT_EQ(sentBuffer, buffer + 16);
  EXPECT_EQ(buffer[16], 7);
  EXPECT_EQ(buffer[18], 9);
  EXPECT_EQ(in->received, 1);
}

TEST_F(DshowGrabberFixture, TheOwnBufferAllocatorGrantsOnlyWhatWasStored) {
  BYTE buffer[160] = {};
  ALLOCATOR_PROPERTIES stored{1, 100, 8, 4};
  ASSERT_EQ(control->SetOwnBuffer(&stored, buffer), S_OK);
  IMemInputPin* memInput = nullptr;
  ASSERT_EQ(GrabberIn()->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&memInput)),
            S_OK);
  IMemAllocator* allocator = nullptr;
  ASSERT_EQ(memInput->GetAllocator(&allocator), S_OK);
  struct Case {
    const char* what;
    ALLOCATOR_PROPERTIES request;
    HRESULT result;
  };
  const Case cases[] = {{"another alignment", {1, 100, 16, 4}, VFW_E_BADALIGN},
                        {"another prefix", {1, 100, 8, 0}, E_FAIL},
                        {"more buffers", {2, 100, 8, 4}, E_FAIL},
                        {"larger buffers", {1, 101, 8, 4}, E_FAIL},
                        {"smaller buffers", {1, 10, 8, 4}, S_OK}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ALLOCATOR_PROPERTIES request = c.request;
    ALLOCATOR_PROPERTIES actual{-1, -1, -1, -1};
    EXPECT_EQ(allocator->SetProperties(&request, &actual), c.result);
    if (c.result == S_OK) {
      EXPECT_EQ(std::memcmp(&actual, &stored, sizeof(stored)), 0);
    }
  }
  // Only its own allocator is taken.
  IMemAllocator* other = nullptr;
  ASSERT_EQ(
      CreateMemoryAllocatorInstance(nullptr, IID_IMemAllocator, reinterpret_cast<void**>(&other)),
      S_OK);
  EXPECT_EQ(memInput->NotifyAllocator(other, FALSE), E_FAIL);
  other->Release();

  ASSERT_EQ(allocator->Commit(), S_OK);
  IMediaSample* sample = nullptr;
  ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  EXPECT_EQ(data, buffer + 4);
  EXPECT_EQ(sample->GetSize(), 100);
  sample->Release();
  EXPECT_EQ(allocator->Decommit(), S_OK);
  allocator->Release();
  memInput->Release();
}

}  // namespace
