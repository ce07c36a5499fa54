// The status configuration: the operator's configuration expanded per (VNI, lane) pair.
//
//   IeStatusConfigDir
//     statusConfig[pair]  IeStatusConfig
//       exitGroupStatusConfig[GroupVniLaneKey]   ExitGroupStatusConfig
//                                                 exitOption: set of ExitVniLaneKey
//       policyStatusConfig[PolicyVniLaneKey]     PolicyStatusConfig
//                                                 exitGroup[seqNo]: PolicyStatusExitGroupEntry
//                                                   exitGroup: GroupVniLaneKey
//
// Written only by IeStatusConfigSm; read by the exit-option, exit-group, group-to-policy and
// policy status state machines. Every collection and attribute notifies each change.
#pragma once

#include "platform/agents/VniAndLaneId.h"
#include "platform/mica/Entity.h"
#include "types/ExitKey.h"
#include "types/GroupVniLaneKey.h"
#include "types/PolicyVniLaneKey.h"

namespace OrbInternetExit {

class ExitGroupStatusConfig : public Mica::Entity {
 public:
  enum : Mica::AttrId { exitOptionId = 1 };
  static constexpr size_t kExitOptionInline = 2;
  explicit ExitGroupStatusConfig(const GroupVniLaneKey& groupKey) : groupKey_(groupKey) {}
  const GroupVniLaneKey& groupKey() const noexcept { return groupKey_; }
  const GroupVniLaneKey& key() const noexcept { return groupKey_; }

  // A group usually has one or two options per pair.
  Mica::ValueSet<ExitVniLaneKey, exitOptionId, kExitOptionInline> exitOption;
  void exitOptionIs(const ExitVniLaneKey& k) { exitOption.insert(*this, k); }
  void exitOptionDel(const ExitVniLaneKey& k) { exitOption.erase(*this, k); }

 private:
  GroupVniLaneKey groupKey_;
};

class PolicyStatusExitGroupEntry : public Mica::Entity {
 public:
  enum : Mica::AttrId { exitGroupId = 1 };
  explicit PolicyStatusExitGroupEntry(double seqNo) : seqNo_(seqNo) {}
  double seqNo() const noexcept { return seqNo_; }
  double key() const noexcept { return seqNo_; }

  Mica::Scalar<GroupVniLaneKey, exitGroupId> exitGroup;
  void exitGroupIs(const GroupVniLaneKey& k) { exitGroup.set(*this, k); }

 private:
  double seqNo_;
};

class PolicyStatusConfig : public Mica::Entity {
 public:
  enum : Mica::AttrId { exitGroupId = 1 };
  explicit PolicyStatusConfig(const PolicyVniLaneKey& policyKey) : policyKey_(policyKey) {}
  const PolicyVniLaneKey& policyKey() const noexcept { return policyKey_; }
  const PolicyVniLaneKey& key() const noexcept { return policyKey_; }

  // Ordered by ascending sequence number. A policy usually lists one or two groups.
  static constexpr size_t kExitGroupInline = 2;
  Mica::EntityMap<double, PolicyStatusExitGroupEntry, exitGroupId, kExitGroupInline> exitGroup;
  Mica::Ptr<PolicyStatusExitGroupEntry> exitGroupIs(double seqNo) { return exitGroup.create(*this, seqNo); }
  // Creates or updates the entry at seqNo to name `groupKey` (a new entry is notified with it).
  Mica::Ptr<PolicyStatusExitGroupEntry> exitGroupIs(double seqNo, const GroupVniLaneKey& groupKey) {
    auto entry = exitGroup.create(*this, seqNo, [&](PolicyStatusExitGroupEntry& e) { e.exitGroupIs(groupKey); });
    entry->exitGroupIs(groupKey);
    return entry;
  }
  void exitGroupDel(double seqNo) { exitGroup.erase(*this, seqNo); }

 private:
  PolicyVniLaneKey policyKey_;
};

class IeStatusConfig : public Mica::Entity {
 public:
  enum : Mica::AttrId { exitGroupStatusConfigId = 1, policyStatusConfigId = 2 };
  explicit IeStatusConfig(VniAndLaneId vniLaneId) : vniLaneId_(vniLaneId) {}
  VniAndLaneId vniLaneId() const noexcept { return vniLaneId_; }
  VniAndLaneId key() const noexcept { return vniLaneId_; }

  // A pair is bound to one policy, which usually lists one or two groups.
  static constexpr size_t kExitGroupStatusConfigInline = 2;
  static constexpr size_t kPolicyStatusConfigInline = 1;
  Mica::EntityMap<GroupVniLaneKey, ExitGroupStatusConfig, exitGroupStatusConfigId, kExitGroupStatusConfigInline>
      exitGroupStatusConfig;
  Mica::EntityMap<PolicyVniLaneKey, PolicyStatusConfig, policyStatusConfigId, kPolicyStatusConfigInline>
      policyStatusConfig;

  Mica::Ptr<ExitGroupStatusConfig> exitGroupStatusConfigIs(const GroupVniLaneKey& k) {
    return exitGroupStatusConfig.create(*this, k);
  }
  void exitGroupStatusConfigDel(const GroupVniLaneKey& k) { exitGroupStatusConfig.erase(*this, k); }
  Mica::Ptr<PolicyStatusConfig> policyStatusConfigIs(const PolicyVniLaneKey& k) {
    return policyStatusConfig.create(*this, k);
  }
  void policyStatusConfigDel(const PolicyVniLaneKey& k) { policyStatusConfig.erase(*this, k); }

 private:
  VniAndLaneId vniLaneId_;
};

// A million pairs hold one IeStatusConfig, two ExitGroupStatusConfig and one PolicyStatusConfig
// each: their sizes are part of the memory budget per pair (the inline collections hold what a
// pair usually has without a B-tree node each).
static_assert(sizeof(ExitGroupStatusConfig::exitOption) == 32);
static_assert(sizeof(PolicyStatusConfig::exitGroup) == 40);
static_assert(sizeof(IeStatusConfig::exitGroupStatusConfig) == 40);
static_assert(sizeof(IeStatusConfig::policyStatusConfig) == 24);
static_assert(sizeof(ExitGroupStatusConfig) == 64);
static_assert(sizeof(PolicyStatusConfig) == 72);
static_assert(sizeof(IeStatusConfig) == 96);

class IeStatusConfigDir : public Mica::Entity {
 public:
  enum : Mica::AttrId { statusConfigId = 1 };

  Mica::EntityMap<VniAndLaneId, IeStatusConfig, statusConfigId> statusConfig;
  Mica::Ptr<IeStatusConfig> statusConfigIs(VniAndLaneId k) { return statusConfig.create(*this, k); }
  void statusConfigDel(VniAndLaneId k) { statusConfig.erase(*this, k); }
};

}  // namespace OrbInternetExit
