#include "bench/BenchSupport.h"

#include <fmt/format.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <random>
#include <utility>

#include "platform/mica/NodePool.h"

namespace IeBench {

namespace {
// Seed of every random order in the benchmarks: the same run measures the same work.
constexpr uint64_t kSeed = 20261206;

std::vector<std::function<void()>>& teardowns() {
  static std::vector<std::function<void()>> fns;
  return fns;
}
}  // namespace

const std::vector<Mica::String>& policyNames() {
  static const std::vector<Mica::String> names = [] {
    std::vector<Mica::String> v;
    v.reserve(kPolicyNames);
    for (size_t i = 0; i < kPolicyNames; ++i) v.emplace_back(fmt::format("ie-policy-{:02}", i));
    return v;
  }();
  return names;
}

Lane::VniAndLaneId pairOf(size_t i) {
  return Lane::VniAndLaneId(Lane::VniId(static_cast<int64_t>(i % kVnis)),
                            static_cast<uint16_t>(i / kVnis));
}

size_t policyOf(size_t i) {
  // Knuth's multiplicative hash: neighbouring pairs get unrelated names.
  return static_cast<size_t>((static_cast<uint64_t>(i) * 2654435761u) >> 7) % kPolicyNames;
}

Mica::Ptr<Lane::LaneStatusDir> laneStatusWith(size_t n) {
  std::vector<uint32_t> order(n);
  std::iota(order.begin(), order.end(), 0u);
  std::shuffle(order.begin(), order.end(), std::mt19937_64(kSeed));
  const auto& names = policyNames();
  Mica::Ptr<Lane::LaneStatusDir> lanes(new Lane::LaneStatusDir());
  for (uint32_t i : order) lanes->laneToIEMapIs(pairOf(i), names[policyOf(i)]);
  return lanes;
}

std::vector<size_t> randomBindings(size_t n, size_t count) {
  std::mt19937_64 engine(kSeed + n);
  std::vector<size_t> v(count);
  for (auto& i : v) i = static_cast<size_t>(engine() % n);
  return v;
}

MemoryUse memoryUse() {
  MemoryUse m;
  const struct mallinfo2 info = mallinfo2();
  // Less the bytes Mica's node pool keeps for reuse: what the program's objects hold.
  m.heapBytes = static_cast<double>(info.uordblks + info.hblkhd) -
                static_cast<double>(Mica::nodePool().stats().idleBytes());
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    unsigned long size = 0, resident = 0;
    if (std::fscanf(f, "%lu %lu", &size, &resident) == 2) {
      m.rssBytes = static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
    }
    std::fclose(f);
  }
  return m;
}

void atTeardown(std::function<void()> fn) { teardowns().push_back(std::move(fn)); }

void runTeardowns() {
  auto& fns = teardowns();
  while (!fns.empty()) {
    auto fn = std::move(fns.back());
    fns.pop_back();
    fn();
  }
}

}  // namespace IeBench
