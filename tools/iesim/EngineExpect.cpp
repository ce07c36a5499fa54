// Expectations on the default-route sets and on the data path's exit table.
#include <absl/container/btree_set.h>
#include <fmt/format.h>

#include "Orb/OrbSiEdgeModule.h"
#include "tools/iesim/ExpectSupport.h"
#include "tools/iesim/Keys.h"

namespace IeSim {

namespace {

using Entry = Orb::DataPathModel::ExitEntry;
using EntrySet = absl::btree_set<Entry>;

template <class Field>
absl::btree_set<Lane::VniId> vnisOf(const Field& values) {
  absl::btree_set<Lane::VniId> vnis;
  for (const int64_t v : values) vnis.insert(Lane::VniId(v));
  return vnis;
}

template <class Field>
absl::btree_set<Lane::VniAndLaneId> pairsOf(const Field& texts) {
  absl::btree_set<Lane::VniAndLaneId> pairs;
  for (const auto& text : texts) pairs.insert(checkedPair(text));
  return pairs;
}

Entry entryOf(const iesim::pb::ExitEntry& e) {
  return Entry{pairOf(e),
               static_cast<uint32_t>(Orb::ieGetPbResultType(checkedResultType(e.type()))),
               static_cast<uint32_t>(e.gate()), Wire::IntfId(e.intf()).value(),
               static_cast<uint32_t>(e.aux())};
}

template <class Field>
EntrySet entriesOf(const Field& entries) {
  EntrySet out;
  for (const auto& e : entries) out.insert(entryOf(e));
  return out;
}

std::string entryText(const Entry& e) { return exitEntryText(e); }

}  // namespace

void checkVniDefaultRoute(const iesim::pb::VniSetExpect& e, Checks& checks) {
  const auto& set = checks.world().vniDefRoute().defaultRoute;
  const absl::btree_set<Lane::VniId> actual(set.begin(), set.end());
  if (e.has_exactly()) checks.exactly("vniDefRoute", vnisOf(e.exactly().vni()), actual);
  for (const auto vni : vnisOf(e.contains())) {
    checks.member("vniDefRoute", actual, vni, true, fmt::format("{}", vni), setText(actual));
  }
  for (const auto vni : vnisOf(e.absent())) {
    checks.member("vniDefRoute", actual, vni, false, fmt::format("{}", vni), setText(actual));
  }
  if (e.has_changes_since_last_expect()) checks.changes("vniDefRoute", e.changes_since_last_expect());
}

void checkPairDefaultRoute(const iesim::pb::PairSetExpect& e, Checks& checks) {
  const auto& set = checks.world().vniLaneDefRoute().defaultRoute;
  const absl::btree_set<Lane::VniAndLaneId> actual(set.begin(), set.end());
  if (e.has_exactly()) checks.exactly("vniLaneDefRoute", pairsOf(e.exactly().pair()), actual);
  for (const auto pair : pairsOf(e.contains())) {
    checks.member("vniLaneDefRoute", actual, pair, true, fmt::format("{}", pair), setText(actual));
  }
  for (const auto pair : pairsOf(e.absent())) {
    checks.member("vniLaneDefRoute", actual, pair, false, fmt::format("{}", pair), setText(actual));
  }
  if (e.has_changes_since_last_expect()) {
    checks.changes("vniLaneDefRoute", e.changes_since_last_expect());
  }
}

void checkExitTable(const iesim::pb::ExitTableExpect& e, Checks& checks) {
  const auto& dp = checks.world().dataPath();
  const auto* model = dp.model();
  if (e.has_module_present()) {
    checks.result(dp.present() == e.module_present(),
                  fmt::format("module {}", e.module_present() ? "present" : "absent"),
                  fmt::format("module: expected {}, actual {}", e.module_present() ? "present" : "absent",
                              dp.present() ? "present" : "absent"));
  }
  const EntrySet actual = model ? model->exitTable() : EntrySet();
  const std::string actualText = setText(actual, entryText);
  if (e.has_exactly()) checks.exactly("exitTable", entriesOf(e.exactly().entry()), actual, entryText);
  for (const auto& entry : entriesOf(e.contains())) {
    checks.member("exitTable", actual, entry, true, entryText(entry), actualText);
  }
  for (const auto& entry : entriesOf(e.absent())) {
    checks.member("exitTable", actual, entry, false, entryText(entry), actualText);
  }
  auto count = [&](const char* what, int64_t want, uint64_t got) {
    checks.result(static_cast<uint64_t>(want) == got, fmt::format("data path: {} {}", what, got),
                  fmt::format("data path: expected {} {}, actual {}", what, want, got));
  };
  if (e.has_applied()) count("applied", e.applied(), model ? model->applied() : 0);
  if (e.has_rejected()) count("rejected", e.rejected(), model ? model->rejected() : 0);
  for (const auto& p : e.pair()) {
    const Lane::VniAndLaneId pair = checkedPair(p.at());
    EntrySet want, got;
    for (const auto& x : p.exit()) {
      want.insert(Entry{pair, static_cast<uint32_t>(Orb::ieGetPbResultType(checkedResultType(x.type()))),
                        static_cast<uint32_t>(x.gate()), x.intf().empty() ? 0 : Wire::IntfId(x.intf()).value(),
                        static_cast<uint32_t>(x.aux())});
    }
    for (const auto& x : actual) {
      if (x.vniLane == pair) got.insert(x);
    }
    checks.exactly(fmt::format("exitTable {}", pair), want, got, entryText);
  }
  if (e.has_anomalies()) {
    const auto& a = e.anomalies();
    using Kind = Orb::DataPathModel::AnomalyKind;
    auto anomaly = [&](bool given, int64_t want, Kind kind) {
      if (!given) return;
      const uint64_t got = model ? model->anomalyCount(kind) : 0;
      const auto name = Orb::anomalyKindName(kind);
      checks.result(static_cast<uint64_t>(want) == got, fmt::format("data path: {} {}", name, got),
                    fmt::format("data path: expected {} {}, actual {}{}", name, want, got,
                                model && !model->anomalies().empty()
                                    ? fmt::format(" (last: {})", model->anomalies().back().text)
                                    : std::string()));
    };
    anomaly(a.has_repeated_add(), a.repeated_add(), Kind::repeatedAdd);
    anomaly(a.has_delete_of_absent(), a.delete_of_absent(), Kind::deleteOfAbsent);
    anomaly(a.has_unknown_command(), a.unknown_command(), Kind::unknownCommand);
    anomaly(a.has_bad_argument(), a.bad_argument(), Kind::badArgument);
    anomaly(a.has_other_module(), a.other_module(), Kind::otherModule);
  }
  if (e.has_commands_since_last_expect()) checks.changes("commands", e.commands_since_last_expect());
  for (const auto& g : e.gate()) {
    const auto [gate, users] = dp.gateOf(Wire::IntfId(g.intf()));
    const bool ok = (!g.has_gate() || static_cast<uint32_t>(g.gate()) == gate) &&
                    (!g.has_users() || static_cast<uint64_t>(g.users()) == users);
    const std::string want = fmt::format("{}{}", g.has_gate() ? fmt::format(" gate {}", g.gate()) : "",
                                         g.has_users() ? fmt::format(" users {}", g.users()) : "");
    checks.result(ok, fmt::format("gate of {}:{}", g.intf(), want),
                  fmt::format("gate of {}: expected{}, actual gate {} users {}", g.intf(), want, gate, users));
  }
}

}  // namespace IeSim
