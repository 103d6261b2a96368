// The two-buffer and in-place transforms between framework-built test pins, and the WAV writer
// writing a RIFF file into a downstream pin's memory stream.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <type_traits>
#include <utility>
#include <vector>

#include "dshow_test_filters.h"
#include "media/dshow_seeking_passthru.h"
#include "media/dshow_transform.h"
#include "media/dshow_wave_writer.h"

using namespace dshow_test;

namespace {

constexpr GUID kSubPlain = {0xA, 0, 0, {0}};
constexpr GUID kSubInverted = {0xB, 0, 0, {0}};
constexpr GUID kSubOther = {0xC, 0, 0, {0}};

// Inverts every byte; a sample that begins with 0 is dropped, as a decoder behind time would.
class InvertTransform final : public K_CTwoBufferTransformFilter {
 public:
  InvertTransform() : K_CTwoBufferTransformFilter(u"Invert", nullptr, GUID_NULL) {}
  HRESULT Transform(IMediaSample* in, IMediaSample* out) override {
    BYTE* source = nullptr;
    BYTE* target = nullptr;
    in->GetPointer(&source);
    out->GetPointer(&target);
    const LONG length = in->GetActualDataLength();
    if (length > out->GetSize()) return E_FAIL;
    if (length > 0 && source[0] == 0) return S_FALSE;
    for (LONG i = 0; i < length; ++i) target[i] = static_cast<BYTE>(~source[i]);
    out->SetActualDataLength(length);
    return S_OK;
  }
  HRESULT CheckInputType(const MediaTypeObject* type) override {
    return type->subtype == kSubPlain ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT CheckTransform(const MediaTypeObject* in, const MediaTypeObject* out) override {
    return in->subtype == kSubPlain && out->subtype == kSubInverted ? S_OK
                                                                    : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    request->cBuffers = 2;
    request->cbBuffer = 256;
    ALLOCATOR_PROPERTIES actual;
    return allocator->SetProperties(request, &actual);
  }
  HRESULT GetMediaType(int position, MediaTypeObject* type) override {
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    *type = MakeType(MEDIATYPE_Audio, kSubInverted, GUID_NULL);
    return S_OK;
  }
};

// The same work in place: every byte inverted where it lies, a sample that begins with 0 dropped.
class InvertInPlace final : public K_CInPlaceTransformFilter {
 public:
  InvertInPlace() : K_CInPlaceTransformFilter(u"Invert in place", nullptr, GUID_NULL, true) {}
  HRESULT CheckInputType(const MediaTypeObject* type) override {
    return type->subtype == kSubPlain ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT TransformInPlace(IMediaSample* sample) override {
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    const LONG length = sample->GetActualDataLength();
    if (length > 0 && data[0] == 0) return S_FALSE;
    for (LONG i = 0; i < length; ++i) data[i] = static_cast<BYTE>(~data[i]);
    return S_OK;
  }
};

// A byte stream in memory, as a file writer downstream would hand out.
class MemoryStream final : public IStream {
 public:
  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT Read(void*, ULONG, ULONG*) override { return E_NOTIMPL; }
  HRESULT Write(const void* buffer, ULONG size, ULONG* written) override {
    WriteAt(position_, static_cast<const BYTE*>(buffer), size);
    position_ += size;
    if (written != nullptr) *written = size;
    return S_OK;
  }
  HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
    if (origin != STREAM_SEEK_SET) return E_NOTIMPL;
    position_ = static_cast<size_t>(move.QuadPart);
    if (position != nullptr) position->QuadPart = position_;
    return S_OK;
  }
  HRESULT SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  void WriteAt(size_t at, const BYTE* bytes, size_t size) {
    if (bytes_.size() < at + size) bytes_.resize(at + size);
    std::memcpy(bytes_.data() + at, bytes, size);
  }
  std::vector<BYTE> bytes_;

