#include "Orb/OrbInternetExitUtil/UtilTrace.h"
#include "Orb/OrbInternetExitUtil/OtherSeqExistInPolicy.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/trace/Blip.h"
#include "platform/trace/Trace.h"
#include "tests/support/TraceLevels.h"

namespace OrbInternetExit {
namespace {

using Lane::VniAndLaneId;
using Lane::VniId;

class OtherSeqExistInPolicyTest : public testing::Test {
 protected:
  OtherSeqExistInPolicyTest() { Blip::defaultHandle()->clear(); }

  // Lists `group` at `seqNo` of the policy.
  void list(double seqNo, const char* group) { policy_->exitGroupIs(seqNo)->exitGroupIs(grp(group)); }
  GroupVniLaneKey grp(const char* name) const { return GroupVniLaneKey(name, vni_); }
  bool call(double seqNo, const char* group) const {
    return otherSeqExistInPolicy(policy_, seqNo, grp(group));
  }

  std::vector<std::string> utilTexts() const { return IeTest::textsOf(capture_, "OrbInternetExitUtil", internal::kUtilTraceLevel); }

  const VniAndLaneId vni_{VniId(12), 3};
  Mica::Ptr<PolicyStatusConfig> policy_{new PolicyStatusConfig(PolicyVniLaneKey("P1", vni_))};
  IeTest::TraceCaptureAt capture_{"OrbInternetExitUtil", 1u << internal::kUtilTraceLevel};
};

// Another seqNo listing the group counts, the asked one does not; seqNos compare as floating-
// point values and the first other one in ascending order is named, whatever the insertion order.
TEST_F(OtherSeqExistInPolicyTest, AnswersWhetherAnotherSeqNoListsTheGroupAndSaysWhich) {
  list(10, "G1");
  list(30, "G2");
  list(40, "G2");
  list(20, "G2");
  list(10.5, "G1");
  struct Case {
    double seqNo;
    const char* group;
    bool other;
    const char* text;
  };
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
    EXPECT_EQ(utilTexts(), std::vector<std::string>{text});
    EXPECT_EQ(Blip::defaultHandle()->decoded(), std::vector<std::string>{text});
  }
  policy_->exitGroupDel(10.5);
  EXPECT_FALSE(call(10, "G1"));
}

TEST_F(OtherSeqExistInPolicyTest, NullPolicyGivesFalseAndNoTrace) {
  const uint64_t written = Blip::defaultHandle()->written();
  EXPECT_FALSE(otherSeqExistInPolicy(nullptr, 10, grp("G1")));
  EXPECT_TRUE(capture_.lines().empty());
  EXPECT_EQ(Blip::defaultHandle()->written(), written);
}

TEST_F(OtherSeqExistInPolicyTest, TextTraceFollowsLevelFiveWhileBlipAlwaysRecords) {
  list(10, "G1");
  {
    IeTest::TraceLevels otherLevels("OrbInternetExitUtil", ~(1u << internal::kUtilTraceLevel));
    EXPECT_FALSE(call(10, "G1"));
  }
  EXPECT_TRUE(capture_.lines().empty());
  EXPECT_EQ(Blip::defaultHandle()->decoded(),
            std::vector<std::string>{"::otherSeqExistInPolicy: no other G1@12.3 exist in policy P1@12.3"});
}

}  // namespace
}  // namespace OrbInternetExit
