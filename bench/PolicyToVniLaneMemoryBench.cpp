// IePolicyToVniLaneSm: bytes of process memory per binding at 1M bindings.
//
// A program of its own, so that it starts from a fresh heap: the resident set then grows with
// what is built instead of reusing pages freed by earlier benchmarks. It replaces the global
// operator new and delete to follow the bytes the C++ heap holds, which gives the peak of a
// step (the transient reconciliation state) and not only its end.
//
// Counters, in bytes per binding unless named otherwise (heap: malloc's bytes in use; rss:
// resident set growth):
//   input_B, rss_input_B           laneToIEMap holding the bindings
//   output_B, rss_output_B         polToVniLane after the initial build (SM destroyed)
//   sm_state_B, sm_state_bytes     what a ready, idle state machine keeps (per binding; in all)
//   total_B                        input + output + state machine
//   build_transient_B              peak above the final heap during the initial build
//   restart_transient_B            peak above the steady heap during a restart (seen set)
//   rss_peak_B                     the process's peak resident set (VmHWM)
// and the number of allocations (operator new calls and nodes served by Mica::NodePool) per binding during the initial build and a restart
// (build_allocs, restart_allocs), and per binding change with the state machine ready
// (change_allocs: one rebinding of a random pair; B-tree node splits are the only expected ones).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "bench/BenchSupport.h"
#include "bench/CountingAllocator.h"
#include "bench/PolicyToVniLaneFixture.h"

using namespace IeBench::heap;  // liveBytes, peakBytes, allocations, resetPeak

namespace IeBench {
namespace {

// Binding changes whose allocations are counted.
constexpr size_t kChanges = 100'000;


// Runs the scheduler until idle, one task run at a time.
void runUntilIdle(Keel::TaskScheduler& scheduler) {
  while (scheduler.runOne()) {
  }
}

void BM_MemoryPerBinding(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  const double per = 1.0 / static_cast<double>(n);
  policyNames();  // interned before the first reading
  for (auto _ : state) {
    const MemoryUse start = memoryUse();
    auto lanes = laneStatusWith(n);
    const MemoryUse withInput = memoryUse();

    Mica::Ptr<IePolicyToVniLaneDir> dir(new IePolicyToVniLaneDir());
    Mica::Ptr<Keel::TaskScheduler> scheduler(new Keel::TaskScheduler());
    resetPeak();
    const size_t callsBeforeBuild = allocations();
    auto sm = OrbInternetExit::iePolicyToVniLaneSmFactory(lanes, dir, controlOn(scheduler));
    runUntilIdle(*scheduler);
    const size_t buildCalls = allocations() - callsBeforeBuild;
    const size_t buildPeak = peakBytes;
    const size_t built = liveBytes;
    const MemoryUse withSm = memoryUse();
    sm = nullptr;
    const MemoryUse withOutput = memoryUse();

    resetPeak();
    const size_t steady = liveBytes;
    const size_t callsBeforeRestart = allocations();
    sm = OrbInternetExit::iePolicyToVniLaneSmFactory(lanes, dir, controlOn(scheduler));
    runUntilIdle(*scheduler);
    const size_t restartCalls = allocations() - callsBeforeRestart;
    const size_t restartPeak = peakBytes;
    if (!sm->idle() || dir->polToVniLane.size() != n) {
      state.SkipWithError("the state machine is not idle, or the output is incomplete");
      break;
    }

    const auto picks = randomBindings(n, kChanges);
    const auto& names = policyNames();
    const size_t callsBeforeChanges = allocations();
    for (size_t i : picks) {
      const size_t policy = policyOf(i);
      lanes->laneToIEMapIs(pairOf(i), names[(policy + 1) % kPolicyNames]);
      lanes->laneToIEMapIs(pairOf(i), names[policy]);
    }
    const size_t changeCalls = allocations() - callsBeforeChanges;

    const double input = withInput.heapBytes - start.heapBytes;
    const double output = withOutput.heapBytes - withInput.heapBytes;
    const double smState = withSm.heapBytes - withOutput.heapBytes;
    state.counters["input_B"] = input * per;
    state.counters["output_B"] = output * per;
    state.counters["sm_state_B"] = smState * per;
    state.counters["sm_state_bytes"] = smState;
    state.counters["total_B"] = (input + output + smState) * per;
    state.counters["build_transient_B"] = static_cast<double>(buildPeak - built) * per;
    state.counters["restart_transient_B"] = static_cast<double>(restartPeak - steady) * per;
    state.counters["rss_input_B"] = (withInput.rssBytes - start.rssBytes) * per;
    state.counters["rss_output_B"] = (withOutput.rssBytes - withInput.rssBytes) * per;
    state.counters["rss_peak_B"] = peakRss() * per;
    state.counters["build_allocs"] = static_cast<double>(buildCalls) * per;
    state.counters["restart_allocs"] = static_cast<double>(restartCalls) * per;
    state.counters["change_allocs"] = static_cast<double>(changeCalls) / (2.0 * kChanges);
  }
}
BENCHMARK(BM_MemoryPerBinding)->Arg(k1M)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace IeBench