 private:
  size_t position_ = 0;
};

// Records what reaches it; a file sink writes each sample at its media time into the stream.
class CaptureInputPin final : public K_CInputPinBase {
 public:
  CaptureInputPin(TestFilter* filter, CRITICAL_SECTION* lock, GUID accepted)
      : K_CInputPinBase(u"capture", filter, lock, nullptr, u"Capture"), accepted_(accepted) {}
  HRESULT InnerQueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IStream && fileSink) {
      *object = static_cast<IStream*>(&stream);
      return S_OK;
    }
    return K_CInputPinBase::InnerQueryInterface(riid, object);
  }
  HRESULT AcceptsMediaType(const MediaTypeObject* type) override {
    return type->subtype == accepted_ ? S_OK : S_FALSE;
  }
  // A renderer that draws from memory of its own takes no other allocator.
  HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override {
    if (keepsOwnAllocator) {
      IMemAllocator* own = nullptr;
      if (FAILED(GetAllocator(&own))) return E_FAIL;
      own->Release();
      if (allocator != own) return E_FAIL;
    }
    return K_CInputPinBase::NotifyAllocator(allocator, readOnly);
  }
  HRESULT Receive(IMediaSample* sample) override {
    HRESULT result = K_CInputPinBase::Receive(sample);
    if (result != S_OK) return result;
    if (refuse != S_OK) return refuse;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    const LONG length = sample->GetActualDataLength();
    buffers.push_back(data);
    samples.emplace_back(data, data + length);
    discontinuities.push_back(sample->IsDiscontinuity() == S_OK);
    REFERENCE_TIME start = -1, stop = -1;
    sample->GetTime(&start, &stop);
    startTimes.push_back(start);
    LONGLONG mediaStart = 0, mediaStop = 0;
    if (fileSink && sample->GetMediaTime(&mediaStart, &mediaStop) == S_OK) {
      EXPECT_EQ(mediaStop - mediaStart, length);
      stream.WriteAt(static_cast<size_t>(mediaStart), data, static_cast<size_t>(length));
    }
    return S_OK;
  }
  HRESULT EndOfStream() override {
    ++endsOfStream;
    return S_OK;
  }
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override {
    segment = {start, stop};
    return K_CInputPinBase::NewSegment(start, stop, rate);
  }
  HRESULT BeginFlush() override {
    ++flushesBegun;
    return K_CInputPinBase::BeginFlush();
  }
  HRESULT EndFlush() override {
    ++flushesEnded;
    return K_CInputPinBase::EndFlush();
  }

  bool fileSink = false;
  bool keepsOwnAllocator = false;
  HRESULT refuse = S_OK;
  MemoryStream stream;
  std::vector<std::vector<BYTE>> samples;
  std::vector<BYTE*> buffers;
  std::vector<bool> discontinuities;
  std::vector<REFERENCE_TIME> startTimes;
  std::pair<REFERENCE_TIME, REFERENCE_TIME> segment{-1, -1};
  int endsOfStream = 0;
  int flushesBegun = 0;
  int flushesEnded = 0;

 private:
  GUID accepted_;
};

// An upstream that knows its duration, for the positions asked through the transform.
class FixedSeeking final : public StubSeeking {
 public:
  HRESULT GetDuration(LONGLONG* duration) override {
    *duration = 12345678;
    return S_OK;
  }
  HRESULT SetPositions(LONGLONG* current, DWORD, LONGLONG*, DWORD) override {
    lastSet = *current;
    return S_OK;
  }
  LONGLONG lastSet = -1;
};

using SeekableOutputPin = SeekingTestOutputPin<FixedSeeking>;

