#include "tests/oracle/Reference.h"

#include <fmt/format.h>

#include <iterator>

namespace IeOracle {

std::string text(Pair p) { return fmt::format("{}.{}", p.vni, p.lane); }

std::string text(const Option& o) {
  static const char* const names[] = {"?", "localExit", "remoteExit", "fibDefault"};
  const auto i = static_cast<size_t>(o.type);
  return std::string(i < std::size(names) ? names[i] : "?") + ":" + o.name;
}

std::string text(const OptionKey& k) { return text(k.option) + "@" + text(k.pair); }
std::string text(const NameKey& k) { return k.name + "@" + text(k.pair); }

std::string text(ResultType t) {
  static const char* const names[] = {"noResult", "localDefaultVrf", "localOtherVrf", "fibDefaultRoute", "remoteResolved"};
  const auto i = static_cast<size_t>(t);
  return i < std::size(names) ? names[i] : fmt::format("type{}", i);
}

std::string text(const Result& r, bool gateHeld) {
  const std::string gate = r.gate == kNoGate ? std::string("none") : gateHeld ? std::string("held") : fmt::format("{}", r.gate);
  return fmt::format("intf={} vrf={} gate={} aux={} {}", r.intf, r.vrf, gate, r.aux, text(r.type));
}

std::set<NameKey> polToVniLaneOf(const Inputs& in) {
  std::set<NameKey> out;
  for (const auto& [pair, policy] : in.bindings) out.insert(NameKey{policy, pair});
  return out;
}

std::map<Pair, PairConfig> statusConfigOf(const Inputs& in, const std::set<NameKey>& polToVniLane) {
  std::map<Pair, PairConfig> out;
  for (const NameKey& bound : polToVniLane) {
    PairConfig& pairCfg = out[bound.pair];
    const auto policy = in.policies.find(bound.name);
    if (policy == in.policies.end() || policy->second.empty()) continue;
    auto& entries = pairCfg.policies[bound.name];
    for (const auto& [seq, group] : policy->second) {
      entries[seq] = NameKey{group, bound.pair};
      const auto options = in.groups.find(group);
      if (options == in.groups.end()) continue;
      auto& groupOptions = pairCfg.groups[group];
      for (const Option& o : options->second) groupOptions.insert(OptionKey{o, bound.pair});
    }
  }
  return out;
}

std::map<NameKey, std::set<NameKey>> groupToPolicyOf(const std::map<Pair, PairConfig>& statusConfig) {
  std::map<NameKey, std::set<NameKey>> out;
  for (const auto& [pair, cfg] : statusConfig) {
    for (const auto& [policy, entries] : cfg.policies) {
      for (const auto& [seq, group] : entries) {
        if (!group.name.empty()) out[group].insert(NameKey{policy, pair});
      }
    }
  }
  return out;
}

std::set<int> vniDefaultRouteOf(const Inputs& in) {
  std::set<int> out;
  if (!in.hasVxlanInfo) return out;
  for (uint32_t vrf : in.defaultRouteVrfs) {
    const auto vni = in.vrfIdToVni.find(vrf);
    if (vni == in.vrfIdToVni.end() || vni->second == kNoVni || (vni->second & 0xFFFF) > 255) continue;
    out.insert(static_cast<int>(vni->second & 0xFFFF));
  }
  return out;
}

std::set<Pair> vniLaneDefaultRouteOf(const std::set<int>& vniDefaultRoute, const std::set<NameKey>& polToVniLane) {
  std::set<Pair> out;
  for (const NameKey& bound : polToVniLane) {
    if (vniDefaultRoute.contains(bound.pair.vni)) out.insert(bound.pair);
  }
  return out;
}

bool validInterface(const Inputs& in, Pair pair, const std::string& vrf) {
  if (vrf == "default") return true;
  const auto vni = in.vrfNameToVni.find(vrf);
  const uint32_t bound = vni == in.vrfNameToVni.end() ? kNoVni : vni->second;
  return bound == static_cast<uint32_t>(pair.vni);
}

namespace {

// The results a local option may hold. Without a connection valid for the pair there is no
// interface; an interface the engine does not have gets no gate but stays in the result, so
// that its return finds the option. With an InternetExit module an existing interface always
// has a gate; without one, the option keeps a gate it already held or has none.
std::vector<Result> localResults(const Inputs& in, const OptionKey& key) {
  const auto conn = in.connections.find(key.option.name);
  if (conn == in.connections.end() || !validInterface(in, key.pair, conn->second.vrf)) {
    return {Result{"", "default", kNoGate, kNoGate, ResultType::none}};
  }
  const Connection& c = conn->second;
  const Result noGate{c.intf, c.vrf, kNoGate, c.num, ResultType::none};
  if (!in.interfaces.contains(c.intf)) return {noGate};
  // The gate's number is the gate manager's; 0 stands for "some gate" (compared as "held").
  const Result gated{c.intf, c.vrf, 0, c.num, c.vrf == "default" ? ResultType::localDefaultVrf : ResultType::localOtherVrf};
  if (in.internetExitModule) return {gated};
  return {noGate, gated};
}

Result remoteResult(const Inputs& in, const OptionKey& key) {
  const auto response = in.responses.find(NameKey{key.option.name, key.pair});
  if (response == in.responses.end()) return Result{"", "default", kNoGate, 0, ResultType::none};
  return Result{"", "default", kNoGate, response->second, ResultType::remoteResolved};
}

Result defaultRouteResult(const OptionKey& key, const std::set<Pair>& vniLaneDefaultRoute) {
  if (vniLaneDefaultRoute.contains(key.pair)) return Result{"", "default", 0, kNoGate, ResultType::fibDefaultRoute};
  return Result{"", "default", kNoGate, kNoGate, ResultType::none};
}

}  // namespace

std::map<OptionKey, ExpectedOption> expectedOptions(const Inputs& in, const std::map<Pair, PairConfig>& statusConfig,
                                                    const std::set<Pair>& vniLaneDefaultRoute) {
  std::map<OptionKey, ExpectedOption> out;
  for (const auto& [pair, cfg] : statusConfig) {
    for (const auto& [group, options] : cfg.groups) {
      for (const OptionKey& k : options) out[k].groups.insert(NameKey{group, pair});
    }
  }
  for (auto& [k, expected] : out) {
    switch (k.option.type) {
      case ExitType::local: expected.acceptable = localResults(in, k); break;
      case ExitType::remote: expected.acceptable = {remoteResult(in, k)}; break;
      case ExitType::fibDefault: expected.acceptable = {defaultRouteResult(k, vniLaneDefaultRoute)}; break;
    }
  }
  return out;
}

std::set<NameKey> resolverRequestsOf(const std::map<OptionKey, OptionStatus>& exitOptions) {
  std::set<NameKey> out;
  for (const auto& [k, status] : exitOptions) {
    if (k.option.type == ExitType::remote) out.insert(NameKey{k.option.name, k.pair});
  }
  return out;
}

std::map<NameKey, std::map<OptionKey, Result>> exitGroupsOf(const std::map<Pair, PairConfig>& statusConfig,
                                                            const std::map<OptionKey, OptionStatus>& exitOptions) {
  std::map<NameKey, std::map<OptionKey, Result>> out;
  for (const auto& [pair, cfg] : statusConfig) {
    for (const auto& [group, options] : cfg.groups) {
      const NameKey groupKey{group, pair};
      for (const OptionKey& k : options) {
        const auto status = exitOptions.find(k);
        if (status == exitOptions.end() || !status->second.groups.contains(groupKey)) continue;
        if (status->second.result.type == ResultType::none) continue;
        out[groupKey][k] = status->second.result;
      }
    }
  }
  return out;
}

NameKey winnerOf(const std::map<double, NameKey>& entries, const std::map<NameKey, std::map<OptionKey, Result>>& exitGroups) {
  for (const auto& [seq, group] : entries) {
    const auto status = exitGroups.find(group);
    if (status != exitGroups.end() && !status->second.empty()) return group;
  }
  return NameKey{};
}

std::map<NameKey, PolicyState> policiesOf(const std::map<Pair, PairConfig>& statusConfig,
                                          const std::map<NameKey, std::map<OptionKey, Result>>& exitGroups) {
  std::map<NameKey, PolicyState> out;
  for (const auto& [pair, cfg] : statusConfig) {
    for (const auto& [policy, entries] : cfg.policies) {
      const NameKey winner = winnerOf(entries, exitGroups);
      if (winner.name.empty()) continue;
      PolicyState& state = out[NameKey{policy, pair}];
      state.winner = winner;
      for (const auto& [k, r] : exitGroups.at(winner)) state.exitIntf.insert(r);
    }
  }
  return out;
}

std::set<std::pair<Pair, int>> notificationsOf(const std::map<NameKey, PolicyState>& policies) {
  std::set<std::pair<Pair, int>> out;
  for (const auto& [policy, state] : policies) {
    for (const Result& r : state.exitIntf) {
      if (r.type == ResultType::remoteResolved) out.insert({policy.pair, static_cast<int>(r.aux & 0xFFFF)});
    }
  }
  return out;
}

std::set<ExitEntry> exitTableOf(const std::map<NameKey, PolicyState>& policies) {
  std::set<ExitEntry> out;
  for (const auto& [policy, state] : policies) {
    for (const Result& r : state.exitIntf) {
      Result sent = r;
      sent.vrf = "default";  // the exit-info command carries no VRF
      out.insert(ExitEntry{policy.pair, sent});
    }
  }
  return out;
}

Outputs referenceOf(const Inputs& in) {
  Outputs out;
  out.polToVniLane = polToVniLaneOf(in);
  out.statusConfig = statusConfigOf(in, out.polToVniLane);
  out.groupToPolicy = groupToPolicyOf(out.statusConfig);
  out.vniDefaultRoute = vniDefaultRouteOf(in);
  out.vniLaneDefaultRoute = vniLaneDefaultRouteOf(out.vniDefaultRoute, out.polToVniLane);
  for (const auto& [k, expected] : expectedOptions(in, out.statusConfig, out.vniLaneDefaultRoute)) {
    out.exitOptions[k] = OptionStatus{expected.groups, expected.acceptable.front()};
  }
  out.resolverRequests = resolverRequestsOf(out.exitOptions);
  out.exitGroups = exitGroupsOf(out.statusConfig, out.exitOptions);
  out.policies = policiesOf(out.statusConfig, out.exitGroups);
  out.notifications = notificationsOf(out.policies);
  if (in.internetExitModule) out.exitTable = exitTableOf(out.policies);
  return out;
}

}  // namespace IeOracle
