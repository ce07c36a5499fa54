#include "Orb/OrbInternetExitStatusSm/IeGroupToPolicySm.h"

#include "Orb/OrbInternetExitUtil/OtherSeqExistInPolicy.h"
#include "runtime/InputSm.h"
#include "runtime/Operators.h"
#include "runtime/Path.h"
#include "runtime/internal/LevelSm.h"

namespace OrbInternetExit {

namespace {
// Source 0: config.statusConfig[].policyStatusConfig[].exitGroup[].exitGroup
using ExitGroupPath = Flo::Path<
    IeGroupToPolicySm, &IeGroupToPolicySm::eventToGrpToPolMap,
    Flo::Level<&IeStatusConfigDir::statusConfig, "ConfigSm6", "statusConfig">,
    Flo::Level<&IeStatusConfig::policyStatusConfig, "StatusConfigSm7", "policyStatusConfig">,
    Flo::Level<&PolicyStatusConfig::exitGroup, "PolicyStatusConfigSm8", "exitGroup">,
    Flo::Level<&PolicyStatusExitGroupEntry::exitGroup, "ExitGroupSm9", "exitGroup">>;
}  // namespace

IeGroupToPolicySm::IeGroupToPolicySm(const Mica::Ptr<const IeStatusConfigDir>& config,
                                     const Mica::Ptr<IeGroupToPolicyDir>& groupToPolicyDir,
                                     const SmControl& control)
    : StateMachine("OrbInternetExit", "IeGroupToPolicySm", control),
      config_(config),
      groupToPolicyDir_(groupToPolicyDir) {
  argIs("config()", config_.get());
  argIs("groupToPolicyDir()", groupToPolicyDir_.get());
  const size_t grpToPolMap = pipelineIs("grpToPolMap");

  auto& configSm6 =
      inputIs(std::make_unique<Flo::InputArgSm<IeStatusConfigDir>>(*this, "ConfigSm6", config_));
  configSm6.sourceIs<Flo::internal::TopLevel<ExitGroupPath>>(0, grpToPolMap);

  groupToPolicyOutput_ = &outputIs(std::make_unique<Flo::TopOutput<GroupToPolicySpec>>(
      *this, "groupToPolicyDirGroupToPolicyPolicyOutput", std::vector<size_t>{grpToPolMap},
      groupToPolicyDir_));
}

// grpToPolMap = from( config.statusConfig[].policyStatusConfig[].exitGroup[].exitGroup )
//   -> foreach( [ (old if it differs from new, else None, false), (new, true) ] )
//   -> filter( value present ) -> filter( grpKey != GroupVniLaneKey() )
//   -> into( groupToPolicyDir.groupToPolicy[ grpKey ].policy[ polKey ] )
void IeGroupToPolicySm::eventToGrpToPolMap(VniAndLaneId vniLaneId, const PolicyVniLaneKey& polKey, double seqNo,
                                           const Quill::Optional<GroupVniLaneKey>& oldEgKeyOpt,
                                           const Quill::Optional<GroupVniLaneKey>& newEgKeyOpt) {
  if (!initialScanDone()) return;
  Flo::from(*this,
            "grpToPolMap = from( config.statusConfig[].policyStatusConfig[].exitGroup[].exitGroup ): vniLaneId={} polKey={} seqNo={} oldEgKeyOpt={} newEgKeyOpt={}",
            vniLaneId, polKey, seqNo, oldEgKeyOpt, newEgKeyOpt);
  Flo::note(*this, "grpToPolMap: policy {} updated from {} to {} for seqNo {}", polKey, oldEgKeyOpt, newEgKeyOpt,
            seqNo);
  Flo::foreachChange(
      *this,
      " foreach( [ ( if ( _oldValueOpt11 != _newValueOpt12 ) then _oldValueOpt11 else None, false ), ( _newValueOpt12, true ) ] ) flattening {} elements",
      oldEgKeyOpt, newEgKeyOpt, [&](const Quill::Optional<GroupVniLaneKey>& valueOpt, bool isAdd) {
        if (!Flo::filter(*this, valueOpt.has_value(), "filter( _valueOpt13 )")) return;
        const GroupVniLaneKey& grpKey = *valueOpt;
        if (!Flo::filter(*this, grpKey != GroupVniLaneKey(), "filter( ( grpKey != GroupVniLaneKey() ) )")) return;
        const bool present = mustBePresent(vniLaneId, polKey, seqNo, grpKey, isAdd);
        groupToPolicyOutput_->seen(PairKey(grpKey, polKey));
        intoGroupToPolicy(grpKey, polKey, present);
      });
}

// A retraction keeps the pair while the policy lists the group at another sequence number.
bool IeGroupToPolicySm::mustBePresent(VniAndLaneId vniLaneId, const PolicyVniLaneKey& polKey, double seqNo,
                                      const GroupVniLaneKey& grpKey, bool isAdd) const {
  if (isAdd) return true;
  const IeStatusConfig* statusConfig = config_->statusConfig.lookup(vniLaneId);
  if (!statusConfig) return false;
  return otherSeqExistInPolicy(statusConfig->policyStatusConfig.get(polKey), seqNo, grpKey);
}

constexpr Flo::Into kIntoGroupToPolicy{"into( groupToPolicyDir.groupToPolicy[ grpKey ].policy[ polKey ] )"};

void IeGroupToPolicySm::intoGroupToPolicy(const GroupVniLaneKey& grpKey, const PolicyVniLaneKey& polKey,
                                          bool present) {
  if (present) {
    auto entry = groupToPolicyDir_->groupToPolicyIs(grpKey);
    kIntoGroupToPolicy.inserting(*this, grpKey, polKey);
    entry->policyIs(polKey);
    return;
  }
  ExitGroupToPolicy* entry = groupToPolicyDir_->groupToPolicy.lookup(grpKey);
  if (!entry) return;
  kIntoGroupToPolicy.deleting(*this, grpKey, polKey);
  GroupToPolicySpec::erase(*groupToPolicyDir_, PairKey(grpKey, polKey));
}

Mica::Ptr<IeGroupToPolicySm> ieGroupToPolicySmFactory(const Mica::Ptr<const IeStatusConfigDir>& config,
                                                      const Mica::Ptr<IeGroupToPolicyDir>& groupToPolicyDir,
                                                      const SmControl& control) {
  Mica::Ptr<IeGroupToPolicySm> sm(new IeGroupToPolicySm(config, groupToPolicyDir, control));
  sm->handleInitialized();
  return sm;
}

}  // namespace OrbInternetExit
