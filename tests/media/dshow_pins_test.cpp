// The base filter and pins: connection agreement, the state machine over connected pins, sample
// reception and allocator choice.
#include <gtest/gtest.h>

#include "dshow_test_filters.h"

using namespace dshow_test;

namespace {

constexpr GUID kSubA = {0xA, 0, 0, {0}};
constexpr GUID kSubB = {0xB, 0, 0, {0}};
constexpr GUID kSubC = {0xC, 0, 0, {0}};

struct PinFixture : testing::Test {
  void SetUp() override {
    source = TestFilter::Make(u"Source");
    sink = TestFilter::Make(u"Sink");
    out = source->AddOutput(u"Out", &log);
    in = sink->AddInput(u"In", &log);
  }
  void TearDown() override {
    source->Stop();
    sink->Stop();
    out->Disconnect();
    in->Disconnect();
    EXPECT_EQ(source->AsBaseFilter()->Release(), 0u);
    EXPECT_EQ(sink->AsBaseFilter()->Release(), 0u);
  }
  CallLog log;
  TestFilter* source = nullptr;
  TestFilter* sink = nullptr;
  TestOutputPin* out = nullptr;
  TestInputPin* in = nullptr;
};

TEST_F(PinFixture, ConnectRefusesWhatThePinProtocolForbids) {
  TestInputPin* secondIn = sink->AddInput(u"In2", &log);
  in->offered.push_back(MakeType(MEDIATYPE_Video, kSubB, FORMAT_VideoInfo));
  EXPECT_EQ(out->Connect(nullptr, nullptr), E_POINTER);
  EXPECT_EQ(static_cast<IPin*>(secondIn)->Connect(in, nullptr), VFW_E_INVALID_DIRECTION);
  EXPECT_EQ(out->Connect(in, nullptr), VFW_E_NO_ACCEPTABLE_TYPES);

  out->Offer(MakeType(MEDIATYPE_Video, kSubA, FORMAT_VideoInfo));
  in->accepted = kSubA;
  source->Pause();
  EXPECT_EQ(out->Connect(in, nullptr), VFW_E_NOT_STOPPED);
  source->Stop();
  ASSERT_EQ(out->Connect(in, nullptr), S_OK);
  EXPECT_EQ(out->Connect(secondIn, nullptr), VFW_E_ALREADY_CONNECTED);
  AM_MEDIA_TYPE type;
  ASSERT_EQ(in->ConnectionMediaType(&type), S_OK);
  EXPECT_EQ(type.subtype, kSubA);
  ReleaseMediaTypeContents(&type);
  IPin* peer = nullptr;
  ASSERT_EQ(in->ConnectedTo(&peer), S_OK);
  EXPECT_EQ(peer, static_cast<IPin*>(out));
  peer->Release();
  EXPECT_EQ(secondIn->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(peer, nullptr);
  EXPECT_EQ(secondIn->ConnectionMediaType(&type), VFW_E_NOT_CONNECTED);
  EXPECT_NE(out->Allocator(), nullptr);
  EXPECT_EQ(out->Allocator(), in->Allocator());
}

TEST_F(PinFixture, APartialTypeTriesTheReceiversTypesFirstUnlessTold) {
  out->Offer(MakeType(MEDIATYPE_Video, kSubA, FORMAT_VideoInfo));
  in->offered.push_back(MakeType(MEDIATYPE_Video, kSubB, FORMAT_VideoInfo));
  out->acceptAny = true;
  in->accepted = kSubC;  // refuses both, so every attempt shows in the log
  const auto partial = MakeType(GUID_NULL, GUID_NULL, GUID_NULL);
  struct Case {
    bool ownFirst;
    CallLog expected;
  };
  const Case cases[] = {
      {false, {"accepts? 11", "accepts? 10"}},
      {true, {"accepts? 10", "accepts? 11"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ownFirst);
    log.clear();
    out->SetTryOwnTypesFirst(c.ownFirst);
    EXPECT_EQ(out->Connect(in, &partial), VFW_E_NO_ACCEPTABLE_TYPES);
    EXPECT_EQ(log, c.expected);
  }
  // A complete type is tried alone.
  log.clear();
  const auto complete = MakeType(MEDIATYPE_Video, kSubC, FORMAT_VideoInfo);
  out->acceptAny = true;
  EXPECT_EQ(out->Connect(in, &complete), S_OK);
  EXPECT_EQ(log, CallLog{"accepts? 12"});
}

TEST_F(PinFixture, RunFromStoppedTellsConnectedPinsActiveThenRun) {
  out->Offer(MakeType(MEDIATYPE_Video, kSubA, FORMAT_VideoInfo));
  in->accepted = kSubA;
  source->AddOutput(u"Unconnected", &log);
  ASSERT_EQ(out->Connect(in, nullptr), S_OK);
  log.clear();
  ASSERT_EQ(source->Run(5), S_OK);
  EXPECT_EQ(log, (CallLog{"Out active", "Out run"}));
  FILTER_STATE state;
  ASSERT_EQ(source->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Running);
  log.clear();
  ASSERT_EQ(source->Stop(), S_OK);
  EXPECT_EQ(log, CallLog{"Out inactive"});
  ASSERT_EQ(source->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);
  REFERENCE_TIME now;
  EXPECT_EQ(source->GetStreamTime(&now), VFW_E_NO_CLOCK);
}

TEST_F(PinFixture, ReceiveFollowsTheStreamingStateAndRefusesAForeignType) {
  out->Offer(MakeType(MEDIATYPE_Video, kSubA, FORMAT_VideoInfo));
  in->accepted = kSubA;
  EventRecorder graph;
  sink->JoinFilterGraph(&graph, u"Sink");
  ASSERT_EQ(out->Connect(in, nullptr), S_OK);
  ASSERT_EQ(source->Pause(), S_OK);
  IMediaSample* sample = nullptr;
  ASSERT_EQ(out->TakeDeliveryBuffer(&sample, nullptr, nullptr, 0), S_OK);
  EXPECT_EQ(out->DeliverSample(sample), VFW_E_WRONG_STATE);
  ASSERT_EQ(sink->Pause(), S_OK);
  EXPECT_EQ(out->DeliverSample(sample), S_OK);
  EXPECT_EQ(in->received, 1);
  in->BeginFlush();
  EXPECT_EQ(out->DeliverSample(sample), S_FALSE);
  in->EndFlush();

  auto foreign = MakeType(MEDIATYPE_Video, kSubB, FORMAT_VideoInfo);
  sample->SetMediaType(&foreign);
  EXPECT_EQ(out->DeliverSample(sample), VFW_E_INVALIDMEDIATYPE);
  ASSERT_EQ(graph.events.size(), 1u);
  EXPECT_EQ(graph.events[0].code, EC_ERRORABORT);
  EXPECT_EQ(graph.events[0].first, VFW_E_TYPE_NOT_ACCEPTED);
  sample->SetMediaType(nullptr);
  EXPECT_EQ(out->DeliverSample(sample), VFW_E_RUNTIME_ERROR);
  sample->Release();
  ReleaseMediaTypeContents(&foreign);

  EXPECT_EQ(sink->PostFilterEvent(EC_COMPLETE, S_OK, 0), S_OK);
  EXPECT_EQ(graph.events[1].second,
            reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(sink->AsBaseFilter())));
  sink->Stop();
  source->Stop();
  sink->JoinFilterGraph(nullptr, nullptr);
  EXPECT_EQ(sink->PostFilterEvent(EC_COMPLETE, S_OK, 0), E_NOTIMPL);
}

// An input pin whose own allocator cannot be sized: the output pin falls back to its own.
TEST_F(PinFixture, ChooseAllocatorFallsBackToTheOutputPinsAllocator) {
  out->Offer(MakeType(MEDIATYPE_Video, kSubA, FORMAT_VideoInfo));
  in->accepted = kSubA;
  IMemAllocator* inputs = nullptr;
  ASSERT_EQ(in->GetAllocator(&inputs), S_OK);
  ALLOCATOR_PROPERTIES committed{1, 8, 1, 0}, actual;
  ASSERT_EQ(inputs->SetProperties(&committed, &actual), S_OK);
  ASSERT_EQ(inputs->Commit(), S_OK);  // a committed allocator cannot be resized
  ASSERT_EQ(out->Connect(in, nullptr), S_OK);
  EXPECT_NE(out->Allocator(), inputs);
  EXPECT_EQ(in->Allocator(), out->Allocator());
  inputs->Decommit();
  inputs->Release();

  out->Disconnect();
  in->Disconnect();
  out->refuseSizing = true;
  EXPECT_EQ(out->Connect(in, nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
  EXPECT_FALSE(out->IsConnected());
  EXPECT_FALSE(in->IsConnected());
}

TEST_F(PinFixture, FilterAndPinInformation) {
  IPin* pin = nullptr;
  EXPECT_EQ(source->FindPin(u"Nope", &pin), VFW_E_NOT_FOUND);
  EXPECT_EQ(pin, nullptr);
  ASSERT_EQ(source->FindPin(u"Out", &pin), S_OK);
  EXPECT_EQ(pin, static_cast<IPin*>(out));
  PIN_INFO info;
  ASSERT_EQ(pin->QueryPinInfo(&info), S_OK);
  EXPECT_EQ(info.dir, PINDIR_OUTPUT);
  EXPECT_EQ(info.pFilter, source->AsBaseFilter());
  info.pFilter->Release();
  LPWSTR id = nullptr;
  ASSERT_EQ(pin->QueryId(&id), S_OK);
  EXPECT_EQ(CompareWideStrings(id, u"Out"), 0);
  CoTaskMemFree(id);
  pin->Release();

  std::u16string longName(300, u'x');
  EventRecorder graph;
  source->JoinFilterGraph(&graph, longName.c_str());
  FILTER_INFO filterInfo;
  ASSERT_EQ(source->QueryFilterInfo(&filterInfo), S_OK);
  EXPECT_EQ(WideStringLength(filterInfo.achName), 127u);
  EXPECT_EQ(filterInfo.pGraph, static_cast<IFilterGraph*>(&graph));
  EXPECT_EQ(source->Register(), S_FALSE);
  IAMovieSetup* setup = nullptr;
  ASSERT_EQ(
      source->AsBaseFilter()->QueryInterface(IID_IAMovieSetup, reinterpret_cast<void**>(&setup)),
      S_OK);
  setup->Release();
  source->JoinFilterGraph(nullptr, nullptr);
}

}  // namespace
