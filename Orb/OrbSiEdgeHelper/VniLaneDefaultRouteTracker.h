// OrbL3Unicast::VniLaneDefaultRouteTrackerSm: publishes the policy-bound (VNI, lane) pairs whose
// VNI has a default route.
//
// Inputs (read-only, either may be null and counts then as an empty set):
//   vniDefRoute.defaultRoute     VNIs with a default route (VniDefaultRouteTrackerSm's output)
//   policyStatus.polToVniLane    bound (policy, pair) keys (IePolicyToVniLaneSm's output)
// Output: vniLaneDefRoute.defaultRoute.
//
// Invariant after every handled notification: pair P is in the output when some bound key has
// P as its pair and P's VNI has a default route. Removals are keyed by the pair alone: unbinding
// one of two keys of the same pair (a policy renamed on that pair) deletes the pair while its VNI
// has a default route, even though the other key is still bound.
//
// A plain reactor, like VniDefaultRouteTrackerSm: direct subscriptions, synchronous handling, no
// state besides its pointers. Lifecycle: the factory constructs it (initial reconciliation:
// every VNI of vniDefRoute as added, then every bound key as added) and switches notification
// handling on; destruction switches handling off, empties the output (one notification per pair
// when it has subscribers) and unsubscribes.
//
// Cost. A VNI that gains or loses its default route visits only the bound keys of that VNI:
// PolicyVniLaneKey orders by pair first and VniAndLaneId keeps the VNI in its high 16 bits, so
// the keys of one VNI form one contiguous range of polToVniLane, starting at
// lowerBound(PolicyVniLaneKey("", VniAndLaneId(vni, 0))). The range is visited in key order,
// which is the order a walk over every key would meet them in, so the output sees the same
// notifications in the same order; the event costs O(log n + k) for k keys of the VNI, not
// O(n). (Keys whose pair holds a VNI above invalidVni are outside every such range; a walk over
// every key would have raised the VniId range error on them.) A binding change costs O(log n).
// Replacing an input object walks both the old and the new set.
//
// Traces: facility "OrbSiEdgeHelper", level 8, texts beside the code in the .cpp file.
// Thread-safety: none; runs on the thread that delivers the input notifications.
#pragma once

#include "Orb/OrbSiEdgeHelper/DefaultRoutePresent.h"
#include "platform/agents/VniAndLaneId.h"
#include "platform/mica/Publisher.h"
#include "types/IePolicyToVniLaneDir.h"
#include "types/PolicyVniLaneKey.h"

namespace OrbL3Unicast {

class VniLaneDefaultRouteTrackerSm : public Mica::Node {
 public:
  using PolicyVniLaneKey = OrbInternetExit::PolicyVniLaneKey;
  using IePolicyToVniLaneDir = OrbInternetExit::IePolicyToVniLaneDir;

  // Stores the pointers, subscribes and runs the initial reconciliation. Notification handling
  // stays off until notificationHandlingIs(true) (the factory does that).
  // REQUIRES: vniLaneDefRoute is not null (assertion "vniLaneDefRoute").
  VniLaneDefaultRouteTrackerSm(Mica::Ptr<const DefaultRoutePresentInVni> vniDefRoute,
                               Mica::Ptr<const IePolicyToVniLaneDir> policyStatus,
                               Mica::Ptr<DefaultRoutePresentForVniLane> vniLaneDefRoute);
  ~VniLaneDefaultRouteTrackerSm() override;

  const Mica::Ptr<const DefaultRoutePresentInVni>& vniDefRoute() const noexcept {
    return vniDefRoute_;
  }
  const Mica::Ptr<const IePolicyToVniLaneDir>& policyStatus() const noexcept {
    return policyStatus_;
  }
  const Mica::Ptr<DefaultRoutePresentForVniLane>& vniLaneDefRoute() const noexcept {
    return vniLaneDefRoute_;
  }

  // Replace an input object (either side may be null): the subscription moves to the new
  // object, every member of the old set is handled as added if the new set has it and as
  // removed otherwise, then every member only in the new set as added.
  void vniDefRouteIs(Mica::Ptr<const DefaultRoutePresentInVni> vniDefRoute);
  void policyStatusIs(Mica::Ptr<const IePolicyToVniLaneDir> policyStatus);

  bool notificationHandling() const noexcept { return handling_; }
  // While off, input notifications are ignored.
  void notificationHandlingIs(bool on) noexcept { handling_ = on; }

  // `vniId` entered (isAdd) or left vniDefRoute.defaultRoute: every bound key of that VNI is
  // added to or deleted from the output, in key order.
  void handleDefaultRouteInVni(Lane::VniId vniId, bool isAdd);
  // `polKey` entered (isAdd) or left polToVniLane: its pair is added or deleted when its VNI has
  // a default route. Throws Quill::RangeError when the pair's VNI is above invalidVni.
  void handleIePolicyStatus(const PolicyVniLaneKey& polKey, bool isAdd);
  // Adds (isAdd) or deletes polKey's pair in the output.
  void addOrDelDefaultRouteInVniLane(const PolicyVniLaneKey& polKey, bool isAdd);

 private:
  class VniDefRouteReactor final : public Mica::Subscriber {
   public:
    explicit VniDefRouteReactor(VniLaneDefaultRouteTrackerSm& sm) : sm_(sm) {}
    void onNotification(Mica::AttrId attr, const void* key, const void* oldValue) override;

   private:
    VniLaneDefaultRouteTrackerSm& sm_;
  };
  class PolicyStatusReactor final : public Mica::Subscriber {
   public:
    explicit PolicyStatusReactor(VniLaneDefaultRouteTrackerSm& sm) : sm_(sm) {}
    void onNotification(Mica::AttrId attr, const void* key, const void* oldValue) override;

   private:
    VniLaneDefaultRouteTrackerSm& sm_;
  };

  void replaceVniDefRoute(Mica::Ptr<const DefaultRoutePresentInVni> next);
  void replacePolicyStatus(Mica::Ptr<const IePolicyToVniLaneDir> next);
  void unsubscribeAll() noexcept;
  // Traces and empties the output; called once, from the destructor.
  void handleDestroy();

  Mica::Ptr<const DefaultRoutePresentInVni> vniDefRoute_;
  Mica::Ptr<const IePolicyToVniLaneDir> policyStatus_;
  const Mica::Ptr<DefaultRoutePresentForVniLane> vniLaneDefRoute_;
  VniDefRouteReactor vniDefRouteReactor_{*this};
  PolicyStatusReactor policyStatusReactor_{*this};
  bool handling_ = false;
};

// Creates the tracker (initial reconciliation included) and switches its notification handling
// on. The caller keeps the returned reference for as long as tracking is wanted.
// REQUIRES: vniLaneDefRoute is not null.
Mica::Ptr<VniLaneDefaultRouteTrackerSm> vniLaneDefaultRouteTrackerSmFactory(
    Mica::Ptr<const DefaultRoutePresentInVni> vniDefRoute,
    Mica::Ptr<const OrbInternetExit::IePolicyToVniLaneDir> policyStatus,
    Mica::Ptr<DefaultRoutePresentForVniLane> vniLaneDefRoute);

}  // namespace OrbL3Unicast
