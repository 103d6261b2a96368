// What the benchmarks that time two implementations side by side share: a monotonic clock and
// the median of the rounds' ratios.
#pragma once

#include <algorithm>
#include <ctime>
#include <vector>

// Seconds on the monotonic clock (<chrono> does not build under the engine's execution charset).
inline double Now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}
