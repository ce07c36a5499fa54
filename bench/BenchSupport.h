// What the benchmark programs share: a realistic population of lane bindings, memory readings,
// a CPU-time stopwatch and the teardown of large fixtures.
//
// Population: binding i binds pair (VNI i % 256, lane i / 256) to one of 64 policy names, picked
// by a multiplicative hash of i so that neighbouring pairs use different names. The lane status
// is filled in a seeded random order, as an agent receives bindings, not in key order.
//
// Every benchmark program links ie_bench_support, which also provides main(): it switches the
// process's default Blip ring off (the figures are those of a production agent that records no
// Blip), runs the benchmarks, then runs the registered teardowns.
#pragma once

#include <benchmark/benchmark.h>
#include <time.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/agents/LaneStatusDir.h"
#include "platform/mica/String.h"

namespace IeBench {

// Distinct policy names in the population: a few names repeat over millions of pairs.
inline constexpr size_t kPolicyNames = 64;
// VNIs the pairs are spread over (every lane-side VNI).
inline constexpr size_t kVnis = 256;

inline constexpr int64_t k1k = 1'000;
inline constexpr int64_t k100k = 100'000;
inline constexpr int64_t k1M = 1'000'000;

// "ie-policy-00" .. "ie-policy-63", interned once.
const std::vector<Mica::String>& policyNames();
// Pair of binding i. REQUIRES: i < 256 * 65536.
Lane::VniAndLaneId pairOf(size_t i);
// Index into policyNames() of binding i.
size_t policyOf(size_t i);
// A new lane status holding bindings 0..n-1, inserted in a seeded random order.
Mica::Ptr<Lane::LaneStatusDir> laneStatusWith(size_t n);
// `count` binding indices below n in a seeded random order (repeats allowed), for benchmarks that
// touch one binding per iteration without always hitting the same cache lines.
std::vector<size_t> randomBindings(size_t n, size_t count);

// Process memory now. Heap bytes are malloc's bytes in use (mallinfo2: arenas + mmapped blocks),
// exact to the chunk, less the bytes Mica::NodePool keeps for later nodes; RSS is the resident
// set (/proc/self/statm), which counts whole pages and does not shrink when freed memory stays
// in malloc's or the node pool's free lists.
struct MemoryUse {
  double heapBytes = 0;
  double rssBytes = 0;
};
MemoryUse memoryUse();

// CPU time (user and system) that the calling thread spends on a stretch of code. Not wall
// time: on a loaded machine a descheduled thread would charge other processes' work to the
// code measured; page faults and cache misses are counted all the same. About 0.2 us a reading.
class Stopwatch {
 public:
  Stopwatch() : start_(threadNanos()) {}
  double elapsedNanos() const { return static_cast<double>(threadNanos() - start_); }
  double elapsedSeconds() const { return elapsedNanos() * 1e-9; }

 private:
  static uint64_t threadNanos() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<uint64_t>(t.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(t.tv_nsec);
  }
  uint64_t start_;
};

// Runs `fn` after every benchmark has run, before main returns (frees large static fixtures
// while the platform's statics are certainly alive). Teardowns run in reverse order.
void atTeardown(std::function<void()> fn);
// Runs the registered teardowns; called by main().
void runTeardowns();

}  // namespace IeBench
