#include "Orb/OrbSiEdgeHelper/VniLaneDefaultRouteTracker.h"

#include "Orb/OrbSiEdgeHelper/TrackerSupport.h"
#include "platform/mica/Assert.h"

namespace OrbL3Unicast {

using internal::helperTrace;

namespace {
// Trace texts; "%s" stands for a printed value.
constexpr const char* kDefaultRouteInVniEntry =
    "void OrbL3Unicast::VniLaneDefaultRouteTrackerSm::handleDefaultRouteInVni(Lane::VniId, bool)"
    ": vniId %s, isAdd %s";
constexpr const char* kIePolicyStatusEntry =
    "void OrbL3Unicast::VniLaneDefaultRouteTrackerSm::handleIePolicyStatus("
    "const OrbInternetExit::PolicyVniLaneKey&, bool)"
    ": policy %s, isAdd %s";
constexpr const char* kNoVniDefaultRoute = "vni default route not present for policy %s";
constexpr const char* kPairAdded = "vniId %s mapped to policy %s is added";
constexpr const char* kPairDeleted = "vniId %s mapped to policy %s is deleted";
constexpr const char* kDestroy = "void OrbL3Unicast::VniLaneDefaultRouteTrackerSm::handleDestroy()";

// Moves `reactor` from `oldObj` to `newObj` and replays the difference of their sets `coll`:
// each member of the old set with isAdd = its presence in the new set, then each member only in
// the new set with isAdd = true.
template <class E, class Owner, class Coll, class Handle>
void replaceInput(const Mica::Ptr<const E>& oldObj, const Mica::Ptr<const E>& newObj,
                  Mica::Subscriber* reactor, Coll Owner::*coll, Handle&& handle) {
  if (oldObj) oldObj->subscriberRemove(reactor);
  if (newObj) newObj->subscriberAdd(reactor);
  if (oldObj) {
    internal::walkByKey((*oldObj).*coll, [&](const auto& member) {
      handle(member, newObj && ((*newObj).*coll).contains(member));
    });
  }
  if (newObj) {
    internal::walkByKey((*newObj).*coll, [&](const auto& member) {
      if (oldObj && ((*oldObj).*coll).contains(member)) return;
      handle(member, true);
    });
  }
}
}  // namespace

VniLaneDefaultRouteTrackerSm::VniLaneDefaultRouteTrackerSm(
    Mica::Ptr<const DefaultRoutePresentInVni> vniDefRoute,
    Mica::Ptr<const IePolicyToVniLaneDir> policyStatus,
    Mica::Ptr<DefaultRoutePresentForVniLane> vniLaneDefRoute)
    : vniLaneDefRoute_(std::move(vniLaneDefRoute)) {
  Mica::check(vniLaneDefRoute_ != nullptr, "vniLaneDefRoute");
  // Both inputs are stored before either is replayed, so that the VNIs replayed first already
  // find every bound pair; replaying the keys then adds nothing new.
  vniDefRoute_ = std::move(vniDefRoute);
  policyStatus_ = std::move(policyStatus);
  try {
    replaceInput<DefaultRoutePresentInVni>(
        nullptr, vniDefRoute_, &vniDefRouteReactor_, &DefaultRoutePresentInVni::defaultRoute,
        [this](Lane::VniId vni, bool isAdd) { handleDefaultRouteInVni(vni, isAdd); });
    replaceInput<IePolicyToVniLaneDir>(
        nullptr, policyStatus_, &policyStatusReactor_, &IePolicyToVniLaneDir::polToVniLane,
        [this](const PolicyVniLaneKey& k, bool isAdd) { handleIePolicyStatus(k, isAdd); });
  } catch (...) {
    // A failed construction must not leave the publishers pointing at a dead tracker.
    unsubscribeAll();
    throw;
  }
}

VniLaneDefaultRouteTrackerSm::~VniLaneDefaultRouteTrackerSm() {
  handling_ = false;
  handleDestroy();
  unsubscribeAll();
}

void VniLaneDefaultRouteTrackerSm::handleDestroy() {
  helperTrace(kDestroy);
  if (vniLaneDefRoute_) vniLaneDefRoute_->defaultRouteDelAll();
}

void VniLaneDefaultRouteTrackerSm::unsubscribeAll() noexcept {
  if (vniDefRoute_) vniDefRoute_->subscriberRemove(&vniDefRouteReactor_);
  if (policyStatus_) policyStatus_->subscriberRemove(&policyStatusReactor_);
}

void VniLaneDefaultRouteTrackerSm::vniDefRouteIs(
    Mica::Ptr<const DefaultRoutePresentInVni> vniDefRoute) {
  if (vniDefRoute == vniDefRoute_) return;
  const Mica::Ptr<const DefaultRoutePresentInVni> old = std::exchange(vniDefRoute_, vniDefRoute);
  replaceInput<DefaultRoutePresentInVni>(
      old, vniDefRoute, &vniDefRouteReactor_, &DefaultRoutePresentInVni::defaultRoute,
      [this](Lane::VniId vni, bool isAdd) { handleDefaultRouteInVni(vni, isAdd); });
}

void VniLaneDefaultRouteTrackerSm::policyStatusIs(
    Mica::Ptr<const IePolicyToVniLaneDir> policyStatus) {
  if (policyStatus == policyStatus_) return;
  const Mica::Ptr<const IePolicyToVniLaneDir> old = std::exchange(policyStatus_, policyStatus);
  replaceInput<IePolicyToVniLaneDir>(
      old, policyStatus, &policyStatusReactor_, &IePolicyToVniLaneDir::polToVniLane,
      [this](const PolicyVniLaneKey& k, bool isAdd) { handleIePolicyStatus(k, isAdd); });
}

void VniLaneDefaultRouteTrackerSm::VniDefRouteReactor::onNotification(Mica::AttrId attr,
                                                                      const void* key,
                                                                      const void*) {
  if (!sm_.handling_ || attr != DefaultRoutePresentInVni::defaultRouteId) return;
  const auto vni = *static_cast<const Lane::VniId*>(key);
  sm_.handleDefaultRouteInVni(vni, sm_.vniDefRoute_->defaultRoute.contains(vni));
}

void VniLaneDefaultRouteTrackerSm::PolicyStatusReactor::onNotification(Mica::AttrId attr,
                                                                       const void* key,
                                                                       const void*) {
  if (!sm_.handling_ || attr != IePolicyToVniLaneDir::polToVniLaneId) return;
  const auto& polKey = *static_cast<const PolicyVniLaneKey*>(key);
  sm_.handleIePolicyStatus(polKey, sm_.policyStatus_->polToVniLane.contains(polKey));
}

void VniLaneDefaultRouteTrackerSm::handleDefaultRouteInVni(Lane::VniId vniId, bool isAdd) {
  helperTrace(kDefaultRouteInVniEntry, vniId, isAdd);
  // Held for the walk: an output subscriber may replace the input meanwhile.
  const Mica::Ptr<const IePolicyToVniLaneDir> bindings = policyStatus_;
  if (!bindings) return;
  // The keys of one VNI are one contiguous range, in the order a walk over every key meets them.
  const auto& keys = bindings->polToVniLane;
  const uint32_t vni = vniId.value();
  internal::walkByKey(
      keys, keys.lowerBound(PolicyVniLaneKey(Mica::String(), Lane::VniAndLaneId(vniId, 0))),
      [vni](const PolicyVniLaneKey& k) { return k.vniLaneId.value() >> 16 == vni; },
      [&](const PolicyVniLaneKey& k) { addOrDelDefaultRouteInVniLane(k, isAdd); });
}

void VniLaneDefaultRouteTrackerSm::handleIePolicyStatus(const PolicyVniLaneKey& polKey,
                                                        bool isAdd) {
  helperTrace(kIePolicyStatusEntry, polKey, isAdd);
  const Lane::VniId vni = polKey.vniLaneId.vniId();
  if (vniDefRoute_ && vniDefRoute_->defaultRoute.contains(vni)) {
    addOrDelDefaultRouteInVniLane(polKey, isAdd);
  } else {
    // Also on removal: a pair whose VNI has no default route is not in the output.
    helperTrace(kNoVniDefaultRoute, polKey);
  }
}

void VniLaneDefaultRouteTrackerSm::addOrDelDefaultRouteInVniLane(const PolicyVniLaneKey& polKey,
                                                                 bool isAdd) {
  const Lane::VniId vni = polKey.vniLaneId.vniId();
  if (isAdd) {
    helperTrace(kPairAdded, vni, polKey);
    vniLaneDefRoute_->defaultRouteIs(polKey.vniLaneId);
  } else {
    helperTrace(kPairDeleted, vni, polKey);
    vniLaneDefRoute_->defaultRouteDel(polKey.vniLaneId);
  }
}

Mica::Ptr<VniLaneDefaultRouteTrackerSm> vniLaneDefaultRouteTrackerSmFactory(
    Mica::Ptr<const DefaultRoutePresentInVni> vniDefRoute,
    Mica::Ptr<const OrbInternetExit::IePolicyToVniLaneDir> policyStatus,
    Mica::Ptr<DefaultRoutePresentForVniLane> vniLaneDefRoute) {
  auto sm = Mica::make<VniLaneDefaultRouteTrackerSm>(std::move(vniDefRoute),
                                                     std::move(policyStatus),
                                                     std::move(vniLaneDefRoute));
  sm->notificationHandlingIs(true);
  return sm;
}

}  // namespace OrbL3Unicast
