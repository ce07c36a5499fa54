// The default-route trackers behind their writer of lane bindings, IePolicyToVniLaneSm, created
// before or after it.
#include <fmt/format.h>
#include <gtest/gtest.h>


#include "Orb/OrbInternetExitStatusSm/IePolicyToVniLaneSm.h"
#include "Orb/OrbSiEdgeHelper.h"
#include "tests/Orb/SiEdgeHelperTestSupport.h"
#include "tests/support/SmTestSupport.h"

namespace OrbL3Unicast {
namespace {

using Kiln::VrfId;
using Lane::VniAndLaneId;
using Lane::VniId;
using OrbInternetExit::IePolicyToVniLaneDir;
using OrbInternetExit::PolicyVniLaneKey;
using Vxlan::VniExtOrNone;
using namespace SiEdgeHelperTest;

VniAndLaneId pair(int vni, int lane) { return VniAndLaneId(VniId(vni), static_cast<uint16_t>(lane)); }

class DefaultRouteChainTest : public IeTest::ModeFixture {
 protected:
  DefaultRouteChainTest() {
    orbcsd_->vxlanInfoIs(info_);
    info_->vrfIdToVniMapIs(VrfId(1), VniExtOrNone(10));
    info_->vrfIdToVniMapIs(VrfId(2), VniExtOrNone(11));
    orbcsd_->defaultRoutePresentInVrfIs(VrfId(1));
    lanes_->laneToIEMapIs(pair(10, 1), "P");
    lanes_->laneToIEMapIs(pair(10, 2), "Q");
    lanes_->laneToIEMapIs(pair(11, 1), "P");
  }
  void startTrackers() {
    vniSm_ = vniDefaultRouteTrackerSmFactory(orbcsd_, vnis_);
    laneSm_ = vniLaneDefaultRouteTrackerSmFactory(vnis_, bindings_, pairs_);
  }
  void startBindings() {
    policySm_ = OrbInternetExit::iePolicyToVniLaneSmFactory(lanes_, bindings_, control());
    runUntilIdle();
  }
  // Every step of the chain, then the checks shared by both creation orders.
  void exercise() {
    EXPECT_EQ(members(*pairs_), (Strings{"10.1", "10.2"}));
    log_.take();
    orbcsd_->defaultRoutePresentInVrfIs(VrfId(2));
    runUntilIdle();
    EXPECT_EQ(log_.take(), (Strings{"+11.1"}));
    lanes_->laneToIEMapIs(pair(10, 1), "R");  // rebinding: the old key goes before the new comes
    runUntilIdle();
    EXPECT_EQ(log_.take(), (Strings{"-10.1", "+10.1"}));
    lanes_->laneToIEMapDel(pair(10, 2));
    lanes_->laneToIEMapIs(pair(10, 3), "P");
    runUntilIdle();
    EXPECT_EQ(log_.take(), (Strings{"-10.2", "+10.3"}));
    info_->vrfIdToVniMapDel(VrfId(1));
    runUntilIdle();
    EXPECT_EQ(log_.take(), (Strings{"-10.1", "-10.3"}));
    EXPECT_EQ(members(*pairs_), (Strings{"11.1"}));
  }

  Mica::Ptr<Orb::OrbCommonSmData> orbcsd_ = Mica::make<Orb::OrbCommonSmData>();
  Mica::Ptr<Orb::VxlanInfo> info_ = Mica::make<Orb::VxlanInfo>();
  Mica::Ptr<Lane::LaneStatusDir> lanes_ = Mica::make<Lane::LaneStatusDir>();
  Mica::Ptr<IePolicyToVniLaneDir> bindings_ = Mica::make<IePolicyToVniLaneDir>();
  Mica::Ptr<DefaultRoutePresentInVni> vnis_ = defaultRoutePresentInVniFactory();
  Mica::Ptr<DefaultRoutePresentForVniLane> pairs_ = defaultRoutePresentForVniLaneFactory();
  MemberLog<DefaultRoutePresentForVniLane> log_{pairs_};
  Mica::Ptr<VniDefaultRouteTrackerSm> vniSm_;
  Mica::Ptr<VniLaneDefaultRouteTrackerSm> laneSm_;
  Mica::Ptr<OrbInternetExit::IePolicyToVniLaneSm> policySm_;
};

TEST_P(DefaultRouteChainTest, TrackersCreatedBeforeTheBindings) {
  startTrackers();
  startBindings();
  exercise();
}

TEST_P(DefaultRouteChainTest, TrackersCreatedAfterTheBindings) {
  startBindings();
  startTrackers();
  exercise();
}

INSTANTIATE_TEST_SUITE_P(Modes, DefaultRouteChainTest, IeTest::allModes, IeTest::modeName);

}  // namespace
}  // namespace OrbL3Unicast
