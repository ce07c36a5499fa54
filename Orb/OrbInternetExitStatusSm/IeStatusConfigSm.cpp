#include "Orb/OrbInternetExitStatusSm/IeStatusConfigSm.h"

#include <algorithm>

#include "runtime/Foreach.h"
#include "runtime/InputSm.h"
#include "runtime/Path.h"
#include "runtime/SortedUnion.h"
#include "runtime/internal/LevelSm.h"

namespace OrbInternetExit {

using Flo::kLevelFilter;
using Flo::kLevelPipeline;
using Flo::kLevelProgress;

namespace {
// Source 0: config.policyConfig[]
using PolicyConfigPath = Flo::Path<IeStatusConfigSm, &IeStatusConfigSm::eventToRemPolicy,
                                   Flo::Level<&InternetExitCliConfig::policyConfig, "ConfigSm1", "policyConfig">>;
// Source 1: config.exitGroupConfig[]
using ExitGroupConfigPath =
    Flo::Path<IeStatusConfigSm, &IeStatusConfigSm::eventToRemExitGroup,
              Flo::Level<&InternetExitCliConfig::exitGroupConfig, "ConfigSm1", "exitGroupConfig">>;
// Source 2: iePolicyToVniLaneDir.polToVniLane[]
using PolToVniLanePath =
    Flo::Path<IeStatusConfigSm, &IeStatusConfigSm::eventToLaneToPolicyUpd,
              Flo::Level<&IePolicyToVniLaneDir::polToVniLane, "IePolicyToVniLaneDirSm2", "polToVniLane">>;
// Source 3: config.policyConfig[].exitGroup[].exitGroupName
using ExitGroupNamePath =
    Flo::Path<IeStatusConfigSm, &IeStatusConfigSm::eventToExitGroupCfgUpd,
              Flo::Level<&InternetExitCliConfig::policyConfig, "ConfigSm1", "policyConfig">,
              Flo::Level<&PolicyConfig::exitGroup, "PolicyConfigSm3", "exitGroup">,
              Flo::Level<&PolicyExitGroupEntry::exitGroupName, "ExitGroupSm4", "exitGroupName">>;
// Source 4: config.exitGroupConfig[].exitOption[]
using GroupConfigOptionPath =
    Flo::Path<IeStatusConfigSm, &IeStatusConfigSm::eventToExitOptionCfgUpd,
              Flo::Level<&InternetExitCliConfig::exitGroupConfig, "ConfigSm1", "exitGroupConfig">,
              Flo::Level<&ExitGroupConfig::exitOption, "ExitGroupConfigSm5", "exitOption">>;

template <class Coll>
auto firstIn(const Coll& c, const typename Coll::Key* atOrAfter) -> std::optional<typename Coll::Key> {
  auto it = atOrAfter ? c.lowerBound(*atOrAfter) : c.begin();
  if (it == c.end()) return {};
  return Mica::internal::keyOf(it);
}
template <class Coll>
auto nextIn(const Coll& c, const typename Coll::Key& after) -> std::optional<typename Coll::Key> {
  auto it = c.upperBound(after);
  if (it == c.end()) return {};
  return Mica::internal::keyOf(it);
}
}  // namespace

// statusCfg.exitGroupStatusConfig[ grpKey ]
struct IeStatusConfigSm::ExitGroupStatusConfigSpec {
  using Container = IeStatusConfig;
  using ContainerKey = VniAndLaneId;
  using Key = GroupVniLaneKey;
  static ContainerKey containerKey(const Container& c) { return c.vniLaneId(); }
  static std::optional<Key> first(const Container& c, const Key* at) { return firstIn(c.exitGroupStatusConfig, at); }
  static std::optional<Key> next(const Container& c, const Key& k) { return nextIn(c.exitGroupStatusConfig, k); }
  static void erase(Container& c, const Key& k) { c.exitGroupStatusConfigDel(k); }
};

// statusCfg.policyStatusConfig[ polKey ].exitGroup[ seqNo ].exitGroup, keyed (polKey, seqNo)
struct IeStatusConfigSm::PolicyExitGroupSpec {
  using Container = IeStatusConfig;
  using ContainerKey = VniAndLaneId;
  using Key = std::pair<PolicyVniLaneKey, double>;
  static ContainerKey containerKey(const Container& c) { return c.vniLaneId(); }
  static auto& entries(const PolicyStatusConfig& p) { return p.exitGroup; }
  static std::optional<Key> first(const Container& c, const Key* at) {
    return Flo::twoLevelFirst(c.policyStatusConfig, at, [](const PolicyStatusConfig& p) -> auto& { return p.exitGroup; });
  }
  static std::optional<Key> next(const Container& c, const Key& k) {
    return Flo::twoLevelNext(c.policyStatusConfig, k, [](const PolicyStatusConfig& p) -> auto& { return p.exitGroup; });
  }
  // Removes the entry, and the policy's status configuration with its last entry.
  static void erase(Container& c, const Key& k) {
    PolicyStatusConfig* policy = c.policyStatusConfig.lookup(k.first);
    if (!policy) return;
    policy->exitGroupDel(k.second);
    if (policy->exitGroup.empty()) c.policyStatusConfigDel(k.first);
  }
};

// grpStatusCfg.exitOption[ exitOptKey ]
struct IeStatusConfigSm::ExitOptionSpec {
  using Container = ExitGroupStatusConfig;
  using ContainerKey = GroupVniLaneKey;
  using Key = ExitVniLaneKey;
  static const ContainerKey& containerKey(const Container& c) { return c.groupKey(); }
  static std::optional<Key> first(const Container& c, const Key* at) { return firstIn(c.exitOption, at); }
  static std::optional<Key> next(const Container& c, const Key& k) { return nextIn(c.exitOption, k); }
  static void erase(Container& c, const Key& k) { c.exitOptionDel(k); }
};

IeStatusConfigSm::IeStatusConfigSm(const Mica::Ptr<const InternetExitCliConfig>& config,
                                   const Mica::Ptr<const IePolicyToVniLaneDir>& iePolicyToVniLaneDir,
                                   const Mica::Ptr<IeStatusConfigDir>& statusCfgDir, const SmControl& control)
    : StateMachine("OrbInternetExit", "IeStatusConfigSm", control),
      config_(config),
      bindings_(iePolicyToVniLaneDir),
      statusCfgDir_(statusCfgDir) {
  argIs("config()", config_.get());
  argIs("iePolicyToVniLaneDir()", bindings_.get());
  argIs("statusCfgDir()", statusCfgDir_.get());
  startedOverOutput_ = statusCfgDir_ && !statusCfgDir_->statusConfig.empty();

  const size_t exitGroupCfgUpd = pipelineIs("exitGroupCfgUpd");
  const size_t laneToPolicyUpd = pipelineIs("laneToPolicyUpd");
  const size_t exitOptionCfgUpd = pipelineIs("exitOptionCfgUpd");
  const size_t remExitGroup = pipelineIs("remExitGroup");
  const size_t remPolicy = pipelineIs("remPolicy");

  auto& configSm1 =
      inputIs(std::make_unique<Flo::InputArgSm<InternetExitCliConfig>>(*this, "ConfigSm1", config_));
  configSm_ = &configSm1;
  auto& bindingsSm2 = inputIs(
      std::make_unique<Flo::InputArgSm<IePolicyToVniLaneDir>>(*this, "IePolicyToVniLaneDirSm2", bindings_));
  configSm1.sourceIs<Flo::internal::TopLevel<PolicyConfigPath>>(0, remPolicy);
  configSm1.sourceIs<Flo::internal::TopLevel<ExitGroupConfigPath>>(1, remExitGroup);
  bindingsSm2.sourceIs<Flo::internal::TopLevel<PolToVniLanePath>>(2, laneToPolicyUpd);
  configSm1.sourceIs<Flo::internal::TopLevel<ExitGroupNamePath>>(3, exitGroupCfgUpd);
  configSm1.sourceIs<Flo::internal::TopLevel<GroupConfigOptionPath>>(4, exitOptionCfgUpd);

  statusConfigOutput_ = &outputIs(std::make_unique<Flo::TopOutput<StatusConfigSpec>>(
      *this, "statusCfgDirStatusConfigOutput", std::vector<size_t>{remPolicy, laneToPolicyUpd}, statusCfgDir_));
  exitGroupStatusConfigOutput_ = &outputIs(std::make_unique<Flo::NestedOutput<ExitGroupStatusConfigSpec>>(
      *this, "orbInternetExitIeStatusConfigPtrExitGroupStatusConfigOutput",
      std::vector<size_t>{exitOptionCfgUpd, remExitGroup, exitGroupCfgUpd, laneToPolicyUpd}));
  policyExitGroupOutput_ = &outputIs(std::make_unique<Flo::NestedOutput<PolicyExitGroupSpec>>(
      *this, "orbInternetExitIeStatusConfigPtrPolicyStatusConfigExitGroupExitGroupOutput",
      std::vector<size_t>{exitGroupCfgUpd, laneToPolicyUpd}));
  exitOptionOutput_ = &outputIs(std::make_unique<Flo::NestedOutput<ExitOptionSpec>>(
      *this, "orbInternetExitExitGroupStatusConfigPtrExitOptionOutput",
      std::vector<size_t>{exitOptionCfgUpd, exitGroupCfgUpd, laneToPolicyUpd}));
}

// laneToPolicyUpd = from( iePolicyToVniLaneDir.polToVniLane[] )
//   -> into( statusCfgDir.statusConfig[ vniLaneId ] )
//   -> filter( pair entry, policy configuration and binding exist )
//   -> foreach( policy entries ) -> into( policy entry ) -> updateExitGroupStatus
void IeStatusConfigSm::eventToLaneToPolicyUpd(const PolicyVniLaneKey& polKey,
                                              const Quill::Optional<Quill::Unit>& isAddOpt) {
  if (!initialScanDone()) return;
  const bool isAdd = isAddOpt.has_value();
  trace(kLevelPipeline, "laneToPolicyUpd = from( iePolicyToVniLaneDir.polToVniLane[] ): polKey={} isAdd={}", polKey,
        isAdd);
  const VniAndLaneId vniLaneId = polKey.vniLaneId;
  if (!isAdd) {
    intoStatusConfigDelete(vniLaneId);
    return;
  }
  statusConfigOutput_->seen(vniLaneId);
  Mica::Ptr<IeStatusConfig> statusCfg = statusCfgDir_->statusConfigIs(vniLaneId);
  trace(kLevelPipeline, "into( statusCfgDir.statusConfig[ vniLaneId ] ): inserting k1={}, value={}", vniLaneId,
        statusCfg);
  // Everything this pair should hold is asserted by the same pass: walk it at reconciliation.
  exitGroupStatusConfigOutput_->containerSeen(statusCfg);
  policyExitGroupOutput_->containerSeen(statusCfg);

  Mica::Ptr<PolicyConfig> policy = config_->policyConfig.get(polKey.policyName);
  if (!(statusCfgDir_->statusConfig.contains(vniLaneId) && policy && bindings_->polToVniLane.contains(polKey))) {
    trace(kLevelFilter,
          "filter( ( ( statusCfgDir.statusConfig[ vniLaneId ] && config.policyConfig[ polName ] ) && iePolicyToVniLaneDir.polToVniLane[ polKey ] ) ) failed, terminating pipeline");
    return;
  }
  trace(kLevelFilter, " foreach( ( *config.policyConfig[ polName ] ).exitGroup ) flattening {} elements",
        policy->exitGroup.size());
  Flo::forEachElement(policy->exitGroup, [&](double seqNo, const Mica::Ptr<PolicyExitGroupEntry>& entry) {
    trace(kLevelProgress, "Flattening element: {}", seqNo);
    const Mica::String grpName = entry->exitGroupName.get();
    const GroupVniLaneKey grpKey(grpName, vniLaneId);
    intoPolicyEntry(statusCfg, polKey, seqNo, grpKey, true);
    eventToUpdateExitGroupStatus(statusCfg, vniLaneId, true, grpName, grpKey, grpKey, true, {});
  });
}

// exitGroupCfgUpd = from( config.policyConfig[].exitGroup[].exitGroupName )
//   -> foreach( statusCfgDir.statusConfig ) -> filter( policy bound to the pair )
//   -> foreach( [ (old, false), (new, true) ] ) -> into( policy entry ) -> updateExitGroupStatus
void IeStatusConfigSm::eventToExitGroupCfgUpd(const Mica::String& polName, double seqNo,
                                              const Quill::Optional<Mica::String>& oldGrpNameOpt,
                                              const Quill::Optional<Mica::String>& newGrpNameOpt) {
  if (!initialScanDone()) return;
  // A call that continues a walk cut by its scan's budget wrote the entry trace already.
  if (!entryWalk_.resumes(*this)) {
    trace(kLevelPipeline,
          "exitGroupCfgUpd = from( config.policyConfig[].exitGroup[].exitGroupName ): polName={} seqNo={} oldGrpNameOpt={} newGrpNameOpt={}",
          polName, seqNo, oldGrpNameOpt, newGrpNameOpt);
  }
  if (!oldGrpNameOpt && bindingsPassReasserts()) return;
  // Returns whether the pair passed the filter.
  auto perPair = [&](VniAndLaneId vniLaneId, const Mica::Ptr<IeStatusConfig>& statusCfg) {
    const PolicyVniLaneKey polKey(polName, vniLaneId);
    if (!bindings_->polToVniLane.contains(polKey)) {
      trace(kLevelFilter, "filter( iePolicyToVniLaneDir.polToVniLane[ polKey ] ) failed, terminating pipeline");
      return false;
    }
    const std::pair<Quill::Optional<Mica::String>, bool> steps[2] = {
        {oldGrpNameOpt != newGrpNameOpt ? oldGrpNameOpt : Quill::Optional<Mica::String>(), false},
        {newGrpNameOpt, true}};
    trace(kLevelFilter,
          " foreach( [ ( if ( _oldValueOpt6 != _newValueOpt7 ) then _oldValueOpt6 else None, false ), ( _newValueOpt7, true ) ] ) flattening {} elements",
          2);
    for (const auto& [valueOpt, isAdd] : steps) {
      trace(kLevelProgress, "Flattening element: ({}, {})", valueOpt, isAdd);
      if (!valueOpt) {
        trace(kLevelFilter, "filter( _valueOpt8 ) failed, terminating pipeline");
        continue;
      }
      const GroupVniLaneKey grpKey(*valueOpt, vniLaneId);
      intoPolicyEntry(statusCfg, polKey, seqNo, grpKey, isAdd);
      eventToUpdateExitGroupStatus(statusCfg, vniLaneId, isAdd, *valueOpt, grpKey,
                                   isAdd ? Quill::Optional<GroupVniLaneKey>(grpKey) : Quill::Optional<GroupVniLaneKey>(),
                                   true, {});
    }
    return true;
  };
  // The filter keeps exactly the pairs bound to the policy, which the bindings index by policy:
  // the indexed walk visits the same pairs in the same (ascending) order. The bindings are not
  // written while this pipeline runs (their only writer follows the lane status).
  if (fullWalkTraced()) {
    forEachStatusConfigCut(entryWalk_, perPair);
  } else {
    forEachStatusConfigOf(entryWalk_, {&bindings_->pairsOfPolicy(polName)}, perPair);
  }
}

// exitOptionCfgUpd = from( config.exitGroupConfig[].exitOption[] )
//   -> foreach( statusConfig ) -> foreach( policyStatusConfig ) -> foreach( entries )
//   -> filter( entry names this group ) -> updateExitGroupStatus
void IeStatusConfigSm::eventToExitOptionCfgUpd(const Mica::String& grpName, const ExitKey& exitKey,
                                               const Quill::Optional<Quill::Unit>& isAddOpt) {
  if (!initialScanDone()) return;
  const bool isAdd = isAddOpt.has_value();
  if (!optionWalk_.resumes(*this)) {
    trace(kLevelPipeline, "exitOptionCfgUpd = from( config.exitGroupConfig[].exitOption[] ): grpName={} exitOpt={} isAdd={}",
          grpName, exitKey, isAdd);
  }
  // Returns whether an entry of the pair passed the filter.
  auto perPair = [&](VniAndLaneId vniLaneId, const Mica::Ptr<IeStatusConfig>& statusCfg) {
    bool passed = false;
    trace(kLevelFilter, " foreach( statusCfg.policyStatusConfig ) flattening {} elements",
          statusCfg->policyStatusConfig.size());
    Flo::forEachElement(statusCfg->policyStatusConfig, [&](const PolicyVniLaneKey& polKey,
                                                           const Mica::Ptr<PolicyStatusConfig>& polStatusCfg) {
      trace(kLevelProgress, "Flattening element: {}", polKey);
      trace(kLevelFilter, " foreach( polStatusCfg.exitGroup ) flattening {} elements", polStatusCfg->exitGroup.size());
      Flo::forEachElement(polStatusCfg->exitGroup, [&](double seqNo, const Mica::Ptr<PolicyStatusExitGroupEntry>& entry) {
        trace(kLevelProgress, "Flattening element: {}", seqNo);
        const GroupVniLaneKey grpKey = entry->exitGroup.get();
        if (!(grpName == grpKey.groupName)) {
          trace(kLevelFilter, "filter( ( grpName == polStatusEgEntry.exitGroup.groupName ) ) failed, terminating pipeline");
          return;
        }
        passed = true;
        eventToUpdateExitGroupStatus(statusCfg, vniLaneId, true, grpName, grpKey, grpKey, isAdd, exitKey);
      });
    });
    return passed;
  };
  // The filter reads the policy entries of the status configuration, not the configuration: the
  // indexed walk (the pairs bound to the policies whose configuration names the group) finds
  // them all only while every entry in the output was written from the current configuration
  // and bindings. Entries left by an earlier run (a pair rebound while the agent was stopped,
  // an entry changed meanwhile) stay until the policy-entry output has reconciled, and until
  // then this pipeline, the second pass of its source included, keeps or creates the groups
  // they name; only the full walk finds those pairs.
  // The indexed walk then also visits the pairs found holding such entries when the window
  // opened (see pairsWithStaleEntries): every pair the filter can pass is still visited. The
  // search runs before the full walk too, so that both ask the scan the same questions.
  const PairSet* stale = nullptr;
  if (staleEntriesPossible()) {
    stale = pairsWithStaleEntries(optionWalk_);
    if (!stale) return;  // the search was cut; the scan calls again and it goes on
  } else {
    staleSearch_.reset();
  }
  if (isAdd && bindingsPassReasserts()) return;
  if (fullWalkTraced()) {
    forEachStatusConfigCut(optionWalk_, perPair);
    return;
  }
  std::vector<const PairSet*> pairs = pairSetsOf(policiesNaming(grpName));
  if (stale) pairs.push_back(stale);
  forEachStatusConfigOf(optionWalk_, pairs, perPair);
}

// updateExitGroupStatus = merge( laneToPolicyUpd, exitGroupCfgUpd, exitOptionCfgUpd )
//   -> filter( group configured ) -> into( statusCfg.exitGroupStatusConfig[ grpKey ] )
//   -> filter( isGrpAdd ) -> flo_pipeline0 (one option) | flo_pipeline1 (every option)
void IeStatusConfigSm::eventToUpdateExitGroupStatus(const Mica::Ptr<IeStatusConfig>& statusCfg,
                                                    VniAndLaneId vniLaneId, bool isGrpAdd,
                                                    const Mica::String& grpName, const GroupVniLaneKey& grpKey,
                                                    const Quill::Optional<GroupVniLaneKey>& grpKeyOpt, bool isOptAdd,
                                                    const Quill::Optional<ExitKey>& exitKeyOpt) {
  trace(kLevelPipeline,
        "updateExitGroupStatus = merge( laneToPolicyUpd, exitGroupCfgUpd, exitOptionCfgUpd ): statusCfg={} vniLaneId={} isGrpAdd={} grpName={} grpKey={} grpKeyOpt={} isOptAdd={} exitKeyOpt={}",
        statusCfg, vniLaneId, isGrpAdd, grpName, grpKey, grpKeyOpt, isOptAdd, exitKeyOpt);
  if (!config_->exitGroupConfig.contains(grpName)) {
    trace(kLevelFilter, "filter( config.exitGroupConfig[ grpName ] ) failed, terminating pipeline");
    return;
  }
  exitGroupStatusConfigOutput_->seen(statusCfg, grpKey);
  Mica::Ptr<ExitGroupStatusConfig> grpStatusCfg;
  if (grpKeyOpt) {
    grpStatusCfg = statusCfg->exitGroupStatusConfigIs(grpKey);
    trace(kLevelPipeline, "into( statusCfg.exitGroupStatusConfig[ grpKey ] ): inserting k1={}, value={}", grpKey,
          grpStatusCfg);
    exitOptionOutput_->containerSeen(grpStatusCfg);
  } else {
    trace(kLevelPipeline, "into( statusCfg.exitGroupStatusConfig[ grpKey ] ): deleting k1={}", grpKey);
    statusCfg->exitGroupStatusConfigDel(grpKey);
  }
  if (!isGrpAdd) {
    trace(kLevelFilter, "filter( isGrpAdd ) failed, terminating pipeline");
    return;
  }
  if (!grpStatusCfg) grpStatusCfg = statusCfg->exitGroupStatusConfig.get(grpKey);
  if (!grpStatusCfg) return;
  if (exitKeyOpt) {
    eventToFlo_pipeline0(vniLaneId, isOptAdd, exitKeyOpt, grpStatusCfg);
  } else {
    eventToFlo_pipeline1(vniLaneId, grpName, isOptAdd, grpStatusCfg);
  }
}

void IeStatusConfigSm::eventToFlo_pipeline0(VniAndLaneId vniLaneId, bool isOptAdd,
                                            const Quill::Optional<ExitKey>& exitKeyOpt,
                                            const Mica::Ptr<ExitGroupStatusConfig>& grpStatusCfg) {
  trace(kLevelPipeline, "Line 194: merge( updateExitGroupStatus ): vniLaneId={} isOptAdd={} exitKeyOpt={} grpStatusCfg={}",
        vniLaneId, isOptAdd, exitKeyOpt, grpStatusCfg);
  if (exitKeyOpt) eventToFlo_pipeline2(*exitKeyOpt, vniLaneId, isOptAdd, grpStatusCfg);
}

void IeStatusConfigSm::eventToFlo_pipeline1(VniAndLaneId vniLaneId, const Mica::String& grpName, bool isOptAdd,
                                            const Mica::Ptr<ExitGroupStatusConfig>& grpStatusCfg) {
  trace(kLevelPipeline, "Line 194: merge( updateExitGroupStatus ): vniLaneId={} grpName={} isOptAdd={} grpStatusCfg={}",
        vniLaneId, grpName, isOptAdd, grpStatusCfg);
  Mica::Ptr<ExitGroupConfig> group = config_->exitGroupConfig.get(grpName);
  if (!group) return;
  trace(kLevelFilter, " foreach( ( *config.exitGroupConfig[ grpName ] ).exitOption ) flattening {} elements",
        group->exitOption.size());
  for (auto it = group->exitOption.begin(); it != group->exitOption.end();) {
    const ExitKey exitKey = *it;
    trace(kLevelProgress, "Flattening element: {}", exitKey);
    eventToFlo_pipeline2(exitKey, vniLaneId, isOptAdd, grpStatusCfg);
    it = group->exitOption.upperBound(exitKey);
  }
}

// flo_pipeline2 = merge( flo_pipeline0, flo_pipeline1 ) -> into( grpStatusCfg.exitOption[ exitOptKey ] )
void IeStatusConfigSm::eventToFlo_pipeline2(const ExitKey& exitKey, VniAndLaneId vniLaneId, bool isOptAdd,
                                            const Mica::Ptr<ExitGroupStatusConfig>& grpStatusCfg) {
  trace(kLevelPipeline, "Line 194: merge( flo_pipeline0, flo_pipeline1 ): exitKey={} vniLaneId={} isOptAdd={} grpStatusCfg={}",
        exitKey, vniLaneId, isOptAdd, grpStatusCfg);
  const ExitVniLaneKey exitOptKey(exitKey, vniLaneId);
  exitOptionOutput_->seen(grpStatusCfg, exitOptKey);
  if (isOptAdd) {
    trace(kLevelPipeline, "into( grpStatusCfg.exitOption[ exitOptKey ] ): inserting k1={}", exitOptKey);
    grpStatusCfg->exitOptionIs(exitOptKey);
  } else {
    trace(kLevelPipeline, "into( grpStatusCfg.exitOption[ exitOptKey ] ): deleting k1={}", exitOptKey);
    grpStatusCfg->exitOptionDel(exitOptKey);
  }
}

// remExitGroup = from( config.exitGroupConfig[] ) -> filter( !isAdd )
//   -> foreach( statusConfig ) -> into( statusCfg.exitGroupStatusConfig[ groupKey ] ) deleting
void IeStatusConfigSm::eventToRemExitGroup(const Mica::String& groupName,
                                           const Quill::Optional<Mica::Ptr<const ExitGroupConfig>>& isAdd) {
  if (!initialScanDone()) return;
  trace(kLevelPipeline, "remExitGroup = from( config.exitGroupConfig[] ): groupName={} isAdd={}", groupName, isAdd);
  if (isAdd) {
    trace(kLevelFilter, "filter( ( !isAdd ) ) failed, terminating pipeline");
    return;
  }
  forEachStatusConfig([&](VniAndLaneId vniLaneId, const Mica::Ptr<IeStatusConfig>& statusCfg) {
    const GroupVniLaneKey groupKey(groupName, vniLaneId);
    exitGroupStatusConfigOutput_->seen(statusCfg, groupKey);
    trace(kLevelPipeline, "into( statusCfg.exitGroupStatusConfig[ groupKey ] ): deleting k1={}", groupKey);
    statusCfg->exitGroupStatusConfigDel(groupKey);
  });
}

// remPolicy = from( config.policyConfig[] ) -> filter( !isAdd )
//   -> foreach( statusConfig ) -> foreach( policyStatusConfig ) -> filter( names the policy )
//   -> into( statusCfgDir.statusConfig[ vniLaneId ] ) deleting
void IeStatusConfigSm::eventToRemPolicy(const Mica::String& polName,
                                        const Quill::Optional<Mica::Ptr<const PolicyConfig>>& isAdd) {
  if (!initialScanDone()) return;
  trace(kLevelPipeline, "remPolicy = from( config.policyConfig[] ): polName={} isAdd={}", polName, isAdd);
  if (isAdd) {
    trace(kLevelFilter, "filter( ( !isAdd ) ) failed, terminating pipeline");
    return;
  }
  forEachStatusConfig([&](VniAndLaneId vniLaneId, const Mica::Ptr<IeStatusConfig>& statusCfg) {
    trace(kLevelFilter, " foreach( statusCfg.policyStatusConfig ) flattening {} elements",
          statusCfg->policyStatusConfig.size());
    for (auto it = statusCfg->policyStatusConfig.begin(); it != statusCfg->policyStatusConfig.end(); ++it) {
      const PolicyVniLaneKey& polKey = it->first;
      trace(kLevelProgress, "Flattening element: {}", polKey);
      if (!(polName == polKey.policyName)) {
        trace(kLevelFilter, "filter( ( polName == polKey.policyName ) ) failed, terminating pipeline");
        continue;
      }
      intoStatusConfigDelete(vniLaneId);
      return;  // the pair's entry is gone with everything in it
    }
  });
}

// The policies whose configuration names `grpName` at some sequence number.
std::vector<Mica::String> IeStatusConfigSm::policiesNaming(const Mica::String& grpName) const {
  std::vector<Mica::String> names;
  for (const auto& [polName, policy] : config_->policyConfig) {
    for (const auto& [seqNo, entry] : policy->exitGroup) {
      if (entry->exitGroupName.get() == grpName) {
        names.push_back(polName);
        break;
      }
    }
  }
  return names;
}

// The sets of pairs bound to each of `policies` (a pair may be bound to several).
std::vector<const IeStatusConfigSm::PairSet*> IeStatusConfigSm::pairSetsOf(
    const std::vector<Mica::String>& policies) const {
  std::vector<const PairSet*> sets;
  sets.reserve(policies.size());
  for (const Mica::String& name : policies) sets.push_back(&bindings_->pairsOfPolicy(name));
  return sets;
}

// foreach( statusCfgDir.statusConfig ): every pair, counted as work.
template <class Fn>
void IeStatusConfigSm::forEachStatusConfig(Fn&& fn) {
  trace(kLevelFilter, " foreach( statusCfgDir.statusConfig ) flattening {} elements",
        statusCfgDir_->statusConfig.size());
  workDone(statusCfgDir_->statusConfig.size());
  Flo::forEachElement(statusCfgDir_->statusConfig, [&](VniAndLaneId vniLaneId, const Mica::Ptr<IeStatusConfig>& statusCfg) {
    trace(kLevelProgress, "Flattening element: {}", vniLaneId);
    fn(vniLaneId, statusCfg);
  });
}

// The foreach over every pair of a configuration element's walk (exitGroupCfgUpd,
// exitOptionCfgUpd), which the budget of the scan that called the pipeline may cut after a pair
// (Flo::ResumableWalk). `fn` returns whether the pair passed the pipeline's filter; only such a
// pair counts as work and may end a run, so that this walk and forEachStatusConfigOf, which
// visit different pairs, are cut at the same pairs and other tasks' changes meet the pairs in
// the same order (which groups the policy entries of an earlier run keep depends on it). The
// pairs the filter drops cost a lookup and their traces, which are on whenever this walk runs.
template <class Fn>
void IeStatusConfigSm::forEachStatusConfigCut(PairWalk& walk, Fn&& fn) {
  const auto& statusConfig = statusCfgDir_->statusConfig;
  const VniAndLaneId* after = walk.after();
  if (!after) trace(kLevelFilter, " foreach( statusCfgDir.statusConfig ) flattening {} elements", statusConfig.size());
  for (auto it = after ? statusConfig.upperBound(*after) : statusConfig.begin(); it != statusConfig.end();) {
    const VniAndLaneId vniLaneId = Mica::internal::keyOf(it);
    trace(kLevelProgress, "Flattening element: {}", vniLaneId);
    if (fn(vniLaneId, Mica::Ptr<IeStatusConfig>(it->second)) && passedPairEndsRun(walk, vniLaneId)) return;
    it = statusConfig.upperBound(vniLaneId);  // `fn` may have written the collection
  }
}

// The same walk restricted to the pairs of `sets` that statusConfig holds, each once and
// ascending, for when its filter would drop every other pair. Its per-element traces are off
// (see fullWalkTraced), so it writes none; the count is still that of the whole collection.
// The sets and statusConfig are intersected by seeking each to the other's next key, so the
// bound pairs not yet in statusConfig (all of them while a start has not reached them) cost
// no visit each. Counted and cut like forEachStatusConfigCut; it resumes after the pair it was
// cut at, over the sets as they are then.
template <class Fn>
void IeStatusConfigSm::forEachStatusConfigOf(PairWalk& walk, const std::vector<const PairSet*>& sets, Fn&& fn) {
  const auto& statusConfig = statusCfgDir_->statusConfig;
  const VniAndLaneId* after = walk.after();
  if (!after) trace(kLevelFilter, " foreach( statusCfgDir.statusConfig ) flattening {} elements", statusConfig.size());
  for (Flo::SortedUnion<PairSet> pairs(sets, after); const VniAndLaneId* current = pairs.current();) {
    const auto it = statusConfig.lowerBound(*current);
    if (it == statusConfig.end()) return;
    const VniAndLaneId v = Mica::internal::keyOf(it);
    if (!(v == *current)) {
      pairs.seek(v);
      continue;
    }
    pairs.advance();
    if (fn(v, Mica::Ptr<IeStatusConfig>(it->second)) && passedPairEndsRun(walk, v)) return;
  }
}

// A pair of a walk passed the pipeline's filter: one unit of work, after which the scan's
// budget may cut the walk. True when it did, and the walk must return.
bool IeStatusConfigSm::passedPairEndsRun(PairWalk& walk, VniAndLaneId v) {
  workDone(1);
  return walk.cutAfter(*this, v);
}

// Whether the foreach over every pair must visit every pair: its "Flattening element" (level 9)
// and failed-filter (level 6) traces are exact only then. When both are off nobody sees them
// and the indexed walk, which writes the same outputs, serves.
bool IeStatusConfigSm::fullWalkTraced() const {
  return tracer().enabled(kLevelFilter) || tracer().enabled(kLevelProgress);
}

// The pairs whose status configuration holds a policy entry that the current bindings and
// configuration do not justify, found by one walk of the output that starts at the first option
// change while such entries may remain. The search is cut like the walk that needs it (null is
// returned then, and the next call goes on after the last pair judged); a pair is judged
// against the bindings and configuration of the run that reaches it. No stale entries appear
// meanwhile, this machine writing entries only from the current configuration and bindings, so
// a pair judged earlier can only have lost its stale entries (and is then merely visited).
const IeStatusConfigSm::PairSet* IeStatusConfigSm::pairsWithStaleEntries(PairWalk& walk) {
  if (!staleSearch_) staleSearch_.emplace();
  StaleSearch& search = *staleSearch_;
  if (search.done) return &search.pairs;
  const auto& statusConfig = statusCfgDir_->statusConfig;
  for (auto it = search.after ? statusConfig.upperBound(*search.after) : statusConfig.begin();
       it != statusConfig.end(); ++it) {
    const auto& [vniLaneId, statusCfg] = *it;
    if (holdsStaleEntries(*statusCfg)) search.pairs.insert(vniLaneId);
    search.after = vniLaneId;
    workDone(1);
    if (walk.cutWhilePreparing(*this)) return nullptr;
  }
  search.done = true;
  return &search.pairs;
}

// Whether a policy entry of `statusCfg` names a policy no longer bound to the pair, or a
// sequence number or group that the policy's configuration no longer has.
bool IeStatusConfigSm::holdsStaleEntries(const IeStatusConfig& statusCfg) const {
  for (const auto& [polKey, polStatusCfg] : statusCfg.policyStatusConfig) {
    const PolicyConfig* policy = config_->policyConfig.lookup(polKey.policyName);
    if (policy == nullptr || !bindings_->polToVniLane.contains(polKey)) return true;
    for (const auto& [seqNo, groupEntry] : polStatusCfg->exitGroup) {
      const PolicyExitGroupEntry* entry = policy->exitGroup.lookup(seqNo);
      if (entry == nullptr || !(entry->exitGroupName.get() == groupEntry->exitGroup.get().groupName)) return true;
    }
  }
  return false;
}

// Whether a configuration source's second pass may leave what it would add for the pairs to the
// bindings' second pass, and skip its walk. While the configuration has not changed since this
// machine was created, that pass writes (or wrote) for every bound pair, from this same
// configuration, everything a configuration source adds for it, and a binding changed meanwhile
// is rewritten whole by its own reactor; so the walk would write nothing that the pairs do not or
// will not hold. That holds only while no pair holds policy entries of an earlier run that the
// configuration and bindings no longer justify: an option walk that meets such an entry keeps or
// creates its group, and what it keeps depends on the order in which the passes' runs meet the
// pairs, which skipped calls would change. So, over an earlier run's output, not before the search
// for such entries has found none. At a restart this spares most of the configuration sources'
// walks, which visit every pair once per policy entry and once per exit option. Not when the
// writes are traced, so that traces stay those of the pipelines as written. (A reactor of these
// sources runs on a configuration change, so it never leaves anything out.)
bool IeStatusConfigSm::bindingsPassReasserts() const {
  if (configSm_->notifications() != 0 || writesTraced()) return false;
  return !staleEntriesPossible() || (staleSearch_ && staleSearch_->done && staleSearch_->pairs.empty());
}

// Whether the pipelines' per-element traces or writes are traced (levels 6, 7 and 9).
bool IeStatusConfigSm::writesTraced() const {
  return fullWalkTraced() || tracer().enabled(kLevelPipeline);
}

// Whether the status configuration may still hold policy entries of an earlier run: from a
// start over a non-empty output until the policy-entry output has reconciled.
bool IeStatusConfigSm::staleEntriesPossible() const {
  return startedOverOutput_ && !policyExitGroupOutput_->ready();
}

void IeStatusConfigSm::intoStatusConfigDelete(VniAndLaneId vniLaneId) {
  statusConfigOutput_->seen(vniLaneId);
  trace(kLevelPipeline, "into( statusCfgDir.statusConfig[ vniLaneId ] ): deleting k1={}", vniLaneId);
  statusCfgDir_->statusConfigDel(vniLaneId);
}

// into( statusCfg.policyStatusConfig[ polKey ].exitGroup[ seqNo ].exitGroup )
void IeStatusConfigSm::intoPolicyEntry(const Mica::Ptr<IeStatusConfig>& statusCfg, const PolicyVniLaneKey& polKey,
                                       double seqNo, const GroupVniLaneKey& grpKey, bool isAdd) {
  policyExitGroupOutput_->seen(statusCfg, PolicyExitGroupSpec::Key(polKey, seqNo));
  if (isAdd) {
    trace(kLevelPipeline,
          "into( statusCfg.policyStatusConfig[ polKey ].exitGroup[ seqNo ].exitGroup ): inserting k1={}, k2={}, value={}",
          polKey, seqNo, grpKey);
    statusCfg->policyStatusConfigIs(polKey)->exitGroupIs(seqNo, grpKey);
    return;
  }
  trace(kLevelPipeline, "into( statusCfg.policyStatusConfig[ polKey ].exitGroup[ seqNo ].exitGroup ): deleting k1={}, k2={}",
        polKey, seqNo);
  PolicyExitGroupSpec::erase(*statusCfg, PolicyExitGroupSpec::Key(polKey, seqNo));
}

Mica::Ptr<IeStatusConfigSm> ieStatusConfigSmFactory(const Mica::Ptr<const InternetExitCliConfig>& config,
                                                    const Mica::Ptr<const IePolicyToVniLaneDir>& iePolicyToVniLaneDir,
                                                    const Mica::Ptr<IeStatusConfigDir>& statusCfgDir,
                                                    const SmControl& control) {
  Mica::Ptr<IeStatusConfigSm> sm(new IeStatusConfigSm(config, iePolicyToVniLaneDir, statusCfgDir, control));
  sm->handleInitialized();
  return sm;
}

Mica::Ptr<IeStatusConfigSm> IeStatusConfigSmIs(const Mica::Ptr<const InternetExitCliConfig>& config,
                                               const Mica::Ptr<const IePolicyToVniLaneDir>& iePolicyToVniLaneDir,
                                               const Mica::Ptr<IeStatusConfigDir>& statusCfgDir,
                                               const SmControl& control) {
  return ieStatusConfigSmFactory(config, iePolicyToVniLaneDir, statusCfgDir, control);
}

}  // namespace OrbInternetExit
