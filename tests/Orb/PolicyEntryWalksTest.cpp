// The two utilities that walk a policy's entries: evaluateWinningExitGroup and
// otherSeqExistInPolicy. Each writes its texts at level 5 of "OrbInternetExitUtil" and to the
// Blip ring alike.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Orb/OrbInternetExitUtil/EvaluateWinningExitGroup.h"
#include "Orb/OrbInternetExitUtil/OtherSeqExistInPolicy.h"
#include "Orb/OrbInternetExitUtil/UtilTrace.h"
#include "platform/trace/Blip.h"
#include "platform/trace/Trace.h"
#include "tests/support/TraceLevels.h"

namespace OrbInternetExit {
namespace {

using Texts = std::vector<std::string>;
using Lane::VniAndLaneId;
using Lane::VniId;

// Policy P1 of pair 12.3, the group statuses of the pair, and a capture of the utilities' texts.
class PolicyEntryWalksTest : public testing::Test {
 protected:
  PolicyEntryWalksTest() { Blip::defaultHandle()->clear(); }

  GroupVniLaneKey grp(const char* name, VniAndLaneId pair) const { return GroupVniLaneKey(name, pair); }
  GroupVniLaneKey grp(const char* name) const { return grp(name, pair_); }
  void list(double seqNo, const char* group) { policy_->exitGroupIs(seqNo, grp(group)); }
  Texts utilTexts() const { return IeTest::textsOf(capture_, "OrbInternetExitUtil", internal::kUtilTraceLevel); }

  const VniAndLaneId pair_{VniId(12), 3};
  Mica::Ptr<PolicyStatusConfig> policy_{new PolicyStatusConfig(PolicyVniLaneKey("P1", pair_))};
  IeTest::TraceCaptureAt capture_{"OrbInternetExitUtil", 1u << internal::kUtilTraceLevel};
};

class EvaluateWinningExitGroupTest : public PolicyEntryWalksTest {
 protected:
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
    EXPECT_EQ(utilTexts(), texts);
    EXPECT_EQ(Blip::defaultHandle()->decoded(), texts);
    return winner;
  }

  Mica::Ptr<IeExitGroupDir> dir_{new IeExitGroupDir()};
};

class OtherSeqExistInPolicyTest : public PolicyEntryWalksTest {
 protected:
  bool call(double seqNo, const char* group) const { return otherSeqExistInPolicy(policy_, seqNo, grp(group)); }
};

// "policy=P1@12.3 exitGroup=(<entry>)", the text of one step of the walk.
std::string visits(const char* entry) {
  return std::string("::evaluateWinningExitGroup: policy=P1@12.3 exitGroup=(") + entry + ")";
}
std::string found(int results) { return "::evaluateWinningExitGroup: result=" + std::to_string(results); }

// Sequence numbers order as floating-point values whatever the insertion order; the walk stops
// at the winner.
TEST_F(EvaluateWinningExitGroupTest, LowestSequenceNumberWithResultsWins) {
  list(2, "B");
  list(1.5, "A");
  status(grp("A"), 2);
  status(grp("B"), 1);
  EXPECT_EQ(evaluate({visits("1.500000,A@12.3"), found(2)}), grp("A"));
  list(0, "Z");
  list(-1, "B");
  status(grp("Z"), 1);
  EXPECT_EQ(evaluate({visits("-1.000000,B@12.3"), found(1)}), grp("B"));
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
  const Texts skipped{visits("10.000000,Empty@12.3"), found(0), visits("20.000000,Missing@12.3"),
                      visits("30.000000,Other@12.3"), visits("40.000000,Up@12.3")};
  Texts texts = skipped;
  texts.push_back(found(1));
  EXPECT_EQ(evaluate(texts), grp("Up"));

  dir_->exitGroupStatusDel(grp("Up"));
  texts.back() = "::evaluateWinningExitGroup: Default return";
  EXPECT_EQ(evaluate(texts), GroupVniLaneKey());

  status(grp("Empty"), 1);
  EXPECT_EQ(evaluate({visits("10.000000,Empty@12.3"), found(1)}), grp("Empty"));
}

// Another seqNo listing the group counts, the asked one does not; seqNos compare as floating-
// point values and the first other one in ascending order is named, whatever the insertion order.
TEST_F(OtherSeqExistInPolicyTest, AnswersWhetherAnotherSeqNoListsTheGroupAndSaysWhich) {
  list(10, "G1");
  list(30, "G2");
  list(40, "G2");
  list(20, "G2");
  list(10.5, "G1");
  struct Case { double seqNo; const char* group; bool other; const char* text; };
  for (const Case& c : {
           Case{10, "G2", true, "G2@12.3 exist as seqNo 20 in policy P1@12.3"},
           Case{20, "G2", true, "G2@12.3 exist as seqNo 30 in policy P1@12.3"},
           Case{10, "G1", true, "G1@12.3 exist as seqNo 10.5 in policy P1@12.3"},
           Case{10.5, "G1", true, "G1@12.3 exist as seqNo 10 in policy P1@12.3"},
           Case{30, "G3", false, "no other G3@12.3 exist in policy P1@12.3"},
       }) {
    SCOPED_TRACE(c.text);
    capture_.clear();
    Blip::defaultHandle()->clear();
    EXPECT_EQ(call(c.seqNo, c.group), c.other);
    const std::string text = std::string("::otherSeqExistInPolicy: ") + c.text;
    EXPECT_EQ(utilTexts(), Texts{text});
    EXPECT_EQ(Blip::defaultHandle()->decoded(), Texts{text});
  }
  policy_->exitGroupDel(10.5);
  EXPECT_FALSE(call(10, "G1"));
}

// A null policy answers false and writes nothing; otherwise the text trace follows level 5 while
// the Blip ring always records.
TEST_F(OtherSeqExistInPolicyTest, NullPolicyWritesNothingAndBlipIgnoresTheTextLevels) {
  EXPECT_FALSE(otherSeqExistInPolicy(nullptr, 10, grp("G1")));
  list(10, "G1");
  {
    IeTest::TraceLevels otherLevels("OrbInternetExitUtil", ~(1u << internal::kUtilTraceLevel));
    EXPECT_FALSE(call(10, "G1"));
  }
  EXPECT_TRUE(capture_.lines().empty());
  EXPECT_EQ(Blip::defaultHandle()->decoded(),
            Texts{"::otherSeqExistInPolicy: no other G1@12.3 exist in policy P1@12.3"});
}

}  // namespace
}  // namespace OrbInternetExit
