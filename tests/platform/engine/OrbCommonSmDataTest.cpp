// The engine's common state as a dump shows it; its attributes are Mica collections whose
// notifications CollBaseTest checks, and the default-route trackers read them.
#include "platform/engine/OrbCommonSmData.h"

#include <gtest/gtest.h>

namespace {

using Kiln::VrfId;
using Vxlan::VniExtOrNone;
using Wire::IntfId;

TEST(OrbCommonSmDataTest, DumpListsEveryAttributeInKeyOrder) {
  auto csd = Mica::make<Orb::OrbCommonSmData>();
  csd->l3IntfIs(IntfId("eth2"));
  csd->l3IntfIs(IntfId("eth1"));
  csd->defaultRoutePresentInVrfIs(VrfId(3));
  auto ctx = Mica::make<Keel::DumpContext>();
  csd->dumpState(ctx, 0);
  auto info = Mica::make<Orb::VxlanInfo>();
  info->vrfIdToVniMapIs(VrfId(3), VniExtOrNone(30));
  info->vrfToVniMapIs("blue", VniExtOrNone::none());
  csd->vxlanInfoIs(info);
  csd->dumpState(ctx, 2);
  csd->checkInvariants();
  EXPECT_EQ(ctx->text(),
            "InternetExitModule: absent\n"
            "L3Intf: #2\n"
            "  Intf: eth1\n"
            "  Intf: eth2\n"
            "DefaultRoutePresentInVrf: #1\n"
            "  VrfId: 3\n"
            "VxlanInfo: absent\n"
            "  InternetExitModule: absent\n"
            "  L3Intf: #2\n"
            "    Intf: eth1\n"
            "    Intf: eth2\n"
            "  DefaultRoutePresentInVrf: #1\n"
            "    VrfId: 3\n"
            "  VxlanInfo:\n"
            "    VrfIdToVni: #1\n"
            "      VrfId: 3 Vni: 30\n"
            "    VrfToVni: #1\n"
            "      VrfName: blue Vni: noVni\n");
}

}  // namespace
