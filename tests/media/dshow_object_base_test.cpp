// The framework's object base: media type rules, copies that own their format blocks, the node
// list, the enumerators and aggregation.
#include <gtest/gtest.h>

#include "dshow_test_filters.h"

using namespace dshow_test;

namespace {

constexpr GUID kSubA = {1, 0, 0, {0}};
constexpr GUID kSubB = {2, 0, 0, {0}};

// An IUnknown that counts its references, to see that media type copies hold the format object.
struct CountedUnknown final : IUnknown {
  LONG count = 1;
  HRESULT QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++count; }
  ULONG Release() override { return --count; }
};

TEST(DshowMediaType, EqualityAndPartialMatchFollowTheTypeRules) {
  auto video = MakeType(MEDIATYPE_Video, kSubA, FORMAT_VideoInfo, {1, 2, 3});
  auto otherSize = MakeType(MEDIATYPE_Video, kSubA, FORMAT_VideoInfo, {1, 2, 3});
  otherSize.lSampleSize = 999;
  otherSize.bFixedSizeSamples = FALSE;
  auto otherBlock = MakeType(MEDIATYPE_Video, kSubA, FORMAT_VideoInfo, {1, 2, 4});
  auto otherSub = MakeType(MEDIATYPE_Video, kSubB, FORMAT_VideoInfo, {1, 2, 3});
  auto anySub = MakeType(MEDIATYPE_Video, GUID_NULL, FORMAT_VideoInfo, {1, 2, 3});
  auto anyFormat = MakeType(MEDIATYPE_Video, kSubA, GUID_NULL);
  auto audio = MakeType(MEDIATYPE_Audio, GUID_NULL, GUID_NULL);
  struct Case {
    const char* name;
    const MediaTypeObject* type;
    const MediaTypeObject* other;
    bool equal;
    bool matches;  // type matches other taken as a partial type
  };
  const Case cases[] = {
      {"only the sample size differs", &video, &otherSize, true, true},
      {"format blocks differ", &video, &otherBlock, false, false},
      {"subtypes differ", &video, &otherSub, false, false},
      {"null subtype matches any subtype", &otherSub, &anySub, false, true},
      {"null format type matches any format", &video, &anyFormat, false, true},
      {"major types differ", &video, &audio, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(MediaTypesEqual(*c.type, *c.other), c.equal);
    EXPECT_EQ(MatchesPartial(*c.type, *c.other), c.matches);
  }
  EXPECT_FALSE(IsPartiallySpecified(video));
  EXPECT_TRUE(IsPartiallySpecified(anyFormat));
  EXPECT_TRUE(IsPartiallySpecified(audio));
  for (auto* t : {&video, &otherSize, &otherBlock, &otherSub, &anySub, &anyFormat, &audio})
    ReleaseMediaTypeContents(t);
}

TEST(DshowMediaType, CopiesOwnTheirFormatBlockAndHoldTheFormatObject) {
  CountedUnknown format;
  auto source = MakeType(MEDIATYPE_Video, kSubA, FORMAT_VideoInfo, {9, 8, 7});
  source.pUnk = &format;
  format.AddRef();

  MediaTypeObject* copy = CreateMediaTypeCopy(&source);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy->pbFormat, source.pbFormat);
  EXPECT_TRUE(MediaTypesEqual(*copy, source));
  EXPECT_EQ(format.count, 3);

  MediaTypeObject assigned;
  ClearMediaType(&assigned);
  EXPECT_EQ(assigned.bFixedSizeSamples, TRUE);
  EXPECT_EQ(assigned.lSampleSize, 1u);
  ASSERT_EQ(AssignMediaType(&assigned, copy), S_OK);
  EXPECT_EQ(AssignMediaType(&assigned, &assigned), S_OK);
  EXPECT_EQ(format.count, 4);

  DeleteMediaType(copy);
  DeleteMediaType(nullptr);
  ReleaseMediaTypeContents(&assigned);
  ReleaseMediaTypeContents(&source);
  EXPECT_EQ(format.count, 1);
  EXPECT_EQ(source.pbFormat, nullptr);
  EXPECT_EQ(source.cbFormat, 0u);
}

TEST(DshowNodeList, KeepsAtMostTenSpareNodes) {
  K_CNodeList list;
  int objects[12];
  std::vector<K_CNodeList::Node*> nodes;
  for (int& object : objects) nodes.push_back(list.AddTail(&object));
  EXPECT_EQ(list.Count(), 12);
  EXPECT_EQ(list.Find(&objects[5]), nodes[5]);
  EXPECT_EQ(list.Remove(nodes[5]), &objects[5]);
  EXPECT_EQ(list.Find(&objects[5]), nullptr);
  EXPECT_EQ(nodes[4]->next, nodes[6]);
  list.RemoveAll();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.SpareCount(), 10);
  EXPECT_EQ(list.First(), nullptr);
}

