// The VNI/lane default-route tracker, alone and behind its writers. Its texts are pinned by the
// simulator's golden trace default_route_trackers.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "Orb/OrbSiEdgeHelper.h"
#include "platform/mica/Assert.h"
#include "tests/Orb/SiEdgeHelperTestSupport.h"
#include "tests/support/Thrown.h"

namespace OrbL3Unicast {
namespace {

using Lane::VniAndLaneId;
using Lane::VniId;
using OrbInternetExit::IePolicyToVniLaneDir;
using OrbInternetExit::PolicyVniLaneKey;
using namespace SiEdgeHelperTest;

PolicyVniLaneKey key(const char* policy, int vni, int lane) {
  return PolicyVniLaneKey(policy, VniAndLaneId(VniId(vni), static_cast<uint16_t>(lane)));
}

class VniLaneTrackerTest : public testing::Test {
 protected:
  Mica::Ptr<VniLaneDefaultRouteTrackerSm> start() {
    return vniLaneDefaultRouteTrackerSmFactory(vnis_, bindings_, pairs_);
  }
  void bind(const PolicyVniLaneKey& k) { bindings_->polToVniLaneIs(k); }
  void unbind(const PolicyVniLaneKey& k) { bindings_->polToVniLaneDel(k); }

  Mica::ThrowingAssertions throwing_;
  HelperTraces traces_;
  Mica::Ptr<DefaultRoutePresentInVni> vnis_ = defaultRoutePresentInVniFactory();
  Mica::Ptr<IePolicyToVniLaneDir> bindings_ = Mica::make<IePolicyToVniLaneDir>();
  Mica::Ptr<DefaultRoutePresentForVniLane> pairs_ = defaultRoutePresentForVniLaneFactory();
  MemberLog<DefaultRoutePresentForVniLane> log_{pairs_};
};

TEST_F(VniLaneTrackerTest, StartReplaysVnisThenBindingsAndDestructionDeletesAndUnsubscribes) {
  vnis_->defaultRouteIs(VniId(1));
  bind(key("P", 1, 1));
  bind(key("P", 2, 1));
  auto sm = start();
  EXPECT_EQ(log_.take(), (Strings{"+1.1"}));
  sm = nullptr;
  EXPECT_EQ(log_.take(), (Strings{"-1.1"}));
  EXPECT_EQ(vnis_->publisher().subscriberCount(), 0u);
  EXPECT_EQ(bindings_->publisher().subscriberCount(), 0u);
}

TEST_F(VniLaneTrackerTest, ReplacingAnInputAppliesTheDifferenceAndFollowsTheNewObject) {
  vnis_->defaultRouteIs(VniId(1));
  bind(key("P", 1, 1));
  bind(key("P", 1, 2));
  auto sm = start();
  log_.take();
  auto next = Mica::make<IePolicyToVniLaneDir>();
  next->polToVniLaneIs(key("P", 1, 2));
  next->polToVniLaneIs(key("Q", 1, 3));
  sm->policyStatusIs(next);
  EXPECT_EQ(log_.take(), (Strings{"-1.1", "+1.3"}));
  EXPECT_EQ(bindings_->publisher().subscriberCount(), 0u);
  EXPECT_EQ(next->publisher().subscriberCount(), 1u);
  // The old object is no longer followed: its changes reach neither the output nor the traces.
  traces_.take();
  bind(key("P", 1, 9));
  unbind(key("P", 1, 2));
  EXPECT_TRUE(log_.take().empty());
  EXPECT_TRUE(traces_.take().empty());
  next->polToVniLaneIs(key("P", 1, 4));
  EXPECT_EQ(log_.take(), (Strings{"+1.4"}));

  auto otherVnis = defaultRoutePresentInVniFactory();
  otherVnis->defaultRouteIs(VniId(1));
  sm->vniDefRouteIs(otherVnis);  // same members: nothing changes
  EXPECT_TRUE(log_.take().empty());
  EXPECT_EQ(vnis_->publisher().subscriberCount(), 0u);
  EXPECT_EQ(otherVnis->publisher().subscriberCount(), 1u);
  traces_.take();
  vnis_->defaultRouteDel(VniId(1));
  EXPECT_TRUE(log_.take().empty());
  EXPECT_TRUE(traces_.take().empty());
  sm->vniDefRouteIs(nullptr);
  EXPECT_EQ(log_.take(), (Strings{"-1.2", "-1.3", "-1.4"}));
  EXPECT_EQ(otherVnis->publisher().subscriberCount(), 0u);
}

TEST_F(VniLaneTrackerTest, PairWithAVniAboveInvalidVniIsARangeError) {
  auto sm = start();
  const PolicyVniLaneKey bad("P", VniAndLaneId::fromValue(300u << 16 | 1));
  EXPECT_EQ(IeTest::thrownText<Quill::RangeError>([&] { sm->handleIePolicyStatus(bad, true); }),
            "Lane::VniId::value < 0 or > Lane::VniId::invalidVni not allowed");
}

TEST_F(VniLaneTrackerTest, WalkSurvivesBindingChangesMadeByAnOutputSubscriber) {
  for (int lane = 0; lane < 40; ++lane) bind(key("P", 8, lane));
  auto sm = start();
  // While lane 0 is being added: unbind every odd lane, bind lanes 100..139 behind the walk's
  // position and many keys of VNI 7 before it (which reshapes the B-tree under the walk).
  struct Rebinder : Mica::Subscriber {
    IePolicyToVniLaneDir* dir;
    bool done = false;
    void onNotification(Mica::AttrId, const void*, const void*) override {
      if (std::exchange(done, true)) return;
      for (int lane = 1; lane < 40; lane += 2) dir->polToVniLaneDel(key("P", 8, lane));
      for (int lane = 100; lane < 140; ++lane) dir->polToVniLaneIs(key("P", 8, lane));
      for (int lane = 0; lane < 300; ++lane) dir->polToVniLaneIs(key("P", 7, lane));
    }
  } rebinder;
  rebinder.dir = bindings_.get();
  pairs_->subscriberAdd(&rebinder);
  traces_.take();
  vnis_->defaultRouteIs(VniId(8));
  pairs_->subscriberRemove(&rebinder);
  std::map<int, int> visits;  // lane -> "is added" traces
  for (const auto& text : traces_.take()) {
    int lane = 0;
    if (text.ends_with(" is added") &&
        std::sscanf(text.c_str(), "vniId 8 mapped to policy P@8.%d", &lane) == 1) {
      ++visits[lane];
    }
  }
  // Even lanes once, by the walk; new lanes twice, by their binding and by the walk.
  std::map<int, int> expected;
  for (int lane = 0; lane < 40; lane += 2) expected[lane] = 1;
  for (int lane = 100; lane < 140; ++lane) expected[lane] = 2;
  EXPECT_EQ(visits, expected);
  EXPECT_EQ(pairs_->defaultRoute.size(), 60u);
}

TEST_F(VniLaneTrackerTest, NullInputsCountAsEmpty) {
  auto sm = vniLaneDefaultRouteTrackerSmFactory(nullptr, nullptr, pairs_);
  sm->handleDefaultRouteInVni(VniId(1), true);
  sm->handleIePolicyStatus(key("P", 1, 1), true);
  EXPECT_TRUE(pairs_->defaultRoute.empty());
  EXPECT_THROW(vniLaneDefaultRouteTrackerSmFactory(vnis_, bindings_, nullptr), Mica::AssertionError);
  EXPECT_EQ(vnis_->publisher().subscriberCount(), 0u);
}

}  // namespace
}  // namespace OrbL3Unicast
