#include "Orb/OrbInternetExitStatusSm/IePolicyStatusSm.h"

#include "Orb/OrbInternetExitUtil/EvaluateWinningExitGroup.h"
#include "runtime/InputSm.h"
#include "runtime/Operators.h"
#include "runtime/Path.h"
#include "runtime/ReadyOutput.h"
#include "runtime/internal/LevelSm.h"

namespace OrbInternetExit {

using Flo::kLevelFilter;
using Flo::kLevelProgress;

namespace {
// Source 0: config.statusConfig[].policyStatusConfig[].exitGroup[].exitGroup
using PolicyEntryPath =
    Flo::Path<IePolicyStatusSm, &IePolicyStatusSm::eventToPolExitGrpCfg,
              Flo::Level<&IeStatusConfigDir::statusConfig, "ConfigSm24", "statusConfig">,
              Flo::Level<&IeStatusConfig::policyStatusConfig, "StatusConfigSm25", "policyStatusConfig">,
              Flo::Level<&PolicyStatusConfig::exitGroup, "PolicyStatusConfigSm26", "exitGroup">,
              Flo::Level<&PolicyStatusExitGroupEntry::exitGroup, "ExitGroupSm27", "exitGroup">>;
// Source 1: groupToPolicyDir.groupToPolicy[].policy[]
using ReverseMapPath =
    Flo::Path<IePolicyStatusSm, &IePolicyStatusSm::eventToGrpToPolMap,
              Flo::Level<&IeGroupToPolicyDir::groupToPolicy, "GroupToPolicyDirSm28", "groupToPolicy">,
              Flo::Level<&ExitGroupToPolicy::policy, "GroupToPolicySm29", "policy">>;
// Source 2: exitGroupDir.exitGroupStatus[].result[]
using GroupResultPath =
    Flo::Path<IePolicyStatusSm, &IePolicyStatusSm::eventToGrpStatusResult,
              Flo::Level<&IeExitGroupDir::exitGroupStatus, "ExitGroupDirSm30", "exitGroupStatus">,
              Flo::Level<&ExitGroupStatus::result, "ExitGroupStatusSm31", "result">>;

constexpr Flo::Into kIntoUniqueIntfList{"into( uniqueIntfList[ policyKey ] )"};
constexpr Flo::Into kIntoIntfList{"into( myUniqueIntfList.intfList[ resultIntf ] )"};
constexpr Flo::Into kIntoNewIntf{"into( policyDir.policyStatus[ policyKey ].exitIntf[ newIntf ] )"};
constexpr Flo::Into kIntoOldIntf{"into( policyDir.policyStatus[ policyKey ].exitIntf[ oldIntf ] )"};
constexpr Flo::Into kIntoWinningExitGroup{"into( policyStatus.winningExitGroup )"};
}  // namespace

IePolicyStatusSm::IePolicyStatusSm(const Mica::Ptr<const IeStatusConfigDir>& config,
                                   const Mica::Ptr<const IeExitGroupDir>& exitGroupDir,
                                   const Mica::Ptr<const IeGroupToPolicyDir>& groupToPolicyDir,
                                   const Mica::Ptr<IePolicyDir>& policyDir, const SmControl& control)
    : StateMachine("OrbInternetExit", "IePolicyStatusSm", control),
      config_(config),
      exitGroupDir_(exitGroupDir),
      groupToPolicyDir_(groupToPolicyDir),
      policyDir_(policyDir),
      localAttrStore_(new LocalStore()) {
  argIs("config()", config_.get());
  argIs("exitGroupDir()", exitGroupDir_.get());
  argIs("groupToPolicyDir()", groupToPolicyDir_.get());
  argIs("policyDir()", policyDir_.get());

  const size_t polExitGrpCfg = pipelineIs("polExitGrpCfg");
  const size_t grpToPolMap = pipelineIs("grpToPolMap");
  const size_t grpStatusResult = pipelineIs("grpStatusResult");

  auto& configSm24 = inputIs(std::make_unique<Flo::InputArgSm<IeStatusConfigDir>>(*this, "ConfigSm24", config_));
  auto& groupToPolicyDirSm28 = inputIs(
      std::make_unique<Flo::InputArgSm<IeGroupToPolicyDir>>(*this, "GroupToPolicyDirSm28", groupToPolicyDir_));
  auto& exitGroupDirSm30 =
      inputIs(std::make_unique<Flo::InputArgSm<IeExitGroupDir>>(*this, "ExitGroupDirSm30", exitGroupDir_));
  configSm24.sourceIs<Flo::internal::TopLevel<PolicyEntryPath>>(0, polExitGrpCfg);
  groupToPolicyDirSm28.sourceIs<Flo::internal::TopLevel<ReverseMapPath>>(1, grpToPolMap);
  exitGroupDirSm30.sourceIs<Flo::internal::TopLevel<GroupResultPath>>(2, grpStatusResult);

  const std::vector<size_t> all{polExitGrpCfg, grpToPolMap, grpStatusResult};
  exitIntfOutput_ = &outputIs(
      std::make_unique<Flo::TopOutput<ExitIntfSpec>>(*this, "policyDirPolicyStatusExitIntfOutput", all, policyDir_));
  outputIs(std::make_unique<Flo::ReadyOutput>(*this, "orbInternetExitPolicyStatusPtrWinningExitGroupOutput", all));
  outputIs(std::make_unique<Flo::ReadyOutput>(*this, "uniqueIntfListOutput", all));
  outputIs(std::make_unique<Flo::ReadyOutput>(*this, "orbInternetExitUniquePolicyIntfListPtrIntfListOutput", all));
}

// grpStatusResult = from( exitGroupDir.exitGroupStatus[].result[] )
//   -> reverse-map entry of the group: flo_pipeline0 (its policies), else flo_pipeline1 (all)
void IePolicyStatusSm::eventToGrpStatusResult(const GroupVniLaneKey& grpKey, const ExitVniLaneKey&,
                                              const Quill::Optional<ExitIntfResult>&,
                                              const Quill::Optional<ExitIntfResult>&) {
  if (!initialScanDone()) return;
  Flo::from(*this, "grpStatusResult = from( exitGroupDir.exitGroupStatus[].result[] ): grpKey={}", grpKey);
  Flo::merge(*this, "Line 568: merge( grpStatusResult ): grpKey={}", grpKey);
  const ExitGroupToPolicy* reverse = groupToPolicyDir_->groupToPolicy.lookup(grpKey);
  if (reverse && !reverse->policy.empty()) {
    Flo::note(*this, "Reverse mapping already exist for group: {}", grpKey);
    Flo::foreach(*this, " foreach( ( *groupToPolicyDir.groupToPolicy[ grpKey ] ).policy ) flattening {} elements",
                 reverse->policy, [&](const PolicyVniLaneKey& policyKey) { eventToFlo_pipeline2(policyKey, {}); });
    return;
  }
  Flo::note(*this, "Reverse mapping of groupToPolicy does not exist for group: {}", grpKey);
  eventToFlo_pipeline2(PolicyVniLaneKey(), grpKey.vniLaneId);
}

void IePolicyStatusSm::eventToFlo_pipeline2(const PolicyVniLaneKey& evalPolicyKey,
                                            std::optional<VniAndLaneId> groupPair) {
  Flo::merge(*this, "Line 568: merge( flo_pipeline0, flo_pipeline1 ): evalPolicyKey={}", evalPolicyKey);
  evalPolicyWinner(evalPolicyKey, groupPair);
}

// grpToPolMap = from( groupToPolicyDir.groupToPolicy[].policy[] ) -> evalPolicyWinner
void IePolicyStatusSm::eventToGrpToPolMap(const GroupVniLaneKey& grpKey, const PolicyVniLaneKey& policyKey,
                                          const Quill::Optional<Quill::Unit>&) {
  if (!initialScanDone()) return;
  Flo::from(*this, "grpToPolMap = from( groupToPolicyDir.groupToPolicy[].policy[] ): grpKey={} policyKey={}", grpKey,
            policyKey);
  Flo::note(*this, "PolicyKey {} updated in reverse mapping of GroupKey {}", policyKey, grpKey);
  eventToEvalPolicyWinner(policyKey);
}

// polExitGrpCfg = from( config.statusConfig[].policyStatusConfig[].exitGroup[].exitGroup )
//   -> filter( no group, or a real one ) -> evalPolicyWinner
void IePolicyStatusSm::eventToPolExitGrpCfg(VniAndLaneId, const PolicyVniLaneKey& policyKey, double seqNo,
                                            const Quill::Optional<GroupVniLaneKey>&,
                                            const Quill::Optional<GroupVniLaneKey>& grpKeyOpt) {
  if (!initialScanDone()) return;
  Flo::from(*this,
            "polExitGrpCfg = from( config.statusConfig[].policyStatusConfig[].exitGroup[].exitGroup ): policyKey={} seqNo={} grpKeyOpt={}",
            policyKey, seqNo, grpKeyOpt);
  Flo::note(*this, "PolicyKey {} updated with GroupKey {} at seqNo {}", policyKey, grpKeyOpt, seqNo);
  if (!Flo::filter(*this, !grpKeyOpt || *grpKeyOpt != GroupVniLaneKey(),
                   "filter( ( ( !grpKeyOpt ) || ( ( *grpKeyOpt ) != GroupVniLaneKey() ) ) )")) {
    return;
  }
  eventToEvalPolicyWinner(policyKey);
}

void IePolicyStatusSm::eventToEvalPolicyWinner(const PolicyVniLaneKey& policyKey) { evalPolicyWinner(policyKey, {}); }

// evalPolicyWinner = merge( grpToPolMap, polExitGrpCfg, flo_pipeline2 )
//   -> named policy: flo_pipeline3; empty name: flo_pipeline4 (every policy) -> flo_pipeline5
void IePolicyStatusSm::evalPolicyWinner(const PolicyVniLaneKey& policyKey, std::optional<VniAndLaneId> groupPair) {
  Flo::merge(*this, "evalPolicyWinner = merge( grpToPolMap, polExitGrpCfg, flo_pipeline2 ): policyKey={}", policyKey);
  if (policyKey.policyName.empty()) {
    eventToFlo_pipeline4(groupPair);
    return;
  }
  Flo::merge(*this, "Line 588: merge( evalPolicyWinner ): policyKey={}", policyKey);
  eventToFlo_pipeline5(policyKey);
}

void IePolicyStatusSm::eventToFlo_pipeline4(std::optional<VniAndLaneId> groupPair) {
  Flo::merge(*this, "Line 588: merge( evalPolicyWinner ):");
  const auto perPair = [&](VniAndLaneId, const Mica::Ptr<IeStatusConfig>& statusCfg) {
    Flo::foreach(*this, " foreach( ( *config.statusConfig[ laneVni ] ).policyStatusConfig ) flattening {} elements",
                 statusCfg->policyStatusConfig,
                 [&](const PolicyVniLaneKey& key, const Mica::Ptr<PolicyStatusConfig>&) { eventToFlo_pipeline5(key); });
  };
  if (fullWalk() || !groupPair) {
    Flo::foreach(*this, " foreach( config.statusConfig ) flattening {} elements", config_->statusConfig, perPair);
    return;
  }
  trace(kLevelFilter, " foreach( config.statusConfig ) flattening {} elements", config_->statusConfig.size());
  if (Mica::Ptr<IeStatusConfig> statusCfg = config_->statusConfig.get(*groupPair)) perPair(*groupPair, statusCfg);
}

// flo_pipeline5: configured -> flo_pipeline6 (the winner), else flo_pipeline7 (no group) -> flo_pipeline8
void IePolicyStatusSm::eventToFlo_pipeline5(const PolicyVniLaneKey& actualPolKey) {
  if (evaluatedOverSameInputs(actualPolKey)) return;
  Flo::merge(*this, "Line 588: merge( flo_pipeline3, flo_pipeline4 ): actualPolKey={}", actualPolKey);
  const IeStatusConfig* statusCfg = config_->statusConfig.lookup(actualPolKey.vniLaneId);
  const Mica::Ptr<PolicyStatusConfig> policyCfg =
      statusCfg ? statusCfg->policyStatusConfig.get(actualPolKey) : Mica::Ptr<PolicyStatusConfig>();
  Flo::merge(*this, "Line 599: merge( flo_pipeline5 ): actualPolKey={}", actualPolKey);
  const GroupVniLaneKey winner = policyCfg ? evaluateWinningExitGroup(policyCfg, exitGroupDir_)
                                           : GroupVniLaneKey(Mica::String(), actualPolKey.vniLaneId);
  eventToFlo_pipeline8(winner, actualPolKey);
}

// flo_pipeline8: the policy's status brought in line with its winner W, in four steps.
void IePolicyStatusSm::eventToFlo_pipeline8(const GroupVniLaneKey& groupKey, const PolicyVniLaneKey& policyKey) {
  Flo::merge(*this, "Line 599: merge( flo_pipeline6, flo_pipeline7 ): resultGrpKey={} resultPolKey={}", groupKey,
             policyKey);
  Flo::note(blip(), tracer(), 0, "Evaluated WinningExitGroup {} for policy {}", groupKey, policyKey);
  const Mica::Ptr<UniquePolicyIntfList> list = updUniqueIntfList(groupKey, policyKey);
  addIntfToList(policyKey, *list);
  delIntfFromList(policyKey, *list);
  updWinningEg(groupKey, policyKey);
}

// updUniqueIntfList: a fresh scratchpad for the policy, filled with the winner's distinct results.
Mica::Ptr<UniquePolicyIntfList> IePolicyStatusSm::updUniqueIntfList(const GroupVniLaneKey& groupKey,
                                                                     const PolicyVniLaneKey& policyKey) {
  Flo::merge(*this, "updUniqueIntfList = merge( flo_pipeline8 ): groupKey={} policyKey={}", groupKey, policyKey);
  kIntoUniqueIntfList.deleting(*this, policyKey);
  localAttrStore_->entryDel<UniqueIntfList>(policyKey);
  const Mica::Ptr<UniquePolicyIntfList> list = localAttrStore_->entryIs<UniqueIntfList>(policyKey);
  kIntoUniqueIntfList.insertingValue(*this, policyKey, list);
  workDone(1);
  if (!Flo::filter(*this, !groupKey.groupName.empty(), "filter( ( groupKey.groupName != \"\" ) )")) return list;
  const ExitGroupStatus* winner = exitGroupDir_->exitGroupStatus.lookup(groupKey);
  // The winner comes from evaluateWinningExitGroup, which returns only groups with a status.
  Mica::check(winner != nullptr, "bad optional access: exitGroupDir.exitGroupStatus[ groupKey ]");
  Flo::foreach(*this, " foreach( ( *exitGroupDir.exitGroupStatus[ groupKey ] ).result ) flattening {} elements",
               winner->result, [&](const ExitVniLaneKey&, const ExitIntfResult& result) {
                 Flo::note(*this, "Add {} into the unique result scratchpad", result);
                 kIntoIntfList.inserting(*this, result);
                 list->intfListIs(result);
               });
  return list;
}

// addIntfToList: every interface of the scratchpad into the policy's status (created with its
// first interface).
void IePolicyStatusSm::addIntfToList(const PolicyVniLaneKey& policyKey, const UniquePolicyIntfList& list) {
  Flo::merge(*this, "addIntfToList = merge( flo_pipeline8 ): policyKey={}", policyKey);
  Flo::foreach(*this, " foreach( myUniqueIntfList.intfList ) flattening {} elements", list.intfList,
               [&](const ExitIntfResult& newIntf) {
                 Flo::note(*this, "Add result {} from scratchpad into policy {}", newIntf, policyKey);
                 exitIntfOutput_->seen(ExitIntfKey(policyKey, newIntf));
                 const Mica::Ptr<PolicyStatus> status = policyDir_->policyStatusIs(policyKey);
                 kIntoNewIntf.inserting(*this, policyKey, newIntf);
                 status->exitIntfIs(newIntf);
               });
}

// delIntfFromList: every interface of the policy's status that the scratchpad lacks goes, and the
// status with the last one.
void IePolicyStatusSm::delIntfFromList(const PolicyVniLaneKey& policyKey, const UniquePolicyIntfList& list) {
  Flo::merge(*this, "delIntfFromList = merge( flo_pipeline8 ): policyKey={}", policyKey);
  const Mica::Ptr<PolicyStatus> status = policyDir_->policyStatus.get(policyKey);
  if (!Flo::filter(*this, status != nullptr, "filter( policyDir.policyStatus[ policyKey ] )")) return;
  Flo::foreach(*this, " foreach( ( *policyDir.policyStatus[ policyKey ] ).exitIntf ) flattening {} elements",
               status->exitIntf, [&](const ExitIntfResult& oldIntf) {
                 if (!Flo::filter(*this, !list.intfList.contains(oldIntf),
                                  "filter( ( !myUniqueIntfList.intfList[ oldIntf ] ) )")) {
                   return;
                 }
                 Flo::note(*this, "Remove old result {} from policy {}", oldIntf, policyKey);
                 exitIntfOutput_->seen(ExitIntfKey(policyKey, oldIntf));
                 kIntoOldIntf.deleting(*this, policyKey, oldIntf);
                 status->exitIntfDel(oldIntf);
                 if (status->exitIntf.empty()) policyDir_->policyStatusDel(policyKey);
               });
}

// updWinningEg: the winner, written last (on every evaluation, also when unchanged).
void IePolicyStatusSm::updWinningEg(const GroupVniLaneKey& groupKey, const PolicyVniLaneKey& policyKey) {
  Flo::merge(*this, "updWinningEg = merge( flo_pipeline8 ): groupKey={} policyKey={}", groupKey, policyKey);
  const Mica::Ptr<PolicyStatus> status = policyDir_->policyStatus.get(policyKey);
  if (!Flo::filter(*this, status != nullptr, "filter( policyDir.policyStatus[ policyKey ] )")) return;
  Flo::note(*this, "Update winning exit group {} for policy {}", groupKey, policyKey);
  kIntoWinningExitGroup.insertingValue(*this, groupKey);
  workDone(1);
  status->winningExitGroupIs(groupKey);
}

bool IePolicyStatusSm::evaluatedOverSameInputs(const PolicyVniLaneKey& policyKey) const {
  return quietStart() && localAttrStore_->entries<UniqueIntfList>().contains(policyKey);
}

bool IePolicyStatusSm::fullWalk() const { return tracer().enabled(kLevelFilter) || tracer().enabled(kLevelProgress); }

Mica::Ptr<IePolicyStatusSm> iePolicyStatusSmFactory(const Mica::Ptr<const IeStatusConfigDir>& config,
                                                    const Mica::Ptr<const IeExitGroupDir>& exitGroupDir,
                                                    const Mica::Ptr<const IeGroupToPolicyDir>& groupToPolicyDir,
                                                    const Mica::Ptr<IePolicyDir>& policyDir, const SmControl& control) {
  Mica::Ptr<IePolicyStatusSm> sm(new IePolicyStatusSm(config, exitGroupDir, groupToPolicyDir, policyDir, control));
  sm->handleInitialized();
  return sm;
}

}  // namespace OrbInternetExit
