// The position pass-through's media position half: every IMediaPosition call reaches the filter
// upstream of the input pin, a zero rate is refused on the spot, and automation clients get the
// type library's failure when it is missing.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "dshow_test_filters.h"
#include "media/dshow_position.h"
#include "media/movie_frame_renderer.h"

using namespace dshow_test;

namespace {

constexpr GUID kSub = {0xA, 0, 0, {0}};

// An upstream media position that records each call with its argument and answers S_FALSE, so a
// forwarded result is told apart from one the pass-through made up.
class RecordingPosition final : public IMediaPosition {
 public:
  HRESULT QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT get_Duration(REFTIME* t) override { return Out("get_Duration", t, 12.5); }
  HRESULT put_CurrentPosition(REFTIME t) override { return In("put_CurrentPosition", t); }
  HRESULT get_CurrentPosition(REFTIME* t) override { return Out("get_CurrentPosition", t, 3.25); }
  HRESULT get_StopTime(REFTIME* t) override { return Out("get_StopTime", t, 10.0); }
  HRESULT put_StopTime(REFTIME t) override { return In("put_StopTime", t); }
  HRESULT get_PrerollTime(REFTIME* t) override { return Out("get_PrerollTime", t, 0.5); }
  HRESULT put_PrerollTime(REFTIME t) override { return In("put_PrerollTime", t); }
  HRESULT put_Rate(double r) override { return In("put_Rate", r); }
  HRESULT get_Rate(double* r) override { return Out("get_Rate", r, 2.0); }
  HRESULT CanSeekForward(LONG* c) override { return Out("CanSeekForward", c, LONG{-1}); }
  HRESULT CanSeekBackward(LONG* c) override { return Out("CanSeekBackward", c, LONG{0}); }

  std::string calls;

 private:
  HRESULT In(const char* name, double value) {
    calls += std::string(name) + "(" + std::to_string(value) + ") ";
    return S_FALSE;
  }
  template <class T>
  HRESULT Out(const char* name, T* out, T value) {
    calls += std::string(name) + " ";
    *out = value;
    return S_FALSE;
  }
};

class PositionOutputPin : public TestOutputPin {
 public:
  using TestOutputPin::TestOutputPin;
  HRESULT InnerQueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IMediaPosition && offersPosition) {
      *object = static_cast<IMediaPosition*>(&position);
      return S_OK;
    }
    return TestOutputPin::InnerQueryInterface(riid, object);
  }
  RecordingPosition position;
  bool offersPosition = true;
};

struct PositionFixture : testing::Test {
  void SetUp() override {
    source = TestFilter::Make(u"Source");
    sink = TestFilter::Make(u"Sink");
    out = new PositionOutputPin(source, source->Lock(), u"Out", &log);
    source->AddPin(out);
    out->Offer(MakeType(MEDIATYPE_Video, kSub, FORMAT_VideoInfo));
    in = sink->AddInput(u"In", &log);
    in->accepted = kSub;
    HRESULT made = S_OK;
    passThru = new K_CPosPassThru(u"Test K_CPosPassThru", nullptr, &made, in);
    passThru->InnerUnknown()->AddRef();
    EXPECT_EQ(made, S_OK);
    ASSERT_EQ(passThru->InnerUnknown()->QueryInterface(IID_IMediaPosition,
                                                       reinterpret_cast<void**>(&position)),
              S_OK);
  }
  void TearDown() override {
    position->Release();
    EXPECT_EQ(passThru->InnerUnknown()->Release(), 0u);
    out->Disconnect();
    in->Disconnect();
    EXPECT_EQ(source->AsBaseFilter()->Release(), 0u);
    EXPECT_EQ(sink->AsBaseFilter()->Release(), 0u);
  }
  CallLog log;
  TestFilter* source = nullptr;
  TestFilter* sink = nullptr;
  PositionOutputPin* out = nullptr;
  TestInputPin* in = nullptr;
  K_CPosPassThru* passThru = nullptr;
  IMediaPosition* position = nullptr;
};

// Each forwarded call, the record the upstream object keeps of it, and what it hands back.
struct ForwardCase {
  const char* call;
  std::function<HRESULT(IMediaPosition*, double*, LONG*)> make;
  const char* recorded;
  double value;
  LONG flag;
};

