// The whole library over pairs bound to policies of the standard shape (StatusChainFixture.h):
// the InternetExit module and the ten state machines of InternetExitAssembly, and the data path's
// model applying the module's commands. Bring-up at 1k, 100k and 1M pairs, one binding change at
// 1k and 1M, one exit option added to and removed from a group that k pairs use (k fixed, 10k and
// 1M pairs in all), one interface failing and returning under k pairs (their policies fail over
// to the group at 20 and back, down to the data path), one resolver response added and
// withdrawn, a result change of a group that no policy lists, the module's arrival, and a
// restart of all ten over unchanged outputs.
//
// Every timed step ends with the scheduler idle and the data path's model having applied every
// command the module queued (Chain::settle). Traces and the Blip ring are off (BenchMain.cpp): the
// costs of a production agent. Every population and every chain is built once per size and kept;
// a 1M chain is built once, by the bring-up benchmark that times it (or by the first benchmark
// that needs it when filtered). Of the chains with a dedicated policy only one of 1M pairs is
// kept at a time. Times are the thread's CPU time (Stopwatch).
//
// Counters (read through StatusChain.ratios):
//   ns_per_pair      bring-up or restart: time over the number of bound pairs (the module, ten
//                    machines and the data path)
//   task_runs        scheduler runs of a bring-up
//   longest_run_us   the longest task run: how long another task of the agent may wait
//   runs_over_5ms    task runs longer than 5 ms, and p999_run_us the 99.9th percentile of runs:
//                    on a shared virtual machine the longest run is often one during which the
//                    host did not run the guest (perf shows no sample in it), so these say
//                    whether long runs are the rule or a few such gaps
//   gate_calls_per_pair  bring-up, module arrival: gate-manager calls (assignGate, releaseGate,
//                    releaseAllGates; GateCallCounter.h) per pair: one per local option (2)
//   dp_commands_per_pair, dp_refused_per_pair  bring-up, module arrival: commands the data path
//                    was given per pair, and those it refused (a repeated add)
//   policy_intfs_per_pair  interfaces of the policy statuses per pair (1.25 in the standard
//                    shape: the local exit of the group at 10, and its remote exit on answered
//                    pairs), which is what the exit table mirrors
//   ns_per_change    one rebinding of a random pair to another policy (the loop rebinds and
//                    rebinds back)
//   writes_per_change  notifications per rebinding of every entity of the three first outputs
//                    (bindings, status configuration, reverse map), counted once per chain
//                    before the timed loop, on 16 pairs
//   exit_writes_per_change  the same for the exit-option statuses and the resolver requests
//   policy_writes_per_change  the same for the exit-group statuses, the policy statuses and the
//                    in-use notifications
//   dp_commands_per_change  data-path commands per rebinding
//   ns_per_event     one exit option added to, or removed from, the group at sequence number 10
//                    of the dedicated policy, bound to k pairs (arguments: pairs, k); one
//                    interface event (BM_ChainIntfEvent); one response event (BM_ChainResponse);
//                    one result written or removed (BM_ChainUnlistedGroup)
//   ns_per_affected_pair  ns_per_event over k
//   affected_pairs   the pairs bound to the dedicated policy (k)
//   writes_per_event, exit_writes_per_event, policy_writes_per_event  notifications per event of
//                    the output roots and of every entity of the affected pairs (three first
//                    outputs; exit options and requests; exit groups, policies and
//                    notifications), counted once per chain before the timed loop
//   ns_per_touch     BM_ChainOptionFloor: per affected pair, the lookups of its status and of
//                    the group status the event writes, without the state machine: the floor of
//                    ns_per_affected_pair set by where those entities sit in memory
//   options_using    BM_ChainIntfEvent: options whose result uses the interface (k)
//   failed_over      BM_ChainIntfEvent: affected pairs whose policy's winner is the group at 20
//                    once the interface has failed, with two exit-table entries (k)
//   gate_calls_per_event  BM_ChainIntfEvent: gate-manager calls per interface event (k: one
//                    release per option when it leaves, one assignment when it returns)
//   dp_commands_per_event  data-path commands per event (interface event: 3 per affected pair,
//                    two adds of the group at 20 and one delete of the failed exit, or back)
//   ns_per_option    module arrival: time over the exit options evaluated (4 per pair)
//   writes, gate_calls, gate_state_changes  restart: notifications of every entity of every
//                    output but the default-route sets, gate-manager calls, and interfaces whose
//                    gate users changed plus the change of gates in use (all 0)
//   default_route_writes  restart: notifications of the two default-route sets, which their
//                    trackers empty when they stop and refill when they start
//   dp_commands, policy_intfs  restart: commands the data path was given (IeProgramDpSm sends
//                    every current interface as an add when it starts; the data path refuses
//                    them as repeated adds) and the policy interfaces
//   watched_per_pair restart: output entities watched per pair
//
// Watches that the timed work follows are small (one pair's entities, or the affected pairs'):
// a watch of every entity frees millions of small blocks when it ends, and the allocator's
// deferred consolidation of those would be charged to the next hundred events. For the same
// reason a bring-up starts after settleHeap(), which consolidates what the previous chain freed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include <fmt/format.h>

