// Expectations on the exit-option statuses and on the resolver requests.
#include <absl/container/btree_set.h>
#include <fmt/format.h>

#include <string>

#include "tools/iesim/ExpectSupport.h"
#include "tools/iesim/Keys.h"

namespace IeSim {

namespace {

using OrbInternetExit::ExitIntfResult;
using OrbInternetExit::ExitOptionStatus;
using OrbInternetExit::ExitVniLaneKey;

template <class Field>
absl::btree_set<ExitVniLaneKey> optionsOf(const Field& texts) {
  absl::btree_set<ExitVniLaneKey> keys;
  for (const auto& text : texts) keys.insert(checkedOptionKey(text));
  return keys;
}

template <class Field>
absl::btree_set<VniLaneSvcGroupName> requestsOf(const Field& texts) {
  absl::btree_set<VniLaneSvcGroupName> keys;
  for (const auto& text : texts) keys.insert(checkedSvcGroupKey(text));
  return keys;
}

std::string numberText(uint32_t v) {
  return v == ExitIntfResult::noGate ? fmt::format("{} (none)", v) : fmt::format("{}", v);
}

// The fields `want` gives, compared with `status`; one check for the whole option so that a
// failure shows every field.
void checkOption(const iesim::pb::ExitOptionExpect& want, const ExitVniLaneKey& key,
                 const ExitOptionStatus& status, Checks& checks) {
  const ExitIntfResult& r = status.resultExitIntf.get();
  std::string given, diffs;
  auto field = [&](const char* name, bool same, const std::string& wanted, const std::string& actual) {
    given += fmt::format(" {}={}", name, wanted);
    if (!same) diffs += fmt::format("{}{} expected {}, actual {}", diffs.empty() ? "" : "; ", name, wanted, actual);
  };
  if (want.has_type()) {
    const auto type = checkedResultType(want.type());
    field("type", type == r.resultType, want.type(), std::string(r.resultType.name()));
  }
  if (want.has_intf()) {
    const Wire::IntfId intf = want.intf().empty() ? Wire::IntfId() : Wire::IntfId(want.intf());
    field("intf", intf == r.intfId, fmt::format("\"{}\"", want.intf()), fmt::format("\"{}\"", r.intfId));
  }
  if (want.has_vrf()) field("vrf", want.vrf() == r.vrfName.view(), want.vrf(), std::string(r.vrfName.view()));
  if (want.has_gate()) {
    const auto gate = static_cast<uint32_t>(want.gate());
    field("gate", gate == r.gateId, numberText(gate), numberText(r.gateId));
  }
  if (want.has_aux()) {
    const auto aux = static_cast<uint32_t>(want.aux());
    field("aux", aux == r.auxId, numberText(aux), numberText(r.auxId));
  }
  if (want.group_size() != 0) {
    absl::btree_set<std::string> wanted(want.group().begin(), want.group().end()), actual;
    for (const auto& g : status.group) actual.insert(g.groupName.str());
    field("groups", wanted == actual, setText(wanted), setText(actual));
  }
  checks.result(diffs.empty(), fmt::format("exitOption {}:{}", key, given),
                fmt::format("exitOption {}: {} (result {}, groups {})", key, diffs, resultText(r),
                            setText(status.group, [](const auto& g) { return g.groupName.str(); })));
}

}  // namespace

void checkExitOptions(const iesim::pb::ExitOptionsExpect& e, Checks& checks) {
  const auto& map = checks.world().exitOptions().exitOptionStatus;
  absl::btree_set<ExitVniLaneKey> actual;
  for (const auto& [key, status] : map) actual.insert(key);
  const std::string actualText = setText(actual);
  for (const auto& want : e.option()) {
    const ExitVniLaneKey key = checkedOptionKey(want.option());
    if (const auto* status = map.lookup(key)) {
      checkOption(want, key, *status, checks);
    } else {
      checks.result(false, {}, fmt::format("exitOption {}: expected a status, actual none; options {}",
                                           key, actualText));
    }
  }
  if (e.has_exactly()) checks.exactly("exitOption", optionsOf(e.exactly().option()), actual);
  for (const auto& key : optionsOf(e.contains())) {
    checks.member("exitOption", actual, key, true, fmt::format("{}", key), actualText);
  }
  for (const auto& key : optionsOf(e.absent())) {
    checks.member("exitOption", actual, key, false, fmt::format("{}", key), actualText);
  }
  if (e.has_changes_since_last_expect()) checks.changes("exitOption", e.changes_since_last_expect());
}

void checkResolverRequests(const iesim::pb::ResolverRequestExpect& e, Checks& checks) {
  const auto& set = checks.world().requests().resolverRequest;
  const absl::btree_set<VniLaneSvcGroupName> actual(set.begin(), set.end());
  const std::string actualText = setText(actual);
  if (e.has_exactly()) checks.exactly("resolverRequest", requestsOf(e.exactly().key()), actual);
  for (const auto& key : requestsOf(e.contains())) {
    checks.member("resolverRequest", actual, key, true, fmt::format("{}", key), actualText);
  }
  for (const auto& key : requestsOf(e.absent())) {
    checks.member("resolverRequest", actual, key, false, fmt::format("{}", key), actualText);
  }
  if (e.has_changes_since_last_expect()) {
    checks.changes("resolverRequest", e.changes_since_last_expect());
  }
}

}  // namespace IeSim
