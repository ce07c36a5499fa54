#include "tests/oracle/WorldReader.h"

#include <stdexcept>

#include "Orb/OrbSiEdgeHelper.h"

namespace IeOracle {

namespace {

Pair pairOf(Lane::VniAndLaneId v) { return Pair{v.vniId().value(), v.laneId()}; }

Option optionOf(const OrbInternetExit::ExitKey& k) {
  return Option{static_cast<ExitType>(k.type.number()), k.name.str()};
}

OptionKey keyOf(const OrbInternetExit::ExitVniLaneKey& k) { return OptionKey{optionOf(k.exitKey), pairOf(k.vniLaneId)}; }
NameKey keyOf(const OrbInternetExit::GroupVniLaneKey& k) { return NameKey{k.groupName.str(), pairOf(k.vniLaneId)}; }
NameKey keyOf(const OrbInternetExit::PolicyVniLaneKey& k) { return NameKey{k.policyName.str(), pairOf(k.vniLaneId)}; }

Result resultOf(const OrbInternetExit::ExitIntfResult& r) {
  return Result{r.intfId.name().str(), std::string(r.vrfName.view()), r.gateId, r.auxId,
                static_cast<ResultType>(r.resultType.number())};
}

}  // namespace

Inputs inputsOf(IeSim::World& world) {
  Inputs in;
  for (const auto& [pair, policy] : world.lanes().laneToIEMap) in.bindings[pairOf(pair)] = policy.str();
  const auto& config = world.config();
  for (const auto& [name, policy] : config.policyConfig) {
    auto& entries = in.policies[name.str()];
    for (const auto& [seq, entry] : policy->exitGroup) entries[seq] = entry->exitGroupName.get().str();
  }
  for (const auto& [name, group] : config.exitGroupConfig) {
    auto& options = in.groups[name.str()];
    for (const auto& k : group->exitOption) options.insert(optionOf(k));
  }
  const auto& orbcsd = world.orbcsd();
  if (const auto& info = orbcsd.vxlanInfo.get()) {
    in.hasVxlanInfo = true;
    for (const auto& [vrf, vni] : info->vrfIdToVniMap) in.vrfIdToVni[vrf.value()] = vni.value();
    for (const auto& [name, vni] : info->vrfToVniMap) in.vrfNameToVni[name.str()] = vni.value();
  }
  for (const auto& vrf : orbcsd.defaultRoutePresentInVrf) in.defaultRouteVrfs.insert(vrf.value());
  for (const auto& [intf, l3] : orbcsd.l3Intf) in.interfaces.insert(intf.name().str());
  for (const auto& [name, conn] : world.connections().connection) {
    const ResultConnIntf& r = conn->resultConnIntf.get();
    in.connections[name.str()] = Connection{r.intfId.name().str(), r.vrfName.str(), r.num};
  }
  for (const auto& [key, response] : world.responses().resolverResponse) {
    in.responses[NameKey{key.svcGroupName.str(), pairOf(key.vniLaneId)}] = response.remoteSvcGroup;
  }
  in.internetExitModule = world.dataPath().internetExit() != nullptr;
  return in;
}

Outputs outputsOf(const IeSim::World& world) {
  Outputs out;
  for (const auto& k : world.output().polToVniLane) out.polToVniLane.insert(keyOf(k));
  for (const auto& [v, cfg] : world.statusConfig().statusConfig) {
    PairConfig& pairCfg = out.statusConfig[pairOf(v)];
    for (const auto& [polKey, policy] : cfg->policyStatusConfig) {
      auto& entries = pairCfg.policies[polKey.policyName.str()];
      for (const auto& [seq, entry] : policy->exitGroup) entries[seq] = keyOf(entry->exitGroup.get());
    }
    for (const auto& [grpKey, group] : cfg->exitGroupStatusConfig) {
      auto& options = pairCfg.groups[grpKey.groupName.str()];
      for (const auto& k : group->exitOption) options.insert(keyOf(k));
    }
  }
  for (const auto& [g, entry] : world.groupToPolicy().groupToPolicy) {
    auto& policies = out.groupToPolicy[keyOf(g)];
    for (const auto& p : entry->policy) policies.insert(keyOf(p));
  }
  for (const auto& vni : world.vniDefRoute().defaultRoute) out.vniDefaultRoute.insert(vni.value());
  for (const auto& v : world.vniLaneDefRoute().defaultRoute) out.vniLaneDefaultRoute.insert(pairOf(v));
  for (const auto& [k, status] : world.exitOptions().exitOptionStatus) {
    OptionStatus& s = out.exitOptions[keyOf(k)];
    for (const auto& g : status->group) s.groups.insert(keyOf(g));
    s.result = resultOf(status->resultExitIntf.get());
  }
  for (const auto& k : world.requests().resolverRequest) out.resolverRequests.insert(NameKey{k.svcGroupName.str(), pairOf(k.vniLaneId)});
  for (const auto& [g, status] : world.exitGroups().exitGroupStatus) {
    auto& results = out.exitGroups[keyOf(g)];
    for (const auto& [k, r] : status->result) results[keyOf(k)] = resultOf(r);
  }
  for (const auto& [p, status] : world.policies().policyStatus) {
    PolicyState& s = out.policies[keyOf(p)];
    s.winner = keyOf(status->winningExitGroup.get());
    for (const auto& r : status->exitIntf) s.exitIntf.insert(resultOf(r));
  }
  for (const auto& n : world.notifications().svcNotification) out.notifications.insert({pairOf(n.vniLaneId), n.remoteGroup});
  if (const auto* model = world.dataPath().model()) {
    auto& table = out.exitTable.emplace();
    for (const auto& e : model->exitTable()) {
      const auto intf = Wire::IntfId::fromValue(e.intfId);
      if (!intf) throw std::logic_error("exit table entry with an interface number no name has");
      table.insert(ExitEntry{pairOf(e.vniLane), Result{intf->name().str(), "default", e.gateId, e.auxId,
                                                       static_cast<ResultType>(e.resultType)}});
    }
  }
  return out;
}

std::map<std::string, std::pair<uint32_t, uint32_t>> gatesOf(const IeSim::World& world, const std::vector<std::string>& interfaces) {
  std::map<std::string, std::pair<uint32_t, uint32_t>> out;
  for (const auto& name : interfaces) {
    const auto gate = world.dataPath().gateOf(Wire::IntfId(name));
    if (gate.second != 0) out[name] = gate;
  }
  return out;
}

}  // namespace IeOracle
