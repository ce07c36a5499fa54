// What a stretch of a simulator run took (--timing): wall-clock and CPU time, and the peak
// resident set of the process.
#pragma once

#include <chrono>
#include <cstdint>

namespace IeSim {

// Wall-clock and CPU seconds of a stretch of a run (--timing).
struct Elapsed {
  double wall = 0;
  double cpu = 0;
};

// Measures from its construction: wall-clock time and the CPU time of the process.
class RunClock {
 public:
  RunClock();
  Elapsed elapsed() const;

 private:
  std::chrono::steady_clock::time_point wall_;
  double cpu_;
};

// The largest resident set of the process so far, in bytes.
uint64_t peakRssBytes();

}  // namespace IeSim
