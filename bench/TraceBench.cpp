// The cost of a trace call whose level is off, against no call at all (the trace compiled out),
// and for reference a call whose level is on writing into a sink that drops the text, and a
// Blip record with the ring on and off.
//
// Every call passes what the state machines pass: a PolicyVniLaneKey, a bool and a
// Mica::String. Each iteration walks a batch of distinct arguments; a compiler barrier after
// every call makes the handler's mask be read again each time, as it is in the library, where
// calls are separated by writes the compiler cannot see through.
//
// Counter: ns_per_call (CPU time of the loop over the calls).
#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>

#include "bench/BenchSupport.h"
#include "platform/trace/Blip.h"
#include "platform/trace/Trace.h"
#include "types/PolicyVniLaneKey.h"

namespace IeBench {
namespace {

using OrbInternetExit::PolicyVniLaneKey;

// Calls per iteration: amortises the benchmark loop over many calls.
constexpr size_t kBatch = 256;
// The level traced, and a mask that has other levels (errors, warnings) on but not it.
constexpr int kLevel = 8;
constexpr uint32_t kOtherLevelsOn = 0x3F;
// Slots of the Blip ring used here: small, so that records are overwritten (the steady state).
constexpr size_t kBlipRecords = 1024;

struct Call {
  PolicyVniLaneKey key;
  bool isAdd;
  Mica::String name;
};

const std::array<Call, kBatch>& calls() {
  static const std::array<Call, kBatch> batch = [] {
    std::array<Call, kBatch> b;
    const auto& names = policyNames();
    for (size_t i = 0; i < kBatch; ++i) {
      b[i] = Call{PolicyVniLaneKey(names[policyOf(i)], pairOf(i * 4099)), i % 3 != 0,
                  names[(i + 7) % kPolicyNames]};
    }
    return b;
  }();
  return batch;
}

// A handler of its own, so that the mask set here touches nothing else.
const Mica::DebugHandler* handlerWithMask(uint32_t mask) {
  static const Mica::Ptr<Mica::DebugHandler> handler =
      Mica::Platform::getDebugHandler("IeBenchTrace");
  handler->levelMaskIs(mask);
  const Mica::DebugHandler* h = handler.get();
  benchmark::DoNotOptimize(h);  // the compiler may not assume which handler or mask
  return h;
}

// Takes every message and drops it: the cost of formatting alone.
class NullSink final : public Mica::TraceSink {
 public:
  void write(std::string_view, int, std::string_view text) override {
    benchmark::DoNotOptimize(text.data());
  }
};

// Sets ns_per_call from the CPU time of the whole loop.
void perCall(benchmark::State& state, const Stopwatch& clock) {
  const double count = static_cast<double>(state.iterations()) * kBatch;
  state.SetItemsProcessed(static_cast<int64_t>(count));
  state.counters["ns_per_call"] = clock.elapsedNanos() / count;
}

// The arguments are made available exactly as for a call, and nothing is called.
void BM_TraceNoCall(benchmark::State& state) {
  const auto& batch = calls();
  const Stopwatch clock;
  for (auto _ : state) {
    for (const Call& c : batch) {
      benchmark::DoNotOptimize(c.key);
      benchmark::DoNotOptimize(c.isAdd);
      benchmark::DoNotOptimize(c.name);
      benchmark::ClobberMemory();
    }
  }
  perCall(state, clock);
}
BENCHMARK(BM_TraceNoCall)->MinTime(0.2);

void BM_TraceDisabled(benchmark::State& state) {
  const auto& batch = calls();
  const Mica::DebugHandler* h = handlerWithMask(kOtherLevelsOn);
  const Stopwatch clock;
  for (auto _ : state) {
    for (const Call& c : batch) {
      benchmark::DoNotOptimize(c.key);
      benchmark::DoNotOptimize(c.isAdd);
      benchmark::DoNotOptimize(c.name);
      h->trace(kLevel, "evalLaneToIePolicy: policy {} isAdd {} name {}", c.key, c.isAdd, c.name);
      benchmark::ClobberMemory();
    }
  }
  perCall(state, clock);
}
BENCHMARK(BM_TraceDisabled)->MinTime(0.2);

void BM_TraceEnabledNullSink(benchmark::State& state) {
  const auto& batch = calls();
  const Mica::DebugHandler* h = handlerWithMask(kOtherLevelsOn | 1u << kLevel);
  NullSink sink;
  Mica::traceSinkIs(&sink);
  const Stopwatch clock;
  for (auto _ : state) {
    for (const Call& c : batch) {
      h->trace(kLevel, "evalLaneToIePolicy: policy {} isAdd {} name {}", c.key, c.isAdd, c.name);
      benchmark::ClobberMemory();
    }
  }
  perCall(state, clock);
  Mica::traceSinkIs(nullptr);
  handlerWithMask(0);
}
BENCHMARK(BM_TraceEnabledNullSink)->MinTime(0.2);

// A Blip record of the state machine's per-key form: ring on (args copied), then ring off.
void blipRecord(benchmark::State& state, bool on) {
  const auto& batch = calls();
  Blip::TraceHandle ring(kBlipRecords);
  ring.enabledIs(on);
  Blip::TraceHandle* r = &ring;
  benchmark::DoNotOptimize(r);
  const Stopwatch clock;
  for (auto _ : state) {
    for (const Call& c : batch) {
      r->record("evalLaneToIePolicy: policy {} isAdd {}", c.key, c.isAdd);
      benchmark::ClobberMemory();
    }
  }
  perCall(state, clock);
}
void BM_BlipRecordOn(benchmark::State& state) { blipRecord(state, true); }
BENCHMARK(BM_BlipRecordOn)->MinTime(0.2);
void BM_BlipRecordOff(benchmark::State& state) { blipRecord(state, false); }
BENCHMARK(BM_BlipRecordOff)->MinTime(0.2);

}  // namespace
}  // namespace IeBench