// Upstream source pin -> transform -> capture pin, all stopped and unconnected at first.
template <class Transform>
struct ChainFixture : testing::Test {
  void SetUp() override {
    liveBefore = LiveFrameworkObjectCount();
    source = TestFilter::Make(u"Source");
    sink = TestFilter::Make(u"Sink");
    out = new SeekableOutputPin(source, source->Lock(), u"Out", &log);
    source->AddPin(out);
    transform = new Transform;
    transform->AsBaseFilter()->AddRef();
    transform->JoinFilterGraph(&events, u"Transform");
  }
  void TearDown() override {
    source->Stop();
    transform->Stop();
    sink->Stop();
    for (IPin* pin :
         std::initializer_list<IPin*>{out, transform->Input(), transform->Output(), capture})
      if (pin != nullptr) pin->Disconnect();
    EXPECT_EQ(source->AsBaseFilter()->Release(), 0u);
    EXPECT_EQ(transform->AsBaseFilter()->Release(), 0u);
    EXPECT_EQ(sink->AsBaseFilter()->Release(), 0u);
    EXPECT_EQ(LiveFrameworkObjectCount(), liveBefore);
  }
  void MakeCapture(GUID accepted) {
    capture = new CaptureInputPin(sink, sink->Lock(), accepted);
    sink->AddPin(capture);
  }
  IPin* Pin(LPCWSTR id) {
    IPin* pin = nullptr;
    EXPECT_EQ(transform->FindPin(id, &pin), S_OK);
    if (pin != nullptr) pin->Release();
    return pin;
  }
  void ConnectBoth(const MediaTypeObject& sourceType, GUID sinkType) {
    out->Offer(sourceType);
    MakeCapture(sinkType);
    ASSERT_EQ(out->Connect(Pin(u"In"), nullptr), S_OK);
    ASSERT_EQ(Pin(u"Out")->Connect(capture, nullptr), S_OK);
  }
  void PauseAll() {
    ASSERT_EQ(sink->Pause(), S_OK);
    ASSERT_EQ(transform->Pause(), S_OK);
    ASSERT_EQ(source->Pause(), S_OK);
  }
  // Delivers bytes from the source pin with the given times; the result is the transform's.
  HRESULT Send(std::vector<BYTE> bytes, REFERENCE_TIME start = 0) {
    IMediaSample* sample = nullptr;
    HRESULT result = out->TakeDeliveryBuffer(&sample, nullptr, nullptr, 0);
    if (FAILED(result)) return result;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    std::memcpy(data, bytes.data(), bytes.size());
    sample->SetActualDataLength(static_cast<LONG>(bytes.size()));
    REFERENCE_TIME stop = start + 1000;
    sample->SetTime(&start, &stop);
    sample->SetSyncPoint(TRUE);
    result = out->DeliverSample(sample);
    sample->Release();
    return result;
  }

  LONG liveBefore = 0;
  CallLog log;
  EventRecorder events;
  TestFilter* source = nullptr;
  TestFilter* sink = nullptr;
  SeekableOutputPin* out = nullptr;
  CaptureInputPin* capture = nullptr;
  Transform* transform = nullptr;
};

// The two transforms answer the same tests; they differ in their pin names and in the type their
// output carries (a new one, or the input's own).
struct TwoBufferKind {
  using Filter = InvertTransform;
  static constexpr GUID kOutputType = kSubInverted;
  static constexpr const char* kInputName = "XForm In";
  static constexpr const char* kOutputName = "XForm Out";
};
struct InPlaceKind {
  using Filter = InvertInPlace;
  static constexpr GUID kOutputType = kSubPlain;
  static constexpr const char* kInputName = "Input";
  static constexpr const char* kOutputName = "Output";
};

template <class Kind>
struct TransformFixture : ChainFixture<typename Kind::Filter> {
  static constexpr bool kInPlace = std::is_same_v<Kind, InPlaceKind>;
};

struct KindNames {
  template <class Kind>
  static std::string GetName(int) {
    return std::is_same_v<Kind, InPlaceKind> ? "InPlace" : "TwoBuffer";
  }
};
using TransformKinds = testing::Types<TwoBufferKind, InPlaceKind>;
TYPED_TEST_SUITE(TransformFixture, TransformKinds, KindNames);

std::string PinName(IPin* pin) {
  PIN_INFO info;
  pin->QueryPinInfo(&info);
  info.pFilter->Release();
  std::string name;
  for (const WCHAR* c = info.achName; *c != 0; ++c) name += static_cast<char>(*c);
  return name;
}

std::string PinId(IPin* pin) {
  LPWSTR id = nullptr;
  pin->QueryId(&id);
  std::string text;
  for (const WCHAR* c = id; *c != 0; ++c) text += static_cast<char>(*c);
  CoTaskMemFree(id);
  return text;
}

