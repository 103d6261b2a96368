// The game's numeric rules, kept in one place because replays depend on them bit for bit:
// 16-bit wrap-around positions, the one double-to-integer conversion, wrapping score sums and the
// angle constants, which are single-precision values widened to double.
#pragma once

#include <cmath>
#include <cstdint>

// Positions, velocities and box sums are signed 16-bit values that wrap around.
inline std::int16_t Wrap16(int value) { return static_cast<std::int16_t>(value); }

// Truncation towards zero into 32 bits. NaN and values outside the 32-bit range give INT32_MIN,
// the "integer indefinite" value of the machines the game was made for; every other value
// truncates as C++ does.
inline std::int32_t TruncateToInt32(double value) {
  if (!(value > -2147483649.0 && value < 2147483648.0)) return INT32_MIN;
  return static_cast<std::int32_t>(value);
}

// Truncation into a 16-bit field: the 32-bit truncation, then its low 16 bits.
inline std::int16_t TruncateToInt16(double value) { return Wrap16(TruncateToInt32(value)); }

// Scores are signed 32-bit sums that wrap instead of overflowing.
inline std::int32_t WrapAdd(std::int32_t a, std::int64_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

// The angle constants of the game's arithmetic: single-precision values (a few of them
// single-precision products of pi rather than the nearest float to the exact multiple).
constexpr double kPi = 3.1415927410125732;
constexpr double kHalfPi = 1.5707963705062866;
constexpr double kThreeHalfPi = 4.71238899230957;
constexpr double kTwoPi = 6.2831854820251465;
constexpr double kQuarterPi = 0.7853981852531433;
constexpr double kEighthPi = 0.39269909262657166;
constexpr double kTwelfthPi = 0.2617993950843811;
constexpr double kSixteenthPi = 0.19634954631328583;
constexpr double kNineEighthsPi = 3.5342917442321777;
constexpr double kFifteenSixteenthsPi = 2.9452431201934814;
constexpr double kFiveQuartersPi = 3.9269909858703613;

constexpr bool IsSinglePrecision(double value) {
  return static_cast<double>(static_cast<float>(value)) == value;
}
static_assert(IsSinglePrecision(kPi) && IsSinglePrecision(kHalfPi) &&
              IsSinglePrecision(kThreeHalfPi) && IsSinglePrecision(kTwoPi) &&
              IsSinglePrecision(kQuarterPi) && IsSinglePrecision(kEighthPi) &&
              IsSinglePrecision(kTwelfthPi) && IsSinglePrecision(kSixteenthPi) &&
              IsSinglePrecision(kNineEighthsPi) && IsSinglePrecision(kFifteenSixteenthsPi) &&
              IsSinglePrecision(kFiveQuartersPi));
