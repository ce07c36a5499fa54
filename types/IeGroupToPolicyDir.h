// The reverse map from each exit group to the policies that list it.
//
//   IeGroupToPolicyDir
//     groupToPolicy[GroupVniLaneKey]  ExitGroupToPolicy   policy: set of PolicyVniLaneKey
//
// Written only by IeGroupToPolicySm. Invariants kept by the writer: no entry under the
// default key GroupVniLaneKey(), no entry with an empty policy set.
#pragma once

#include "platform/mica/Entity.h"
#include "types/GroupVniLaneKey.h"
#include "types/PolicyVniLaneKey.h"

namespace OrbInternetExit {

class ExitGroupToPolicy : public Mica::Entity {
 public:
  enum : Mica::AttrId { policyId = 1 };
  explicit ExitGroupToPolicy(const GroupVniLaneKey& groupKey) : groupKey_(groupKey) {}
  const GroupVniLaneKey& groupKey() const noexcept { return groupKey_; }
  const GroupVniLaneKey& key() const noexcept { return groupKey_; }

  // A group of one pair is usually listed by the pair's one policy.
  static constexpr size_t kPolicyInline = 1;
  Mica::ValueSet<PolicyVniLaneKey, policyId, kPolicyInline> policy;
  void policyIs(const PolicyVniLaneKey& k) { policy.insert(*this, k); }
  void policyDel(const PolicyVniLaneKey& k) { policy.erase(*this, k); }

 private:
  GroupVniLaneKey groupKey_;
};

// Two per pair at a million pairs: its size is part of the memory budget per pair.
static_assert(sizeof(ExitGroupToPolicy::policy) == 16);
static_assert(sizeof(ExitGroupToPolicy) == 48);

class IeGroupToPolicyDir : public Mica::Entity {
 public:
  enum : Mica::AttrId { groupToPolicyId = 1 };

  Mica::EntityMap<GroupVniLaneKey, ExitGroupToPolicy, groupToPolicyId> groupToPolicy;
  Mica::Ptr<ExitGroupToPolicy> groupToPolicyIs(const GroupVniLaneKey& k) {
    return groupToPolicy.create(*this, k);
  }
  void groupToPolicyDel(const GroupVniLaneKey& k) { groupToPolicy.erase(*this, k); }

  // Invariants 1 and 2 above, and the B-trees' own.
  bool checkInvariants() const {
    groupToPolicy.checkInvariants();
    if (groupToPolicy.contains(GroupVniLaneKey())) return false;
    for (const auto& [k, e] : groupToPolicy) {
      if (e->policy.empty() || !(e->groupKey() == k)) return false;
    }
    return true;
  }
};

}  // namespace OrbInternetExit
