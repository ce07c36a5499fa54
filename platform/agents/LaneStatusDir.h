// Lane::LaneStatusDir: the lane agent's status, of which this library reads one collection.
//
// laneToIEMap maps each (VNI, lane) pair to the name of the internet-exit policy bound to it.
// Notifications: (laneToIEMapId, &pair, null) when a pair gains a binding, (laneToIEMapId,
// &pair, &old name) when its name changes or the binding is removed.
#pragma once

#include "platform/mica/Entity.h"
#include "platform/mica/String.h"
#include "platform/agents/VniAndLaneId.h"

namespace Lane {

class LaneStatusDir : public Mica::Entity {
 public:
  enum : Mica::AttrId { laneToIEMapId = 1 };

  Mica::ValueMap<VniAndLaneId, Mica::String, laneToIEMapId> laneToIEMap;

  void laneToIEMapIs(VniAndLaneId pair, const Mica::String& policyName) {
    laneToIEMap.set(*this, pair, policyName);
  }
  void laneToIEMapDel(VniAndLaneId pair) { laneToIEMap.erase(*this, pair); }
  void checkInvariants() const { laneToIEMap.checkInvariants(); }
};

}  // namespace Lane