#include <malloc.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/GateCallCounter.h"
#include "bench/StatusChainFixture.h"
#include "platform/trace/Trace.h"
#include "runtime/StateMachine.h"

namespace IeBench {
namespace {

using OrbInternetExit::ExitType;
using OrbInternetExit::GroupVniLaneKey;
using OrbInternetExit::PolicyStatus;

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

// A cache of large objects, freed by the teardown (after every benchmark ran). There is one cache
// per (K, V): each use that is not a chain or a population has a value type of its own.
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
auto& dedicatedChains() { return cache<std::pair<size_t, size_t>, std::unique_ptr<Chain>>(); }

// Frees the dedicated chains of 1M pairs or more but `keep` (a few GB each).
void dropLargeDedicatedChains(std::pair<size_t, size_t> keep = {}) {
  for (auto& [key, chain] : dedicatedChains()) {
    if (key.first >= static_cast<size_t>(k1M) && key != keep) chain = nullptr;
  }
  settleHeap();
}

Chain& dedicatedChainOf(size_t n, size_t k) {
  auto& chain = dedicatedChains()[{n, k}];
  if (!chain) {
    if (n >= static_cast<size_t>(k1M)) dropLargeDedicatedChains({n, k});
    chain = std::make_unique<Chain>(laneStatusWithDedicated(n, k), standardConfig(true));
    chain->startAndRun();
  }
  return *chain;
}

// Output writes per event counted before a timed loop: of the three first outputs, and of the
// two last (exit-option statuses, resolver requests).
struct CountedWrites {
  double chain = 0;
  double exit = 0;
  double policy = 0;
  double commands = 0;
};
// The same for a resolver-response event (a cache of its own: the key is the same as a
// binding change's).
struct CountedResponse : CountedWrites {};
CountedWrites countedPer(const OutputWatch& watch, uint64_t commands, double events) {
  return {static_cast<double>(watch.writes(OutputWatch::kFirstThree)) / events,
          static_cast<double>(watch.writes(OutputWatch::kExitOutputs)) / events,
          static_cast<double>(watch.writes(OutputWatch::kPolicyOutputs)) / events,
          static_cast<double>(commands) / events};
}

void perPair(benchmark::State& state, size_t n, double seconds) {
  const auto pairs = static_cast<double>(state.iterations()) * static_cast<double>(n);
  state.SetItemsProcessed(static_cast<int64_t>(pairs));
  state.counters["ns_per_pair"] = seconds * 1e9 / pairs;
}

// Records the longest task run of a scheduler. With IE_BENCH_LONG_RUNS=<micros> in the
// environment, every run longer than that is also written to stderr with its task and work,
// to find what makes a run long. With IE_BENCH_TASK_TIMES=1, the time of the runs is summed by
// task and written to stderr at the report, the costliest first, to find where a run's time goes.
class LongestRun final : public Keel::TaskRunObserver {
 public:
  LongestRun() {
    if (const char* v = std::getenv("IE_BENCH_LONG_RUNS")) reportAboveNanos_ = std::strtoull(v, nullptr, 10) * 1000;
    sumByTask_ = std::getenv("IE_BENCH_TASK_TIMES") != nullptr;
  }
  void taskRan(const Keel::Task& task, uint64_t, uint64_t durationNanos, uint64_t work) override {
    if (durationNanos > longestNanos) longestNanos = durationNanos;
    durations_.push_back(durationNanos);
    if (sumByTask_) {
      TaskTime& t = byTask_[task.taskName()];
      t.nanos += durationNanos;
      t.work += work;
      ++t.runs;
    }
    if (reportAboveNanos_ == 0) return;
    // The thread's CPU time since the last run ended (this run and the scheduler's step before
    // it): a run much longer than its CPU time was preempted by the machine, not slow.
    const uint64_t cpu = threadCpuNanos();
    if (durationNanos > reportAboveNanos_) {
      // Ends at the monotonic clock's now, so a profiler's samples can be matched to the run.
      timespec now{};
      clock_gettime(CLOCK_MONOTONIC, &now);
      const double endSeconds = static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
      fmt::print(stderr, "long run: {} {} us ({} us of CPU), work {}, monotonic {:.6f}-{:.6f}\n", task.taskName(),
                 durationNanos / 1000, (cpu - lastCpuNanos_) / 1000, work,
                 endSeconds - static_cast<double>(durationNanos) / 1e9, endSeconds);
    }
    lastCpuNanos_ = cpu;
  }
  uint64_t longestNanos = 0;

