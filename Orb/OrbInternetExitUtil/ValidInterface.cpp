#include "Orb/OrbInternetExitUtil/ValidInterface.h"

#include "Orb/OrbInternetExitUtil/UtilTrace.h"
#include "platform/mica/Assert.h"
#include "platform/trace/Duolog.h"
#include "types/ExitIntfResult.h"

namespace OrbInternetExit {

bool validInterface(const Mica::Ptr<const Orb::OrbCommonSmData>& orbcsd, Lane::VniAndLaneId vniLaneId,
                    const Mica::String& vrf) {
  Mica::check(orbcsd != nullptr, "orbcsd");
  const Mica::Ptr<Orb::VxlanInfo>& vxlanInfo = orbcsd->vxlanInfo.get();
  Mica::check(vxlanInfo != nullptr, "orbcsd->vxlanInfo()");
  const auto bound = vxlanInfo->vrfToVniMap.find(vrf);
  const Vxlan::VniExtOrNone vni = bound == vxlanInfo->vrfToVniMap.end() ? Vxlan::VniExtOrNone::none() : bound->second;
  if (vrf == ExitIntfResult::defaultVrfName().value()) return true;
  const Lane::VniId optionVni = vniLaneId.vniId();
  if (vni.value() == optionVni.value()) return true;
  Mica::Duolog::trace(Blip::defaultHandle(), internal::utilTrace(), internal::kUtilTraceLevel,
                      "::validInterface: Not valid interface for vrf %s, vni %s, exitOptionVni %s", vrf, vni,
                      optionVni.value());
  return false;
}

}  // namespace OrbInternetExit
