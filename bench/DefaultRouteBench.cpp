// The default-route trackers: cost of a VNI that gains and loses its default route while k of
// the N bound pairs belong to it, and of one binding change, at N = 1k and N = 1M with the same
// k; and the bytes the trackers' output takes per pair.
//
// Population of N bindings: k pairs of VNI 7 (lanes 0..k-1) and N - k pairs spread over the
// other 255 VNIs, each bound to one of the shared policy names. Engine state: VRF v is bound to
// VNI v for every VNI, and every VRF but VRF 7 has a default route, so every pair outside VNI 7
// is in the output. The chain orbcsd -> VniDefaultRouteTrackerSm -> VniLaneDefaultRouteTrackerSm
// is built once per N and kept. Traces are off and the Blip ring is off (BenchMain.cpp).
//
// Counters:
//   ns_per_toggle   one default-route gain plus one loss (2k output writes)
//   writes          output notifications per iteration (a check that the work happened)
//   ns_per_change   one unbinding plus one rebinding of a random pair (2 output writes);
//                   BM_BareSetChange: the same on bare B-trees, the floor of that cost
//   ns_per_walk     BM_FullWalk: one walk over every key testing its VNI, what a walk of the
//                   whole binding set would cost per default-route event (the trackers use the
//                   VNI's key range instead)
//   output_B        heap bytes of DefaultRoutePresentForVniLane per pair in it
#include <absl/container/btree_set.h>
#include <benchmark/benchmark.h>

#include <map>
#include <memory>

#include "Orb/OrbSiEdgeHelper.h"
#include "bench/BenchSupport.h"

namespace IeBench {
namespace {

using Lane::VniAndLaneId;
using Lane::VniId;
using OrbInternetExit::IePolicyToVniLaneDir;
using OrbInternetExit::PolicyVniLaneKey;

// Bound pairs of the toggled VNI, the same at every N.
constexpr size_t kPairsOfVni = 64;
constexpr int kToggledVni = 7;
// Bindings touched by the change benchmark, cycled through: enough to leave the caches.
constexpr size_t kChangePicks = 4096;

// Counts output notifications.
struct WriteCounter : Mica::Subscriber {
  uint64_t writes = 0;
  void onNotification(Mica::AttrId, const void*, const void*) override { ++writes; }
};

struct Chain {
  Mica::Ptr<Orb::OrbCommonSmData> orbcsd = Mica::make<Orb::OrbCommonSmData>();
  Mica::Ptr<IePolicyToVniLaneDir> bindings = Mica::make<IePolicyToVniLaneDir>();
  Mica::Ptr<OrbL3Unicast::DefaultRoutePresentInVni> vnis =
      OrbL3Unicast::defaultRoutePresentInVniFactory();
  Mica::Ptr<OrbL3Unicast::DefaultRoutePresentForVniLane> pairs =
      OrbL3Unicast::defaultRoutePresentForVniLaneFactory();
  Mica::Ptr<OrbL3Unicast::VniDefaultRouteTrackerSm> vniSm;
  Mica::Ptr<OrbL3Unicast::VniLaneDefaultRouteTrackerSm> laneSm;
  std::vector<PolicyVniLaneKey> keys;  // every binding, by index
  WriteCounter counter;

