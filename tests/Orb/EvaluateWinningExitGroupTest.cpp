#include "Orb/OrbInternetExitUtil/UtilTrace.h"
#include "Orb/OrbInternetExitUtil/EvaluateWinningExitGroup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/trace/Blip.h"
#include "platform/trace/Trace.h"
#include "tests/support/TraceLevels.h"

namespace OrbInternetExit {
namespace {

using Texts = std::vector<std::string>;
using Lane::VniAndLaneId;
using Lane::VniId;

class EvaluateWinningExitGroupTest : public testing::Test {
 protected:
  EvaluateWinningExitGroupTest() { Blip::defaultHandle()->clear(); }

  GroupVniLaneKey grp(const char* name, VniAndLaneId pair) const { return GroupVniLaneKey(name, pair); }
  GroupVniLaneKey grp(const char* name) const { return grp(name, pair_); }
  void list(double seqNo, const char* group) { policy_->exitGroupIs(seqNo, grp(group)); }
  // Gives the group's status `results` usable results (0: a status with an empty map).
  void status(const GroupVniLaneKey& g, int results) {
    auto s = dir_->exitGroupStatusIs(g);
    for (int i = 0; i < results; ++i) {
      const ExitVniLaneKey o(ExitKey(Mica::String(std::to_string(i)), ExitType::localExit()), g.vniLaneId);
      s->resultIs(o, ExitIntfResult(Wire::IntfId("eth1"), "default", 1, 1, ExitResultType::localDefaultVrf()));
    }
  }
  // Evaluates, and checks that the text trace and the Blip ring both hold exactly `texts`.
  GroupVniLaneKey evaluate(const Texts& texts) {
    capture_.clear();
    Blip::defaultHandle()->clear();
    const GroupVniLaneKey winner = evaluateWinningExitGroup(policy_, dir_);
    EXPECT_EQ(IeTest::textsOf(capture_, "OrbInternetExitUtil", internal::kUtilTraceLevel), texts);
    EXPECT_EQ(Blip::defaultHandle()->decoded(), texts);
    return winner;
  }

  const VniAndLaneId pair_{VniId(12), 3};
  Mica::Ptr<PolicyStatusConfig> policy_{new PolicyStatusConfig(PolicyVniLaneKey("P1", pair_))};
  Mica::Ptr<IeExitGroupDir> dir_{new IeExitGroupDir()};
  IeTest::TraceCaptureAt capture_{"OrbInternetExitUtil", 1u << internal::kUtilTraceLevel};
};

// Sequence numbers order as floating-point values whatever the insertion order; the walk stops
// at the winner.
TEST_F(EvaluateWinningExitGroupTest, LowestSequenceNumberWithResultsWins) {
  list(2, "B");
  list(1.5, "A");
  status(grp("A"), 2);
  status(grp("B"), 1);
  EXPECT_EQ(evaluate({"::evaluateWinningExitGroup: policy=P1@12.3 exitGroup=(1.500000,A@12.3)",
                      "::evaluateWinningExitGroup: result=2"}),
            grp("A"));
  list(0, "Z");
  list(-1, "B");
  status(grp("Z"), 1);
  EXPECT_EQ(evaluate({"::evaluateWinningExitGroup: policy=P1@12.3 exitGroup=(-1.000000,B@12.3)",
                      "::evaluateWinningExitGroup: result=1"}),
            grp("B"));
}

// An empty result map, a missing status and a status of the same name on another pair are all
// skipped; a group that gains a result wins again at once.
TEST_F(EvaluateWinningExitGroupTest, GroupsWithoutResultsOnThePolicysPairAreSkipped) {
  list(10, "Empty");
  list(20, "Missing");
  list(30, "Other");
  list(40, "Up");
  status(grp("Empty"), 0);
  status(grp("Other", VniAndLaneId(VniId(12), 4)), 1);
  status(grp("Up"), 1);
  EXPECT_EQ(evaluate({"::evaluateWinningExitGroup: policy=P1@12.3 exitGroup=(10.000000,Empty@12.3)",
                      "::evaluateWinningExitGroup: result=0",
                      "::evaluateWinningExitGroup: policy=P1@12.3 exitGroup=(20.000000,Missing@12.3)",
                      "::evaluateWinningExitGroup: policy=P1@12.3 exitGroup=(30.000000,Other@12.3)",
                      "::evaluateWinningExitGroup: policy=P1@12.3 exitGroup=(40.000000,Up@12.3)",
                      "::evaluateWinningExitGroup: result=1"}),
            grp("Up"));

  dir_->exitGroupStatusDel(grp("Up"));
  EXPECT_EQ(evaluate({"::evaluateWinningExitGroup: policy=P1@12.3 exitGroup=(10.000000,Empty@12.3)",
                      "::evaluateWinningExitGroup: result=0",
                      "::evaluateWinningExitGroup: policy=P1@12.3 exitGroup=(20.000000,Missing@12.3)",
                      "::evaluateWinningExitGroup: policy=P1@12.3 exitGroup=(30.000000,Other@12.3)",
                      "::evaluateWinningExitGroup: policy=P1@12.3 exitGroup=(40.000000,Up@12.3)",
                      "::evaluateWinningExitGroup: Default return"}),
            GroupVniLaneKey());

  status(grp("Empty"), 1);
  EXPECT_EQ(evaluate({"::evaluateWinningExitGroup: policy=P1@12.3 exitGroup=(10.000000,Empty@12.3)",
                      "::evaluateWinningExitGroup: result=1"}),
            grp("Empty"));
}

}  // namespace
}  // namespace OrbInternetExit
