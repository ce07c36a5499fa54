// IeGroupToPolicySm: per exit group, the policies that list it.
//
// Input:   config.statusConfig[].policyStatusConfig[].exitGroup[].exitGroup
//          (ConfigSm6 -> StatusConfigSm7 -> PolicyStatusConfigSm8 -> ExitGroupSm9, source 0)
// Output:  groupToPolicyDir.groupToPolicy[ grpKey ].policy[ polKey ]
//
//   config.statusConfig[].policyStatusConfig[].exitGroup[].exitGroup
//        │ (vniLaneId, polKey, seqNo, old group, new group)
//        ▼
//   grpToPolMap: retract the old group unless the policy lists it at another seqNo,
//                then assert the new group
//
// Invariants once ready: (G, P) is present exactly when P's PolicyStatusConfig lists G at some
// sequence number; no entry under GroupVniLaneKey(); no entry with an empty policy set.
#pragma once

#include "runtime/Output.h"
#include "runtime/StateMachine.h"
#include "types/IeGroupToPolicyDir.h"
#include "types/IeStatusConfigDir.h"

namespace OrbInternetExit {

using Flo::SmControl;

class IeGroupToPolicySm final : public Flo::StateMachine {
 public:
  IeGroupToPolicySm(const Mica::Ptr<const IeStatusConfigDir>& config,
                    const Mica::Ptr<IeGroupToPolicyDir>& groupToPolicyDir, const SmControl& control);

  const Mica::Ptr<const IeStatusConfigDir>& config() const noexcept { return config_; }
  const Mica::Ptr<IeGroupToPolicyDir>& groupToPolicyDir() const noexcept { return groupToPolicyDir_; }

  // Pipeline grpToPolMap: the exit group of entry seqNo of policy polKey changed.
  void eventToGrpToPolMap(VniAndLaneId vniLaneId, const PolicyVniLaneKey& polKey, double seqNo,
                          const Quill::Optional<GroupVniLaneKey>& oldEgKeyOpt,
                          const Quill::Optional<GroupVniLaneKey>& newEgKeyOpt);

  // The output's key: (group, policy).
  using PairKey = std::pair<GroupVniLaneKey, PolicyVniLaneKey>;

 private:
  // Removes the pair, and the group's entry with its last policy.
  struct GroupToPolicySpec
      : Flo::TwoLevelOutputSpec<IeGroupToPolicyDir, &IeGroupToPolicyDir::groupToPolicy, &ExitGroupToPolicy::policy,
                                &IeGroupToPolicyDir::groupToPolicyDel, &ExitGroupToPolicy::policyDel> {};

  bool mustBePresent(VniAndLaneId vniLaneId, const PolicyVniLaneKey& polKey, double seqNo,
                     const GroupVniLaneKey& grpKey, bool isAdd) const;
  void intoGroupToPolicy(const GroupVniLaneKey& grpKey, const PolicyVniLaneKey& polKey, bool present);

  Mica::Ptr<const IeStatusConfigDir> config_;
  Mica::Ptr<IeGroupToPolicyDir> groupToPolicyDir_;
  Flo::TopOutput<GroupToPolicySpec>* groupToPolicyOutput_;
};

Mica::Ptr<IeGroupToPolicySm> ieGroupToPolicySmFactory(const Mica::Ptr<const IeStatusConfigDir>& config,
                                                      const Mica::Ptr<IeGroupToPolicyDir>& groupToPolicyDir,
                                                      const SmControl& control);

}  // namespace OrbInternetExit
