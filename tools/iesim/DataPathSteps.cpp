#include <fmt/format.h>

#include "Orb/OrbInternetExitUtil.h"
#include "Orb/OrbSiEdgeModule.h"
#include "tools/iesim/Keys.h"
#include "tools/iesim/Steps.h"

namespace IeSim {

namespace {

using Kind = iesim::pb::Step::KindCase;
using OrbInternetExit::ExitIntfResult;

void module(World& world, const iesim::pb::Module& m, StepRecord& r) {
  auto& dp = world.dataPath();
  if (!m.present()) {
    const std::string gone = dp.moduleDel();
    r.what = gone.empty() ? std::string("no InternetExit module (unchanged)")
                          : "no InternetExit module: " + gone + " went";
    return;
  }
  const std::string old = dp.present() ? fmt::format(" (replaces module \"{}\")", dp.module()->name())
                                       : std::string();
  r.what = dp.moduleIs(m) + " present" + old;
}

std::pair<uint32_t, uint32_t> gateOf(World& world, const Wire::IntfId& intf) {
  return world.dataPath().gateOf(intf);
}

std::string gateText(uint32_t gate) {
  return gate == ExitIntfResult::noGate ? std::string("noGate") : fmt::format("{}", gate);
}

void exitInfo(World& world, const iesim::pb::ExitInfo& e, StepRecord& r) {
  const Lane::VniAndLaneId pair = pairOf(e);
  const Wire::IntfId intf(e.intf());
  const bool add = !e.remove();
  const auto& orbcsd = world.orbcsdPtr();
  // A vrf name over 100 bytes is the library's range error, which stops the scenario before any
  // gate is taken.
  const ExitIntfResult::VrfName vrf(std::string_view(e.has_vrf() ? e.vrf() : "default"));
  uint32_t gate;
  if (e.has_gate()) {
    gate = static_cast<uint32_t>(e.gate());
  } else if (add) {
    gate = OrbInternetExit::createOrFetchGateId(orbcsd, intf);
    r.notes.push_back(fmt::format("createOrFetchGateId({}): gate {}, users {}", intf, gateText(gate),
                                  gateOf(world, intf).second));
  } else {
    gate = gateOf(world, intf).first;
    r.notes.push_back(fmt::format("{} holds gate {}", intf, gateText(gate)));
  }
  const ExitIntfResult result(intf, vrf, gate, static_cast<uint32_t>(e.aux()),
                              checkedResultType(e.type()));
  const bool sent = OrbInternetExit::ieUpdateLaneIntf(orbcsd, pair, result, add);
  r.what = fmt::format("{} exit {} {}: {}", add ? "add" : "remove", pair, result,
                       sent ? "command queued" : "not sent, no InternetExit module");
  if (!add && !e.has_gate()) {
    const bool released = OrbInternetExit::removeGateId(orbcsd, intf);
    r.notes.push_back(released ? fmt::format("removeGateId({}): users left {}", intf,
                                             gateOf(world, intf).second)
                               : fmt::format("removeGateId({}): no gate to release", intf));
  }
}

}  // namespace

bool runDataPathStep(World& world, const iesim::pb::Step& step, StepRecord& r) {
  switch (step.kind_case()) {
    case Kind::kModule: module(world, step.module(), r); return true;
    case Kind::kExitInfo: exitInfo(world, step.exit_info(), r); return true;
    default: return false;
  }
}

std::vector<Lane::VniAndLaneId> drainDataPath(World& world, StepRecord& r) {
  auto drained = world.dataPath().drain();
  const auto change = [&](const char* output, KeptLines& lines) {
    if (lines.empty()) return;
    size_t more = 0;
    auto kept = lines.take(more);
    r.changes.push_back({output, std::move(kept), more});
  };
  change("commands", drained.commands);
  change("exitTable", drained.table);
  if (!drained.anomalies.empty()) r.changes.push_back({"anomalies", std::move(drained.anomalies)});
  return std::move(drained.pairs);
}

}  // namespace IeSim
