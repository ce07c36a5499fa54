// IeStatusConfigSm: the operator's configuration expanded per bound (VNI, lane) pair.
//
// Inputs (source: path, input SMs):
//   0  config.policyConfig[]                            ConfigSm1                         remPolicy
//   1  config.exitGroupConfig[]                         ConfigSm1                         remExitGroup
//   2  iePolicyToVniLaneDir.polToVniLane[]              IePolicyToVniLaneDirSm2           laneToPolicyUpd
//   3  config.policyConfig[].exitGroup[].exitGroupName  ConfigSm1 > PolicyConfigSm3 > ExitGroupSm4
//                                                                                         exitGroupCfgUpd
//   4  config.exitGroupConfig[].exitOption[]            ConfigSm1 > ExitGroupConfigSm5    exitOptionCfgUpd
//
//   laneToPolicyUpd ──┐
//   exitGroupCfgUpd ──┼──> updateExitGroupStatus ──┬─ flo_pipeline0 (one option) ──┐
//   exitOptionCfgUpd ─┘                            └─ flo_pipeline1 (all options) ──┴─> flo_pipeline2
//   remExitGroup, remPolicy: removals only
//
// Outputs (top-level, then three nested in the entities this machine writes):
//   statusCfgDir.statusConfig[v]
//   statusCfg.exitGroupStatusConfig[grpKey]
//   statusCfg.policyStatusConfig[polKey].exitGroup[seqNo].exitGroup
//   grpStatusCfg.exitOption[exitOptKey]
//
// Invariants once ready (v a pair, P bound to v, s a seqNo, G a group, K an exit key):
//   statusConfig[v] exists while some (P, v) is bound; policyStatusConfig[(P, v)].exitGroup[s]
//   names (G, v) when policy P names G at s; exitGroupStatusConfig[(G, v)] exists when an entry
//   of v names a configured G, and holds (K, v) for every option K of G; a PolicyStatusConfig
//   whose entries all went is removed.
// Cost: a change of one policy entry visits the pairs bound to that policy, and a change of
// one exit option the pairs bound to the policies that name its group (found through the
// bindings' per-policy index), not every pair: the pairs the foreach over statusConfig skips are
// exactly those its filters would drop, so the outputs are those of the full walk. While policy
// entries of an earlier run may remain (from a start over a non-empty output until the
// policy-entry output has reconciled), those entries, not the configuration, decide which
// groups an option change reaches, so the option walk also visits the pairs found holding them.
// The full walk runs instead whenever its per-element traces (levels 6 and 9) are on, so that
// they are exact. Removing a whole policy or exit group walks every pair.
// Start-up: while the configuration has not changed since creation and no stale policy entry
// remains, the configuration sources' second passes skip their pair walks, which would only
// re-assert what the bindings' second pass writes (bindingsPassReasserts; not when traced).
// Bounded runs: when a scan's pass (the second pass at start) calls one of these pipelines, the
// scan's budget may cut its walk after any pair that passed the filter; the pass visits the
// element again on its next run and the walk goes on after that pair (Flo::ResumableWalk).
// The full and the indexed walk count and cut at the same pairs (those that pass the filter),
// so traces on or off change no output.
// This departs from a foreach run in one call: between two runs of a cut walk other tasks run,
// and a pair the walk has not reached yet may meet another change first. Each pair still sees
// whole pipeline calls, one after the other.
// Reconciliation marks every container it re-creates as visited, so a container re-asserted at
// start loses stale children even when nothing is written into it.
#pragma once

#include <optional>
#include <vector>

#include "runtime/Output.h"
#include "runtime/ResumableWalk.h"
#include "runtime/StateMachine.h"
#include "types/IePolicyToVniLaneDir.h"
#include "types/IeStatusConfigDir.h"
#include "types/InternetExitCliConfig.h"

namespace OrbInternetExit {

using Flo::SmControl;

class IeStatusConfigSm final : public Flo::StateMachine {
 public:
  IeStatusConfigSm(const Mica::Ptr<const InternetExitCliConfig>& config,
                   const Mica::Ptr<const IePolicyToVniLaneDir>& iePolicyToVniLaneDir,
                   const Mica::Ptr<IeStatusConfigDir>& statusCfgDir, const SmControl& control);

  const Mica::Ptr<const InternetExitCliConfig>& config() const noexcept { return config_; }
  const Mica::Ptr<const IePolicyToVniLaneDir>& iePolicyToVniLaneDir() const noexcept { return bindings_; }
  const Mica::Ptr<IeStatusConfigDir>& statusCfgDir() const noexcept { return statusCfgDir_; }

