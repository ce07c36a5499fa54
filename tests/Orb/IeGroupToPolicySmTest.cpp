#include "Orb/OrbInternetExitStatusSm/IeGroupToPolicySm.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

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

// Logs every change of the output, in order: "+group G@1.2" / "-group G@1.2" for entries of
// groupToPolicy, "+P@1.2 in G@1.2" / "-P@1.2 in G@1.2" for members of an entry's policy set.
IeTest::TreeLog outputLog(const Mica::Ptr<IeGroupToPolicyDir>& dir) {
  return IeTest::TreeLog(dir, [dir](const Mica::Entity& source, Mica::AttrId, const void* key, const void*) {
    if (&source == dir.get()) {
      const auto& g = *static_cast<const GroupVniLaneKey*>(key);
      return fmt::format("{}group {}", dir->groupToPolicy.contains(g) ? '+' : '-', g);
    }
    const auto& entry = static_cast<const ExitGroupToPolicy&>(source);
    const auto& p = *static_cast<const PolicyVniLaneKey*>(key);
    return fmt::format("{}{} in {}", entry.policy.contains(p) ? '+' : '-', p, entry.groupKey());
  });
}

using LevelMaskGuard = IeTest::TraceLevels;
using IeTest::textsOf;

class IeGroupToPolicySmTest : public IeTest::ModeFixture {
 protected:
  const VniAndLaneId v_ = pair(1, 2);
  GroupVniLaneKey grp(const char* name) const { return GroupVniLaneKey(name, v_); }
  PolicyVniLaneKey pol(const char* name) const { return PolicyVniLaneKey(name, v_); }

  void start() {
    sm_ = ieGroupToPolicySmFactory(config_, dir_, control());
    runUntilIdle();
    ASSERT_TRUE(sm_->ready());
    ASSERT_TRUE(sm_->idle());
    expectConsistent();
  }
  // Lists `group` at `seqNo` of `policy`.
  void list(const char* policy, double seqNo, const char* group) {
    config_->statusConfigIs(v_)->policyStatusConfigIs(pol(policy))->exitGroupIs(seqNo)->exitGroupIs(grp(group));
    if (sm_) expectConsistent();
  }
  void unlist(const char* policy, double seqNo) {
    config_->statusConfig.get(v_)->policyStatusConfig.get(pol(policy))->exitGroupDel(seqNo);
    if (sm_) expectConsistent();
  }
  // Runs the change through; the map's invariants hold.
  void expectConsistent() {
    runUntilIdle();
    EXPECT_TRUE(dir_->checkInvariants());
  }

  // Blip rings a test may put in the control; declared before sm_, which points to them.
  Blip::TraceHandle blip_{64};
  Blip::TraceHandle otherBlip_{64};
  Mica::Ptr<IeStatusConfigDir> config_{new IeStatusConfigDir()};
  Mica::Ptr<IeGroupToPolicyDir> dir_{new IeGroupToPolicyDir()};
  Mica::Ptr<IeGroupToPolicySm> sm_;
};

// An entry changing its group (old pair retracted first) is the golden group_to_policy_change.
TEST_P(IeGroupToPolicySmTest, ReDeliveryOfTheSameGroupLeavesTheMapUnchanged) {
  list("P", 10, "G");
  start();
  auto log = outputLog(dir_);
  IeTest::TraceCaptureAt capture(Flo::kDefaultTraceName, 1u << Flo::kLevelPipeline);
  sm_->eventToGrpToPolMap(v_, pol("P"), 10, grp("G"), grp("G"));
  expectConsistent();
  EXPECT_TRUE(log.events.empty());
  // Nothing is retracted; the pair is written again.
  EXPECT_EQ(
      textsOf(capture, Flo::kDefaultTraceName, Flo::kLevelPipeline, "into"),
      Texts{
          "into( groupToPolicyDir.groupToPolicy[ grpKey ].policy[ polKey ] ): inserting k1=G@1.2, k2=P@1.2"});
}

