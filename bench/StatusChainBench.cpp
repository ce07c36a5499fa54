// The chain IePolicyToVniLaneSm -> IeStatusConfigSm -> IeGroupToPolicySm over pairs bound to
// policies of the standard shape (StatusChainFixture.h): bring-up at 1k, 100k and 1M pairs, one
// binding change at 1k and 1M, one exit option added to and removed from a group that k pairs
// use (k fixed, 10k and 1M pairs in all), and a restart of all three over unchanged outputs.
//
// Traces and the Blip ring are off (BenchMain.cpp): the costs of a production agent. Every
// population and every chain is built once per size and kept; a 1M chain is built once, by the
// bring-up benchmark that times it (or by the first benchmark that needs it when filtered).
// Times are the thread's CPU time (Stopwatch).
//
// Counters (read through StatusChain.ratios):
//   ns_per_pair      bring-up or restart: time over the number of bound pairs
//   task_runs        scheduler runs of a bring-up
//   longest_run_us   the longest task run: how long another task of the agent may wait
//   ns_per_change    one rebinding of a random pair to another policy (the loop rebinds and
//                    rebinds back); the three state machines handle it inside the notification
//   writes_per_change  notifications of every output entity per rebinding, counted once per
//                    chain before the timed loop, on 16 pairs
//   ns_per_event     one exit option added to, or removed from, the group at sequence number 10
//                    of the dedicated policy, bound to k pairs (arguments: pairs, k)
//   ns_per_affected_pair  ns_per_event over k
//   affected_pairs   the pairs bound to the dedicated policy (k)
//   writes_per_event notifications per option event (k expected) of the output roots and of every
//                    entity of the affected pairs, counted once per chain before the timed loop
//   ns_per_touch     BM_ChainOptionFloor: per affected pair, the lookups of its status and of
//                    the group status the event writes, without the state machine: the floor of
//                    ns_per_affected_pair set by where those entities sit in memory
//   writes           restart: notifications of every output entity during the restarts (0)
//   watched_per_pair restart: output entities watched per pair (8 in the standard shape)
//
// Watches that the timed work follows are small (one pair's entities, or the affected pairs'):
// a watch of every entity frees millions of small blocks when it ends, and the allocator's
// deferred consolidation of those would be charged to the next hundred events. For the same
// reason a bring-up starts after settleHeap(), which consolidates what the previous chain freed.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include <fmt/format.h>

#include <malloc.h>

#include <map>
#include <memory>
#include <utility>

#include "bench/BenchSupport.h"
#include "bench/StatusChainFixture.h"

namespace IeBench {
namespace {

using OrbInternetExit::ExitType;
using OrbInternetExit::GroupVniLaneKey;

// Minimum timed seconds of the short benchmarks.
constexpr double kMinTime = 0.3;
// Pairs touched by the binding-change benchmark, cycled through: enough to leave the caches.
constexpr size_t kChangePicks = 4096;
// Pairs whose rebinding is counted by a watch, apart from the timed loop.
constexpr size_t kCountedChanges = 16;
// The option that the option benchmark adds and removes.
const ExitKey& extraOption() {
  static const ExitKey key(Mica::String("wan-extra"), ExitType::localExit());
  return key;
}

// Lets malloc consolidate the blocks freed by untimed work now rather than in timed work.
void settleHeap() { malloc_trim(0); }

// A cache of large objects, freed by the teardown (after every benchmark ran).
template <class K, class V>
std::map<K, V>& cache() {
  static auto* c = [] {
    auto* m = new std::map<K, V>();
    atTeardown([m] { delete m; });
    return m;
  }();
  return *c;
}

const Mica::Ptr<Lane::LaneStatusDir>& lanesOf(size_t n) {
  auto& lanes = cache<size_t, Mica::Ptr<Lane::LaneStatusDir>>()[n];
  if (!lanes) lanes = laneStatusWith(n);
  return lanes;
}

// The configuration of the standard chains, which no benchmark changes.
const Mica::Ptr<InternetExitCliConfig>& standardConfigOf() {
  auto& config = cache<int, Mica::Ptr<InternetExitCliConfig>>()[0];
  if (!config) config = standardConfig(false);
  return config;
}

// The standard chain over n pairs, ready and idle.
std::unique_ptr<Chain>& chainSlot(size_t n) { return cache<size_t, std::unique_ptr<Chain>>()[n]; }
Chain& chainOf(size_t n) {
  auto& chain = chainSlot(n);
  if (!chain) {
    chain = std::make_unique<Chain>(lanesOf(n), standardConfigOf());
    chain->startAndRun();
  }
  return *chain;
}

// The chain over n pairs, k of them bound to the dedicated policy, ready and idle. It has a
// configuration of its own: an option change reaches this chain only.
Chain& dedicatedChainOf(size_t n, size_t k) {
  auto& chain = cache<std::pair<size_t, size_t>, std::unique_ptr<Chain>>()[{n, k}];
  if (!chain) {
    chain = std::make_unique<Chain>(laneStatusWithDedicated(n, k), standardConfig(true));
    chain->startAndRun();
  }
  return *chain;
}

void perPair(benchmark::State& state, size_t n, double seconds) {
  const auto pairs = static_cast<double>(state.iterations()) * static_cast<double>(n);
  state.SetItemsProcessed(static_cast<int64_t>(pairs));
  state.counters["ns_per_pair"] = seconds * 1e9 / pairs;
}

// Records the longest task run of a scheduler. With IE_BENCH_LONG_RUNS=<micros> in the
// environment, every run longer than that is also written to stderr with its task and work,
// to find what makes a run long.
class LongestRun final : public Keel::TaskRunObserver {
 public:
  LongestRun() {
    if (const char* v = std::getenv("IE_BENCH_LONG_RUNS")) reportAboveNanos_ = std::strtoull(v, nullptr, 10) * 1000;
  }
  void taskRan(const Keel::Task& task, uint64_t, uint64_t durationNanos, uint64_t work) override {
    if (durationNanos > longestNanos) longestNanos = durationNanos;
    if (reportAboveNanos_ != 0 && durationNanos > reportAboveNanos_) {
      fmt::print(stderr, "long run: {} {} us, work {}\n", task.taskName(), durationNanos / 1000, work);
    }
  }
  uint64_t longestNanos = 0;

