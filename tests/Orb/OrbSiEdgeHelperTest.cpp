// The default-route outputs and the VNI default-route tracker. The tracker's texts are pinned by
// the simulator's golden trace default_route_trackers.
#include "Orb/OrbSiEdgeHelper.h"

#include <gtest/gtest.h>

#include "platform/mica/Assert.h"
#include "tests/Orb/SiEdgeHelperTestSupport.h"

namespace OrbL3Unicast {
namespace {

using Kiln::VrfId;
using Lane::VniAndLaneId;
using Lane::VniId;
using Vxlan::VniExtOrNone;
using namespace SiEdgeHelperTest;

// ---- The output sets ----
// Members are a Mica ValueSet (notifications checked by CollBaseTest); what is their own is
// removing every member and the dump.

TEST(DefaultRouteSetTest, DelAllNotifiesEachMemberOnceWhenSubscribed) {
  auto set = defaultRoutePresentForVniLaneFactory();
  for (int lane : {3, 1, 2}) set->defaultRouteIs(VniAndLaneId(VniId(4), lane));
  MemberLog<DefaultRoutePresentForVniLane> log(set);
  // A subscriber that removes the last member while the first is being removed: the walk must
  // neither visit a removed member again nor stop early.
  struct Remover : Mica::Subscriber {
    DefaultRoutePresentForVniLane* set;
    void onNotification(Mica::AttrId, const void*, const void*) override {
      set->defaultRouteDel(VniAndLaneId(VniId(4), 3));
    }
  } remover;
  remover.set = set.get();
  set->subscriberAdd(&remover);
  set->defaultRouteDelAll();
  set->subscriberRemove(&remover);
  EXPECT_EQ(log.take(), (Strings{"-4.1", "-4.3", "-4.2"}));
  EXPECT_TRUE(set->defaultRoute.empty());
}

TEST(DefaultRouteSetTest, DelAllWithoutSubscribersEmptiesSilently) {
  auto set = defaultRoutePresentInVniFactory();
  set->defaultRouteIs(VniId(1));
  set->defaultRouteIs(VniId(2));
  set->defaultRouteDelAll();
  EXPECT_TRUE(set->defaultRoute.empty());
  set->defaultRouteIs(VniId(1));  // still usable afterwards
  EXPECT_EQ(members(*set), (Strings{"1"}));
}

TEST(DefaultRouteSetTest, DumpStateTexts) {
  auto vnis = defaultRoutePresentInVniFactory();
  auto pairs = defaultRoutePresentForVniLaneFactory();
  auto ctx = Mica::make<Keel::DumpContext>();
  vnis->dumpState(ctx, 0);
  EXPECT_EQ(ctx->text(), "NumberOfVni: #0\n");
  ctx->clear();
  vnis->defaultRouteIs(VniId(20));
  vnis->defaultRouteIs(VniId(3));
  vnis->dumpState(ctx, 0);
  vnis->dumpState(ctx, 3);
  EXPECT_EQ(ctx->text(),
            "NumberOfVni: #2\n  Vni: 3\n  Vni: 20\n"
            "   NumberOfVni: #2\n     Vni: 3\n     Vni: 20\n");
  ctx->clear();
  pairs->defaultRouteIs(VniAndLaneId(VniId(7), 2));
  pairs->defaultRouteIs(VniAndLaneId(VniId(7), 0));
  pairs->dumpState(ctx, 0);
  pairs->dumpState(ctx, 1);
  EXPECT_EQ(ctx->text(),
            "NumberOfVniLane: #2\n  VniLane: 7.0\n  VniLane: 7.2\n"
            " NumberOfVniLane: #2\n   VniLane: 7.0\n   VniLane: 7.2\n");
}

// ---- VniDefaultRouteTrackerSm ----

class VniTrackerTest : public testing::Test {
 protected:
  VniTrackerTest() { orbcsd_->vxlanInfoIs(info_); }