 // The run at fraction q of all runs, by duration, in microseconds.
  double quantileMicros(double q) {
    if (durations_.empty()) return 0;
    const size_t at = std::min(durations_.size() - 1, static_cast<size_t>(q * static_cast<double>(durations_.size())));
    std::nth_element(durations_.begin(), durations_.begin() + static_cast<std::ptrdiff_t>(at), durations_.end());
    return static_cast<double>(durations_[at]) / 1e3;
  }
  double runsOver(uint64_t nanos) const {
    return static_cast<double>(std::count_if(durations_.begin(), durations_.end(), [&](uint64_t d) { return d > nanos; }));
  }
  void report(benchmark::State& state) {
    state.counters["longest_run_us"] = static_cast<double>(longestNanos) / 1e3;
    state.counters["p999_run_us"] = quantileMicros(0.999);
    state.counters["runs_over_5ms"] = runsOver(5'000'000);
    if (sumByTask_) printTaskTimes();
  }

 private:
  static uint64_t threadCpuNanos() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
  }
  struct TaskTime {
    uint64_t nanos = 0;
    uint64_t work = 0;
    uint64_t runs = 0;
  };
  void printTaskTimes() const {
    std::vector<std::pair<std::string, TaskTime>> rows(byTask_.begin(), byTask_.end());
    std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.second.nanos > b.second.nanos; });
    uint64_t total = 0;
    for (const auto& [name, t] : rows) total += t.nanos;
    for (const auto& [name, t] : rows) {
      fmt::print(stderr, "{:>9.1f} ms {:>5.1f}% {:>9} runs {:>10} work  {}\n", static_cast<double>(t.nanos) / 1e6,
                 100.0 * static_cast<double>(t.nanos) / static_cast<double>(std::max<uint64_t>(total, 1)), t.runs,
                 t.work, name);
    }
  }
  uint64_t reportAboveNanos_ = 0;
  uint64_t lastCpuNanos_ = 0;
  bool sumByTask_ = false;
  std::map<std::string, TaskTime> byTask_;
  std::vector<uint64_t> durations_;
};