 private:
  uint64_t reportAboveNanos_ = 0;
};

// Bring-up: the three factories and runUntilIdle over the bindings and the configuration, with
// empty outputs. The last chain built is kept for the other benchmarks.
void BM_ChainBringup(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  const auto& lanes = lanesOf(n);
  const auto& config = standardConfigOf();
  LongestRun longest;
  double seconds = 0;
  uint64_t runs = 0;
  std::unique_ptr<Chain> chain;
  for (auto _ : state) {
    chain = nullptr;  // the previous chain goes outside the timed work
    settleHeap();
    chain = std::make_unique<Chain>(lanes, config);
    chain->scheduler->runObserverIs(&longest);
    const Stopwatch clock;
    chain->startAndRun();
    const double t = clock.elapsedSeconds();
    state.SetIterationTime(t);
    seconds += t;
    runs += chain->scheduler->runsTotal();
    chain->scheduler->runObserverIs(nullptr);
    if (!chain->idleAndComplete(n)) {
      state.SkipWithError("the chain is not idle, or its outputs are incomplete");
      return;
    }
  }
  perPair(state, n, seconds);
  state.counters["task_runs"] = static_cast<double>(runs) / static_cast<double>(state.iterations());
  state.counters["longest_run_us"] = static_cast<double>(longest.longestNanos) / 1e3;
  chainSlot(n) = std::move(chain);
}
BENCHMARK(BM_ChainBringup)->Arg(k1k)->MinTime(kMinTime)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChainBringup)->Arg(k100k)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChainBringup)->Arg(k1M)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// Rebinds pair i to the next policy and back.
void rebindAndBack(Chain& chain, size_t i) {
  const auto& names = policyNames();
  const auto pair = pairOf(i);
  const size_t policy = policyOf(i);
  chain.lanes->laneToIEMapIs(pair, names[(policy + 1) % kPolicyNames]);
  chain.lanes->laneToIEMapIs(pair, names[policy]);
}

// One binding change with the chain ready: a random pair moves to another policy (other groups)
// and back, through the three state machines.
void BM_ChainBindingChange(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  Chain& chain = chainOf(n);
  const auto picks = randomBindings(n, kChangePicks);
  auto& writes = cache<size_t, double>();
  if (!writes.contains(n)) {
    OutputWatch watch;
    for (size_t j = 0; j < kCountedChanges; ++j) watch.watchPair(chain, pairOf(picks[j]));
    for (size_t j = 0; j < kCountedChanges; ++j) rebindAndBack(chain, picks[j]);
    writes[n] = static_cast<double>(watch.writes()) / (2.0 * kCountedChanges);
  }
  size_t next = 0;
  const Stopwatch clock;
  for (auto _ : state) rebindAndBack(chain, picks[next++ % kChangePicks]);
  const double nanos = clock.elapsedNanos();
  if (!chain.idleAndComplete(n)) {
    state.SkipWithError("a change left work queued, or the outputs lost entries");
    return;
  }
  const auto changes = 2.0 * static_cast<double>(state.iterations());
  state.SetItemsProcessed(static_cast<int64_t>(changes));
  state.counters["ns_per_change"] = nanos / changes;
  state.counters["writes_per_change"] = writes[n];
}
BENCHMARK(BM_ChainBindingChange)->Arg(k1k)->Arg(k1M)->MinTime(kMinTime);

