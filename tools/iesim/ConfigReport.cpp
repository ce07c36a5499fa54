// The end-state tables of the bindings, the status configuration and the reverse map.
#include <absl/container/btree_map.h>
#include <absl/container/btree_set.h>
#include <fmt/format.h>

#include "tools/iesim/CutList.h"
#include "tools/iesim/Report.h"
#include "tools/iesim/Watch.h"

namespace IeSim {

namespace {

using OrbInternetExit::GroupVniLaneKey;
using OrbInternetExit::IeStatusConfig;

// A group as an entry of `pair` names it: without the pair when it is the pair's own.
std::string groupText(const GroupVniLaneKey& group, Lane::VniAndLaneId pair) {
  if (group.vniLaneId == pair) return group.groupName.str();
  return fmt::format("{}", group);
}

std::string optionsText(const IeStatusConfig& cfg, const GroupVniLaneKey& group, size_t optionsShown) {
  const auto* g = cfg.exitGroupStatusConfig.lookup(group);
  if (g == nullptr) return "(no such group)";
  return cutList(
      g->exitOption,
      [&](const auto& option) {
        return option.vniLaneId == cfg.vniLaneId() ? fmt::format("{}", option.exitKey)
                                                   : fmt::format("{}@{}", option.exitKey, option.vniLaneId);
      },
      "(no option)", optionsShown);
}

}  // namespace

std::vector<std::string> pairStatusLines(const IeStatusConfig& cfg, size_t optionsShown) {
  std::vector<std::string> lines;
  absl::btree_set<GroupVniLaneKey> named;
  for (const auto& [polKey, policy] : cfg.policyStatusConfig) {
    lines.push_back(polKey.vniLaneId == cfg.vniLaneId()
                        ? fmt::format("policy {}", polKey.policyName)
                        : fmt::format("policy {}", polKey));
    for (const auto& [seqNo, entry] : policy->exitGroup) {
      const GroupVniLaneKey& group = entry->exitGroup.get();
      named.insert(group);
      lines.push_back(fmt::format("{:>4} -> {:<12} {}", seqText(seqNo),
                                  groupText(group, cfg.vniLaneId()), optionsText(cfg, group, optionsShown)));
    }
  }
  if (cfg.policyStatusConfig.empty()) lines.push_back("no policy");
  for (const auto& [group, g] : cfg.exitGroupStatusConfig) {
    if (named.contains(group)) continue;
    lines.push_back(fmt::format("group {} (no entry names it): {}", groupText(group, cfg.vniLaneId()),
                                optionsText(cfg, group, optionsShown)));
  }
  return lines;
}

void Report::pairTable(const World& world) {
  const auto& lanes = world.lanes();
  const auto& output = world.output();
  // pair -> (bound policy, policies of the output's keys)
  struct Row {
    std::string bound;
    std::string keys;
  };
  absl::btree_map<Lane::VniAndLaneId, Row> rows;
  for (const auto& [pair, policy] : lanes.laneToIEMap) rows[pair].bound = policy.str();
  for (const auto& key : output.polToVniLane) {
    auto& keys = rows[key.vniLaneId].keys;
    keys += fmt::format("{}{}", keys.empty() ? "" : ",", key.policyName);
  }
  fmt::print(out_, "pairs at the end ({} bound, {} in polToVniLane):\n",
             lanes.laneToIEMap.size(), plural(output.polToVniLane.size(), "key"));
  if (rows.empty()) {
    fmt::print(out_, "  (none)\n\n");
    return;
  }
  fmt::print(out_, "  {:<10} {:<20} {:<20} {}\n", "pair", "bound policy", "polToVniLane",
             "default route");
  size_t shown = 0;
  for (const auto& [pair, row] : rows) {
    if (shown++ == kRowsShown) {
      fmt::print(out_, "  ... {} more pairs\n", rows.size() - kRowsShown);
      break;
    }
    const std::string bound = row.bound.empty() ? "-" : row.bound;
    const std::string keys = row.keys.empty() ? "-" : row.keys;
    const bool route = world.vniLaneDefRoute().defaultRoute.contains(pair);
    fmt::print(out_, "  {:<10} {:<20} {:<20} {}{}\n", fmt::format("{}", pair), bound, keys,
               route ? "yes" : "-", bound == keys ? "" : "   (differs)");
  }
  fmt::print(out_, "\n");
}

void Report::statusConfigTable(const World& world) {
  const auto& dir = world.statusConfig();
  fmt::print(out_, "status configuration at the end ({} pair{}):\n", dir.statusConfig.size(),
             dir.statusConfig.size() == 1 ? "" : "s");
  if (dir.statusConfig.empty()) fmt::print(out_, "  (none)\n");
  size_t shown = 0;
  for (const auto& [pair, cfg] : dir.statusConfig) {
    if (shown++ == kRowsShown) {
      fmt::print(out_, "  ... {} more pairs\n", dir.statusConfig.size() - kRowsShown);
      break;
    }
    const auto lines = pairStatusLines(*cfg, kRowsShown);
    for (size_t i = 0; i < lines.size(); ++i) {
      fmt::print(out_, "  {:<10} {}\n", i == 0 ? fmt::format("{}", pair) : std::string(), lines[i]);
    }
  }
  fmt::print(out_, "\n");
}

void Report::groupToPolicyTable(const World& world) {
  const auto& map = world.groupToPolicy().groupToPolicy;
  fmt::print(out_, "groupToPolicy at the end ({} group{}):\n", map.size(), map.size() == 1 ? "" : "s");
  if (map.empty()) fmt::print(out_, "  (none)\n");
  size_t shown = 0;
  for (const auto& [group, entry] : map) {
    if (shown++ == kRowsShown) {
      fmt::print(out_, "  ... {} more groups\n", map.size() - kRowsShown);
      break;
    }
    fmt::print(out_, "  {:<20} {}\n", fmt::format("{}", group), cutMembers(entry->policy, ""));
  }
  fmt::print(out_, "\n");
}

}  // namespace IeSim
