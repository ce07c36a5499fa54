#include "types/IePolicyToVniLaneDir.h"

#include <gtest/gtest.h>

#include <vector>

namespace OrbInternetExit {
namespace {

VniAndLaneId pair(int vni, int lane) { return VniAndLaneId(Lane::VniId(vni), static_cast<uint16_t>(lane)); }

struct Counter : Mica::Subscriber {
  int calls = 0;
  bool indexAgreed = true;
  const IePolicyToVniLaneDir* dir = nullptr;
  void onNotification(Mica::AttrId, const void* key, const void*) override {
    ++calls;
    const auto& k = *static_cast<const PolicyVniLaneKey*>(key);
    // The index is updated before readers hear of the change.
    indexAgreed &= dir->pairsOfPolicy(k.policyName).contains(k.vniLaneId) == dir->polToVniLane.contains(k);
  }
};

TEST(IePolicyToVniLaneDirTest, IndexesPairsPerPolicyAndNotifiesOnlyChanges) {
  IePolicyToVniLaneDir dir;
  Counter counter;
  counter.dir = &dir;
  dir.subscriberAdd(&counter);
  dir.polToVniLaneIs(PolicyVniLaneKey("P", pair(2, 1)));
  dir.polToVniLaneIs(PolicyVniLaneKey("P", pair(1, 7)));
  dir.polToVniLaneIs(PolicyVniLaneKey("Q", pair(1, 8)));
  dir.polToVniLaneIs(PolicyVniLaneKey("P", pair(1, 7)));  // present: no change
  EXPECT_EQ(counter.calls, 3);
  const auto& p = dir.pairsOfPolicy("P");
  EXPECT_EQ(std::vector<VniAndLaneId>(p.begin(), p.end()), (std::vector<VniAndLaneId>{pair(1, 7), pair(2, 1)}));
  EXPECT_TRUE(dir.checkInvariants());

  dir.polToVniLaneDel(PolicyVniLaneKey("Q", pair(1, 8)));
  dir.polToVniLaneDel(PolicyVniLaneKey("Q", pair(1, 8)));  // absent: no change
  EXPECT_EQ(counter.calls, 4);
  EXPECT_TRUE(dir.pairsOfPolicy("Q").empty());
  EXPECT_TRUE(counter.indexAgreed);
  EXPECT_TRUE(dir.checkInvariants());
  dir.subscriberRemove(&counter);
}

}  // namespace
}  // namespace OrbInternetExit