// One exit option added to (then removed from) the dedicated policy's group at sequence number 10,
// bound to k of the n pairs. Arguments: n, k.
void BM_ChainOptionChange(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  const auto k = static_cast<size_t>(state.range(1));
  Chain& chain = dedicatedChainOf(n, k);
  const auto group = chain.config->exitGroupConfig.get(dedicatedGroup());
  auto& writes = cache<std::pair<size_t, size_t>, double>();
  if (!writes.contains({n, k})) {
    OutputWatch watch;
    for (Lane::VniAndLaneId v : chain.bindings->pairsOfPolicy(dedicatedPolicy())) watch.watchPair(chain, v);
    group->exitOptionIs(extraOption());
    group->exitOptionDel(extraOption());
    writes[{n, k}] = static_cast<double>(watch.writes()) / 2.0;
  }
  const Stopwatch clock;
  for (auto _ : state) {
    group->exitOptionIs(extraOption());
    group->exitOptionDel(extraOption());
  }
  const double nanos = clock.elapsedNanos();
  if (!chain.idleAndComplete(n)) {
    state.SkipWithError("an option change left work queued, or the outputs lost entries");
    return;
  }
  const auto events = 2.0 * static_cast<double>(state.iterations());
  state.SetItemsProcessed(static_cast<int64_t>(events));
  state.counters["ns_per_event"] = nanos / events;
  state.counters["ns_per_affected_pair"] = nanos / events / static_cast<double>(k);
  const auto& affected = chain.bindings->pairsOfPolicy(dedicatedPolicy());
  state.counters["affected_pairs"] = static_cast<double>(affected.size());
  state.counters["writes_per_event"] = writes[{n, k}];
}
BENCHMARK(BM_ChainOptionChange)
    ->Args({10'000, 100})
    ->Args({10'000, 1'000})
    ->Args({k1M, 1'000})
    ->MinTime(kMinTime);

// The floor of BM_ChainOptionChange: for each pair bound to the dedicated policy, find its status
// and the status of the changed group in it (what the event must reach), and nothing else.
void BM_ChainOptionFloor(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  const auto k = static_cast<size_t>(state.range(1));
  Chain& chain = dedicatedChainOf(n, k);
  const auto& pairs = chain.bindings->pairsOfPolicy(dedicatedPolicy());
  size_t options = 0;
  const Stopwatch clock;
  for (auto _ : state) {
    for (Lane::VniAndLaneId v : pairs) {
      const IeStatusConfig* status = chain.status->statusConfig.lookup(v);
      const auto* group = status->exitGroupStatusConfig.lookup(GroupVniLaneKey(dedicatedGroup(), v));
      options += group->exitOption.size();
    }
    benchmark::DoNotOptimize(options);
  }
  state.counters["ns_per_touch"] =
      clock.elapsedNanos() / static_cast<double>(state.iterations()) / static_cast<double>(pairs.size());
}
BENCHMARK(BM_ChainOptionFloor)->Args({10'000, 1'000})->Args({k1M, 1'000})->MinTime(kMinTime);

// Restart of the three state machines over full, unchanged outputs: destroy them, create them
// again and run until idle. No output entity may be written.
void BM_ChainRestart(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  Chain& chain = chainOf(n);
  OutputWatch watch;
  watch.watchAll(chain);
  LongestRun longest;
  chain.scheduler->runObserverIs(&longest);
  double seconds = 0;
  for (auto _ : state) {
    const Stopwatch clock;
    chain.stop();
    chain.startAndRun();
    const double t = clock.elapsedSeconds();
    state.SetIterationTime(t);
    seconds += t;
    if (!chain.idleAndComplete(n)) {
      state.SkipWithError("the restarted chain is not idle, or its outputs changed");
      break;
    }
  }
  chain.scheduler->runObserverIs(nullptr);
  perPair(state, n, seconds);
  state.counters["writes"] = static_cast<double>(watch.writes());
  state.counters["watched_per_pair"] = static_cast<double>(watch.watched()) / static_cast<double>(n);
  state.counters["longest_run_us"] = static_cast<double>(longest.longestNanos) / 1e3;
}
BENCHMARK(BM_ChainRestart)->Arg(k1k)->MinTime(kMinTime)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChainRestart)->Arg(k100k)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChainRestart)->Arg(k1M)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace IeBench
