// OrbInternetExit::IePolicyToVniLaneDir: the set of (policy, pair) bindings.
//
// Created by the agent, written only by IePolicyToVniLaneSm, read by the status configuration
// builder and the VNI/lane default-route tracker. (P, v) is present while policy P is bound to
// pair v. Readers receive one notification per added or deleted key (attribute polToVniLaneId,
// the key, no old value); adding a present key or deleting an absent one notifies nobody.
//
// Keys order by pair first (VNI in the high bits), so the bindings of one VNI are one range of
// polToVniLane. The entity also indexes the pairs of each policy name (pairsOfPolicy), so that
// a reader can find the pairs bound to one policy without walking every binding. The index is
// updated before the notification, so readers see both in agreement.
#pragma once

#include <absl/container/btree_set.h>
#include <absl/container/flat_hash_map.h>

#include "platform/mica/Entity.h"
#include "types/PolicyVniLaneKey.h"

namespace OrbInternetExit {

class IePolicyToVniLaneDir : public Mica::Entity {
 public:
  enum : Mica::AttrId { polToVniLaneId = 1 };
  using PairSet = absl::btree_set<VniAndLaneId>;

  Mica::ValueSet<PolicyVniLaneKey, polToVniLaneId> polToVniLane;

  void polToVniLaneIs(const PolicyVniLaneKey& k) {
    if (polToVniLane.contains(k)) return;
    pairsByPolicy_[k.policyName].insert(k.vniLaneId);
    polToVniLane.insert(*this, k);
  }
  void polToVniLaneDel(const PolicyVniLaneKey& k) {
    if (!polToVniLane.contains(k)) return;
    auto it = pairsByPolicy_.find(k.policyName);
    it->second.erase(k.vniLaneId);
    if (it->second.empty()) pairsByPolicy_.erase(it);
    polToVniLane.erase(*this, k);
  }

  // The pairs bound to `policyName`, in ascending order (empty when none).
  const PairSet& pairsOfPolicy(const Mica::String& policyName) const {
    static const PairSet none;
    auto it = pairsByPolicy_.find(policyName);
    return it == pairsByPolicy_.end() ? none : it->second;
  }

  // The index agrees with polToVniLane; the B-trees are sound.
  bool checkInvariants() const {
    polToVniLane.checkInvariants();
    size_t indexed = 0;
    for (const auto& [name, pairs] : pairsByPolicy_) {
      for (VniAndLaneId v : pairs) {
        if (!polToVniLane.contains(PolicyVniLaneKey(name, v))) return false;
      }
      indexed += pairs.size();
    }
    return indexed == polToVniLane.size();
  }

 private:
  absl::flat_hash_map<Mica::String, PairSet> pairsByPolicy_;
};

}  // namespace OrbInternetExit