  // The pipelines, in data-flow order.
  void eventToLaneToPolicyUpd(const PolicyVniLaneKey& polKey, const Quill::Optional<Quill::Unit>& isAddOpt);
  void eventToExitGroupCfgUpd(const Mica::String& polName, double seqNo,
                              const Quill::Optional<Mica::String>& oldGrpNameOpt,
                              const Quill::Optional<Mica::String>& newGrpNameOpt);
  void eventToExitOptionCfgUpd(const Mica::String& grpName, const ExitKey& exitKey,
                               const Quill::Optional<Quill::Unit>& isAddOpt);
  void eventToUpdateExitGroupStatus(const Mica::Ptr<IeStatusConfig>& statusCfg, VniAndLaneId vniLaneId,
                                    bool isGrpAdd, const Mica::String& grpName, const GroupVniLaneKey& grpKey,
                                    const Quill::Optional<GroupVniLaneKey>& grpKeyOpt, bool isOptAdd,
                                    const Quill::Optional<ExitKey>& exitKeyOpt);
  void eventToFlo_pipeline0(VniAndLaneId vniLaneId, bool isOptAdd, const Quill::Optional<ExitKey>& exitKeyOpt,
                            const Mica::Ptr<ExitGroupStatusConfig>& grpStatusCfg);
  void eventToFlo_pipeline1(VniAndLaneId vniLaneId, const Mica::String& grpName, bool isOptAdd,
                            const Mica::Ptr<ExitGroupStatusConfig>& grpStatusCfg);
  void eventToFlo_pipeline2(const ExitKey& exitKey, VniAndLaneId vniLaneId, bool isOptAdd,
                            const Mica::Ptr<ExitGroupStatusConfig>& grpStatusCfg);
  void eventToRemExitGroup(const Mica::String& groupName,
                           const Quill::Optional<Mica::Ptr<const ExitGroupConfig>>& isAdd);
  void eventToRemPolicy(const Mica::String& polName, const Quill::Optional<Mica::Ptr<const PolicyConfig>>& isAdd);

 private:
  struct StatusConfigSpec
      : Flo::CollOutputSpec<IeStatusConfigDir, &IeStatusConfigDir::statusConfig,
                            &IeStatusConfigDir::statusConfigDel> {};
  struct ExitGroupStatusConfigSpec;
  struct PolicyExitGroupSpec;
  struct ExitOptionSpec;

  using PairSet = IePolicyToVniLaneDir::PairSet;
  using PairWalk = Flo::ResumableWalk<VniAndLaneId>;
  // The pairs that an option change whose walk started while stale entries may remain visits
  // besides the bound ones (see pairsWithStaleEntries).
  // Its constructor is user-provided: std::optional<StaleSearch> is declared inside this class,
  // and clang will not default-construct a nested class with member initializers there.
  struct StaleSearch {
    StaleSearch() : done(false) {}
    PairSet pairs;
    std::optional<VniAndLaneId> after;  // the last pair judged, where a cut search goes on
    bool done;
  };

  std::vector<Mica::String> policiesNaming(const Mica::String& grpName) const;
  std::vector<const PairSet*> pairSetsOf(const std::vector<Mica::String>& policies) const;
  template <class Fn>
  void forEachStatusConfig(Fn&& fn);
  template <class Fn>
  void forEachStatusConfigCut(PairWalk& walk, Fn&& fn);
  template <class Fn>
  void forEachStatusConfigOf(PairWalk& walk, const std::vector<const PairSet*>& sets, Fn&& fn);
  bool passedPairEndsRun(PairWalk& walk, VniAndLaneId v);
  bool fullWalkTraced() const;
  bool writesTraced() const;
  bool bindingsPassReasserts() const;
  bool staleEntriesPossible() const;
  const PairSet* pairsWithStaleEntries(PairWalk& walk);
  bool holdsStaleEntries(const IeStatusConfig& statusCfg) const;
  void intoStatusConfigDelete(VniAndLaneId vniLaneId);
  void intoPolicyEntry(const Mica::Ptr<IeStatusConfig>& statusCfg, const PolicyVniLaneKey& polKey, double seqNo,
                       const GroupVniLaneKey& grpKey, bool isAdd);

  Mica::Ptr<const InternetExitCliConfig> config_;
  Mica::Ptr<const IePolicyToVniLaneDir> bindings_;
  Mica::Ptr<IeStatusConfigDir> statusCfgDir_;
  const Flo::InputArgSmBase* configSm_;  // its notification count tells whether the configuration changed
  Flo::TopOutput<StatusConfigSpec>* statusConfigOutput_;
  Flo::NestedOutput<ExitGroupStatusConfigSpec>* exitGroupStatusConfigOutput_;
  Flo::NestedOutput<PolicyExitGroupSpec>* policyExitGroupOutput_;
  Flo::NestedOutput<ExitOptionSpec>* exitOptionOutput_;
  std::optional<StaleSearch> staleSearch_;  // see pairsWithStaleEntries
  PairWalk entryWalk_;   // exitGroupCfgUpd's walk over the pairs of one policy
  PairWalk optionWalk_;  // exitOptionCfgUpd's walk over the pairs of the policies naming a group
  bool startedOverOutput_ = false;  // statusConfig held pairs when this machine was created
};

Mica::Ptr<IeStatusConfigSm> ieStatusConfigSmFactory(const Mica::Ptr<const InternetExitCliConfig>& config,
                                                    const Mica::Ptr<const IePolicyToVniLaneDir>& iePolicyToVniLaneDir,
                                                    const Mica::Ptr<IeStatusConfigDir>& statusCfgDir,
                                                    const SmControl& control);
Mica::Ptr<IeStatusConfigSm> IeStatusConfigSmIs(const Mica::Ptr<const InternetExitCliConfig>& config,
                                               const Mica::Ptr<const IePolicyToVniLaneDir>& iePolicyToVniLaneDir,
                                               const Mica::Ptr<IeStatusConfigDir>& statusCfgDir,
                                               const SmControl& control);

}  // namespace OrbInternetExit
