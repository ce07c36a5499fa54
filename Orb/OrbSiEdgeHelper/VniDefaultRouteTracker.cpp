#include "Orb/OrbSiEdgeHelper/VniDefaultRouteTracker.h"

#include "Orb/OrbSiEdgeHelper/TrackerSupport.h"
#include "platform/mica/Assert.h"

namespace OrbL3Unicast {

using internal::helperTrace;

namespace {
// Trace texts; "%s" stands for a printed value.
constexpr const char* kDefaultRouteInVrfEntry =
    "void OrbL3Unicast::VniDefaultRouteTrackerSm::handleDefaultRouteInVrf(Kiln::VrfId, bool)"
    ": vrfId %s, isAdd %s";
constexpr const char* kVniMappedToVrf = "vniId %s is mapped to vrf %s";
constexpr const char* kNoVniMappedToVrf = "**NO** vni is mapped to vrf %s";
constexpr const char* kVniAdded = "vniId %s is added to vniDefaultRoute";
constexpr const char* kVniRemoved = "vniId %s is removed from vniDefaultRoute";
constexpr const char* kVrfIdToVniMapEntry =
    "void OrbL3Unicast::VniDefaultRouteTrackerSm::handleVrfIdToVniMap(Kiln::VrfId, "
    "Vxlan::VniExtOrNone::Optional, Vxlan::VniExtOrNone::Optional)"
    ": vrfId %s ( prevVni: %s, currVni: %s )";
constexpr const char* kDefaultRoutePresent = "default route present for vrfId %s";
constexpr const char* kDefaultRouteNotPresent = "default route **NOT** present for vrfId %s";
constexpr const char* kToBeRemovedMapped = "to be removed vniId %s is mapped to vrfId %s";
constexpr const char* kVrfWithoutDefaultRoute = "vrfId %s doesnt have a default route";
constexpr const char* kVrfBlocksRemoval = "vrfId %s has default route. Cannot remove";
constexpr const char* kVniCanBeRemoved = "vniId %s can be removed";
constexpr const char* kDestroy = "void OrbL3Unicast::VniDefaultRouteTrackerSm::handleDestroy()";
}  // namespace

VniDefaultRouteTrackerSm::VniDefaultRouteTrackerSm(Mica::Ptr<const Orb::OrbCommonSmData> orbcsd,
                                                   Mica::Ptr<DefaultRoutePresentInVni> vniDefRoute)
    : orbcsd_(std::move(orbcsd)), vniDefRoute_(std::move(vniDefRoute)) {
  Mica::check(vniDefRoute_ != nullptr, "vniDefRoute");
  if (!orbcsd_) return;
  try {
    // Default routes first: each VRF contributes its VNI if vxlanInfo already binds it; then
    // every binding is replayed as new.
    orbcsd_->subscriberAdd(&orbcsdReactor_);
    internal::walkByKey(orbcsd_->defaultRoutePresentInVrf,
                        [this](Kiln::VrfId vrf) { handleDefaultRouteInVrf(vrf, true); });
    reconcileVxlanInfo();
  } catch (...) {
    // A failed construction must not leave the publishers pointing at a dead tracker.
    unsubscribeAll();
    throw;
  }
}

VniDefaultRouteTrackerSm::~VniDefaultRouteTrackerSm() {
  handling_ = false;
  handleDestroy();
  unsubscribeAll();
}

void VniDefaultRouteTrackerSm::handleDestroy() {
  helperTrace(kDestroy);
  // A tracker without orbcsd never writes its output, not even now.
  if (orbcsd_ && vniDefRoute_) vniDefRoute_->defaultRouteDelAll();
}

void VniDefaultRouteTrackerSm::unsubscribeAll() noexcept {
  if (orbcsd_) orbcsd_->subscriberRemove(&orbcsdReactor_);
  if (followedVxlanInfo_) followedVxlanInfo_->subscriberRemove(&vxlanInfoReactor_);
  followedVxlanInfo_ = nullptr;
}

const Orb::VxlanInfo* VniDefaultRouteTrackerSm::currentVxlanInfo() const noexcept {
  return orbcsd_ ? orbcsd_->vxlanInfo.get().get() : nullptr;
}

void VniDefaultRouteTrackerSm::OrbcsdReactor::onNotification(Mica::AttrId attr, const void* key,
                                                             const void*) {
  if (!sm_.handling_) return;
  switch (attr) {
    case Orb::OrbCommonSmData::defaultRoutePresentInVrfId: {
      const auto vrf = *static_cast<const Kiln::VrfId*>(key);
      sm_.handleDefaultRouteInVrf(vrf, sm_.orbcsd_->defaultRoutePresentInVrf.contains(vrf));
      break;
    }
    case Orb::OrbCommonSmData::vxlanInfoId:
      sm_.reconcileVxlanInfo();
      break;
    default:
      break;  // other attributes do not concern default routes
  }
}

void VniDefaultRouteTrackerSm::VxlanInfoReactor::onNotification(Mica::AttrId attr,
                                                                const void* key,
                                                                const void* oldValue) {
  if (!sm_.handling_ || attr != Orb::VxlanInfo::vrfIdToVniMapId) return;
  const auto vrf = *static_cast<const Kiln::VrfId*>(key);
  Vxlan::VniExtOrNone::Optional prev;
  if (oldValue != nullptr) prev = *static_cast<const Vxlan::VniExtOrNone*>(oldValue);
  // The notification comes from the followed object, which is orbcsd's current one.
  sm_.handleVrfIdToVniMap(vrf, prev, sm_.followedVxlanInfo_->vrfIdToVniMap.get(vrf));
}

void VniDefaultRouteTrackerSm::reconcileVxlanInfo() {
  const Mica::Ptr<const Orb::VxlanInfo> oldInfo = std::move(followedVxlanInfo_);
  const Mica::Ptr<const Orb::VxlanInfo> newInfo(currentVxlanInfo());
  if (oldInfo) oldInfo->subscriberRemove(&vxlanInfoReactor_);
  if (newInfo) newInfo->subscriberAdd(&vxlanInfoReactor_);
  followedVxlanInfo_ = newInfo;
  if (oldInfo) {
    internal::walkByKey(oldInfo->vrfIdToVniMap, [&](const auto& entry) {
      const Vxlan::VniExtOrNone::Optional curr =
          newInfo ? newInfo->vrfIdToVniMap.get(entry.first) : Vxlan::VniExtOrNone::Optional();
      handleVrfIdToVniMap(entry.first, entry.second, curr);
    });
  }
  if (newInfo) {
    internal::walkByKey(newInfo->vrfIdToVniMap, [&](const auto& entry) {
      if (oldInfo && oldInfo->vrfIdToVniMap.contains(entry.first)) return;
      handleVrfIdToVniMap(entry.first, {}, entry.second);
    });
  }
}

void VniDefaultRouteTrackerSm::handleDefaultRouteInVrf(Kiln::VrfId vrfId, bool isAdd) {
  if (!orbcsd_) return;
  helperTrace(kDefaultRouteInVrfEntry, vrfId, isAdd);
  const Orb::VxlanInfo* info = currentVxlanInfo();
  const Vxlan::VniExtOrNone* bound = info ? info->vrfIdToVniMap.lookup(vrfId) : nullptr;
  if (bound == nullptr || !bound->usable()) {
    helperTrace(kNoVniMappedToVrf, vrfId);
    return;
  }
  const Vxlan::VniExtOrNone vni = *bound;
  helperTrace(kVniMappedToVrf, vni, vrfId);
  if (isAdd) {
    addVni(vni);
  } else if (canRemoveVniFromDefRoute(vni)) {
    removeVni(vni);
  }
}

void VniDefaultRouteTrackerSm::handleVrfIdToVniMap(Kiln::VrfId vrfId,
                                                   Vxlan::VniExtOrNone::Optional prevVniOpt,
                                                   Vxlan::VniExtOrNone::Optional currVniOpt) {
  if (!orbcsd_) return;
  helperTrace(kVrfIdToVniMapEntry, vrfId, prevVniOpt, currVniOpt);
  // The old VNI leaves whenever no VRF still bound to it has a default route; the VRF's own
  // default route is not consulted.
  if (prevVniOpt && prevVniOpt->usable() && canRemoveVniFromDefRoute(*prevVniOpt)) {
    removeVni(*prevVniOpt);
  }
  if (!currVniOpt || !currVniOpt->usable()) return;
  if (!orbcsd_->defaultRoutePresentInVrf.contains(vrfId)) {
    helperTrace(kDefaultRouteNotPresent, vrfId);
    return;
  }
  helperTrace(kDefaultRoutePresent, vrfId);
  addVni(*currVniOpt);
}

bool VniDefaultRouteTrackerSm::canRemoveVniFromDefRoute(Vxlan::VniExtOrNone toBeRemovedVni) const {
  if (const Orb::VxlanInfo* info = currentVxlanInfo()) {
    // Only traces run inside the walk, so a plain iteration is safe.
    for (const auto& [vrf, vni] : info->vrfIdToVniMap) {
      if (vni != toBeRemovedVni) continue;
      helperTrace(kToBeRemovedMapped, vni, vrf);
      if (orbcsd_->defaultRoutePresentInVrf.contains(vrf)) {
        helperTrace(kVrfBlocksRemoval, vrf);
        return false;
      }
      helperTrace(kVrfWithoutDefaultRoute, vrf);
    }
  }
  helperTrace(kVniCanBeRemoved, toBeRemovedVni);
  return true;
}

void VniDefaultRouteTrackerSm::addVni(Vxlan::VniExtOrNone vni) {
  const Lane::VniId vniId = vni.vniId();
  helperTrace(kVniAdded, vniId);
  vniDefRoute_->defaultRouteIs(vniId);
}

void VniDefaultRouteTrackerSm::removeVni(Vxlan::VniExtOrNone vni) {
  const Lane::VniId vniId = vni.vniId();
  helperTrace(kVniRemoved, vniId);
  vniDefRoute_->defaultRouteDel(vniId);
}

Mica::Ptr<VniDefaultRouteTrackerSm> vniDefaultRouteTrackerSmFactory(
    Mica::Ptr<const Orb::OrbCommonSmData> orbcsd, Mica::Ptr<DefaultRoutePresentInVni> vniDefRoute) {
  auto sm = Mica::make<VniDefaultRouteTrackerSm>(std::move(orbcsd), std::move(vniDefRoute));
  sm->notificationHandlingIs(true);
  return sm;
}

}  // namespace OrbL3Unicast
