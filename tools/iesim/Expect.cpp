#include "tools/iesim/Expect.h"

#include <absl/container/btree_set.h>
#include <fmt/format.h>

#include "tools/iesim/Rules.h"

namespace IeSim {

namespace {

using OrbInternetExit::PolicyVniLaneKey;
using KeySet = absl::btree_set<PolicyVniLaneKey>;

// Keys listed in a failure text beyond the sets themselves (missing, unexpected).
constexpr size_t kKeysShown = 20;

template <class Keys>
std::string setText(const Keys& keys, size_t limit) {
  std::string out = "{";
  size_t shown = 0;
  for (const auto& k : keys) {
    if (shown == limit) {
      out += fmt::format(", ... ({} more)", keys.size() - limit);
      break;
    }
    out += fmt::format("{}{}", shown == 0 ? "" : ", ", k);
    ++shown;
  }
  return out + "}";
}

template <class Field>
KeySet keysOf(const Field& texts) {
  KeySet keys;
  for (const auto& text : texts) keys.insert(checkedPolicyKey(text));
  return keys;
}

class Checker {
 public:
  explicit Checker(const Observed& observed) : observed_(observed) {}

  void polToVniLane(const iesim::pb::PolToVniLaneExpect& e) {
    const auto& set = observed_.output.polToVniLane;
    const std::string actual = keySetText(observed_.output);
    if (e.has_exactly()) exactly(keysOf(e.exactly().key()));
    for (const auto& key : keysOf(e.contains())) {
      result(set.contains(key), fmt::format("polToVniLane contains {}", key),
             fmt::format("polToVniLane: expected to contain {}, actual {}", key, actual));
    }
    for (const auto& key : keysOf(e.absent())) {
      result(!set.contains(key), fmt::format("polToVniLane has no {}", key),
             fmt::format("polToVniLane: expected no {}, actual {}", key, actual));
    }
    if (e.has_size()) {
      result(set.size() == static_cast<uint64_t>(e.size()),
             fmt::format("polToVniLane has {} keys", e.size()),
             fmt::format("polToVniLane: expected {} keys, actual {}: {}", e.size(), set.size(),
                         actual));
    }
    if (e.has_changes_since_last_expect()) {
      const auto& c = e.changes_since_last_expect();
      if (c.has_added()) count("added", c.added(), observed_.added);
      if (c.has_removed()) count("removed", c.removed(), observed_.removed);
    }
  }

  void sm(const iesim::pb::SmExpect& e) {
    if (e.has_ready()) flag("ready", e.ready(), observed_.smReady);
    if (e.has_idle()) flag("idle", e.idle(), observed_.smIdle);
  }

  ExpectOutcome take() { return std::move(outcome_); }

 private:
  void result(bool ok, std::string passed, std::string failed) {
    (ok ? outcome_.passed : outcome_.failed).push_back(ok ? std::move(passed) : std::move(failed));
  }

  void exactly(const KeySet& want) {
    const auto& set = observed_.output.polToVniLane;
    KeySet missing, unexpected;
    for (const auto& k : want) {
      if (!set.contains(k)) missing.insert(k);
    }
    for (const auto& k : set) {
      if (!want.contains(k)) unexpected.insert(k);
    }
    if (missing.empty() && unexpected.empty()) {
      result(true, fmt::format("polToVniLane is {}", setText(want, kKeysShown)), {});
      return;
    }
    std::string text = fmt::format("polToVniLane: expected {}, actual {}",
                                   setText(want, kKeysShown), keySetText(observed_.output));
    if (!missing.empty()) text += fmt::format("; missing {}", setText(missing, kKeysShown));
    if (!unexpected.empty()) text += fmt::format("; unexpected {}", setText(unexpected, kKeysShown));
    result(false, {}, std::move(text));
  }

  void count(const char* what, int64_t want, uint64_t actual) {
    result(static_cast<uint64_t>(want) == actual,
           fmt::format("polToVniLane: {} {} since the previous expect", what, actual),
           fmt::format("polToVniLane: expected {} {} since the previous expect, actual {}", what,
                       want, actual));
  }

  void flag(const char* what, bool want, bool actual) {
    result(want == actual, fmt::format("sm {}{}", want ? "" : "not ", what),
           fmt::format("sm: expected {} {}, actual {}", what, want, actual));
  }

  const Observed& observed_;
  ExpectOutcome outcome_;
};

}  // namespace

std::string keySetText(const OrbInternetExit::IePolicyToVniLaneDir& output, size_t limit) {
  return setText(output.polToVniLane, limit);
}

ExpectOutcome checkExpect(const iesim::pb::Expect& expect, const Observed& observed) {
  Checker checker(observed);
  if (expect.has_pol_to_vni_lane()) checker.polToVniLane(expect.pol_to_vni_lane());
  if (expect.has_sm()) checker.sm(expect.sm());
  return checker.take();
}

}  // namespace IeSim
