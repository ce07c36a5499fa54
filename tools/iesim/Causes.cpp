// Why a step changed exit groups, policy statuses and the data path, told from what the step
// itself shows: the exit-group results that changed in it, each with the input that decides the
// option's result now (OptionReason.h). A policy re-evaluated for another reason (its
// configuration, the reverse map, a start's reconciliation) is said to be so, without guessing
// further.
#include <absl/container/flat_hash_set.h>
#include <fmt/format.h>

#include <algorithm>
#include <span>
#include <utility>
#include <vector>

#include "tools/iesim/OptionReason.h"
#include "tools/iesim/Steps.h"

namespace IeSim {

namespace {

using OrbInternetExit::GroupVniLaneKey;
using OrbInternetExit::PolicyVniLaneKey;

// The status configuration of `p` when it lists groups; null when it has none any more.
const OrbInternetExit::PolicyStatusConfig* listingConfigOf(const World& world, const PolicyVniLaneKey& p) {
  const auto* cfg = world.statusConfig().statusConfig.lookup(p.vniLaneId);
  const auto* policy = cfg == nullptr ? nullptr : cfg->policyStatusConfig.lookup(p);
  return policy == nullptr || policy->exitGroup.empty() ? nullptr : policy;
}

bool lists(const OrbInternetExit::PolicyStatusConfig& policy, const GroupVniLaneKey& group) {
  return std::any_of(policy.exitGroup.begin(), policy.exitGroup.end(),
                     [&](const auto& entry) { return entry.second->exitGroup.get() == group; });
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
  // the changes sorted by pair (in the step's order within one) keep a step that touches a
  // million pairs at n log n.
  std::vector<std::pair<Lane::VniAndLaneId, size_t>> byPair;
  byPair.reserve(groups.size());
  for (size_t i = 0; i < groups.size(); ++i) byPair.emplace_back(groups[i].group.vniLaneId, i);
  std::sort(byPair.begin(), byPair.end());
  const auto changesOf = [&](Lane::VniAndLaneId pair) {
    auto first = std::lower_bound(byPair.begin(), byPair.end(), std::make_pair(pair, size_t{0}));
    auto last = first;
    while (last != byPair.end() && last->first == pair) ++last;
    return std::span(first, last);
  };
  absl::flat_hash_set<Lane::VniAndLaneId> policyPairs;
  std::vector<size_t> changed;  // the relevant group changes of one policy
  for (const auto& p : policies) {
    policyPairs.insert(p.vniLaneId);
    const auto* listing = listingConfigOf(world, p);
    changed.clear();
    for (const auto& [pairOfChange, i] : changesOf(p.vniLaneId)) {
      // Only the pair's own changes are visited; without a configuration any more, every group
      // of the pair may have been the policy's.
      const bool relevant = listing == nullptr || lists(*listing, groups[i].group);
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
        why = listing == nullptr ? "its configuration went"
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
