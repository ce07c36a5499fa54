#include "Orb/OrbInternetExitStatusSm/IePolicyStatusSm.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "platform/trace/Blip.h"
#include "platform/trace/Trace.h"
#include "tests/support/SmTestSupport.h"
#include "tests/support/TraceLevels.h"
#include "tests/support/TreeLog.h"

namespace OrbInternetExit {
namespace {

using Lane::VniAndLaneId;
using Texts = std::vector<std::string>;

using IeTest::pair;
ExitIntfResult intf(const char* name) {
  return ExitIntfResult(Wire::IntfId(name), "default", 7, 1, ExitResultType::localDefaultVrf());
}

// Logs IePolicyDir's changes in order: "+P"/"-P" for statuses, "P +I"/"P -I" for interfaces,
// "P wins G" for the winning group.
IeTest::TreeLog policyLog(const Mica::Ptr<IePolicyDir>& dir) {
  return IeTest::TreeLog(dir, [dir](const Mica::Entity& source, Mica::AttrId attr, const void* key, const void*) {
    if (&source == dir.get()) {
      const auto& k = *static_cast<const PolicyVniLaneKey*>(key);
      return fmt::format("{}{}", dir->policyStatus.contains(k) ? '+' : '-', k);
    }
    const auto& s = static_cast<const PolicyStatus&>(source);
    if (attr == PolicyStatus::winningExitGroupId) {
      return fmt::format("{} wins {}", s.key(), s.winningExitGroup.get().groupName);
    }
    const auto& r = *static_cast<const ExitIntfResult*>(key);
    return fmt::format("{} {}{}", s.key(), s.exitIntf.contains(r) ? '+' : '-', r.intfId);
  });
}

class IePolicyStatusSmTest : public IeTest::ModeFixture {
 protected:
  void start() {
    sm_ = iePolicyStatusSmFactory(config_, groups_, reverse_, policies_, control());
    runUntilIdle();
  }
  PolicyVniLaneKey policy(const char* name, VniAndLaneId v = pair(1, 1)) { return PolicyVniLaneKey(Mica::String(name), v); }
  GroupVniLaneKey group(const char* name, VniAndLaneId v = pair(1, 1)) { return GroupVniLaneKey(Mica::String(name), v); }

  // Policy P lists G at seqNo, and the reverse map says so (written in that order, as the chain does).
  void entry(const PolicyVniLaneKey& p, double seqNo, const GroupVniLaneKey& g) {
    config_->statusConfigIs(p.vniLaneId)->policyStatusConfigIs(p)->exitGroupIs(seqNo, g);
    reverse_->groupToPolicyIs(g)->policyIs(p);
    runUntilIdle();
  }
  void result(const GroupVniLaneKey& g, const char* option, std::optional<ExitIntfResult> r) {
    const ExitVniLaneKey k(ExitKey(Mica::String(option), ExitType::localExit()), g.vniLaneId);
    if (r) {
      groups_->exitGroupStatusIs(g)->resultIs(k, *r);
    } else if (auto s = groups_->exitGroupStatus.get(g)) {
      s->resultDel(k);
      if (s->result.empty()) groups_->exitGroupStatusDel(g);
    }
    runUntilIdle();
  }
  std::string statusOf(const PolicyVniLaneKey& p) const {
    const auto* s = policies_->policyStatus.lookup(p);
    if (!s) return "none";
    std::string out = fmt::format("{}:", s->winningExitGroup.get().groupName);
    for (const auto& r : s->exitIntf) out += fmt::format(" {}", r.intfId);
    return out;
  }