TYPED_TEST(TransformFixture, PinsAreMadeOnFirstUseAndFoundOnlyByTheirIds) {
  auto* transform = this->transform;
  EXPECT_EQ(transform->PinCount(), 2);
  K_CPinBase* input = transform->PinAt(0);
  K_CPinBase* output = transform->PinAt(1);
  ASSERT_NE(input, nullptr);
  ASSERT_NE(output, nullptr);
  EXPECT_EQ(transform->PinAt(2), nullptr);
  EXPECT_EQ(transform->PinAt(0), input);
  EXPECT_EQ(PinName(input), TypeParam::kInputName);
  EXPECT_EQ(PinName(output), TypeParam::kOutputName);
  EXPECT_EQ(PinId(input), "In");
  EXPECT_EQ(PinId(output), "Out");

  struct Case {
    const char16_t* id;
    HRESULT result;
    K_CPinBase* pin;
  };
  const Case cases[] = {{u"In", S_OK, input},
                        {u"Out", S_OK, output},
                        {u"Input", VFW_E_NOT_FOUND, nullptr},
                        {u"XForm In", VFW_E_NOT_FOUND, nullptr},
                        {nullptr, VFW_E_NOT_FOUND, nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id != nullptr ? Narrow(c.id) : "null");
    IPin* found = reinterpret_cast<IPin*>(1);
    EXPECT_EQ(transform->FindPin(c.id, &found), c.result);
    EXPECT_EQ(found, c.pin != nullptr ? static_cast<IPin*>(c.pin) : nullptr);
    if (found != nullptr) found->Release();
  }
  EXPECT_EQ(transform->FindPin(u"In", nullptr), E_POINTER);
}

