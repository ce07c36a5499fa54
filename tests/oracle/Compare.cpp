#include "tests/oracle/Compare.h"

#include <fmt/format.h>

#include <algorithm>
#include <iterator>

#include "tests/oracle/Reference.h"

namespace IeOracle {

namespace {

std::string joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += (out.empty() ? "" : ", ") + l;
  return out;
}

Facts optionFacts(const std::map<OptionKey, OptionStatus>& options) {
  Facts out;
  for (const auto& [k, s] : options) {
    for (const auto& g : s.groups) out.insert(fmt::format("option {} in {}", text(k), text(g)));
    out.insert(fmt::format("option {} {}", text(k), text(s.result, k.option.type == ExitType::local)));
  }
  return out;
}

// The reference's option facts; of two acceptable results, the one the library holds when it
// holds one of them.
Facts optionFacts(const std::map<OptionKey, ExpectedOption>& expected, const std::map<OptionKey, OptionStatus>& actual) {
  std::map<OptionKey, OptionStatus> chosen;
  for (const auto& [k, e] : expected) {
    const bool local = k.option.type == ExitType::local;
    Result pick = e.acceptable.front();
    if (const auto a = actual.find(k); a != actual.end()) {
      for (const Result& r : e.acceptable) {
        if (text(r, local) == text(a->second.result, local)) pick = a->second.result;
      }
    }
    chosen[k] = OptionStatus{e.groups, pick};
  }
  return optionFacts(chosen);
}

// `actual`, or `expected` when more than expected is allowed and `actual` holds all of it.
Facts atLeast(const Facts& expected, const Facts& actual, bool exact) {
  if (exact || !std::includes(actual.begin(), actual.end(), expected.begin(), expected.end())) return actual;
  return expected;
}

template <class Set, class F>
Facts factsOf(const Set& set, F&& line) {
  Facts out;
  for (const auto& e : set) out.insert(line(e));
  return out;
}

}  // namespace

Facts facts(const std::set<NameKey>& polToVniLane) {
  return factsOf(polToVniLane, [](const NameKey& k) { return "bound " + text(k); });
}

Facts facts(const std::map<Pair, PairConfig>& statusConfig) {
  Facts out;
  for (const auto& [pair, cfg] : statusConfig) {
    out.insert("pair " + text(pair));
    for (const auto& [policy, entries] : cfg.policies) {
      out.insert(fmt::format("policy {}", text(NameKey{policy, pair})));
      for (const auto& [seq, group] : entries) {
        out.insert(fmt::format("entry {} {} -> {}", text(NameKey{policy, pair}), seq, text(group)));
      }
    }
    for (const auto& [group, options] : cfg.groups) {
      out.insert("group " + text(NameKey{group, pair}));
      for (const auto& k : options) out.insert(fmt::format("option {} {}", text(NameKey{group, pair}), text(k)));
    }
  }
  return out;
}

Facts facts(const std::map<NameKey, std::map<OptionKey, Result>>& exitGroups) {
  Facts out;
  for (const auto& [g, results] : exitGroups) {
    if (results.empty()) out.insert(fmt::format("group {} without results", text(g)));
    for (const auto& [k, r] : results) out.insert(fmt::format("group {} {} {}", text(g), text(k), text(r)));
  }
  return out;
}

Facts facts(const std::map<NameKey, PolicyState>& policies) {
  Facts out;
  for (const auto& [p, s] : policies) {
    out.insert(fmt::format("policy {} wins {}", text(p), text(s.winner)));
    if (s.exitIntf.empty()) out.insert(fmt::format("policy {} without interfaces", text(p)));
    for (const auto& r : s.exitIntf) out.insert(fmt::format("policy {} {}", text(p), text(r)));
  }
  return out;
}

Facts facts(const std::set<ExitEntry>& exitTable) {
  return factsOf(exitTable, [](const ExitEntry& e) { return fmt::format("exit {} {}", text(e.pair), text(e.result)); });
}

