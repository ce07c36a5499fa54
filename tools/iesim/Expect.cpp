#include "tools/iesim/Expect.h"

#include <absl/container/btree_set.h>
#include <fmt/format.h>

#include "tools/iesim/ExpectSupport.h"
#include "tools/iesim/Keys.h"
#include "tools/iesim/Report.h"

namespace IeSim {

namespace {

using OrbInternetExit::PolicyVniLaneKey;
using KeySet = absl::btree_set<PolicyVniLaneKey>;

template <class Field>
KeySet keysOf(const Field& texts) {
  KeySet keys;
  for (const auto& text : texts) keys.insert(checkedPolicyKey(text));
  return keys;
}

void checkPolToVniLane(const iesim::pb::PolToVniLaneExpect& e, Checks& checks) {
  const auto& set = checks.world().output().polToVniLane;
  const KeySet actual(set.begin(), set.end());
  const std::string actualText = setText(actual);
  if (e.has_exactly()) checks.exactly("polToVniLane", keysOf(e.exactly().key()), actual);
  for (const auto& key : keysOf(e.contains())) {
    checks.member("polToVniLane", actual, key, true, fmt::format("{}", key), actualText);
  }
  for (const auto& key : keysOf(e.absent())) {
    checks.member("polToVniLane", actual, key, false, fmt::format("{}", key), actualText);
  }
  if (e.has_size()) {
    checks.result(set.size() == static_cast<uint64_t>(e.size()),
                  fmt::format("polToVniLane has {}", plural(static_cast<size_t>(e.size()), "key")),
                  fmt::format("polToVniLane: expected {}, actual {}: {}", plural(static_cast<size_t>(e.size()), "key"),
                              set.size(), actualText));
  }
  if (e.has_changes_since_last_expect()) checks.changes("polToVniLane", e.changes_since_last_expect());
}

void flag(Checks& checks, const char* what, bool want, bool actual) {
  checks.result(want == actual, fmt::format("sm {}{}", want ? "" : "not ", what),
                fmt::format("sm: expected {} {}, actual {} ({})", what, want, actual,
                            checks.world().smState()));
}

void checkSm(const iesim::pb::SmExpect& e, Checks& checks) {
  if (e.has_ready()) flag(checks, "ready", e.ready(), checks.world().smsReady());
  if (e.has_idle()) flag(checks, "idle", e.idle(), checks.world().smsIdle());
}

}  // namespace

ExpectOutcome checkExpect(const iesim::pb::Expect& expect, const World& world) {
  Checks checks(world);
  using E = iesim::pb::Expect;
  if (expect.has_pol_to_vni_lane()) {
    checks.fieldIs(E::kPolToVniLaneFieldNumber);
    checkPolToVniLane(expect.pol_to_vni_lane(), checks);
  }
  if (expect.has_status_config()) {
    checks.fieldIs(E::kStatusConfigFieldNumber);
    checkStatusConfig(expect.status_config(), checks);
  }
  if (expect.has_group_to_policy()) {
    checks.fieldIs(E::kGroupToPolicyFieldNumber);
    checkGroupToPolicy(expect.group_to_policy(), checks);
  }
  if (expect.has_vni_default_route()) {
    checks.fieldIs(E::kVniDefaultRouteFieldNumber);
    checkVniDefaultRoute(expect.vni_default_route(), checks);
  }
  if (expect.has_pair_default_route()) {
    checks.fieldIs(E::kPairDefaultRouteFieldNumber);
    checkPairDefaultRoute(expect.pair_default_route(), checks);
  }
  if (expect.has_exit_table()) {
    checks.fieldIs(E::kExitTableFieldNumber);
    checkExitTable(expect.exit_table(), checks);
  }
  if (expect.has_exit_options()) {
    checks.fieldIs(E::kExitOptionsFieldNumber);
    checkExitOptions(expect.exit_options(), checks);
  }
  if (expect.has_resolver_requests()) {
    checks.fieldIs(E::kResolverRequestsFieldNumber);
    checkResolverRequests(expect.resolver_requests(), checks);
  }
  if (expect.has_exit_groups()) {
    checks.fieldIs(E::kExitGroupsFieldNumber);
    checkExitGroups(expect.exit_groups(), checks);
  }
  if (expect.has_policy_status()) {
    checks.fieldIs(E::kPolicyStatusFieldNumber);
    checkPolicyStatus(expect.policy_status(), checks);
  }
  if (expect.has_notifications()) {
    checks.fieldIs(E::kNotificationsFieldNumber);
    checkNotifications(expect.notifications(), checks);
  }
  if (expect.has_sm()) {
    checks.fieldIs(E::kSmFieldNumber);
    checkSm(expect.sm(), checks);
  }
  return checks.take();
}

}  // namespace IeSim