TYPED_TEST(TransformFixture, ConnectsThroughTheTransformTestAndOffersItsOwnType) {
  this->MakeCapture(TypeParam::kOutputType);
  // The output offers nothing and connects to nothing before the input is connected.
  IEnumMediaTypes* types = nullptr;
  ASSERT_EQ(this->Pin(u"Out")->EnumMediaTypes(&types), S_OK);
  AM_MEDIA_TYPE* type = nullptr;
  ULONG fetched = 0;
  EXPECT_NE(types->Next(1, &type, &fetched), S_OK);
  types->Release();
  MediaTypeObject wanted = MakeType(MEDIATYPE_Audio, TypeParam::kOutputType, FORMAT_WaveFormatEx);
  EXPECT_EQ(this->Pin(u"Out")->Connect(this->capture, &wanted), E_UNEXPECTED);

  this->out->Offer(MakeType(MEDIATYPE_Audio, kSubOther, GUID_NULL));
  EXPECT_EQ(this->out->Connect(this->Pin(u"In"), nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
  this->out->Offer(MakeType(MEDIATYPE_Audio, kSubPlain, GUID_NULL));
  ASSERT_EQ(this->out->Connect(this->Pin(u"In"), nullptr), S_OK);
  ASSERT_EQ(this->Pin(u"Out")->Connect(this->capture, nullptr), S_OK);
  AM_MEDIA_TYPE connected;
  ASSERT_EQ(this->capture->ConnectionMediaType(&connected), S_OK);
  EXPECT_EQ(connected.subtype, TypeParam::kOutputType);
  ReleaseMediaTypeContents(&connected);
  // With the output connected, the input takes only what transforms into the output's type.
  MediaTypeObject other = MakeType(MEDIATYPE_Audio, kSubOther, GUID_NULL);
  EXPECT_EQ(this->Pin(u"In")->QueryAccept(&other), S_FALSE);
  if constexpr (!TestFixture::kInPlace) {
    EXPECT_EQ(this->Pin(u"Out")->QueryAccept(&other), S_FALSE);
  }
}

TYPED_TEST(TransformFixture, EachSampleIsTransformedAndDelivered) {
  this->ConnectBoth(MakeType(MEDIATYPE_Audio, kSubPlain, GUID_NULL), TypeParam::kOutputType);
  this->PauseAll();
  CaptureInputPin* capture = this->capture;
  ASSERT_EQ(this->Send({1, 2, 3, 0x80}, 5000), S_OK);
  ASSERT_EQ(capture->samples.size(), 1u);
  EXPECT_EQ(capture->samples[0], (std::vector<BYTE>{0xFE, 0xFD, 0xFC, 0x7F}));
  EXPECT_EQ(capture->startTimes[0], 5000);
  EXPECT_FALSE(capture->discontinuities[0]);

  // Dropped samples tell the graph once, and the next delivered one says it is not continuous.
  ASSERT_EQ(this->Send({0, 9}), S_OK);
  ASSERT_EQ(this->Send({0, 8}), S_OK);
  ASSERT_EQ(this->Send({7}), S_OK);
  ASSERT_EQ(capture->samples.size(), 2u);
  EXPECT_EQ(capture->samples[1], std::vector<BYTE>{0xF8});
  EXPECT_TRUE(capture->discontinuities[1]);
  int qualityEvents = 0;
  for (const auto& event : this->events.Snapshot())
    qualityEvents += event.code == EC_QUALITY_CHANGE;
  EXPECT_EQ(qualityEvents, 1);
}

TYPED_TEST(TransformFixture, StreamingChecksAnswerInTheirOrder) {
  using Fixture = TestFixture;
  struct Case {
    const char* what;
    void (*arrange)(Fixture*);
    HRESULT result;
  };
  const Case cases[] = {
      {"output unconnected", [](Fixture* f) { f->capture->refuse = S_OK; }, VFW_E_NOT_CONNECTED},
      {"stopped",
       [](Fixture* f) {
         // Connections are made while the source stands still.
         f->source->Stop();
         f->Pin(u"Out")->Connect(f->capture, nullptr);
         f->source->Pause();
       },
       VFW_E_WRONG_STATE},
      {"flushing",
       [](Fixture* f) {
         f->PauseAll();
         f->out->PassBeginFlush();
       },
       S_FALSE},
      {"streaming", [](Fixture* f) { f->out->PassEndFlush(); }, S_OK},
      {"after a refused type change",
       [](Fixture* f) {
         IMediaSample* sample = nullptr;
         f->out->TakeDeliveryBuffer(&sample, nullptr, nullptr, 0);
         MediaTypeObject refused = MakeType(MEDIATYPE_Audio, kSubOther, GUID_NULL);
         sample->SetMediaType(&refused);
         EXPECT_EQ(f->out->DeliverSample(sample), VFW_E_INVALIDMEDIATYPE);
         sample->Release();
       },
       VFW_E_RUNTIME_ERROR},
  };
  this->out->Offer(MakeType(MEDIATYPE_Audio, kSubPlain, GUID_NULL));
  this->MakeCapture(TypeParam::kOutputType);
  ASSERT_EQ(this->out->Connect(this->Pin(u"In"), nullptr), S_OK);
  // The source streams; only the transform's side changes from case to case.
  ASSERT_EQ(this->source->Pause(), S_OK);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.arrange(this);
    const size_t before = this->capture->samples.size();
    EXPECT_EQ(this->Send({5}), c.result);
    EXPECT_EQ(this->capture->samples.size(), before + (c.result == S_OK ? 1 : 0));
  }
}

TYPED_TEST(TransformFixture, EndOfStreamAndFlushArePassedOn) {
  this->ConnectBoth(MakeType(MEDIATYPE_Audio, kSubPlain, GUID_NULL), TypeParam::kOutputType);
  auto* out = this->out;
  CaptureInputPin* capture = this->capture;
  // Stopped: the end of the stream is refused at the input.
  EXPECT_EQ(out->PassEndOfStream(), VFW_E_WRONG_STATE);
  this->PauseAll();
  EXPECT_EQ(out->PassBeginFlush(), S_OK);
  EXPECT_EQ(capture->flushesBegun, 1);
  EXPECT_EQ(this->Send({1}), S_FALSE);
  EXPECT_EQ(out->PassEndFlush(), S_OK);
  EXPECT_EQ(capture->flushesEnded, 1);
  EXPECT_EQ(out->PassNewSegment(10, 20, 1.0), S_OK);
  EXPECT_EQ(capture->segment, (std::pair<REFERENCE_TIME, REFERENCE_TIME>{10, 20}));
  EXPECT_EQ(out->PassEndOfStream(), S_OK);
  EXPECT_EQ(capture->endsOfStream, 1);
}

// Records the quality notifications that reach it.
class QualitySink final : public IQualityControl {
 public:
  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT Notify(IBaseFilter* from, Quality quality) override {
    sender = from;
    late = quality.Late;
    return S_OK;
  }
  HRESULT SetSink(IQualityControl*) override { return E_NOTIMPL; }
  IBaseFilter* sender = nullptr;
  REFERENCE_TIME late = 0;
};

TYPED_TEST(TransformFixture, QualityNotesTheTransformDoesNotTakeGoUpstream) {
  this->ConnectBoth(MakeType(MEDIATYPE_Audio, kSubPlain, GUID_NULL), TypeParam::kOutputType);
  IQualityControl* control = nullptr;
  ASSERT_EQ(
      this->Pin(u"Out")->QueryInterface(IID_IQualityControl, reinterpret_cast<void**>(&control)),
      S_OK);
  Quality quality{};
  quality.Late = 4321;
  // Without a sink the note goes to the pin feeding the input, which takes none.
  EXPECT_EQ(control->Notify(this->sink->AsBaseFilter(), quality), E_NOTIMPL);
  QualitySink recorder;
  control->SetSink(&recorder);
  EXPECT_EQ(control->Notify(this->sink->AsBaseFilter(), quality), S_OK);
  EXPECT_EQ(recorder.sender, this->transform->AsBaseFilter());
  EXPECT_EQ(recorder.late, 4321);
  control->Release();
}

TYPED_TEST(TransformFixture, AnUnconnectedInputEndsTheStreamOnceAtPause) {
  this->out->Offer(MakeType(MEDIATYPE_Audio, kSubPlain, GUID_NULL));
  this->MakeCapture(TypeParam::kOutputType);
  ASSERT_EQ(this->out->Connect(this->Pin(u"In"), nullptr), S_OK);
  ASSERT_EQ(this->Pin(u"Out")->Connect(this->capture, nullptr), S_OK);
  ASSERT_EQ(this->out->Disconnect(), S_OK);
  ASSERT_EQ(this->Pin(u"In")->Disconnect(), S_OK);
  ASSERT_EQ(this->transform->Pause(), S_OK);
  ASSERT_EQ(this->transform->Run(0), S_OK);
  ASSERT_EQ(this->transform->Pause(), S_OK);
  EXPECT_EQ(this->capture->endsOfStream, 1);
}

TYPED_TEST(TransformFixture, PositionsAreAnsweredUpstreamThroughTheSystemPassThrough) {
  this->ConnectBoth(MakeType(MEDIATYPE_Audio, kSubPlain, GUID_NULL), TypeParam::kOutputType);
  IPin* output = this->Pin(u"Out");
  IMediaSeeking* seeking = nullptr;
  ASSERT_EQ(output->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking)), S_OK);
  LONGLONG duration = 0;
  EXPECT_EQ(seeking->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, 12345678);
  LONGLONG current = 777;
  EXPECT_EQ(seeking->SetPositions(&current, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
  EXPECT_EQ(this->out->seeking.lastSet, 777);
  // Made once: a second query answers through the same object.
  IMediaSeeking* again = nullptr;
  ASSERT_EQ(output->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&again)), S_OK);
  EXPECT_EQ(again, seeking);
  again->Release();
  // The automation face of positions comes from the same pass-through.
  IMediaPosition* position = nullptr;
  ASSERT_EQ(output->QueryInterface(IID_IMediaPosition, reinterpret_cast<void**>(&position)), S_OK);
  position->Release();
  seeking->Release();
}