  void bind(uint32_t vrf, uint32_t vni) { info_->vrfIdToVniMapIs(VrfId(vrf), VniExtOrNone(vni)); }
  void unbind(uint32_t vrf) { info_->vrfIdToVniMapDel(VrfId(vrf)); }
  void route(uint32_t vrf) { orbcsd_->defaultRoutePresentInVrfIs(VrfId(vrf)); }
  void unroute(uint32_t vrf) { orbcsd_->defaultRoutePresentInVrfDel(VrfId(vrf)); }
  Mica::Ptr<VniDefaultRouteTrackerSm> start() { return vniDefaultRouteTrackerSmFactory(orbcsd_, vniDefRoute_); }

  Mica::ThrowingAssertions throwing_;
  HelperTraces traces_;
  Mica::Ptr<Orb::OrbCommonSmData> orbcsd_ = Mica::make<Orb::OrbCommonSmData>();
  Mica::Ptr<Orb::VxlanInfo> info_ = Mica::make<Orb::VxlanInfo>();
  Mica::Ptr<DefaultRoutePresentInVni> vniDefRoute_ = defaultRoutePresentInVniFactory();
  MemberLog<DefaultRoutePresentInVni> log_{vniDefRoute_};
};

TEST_F(VniTrackerTest, StartAppliesDefaultRoutesThenReplaysBindingsAndDestructionUndoesBoth) {
  route(1);
  route(2);
  bind(1, 10);
  bind(2, 0x1FF);  // low 16 bits above 255: not usable
  bind(3, 20);     // no default route
  auto sm = start();
  EXPECT_EQ(log_.take(), (Strings{"+10"}));
  EXPECT_EQ(orbcsd_->publisher().subscriberCount(), 1u);
  EXPECT_EQ(info_->publisher().subscriberCount(), 1u);
  sm = nullptr;
  EXPECT_EQ(log_.take(), (Strings{"-10"}));
  EXPECT_EQ(orbcsd_->publisher().subscriberCount(), 0u);
  EXPECT_EQ(info_->publisher().subscriberCount(), 0u);
}

TEST_F(VniTrackerTest, ReplacingVxlanInfoAppliesTheDifferenceAndFollowsOnlyTheNewObject) {
  route(1);
  route(2);
  route(3);
  bind(1, 10);
  bind(2, 20);
  auto sm = start();
  log_.take();
  auto next = Mica::make<Orb::VxlanInfo>();
  next->vrfIdToVniMapIs(VrfId(1), VniExtOrNone(10));
  next->vrfIdToVniMapIs(VrfId(3), VniExtOrNone(30));
  orbcsd_->vxlanInfoIs(next);
  EXPECT_EQ(log_.take(), (Strings{"-20", "+30"}));  // 10 is untouched
  EXPECT_EQ(info_->publisher().subscriberCount(), 0u);
  EXPECT_EQ(next->publisher().subscriberCount(), 1u);
  // The old object is no longer followed: its changes reach neither the output nor the traces.
  traces_.take();
  bind(2, 50);
  bind(1, 70);
  unbind(1);
  EXPECT_TRUE(log_.take().empty());
  EXPECT_TRUE(traces_.take().empty());
  next->vrfIdToVniMapIs(VrfId(2), VniExtOrNone(60));
  EXPECT_EQ(log_.take(), (Strings{"+60"}));
  orbcsd_->vxlanInfoIs(nullptr);
  EXPECT_EQ(log_.take(), (Strings{"-10", "-60", "-30"}));
}

TEST_F(VniTrackerTest, NullOutputIsAnAssertionAndNullOrbcsdLeavesTheOutputAlone) {
  EXPECT_THROW(vniDefaultRouteTrackerSmFactory(orbcsd_, nullptr), Mica::AssertionError);
  EXPECT_EQ(orbcsd_->publisher().subscriberCount(), 0u);
  vniDefRoute_->defaultRouteIs(VniId(1));
  log_.take();
  auto sm = vniDefaultRouteTrackerSmFactory(nullptr, vniDefRoute_);
  sm->handleDefaultRouteInVrf(VrfId(1), false);
  sm->handleVrfIdToVniMap(VrfId(1), VniExtOrNone(1), {});
  sm = nullptr;  // not even destruction writes
  EXPECT_TRUE(log_.take().empty());
  EXPECT_EQ(members(*vniDefRoute_), (Strings{"1"}));
}

}  // namespace
}  // namespace OrbL3Unicast
