// Why a step changed exit groups, policy statuses and the data path, told from what the step
// itself shows: the exit-group results that changed in it, each with the input that decides the
// option's result now (OptionReason.h). A policy re-evaluated for another reason (its
// configuration, the reverse map, a start's reconciliation) is said to be so, without guessing
// further.
#include <absl/container/flat_hash_map.h>
#include <absl/container/flat_hash_set.h>
#include <fmt/format.h>

#include <algorithm>

#include "tools/iesim/OptionReason.h"
#include "tools/iesim/Steps.h"

namespace IeSim {

namespace {

using OrbInternetExit::GroupVniLaneKey;
using OrbInternetExit::PolicyVniLaneKey;

// The groups that `p`'s status configuration lists; empty when it has none any more.
std::vector<GroupVniLaneKey> groupsOf(const World& world, const PolicyVniLaneKey& p) {
  std::vector<GroupVniLaneKey> groups;
  const auto* cfg = world.statusConfig().statusConfig.lookup(p.vniLaneId);
  const auto* policy = cfg == nullptr ? nullptr : cfg->policyStatusConfig.lookup(p);
  if (policy == nullptr) return groups;
  for (const auto& [seq, entry] : policy->exitGroup) groups.push_back(entry->exitGroup.get());
  return groups;
}

// "now noResult: interface eth1 absent", "now remoteResolved: resolver answer peer@10.1 = 42",
// or "no status now" for an option that went.
std::string optionNow(const World& world, const OrbInternetExit::ExitVniLaneKey& o) {
  const auto* status = world.exitOptions().exitOptionStatus.lookup(o);
  if (status == nullptr) return "no status now";
  return fmt::format("now {}: {}", status->resultExitIntf.get().resultType.name(), deriveOption(world, o).reason);
}

const char* verb(char op) { return op == '+' ? "gained" : op == '-' ? "lost" : "changed"; }

}  // namespace

Causes causeLines(const World& world, const std::vector<ExitGroupWatch::Touch>& groups,
                  const std::vector<PolicyVniLaneKey>& policies,
                  const std::vector<Lane::VniAndLaneId>& commandPairs, const CauseFilter& keep) {
  Causes out;
  // Counts a line about `pair` and formats it (`text()`) only when `keep` asks for it.
  const auto line = [&](const Lane::VniAndLaneId& pair, auto&& text) {
    if (out.count++ < keep.first || (keep.about && keep.about(pair))) out.lines.push_back({pair, text()});
  };
  std::vector<bool> told(groups.size(), false);  // the group changes a policy's line names
  // Group keys are scoped to their pair, so a policy's groups are among its own pair's changes:
  // indexing them by pair keeps a step that touches a million pairs linear.
  absl::flat_hash_map<Lane::VniAndLaneId, std::vector<size_t>> groupsByPair;
  for (size_t i = 0; i < groups.size(); ++i) groupsByPair[groups[i].group.vniLaneId].push_back(i);
  absl::flat_hash_set<Lane::VniAndLaneId> policyPairs;
  std::vector<size_t> changed;  // the relevant group changes of one policy
  for (const auto& p : policies) {
    policyPairs.insert(p.vniLaneId);
    const auto listed = groupsOf(world, p);
    static const std::vector<size_t> kNoChange;
    const auto ofPair = groupsByPair.find(p.vniLaneId);
    changed.clear();
    for (size_t i : ofPair == groupsByPair.end() ? kNoChange : ofPair->second) {
      // Only the pair's own changes are visited; without a configuration any more, every group
      // of the pair may have been the policy's.
      const bool relevant = listed.empty() ||
                            std::find(listed.begin(), listed.end(), groups[i].group) != listed.end();
      if (!relevant) continue;
      told[i] = true;
      changed.push_back(i);
    }
    line(p.vniLaneId, [&] {
      std::string why;
      for (size_t i : changed) {
        const auto& t = groups[i];
        why += fmt::format("{}{} {} {} ({})", why.empty() ? "" : "; ", t.group.groupName, verb(t.op),
                           t.option.exitKey, optionNow(world, t.option));
      }
      if (why.empty()) {
        why = listed.empty() ? "its configuration went"
                             : "no result of its groups changed: its configuration, the reverse map or "
                               "a start re-evaluated it";
      }
      return fmt::format("{} <- {}", p, why);
    });
  }
  // Results of groups that no changed policy lists (no policy uses the group, or its policies
  // kept their status).
  for (size_t i = 0; i < groups.size(); ++i) {
    const auto& t = groups[i];
    if (told[i]) continue;
    line(t.group.vniLaneId, [&] {
      return fmt::format("{} {} {} ({})", t.group, verb(t.op), t.option.exitKey, optionNow(world, t.option));
    });
  }
  for (const auto& pair : commandPairs) {
    if (policyPairs.contains(pair)) continue;
    line(pair, [&] {
      return fmt::format("{} commands: no policy status of the pair changed; the step itself sent them", pair);
    });
  }
  return out;
}

}  // namespace IeSim