// Bring-up: the module, the ten factories, runUntilIdle and the data path's drain over the
// bindings, the configuration and the engine state, with empty outputs. The last chain built is
// kept for the other benchmarks.
void BM_ChainBringup(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  const auto& lanes = lanesOf(n);
  const auto& config = standardConfigOf();
  LongestRun longest;
  double seconds = 0;
  uint64_t runs = 0;
  uint64_t gates = 0;
  uint64_t commands = 0;
  uint64_t refused = 0;
  std::unique_ptr<Chain> chain;
  for (auto _ : state) {
    chain = nullptr;  // the previous chain goes outside the timed work
    settleHeap();
    chain = std::make_unique<Chain>(lanes, config);
    chain->scheduler->runObserverIs(&longest);
    const uint64_t gatesBefore = gateCalls();
    const Stopwatch clock;
    commands += chain->startAndRun();
    const double t = clock.elapsedSeconds();
    state.SetIterationTime(t);
    seconds += t;
    gates += gateCalls() - gatesBefore;
    refused += chain->dataPath->rejected();
    runs += chain->scheduler->runsTotal();
    chain->scheduler->runObserverIs(nullptr);
    if (!chain->idleAndComplete(n)) {
      state.SkipWithError("the chain is not idle, or its outputs are incomplete");
      return;
    }
  }
  perPair(state, n, seconds);
  state.counters["task_runs"] = static_cast<double>(runs) / static_cast<double>(state.iterations());
  longest.report(state);
  const double perChainPair = 1.0 / static_cast<double>(state.iterations()) / static_cast<double>(n);
  state.counters["gate_calls_per_pair"] = static_cast<double>(gates) * perChainPair;
  state.counters["dp_commands_per_pair"] = static_cast<double>(commands) * perChainPair;
  state.counters["dp_refused_per_pair"] = static_cast<double>(refused) * perChainPair;
  state.counters["policy_intfs_per_pair"] =
      static_cast<double>(chain->policyInterfaces()) / static_cast<double>(n);
  chainSlot(n) = std::move(chain);
}
BENCHMARK(BM_ChainBringup)->Arg(k1k)->MinTime(kMinTime)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChainBringup)->Arg(k100k)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChainBringup)->Arg(k1M)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// Rebinds pair i to the next policy and back, each change down to the data path.
void rebindAndBack(Chain& chain, size_t i) {
  const auto& names = policyNames();
  const auto pair = pairOf(i);
  const size_t policy = policyOf(i);
  chain.lanes->laneToIEMapIs(pair, names[(policy + 1) % kPolicyNames]);
  chain.settle();
  chain.lanes->laneToIEMapIs(pair, names[policy]);
  chain.settle();
}

