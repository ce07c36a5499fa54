// Expectations on the status configuration and on the reverse map.
#include <absl/container/btree_map.h>
#include <absl/container/btree_set.h>
#include <fmt/format.h>

#include "tools/iesim/ExpectSupport.h"
#include "tools/iesim/Keys.h"

namespace IeSim {

namespace {

using OrbInternetExit::ExitKey;
using OrbInternetExit::GroupVniLaneKey;
using OrbInternetExit::IeStatusConfig;
using OrbInternetExit::PolicyVniLaneKey;

// One pair's status configuration in a form both sides can be written in and compared.
// Names are given without the pair when it is the pair's own.
struct PairView {
  absl::btree_map<std::string, absl::btree_map<double, std::string>> policies;
  absl::btree_map<std::string, absl::btree_set<ExitKey>> groups;

  friend bool operator==(const PairView&, const PairView&) = default;

  // "policy Gold: 10 -> Wan, 20 -> Backup; group Backup: remoteExit:peer; group Wan: ...".
  std::string text() const {
    std::string out;
    auto part = [&out](const std::string& s) { out += (out.empty() ? "" : "; ") + s; };
    for (const auto& [policy, entries] : policies) {
      std::string list;
      for (const auto& [seqNo, group] : entries) {
        list += fmt::format("{}{} -> {}", list.empty() ? "" : ", ", seqText(seqNo), group);
      }
      part(fmt::format("policy {}: {}", policy, list.empty() ? "no entry" : list));
    }
    if (policies.empty()) part("no policy");
    for (const auto& [group, options] : groups) {
      part(fmt::format("group {}: {}", group, options.empty() ? "no option" : setText(options)));
    }
    return out;
  }
};

template <class Key>
std::string nameIn(const Key& key, const std::string& name, Lane::VniAndLaneId pair) {
  return key.vniLaneId == pair ? name : fmt::format("{}", key);
}

PairView viewOf(const IeStatusConfig& cfg) {
  PairView view;
  const auto pair = cfg.vniLaneId();
  for (const auto& [polKey, policy] : cfg.policyStatusConfig) {
    auto& entries = view.policies[nameIn(polKey, polKey.policyName.str(), pair)];
    for (const auto& [seqNo, entry] : policy->exitGroup) {
      const GroupVniLaneKey& group = entry->exitGroup.get();
      entries[seqNo] = nameIn(group, group.groupName.str(), pair);
    }
  }
  for (const auto& [groupKey, group] : cfg.exitGroupStatusConfig) {
    auto& options = view.groups[nameIn(groupKey, groupKey.groupName.str(), pair)];
    for (const auto& option : group->exitOption) options.insert(option.exitKey);
  }
  return view;
}

PairView viewOf(const iesim::pb::PairStatus& want) {
  PairView view;
  if (want.has_policy()) {
    auto& entries = view.policies[want.policy()];
    for (const auto& e : want.entry()) entries[e.seq()] = e.group();
  } else if (want.entry_size() != 0) {
    // Entries without a policy name cannot match; show them under a name no policy has.
    auto& entries = view.policies["(no policy named)"];
    for (const auto& e : want.entry()) entries[e.seq()] = e.group();
  }
  for (const auto& g : want.group()) {
    auto& options = view.groups[g.name()];
    for (const auto& o : g.option()) options.insert(checkedExitOption(o));
  }
  return view;
}

template <class Field>
absl::btree_set<Lane::VniAndLaneId> pairsOf(const Field& texts) {
  absl::btree_set<Lane::VniAndLaneId> pairs;
  for (const auto& text : texts) pairs.insert(checkedPair(text));
  return pairs;
}

template <class Field>
absl::btree_set<GroupVniLaneKey> groupsOf(const Field& texts) {
  absl::btree_set<GroupVniLaneKey> groups;
  for (const auto& text : texts) groups.insert(checkedGroupKey(text));
  return groups;
}

}  // namespace

void checkStatusConfig(const iesim::pb::StatusConfigExpect& e, Checks& checks) {
  const auto& dir = checks.world().statusConfig();
  for (const auto& want : e.pair()) {
    const auto pair = checkedPair(want.at());
    const PairView expected = viewOf(want);
    const IeStatusConfig* cfg = dir.statusConfig.lookup(pair);
    if (cfg == nullptr) {
      checks.result(false, {},
                    fmt::format("statusConfig {}: expected {}, actual no status configuration",
                                pair, expected.text()));
      continue;
    }
    const PairView actual = viewOf(*cfg);
    checks.result(actual == expected, fmt::format("statusConfig {}: {}", pair, actual.text()),
                  fmt::format("statusConfig {}: expected {}, actual {}", pair, expected.text(),
                              actual.text()));
  }
  absl::btree_set<Lane::VniAndLaneId> actualPairs;
  for (const auto& [pair, cfg] : dir.statusConfig) actualPairs.insert(pair);
  if (e.has_pairs()) checks.exactly("statusConfig pairs", pairsOf(e.pairs().pair()), actualPairs);
  for (const auto& pair : pairsOf(e.absent())) {
    checks.member("statusConfig", actualPairs, pair, false, fmt::format("{}", pair),
                  setText(actualPairs));
  }
  if (e.has_changes_since_last_expect()) checks.changes("statusConfig", e.changes_since_last_expect());
}

void checkGroupToPolicy(const iesim::pb::GroupToPolicyExpect& e, Checks& checks) {
  const auto& map = checks.world().groupToPolicy().groupToPolicy;
  size_t members = 0;
  absl::btree_set<GroupVniLaneKey> actualGroups;
  for (const auto& [group, entry] : map) {
    actualGroups.insert(group);
    members += entry->policy.size();
  }
  for (const auto& g : e.group()) {
    const GroupVniLaneKey group = checkedGroupKey(g.group());
    absl::btree_set<PolicyVniLaneKey> want, actual;
    for (const auto& p : g.policy()) want.insert(checkedPolicyKey(p));
    if (const auto* entry = map.lookup(group)) actual.insert(entry->policy.begin(), entry->policy.end());
    checks.exactly(fmt::format("groupToPolicy {}", group), want, actual);
  }
  if (e.has_groups()) checks.exactly("groupToPolicy groups", groupsOf(e.groups().group()), actualGroups);
  for (const auto& group : groupsOf(e.absent())) {
    checks.member("groupToPolicy", actualGroups, group, false, fmt::format("{}", group),
                  setText(actualGroups));
  }
  if (e.has_size()) {
    checks.result(members == static_cast<uint64_t>(e.size()),
                  fmt::format("groupToPolicy has {} (group, policy) members", e.size()),
                  fmt::format("groupToPolicy: expected {} (group, policy) members, actual {}",
                              e.size(), members));
  }
  if (e.has_changes_since_last_expect()) checks.changes("groupToPolicy", e.changes_since_last_expect());
}

}  // namespace IeSim
