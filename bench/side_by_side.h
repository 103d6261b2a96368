// What the benchmarks that time two implementations side by side share: the monotonic clock, the
// CPU time of every thread of the process, and the median of the rounds' figures.
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

// CPU seconds of the whole process, every thread counted: an implementation that hands work to
// threads of its own pays for them here as a one-thread one pays for its own.
inline double ProcessCpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

// Runs `mine` and `theirs` once each, the first of them alternating from round to round so that
// neither always meets the caches and the sockets the other has just left, and times each by
// `clock`; false as soon as one of them returns false.
template <typename Mine, typename Theirs>
bool TimeInTurn(int round, double (*clock)(), Mine&& mine, Theirs&& theirs, double* mineTime,
                double* theirTime) {
  for (int turn = 0; turn < 2; ++turn) {
    const bool runMine = (turn == 0) == (round % 2 == 0);
    const double start = clock();
    const bool ok = runMine ? mine() : theirs();
    *(runMine ? mineTime : theirTime) = clock() - start;
    if (!ok) return false;
  }
  return true;
}

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}