  explicit Chain(size_t n) {
    const auto& names = policyNames();
    keys.reserve(n);
    for (size_t i = 0; i < kPairsOfVni && i < n; ++i) {
      keys.emplace_back(names[policyOf(i)],
                        VniAndLaneId(VniId(kToggledVni), static_cast<uint16_t>(i)));
    }
    for (size_t i = 0; keys.size() < n; ++i) {
      // The 255 other VNIs in turn.
      const int64_t vni = static_cast<int64_t>(i % (kVnis - 1));
      keys.emplace_back(names[policyOf(i + kPairsOfVni)],
                        VniAndLaneId(VniId(vni < kToggledVni ? vni : vni + 1),
                                     static_cast<uint16_t>(i / (kVnis - 1))));
    }
    for (const auto& k : keys) bindings->polToVniLaneIs(k);
    auto info = Mica::make<Orb::VxlanInfo>();
    for (uint32_t v = 0; v < kVnis; ++v) {
      info->vrfIdToVniMapIs(Kiln::VrfId(v), Vxlan::VniExtOrNone(v));
      if (v != kToggledVni) orbcsd->defaultRoutePresentInVrfIs(Kiln::VrfId(v));
    }
    orbcsd->vxlanInfoIs(info);
    vniSm = OrbL3Unicast::vniDefaultRouteTrackerSmFactory(orbcsd, vnis);
    laneSm = OrbL3Unicast::vniLaneDefaultRouteTrackerSmFactory(vnis, bindings, pairs);
    pairs->subscriberAdd(&counter);
  }
  ~Chain() { pairs->subscriberRemove(&counter); }
};

Chain& chainOf(size_t n) {
  static auto* cache = [] {
    auto* c = new std::map<size_t, std::unique_ptr<Chain>>();
    atTeardown([c] { delete c; });
    return c;
  }();
  auto& chain = (*cache)[n];
  if (!chain) chain = std::make_unique<Chain>(n);
  return *chain;
}

void report(benchmark::State& state, const char* counter, double seconds, uint64_t writes) {
  const auto iterations = static_cast<double>(state.iterations());
  state.counters[counter] = seconds * 1e9 / iterations;
  state.counters["writes"] = static_cast<double>(writes) / iterations;
}

// The VNI's default route comes and goes in DefaultRoutePresentInVni: VniLane tracker only.
void BM_VniDefaultRouteToggle(benchmark::State& state) {
  Chain& chain = chainOf(static_cast<size_t>(state.range(0)));
  const uint64_t before = chain.counter.writes;
  const Stopwatch clock;
  for (auto _ : state) {
    chain.vnis->defaultRouteIs(VniId(kToggledVni));
    chain.vnis->defaultRouteDel(VniId(kToggledVni));
  }
  report(state, "ns_per_toggle", clock.elapsedSeconds(), chain.counter.writes - before);
}

// VRF 7 gains and loses its default route in the engine state: both trackers.
void BM_VrfDefaultRouteToggle(benchmark::State& state) {
  Chain& chain = chainOf(static_cast<size_t>(state.range(0)));
  const uint64_t before = chain.counter.writes;
  const Stopwatch clock;
  for (auto _ : state) {
    chain.orbcsd->defaultRoutePresentInVrfIs(Kiln::VrfId(kToggledVni));
    chain.orbcsd->defaultRoutePresentInVrfDel(Kiln::VrfId(kToggledVni));
  }
  report(state, "ns_per_toggle", clock.elapsedSeconds(), chain.counter.writes - before);
}

// One bound pair (whose VNI has a default route) is unbound and bound again.
void BM_TrackerBindingChange(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  Chain& chain = chainOf(n);
  const std::vector<size_t> picks = randomBindings(n, kChangePicks);
  size_t next = 0;
  const uint64_t before = chain.counter.writes;
  const Stopwatch clock;
  for (auto _ : state) {
    // Skip the toggled VNI's pairs: their VNI has no default route, so they write nothing.
    size_t i = picks[next++ % kChangePicks];
    if (i < kPairsOfVni) i = kPairsOfVni + i % (n - kPairsOfVni);
    const PolicyVniLaneKey& k = chain.keys[i];
    chain.bindings->polToVniLaneDel(k);
    chain.bindings->polToVniLaneIs(k);
  }
  report(state, "ns_per_change", clock.elapsedSeconds(), chain.counter.writes - before);
}

// Baseline for BM_TrackerBindingChange: the same erase and insert on bare B-trees of the same sizes
// (the binding set and the output set), with no entity, notification or tracker. At 1M the
// trees no longer fit in the caches; this shows how much of the 1M/1k ratio that alone explains.
void BM_BareSetChange(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  Chain& chain = chainOf(n);
  absl::btree_set<PolicyVniLaneKey> keys(chain.bindings->polToVniLane.begin(),
                                         chain.bindings->polToVniLane.end());
  absl::btree_set<VniAndLaneId> pairs(chain.pairs->defaultRoute.begin(),
                                      chain.pairs->defaultRoute.end());
  const std::vector<size_t> picks = randomBindings(n, kChangePicks);
  size_t next = 0;
  const Stopwatch clock;
  for (auto _ : state) {
    size_t i = picks[next++ % kChangePicks];
    if (i < kPairsOfVni) i = kPairsOfVni + i % (n - kPairsOfVni);
    const PolicyVniLaneKey& k = chain.keys[i];
    keys.erase(k);
    pairs.erase(k.vniLaneId);
    keys.insert(k);
    pairs.insert(k.vniLaneId);
  }
  report(state, "ns_per_change", clock.elapsedSeconds(), 0);
}

// What a walk over every bound key, testing each key's VNI, costs per default-route event.
void BM_FullWalk(benchmark::State& state) {
  Chain& chain = chainOf(static_cast<size_t>(state.range(0)));
  size_t matched = 0;
  const Stopwatch clock;
  for (auto _ : state) {
    for (const auto& k : chain.bindings->polToVniLane) {
      if (k.vniLaneId.vniId() == VniId(kToggledVni)) ++matched;
    }
    benchmark::DoNotOptimize(matched);
  }
  state.counters["ns_per_walk"] = clock.elapsedSeconds() * 1e9 / static_cast<double>(state.iterations());
}

// Heap bytes per pair of the trackers' output (the trackers keep no per-pair state).
void BM_OutputMemory(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  double bytes = 0;
  for (auto _ : state) {
    const MemoryUse before = memoryUse();
    auto out = OrbL3Unicast::defaultRoutePresentForVniLaneFactory();
    for (size_t i = 0; i < n; ++i) {
      out->defaultRouteIs(VniAndLaneId(VniId(static_cast<int64_t>(i % kVnis)),
                                       static_cast<uint16_t>(i / kVnis)));
    }
    bytes = memoryUse().heapBytes - before.heapBytes;
  }
  state.counters["output_B"] = bytes / static_cast<double>(n);
}

void sizes(benchmark::internal::Benchmark* b) {
  b->Arg(k1k)->Arg(k1M)->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_VniDefaultRouteToggle)->Apply(sizes);
BENCHMARK(BM_VrfDefaultRouteToggle)->Apply(sizes);
BENCHMARK(BM_TrackerBindingChange)->Apply(sizes);
BENCHMARK(BM_BareSetChange)->Apply(sizes);
BENCHMARK(BM_FullWalk)->Apply(sizes);
BENCHMARK(BM_OutputMemory)->Arg(k1M)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace IeBench
