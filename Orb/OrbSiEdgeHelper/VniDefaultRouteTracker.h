// OrbL3Unicast::VniDefaultRouteTrackerSm: publishes which VNIs have a default route.
//
// Inputs (read-only), from the engine's common state `orbcsd`:
//   defaultRoutePresentInVrf       VRFs that have a default route
//   vxlanInfo.vrfIdToVniMap        the engine VNI bound to each VRF (vxlanInfo may be null and
//                                  may be replaced by another object)
// Output: vniDefRoute.defaultRoute, the lane-side VniId of every usable VNI to which some VRF
// with a default route is bound. A VNI value is usable when it is not the no-VNI value and its
// low 16 bits are at most 255 (Vxlan::VniExtOrNone::usable()); other values never contribute.
//
// A plain reactor: it subscribes to its inputs and handles every notification synchronously,
// inside the writer's call, with no tasks and no state besides its pointers (and the VxlanInfo
// object it is subscribed to). Every decision reads the current inputs; a VNI leaves the output
// only when no VRF still bound to it (all 32 bits compared) has a default route.
//
// Lifecycle:
//  1. vniDefaultRouteTrackerSmFactory() constructs the tracker, which subscribes and replays its
//     inputs (default routes first, then every binding as new), then switches notification
//     handling on.
//  2. Each input notification is handled at once; output notifications are delivered from
//     within the tracker's defaultRouteIs/defaultRouteDel calls.
//  3. When the last reference goes, handling is switched off, every member of the output is
//     removed (one notification each when the output has subscribers), the tracker unsubscribes
//     and releases its pointers.
//
// Costs: a default-route or binding event costs O(log n) plus, for a removal, one walk over
// the VRF bindings (the removal check).
//
// Traces: facility "OrbSiEdgeHelper", level 8, texts beside the code in the .cpp file.
// Thread-safety: none; runs on the thread that delivers the input notifications.
#pragma once

#include "Orb/OrbSiEdgeHelper/DefaultRoutePresent.h"
#include "platform/engine/OrbCommonSmData.h"
#include "platform/engine/VniExtOrNone.h"
#include "platform/engine/VrfId.h"
#include "platform/mica/Publisher.h"

namespace OrbL3Unicast {

class VniDefaultRouteTrackerSm : public Mica::Node {
 public:
  // Stores the pointers, subscribes and runs the initial reconciliation. Notification handling
  // stays off until notificationHandlingIs(true) (the factory does that).
  // A null `orbcsd` leaves the tracker idle: nothing is subscribed and the output is never
  // written, not even emptied at destruction.
  // REQUIRES: vniDefRoute is not null (assertion "vniDefRoute").
  VniDefaultRouteTrackerSm(Mica::Ptr<const Orb::OrbCommonSmData> orbcsd,
                           Mica::Ptr<DefaultRoutePresentInVni> vniDefRoute);
  ~VniDefaultRouteTrackerSm() override;

  const Mica::Ptr<const Orb::OrbCommonSmData>& orbcsd() const noexcept { return orbcsd_; }
  const Mica::Ptr<DefaultRoutePresentInVni>& vniDefRoute() const noexcept { return vniDefRoute_; }

  bool notificationHandling() const noexcept { return handling_; }
  // While off, input notifications are ignored.
  void notificationHandlingIs(bool on) noexcept { handling_ = on; }

  // `vrfId` gained (isAdd) or lost its default route. Adds the VRF's usable VNI, or removes it
  // when canRemoveVniFromDefRoute allows.
  void handleDefaultRouteInVrf(Kiln::VrfId vrfId, bool isAdd);
  // The VNI bound to `vrfId` changed from prevVniOpt to currVniOpt (either may be empty).
  // Removes the old VNI when no VRF bound to it has a default route, then adds the new one when
  // `vrfId` has a default route.
  void handleVrfIdToVniMap(Kiln::VrfId vrfId, Vxlan::VniExtOrNone::Optional prevVniOpt,
                           Vxlan::VniExtOrNone::Optional currVniOpt);
  // True when no VRF of the current vrfIdToVniMap bound to `toBeRemovedVni` (all 32 bits
  // compared) has a default route. Cost: one walk of the map, stopping at the first blocker.
  bool canRemoveVniFromDefRoute(Vxlan::VniExtOrNone toBeRemovedVni) const;

 private:
  // Routes orbcsd's notifications to the tracker.
  class OrbcsdReactor final : public Mica::Subscriber {
   public:
    explicit OrbcsdReactor(VniDefaultRouteTrackerSm& sm) : sm_(sm) {}
    void onNotification(Mica::AttrId attr, const void* key, const void* oldValue) override;

   private:
    VniDefaultRouteTrackerSm& sm_;
  };
  // Routes the followed VxlanInfo's notifications to the tracker.
  class VxlanInfoReactor final : public Mica::Subscriber {
   public:
    explicit VxlanInfoReactor(VniDefaultRouteTrackerSm& sm) : sm_(sm) {}
    void onNotification(Mica::AttrId attr, const void* key, const void* oldValue) override;

   private:
    VniDefaultRouteTrackerSm& sm_;
  };

  // The current orbcsd.vxlanInfo, or null.
  const Orb::VxlanInfo* currentVxlanInfo() const noexcept;
  // Moves the subscription from the followed VxlanInfo to orbcsd's current one and replays the
  // difference of their bindings through handleVrfIdToVniMap.
  void reconcileVxlanInfo();
  void removeVni(Vxlan::VniExtOrNone vni);
  void addVni(Vxlan::VniExtOrNone vni);
  void unsubscribeAll() noexcept;
  // Traces and empties the output; called once, from the destructor.
  void handleDestroy();

  const Mica::Ptr<const Orb::OrbCommonSmData> orbcsd_;
  const Mica::Ptr<DefaultRoutePresentInVni> vniDefRoute_;
  // The VxlanInfo object the tracker is subscribed to.
  Mica::Ptr<const Orb::VxlanInfo> followedVxlanInfo_;
  OrbcsdReactor orbcsdReactor_{*this};
  VxlanInfoReactor vxlanInfoReactor_{*this};
  bool handling_ = false;
};

// Creates the tracker (initial reconciliation included) and switches its notification handling
// on. The caller keeps the returned reference for as long as tracking is wanted.
// REQUIRES: vniDefRoute is not null.
Mica::Ptr<VniDefaultRouteTrackerSm> vniDefaultRouteTrackerSmFactory(
    Mica::Ptr<const Orb::OrbCommonSmData> orbcsd, Mica::Ptr<DefaultRoutePresentInVni> vniDefRoute);

}  // namespace OrbL3Unicast
