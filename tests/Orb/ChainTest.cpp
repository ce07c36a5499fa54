// Lane bindings -> IePolicyToVniLaneSm -> IeStatusConfigSm -> IeGroupToPolicySm, end to end.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "Orb/OrbInternetExitStatusSm/IeGroupToPolicySm.h"
#include "Orb/OrbInternetExitStatusSm/IePolicyToVniLaneSm.h"
#include "Orb/OrbInternetExitStatusSm/IeStatusConfigSm.h"
#include "tests/Orb/StatusConfigReference.h"
#include "tests/support/SmTestSupport.h"

namespace OrbInternetExit {
namespace {

using Lane::VniAndLaneId;
using Lane::VniId;
using Reference::describe;
using Reference::extractOf;
using Reference::referenceOf;

VniAndLaneId pair(int vni, int lane) { return VniAndLaneId(VniId(vni), static_cast<uint16_t>(lane)); }

std::set<std::string> bindingsOf(const Lane::LaneStatusDir& lanes) {
  std::set<std::string> out;
  for (const auto& [v, name] : lanes.laneToIEMap) out.insert(fmt::format("{}", PolicyVniLaneKey(name, v)));
  return out;
}
std::set<std::string> bindingsOf(const IePolicyToVniLaneDir& dir) {
  std::set<std::string> out;
  for (const auto& k : dir.polToVniLane) out.insert(fmt::format("{}", k));
  return out;
}
// (group, policy) for every entry of the expected status configuration.
std::set<std::string> groupToPolicyOf(const Reference::StatusConfig& cfg) {
  std::set<std::string> out;
  for (const auto& [v, pairCfg] : cfg) {
    for (const auto& [key, g] : pairCfg.entries) out.insert(fmt::format("{} {}", g, key.first));
  }
  return out;
}
std::set<std::string> groupToPolicyOf(const IeGroupToPolicyDir& dir) {
  std::set<std::string> out;
  for (const auto& [g, entry] : dir.groupToPolicy) {
    for (const auto& p : entry->policy) out.insert(fmt::format("{} {}", g, p));
  }
  return out;
}

class ChainTest : public IeTest::ModeFixture {
 protected:
  void startAll() {
    polSm_ = iePolicyToVniLaneSmFactory(lanes_, bindings_, control());
    statusSm_ = ieStatusConfigSmFactory(config_, bindings_, status_, control());
    groupSm_ = ieGroupToPolicySmFactory(status_, groupToPolicy_, control());
    runUntilIdle();
    ASSERT_TRUE(polSm_->ready() && statusSm_->ready() && groupSm_->ready());
    suppressed_.clear();
  }
  void restartAll() {
    groupSm_ = nullptr;
    statusSm_ = nullptr;
    polSm_ = nullptr;
    startAll();
  }
  // Removing a configured policy removes the pairs holding its entries although it stays bound;
  // those pairs come back with a binding change or a restart.
  void removePolicy(const Mica::String& name) {
    const PolicyConfig* policy = config_->policyConfig.lookup(name);
    if (!policy) return;
    if (!policy->exitGroup.empty()) {
      for (const auto& k : bindings_->polToVniLane) {
        if (k.policyName == name) suppressed_.insert(k.vniLaneId);
      }
    }
    config_->policyConfigDel(name);
  }
  void laneIs(VniAndLaneId v, const Mica::String& name) {
    if (lanes_->laneToIEMap.get(v) == Quill::Optional<Mica::String>(name)) return;  // no change, no event
    lanes_->laneToIEMapIs(v, name);
    suppressed_.erase(v);
  }
  void laneDel(VniAndLaneId v) {
    lanes_->laneToIEMapDel(v);
    suppressed_.erase(v);
  }
  // Compares every stage with what its inputs imply; returns false on the first mismatch.
  bool check(const std::string& where) {
    runUntilIdle();
    auto expected = referenceOf(*config_, *bindings_);
    for (VniAndLaneId v : suppressed_) expected.erase(v);
    const auto actual = extractOf(*status_);
    EXPECT_EQ(bindingsOf(*lanes_), bindingsOf(*bindings_)) << where;
    EXPECT_EQ(describe(expected), describe(actual)) << where;
    EXPECT_EQ(groupToPolicyOf(actual), groupToPolicyOf(*groupToPolicy_)) << where;
    return !testing::Test::HasFailure();
  }

