// IePolicyStatusSm: per policy bound to a pair, its winning exit group and its exit interfaces.
//
// Inputs (source: path, input SMs):
//   0  config.statusConfig[].policyStatusConfig[].exitGroup[].exitGroup
//        ConfigSm24 > StatusConfigSm25 > PolicyStatusConfigSm26 > ExitGroupSm27        polExitGrpCfg
//   1  groupToPolicyDir.groupToPolicy[].policy[]   GroupToPolicyDirSm28 > GroupToPolicySm29   grpToPolMap
//   2  exitGroupDir.exitGroupStatus[].result[]     ExitGroupDirSm30 > ExitGroupStatusSm31     grpStatusResult
//
//   grpStatusResult ─┬─ flo_pipeline0 (each policy of the group's reverse-map entry) ─┐
//                    └─ flo_pipeline1 (no entry: every policy) ──────────────────────┴─ flo_pipeline2 ─┐
//   grpToPolMap, polExitGrpCfg ──────────────────────────────────────────────────────────> evalPolicyWinner
//   evalPolicyWinner ─┬─ flo_pipeline3 (one policy) ─┐
//                     └─ flo_pipeline4 (all) ────────┴─ flo_pipeline5 ─┬─ flo_pipeline6 (configured: winner)
//                                                                      └─ flo_pipeline7 (not: no group)
//   flo_pipeline8 (W, P): updUniqueIntfList, addIntfToList, delIntfFromList, updWinningEg, in order
//
// Outputs:
//   policyDir.policyStatus[ P ].exitIntf[ I ]     (reconciled at start; a PolicyStatus goes with
//                                                   its last interface)
//   policyStatus.winningExitGroup, the local uniqueIntfList and each list's intfList (not reconciled)
//
// Invariants after every evaluation of policy P (W its winning group, from evaluateWinningExitGroup):
//   uniqueIntfList[P].intfList holds exactly the values of exitGroupDir.exitGroupStatus[W].result
//   (empty without a winner); policyStatus[P] exists exactly when that set is non-empty, and then
//   its exitIntf equals the set and its winningExitGroup is W. New interfaces are added before the
//   outdated ones are removed, and the winning group is written last, so a reader never sees an
//   empty interface set while the new group has results.
//
// Cost: one evaluation walks the policy's entries, the winner's results and the policy's
// interfaces. A result change of a group without a reverse-map entry evaluates every configured
// policy as written while the per-element traces (levels 6 and 9) are on; with them off it
// evaluates the policies of the group's own pair, the only ones that can list it (group keys
// are scoped to their pair): every other policy was evaluated after the last change of its own
// pair's inputs, so evaluating it again changes nothing. For the same reason, with traces off,
// a start-up that no input change has interrupted evaluates each policy once, not once per
// element that names it (evaluatedOverSameInputs).
#pragma once

#include <optional>
#include <utility>

#include "runtime/LocalAttrStore.h"
#include "runtime/Output.h"
#include "runtime/StateMachine.h"
#include "types/IeExitGroupDir.h"
#include "types/IeGroupToPolicyDir.h"
#include "types/IePolicyDir.h"
#include "types/IeStatusConfigDir.h"

namespace OrbInternetExit {

using Flo::SmControl;

// The distinct results of a policy's winning group, as its latest evaluation found them (the
// state machine's scratchpad; never published outside it).
class UniquePolicyIntfList : public Mica::Entity {
 public:
  enum : Mica::AttrId { intfListId = 1 };
  explicit UniquePolicyIntfList(const PolicyVniLaneKey& policyKey) : policyKey_(policyKey) {}
  const PolicyVniLaneKey& policyKey() const noexcept { return policyKey_; }
  const PolicyVniLaneKey& key() const noexcept { return policyKey_; }

  static constexpr size_t kIntfListInline = 2;
  Mica::ValueSet<ExitIntfResult, intfListId, kIntfListInline> intfList;
  void intfListIs(const ExitIntfResult& r) { intfList.insert(*this, r); }

 private:
  PolicyVniLaneKey policyKey_;
};

class IePolicyStatusSm final : public Flo::StateMachine {
 public:
  using UniqueIntfList = Flo::LocalEntities<PolicyVniLaneKey, UniquePolicyIntfList, "uniqueIntfList">;
  using LocalStore = Flo::LocalAttrStore<UniqueIntfList>;

  IePolicyStatusSm(const Mica::Ptr<const IeStatusConfigDir>& config, const Mica::Ptr<const IeExitGroupDir>& exitGroupDir,
                   const Mica::Ptr<const IeGroupToPolicyDir>& groupToPolicyDir, const Mica::Ptr<IePolicyDir>& policyDir,
                   const SmControl& control);

