// The filter graph's event side: the application's wait ends on any event that ends the graph,
// and completion waits for every renderer.
#include <gtest/gtest.h>

#include "platform/dshow/dshow.h"

namespace {

struct Graph {
  Graph() {
    EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               reinterpret_cast<void**>(&builder)),
              S_OK);
    builder->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink));
    builder->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&event));
  }
  ~Graph() {
    event->Release();
    sink->Release();
    EXPECT_EQ(builder->Release(), 0u);
  }
  IGraphBuilder* builder = nullptr;
  IMediaEventSink* sink = nullptr;
  IMediaEvent* event = nullptr;
};

TEST(FilterGraphEvents, TheCompletionWaitEndsOnAnyTerminalEvent) {
  struct Case {
    LONG sent;
    HRESULT result;
    LONG code;
  };
  const Case cases[] = {
      {EC_COMPLETE, S_OK, EC_COMPLETE},
      {EC_ERRORABORT, S_OK, EC_ERRORABORT},
      {EC_USERABORT, S_OK, EC_USERABORT},
      {0, E_ABORT, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sent);
    Graph graph;
    if (c.sent != 0) graph.sink->Notify(c.sent, S_OK, 0);
    LONG code = -1;
    EXPECT_EQ(graph.event->WaitForCompletion(0, &code), c.result);
    EXPECT_EQ(code, c.code);
  }
}

TEST(FilterGraphEvents, EmptyGraphsRenderNothingAndAnswerTheInterfacesAMovieAsksFor) {
  Graph graph;
  for (const IID* iid : {&IID_IBasicAudio, &IID_IMediaControl, &IID_IMediaSeeking,
                         &IID_IMediaFilter, &IID_IFilterGraph}) {
    IUnknown* answer = nullptr;
    EXPECT_EQ(graph.builder->QueryInterface(*iid, reinterpret_cast<void**>(&answer)), S_OK);
    answer->Release();
  }
  EXPECT_EQ(graph.builder->RenderFile(u"Z:\\no\\such\\file.avi", nullptr),
            VFW_E_UNSUPPORTED_STREAM);
  LONGLONG duration = 0;
  IMediaSeeking* seeking = nullptr;
  graph.builder->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking));
  EXPECT_EQ(seeking->GetDuration(&duration), E_NOTIMPL);
  seeking->Release();
}

}  // namespace
