#include "types/IePolicyToVniLaneDir.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/TreeLog.h"

namespace OrbInternetExit {
namespace {

VniAndLaneId pair(int vni, int lane) { return VniAndLaneId(Lane::VniId(vni), static_cast<uint16_t>(lane)); }

TEST(IePolicyToVniLaneDirTest, IndexesPairsPerPolicyAndNotifiesOnlyChanges) {
  const auto dir = Mica::make<IePolicyToVniLaneDir>();
  // Each change as its key, and whether the index agrees with it when readers hear of it.
  IeTest::TreeLog log(dir, [&](const Mica::Entity&, Mica::AttrId, const void* key, const void*) {
    const auto& k = *static_cast<const PolicyVniLaneKey*>(key);
    const bool agrees = dir->pairsOfPolicy(k.policyName).contains(k.vniLaneId) == dir->polToVniLane.contains(k);
    return fmt::format("{}{}", k, agrees ? "" : " before the index");
  });
  dir->polToVniLaneIs(PolicyVniLaneKey("P", pair(2, 1)));
  dir->polToVniLaneIs(PolicyVniLaneKey("P", pair(1, 7)));
  dir->polToVniLaneIs(PolicyVniLaneKey("Q", pair(1, 8)));
  dir->polToVniLaneIs(PolicyVniLaneKey("P", pair(1, 7)));  // present: no change
  const auto& p = dir->pairsOfPolicy("P");
  EXPECT_EQ(std::vector<VniAndLaneId>(p.begin(), p.end()), (std::vector<VniAndLaneId>{pair(1, 7), pair(2, 1)}));
  EXPECT_TRUE(dir->checkInvariants());

  dir->polToVniLaneDel(PolicyVniLaneKey("Q", pair(1, 8)));
  dir->polToVniLaneDel(PolicyVniLaneKey("Q", pair(1, 8)));  // absent: no change
  EXPECT_TRUE(dir->pairsOfPolicy("Q").empty());
  EXPECT_TRUE(dir->checkInvariants());
  EXPECT_EQ(log.events, (std::vector<std::string>{"P@2.1", "P@1.7", "Q@1.8", "Q@1.8"}));
}

}  // namespace
}  // namespace OrbInternetExit