TEST(DshowPinEnumerator, ReturnsOnlyTheNewPinAfterAPinIsAdded) {
  CallLog log;
  TestFilter* filter = TestFilter::Make();
  filter->AddOutput(u"A", &log);
  filter->AddOutput(u"B", &log);
  IEnumPins* pins = nullptr;
  ASSERT_EQ(filter->EnumPins(&pins), S_OK);
  IPin* got[3] = {};
  ULONG fetched = 0;
  ASSERT_EQ(pins->Next(2, got, &fetched), S_OK);
  EXPECT_EQ(fetched, 2u);
  got[0]->Release();
  got[1]->Release();

  K_CPinBase* third = filter->AddInput(u"C", &log);
  EXPECT_EQ(pins->Skip(1), VFW_E_ENUM_OUT_OF_SYNC);
  IEnumPins* clone = nullptr;
  EXPECT_EQ(pins->Clone(&clone), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(pins->Next(3, got, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  EXPECT_EQ(got[0], static_cast<IPin*>(third));
  got[0]->Release();

  EXPECT_EQ(pins->Next(2, got, nullptr), E_INVALIDARG);
  EXPECT_EQ(pins->Next(1, nullptr, nullptr), E_POINTER);
  ASSERT_EQ(pins->Reset(), S_OK);
  ASSERT_EQ(pins->Clone(&clone), S_OK);
  EXPECT_EQ(clone->Next(3, got, &fetched), S_OK);
  for (ULONG i = 0; i < fetched; ++i) got[i]->Release();
  clone->Release();
  pins->Release();
  filter->AsBaseFilter()->Release();
}

TEST(DshowMediaTypeEnumerator, NextAdvancesAndChecksItsArguments) {
  CallLog log;
  TestFilter* filter = TestFilter::Make();
  TestOutputPin* pin = filter->AddOutput(u"Out", &log);
  pin->Offer(MakeType(MEDIATYPE_Video, kSubA, FORMAT_VideoInfo, {1}));
  pin->Offer(MakeType(MEDIATYPE_Video, kSubB, FORMAT_VideoInfo, {2}));
  IEnumMediaTypes* types = nullptr;
  ASSERT_EQ(pin->EnumMediaTypes(&types), S_OK);
  AM_MEDIA_TYPE* got[3] = {};
  EXPECT_EQ(types->Next(2, got, nullptr), E_INVALIDARG);
  ULONG fetched = 0;
  ASSERT_EQ(types->Next(3, got, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(got[1]->subtype, kSubB);
  EXPECT_EQ(got[1]->pbFormat[0], 2);
  DeleteMediaType(got[0]);
  DeleteMediaType(got[1]);
  EXPECT_EQ(types->Skip(0), S_OK);
  ASSERT_EQ(types->Reset(), S_OK);
  EXPECT_EQ(types->Skip(2), S_OK);
  EXPECT_EQ(types->Skip(1), S_FALSE);

  pin->Offer(MakeType(MEDIATYPE_Audio, kSubA, FORMAT_WaveFormatEx));
  EXPECT_EQ(types->Next(1, got, &fetched), VFW_E_ENUM_OUT_OF_SYNC);
  types->Release();
  filter->AsBaseFilter()->Release();
}

// An outer object that aggregates a memory allocator: the allocator's interfaces answer for it.
struct Outer final : IUnknown {
  LONG count = 1;
  IUnknown* inner = nullptr;
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown) {
      *object = this;
      AddRef();
      return S_OK;
    }
    return inner->QueryInterface(riid, object);
  }
  ULONG AddRef() override { return ++count; }
  ULONG Release() override { return --count; }
};

TEST(DshowComBase, AggregatedInterfacesForwardToTheOuterObject) {
  const LONG live = LiveFrameworkObjectCount();
  Outer outer;
  ASSERT_EQ(
      CreateMemoryAllocatorInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)),
      S_OK);
  EXPECT_EQ(LiveFrameworkObjectCount(), live + 1);
  IMemAllocator* allocator = nullptr;
  ASSERT_EQ(outer.QueryInterface(IID_IMemAllocator, reinterpret_cast<void**>(&allocator)), S_OK);
  EXPECT_EQ(outer.count, 2);
  IUnknown* identity = nullptr;
  ASSERT_EQ(allocator->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity, &outer);
  identity->Release();
  allocator->Release();
  EXPECT_EQ(outer.count, 1);
  void* refused = &outer;
  EXPECT_EQ(CreateMemoryAllocatorInstance(&outer, IID_IMemAllocator, &refused),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(refused, nullptr);
  EXPECT_EQ(outer.inner->Release(), 0u);
  EXPECT_EQ(LiveFrameworkObjectCount(), live);
}

TEST(DshowStrings, TaskMemoryCopiesAndCutNames) {
  LPWSTR copy = nullptr;
  ASSERT_EQ(CopyStringToTaskMemory(u"Input", &copy), S_OK);
  EXPECT_EQ(CompareWideStrings(copy, u"Input"), 0);
  CoTaskMemFree(copy);
  EXPECT_EQ(CopyStringToTaskMemory(u"x", nullptr), E_POINTER);
  std::u16string longName(200, u'n');
  WCHAR cut[128];
  CopyWideStringCut(cut, 128, longName.c_str());
  EXPECT_EQ(WideStringLength(cut), 127u);
}

}  // namespace
