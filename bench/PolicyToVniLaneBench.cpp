// IePolicyToVniLaneSm: cost of the initial build, of one binding change and of a restart over
// an unchanged output, at 1k, 100k and 1M bindings.
//
// The default trace handler is off and the Blip ring is off (BenchMain.cpp): these are the costs
// of a production agent. Large inputs are built once per size and kept (static fixtures); only
// the work named by each benchmark is timed.
//
// Counters (read by run_benchmarks.sh):
//   ns_per_binding   initial build or restart: CPU time over the number of bindings
//   ns_per_change    one rebinding of one pair (each iteration rebinds to another policy and back)
//   writes           output notifications during the timed work (restart: must be 0)
//   task_runs        scheduler runs per build
//   longest_run_us   the longest task run: how long another task of the agent may wait
#include <benchmark/benchmark.h>

#include <map>
#include <memory>

#include "bench/BenchSupport.h"
#include "bench/PolicyToVniLaneFixture.h"

namespace IeBench {
namespace {

// Bindings touched by the change benchmarks, cycled through: enough to leave the caches.
constexpr size_t kChangePicks = 4096;
// Minimum timed seconds of the short benchmarks: stable figures, short runs.
constexpr double kMinTime = 0.3;

// Lane status with n bindings, built once per size.
const Mica::Ptr<Lane::LaneStatusDir>& lanesOf(size_t n) {
  static std::map<size_t, Mica::Ptr<Lane::LaneStatusDir>>* cache = [] {
    auto* c = new std::map<size_t, Mica::Ptr<Lane::LaneStatusDir>>();
    atTeardown([c] { delete c; });
    return c;
  }();
  auto& lanes = (*cache)[n];
  if (!lanes) lanes = laneStatusWith(n);
  return lanes;
}

// A ready state machine over lanesOf(n), built once per size.
World& worldOf(size_t n) {
  static std::map<size_t, std::unique_ptr<World>>* cache = [] {
    auto* c = new std::map<size_t, std::unique_ptr<World>>();
    atTeardown([c] { delete c; });
    return c;
  }();
  auto& world = (*cache)[n];
  if (!world) world = std::make_unique<World>(worldOver(lanesOf(n)));
  return *world;
}

void perBinding(benchmark::State& state, size_t n, double seconds) {
  const auto items = static_cast<double>(state.iterations()) * static_cast<double>(n);
  state.SetItemsProcessed(static_cast<int64_t>(items));
  state.counters["ns_per_binding"] = seconds * 1e9 / items;
}

// Initial build: factory and runUntilIdle over a filled lane status and an empty output.
void BM_InitialBuild(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  const auto& lanes = lanesOf(n);
  double seconds = 0;
  uint64_t runs = 0;
  LongestRun longest;
  for (auto _ : state) {
    Mica::Ptr<IePolicyToVniLaneDir> dir(new IePolicyToVniLaneDir());
    Mica::Ptr<Keel::TaskScheduler> scheduler(new Keel::TaskScheduler());
    scheduler->runObserverIs(&longest);
    const Stopwatch clock;
    auto sm = OrbInternetExit::iePolicyToVniLaneSmFactory(lanes, dir, controlOn(scheduler));
    scheduler->runUntilIdle();
    const double t = clock.elapsedSeconds();
    state.SetIterationTime(t);
    seconds += t;
    runs += scheduler->runsTotal();
    if (!sm->idle() || dir->polToVniLane.size() != n) {
      state.SkipWithError("the state machine is not idle, or the output is incomplete");
      return;
    }
    // Destruction of the SM, the output and the scheduler is not timed (manual time).
  }
  perBinding(state, n, seconds);
  state.counters["task_runs"] = static_cast<double>(runs) / static_cast<double>(state.iterations());
  state.counters["longest_run_us"] = static_cast<double>(longest.longestNanos) / 1e3;
}
BENCHMARK(BM_InitialBuild)->Arg(k1k)->MinTime(kMinTime)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InitialBuild)->Arg(k100k)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InitialBuild)->Arg(k1M)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// One binding change with the state machine ready: rebind a pair to another policy and back.
// `samePair` rebinds one pair every time (hot caches); otherwise pairs are drawn at random.
void bindingChange(benchmark::State& state, bool samePair) {
  const auto n = static_cast<size_t>(state.range(0));
  World& w = worldOf(n);
  const auto picks = randomBindings(n, kChangePicks);
  const auto& names = policyNames();
  WriteCounter writes(*w.dir);
  size_t k = 0;
  const Stopwatch clock;
  for (auto _ : state) {
    const size_t i = picks[samePair ? 0 : k++ % kChangePicks];
    const auto pair = pairOf(i);
    const size_t policy = policyOf(i);
    w.lanes->laneToIEMapIs(pair, names[(policy + 1) % kPolicyNames]);
    w.lanes->laneToIEMapIs(pair, names[policy]);
  }
  const double nanos = clock.elapsedNanos();
  // Changes are handled in the notification; nothing may be left for the scheduler.
  if (!w.scheduler->idle() || w.dir->polToVniLane.size() != n) {
    state.SkipWithError("a change left work queued, or the output lost keys");
    return;
  }
  const auto changes = 2.0 * static_cast<double>(state.iterations());
  state.SetItemsProcessed(static_cast<int64_t>(changes));
  state.counters["ns_per_change"] = nanos / changes;
  state.counters["writes_per_change"] = static_cast<double>(writes.writes()) / changes;
}

void BM_BindingChange(benchmark::State& state) { bindingChange(state, false); }
BENCHMARK(BM_BindingChange)->Arg(k1k)->Arg(k1M)->MinTime(kMinTime);

void BM_BindingChangeSamePair(benchmark::State& state) { bindingChange(state, true); }
BENCHMARK(BM_BindingChangeSamePair)->Arg(k1k)->Arg(k1M)->MinTime(kMinTime);

// Restart over a full, unchanged output: destroy the state machine, create a new one over the
// same output and run until idle. The output must not be written at all.
void BM_Restart(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  World& w = worldOf(n);
  WriteCounter writes(*w.dir);
  LongestRun longest;
  w.scheduler->runObserverIs(&longest);
  double seconds = 0;
  for (auto _ : state) {
    const Stopwatch clock;
    w.sm = nullptr;
    w.sm = OrbInternetExit::iePolicyToVniLaneSmFactory(w.lanes, w.dir, controlOn(w.scheduler));
    w.scheduler->runUntilIdle();
    const double t = clock.elapsedSeconds();
    state.SetIterationTime(t);
    seconds += t;
    if (!w.sm->idle() || w.dir->polToVniLane.size() != n) {
      state.SkipWithError("the restarted state machine is not idle, or the output changed");
      break;
    }
  }
  w.scheduler->runObserverIs(nullptr);
  perBinding(state, n, seconds);
  state.counters["writes"] = static_cast<double>(writes.writes());
  state.counters["longest_run_us"] = static_cast<double>(longest.longestNanos) / 1e3;
}
BENCHMARK(BM_Restart)->Arg(k1k)->MinTime(kMinTime)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Restart)->Arg(k100k)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Restart)->Arg(k1M)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace IeBench
