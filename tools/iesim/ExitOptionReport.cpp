// The end-state tables of the exit options, the resolver's and connections' state, the exit
// groups, the policy statuses with the notifications, and the gates.
#include <absl/container/btree_map.h>
#include <absl/container/btree_set.h>
#include <fmt/format.h>

#include "tools/iesim/CutList.h"
#include "tools/iesim/Report.h"
#include "tools/iesim/Watch.h"

namespace IeSim {

namespace {

template <class Set, class Text>
std::string listText(const Set& set, Text text) {
  return cutList(set, text);
}

}  // namespace

void Report::exitOptionTable(const World& world) {
  const auto& options = world.exitOptions().exitOptionStatus;
  fmt::print(out_, "exit options at the end ({}):\n", options.size());
  size_t shown = 0;
  for (const auto& [key, status] : options) {
    if (shown++ == kRowsShown) {
      fmt::print(out_, "  ... {} more options\n", options.size() - kRowsShown);
      break;
    }
    fmt::print(out_, "  {:<28} {:<16} {}\n", fmt::format("{}", key),
               listText(status->group, [](const auto& g) { return g.groupName.str(); }),
               resultText(status->resultExitIntf.get()));
  }
  const auto& requests = world.requests().resolverRequest;
  fmt::print(out_, "  {:<28} {}\n", "resolver requests",
             listText(requests, [](const auto& k) { return fmt::format("{}", k); }));
  fmt::print(out_, "  {:<28} {}\n", "resolver responses",
             listText(world.responses().resolverResponse, [](const auto& kv) {
               return fmt::format("{}={}", kv.first, kv.second.remoteSvcGroup);
             }));
  fmt::print(out_, "  {:<28} {}\n\n", "connections",
             listText(world.connections().connection, [](const auto& kv) {
               return fmt::format("{} -> {}", kv.first, kv.second->resultConnIntf.get());
             }));
}

void Report::exitGroupTable(const World& world) {
  const auto& groups = world.exitGroups().exitGroupStatus;
  fmt::print(out_, "exit groups up at the end ({}):\n", groups.size());
  size_t shown = 0;
  for (const auto& [key, status] : groups) {
    if (shown++ == kRowsShown) {
      fmt::print(out_, "  ... {} more groups\n", groups.size() - kRowsShown);
      break;
    }
    size_t results = 0;
    for (const auto& [option, r] : status->result) {
      if (results++ == kRowsShown) {
        fmt::print(out_, "  {:<16} ... {} more results\n", fmt::format("{}", key), status->result.size() - kRowsShown);
        break;
      }
      fmt::print(out_, "  {:<16} {:<20} {}\n", fmt::format("{}", key), fmt::format("{}", option.exitKey),
                 resultText(r));
    }
  }
  fmt::print(out_, "\n");
}

void Report::policyTable(const World& world) {
  const auto& policies = world.policies().policyStatus;
  fmt::print(out_, "policies at the end ({} with a status):\n", policies.size());
  size_t shown = 0;
  for (const auto& [key, status] : policies) {
    if (shown++ == kRowsShown) {
      fmt::print(out_, "  ... {} more policies\n", policies.size() - kRowsShown);
      break;
    }
    fmt::print(out_, "  {:<16} wins {:<10} {}\n", fmt::format("{}", key), status->winningExitGroup.get().groupName,
               listText(status->exitIntf, [](const auto& r) { return resultText(r); }));
  }
  size_t without = 0;
  for (const auto& k : world.output().polToVniLane) {
    if (policies.contains(k)) continue;
    if (without++ < kRowsShown) fmt::print(out_, "  {:<16} no status (no group has a result)\n", fmt::format("{}", k));
  }
  if (without > kRowsShown) fmt::print(out_, "  ... {} more policies without a status\n", without - kRowsShown);
  fmt::print(out_, "  {:<16} {}\n\n", "in use",
             listText(world.notifications().svcNotification, [](const auto& k) { return fmt::format("{}", k); }));
}

void Report::gateTable(const World& world) {
  const auto& dp = world.dataPath();
  if (dp.internetExit() == nullptr) return;
  // The gate manager answers per interface: ask it about every interface the scenario can have
  // given a gate to.
  absl::btree_set<Wire::IntfId> intfs;
  for (const auto& [intf, e] : world.orbcsd().l3Intf) intfs.insert(intf);
  for (const auto& [name, c] : world.connections().connection) intfs.insert(c->resultConnIntf.get().intfId);
  absl::btree_map<Wire::IntfId, std::vector<std::string>> users;
  for (const auto& [key, status] : world.exitOptions().exitOptionStatus) {
    const auto& r = status->resultExitIntf.get();
    if (!r.intfId.valid()) continue;
    intfs.insert(r.intfId);
    if (r.gateId != OrbInternetExit::ExitIntfResult::noGate) users[r.intfId].push_back(fmt::format("{}", key));
  }
  if (const auto* model = dp.model()) {
    for (const auto& e : model->exitTable()) {
      if (auto intf = Wire::IntfId::fromValue(e.intfId)) intfs.insert(*intf);
    }
  }
  std::vector<std::string> rows;
  for (const auto& intf : intfs) {
    const auto [gate, count] = dp.gateOf(intf);
    if (gate == OrbInternetExit::ExitIntfResult::noGate) continue;
    const auto it = users.find(intf);
    rows.push_back(fmt::format("  {:<12} gate {:<4} users {:<4} options {}", intf.name(), gate, count,
                               it == users.end() ? std::string("(none)") : listText(it->second, [](const auto& s) { return s; })));
  }
  fmt::print(out_, "gates at the end ({} held on module \"{}\"):\n", rows.size(), dp.module()->name());
  for (size_t i = 0; i < rows.size() && i < kRowsShown; ++i) fmt::print(out_, "{}\n", rows[i]);
  if (rows.size() > kRowsShown) fmt::print(out_, "  ... {} more gates\n", rows.size() - kRowsShown);
  fmt::print(out_, "\n");
}

}  // namespace IeSim