using InPlaceTransformFixture = ChainFixture<InvertInPlace>;

// Bytes in a sample the source keeps hold of, so that a test can look at them after delivery.
IMediaSample* FilledSample(SeekableOutputPin* out, std::vector<BYTE> bytes) {
  IMediaSample* sample = nullptr;
  if (FAILED(out->TakeDeliveryBuffer(&sample, nullptr, nullptr, 0))) return nullptr;
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  std::memcpy(data, bytes.data(), bytes.size());
  sample->SetActualDataLength(static_cast<LONG>(bytes.size()));
  REFERENCE_TIME start = 300, stop = 400;
  sample->SetTime(&start, &stop);
  return sample;
}

std::vector<BYTE> BytesOf(IMediaSample* sample) {
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  return std::vector<BYTE>(data, data + sample->GetActualDataLength());
}

TEST_F(InPlaceTransformFixture, OneAllocatorServesBothSidesAndSamplesPassWithoutACopy) {
  ConnectBoth(MakeType(MEDIATYPE_Audio, kSubPlain, GUID_NULL), kSubPlain);
  // Connecting the output reconnected the input, which now fills downstream's buffers.
  EXPECT_EQ(events.reconnects, 1);
  EXPECT_EQ(out->Allocator(), capture->Allocator());
  PauseAll();
  IMediaSample* sample = FilledSample(out, {1, 2});
  ASSERT_NE(sample, nullptr);
  ASSERT_EQ(out->DeliverSample(sample), S_OK);
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  ASSERT_EQ(capture->buffers.size(), 1u);
  EXPECT_EQ(capture->buffers[0], data);
  EXPECT_EQ(BytesOf(sample), (std::vector<BYTE>{0xFE, 0xFD}));
  sample->Release();
}