std::string diff(const Facts& expected, const Facts& actual) {
  std::vector<std::string> missing, unexpected;
  std::set_difference(expected.begin(), expected.end(), actual.begin(), actual.end(), std::back_inserter(missing));
  std::set_difference(actual.begin(), actual.end(), expected.begin(), expected.end(), std::back_inserter(unexpected));
  if (missing.empty() && unexpected.empty()) return {};
  std::string out;
  if (!missing.empty()) out += "missing {" + joined(missing) + "}";
  if (!unexpected.empty()) out += std::string(out.empty() ? "" : "; ") + "unexpected {" + joined(unexpected) + "}";
  return out;
}

std::vector<std::string> compareWithReference(const Inputs& in, const Outputs& actual, const CompareOptions& options) {
  std::vector<std::string> out;
  const auto check = [&](const char* output, const Facts& expected, const Facts& got) {
    if (auto d = diff(expected, got); !d.empty()) out.push_back(fmt::format("{}: {}", output, d));
  };
  check("polToVniLane", facts(polToVniLaneOf(in)), facts(actual.polToVniLane));
  check("statusConfig", facts(statusConfigOf(in, actual.polToVniLane)), facts(actual.statusConfig));

  const auto reverseFacts = [](const std::map<NameKey, std::set<NameKey>>& m) {
    Facts f;
    for (const auto& [g, ps] : m) {
      if (ps.empty()) f.insert(fmt::format("reverse {} without policies", text(g)));
      for (const auto& p : ps) f.insert(fmt::format("reverse {} {}", text(g), text(p)));
    }
    return f;
  };
  check("groupToPolicy", reverseFacts(groupToPolicyOf(actual.statusConfig)), reverseFacts(actual.groupToPolicy));
  check("vniDefRoute", factsOf(vniDefaultRouteOf(in), [](int v) { return fmt::format("vni {}", v); }),
        factsOf(actual.vniDefaultRoute, [](int v) { return fmt::format("vni {}", v); }));
  check("vniLaneDefRoute", factsOf(vniLaneDefaultRouteOf(actual.vniDefaultRoute, actual.polToVniLane), [](Pair p) { return text(p); }),
        factsOf(actual.vniLaneDefaultRoute, [](Pair p) { return text(p); }));
  check("exitOption", optionFacts(expectedOptions(in, actual.statusConfig, actual.vniLaneDefaultRoute), actual.exitOptions),
        optionFacts(actual.exitOptions));
  check("resolverRequest", factsOf(resolverRequestsOf(actual.exitOptions), [](const NameKey& k) { return text(k); }),
        factsOf(actual.resolverRequests, [](const NameKey& k) { return text(k); }));
  check("exitGroup", facts(exitGroupsOf(actual.statusConfig, actual.exitOptions)), facts(actual.exitGroups));
  check("policyStatus", facts(policiesOf(actual.statusConfig, actual.exitGroups)), facts(actual.policies));
  const auto notifText = [](const std::pair<Pair, int>& n) { return fmt::format("{}/{}", text(n.first), n.second); };
  if (in.internetExitModule) {
    check("svcInUse", factsOf(notificationsOf(actual.policies), notifText),
          atLeast(factsOf(notificationsOf(actual.policies), notifText), factsOf(actual.notifications, notifText),
                  options.exactNotifications));
  }

  if (in.internetExitModule != actual.exitTable.has_value()) {
    out.push_back(fmt::format("exitTable: module {} but data path {}", in.internetExitModule ? "present" : "absent",
                              actual.exitTable ? "present" : "absent"));
  } else if (actual.exitTable) {
    const Facts expected = facts(exitTableOf(actual.policies));
    check("exitTable", expected, atLeast(expected, facts(*actual.exitTable), options.exactExitTable));
  }
  return out;
}

}  // namespace IeOracle
