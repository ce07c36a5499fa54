// OrbInternetExit::IePolicyToVniLaneDir: the set of (policy, pair) bindings.
//
// Created by the agent, written only by IePolicyToVniLaneSm, read by the status configuration
// builder and the VNI/lane default-route tracker. (P, v) is present while policy P is bound to
// pair v. Readers receive one notification per added or deleted key (attribute polToVniLaneId,
// the key, no old value); adding a present key or deleting an absent one notifies nobody.
#pragma once

#include "platform/mica/Entity.h"
#include "types/PolicyVniLaneKey.h"

namespace OrbInternetExit {

class IePolicyToVniLaneDir : public Mica::Entity {
 public:
  enum : Mica::AttrId { polToVniLaneId = 1 };

  Mica::ValueSet<PolicyVniLaneKey, polToVniLaneId> polToVniLane;

  void polToVniLaneIs(const PolicyVniLaneKey& k) { polToVniLane.insert(*this, k); }
  void polToVniLaneDel(const PolicyVniLaneKey& k) { polToVniLane.erase(*this, k); }
  void checkInvariants() const { polToVniLane.checkInvariants(); }
};

}  // namespace OrbInternetExit
