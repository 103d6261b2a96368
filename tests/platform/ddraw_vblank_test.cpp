// The DirectDraw 7 object: initialisation rules and vertical-blank waits on the 60 Hz clock.
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/ddraw/ddraw.h"

namespace {

// As the engine makes it: through COM, with every server context.
HRESULT CreateDirectDraw(IDirectDraw7** object) {
  return CoCreateInstance(CLSID_DirectDraw7, nullptr,
                          CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER,
                          IID_IDirectDraw7, reinterpret_cast<void**>(object));
}

class DirectDrawTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DirectDrawResetControls();
    SetPlatformVirtualTime(true);
    ASSERT_EQ(CreateDirectDraw(&ddraw), S_OK);
  }
  void TearDown() override {
    if (ddraw) ddraw->Release();
    SetPlatformVirtualTime(false);
    DirectDrawResetControls();
  }
  IDirectDraw7* ddraw = nullptr;
};

TEST_F(DirectDrawTest, MustBeInitialisedOnceBeforeUse) {
  EXPECT_EQ(ddraw->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN, nullptr), DDERR_NOTINITIALIZED);
  EXPECT_EQ(ddraw->SetCooperativeLevel(nullptr, DDSCL_NORMAL), DDERR_NOTINITIALIZED);
  EXPECT_EQ(ddraw->Initialize(nullptr), DD_OK);
  EXPECT_EQ(ddraw->Initialize(nullptr), DDERR_ALREADYINITIALIZED);
  EXPECT_EQ(ddraw->SetCooperativeLevel(nullptr, DDSCL_NORMAL | DDSCL_FPUPRESERVE), DD_OK);
  EXPECT_EQ(ddraw->SetCooperativeLevel(nullptr, DDSCL_EXCLUSIVE), DDERR_INVALIDPARAMS);
  EXPECT_EQ(ddraw->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN, reinterpret_cast<HANDLE>(1)),
            DDERR_INVALIDPARAMS);
}

TEST_F(DirectDrawTest, BlockBeginWaitsForTheNextSixtiethOfASecond) {
  ASSERT_EQ(ddraw->Initialize(nullptr), DD_OK);
  SetPlatformVirtualNanoseconds(1000000);
  ASSERT_EQ(ddraw->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN, nullptr), DD_OK);
  EXPECT_EQ(GetPlatformNanoseconds(), 16666667u);
  // Standing on a blank's start, the wait is for the next one.
  ASSERT_EQ(ddraw->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN, nullptr), DD_OK);
  EXPECT_EQ(GetPlatformNanoseconds(), 33333334u);
  // What the engine's refresh measurement sees: intervals within a microsecond of each other.
  std::uint64_t previous = GetPlatformNanoseconds();
  for (int i = 0; i < 60; ++i) {
    AdvancePlatformTime(5);
    ASSERT_EQ(ddraw->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN, nullptr), DD_OK);
    std::uint64_t now = GetPlatformNanoseconds();
    EXPECT_NEAR(static_cast<double>(now - previous), 16666666.7, 1000.0);
    previous = now;
  }
  EXPECT_EQ(DirectDrawGetWaitCount(), 62);
}

TEST_F(DirectDrawTest, BlockEndWaitsForTheEndOfTheBlank) {
  ASSERT_EQ(ddraw->Initialize(nullptr), DD_OK);
  SetPlatformVirtualNanoseconds(16666667 + 100000);  // inside the second blank
  ASSERT_EQ(ddraw->WaitForVerticalBlank(DDWAITVB_BLOCKEND, nullptr), DD_OK);
  std::uint64_t end = GetPlatformNanoseconds();
  EXPECT_GT(end, 16666667u + 100000);
  EXPECT_LT(end, 16666667u + 2000000);
  ASSERT_EQ(ddraw->WaitForVerticalBlank(DDWAITVB_BLOCKEND, nullptr), DD_OK);
  EXPECT_EQ(GetPlatformNanoseconds() - end, 16666667u);
}

TEST_F(DirectDrawTest, CreationControlsAndInterfaces) {
  EXPECT_EQ(DirectDrawGetLiveObjectCount(), 1);
  IUnknown* unknown = nullptr;
  ASSERT_EQ(ddraw->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  EXPECT_EQ(unknown->Release(), 1u);
  DirectDrawFailNextCreations(1);
  IDirectDraw7* other = nullptr;
  EXPECT_EQ(CreateDirectDraw(&other), E_OUTOFMEMORY);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(CreateDirectDraw7Instance(nullptr, CLSID_DirectDraw7, reinterpret_cast<void**>(&other)),
            E_NOINTERFACE);
  ASSERT_EQ(CreateDirectDraw(&other), S_OK);
  EXPECT_EQ(other->Release(), 0u);
  EXPECT_EQ(DirectDrawGetLiveObjectCount(), 1);
}

}  // namespace
