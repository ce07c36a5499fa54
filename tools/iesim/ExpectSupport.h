// What the expectation checkers of each domain share: the outcome being built, set texts, exact
// set comparison and change counts. Internal to the expect*.cpp files.
#pragma once

#include <fmt/format.h>

#include <string>
#include <string_view>
#include <utility>

#include "proto/scenario.pb.h"
#include "tools/iesim/Expect.h"
#include "tools/iesim/Watch.h"
#include "tools/iesim/World.h"

namespace IeSim {

// Members listed in a text before "... (N more)".
inline constexpr size_t kMembersShown = 20;

// "{A@1.1, B@1.2}", at most `limit` members, then ", ... (N more)". `text(member)` prints one.
template <class Set, class Text>
std::string setText(const Set& set, Text text, size_t limit = kMembersShown) {
  std::string out = "{";
  size_t shown = 0;
  for (const auto& m : set) {
    if (shown == limit) {
      out += fmt::format(", ... ({} more)", set.size() - limit);
      break;
    }
    out += (shown == 0 ? "" : ", ") + text(m);
    ++shown;
  }
  return out + "}";
}

template <class Set>
std::string setText(const Set& set, size_t limit = kMembersShown) {
  return setText(set, [](const auto& m) { return fmt::format("{}", m); }, limit);
}

class Checks {
 public:
  explicit Checks(const World& world) : world_(world) {}

  const World& world() const noexcept { return world_; }

  // The field of iesim::pb::Expect that the following checks belong to.
  void fieldIs(int field) noexcept { field_ = field; }

  void result(bool ok, std::string passed, std::string failed) {
    (ok ? outcome_.passed : outcome_.failed).push_back(ok ? std::move(passed) : std::move(failed));
    if (!ok) outcome_.failedField.push_back(field_);
  }

  // `what` is exactly `want`: "<what> is {...}", or "<what>: expected {...}, actual {...};
  // missing {...}; unexpected {...}". Both sets are ordered sets of the same type.
  template <class Set, class Text>
  void exactly(std::string_view what, const Set& want, const Set& actual, Text text) {
    Set missing, unexpected;
    for (const auto& k : want) {
      if (!actual.contains(k)) missing.insert(k);
    }
    for (const auto& k : actual) {
      if (!want.contains(k)) unexpected.insert(k);
    }
    if (missing.empty() && unexpected.empty()) {
      result(true, fmt::format("{} is {}", what, setText(want, text)), {});
      return;
    }
    std::string failure =
        fmt::format("{}: expected {}, actual {}", what, setText(want, text), setText(actual, text));
    if (!missing.empty()) failure += fmt::format("; missing {}", setText(missing, text));
    if (!unexpected.empty()) failure += fmt::format("; unexpected {}", setText(unexpected, text));
    result(false, {}, std::move(failure));
  }
  template <class Set>
  void exactly(std::string_view what, const Set& want, const Set& actual) {
    exactly(what, want, actual, [](const auto& m) { return fmt::format("{}", m); });
  }

  // Membership of one key: "<what> contains K" / "<what> has no K", or the failure with the
  // actual set.
  template <class Set, class Key>
  void member(std::string_view what, const Set& actual, const Key& key, bool wanted,
              const std::string& keyText, const std::string& actualText) {
    const bool ok = actual.contains(key) == wanted;
    if (wanted) {
      result(ok, fmt::format("{} contains {}", what, keyText),
             fmt::format("{}: expected to contain {}, actual {}", what, keyText, actualText));
    } else {
      result(ok, fmt::format("{} has no {}", what, keyText),
             fmt::format("{}: expected no {}, actual {}", what, keyText, actualText));
    }
  }

  // The counted changes of `output` since the previous expect step.
  void changes(std::string_view output, const iesim::pb::ChangeCount& want) {
    const ChangeCounts& actual = world_.counts(output);
    if (want.has_added()) count(output, "added", want.added(), actual.added);
    if (want.has_removed()) count(output, "removed", want.removed(), actual.removed);
    if (want.has_changed()) count(output, "changed", want.changed(), actual.changed);
  }

  void count(std::string_view output, const char* what, int64_t want, uint64_t actual) {
    result(static_cast<uint64_t>(want) == actual,
           fmt::format("{}: {} {} since the previous expect", output, what, actual),
           fmt::format("{}: expected {} {} since the previous expect, actual {}", output, what, want,
                       actual));
  }

  ExpectOutcome take() { return std::move(outcome_); }

 private:
  const World& world_;
  ExpectOutcome outcome_;
  int field_ = 0;
};

// ConfigExpect.cpp
void checkStatusConfig(const iesim::pb::StatusConfigExpect& e, Checks& checks);
void checkGroupToPolicy(const iesim::pb::GroupToPolicyExpect& e, Checks& checks);
// EngineExpect.cpp
void checkVniDefaultRoute(const iesim::pb::VniSetExpect& e, Checks& checks);
void checkPairDefaultRoute(const iesim::pb::PairSetExpect& e, Checks& checks);
void checkExitTable(const iesim::pb::ExitTableExpect& e, Checks& checks);
// ExitOptionExpect.cpp
void checkExitOptions(const iesim::pb::ExitOptionsExpect& e, Checks& checks);
void checkResolverRequests(const iesim::pb::ResolverRequestExpect& e, Checks& checks);
// PolicyExpect.cpp
void checkExitGroups(const iesim::pb::ExitGroupsExpect& e, Checks& checks);
void checkPolicyStatus(const iesim::pb::PolicyStatusesExpect& e, Checks& checks);
void checkNotifications(const iesim::pb::NotificationsExpect& e, Checks& checks);

}  // namespace IeSim
