#include <fmt/format.h>

#include <vector>

#include "tools/iesim/Keys.h"
#include "tools/iesim/Steps.h"
#include "tools/iesim/Watch.h"

namespace IeSim {

namespace {

using Kind = iesim::pb::Step::KindCase;
using Lane::VniAndLaneId;
using OrbInternetExit::GroupVniLaneKey;
using OrbInternetExit::PolicyVniLaneKey;

void bind(World& world, const iesim::pb::Binding& b, StepRecord& r) {
  const VniAndLaneId pair = pairOf(b);
  const auto old = world.lanes().laneToIEMap.get(pair);
  const Mica::String policy(b.policy());
  r.what = fmt::format("bind {} to {} ({})", pair, policy,
                       !old ? std::string("new")
                       : *old == policy ? std::string("unchanged")
                                        : fmt::format("was {}", *old));
  world.lanes().laneToIEMapIs(pair, policy);
}

void unbind(World& world, const iesim::pb::Unbind& u, StepRecord& r) {
  const VniAndLaneId pair = pairOf(u);
  const auto old = world.lanes().laneToIEMap.get(pair);
  r.what = fmt::format("unbind {} ({})", pair,
                       old ? fmt::format("was {}", *old) : std::string("was not bound"));
  world.lanes().laneToIEMapDel(pair);
}

void unbindAll(World& world, StepRecord& r) {
  std::vector<VniAndLaneId> pairs;
  for (const auto& [pair, policy] : world.lanes().laneToIEMap) pairs.push_back(pair);
  r.what = fmt::format("unbind all ({})", plural(pairs.size(), "pair"));
  for (const auto pair : pairs) world.lanes().laneToIEMapDel(pair);
}

// The direct writes, in the order SetOutput documents; returns what was written.
std::vector<std::string> writeOutputs(World& world, const iesim::pb::SetOutput& set) {
  std::vector<std::string> parts;
  auto& out = world.output();
  if (set.clear()) {
    parts.push_back("clear polToVniLane");
    std::vector<PolicyVniLaneKey> keys(out.polToVniLane.begin(), out.polToVniLane.end());
    for (const auto& k : keys) out.polToVniLaneDel(k);
  }
  for (const auto& k : set.remove()) {
    parts.push_back("remove " + k);
    out.polToVniLaneDel(checkedPolicyKey(k));
  }
  for (const auto& k : set.add()) {
    parts.push_back("add " + k);
    out.polToVniLaneIs(checkedPolicyKey(k));
  }
  for (const auto& e : set.status_entry()) {
    const PolicyVniLaneKey policy = checkedPolicyKey(e.policy());
    const GroupVniLaneKey group(Mica::String(e.group()), policy.vniLaneId);
    parts.push_back(fmt::format("status entry {} {} -> {}", policy, seqText(e.seq()), group));
    world.statusConfig().statusConfigIs(policy.vniLaneId)->policyStatusConfigIs(policy)->exitGroupIs(
        e.seq(), group);
  }
  for (const auto& o : set.status_option()) {
    const GroupVniLaneKey group = checkedGroupKey(o.group());
    const OrbInternetExit::ExitVniLaneKey option(checkedExitOption(o.option()), group.vniLaneId);
    parts.push_back(fmt::format("status option {} in {}", option, group));
    world.statusConfig().statusConfigIs(group.vniLaneId)->exitGroupStatusConfigIs(group)->exitOptionIs(
        option);
  }
  for (const auto& g : set.group_to_policy()) {
    const GroupVniLaneKey group = checkedGroupKey(g.group());
    for (const auto& p : g.policy()) {
      parts.push_back(fmt::format("groupToPolicy {}: {}", group, p));
      world.groupToPolicy().groupToPolicyIs(group)->policyIs(checkedPolicyKey(p));
    }
  }
  for (const auto& o : set.exit_option()) parts.push_back(writeExitOption(world, o));
  for (const auto& k : set.resolver_request()) {
    parts.push_back("resolver request " + k);
    world.requests().resolverRequestIs(checkedSvcGroupKey(k));
  }
  for (const auto& g : set.exit_group_result()) {
    const GroupVniLaneKey group = checkedGroupKey(g.group());
    auto status = world.exitGroups().exitGroupStatusIs(group);
    for (const auto& r : g.result()) {
      const OrbInternetExit::ExitVniLaneKey option(checkedExitOption(r.option()), group.vniLaneId);
      parts.push_back(fmt::format("exitGroup {} {}", group, option.exitKey));
      status->resultIs(option, resultOf(r));
    }
  }
  for (const auto& p : set.policy_status()) {
    const PolicyVniLaneKey policy = checkedPolicyKey(p.policy());
    auto status = world.policies().policyStatusIs(policy);
    for (const auto& r : p.exit_intf()) status->exitIntfIs(resultOf(r));
    status->winningExitGroupIs(GroupVniLaneKey(Mica::String(p.winning_group()), policy.vniLaneId));
    parts.push_back(fmt::format("policyStatus {} wins {} ({})", policy, p.winning_group(),
                                plural(static_cast<size_t>(p.exit_intf_size()), "interface")));
  }
  for (const auto& k : set.svc_in_use()) {
    parts.push_back("in use " + k);
    world.notifications().svcNotificationIs(checkedNotificationKey(k));
  }
  return parts;
}

void setOutput(World& world, const iesim::pb::SetOutput& set, StepRecord& r) {
  r.direct = true;
  world.countChangesIs(false);
  const auto parts = writeOutputs(world, set);
  world.countChangesIs(true);
  std::string what = "write outputs directly:";
  for (size_t i = 0; i < parts.size(); ++i) what += (i == 0 ? " " : ", ") + parts[i];
  r.what = parts.empty() ? what + " nothing" : what;
}

}  // namespace

bool runLaneStep(World& world, const iesim::pb::Step& step, StepRecord& r) {
  switch (step.kind_case()) {
    case Kind::kBind: bind(world, step.bind(), r); return true;
    case Kind::kUnbind: unbind(world, step.unbind(), r); return true;
    case Kind::kUnbindAll: unbindAll(world, r); return true;
    case Kind::kSetOutput: setOutput(world, step.set_output(), r); return true;
    default: return false;
  }
}

void loadLanes(World& world, const iesim::pb::Initial& initial) {
  for (const auto& b : initial.binding()) world.lanes().laneToIEMapIs(pairOf(b), b.policy());
  for (const auto& k : initial.output()) world.output().polToVniLaneIs(checkedPolicyKey(k));
}

}  // namespace IeSim
