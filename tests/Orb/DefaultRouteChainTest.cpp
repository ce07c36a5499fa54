// The default-route trackers behind their writers: lane bindings through IePolicyToVniLaneSm,
// and a seeded random walk compared with a from-scratch reference after every step.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <random>
#include <set>

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

// ---- Random events against a from-scratch reference ----

// What both outputs must hold, computed from the inputs alone. Every pair is bound to at most
// one policy, and distinct usable engine values have distinct VniIds, so the trackers' outputs
// are exactly these sets.
std::set<VniId> expectedVnis(const Orb::OrbCommonSmData& csd) {
  std::set<VniId> out;
  const auto& info = csd.vxlanInfo.get();
  if (!info) return out;
  for (const auto& [vrf, vni] : info->vrfIdToVniMap) {
    if (vni.usable() && csd.defaultRoutePresentInVrf.contains(vrf)) out.insert(vni.vniId());
  }
  return out;
}

std::set<VniAndLaneId> expectedPairs(const std::set<VniId>& vnis, const IePolicyToVniLaneDir& dir) {
  std::set<VniAndLaneId> out;
  for (const auto& k : dir.polToVniLane) {
    if (vnis.contains(k.vniLaneId.vniId())) out.insert(k.vniLaneId);
  }
  return out;
}

TEST(DefaultRouteModelTest, RandomEventsWithRestartsMatchTheReference) {
  // Engine values: usable ones with distinct VniIds (0x10004 is VniId 4), unusable ones.
  const uint32_t values[] = {1, 2, 3, 0x10004, 0x1FF, 0x100, VniExtOrNone::noneValue};
  const char* names[] = {"P", "Q", "R"};
  for (uint32_t seed = 1; seed <= 25; ++seed) {
    SCOPED_TRACE(fmt::format("seed {}", seed));
    std::mt19937 rng(seed);
    auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    auto csd = Mica::make<Orb::OrbCommonSmData>();
    Mica::Ptr<Orb::VxlanInfo> infos[2] = {Mica::make<Orb::VxlanInfo>(), Mica::make<Orb::VxlanInfo>()};
    csd->vxlanInfoIs(infos[0]);
    auto dir = Mica::make<IePolicyToVniLaneDir>();
    auto vnis = defaultRoutePresentInVniFactory();
    auto pairs = defaultRoutePresentForVniLaneFactory();
    auto vniSm = vniDefaultRouteTrackerSmFactory(csd, vnis);
    auto laneSm = vniLaneDefaultRouteTrackerSmFactory(vnis, dir, pairs);
    for (int step = 0; step < 400; ++step) {
      const VrfId vrf(pick(6));
      const VniAndLaneId p = pair(static_cast<int>(pick(6)), static_cast<int>(pick(4)));
      switch (pick(10)) {
        case 0: case 1:
          if (csd->defaultRoutePresentInVrf.contains(vrf)) {
            csd->defaultRoutePresentInVrfDel(vrf);
          } else {
            csd->defaultRoutePresentInVrfIs(vrf);
          }
          break;
        case 2: case 3:  // either object: changes to the unfollowed one must not matter
          infos[pick(2)]->vrfIdToVniMapIs(vrf, VniExtOrNone(values[pick(std::size(values))]));
          break;
        case 4:
          infos[pick(2)]->vrfIdToVniMapDel(vrf);
          break;
        case 5:
          csd->vxlanInfoIs(pick(5) == 0 ? nullptr : infos[pick(2)]);
          break;
        case 6: {  // bind the pair unless some policy holds it already
          auto it = dir->polToVniLane.lowerBound(PolicyVniLaneKey("", p));
          if (it == dir->polToVniLane.end() || it->vniLaneId != p) {
            dir->polToVniLaneIs(PolicyVniLaneKey(names[pick(3)], p));
          }
          break;
        }
        case 7: {
          auto it = dir->polToVniLane.lowerBound(PolicyVniLaneKey("", p));
          if (it != dir->polToVniLane.end() && it->vniLaneId == p) {
            const PolicyVniLaneKey bound = *it;
            dir->polToVniLaneDel(bound);
          }
          break;
        }
        case 8:
          if (pick(4) == 0) {
            vniSm = nullptr;  // empties vnis, and through laneSm, pairs
            EXPECT_TRUE(pairs->defaultRoute.empty());
            vniSm = vniDefaultRouteTrackerSmFactory(csd, vnis);
          }
          break;
        case 9:
          if (pick(4) == 0) {
            laneSm = nullptr;
            laneSm = vniLaneDefaultRouteTrackerSmFactory(vnis, dir, pairs);
          }
          break;
      }
      const auto wantVnis = expectedVnis(*csd);
      ASSERT_EQ(std::set<VniId>(vnis->defaultRoute.begin(), vnis->defaultRoute.end()), wantVnis)
          << "step " << step;
      ASSERT_EQ(std::set<VniAndLaneId>(pairs->defaultRoute.begin(), pairs->defaultRoute.end()),
                expectedPairs(wantVnis, *dir))
          << "step " << step;
    }
    laneSm = nullptr;
    vniSm = nullptr;
    EXPECT_TRUE(vnis->defaultRoute.empty());
    EXPECT_TRUE(pairs->defaultRoute.empty());
  }
}

}  // namespace
}  // namespace OrbL3Unicast