  const Mica::Ptr<const IeStatusConfigDir>& config() const noexcept { return config_; }
  const Mica::Ptr<const IeExitGroupDir>& exitGroupDir() const noexcept { return exitGroupDir_; }
  const Mica::Ptr<const IeGroupToPolicyDir>& groupToPolicyDir() const noexcept { return groupToPolicyDir_; }
  const Mica::Ptr<IePolicyDir>& policyDir() const noexcept { return policyDir_; }
  const LocalStore& localAttrStore() const noexcept { return *localAttrStore_; }

  // The source pipelines.
  void eventToPolExitGrpCfg(VniAndLaneId vniLaneId, const PolicyVniLaneKey& policyKey, double seqNo,
                            const Quill::Optional<GroupVniLaneKey>& oldGrpKeyOpt,
                            const Quill::Optional<GroupVniLaneKey>& grpKeyOpt);
  void eventToGrpToPolMap(const GroupVniLaneKey& grpKey, const PolicyVniLaneKey& policyKey,
                          const Quill::Optional<Quill::Unit>& presentOpt);
  void eventToGrpStatusResult(const GroupVniLaneKey& grpKey, const ExitVniLaneKey& exitOptKey,
                              const Quill::Optional<ExitIntfResult>& oldResultOpt,
                              const Quill::Optional<ExitIntfResult>& resultOpt);

  // One policy (or, with an empty policy name, every policy) evaluated again.
  void eventToEvalPolicyWinner(const PolicyVniLaneKey& policyKey);

  // The output's key: (policy, exit interface).
  using ExitIntfKey = std::pair<PolicyVniLaneKey, ExitIntfResult>;

 private:
  // Removes the interface, and the policy's status with its last interface.
  struct ExitIntfSpec : Flo::TwoLevelOutputSpec<IePolicyDir, &IePolicyDir::policyStatus, &PolicyStatus::exitIntf,
                                                &IePolicyDir::policyStatusDel, &PolicyStatus::exitIntfDel> {};

  // `groupPair`: the pair of the group whose result change asked for every policy (flo_pipeline1);
  // the indexed walk of flo_pipeline4 visits only that pair's policies.
  void eventToFlo_pipeline2(const PolicyVniLaneKey& evalPolicyKey, std::optional<VniAndLaneId> groupPair);
  void evalPolicyWinner(const PolicyVniLaneKey& policyKey, std::optional<VniAndLaneId> groupPair);
  void eventToFlo_pipeline4(std::optional<VniAndLaneId> groupPair);
  void eventToFlo_pipeline5(const PolicyVniLaneKey& actualPolKey);
  void eventToFlo_pipeline8(const GroupVniLaneKey& groupKey, const PolicyVniLaneKey& policyKey);
  // The four steps of flo_pipeline8, in order.
  Mica::Ptr<UniquePolicyIntfList> updUniqueIntfList(const GroupVniLaneKey& groupKey, const PolicyVniLaneKey& policyKey);
  void addIntfToList(const PolicyVniLaneKey& policyKey, const UniquePolicyIntfList& list);
  void delIntfFromList(const PolicyVniLaneKey& policyKey, const UniquePolicyIntfList& list);
  void updWinningEg(const GroupVniLaneKey& groupKey, const PolicyVniLaneKey& policyKey);

  // Whether the policy was evaluated in this run over the inputs as they are now, with traces
  // off: then evaluating it again would write nothing, and flo_pipeline5 returns at once. The
  // start-up scans reach a policy once per element of each source that names it (about seven
  // times a pair of the standard shape); every evaluation leaves the policy a scratchpad, and
  // no input has changed since the start.
  bool evaluatedOverSameInputs(const PolicyVniLaneKey& policyKey) const;
  // Whether flo_pipeline4 walks every configured policy (its per-element traces are on).
  bool fullWalk() const;

  Mica::Ptr<const IeStatusConfigDir> config_;
  Mica::Ptr<const IeExitGroupDir> exitGroupDir_;
  Mica::Ptr<const IeGroupToPolicyDir> groupToPolicyDir_;
  Mica::Ptr<IePolicyDir> policyDir_;
  Mica::Ptr<LocalStore> localAttrStore_;
  Flo::TopOutput<ExitIntfSpec>* exitIntfOutput_;
};

Mica::Ptr<IePolicyStatusSm> iePolicyStatusSmFactory(const Mica::Ptr<const IeStatusConfigDir>& config,
                                                    const Mica::Ptr<const IeExitGroupDir>& exitGroupDir,
                                                    const Mica::Ptr<const IeGroupToPolicyDir>& groupToPolicyDir,
                                                    const Mica::Ptr<IePolicyDir>& policyDir, const SmControl& control);

}  // namespace OrbInternetExit
