// Frame pacing: the wake time of each frame of a 45-frame window on the 31-bit clock.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine.h"
#include "game/frame_pacing.h"
#include "platform/clock.h"

namespace {

// Runs frames on a simulated clock: each frame takes `work` ms before its wait; returns the
// clock after each frame's wait.
std::vector<long long> RunFrames(FramePacing& pacing, long long& clock,
                                 const std::vector<int>& work) {
  std::vector<long long> wakes;
  for (int w : work) {
    clock += w;
    const int now = static_cast<int>(clock & 0x7FFFFFFF);
    const int wait = FrameWait(pacing, now);
    EXPECT_GE(wait, 0);
    EXPECT_LE(wait, 1000);
    clock += wait;
    FinishFrame(pacing, static_cast<int>(clock & 0x7FFFFFFF));
    wakes.push_back(clock);
  }
  return wakes;
}

TEST(FramePacingTest, FirstFrameNeverSleeps) {
  FramePacing pacing;
  EXPECT_EQ(FrameWait(pacing, 0), 0);
  EXPECT_EQ(FrameWait(pacing, 123456), 0);
}

TEST(FramePacingTest, FrameNWakesAtTheWindowStartPlusTruncatedNthPeriod) {
  FramePacing pacing;
  long long clock = 5000;
  const auto wakes = RunFrames(pacing, clock, std::vector<int>(91, 1));
  const long long start = wakes[0];
  EXPECT_EQ(start, 5001);
  for (int n = 1; n < 45; ++n) {
    SCOPED_TRACE(n);
    EXPECT_EQ(wakes[n], start + static_cast<long long>(std::trunc(n * 22.22222222222222)));
  }
  EXPECT_EQ(wakes[45], start + 1000);
  EXPECT_EQ(wakes[46], start + 1000 + 22);
  EXPECT_EQ(wakes[90], start + 2000);
}

TEST(FramePacingTest, ALateFrameIsNotMadeUp) {
  FramePacing pacing;
  long long clock = 10000;
  std::vector<int> work(46, 1);
  work[3] = 1500;  // frame 3 of the first window takes 1.5 s
  const auto wakes = RunFrames(pacing, clock, work);
  const long long start = wakes[0];
  for (int n = 4; n < 45; ++n) EXPECT_EQ(wakes[n], wakes[n - 1] + 1) << n;  // no sleeps
  EXPECT_EQ(wakes[45], wakes[44] + 1);  // the next window starts at once
  EXPECT_GT(wakes[45], start + 1000);
}

TEST(FramePacingTest, WaitsAcrossTheClockWrap) {
  FramePacing pacing;
  pacing.started = true;
  pacing.frameIndex = 0;
  pacing.windowStart = 0x7FFFFFFF - 100;  // the window began 100 ms before the wrap
  EXPECT_EQ(FrameWait(pacing, 0x7FFFFFFF - 50), 950);
  EXPECT_EQ(FrameWait(pacing, 200), 699);  // after the wrap
  EXPECT_EQ(FrameWait(pacing, 1000), 0);   // already late
  pacing.frameIndex = 1;
  EXPECT_EQ(FrameWait(pacing, 5), 0);
  EXPECT_EQ(FrameWait(pacing, 0x7FFFFFFF - 100), 22);
}

TEST(FramePacingTest, AWaitIsNeverLongerThanOneWindow) {
  FramePacing pacing;
  pacing.started = true;
  pacing.windowStart = 1000000;
  EXPECT_EQ(FrameWait(pacing, 5), 1000);  // a clock that went back
}

}  // namespace

namespace {

// The main loop's pacing step on the platform's virtual clock, where Sleep advances time.
TEST(FramePacingTest, WaitForNextFrameOnVirtualTime) {
  SetPlatformVirtualTime(true);
  ResetFramePacing();
  std::vector<long long> wakes;
  for (int frame = 0; frame < 91; ++frame) {
    AdvancePlatformTime(frame == 50 ? 1500 : 3);  // each frame's work; frame 50 runs late
    WaitForNextFrame();
    wakes.push_back(GetMillisecondCount());
  }
  SetPlatformVirtualTime(false);
  const long long start = wakes[0];
  for (int n = 1; n < 45; ++n)
    EXPECT_EQ(wakes[n], start + static_cast<long long>(n * 22.22222222222222)) << n;
  EXPECT_EQ(wakes[45], start + 1000);
  EXPECT_EQ(wakes[49], start + 1000 + 88);
  for (int n = 51; n < 90; ++n) EXPECT_EQ(wakes[n], wakes[n - 1] + 3) << n;  // not made up
  EXPECT_EQ(wakes[90], wakes[89] + 3);  // the late window's successor starts at once
}

}  // namespace
