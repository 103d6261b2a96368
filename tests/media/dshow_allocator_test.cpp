// The allocator protocol and the media sample: property agreement, commit and deferred decommit,
// blocking and non-blocking buffers, and what a sample reports and forgets.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "dshow_test_filters.h"

using namespace dshow_test;

namespace {

// A memory allocator that counts the times its buffers are given up.
class CountingAllocator : public K_CMemoryAllocator {
 public:
  CountingAllocator() : K_CMemoryAllocator(nullptr) {}
  int freed = 0;

 protected:
  void FreeBuffers() override { ++freed; }
};

struct AllocatorFixture : testing::Test {
  void SetUp() override {
    allocator = new CountingAllocator;
    allocator->AddRef();
  }
  void TearDown() override { EXPECT_EQ(allocator->Release(), 0u); }
  HRESULT Configure(LONG count, LONG size, LONG align = 1, LONG prefix = 0) {
    ALLOCATOR_PROPERTIES request{count, size, align, prefix};
    return allocator->SetProperties(&request, &actual);
  }
  CountingAllocator* allocator = nullptr;
  ALLOCATOR_PROPERTIES actual{};
};

TEST_F(AllocatorFixture, PropertiesAreCheckedAndPadded) {
  struct Case {
    LONG count, size, align, prefix;
    HRESULT result;
    LONG actualSize;
  };
  const Case cases[] = {
      {1, 1000, 0, 0, VFW_E_BADALIGN, 0},
      {1, 1000, 131072, 0, VFW_E_BADALIGN, 0},
      {1, 1000, 16, 0, S_OK, 1008},
      {1, 1000, 16, 8, S_OK, 1000},
      {1, 0x7fffffff, 65536, 0, E_INVALIDARG, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.align);
    EXPECT_EQ(Configure(c.count, c.size, c.align, c.prefix), c.result);
    EXPECT_EQ(actual.cbBuffer, c.actualSize);
  }
  EXPECT_EQ(allocator->SetProperties(&actual, nullptr), E_POINTER);
  ASSERT_EQ(Configure(2, 64), S_OK);
  ASSERT_EQ(allocator->Commit(), S_OK);
  EXPECT_EQ(Configure(2, 64), VFW_E_ALREADY_COMMITTED);
  IMediaSample* sample = nullptr;
  ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
  ASSERT_EQ(allocator->Decommit(), S_OK);
  EXPECT_EQ(Configure(2, 64), VFW_E_BUFFERS_OUTSTANDING);
  sample->Release();
  EXPECT_EQ(Configure(2, 64), S_OK);
}

TEST_F(AllocatorFixture, CommitNeedsPropertiesAndAHugeRequestGetsNoMemory) {
  EXPECT_EQ(allocator->Commit(), VFW_E_SIZENOTSET);
  ASSERT_EQ(Configure(0x7fffffff, 0x7fff0000), S_OK);
  EXPECT_EQ(allocator->Commit(), E_OUTOFMEMORY);
  IMediaSample* sample = nullptr;
  EXPECT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
}

TEST_F(AllocatorFixture, DecommitWithSamplesOutFreesWhenTheLastComesBack) {
  ASSERT_EQ(Configure(2, 100), S_OK);
  ASSERT_EQ(allocator->Commit(), S_OK);
  IMediaSample* first = nullptr;
  IMediaSample* second = nullptr;
  ASSERT_EQ(allocator->GetBuffer(&first, nullptr, nullptr, 0), S_OK);
  ASSERT_EQ(allocator->GetBuffer(&second, nullptr, nullptr, 0), S_OK);
  IMediaSample* third = nullptr;
  EXPECT_EQ(allocator->GetBuffer(&third, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);
  LONG free = -1;
  allocator->GetFreeCount(&free);
  EXPECT_EQ(free, 0);

  ASSERT_EQ(allocator->Decommit(), S_OK);
  EXPECT_EQ(allocator->GetBuffer(&third, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
  first->Release();
  EXPECT_EQ(allocator->freed, 0);
  second->Release();
  EXPECT_EQ(allocator->freed, 1);
}

TEST_F(AllocatorFixture, ABlockedGetBufferWakesWhenASampleIsReleased) {
  ASSERT_EQ(Configure(1, 16), S_OK);
  ASSERT_EQ(allocator->Commit(), S_OK);
  IMediaSample* held = nullptr;
  ASSERT_EQ(allocator->GetBuffer(&held, nullptr, nullptr, 0), S_OK);
  std::atomic<HRESULT> waited{E_FAIL};
  std::thread waiter([&] {
    IMediaSample* sample = nullptr;
    waited = allocator->GetBuffer(&sample, nullptr, nullptr, 0);
    if (sample != nullptr) sample->Release();
  });
  held->Release();
  waiter.join();  // ends only once the release woke the waiter
  EXPECT_EQ(waited.load(), S_OK);
  allocator->Decommit();
}

TEST_F(AllocatorFixture, DecommitWakesAWaiterWithNotCommitted) {
  ASSERT_EQ(Configure(1, 16), S_OK);
  ASSERT_EQ(allocator->Commit(), S_OK);
  IMediaSample* held = nullptr;
  ASSERT_EQ(allocator->GetBuffer(&held, nullptr, nullptr, 0), S_OK);
  std::atomic<HRESULT> waited{S_OK};
  std::atomic<bool> started{false};
  std::thread waiter([&] {
    started = true;
    IMediaSample* sample = nullptr;
    waited = allocator->GetBuffer(&sample, nullptr, nullptr, 0);
  });
  while (!started) std::this_thread::yield();
  allocator->Decommit();
  waiter.join();
  EXPECT_EQ(waited.load(), VFW_E_NOT_COMMITTED);
  held->Release();
}

TEST_F(AllocatorFixture, SamplesReportTimesAndForgetTheirFlagsOnRelease) {
  ASSERT_EQ(Configure(1, 32, 1, 0), S_OK);
  ASSERT_EQ(allocator->Commit(), S_OK);
  IMediaSample* sample = nullptr;
  ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
  REFERENCE_TIME start = 0, stop = 0;
  EXPECT_EQ(sample->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
  REFERENCE_TIME at = 500;
  sample->SetTime(&at, nullptr);
  EXPECT_EQ(sample->GetTime(&start, &stop), VFW_S_NO_STOP_TIME);
  EXPECT_EQ(stop, 501);
  REFERENCE_TIME end = 900;
  sample->SetTime(&at, &end);
  EXPECT_EQ(sample->GetTime(&start, &stop), S_OK);
  EXPECT_EQ(stop, 900);
  EXPECT_EQ(sample->SetActualDataLength(33), VFW_E_BUFFER_OVERFLOW);
  EXPECT_EQ(sample->SetActualDataLength(32), S_OK);
  LONGLONG mediaStart = 0, mediaEnd = 0;
  EXPECT_EQ(sample->GetMediaTime(&mediaStart, &mediaEnd), VFW_E_MEDIA_TIME_NOT_SET);
  LONGLONG m0 = 10, m1 = 25;
  sample->SetMediaTime(&m0, &m1);
  EXPECT_EQ(sample->GetMediaTime(&mediaStart, &mediaEnd), S_OK);
  EXPECT_EQ(mediaEnd, 25);
  sample->SetSyncPoint(TRUE);
  sample->SetPreroll(TRUE);
  sample->SetDiscontinuity(TRUE);
  auto type = MakeType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx, {1, 2});
  ASSERT_EQ(sample->SetMediaType(&type), S_OK);
  AM_MEDIA_TYPE* got = nullptr;
  ASSERT_EQ(sample->GetMediaType(&got), S_OK);
  EXPECT_TRUE(MediaTypesEqual(*got, type));
  DeleteMediaType(got);
  sample->Release();

  ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
  EXPECT_EQ(sample->IsSyncPoint(), S_FALSE);
  EXPECT_EQ(sample->IsPreroll(), S_FALSE);
  EXPECT_EQ(sample->IsDiscontinuity(), S_FALSE);
  EXPECT_EQ(sample->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
  EXPECT_EQ(sample->GetMediaType(&got), S_FALSE);
  sample->Release();
  ReleaseMediaTypeContents(&type);
  allocator->Decommit();
}

TEST_F(AllocatorFixture, SamplePropertiesAreValidatedInFieldOrder) {
  ASSERT_EQ(Configure(1, 64), S_OK);
  ASSERT_EQ(allocator->Commit(), S_OK);
  IMediaSample* sample = nullptr;
  ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
  IMediaSample2* sample2 = nullptr;
  ASSERT_EQ(sample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void**>(&sample2)), S_OK);
  BYTE* data = nullptr;
  sample->GetPointer(&data);

  AM_SAMPLE2_PROPERTIES good{};
  good.cbData = sizeof(good);
  good.dwSampleFlags = AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID | AM_SAMPLE_SPLICEPOINT;
  good.lActual = 40;
  good.tStart = 7;
  good.tStop = 9;
  good.pbBuffer = data;
  good.cbBuffer = 64;
  struct Case {
    const char* name;
    void (*change)(AM_SAMPLE2_PROPERTIES&);
    DWORD size;
    HRESULT result;
  };
  const Case cases[] = {
      {"tiny size does nothing", [](AM_SAMPLE2_PROPERTIES&) {}, 3, S_OK},
      {"record too large", [](AM_SAMPLE2_PROPERTIES& p) { p.cbData = sizeof(p) + 4; }, sizeof(good),
       E_INVALIDARG},
      {"unknown flag", [](AM_SAMPLE2_PROPERTIES& p) { p.dwSampleFlags |= 0x200; }, sizeof(good),
       E_INVALIDARG},
      {"type flag without a type",
       [](AM_SAMPLE2_PROPERTIES& p) { p.dwSampleFlags |= AM_SAMPLE_TYPECHANGED; }, sizeof(good),
       E_POINTER},
      {"another buffer", [](AM_SAMPLE2_PROPERTIES& p) { p.pbBuffer += 1; }, sizeof(good),
       E_INVALIDARG},
      {"actual length above the size", [](AM_SAMPLE2_PROPERTIES& p) { p.lActual = 65; },
       sizeof(good), E_INVALIDARG},
      {"good record", [](AM_SAMPLE2_PROPERTIES&) {}, sizeof(good), S_OK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AM_SAMPLE2_PROPERTIES record = good;
    c.change(record);
    EXPECT_EQ(sample2->SetProperties(c.size, reinterpret_cast<const BYTE*>(&record)), c.result);
  }
  EXPECT_EQ(sample->GetActualDataLength(), 40);
  EXPECT_EQ(sample->IsSyncPoint(), S_OK);
  AM_SAMPLE2_PROPERTIES read{};
  EXPECT_EQ(sample2->GetProperties(sizeof(read), nullptr), E_POINTER);
  ASSERT_EQ(sample2->GetProperties(sizeof(read), reinterpret_cast<BYTE*>(&read)), S_OK);
  EXPECT_EQ(read.tStop, 9);
  EXPECT_EQ(read.pbBuffer, data);
  sample2->Release();
  sample->Release();
  allocator->Decommit();
}

}  // namespace
