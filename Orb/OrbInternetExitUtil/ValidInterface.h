// validInterface: whether an interface's VRF may carry the exits of a (VNI, lane) pair.
#pragma once

#include "platform/agents/VniAndLaneId.h"
#include "platform/engine/OrbCommonSmData.h"
#include "platform/mica/Node.h"
#include "platform/mica/String.h"

namespace OrbInternetExit {

// True when `vrf` is "default" (valid for every VNI) or is bound, in orbcsd->vxlanInfo's
// vrfToVniMap, to a VNI whose 32 bits equal the pair's VniId; a VRF missing from the map counts
// as bound to no VNI. When false, writes one level-5 record through "OrbInternetExitUtil" and
// the Blip ring: "::validInterface: Not valid interface for vrf <vrf>, vni <vni>, exitOptionVni
// <vniId>".
// REQUIRES: orbcsd and orbcsd->vxlanInfo() not null (else the assertions "orbcsd" and
// "orbcsd->vxlanInfo()").
bool validInterface(const Mica::Ptr<const Orb::OrbCommonSmData>& orbcsd, Lane::VniAndLaneId vniLaneId,
                    const Mica::String& vrf);

}  // namespace OrbInternetExit