TEST_P(IeGroupToPolicySmTest, RemovingOnlyThePolicyRetractsItsPairs) {
  list("P", 10, "G");
  list("P", 20, "G");
  list("Q", 10, "G");
  start();
  auto log = outputLog(dir_);
  IeTest::TraceCaptureAt capture("OrbInternetExitUtil", 1u << 5);
  config_->statusConfig.get(v_)->policyStatusConfigDel(pol("P"));
  expectConsistent();
  EXPECT_EQ(log.events, Texts{"-P@1.2 in G@1.2"});
  // The policy is gone: otherSeqExistInPolicy gets null and writes nothing.
  EXPECT_TRUE(textsOf(capture, "OrbInternetExitUtil", 5).empty());
}

// An entry written before its group is named (the default group, then G), and the Blip ring
// the control names. The texts of the entries' removal are pinned by the simulator's golden
// trace group_to_policy.
TEST_P(IeGroupToPolicySmTest, TracesAnEntryWithoutGroupAndRecordsToTheNamedRing) {
  constexpr const char* sm = Flo::kDefaultTraceName;
  constexpr const char* kForeach =
      " foreach( [ ( if ( _oldValueOpt11 != _newValueOpt12 ) then _oldValueOpt11 else None, false ), ( "
      "_newValueOpt12, true ) ] ) flattening 2 elements";
  constexpr const char* kDefaultGroup =
      "filter( ( grpKey != GroupVniLaneKey() ) ) failed, terminating pipeline";
  const auto from = [](const char* oldOpt, const char* newOpt) {
    return fmt::format(
        "grpToPolMap = from( config.statusConfig[].policyStatusConfig[].exitGroup[].exitGroup ): vniLaneId=1.2 "
        "polKey=P@1.2 seqNo=10 oldEgKeyOpt={} newEgKeyOpt={}",
        oldOpt, newOpt);
  };
  const std::string inserting = "into( groupToPolicyDir.groupToPolicy[ grpKey ].policy[ polKey ] ): inserting k1=G@1.2, k2=P@1.2";

  control_.qtHandle = &blip_;
  LevelMaskGuard levels(sm, 1u << 6 | 1u << 7 | 1u << 8);
  start();
  Mica::TraceCapture capture;
  const auto expectTexts = [&](const Texts& level6, const Texts& level7, const Texts& level8) {
    EXPECT_EQ(textsOf(capture, sm, 6), level6);
    EXPECT_EQ(textsOf(capture, sm, 7), level7);
    EXPECT_EQ(textsOf(capture, sm, 8, "grpToPolMap"), level8);
    capture.clear();
  };

  auto entry = config_->statusConfigIs(v_)->policyStatusConfigIs(pol("P"))->exitGroupIs(10);
  expectTexts({kForeach, "filter( _valueOpt13 ) failed, terminating pipeline", kDefaultGroup}, {from("None", "@0.0")},
              {"grpToPolMap: policy P@1.2 updated from None to @0.0 for seqNo 10"});
  entry->exitGroupIs(grp("G"));
  expectTexts({kForeach, kDefaultGroup}, {from("@0.0", "G@1.2"), inserting},
              {"grpToPolMap: policy P@1.2 updated from @0.0 to G@1.2 for seqNo 10"});
  EXPECT_EQ(blip_.decoded(), (Texts{"grpToPolMap: policy P@1.2 updated from None to @0.0 for seqNo 10",
                                    "grpToPolMap: policy P@1.2 updated from @0.0 to G@1.2 for seqNo 10"}));

  // Records go to the ring qtHandleIs names from then on; the text levels play no part.
  sm_->qtHandleIs(&otherBlip_);
  LevelMaskGuard off(sm, 0);
  unlist("P", 10);
  EXPECT_EQ(blip_.size(), 2u);
  EXPECT_EQ(otherBlip_.decoded(), Texts{"grpToPolMap: policy P@1.2 updated from G@1.2 to None for seqNo 10"});
}

INSTANTIATE_TEST_SUITE_P(Modes, IeGroupToPolicySmTest, IeTest::allModes, IeTest::modeName);

}  // namespace
}  // namespace OrbInternetExit