  Mica::Ptr<IeStatusConfigDir> config_ = Mica::make<IeStatusConfigDir>();
  Mica::Ptr<IeExitGroupDir> groups_ = Mica::make<IeExitGroupDir>();
  Mica::Ptr<IeGroupToPolicyDir> reverse_ = Mica::make<IeGroupToPolicyDir>();
  Mica::Ptr<IePolicyDir> policies_ = Mica::make<IePolicyDir>();
  Mica::Ptr<IePolicyStatusSm> sm_;
};

// The last interface of a policy goes, then its status; the winner's write stops at its filter.
// (A failover's order, the new interfaces before the old ones go and the winner last, is the
// simulator's: the default scenario's report and the golden policy_status.)
TEST_P(IePolicyStatusSmTest, TheLastInterfaceTakesTheStatusWithIt) {
  entry(policy("P"), 10, group("G"));
  result(group("G"), "a", intf("I1"));
  start();
  auto log = policyLog(policies_);
  IeTest::TraceCaptureAt capture(Flo::kDefaultTraceName, 1u << 6);
  result(group("G"), "a", std::nullopt);
  EXPECT_EQ(log.events, (Texts{"P@1.1 -I1", "-P@1.1"}));
  EXPECT_TRUE(capture.contains("filter( policyDir.policyStatus[ policyKey ] ) failed, terminating pipeline"));
}

// Q names G too: a change of G's results re-evaluates every policy naming it. (The whole library
// binds one policy per pair, so only this machine's own test can show it.)
TEST_P(IePolicyStatusSmTest, OptionsWithTheSameResultGiveOneInterfaceToEachPolicyOfTheirGroup) {
  const auto p = policy("P");
  entry(p, 10, group("G"));
  entry(policy("Q"), 20, group("G"));
  start();
  result(group("G"), "a", intf("I1"));
  EXPECT_EQ(statusOf(policy("Q")), "G: I1");
  result(group("G"), "b", intf("I1"));
  EXPECT_EQ(statusOf(p), "G: I1");
  auto log = policyLog(policies_);
  IeTest::TraceCaptureAt capture(Flo::kDefaultTraceName, 1u << 6);
  result(group("G"), "a", std::nullopt);
  EXPECT_EQ(log.events, Texts{});  // the member stays; the winner is rewritten unchanged
  EXPECT_TRUE(capture.contains("filter( ( !myUniqueIntfList.intfList[ oldIntf ] ) ) failed, terminating pipeline"));
  EXPECT_EQ(statusOf(p), "G: I1");
}

// A result of a group that no reverse-map entry names asks for every policy. With the walk's
// traces on, every configured policy is evaluated; with them off, those of the group's pair.
// The outputs are the same.
TEST_P(IePolicyStatusSmTest, AGroupWithoutReverseMapEntryReevaluatesThePolicies) {
  auto evaluations = [&](bool traced) {
    config_ = Mica::make<IeStatusConfigDir>();
    groups_ = Mica::make<IeExitGroupDir>();
    reverse_ = Mica::make<IeGroupToPolicyDir>();
    policies_ = Mica::make<IePolicyDir>();
    entry(policy("P", pair(1, 1)), 10, group("G", pair(1, 1)));
    entry(policy("Q", pair(2, 1)), 10, group("G", pair(2, 1)));
    start();
    reverse_->groupToPolicyDel(group("G", pair(1, 1)));  // as if the reverse map lagged behind
    IeTest::TraceCaptureAt capture(Flo::kDefaultTraceName, traced ? (1u << 0) | (1u << 6) : 1u << 0);
    result(group("G", pair(1, 1)), "a", intf("I1"));
    EXPECT_EQ(statusOf(policy("P", pair(1, 1))), "G: I1");
    EXPECT_TRUE(capture.contains(" foreach( config.statusConfig ) flattening 2 elements") == traced);
    return capture.texts(0);
  };
  EXPECT_EQ(evaluations(true), (Texts{"Evaluated WinningExitGroup G@1.1 for policy P@1.1",
                                      "Evaluated WinningExitGroup @0.0 for policy Q@2.1"}));
  EXPECT_EQ(evaluations(false), (Texts{"Evaluated WinningExitGroup G@1.1 for policy P@1.1"}));
}

TEST_P(IePolicyStatusSmTest, EntriesWithoutGroupAndPoliciesWithoutConfiguration) {
  const auto p = policy("P");
  entry(p, 10, group("G"));
  start();
  result(group("G"), "a", intf("I1"));
  IeTest::TraceCaptureAt capture(Flo::kDefaultTraceName, (1u << 0) | (1u << 6));
  config_->statusConfig.get(pair(1, 1))->policyStatusConfig.get(p)->exitGroupIs(30, GroupVniLaneKey());
  runUntilIdle();
  EXPECT_TRUE(capture.contains(
      "filter( ( ( !grpKeyOpt ) || ( ( *grpKeyOpt ) != GroupVniLaneKey() ) ) ) failed, terminating pipeline"));
  EXPECT_TRUE(capture.texts(0).empty());

  config_->statusConfig.get(pair(1, 1))->policyStatusConfigDel(p);  // the policy's entries are retracted
  runUntilIdle();
  EXPECT_EQ(statusOf(p), "none");
  EXPECT_TRUE(capture.contains("Evaluated WinningExitGroup @1.1 for policy P@1.1"));
}

// A start over the machine's own output reaches P from all three sources: two entries, two
// reverse-map entries and three results. With traces off and no input changed since the start,
// P is evaluated once (the Blip ring records each evaluation); with them on, once per element, as
// the traces show. Either way the output stays as it was.
TEST_P(IePolicyStatusSmTest, AQuietStartEvaluatesEachPolicyOnceWithTracesOff) {
  const auto p = policy("P");
  entry(p, 10, group("G"));
  entry(p, 20, group("H"));
  result(group("G"), "a", intf("I1"));
  result(group("G"), "b", intf("I2"));
  result(group("H"), "c", intf("I3"));
  start();
  auto evaluationsOfRestart = [&](uint32_t levels) {
    sm_ = nullptr;
    IeTest::TraceCaptureAt capture(Flo::kDefaultTraceName, levels);
    Blip::defaultHandle()->clear();
    auto log = policyLog(policies_);
    start();
    EXPECT_EQ(log.events, Texts{});
    EXPECT_EQ(statusOf(p), "G: I1 I2");
    const Texts blips = Blip::defaultHandle()->decoded();
    return std::count(blips.begin(), blips.end(), "Evaluated WinningExitGroup G@1.1 for policy P@1.1");
  };
  EXPECT_EQ(evaluationsOfRestart(0), 1);
  EXPECT_EQ(evaluationsOfRestart(1u << 0), 7);
  result(group("H"), "c", std::nullopt);  // after the start, every change evaluates as written
  EXPECT_EQ(statusOf(p), "G: I1 I2");
}

INSTANTIATE_TEST_SUITE_P(Modes, IePolicyStatusSmTest, IeTest::allModes, IeTest::modeName);

}  // namespace
}  // namespace OrbInternetExit
