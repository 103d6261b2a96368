// The arithmetic of frame pacing.
#include "game/frame_pacing.h"

#include <cstdint>

namespace {

constexpr std::int64_t kClockMask = 0x7FFFFFFF;  // the millisecond clock counts 31 bits
constexpr double kFramePeriod = 22.22222222222222;

// The distance from `now` to `target` on the 31-bit clock, negative when `target` is past.
std::int64_t ClockDifference(std::int64_t target, std::int64_t now) {
  std::int64_t diff = (target - now) & kClockMask;
  if (diff >= (kClockMask + 1) / 2) diff -= kClockMask + 1;
  return diff;
}

}  // namespace

int FrameWait(const FramePacing& pacing, int now) {
  if (!pacing.started) return 0;
  const std::int64_t start = pacing.windowStart;
  std::int64_t target;
  if (pacing.frameIndex == 0)
    target = start + 1000;
  else
    target =
        static_cast<std::int64_t>(pacing.frameIndex * kFramePeriod + static_cast<double>(start));
  const std::int64_t wait = ClockDifference(target, now);
  if (wait < 0) return 0;
  return wait > 1000 ? 1000 : static_cast<int>(wait);
}

void FinishFrame(FramePacing& pacing, int timeAfterWait) {
  if (pacing.frameIndex == 0) {
    pacing.windowStart = timeAfterWait;
    pacing.started = true;
  }
  pacing.frameIndex = (pacing.frameIndex + 1) % 45;
}