TEST_F(InPlaceTransformFixture, AReadOnlyAllocatorIsReplacedDownstreamByAWritableOneAsLarge) {
  ConnectBoth(MakeType(MEDIATYPE_Audio, kSubPlain, GUID_NULL), kSubPlain);
  IMemInputPin* memInput = nullptr;
  ASSERT_EQ(Pin(u"In")->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&memInput)),
            S_OK);
  IMemAllocator* readOnly = nullptr;
  ASSERT_EQ(CreateMemoryAllocatorInstance(nullptr, IID_IMemAllocator,
                                          reinterpret_cast<void**>(&readOnly)),
            S_OK);
  ALLOCATOR_PROPERTIES request{3, 512, 1, 0};
  ALLOCATOR_PROPERTIES actual{};
  ASSERT_EQ(readOnly->SetProperties(&request, &actual), S_OK);
  // This transform writes into its samples, so the read-only buffers must not reach it as such.
  EXPECT_EQ(memInput->NotifyAllocator(readOnly, TRUE), S_OK);
  IMemAllocator* downstream = capture->Allocator();
  ASSERT_NE(downstream, nullptr);
  EXPECT_NE(downstream, readOnly);
  ALLOCATOR_PROPERTIES granted{};
  ASSERT_EQ(downstream->GetProperties(&granted), S_OK);
  EXPECT_GE(granted.cBuffers, 3);
  EXPECT_GE(granted.cbBuffer, 512);
  readOnly->Release();
  memInput->Release();
}

TEST_F(InPlaceTransformFixture, TwoAllocatorsMeanEachSampleIsCopiedAndOnlyTheCurrentTypeGoesOut) {
  out->Offer(MakeType(MEDIATYPE_Audio, kSubPlain, GUID_NULL));
  out->insistOnOwnAllocator = true;
  MakeCapture(kSubPlain);
  capture->keepsOwnAllocator = true;
  ASSERT_EQ(out->Connect(Pin(u"In"), nullptr), S_OK);
  ASSERT_EQ(Pin(u"Out")->Connect(capture, nullptr), S_OK);
  ASSERT_NE(out->Allocator(), capture->Allocator());
  MediaTypeObject current = MakeType(MEDIATYPE_Audio, kSubPlain, GUID_NULL);
  MediaTypeObject other = MakeType(MEDIATYPE_Audio, kSubOther, GUID_NULL);
  EXPECT_EQ(Pin(u"Out")->QueryAccept(&current), S_OK);
  EXPECT_EQ(Pin(u"Out")->QueryAccept(&other), S_FALSE);
  PauseAll();

  IMediaSample* sample = FilledSample(out, {1, 2, 3});
  ASSERT_NE(sample, nullptr);
  sample->SetDiscontinuity(TRUE);
  sample->SetPreroll(TRUE);
  ASSERT_EQ(out->DeliverSample(sample), S_OK);
  // Downstream saw the transformed copy, with the times and flags; the source's bytes stand.
  ASSERT_EQ(capture->samples.size(), 1u);
  EXPECT_EQ(capture->samples[0], (std::vector<BYTE>{0xFE, 0xFD, 0xFC}));
  EXPECT_EQ(capture->startTimes[0], 300);
  EXPECT_TRUE(capture->discontinuities[0]);
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  EXPECT_NE(capture->buffers[0], data);
  EXPECT_EQ(BytesOf(sample), (std::vector<BYTE>{1, 2, 3}));
  sample->Release();
}

TEST(SeekingPassThru, AnswersPositionsOnlyAfterInitAndRefusesAggregatedInterfaces) {
  RegisterSeekingPassThruClass();
  ISeekingPassThru* passThru = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_SeekingPassThru, nullptr, CLSCTX_INPROC_SERVER,
                             IID_ISeekingPassThru, reinterpret_cast<void**>(&passThru)),
            S_OK);
  IMediaSeeking* seeking = nullptr;
  EXPECT_EQ(passThru->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking)),
            E_NOINTERFACE);
  EXPECT_EQ(passThru->Init(FALSE, nullptr), E_POINTER);
  EXPECT_EQ(passThru->Release(), 0u);
  EventRecorder outer;
  void* object = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_SeekingPassThru, static_cast<IFilterGraph*>(&outer),
                             CLSCTX_INPROC_SERVER, IID_ISeekingPassThru, &object),
            E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
}

using WaveFixture = ChainFixture<K_CWaveWriterFilter>;

