// Expectations on the exit groups, the policy statuses and the service in-use notifications.
#include <absl/container/btree_map.h>
#include <absl/container/btree_set.h>
#include <fmt/format.h>

#include <string>

#include "tools/iesim/ExpectSupport.h"
#include "tools/iesim/Keys.h"

namespace IeSim {

namespace {

using OrbInternetExit::ExitIntfResult;
using OrbInternetExit::ExitKey;
using OrbInternetExit::GroupVniLaneKey;
using OrbInternetExit::PolicyVniLaneKey;
using ResultSet = absl::btree_set<ExitIntfResult>;

template <class Field>
ResultSet resultsOf(const Field& results) {
  ResultSet out;
  for (const auto& r : results) out.insert(resultOf(r));
  return out;
}

std::string resultsText(const ResultSet& set) {
  return setText(set, [](const ExitIntfResult& r) { return resultText(r); });
}

template <class Field>
absl::btree_set<GroupVniLaneKey> groupKeysOf(const Field& texts) {
  absl::btree_set<GroupVniLaneKey> keys;
  for (const auto& text : texts) keys.insert(checkedGroupKey(text));
  return keys;
}

template <class Field>
absl::btree_set<PolicyVniLaneKey> policyKeysOf(const Field& texts) {
  absl::btree_set<PolicyVniLaneKey> keys;
  for (const auto& text : texts) keys.insert(checkedPolicyKey(text));
  return keys;
}

template <class Field>
absl::btree_set<LaneSvcRemoteGroup> notificationsOf(const Field& texts) {
  absl::btree_set<LaneSvcRemoteGroup> keys;
  for (const auto& text : texts) keys.insert(checkedNotificationKey(text));
  return keys;
}

// "{localExit:wan1=localDefaultVrf intf=wan1 gate=1 aux=0, ...}".
std::string groupResultsText(const absl::btree_map<ExitKey, ExitIntfResult>& results) {
  return setText(results, [](const auto& kv) { return fmt::format("{}={}", kv.first, resultText(kv.second)); });
}

void checkPolicy(const iesim::pb::PolicyStatusExpect& want, Checks& checks) {
  const PolicyVniLaneKey key = checkedPolicyKey(want.policy());
  const auto* status = checks.world().policies().policyStatus.lookup(key);
  const std::string what = fmt::format("policyStatus {}", key);
  if (status == nullptr) {
    checks.result(false, {}, fmt::format("{}: expected a status, actual none (no group of it has a result)", what));
    return;
  }
  const ResultSet actual(status->exitIntf.begin(), status->exitIntf.end());
  const std::string actualText = resultsText(actual);
  if (want.has_winning_group()) {
    const auto& wins = status->winningExitGroup.get().groupName;
    checks.result(wins == std::string_view(want.winning_group()),
                  fmt::format("{} wins {}", what, want.winning_group()),
                  fmt::format("{}: expected to win {}, actual {}", what, want.winning_group(), wins));
  }
  const auto text = [](const ExitIntfResult& r) { return resultText(r); };
  if (want.has_exactly()) checks.exactly(what, resultsOf(want.exactly().result()), actual, text);
  for (const auto& r : resultsOf(want.contains())) checks.member(what, actual, r, true, resultText(r), actualText);
  for (const auto& r : resultsOf(want.absent())) checks.member(what, actual, r, false, resultText(r), actualText);
}

}  // namespace

void checkExitGroups(const iesim::pb::ExitGroupsExpect& e, Checks& checks) {
  const auto& map = checks.world().exitGroups().exitGroupStatus;
  absl::btree_set<GroupVniLaneKey> actual;
  for (const auto& [key, status] : map) actual.insert(key);
  const std::string actualText = setText(actual);
  for (const auto& want : e.group()) {
    const GroupVniLaneKey key = checkedGroupKey(want.group());
    absl::btree_map<ExitKey, ExitIntfResult> wanted, got;
    for (const auto& r : want.result()) wanted.emplace(checkedExitOption(r.option()), resultOf(r));
    if (const auto* status = map.lookup(key)) {
      for (const auto& [o, r] : status->result) got.emplace(o.exitKey, r);
    }
    const bool ok = wanted == got;
    checks.result(ok, fmt::format("exitGroup {} is {}", key, groupResultsText(wanted)),
                  fmt::format("exitGroup {}: expected {}, actual {}", key, groupResultsText(wanted),
                              got.empty() ? std::string("down (no entry)") : groupResultsText(got)));
  }
  if (e.has_exactly()) checks.exactly("exitGroup (up)", groupKeysOf(e.exactly().group()), actual);
  for (const auto& key : groupKeysOf(e.absent())) {
    checks.member("exitGroup (up)", actual, key, false, fmt::format("{}", key), actualText);
  }
  if (e.has_changes_since_last_expect()) checks.changes("exitGroup", e.changes_since_last_expect());
}

void checkPolicyStatus(const iesim::pb::PolicyStatusesExpect& e, Checks& checks) {
  for (const auto& want : e.policy()) checkPolicy(want, checks);
  const auto& map = checks.world().policies().policyStatus;
  absl::btree_set<PolicyVniLaneKey> actual;
  for (const auto& [key, status] : map) actual.insert(key);
  if (e.has_exactly()) checks.exactly("policyStatus", policyKeysOf(e.exactly().key()), actual);
  for (const auto& key : policyKeysOf(e.absent())) {
    checks.member("policyStatus", actual, key, false, fmt::format("{}", key), setText(actual));
  }
  if (e.has_changes_since_last_expect()) checks.changes("policyStatus", e.changes_since_last_expect());
}

void checkNotifications(const iesim::pb::NotificationsExpect& e, Checks& checks) {
  const auto& set = checks.world().notifications().svcNotification;
  const absl::btree_set<LaneSvcRemoteGroup> actual(set.begin(), set.end());
  const std::string actualText = setText(actual);
  if (e.has_exactly()) checks.exactly("svcInUse", notificationsOf(e.exactly().key()), actual);
  for (const auto& key : notificationsOf(e.contains())) {
    checks.member("svcInUse", actual, key, true, fmt::format("{}", key), actualText);
  }
  for (const auto& key : notificationsOf(e.absent())) {
    checks.member("svcInUse", actual, key, false, fmt::format("{}", key), actualText);
  }
  if (e.has_changes_since_last_expect()) checks.changes("svcInUse", e.changes_since_last_expect());
}

}  // namespace IeSim
