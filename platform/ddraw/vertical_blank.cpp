// The 60 Hz display timeline on the platform clock and the waits for its blanks.
#include "platform/ddraw/vertical_blank.h"

#include <chrono>
#include <thread>

#include "platform/clock.h"

namespace {

constexpr std::uint64_t NanosecondsPerSecond = 1000000000;
constexpr std::uint64_t RefreshRate = 60;
constexpr std::uint64_t Lines = 525;
constexpr std::uint64_t BlankLines = 45;
constexpr std::uint64_t BlankNanoseconds = NanosecondsPerSecond / RefreshRate * BlankLines / Lines;

// Start of blank k: k / 60 s, rounded up to a whole nanosecond.
std::uint64_t BlankStart(std::uint64_t k) {
  return static_cast<std::uint64_t>(
      (static_cast<unsigned __int128>(k) * NanosecondsPerSecond + RefreshRate - 1) / RefreshRate);
}

std::uint64_t BlankIndex(std::uint64_t nanoseconds) {
  std::uint64_t k = static_cast<std::uint64_t>(static_cast<unsigned __int128>(nanoseconds) *
                                               RefreshRate / NanosecondsPerSecond);
  return BlankStart(k + 1) <= nanoseconds ? k + 1 : k;
}

void WaitUntil(std::uint64_t target) {
  std::uint64_t now = GetPlatformNanoseconds();
  if (now >= target) return;
  if (IsPlatformVirtualTime()) {
    AdvancePlatformTimeNanoseconds(target - now);
    return;
  }
  while ((now = GetPlatformNanoseconds()) < target)
    std::this_thread::sleep_for(std::chrono::nanoseconds(target - now));
}

}  // namespace

VerticalBlankPhase GetVerticalBlankPhase(std::uint64_t nanoseconds) {
  std::uint64_t start = BlankStart(BlankIndex(nanoseconds));
  std::uint64_t into = nanoseconds - start;
  if (into < BlankNanoseconds) return {true, 0};
  std::uint64_t frame = NanosecondsPerSecond / RefreshRate;
  std::uint64_t line = (into - BlankNanoseconds) * Lines / frame;
  return {false, static_cast<unsigned>(line < Lines - BlankLines ? line : Lines - BlankLines - 1)};
}

void WaitForVerticalBlankStart() {
  WaitUntil(BlankStart(BlankIndex(GetPlatformNanoseconds()) + 1));
}

void WaitForVerticalBlankEnd() {
  std::uint64_t now = GetPlatformNanoseconds();
  std::uint64_t k = BlankIndex(now);
  std::uint64_t end = BlankStart(k) + BlankNanoseconds;
  WaitUntil(now < end ? end : BlankStart(k + 1) + BlankNanoseconds);
}
