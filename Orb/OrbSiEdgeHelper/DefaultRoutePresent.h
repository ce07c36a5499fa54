// The two sets the default-route trackers publish:
//
//   DefaultRoutePresentInVni::defaultRoute       VNIs of which some bound VRF has a default route
//                                                (written by VniDefaultRouteTrackerSm)
//   DefaultRoutePresentForVniLane::defaultRoute  policy-bound (VNI, lane) pairs whose VNI has a
//                                                default route (written by
//                                                VniLaneDefaultRouteTrackerSm)
//
// Both are created empty by their factories and belong to the agent; each tracker is the only
// writer of its output. Readers receive (defaultRouteId, &key, null) once per member that is
// added and once per member that is removed, and test membership to tell the two apart.
#pragma once

#include "platform/agents/VniAndLaneId.h"
#include "platform/keel/Dump.h"
#include "platform/mica/Entity.h"

namespace OrbL3Unicast {

namespace internal {

// A notifying set of K, the common part of both outputs.
template <class K>
class DefaultRouteSet : public Mica::Entity {
 public:
  enum : Mica::AttrId { defaultRouteId = 1 };

  Mica::ValueSet<K, defaultRouteId> defaultRoute;

  // Inserts `k`. Notifies a member addition only when `k` was not yet a member.
  void defaultRouteIs(const K& k) { defaultRoute.insert(*this, k); }
  // Removes `k` and returns whether it was a member. Notifies only a removal that happened.
  bool defaultRouteDel(const K& k) { return defaultRoute.erase(*this, k); }
  // Empties the set. Without subscribers the members are dropped at once and silently; with
  // subscribers every member is removed through defaultRouteDel, in key order, so that each
  // subscriber sees one deletion per member. A subscriber may change the set meanwhile: the
  // walk goes on after the last removed key.
  void defaultRouteDelAll() {
    if (!publisher().hasSubscribers()) {
      defaultRoute.clearSilently();
      return;
    }
    for (auto it = defaultRoute.begin(); it != defaultRoute.end();) {
      const K k = *it;
      defaultRouteDel(k);
      it = defaultRoute.upperBound(k);
    }
  }

  void checkInvariants() const { defaultRoute.checkInvariants(); }
};

}  // namespace internal

class DefaultRoutePresentInVni : public internal::DefaultRouteSet<Lane::VniId> {
 public:
  // "%*cNumberOfVni: #%u\n" (unpadded when indentCount is 0), then one "%*cVni: %s\n" line
  // per member in ascending order, indented by indentCount + 2.
  void dumpState(const Mica::Ptr<const Keel::DumpContext>& dumpCtx, unsigned indentCount) const;
};

class DefaultRoutePresentForVniLane : public internal::DefaultRouteSet<Lane::VniAndLaneId> {
 public:
  // "%*cNumberOfVniLane: #%u\n" (unpadded when indentCount is 0), then one
  // "%*cVniLane: %s\n" line per member in ascending order, indented by indentCount + 2.
  void dumpState(const Mica::Ptr<const Keel::DumpContext>& dumpCtx, unsigned indentCount) const;
};

// New, empty outputs for the agent to hand to the trackers.
Mica::Ptr<DefaultRoutePresentInVni> defaultRoutePresentInVniFactory();
Mica::Ptr<DefaultRoutePresentForVniLane> defaultRoutePresentForVniLaneFactory();

}  // namespace OrbL3Unicast
