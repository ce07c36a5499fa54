#include "tools/iesim/RunClock.h"

#include <sys/resource.h>

#include <ctime>

namespace IeSim {

namespace {
double processCpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}
}  // namespace

RunClock::RunClock() : wall_(std::chrono::steady_clock::now()), cpu_(processCpuSeconds()) {}

Elapsed RunClock::elapsed() const {
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - wall_;
  return {wall.count(), processCpuSeconds() - cpu_};
}

uint64_t peakRssBytes() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<uint64_t>(usage.ru_maxrss) * 1024;  // Linux counts kilobytes
}

}  // namespace IeSim
