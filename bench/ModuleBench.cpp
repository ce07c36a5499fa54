// The cost of one exit-info command, from ieUpdateLaneIntf to the entry applied in the data
// path's exit table, against the bare protobuf work it contains: allocating the message,
// filling its six fields and freeing it.
//
// The command path: type test of orbcsd.internetExitModule, the module's trace (level off; the
// Blip ring is off in every benchmark program), the message allocated and filled (the interface
// number looked up), the command built and queued, then the data-path model's drain: command
// table lookup, argument type check, exit-table insert or erase, and the command and message
// freed. Each iteration adds 256 entries (one drain), then deletes them (one drain), on a table
// that already holds N other entries.
//
// Counters: ns_per_command (CPU time over the commands), table_entries (N).
#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>
#include <map>
#include <memory>

#include "Orb/OrbInternetExitUtil.h"
#include "Orb/OrbSiEdgeModule.h"
#include "bench/BenchSupport.h"
#include "platform/module/DataPathModel.h"

namespace IeBench {
namespace {

using OrbInternetExit::ExitIntfResult;
using OrbInternetExit::ExitResultType;

// Commands per drain: amortises the benchmark loop; also the batch an agent's step queues.
constexpr size_t kBatch = 256;
// Distinct exit interfaces: a router has few.
constexpr size_t kInterfaces = 8;
// Commands queued between drains while a table is filled.
constexpr size_t kFillBatch = 4096;

struct Command {
  Lane::VniAndLaneId pair;
  ExitIntfResult result;
};

// Command i: pair i, one of the interfaces, a gate and connection number of its own.
Command commandOf(size_t i) {
  static const std::array<Wire::IntfId, kInterfaces> intfs = [] {
    std::array<Wire::IntfId, kInterfaces> a;
    for (size_t k = 0; k < kInterfaces; ++k) a[k] = Wire::IntfId(fmt::format("Ethernet{}", k + 1));
    return a;
  }();
  const auto k = static_cast<uint32_t>(i % kInterfaces);
  return Command{pairOf(i),
                 ExitIntfResult(intfs[k], "default", 2 + k, static_cast<uint32_t>(i),
                                ExitResultType::localDefaultVrf())};
}

// An agent's common state with an InternetExit module, and a data-path model of it.
struct Engine {
  explicit Engine(size_t entries) {
    orbcsd->internetExitModuleIs(Orb::internetExitFactory(
        "ie", Orb::OrbModule::ModuleClass::forwarding, 1, 64, 0, 2, pair, orbcsd));
    for (size_t i = 0; i < entries; ++i) {
      const Command c = commandOf(i);
      OrbInternetExit::ieUpdateLaneIntf(orbcsd, c.pair, c.result, true);
      if (i % kFillBatch == kFillBatch - 1) model.drain(*pair);
    }
    model.drain(*pair);
  }
  // The module and the common state hold each other; clearing the attribute frees both.
  ~Engine() { orbcsd->internetExitModuleIs(nullptr); }

  Mica::Ptr<Orb::OrbCommonSmData> orbcsd = Mica::make<Orb::OrbCommonSmData>();
  Mica::Ptr<const Orb::OrbCommonSmData> constOrbcsd = orbcsd;
  Mica::Ptr<Orb::ModuleConfigStatusPair> pair = Mica::make<Orb::ModuleConfigStatusPair>();
  Orb::DataPathModel model{"ie"};
};

// One engine per table size, built once for all the runs of a benchmark.
Engine& engineWith(size_t entries) {
  static auto* engines = [] {
    auto* m = new std::map<size_t, std::unique_ptr<Engine>>;
    atTeardown([m] { delete m; });
    return m;
  }();
  auto& e = (*engines)[entries];
  if (!e) e = std::make_unique<Engine>(entries);
  return *e;
}

// The commands measured: pairs that the pre-filled table does not hold.
std::array<Command, kBatch> batchAfter(size_t entries) {
  std::array<Command, kBatch> batch;
  for (size_t i = 0; i < kBatch; ++i) batch[i] = commandOf(entries + i);
  return batch;
}

void perCommand(benchmark::State& state, const Stopwatch& clock, size_t perIteration) {
  const double count = static_cast<double>(state.iterations()) * static_cast<double>(perIteration);
  state.SetItemsProcessed(static_cast<int64_t>(count));
  state.counters["ns_per_command"] = clock.elapsedNanos() / count;
}

// The reference: the message alone, allocated on the heap, filled and freed.
void BM_BareProtobuf(benchmark::State& state) {
  struct Fields {
    uint32_t vni, lane, gate, aux;
    uint64_t intf;
  };
  std::array<Fields, kBatch> fields;
  for (size_t i = 0; i < kBatch; ++i) {
    const Command c = commandOf(i);
    fields[i] = {c.pair.vniId().value(), c.pair.laneId(), c.result.gateId, c.result.auxId,
                 c.result.intfId.value()};
  }
  const Stopwatch clock;
  for (auto _ : state) {
    for (const Fields& f : fields) {
      auto msg = std::make_unique<orb::pb::IeLaneToExitInfoArg>();
      auto* result = msg->mutable_result();
      result->set_result_type(orb::pb::IE_RESULT_LOCAL_DEFAULT_VRF);
      result->set_gate_id(f.gate);
      result->set_intf_id(f.intf);
      result->set_aux_id(f.aux);
      msg->mutable_lane_info()->set_vni(f.vni);
      msg->mutable_lane_info()->set_lane(f.lane);
      benchmark::DoNotOptimize(msg.get());
      benchmark::ClobberMemory();
    }
  }
  perCommand(state, clock, kBatch);
}
BENCHMARK(BM_BareProtobuf)->MinTime(0.3);

// Add a batch and drain, delete it and drain: 2 * kBatch commands an iteration.
void BM_ExitInfoCommand(benchmark::State& state) {
  const auto entries = static_cast<size_t>(state.range(0));
  Engine& engine = engineWith(entries);
  const auto batch = batchAfter(entries);
  const Stopwatch clock;
  for (auto _ : state) {
    for (const Command& c : batch) OrbInternetExit::ieUpdateLaneIntf(engine.constOrbcsd, c.pair, c.result, true);
    engine.model.drain(*engine.pair);
    for (const Command& c : batch) OrbInternetExit::ieUpdateLaneIntf(engine.constOrbcsd, c.pair, c.result, false);
    engine.model.drain(*engine.pair);
  }
  perCommand(state, clock, 2 * kBatch);
  state.counters["table_entries"] = static_cast<double>(engine.model.exitTable().size());
  if (engine.model.rejected() != 0) state.SkipWithError("the data path rejected a command");
}
BENCHMARK(BM_ExitInfoCommand)->Arg(k1k)->Arg(k1M)->MinTime(0.3);

// The same with a drain after every command: no batching at all.
void BM_ExitInfoCommandDrainEach(benchmark::State& state) {
  Engine& engine = engineWith(k1k);
  const auto batch = batchAfter(k1k);
  const Stopwatch clock;
  for (auto _ : state) {
    for (const bool add : {true, false}) {
      for (const Command& c : batch) {
        OrbInternetExit::ieUpdateLaneIntf(engine.constOrbcsd, c.pair, c.result, add);
        engine.model.drain(*engine.pair);
      }
    }
  }
  perCommand(state, clock, 2 * kBatch);
  if (engine.model.rejected() != 0) state.SkipWithError("the data path rejected a command");
}
BENCHMARK(BM_ExitInfoCommandDrainEach)->MinTime(0.3);

}  // namespace
}  // namespace IeBench