// One binding change with the chain ready: a random pair moves to another policy (other groups)
// and back, through the ten state machines and the data path.
void BM_ChainBindingChange(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  Chain& chain = chainOf(n);
  const auto picks = randomBindings(n, kChangePicks);
  auto& writes = cache<size_t, CountedWrites>();
  if (!writes.contains(n)) {
    OutputWatch watch;
    for (size_t j = 0; j < kCountedChanges; ++j) watch.watchPair(chain, pairOf(picks[j]));
    const uint64_t commandsBefore = chain.commands();
    for (size_t j = 0; j < kCountedChanges; ++j) rebindAndBack(chain, picks[j]);
    writes[n] = countedPer(watch, chain.commands() - commandsBefore, 2.0 * kCountedChanges);
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
  state.counters["writes_per_change"] = writes[n].chain;
  state.counters["exit_writes_per_change"] = writes[n].exit;
  state.counters["policy_writes_per_change"] = writes[n].policy;
  state.counters["dp_commands_per_change"] = writes[n].commands;
}
BENCHMARK(BM_ChainBindingChange)->Arg(k1k)->Arg(k1M)->MinTime(kMinTime);

// One exit option added to (then removed from) the dedicated policy's group at sequence number 10,
// bound to k of the n pairs. Arguments: n, k.
void BM_ChainOptionChange(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  const auto k = static_cast<size_t>(state.range(1));
  Chain& chain = dedicatedChainOf(n, k);
  const auto group = chain.config->exitGroupConfig.get(dedicatedGroup());
  auto& writes = cache<std::pair<size_t, size_t>, CountedWrites>();
  if (!writes.contains({n, k})) {
    OutputWatch watch;
    for (Lane::VniAndLaneId v : chain.bindings->pairsOfPolicy(dedicatedPolicy())) watch.watchPair(chain, v);
    const uint64_t commandsBefore = chain.commands();
    group->exitOptionIs(extraOption());
    chain.settle();
    group->exitOptionDel(extraOption());
    chain.settle();
    writes[{n, k}] = countedPer(watch, chain.commands() - commandsBefore, 2.0);
  }
  const Stopwatch clock;
  for (auto _ : state) {
    group->exitOptionIs(extraOption());
    chain.settle();
    group->exitOptionDel(extraOption());
    chain.settle();
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
  state.counters["writes_per_event"] = writes[{n, k}].chain;
  state.counters["exit_writes_per_event"] = writes[{n, k}].exit;
  state.counters["policy_writes_per_event"] = writes[{n, k}].policy;
  state.counters["dp_commands_per_event"] = writes[{n, k}].commands;
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

// Options whose result uses `intf`.
size_t optionsUsing(const Chain& chain, const Wire::IntfId& intf) {
  size_t count = 0;
  for (const auto& [key, status] : chain.exitOptions->exitOptionStatus) {
    count += status->resultExitIntf.get().intfId == intf ? 1 : 0;
  }
  return count;
}

// The dedicated interface fails (leaves orbcsd.l3Intf), down to the data path.
void intfFails(Chain& chain) {
  chain.env->orbcsd->l3IntfDel(dedicatedInterface());
  chain.settle();
}
// The dedicated interface returns, down to the data path.
void intfReturns(Chain& chain) {
  chain.env->orbcsd->l3IntfIs(dedicatedInterface());
  chain.settle();
}
void intfFailsAndReturns(Chain& chain) {
  intfFails(chain);
  intfReturns(chain);
}

// Pairs of the dedicated policy whose policy status has the group at 20 as its winner, with two
// exit-table entries: the pairs that failed over.
size_t failedOver(const Chain& chain) {
  size_t count = 0;
  const Mica::String backup("ie-group-k20");
  for (Lane::VniAndLaneId v : chain.bindings->pairsOfPolicy(dedicatedPolicy())) {
    const PolicyStatus* s = chain.policies->policyStatus.lookup(OrbInternetExit::PolicyVniLaneKey(dedicatedPolicy(), v));
    const bool backupWins = s && s->winningExitGroup.get() == GroupVniLaneKey(backup, v);
    count += backupWins && chain.dataPath->exitsOf(v).size() == 2 ? 1 : 0;
  }
  return count;
}

struct CountedIntfEvent {
  CountedWrites writes;
  double gateCalls = 0;
  double failedOver = 0;
};

// One interface failing (then returning), used by the local options of the dedicated group at
// 10, bound to k of the n pairs: their group at 10 has no other usable option, so each of their
// policies fails over to its group at 20 (local and remote exit) and back, and the data path gets
// two adds and one delete per pair each way. Arguments: n, k. The options leave their gate when
// the interface goes and take it again when it returns; the cost should follow k, not n.
void BM_ChainIntfEvent(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  const auto k = static_cast<size_t>(state.range(1));
  Chain& chain = dedicatedChainOf(n, k);
  auto& counted = cache<std::pair<size_t, size_t>, CountedIntfEvent>();
  if (!counted.contains({n, k})) {
    OutputWatch watch;
    for (Lane::VniAndLaneId v : chain.bindings->pairsOfPolicy(dedicatedPolicy())) watch.watchPair(chain, v);
    const uint64_t gatesBefore = gateCalls();
    const uint64_t commandsBefore = chain.commands();
    intfFails(chain);
    const auto over = static_cast<double>(failedOver(chain));
    intfReturns(chain);
    counted[{n, k}] = {countedPer(watch, chain.commands() - commandsBefore, 2.0),
                       static_cast<double>(gateCalls() - gatesBefore) / 2.0, over};
  }
  const size_t using_ = optionsUsing(chain, dedicatedInterface());
  const uint64_t refusedBefore = chain.dataPath->rejected();
  const Stopwatch clock;
  for (auto _ : state) intfFailsAndReturns(chain);
  const double nanos = clock.elapsedNanos();
  if (!chain.idleAndComplete(n) || optionsUsing(chain, dedicatedInterface()) != using_ ||
      chain.dataPath->rejected() != refusedBefore) {
    state.SkipWithError("an interface event left work queued, changed the outputs or sent a refused command");
    return;
  }
  const auto events = 2.0 * static_cast<double>(state.iterations());
  const CountedIntfEvent& c = counted[{n, k}];
  state.SetItemsProcessed(static_cast<int64_t>(events));
  state.counters["ns_per_event"] = nanos / events;
  state.counters["ns_per_affected_pair"] = nanos / events / static_cast<double>(k);
  state.counters["options_using"] = static_cast<double>(using_);
  state.counters["failed_over"] = c.failedOver;
  state.counters["exit_writes_per_event"] = c.writes.chain + c.writes.exit;
  state.counters["policy_writes_per_event"] = c.writes.policy;
  state.counters["dp_commands_per_event"] = c.writes.commands;
  state.counters["gate_calls_per_event"] = c.gateCalls;
}
BENCHMARK(BM_ChainIntfEvent)
    ->Args({k1k, 1})
    ->Args({k1k, 1'000})  // every pair of the population
    ->Args({k1M, 1'000})
    ->Args({k1M, 1})
    ->MinTime(kMinTime);

// Takes every message and drops it: what formatting the traces costs, without any output.
class DiscardingSink final : public Mica::TraceSink {
 public:
  void write(std::string_view, int, std::string_view text) override { benchmark::DoNotOptimize(text.data()); }
};

// BM_ChainIntfEvent with the per-element traces of the walks (levels 6 and 9 of the state
// machines' handler) on, written to a sink that discards them: the walk then visits every exit
// option, as written, instead of the options the interface index gives. Arguments: n, k.
void BM_ChainIntfEventTraced(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  const auto k = static_cast<size_t>(state.range(1));
  Chain& chain = dedicatedChainOf(n, k);
  const auto handler = Mica::Platform::getDebugHandler(Flo::kDefaultTraceName);
  const uint32_t mask = handler->levelMask();
  DiscardingSink sink;
  Mica::TraceSink* const previous = Mica::traceSink();
  Mica::traceSinkIs(&sink);
  handler->levelMaskIs(mask | (1u << Flo::kLevelFilter) | (1u << Flo::kLevelProgress));
  const Stopwatch clock;
  for (auto _ : state) intfFailsAndReturns(chain);
  const double nanos = clock.elapsedNanos();
  handler->levelMaskIs(mask);
  Mica::traceSinkIs(previous);
  if (!chain.idleAndComplete(n)) {
    state.SkipWithError("an interface event left work queued, or the outputs changed");
    return;
  }
  const auto events = 2.0 * static_cast<double>(state.iterations());
  state.SetItemsProcessed(static_cast<int64_t>(events));
  state.counters["ns_per_event"] = nanos / events;
  state.counters["ns_per_option"] =
      nanos / events / static_cast<double>(chain.exitOptions->exitOptionStatus.size());
}
BENCHMARK(BM_ChainIntfEventTraced)->Args({k1k, 1})->MinTime(kMinTime);
BENCHMARK(BM_ChainIntfEventTraced)->Args({k1M, 1})->Iterations(1);

// Pairs whose remote options the resolver has not answered, in a seeded random order.
std::vector<size_t> unansweredPairs(size_t n, size_t count) {
  std::vector<size_t> picks;
  for (size_t i : randomBindings(n, 2 * count)) {
    if (pairOf(i).vniId().value() % kAnsweredEvery != 0) picks.push_back(i);
    if (picks.size() == count) break;
  }
  return picks;
}

// One resolver response added (then withdrawn) for the remote option of a random pair's group at
// sequence number 10: the option's result becomes resolved, then unresolved again, and the
// policy gains (then loses) that interface in the data path.
void BM_ChainResponse(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  Chain& chain = chainOf(n);
  const auto picks = unansweredPairs(n, kChangePicks);
  std::vector<VniLaneSvcGroupName> names;
  for (size_t i : picks) names.push_back(remoteOptionOf(i));
  auto& responses = *chain.env->responses;
  auto& writes = cache<size_t, CountedResponse>();
  if (!writes.contains(n)) {
    OutputWatch watch;
    for (size_t j = 0; j < kCountedChanges; ++j) watch.watchPair(chain, pairOf(picks[j]));
    const uint64_t commandsBefore = chain.commands();
    for (size_t j = 0; j < kCountedChanges; ++j) {
      responses.resolverResponseIs(names[j], {7});
      chain.settle();
      responses.resolverResponseDel(names[j]);
      chain.settle();
    }
    writes[n] = {countedPer(watch, chain.commands() - commandsBefore, 2.0 * kCountedChanges)};
  }
  size_t next = 0;
  const Stopwatch clock;
  for (auto _ : state) {
    const auto& name = names[next++ % names.size()];
    responses.resolverResponseIs(name, {7});
    chain.settle();
    responses.resolverResponseDel(name);
    chain.settle();
  }
  const double nanos = clock.elapsedNanos();
  if (!chain.idleAndComplete(n)) {
    state.SkipWithError("a response left work queued, or the outputs lost entries");
    return;
  }
  const auto events = 2.0 * static_cast<double>(state.iterations());
  state.SetItemsProcessed(static_cast<int64_t>(events));
  state.counters["ns_per_event"] = nanos / events;
  state.counters["writes_per_event"] = writes[n].chain + writes[n].exit;
  state.counters["policy_writes_per_event"] = writes[n].policy;
  state.counters["dp_commands_per_event"] = writes[n].commands;
}
BENCHMARK(BM_ChainResponse)->Arg(k1k)->Arg(k1M)->MinTime(kMinTime);

// A result of group `unlisted` of pair v written into the exit-group directory, then removed,
// each down to the data path. No policy lists the group, so it has no reverse-map entry and
// IePolicyStatusSm evaluates the policies again: those of v only when the per-element traces are
// off, every configured policy when they are on. Nothing changes: no command reaches the data path.
void unlistedResultAndBack(Chain& chain, Lane::VniAndLaneId v) {
  const GroupVniLaneKey group(Mica::String("ie-group-unlisted"), v);
  const ExitVniLaneKey option(ExitKey(Mica::String("wan-unlisted"), ExitType::localExit()), v);
  const OrbInternetExit::ExitIntfResult result(Wire::IntfId("eth-unlisted"),
                                               OrbInternetExit::ExitIntfResult::defaultVrfName(), 7, 1,
                                               OrbInternetExit::ExitResultType::localDefaultVrf());
  chain.exitGroups->exitGroupStatusIs(group)->resultIs(option, result);
  chain.settle();
  chain.exitGroups->exitGroupStatusDel(group);
  chain.settle();
}

// One result change of a group that no policy lists, at n pairs (argument), with the per-element
// traces of the state machines (levels 6 and 9) off, or on into a sink that discards them
// (argument 2: 1). A random pair per iteration.
void BM_ChainUnlistedGroup(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  const bool traced = state.range(1) != 0;
  Chain& chain = chainOf(n);
  const auto picks = randomBindings(n, kChangePicks);
  const auto handler = Mica::Platform::getDebugHandler(Flo::kDefaultTraceName);
  const uint32_t mask = handler->levelMask();
  DiscardingSink sink;
  Mica::TraceSink* const previous = Mica::traceSink();
  if (traced) {
    Mica::traceSinkIs(&sink);
    handler->levelMaskIs(mask | (1u << Flo::kLevelFilter) | (1u << Flo::kLevelProgress));
  }
  const uint64_t commandsBefore = chain.commands();
  size_t next = 0;
  const Stopwatch clock;
  for (auto _ : state) unlistedResultAndBack(chain, pairOf(picks[next++ % picks.size()]));
  const double nanos = clock.elapsedNanos();
  handler->levelMaskIs(mask);
  Mica::traceSinkIs(previous);
  if (!chain.idleAndComplete(n)) {
    state.SkipWithError("the event left work queued, or the outputs changed");
    return;
  }
  const auto events = 2.0 * static_cast<double>(state.iterations());
  state.SetItemsProcessed(static_cast<int64_t>(events));
  state.counters["ns_per_event"] = nanos / events;
  state.counters["ns_per_policy"] = nanos / events / static_cast<double>(chain.policies->policyStatus.size());
  state.counters["dp_commands_per_event"] = static_cast<double>(chain.commands() - commandsBefore) / events;
}
BENCHMARK(BM_ChainUnlistedGroup)->Args({k1k, 0})->Args({k1M, 0})->Args({k1k, 1})->MinTime(kMinTime);
BENCHMARK(BM_ChainUnlistedGroup)->Args({k1M, 1})->Iterations(1);

// The InternetExit module arriving in orbcsd over a ready chain that was brought up without it:
// every exit option is evaluated once (the whole collection is walked), every local option takes
// its gate, the local results reach the groups and the policies, and the data path gets every
// policy interface (IeProgramDpSm also answers the arrival by sending every current interface
// again, which the data path refuses as repeated adds when the live change came first). The
// chain is built outside the timed work; at 1M the large dedicated chains are freed first.
void BM_ChainModuleArrival(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  if (n >= static_cast<size_t>(k1M)) dropLargeDedicatedChains();
  const auto& lanes = lanesOf(n);
  double seconds = 0;
  uint64_t gates = 0;
  uint64_t commands = 0;
  uint64_t refused = 0;
  std::unique_ptr<Chain> chain;
  for (auto _ : state) {
    chain = nullptr;
    settleHeap();
    chain = std::make_unique<Chain>(lanes, standardConfigOf(), false);
    chain->startAndRun();
    const uint64_t gatesBefore = gateCalls();
    const Stopwatch clock;
    chain->env->orbcsd->internetExitModuleIs(chain->env->ownModule);
    commands += chain->settle();
    const double t = clock.elapsedSeconds();
    state.SetIterationTime(t);
    seconds += t;
    gates += gateCalls() - gatesBefore;
    refused += chain->dataPath->rejected();
    if (!chain->idleAndComplete(n)) {
      state.SkipWithError("the chain is not idle, or its outputs are incomplete");
      return;
    }
  }
  const auto iterations = static_cast<double>(state.iterations());
  perPair(state, n, seconds);
  state.counters["ns_per_option"] = seconds * 1e9 / iterations / static_cast<double>(kOptionsPerPair * n);
  state.counters["gate_calls_per_pair"] = static_cast<double>(gates) / iterations / static_cast<double>(n);
  state.counters["dp_commands_per_pair"] = static_cast<double>(commands) / iterations / static_cast<double>(n);
  state.counters["dp_refused_per_pair"] = static_cast<double>(refused) / iterations / static_cast<double>(n);
  state.counters["policy_intfs_per_pair"] =
      static_cast<double>(chain->policyInterfaces()) / static_cast<double>(n);
  chain = nullptr;
  settleHeap();
}
BENCHMARK(BM_ChainModuleArrival)->Arg(k1k)->MinTime(kMinTime)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChainModuleArrival)->Arg(k1M)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// Restart of the ten state machines over full, unchanged outputs: destroy them (the module
// stays), create them again, run until idle and let the data path apply what was sent. No output
// entity may be written (the default-route sets aside, which their trackers empty and refill by
// design) and no gate may change hands: the options keep the gates they hold, so the gate
// manager is not called. IeProgramDpSm keeps no record of what it sent, so it sends every policy
// interface again as an add, which the data path refuses as a repeated add: dp_commands equals
// policy_intfs, and the exit table is unchanged. IE_BENCH_LONG_RUNS=<us> prints the long runs:
// at 1M pairs they are IeStatusConfigSm's configuration scan tasks, whose one input element (a
// policy's entry or a group's option) fans out over the ~47k pairs of its policy in one run.
void BM_ChainRestart(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  Chain& chain = chainOf(n);
  OutputWatch watch;
  watch.watchAll(chain);
  LongestRun longest;
  chain.scheduler->runObserverIs(&longest);
  const std::vector<uint32_t> gatesBefore = chain.gateState();
  const uint64_t gateCallsBefore = gateCalls();
  const auto tableBefore = chain.dataPath->exitTable();
  double seconds = 0;
  uint64_t commands = 0;
  for (auto _ : state) {
    const Stopwatch clock;
    chain.stop();
    commands += chain.startAndRun();
    const double t = clock.elapsedSeconds();
    state.SetIterationTime(t);
    seconds += t;
    if (!chain.idleAndComplete(n)) {
      state.SkipWithError("the restarted chain is not idle, or its outputs changed");
      break;
    }
  }
  chain.scheduler->runObserverIs(nullptr);
  const uint64_t gateCallsMade = gateCalls() - gateCallsBefore;
  const std::vector<uint32_t> gatesAfter = chain.gateState();
  double gateChanges = gatesAfter.size() == gatesBefore.size() ? 0 : 1e9;
  for (size_t i = 0; i < std::min(gatesBefore.size(), gatesAfter.size()); ++i) {
    gateChanges += gatesBefore[i] != gatesAfter[i] ? 1 : 0;
  }
  if (chain.dataPath->exitTable() != tableBefore) state.SkipWithError("the restart changed the exit table");
  const auto iterations = static_cast<double>(state.iterations());
  perPair(state, n, seconds);
  state.counters["writes"] = static_cast<double>(watch.writes());
  state.counters["default_route_writes"] = static_cast<double>(watch.writes(OutputWatch::kDefaultRoutes)) / iterations;
  state.counters["gate_calls"] = static_cast<double>(gateCallsMade);
  state.counters["gate_state_changes"] = gateChanges;
  state.counters["dp_commands"] = static_cast<double>(commands) / iterations;
  state.counters["policy_intfs"] = static_cast<double>(chain.policyInterfaces());
  state.counters["watched_per_pair"] = static_cast<double>(watch.watched()) / static_cast<double>(n);
  longest.report(state);
}
BENCHMARK(BM_ChainRestart)->Arg(k1k)->MinTime(kMinTime)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChainRestart)->Arg(k100k)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChainRestart)->Arg(k1M)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace IeBench