std::vector<BYTE> StereoPcmFormat() {
  // Tag 1, 2 channels, 22,050 Hz, 88,200 bytes a second, blocks of 4, 16 bits, no extra bytes.
  return {0x01, 0x00, 0x02, 0x00, 0x22, 0x56, 0x00, 0x00, 0x88,
          0x58, 0x01, 0x00, 0x04, 0x00, 0x10, 0x00, 0x00, 0x00};
}

DWORD ReadLe32(const std::vector<BYTE>& bytes, size_t at) {
  return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | (DWORD{bytes[at + 3]} << 24);
}

std::vector<BYTE> Ramp(size_t length, BYTE first) {
  std::vector<BYTE> bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<BYTE>(first + i);
  return bytes;
}

TEST_F(WaveFixture, PcmStreamBecomesAByteExactRiffWaveFile) {
  ConnectBoth(MakeType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx, StereoPcmFormat()),
              MEDIASUBTYPE_WAVE);
  capture->fileSink = true;
  AM_MEDIA_TYPE type;
  ASSERT_EQ(capture->ConnectionMediaType(&type), S_OK);
  EXPECT_EQ(type.majortype, MEDIATYPE_Stream);
  ReleaseMediaTypeContents(&type);
  PauseAll();
  const std::vector<BYTE> first = Ramp(100, 0);
  const std::vector<BYTE> refused = Ramp(40, 0xA0);
  const std::vector<BYTE> second = Ramp(60, 0x40);
  ASSERT_EQ(Send(first), S_OK);
  // Downstream refuses one: it is not counted, and the next sample takes its place in the file.
  capture->refuse = E_FAIL;
  EXPECT_EQ(Send(refused), E_FAIL);
  EXPECT_EQ(transform->DataBytes(), 100);
  capture->refuse = S_OK;
  ASSERT_EQ(Send(second), S_OK);
  ASSERT_EQ(transform->Stop(), S_OK);

  const std::vector<BYTE>& file = capture->stream.bytes_;
  ASSERT_EQ(file.size(), 46u + 160u);
  EXPECT_EQ(std::memcmp(file.data(), "RIFF", 4), 0);
  EXPECT_EQ(ReadLe32(file, 4), 46u + 160u - 8u);
  EXPECT_EQ(std::memcmp(file.data() + 8, "WAVEfmt ", 8), 0);
  EXPECT_EQ(ReadLe32(file, 16), 18u);
  EXPECT_EQ(std::vector<BYTE>(file.begin() + 20, file.begin() + 38), StereoPcmFormat());
  EXPECT_EQ(std::memcmp(file.data() + 38, "data", 4), 0);
  EXPECT_EQ(ReadLe32(file, 42), 160u);
  std::vector<BYTE> data = first;
  data.insert(data.end(), second.begin(), second.end());
  EXPECT_EQ(std::vector<BYTE>(file.begin() + 46, file.end()), data);
}

TEST_F(WaveFixture, TakesOnlyWholeWaveFormatsAndGivesOnlyWaveStreams) {
  const MediaTypeObject refused[] = {
      MakeType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_VideoInfo, StereoPcmFormat()),
      MakeType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx, {1, 0, 2, 0}),
      MakeType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx)};
  for (const MediaTypeObject& type : refused) out->Offer(type);
  EXPECT_EQ(out->Connect(Pin(u"In"), nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
  out->Offer(MakeType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx, StereoPcmFormat()));
  ASSERT_EQ(out->Connect(Pin(u"In"), nullptr), S_OK);
  MakeCapture(kSubOther);
  EXPECT_EQ(Pin(u"Out")->Connect(capture, nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
  MediaTypeObject stream = MakeType(MEDIATYPE_Stream, MEDIASUBTYPE_WAVE, GUID_NULL);
  MediaTypeObject other = MakeType(MEDIATYPE_Stream, kSubOther, GUID_NULL);
  EXPECT_EQ(Pin(u"Out")->QueryAccept(&stream), S_OK);
  EXPECT_EQ(Pin(u"Out")->QueryAccept(&other), S_FALSE);
  IBaseFilter* made = nullptr;
  ASSERT_EQ(
      kWaveWriterFactoryEntry.create(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&made)),
      S_OK);
  CLSID clsid{};
  made->GetClassID(&clsid);
  EXPECT_EQ(clsid, CLSID_WaveWriter);
  EXPECT_EQ(made->Release(), 0u);
}

}  // namespace