  Mica::Ptr<Lane::LaneStatusDir> lanes_{new Lane::LaneStatusDir()};
  Mica::Ptr<IePolicyToVniLaneDir> bindings_{new IePolicyToVniLaneDir()};
  Mica::Ptr<InternetExitCliConfig> config_{new InternetExitCliConfig()};
  Mica::Ptr<IeStatusConfigDir> status_{new IeStatusConfigDir()};
  Mica::Ptr<IeGroupToPolicyDir> groupToPolicy_{new IeGroupToPolicyDir()};
  Mica::Ptr<IePolicyToVniLaneSm> polSm_;
  Mica::Ptr<IeStatusConfigSm> statusSm_;
  Mica::Ptr<IeGroupToPolicySm> groupSm_;
  std::set<VniAndLaneId> suppressed_;
};

TEST_P(ChainTest, SeededRandomSequenceMatchesTheReference) {
  // IE_CHAIN_SEED replays a failing sequence.
  const char* seedText = std::getenv("IE_CHAIN_SEED");
  const unsigned seed = seedText ? static_cast<unsigned>(std::strtoul(seedText, nullptr, 10)) : 20261206u;
  std::mt19937 rng(seed);
  auto pick = [&rng](size_t n) { return static_cast<size_t>(std::uniform_int_distribution<size_t>(0, n - 1)(rng)); };
  const std::vector<VniAndLaneId> pairs = {pair(1, 1), pair(1, 2), pair(1, 3), pair(2, 1), pair(2, 2), pair(3, 7)};
  const std::vector<Mica::String> policies = {"P0", "P1", "P2", "P3"};
  const std::vector<Mica::String> groups = {"G0", "G1", "G2", "G3", "G4"};
  const std::vector<double> seqNos = {10, 10.5, 20, 30};
  const std::vector<ExitKey> exits = {ExitKey("a", ExitType::localExit()), ExitKey("b", ExitType::localExit()),
                                      ExitKey("a", ExitType::remoteExit()), ExitKey("d", ExitType::fibDefault())};
  startAll();
  for (int step = 0; step < 150; ++step) {
    std::string what;
    const Mica::String& policy = policies[pick(policies.size())];
    const Mica::String& group = groups[pick(groups.size())];
    const ExitKey& exit = exits[pick(exits.size())];
    switch (pick(10)) {
      case 0:
      case 1: {
        const VniAndLaneId v = pairs[pick(pairs.size())];
        laneIs(v, policy);
        what = fmt::format("bind {} to {}", policy, v);
        break;
      }
      case 2: {
        const VniAndLaneId v = pairs[pick(pairs.size())];
        laneDel(v);
        what = fmt::format("unbind {}", v);
        break;
      }
      case 3:
      case 4: {
        // A policy names each group at one sequence number at most: retracting a group that
        // another entry still names drops the group's status entry by design.
        const double seqNo = seqNos[pick(seqNos.size())];
        const PolicyConfig* p = config_->policyConfig.lookup(policy);
        bool named = false;
        if (p) {
          for (const auto& [s, e] : p->exitGroup) named = named || (s != seqNo && e->exitGroupName.get() == group);
        }
        if (named) continue;
        config_->policyConfigIs(policy)->exitGroupIs(seqNo, group);
        what = fmt::format("entry {} {} -> {}", policy, seqNo, group);
        break;
      }
      case 5: {
        const double seqNo = seqNos[pick(seqNos.size())];
        if (PolicyConfig* p = config_->policyConfig.lookup(policy)) p->exitGroupDel(seqNo);
        what = fmt::format("entry {} {} removed", policy, seqNo);
        break;
      }
      case 6: {
        // Groups are created with an option: an empty new group gets no status entry until an
        // entry is (re)asserted, by design.
        config_->exitGroupConfigIs(group)->exitOptionIs(exit);
        what = fmt::format("option {} in {}", exit, group);
        break;
      }
      case 7: {
        if (ExitGroupConfig* g = config_->exitGroupConfig.lookup(group)) g->exitOptionDel(exit);
        what = fmt::format("option {} out of {}", exit, group);
        break;
      }
      case 8: {
        if (pick(2) == 0) {
          config_->exitGroupConfigDel(group);
          what = fmt::format("group {} removed", group);
        } else {
          removePolicy(policy);
          what = fmt::format("policy {} removed", policy);
        }
        break;
      }
      case 9:
        restartAll();
        what = "restart";
        break;
    }
    ASSERT_TRUE(check(fmt::format("step {} ({}), seed {}", step, what, seed)));
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, ChainTest, IeTest::allModes, IeTest::modeName);

}  // namespace
}  // namespace OrbInternetExit