const ForwardCase kForwardCases[] = {
    {"get_Duration", [](IMediaPosition* p, double* v, LONG*) { return p->get_Duration(v); },
     "get_Duration ", 12.5, 7},
    {"put_CurrentPosition",
     [](IMediaPosition* p, double*, LONG*) { return p->put_CurrentPosition(1.5); },
     "put_CurrentPosition(1.500000) ", 0, 7},
    {"get_CurrentPosition",
     [](IMediaPosition* p, double* v, LONG*) { return p->get_CurrentPosition(v); },
     "get_CurrentPosition ", 3.25, 7},
    {"get_StopTime", [](IMediaPosition* p, double* v, LONG*) { return p->get_StopTime(v); },
     "get_StopTime ", 10.0, 7},
    {"put_StopTime", [](IMediaPosition* p, double*, LONG*) { return p->put_StopTime(8.0); },
     "put_StopTime(8.000000) ", 0, 7},
    {"get_PrerollTime", [](IMediaPosition* p, double* v, LONG*) { return p->get_PrerollTime(v); },
     "get_PrerollTime ", 0.5, 7},
    {"put_PrerollTime", [](IMediaPosition* p, double*, LONG*) { return p->put_PrerollTime(0.25); },
     "put_PrerollTime(0.250000) ", 0, 7},
    {"put_Rate", [](IMediaPosition* p, double*, LONG*) { return p->put_Rate(-1.0); },
     "put_Rate(-1.000000) ", 0, 7},
    {"get_Rate", [](IMediaPosition* p, double* v, LONG*) { return p->get_Rate(v); }, "get_Rate ",
     2.0, 7},
    {"CanSeekForward", [](IMediaPosition* p, double*, LONG* f) { return p->CanSeekForward(f); },
     "CanSeekForward ", 0, -1},
    {"CanSeekBackward", [](IMediaPosition* p, double*, LONG* f) { return p->CanSeekBackward(f); },
     "CanSeekBackward ", 0, 0},
};

TEST_F(PositionFixture, EveryMediaPositionCallIsAnsweredUpstream) {
  ASSERT_EQ(out->Connect(in, nullptr), S_OK);
  for (const ForwardCase& c : kForwardCases) {
    SCOPED_TRACE(c.call);
    out->position.calls.clear();
    double value = 0;
    LONG flag = 7;
    EXPECT_EQ(c.make(position, &value, &flag), S_FALSE);
    EXPECT_EQ(out->position.calls, c.recorded);
    EXPECT_EQ(value, c.value);
    EXPECT_EQ(flag, c.flag);
  }
}

TEST_F(PositionFixture, WithNoUpstreamMediaPositionEveryCallIsNotImplemented) {
  for (const bool connected : {false, true}) {
    if (connected) {
      out->offersPosition = false;  // connected, but upstream has no media position
      ASSERT_EQ(out->Connect(in, nullptr), S_OK);
    }
    for (const ForwardCase& c : kForwardCases) {
      SCOPED_TRACE(std::string(c.call) + (connected ? " connected" : " unconnected"));
      double value = 0;
      LONG flag = 7;
      EXPECT_EQ(c.make(position, &value, &flag), E_NOTIMPL);
    }
  }
  EXPECT_EQ(out->position.calls, "");
}

TEST_F(PositionFixture, AZeroRateIsRefusedWithoutAskingUpstream) {
  ASSERT_EQ(out->Connect(in, nullptr), S_OK);
  EXPECT_EQ(position->put_Rate(0.0), E_INVALIDARG);
  EXPECT_EQ(out->position.calls, "");
}

TEST_F(PositionFixture, AutomationReportsTheMissingTypeLibrary) {
  IDispatch* dispatch = nullptr;
  ASSERT_EQ(
      passThru->InnerUnknown()->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)),
      S_OK);
  EXPECT_EQ(dispatch, static_cast<IDispatch*>(position));
  UINT count = 0;
  EXPECT_EQ(dispatch->GetTypeInfoCount(nullptr), E_POINTER);
  EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);

  ITypeInfo* info = reinterpret_cast<ITypeInfo*>(&count);
  EXPECT_EQ(dispatch->GetTypeInfo(0, 0, nullptr), E_POINTER);
  EXPECT_EQ(dispatch->GetTypeInfo(1, 0, &info), TYPE_E_ELEMENTNOTFOUND);
  EXPECT_EQ(info, nullptr);
  // Neither the registered library nor "control.tlb" exists here: the file's failure comes back.
  info = reinterpret_cast<ITypeInfo*>(&count);
  EXPECT_EQ(dispatch->GetTypeInfo(0, 0x0409, &info), TYPE_E_CANTLOADLIBRARY);
  EXPECT_EQ(info, nullptr);

  OLECHAR name[] = u"Duration";
  LPOLESTR names[] = {name};
  DISPID id = 0;
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id), TYPE_E_CANTLOADLIBRARY);
  EXPECT_EQ(dispatch->Invoke(1, IID_IMediaPosition, 0, 1, nullptr, nullptr, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
  EXPECT_EQ(dispatch->Invoke(1, IID_NULL, 0, 1, nullptr, nullptr, nullptr, nullptr),
            TYPE_E_CANTLOADLIBRARY);
  dispatch->Release();
}

// A type library the test serves in place of the automation runtime's, to show that names and
// calls go through IMediaPosition's type information and that it is loaded once.
class FakeTypeInfo final : public ITypeInfo {
 public:
  HRESULT QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++references; }
  ULONG Release() override { return --references; }
  HRESULT GetIDsOfNames(LPOLESTR*, UINT count, MEMBERID* ids) override {
    for (UINT i = 0; i < count; ++i) ids[i] = 0x60020000 + static_cast<MEMBERID>(i);
    return S_OK;
  }
  HRESULT Invoke(void* instance, MEMBERID id, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                 UINT*) override {
    invokedOn = instance;
    invokedId = id;
    return S_FALSE;
  }
  int references = 0;
  void* invokedOn = nullptr;
  MEMBERID invokedId = 0;
};

