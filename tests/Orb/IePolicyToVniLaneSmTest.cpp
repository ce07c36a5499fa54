#include "Orb/OrbInternetExitStatusSm/IePolicyToVniLaneSm.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/trace/Trace.h"
#include "tests/support/SmTestSupport.h"

namespace OrbInternetExit {
namespace {

using Lane::VniAndLaneId;
using Lane::VniId;

VniAndLaneId pair(int vni, int lane) { return VniAndLaneId(VniId(vni), static_cast<uint16_t>(lane)); }

// Counts the notifications of polToVniLane, to prove that nothing is deleted and re-inserted.
struct ChangeCounter : Mica::Subscriber {
  int adds = 0, dels = 0;
  const IePolicyToVniLaneDir* dir;
  explicit ChangeCounter(const IePolicyToVniLaneDir* d) : dir(d) { d->subscriberAdd(this); }
  ~ChangeCounter() { dir->subscriberRemove(this); }
  void onNotification(Mica::AttrId, const void* key, const void*) override {
    if (dir->polToVniLane.contains(*static_cast<const PolicyVniLaneKey*>(key))) {
      ++adds;
    } else {
      ++dels;
    }
  }
};

class IePolicyToVniLaneSmTest : public IeTest::ModeFixture {
 protected:
  Mica::Ptr<IePolicyToVniLaneSm> start() {
    auto sm = iePolicyToVniLaneSmFactory(lanes_, dir_, control());
    runUntilIdle();
    return sm;
  }
  Mica::Ptr<Lane::LaneStatusDir> lanes_{new Lane::LaneStatusDir()};
  Mica::Ptr<IePolicyToVniLaneDir> dir_{new IePolicyToVniLaneDir()};
};

TEST_P(IePolicyToVniLaneSmTest, EmptyInputsBecomeReadyWithoutWrites) {
  ChangeCounter counter(dir_.get());
  auto sm = start();
  EXPECT_TRUE(sm->ready());
  EXPECT_TRUE(sm->idle());
  EXPECT_EQ(counter.adds + counter.dels, 0);
}

TEST_P(IePolicyToVniLaneSmTest, BindingsBeforeAndAfterStartProduceKeys) {
  for (int i = 0; i < 20; ++i) lanes_->laneToIEMapIs(pair(i % 5, i), i % 2 ? "P" : "Q");
  auto sm = start();
  ASSERT_TRUE(sm->ready());
  EXPECT_EQ(dir_->polToVniLane.size(), 20u);
  EXPECT_TRUE(dir_->polToVniLane.contains(PolicyVniLaneKey("P", pair(1, 1))));

  lanes_->laneToIEMapIs(pair(1, 1), "R");  // rebind: (P, v) goes, (R, v) comes
  EXPECT_FALSE(dir_->polToVniLane.contains(PolicyVniLaneKey("P", pair(1, 1))));
  EXPECT_TRUE(dir_->polToVniLane.contains(PolicyVniLaneKey("R", pair(1, 1))));
  lanes_->laneToIEMapDel(pair(2, 2));
  EXPECT_FALSE(dir_->polToVniLane.contains(PolicyVniLaneKey("Q", pair(2, 2))));
  EXPECT_EQ(dir_->polToVniLane.size(), 19u);
}

TEST_P(IePolicyToVniLaneSmTest, RestartOverStaleOutputDeletesOnlyWhatIsNoLongerImplied) {
  for (int i = 0; i < 30; ++i) lanes_->laneToIEMapIs(pair(1, i), "P");
  // Left by an earlier run: 30 valid keys, one stale binding of another policy, one stale pair.
  for (int i = 0; i < 30; ++i) dir_->polToVniLaneIs(PolicyVniLaneKey("P", pair(1, i)));
  dir_->polToVniLaneIs(PolicyVniLaneKey("Old", pair(1, 3)));
  dir_->polToVniLaneIs(PolicyVniLaneKey("P", pair(9, 9)));
  ChangeCounter counter(dir_.get());
  auto sm = start();
  ASSERT_TRUE(sm->ready());
  EXPECT_EQ(counter.adds, 0);
  EXPECT_EQ(counter.dels, 2);
  EXPECT_EQ(dir_->polToVniLane.size(), 30u);
}

INSTANTIATE_TEST_SUITE_P(Modes, IePolicyToVniLaneSmTest, IeTest::allModes, IeTest::modeName);

}  // namespace
}  // namespace OrbInternetExit