struct FakeLibrary final : ITypeLib {
  HRESULT QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) override {
    if (!(guid == IID_IMediaPosition)) return TYPE_E_ELEMENTNOTFOUND;
    info_.AddRef();
    *info = &info_;
    return S_OK;
  }
  FakeTypeInfo info_;
};

FakeLibrary fakeLibrary;
std::string libraryCalls;

HRESULT FakeLoadRegTypeLib(REFGUID guid, WORD major, WORD minor, LCID, ITypeLib** library) {
  libraryCalls += std::string("registered ") +
                  (guid == LIBID_QuartzTypeLib ? "quartz " : "other ") + std::to_string(major) +
                  "." + std::to_string(minor) + "; ";
  *library = nullptr;
  return TYPE_E_LIBNOTREGISTERED;
}
HRESULT FakeLoadTypeLib(LPCOLESTR file, ITypeLib** library) {
  libraryCalls += "file ";
  for (; *file != 0; ++file) libraryCalls += static_cast<char>(*file);
  libraryCalls += "; ";
  *library = &fakeLibrary;
  return S_OK;
}

TEST_F(PositionFixture, NamesAndCallsGoThroughTheTypeInformationLoadedOnce) {
  const PlatformModuleEntry entries[] = {{"LoadRegTypeLib", AsFarProc(FakeLoadRegTypeLib)},
                                         {"LoadTypeLib", AsFarProc(FakeLoadTypeLib)}};
  // The layer's own modules are listed on the first load; ours replaces its entries after that.
  ASSERT_TRUE(FreeLibrary(LoadLibraryA("oleaut32.dll")));
  ASSERT_EQ(RegisterPlatformModule("oleaut32.dll", entries), 0);
  libraryCalls.clear();

  OLECHAR first[] = u"Duration";
  OLECHAR second[] = u"Rate";
  LPOLESTR names[] = {first, second};
  DISPID ids[2] = {};
  EXPECT_EQ(position->GetIDsOfNames(IID_NULL, names, 2, 0, ids), S_OK);
  EXPECT_EQ(ids[0], 0x60020000);
  EXPECT_EQ(ids[1], 0x60020001);
  EXPECT_EQ(position->Invoke(ids[1], IID_NULL, 0, 1, nullptr, nullptr, nullptr, nullptr), S_FALSE);
  EXPECT_EQ(fakeLibrary.info_.invokedOn, static_cast<void*>(position));
  EXPECT_EQ(fakeLibrary.info_.invokedId, 0x60020001);
  ITypeInfo* info = nullptr;
  ASSERT_EQ(position->GetTypeInfo(0, 0, &info), S_OK);
  EXPECT_EQ(info, &fakeLibrary.info_);
  info->Release();
  EXPECT_EQ(libraryCalls, "registered quartz 1.0; file control.tlb; ");

  // Without the entry point, the runtime's own error comes back as a result.
  ASSERT_EQ(RegisterPlatformModule("oleaut32.dll", {}), 0);
  HRESULT made = S_OK;
  auto* fresh = new K_CPosPassThru(u"Fresh", nullptr, &made, in);
  fresh->InnerUnknown()->AddRef();
  info = nullptr;
  EXPECT_EQ(fresh->GetTypeInfo(0, 0, &info), static_cast<HRESULT>(0x80070000u | 127));
  fresh->InnerUnknown()->Release();

  ASSERT_EQ(RegisterPlatformModule("oleaut32.dll", OleAut32ModuleEntries()), 0);
  EXPECT_EQ(fakeLibrary.info_.references, 1);  // the cache's, until the pass-through goes
}

TEST(RendererPosition, ARendererAnswersMediaPositionBesideSeeking) {
  MovieFrameRenderer* renderer = CreateMovieRenderer(nullptr, nullptr);
  renderer->AsBaseFilter()->AddRef();
  IMediaPosition* position = nullptr;
  ASSERT_EQ(renderer->AsBaseFilter()->QueryInterface(IID_IMediaPosition,
                                                     reinterpret_cast<void**>(&position)),
            S_OK);
  IMediaSeeking* seeking = nullptr;
  ASSERT_EQ(position->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking)), S_OK);
  REFTIME length = 0;
  EXPECT_EQ(position->get_Duration(&length), E_NOTIMPL);  // its pin is not connected
  EXPECT_EQ(position->put_Rate(0), E_INVALIDARG);
  seeking->Release();
  position->Release();
  EXPECT_EQ(renderer->AsBaseFilter()->Release(), 0u);
}

}  // namespace
